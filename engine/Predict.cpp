// Motion-compensated prediction, plain and SSE2 (identical results).
#include "engine/Predict.h"

#include <cstddef>
#include <cstring>
#include <emmintrin.h>

#include "engine/EngineState.h"
#include "engine/Threads.h"
#include "settings/EncoderSettings.h"

void PredictBlockPlain(const uint8_t* reference, uint8_t* prediction, int lineLength, int width, int height,
                       int x, int y, int dx, int dy, int average) {
    const int hx = dx & 1, hy = dy & 1;
    const uint8_t* src = reference + static_cast<std::ptrdiff_t>(y + (dy >> 1)) * lineLength + x + (dx >> 1);
    uint8_t* dst = prediction + static_cast<std::ptrdiff_t>(y) * lineLength + x;
    for (int v = 0; v < height; ++v, src += lineLength, dst += lineLength) {
        for (int u = 0; u < width; ++u) {
            const int a = src[u];
            int p;
            if (!hx && !hy) p = a;
            else if (hx && !hy) p = (a + src[u + 1] + 1) >> 1;
            else if (!hx) p = (a + src[u + lineLength] + 1) >> 1;
            else p = (a + src[u + 1] + src[u + lineLength] + src[u + lineLength + 1] + 2) >> 2;
            dst[u] = static_cast<uint8_t>(average ? (dst[u] + p + 1) >> 1 : p);
        }
    }
}

namespace {

// A row segment of 8 or 16 samples as bytes.
template <int Width>
inline __m128i LoadBytes(const uint8_t* p) {
    if constexpr (Width == 16) return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    else return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
}

template <int Width>
inline void StoreBytes(uint8_t* p, __m128i v) {
    if constexpr (Width == 16) _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
    else _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v);
}

// (a + b + c + d + 2) >> 2 per byte, through 16-bit sums.
inline __m128i AverageFour(__m128i a, __m128i b, __m128i c, __m128i d) {
    const __m128i zero = _mm_setzero_si128(), two = _mm_set1_epi16(2);
    const __m128i lo = _mm_add_epi16(_mm_add_epi16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero)),
                                     _mm_add_epi16(_mm_unpacklo_epi8(c, zero), _mm_unpacklo_epi8(d, zero)));
    const __m128i hi = _mm_add_epi16(_mm_add_epi16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero)),
                                     _mm_add_epi16(_mm_unpackhi_epi8(c, zero), _mm_unpackhi_epi8(d, zero)));
    return _mm_packus_epi16(_mm_srli_epi16(_mm_add_epi16(lo, two), 2), _mm_srli_epi16(_mm_add_epi16(hi, two), 2));
}

// One case of the prediction: segments of Width samples, the half-sample
// flags and the averaging fixed. Byte averages round up, as the plain form does.
template <int Width, int HalfX, int HalfY, bool Average>
void PredictSegments(const uint8_t* src, uint8_t* dst, int lineLength, int width, int height) {
    for (int v = 0; v < height; ++v, src += lineLength, dst += lineLength) {
        for (int u = 0; u < width; u += Width) {
            const uint8_t* s = src + u;
            __m128i p = LoadBytes<Width>(s);
            if constexpr (HalfX && HalfY)
                p = AverageFour(p, LoadBytes<Width>(s + 1), LoadBytes<Width>(s + lineLength),
                                LoadBytes<Width>(s + lineLength + 1));
            else if constexpr (HalfX)
                p = _mm_avg_epu8(p, LoadBytes<Width>(s + 1));
            else if constexpr (HalfY)
                p = _mm_avg_epu8(p, LoadBytes<Width>(s + lineLength));
            if constexpr (Average) p = _mm_avg_epu8(p, LoadBytes<Width>(dst + u));
            StoreBytes<Width>(dst + u, p);
        }
    }
}

template <int Width>
void PredictCase(const uint8_t* src, uint8_t* dst, int lineLength, int width, int height, int hx, int hy,
                 int average) {
    using Fn = void (*)(const uint8_t*, uint8_t*, int, int, int);
    static constexpr Fn cases[8] = {
        PredictSegments<Width, 0, 0, false>, PredictSegments<Width, 1, 0, false>,
        PredictSegments<Width, 0, 1, false>, PredictSegments<Width, 1, 1, false>,
        PredictSegments<Width, 0, 0, true>,  PredictSegments<Width, 1, 0, true>,
        PredictSegments<Width, 0, 1, true>,  PredictSegments<Width, 1, 1, true>};
    cases[hx + 2 * hy + 4 * (average ? 1 : 0)](src, dst, lineLength, width, height);
}

}  // namespace

void PredictBlockSse2(const uint8_t* reference, uint8_t* prediction, int lineLength, int width, int height,
                      int x, int y, int dx, int dy, int average) {
    if (width % 8 != 0) {
        PredictBlockPlain(reference, prediction, lineLength, width, height, x, y, dx, dy, average);
        return;
    }
    const int hx = dx & 1, hy = dy & 1;
    const uint8_t* src = reference + static_cast<std::ptrdiff_t>(y + (dy >> 1)) * lineLength + x + (dx >> 1);
    uint8_t* dst = prediction + static_cast<std::ptrdiff_t>(y) * lineLength + x;
    if (width % 16 == 0) PredictCase<16>(src, dst, lineLength, width, height, hx, hy, average);
    else PredictCase<8>(src, dst, lineLength, width, height, hx, hy, average);
}

PredictKernels PredictKernelSet = [] {
    PredictKernels k;
    predict_init(false, k);
    return k;
}();

void predict_init(bool simd, PredictKernels& kernels) {
    kernels.predictBlock = simd ? PredictBlockSse2 : PredictBlockPlain;
}

namespace {

void FillMacroblock(const FramePlanes& prediction, int x, int y) {
    for (int v = 0; v < 16; ++v)
        std::memset(prediction.y + static_cast<std::ptrdiff_t>(y + v) * Sequence.EncodeWidth + x, 128, 16);
    for (int v = 0; v < 8; ++v) {
        const std::ptrdiff_t offset = static_cast<std::ptrdiff_t>(y / 2 + v) * Sequence.ChromaWidth + x / 2;
        std::memset(prediction.cb + offset, 128, 8);
        std::memset(prediction.cr + offset, 128, 8);
    }
}

// Chrominance vectors are the luminance vector halved toward zero.
inline int HalveTowardZero(int v) { return v / 2; }

void PredictMacroblock(PredictBlockFn predict, const FramePlanes& reference, const FramePlanes& prediction,
                       int x, int y, const int vector[2], int average) {
    predict(reference.y, prediction.y, Sequence.EncodeWidth, 16, 16, x, y, vector[0], vector[1], average);
    const int cx = HalveTowardZero(vector[0]), cy = HalveTowardZero(vector[1]);
    predict(reference.cb, prediction.cb, Sequence.ChromaWidth, 8, 8, x / 2, y / 2, cx, cy, average);
    predict(reference.cr, prediction.cr, Sequence.ChromaWidth, 8, 8, x / 2, y / 2, cx, cy, average);
}

}  // namespace

PredictionRows SetUpPredictionRows(const FramePlanes& forward, const FramePlanes& backward,
                                   const FramePlanes& prediction, const MacroblockInfo* records, int pictureType) {
    return PredictionRows{PredictKernelSet.predictBlock, &forward, &backward, &prediction, records, pictureType};
}

void PredictPictureRow(const PredictionRows& p, int row) {
    const int y = 16 * row;
    if (p.pictureType == 1) {
        const size_t luma = static_cast<size_t>(Sequence.EncodeWidth), chroma = static_cast<size_t>(Sequence.ChromaWidth);
        std::memset(p.prediction->y + y * luma, 128, 16 * luma);
        std::memset(p.prediction->cb + (y / 2) * chroma, 128, 8 * chroma);
        std::memset(p.prediction->cr + (y / 2) * chroma, 128, 8 * chroma);
        return;
    }
    int k = row * (Sequence.EncodeWidth / 16);
    for (int x = 0; x < Sequence.EncodeWidth; x += 16, ++k) {
        const MacroblockInfo& mb = p.records[k];
        if (mb.typeFlags & MB_INTRA) {
            FillMacroblock(*p.prediction, x, y);
            continue;
        }
        bool forwardMade = false;
        if ((mb.typeFlags & MB_FORWARD) || p.pictureType == P_PICTURE) {
            PredictMacroblock(p.predict, *p.forward, *p.prediction, x, y, mb.forwardVector, 0);
            forwardMade = true;
        }
        if (mb.typeFlags & MB_BACKWARD)
            PredictMacroblock(p.predict, *p.backward, *p.prediction, x, y, mb.backwardVector, forwardMade ? 1 : 0);
    }
}

namespace {

void PredictRow(void* context, int row) { PredictPictureRow(*static_cast<const PredictionRows*>(context), row); }

}  // namespace

void PredictPicture(const FramePlanes& forward, const FramePlanes& backward, const FramePlanes& prediction,
                    const MacroblockInfo* records, int pictureType) {
    if (pictureType == I_PICTURE) {
        std::memset(prediction.y, 128, static_cast<size_t>(Sequence.EncodeWidth) * Sequence.EncodeHeight);
        std::memset(prediction.cb, 128, static_cast<size_t>(Sequence.ChromaWidth) * Sequence.ChromaHeight);
        std::memset(prediction.cr, 128, static_cast<size_t>(Sequence.ChromaWidth) * Sequence.ChromaHeight);
        return;
    }
    const PredictionRows rows = SetUpPredictionRows(forward, backward, prediction, records, pictureType);
    // Each row writes only its own macroblocks.
    RunRowsInParallel(Sequence.EncodeHeight / 16, PictureRowHelpers(), PredictRow, const_cast<PredictionRows*>(&rows));
}
