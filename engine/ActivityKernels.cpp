// The activity sums of an 8x8 luma block that rate control's adaptive
// quantisation reads (plain form).
#include "engine/RateControl.h"

void ActivitySumsPlain(const uint8_t* p, int lineLength, int* sum, int* sumSquares) {
    int s = 0, q = 0;
    for (int y = 0; y < 8; ++y, p += lineLength)
        for (int x = 0; x < 8; ++x) {
            s += p[x];
            q += p[x] * p[x];
        }
    *sum = s;
    *sumSquares = q;
}
