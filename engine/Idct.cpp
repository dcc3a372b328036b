// Plain inverse DCT and the choice of kernels.
#include "engine/Idct.h"

#include <algorithm>

namespace {

int16_t SaturateToInt16(int value) {
    return static_cast<int16_t>(std::clamp(value, -32768, 32767));
}

// 181 / 256 is 1 / sqrt 2; taken in 64 bits because coefficients far outside
// the usual range would overflow the 32-bit product.
int ScaleBySqrtHalf(int value) {
    return static_cast<int>((int64_t{181} * value + 128) >> 8);
}

// Horizontal pass on one row. Results outside 16 bits saturate, as the SIMD form does.
void RowPass(int16_t* c) {
    int x1 = c[4] * 2048;
    int x2 = c[6], x3 = c[2], x4 = c[1], x5 = c[7], x6 = c[5], x7 = c[3];
    if ((x1 | x2 | x3 | x4 | x5 | x6 | x7) == 0) {
        const int16_t dc = SaturateToInt16(c[0] * 8);
        std::fill(c, c + 8, dc);
        return;
    }
    int x0 = c[0] * 2048 + 128;

    int x8 = 565 * (x4 + x5);
    x4 = x8 + 2276 * x4;
    x5 = x8 - 3406 * x5;
    x8 = 2408 * (x6 + x7);
    x6 = x8 - 799 * x6;
    x7 = x8 - 4017 * x7;

    x8 = x0 + x1;
    x0 -= x1;
    x1 = 1108 * (x3 + x2);
    x2 = x1 - 3784 * x2;
    x3 = x1 + 1568 * x3;
    x1 = x4 + x6;
    x4 -= x6;
    x6 = x5 + x7;
    x5 -= x7;

    x7 = x8 + x3;
    x8 -= x3;
    x3 = x0 + x2;
    x0 -= x2;
    x2 = ScaleBySqrtHalf(x4 + x5);
    x4 = ScaleBySqrtHalf(x4 - x5);

    c[0] = SaturateToInt16((x7 + x1) >> 8);
    c[1] = SaturateToInt16((x3 + x2) >> 8);
    c[2] = SaturateToInt16((x0 + x4) >> 8);
    c[3] = SaturateToInt16((x8 + x6) >> 8);
    c[4] = SaturateToInt16((x8 - x6) >> 8);
    c[5] = SaturateToInt16((x0 - x4) >> 8);
    c[6] = SaturateToInt16((x3 - x2) >> 8);
    c[7] = SaturateToInt16((x7 - x1) >> 8);
}

int16_t ClipSample(int value) {
    return static_cast<int16_t>(std::clamp(value, -256, 255));
}

// Vertical pass on one column (stride 8).
void ColumnPass(int16_t* c) {
    int x1 = c[8 * 4] * 256;
    int x2 = c[8 * 6], x3 = c[8 * 2], x4 = c[8 * 1], x5 = c[8 * 7], x6 = c[8 * 5], x7 = c[8 * 3];
    if ((x1 | x2 | x3 | x4 | x5 | x6 | x7) == 0) {
        const int16_t dc = ClipSample((c[0] + 32) >> 6);
        for (int i = 0; i < 8; ++i) c[8 * i] = dc;
        return;
    }
    int x0 = c[0] * 256 + 8192;

    int x8 = 565 * (x4 + x5) + 4;
    x4 = (x8 + 2276 * x4) >> 3;
    x5 = (x8 - 3406 * x5) >> 3;
    x8 = 2408 * (x6 + x7) + 4;
    x6 = (x8 - 799 * x6) >> 3;
    x7 = (x8 - 4017 * x7) >> 3;

    x8 = x0 + x1;
    x0 -= x1;
    x1 = 1108 * (x3 + x2) + 4;
    x2 = (x1 - 3784 * x2) >> 3;
    x3 = (x1 + 1568 * x3) >> 3;
    x1 = x4 + x6;
    x4 -= x6;
    x6 = x5 + x7;
    x5 -= x7;

    x7 = x8 + x3;
    x8 -= x3;
    x3 = x0 + x2;
    x0 -= x2;
    x2 = ScaleBySqrtHalf(x4 + x5);
    x4 = ScaleBySqrtHalf(x4 - x5);

    c[8 * 0] = ClipSample((x7 + x1) >> 14);
    c[8 * 1] = ClipSample((x3 + x2) >> 14);
    c[8 * 2] = ClipSample((x0 + x4) >> 14);
    c[8 * 3] = ClipSample((x8 + x6) >> 14);
    c[8 * 4] = ClipSample((x8 - x6) >> 14);
    c[8 * 5] = ClipSample((x0 - x4) >> 14);
    c[8 * 6] = ClipSample((x3 - x2) >> 14);
    c[8 * 7] = ClipSample((x7 - x1) >> 14);
}

}  // namespace

void IdctChenWang(int16_t* block) {
    for (int r = 0; r < 8; ++r) RowPass(block + 8 * r);
    for (int c = 0; c < 8; ++c) ColumnPass(block + c);
}

IdctKernels IdctKernelSet = [] {
    IdctKernels k;
    idct_init(false, k);
    return k;
}();

void idct_init(bool simd, IdctKernels& kernels, bool avx2) {
    kernels.idct[0] = IdctChenWang;
    kernels.idct[1] = IdctChenWang;
    if (simd) {
        kernels.idct[0] = avx2 ? IdctAvx2 : IdctSse2;
        kernels.idct[1] = avx2 ? IdctAvx2 : IdctSse2;
    }
}
