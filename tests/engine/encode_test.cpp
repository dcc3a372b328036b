// End-to-end: raw YUV pictures through the engine into MPEG-1 and MPEG-2
// elementary streams that ffmpeg decodes cleanly, with the reconstruction
// agreeing with ffmpeg's decode.
#include <gtest/gtest.h>

#include "engine/EngineState.h"
#include "engine/Fdct.h"
#include "engine/Input.h"
#include "engine/Quant.h"
#include "engine/Threads.h"
#include "platform/MessageBox.h"
#include "settings/EncoderSettings.h"
#include "tests/engine/encode_util.h"
#include "tests/support/TestSupport.h"

using namespace encodetest;
using testsupport::HaveTool;
using testsupport::TempDir;

namespace {

struct Case {
    const char* name;
    int mpeg1, M, N, width, height, frames;
    int rateControl = kRateConstant, vbrMode = kVbrAverage, interlace = 0, skipB = 0, closedGop = 0;
};

class EncodeMatrix : public ::testing::TestWithParam<Case> {};

TEST_P(EncodeMatrix, DecodesCleanlyWithTheRightPictures) {
    if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
    const Case c = GetParam();
    TempDir dir;
    platform::ScriptedMessageBoxes boxes;
    const std::string pattern = MakeRawFrames(dir.path(), c.width, c.height, c.frames);
    const auto out = dir / (c.mpeg1 ? "out.m1v" : "out.m2v");
    EncodeResult r = Encode(pattern, out, c.width, c.height, c.frames, [&] {
        EncoderSettings.mpeg1 = c.mpeg1;
        EncoderSettings.streamType = c.mpeg1 ? kStreamTypeMpeg1 : kStreamTypeMpeg2;
        EncoderSettings.ipDistance = c.M;
        EncoderSettings.gopSize = c.N;
        EncoderSettings.bitRate = c.width > 400 ? 6000000.0 : 1150000.0;
        EncoderSettings.maxBitRate = EncoderSettings.bitRate;
        EncoderSettings.averageBitRate = 0.7 * EncoderSettings.bitRate;
        EncoderSettings.averageBitRateUpper = 0.8 * EncoderSettings.bitRate;
        EncoderSettings.averageBitRateLower = 0.2 * EncoderSettings.bitRate;
        EncoderSettings.rateControl = c.rateControl;
        EncoderSettings.vbrMode = c.vbrMode;
        EncoderSettings.interlaceMode = c.interlace;
        EncoderSettings.skipBFramesMode = c.skipB;
        EncoderSettings.closedGopOption = c.closedGop;
        EncoderSettings.constrainedParameters = 0;
        EncoderSettings.mpegLevel = c.width > 720 ? 4 : 8;
        EncoderSettings.performanceMode = 1;
        EncoderSettings.videoFormat = 1;  // PAL: the frames are 25 per second
        EncoderSettings.qualityStatisticsMode = 2;
        EncoderSettings.statisticsFileName = (dir / "stats.txt").string();
        EncoderSettings.pFrameMotionRange[0] = EncoderSettings.pFrameMotionRange[1] = 16;
        EncoderSettings.bFrameMotionRange[0] = EncoderSettings.bFrameMotionRange[1] = 8;
    });
    // Advice questions (answered Yes) are fine; error reports are not.
    for (const auto& b : boxes.Shown())
        if (b.buttons != platform::MbButtons::YesNo) ADD_FAILURE() << "box: " << b.text;
    ASSERT_EQ(r.begin, 0);
    EXPECT_EQ(r.pictures, c.frames);
    EXPECT_EQ(r.failedPictures, 0);
    EXPECT_EQ(r.end, 0);
    EXPECT_EQ(DecodeErrors(out), "");
    EXPECT_EQ(ProbeFrameCount(out), c.frames);
    if (c.skipB == 0 && c.M == 3 && c.N == 12 && c.frames == 10) {
        EXPECT_EQ(ProbePictureTypes(out), "IBBPBBPBBP");
    }
    // Our reconstruction is what a standard decoder sees: the luma error the
    // encoder measured per picture equals ffmpeg's, frame by frame, so nothing
    // drifts along P chains.
    auto decoded = LumaMse(out, pattern, c.width, c.height, c.frames);
    auto own = StatisticsLumaMse(dir / "stats.txt", c.frames);
    ASSERT_EQ(static_cast<int>(decoded.size()), c.frames);
    for (int f = 0; f < c.frames; ++f) {
        // A skipped B picture shows its anchor; its statistics measure the anchor.
        if (c.skipB && f % c.M != 0) continue;
        ASSERT_GE(own[f], 0.0) << "no statistics for frame " << f;
        EXPECT_NEAR(decoded[f], own[f], 0.02 * own[f] + 0.05) << "frame " << f;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Streams, EncodeMatrix,
    ::testing::Values(Case{"mpeg1_m3_n12", 1, 3, 12, 352, 288, 10}, Case{"mpeg2_m3_n12", 0, 3, 12, 352, 288, 10},
                      Case{"mpeg1_m1_n1", 1, 1, 1, 352, 288, 4}, Case{"mpeg2_m2_n12", 0, 2, 12, 352, 288, 17}, Case{"mpeg1_m3_n15", 1, 3, 15, 352, 288, 16}, Case{"mpeg2_m1_n15", 0, 1, 15, 352, 288, 6},
                      Case{"mpeg2_odd_width", 0, 3, 12, 350, 240, 7},
                      Case{"mpeg2_vbr_avg", 0, 3, 12, 352, 288, 8, 2, 1},
                      Case{"mpeg2_vbr_cq", 0, 3, 12, 352, 288, 8, 2, 4},
                      Case{"mpeg2_interlaced", 0, 3, 12, 720, 576, 4, 1, 1, 1},
                      Case{"mpeg2_skip_b", 0, 3, 12, 352, 288, 10, 1, 1, 0, 3},
                      Case{"mpeg1_skip_b1", 1, 3, 12, 352, 288, 10, 1, 1, 0, 1},
                      Case{"mpeg2_skip_b2", 0, 3, 12, 352, 288, 10, 1, 1, 0, 2},
                      Case{"mpeg2_closed_gop", 0, 3, 6, 352, 288, 14, 1, 1, 0, 0, 1},
                      Case{"mpeg2_1080", 0, 3, 12, 1920, 1080, 2}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(EncodeDeterminism, SameBytesAcrossThreadsAndSimd) {
    if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
    TempDir dir;
    const std::string pattern = MakeRawFrames(dir.path(), 352, 288, 8);
    std::string reference;
    int run = 0;
    for (int simd : {1, 0, 1})
        for (int threads : {1, 4, 8, 16})
            for (int flags : {0, 1}) {
                const auto out = dir / ("run" + std::to_string(run++) + ".m2v");
                EncodeResult r = Encode(pattern, out, 352, 288, 8, [&] {
                    EncoderSettings.mpeg1 = 0;
                    EncoderSettings.videoFormat = 1;
                    EncoderSettings.disableMmx = simd ? 0 : 1;
                    MmxEnabled = simd;
                    MeThreadCount = threads;
                    ThreadReadFlag = ThreadDrawFlag = ThreadEncodeFlag = ThreadTablesFlag = flags;
                });
                ASSERT_EQ(r.begin, 0);
                // The set-up ran each family's kernels at the level asked for.
                EXPECT_EQ(FdctKernelSet.fdct, simd ? Fdct8x8Sse2 : Fdct8x8);
                EXPECT_EQ(QuantKernelSet.quantizeNonIntra, simd ? QuantizeNonIntraSse2 : QuantizeNonIntraPlain);
                EXPECT_EQ(InputKernelSet.copyBytes, simd ? CopyBytesSse2 : CopyBytesPlain);
                if (reference.empty()) reference = r.bytes;
                EXPECT_TRUE(r.bytes == reference) << "simd " << simd << " threads " << threads << " flags " << flags;
            }
    MmxEnabled = 1;
    MeThreadCount = 1;
    ThreadReadFlag = ThreadDrawFlag = ThreadEncodeFlag = ThreadTablesFlag = 0;
}

}  // namespace
