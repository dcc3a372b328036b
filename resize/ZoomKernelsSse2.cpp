// SSE2 forms of the zoom passes (the build that uses SSE2). Each works on
// groups of four values and leaves the rest of the row to the scalar rule of
// its plain twin, so that results depend only on a value's place in the row.
#include "resize/ZoomKernels.h"

#if defined(ZRNRS_BUILD_W7)

#include <emmintrin.h>
#include <xmmintrin.h>

#include <cmath>

namespace {

// The scalar rules of this build, for the values after the last group.
inline float Cubic(float a, float b, float c, float d, const CubicCoef& k)
{
    float d1 = b - a;
    float d2 = c - 2.0f * b + a;
    float d3 = d - 3.0f * c + 3.0f * b - a;
    return a + k.u * d1 + k.k2 * d2 + k.k3 * d3;
}

template <typename T>
inline T Convert(float v, bool round)
{
    constexpr float kMax = sizeof(T) == 1 ? 255.0f : 65535.0f;
    if (round) {
        float t = v + 0.00001f;
        t = t < 0.0f ? 0.0f : t > kMax ? kMax : t;
        return T(std::nearbyintf(t));
    }
    double f = std::floor(double(v) + 0.00001);
    return T(f < 0.0 ? 0.0 : f > double(kMax) ? double(kMax) : f);
}

inline __m128 CubicVec(__m128 a, __m128 b, __m128 c, __m128 d, __m128 u, __m128 k2, __m128 k3)
{
    const __m128 two = _mm_set1_ps(2.0f), three = _mm_set1_ps(3.0f);
    __m128 d1 = _mm_sub_ps(b, a);
    __m128 d2 = _mm_add_ps(_mm_sub_ps(c, _mm_mul_ps(two, b)), a);
    __m128 d3 = _mm_sub_ps(
        _mm_add_ps(_mm_sub_ps(d, _mm_mul_ps(three, c)), _mm_mul_ps(three, b)), a);
    __m128 v = _mm_add_ps(a, _mm_mul_ps(u, d1));
    v = _mm_add_ps(v, _mm_mul_ps(k2, d2));
    return _mm_add_ps(v, _mm_mul_ps(k3, d3));
}

// Rounds to nearest (ties to even) while alive, whatever the caller's mode.
class NearestRounding {
public:
    NearestRounding() : saved_(_MM_GET_ROUNDING_MODE()) { _MM_SET_ROUNDING_MODE(_MM_ROUND_NEAREST); }
    ~NearestRounding() { _MM_SET_ROUNDING_MODE(saved_); }
    NearestRounding(const NearestRounding&) = delete;
    NearestRounding& operator=(const NearestRounding&) = delete;

private:
    unsigned saved_;
};

// Four vertical cubic values as integers: nearest of value + 0.00001, clamped.
inline __m128i CubicRounded(const float* const* rows, int v, const CubicCoef& k, float maxValue)
{
    __m128 value = CubicVec(_mm_loadu_ps(rows[0] + v), _mm_loadu_ps(rows[1] + v),
                            _mm_loadu_ps(rows[2] + v), _mm_loadu_ps(rows[3] + v),
                            _mm_set1_ps(k.u), _mm_set1_ps(k.k2), _mm_set1_ps(k.k3));
    value = _mm_add_ps(value, _mm_set1_ps(0.00001f));
    value = _mm_min_ps(_mm_max_ps(value, _mm_setzero_ps()), _mm_set1_ps(maxValue));
    return _mm_cvtps_epi32(value);
}

void CubicV8Sse2(const float* const* rows, CubicCoef k, int count, int roundLimit, uint8_t* dst)
{
    NearestRounding mode;
    int v = 0;
    for (; v + 4 <= roundLimit; v += 4) {
        __m128i i32 = CubicRounded(rows, v, k, 255.0f);
        __m128i i16 = _mm_packs_epi32(i32, i32);
        int packed = _mm_cvtsi128_si32(_mm_packus_epi16(i16, i16));
        __builtin_memcpy(dst + v, &packed, 4);
    }
    for (; v < count; ++v)
        dst[v] = Convert<uint8_t>(Cubic(rows[0][v], rows[1][v], rows[2][v], rows[3][v], k),
                                  v < roundLimit);
}

void CubicV8StridedSse2(const float* const* rows, CubicCoef k, int dstW, int n, int pixelStep,
                        int roundLimit, uint8_t* dst)
{
    NearestRounding mode;
    const int count = dstW * n;
    int v = 0;
    alignas(16) int32_t lane[4];
    for (; v + 4 <= roundLimit; v += 4) {
        _mm_store_si128(reinterpret_cast<__m128i*>(lane), CubicRounded(rows, v, k, 255.0f));
        for (int m = 0; m < 4; ++m) {
            const int value = v + m;
            dst[(value / n) * pixelStep + value % n] = uint8_t(lane[m]);
        }
    }
    for (; v < count; ++v)
        dst[(v / n) * pixelStep + v % n] =
            Convert<uint8_t>(Cubic(rows[0][v], rows[1][v], rows[2][v], rows[3][v], k),
                             v < roundLimit);
}

void CubicV16Sse2(const float* const* rows, CubicCoef k, int count, int roundLimit, uint16_t* dst)
{
    NearestRounding mode;
    const __m128i bias32 = _mm_set1_epi32(32768);
    const __m128i bias16 = _mm_set1_epi16(-32768);
    int v = 0;
    for (; v + 4 <= roundLimit; v += 4) {
        __m128i i32 = _mm_sub_epi32(CubicRounded(rows, v, k, 65535.0f), bias32);
        __m128i u16 = _mm_xor_si128(_mm_packs_epi32(i32, i32), bias16);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + v), u16);
    }
    for (; v < count; ++v)
        dst[v] = Convert<uint16_t>(Cubic(rows[0][v], rows[1][v], rows[2][v], rows[3][v], k),
                                   v < roundLimit);
}

void CubicV32Sse2(const float* const* rows, CubicCoef k, int count, float* dst)
{
    const __m128 u = _mm_set1_ps(k.u), k2 = _mm_set1_ps(k.k2), k3 = _mm_set1_ps(k.k3);
    int v = 0;
    for (; v + 4 <= count; v += 4)
        _mm_storeu_ps(dst + v, CubicVec(_mm_loadu_ps(rows[0] + v), _mm_loadu_ps(rows[1] + v),
                                        _mm_loadu_ps(rows[2] + v), _mm_loadu_ps(rows[3] + v), u,
                                        k2, k3));
    for (; v < count; ++v)
        dst[v] = Cubic(rows[0][v], rows[1][v], rows[2][v], rows[3][v], k);
}

// Horizontal cubic: each lane gathers the four samples of its own value.
template <typename T>
void CubicHSse2(const T* row, const int* colIndex, const CubicCoef* coef, int dstW, int n,
                int step, float* out)
{
    const int count = dstW * n;
    int v = 0;
    int j = 0, ch = 0;  // column and channel of value v, stepped without dividing
    for (; v + 4 <= count; v += 4) {
        const T* p[4];
        const CubicCoef* k[4];
        for (int m = 0; m < 4; ++m, ch = ch + 1 == n ? (++j, 0) : ch + 1) {
            p[m] = row + colIndex[j] + ch;
            k[m] = &coef[j];
        }
        auto lanes = [&](int offset) {
            return _mm_setr_ps(float(p[0][offset]), float(p[1][offset]), float(p[2][offset]),
                               float(p[3][offset]));
        };
        const __m128 u = _mm_setr_ps(k[0]->u, k[1]->u, k[2]->u, k[3]->u);
        const __m128 k2 = _mm_setr_ps(k[0]->k2, k[1]->k2, k[2]->k2, k[3]->k2);
        const __m128 k3 = _mm_setr_ps(k[0]->k3, k[1]->k3, k[2]->k3, k[3]->k3);
        _mm_storeu_ps(out + v, CubicVec(lanes(-step), lanes(0), lanes(step), lanes(2 * step), u,
                                        k2, k3));
    }
    for (; v < count; ++v) {
        const int jj = v / n, cc = v % n;
        const T* p = row + colIndex[jj] + cc;
        out[v] = Cubic(float(p[-step]), float(p[0]), float(p[step]), float(p[2 * step]), coef[jj]);
    }
}

// Horizontal linear, fixed point: (w0 p0 + w1 p1) >> shift on (halved) samples.
template <typename T, int kShift, bool kHalve>
void LinearHSse2(const T* row, const int* colIndex, const uint16_t* wx, int dstW, int n, int step,
                 uint16_t* out)
{
    const int count = dstW * n;
    int v = 0;
    int j = 0, ch = 0;
    alignas(16) int16_t samples[8], weights[8];
    for (; v + 4 <= count; v += 4) {
        for (int m = 0; m < 4; ++m, ch = ch + 1 == n ? (++j, 0) : ch + 1) {
            const T* p = row + colIndex[j] + ch;
            samples[2 * m] = int16_t(kHalve ? p[0] >> 1 : p[0]);
            samples[2 * m + 1] = int16_t(kHalve ? p[step] >> 1 : p[step]);
            weights[2 * m] = int16_t(wx[2 * j]);
            weights[2 * m + 1] = int16_t(wx[2 * j + 1]);
        }
        __m128i sum = _mm_madd_epi16(_mm_load_si128(reinterpret_cast<const __m128i*>(samples)),
                                     _mm_load_si128(reinterpret_cast<const __m128i*>(weights)));
        sum = _mm_srli_epi32(sum, kShift);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + v), _mm_packs_epi32(sum, sum));
    }
    for (; v < count; ++v) {
        const int j = v / n, ch = v % n;
        const T* p = row + colIndex[j] + ch;
        const uint32_t p0 = kHalve ? p[0] >> 1 : p[0], p1 = kHalve ? p[step] >> 1 : p[step];
        out[v] = uint16_t((wx[2 * j] * p0 + wx[2 * j + 1] * p1) >> kShift);
    }
}

void LinearH8Sse2(const uint8_t* row, const int* colIndex, const uint16_t* wx, int dstW, int n,
                  int step, uint16_t* out)
{
    LinearHSse2<uint8_t, 8, false>(row, colIndex, wx, dstW, n, step, out);
}

void LinearH16Sse2(const uint16_t* row, const int* colIndex, const uint16_t* wx, int dstW, int n,
                   int step, uint16_t* out)
{
    LinearHSse2<uint16_t, 14, true>(row, colIndex, wx, dstW, n, step, out);
}

// Four vertical linear values: (h0 (16384 - wy) + h1 wy) >> shift.
template <int kShift>
inline __m128i LinearMix4(const uint16_t* h0, const uint16_t* h1, __m128i weights)
{
    __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(h0));
    __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(h1));
    return _mm_srli_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(a, b), weights), kShift);
}

inline __m128i LinearWeights(int wy)
{
    return _mm_set1_epi32(int32_t(uint32_t(16384 - wy) | (uint32_t(wy) << 16)));
}

void LinearV8Sse2(const uint16_t* h0, const uint16_t* h1, int wy, int count, uint8_t* dst)
{
    const __m128i w = LinearWeights(wy);
    int v = 0;
    for (; v + 4 <= count; v += 4) {
        __m128i i32 = LinearMix4<20>(h0 + v, h1 + v, w);
        __m128i i16 = _mm_packs_epi32(i32, i32);
        int packed = _mm_cvtsi128_si32(_mm_packus_epi16(i16, i16));
        __builtin_memcpy(dst + v, &packed, 4);
    }
    for (; v < count; ++v)
        dst[v] = uint8_t((uint32_t(h0[v]) * uint32_t(16384 - wy) + uint32_t(h1[v]) * uint32_t(wy)) >> 20);
}

void LinearV8StridedSse2(const uint16_t* h0, const uint16_t* h1, int wy, int dstW, int n,
                         int pixelStep, uint8_t* dst)
{
    const __m128i w = LinearWeights(wy);
    const int count = dstW * n;
    int v = 0;
    alignas(16) int32_t lane[4];
    for (; v + 4 <= count; v += 4) {
        _mm_store_si128(reinterpret_cast<__m128i*>(lane), LinearMix4<20>(h0 + v, h1 + v, w));
        for (int m = 0; m < 4; ++m)
            dst[((v + m) / n) * pixelStep + (v + m) % n] = uint8_t(lane[m]);
    }
    for (; v < count; ++v)
        dst[(v / n) * pixelStep + v % n] =
            uint8_t((uint32_t(h0[v]) * uint32_t(16384 - wy) + uint32_t(h1[v]) * uint32_t(wy)) >> 20);
}

void LinearV16Sse2(const uint16_t* h0, const uint16_t* h1, int wy, int count, uint16_t* dst)
{
    const __m128i w = LinearWeights(wy);
    const __m128i bias32 = _mm_set1_epi32(32768);
    const __m128i bias16 = _mm_set1_epi16(-32768);
    int v = 0;
    for (; v + 4 <= count; v += 4) {
        __m128i i32 = _mm_sub_epi32(LinearMix4<13>(h0 + v, h1 + v, w), bias32);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + v),
                         _mm_xor_si128(_mm_packs_epi32(i32, i32), bias16));
    }
    for (; v < count; ++v)
        dst[v] = uint16_t((uint32_t(h0[v]) * uint32_t(16384 - wy) + uint32_t(h1[v]) * uint32_t(wy)) >> 13);
}

void LinearV16StridedSse2(const uint16_t* h0, const uint16_t* h1, int wy, int dstW, int n,
                          int pixelStep, uint16_t* dst)
{
    const __m128i w = LinearWeights(wy);
    const int count = dstW * n;
    int v = 0;
    alignas(16) int32_t lane[4];
    for (; v + 4 <= count; v += 4) {
        _mm_store_si128(reinterpret_cast<__m128i*>(lane), LinearMix4<13>(h0 + v, h1 + v, w));
        for (int m = 0; m < 4; ++m)
            dst[((v + m) / n) * pixelStep + (v + m) % n] = uint16_t(lane[m]);
    }
    for (; v < count; ++v)
        dst[(v / n) * pixelStep + v % n] =
            uint16_t((uint32_t(h0[v]) * uint32_t(16384 - wy) + uint32_t(h1[v]) * uint32_t(wy)) >> 13);
}

void LinearV32Sse2(const float* h0, const float* h1, float fy, int count, float* dst)
{
    const __m128 a = _mm_set1_ps(1.0f - fy), b = _mm_set1_ps(fy);
    int v = 0;
    for (; v + 4 <= count; v += 4)
        _mm_storeu_ps(dst + v, _mm_add_ps(_mm_mul_ps(a, _mm_loadu_ps(h0 + v)),
                                          _mm_mul_ps(b, _mm_loadu_ps(h1 + v))));
    for (; v < count; ++v)
        dst[v] = (1.0f - fy) * h0[v] + fy * h1[v];
}

}  // namespace

void ZoomPassesSse2_init(ZoomPassTable& table)
{
    table.linearH8 = LinearH8Sse2;
    table.linearH16 = LinearH16Sse2;
    table.linearV8 = LinearV8Sse2;
    table.linearV8Strided = LinearV8StridedSse2;
    table.linearV16 = LinearV16Sse2;
    table.linearV16Strided = LinearV16StridedSse2;
    table.linearV32 = LinearV32Sse2;
    table.cubicH8 = CubicHSse2<uint8_t>;
    table.cubicH16 = CubicHSse2<uint16_t>;
    table.cubicH32 = CubicHSse2<float>;
    table.cubicV8 = CubicV8Sse2;
    table.cubicV8Strided = CubicV8StridedSse2;
    table.cubicV16 = CubicV16Sse2;
    table.cubicV32 = CubicV32Sse2;
}

#else

// The other builds hold no SSE2 kernels: their table keeps the plain passes.
void ZoomPassesSse2_init(ZoomPassTable&) {}

#endif
