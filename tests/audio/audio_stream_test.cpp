// Whole encodings of generated PCM, checked by parsing the frames and by
// decoding them with ffmpeg.
#include <gtest/gtest.h>

#include <cmath>

#include "audio/AudioEncoder.h"
#include "platform/MessageBox.h"
#include "settings/EncoderSettings.h"
#include "settings/JobState.h"
#include "settings/RunState.h"
#include "tests/audio/AudioTestUtil.h"
#include "tests/platform/FullDisk.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;

namespace {

struct StreamCase {
    int rate, channels, bitRate;
    char mode;
    int bitrateIndex, modeField;
};

// Recomputes the CRC of a stereo frame coded with the 30-subband table, bit
// by bit from the stream: header bits 16..31, allocation fields, selections.
bool FrameCrcMatches(const std::string& bytes, const ParsedFrame& f) {
    size_t bit = f.offset * 8;
    auto read = [&](int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; i++, bit++) v = (v << 1) | ((uint8_t(bytes[bit / 8]) >> (7 - bit % 8)) & 1);
        return v;
    };
    uint32_t crc = 0xFFFF;
    auto feed = [&](uint32_t v, int n) {
        for (int i = n - 1; i >= 0; i--) {
            bool top = ((crc >> 15) ^ (v >> i)) & 1;
            crc = (crc << 1) & 0xFFFF;
            if (top) crc ^= 0x8005;
        }
    };
    read(16);
    feed(read(16), 16);
    uint32_t stored = read(16);
    int bound = f.mode == 1 ? 4 + 4 * f.modeExtension : 30;
    int alloc[2][30];
    for (int sb = 0; sb < 30; sb++) {
        int width = sb < 11 ? 4 : sb < 23 ? 3 : 2;
        for (int ch = 0; ch < 2; ch++) {
            if (sb >= bound && ch == 1) {
                alloc[1][sb] = alloc[0][sb];
                continue;
            }
            alloc[ch][sb] = int(read(width));
            feed(alloc[ch][sb], width);
        }
    }
    for (int sb = 0; sb < 30; sb++)
        for (int ch = 0; ch < 2; ch++)
            if (alloc[ch][sb]) feed(read(2), 2);
    return crc == stored;
}

class AudioStream : public testing::TestWithParam<StreamCase> {};

TEST_P(AudioStream, DecodesToTheToneWithExactFraming) {
    if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
    const StreamCase c = GetParam();
    TempDir dir;
    auto out = dir / "a.mp2";
    // 20 frames plus a partial one, so the last frame is padded with zeros.
    size_t perChannel = 20 * 1152 + 500;
    auto pcm = Tone(c.rate, c.channels, double(perChannel) / c.rate, 1000, 12000, 440);
    SetTestPcm(pcm);
    ASSERT_EQ(EncodeTestPcm(out, c.rate, c.bitRate, c.mode), 0);

    std::string bytes = ReadFile(out);
    size_t end = 0;
    auto frames = ParseFrames(bytes, &end);
    ASSERT_EQ(frames.size(), 21u);
    // Nothing follows the last frame.
    ASSERT_EQ(end, bytes.size());
    double average = 144.0 * c.bitRate * 1000 / c.rate;
    int whole = int(average + 1e-6);
    int padded = 0;
    for (const auto& f : frames) {
        EXPECT_EQ(f.bitrateIndex, c.bitrateIndex);
        EXPECT_EQ(f.samplingFrequency, c.rate == 44100 ? 0 : 1);
        EXPECT_EQ(f.protectionAbsent, 1);
        if (c.mode != 'j') {
            EXPECT_EQ(f.mode, c.modeField);
        }
        EXPECT_EQ(f.length, size_t(whole + f.padding));
        padded += f.padding;
    }
    if (c.rate == 48000) {
        EXPECT_EQ(padded, 0);
    }
    // Padding keeps the mean frame length within a slot of the exact one.
    double total = double(end);
    EXPECT_NEAR(total / frames.size(), average, 1.0 / frames.size() + 1e-9);

    auto decoded = DecodeWithFfmpeg(out, c.channels);
    // ffmpeg's reader skips a first frame whose mode differs from the
    // frames after it (joint stereo frames that fitted as plain stereo).
    size_t expectedFrames = (c.mode == 'j' && frames[0].mode != frames[1].mode) ? 20 : 21;
    ASSERT_EQ(decoded.size(), expectedFrames * 1152 * c.channels);
    double amplitude = 0;
    double snr = ToneSnr(decoded, c.channels, 0, c.rate, 1000, &amplitude);
    EXPECT_GT(snr, c.bitRate >= 128 ? 30.0 : 15.0) << c.bitRate;
    EXPECT_NEAR(amplitude, 12000, 1200);
    if (c.channels == 2) {
        EXPECT_GT(ToneSnr(decoded, 2, 1, c.rate, 440), c.bitRate >= 128 ? 30.0 : 15.0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    RatesAndModes, AudioStream,
    testing::Values(StreamCase{44100, 2, 192, 's', 10, 0}, StreamCase{48000, 2, 192, 's', 10, 0},
                    StreamCase{44100, 2, 128, 'j', 8, 1}, StreamCase{48000, 2, 384, 'd', 14, 2},
                    StreamCase{44100, 1, 64, 'm', 4, 3}, StreamCase{48000, 1, 96, 'm', 6, 3},
                    StreamCase{44100, 1, 32, 'm', 1, 3}, StreamCase{44100, 2, 224, 's', 11, 0},
                    StreamCase{48000, 2, 112, 'j', 7, 1}));

TEST(AudioStreamFraming, PaddingFollowsTheSlotLagAt192) {
    TempDir dir;
    SetTestPcm(Tone(44100, 2, 40 * 1152 / 44100.0, 1000, 8000));
    ASSERT_EQ(EncodeTestPcm(dir / "a.mp2", 44100, 192, 's'), 0);
    size_t end = 0;
    auto frames = ParseFrames(ReadFile(dir / "a.mp2"), &end);
    ASSERT_EQ(frames.size(), 40u);
    // 626.939 slots a frame: the lag starts at -0.939, a frame is padded
    // while the lag is at most fraction - 1.
    float frac = static_cast<float>(192 * 0.125 * (1152 / (44100 * 0.001))) - 626;
    float lag = -frac;
    for (const auto& f : frames) {
        int expected = lag <= frac - 1 ? 1 : 0;
        lag += expected ? 1 - frac : -frac;
        EXPECT_EQ(f.padding, expected) << f.offset;
    }
}

TEST(AudioStreamFraming, WholeFramesOfInputGiveNoExtraFrame) {
    TempDir dir;
    SetTestPcm(Tone(48000, 2, 3 * 1152 / 48000.0, 500, 3000));
    ASSERT_EQ(EncodeTestPcm(dir / "a.mp2", 48000, 128, 's'), 0);
    size_t end = 0;
    EXPECT_EQ(ParseFrames(ReadFile(dir / "a.mp2"), &end).size(), 3u);
    SetTestPcm({});
    ASSERT_EQ(EncodeTestPcm(dir / "b.mp2", 48000, 128, 's'), 0);
    EXPECT_EQ(ReadFile(dir / "b.mp2"), "");
}

TEST(AudioStreamFraming, SvcdFramesCarryAValidCrc) {
    if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
    TempDir dir;
    SetTestPcm(Noise(44100, 2, 10 * 1152 / 44100.0, 6000, 7));
    ASSERT_EQ(EncodeTestPcm(dir / "a.mp2", 44100, 224, 'j', kApplicationSvcd), 0);
    std::string bytes = ReadFile(dir / "a.mp2");
    size_t end = 0;
    auto frames = ParseFrames(bytes, &end);
    ASSERT_EQ(frames.size(), 10u);
    for (const auto& f : frames) EXPECT_EQ(f.protectionAbsent, 0);
    for (const auto& f : frames) EXPECT_TRUE(FrameCrcMatches(bytes, f)) << f.offset;
    DecodeWithFfmpeg(dir / "a.mp2", 2);
    // A flipped allocation bit no longer matches.
    bytes[frames[0].offset + 6] ^= 0x40;
    EXPECT_FALSE(FrameCrcMatches(bytes, frames[0]));
}

TEST(AudioStreamFraming, JointStereoNarrowsTheBoundWhenBitsRunShort) {
    TempDir dir;
    // Independent noise in both channels at a low rate cannot be coded
    // without noise: frames go joint stereo.
    auto left = Noise(44100, 1, 8 * 1152 / 44100.0, 9000, 1), right = Noise(44100, 1, 8 * 1152 / 44100.0, 9000, 2);
    std::vector<int16_t> pcm;
    for (size_t i = 0; i < left.size(); i++) {
        pcm.push_back(left[i]);
        pcm.push_back(right[i]);
    }
    SetTestPcm(pcm);
    ASSERT_EQ(EncodeTestPcm(dir / "n.mp2", 44100, 112, 'j'), 0);
    size_t end = 0;
    auto frames = ParseFrames(ReadFile(dir / "n.mp2"), &end);
    ASSERT_EQ(frames.size(), 8u);
    for (const auto& f : frames) EXPECT_EQ(f.mode, 1);
    // A quiet tone fits without noise: plain stereo frames, extension 0.
    SetTestPcm(Tone(44100, 2, 8 * 1152 / 44100.0, 1000, 200));
    ASSERT_EQ(EncodeTestPcm(dir / "t.mp2", 44100, 384, 'j'), 0);
    frames = ParseFrames(ReadFile(dir / "t.mp2"), &end);
    ASSERT_EQ(frames.size(), 8u);
    for (const auto& f : frames) {
        EXPECT_EQ(f.mode, 0);
        EXPECT_EQ(f.modeExtension, 0);
    }
    if (HaveTool("ffmpeg")) DecodeWithFfmpeg(dir / "n.mp2", 2);
}

TEST(AudioStreamFraming, SimdAndPlainGiveIdenticalFiles) {
    TempDir dir;
    auto pcm = Noise(44100, 2, 12 * 1152 / 44100.0, 20000, 3);
    for (size_t i = 0; i < pcm.size(); i += 97) pcm[i] = int16_t(i % 2 ? 32767 : -32768);
    for (char mode : {'s', 'j'}) {
        SetTestPcm(pcm);
        ASSERT_EQ(EncodeTestPcm(dir / "plain.mp2", 44100, 256, mode, 0, false), 0);
        SetTestPcm(pcm);
        ASSERT_EQ(EncodeTestPcm(dir / "simd.mp2", 44100, 256, mode, 0, true), 0);
        EXPECT_EQ(ReadFile(dir / "plain.mp2"), ReadFile(dir / "simd.mp2")) << mode;
        SetTestPcm(pcm);
        ASSERT_EQ(EncodeTestPcm(dir / "again.mp2", 44100, 256, mode, 0, true), 0);
        EXPECT_EQ(ReadFile(dir / "again.mp2"), ReadFile(dir / "simd.mp2")) << mode;
    }
}

TEST(AudioStreamFraming, SilenceDecodesToSilence) {
    if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
    TempDir dir;
    SetTestPcm(std::vector<int16_t>(5 * 2304, 0));
    ASSERT_EQ(EncodeTestPcm(dir / "s.mp2", 48000, 192, 's'), 0);
    auto decoded = DecodeWithFfmpeg(dir / "s.mp2", 2);
    ASSERT_EQ(decoded.size(), 5u * 2304);
    for (int16_t v : decoded) ASSERT_LE(std::abs(v), 1);
}

TEST(AudioStreamFailures, RefusedSettingsAndUncreatableOutput) {
    TempDir dir;
    SetTestPcm(Tone(44100, 2, 0.1, 1000, 1000));
    EXPECT_EQ(EncodeTestPcm(dir / "a.mp2", 32000, 192, 's'), 1);
    EXPECT_FALSE(std::filesystem::exists(dir / "a.mp2"));
    EXPECT_EQ(EncodeTestPcm(dir / "a.mp2", 44100, 190, 's'), 1);
    EXPECT_FALSE(std::filesystem::exists(dir / "a.mp2"));
    EXPECT_EQ(EncodeTestPcm(dir / "a.mp2", 44100, 192, 'x'), 1);
    // Mode and rate pairs Layer II forbids are refused before anything is written.
    for (auto [rate, mode] : {std::pair{224, 'm'}, {384, 'm'}, {32, 's'}, {48, 'j'}, {56, 'd'}, {80, 's'}}) {
        EXPECT_EQ(EncodeTestPcm(dir / "a.mp2", 44100, rate, mode), 1) << rate << mode;
        EXPECT_FALSE(std::filesystem::exists(dir / "a.mp2"));
    }
    EXPECT_EQ(EncodeTestPcm(dir / "missing" / "a.mp2", 44100, 192, 's'), 1);
    EXPECT_EQ(Audio.AudioWriteState, 2);
    EXPECT_NE(Audio.AudioMessageBuffer.find("Program can't create output file"), std::string::npos);
    // The encoder is usable again after a failure.
    // The source hands out 22050 Hz audio resampled to 44100 Hz.
    SetTestPcm(Tone(44100, 1, 2 * 1152 / 44100.0, 1000, 1000));
    EXPECT_EQ(EncodeTestPcm(dir / "b.mp2", 22050, 64, 'm'), 0);
    size_t end = 0;
    EXPECT_EQ(ParseFrames(ReadFile(dir / "b.mp2"), &end).size(), 2u);
}

TEST(AudioStreamFailures, WriteFailureIsReportedNotSuccess) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP();
    platform::ScriptedMessageBoxes boxes;
    EncodeAbortFlag = 0;
    SetTestPcm(Tone(44100, 2, 30 * 1152 / 44100.0, 1000, 1000));
    EXPECT_EQ(EncodeTestPcm("/dev/full", 44100, 384, 's'), 1);
    EXPECT_EQ(Audio.AudioWriteState, 1);
    EXPECT_EQ(EncodeAbortFlag, 1);
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_NE(boxes.Shown()[0].text.find("Program cannot write data to MPEG audio file."), std::string::npos);
    EncodeAbortFlag = 0;
    // Even a stream smaller than the buffer fails at the end, not silently.
    platform::ScriptedMessageBoxes again;
    SetTestPcm(Tone(44100, 1, 1152 / 44100.0, 1000, 1000));
    EXPECT_EQ(EncodeTestPcm("/dev/full", 44100, 64, 'm'), 1);
    EXPECT_EQ(Audio.AudioWriteState, 1);
    EXPECT_EQ(again.Shown().size(), 1u);
    EncodeAbortFlag = 0;

    // A disk that fills up half way through a regular file.
    TempDir dir;
    platform::ScriptedMessageBoxes third;
    SetTestPcm(Tone(44100, 2, 30 * 1152 / 44100.0, 1000, 1000));
    {
        fulldisk::FileSizeLimit limit(8192);
        ASSERT_TRUE(limit.set());
        EXPECT_EQ(EncodeTestPcm(dir / "a.mp2", 44100, 384, 's'), 1);
    }
    EXPECT_EQ(Audio.AudioWriteState, 1);
    EXPECT_EQ(third.Shown().size(), 1u);
    EncodeAbortFlag = 0;
}

// The bit counters run past 32 bits (about 93 minutes at 384 kbit/s) and the
// stream stays the same.
TEST(AudioStreamFailures, BitCountersPast32Bits) {
    TempDir dir;
    const std::vector<int16_t> pcm = Tone(48000, 2, 8 * 1152 / 48000.0, 1000, 3000);
    SetTestPcm(pcm);
    ASSERT_EQ(EncodeTestPcm(dir / "short.mp2", 48000, 384, 's'), 0);

    SetTestPcm(pcm);
    EncoderSettings.audioSampleRate = 48000;
    RunState = 2;
    ASSERT_EQ(InitAudioEncoder((dir / "long.mp2").c_str(), 384, 's'), 0);
    Audio.stream.totalBits = Audio.sentBits = (int64_t{1} << 31) - 5000;
    int frames = 0;
    while (ReadPcmFrame(Audio.pcm, UINT64_MAX, Audio.params.channels) != 0) {
        ASSERT_EQ(EncodeAudioFrame(), 0);
        ++frames;
    }
    EXPECT_EQ(FinishAudioEncoder(), 0);
    RunState = 1;
    EXPECT_EQ(frames, 8);
    EXPECT_GT(Audio.sentBits, int64_t{INT32_MAX});
    EXPECT_EQ(ReadFile(dir / "long.mp2"), ReadFile(dir / "short.mp2"));
}

TEST(AudioStreamFailures, StopFinishesTheFrameInHand) {
    TempDir dir;
    SetTestPcm(Tone(48000, 2, 10 * 1152 / 48000.0, 1000, 1000));
    AudioAbortFlag = 1;
    EXPECT_EQ(EncodeTestPcm(dir / "a.mp2", 48000, 192, 's'), 0);
    AudioAbortFlag = 0;
    size_t end = 0;
    std::string bytes = ReadFile(dir / "a.mp2");
    EXPECT_EQ(ParseFrames(bytes, &end).size(), 1u);
    EXPECT_EQ(end, bytes.size());
}

}  // namespace
