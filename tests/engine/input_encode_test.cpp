// AVI input through the whole engine: read-ahead on the pool or inline, SIMD
// on or off, with the input preview, borders and the median filter; the
// streams are identical and decode cleanly.
#include <gtest/gtest.h>

#include "engine/EngineState.h"
#include "engine/Input.h"
#include "engine/Threads.h"
#include "job/EncoderSettings.h"
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
