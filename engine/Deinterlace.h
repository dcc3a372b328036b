// Deinterlacing of 24-bit bottom-up RGB pictures, shared by the engine's input
// path and the AVI frame reader.
#pragma once

#include <cstdint>

// Rebuilds the interpolated rows (3, 5, 7, ... counted from the first row in
// memory) of a bottom-up 24-bit picture in place. Safe to call from several
// threads at once.
void EdgeDirectedDeinterlace(uint8_t* frame, int width, int height);

// Work buffers the encoder set-up allocates for the deinterlacer (null when unused).
extern uint8_t* DeinterlaceBuffers[5];

// Clears the field analysis before a sequence.
void ResetFieldAnalysis();
