// PCM from the AVI input as the audio encoder pulls it: 16-bit sound as ffmpeg
// decodes it, 8-bit and 11025/22050 Hz sound by the conversion formulas, with
// the interpolation carried across blocks; sound that cannot be encoded found
// by the probe; a one-picture input's sound through a whole job.
#include "job/AviSource.h"

#include "job/JobDriver.h"
#include "job/Profile.h"
#include "platform/MessageBox.h"
#include "platform/ResStrings.h"
#include "settings/EncoderSettings.h"
#include "settings/JobState.h"
#include "settings/Report.h"
#include "tests/platform/avi_media_util.h"
#include "tests/support/JobTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace {

class AviAudioTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!avitest::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
        EncoderSettings = EncoderSettingsRecord();
        EncoderSettings.inputType = 2;
        EncoderSettings.horizontalSize = 32;
        EncoderSettings.verticalSize = 16;
        BatchMode = 0;
    }
    void TearDown() override { AviCloseInputFile(); }

    // Opens a clip whose sound is `codec` at `rate` with `channels`, and sets the
    // audio range to the whole stream.
    std::filesystem::path Open(const std::string& codec, int rate, int channels, double seconds = 0.5) {
        auto path = dir / "clip.avi";
        std::string audio = "-f lavfi -i aevalsrc='0.9*sin(440*2*PI*t)|0.6*sin(1250*2*PI*t+1)':s=" +
                            std::to_string(rate) + ":d=" + std::to_string(seconds);
        EXPECT_TRUE(avitest::MakeMedia(path, avitest::VideoSource(32, 16, "25", 3) + " " + audio +
                                                 " -c:v rawvideo -c:a " + codec + " -ac " + std::to_string(channels)));
        EXPECT_EQ(AviOpenInputFile(path.string().c_str()), 1);
        EXPECT_EQ(AviInput.AviAudioUsable, 1);
        AudioStartSample = AudioPosition = AviInput.AviAudioStart;
        AudioEndSample = AviInput.AviAudioStart + AviInput.AviAudioLength;
        AviResetAudioState();
        return path;
    }

    // Everything the encoder would pull, in blocks of `block` samples.
    std::vector<int16_t> PullAll(int block) {
        std::vector<int16_t> all, buf(static_cast<size_t>(block));
        for (;;) {
            int got = AviGetAudioData(buf.data(), block);
            EXPECT_LE(got, block);
            all.insert(all.end(), buf.begin(), buf.begin() + std::max(got, 0));
            if (got < block) break;
        }
        return all;
    }

    testsupport::TempDir dir;
    platform::ScriptedMessageBoxes boxes;
};

std::vector<int32_t> Samples16(const std::string& raw) {
    std::vector<int32_t> s(raw.size() / 2);
    for (size_t i = 0; i < s.size(); ++i) s[i] = int16_t(uint8_t(raw[2 * i]) | uint8_t(raw[2 * i + 1]) << 8);
    return s;
}

std::vector<int32_t> Samples8(const std::string& raw) {
    std::vector<int32_t> s(raw.size());
    for (size_t i = 0; i < s.size(); ++i) s[i] = (int32_t(uint8_t(raw[i])) - 127) * 255;
    return s;
}

// The interpolation over a whole stream, per channel, starting from silence.
std::vector<int32_t> Upsample(const std::vector<int32_t>& in, int channels, int factor) {
    std::vector<int32_t> out;
    size_t frames = in.size() / size_t(channels);
    out.resize(frames * size_t(factor * channels));
    for (int c = 0; c < channels; ++c) {
        int32_t p = 0;
        for (size_t i = 0; i < frames; ++i) {
            int32_t s = in[i * size_t(channels) + size_t(c)];
            int32_t v[4];
            if (factor == 2) {
                v[0] = (p + s) / 2;
                v[1] = s;
            } else {
                v[0] = (3 * p + s) / 4;
                v[1] = 2 * (p + s) / 4;
                v[2] = (p + 3 * s) / 4;
                v[3] = s;
            }
            for (int k = 0; k < factor; ++k)
                out[(i * size_t(factor) + size_t(k)) * size_t(channels) + size_t(c)] = std::clamp(v[k], -32768, 32767);
            p = s;
        }
    }
    return out;
}

void ExpectPrefix(const std::vector<int16_t>& got, const std::vector<int32_t>& want, size_t minimum) {
    ASSERT_GE(got.size(), minimum);
    ASSERT_LE(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], want[i]) << "sample " << i;
}

TEST_F(AviAudioTest, SixteenBitAtFullRateIsCopied) {
    for (int rate : {44100, 48000}) {
        for (int channels : {1, 2}) {
            SCOPED_TRACE(std::to_string(rate) + " Hz, " + std::to_string(channels) + " channels");
            auto path = Open("pcm_s16le", rate, channels);
            auto want = Samples16(avitest::FfmpegOutput(path, "-map 0:a -f s16le"));
            int block = 1152 * channels;
            auto got = PullAll(block);
            // Everything but the range's last sample frame arrives, in blocks.
            EXPECT_EQ(got.size(), want.size() - size_t(channels));
            ExpectPrefix(got, want, want.size() - size_t(channels));
            AviCloseInputFile();
        }
    }
}

TEST_F(AviAudioTest, ConvertedSoundFollowsTheFormulasAcrossBlocks) {
    struct Case {
        const char* codec;
        int rate, channels, factor;
        bool eightBit;
    };
    const Case cases[] = {
        {"pcm_u8", 44100, 2, 1, true},    {"pcm_u8", 48000, 1, 1, true},    {"pcm_u8", 22050, 2, 2, true},
        {"pcm_u8", 11025, 1, 4, true},    {"pcm_u8", 11025, 2, 4, true},    {"pcm_s16le", 22050, 1, 2, false},
        {"pcm_s16le", 22050, 2, 2, false}, {"pcm_s16le", 11025, 2, 4, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.codec) + " " + std::to_string(c.rate) + " Hz, " + std::to_string(c.channels));
        auto path = Open(c.codec, c.rate, c.channels);
        std::string raw = avitest::FfmpegOutput(path, std::string("-map 0:a -f ") + (c.eightBit ? "u8" : "s16le"));
        auto source = c.eightBit ? Samples8(raw) : Samples16(raw);
        auto want = c.factor == 1 ? source : Upsample(source, c.channels, c.factor);
        auto got = PullAll(1152 * c.channels);
        // Blocks of whole source frames: all but the last source frame arrive.
        EXPECT_EQ(got.size(), want.size() - size_t(c.factor * c.channels));
        ExpectPrefix(got, want, want.size() - size_t(c.factor * c.channels));
        // The carry holds the last source sample of each channel.
        size_t last = got.size() - 1;
        if (c.channels == 1 && c.factor > 1) {
            EXPECT_EQ(AviInput.AviAudioCarry[0], got[last]);
        } else if (c.factor > 1) {
            EXPECT_EQ(AviInput.AviAudioCarry[1], got[last - 1]);
            EXPECT_EQ(AviInput.AviAudioCarry[2], got[last]);
        }
        EXPECT_TRUE(boxes.Shown().empty());
        AviCloseInputFile();
    }
}

TEST_F(AviAudioTest, EightBitExtremes) {
    auto path = dir / "square.avi";
    ASSERT_TRUE(avitest::MakeMedia(path, avitest::VideoSource(32, 16, "25", 3) +
                                             " -f lavfi -i aevalsrc='if(lt(mod(n\\,4)\\,2)\\,-1\\,1)':s=11025:d=0.2"
                                             " -c:v rawvideo -c:a pcm_u8"));
    ASSERT_EQ(AviOpenInputFile(path.string().c_str()), 1);
    AudioPosition = 0;
    AudioEndSample = AviInput.AviAudioLength;
    AviResetAudioState();
    std::vector<int16_t> block(64);
    ASSERT_EQ(AviGetAudioData(block.data(), 64), 64);
    // 0 becomes -32385 and 255 becomes 32640; the first sample leans on silence.
    EXPECT_EQ(block[3], -32385);
    EXPECT_EQ(block[0], (0 * 3 - 32385) / 4);
    EXPECT_EQ(block[11], 32640);
    EXPECT_EQ(block[9], 2 * (-32385 + 32640) / 4);
}

// The reader's range handling and the converter's refusals.
TEST_F(AviAudioTest, RangeAndRefusals) {
    Open("pcm_s16le", 22050, 2, 0.2);
    std::vector<uint8_t> buf(8000);
    int64_t frames = 0, bytes = 0;
    // The last sample before the end of the range is never read.
    AudioPosition = 100;
    AudioEndSample = 110;
    EXPECT_EQ(AviReadAudioSamples(buf.data(), int64_t(buf.size()), 50, &frames, &bytes), 1);
    EXPECT_EQ(frames, 9);
    EXPECT_EQ(bytes, 36);
    EXPECT_EQ(AudioPosition, 109);
    EXPECT_EQ(AviReadAudioSamples(buf.data(), int64_t(buf.size()), 50, &frames, &bytes), 0);
    EXPECT_EQ(frames, 0);
    AudioPosition = 110;
    EXPECT_EQ(AviReadAudioSamples(buf.data(), int64_t(buf.size()), 5, &frames, &bytes), 0);
    AudioPosition = 0;
    AudioEndSample = 1000;
    EXPECT_EQ(AviReadAudioSamples(buf.data(), 19, 5, &frames, &bytes), 0);  // no room
    EXPECT_EQ(AviReadAudioSamples(nullptr, 100, 5, &frames, &bytes), 0);

    int64_t samples = 10, count = 40;
    EXPECT_EQ(AviConvertAudioSamples(buf.data(), 79, &samples, &count), 0);  // the grown data would not fit
    EXPECT_EQ(AviConvertAudioSamples(buf.data(), 80, &samples, &count), 2);
    EXPECT_EQ(samples, 20);
    EXPECT_EQ(count, 80);
    samples = 0;
    EXPECT_EQ(AviConvertAudioSamples(buf.data(), 80, &samples, &count), 0);

    // Nothing to pull without a destination or a count.
    EXPECT_EQ(AviGetAudioData(nullptr, 100), 0);
    int16_t one = 0;
    EXPECT_EQ(AviGetAudioData(&one, 0), 0);
    EXPECT_TRUE(boxes.Shown().empty());
    AviCloseInputFile();

    // 16-bit sound at 48 kHz needs nothing done.
    Open("pcm_s16le", 48000, 2, 0.1);
    samples = 10;
    count = 40;
    EXPECT_EQ(AviConvertAudioSamples(buf.data(), 40, &samples, &count), 1);
    EXPECT_EQ(count, 40);
}

TEST_F(AviAudioTest, MessagesWhenSoundCannotBeDelivered) {
    // A file without usable sound.
    auto path = dir / "silent.avi";
    ASSERT_TRUE(avitest::MakeMedia(path, avitest::VideoSource(32, 16, "25", 3) + " -c:v rawvideo"));
    ASSERT_EQ(AviOpenInputFile(path.string().c_str()), 1);
    int16_t buf[16];
    AviInput.AviWaveFormat = {1, 2, 44100, 176400, 4, 16, 0};
    EXPECT_EQ(AviGetAudioData(buf, 16), 0);
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].text, "Error: Program failed to open audio stream.");
    AviCloseInputFile();

    // A format the reader cannot convert is refused when sound is pulled.
    boxes.Clear();
    Open("pcm_s16le", 44100, 2, 0.2);
    AviInput.AviWaveFormat.bitsPerSample = 24;
    EXPECT_EQ(AviGetAudioData(buf, 16), 0);
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].text, "Illegal audio stream format. Audio compression failed ");
    EXPECT_EQ(boxes.Shown()[0].caption, "");
}

// Sound the encoder cannot take is found by the probe, with the probe's
// message, whatever is wrong with it: the input then counts as silent.
TEST_F(AviAudioTest, ProbeRefusesSoundThatCannotBeEncoded) {
    const char* formats[] = {"-c:a pcm_s24le", "-c:a pcm_s16le -ac 6", "-c:a pcm_s16le -ar 32000",
                             "-c:a pcm_s16le -ar 96000", "-c:a pcm_f32le", "-c:a adpcm_ms", "-c:a mp2"};
    for (const char* format : formats) {
        boxes.Clear();
        auto path = dir / "odd.avi";
        ASSERT_TRUE(avitest::MakeMedia(path, avitest::VideoSource(32, 16, "25", 3) +
                                                 " -f lavfi -i sine=r=48000:d=0.2 -c:v rawvideo " + format));
        AviInfoTexts info;
        EXPECT_EQ(ProbeAviInputFile(path.string(), &info), 1) << format;
        EXPECT_EQ(EncoderSettings.inputHasAudio, 0) << format;
        ASSERT_EQ(boxes.Shown().size(), 1u) << format;
        EXPECT_EQ(boxes.Shown()[0].text, LoadResString(64390)) << format;
    }
}

// Whole jobs on AVI input whose sound is out of the ordinary.
class AviAudioJob : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testsupport::HaveTool("ffmpeg") || !testsupport::HaveTool("ffprobe")) GTEST_SKIP() << "no ffmpeg";
        ASSERT_EQ(InitEncoderLibrary(), 1);
        testsupport::ResetJobHooks();
    }
    testsupport::TempDir dir;
    platform::ScriptedMessageBoxes boxes;
};

// One picture whose sound the demuxer holds as the pieces of a single chunk:
// the whole job runs and its system stream carries the sound.
TEST_F(AviAudioJob, OneFrameInputWithItsSoundInOneChunkEncodes) {
    const testsupport::TestAvi avi{96, 64, "25", 1, 44100, 2};
    ASSERT_EQ(testsupport::RunCommand("ffmpeg -v error -y -f lavfi -i testsrc2=size=96x64:rate=25:duration=0.02 " +
                                      testsupport::TestAviTone(avi) + " -af asetnsamples=n=4410 -c:v mjpeg " +
                                      "-c:a pcm_s16le '" + (dir / "in.avi").string() + "'"),
              0);
    ASSERT_NO_FATAL_FAILURE(testsupport::AviJobSettings(dir / "in.avi", avi, 3, dir.path()));
    EXPECT_EQ(RunEncoding(nullptr), 1);
    EXPECT_EQ(JobResult, 0);
    EXPECT_TRUE(boxes.Shown().empty()) << boxes.Shown()[0].text;
    EXPECT_EQ(avitest::Probe(dir / "out.mpg", "a", "codec_name"), "mp2");
}

// Sound the probe cannot use leaves a job that asked for a system stream with
// video only: the file written is named and announced as the video stream it is.
TEST_F(AviAudioJob, VideoOnlyAfterUnusableSoundIsNamedAsAVideoStream) {
    ASSERT_EQ(testsupport::MakeTestAvi(dir / "in.avi", {96, 64, "25", 3, 32000, 2}), 0);
    ASSERT_NO_FATAL_FAILURE(testsupport::AviJobSettings(dir / "in.avi", {96, 64, "25", 3, 0, 2}, 3, dir.path()));
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_NE(boxes.Shown()[0].text.find("Only the video stream will be used."), std::string::npos);
    // A file of the user's already at the video stream's name is kept.
    testsupport::WriteFile(dir / "out.m1v", "user's own");
    EncoderSettings.encodeAudio = 1;
    EXPECT_EQ(RunEncoding(nullptr), 1);
    EXPECT_EQ(JobResult, 0);
    EXPECT_FALSE(std::filesystem::exists(dir / "out.mpg"));
    EXPECT_EQ(testsupport::ReadFile(dir / "out.m1v"), "user's own");
    EXPECT_EQ(avitest::Probe(dir / "out_2.m1v", "v", "codec_name"), "mpeg1video");
    ASSERT_EQ(boxes.Shown().size(), 3u);
    EXPECT_EQ(boxes.Shown()[1].text, LoadResString(63467));
    EXPECT_EQ(boxes.Shown()[2].text,
              "Only the video stream was encoded.\nMPEG video stream file:\n" + (dir / "out_2.m1v").string());
}

}  // namespace
