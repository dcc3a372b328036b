// Film-cadence analysis and deinterlacing state.
#include "engine/Deinterlace.h"

uint8_t* DeinterlaceBuffers[5] = {};

void ResetFieldAnalysis() {}
