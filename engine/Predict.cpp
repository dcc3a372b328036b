// Motion-compensated prediction, plain and SSE2 (identical results).
#include "engine/Predict.h"

#include <cstddef>
#include <cstring>
#include <emmintrin.h>

#include "engine/EngineState.h"
#include "engine/Threads.h"
#include "job/EncoderSettings.h"

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

// Eight samples widened to 16 bits.
inline __m128i Load8(const uint8_t* p) {
    return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), _mm_setzero_si128());
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
    const __m128i one = _mm_set1_epi16(1), two = _mm_set1_epi16(2);
    for (int v = 0; v < height; ++v, src += lineLength, dst += lineLength) {
        for (int u = 0; u < width; u += 8) {
            __m128i p = Load8(src + u);
            if (hx && hy) {
                __m128i s = _mm_add_epi16(_mm_add_epi16(p, Load8(src + u + 1)),
                                          _mm_add_epi16(Load8(src + u + lineLength), Load8(src + u + lineLength + 1)));
                p = _mm_srli_epi16(_mm_add_epi16(s, two), 2);
            } else if (hx) {
                p = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(p, Load8(src + u + 1)), one), 1);
            } else if (hy) {
                p = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(p, Load8(src + u + lineLength)), one), 1);
            }
            if (average) p = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(p, Load8(dst + u)), one), 1);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + u), _mm_packus_epi16(p, p));
        }
    }
}

void predict_init(bool simd, PredictKernels& kernels) {
    kernels.predictBlock = simd ? PredictBlockSse2 : PredictBlockPlain;
}

namespace {

void FillMacroblock(const FramePlanes& prediction, int x, int y) {
    for (int v = 0; v < 16; ++v) std::memset(prediction.y + static_cast<std::ptrdiff_t>(y + v) * EncodeWidth + x, 128, 16);
    for (int v = 0; v < 8; ++v) {
        const std::ptrdiff_t offset = static_cast<std::ptrdiff_t>(y / 2 + v) * ChromaWidth + x / 2;
        std::memset(prediction.cb + offset, 128, 8);
        std::memset(prediction.cr + offset, 128, 8);
    }
}

// Chrominance vectors are the luminance vector halved toward zero.
inline int HalveTowardZero(int v) { return v / 2; }

void PredictMacroblock(PredictBlockFn predict, const FramePlanes& reference, const FramePlanes& prediction,
                       int x, int y, const int vector[2], int average) {
    predict(reference.y, prediction.y, EncodeWidth, 16, 16, x, y, vector[0], vector[1], average);
    const int cx = HalveTowardZero(vector[0]), cy = HalveTowardZero(vector[1]);
    predict(reference.cb, prediction.cb, ChromaWidth, 8, 8, x / 2, y / 2, cx, cy, average);
    predict(reference.cr, prediction.cr, ChromaWidth, 8, 8, x / 2, y / 2, cx, cy, average);
}

}  // namespace

namespace {

struct PredictRows {
    PredictBlockFn predict;
    const FramePlanes *forward, *backward, *prediction;
    const MacroblockInfo* records;
    int pictureType;
};

void PredictRow(void* context, int row) {
    const PredictRows& p = *static_cast<const PredictRows*>(context);
    const int y = 16 * row;
    int k = row * (EncodeWidth / 16);
    for (int x = 0; x < EncodeWidth; x += 16, ++k) {
        const MacroblockInfo& mb = p.records[k];
        if (mb.typeFlags & MB_INTRA) {
            FillMacroblock(*p.prediction, x, y);
            continue;
        }
        bool forwardMade = false;
        if ((mb.typeFlags & MB_FORWARD) || p.pictureType == 2) {
            PredictMacroblock(p.predict, *p.forward, *p.prediction, x, y, mb.forwardVector, 0);
            forwardMade = true;
        }
        if (mb.typeFlags & MB_BACKWARD)
            PredictMacroblock(p.predict, *p.backward, *p.prediction, x, y, mb.backwardVector, forwardMade ? 1 : 0);
    }
}

}  // namespace

void PredictPicture(const FramePlanes& forward, const FramePlanes& backward, const FramePlanes& prediction,
                    const MacroblockInfo* records, int pictureType) {
    if (pictureType == 1) {
        std::memset(prediction.y, 128, static_cast<size_t>(EncodeWidth) * EncodeHeight);
        std::memset(prediction.cb, 128, static_cast<size_t>(ChromaWidth) * ChromaHeight);
        std::memset(prediction.cr, 128, static_cast<size_t>(ChromaWidth) * ChromaHeight);
        return;
    }
    PredictKernels kernels;
    predict_init(MmxEnabled != 0, kernels);
    PredictRows rows{kernels.predictBlock, &forward, &backward, &prediction, records, pictureType};
    // Each row writes only its own macroblocks.
    RunRowsInParallel(EncodeHeight / 16, PictureRowHelpers(), PredictRow, &rows);
}
