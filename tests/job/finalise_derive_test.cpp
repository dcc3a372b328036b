// Values the finalisation derives for the engine: f_codes and motion data,
// VBV size and DC precision per format and level, exact frame rates, colour
// codes and the field and per-picture flags.
#include <gtest/gtest.h>

#include "job/Finalise.h"
#include "tests/job/ValidateFixtures.h"

using namespace validatetest;

namespace {

void Finalise(const EncoderSettingsRecord& settings, bool recheck = true) {
    EncoderSettings = settings;
    FinaliseSettings(recheck);
}

TEST(FinaliseDerive, FCodeOfEachSearchRange) {
    struct Case {
        int range, fcode;
    };
    const Case cases[] = {{8, 1},   {16, 2},  {24, 3},  {32, 3},  {40, 4},  {64, 4},
                          {72, 5},  {128, 5}, {136, 6}, {256, 6}, {264, 7}, {512, 7}};
    for (const Case& c : cases) {
        for (int mpeg1 : {1, 0}) {
            CheckScope scope;
            EncoderSettingsRecord s = mpeg1 ? Mpeg1Settings() : Mpeg2LevelSettings(4);
            s.constrainedParameters = 0;
            s.pFrameMotionRange[0] = s.pFrameMotionRange[1] = c.range;
            s.bFrameMotionRange[0] = s.bFrameMotionRange[1] = c.range;
            Finalise(s, false);
            SCOPED_TRACE(testing::Message() << "range " << c.range << " mpeg1 " << mpeg1);
            ASSERT_EQ(ParameterError, 0);
            const MotionDataRecord& p = EncoderSettings.motionData[0];
            EXPECT_EQ(p.forwardHorFCode, c.fcode);
            EXPECT_EQ(p.forwardVertFCode, c.fcode);
            const MotionDataRecord& b = EncoderSettings.motionData[2];
            EXPECT_EQ(b.forwardHorFCode, c.fcode);
            EXPECT_EQ(b.backwardVertFCode, c.fcode);
        }
    }
}

TEST(FinaliseDerive, MotionDataRecordsPerPictureDistance) {
    struct Case {
        int mpeg1;
        int p[2], b[2];
        MotionDataRecord record0, record1;
    };
    const Case cases[] = {
        // MPEG-1 codes both components of a direction from the larger range.
        {1, {32, 32}, {16, 16}, {3, 3, 32, 32, 0, 0, 0, 0}, {2, 2, 16, 16, 2, 2, 16, 16}},
        {1, {64, 16}, {8, 24}, {4, 4, 64, 16, 0, 0, 0, 0}, {3, 3, 8, 24, 3, 3, 8, 24}},
        // MPEG-2 codes each component from its own range.
        {0, {64, 16}, {8, 24}, {4, 2, 64, 16, 0, 0, 0, 0}, {1, 3, 8, 24, 1, 3, 8, 24}},
    };
    auto same = [](const MotionDataRecord& a, const MotionDataRecord& b) {
        return a.forwardHorFCode == b.forwardHorFCode && a.forwardVertFCode == b.forwardVertFCode &&
               a.sxf == b.sxf && a.syf == b.syf && a.backwardHorFCode == b.backwardHorFCode &&
               a.backwardVertFCode == b.backwardVertFCode && a.sxb == b.sxb && a.syb == b.syb;
    };
    for (const Case& c : cases) {
        CheckScope scope;
        EncoderSettingsRecord s = c.mpeg1 ? Mpeg1Settings() : Mpeg2LevelSettings(8);
        s.constrainedParameters = 0;
        s.pFrameMotionRange[0] = c.p[0], s.pFrameMotionRange[1] = c.p[1];
        s.bFrameMotionRange[0] = c.b[0], s.bFrameMotionRange[1] = c.b[1];
        Finalise(s);
        ASSERT_EQ(EncoderSettings.motionData.size(), 3u);
        EXPECT_TRUE(same(EncoderSettings.motionData[0], c.record0));
        EXPECT_TRUE(same(EncoderSettings.motionData[1], c.record1));
        EXPECT_TRUE(same(EncoderSettings.motionData[2], c.record1));
    }
}

TEST(FinaliseDerive, MotionDataFollowsTheAnchorDistance) {
    CheckScope scope;
    Finalise(Mpeg1Settings());
    ASSERT_EQ(EncoderSettings.motionData.size(), 3u);
    EncoderSettings.ipDistance = 1;
    EncoderSettings.gopSize = 12;
    FinaliseSettings(true);
    EXPECT_EQ(EncoderSettings.motionData.size(), 1u);
    EncoderSettings.ipDistance = 4;
    FinaliseSettings(true);
    ASSERT_EQ(EncoderSettings.motionData.size(), 4u);
    EXPECT_EQ(EncoderSettings.motionData[3].backwardHorFCode, 2);
}

TEST(FinaliseDerive, VbvSizeAndDcPrecisionPerFormatAndLevel) {
    struct Case {
        const char* name;
        EncoderSettingsRecord settings;
        Mutation change;
        int vbv, dc;
    };
    auto rate = [](double r) { return [r](EncoderSettingsRecord& s) { s.bitRate = r; }; };
    auto nothing = [](EncoderSettingsRecord&) {};
    const Case cases[] = {
        {"MPEG-1 constrained", Mpeg1Settings(), nothing, 20, 0},
        {"MPEG-1 unconstrained", Mpeg1Settings(), [](EncoderSettingsRecord& s) { s.constrainedParameters = 0; },
         112, 0},
        {"Video-CD", VcdSettings(kApplicationVcd20), nothing, 20, 0},
        {"DVD", DvdSettings(), nothing, 112, 0},
        {"SVCD", SvcdSettings(), nothing, 112, 0},
        // 6000000 / (720 x 576 + 1) is 14.5 bits per sample and second, 15000000 gives 36.2;
        // 10782746 gives exactly 26, which is not above the bound.
        {"Main 6 Mbit/s", Mpeg2LevelSettings(8), rate(6000000.0), 112, 0},
        {"Main 15 Mbit/s", Mpeg2LevelSettings(8), rate(15000000.0), 112, 2},
        {"Main 10782746 bit/s", Mpeg2LevelSettings(8), rate(10782746.0), 112, 0},
        {"Main 10782800 bit/s", Mpeg2LevelSettings(8), rate(10782800.0), 112, 2},
        {"Low", Mpeg2LevelSettings(10), rate(4000000.0), 28, 0},
        {"High", Mpeg2LevelSettings(4), nothing, 400, 2},
        {"High-1440", Mpeg2LevelSettings(6), rate(1000000.0), 400, 0},
        {"variable mode 1 uses the average", Mpeg2LevelSettings(8),
         [](EncoderSettingsRecord& s) {
             s.rateControl = kRateVariable, s.vbrMode = kVbrAverage, s.bitRate = 2000000.0;
             s.averageBitRate = 12000000.0, s.maxBitRate = 14000000.0;
         },
         112, 2},
        {"variable mode 4 fine scale", Mpeg2LevelSettings(8),
         [](EncoderSettingsRecord& s) {
             s.rateControl = kRateVariable, s.vbrMode = kVbrConstantQuant, s.constantQuantScale = 4;
         },
         112, 2},
        {"variable mode 5 coarse scale", Mpeg2LevelSettings(8),
         [](EncoderSettingsRecord& s) {
             s.rateControl = kRateVariable, s.vbrMode = kVbrQuantWithinAverage, s.constantQuantScale = 5;
             s.maxBitRate = 9000000.0, s.averageBitRateUpper = 6000000.0, s.averageBitRateLower = 2000000.0;
         },
         112, 0},
    };
    for (const Case& c : cases) {
        CheckScope scope;
        EncoderSettingsRecord s = c.settings;
        c.change(s);
        s.vbvBufferSize = 5000;  // whatever was stored is replaced
        s.intraDcPrecision = 3;
        Finalise(s);
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ParameterError, 0);
        EXPECT_TRUE(scope.boxes.Shown().empty());
        EXPECT_EQ(EncoderSettings.vbvBufferSize, c.vbv);
        EXPECT_EQ(EncoderSettings.intraDcPrecision, c.dc);
    }
}

TEST(FinaliseDerive, ExactFrameRateOfEachCode) {
    struct Case {
        int code, numerator, denominator;
    };
    const Case cases[] = {{1, 24000, 1001}, {2, 24, 1}, {3, 25, 1}, {4, 30000, 1001},
                          {5, 30, 1},       {6, 50, 1}, {7, 60000, 1001}, {8, 60, 1}};
    for (const Case& c : cases) {
        CheckScope scope;
        EncoderSettingsRecord s = Mpeg2LevelSettings(4);
        s.horizontalSize = 1280;
        s.verticalSize = 720;
        s.frameRateCode = c.code;
        Finalise(s);
        SCOPED_TRACE(c.code);
        EXPECT_EQ(ParameterError, 0);
        EXPECT_EQ(EncoderSettings.frameRateNumerator, c.numerator);
        EXPECT_EQ(EncoderSettings.frameRateDenominator, c.denominator);
        EXPECT_EQ(EncoderSettings.frameRate, static_cast<double>(c.numerator) / c.denominator);
    }
}

TEST(FinaliseDerive, ColourDescriptionFromSourceFormat) {
    struct Case {
        int videoFormat, primaries, transfer, matrix;
    };
    // Formats without a description of their own keep the stored codes.
    const Case cases[] = {{1, 5, 5, 5}, {2, 4, 4, 5}, {3, 5, 5, 5}, {0, 6, 7, 1}, {4, 6, 7, 1}, {5, 6, 7, 1}};
    for (const Case& c : cases) {
        CheckScope scope;
        EncoderSettingsRecord s = Mpeg2LevelSettings(8);
        s.videoFormat = c.videoFormat;
        s.colorPrimaries = 6, s.transferCharacteristics = 7, s.matrixCoefficients = 1;
        Finalise(s);
        SCOPED_TRACE(c.videoFormat);
        EXPECT_EQ(EncoderSettings.colorPrimaries, c.primaries);
        EXPECT_EQ(EncoderSettings.transferCharacteristics, c.transfer);
        EXPECT_EQ(EncoderSettings.matrixCoefficients, c.matrix);
    }
}

TEST(FinaliseDerive, FieldAndPerPictureFlags) {
    struct Case {
        const char* name;
        int mpeg1, interlaceMode;
        int interlaced, progressive, topFirst, framePredFrameDct, intraVlc;
    };
    const Case cases[] = {
        {"MPEG-2 progressive", 0, 0, 0, 1, 0, 1, 1},
        {"MPEG-2 top field first", 0, 1, 1, 0, 1, 0, 1},
        {"MPEG-2 bottom field first", 0, 2, 1, 0, 0, 0, 1},
        {"MPEG-1 ignores interlacing", 1, 1, 0, 1, 0, 1, 0},
    };
    for (const Case& c : cases) {
        CheckScope scope;
        EncoderSettingsRecord s = c.mpeg1 ? Mpeg1Settings() : Mpeg2LevelSettings(8);
        s.interlaceMode = c.interlaceMode;
        Finalise(s);
        SCOPED_TRACE(c.name);
        const EncoderSettingsRecord& r = EncoderSettings;
        EXPECT_EQ(r.interlacedCoding, c.interlaced);
        EXPECT_EQ(r.progressiveSequence, c.progressive);
        EXPECT_EQ(r.progressiveFrame, c.progressive);
        EXPECT_EQ(r.topFieldFirst, c.topFirst);
        for (int t = 0; t < 3; ++t) {
            EXPECT_EQ(r.framePredFrameDct[t], c.framePredFrameDct);
            EXPECT_EQ(r.intraVlcFormat[t], c.intraVlc);
        }
    }
}

TEST(FinaliseDerive, CopiesAndResetsForTheEngine) {
    CheckScope scope;
    EncoderSettingsRecord s = Mpeg2LevelSettings(8);
    s.horizontalSize = 704;
    s.verticalSize = 480;
    s.frameRateCode = 4;
    s.intraMatrixFileName = "custom.mat";
    s.nonIntraMatrixFileName = "custom2.mat";
    s.mpeg1 = 0;
    s.constrainedParameters = 7;
    Finalise(s);
    EXPECT_EQ(EncoderSettings.workingWidth, 704);
    EXPECT_EQ(EncoderSettings.workingHeight, 480);
    EXPECT_EQ(EncoderSettings.intraMatrixFileName, "-");
    EXPECT_EQ(EncoderSettings.nonIntraMatrixFileName, "-");
    EXPECT_EQ(EncoderSettings.constrainedParameters, 1);
    EXPECT_EQ(EncoderSettings.constrainedParametersFlag, 0);  // only MPEG-1 streams are constrained
    EXPECT_EQ(ProfileLoaded, 1);
    EXPECT_EQ(ParameterError, 0);
}

}  // namespace
