// Film-cadence analysis and deinterlacing of input frames.
#pragma once

#include <cstdint>

// Work buffers the encoder set-up allocates for the deinterlacer (null when unused).
extern uint8_t* DeinterlaceBuffers[5];

// Clears the field analysis before a sequence.
void ResetFieldAnalysis();
