// The encoder reading its PCM through the real AVI source: a resampled
// 22050 Hz clip comes out as a 44.1 kHz stream that ffmpeg decodes to the tone.
#include <gtest/gtest.h>

#include "audio/AudioEncoder.h"
#include "job/AviSource.h"
#include "platform/MessageBox.h"
#include "settings/EncoderSettings.h"
#include "settings/Report.h"
#include "settings/RunState.h"
#include "tests/audio/AudioTestUtil.h"
#include "tests/platform/avi_media_util.h"
#include "tests/support/TestSupport.h"

namespace {

TEST(AudioFromAvi, ResampledClipEncodesToTheTone) {
    if (!avitest::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    testsupport::TempDir dir;
    platform::ScriptedMessageBoxes boxes;
    EncoderSettings = EncoderSettingsRecord();
    EncoderSettings.inputType = 2;
    EncoderSettings.horizontalSize = 32;
    EncoderSettings.verticalSize = 16;
    auto clip = dir / "clip.avi";
    ASSERT_TRUE(avitest::MakeMedia(clip, avitest::VideoSource(32, 16, "25", 3) +
                                             " -f lavfi -i aevalsrc='0.5*sin(1000*2*PI*t)|0.3*sin(440*2*PI*t)':s=22050:d=1"
                                             " -c:v rawvideo -c:a pcm_s16le -ac 2"));
    ASSERT_EQ(AviOpenInputFile(clip.string().c_str()), 1);
    AviRequestedChannels = 2;
    AudioStartSample = AudioPosition = AviInput.AviAudioStart;
    AudioEndSample = AviInput.AviAudioStart + AviInput.AviAudioLength;
    AviResetAudioState();

    AudioPcmSource = AviGetAudioData;
    EncoderSettings.audioSampleRate = 22050;
    RunState = 2;
    auto out = dir / "a.mp2";
    EXPECT_EQ(EncodeAudioFile(out.string(), 192, 's'), 0);
    RunState = 1;
    AviCloseInputFile();
    EXPECT_TRUE(boxes.Shown().empty());

    // One second at 44.1 kHz: 38.3 frames, so 39.
    size_t end = 0;
    std::string bytes = testsupport::ReadFile(out);
    EXPECT_EQ(ParseFrames(bytes, &end).size(), 39u);
    EXPECT_EQ(end, bytes.size());
    EXPECT_EQ(avitest::Probe(out, "a", "sample_rate"), "44100");
    EXPECT_EQ(avitest::Probe(out, "a", "bit_rate"), "192000");
    EXPECT_EQ(avitest::Probe(out, "a", "channels"), "2");
    auto decoded = DecodeWithFfmpeg(out, 2);
    ASSERT_EQ(decoded.size(), 39u * 2304);
    double amplitude = 0;
    EXPECT_GT(ToneSnr(decoded, 2, 0, 44100, 1000, &amplitude), 30.0);
    EXPECT_NEAR(amplitude, 0.5 * 32767, 0.05 * 32767);
    EXPECT_GT(ToneSnr(decoded, 2, 1, 44100, 440), 30.0);
}

}  // namespace
