// AVI input through the whole engine: read-ahead on the pool or inline, SIMD
// on or off, with the input preview, borders and the median filter; the
// streams are identical and decode cleanly.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "engine/EngineState.h"
#include "engine/Input.h"
#include "engine/Threads.h"
#include "job/AviSource.h"
#include "platform/AviFile.h"
#include "platform/MessageBox.h"
#include "settings/EncoderSettings.h"
#include "tests/engine/encode_util.h"
#include "tests/support/TestSupport.h"

using namespace encodetest;

TEST(InputEncode, AviStreamsAgreeAcrossReadAheadAndSimd) {
    if (!testsupport::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
    testsupport::TempDir dir;
    platform::ScriptedMessageBoxes boxes;
    const auto avi = dir / "in.avi";
    ASSERT_EQ(testsupport::RunCommand("ffmpeg -v error -f lavfi -i testsrc2=size=200x120:rate=25 -frames:v 9 "
                                      "-c:v rawvideo -pix_fmt bgr24 '" + avi.string() + "'"),
              0);
    std::string first;
    for (int variant = 0; variant < 3; ++variant) {
        const auto out = dir / ("out" + std::to_string(variant) + ".m1v");
        ThreadReadFlag = variant != 1;
        EncodeResult r = Encode(avi.string(), out, 200, 120, 9, [&] {
            EncoderSettings.inputType = 2;
            EncoderSettings.disableMmx = variant == 2;
            MmxEnabled = variant == 2 ? 0 : 1;
            EncoderSettings.showInput = 1;
            EncoderSettings.medianFilter = 1;
            EncoderSettings.medianFilterStrength = 60;
            EncoderSettings.topBorderLines = EncoderSettings.bottomBorderLines = 2;
        });
        ASSERT_EQ(r.begin, 0) << variant;
        EXPECT_EQ(r.pictures, 9);
        EXPECT_EQ(DecodeErrors(out), "");
        if (variant == 0) first = r.bytes;
        else EXPECT_TRUE(r.bytes == first) << "variant " << variant;
    }
    ThreadReadFlag = 0;
    MmxEnabled = 1;
    for (const auto& b : boxes.Shown())
        if (b.buttons != platform::MbButtons::YesNo) ADD_FAILURE() << b.text;
}

// Streams that start late (the video after 5 frames, the sound after 0.2 s)
// are read from their own start: the same samples and pictures as from a file
// whose streams start at once.
TEST(InputEncode, StreamsThatStartLateAreReadFromTheirStart) {
    if (!testsupport::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
    testsupport::TempDir dir;
    platform::ScriptedMessageBoxes boxes;
    const std::string avi[2] = {(dir / "in.avi").string(), (dir / "late.avi").string()};
    ASSERT_EQ(testsupport::RunCommand("ffmpeg -v error -f lavfi -i testsrc2=size=200x120:rate=25 -f lavfi -i "
                                      "sine=r=44100:d=0.4 -frames:v 9 -c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le '" +
                                      avi[0] + "'"),
              0);
    std::string file = testsupport::ReadFile(avi[0]);
    for (size_t at = file.find("strh"); at != std::string::npos; at = file.find("strh", at + 4)) {
        const uint32_t start = file.compare(at + 8, 4, "vids") == 0 ? 5 : 8820;  // dwStart
        for (int i = 0; i < 4; ++i) file[at + 36 + i] = static_cast<char>(start >> (8 * i));
    }
    testsupport::WriteFile(avi[1], file);
    std::string streams[2];
    int16_t samples[2][100];
    for (int k = 0; k < 2; ++k) {
        std::unique_ptr<platform::AviFile> f;
        ASSERT_EQ(platform::AviFile::Open(avi[k], &f), platform::AviStatus::Ok);
        platform::AviStream* audio = f->GetStream(platform::kAviStreamAudio, 0);
        ASSERT_TRUE(audio);
        EXPECT_EQ(f->GetStream(platform::kAviStreamVideo, 0)->Length(), 9);
        int64_t bytes = 0, read = 0;
        ASSERT_EQ(audio->Start(), k * 8820);
        ASSERT_EQ(audio->ReadSamples(audio->Start() + 20, 100, samples[k], sizeof samples[k], &bytes, &read),
                  platform::AviStatus::Ok);
        EXPECT_EQ(read, 100);
        EncodeResult r = Encode(avi[k], dir / "out.m1v", 200, 120, 1, [] { EncoderSettings.inputType = 2; });
        EXPECT_EQ(r.pictures, 9) << k;
        EXPECT_EQ(AviGetVideoStartFrame(), k * 5);
        streams[k] = r.bytes;
    }
    EXPECT_EQ(std::memcmp(samples[0], samples[1], sizeof samples[0]), 0);
    EXPECT_TRUE(streams[0] == streams[1]);
    for (const auto& b : boxes.Shown())
        if (b.buttons != platform::MbButtons::YesNo) ADD_FAILURE() << b.text;
}
