// Helpers of the audio encoder tests (see AudioTestUtil.h).
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "audio/AudioEncoder.h"
#include "engine/EngineState.h"
#include "settings/EncoderSettings.h"
#include "settings/RunState.h"
#include "tests/audio/AudioTestUtil.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;

namespace {
std::vector<int16_t> Pcm;
size_t PcmPos = 0;

int TestSource(int16_t* destination, int wanted) {
    size_t n = std::min<size_t>(wanted, Pcm.size() - PcmPos);
    std::copy(Pcm.begin() + PcmPos, Pcm.begin() + PcmPos + n, destination);
    PcmPos += n;
    return static_cast<int>(n);
}
}  // namespace

void SetTestPcm(std::vector<int16_t> samples) {
    Pcm = std::move(samples);
    PcmPos = 0;
    AudioPcmSource = TestSource;
}

std::vector<int16_t> Tone(int rate, int channels, double seconds, double frequency, double amplitude,
                          double rightFrequency) {
    size_t n = static_cast<size_t>(seconds * rate);
    std::vector<int16_t> out(n * channels);
    for (size_t i = 0; i < n; i++)
        for (int c = 0; c < channels; c++) {
            double f = (c == 1 && rightFrequency >= 0) ? rightFrequency : frequency;
            out[i * channels + c] = static_cast<int16_t>(std::lround(amplitude * std::sin(2 * M_PI * f * i / rate)));
        }
    return out;
}

std::vector<int16_t> Noise(int rate, int channels, double seconds, double amplitude, uint32_t seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> dist(-amplitude, amplitude);
    std::vector<int16_t> out(static_cast<size_t>(seconds * rate) * channels);
    for (auto& v : out) v = static_cast<int16_t>(std::lround(dist(gen)));
    return out;
}

int EncodeTestPcm(const std::filesystem::path& out, int rate, int bitRate, char mode, int applicationType,
                  bool simd) {
    EncoderSettings.audioSampleRate = rate;
    EncoderSettings.applicationType = applicationType;
    MmxEnabled = simd ? 1 : 0;
    RunState = 2;
    int result = EncodeAudioFile(out.string(), bitRate, mode);
    MmxEnabled = 0;
    EncoderSettings.applicationType = kApplicationNone;
    RunState = 1;
    return result;
}

std::vector<int16_t> DecodeWithFfmpeg(const std::filesystem::path& file, int channels) {
    std::filesystem::path raw = file;
    raw += ".raw";
    std::string log;
    int rc = RunCommand("ffmpeg -nostdin -v error -xerror -i '" + file.string() + "' -f s16le -ac " +
                            std::to_string(channels) + " -y '" + raw.string() + "' 2>&1",
                        &log);
    EXPECT_EQ(rc, 0) << log;
    EXPECT_EQ(log, "");
    std::string bytes = ReadFile(raw);
    std::vector<int16_t> out(bytes.size() / 2);
    std::memcpy(out.data(), bytes.data(), out.size() * 2);
    return out;
}

double ToneSnr(const std::vector<int16_t>& pcm, int channels, int channel, int rate, double frequency,
               double* amplitude) {
    // Skip the filterbank's delay and the last frame; fit sin and cos.
    size_t frames = pcm.size() / channels;
    size_t begin = 2304, end = frames > 4608 ? frames - 2304 : frames;
    double ss = 0, cc = 0, sc = 0, ys = 0, yc = 0;
    for (size_t i = begin; i < end; i++) {
        double s = std::sin(2 * M_PI * frequency * i / rate), c = std::cos(2 * M_PI * frequency * i / rate);
        double y = pcm[i * channels + channel];
        ss += s * s;
        cc += c * c;
        sc += s * c;
        ys += y * s;
        yc += y * c;
    }
    double det = ss * cc - sc * sc;
    double a = (ys * cc - yc * sc) / det, b = (yc * ss - ys * sc) / det;
    double signal = 0, noise = 0;
    for (size_t i = begin; i < end; i++) {
        double fit = a * std::sin(2 * M_PI * frequency * i / rate) + b * std::cos(2 * M_PI * frequency * i / rate);
        double y = pcm[i * channels + channel];
        signal += fit * fit;
        noise += (y - fit) * (y - fit);
    }
    if (amplitude) *amplitude = std::sqrt(a * a + b * b);
    return 10 * std::log10(signal / std::max(noise, 1e-9));
}

DecodeError MeasureDecodeError(const std::vector<int16_t>& input, const std::vector<int16_t>& decoded, int channels) {
    const size_t delay = 481 * size_t(channels), edge = 4608 * size_t(channels);
    double sum = 0, squares = 0, out = 0, in = 0;
    size_t n = 0;
    for (size_t i = edge; i + edge < input.size() && i + delay < decoded.size(); i++, n++) {
        double d = double(decoded[i + delay]) - input[i];
        sum += d;
        squares += d * d;
        out += double(decoded[i + delay]) * decoded[i + delay];
        in += double(input[i]) * input[i];
    }
    EXPECT_GT(n, 0u);
    auto db = [&](double energy) { return 10 * std::log10(std::max(energy / std::max<size_t>(n, 1), 1e-12) / (32768.0 * 32768.0)); };
    return {db(squares), sum / std::max<size_t>(n, 1), db(out), 10 * std::log10(std::max(in, 1e-12) / std::max(squares, 1e-12))};
}

std::vector<ParsedFrame> ParseFrames(const std::string& bytes, size_t* end) {
    static const int kRates[15] = {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384};
    std::vector<ParsedFrame> frames;
    size_t pos = 0;
    while (pos + 4 <= bytes.size()) {
        auto b = [&](size_t i) { return static_cast<uint8_t>(bytes[pos + i]); };
        // Sync, MPEG-1, Layer II.
        if (b(0) != 0xFF || (b(1) & 0xFE) != 0xFC) break;
        ParsedFrame f{};
        f.offset = pos;
        f.protectionAbsent = b(1) & 1;
        f.bitrateIndex = b(2) >> 4;
        f.samplingFrequency = (b(2) >> 2) & 3;
        f.padding = (b(2) >> 1) & 1;
        f.mode = b(3) >> 6;
        f.modeExtension = (b(3) >> 4) & 3;
        if (f.bitrateIndex == 0 || f.bitrateIndex == 15 || f.samplingFrequency > 1) break;
        int rate = f.samplingFrequency == 0 ? 44100 : 48000;
        f.length = 144000 * kRates[f.bitrateIndex] / rate + f.padding;
        if (pos + f.length > bytes.size()) break;
        frames.push_back(f);
        pos += f.length;
    }
    *end = pos;
    return frames;
}
