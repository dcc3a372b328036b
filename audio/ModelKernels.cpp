// Kernels of the psychoacoustic model: the 1024-point FFT, the energy and
// phase of each line, sine and cosine, and the unpredictability, in a plain
// and a packed (SSE2, AVX2 with FMA for sine and cosine) form. Every lane of
// the packed form does the operations of the plain form in the same order,
// so the two agree bit for bit.
#include <immintrin.h>

#include <cmath>
#include <cstring>

#include "audio/AudioEncoder.h"

namespace {

constexpr int kBlock = 1024;

int32_t FloatBits(float f) {
    int32_t i;
    std::memcpy(&i, &f, sizeof i);
    return i;
}

// Arc tangent of |x| < 2^25 reduced around 0, 1/2, 1, 3/2 and infinity,
// with a polynomial of odd degree 21.
const float kAtanHigh[4] = {4.6364760399e-01f, 7.8539812565e-01f, 9.8279368877e-01f, 1.5707962513e+00f};
const float kAtanLow[4] = {5.0121582440e-09f, 3.7748947079e-08f, 3.4473217170e-08f, 7.5497894159e-08f};
const float kAtanPoly[11] = {3.3333334327e-01f,  -2.0000000298e-01f, 1.4285714924e-01f, -1.1111110449e-01f,
                             9.0908870101e-02f,  -7.6918758452e-02f, 6.6610731184e-02f, -5.8335702866e-02f,
                             4.9768779427e-02f,  -3.6531571299e-02f, 1.6285819933e-02f};
constexpr float kTiny = 1.0e-30f;
constexpr float kQuarterPi = 7.8539818525e-01f;
constexpr float kHalfPi = 1.5707963705e+00f;
constexpr float kPi = 3.1415927410e+00f;
constexpr float kPiLow = -8.7422776573e-08f;

float Atan(float x) {
    int32_t hx = FloatBits(x), ix = hx & 0x7fffffff;
    int id;
    if (ix >= 0x4c000000) {
        if (ix > 0x7f800000) return x + x;
        return hx > 0 ? kAtanHigh[3] + kAtanLow[3] : -kAtanHigh[3] - kAtanLow[3];
    }
    if (ix < 0x3ee00000) {
        if (ix < 0x31000000) return x;
        id = -1;
    } else {
        x = std::fabs(x);
        if (ix < 0x3f980000) {
            if (ix < 0x3f300000) {
                id = 0;
                x = (2.0f * x - 1.0f) / (2.0f + x);
            } else {
                id = 1;
                x = (x - 1.0f) / (x + 1.0f);
            }
        } else if (ix < 0x401c0000) {
            id = 2;
            x = (x - 1.5f) / (1.0f + 1.5f * x);
        } else {
            id = 3;
            x = -1.0f / x;
        }
    }
    const float* a = kAtanPoly;
    float z = x * x, w = z * z;
    float s1 = z * (a[0] + w * (a[2] + w * (a[4] + w * (a[6] + w * (a[8] + w * a[10])))));
    float s2 = w * (a[1] + w * (a[3] + w * (a[5] + w * (a[7] + w * a[9]))));
    if (id < 0) return x - x * (s1 + s2);
    z = kAtanHigh[id] - ((x * (s1 + s2) - kAtanLow[id]) - x);
    return hx < 0 ? -z : z;
}

// Spectral line from its FFT output: energy, and phase where the energy is
// worth one; floored lines carry at least a floor of energy.
void LinePlain(float re, float im, bool floored, float* power, float* phase) {
    float e = re * re + im * im;
    float ph = 0;
    if (floored) {
        if (e > 0.0005f)
            ph = ModelAtan2(im, re);
        else
            e = 0.0005f;
    } else if (e != 0) {
        ph = ModelAtan2(im, re);
    }
    *power = e;
    *phase = ph;
}

void SpectrumPlain(const float* re, const float* im, int count, int floored, float* power, float* phase) {
    for (int i = 0; i < count; i++) LinePlain(re[i], im[i], i < floored, power + i, phase + i);
}

void UnpredictabilityPlain(const float* power, const float* cosNow, const float* sinNow, const float* cosPred,
                           const float* sinPred, const float* last, float* oldest, int count, float* c) {
    for (int i = 0; i < count; i++) {
        float rPred = 2.0f * last[i] - oldest[i];
        float rNow = power[i] > 0 ? std::sqrt(power[i]) : 0.0f;
        oldest[i] = rNow;
        float dx = rNow * cosNow[i] - rPred * cosPred[i];
        float dy = rNow * sinNow[i] - rPred * sinPred[i];
        float divisor = rNow + std::fabs(rPred);
        c[i] = divisor != 0 ? std::sqrt(dx * dx + dy * dy) / divisor : 0.0f;
    }
}

void SpreadingPlain(const float (*spread)[64], const int (*band)[2], int groups, const float* e, const float* cw,
                    float* ecb, float* ct) {
    for (int j = 0; j < 4 * groups; j++) {
        float sum = 0, weighted = 0;
        for (int k = band[j / 4][0]; k <= band[j / 4][1]; k++) {
            sum += spread[k][j] * e[k];
            weighted += spread[k][j] * cw[k];
        }
        ecb[j] = sum;
        ct[j] = weighted;
    }
}

void FftPlain(float* re, float* im) {
    const float* cosv = AudioModelRotation(true);
    const float* sinv = AudioModelRotation(false);
    for (int span = kBlock / 2, step = 1; span >= 1; span >>= 1, step <<= 1) {
        for (int start = 0; start < kBlock; start += 2 * span) {
            for (int j = 0; j < span; j++) {
                int a = start + j, b = a + span;
                float tr = re[a] - re[b], ti = im[a] - im[b];
                re[a] = re[a] + re[b];
                im[a] = im[a] + im[b];
                float c = cosv[j * step], s = sinv[j * step];
                re[b] = tr * c - ti * s;
                im[b] = tr * s + ti * c;
            }
        }
    }
}

// One butterfly on four lanes: (a, b) becomes (a + b, (a - b) x rotation).
inline void Butterfly(__m128& ar, __m128& ai, __m128& br, __m128& bi, __m128 c, __m128 s) {
    __m128 tr = _mm_sub_ps(ar, br), ti = _mm_sub_ps(ai, bi);
    ar = _mm_add_ps(ar, br);
    ai = _mm_add_ps(ai, bi);
    br = _mm_sub_ps(_mm_mul_ps(tr, c), _mm_mul_ps(ti, s));
    bi = _mm_add_ps(_mm_mul_ps(tr, s), _mm_mul_ps(ti, c));
}

// Rotations of every stage side by side, so that four butterflies read four
// neighbouring factors.
struct StageRotations {
    alignas(16) float cosv[kBlock];
    alignas(16) float sinv[kBlock];
    int offset[10];
    StageRotations() {
        const float* c = AudioModelRotation(true);
        const float* s = AudioModelRotation(false);
        int at = 0;
        for (int stage = 0, span = kBlock / 2; span >= 1; stage++, span >>= 1) {
            offset[stage] = at;
            for (int j = 0; j < span; j++, at++) {
                cosv[at] = c[j << stage];
                sinv[at] = s[j << stage];
            }
        }
    }
};
const StageRotations& Stages() {
    static const StageRotations stages;
    return stages;
}

// The stages from span `span` down to span 4, and on through spans 2 and 1.
void FftTailSse2(float* re, float* im, int span) {
    const StageRotations& rot = Stages();
    int stage = __builtin_ctz(kBlock / 2) - __builtin_ctz(span);
    for (; span >= 4; span >>= 1, stage++) {
        const float* cs = rot.cosv + rot.offset[stage];
        const float* sn = rot.sinv + rot.offset[stage];
        for (int start = 0; start < kBlock; start += 2 * span)
            for (int j = 0; j < span; j += 4) {
                float *pa = re + start + j, *qa = im + start + j;
                __m128 ar = _mm_loadu_ps(pa), ai = _mm_loadu_ps(qa);
                __m128 br = _mm_loadu_ps(pa + span), bi = _mm_loadu_ps(qa + span);
                Butterfly(ar, ai, br, bi, _mm_loadu_ps(cs + j), _mm_loadu_ps(sn + j));
                _mm_storeu_ps(pa, ar);
                _mm_storeu_ps(qa, ai);
                _mm_storeu_ps(pa + span, br);
                _mm_storeu_ps(qa + span, bi);
            }
    }
    // Span 2: eight values hold two butterfly pairs (a0 a1 b0 b1).
    {
        const float* cs = rot.cosv + rot.offset[stage];
        const float* sn = rot.sinv + rot.offset[stage];
        __m128 c = _mm_setr_ps(cs[0], cs[1], cs[0], cs[1]), s = _mm_setr_ps(sn[0], sn[1], sn[0], sn[1]);
        for (int i = 0; i < kBlock; i += 8) {
            __m128 r0 = _mm_loadu_ps(re + i), r1 = _mm_loadu_ps(re + i + 4);
            __m128 i0 = _mm_loadu_ps(im + i), i1 = _mm_loadu_ps(im + i + 4);
            __m128 ar = _mm_movelh_ps(r0, r1), br = _mm_movehl_ps(r1, r0);
            __m128 ai = _mm_movelh_ps(i0, i1), bi = _mm_movehl_ps(i1, i0);
            Butterfly(ar, ai, br, bi, c, s);
            _mm_storeu_ps(re + i, _mm_movelh_ps(ar, br));
            _mm_storeu_ps(re + i + 4, _mm_movehl_ps(br, ar));
            _mm_storeu_ps(im + i, _mm_movelh_ps(ai, bi));
            _mm_storeu_ps(im + i + 4, _mm_movehl_ps(bi, ai));
        }
        stage++;
    }
    // Span 1: neighbours pair up (a0 b0 a1 b1).
    {
        __m128 c = _mm_set1_ps(rot.cosv[rot.offset[stage]]), s = _mm_set1_ps(rot.sinv[rot.offset[stage]]);
        for (int i = 0; i < kBlock; i += 8) {
            __m128 r0 = _mm_loadu_ps(re + i), r1 = _mm_loadu_ps(re + i + 4);
            __m128 i0 = _mm_loadu_ps(im + i), i1 = _mm_loadu_ps(im + i + 4);
            __m128 ar = _mm_shuffle_ps(r0, r1, _MM_SHUFFLE(2, 0, 2, 0)), br = _mm_shuffle_ps(r0, r1, _MM_SHUFFLE(3, 1, 3, 1));
            __m128 ai = _mm_shuffle_ps(i0, i1, _MM_SHUFFLE(2, 0, 2, 0)), bi = _mm_shuffle_ps(i0, i1, _MM_SHUFFLE(3, 1, 3, 1));
            Butterfly(ar, ai, br, bi, c, s);
            _mm_storeu_ps(re + i, _mm_unpacklo_ps(ar, br));
            _mm_storeu_ps(re + i + 4, _mm_unpackhi_ps(ar, br));
            _mm_storeu_ps(im + i, _mm_unpacklo_ps(ai, bi));
            _mm_storeu_ps(im + i + 4, _mm_unpackhi_ps(ai, bi));
        }
    }
}

void FftSse2(float* re, float* im) { FftTailSse2(re, im, kBlock / 2); }

// Spans 512 down to 8 eight butterflies at a time, then the packed tail.
__attribute__((target("avx2"))) void FftAvx2(float* re, float* im) {
    const StageRotations& rot = Stages();
    int stage = 0, span = kBlock / 2;
    for (; span >= 8; span >>= 1, stage++) {
        const float* cs = rot.cosv + rot.offset[stage];
        const float* sn = rot.sinv + rot.offset[stage];
        for (int start = 0; start < kBlock; start += 2 * span)
            for (int j = 0; j < span; j += 8) {
                float *pa = re + start + j, *qa = im + start + j;
                __m256 ar = _mm256_loadu_ps(pa), ai = _mm256_loadu_ps(qa);
                __m256 br = _mm256_loadu_ps(pa + span), bi = _mm256_loadu_ps(qa + span);
                __m256 c = _mm256_loadu_ps(cs + j), s = _mm256_loadu_ps(sn + j);
                __m256 tr = _mm256_sub_ps(ar, br), ti = _mm256_sub_ps(ai, bi);
                _mm256_storeu_ps(pa, _mm256_add_ps(ar, br));
                _mm256_storeu_ps(qa, _mm256_add_ps(ai, bi));
                _mm256_storeu_ps(pa + span, _mm256_sub_ps(_mm256_mul_ps(tr, c), _mm256_mul_ps(ti, s)));
                _mm256_storeu_ps(qa + span, _mm256_add_ps(_mm256_mul_ps(tr, s), _mm256_mul_ps(ti, c)));
            }
    }
    FftTailSse2(re, im, span);
}

inline __m128 Select(__m128 mask, __m128 yes, __m128 no) {
    return _mm_or_ps(_mm_and_ps(mask, yes), _mm_andnot_ps(mask, no));
}

// Arc tangents of four lines whose ratio |y / x| lies in [2^-29, 2^25); the
// lanes outside that range are marked in *odd and left to the plain form.
__m128 Atan2Sse2(__m128 y, __m128 x, int* odd) {
    const __m128 sign = _mm_castsi128_ps(_mm_set1_epi32(INT32_MIN));
    __m128 t = _mm_andnot_ps(sign, _mm_div_ps(y, x));
    __m128 inRange = _mm_and_ps(_mm_cmpge_ps(t, _mm_set1_ps(0x1p-29f)), _mm_cmplt_ps(t, _mm_set1_ps(0x1p25f)));
    *odd = ~_mm_movemask_ps(inRange) & 15;
    __m128i ix = _mm_castps_si128(t);
    __m128 below0 = _mm_castsi128_ps(_mm_cmplt_epi32(ix, _mm_set1_epi32(0x3ee00000)));
    __m128 below1 = _mm_castsi128_ps(_mm_cmplt_epi32(ix, _mm_set1_epi32(0x3f300000)));
    __m128 below2 = _mm_castsi128_ps(_mm_cmplt_epi32(ix, _mm_set1_epi32(0x3f980000)));
    __m128 below3 = _mm_castsi128_ps(_mm_cmplt_epi32(ix, _mm_set1_epi32(0x401c0000)));
    const __m128 one = _mm_set1_ps(1.0f), two = _mm_set1_ps(2.0f), half3 = _mm_set1_ps(1.5f);
    // Numerator and denominator of the reduced argument of each interval.
    __m128 num = Select(below3, _mm_sub_ps(t, half3), _mm_set1_ps(-1.0f));
    __m128 den = Select(below3, _mm_add_ps(one, _mm_mul_ps(half3, t)), t);
    num = Select(below2, _mm_sub_ps(t, one), num);
    den = Select(below2, _mm_add_ps(t, one), den);
    num = Select(below1, _mm_sub_ps(_mm_mul_ps(two, t), one), num);
    den = Select(below1, _mm_add_ps(two, t), den);
    num = Select(below0, t, num);
    den = Select(below0, one, den);
    __m128 r = _mm_div_ps(num, den);
    __m128 hi = Select(below3, _mm_set1_ps(kAtanHigh[2]), _mm_set1_ps(kAtanHigh[3]));
    __m128 lo = Select(below3, _mm_set1_ps(kAtanLow[2]), _mm_set1_ps(kAtanLow[3]));
    hi = Select(below2, _mm_set1_ps(kAtanHigh[1]), hi);
    lo = Select(below2, _mm_set1_ps(kAtanLow[1]), lo);
    hi = Select(below1, _mm_set1_ps(kAtanHigh[0]), hi);
    lo = Select(below1, _mm_set1_ps(kAtanLow[0]), lo);

    const float* a = kAtanPoly;
    auto k = [](float v) { return _mm_set1_ps(v); };
    __m128 z = _mm_mul_ps(r, r), w = _mm_mul_ps(z, z);
    __m128 s1 = _mm_add_ps(k(a[8]), _mm_mul_ps(w, k(a[10])));
    s1 = _mm_add_ps(k(a[6]), _mm_mul_ps(w, s1));
    s1 = _mm_add_ps(k(a[4]), _mm_mul_ps(w, s1));
    s1 = _mm_add_ps(k(a[2]), _mm_mul_ps(w, s1));
    s1 = _mm_mul_ps(z, _mm_add_ps(k(a[0]), _mm_mul_ps(w, s1)));
    __m128 s2 = _mm_add_ps(k(a[7]), _mm_mul_ps(w, k(a[9])));
    s2 = _mm_add_ps(k(a[5]), _mm_mul_ps(w, s2));
    s2 = _mm_add_ps(k(a[3]), _mm_mul_ps(w, s2));
    s2 = _mm_mul_ps(w, _mm_add_ps(k(a[1]), _mm_mul_ps(w, s2)));
    __m128 rs = _mm_mul_ps(r, _mm_add_ps(s1, s2));
    __m128 near = _mm_sub_ps(r, rs);
    __m128 far = _mm_sub_ps(hi, _mm_sub_ps(_mm_sub_ps(rs, lo), r));
    __m128 angle = Select(below0, near, far);

    // Quadrant: x < 0 turns the angle through pi, y < 0 mirrors it.
    __m128 negX = _mm_castsi128_ps(_mm_srai_epi32(_mm_castps_si128(x), 31));
    __m128 negY = _mm_and_ps(y, sign);
    __m128 reduced = _mm_sub_ps(angle, _mm_set1_ps(kPiLow));
    __m128 left = Select(negY, _mm_sub_ps(reduced, _mm_set1_ps(kPi)), _mm_sub_ps(_mm_set1_ps(kPi), reduced));
    return Select(negX, left, _mm_xor_ps(angle, negY));
}

void SpectrumSse2(const float* re, const float* im, int count, int floored, float* power, float* phase) {
    const __m128 floor = _mm_set1_ps(0.0005f);
    const __m128i flooredV = _mm_set1_epi32(floored);
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        // Lanes of lines below `floored`.
        const __m128 low =
            _mm_castsi128_ps(_mm_cmpgt_epi32(flooredV, _mm_add_epi32(_mm_set1_epi32(i), _mm_setr_epi32(0, 1, 2, 3))));
        __m128 x = _mm_loadu_ps(re + i), y = _mm_loadu_ps(im + i);
        __m128 e = _mm_add_ps(_mm_mul_ps(x, x), _mm_mul_ps(y, y));
        __m128 strong = _mm_cmpgt_ps(e, floor);
        __m128 wanted = Select(low, strong, _mm_cmpneq_ps(e, _mm_setzero_ps()));
        _mm_storeu_ps(power + i, Select(_mm_andnot_ps(strong, low), floor, e));
        int want = _mm_movemask_ps(wanted);
        if (!want) {
            _mm_storeu_ps(phase + i, _mm_setzero_ps());
            continue;
        }
        int odd;
        __m128 ph = _mm_and_ps(wanted, Atan2Sse2(y, x, &odd));
        _mm_storeu_ps(phase + i, ph);
        for (int lane = 0, rest = odd & want; rest; lane++, rest >>= 1)
            if (rest & 1) phase[i + lane] = ModelAtan2(im[i + lane], re[i + lane]);
    }
    for (; i < count; i++) LinePlain(re[i], im[i], i < floored, power + i, phase + i);
}

__attribute__((target("avx2"))) inline __m256 Select(__m256 mask, __m256 yes, __m256 no) {
    return _mm256_or_ps(_mm256_and_ps(mask, yes), _mm256_andnot_ps(mask, no));
}

// Arc tangents of eight lines, as Atan2Sse2 does for four whose ratio |y / x| lies in [2^-29, 2^25); the
// lanes outside that range are marked in *odd and left to the plain form.
__attribute__((target("avx2"))) __m256 Atan2Avx2(__m256 y, __m256 x, int* odd) {
    const __m256 sign = _mm256_castsi256_ps(_mm256_set1_epi32(INT32_MIN));
    __m256 t = _mm256_andnot_ps(sign, _mm256_div_ps(y, x));
    __m256 inRange = _mm256_and_ps(_mm256_cmp_ps(t, _mm256_set1_ps(0x1p-29f), _CMP_GE_OQ), _mm256_cmp_ps(t, _mm256_set1_ps(0x1p25f), _CMP_LT_OQ));
    *odd = ~_mm256_movemask_ps(inRange) & 255;
    __m256i ix = _mm256_castps_si256(t);
    __m256 below0 = _mm256_castsi256_ps(_mm256_cmpgt_epi32(_mm256_set1_epi32(0x3ee00000), ix));
    __m256 below1 = _mm256_castsi256_ps(_mm256_cmpgt_epi32(_mm256_set1_epi32(0x3f300000), ix));
    __m256 below2 = _mm256_castsi256_ps(_mm256_cmpgt_epi32(_mm256_set1_epi32(0x3f980000), ix));
    __m256 below3 = _mm256_castsi256_ps(_mm256_cmpgt_epi32(_mm256_set1_epi32(0x401c0000), ix));
    const __m256 one = _mm256_set1_ps(1.0f), two = _mm256_set1_ps(2.0f), half3 = _mm256_set1_ps(1.5f);
    // Numerator and denominator of the reduced argument of each interval.
    __m256 num = Select(below3, _mm256_sub_ps(t, half3), _mm256_set1_ps(-1.0f));
    __m256 den = Select(below3, _mm256_add_ps(one, _mm256_mul_ps(half3, t)), t);
    num = Select(below2, _mm256_sub_ps(t, one), num);
    den = Select(below2, _mm256_add_ps(t, one), den);
    num = Select(below1, _mm256_sub_ps(_mm256_mul_ps(two, t), one), num);
    den = Select(below1, _mm256_add_ps(two, t), den);
    num = Select(below0, t, num);
    den = Select(below0, one, den);
    __m256 r = _mm256_div_ps(num, den);
    __m256 hi = Select(below3, _mm256_set1_ps(kAtanHigh[2]), _mm256_set1_ps(kAtanHigh[3]));
    __m256 lo = Select(below3, _mm256_set1_ps(kAtanLow[2]), _mm256_set1_ps(kAtanLow[3]));
    hi = Select(below2, _mm256_set1_ps(kAtanHigh[1]), hi);
    lo = Select(below2, _mm256_set1_ps(kAtanLow[1]), lo);
    hi = Select(below1, _mm256_set1_ps(kAtanHigh[0]), hi);
    lo = Select(below1, _mm256_set1_ps(kAtanLow[0]), lo);

    const float* a = kAtanPoly;
        __m256 z = _mm256_mul_ps(r, r), w = _mm256_mul_ps(z, z);
    __m256 s1 = _mm256_add_ps(_mm256_set1_ps(a[8]), _mm256_mul_ps(w, _mm256_set1_ps(a[10])));
    s1 = _mm256_add_ps(_mm256_set1_ps(a[6]), _mm256_mul_ps(w, s1));
    s1 = _mm256_add_ps(_mm256_set1_ps(a[4]), _mm256_mul_ps(w, s1));
    s1 = _mm256_add_ps(_mm256_set1_ps(a[2]), _mm256_mul_ps(w, s1));
    s1 = _mm256_mul_ps(z, _mm256_add_ps(_mm256_set1_ps(a[0]), _mm256_mul_ps(w, s1)));
    __m256 s2 = _mm256_add_ps(_mm256_set1_ps(a[7]), _mm256_mul_ps(w, _mm256_set1_ps(a[9])));
    s2 = _mm256_add_ps(_mm256_set1_ps(a[5]), _mm256_mul_ps(w, s2));
    s2 = _mm256_add_ps(_mm256_set1_ps(a[3]), _mm256_mul_ps(w, s2));
    s2 = _mm256_mul_ps(w, _mm256_add_ps(_mm256_set1_ps(a[1]), _mm256_mul_ps(w, s2)));
    __m256 rs = _mm256_mul_ps(r, _mm256_add_ps(s1, s2));
    __m256 near = _mm256_sub_ps(r, rs);
    __m256 far = _mm256_sub_ps(hi, _mm256_sub_ps(_mm256_sub_ps(rs, lo), r));
    __m256 angle = Select(below0, near, far);

    // Quadrant: x < 0 turns the angle through pi, y < 0 mirrors it.
    __m256 negX = _mm256_castsi256_ps(_mm256_srai_epi32(_mm256_castps_si256(x), 31));
    __m256 negY = _mm256_and_ps(y, sign);
    __m256 reduced = _mm256_sub_ps(angle, _mm256_set1_ps(kPiLow));
    __m256 left = Select(negY, _mm256_sub_ps(reduced, _mm256_set1_ps(kPi)), _mm256_sub_ps(_mm256_set1_ps(kPi), reduced));
    return Select(negX, left, _mm256_xor_ps(angle, negY));
}

__attribute__((target("avx2"))) void SpectrumAvx2(const float* re, const float* im, int count, int floored, float* power, float* phase) {
    const __m256 floor = _mm256_set1_ps(0.0005f);
    const __m256i flooredV = _mm256_set1_epi32(floored);
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256 low = _mm256_castsi256_ps(
            _mm256_cmpgt_epi32(flooredV, _mm256_add_epi32(_mm256_set1_epi32(i), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7))));
        __m256 x = _mm256_loadu_ps(re + i), y = _mm256_loadu_ps(im + i);
        __m256 e = _mm256_add_ps(_mm256_mul_ps(x, x), _mm256_mul_ps(y, y));
        __m256 strong = _mm256_cmp_ps(e, floor, _CMP_GT_OQ);
        __m256 wanted = Select(low, strong, _mm256_cmp_ps(e, _mm256_setzero_ps(), _CMP_NEQ_UQ));
        _mm256_storeu_ps(power + i, Select(_mm256_andnot_ps(strong, low), floor, e));
        int want = _mm256_movemask_ps(wanted);
        if (!want) {
            _mm256_storeu_ps(phase + i, _mm256_setzero_ps());
            continue;
        }
        int odd;
        __m256 ph = _mm256_and_ps(wanted, Atan2Avx2(y, x, &odd));
        _mm256_storeu_ps(phase + i, ph);
        for (int lane = 0, rest = odd & want; rest; lane++, rest >>= 1)
            if (rest & 1) phase[i + lane] = ModelAtan2(im[i + lane], re[i + lane]);
    }
    for (; i < count; i++) LinePlain(re[i], im[i], i < floored, power + i, phase + i);
}

void SpreadingSse2(const float (*spread)[64], const int (*band)[2], int groups, const float* e, const float* cw,
                   float* ecb, float* ct) {
    for (int g = 0; g < groups; g++) {
        __m128 sum = _mm_setzero_ps(), weighted = _mm_setzero_ps();
        for (int k = band[g][0]; k <= band[g][1]; k++) {
            __m128 s = _mm_load_ps(spread[k] + 4 * g);
            sum = _mm_add_ps(sum, _mm_mul_ps(s, _mm_set1_ps(e[k])));
            weighted = _mm_add_ps(weighted, _mm_mul_ps(s, _mm_set1_ps(cw[k])));
        }
        _mm_storeu_ps(ecb + 4 * g, sum);
        _mm_storeu_ps(ct + 4 * g, weighted);
    }
}

void UnpredictabilitySse2(const float* power, const float* cosNow, const float* sinNow, const float* cosPred,
                          const float* sinPred, const float* last, float* oldest, int count, float* c) {
    const __m128 zero = _mm_setzero_ps(), sign = _mm_set1_ps(-0.0f), two = _mm_set1_ps(2.0f);
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        __m128 rPred = _mm_sub_ps(_mm_mul_ps(two, _mm_loadu_ps(last + i)), _mm_loadu_ps(oldest + i));
        __m128 e = _mm_loadu_ps(power + i);
        __m128 rNow = _mm_and_ps(_mm_cmpgt_ps(e, zero), _mm_sqrt_ps(e));
        _mm_storeu_ps(oldest + i, rNow);
        __m128 dx = _mm_sub_ps(_mm_mul_ps(rNow, _mm_loadu_ps(cosNow + i)), _mm_mul_ps(rPred, _mm_loadu_ps(cosPred + i)));
        __m128 dy = _mm_sub_ps(_mm_mul_ps(rNow, _mm_loadu_ps(sinNow + i)), _mm_mul_ps(rPred, _mm_loadu_ps(sinPred + i)));
        __m128 divisor = _mm_add_ps(rNow, _mm_andnot_ps(sign, rPred));
        __m128 ratio = _mm_div_ps(_mm_sqrt_ps(_mm_add_ps(_mm_mul_ps(dx, dx), _mm_mul_ps(dy, dy))), divisor);
        _mm_storeu_ps(c + i, _mm_andnot_ps(_mm_cmpeq_ps(divisor, zero), ratio));
    }
    UnpredictabilityPlain(power + i, cosNow + i, sinNow + i, cosPred + i, sinPred + i, last + i, oldest + i, count - i,
                          c + i);
}

// Sine and cosine of |x| < 120: reduction by the multiple of pi/2 nearest
// to x, then polynomials in double precision with fused multiply-adds.
// Entry 1 serves the quadrants 2 and 3: its cosine terms are negated.
struct SinCosTerms {
    double c0, c1, s1, c2, s2, c3, s3, c4;
};
const SinCosTerms kSinCos[2] = {
    {0x1p+0, -0x1.ffffffd0c621cp-2, -0x1.555545995a603p-3, 0x1.55553e1068f19p-5, 0x1.1107605230bc4p-7,
     -0x1.6c087e89a359dp-10, -0x1.994eb3774cf24p-13, 0x1.99343027bf8c3p-16},
    {-0x1p+0, 0x1.ffffffd0c621cp-2, -0x1.555545995a603p-3, -0x1.55553e1068f19p-5, 0x1.1107605230bc4p-7,
     0x1.6c087e89a359dp-10, -0x1.994eb3774cf24p-13, -0x1.99343027bf8c3p-16}};
constexpr double kQuadrantsPerUnit = 0x1.45f306dc9c883p+23;  // 2^24 x 2 / pi
constexpr double kHalfPiDouble = 0x1.921fb54442d18p+0;
constexpr uint32_t kTinyTop = 0x398, kSmallTop = 0x3f4, kReducedTop = 0x42f;  // 2^-12, 0.75, 120

void SinCosOne(float y, float* sine, float* cosine) {
    uint32_t top = (static_cast<uint32_t>(FloatBits(y)) >> 20) & 0x7ff;
    if (top >= kReducedTop) {
        *sine = std::sin(y);
        *cosine = std::cos(y);
        return;
    }
    if (top < kTinyTop) {
        *sine = y;
        *cosine = 1.0f;
        return;
    }
    double x = y, xs = x, x2 = x * x;
    int n = 0;
    const SinCosTerms* p = &kSinCos[0];
    if (top >= kSmallTop) {
        n = (static_cast<int32_t>(x * kQuadrantsPerUnit) + 0x800000) >> 24;
        double r = std::fma(-static_cast<double>(n), kHalfPiDouble, x);
        xs = ((n ^ (n >> 1)) & 1) ? r * -1.0 : r * 1.0;
        x2 = r * r;
        if (n & 2) p = &kSinCos[1];
    }
    double x3 = x2 * xs, x4 = x2 * x2, x5 = x2 * x3, x6 = x2 * x4;
    double s1 = std::fma(x2, p->s3, p->s2), c2 = std::fma(x2, p->c4, p->c3);
    double c1 = std::fma(x2, p->c1, p->c0);
    double s = std::fma(x3, p->s1, xs), c = std::fma(x4, p->c2, c1);
    float a = static_cast<float>(std::fma(s1, x5, s)), b = static_cast<float>(std::fma(c2, x6, c));
    *sine = (n & 1) ? b : a;
    *cosine = (n & 1) ? a : b;
}

void SinCosPlain(const float* angle, int count, float* sine, float* cosine) {
    for (int i = 0; i < count; i++) SinCosOne(angle[i], sine + i, cosine + i);
}

__attribute__((target("avx2,fma"))) void SinCosAvx2(const float* angle, int count, float* sine, float* cosine) {
    const SinCosTerms &p0 = kSinCos[0], &p1 = kSinCos[1];
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        __m128 y = _mm_loadu_ps(angle + i);
        __m128i top = _mm_and_si128(_mm_srli_epi32(_mm_castps_si128(y), 20), _mm_set1_epi32(0x7ff));
        if (_mm_movemask_epi8(_mm_cmpgt_epi32(top, _mm_set1_epi32(kReducedTop - 1)))) {
            for (int k = i; k < i + 4; k++) SinCosOne(angle[k], sine + k, cosine + k);
            continue;
        }
        __m128i reduce = _mm_cmpgt_epi32(top, _mm_set1_epi32(kSmallTop - 1));
        __m256d x = _mm256_cvtps_pd(y);
        __m128i n = _mm_srai_epi32(
            _mm_add_epi32(_mm256_cvttpd_epi32(_mm256_mul_pd(x, _mm256_set1_pd(kQuadrantsPerUnit))),
                          _mm_set1_epi32(0x800000)),
            24);
        n = _mm_and_si128(n, reduce);
        __m256d r = _mm256_fnmadd_pd(_mm256_cvtepi32_pd(n), _mm256_set1_pd(kHalfPiDouble), x);
        __m256d wide = _mm256_castsi256_pd(_mm256_cvtepi32_epi64(reduce));
        __m256d negate = _mm256_castsi256_pd(
            _mm256_cvtepi32_epi64(_mm_sub_epi32(_mm_setzero_si128(),
                                                _mm_and_si128(_mm_xor_si128(n, _mm_srai_epi32(n, 1)), _mm_set1_epi32(1)))));
        __m256d turn = _mm256_castsi256_pd(_mm256_cvtepi32_epi64(
            _mm_cmpeq_epi32(_mm_and_si128(n, _mm_set1_epi32(2)), _mm_set1_epi32(2))));
        __m256d xs = _mm256_mul_pd(r, _mm256_blendv_pd(_mm256_set1_pd(1.0), _mm256_set1_pd(-1.0), negate));
        xs = _mm256_blendv_pd(x, xs, wide);
        __m256d x2 = _mm256_blendv_pd(_mm256_mul_pd(x, x), _mm256_mul_pd(r, r), wide);
        __m256d x3 = _mm256_mul_pd(x2, xs), x4 = _mm256_mul_pd(x2, x2);
        __m256d x5 = _mm256_mul_pd(x2, x3), x6 = _mm256_mul_pd(x2, x4);
        __m256d s1 = _mm256_fmadd_pd(x2, _mm256_blendv_pd(_mm256_set1_pd(p0.s3), _mm256_set1_pd(p1.s3), turn),
                                     _mm256_blendv_pd(_mm256_set1_pd(p0.s2), _mm256_set1_pd(p1.s2), turn));
        __m256d c2 = _mm256_fmadd_pd(x2, _mm256_blendv_pd(_mm256_set1_pd(p0.c4), _mm256_set1_pd(p1.c4), turn),
                                     _mm256_blendv_pd(_mm256_set1_pd(p0.c3), _mm256_set1_pd(p1.c3), turn));
        __m256d c1 = _mm256_fmadd_pd(x2, _mm256_blendv_pd(_mm256_set1_pd(p0.c1), _mm256_set1_pd(p1.c1), turn),
                                     _mm256_blendv_pd(_mm256_set1_pd(p0.c0), _mm256_set1_pd(p1.c0), turn));
        __m256d s = _mm256_fmadd_pd(x3, _mm256_blendv_pd(_mm256_set1_pd(p0.s1), _mm256_set1_pd(p1.s1), turn), xs);
        __m256d c = _mm256_fmadd_pd(x4, _mm256_blendv_pd(_mm256_set1_pd(p0.c2), _mm256_set1_pd(p1.c2), turn), c1);
        __m128 a = _mm256_cvtpd_ps(_mm256_fmadd_pd(s1, x5, s));
        __m128 b = _mm256_cvtpd_ps(_mm256_fmadd_pd(c2, x6, c));
        __m128 odd = _mm_castsi128_ps(_mm_cmpeq_epi32(_mm_and_si128(n, _mm_set1_epi32(1)), _mm_set1_epi32(1)));
        __m128 tiny = _mm_castsi128_ps(_mm_cmplt_epi32(top, _mm_set1_epi32(kTinyTop)));
        _mm_storeu_ps(sine + i, _mm_blendv_ps(_mm_blendv_ps(a, b, odd), y, tiny));
        _mm_storeu_ps(cosine + i, _mm_blendv_ps(_mm_blendv_ps(b, a, odd), _mm_set1_ps(1.0f), tiny));
    }
    SinCosPlain(angle + i, count - i, sine + i, cosine + i);
}

}  // namespace

float ModelAtan2(float y, float x) {
    int32_t hx = FloatBits(x), ix = hx & 0x7fffffff, hy = FloatBits(y), iy = hy & 0x7fffffff;
    if (ix > 0x7f800000 || iy > 0x7f800000) return x + y;
    if (hx == 0x3f800000) return Atan(y);
    int m = ((hy >> 31) & 1) | ((hx >> 30) & 2);
    if (iy == 0) {
        switch (m) {
        case 0:
        case 1: return y;
        case 2: return kPi + kTiny;
        default: return -kPi - kTiny;
        }
    }
    if (ix == 0) return hy < 0 ? -kHalfPi - kTiny : kHalfPi + kTiny;
    if (ix == 0x7f800000) {
        if (iy == 0x7f800000) {
            switch (m) {
            case 0: return kQuarterPi + kTiny;
            case 1: return -kQuarterPi - kTiny;
            case 2: return 3.0f * kQuarterPi + kTiny;
            default: return -3.0f * kQuarterPi - kTiny;
            }
        }
        switch (m) {
        case 0: return 0.0f;
        case 1: return -0.0f;
        case 2: return kPi + kTiny;
        default: return -kPi - kTiny;
        }
    }
    if (iy == 0x7f800000) return hy < 0 ? -kHalfPi - kTiny : kHalfPi + kTiny;
    int k = (iy - ix) >> 23;
    float z;
    if (k > 60)
        z = kHalfPi + 0.5f * kPiLow;
    else if (hx < 0 && k < -60)
        z = 0.0f;
    else
        z = Atan(std::fabs(y / x));
    switch (m) {
    case 0: return z;
    case 1: return -z;
    case 2: return kPi - (z - kPiLow);
    default: return (z - kPiLow) - kPi;
    }
}

const float* AudioModelRotation(bool cosine) {
    struct Rotation {
        float cosv[kBlock / 2];
        float sinv[kBlock / 2];
        Rotation() {
            for (int i = 0; i < kBlock / 2; i++) {
                cosv[i] = static_cast<float>(std::cos(2.0 * M_PI * i / kBlock));
                sinv[i] = static_cast<float>(-std::sin(2.0 * M_PI * i / kBlock));
            }
        }
    };
    static const Rotation rotation;
    return cosine ? rotation.cosv : rotation.sinv;
}


void audio_model_init(bool simd, AudioModelKernels& table, bool wide) {
    table.fft = FftPlain;
    table.spectrum = SpectrumPlain;
    table.unpredictability = UnpredictabilityPlain;
    table.sincos = SinCosPlain;
    table.spreading = SpreadingPlain;
    if (!simd) return;
    table.fft = FftSse2;
    table.spectrum = SpectrumSse2;
    table.unpredictability = UnpredictabilitySse2;
    table.spreading = SpreadingSse2;
    // Sine and cosine have no SSE2 form: without FMA, lanes would round differently.
    if (wide && __builtin_cpu_supports("avx2")) {
        table.fft = FftAvx2;
        table.spectrum = SpectrumAvx2;
    }
    if (wide && __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) table.sincos = SinCosAvx2;
}

AudioModelKernels AudioModelKernelSet = [] {
    AudioModelKernels k;
    audio_model_init(false, k);
    return k;
}();
