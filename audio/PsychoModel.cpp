// Psychoacoustic model 2 for Layer II: two 1024-point analyses a frame,
// unpredictability as tonality measure, spreading over partitions of about a
// third of a bark, absolute threshold; gives 32 signal-to-mask ratios.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "audio/AudioEncoder.h"
#include "settings/EncoderSettings.h"

namespace {

constexpr int kBlock = 1024;
constexpr int kLines = 513;
constexpr int kMaxPartitions = 63;
constexpr int kFlush = 576;
constexpr int kKeep = 480;
constexpr float kTopThreshold = 60802371420160.0f;

const float kBarkEdges[27] = {0,    100,  200,  300,  400,  510,  630,  770,  920,  1080,  1270,  1480,  1720, 2000,
                              2320, 2700, 3150, 3700, 4400, 5300, 6400, 7700, 9500, 12000, 15500, 25000, 30000};
const float kMinSnr[27] = {20, 20, 20, 20, 20, 17, 15, 10, 7, 4.4f, 4.5f, 4.5f, 4.5f, 4.5f, 4.5f, 4.5f, 4.5f, 4.5f, 4.5f, 4.5f, 4.5f, 4.5f, 4.5f, 4.5f, 3.5f, 3.5f, 3.5f};

// Kept for the whole encoding; built by the first call.
struct ModelState {
    bool ready = false;
    int partitions = 0;
    int numlines[kMaxPartitions];
    int partition[kLines];
    float cbval[kMaxPartitions];
    float rnorm[kMaxPartitions];
    float tmn[kMaxPartitions];
    float spread[kMaxPartitions][kMaxPartitions];
    // The spreading function transposed (spreadTo[k][j] = spread[j][k]) and,
    // for every four partitions j, the span of k where one of them is nonzero.
    alignas(16) float spreadTo[kMaxPartitions][64];
    int spreadBand[16][2];
    int firstLine[kMaxPartitions];
    float window[kBlock];
    float r[2][2][kLines];
    float phiSaved[2][2][kLines];
    int newSel = 0, oldSel = 1, oldestSel = 0;
    const float* absThreshold = nullptr;
};
ModelState Model;

// Position in the FFT's output of each spectral line.
struct BitReversal {
    int16_t position[kBlock];
    BitReversal() {
        for (int i = 0; i < kBlock; i++) {
            int r = 0;
            for (int b = 0; b < 10; b++)
                if (i & (1 << b)) r |= 1 << (9 - b);
            position[i] = static_cast<int16_t>(r);
        }
    }
};
const BitReversal& BitReversed() {
    static const BitReversal reversal;
    return reversal;
}

void Setup(double sampleRate) {
    ModelState& m = Model;
    for (int i = 0; i < kBlock; i++) m.window[i] = static_cast<float>(0.5 * (1.0 - std::cos(2.0 * M_PI * (i - 0.5) / kBlock)));
    std::memset(m.r, 0, sizeof m.r);
    std::memset(m.phiSaved, 0, sizeof m.phiSaved);
    m.absThreshold = std::lround(sampleRate) == 48000 ? AbsoluteThreshold48000 : AbsoluteThreshold44100;

    float bark[kLines];
    float rate = static_cast<float>(sampleRate);
    for (int i = 0; i < kLines; i++) {
        float f = i * rate / kBlock;
        int j = 1;
        while (j < 26 && kBarkEdges[j] < f) j++;
        bark[i] = (j - 1) + (f - kBarkEdges[j - 1]) / (kBarkEdges[j] - kBarkEdges[j - 1]);
    }
    int p = 0, first = 0;
    float sum = 0;
    for (int i = 0; i < kLines; i++) {
        if (i > first && bark[i] - bark[first] > 0.33f && p < kMaxPartitions - 1) {
            m.numlines[p] = i - first;
            m.cbval[p] = sum / (i - first);
            p++;
            first = i;
            sum = 0;
        }
        m.partition[i] = p;
        sum += bark[i];
    }
    m.numlines[p] = kLines - first;
    m.cbval[p] = sum / (kLines - first);
    m.partitions = p + 1;

    for (int i = 0; i < m.partitions; i++)
        for (int j = 0; j < m.partitions; j++) {
            float x = (m.cbval[i] - m.cbval[j]) * 1.05f;
            float t2 = 0;
            if (x >= 0.5f && x <= 2.5f) {
                float d = x - 0.5f;
                t2 = 8.0f * (d * d - 2.0f * d);
            }
            x = x + 0.474f;
            float t3 = 15.811389f + 7.5f * x - 17.5f * std::sqrt(1.0f + x * x);
            m.spread[i][j] = t3 <= -100.0f ? 0.0f : std::exp((t2 + t3) * 0.2302585093f);
        }
    for (int j = 0; j < m.partitions; j++) {
        m.tmn[j] = std::max(15.5f + m.cbval[j], 24.5f);
        float s = 0;
        for (int i = 0; i < m.partitions; i++) s += m.spread[j][i];
        m.rnorm[j] = s;
    }
    std::memset(m.spreadTo, 0, sizeof m.spreadTo);
    for (int g = 0; g < 16; g++) {
        m.spreadBand[g][0] = kMaxPartitions;
        m.spreadBand[g][1] = -1;
    }
    for (int j = 0; j < m.partitions; j++)
        for (int k = 0; k < m.partitions; k++) {
            m.spreadTo[k][j] = m.spread[j][k];
            if (m.spread[j][k] != 0) {
                m.spreadBand[j / 4][0] = std::min(m.spreadBand[j / 4][0], k);
                m.spreadBand[j / 4][1] = std::max(m.spreadBand[j / 4][1], k);
            }
        }
    for (int i = kLines - 1; i >= 0; i--) m.firstLine[m.partition[i]] = i;
    m.newSel = 0;
    m.oldSel = 1;
    m.oldestSel = 0;
    m.ready = true;
}

// SMRs of one analysis of 1024 samples.
void Analyse(const int16_t* history, int channel, float smr[32]) {
    ModelState& m = Model;
    const AudioModelKernels kernels = AudioModelKernelSet;
    float re[kBlock], im[kBlock] = {}, power[kLines], phase[kLines];
    for (int i = 0; i < kBlock; i++) re[i] = m.window[i] * history[i];
    kernels.fft(re, im);
    // Lines above kLines - 1 mirror those below and are not used.
    const int16_t* position = BitReversed().position;
    float lineRe[kLines], lineIm[kLines];
    for (int line = 0; line < kLines; line++) {
        lineRe[line] = re[position[line]];
        lineIm[line] = im[position[line]];
    }
    // The energy floor belongs to the even positions of the transform's
    // bit-reversed output: line l sits at position bitrev(l), which is even
    // exactly for the lines of the lower half.
    kernels.spectrum(lineRe, lineIm, kLines, kBlock / 2, power, phase);
    m.newSel = m.oldestSel = m.newSel ? 0 : 1;
    m.oldSel = m.oldSel ? 0 : 1;

    // Unpredictability of each line: its distance from the value predicted
    // from the two analyses before, relative to their magnitudes.
    float (*r)[kLines] = m.r[channel];
    float (*phi)[kLines] = m.phiSaved[channel];
    // The newest analysis takes the place of the oldest (newSel == oldestSel).
    float phiPred[kLines];
    for (int i = 0; i < kLines; i++) {
        phiPred[i] = 2.0f * phi[m.oldSel][i] - phi[m.oldestSel][i];
        phi[m.newSel][i] = phase[i];
    }
    float cosNow[kLines], sinNow[kLines], cosPred[kLines], sinPred[kLines];
    kernels.sincos(phase, kLines, sinNow, cosNow);
    kernels.sincos(phiPred, kLines, sinPred, cosPred);
    float c[kLines];
    kernels.unpredictability(power, cosNow, sinNow, cosPred, sinPred, r[m.oldSel], r[m.newSel], kLines, c);

    // Energy and unpredictability-weighted energy of each partition, its
    // lines added in order.
    float e[kMaxPartitions] = {}, cw[kMaxPartitions] = {};
    for (int j = 0; j < m.partitions; j++) {
        float sum = 0, weighted = 0;
        for (int i = m.firstLine[j], end = i + m.numlines[j]; i < end; i++) {
            sum += power[i];
            weighted += power[i] * c[i];
        }
        e[j] = sum;
        cw[j] = weighted;
    }
    alignas(16) float ecbs[64], cts[64];
    kernels.spreading(m.spreadTo, m.spreadBand, (m.partitions + 3) / 4, e, cw, ecbs, cts);
    float nb[kMaxPartitions];
    for (int j = 0; j < m.partitions; j++) {
        float ecb = ecbs[j], ct = cts[j];
        ct = ecb != 0 ? ct / ecb : 0.0f;
        ct = std::min(std::max(ct, 0.05f), 0.5f);
        float tb = -0.434294482f * std::log(ct) - 0.301029996f;
        float snr = m.tmn[j] * tb + 5.5f * (1.0f - tb);
        int bark = static_cast<int>(m.cbval[j] + 0.5f);
        snr = std::max(snr, kMinSnr[std::min(bark, 26)]);
        float bc = std::exp(-snr * 0.2302585093f);
        nb[j] = (m.rnorm[j] != 0 && m.numlines[j] != 0) ? ecb * bc / (m.rnorm[j] * m.numlines[j]) : 0.0f;
    }
    float thr[kLines];
    for (int i = 0; i < kLines; i++) thr[i] = std::max(m.absThreshold[i], nb[m.partition[i]]);
    for (int n = 0; n < 32; n++) {
        float energy = 0, tmin = kTopThreshold, tsum = 0;
        for (int i = 16 * n; i <= 16 * n + 16; i++) {
            energy += power[i];
            tmin = std::min(tmin, thr[i]);
            tsum += thr[i];
        }
        if (n <= 12)
            smr[n] = 4.342944819f * std::log(energy / (17.0f * tmin + 1e-8f) + 1e-8f);
        else
            smr[n] = 4.342944819f * std::log(energy / (tsum + 1e-8f) + 1e-8f);
    }
}

}  // namespace

void PsychoacousticModel(const int16_t* samples, int16_t* history, int channel, float smrOut[32], double sampleRate) {
    if (Audio.modelRelease) {
        Model.ready = false;
        Model.newSel = Model.oldestSel = 0;
        Model.oldSel = 1;
        return;
    }
    if (!Model.ready) Setup(sampleRate);
    float smr[2][32];
    for (int a = 0; a < 2; a++) {
        std::memmove(history, history + kFlush, kKeep * sizeof(int16_t));
        std::memcpy(history + kKeep, samples + a * kFlush, kFlush * sizeof(int16_t));
        Analyse(history, channel, smr[a]);
    }
    for (int n = 0; n < 32; n++) smrOut[n] = std::max(smr[0][n], smr[1][n]);
}
