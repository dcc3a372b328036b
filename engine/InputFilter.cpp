// The optional luma filters of progressive input: a 3x3 median blended with
// the centre by strength, and a 3x3 low-pass.
#include <algorithm>
#include <cstring>
#include <emmintrin.h>

#include "engine/EngineState.h"
#include "engine/Input.h"
#include "settings/EncoderSettings.h"

namespace {

template <class T>
inline void Order(T& a, T& b);

template <>
inline void Order(int& a, int& b) {
    const int low = std::min(a, b);
    b = std::max(a, b);
    a = low;
}

template <>
inline void Order(__m128i& a, __m128i& b) {
    const __m128i low = _mm_min_epu8(a, b);
    b = _mm_max_epu8(a, b);
    a = low;
}

// The fifth smallest of nine values (a known 19-exchange network).
template <class T>
T Median9(T p[9]) {
    Order(p[1], p[2]); Order(p[4], p[5]); Order(p[7], p[8]);
    Order(p[0], p[1]); Order(p[3], p[4]); Order(p[6], p[7]);
    Order(p[1], p[2]); Order(p[4], p[5]); Order(p[7], p[8]);
    Order(p[0], p[3]); Order(p[5], p[8]); Order(p[4], p[7]);
    Order(p[3], p[6]); Order(p[1], p[4]); Order(p[2], p[5]);
    Order(p[4], p[7]); Order(p[4], p[2]); Order(p[6], p[4]);
    Order(p[4], p[2]);
    return p[4];
}

}  // namespace

void MedianRowPlain(const uint8_t* here, int lineLength, uint8_t* out, int count, int strength) {
    for (int x = 0; x < count; ++x) {
        const uint8_t* a = here + x - lineLength;
        const uint8_t* b = here + x;
        const uint8_t* c = here + x + lineLength;
        int p[9] = {a[-1], a[0], a[1], b[-1], b[0], b[1], c[-1], c[0], c[1]};
        const int m = Median9(p);
        out[x] = static_cast<uint8_t>((m * (strength + 28) + b[0] * (100 - strength) + 64) >> 7);
    }
}

void MedianRowSse2(const uint8_t* here, int lineLength, uint8_t* out, int count, int strength) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i medianWeight = _mm_set1_epi16(static_cast<int16_t>(strength + 28));
    const __m128i centreWeight = _mm_set1_epi16(static_cast<int16_t>(100 - strength));
    const __m128i rounding = _mm_set1_epi16(64);
    int x = 0;
    for (; x + 16 <= count; x += 16) {
        __m128i p[9];
        for (int r = 0; r < 3; ++r) {
            const uint8_t* row = here + x + (r - 1) * lineLength;
            for (int d = 0; d < 3; ++d)
                p[3 * r + d] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + d - 1));
        }
        const __m128i centre = p[4];
        const __m128i m = Median9(p);
        auto blend = [&](__m128i mw, __m128i cw) {
            return _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(mw, medianWeight),
                                                              _mm_mullo_epi16(cw, centreWeight)),
                                                rounding),
                                  7);
        };
        const __m128i lo = blend(_mm_unpacklo_epi8(m, zero), _mm_unpacklo_epi8(centre, zero));
        const __m128i hi = blend(_mm_unpackhi_epi8(m, zero), _mm_unpackhi_epi8(centre, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(lo, hi));
    }
    if (x < count) MedianRowPlain(here + x, lineLength, out + x, count - x, strength);
}

namespace {

// Copies the outermost lines and columns, which the filters leave as they are.
void CopyFrame(const uint8_t* source, uint8_t* target, int width, int height, int lineLength) {
    std::memcpy(target, source, static_cast<size_t>(width));
    const std::ptrdiff_t last = static_cast<std::ptrdiff_t>(height - 1) * lineLength;
    std::memcpy(target + last, source + last, static_cast<size_t>(width));
    for (int y = 1; y < height - 1; ++y) {
        const std::ptrdiff_t o = static_cast<std::ptrdiff_t>(y) * lineLength;
        target[o] = source[o];
        target[o + width - 1] = source[o + width - 1];
    }
}

}  // namespace

void MedianFilterPlane(const uint8_t* source, uint8_t* target, int width, int height, int lineLength, int strength) {
    if (width < 1 || height < 1) return;
    CopyFrame(source, target, width, height, lineLength);
    const int s = std::clamp(strength, 0, 100);
    const MedianRowFn medianRow = InputKernelSet.medianRow;
    for (int y = 1; y < height - 1; ++y) {
        const std::ptrdiff_t o = static_cast<std::ptrdiff_t>(y) * lineLength + 1;
        medianRow(source + o, lineLength, target + o, width - 2, s);
    }
}

void LowPassFilterPlane(const uint8_t* source, uint8_t* target, int width, int height, int lineLength, int strength) {
    if (width < 1 || height < 1) return;
    CopyFrame(source, target, width, height, lineLength);
    const int s = std::clamp(strength, 0, 100);
    const int k = 1024 - static_cast<int>(1024.0 - 7.74 * s);
    const int b = static_cast<int>(k * 150.0 / 1023.0);
    const int c = static_cast<int>(b * 5.0 / 7.0);
    const int centre = 4 * (256 - b - c);
    for (int y = 1; y < height - 1; ++y) {
        const uint8_t* row = source + static_cast<std::ptrdiff_t>(y) * lineLength;
        uint8_t* out = target + static_cast<std::ptrdiff_t>(y) * lineLength;
        for (int x = 1; x < width - 1; ++x) {
            const uint8_t* up = row + x - lineLength;
            const uint8_t* here = row + x;
            const uint8_t* down = row + x + lineLength;
            const int direct = up[0] + down[0] + here[-1] + here[1];
            const int diagonal = up[-1] + up[1] + down[-1] + down[1];
            out[x] = static_cast<uint8_t>((b * direct + c * diagonal + centre * here[0]) >> 10);
        }
    }
}

// Filters the width x height picture from InputState.FilterPlane into `luma`; the
// strengths are clamped and written back to the settings.
void FilterInputLuma(uint8_t* luma, int width, int height, int lineLength) {
    const uint8_t* filterPlane = InputState.FilterPlane;
    if (EncoderSettings.medianFilter) {
        EncoderSettings.medianFilterStrength = std::clamp(EncoderSettings.medianFilterStrength, 0, 100);
        MedianFilterPlane(filterPlane, luma, width, height, lineLength, EncoderSettings.medianFilterStrength);
    } else if (EncoderSettings.lowPassFilter) {
        EncoderSettings.lowPassFilterStrength = std::clamp(EncoderSettings.lowPassFilterStrength, 0, 100);
        LowPassFilterPlane(filterPlane, luma, width, height, lineLength, EncoderSettings.lowPassFilterStrength);
    } else {
        for (int y = 0; y < height; ++y)
            std::memcpy(luma + static_cast<std::ptrdiff_t>(y) * lineLength,
                        filterPlane + static_cast<std::ptrdiff_t>(y) * lineLength, static_cast<size_t>(width));
    }
}
