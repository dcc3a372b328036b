// Plain forms of the zoom passes and the row kernels that drive them over a
// block of destination rows with a sliding window of line buffers.
#include <climits>
#include <cmath>
#include <cstring>
#include <new>
#include <type_traits>

#include "resize/BuildInfo.h"
#include "resize/ZoomKernels.h"
#include "resize/iplcore.h"

namespace {

constexpr ZoomArithmetic kArith = kBuildArithmetic;

// Conversions of a cubic result to an integer sample.
template <typename T>
inline T ClampToSample(double v)
{
    constexpr double kMax = std::is_same_v<T, uint8_t> ? 255.0 : 65535.0;
    return T(v < 0.0 ? 0.0 : v > kMax ? kMax : v);
}

// The scalar rule of this build.
template <typename T>
inline T CubicScalar(float v)
{
    if constexpr (kArith == ZoomArithmetic::PX)
        return ClampToSample<T>(std::trunc(double(v) + 0.0000001));
    else
        return ClampToSample<T>(std::floor(double(v) + 0.00001));
}

// The rule of the vector forms: nearest integer (ties to even) of value + 0.00001.
template <typename T>
inline T CubicRounded(float v)
{
    constexpr float kMax = std::is_same_v<T, uint8_t> ? 255.0f : 65535.0f;
    float t = v + 0.00001f;
    t = t < 0.0f ? 0.0f : t > kMax ? kMax : t;
    return T(std::nearbyintf(t));
}

inline float CubicValue(float a, float b, float c, float d, const CubicCoef& k)
{
    float d1 = b - a;
    float d2 = c - 2.0f * b + a;
    float d3 = d - 3.0f * c + 3.0f * b - a;
    return a + k.u * d1 + k.k2 * d2 + k.k3 * d3;
}

// --- linear passes ---------------------------------------------------------

void LinearH8(const uint8_t* row, const int* colIndex, const uint16_t* wx, int dstW, int n,
              int step, uint16_t* out)
{
    for (int j = 0; j < dstW; ++j) {
        const uint8_t* p = row + colIndex[j];
        uint32_t w0 = wx[2 * j], w1 = wx[2 * j + 1];
        for (int c = 0; c < n; ++c)
            *out++ = uint16_t((w0 * p[c] + w1 * p[c + step]) >> 8);
    }
}

void LinearH16(const uint16_t* row, const int* colIndex, const uint16_t* wx, int dstW, int n,
               int step, uint16_t* out)
{
    for (int j = 0; j < dstW; ++j) {
        const uint16_t* p = row + colIndex[j];
        uint32_t w0 = wx[2 * j], w1 = wx[2 * j + 1];
        for (int c = 0; c < n; ++c) {
            if constexpr (kArith == ZoomArithmetic::P6)
                *out++ = uint16_t((w0 * p[c] + w1 * p[c + step]) >> 14);
            else
                *out++ = uint16_t((w0 * (p[c] >> 1u) + w1 * (p[c + step] >> 1u)) >> 14);
        }
    }
}

void LinearH32(const float* row, const int* colIndex, const float* fx, int dstW, int n, int step,
               float* out)
{
    for (int j = 0; j < dstW; ++j) {
        const float* p = row + colIndex[j];
        float t = fx[j];
        for (int c = 0; c < n; ++c)
            *out++ = p[c] + t * (p[c + step] - p[c]);
    }
}

inline uint8_t LinearOut8(uint32_t h0, uint32_t h1, uint32_t wy)
{
    return uint8_t((h0 * (16384u - wy) + h1 * wy) >> 20);
}

inline uint16_t LinearOut16(uint32_t h0, uint32_t h1, uint32_t wy)
{
    if constexpr (kArith == ZoomArithmetic::P6)
        return uint16_t((h0 * (16384u - wy) + h1 * wy) >> 14);
    else
        return uint16_t((h0 * (16384u - wy) + h1 * wy) >> 13);
}

void LinearV8(const uint16_t* h0, const uint16_t* h1, int wy, int count, uint8_t* dst)
{
    for (int v = 0; v < count; ++v)
        dst[v] = LinearOut8(h0[v], h1[v], uint32_t(wy));
}

void LinearV8Strided(const uint16_t* h0, const uint16_t* h1, int wy, int dstW, int n,
                     int pixelStep, uint8_t* dst)
{
    for (int j = 0; j < dstW; ++j, dst += pixelStep)
        for (int c = 0; c < n; ++c, ++h0, ++h1)
            dst[c] = LinearOut8(*h0, *h1, uint32_t(wy));
}

void LinearV16(const uint16_t* h0, const uint16_t* h1, int wy, int count, uint16_t* dst)
{
    for (int v = 0; v < count; ++v)
        dst[v] = LinearOut16(h0[v], h1[v], uint32_t(wy));
}

void LinearV16Strided(const uint16_t* h0, const uint16_t* h1, int wy, int dstW, int n,
                      int pixelStep, uint16_t* dst)
{
    for (int j = 0; j < dstW; ++j, dst += pixelStep)
        for (int c = 0; c < n; ++c, ++h0, ++h1)
            dst[c] = LinearOut16(*h0, *h1, uint32_t(wy));
}

void LinearV32(const float* h0, const float* h1, float fy, int count, float* dst)
{
    for (int v = 0; v < count; ++v)
        dst[v] = (1.0f - fy) * h0[v] + fy * h1[v];
}

// --- cubic passes ----------------------------------------------------------

template <typename T>
void CubicH(const T* row, const int* colIndex, const CubicCoef* coef, int dstW, int n, int step,
            float* out)
{
    for (int j = 0; j < dstW; ++j) {
        const T* p = row + colIndex[j];
        for (int c = 0; c < n; ++c)
            *out++ = CubicValue(float(p[c - step]), float(p[c]), float(p[c + step]),
                                float(p[c + 2 * step]), coef[j]);
    }
}

// Whether this build's vector forms of a pass round (only the builds with
// vector cubic passes do; the 16U strided pass has none in the SSE2 build).
constexpr bool kCubicRounds = kArith == ZoomArithmetic::W7 || kArith == ZoomArithmetic::A6;
constexpr bool kCubic16StridedRounds = kArith == ZoomArithmetic::A6;

template <typename T>
void CubicV(const float* const* rows, CubicCoef coef, int count, int roundLimit, T* dst)
{
    int limit = kCubicRounds ? roundLimit : 0;
    for (int v = 0; v < count; ++v) {
        float value = CubicValue(rows[0][v], rows[1][v], rows[2][v], rows[3][v], coef);
        dst[v] = v < limit ? CubicRounded<T>(value) : CubicScalar<T>(value);
    }
}

template <typename T, bool kRounds>
void CubicVStrided(const float* const* rows, CubicCoef coef, int dstW, int n, int pixelStep,
                   int roundLimit, T* dst)
{
    int limit = kRounds ? roundLimit : 0;
    int v = 0;
    for (int j = 0; j < dstW; ++j, dst += pixelStep) {
        for (int c = 0; c < n; ++c, ++v) {
            float value = CubicValue(rows[0][v], rows[1][v], rows[2][v], rows[3][v], coef);
            dst[c] = v < limit ? CubicRounded<T>(value) : CubicScalar<T>(value);
        }
    }
}

void CubicV32(const float* const* rows, CubicCoef coef, int count, float* dst)
{
    for (int v = 0; v < count; ++v)
        dst[v] = CubicValue(rows[0][v], rows[1][v], rows[2][v], rows[3][v], coef);
}

void CubicV8Strided(const float* const* rows, CubicCoef coef, int dstW, int n, int pixelStep,
                    int roundLimit, uint8_t* dst)
{
    CubicVStrided<uint8_t, kCubicRounds>(rows, coef, dstW, n, pixelStep, roundLimit, dst);
}

// --- kernels ---------------------------------------------------------------

inline bool MaskBit(const uint8_t* maskRow, int bit)
{
    return (maskRow[bit >> 3] >> (7 - (bit & 7))) & 1;
}

template <typename T>
void NearestPixel(const ZoomRowJob& job)
{
    const T* src = static_cast<const T*>(job.src);
    T* dstRow = static_cast<T*>(job.dst);
    const uint8_t* maskRow = job.mask;
    const bool wordCopy = std::is_same_v<T, uint8_t> && job.n == 4 && job.dstPixelStep == 4 &&
                          maskRow == nullptr;
    for (int i = 0; i < job.dstH; ++i, dstRow += job.dstRowStep) {
        const T* srcRow = src + job.rowOffset[i];
        T* d = dstRow;
        for (int j = 0; j < job.dstW; ++j, d += job.dstPixelStep) {
            if (maskRow != nullptr && !MaskBit(maskRow, job.maskBitOffset + j))
                continue;
            const T* s = srcRow + job.colIndex[j];
            if (wordCopy)
                std::memcpy(d, s, 4);
            else
                for (int c = 0; c < job.n; ++c)
                    d[c] = s[c];
        }
        if (maskRow != nullptr)
            maskRow += job.maskStep;
    }
}

template <typename T>
void NearestPlane(const ZoomRowJob& job)
{
    for (int c = 0; c < job.n; ++c) {
        ZoomRowJob plane = job;
        plane.src = static_cast<const T*>(job.src) + c * job.srcPlaneStep;
        plane.dst = static_cast<T*>(job.dst) + c * job.dstPlaneStep;
        plane.n = 1;
        plane.dstPixelStep = 1;
        NearestPixel<T>(plane);
    }
}

// Keeps up to four horizontally interpolated source rows, keyed by their
// offset, so that no row is interpolated twice while the window slides.
template <typename B, int kRows>
class RowWindow {
public:
    RowWindow(B* const* buffers)
    {
        for (int k = 0; k < kRows; ++k) {
            slot_[k] = buffers[k];
            key_[k] = PTRDIFF_MIN;
        }
    }
    // Makes rows first, first + step, ... current; `fill` computes a missing row.
    template <typename Fill>
    void Move(std::ptrdiff_t first, std::ptrdiff_t step, Fill&& fill, const B** rows)
    {
        int found[kRows];
        bool used[kRows] = {};
        for (int k = 0; k < kRows; ++k) {
            found[k] = -1;
            for (int s = 0; s < kRows; ++s)
                if (!used[s] && key_[s] == first + k * step) {
                    found[k] = s;
                    used[s] = true;
                    break;
                }
        }
        for (int k = 0; k < kRows; ++k) {
            if (found[k] >= 0)
                continue;
            int s = 0;
            while (used[s])
                ++s;
            used[s] = true;
            found[k] = s;
            key_[s] = first + k * step;
            fill(key_[s], slot_[s]);
        }
        for (int k = 0; k < kRows; ++k)
            rows[k] = slot_[found[k]];
    }

private:
    B* slot_[kRows];
    std::ptrdiff_t key_[kRows];
};

// Line buffers of one kernel run: kRows rows of dstW x n values, padded so
// that vector passes may touch whole groups of four.
template <typename B, int kRows>
struct LineBuffers {
    explicit LineBuffers(int values)
    {
        for (int k = 0; k < kRows; ++k)
            rows[k] = static_cast<B*>(AlignedMalloc(std::ptrdiff_t(values + 8) * sizeof(B)));
    }
    ~LineBuffers()
    {
        for (int k = 0; k < kRows; ++k)
            AlignedFree(rows[k]);
    }
    bool ok() const
    {
        for (int k = 0; k < kRows; ++k)
            if (rows[k] == nullptr)
                return false;
        return true;
    }
    B* rows[kRows];
};

// Vertical step of one destination row: contiguous, strided or masked.
template <typename T, typename Convert>
void WriteRow(const ZoomRowJob& job, T* dst, const uint8_t* maskRow, Convert&& value)
{
    if (maskRow == nullptr) {
        int v = 0;
        for (int j = 0; j < job.dstW; ++j)
            for (int c = 0; c < job.n; ++c, ++v)
                dst[j * job.dstPixelStep + c] = value(v);
        return;
    }
    for (int j = 0; j < job.dstW; ++j) {
        if (!MaskBit(maskRow, job.maskBitOffset + j))
            continue;
        for (int c = 0; c < job.n; ++c)
            dst[j * job.dstPixelStep + c] = value(j * job.n + c);
    }
}

template <typename T>
void LinearPixel(const ZoomRowJob& job)
{
    const ZoomPassTable& passes = BuildZoomPasses();
    const int values = job.dstW * job.n;
    const int step = job.planeOrder ? 1 : job.srcPixelStep;
    const T* src = static_cast<const T*>(job.src);
    constexpr bool kFloat =
        std::is_same_v<T, float> || kArith == ZoomArithmetic::PX;
    using B = std::conditional_t<kFloat, float, uint16_t>;
    LineBuffers<B, 2> buffers(values);
    if (!buffers.ok())
        throw std::bad_alloc();
    RowWindow<B, 2> window(buffers.rows);
    auto fill = [&](std::ptrdiff_t offset, B* out) {
        const T* row = src + offset;
        if constexpr (std::is_same_v<T, float>)
            passes.linearH32(row, job.colIndex, job.fx, job.dstW, job.n, step, out);
        else if constexpr (kFloat) {
            for (int j = 0; j < job.dstW; ++j) {
                const T* p = row + job.colIndex[j];
                float t = job.fx[j];
                for (int c = 0; c < job.n; ++c)
                    *out++ = float(p[c]) + t * (float(p[c + step]) - float(p[c]));
            }
        } else if constexpr (std::is_same_v<T, uint8_t>)
            passes.linearH8(row, job.colIndex, job.wx, job.dstW, job.n, step, out);
        else
            passes.linearH16(row, job.colIndex, job.wx, job.dstW, job.n, step, out);
    };
    T* dstRow = static_cast<T*>(job.dst);
    const uint8_t* maskRow = job.mask;
    const bool contiguous = maskRow == nullptr && job.n == job.dstPixelStep;
    for (int i = 0; i < job.dstH; ++i, dstRow += job.dstRowStep) {
        const B* rows[2];
        window.Move(job.rowOffset[i], job.srcRowStep, fill, rows);
        if constexpr (std::is_same_v<T, float>) {
            float fy = job.fy[i];
            if (contiguous)
                passes.linearV32(rows[0], rows[1], fy, values, dstRow);
            else
                WriteRow(job, dstRow, maskRow,
                         [&](int v) { return (1.0f - fy) * rows[0][v] + fy * rows[1][v]; });
        } else if constexpr (kFloat) {
            float fy = job.fy[i];
            constexpr double kMax = std::is_same_v<T, uint8_t> ? 255.0 : 65535.0;
            WriteRow(job, dstRow, maskRow, [&](int v) {
                float mix = (1.0f - fy) * rows[0][v] + fy * rows[1][v];
                double out = std::trunc(double(mix) + 0.0000001);
                return T(out < 0.0 ? 0.0 : out > kMax ? kMax : out);
            });
        } else {
            int wy = job.wy[i];
            if (std::is_same_v<T, uint8_t>) {
                auto* d = reinterpret_cast<uint8_t*>(dstRow);
                if (contiguous)
                    passes.linearV8(rows[0], rows[1], wy, values, d);
                else if (maskRow == nullptr)
                    passes.linearV8Strided(rows[0], rows[1], wy, job.dstW, job.n,
                                           job.dstPixelStep, d);
                else
                    WriteRow(job, d, maskRow,
                             [&](int v) { return LinearOut8(rows[0][v], rows[1][v], wy); });
            } else {
                auto* d = reinterpret_cast<uint16_t*>(dstRow);
                if (contiguous)
                    passes.linearV16(rows[0], rows[1], wy, values, d);
                else if (maskRow == nullptr)
                    passes.linearV16Strided(rows[0], rows[1], wy, job.dstW, job.n,
                                            job.dstPixelStep, d);
                else
                    WriteRow(job, d, maskRow,
                             [&](int v) { return LinearOut16(rows[0][v], rows[1][v], wy); });
            }
        }
        if (maskRow != nullptr)
            maskRow += job.maskStep;
    }
}

template <typename T>
void CubicPixel(const ZoomRowJob& job)
{
    const ZoomPassTable& passes = BuildZoomPasses();
    const int values = job.dstW * job.n;
    const int step = job.planeOrder ? 1 : job.srcPixelStep;
    const T* src = static_cast<const T*>(job.src);
    LineBuffers<float, 4> buffers(values);
    CubicCoef* colCoef = static_cast<CubicCoef*>(
        AlignedMalloc(std::ptrdiff_t(job.dstW) * std::ptrdiff_t(sizeof(CubicCoef))));
    if (!buffers.ok() || colCoef == nullptr) {
        AlignedFree(colCoef);
        throw std::bad_alloc();
    }
    for (int j = 0; j < job.dstW; ++j)
        colCoef[j] = MakeCubicCoef(job.fx[j]);
    RowWindow<float, 4> window(buffers.rows);
    auto fill = [&](std::ptrdiff_t offset, float* out) {
        const T* row = src + offset;
        if constexpr (std::is_same_v<T, uint8_t>)
            passes.cubicH8(row, job.colIndex, colCoef, job.dstW, job.n, step, out);
        else if constexpr (std::is_same_v<T, uint16_t>)
            passes.cubicH16(row, job.colIndex, colCoef, job.dstW, job.n, step, out);
        else
            passes.cubicH32(row, job.colIndex, colCoef, job.dstW, job.n, step, out);
    };
    T* dstRow = static_cast<T*>(job.dst);
    const uint8_t* maskRow = job.mask;
    const bool contiguous = maskRow == nullptr && job.n == job.dstPixelStep;
    for (int i = 0; i < job.dstH; ++i, dstRow += job.dstRowStep) {
        const float* rows[4];
        window.Move(job.rowOffset[i] - job.srcRowStep, job.srcRowStep, fill, rows);
        CubicCoef k = MakeCubicCoef(job.fy[i]);
        if (maskRow != nullptr) {
            WriteRow(job, dstRow, maskRow, [&](int v) {
                float value = CubicValue(rows[0][v], rows[1][v], rows[2][v], rows[3][v], k);
                if constexpr (std::is_same_v<T, float>)
                    return value;
                else
                    return CubicScalar<T>(value);
            });
        } else if constexpr (std::is_same_v<T, uint8_t>) {
            if (contiguous)
                passes.cubicV8(rows, k, values, job.roundLimit, dstRow);
            else
                passes.cubicV8Strided(rows, k, job.dstW, job.n, job.dstPixelStep, job.roundLimit,
                                      dstRow);
        } else if constexpr (std::is_same_v<T, uint16_t>) {
            if (contiguous)
                passes.cubicV16(rows, k, values, job.roundLimit, dstRow);
            else
                CubicVStrided<uint16_t, kCubic16StridedRounds>(rows, k, job.dstW, job.n,
                                                               job.dstPixelStep, job.roundLimit,
                                                               dstRow);
        } else {
            if (contiguous)
                passes.cubicV32(rows, k, values, dstRow);
            else
                WriteRow(job, dstRow, maskRow, [&](int v) {
                    return CubicValue(rows[0][v], rows[1][v], rows[2][v], rows[3][v], k);
                });
        }
        if (maskRow != nullptr)
            maskRow += job.maskStep;
    }
    AlignedFree(colCoef);
}

template <typename T, void (*kKernel)(const ZoomRowJob&)>
void PerPlane(const ZoomRowJob& job)
{
    for (int c = 0; c < job.n; ++c) {
        ZoomRowJob plane = job;
        plane.src = static_cast<const T*>(job.src) + c * job.srcPlaneStep;
        plane.dst = static_cast<T*>(job.dst) + c * job.dstPlaneStep;
        plane.n = 1;
        plane.srcPixelStep = 1;
        plane.dstPixelStep = 1;
        kKernel(plane);
    }
}

ZoomPassTable MakeBuildPasses()
{
    ZoomPassTable table;
    ZoomPasses_init(kBuildHasSse2, table);
    return table;
}

}  // namespace

CubicCoef MakeCubicCoef(float t)
{
    CubicCoef k;
    k.u = t + 1.0f;
    k.k2 = k.u * (t * 0.5f);
    k.k3 = k.k2 * (t - 1.0f) * 0.33333334f;
    return k;
}

void ZoomPasses_init(bool simd, ZoomPassTable& table)
{
    table.linearH8 = LinearH8;
    table.linearH16 = LinearH16;
    table.linearH32 = LinearH32;
    table.linearV8 = LinearV8;
    table.linearV8Strided = LinearV8Strided;
    table.linearV16 = LinearV16;
    table.linearV16Strided = LinearV16Strided;
    table.linearV32 = LinearV32;
    table.cubicH8 = CubicH<uint8_t>;
    table.cubicH16 = CubicH<uint16_t>;
    table.cubicH32 = CubicH<float>;
    table.cubicV8 = CubicV<uint8_t>;
    table.cubicV8Strided = CubicV8Strided;
    table.cubicV16 = CubicV<uint16_t>;
    table.cubicV32 = CubicV32;
    if (simd)
        ZoomPassesSse2_init(table);
}

const ZoomPassTable& BuildZoomPasses()
{
    static const ZoomPassTable table = MakeBuildPasses();
    return table;
}

void ZoomNearest1u(const ZoomRowJob& job)
{
    const uint8_t* src = static_cast<const uint8_t*>(job.src);
    uint8_t* dstRow = static_cast<uint8_t*>(job.dst);
    const uint8_t* maskRow = job.mask;
    for (int i = 0; i < job.dstH; ++i, dstRow += job.dstRowStep) {
        const uint8_t* srcRow = src + job.rowOffset[i];
        for (int j = 0; j < job.dstW; ++j) {
            if (maskRow != nullptr && !MaskBit(maskRow, job.maskBitOffset + j))
                continue;
            int sb = job.colIndex[j] + job.srcBitOffset;
            int db = job.dstBitOffset + j;
            uint8_t bit = uint8_t(1u << (7 - (db & 7)));
            if (MaskBit(srcRow, sb))
                dstRow[db >> 3] |= bit;
            else
                dstRow[db >> 3] &= uint8_t(~bit);
        }
        if (maskRow != nullptr)
            maskRow += job.maskStep;
    }
}

void ZoomNearest8uPixel(const ZoomRowJob& job) { NearestPixel<uint8_t>(job); }
void ZoomNearest8uPlane(const ZoomRowJob& job) { NearestPlane<uint8_t>(job); }
void ZoomNearest16uPixel(const ZoomRowJob& job) { NearestPixel<uint16_t>(job); }
void ZoomNearest16uPlane(const ZoomRowJob& job) { NearestPlane<uint16_t>(job); }
void ZoomNearest32fPixel(const ZoomRowJob& job) { NearestPixel<float>(job); }
void ZoomNearest32fPlane(const ZoomRowJob& job) { NearestPlane<float>(job); }
void ZoomLinear8uPixel(const ZoomRowJob& job) { LinearPixel<uint8_t>(job); }
void ZoomLinear8uPlane(const ZoomRowJob& job) { PerPlane<uint8_t, LinearPixel<uint8_t>>(job); }
void ZoomLinear16uPixel(const ZoomRowJob& job) { LinearPixel<uint16_t>(job); }
void ZoomLinear16uPlane(const ZoomRowJob& job) { PerPlane<uint16_t, LinearPixel<uint16_t>>(job); }
void ZoomLinear32fPixel(const ZoomRowJob& job) { LinearPixel<float>(job); }
void ZoomLinear32fPlane(const ZoomRowJob& job) { PerPlane<float, LinearPixel<float>>(job); }
void ZoomCubic8uPixel(const ZoomRowJob& job) { CubicPixel<uint8_t>(job); }
void ZoomCubic8uPlane(const ZoomRowJob& job) { PerPlane<uint8_t, CubicPixel<uint8_t>>(job); }
void ZoomCubic16uPixel(const ZoomRowJob& job) { CubicPixel<uint16_t>(job); }
void ZoomCubic16uPlane(const ZoomRowJob& job) { PerPlane<uint16_t, CubicPixel<uint16_t>>(job); }
void ZoomCubic32fPixel(const ZoomRowJob& job) { CubicPixel<float>(job); }
void ZoomCubic32fPlane(const ZoomRowJob& job) { PerPlane<float, CubicPixel<float>>(job); }

ZoomKernel ChooseZoomKernel(int interpolate, int depth, int dataOrder)
{
    const bool plane = dataOrder == IPL_DATA_ORDER_PLANE;
    if (depth == IPL_DEPTH_1U)
        return ZoomNearest1u;
    switch (interpolate) {
    case IPL_INTER_NN:
        if (depth == IPL_DEPTH_8U) return plane ? ZoomNearest8uPlane : ZoomNearest8uPixel;
        if (depth == IPL_DEPTH_16U) return plane ? ZoomNearest16uPlane : ZoomNearest16uPixel;
        return plane ? ZoomNearest32fPlane : ZoomNearest32fPixel;
    case IPL_INTER_LINEAR:
        if (depth == IPL_DEPTH_8U) return plane ? ZoomLinear8uPlane : ZoomLinear8uPixel;
        if (depth == IPL_DEPTH_16U) return plane ? ZoomLinear16uPlane : ZoomLinear16uPixel;
        return plane ? ZoomLinear32fPlane : ZoomLinear32fPixel;
    default:
        if (depth == IPL_DEPTH_8U) return plane ? ZoomCubic8uPlane : ZoomCubic8uPixel;
        if (depth == IPL_DEPTH_16U) return plane ? ZoomCubic16uPlane : ZoomCubic16uPixel;
        return plane ? ZoomCubic32fPlane : ZoomCubic32fPixel;
    }
}
