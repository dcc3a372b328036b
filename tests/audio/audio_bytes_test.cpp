// The coded bytes of a fixed set of inputs, pinned by their hashes: work on
// the encoder's speed must leave every stream exactly as it was, with the
// packed kernels on and off; beside them, what those streams decode to.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "tests/audio/AudioTestUtil.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;

namespace {

uint64_t Fnv1a(const std::string& bytes) {
    uint64_t h = 14695981039346656037ull;
    for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ull;
    return h;
}

// Chords with vibrato and a slow swell, plucked notes, and bursts of noise
// like a hi-hat; the channels differ in their voicing.
std::vector<int16_t> Music(int rate, int channels, double seconds) {
    std::mt19937 gen(11);
    std::uniform_real_distribution<double> noise(-1.0, 1.0);
    size_t n = static_cast<size_t>(seconds * rate);
    std::vector<int16_t> out(n * channels);
    for (size_t i = 0; i < n; i++) {
        double t = double(i) / rate;
        double hat = std::fmod(t, 0.25) < 0.03 ? 2500 * noise(gen) * (1 - std::fmod(t, 0.25) / 0.03) : 0;
        double pluck = 6000 * std::exp(-6 * std::fmod(t, 0.5)) * std::sin(2 * M_PI * 660 * t);
        for (int c = 0; c < channels; c++) {
            double root = c == 0 ? 220 : 277;
            double v = 5000 * std::sin(2 * M_PI * root * t + 1.5 * std::sin(2 * M_PI * 5 * t)) *
                       (0.6 + 0.4 * std::sin(2 * M_PI * 0.7 * t));
            v += 3000 * std::sin(2 * M_PI * root * 1.5 * t) + 1500 * std::sin(2 * M_PI * root * 4 * t);
            v += (c == 0 ? pluck : 0.5 * pluck) + hat + 300 * noise(gen);
            out[i * channels + c] = static_cast<int16_t>(std::lround(std::clamp(v, -32768.0, 32767.0)));
        }
    }
    return out;
}

struct BytesCase {
    const char* input;
    int rate, bitRate;
    char mode;
    int applicationType;
    uint64_t hash;
};

TEST(AudioBytes, StreamsKeepTheirPinnedBytes) {
    const BytesCase cases[] = {
        {"tone", 44100, 224, 's', 0, 0x946d9f091f87a6c1ull},  {"noise", 44100, 128, 'j', 0, 0x2aa64ad52b4dc4afull},
        {"music", 44100, 224, 'j', 0, 0x9f94ab7ab27591eeull}, {"music", 48000, 192, 'd', 0, 0x3d7460741723ba31ull},
        {"music", 44100, 384, 's', 17, 0xc2c05ebccbbdb0f2ull}, {"music", 48000, 48, 'm', 0, 0x35037b61eb342cd6ull},
        {"noise", 48000, 96, 'm', 0, 0x693dd55a4eb783fdull},  {"tone", 48000, 64, 'j', 0, 0x0c9091db190a1478ull},
    };
    TempDir dir;
    for (const BytesCase& c : cases) {
        int channels = c.mode == 'm' ? 1 : 2;
        std::string input = c.input;
        auto pcm = input == "tone"    ? Tone(c.rate, channels, 1.5, 1000, 12000, 3100)
                   : input == "noise" ? Noise(c.rate, channels, 1.5, 9000, 5)
                                      : Music(c.rate, channels, 1.5);
        for (bool simd : {false, true}) {
            SetTestPcm(pcm);
            ASSERT_EQ(EncodeTestPcm(dir / "out.mp2", c.rate, c.bitRate, c.mode, c.applicationType, simd), 0);
            std::string bytes = ReadFile(dir / "out.mp2");
            EXPECT_GT(bytes.size(), 100u);
            EXPECT_EQ(Fnv1a(bytes), c.hash) << std::hex << "0x" << Fnv1a(bytes) << std::dec << " for " << c.input << " "
                                            << c.rate << " " << c.bitRate << " " << c.mode << " simd " << simd;
        }
    }
}

}  // namespace

namespace {

// Noise of the given RMS, its energy mostly below 1 kHz.
std::vector<int16_t> LowNoise(int rate, int channels, double seconds, double rms) {
    std::vector<int16_t> white = Noise(rate, channels, seconds, 20000, 3), out(white.size());
    const double a = std::exp(-2 * M_PI * 1000 / rate), gain = rms / (20000 / std::sqrt(3.0)) / std::sqrt((1 - a) / (1 + a));
    double state[2] = {};
    for (size_t i = 0; i < white.size(); i++) {
        double& s = state[i % channels];
        s = a * s + (1 - a) * white[i];
        out[i] = int16_t(std::lround(s * gain));
    }
    return out;
}

// Decoded by ffmpeg and compared with the input at 384 kbit/s: a quiet tone
// keeps its SNR, quiet noise neither vanishes nor drowns in coding noise, no
// signal gets a DC offset, and loud signals keep the SNR they had with the
// 16-bit filterbank (full-scale tone 61.1 dB, music 26.3 / 25.7 dB).
TEST(AudioBytes, DecodedSignalsStayCleanFromQuietToLoud) {
    if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
    TempDir dir;
    for (int rate : {44100, 48000}) {
        const struct {
            const char* name;
            std::vector<int16_t> pcm;
        } signals[] = {{"tone -50 dBFS", Tone(rate, 2, 3.0, 997, 32768 * std::pow(10.0, -50 / 20.0))},
                       {"noise -80 dBFS", LowNoise(rate, 2, 3.0, 32768 * std::pow(10.0, -80 / 20.0))},
                       {"full-scale tone", Tone(rate, 2, 3.0, 997, 32000)},
                       {"music", Music(rate, 2, 3.0)}};
        for (const auto& [name, pcm] : signals) {
            SetTestPcm(pcm);
            ASSERT_EQ(EncodeTestPcm(dir / "out.mp2", rate, 384, 's'), 0);
            std::vector<int16_t> decoded = DecodeWithFfmpeg(dir / "out.mp2", 2);
            const DecodeError e = MeasureDecodeError(pcm, decoded, 2);
            const std::string what = std::string(name) + " at " + std::to_string(rate);
            EXPECT_LT(std::fabs(e.dcLsb), 0.5) << what;
            if (name == signals[0].name) {
                EXPECT_GE(ToneSnr(decoded, 2, 0, rate, 997), 35.0) << what;
            } else if (name == signals[1].name) {
                EXPECT_GT(e.outputDb, -81.5) << what;
                EXPECT_LT(e.errorDb, -85.0) << what;
            } else if (name == signals[2].name) {
                EXPECT_GE(e.snrDb, 61.0) << what;
            } else {
                EXPECT_GE(e.snrDb, rate == 44100 ? 26.3 : 25.7) << what;
            }
        }
    }
}

}  // namespace
