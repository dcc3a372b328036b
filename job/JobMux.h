// The encoders and multiplexers the job calls after its video pass. Until the
// audio encoder is part of the program, the job carries a stand-in for it
// (job/JobAudioStandIn.cpp) that always fails.
#pragma once

#include <cstdint>
#include <string>

#include "mux/Mplex.h"

// Layer II audio of the AVI input's PCM into `outputPath`; 0 on success.
// Mode letters: 'm' mono, 's' stereo, 'd' dual channel, 'j' joint stereo.
int EncodeAudioFile(const std::string& outputPath, int kbitPerSecond, char modeLetter);

// The multiplexer library for every other output type; 0 on success. Until the
// library is part of the program this reports the output type as unavailable
// and fails.
int MultiplexWithLibrary(const std::string& audioFile, const std::string& videoFile, const std::string& outputFile);
