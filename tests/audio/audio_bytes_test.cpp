// The coded bytes of a fixed set of inputs, pinned by their hashes: work on
// the encoder's speed must leave every stream exactly as it was, with the
// packed kernels on and off.
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
        {"tone", 44100, 224, 's', 0, 0xc9501c06792cdcabull},  {"noise", 44100, 128, 'j', 0, 0x87a76f5fe51b6b21ull},
        {"music", 44100, 224, 'j', 0, 0xac091c4a4f1b3634ull}, {"music", 48000, 192, 'd', 0, 0x160725ac809a6a5aull},
        {"music", 44100, 384, 's', 17, 0x4e04ab07662b3085ull}, {"music", 48000, 48, 'm', 0, 0x5b5c53c1cc2542afull},
        {"noise", 48000, 96, 'm', 0, 0xb02fcfc4d3e2ceb9ull},  {"tone", 48000, 64, 'j', 0, 0xbe8fc79f147945e4ull},
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
