// Row kernels of the zoom: one per (interpolation, depth, data order), the
// horizontal and vertical passes they are made of, and the pass table that the
// SSE2 build fills with its vector forms.
#pragma once

#include <cstddef>
#include <cstdint>

// One kernel run over a block of destination rows and columns. Steps and
// offsets are in elements of the depth (bits for 1U offsets).
struct ZoomRowJob {
    const void* src = nullptr;
    std::ptrdiff_t srcPlaneStep = 0;  // plane order: elements between planes
    int srcPixelStep = 1;             // pixel order: source nChannels
    void* dst = nullptr;
    std::ptrdiff_t dstRowStep = 0;
    std::ptrdiff_t dstPlaneStep = 0;
    int dstPixelStep = 1;
    int dstW = 0;
    int dstH = 0;
    int n = 1;  // processed channels
    bool planeOrder = false;
    // Per destination row: offset of the source row (NN), of the window's row r
    // (linear: rows r, r+1; cubic: rows r-1 .. r+2); srcRowStep separates rows.
    const std::ptrdiff_t* rowOffset = nullptr;
    std::ptrdiff_t srcRowStep = 0;
    // Per destination column: element offset of the source column (NN), of the
    // pair's first column (linear) or of the window's column k (cubic).
    const int* colIndex = nullptr;
    const uint16_t* wy = nullptr;  // fixed-point linear: one weight per row
    const uint16_t* wx = nullptr;  // fixed-point linear: (w0, w1) per column
    const float* fy = nullptr;     // float fraction per row
    const float* fx = nullptr;     // float fraction per column
    const uint8_t* mask = nullptr;  // null: every pixel is written
    std::ptrdiff_t maskStep = 0;
    int maskBitOffset = 0;
    int srcBitOffset = 0;  // 1U only
    int dstBitOffset = 0;  // 1U only
    // Values of each destination row, counted from the row's start, that the
    // vector forms of the cubic passes convert by rounding (the rest truncate).
    int roundLimit = 0;
};

// The four cubic coefficients (u, k2, k3) of a fraction t, in the order the
// evaluation uses them.
struct CubicCoef {
    float u, k2, k3;
};
CubicCoef MakeCubicCoef(float t);

// The passes. Horizontal passes interpolate one source row into a line buffer
// of dstW x n values (pixel order: step = source nChannels; plane order: n = 1,
// step = 1). Vertical passes combine line buffers into `count` destination values
// (contiguous) or dstW pixels of n values `pixelStep` apart (strided).
struct ZoomPassTable {
    void (*linearH8)(const uint8_t* row, const int* colIndex, const uint16_t* wx, int dstW, int n,
                     int step, uint16_t* out);
    void (*linearH16)(const uint16_t* row, const int* colIndex, const uint16_t* wx, int dstW,
                      int n, int step, uint16_t* out);
    void (*linearH32)(const float* row, const int* colIndex, const float* fx, int dstW, int n,
                      int step, float* out);
    void (*linearV8)(const uint16_t* h0, const uint16_t* h1, int wy, int count, uint8_t* dst);
    void (*linearV8Strided)(const uint16_t* h0, const uint16_t* h1, int wy, int dstW, int n,
                            int pixelStep, uint8_t* dst);
    void (*linearV16)(const uint16_t* h0, const uint16_t* h1, int wy, int count, uint16_t* dst);
    void (*linearV16Strided)(const uint16_t* h0, const uint16_t* h1, int wy, int dstW, int n,
                             int pixelStep, uint16_t* dst);
    void (*linearV32)(const float* h0, const float* h1, float fy, int count, float* dst);
    void (*cubicH8)(const uint8_t* row, const int* colIndex, const CubicCoef* coef, int dstW,
                    int n, int step, float* out);
    void (*cubicH16)(const uint16_t* row, const int* colIndex, const CubicCoef* coef, int dstW,
                     int n, int step, float* out);
    void (*cubicH32)(const float* row, const int* colIndex, const CubicCoef* coef, int dstW,
                     int n, int step, float* out);
    void (*cubicV8)(const float* const* rows, CubicCoef coef, int count, int roundLimit,
                    uint8_t* dst);
    void (*cubicV8Strided)(const float* const* rows, CubicCoef coef, int dstW, int n,
                           int pixelStep, int roundLimit, uint8_t* dst);
    void (*cubicV16)(const float* const* rows, CubicCoef coef, int count, int roundLimit,
                     uint16_t* dst);
    void (*cubicV32)(const float* const* rows, CubicCoef coef, int count, float* dst);
};

// Fills the table with the plain passes of this build, then, with simd set,
// overrides those that have SSE2 forms.
void ZoomPasses_init(bool simd, ZoomPassTable& table);
void ZoomPassesSse2_init(ZoomPassTable& table);

// The pass table of this build (SSE2 forms in the build that has them).
const ZoomPassTable& BuildZoomPasses();

using ZoomKernel = void (*)(const ZoomRowJob& job);

void ZoomNearest1u(const ZoomRowJob& job);
void ZoomNearest8uPixel(const ZoomRowJob& job);
void ZoomNearest8uPlane(const ZoomRowJob& job);
void ZoomNearest16uPixel(const ZoomRowJob& job);
void ZoomNearest16uPlane(const ZoomRowJob& job);
void ZoomNearest32fPixel(const ZoomRowJob& job);
void ZoomNearest32fPlane(const ZoomRowJob& job);
void ZoomLinear8uPixel(const ZoomRowJob& job);
void ZoomLinear8uPlane(const ZoomRowJob& job);
void ZoomLinear16uPixel(const ZoomRowJob& job);
void ZoomLinear16uPlane(const ZoomRowJob& job);
void ZoomLinear32fPixel(const ZoomRowJob& job);
void ZoomLinear32fPlane(const ZoomRowJob& job);
void ZoomCubic8uPixel(const ZoomRowJob& job);
void ZoomCubic8uPlane(const ZoomRowJob& job);
void ZoomCubic16uPixel(const ZoomRowJob& job);
void ZoomCubic16uPlane(const ZoomRowJob& job);
void ZoomCubic32fPixel(const ZoomRowJob& job);
void ZoomCubic32fPlane(const ZoomRowJob& job);

ZoomKernel ChooseZoomKernel(int interpolate, int depth, int dataOrder);
