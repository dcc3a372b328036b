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
#include "job/EncoderSettings.h"
#include "platform/AviFile.h"
#include "platform/MessageBox.h"
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

namespace {

// The file with the start of each stream header of type `type` set to `start`.
std::string WithStreamStart(std::string file, const char* type, uint32_t start) {
    for (size_t at = file.find("strh"); at != std::string::npos; at = file.find("strh", at + 4)) {
        if (file.compare(at + 8, 4, type) != 0) continue;
        for (int i = 0; i < 4; ++i) file[at + 8 + 28 + i] = static_cast<char>(start >> (8 * i));
    }
    return file;
}

}  // namespace

// Streams that start late (the video after 5 frames, the sound after 0.2 s)
// are read from their own start: the same pictures and samples as a file
// whose streams start at once.
TEST(InputEncode, StreamsThatStartLateAreReadFromTheirStart) {
    if (!testsupport::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
    testsupport::TempDir dir;
    platform::ScriptedMessageBoxes boxes;
    const auto avi = dir / "in.avi", late = dir / "late.avi";
    ASSERT_EQ(testsupport::RunCommand("ffmpeg -v error -f lavfi -i testsrc2=size=200x120:rate=25 -f lavfi -i "
                                      "sine=r=44100:d=0.4 -frames:v 9 -c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le '" +
                                      avi.string() + "'"),
              0);
    testsupport::WriteFile(late, WithStreamStart(WithStreamStart(testsupport::ReadFile(avi), "vids", 5), "auds", 8820));

    std::unique_ptr<platform::AviFile> files[2];
    ASSERT_EQ(platform::AviFile::Open(avi.string(), &files[0]), platform::AviStatus::Ok);
    ASSERT_EQ(platform::AviFile::Open(late.string(), &files[1]), platform::AviStatus::Ok);
    platform::AviStream* video = files[1]->GetStream(platform::kAviStreamVideo, 0);
    platform::AviStream* audio[2] = {files[0]->GetStream(platform::kAviStreamAudio, 0),
                                     files[1]->GetStream(platform::kAviStreamAudio, 0)};
    ASSERT_TRUE(video && audio[0] && audio[1]);
    EXPECT_EQ(video->Start(), 5);
    EXPECT_EQ(video->Length(), 9);
    EXPECT_EQ(audio[1]->Start(), 8820);
    EXPECT_EQ(audio[1]->Length(), audio[0]->Length());
    int16_t samples[2][100];
    int64_t bytes = 0, read = 0;
    ASSERT_EQ(audio[0]->ReadSamples(20, 100, samples[0], sizeof samples[0], &bytes, &read), platform::AviStatus::Ok);
    ASSERT_EQ(audio[1]->ReadSamples(8820 + 20, 100, samples[1], sizeof samples[1], &bytes, &read),
              platform::AviStatus::Ok);
    EXPECT_EQ(read, 100);
    EXPECT_EQ(std::memcmp(samples[0], samples[1], sizeof samples[0]), 0);
    EXPECT_NE(audio[1]->ReadSamples(0, 100, samples[1], sizeof samples[1], &bytes, &read), platform::AviStatus::Ok);

    std::string streams[2];
    for (int k = 0; k < 2; ++k) {
        EncodeResult r = Encode((k ? late : avi).string(), dir / "out.m1v", 200, 120, 1, [&] {
            EncoderSettings.inputType = 2;
        });
        ASSERT_EQ(r.begin, 0) << k;
        EXPECT_EQ(r.pictures, 9) << k;
        streams[k] = r.bytes;
    }
    EXPECT_TRUE(streams[0] == streams[1]);
    for (const auto& b : boxes.Shown())
        if (b.buttons != platform::MbButtons::YesNo) ADD_FAILURE() << b.text;
}
