// Placeholder deinterlacer until the film-cadence work brings the edge-directed
// one: the rebuilt rows become the rounded mean of their neighbours.
#include "engine/Deinterlace.h"

#include <cstddef>

// TODO(film cadence): replace with the edge-directed interpolation.
void EdgeDirectedDeinterlace(uint8_t* frame, int width, int height) {
    if (!frame || width <= 0 || height - 4 < 3) return;
    size_t stride = (size_t(width) * 3 + 3) / 4 * 4;
    for (int r = 3, n = (height - 5) >> 1; n > 0; r += 2, --n) {
        uint8_t* row = frame + size_t(r) * stride;
        const uint8_t* upper = row - stride;
        const uint8_t* lower = row + stride;
        for (size_t x = 0; x < size_t(width) * 3; ++x) row[x] = uint8_t((upper[x] + lower[x] + 1) / 2);
    }
}

uint8_t* DeinterlaceBuffers[5] = {};

void ResetFieldAnalysis() {}
