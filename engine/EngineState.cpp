// Storage of the engine's shared words.
#include "engine/EngineState.h"

int MmxEnabled = 1;
int VideoSequenceState = 0;
int EncodingFrameCount = 0;
int EncodedFrameCount = 0;
int RateControlCarry[2] = {0, 0};
