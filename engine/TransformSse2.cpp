// SSE2 sample kernels of the block layout and the reconstruction: eight
// samples a line, widened to 16 bits; saturating adds and an unsigned
// saturating pack give the plain kernels' clipping.
#include <emmintrin.h>

#include "engine/Transform.h"

namespace {

inline __m128i LoadEightSamples(const uint8_t* line) {
    return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(line)), _mm_setzero_si128());
}

inline void StoreEightSamples(uint8_t* line, __m128i values) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(line), _mm_packus_epi16(values, values));
}

inline __m128i LoadRow(const int16_t* block, int y) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * y));
}

inline void StoreRow(int16_t* block, int y, __m128i values) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * y), values);
}

void IntraBlockSse2(int16_t* block, const uint8_t* source, int lineStep) {
    const __m128i offset = _mm_set1_epi16(128);
    for (int y = 0; y < 8; ++y, source += lineStep) StoreRow(block, y, _mm_sub_epi16(LoadEightSamples(source), offset));
}

void DifferenceBlockSse2(int16_t* block, const uint8_t* source, const uint8_t* prediction, int lineStep) {
    for (int y = 0; y < 8; ++y, source += lineStep, prediction += lineStep)
        StoreRow(block, y, _mm_sub_epi16(LoadEightSamples(source), LoadEightSamples(prediction)));
}

void ReconstructIntraBlockSse2(uint8_t* target, const int16_t* block, int lineStep) {
    const __m128i offset = _mm_set1_epi16(128);
    for (int y = 0; y < 8; ++y, target += lineStep) StoreEightSamples(target, _mm_adds_epi16(LoadRow(block, y), offset));
}

void ReconstructPredictedBlockSse2(uint8_t* target, const uint8_t* prediction, const int16_t* block, int lineStep) {
    for (int y = 0; y < 8; ++y, target += lineStep, prediction += lineStep)
        StoreEightSamples(target, _mm_adds_epi16(LoadRow(block, y), LoadEightSamples(prediction)));
}

}  // namespace

void transform_init_sse2(TransformKernels& kernels) {
    kernels.intraBlock = IntraBlockSse2;
    kernels.differenceBlock = DifferenceBlockSse2;
    kernels.reconstructIntraBlock = ReconstructIntraBlockSse2;
    kernels.reconstructPredictedBlock = ReconstructPredictedBlockSse2;
}
