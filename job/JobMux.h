// The encoder and multiplexers the job calls after its video pass.
#pragma once

#include <string>

#include "audio/AudioEncoder.h"
#include "mux/Mplex.h"

// The multiplexer library for every other output type; 0 on success. Until the
// library is part of the program this reports the output type as unavailable
// and fails.
int MultiplexWithLibrary(const std::string& audioFile, const std::string& videoFile, const std::string& outputFile);
