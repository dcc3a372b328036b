// Hard limits: the syntax ranges of MPEG-1 and MPEG-2 and the MPEG-2 profile
// and level table, each refusal with its exact message.
#include <gtest/gtest.h>

#include "job/Finalise.h"
#include "settings/Validate.h"
#include "tests/job/ValidateFixtures.h"

using namespace validatetest;

namespace {

struct LimitCase {
    const char* message;  // null: the settings pass
    EncoderSettingsRecord settings;
    Mutation change;
};

// The check runs on finalised settings, changed afterwards the way an
// editor could change them.
void ExpectCheck(int (*check)(), const LimitCase& c) {
    SCOPED_TRACE(c.message ? c.message : "passes");
    CheckScope scope;
    EncoderSettings = c.settings;
    FinaliseSettings(false);
    ASSERT_EQ(ParameterError, 0);
    c.change(EncoderSettings);
    const int result = check();
    if (!c.message) {
        EXPECT_EQ(result, 0);
        EXPECT_TRUE(scope.boxes.Shown().empty());
        return;
    }
    EXPECT_EQ(result, -1);
    EXPECT_EQ(ParameterError, 1);
    ASSERT_EQ(scope.boxes.Shown().size(), 1u);
    EXPECT_EQ(scope.boxes.Shown()[0].text, c.message);
}

template <typename F>
Mutation Change(F f) {
    return Mutation(f);
}

TEST(ValidateLimits, ParameterRanges) {
    const EncoderSettingsRecord m1 = Mpeg1Settings(), m2 = Mpeg2LevelSettings(4);
    auto keep = Change([](EncoderSettingsRecord&) {});
    const LimitCase cases[] = {
        {nullptr, m1, keep},
        {nullptr, m2, Change([](EncoderSettingsRecord& s) { s.horizontalSize = 16368, s.verticalSize = 16; })},
        {"Horizontal_size must be between 16 and 16368.", m2,
         Change([](EncoderSettingsRecord& s) { s.horizontalSize = 16370; })},
        {"Horizontal_size must be between 16 and 16368.", m1,
         Change([](EncoderSettingsRecord& s) { s.horizontalSize = 14; })},
        {"Horizontal_size must be less than 4096 (MPEG-1).", m1,
         Change([](EncoderSettingsRecord& s) { s.horizontalSize = 4096; })},
        {"Horizontal_size must be multiple of 2.", m2, Change([](EncoderSettingsRecord& s) { s.horizontalSize = 721; })},
        {"Vertical_size must be between 16 and 16368.", m2,
         Change([](EncoderSettingsRecord& s) { s.verticalSize = 0; })},
        {"Vertical size must be less than 4096 (MPEG-1).", m1,
         Change([](EncoderSettingsRecord& s) { s.verticalSize = 4096; })},
        {"Vertical_size must be multiple of 2.", m1, Change([](EncoderSettingsRecord& s) { s.verticalSize = 241; })},
        {"Frame_rate code must be between 1 and 8.", m2, Change([](EncoderSettingsRecord& s) { s.frameRateCode = 0; })},
        {"Bit rate must be >0.", m2, Change([](EncoderSettingsRecord& s) { s.bitRate = -1.0; })},
        {"Bit rate must be at least 400 bit/s.", m2, Change([](EncoderSettingsRecord& s) { s.bitRate = 1.0; })},
        {nullptr, m1, Change([](EncoderSettingsRecord& s) { s.bitRate = 400.0; })},
        {nullptr, m2, Change([](EncoderSettingsRecord& s) { s.bitRate = 429496729200.0; })},
        {"Bit rate must be less than 429 Gbit/s.", m2,
         Change([](EncoderSettingsRecord& s) { s.bitRate = 429496729201.0; })},
        {nullptr, m1, Change([](EncoderSettingsRecord& s) { s.bitRate = 104857200.0; })},
        {"Bit rate must be less than 104 Mbit/s (MPEG-1)\nPlease lower bit rate.", m1,
         Change([](EncoderSettingsRecord& s) { s.bitRate = 104857201.0; })},
        {"VBV buffer size must be in range 1..(2^18-1).", m2,
         Change([](EncoderSettingsRecord& s) { s.vbvBufferSize = 262144; })},
        {"VBV buffer size must be in range 1..(2^18-1).", m2, Change([](EncoderSettingsRecord& s) { s.vbvBufferSize = 0; })},
        {"VBV buffer size must be less than 1024 (MPEG-1).", m1,
         Change([](EncoderSettingsRecord& s) { s.vbvBufferSize = 1024; })},
        {"Color_primaries must be in range 1...2 or 4...7.", m2,
         Change([](EncoderSettingsRecord& s) { s.colorPrimaries = 3; })},
        {"Transfer_characteristics must be in range 1...2 or 4...7.", m2,
         Change([](EncoderSettingsRecord& s) { s.transferCharacteristics = 8; })},
        {"Matrix_coefficients must be in range 1...2 or 4...7.", m2,
         Change([](EncoderSettingsRecord& s) { s.matrixCoefficients = 0; })},
        {"Intra_dc_precision must be in range 0...3.", m2, Change([](EncoderSettingsRecord& s) { s.intraDcPrecision = 4; })},
        {"F_code must be between 1 and 9.", m2,
         Change([](EncoderSettingsRecord& s) { s.motionData[0].forwardVertFCode = 10; })},
        {"F_code must be between 1 and 9.", m2,
         Change([](EncoderSettingsRecord& s) { s.motionData[2].backwardHorFCode = 0; })},
        // Record 0 (P pictures) has no backward vectors.
        {nullptr, m2, Change([](EncoderSettingsRecord& s) { s.motionData[0].backwardHorFCode = 0; })},
        {nullptr, m2, Change([](EncoderSettingsRecord& s) { s.motionData[1].forwardHorFCode = 9; })},
        {"F_code must be < 8.", m1, Change([](EncoderSettingsRecord& s) { s.motionData[1].backwardVertFCode = 8; })},
        {"Search window must be >0.", m2, Change([](EncoderSettingsRecord& s) { s.motionData[1].syb = 0; })},
    };
    for (const LimitCase& c : cases) ExpectCheck(CheckParameterRanges, c);
}

TEST(ValidateLimits, EveryLevelAtItsLargestPicture) {
    for (int level : {4, 6, 8, 10}) {
        SCOPED_TRACE(LevelName(level));
        const LevelLimits* limits = FindLevelLimits(level);
        ASSERT_NE(limits, nullptr);
        EncoderSettingsRecord s = Mpeg2LevelSettings(level);
        s.horizontalSize = limits->maxWidth;
        s.verticalSize = limits->maxHeight;
        s.bitRate = limits->maxMbitPerSecond * 1000000.0;
        // The largest vertical f_code of the level, and the largest horizontal one a search range can give.
        s.pFrameMotionRange[0] = 8 << (limits->maxHorizontalFCode - 1 < 6 ? limits->maxHorizontalFCode - 1 : 6);
        s.pFrameMotionRange[1] = 8 << (limits->maxVerticalFCode - 1);
        ExpectCheck(CheckProfileAndLevel, {nullptr, s, [](EncoderSettingsRecord&) {}});
    }
}

TEST(ValidateLimits, ProfileAndLevel) {
    const EncoderSettingsRecord main = Mpeg2LevelSettings(8), high = Mpeg2LevelSettings(4),
                                low = Mpeg2LevelSettings(10);
    const std::string mainRate =
        "Bit rate is greater than permitted in specified Level.\nUpper bound of bit rate allowed for the Main "
        "Level is  \n15000000 bits/s  (14648 Kbit/s)\n\nPlease change bit rate or level using MPEG-2 "
        "folder\ntab under Advanced parameters.";
    const std::string lowVariable =
        "Variable bit rate parameters error:\n\nMaximum bit rate is greater than permitted in specified "
        "level.\nUpper boundary of bit rate allowed for the Low Level is  \n4000000 bits/s  (3906 Kbit/s).\n\n"
        "Please change value of maximum bit rate using Bitrate control \nfolder tab or level using MPEG-2 folder tab "
        "under Advanced\nparameters.";
    auto set = [](auto f) { return Mutation(f); };
    const LimitCase cases[] = {
        {"Profile must be between 0 and 15.", main, set([](EncoderSettingsRecord& s) { s.mpegProfile = 16; })},
        {"Level must be between 0 and 15.", main, set([](EncoderSettingsRecord& s) { s.mpegLevel = -1; })},
        // Escaped profiles are not checked any further.
        {nullptr, main, set([](EncoderSettingsRecord& s) { s.mpegProfile = 8, s.mpegLevel = 5, s.bitRate = 1e9; })},
        {"Undefined Profile.", main, set([](EncoderSettingsRecord& s) { s.mpegProfile = 0; })},
        {"Undefined Profile.", main, set([](EncoderSettingsRecord& s) { s.mpegProfile = 7; })},
        {"This encoder currently does not generate scalable bitstreams.", main,
         set([](EncoderSettingsRecord& s) { s.mpegProfile = 3; })},
        {"This encoder currently does not generate scalable bitstreams.", main,
         set([](EncoderSettingsRecord& s) { s.mpegProfile = 2; })},
        {"Undefined Level.", main, set([](EncoderSettingsRecord& s) { s.mpegLevel = 9; })},
        {"Undefined profile@level combination./", low, set([](EncoderSettingsRecord& s) { s.mpegProfile = 1; })},
        {"Undefined profile@level combination./", high, set([](EncoderSettingsRecord& s) { s.mpegProfile = 5; })},
        {nullptr, main, set([](EncoderSettingsRecord& s) { s.mpegProfile = 5, s.ipDistance = 1; })},
        {"Simple Profile does not allow B pictures.", main, set([](EncoderSettingsRecord& s) { s.mpegProfile = 5; })},
        {nullptr, high, set([](EncoderSettingsRecord& s) { s.mpegProfile = 1, s.intraDcPrecision = 3; })},
        {"11 bit DC precision only allowed in High Profile.", high,
         set([](EncoderSettingsRecord& s) { s.intraDcPrecision = 3; })},
        {"Picture rate greater than permitted in specified Level.", low,
         set([](EncoderSettingsRecord& s) { s.frameRateCode = 6; })},
        {nullptr, high, set([](EncoderSettingsRecord& s) { s.horizontalSize = 1280, s.verticalSize = 720, s.frameRateCode = 8, s.frameRate = 60.0; })},
        {"Forward horizontal f_code greater than permitted in specified Level.", main,
         set([](EncoderSettingsRecord& s) { s.motionData[0].forwardHorFCode = 9; })},
        {"Forward vertical f_code greater than permitted in specified Level.", low,
         set([](EncoderSettingsRecord& s) { s.motionData[2].forwardVertFCode = 5; })},
        {"Backward horizontal f_code greater than permitted in specified Level.", low,
         set([](EncoderSettingsRecord& s) { s.motionData[1].backwardHorFCode = 8; })},
        {"Backward vertical f_code greater than permitted in specified Level.", high,
         set([](EncoderSettingsRecord& s) { s.motionData[2].backwardVertFCode = 6; })},
        {nullptr, high, set([](EncoderSettingsRecord& s) { s.motionData[0].backwardVertFCode = 9; })},
        {"Horizontal size is greater than permitted in specified Level.\nPlease change level using MPEG-2 folder "
         "tab under\nAdvanced parameters.",
         low, set([](EncoderSettingsRecord& s) { s.horizontalSize = 354; })},
        {"Vertical size is greater than permitted in specified Level.\nPlease change level using MPEG-2 "
         "folder\ntab under Advanced parameters.",
         high, set([](EncoderSettingsRecord& s) { s.verticalSize = 1154; })},
        {"Sample rate (picture_width*picture_height*frame_rate) is greater than permitted in specified Level.", main,
         set([](EncoderSettingsRecord& s) { s.verticalSize = 574, s.frameRateCode = 5, s.frameRate = 30.0; })},
        {nullptr, low, set([](EncoderSettingsRecord& s) { s.frameRateCode = 5, s.frameRate = 30.0; })},
        {nullptr, high, set([](EncoderSettingsRecord& s) { s.bitRate = 90000000.0; })},
        {nullptr, main, set([](EncoderSettingsRecord& s) { s.bitRate = 15000000.0; })},
        {mainRate.c_str(), main, set([](EncoderSettingsRecord& s) { s.bitRate = 16000000.0; })},
        // With a variable rate the maximum is what counts.
        {nullptr, main,
         set([](EncoderSettingsRecord& s) { s.rateControl = kRateVariable, s.bitRate = 2e7, s.maxBitRate = 1.5e7; })},
        {lowVariable.c_str(), low,
         set([](EncoderSettingsRecord& s) {
             s.rateControl = kRateVariable, s.bitRate = 1e6, s.maxBitRate = 4000001.0;
         })},
        {"VBV buffer size exceeds specified Level limit", low,
         set([](EncoderSettingsRecord& s) { s.vbvBufferSize = 30; })},
        {nullptr, high, set([](EncoderSettingsRecord& s) { s.vbvBufferSize = 597; })},
    };
    for (const LimitCase& c : cases) ExpectCheck(CheckProfileAndLevel, c);
}

}  // namespace
