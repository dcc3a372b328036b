// The encoder and multiplexers the job calls after its video pass.
#pragma once

#include <string>

#include "audio/AudioEncoder.h"
#include "mux/Mplex.h"
#include "mux/MuxInterfaces.h"
