// Rate control: budgets, VBV clock, quantiser choice and picture updates.
#include <gtest/gtest.h>
#include <random>
#include <vector>

#include "engine/BitWriter.h"
#include "engine/EngineState.h"
#include "engine/RateControl.h"
#include "platform/MessageBox.h"
#include "settings/EncoderSettings.h"
#include "settings/Report.h"
#include "tests/support/TestSupport.h"

namespace {

// A sequence of 352x288 pictures at 25 frames/s with its bit writer open on a scratch file.
class RateControlTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = EncoderSettings;
        EncoderSettings.frameRate = 25.0;
        EncoderSettings.bitRate = 1150000.0;
        EncoderSettings.vbvBufferSize = 20;
        EncoderSettings.rateControl = kRateConstant;
        EncoderSettings.gopSize = 12;
        EncoderSettings.ipDistance = 3;
        EncoderSettings.qualityStatisticsMode = 0;
        EncoderSettings.suppressWarnings = 0;
        Sequence.EncodeWidth = 352;
        Sequence.EncodeHeight = 288;
        Sequence.MbWidth = 22;
        Sequence.MbHeight = 18;
        mbs_.assign(Sequence.MbWidth * Sequence.MbHeight, MacroblockInfo{});
        Sequence.MacroblockInfoArray = mbs_.data();
        Sequence.OutputFrameCount = 100;
        CurrentPicture.PictureIndex = 0;
        CurrentPicture.PictureCodingType = I_PICTURE;
        VideoStreamFile = std::fopen((dir_ / "out.m1v").c_str(), "wb");
        InitBitWriter();
    }
    void TearDown() override {
        FinishBitWriter();
        std::fclose(VideoStreamFile);
        VideoStreamFile = nullptr;
        Sequence.MacroblockInfoArray = nullptr;
        EncoderSettings = saved_;
    }
    void Start() {
        RcReset();
        ASSERT_EQ(RcInitSequence(), 0);
    }
    // Codes one picture of `bits` bits at the quantisers rate control asks for.
    void CodePicture(int type, int bits) {
        CurrentPicture.PictureCodingType = type;
        CheckVbvAndWriteStats();
        RcInitPicture();
        RcStartPictureQuant();
        for (int k = 0; k < Sequence.MbWidth * Sequence.MbHeight; ++k) {
            RateControlState.CurrentMbRow = k / Sequence.MbWidth;
            RateControlState.CurrentMbColumn = k % Sequence.MbWidth;
            RcCalcMquant(k);
            int share = bits / (Sequence.MbWidth * Sequence.MbHeight);
            while (share > 0) {
                int n = std::min(share, 32);
                PutBits(n, 0x5555);
                share -= n;
            }
        }
        RcUpdatePicture();
        RcEndPicture();
        ++CurrentPicture.PictureIndex;
    }

    testsupport::TempDir dir_;
    EncoderSettingsRecord saved_;
    std::vector<MacroblockInfo> mbs_;
};

TEST_F(RateControlTest, IntraOnlySequenceGivesTheWholeBudgetToEachPicture) {
    EncoderSettings.gopSize = 1;
    EncoderSettings.ipDistance = 1;
    Start();
    // 1,150,000 x 256 / (352 x 288 x 25) = 116.1 -> 116, then 80 %.
    EXPECT_EQ(RateControlState.BitsPerPixelX256, 92);
    RcInitGop(0, 0, 0);
    CheckVbvAndWriteStats();
    const int budget = RateControlState.R;
    RcInitPicture();
    EXPECT_DOUBLE_EQ(RateControlState.Kb, 1.6);
    EXPECT_EQ(RateControlState.T0, budget);
}

TEST_F(RateControlTest, GroupCorrectionIsClippedToAnEighth) {
    Start();
    RateControlState.R1 = 1.0e8f;  // far more than the group can take
    RcInitGop(3, 8, 8);
    const int G = static_cast<int>(12 * 1150000.0 / 25.0);
    EXPECT_EQ(RateControlState.R, G / 8 + G);
    RateControlState.R1 = -1.0e8f;
    RcInitGop(3, 8, 8);
    EXPECT_EQ(RateControlState.R, G - G / 8);
}

TEST_F(RateControlTest, FirstDecodingTimeAndVbvDelayLimits) {
    // 7/8 of a 112 x 16 kbit buffer at 1.15 Mbit/s takes far more than 64000 ticks.
    EncoderSettings.vbvBufferSize = 112;
    Start();
    RcInitGop(3, 8, 8);
    CheckVbvAndWriteStats();
    EXPECT_DOUBLE_EQ(RateControlState.DecodingTime, 64000.0);
    EXPECT_GE(RateControlState.VbvDelay, 0);
    EXPECT_LE(RateControlState.VbvDelay, 65535);

    EncoderSettings.rateControl = kRateVariable;
    EncoderSettings.vbrMode = kVbrConstantQuant;
    EncoderSettings.constantQuantScale = 6;
    Start();
    RcInitGop(3, 8, 8);
    CheckVbvAndWriteStats();
    EXPECT_EQ(RateControlState.VbvDelay, 65535);
}

TEST_F(RateControlTest, RefusedVariableRateSettings) {
    platform::ScriptedMessageBoxes boxes;
    EncoderSettings.rateControl = kRateVariable;
    EncoderSettings.vbrMode = kVbrQuantWithinAverage;
    EncoderSettings.constantQuantScale = 8;
    EncoderSettings.averageBitRateUpper = 800000.0;
    EncoderSettings.averageBitRateLower = 800000.0;
    RcReset();
    EXPECT_EQ(RcInitSequence(), -1);
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].text,
              "Value of (desired minimum of average bitrate) must be \nless then (desired maximum of average bit rate)");
    EncoderSettings.vbrMode = 9;
    EXPECT_EQ(RcInitSequence(), -1);
    EXPECT_EQ(boxes.Shown()[1].text, " Illegal vbr option value ");
    EncoderSettings.rateControl = 3;
    try {
        EncoderJumpArm arm;
        RcInitSequence();
        ADD_FAILURE();
    } catch (const EncoderJump& j) {
        EXPECT_EQ(j.value, 2);
    }
    EXPECT_EQ(boxes.Shown()[2].text, " Illegal vbr mode selection value ");
}

TEST_F(RateControlTest, DistributionShiftsStartQuantisers) {
    EncoderSettings.rateControl = kRateVariable;
    EncoderSettings.vbrMode = kVbrConstantQuant;
    EncoderSettings.constantQuantScale = 10;  // doubled 20
    EncoderSettings.vbrDistribution = 8;
    Start();
    CurrentPicture.PictureIndex = 0;
    CurrentPicture.PictureCodingType = I_PICTURE;
    EXPECT_EQ(RcStartPictureQuant(), 18);  // 7 x 20 / 8 + 1
    CurrentPicture.PictureCodingType = B_PICTURE;
    EXPECT_EQ(RcStartPictureQuant(), 22);  // 9 x 20 / 8
    CurrentPicture.PictureCodingType = P_PICTURE;
    EXPECT_EQ(RcStartPictureQuant(), 20);
}

TEST_F(RateControlTest, StuffingPadsSmallConstantRatePictures) {
    Start();
    RcInitGop(3, 8, 8);
    CurrentPicture.PictureCodingType = I_PICTURE;
    CheckVbvAndWriteStats();
    RcInitPicture();
    RcStartPictureQuant();
    RateControlState.MinPictureBits = 10000;
    const int before = TotalBitCount;
    PutBits(13, 1);
    FlushBitQueue();
    RcUpdatePicture();
    EXPECT_EQ(TotalBitCount - before, 13 + (10000 - 13 + 2048));
    EXPECT_EQ(RateControlState.PictureStartBits, 13);
}

TEST_F(RateControlTest, RowsNearAFullBufferRiseSharply) {
    Start();
    RcInitGop(3, 8, 8);
    CurrentPicture.PictureCodingType = P_PICTURE;
    CheckVbvAndWriteStats();
    RcInitPicture();
    const int start = RcStartPictureQuant();
    ASSERT_LT(start, 40);
    // The picture already holds more than 7/8 of the buffer.
    for (int n = 0; n < RateControlState.VbvHighBits / 32 + 1; ++n) PutBits(32, 0);
    RateControlState.CurrentMbRow = 1;
    RateControlState.CurrentMbColumn = 0;
    int q = RcCalcMquant(Sequence.MbWidth);
    EXPECT_GE(q, 22);
    for (int n = 0; n < (RateControlState.VbvPanicBits - RateControlState.VbvHighBits) / 32 + 1; ++n) PutBits(32, 0);
    RateControlState.CurrentMbRow = 2;
    EXPECT_EQ(RcCalcMquant(2 * Sequence.MbWidth), 62);
    FlushBitQueue();
}

TEST_F(RateControlTest, UnderflowWarnsOncePerSequenceUnlessSuppressed) {
    platform::ScriptedMessageBoxes boxes;
    Start();
    RcInitGop(3, 8, 8);
    CodePicture(I_PICTURE, 400000);  // far larger than the buffer
    CodePicture(P_PICTURE, 400000);
    CodePicture(P_PICTURE, 400000);
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].caption, " Warning");
    EXPECT_EQ(boxes.Shown()[0].text.substr(0, 21), "VBV buffer underflow.");

    boxes.Clear();
    EncoderSettings.suppressWarnings = 1;
    CurrentPicture.PictureIndex = 0;
    TotalBitCount = 0;
    Start();
    RcInitGop(3, 8, 8);
    CodePicture(I_PICTURE, 400000);
    CodePicture(P_PICTURE, 400000);
    EXPECT_TRUE(boxes.Shown().empty());
    EXPECT_EQ(RateControlState.VbvWarningShown, 0);

    // Cancel ends the encoding as a fatal error.
    EncoderSettings.suppressWarnings = 0;
    boxes.Answer(platform::MbAnswer::Cancel);
    int jumped = 0;
    try {
        EncoderJumpArm arm;
        CodePicture(P_PICTURE, 400000);
    } catch (const EncoderJump& j) {
        jumped = j.value;
    }
    EXPECT_EQ(jumped, 2);
    EXPECT_EQ(boxes.Texts().back(), "The current encode has been aborted.");
}

TEST_F(RateControlTest, ConstantRateHoldsTheAverage) {
    Start();
    // A simple coder: bits proportional to 1 / quantiser.
    double spent = 0;
    for (int gop = 0; gop < 4; ++gop) {
        RcInitGop(3, 8, 8);
        for (int p = 0; p < 12; ++p) {
            int type = p == 0 ? I_PICTURE : (p % 3 == 0 ? P_PICTURE : B_PICTURE);
            CurrentPicture.PictureCodingType = type;
            CheckVbvAndWriteStats();
            RcInitPicture();
            int q = RcStartPictureQuant();
            int bits = static_cast<int>((type == I_PICTURE ? 3.0e6 : type == P_PICTURE ? 1.2e6 : 0.6e6) / q);
            int before = TotalBitCount;
            for (int k = 0; k < Sequence.MbWidth * Sequence.MbHeight; ++k) {
                RateControlState.CurrentMbRow = k / Sequence.MbWidth;
                RateControlState.CurrentMbColumn = k % Sequence.MbWidth;
                int mq = RcCalcMquant(k);
                int share = bits / (Sequence.MbWidth * Sequence.MbHeight) * q / mq;
                for (; share > 0; share -= 16) PutBits(std::min(share, 16), 0);
            }
            RcUpdatePicture();
            RcEndPicture();
            spent += TotalBitCount - before;
            ++CurrentPicture.PictureIndex;
        }
    }
    const double expected = 48 * 1150000.0 / 25.0;
    EXPECT_NEAR(spent / expected, 1.0, 0.15);
}

TEST(SpatialActivity, Sse2SumsMatchPlain) {
    std::mt19937 rng(3);
    std::vector<uint8_t> p(32 * 16);
    for (int round = 0; round < 50; ++round) {
        for (auto& v : p) v = static_cast<uint8_t>(rng());
        int s1, q1, s2, q2;
        ActivitySumsPlain(p.data() + round % 8, 32, &s1, &q1);
        ActivitySumsSse2(p.data() + round % 8, 32, &s2, &q2);
        ASSERT_EQ(s1, s2);
        ASSERT_EQ(q1, q2);
    }
}

}  // namespace
