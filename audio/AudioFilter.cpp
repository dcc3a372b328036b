// Polyphase analysis filterbank in 16-bit fixed point: windowing and
// matrixing, with a plain and a packed (SSE2) form that agree bit for bit.
#include <emmintrin.h>

#include <cmath>
#include <cstring>

#include "audio/AudioEncoder.h"
#include "job/EncoderSettings.h"

namespace {

void WindowPlain(const int16_t* history, int offset, const int16_t* window, int16_t* z) {
    for (int i = 0; i < 512; i++)
        z[i] = static_cast<int16_t>((static_cast<int32_t>(history[(offset + i) & 511]) * window[i]) >> 16);
}

// One dot product of 16 terms with the halving tree both forms share: pair
// sums halved, then sums of entries four apart halved, then two apart
// halved, then the last two added.
int32_t TreeSum(const int32_t pair[8]) {
    int32_t q[8], r[4], u[2];
    for (int j = 0; j < 8; j++) q[j] = pair[j] >> 1;
    for (int j = 0; j < 4; j++) r[j] = (q[j] + q[j + 4]) >> 1;
    for (int j = 0; j < 2; j++) u[j] = (r[j] + r[j + 2]) >> 1;
    return u[0] + u[1];
}

void MatrixPlain(const int16_t folded[32], const int16_t cosine[16][32], int32_t out[32]) {
    for (int k = 0; k < 16; k++) {
        int32_t pairA[8], pairB[8];
        for (int j = 0; j < 8; j++) {
            pairA[j] = folded[2 * j] * cosine[k][2 * j] + folded[2 * j + 1] * cosine[k][2 * j + 1];
            pairB[j] = folded[16 + 2 * j] * cosine[k][16 + 2 * j] + folded[17 + 2 * j] * cosine[k][17 + 2 * j];
        }
        int32_t a = TreeSum(pairA), b = TreeSum(pairB);
        out[k] = a + b;
        out[31 - k] = a - b;
    }
}

void WindowSse2(const int16_t* history, int offset, const int16_t* window, int16_t* z) {
    // offset is a multiple of 32, so every run of 8 stays inside the ring.
    for (int i = 0; i < 512; i += 8) {
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(history + ((offset + i) & 511)));
        __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(window + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(z + i), _mm_mulhi_epi16(x, w));
    }
}

int32_t TreeSumSse2(__m128i lo, __m128i hi) {
    __m128i r = _mm_srai_epi32(_mm_add_epi32(_mm_srai_epi32(lo, 1), _mm_srai_epi32(hi, 1)), 1);
    __m128i u = _mm_srai_epi32(_mm_add_epi32(r, _mm_shuffle_epi32(r, _MM_SHUFFLE(1, 0, 3, 2))), 1);
    return _mm_cvtsi128_si32(u) + _mm_cvtsi128_si32(_mm_shuffle_epi32(u, _MM_SHUFFLE(3, 2, 0, 1)));
}

void MatrixSse2(const int16_t folded[32], const int16_t cosine[16][32], int32_t out[32]) {
    const __m128i* f = reinterpret_cast<const __m128i*>(folded);
    __m128i f0 = _mm_loadu_si128(f), f1 = _mm_loadu_si128(f + 1), f2 = _mm_loadu_si128(f + 2),
            f3 = _mm_loadu_si128(f + 3);
    for (int k = 0; k < 16; k++) {
        const __m128i* c = reinterpret_cast<const __m128i*>(cosine[k]);
        int32_t a = TreeSumSse2(_mm_madd_epi16(f0, _mm_loadu_si128(c)), _mm_madd_epi16(f1, _mm_loadu_si128(c + 1)));
        int32_t b =
            TreeSumSse2(_mm_madd_epi16(f2, _mm_loadu_si128(c + 2)), _mm_madd_epi16(f3, _mm_loadu_si128(c + 3)));
        out[k] = a + b;
        out[31 - k] = a - b;
    }
}

// trunc(32767 cos(m pi / 64)) for any integer angle m, built from the first
// quadrant so that the symmetries hold exactly.
int16_t CosineCoefficient(int m) {
    m = ((m % 128) + 128) % 128;
    if (m > 64) m = 128 - m;
    int sign = 1;
    if (m > 32) {
        m = 64 - m;
        sign = -1;
    }
    if (m == 0) return static_cast<int16_t>(sign * 32767);
    return static_cast<int16_t>(sign * static_cast<int>(std::trunc(32767.0 * std::cos(m * M_PI / 64.0))));
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
    int16_t* history = Audio.filterHistory[channel];
    const int16_t* in = Audio.readPos[channel];
    for (int j = 0; j < 32; j++) history[offset + 31 - j] = in[j];
    Audio.readPos[channel] += 32;
    AudioFilterKernelSet.window(history, offset, AudioWindowTable, Audio.windowed[channel]);
    Audio.filterOffset[channel] = (offset - 32) & 511;
}

void FilterSubband(const int16_t* z, int32_t out[32]) {
    if (!Audio.cosineReady) {
        // Folded term t (0..31) carries angle (2k+1) t; even terms first.
        for (int k = 0; k < 16; k++)
            for (int j = 0; j < 16; j++) {
                Audio.cosine[k][j] = CosineCoefficient((2 * k + 1) * (2 * j));
                Audio.cosine[k][16 + j] = CosineCoefficient((2 * k + 1) * (2 * j + 1));
            }
        Audio.cosineReady = true;
    }
    int16_t y[64];
    for (int i = 0; i < 64; i++) {
        int32_t sum = 8;
        for (int j = 0; j < 8; j++) sum += z[i + 64 * j];
        y[i] = static_cast<int16_t>(sum >> 4);
    }
    // Terms that share a matrix coefficient are summed first (in 16 bits).
    int16_t term[32];
    term[0] = y[16];
    for (int t = 1; t <= 16; t++) term[t] = static_cast<int16_t>(y[16 + t] + y[16 - t]);
    for (int t = 17; t < 32; t++) term[t] = static_cast<int16_t>(y[16 + t] - y[80 - t]);
    int16_t folded[32];
    for (int j = 0; j < 16; j++) {
        folded[j] = term[2 * j];
        folded[16 + j] = term[2 * j + 1];
    }
    AudioFilterKernelSet.matrix(folded, Audio.cosine, out);
}
