// Pieces of the frame coder: filterbank kernels, bit writer, CRC, scale
// factors and their selection, bit allocation and the model.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "audio/AudioEncoder.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;

namespace {

TEST(AudioKernels, PackedKernelsMatchPlainOnRandomInput) {
    AudioFilterKernels plain, packed;
    audio_filter_init(false, plain);
    audio_filter_init(true, packed);
    std::mt19937 gen(5);
    std::uniform_int_distribution<int> any(-32768, 32767);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    alignas(16) float history[512], window[512], yPlain[64], yPacked[64], folded[32], cosine[32][16];
    int32_t outPlain[32], outPacked[32];
    for (int round = 0; round < 200; round++) {
        for (auto& v : history) v = float(any(gen)) * 2048.0f;
        for (auto& v : window) v = unit(gen) * 0.04f;
        for (auto& v : folded) v = unit(gen) * 3e7f;
        for (auto& row : cosine)
            for (auto& v : row) v = unit(gen);
        int offset = 32 * (round % 16);
        plain.window(history, offset, window, yPlain);
        packed.window(history, offset, window, yPacked);
        ASSERT_EQ(std::memcmp(yPlain, yPacked, sizeof yPlain), 0) << round;
        plain.matrix(folded, cosine, outPlain);
        packed.matrix(folded, cosine, outPacked);
        ASSERT_EQ(std::memcmp(outPlain, outPacked, sizeof outPlain), 0) << round;
    }
}

// The model's kernels on FFT-like data and on the edges of the arc
// tangent's intervals and of the angle reductions: packed and plain agree
// bit for bit, and arc tangent, sine and cosine stay close to the exact ones.
TEST(AudioKernels, PackedModelKernelsMatchPlain) {
    AudioModelKernels plain, wide, sse2;
    audio_model_init(false, plain);
    audio_model_init(true, wide);
    audio_model_init(true, sse2, false);
    for (const AudioModelKernels& packed : {wide, sse2}) {
    std::mt19937 gen(9);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    std::uniform_int_distribution<int> scale(-40, 40);
    auto bitsOf = [](const float* v, int n) { return std::string(reinterpret_cast<const char*>(v), n * sizeof(float)); };
    const float edges[] = {0.0f,          -0.0f,          1.0f,    -1.0f,        0x1p-29f,    0x1p25f,
                           0x1.fffffep24f, 0x1.fffffep-30f, 0.4375f, 0.6875f,      1.1875f,     2.4375f,
                           0.43749997f,   1e-30f,         1e30f,   0.0005f,      0.02236068f, 3e38f};
    for (int round = 0; round < 300; round++) {
        alignas(16) float re[1024], im[1024], rePacked[1024], imPacked[1024];
        int magnitude = scale(gen);
        for (int i = 0; i < 1024; i++) {
            re[i] = round % 7 == 0 && i % 3 ? 0.0f : std::ldexp(unit(gen), magnitude);
            im[i] = round % 2 ? 0.0f : std::ldexp(unit(gen), scale(gen));
        }
        std::memcpy(rePacked, re, sizeof re);
        std::memcpy(imPacked, im, sizeof im);
        plain.fft(re, im);
        packed.fft(rePacked, imPacked);
        ASSERT_EQ(bitsOf(re, 1024), bitsOf(rePacked, 1024)) << round;
        ASSERT_EQ(bitsOf(im, 1024), bitsOf(imPacked, 1024)) << round;

        // Lines from the transform, with edge values and their ratios mixed in.
        for (int i = 0; i < 513; i += 1 + int(gen() % 5)) {
            float a = edges[gen() % std::size(edges)], b = edges[gen() % std::size(edges)];
            re[i] = gen() % 2 ? -a : a;
            im[i] = gen() % 3 ? (gen() % 2 ? -b : b) : re[i] * edges[gen() % std::size(edges)];
        }
        float power[513], phase[513], powerPacked[513], phasePacked[513];
        int floored = round % 2 ? 512 : int(gen() % 514);
        plain.spectrum(re, im, 513, floored, power, phase);
        packed.spectrum(re, im, 513, floored, powerPacked, phasePacked);
        ASSERT_EQ(bitsOf(power, 513), bitsOf(powerPacked, 513)) << round;
        ASSERT_EQ(bitsOf(phase, 513), bitsOf(phasePacked, 513)) << round;
        if (round == 0) {  // silent lines: the floor below `floored`, none above
            std::fill_n(re, 513, 0.0f);
            std::fill_n(im, 513, 0.0f);
            packed.spectrum(re, im, 513, 512, power, phase);
            EXPECT_EQ(std::count(power, power + 513, 0.0005f) * 10 + int(power[512] == 0), 5121);
        }
        for (int i = 0; i < 513; i++) {
            if (!std::isfinite(re[i]) || !std::isfinite(im[i])) continue;
            float angle = ModelAtan2(im[i], re[i]);
            double exact = std::atan2(double(im[i]), double(re[i]));
            float step = std::nextafter(std::fabs(float(exact)), INFINITY) - std::fabs(float(exact));
            ASSERT_LE(std::fabs(angle - exact), 2 * step) << im[i] << " " << re[i];
        }

        // Angles of every size, the edges of the reductions among them.
        const float turns[] = {0x1p-12f, 0x1.fffffep-13f, 0.75f, 0.74999994f, 119.99999f, 120.0f, 1e6f, 0.7853982f,
                               2.3561945f, 3.1415927f, 4.712389f, 9.424778f, 0.0f, -0.0f, 1e-40f, INFINITY};
        float angle[513], sine[513], cosine[513], sinePacked[513], cosinePacked[513];
        for (int i = 0; i < 513; i++) {
            float a = i % 3 ? std::ldexp(unit(gen), scale(gen) / 5) : turns[gen() % std::size(turns)];
            angle[i] = i % 5 ? a : std::nextafter(a, gen() % 2 ? INFINITY : -INFINITY);
        }
        plain.sincos(angle, 513, sine, cosine);
        packed.sincos(angle, 513, sinePacked, cosinePacked);
        ASSERT_EQ(bitsOf(sine, 513), bitsOf(sinePacked, 513)) << round;
        ASSERT_EQ(bitsOf(cosine, 513), bitsOf(cosinePacked, 513)) << round;
        for (int i = 0; i < 513; i++)
            if (std::isfinite(angle[i])) {
                ASSERT_NEAR(sine[i], std::sin(double(angle[i])), 1e-7) << angle[i];
                ASSERT_NEAR(cosine[i], std::cos(double(angle[i])), 1e-7) << angle[i];
            }

        // Spreading over a banded function of 13 + round % 50 partitions.
        alignas(16) static float spread[63][64];
        int band[16][2];
        int partitions = 13 + round % 50, groups = (partitions + 3) / 4;
        std::memset(spread, 0, sizeof spread);
        for (int g = 0; g < groups; g++) {
            band[g][0] = std::max(0, 4 * g - 5);
            band[g][1] = std::min(partitions - 1, 4 * g + 9);
            for (int j = 4 * g; j < std::min(4 * g + 4, partitions); j++)
                for (int k = std::max(band[g][0], j - 5); k <= std::min(band[g][1], j + 6); k++)
                    spread[k][j] = std::fabs(unit(gen));
        }
        float e[63], cw[63];
        for (int k = 0; k < 63; k++) {
            e[k] = std::ldexp(std::fabs(unit(gen)), scale(gen));
            cw[k] = e[k] * std::fabs(unit(gen));
        }
        alignas(16) float ecb[64], ct[64], ecbPacked[64], ctPacked[64];
        plain.spreading(spread, band, groups, e, cw, ecb, ct);
        packed.spreading(spread, band, groups, e, cw, ecbPacked, ctPacked);
        ASSERT_EQ(bitsOf(ecb, 4 * groups), bitsOf(ecbPacked, 4 * groups)) << round;
        ASSERT_EQ(bitsOf(ct, 4 * groups), bitsOf(ctPacked, 4 * groups)) << round;

        float cosNow[513], sinNow[513], cosPred[513], sinPred[513], last[513], oldest[513], oldestPacked[513];
        float c[513], cPacked[513];
        for (int i = 0; i < 513; i++) {
            power[i] = i % 11 == 0 ? 0.0f : std::fabs(re[i]);
            cosNow[i] = unit(gen);
            sinNow[i] = unit(gen);
            cosPred[i] = unit(gen);
            sinPred[i] = unit(gen);
            last[i] = i % 13 == 0 ? 0.0f : unit(gen);
            oldest[i] = oldestPacked[i] = i % 13 == 0 ? 0.0f : unit(gen);
        }
        plain.unpredictability(power, cosNow, sinNow, cosPred, sinPred, last, oldest, 513, c);
        packed.unpredictability(power, cosNow, sinNow, cosPred, sinPred, last, oldestPacked, 513, cPacked);
        ASSERT_EQ(bitsOf(c, 513), bitsOf(cPacked, 513)) << round;
        ASSERT_EQ(bitsOf(oldest, 513), bitsOf(oldestPacked, 513)) << round;
    }
    }
}

// The allocation's search for its next subband: the first of the smallest
// ratios, with ties, signed zeros, closed (infinite) entries and the limit.
TEST(AudioKernels, PackedSearchFindsTheFirstSmallest) {
    AudioCodingKernels plain, packed;
    audio_coding_init(false, plain);
    audio_coding_init(true, packed);
    std::mt19937 gen(3);
    const float pool[] = {INFINITY, 0.0f, -0.0f, -3.5f, 7.0f, 999999.0f, 1e7f, -1e-30f};
    alignas(16) float values[64];
    for (int round = 0; round < 2000; round++) {
        for (float& v : values) v = gen() % 4 ? pool[gen() % std::size(pool)] : float(int(gen() % 200) - 100) / 8;
        if (round % 5 == 0)
            for (float& v : values) v = INFINITY;
        if (round % 7 == 0) values[63] = -1000.0f;
        float limit = round % 3 ? 999999.0f : -1.0f;
        int at = plain.firstSmallest(values, limit);
        ASSERT_EQ(packed.firstSmallest(values, limit), at) << round;
        if (at < 0) {
            for (float v : values) ASSERT_FALSE(v < limit);
            continue;
        }
        for (int i = 0; i < 64; i++) ASSERT_TRUE(i < at ? values[i] > values[at] : values[i] >= values[at]) << i;
    }
}

// A full-scale tone centred in subband k shows up there, in 2^26 units.
TEST(AudioKernels, FilterbankPutsAToneInItsSubband) {
    std::memset(&Audio.filterHistory, 0, sizeof Audio.filterHistory);
    Audio.filterOffset[0] = 0;
    Audio.cosineReady = false;
    const int rate = 48000, band = 5;
    double f = (band + 0.5) * rate / 64.0;
    for (int i = 0; i < 1152; i++) Audio.pcm[0][i] = int16_t(std::lround(16384 * std::sin(2 * M_PI * f * i / rate)));
    Audio.readPos[0] = Audio.pcm[0];
    int32_t out[36][32];
    for (int s = 0; s < 36; s++) {
        WindowSubband(0);
        FilterSubband(Audio.windowed[0], out[s]);
    }
    double peak[32] = {};
    for (int s = 20; s < 36; s++)
        for (int k = 0; k < 32; k++) peak[k] = std::max(peak[k], std::fabs(double(out[s][k])));
    // Half full scale: 2^25, within the window's passband ripple and rounding.
    EXPECT_NEAR(peak[band], 33554432.0, 33554432.0 * 0.05);
    for (int k = 0; k < 32; k++)
        if (std::abs(k - band) > 1) {
            EXPECT_LT(peak[k], peak[band] / 300) << k;
        }
}

TEST(AudioBitWriter, BitsCrossBytesAndFlushesInFileOrder) {
    TempDir dir;
    auto path = dir / "bits";
    AudioBitStream s{};
    s.file = std::fopen(path.string().c_str(), "wb");
    std::vector<uint8_t> buffer(4096, 0);
    s.buffer = buffer.data();
    s.bufferSize = 4096;
    s.byteIndex = 4095;
    s.bitIndex = 8;
    Audio.AudioWriteState = 0;
    std::string expected;
    // 5000 bytes written as 3 + 13 bits pieces and single bits overflow the buffer.
    for (int i = 0; i < 5000; i++) {
        uint8_t b = uint8_t(i * 37 + 11);
        if (i % 3 == 0) {
            for (int k = 7; k >= 0; k--) PutAudioBit(s, (b >> k) & 1);
        } else {
            PutAudioBits(s, b >> 5, 3);
            PutAudioBits(s, b & 31, 5);
        }
        expected.push_back(char(b));
    }
    PutAudioBits(s, 0x5, 3);
    expected.push_back(char(0xA0));
    EXPECT_EQ(s.totalBits, 5000 * 8 + 3);
    FlushAudioBitBuffer(s, s.byteIndex);
    std::fclose(s.file);
    EXPECT_EQ(ReadFile(path), expected);
}

TEST(AudioCrc, CheckValueAndHeaderCoverage) {
    uint32_t crc = 0xFFFF;
    for (char c : std::string("123456789")) UpdateAudioCrc(uint8_t(c), 8, &crc);
    EXPECT_EQ(crc, 0xAEE7u);
    // Bits fed in odd-sized pieces give the same as whole bytes.
    uint32_t pieces = 0xFFFF;
    UpdateAudioCrc(0x31, 3 + 5, &pieces);
    UpdateAudioCrc(0x1, 1, &pieces);
    UpdateAudioCrc(0x32, 7, &pieces);
    uint32_t bytes = 0xFFFF;
    UpdateAudioCrc(0x31, 8, &bytes);
    UpdateAudioCrc(0xB2, 8, &bytes);
    EXPECT_EQ(pieces, bytes);
}

TEST(AudioScaleFactors, TablesIndicesAndSelection) {
    BuildQuantizationTables();
    EXPECT_EQ(ScaleFactorInt[3], 67108864);
    EXPECT_EQ(ScaleFactorInt[4], 53264340);
    EXPECT_EQ(ScaleFactorInt[5], 42275936);
    EXPECT_EQ(ScaleFactorInt[60], 128);
    EXPECT_EQ(ScaleFactorInt[61], 101);
    EXPECT_EQ(ScaleFactorInt[62], 80);
    // Each integer scale factor is 2^27 x 2^(-i/3) within rounding.
    for (int i = 0; i < 63; i++)
        EXPECT_NEAR(ScaleFactorInt[i], std::ldexp(std::pow(2.0, -i / 3.0), 27), 2.0 + ScaleFactorInt[i] * 1e-6) << i;

    static int32_t samples[2][3][12][32];
    std::memset(samples, 0, sizeof samples);
    samples[0][0][3][0] = -67108864;  // exactly scale factor 3
    samples[0][1][0][0] = 67108865;   // just above: index 2
    samples[0][2][0][0] = 81;         // just above the smallest: index 61
    samples[1][0][0][1] = 1 << 30;    // above every scale factor: index 0
    int index[2][3][32];
    ComputeScaleFactors(samples, index, 2, 30);
    EXPECT_EQ(index[0][0][0], 3);
    EXPECT_EQ(index[0][1][0], 2);
    EXPECT_EQ(index[0][2][0], 61);
    EXPECT_EQ(index[1][0][1], 0);
    EXPECT_EQ(index[1][1][5], 62);  // silence
    EXPECT_EQ(index[0][0][30], 63);

    AudioFrameHeader header{};
    AudioFrameParams params{};
    params.header = &header;
    params.channels = 1;
    params.subbandLimit = 6;
    int sf[2][3][32] = {};
    int sel[2][32] = {};
    auto set = [&](int sb, int a, int b, int c) { sf[0][0][sb] = a, sf[0][1][sb] = b, sf[0][2][sb] = c; };
    set(0, 10, 20, 30);  // classes 0,0: 123, all three sent
    set(1, 10, 10, 10);  // 2,2: 111
    set(2, 12, 10, 11);  // 3,1: 222, sf1 for all
    set(3, 10, 11, 10);  // 1,3: 444, the smaller of sf0 and sf2
    set(4, 30, 10, 11);  // 4,1: 122
    set(5, 10, 11, 30);  // 1,0: 113
    SelectScaleFactorPatterns(sf, sel, params);
    EXPECT_EQ(sel[0][0], 0);
    EXPECT_EQ(sel[0][1], 2);
    EXPECT_EQ(sel[0][2], 2);
    EXPECT_EQ(sf[0][0][2], 10);
    EXPECT_EQ(sf[0][2][2], 10);
    EXPECT_EQ(sel[0][3], 2);
    EXPECT_EQ(sf[0][1][3], 10);
    EXPECT_EQ(sel[0][4], 3);
    EXPECT_EQ(sf[0][2][4], 10);
    EXPECT_EQ(sel[0][5], 1);
    EXPECT_EQ(sf[0][1][5], 10);
}

TEST(AudioAllocation, GreedyStaysWithinTheFrameAndFavoursHighSmr) {
    AudioFrameHeader header{};
    AudioFrameParams p{};
    p.header = &header;
    p.channels = 2;
    p.actualMode = 0;
    p.subbandLimit = 30;
    p.jointStereoBound = 30;
    p.allocation = AllocationTableA;
    float smr[2][32];
    int sel[2][32];
    for (int sb = 0; sb < 32; sb++)
        for (int ch = 0; ch < 2; ch++) {
            smr[ch][sb] = sb < 4 ? 60.0f : -10.0f;
            sel[ch][sb] = sb % 4;
        }
    int alloc[2][32];
    for (int bits : {600, 2000, 5000, 12000}) {
        int available = bits;
        AllocateBits(smr, sel, alloc, &available, p);
        EXPECT_GE(available, 0);
        // Whatever was granted plus what is left fills the frame exactly.
        int used = 32;
        for (int sb = 0; sb < 30; sb++)
            for (int ch = 0; ch < 2; ch++) {
                used += AllocationTableA[sb][0].bits;
                int a = alloc[ch][sb];
                if (a) {
                    const auto& e = AllocationTableA[sb][a];
                    used += 12 * e.grouping * e.bits + 2 + 6 * (sel[ch][sb] == 2 ? 1 : sel[ch][sb] == 0 ? 3 : 2);
                }
            }
        EXPECT_EQ(used + available, bits);
        EXPECT_GT(alloc[0][0], alloc[0][20]);
        EXPECT_EQ(alloc[0][30], 0);
    }
    // Joint stereo shares allocations from the chosen bound up.
    p.actualMode = 1;
    int available = 3000;
    AllocateBits(smr, sel, alloc, &available, p);
    EXPECT_EQ(header.mode, 1);
    EXPECT_EQ(p.jointStereoBound, 4 + 4 * header.modeExtension);
    for (int sb = p.jointStereoBound; sb < 30; sb++) EXPECT_EQ(alloc[0][sb], alloc[1][sb]);
}

TEST(AudioModel, SilenceAndToneRatios) {
    Audio.modelRelease = 1;
    PsychoacousticModel(nullptr, nullptr, 0, nullptr, 0);
    Audio.modelRelease = 0;
    int16_t history[1056] = {};
    int16_t silence[1152] = {};
    float smr[32];
    PsychoacousticModel(silence, history, 0, smr, 44100.0);
    for (int n = 0; n < 32; n++) EXPECT_LT(smr[n], -30.0f) << n;
    // A loud 1 kHz tone (subband 1 at 44.1 kHz) needs far more SNR there
    // than in the bands far above it.
    int16_t tone[1152];
    for (int r = 0; r < 3; r++) {
        for (int i = 0; i < 1152; i++)
            tone[i] = int16_t(std::lround(20000 * std::sin(2 * M_PI * 1000 * (i + 1152 * r) / 44100.0)));
        PsychoacousticModel(tone, history, 0, smr, 44100.0);
    }
    EXPECT_GT(smr[1], 20.0f);
    EXPECT_GT(smr[1], smr[20] + 30.0f);
    Audio.modelRelease = 1;
    PsychoacousticModel(nullptr, nullptr, 0, nullptr, 0);
    Audio.modelRelease = 0;
}

}  // namespace
