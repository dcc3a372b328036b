// Polyphase analysis filterbank in single precision: windowing with the
// window at the precision of the standard's table, folding and matrixing,
// outputs rounded to the nearest integer (2^26 units). The plain and the
// packed (SSE2) forms compute the same sums in the same order, so they agree
// bit for bit.
#include <emmintrin.h>

#include <cmath>
#include <cstring>

#include "audio/AudioEncoder.h"
#include "settings/EncoderSettings.h"

namespace {

void WindowPlain(const float* history, int offset, const float* window, float y[64]) {
    for (int i = 0; i < 64; i++) {
        float sum = history[(offset + i) & 511] * window[i];
        for (int j = 1; j < 8; j++) sum += history[(offset + i + 64 * j) & 511] * window[i + 64 * j];
        y[i] = sum;
    }
}

void MatrixPlain(const float folded[32], const float cosine[32][16], int32_t out[32]) {
    for (int k = 0; k < 16; k++) {
        float a = folded[0] * cosine[0][k], b = folded[1] * cosine[1][k];
        for (int t = 2; t < 32; t += 2) {
            a += folded[t] * cosine[t][k];
            b += folded[t + 1] * cosine[t + 1][k];
        }
        out[k] = static_cast<int32_t>(std::lrint(a + b));
        out[31 - k] = static_cast<int32_t>(std::lrint(a - b));
    }
}

void WindowSse2(const float* history, int offset, const float* window, float y[64]) {
    // offset is a multiple of 32, so every run of 4 stays inside the ring.
    for (int i = 0; i < 64; i += 4) {
        __m128 sum = _mm_mul_ps(_mm_loadu_ps(history + ((offset + i) & 511)), _mm_loadu_ps(window + i));
        for (int j = 1; j < 8; j++)
            sum = _mm_add_ps(sum, _mm_mul_ps(_mm_loadu_ps(history + ((offset + i + 64 * j) & 511)),
                                             _mm_loadu_ps(window + i + 64 * j)));
        _mm_storeu_ps(y + i, sum);
    }
}

void MatrixSse2(const float folded[32], const float cosine[32][16], int32_t out[32]) {
    for (int k = 0; k < 16; k += 4) {
        __m128 a = _mm_mul_ps(_mm_set1_ps(folded[0]), _mm_loadu_ps(cosine[0] + k));
        __m128 b = _mm_mul_ps(_mm_set1_ps(folded[1]), _mm_loadu_ps(cosine[1] + k));
        for (int t = 2; t < 32; t += 2) {
            a = _mm_add_ps(a, _mm_mul_ps(_mm_set1_ps(folded[t]), _mm_loadu_ps(cosine[t] + k)));
            b = _mm_add_ps(b, _mm_mul_ps(_mm_set1_ps(folded[t + 1]), _mm_loadu_ps(cosine[t + 1] + k)));
        }
        // Rounds to nearest, ties to even, as lrint does.
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k), _mm_cvtps_epi32(_mm_add_ps(a, b)));
        alignas(16) int32_t low[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(low), _mm_cvtps_epi32(_mm_sub_ps(a, b)));
        for (int j = 0; j < 4; j++) out[31 - k - j] = low[j];
    }
}

}  // namespace

AudioFilterKernels AudioFilterKernelSet = [] {
    AudioFilterKernels k;
    audio_filter_init(false, k);
    return k;
}();

void audio_filter_init(bool simd, AudioFilterKernels& table) {
    table.window = WindowPlain;
    table.matrix = MatrixPlain;
    if (simd) {
        table.window = WindowSse2;
        table.matrix = MatrixSse2;
    }
}

void WindowSubband(int channel) {
    int offset = Audio.filterOffset[channel];
    float* history = Audio.filterHistory[channel];
    const int16_t* in = Audio.readPos[channel];
    // Scaled by 2^11 (exactly) so that full scale comes out as 2^26.
    for (int j = 0; j < 32; j++) history[offset + 31 - j] = static_cast<float>(in[j]) * 2048.0f;
    Audio.readPos[channel] += 32;
    AudioFilterKernelSet.window(history, offset, AudioWindowTable, Audio.windowed[channel]);
    Audio.filterOffset[channel] = (offset - 32) & 511;
}

void FilterSubband(const float y[64], int32_t out[32]) {
    if (!Audio.cosineReady) {
        // Folded term t (0..31) carries the angle (2k+1) t pi / 64.
        for (int t = 0; t < 32; t++)
            for (int k = 0; k < 16; k++)
                Audio.cosine[t][k] = static_cast<float>(std::cos((2 * k + 1) * t * M_PI / 64.0));
        Audio.cosineReady = true;
    }
    // Terms that share a matrix coefficient are summed first: the angle of
    // input i is (2k+1)(i-16) pi / 64, even about i = 16, odd about i = 48
    // (whose coefficient is 0).
    float folded[32];
    folded[0] = y[16];
    for (int t = 1; t <= 16; t++) folded[t] = y[16 + t] + y[16 - t];
    for (int t = 17; t < 32; t++) folded[t] = y[16 + t] - y[80 - t];
    AudioFilterKernelSet.matrix(folded, Audio.cosine, out);
}
