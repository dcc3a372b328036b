// What the finalisation refuses: each fatal message, the unwinding of an
// armed profile read, the variable-bit-rate errors and the MPEG-1
// constrained-parameter notices, on screen and in the batch log.
#include <gtest/gtest.h>

#include "job/Finalise.h"
#include "platform/ResStrings.h"
#include "settings/Report.h"
#include "tests/job/ValidateFixtures.h"

using namespace validatetest;

namespace {

struct FatalCase {
    const char* message;
    EncoderSettingsRecord settings;
    Mutation change;
};

void ExpectFatal(const FatalCase& c, bool recheck = true) {
    SCOPED_TRACE(c.message);
    {
        CheckScope scope;
        EncoderSettings = c.settings;
        c.change(EncoderSettings);
        FinaliseSettings(recheck);
        ASSERT_EQ(scope.boxes.Shown().size(), 1u);
        EXPECT_EQ(scope.boxes.Shown()[0].text, c.message);
        EXPECT_EQ(scope.boxes.Shown()[0].caption, " Tessmar ");
        EXPECT_EQ(ParameterError, 1);
        EXPECT_EQ(ProfileLoaded, 1);
    }
    {
        // Inside an armed profile read the report unwinds the finalisation.
        CheckScope scope;
        EncoderSettings = c.settings;
        c.change(EncoderSettings);
        int jump = 0;
        try {
            EncoderJumpArm arm;
            FinaliseSettings(recheck);
        } catch (const EncoderJump& e) {
            jump = e.value;
        }
        EXPECT_EQ(jump, 2);
        EXPECT_EQ(ParameterError, 1);
        EXPECT_EQ(ProfileLoaded, 1);
    }
}

template <typename F>
Mutation Change(F f) {
    return Mutation(f);
}

TEST(FinaliseErrors, EstimatorAndGroupSettings) {
    const EncoderSettingsRecord base = Mpeg1Settings();
    const FatalCase cases[] = {
        {" Illegal ME performance parameter \n", base, Change([](EncoderSettingsRecord& s) { s.performanceMode = 0; })},
        {" Illegal ME performance parameter \n", base, Change([](EncoderSettingsRecord& s) { s.performanceMode = 6; })},
        {" Illegal maximum number of blocks, must be >10 \n", base,
         Change([](EncoderSettingsRecord& s) { s.meSearchPoints = 9; })},
        {" Illegal square of pixel threshold must be 0<=d<=999\n", base,
         Change([](EncoderSettingsRecord& s) { s.meThreshold = 1000; })},
        {" Illegal square of pixel threshold must be 0<=d<=999\n", base,
         Change([](EncoderSettingsRecord& s) { s.meThreshold = -1; })},
        {" Illegal parameter tolerance, must be positive  \n", base,
         Change([](EncoderSettingsRecord& s) { s.meSearchLevel = -1; })},
        {"N must be positive", base, Change([](EncoderSettingsRecord& s) { s.gopSize = 0; })},
        {"M must be positive", base, Change([](EncoderSettingsRecord& s) { s.ipDistance = 0; })},
        {"N must be an integer multiple of M", base,
         Change([](EncoderSettingsRecord& s) { s.gopSize = 10, s.ipDistance = 3; })},
        {" Illegal P frame maximum motion vector value(s)\n", base,
         Change([](EncoderSettingsRecord& s) { s.pFrameMotionRange[1] = 12; })},
        {" Illegal P frame maximum motion vector value(s)\n", base,
         Change([](EncoderSettingsRecord& s) { s.pFrameMotionRange[0] = 0; })},
        {" Illegal B frame maximum motion vector value(s)\n", base,
         Change([](EncoderSettingsRecord& s) { s.bFrameMotionRange[0] = -8; })},
        {"Couldn't allocate motion_data\n", base,
         Change([](EncoderSettingsRecord& s) { s.gopSize = s.ipDistance = 2000000000; })},
        {" Illegal motion vector maximum value. \n", base,
         Change([](EncoderSettingsRecord& s) { s.pFrameMotionRange[0] = 520; })},
        {" Illegal motion vector maximum value. \n", Mpeg2LevelSettings(4),
         Change([](EncoderSettingsRecord& s) { s.bFrameMotionRange[1] = 1024; })},
    };
    for (const FatalCase& c : cases) ExpectFatal(c);
}

TEST(FinaliseErrors, RangeChecksRunInsideTheFinalisation) {
    const FatalCase cases[] = {
        {"Frame_rate code must be between 1 and 8.", Mpeg1Settings(),
         Change([](EncoderSettingsRecord& s) { s.frameRateCode = 9; })},
        {"Color_primaries must be in range 1...2 or 4...7.", Mpeg2LevelSettings(8),
         Change([](EncoderSettingsRecord& s) { s.videoFormat = 0, s.colorPrimaries = 3; })},
        {"Bit rate must be >0.", Mpeg1Settings(), Change([](EncoderSettingsRecord& s) { s.bitRate = 0.0; })},
    };
    for (const FatalCase& c : cases) ExpectFatal(c);
}

TEST(FinaliseErrors, VariableBitRateSettings) {
    auto variable = [](int mode, double average, double maximum, int scale, double upper, double lower) {
        EncoderSettingsRecord s = Mpeg2LevelSettings(8);
        s.rateControl = kRateVariable;
        s.vbrMode = mode;
        s.averageBitRate = average;
        s.maxBitRate = maximum;
        s.constantQuantScale = scale;
        s.averageBitRateUpper = upper;
        s.averageBitRateLower = lower;
        return s;
    };
    auto keep = Change([](EncoderSettingsRecord&) {});
    const std::string scaleText =
        "Error in Variable Bitrate Parameters: \n\nIllegal value in quantization scale.\n\nQuantization scale must "
        "range from 1 to 31.";
    ASSERT_EQ(LoadResString(64328), scaleText);
    ASSERT_EQ(LoadResString(64329), scaleText);
    const std::string lowerText = LoadResString(64331);
    ASSERT_EQ(lowerText.rfind("Error in Variable Bitrate Parameters: \n\n", 0), 0u);
    const FatalCase cases[] = {
        {"Error in Variable Bitrate Parameters: \n\nAverage bit rate must be lesser than maximum bit rate.",
         variable(kVbrAverage, 4000000.0, 4000000.0, 4, 0, 0), keep},
        {scaleText.c_str(), variable(kVbrConstantQuant, 0, 8000000.0, 0, 0, 0), keep},
        {scaleText.c_str(), variable(kVbrQuantWithinAverage, 0, 8000000.0, 32, 5000000.0, 1000000.0), keep},
        {"Error in Variable Bitrate Parameters: \n\nParameter Desired maximum of average bit rate must\nbe lesser "
         "than maximum bit rate.",
         variable(kVbrQuantWithinAverage, 0, 8000000.0, 4, 8000000.0, 1000000.0), keep},
        {lowerText.c_str(), variable(kVbrQuantWithinAverage, 0, 8000000.0, 4, 5000000.0, 5000000.0), keep},
        {"Error in Variable Bitrate Parameters: \n\nIllegal value of VBR mode options - unsupported option.",
         variable(6, 0, 8000000.0, 4, 0, 0), keep},
        {"Error in Variable Bitrate Parameters: \n\nIllegal value of VBR mode options - unsupported option.",
         variable(0, 0, 8000000.0, 4, 0, 0), keep},
    };
    for (const FatalCase& c : cases) ExpectFatal(c);

    for (int mode : {kVbrAverageNoVbv, kVbrConstantQuantNoVbv}) {
        CheckScope scope;
        EncoderSettings = variable(mode, 9000000.0, 8000000.0, 40, 0, 0);
        FinaliseSettings(true);
        EXPECT_EQ(ParameterError, 0) << mode;
    }
}

TEST(FinaliseErrors, ProfileAndLevelOnlyWhenRechecking) {
    // 720 x 576 at 29.97 frames/s is 12.4 million samples/s, above Main level's 10368000.
    const FatalCase tooFast = {
        "Sample rate (picture_width*picture_height*frame_rate) is \ngreater than permitted in specified Level. "
        "\n\nYou are attempting to use frame rate 29.97 fps with PAL video \nformat. For PAL system use frame rate "
        "25 fps.",
        Mpeg2LevelSettings(8), Change([](EncoderSettingsRecord& s) { s.frameRateCode = 4; })};
    ExpectFatal(tooFast);

    CheckScope scope;
    EncoderSettings = tooFast.settings;
    tooFast.change(EncoderSettings);
    FinaliseSettings(false);
    EXPECT_EQ(ParameterError, 0);
    EXPECT_TRUE(scope.boxes.Shown().empty());
}

TEST(FinaliseErrors, AFatalErrorLeavesLaterFieldsAlone) {
    CheckScope scope;
    EncoderSettingsRecord s = Mpeg2LevelSettings(8);
    s.rateControl = kRateVariable;
    s.vbrMode = 9;
    s.frameRateCode = 6;
    s.workingWidth = 17;
    EncoderSettings = s;
    FinaliseSettings(false);
    EXPECT_EQ(ParameterError, 1);
    EXPECT_EQ(EncoderSettings.frameRate, 50.0);   // derived before the failing step
    EXPECT_EQ(EncoderSettings.workingWidth, 17);  // derived after it
}

TEST(FinaliseErrors, FatalMessageGoesToTheBatchLog) {
    CheckScope scope;
    scope.UseBatchLog();
    EncoderSettings = Mpeg1Settings();
    EncoderSettings.gopSize = 10;
    FinaliseSettings(true);
    EXPECT_TRUE(scope.boxes.Shown().empty());
    EXPECT_EQ(scope.BatchLog(), "Batch File /videos/holiday.avi message:\nN must be an integer multiple of M\n");
}

TEST(FinaliseErrors, ConstrainedParameterNotices) {
    struct Case {
        const char* reason;
        Mutation change;
    };
    auto nothing = [](EncoderSettingsRecord&) {};
    const Case cases[] = {
        {nullptr, nothing},  // 330 macroblocks at 29.97 frames/s: 9890 per second
        {nullptr, [](EncoderSettingsRecord& s) { s.frameRateCode = 5; }},  // exactly 9900 per second
        {" horizontal image size > 768. ", [](EncoderSettingsRecord& s) { s.horizontalSize = 784; }},
        {" vertical image size > 576. ", [](EncoderSettingsRecord& s) { s.verticalSize = 592; }},
        {"Image area > 396 macroblocks\n ( W*H>101376, where W and H are width and height rounded up to nearest "
         "multiple of 16).",
         [](EncoderSettingsRecord& s) { s.horizontalSize = 368, s.verticalSize = 288, s.frameRateCode = 2; }},
        {"Pel rate > 396 x 25 macroblocks/sec. ",
         [](EncoderSettingsRecord& s) { s.verticalSize = 288, s.frameRateCode = 5; }},
        {"Picture rate > 30 frames/sec. ",
         [](EncoderSettingsRecord& s) { s.horizontalSize = 176, s.verticalSize = 144, s.frameRateCode = 6; }},
        {" Video stream data rate > 1856000 bits/sec\n (approximately equal to 1812 Kbits/sec). ",
         [](EncoderSettingsRecord& s) { s.bitRate = 1856001.0; }},
        {" forward horizontal motion vector > 64",
         [](EncoderSettingsRecord& s) { s.bFrameMotionRange[0] = 128; }},
        {" forward horizontal motion vector > 64",
         [](EncoderSettingsRecord& s) { s.pFrameMotionRange[1] = 72; }},
    };
    for (const Case& c : cases) {
        CheckScope scope;
        EncoderSettings = Mpeg1Settings();
        c.change(EncoderSettings);
        FinaliseSettings(true);
        SCOPED_TRACE(c.reason ? c.reason : "within");
        if (!c.reason) {
            EXPECT_TRUE(scope.boxes.Shown().empty());
            EXPECT_EQ(EncoderSettings.constrainedParametersFlag, 1);
            EXPECT_EQ(ParameterError, 0);
            continue;
        }
        ASSERT_EQ(scope.boxes.Shown().size(), 1u);
        EXPECT_EQ(scope.boxes.Shown()[0].text, c.reason);
        EXPECT_EQ(scope.boxes.Shown()[0].caption, "MPEG-1 Constrained Parameters Error");
        EXPECT_EQ(EncoderSettings.constrainedParametersFlag, 0);
        EXPECT_EQ(ParameterError, 1);
        // Not fatal: the finalisation went on to its end.
        EXPECT_EQ(EncoderSettings.workingWidth, EncoderSettings.horizontalSize);
        EXPECT_EQ(EncoderSettings.intraVlcFormat[0], 0);
    }
}

TEST(FinaliseErrors, ConstrainedNoticeThroughTheProgramsDialogAndTheBatchLog) {
    CheckScope scope;
    std::vector<std::string> shown;
    SetConstrainedParametersDialog([&shown](const std::string& text) { shown.push_back(text); });
    EncoderSettings = Mpeg1Settings();
    EncoderSettings.bitRate = 2000000.0;
    FinaliseSettings(true);
    SetConstrainedParametersDialog(nullptr);
    EXPECT_TRUE(scope.boxes.Shown().empty());
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], " Video stream data rate > 1856000 bits/sec\n (approximately equal to 1812 Kbits/sec). ");

    scope.UseBatchLog();
    FinaliseSettings(true);
    EXPECT_TRUE(scope.boxes.Shown().empty());
    EXPECT_EQ(scope.BatchLog(),
              " Error:\n Output file /videos/holiday.mpg has encoding parameters\n that are not within the range of "
              "constrained parameters.\n File Skipped.\n");
    EXPECT_EQ(ParameterError, 1);
}

}  // namespace
