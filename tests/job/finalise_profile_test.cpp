// The finalisation as the profile reader runs it: built-in defaults, a
// re-check of the current settings ("-") and profile files of each disc
// format and level, with the error flag of one read not blocking the next.
#include <gtest/gtest.h>

#include "job/Finalise.h"
#include "job/Profile.h"
#include "settings/Report.h"
#include "tests/job/ValidateFixtures.h"

using namespace validatetest;

namespace {

bool SameDerivedValues(const EncoderSettingsRecord& a, const EncoderSettingsRecord& b) {
    if (a.motionData.size() != b.motionData.size()) return false;
    for (size_t i = 0; i < a.motionData.size(); ++i) {
        const MotionDataRecord &x = a.motionData[i], &y = b.motionData[i];
        if (x.forwardHorFCode != y.forwardHorFCode || x.forwardVertFCode != y.forwardVertFCode || x.sxf != y.sxf ||
            x.syf != y.syf || x.backwardHorFCode != y.backwardHorFCode || x.backwardVertFCode != y.backwardVertFCode ||
            x.sxb != y.sxb || x.syb != y.syb)
            return false;
    }
    for (int t = 0; t < 3; ++t)
        if (a.intraVlcFormat[t] != b.intraVlcFormat[t] || a.framePredFrameDct[t] != b.framePredFrameDct[t])
            return false;
    return a.vbvBufferSize == b.vbvBufferSize && a.intraDcPrecision == b.intraDcPrecision &&
           a.colorPrimaries == b.colorPrimaries && a.transferCharacteristics == b.transferCharacteristics &&
           a.matrixCoefficients == b.matrixCoefficients && a.frameRate == b.frameRate &&
           a.frameRateNumerator == b.frameRateNumerator && a.frameRateDenominator == b.frameRateDenominator &&
           a.progressiveSequence == b.progressiveSequence && a.topFieldFirst == b.topFieldFirst &&
           a.interlacedCoding == b.interlacedCoding && a.constrainedParametersFlag == b.constrainedParametersFlag &&
           a.workingWidth == b.workingWidth && a.workingHeight == b.workingHeight;
}

TEST(FinaliseThroughProfiles, BuiltInDefaults) {
    CheckScope scope;
    ReadProfile("+");
    const EncoderSettingsRecord& s = EncoderSettings;
    EXPECT_EQ(ProfileLoaded, 1);
    EXPECT_EQ(ParameterError, 0);
    EXPECT_TRUE(scope.boxes.Shown().empty());
    ASSERT_EQ(s.motionData.size(), 3u);
    EXPECT_EQ(s.motionData[0].forwardHorFCode, 3);
    EXPECT_EQ(s.motionData[2].backwardVertFCode, 2);
    EXPECT_EQ(s.vbvBufferSize, 20);
    EXPECT_EQ(s.intraDcPrecision, 0);
    EXPECT_EQ(s.constrainedParametersFlag, 1);
    EXPECT_EQ(s.frameRateNumerator, 30000);
    EXPECT_EQ(s.frameRateDenominator, 1001);
    EXPECT_EQ(s.colorPrimaries, 4);  // NTSC source
}

// Each representative setting survives a profile file and gets the same
// derived values from the file as from the record itself.
TEST(FinaliseThroughProfiles, FilesOfEachFormatAndLevel) {
    struct Case {
        const char* name;
        EncoderSettingsRecord settings;
    };
    const Case cases[] = {
        {"MPEG-1", Mpeg1Settings()},
        {"Video-CD 1.1", VcdSettings(kApplicationVcd11)},
        {"Video-CD 2.0 PAL", VcdPalSettings(kApplicationVcd20)},
        {"CD-i", VcdSettings(kApplicationCdi)},
        {"DVD", DvdSettings()},                {"DVD PAL", DvdPalSettings()},
        {"DVD MPEG-1", DvdMpeg1Settings()},    {"SVCD", SvcdSettings()},
        {"SVCD PAL", SvcdPalSettings()},       {"High", Mpeg2LevelSettings(4)},
        {"High-1440", Mpeg2LevelSettings(6)},  {"Main", Mpeg2LevelSettings(8)},
        {"Low", Mpeg2LevelSettings(10)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CheckScope scope;
        EncoderSettings = c.settings;
        FinaliseSettings(true);
        ASSERT_EQ(ParameterError, 0);
        const EncoderSettingsRecord direct = EncoderSettings;

        const std::string file = (scope.dir / "case.prf").string();
        ASSERT_EQ(WriteProfile(file.c_str()), 0);
        EncoderSettings = EncoderSettingsRecord{};
        EncoderSettings.vbvBufferSize = 999;
        ReadProfile(file.c_str());
        EXPECT_EQ(ProfileLoaded, 1);
        EXPECT_EQ(ParameterError, 0);
        EXPECT_TRUE(SameDerivedValues(EncoderSettings, direct));

        ReadProfile("-");
        EXPECT_EQ(ParameterError, 0);
        EXPECT_TRUE(SameDerivedValues(EncoderSettings, direct));
        EXPECT_TRUE(scope.boxes.Shown().empty());
    }
}

TEST(FinaliseThroughProfiles, LevelIsCheckedOnlyWhenRechecking) {
    CheckScope scope;
    // 720 x 576 at 29.97 frames/s is beyond Main level.
    EncoderSettings = Mpeg2LevelSettings(8);
    EncoderSettings.frameRateCode = 4;
    const std::string file = (scope.dir / "fast.prf").string();
    ASSERT_EQ(WriteProfile(file.c_str()), 0);

    ReadProfile(file.c_str());
    EXPECT_EQ(ParameterError, 0);
    EXPECT_TRUE(scope.boxes.Shown().empty());

    ReadProfile("-");
    EXPECT_EQ(ParameterError, 1);
    EXPECT_EQ(ProfileLoaded, 1);
    ASSERT_EQ(scope.boxes.Shown().size(), 1u);
    EXPECT_EQ(scope.boxes.Shown()[0].text.rfind("Sample rate (picture_width*picture_height*frame_rate) is \n", 0), 0u);

    // Once corrected, the next check starts clean.
    EncoderSettings.frameRateCode = 3;
    ReadProfile("-");
    EXPECT_EQ(ParameterError, 0);
    EXPECT_EQ(scope.boxes.Shown().size(), 1u);
}

TEST(FinaliseThroughProfiles, FatalProblemInAFile) {
    CheckScope scope;
    EncoderSettings = Mpeg1Settings();
    EncoderSettings.gopSize = 10;
    const std::string bad = (scope.dir / "bad.prf").string();
    ASSERT_EQ(WriteProfile(bad.c_str()), 0);
    EncoderSettings.gopSize = 12;
    const std::string good = (scope.dir / "good.prf").string();
    ASSERT_EQ(WriteProfile(good.c_str()), 0);

    ReadProfile(bad.c_str());
    EXPECT_EQ(ProfileLoaded, 1);
    EXPECT_EQ(ParameterError, 1);
    ASSERT_EQ(scope.boxes.Shown().size(), 1u);
    EXPECT_EQ(scope.boxes.Shown()[0].text, "N must be an integer multiple of M");
    EXPECT_EQ(EncoderJumpArmed, 0);  // the read disarmed its jump on the way out

    ReadProfile(good.c_str());
    EXPECT_EQ(ParameterError, 0);
    EXPECT_EQ(EncoderSettings.gopSize, 12);
}

TEST(FinaliseThroughProfiles, RecheckInABatch) {
    CheckScope scope;
    scope.UseBatchLog();
    ReadProfile("+");
    EncoderSettings.inputFileName = "/videos/holiday.avi";
    EncoderSettings.outputFileName = "/videos/holiday.mpg";
    EncoderSettings.bitRate = 1900000.0;  // above the constrained parameters
    ReadProfile("-");
    EXPECT_EQ(ParameterError, 1);
    EXPECT_EQ(EncoderSettings.constrainedParametersFlag, 0);

    EncoderSettings.bitRate = 1500000.0;
    EncoderSettings.rateControl = kRateVariable;
    EncoderSettings.vbrMode = kVbrAverage;
    EncoderSettings.averageBitRate = 2000000.0;
    EncoderSettings.maxBitRate = 2000000.0;
    ReadProfile("-");
    EXPECT_EQ(ParameterError, 1);
    EXPECT_TRUE(scope.boxes.Shown().empty());
    EXPECT_EQ(scope.BatchLog(),
              " Error:\n Output file /videos/holiday.mpg has encoding parameters\n that are not within the range of "
              "constrained parameters.\n File Skipped.\nBatch File /videos/holiday.avi message:\nError in Variable "
              "Bitrate Parameters: \n\nAverage bit rate must be lesser than maximum bit rate.\n");
}

}  // namespace
