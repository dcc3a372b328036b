// Bit-rate advice and MPEG-2 picture-format questions: which advice each
// setting draws, in which order and with which appended hints, Yes and No,
// and their batch-log lines.
#include <gtest/gtest.h>

#include "platform/ResStrings.h"
#include "settings/Report.h"
#include "settings/Validate.h"
#include "tests/job/ValidateFixtures.h"

using namespace validatetest;

namespace {

struct AdviceCase {
    const char* name;
    EncoderSettingsRecord settings;
    Mutation change;
    std::vector<std::vector<int>> questions;  // string ids making up each question, in order
};

std::string Texts(const std::vector<int>& ids) {
    std::string text;
    for (int id : ids) {
        EXPECT_STRNE(LoadResString(id), "") << id;
        text += LoadResString(id);
    }
    return text;
}

void ExpectAdvice(int (*check)(), const std::string& prefix, const char* name, const EncoderSettingsRecord& settings,
                  const Mutation& change, const std::vector<std::string>& details) {
    SCOPED_TRACE(name);
    {
        CheckScope scope;
        EncoderSettings = settings;
        change(EncoderSettings);
        EXPECT_EQ(check(), 0);
        const auto& shown = scope.boxes.Shown();
        ASSERT_EQ(shown.size(), details.size());
        for (size_t i = 0; i < shown.size(); ++i) {
            EXPECT_EQ(shown[i].text, prefix + details[i] + "\nDo you wish to continue anyway ?");
            EXPECT_EQ(shown[i].caption, "Tessmar Warning");
            EXPECT_EQ(shown[i].buttons, platform::MbButtons::YesNo);
        }
        EXPECT_EQ(ComplianceWarningCount, 0);  // advice is not counted
    }
    if (details.empty()) return;
    CheckScope scope;
    EncoderSettings = settings;
    change(EncoderSettings);
    scope.boxes.Answer(platform::MbAnswer::No);
    EXPECT_EQ(check(), -1);
    EXPECT_EQ(scope.boxes.Shown().size(), 1u);
}

template <typename F>
Mutation Set(F f) {
    return Mutation(f);
}

// MPEG-2 720 x 576 interlaced at 8 Mbit/s: nothing to advise.
EncoderSettingsRecord QuietMpeg2() {
    EncoderSettingsRecord s = Mpeg2LevelSettings(8);
    s.interlaceMode = 1;
    return s;
}

EncoderSettingsRecord Variable(int mode, double maximum) {
    EncoderSettingsRecord s = QuietMpeg2();
    s.rateControl = kRateVariable;
    s.vbrMode = mode;
    s.maxBitRate = maximum;
    s.averageBitRate = 0.5 * maximum;
    s.averageBitRateUpper = 0.6 * maximum;
    s.averageBitRateLower = 0.2 * maximum;
    s.constantQuantScale = 4;
    return s;
}

EncoderSettingsRecord SmallPal(double bitRate) {
    EncoderSettingsRecord s = QuietMpeg2();
    s.horizontalSize = 352;
    s.verticalSize = 288;
    s.bitRate = bitRate;
    return s;
}

void ByFilters(EncoderSettingsRecord& s, int gop) {
    s.ipDistance = 4;
    s.gopSize = gop;
    s.lowPassFilter = 1;
}

TEST(ValidateAdvice, VariableBitRateAndPictureQuality) {
    const AdviceCase cases[] = {
        {"quiet", QuietMpeg2(), Set([](EncoderSettingsRecord&) {}), {}},
        {"variable MPEG-1", Mpeg1Settings(),
         Set([](EncoderSettingsRecord& s) {
             s.rateControl = kRateVariable, s.vbrMode = kVbrAverageNoVbv, s.maxBitRate = 1800000.0;
         }),
         {{64243}}},
        // 16 bits per sample at 720 x 576 is 6.6 Mbit/s.
        {"maximum too low", Variable(kVbrAverageNoVbv, 6000000.0), Set([](EncoderSettingsRecord&) {}), {{64245}}},
        {"maximum too low, skipping B", Variable(kVbrAverageNoVbv, 6000000.0),
         Set([](EncoderSettingsRecord& s) { s.skipBFramesMode = 1; }), {}},
        {"maximum too low on DVD", Variable(kVbrAverageNoVbv, 6000000.0),
         Set([](EncoderSettingsRecord& s) { s.applicationType = kApplicationDvd; }), {}},
        {"average close to the maximum", Variable(kVbrAverage, 9000000.0),
         Set([](EncoderSettingsRecord& s) { s.averageBitRate = 7000000.0; }), {{64247}}},
        {"scale 1", Variable(kVbrConstantQuant, 40000000.0),
         Set([](EncoderSettingsRecord& s) { s.constantQuantScale = 1; }), {{64249}}},
        // Scale 4 at 720 x 576 expects 7.7 Mbit/s.
        {"expected rate above the maximum", Variable(kVbrQuantWithinAverage, 7000000.0),
         Set([](EncoderSettingsRecord& s) { s.averageBitRateUpper = 4000000.0, s.averageBitRateLower = 1000000.0; }),
         {{64255}, {64261}}},
        // Scale 9 expects 3.4 Mbit/s, also below the 3.9 Mbit/s a 720 x 576 picture wants.
        {"scale 9", Variable(kVbrConstantQuant, 40000000.0),
         Set([](EncoderSettingsRecord& s) { s.constantQuantScale = 9; }), {{64251, 64252, 64253}, {64267, 64271}}},
        {"scale 9 with long groups and filters", Variable(kVbrConstantQuant, 40000000.0),
         Set([](EncoderSettingsRecord& s) { s.constantQuantScale = 9, ByFilters(s, 20); }), {{64251, 64252}}},
        {"scale 9 skipping B", Variable(kVbrConstantQuant, 40000000.0),
         Set([](EncoderSettingsRecord& s) { s.constantQuantScale = 9, s.skipBFramesMode = 2; }), {}},
        {"upper limit close to the maximum", Variable(kVbrQuantWithinAverage, 9000000.0),
         Set([](EncoderSettingsRecord& s) { s.averageBitRateUpper = 8000000.0; }), {{64257}}},
        {"upper limit close to the maximum on SVCD", Variable(kVbrQuantWithinAverage, 9000000.0),
         Set([](EncoderSettingsRecord& s) {
             s.averageBitRateUpper = 8000000.0, s.applicationType = kApplicationSvcd;
         }),
         {}},
        {"lower limit close to the upper", Variable(kVbrQuantWithinAverage, 9000000.0),
         Set([](EncoderSettingsRecord& s) { s.averageBitRateUpper = 6000000.0, s.averageBitRateLower = 5000000.0; }),
         {{64259}}},
        {"expected rate above the upper limit", Variable(kVbrQuantWithinAverage, 9000000.0),
         Set([](EncoderSettingsRecord& s) { s.averageBitRateUpper = 6000000.0, s.averageBitRateLower = 1000000.0; }),
         {{64261}}},
        // Scale 7 expects 4.4 Mbit/s.
        {"expected rate below the lower limit", Variable(kVbrQuantWithinAverage, 9000000.0),
         Set([](EncoderSettingsRecord& s) {
             s.constantQuantScale = 7, s.averageBitRateUpper = 7000000.0, s.averageBitRateLower = 5000000.0;
         }),
         {{64263}}},
        {"constant rate too low", QuietMpeg2(), Set([](EncoderSettingsRecord& s) { s.bitRate = 3000000.0; }),
         {{64265, 64271}}},
        {"constant rate too low with long groups and filters", QuietMpeg2(),
         Set([](EncoderSettingsRecord& s) { s.bitRate = 3000000.0, ByFilters(s, 20); }), {}},
        {"constant rate too low, groups of 16", QuietMpeg2(),
         Set([](EncoderSettingsRecord& s) { s.bitRate = 3000000.0, ByFilters(s, 16); }), {{64265, 64271}}},
        {"average too low", Variable(kVbrAverage, 9000000.0),
         Set([](EncoderSettingsRecord& s) { s.averageBitRate = 3000000.0; }), {{64266, 64271}}},
        {"low rate on SVCD", QuietMpeg2(),
         Set([](EncoderSettingsRecord& s) { s.bitRate = 3000000.0, s.applicationType = kApplicationSvcd; }), {}},
        // 352 x 288 wants 953 kbit/s; below 456 kbit/s skipping all B pictures is the hint.
        {"small picture, low rate", SmallPal(800000.0), Set([](EncoderSettingsRecord&) {}), {{64265, 64269, 64270}}},
        {"small picture, very low rate", SmallPal(400000.0), Set([](EncoderSettingsRecord&) {}),
         {{64265, 64268, 64270}}},
        {"small picture, very low rate, filters", SmallPal(400000.0),
         Set([](EncoderSettingsRecord& s) { ByFilters(s, 15); }), {{64265, 64268}}},
        {"small picture, skipping B", SmallPal(400000.0), Set([](EncoderSettingsRecord& s) { s.skipBFramesMode = 3; }),
         {}},
        {"large progressive", QuietMpeg2(), Set([](EncoderSettingsRecord& s) { s.interlaceMode = 0; }),
         {{64273, 64274}}},
        {"large progressive with filters", QuietMpeg2(),
         Set([](EncoderSettingsRecord& s) { s.interlaceMode = 0, ByFilters(s, 16); }), {{64273}}},
        {"large progressive, deinterlaced", QuietMpeg2(),
         Set([](EncoderSettingsRecord& s) { s.interlaceMode = 0, s.deinterlace = 1; }), {}},
        {"large MPEG-1", QuietMpeg2(), Set([](EncoderSettingsRecord& s) { s.mpeg1 = 1; }), {{64273, 64274}}},
        {"large progressive on DVD", QuietMpeg2(),
         Set([](EncoderSettingsRecord& s) { s.interlaceMode = 0, s.applicationType = kApplicationDvd; }), {}},
    };
    for (const AdviceCase& c : cases) {
        std::vector<std::string> details;
        for (const auto& ids : c.questions) details.push_back(Texts(ids));
        ExpectAdvice(CheckVbrSettings, "", c.name, c.settings, c.change, details);
    }
}

TEST(ValidateAdvice, SkippingBPicturesOnVideoCd) {
    const std::string text =
        "You are attempting to encode in Video CD format and you enabled one \nof the Skip B frames modes. These "
        "modes are generally designed \nfor low bit rates. Doing this may possibly reduce image quality of the\nVideo "
        "CD.\n";
    for (int type : {kApplicationVcd11, kApplicationVcd20, kApplicationCdi}) {
        EncoderSettingsRecord s = VcdSettings(type);
        s.skipBFramesMode = 1;
        std::vector<std::string> expected;
        if (type != 3) expected.push_back(text);
        ExpectAdvice(CheckVbrSettings, "", "Video-CD", s, Set([](EncoderSettingsRecord&) {}), expected);
        ExpectAdvice(CheckVbrSettings, "", "Video-CD without skipping", VcdSettings(type),
                     Set([](EncoderSettingsRecord&) {}), {});
    }
}

const std::string kFormatPrefix =
    "The combination of picture size, frame rate and source\nvideo format specified for MPEG-2 video stream\ndoes not "
    "correspond to any popular video format.\nThe created MPEG-2 video stream will be formally valid, \nbut some "
    "existing MPEG-2 players may not be able \nto play it.\n";

TEST(ValidateAdvice, Mpeg2PictureFormats) {
    struct Case {
        const char* name;
        int width, height, code, format, aspect;
        std::vector<std::string> details;
    };
    const std::string unknownSource =
        "   Reason:\n   Unspecified source video format.\n   You should select a corresponding\n   video format in the "
        "MPEG-2 options.\n";
    const std::string ntscSource =
        "Source video format NTSC should be selected\nif frame rate equals 29.97 or 30 frames/sec.\n";
    const std::string palSource =
        "\nSource video format PAL or SECAM should be selected\nif frame rate equals 24 or 25 frames/sec.\n";
    const std::string sizes =
        "For NTSC system picture size can be:\n720x480, 704x480, 640x480, 480x480, 352x480, 352x240\n\nfor PAL "
        "system picture size can be:\n720x576, 704x576, 480x576, 352x576, 352x288 \n\nfor HDTV picture size can "
        "be:\n704x480, 640x480, 1280x720, 1920x1080\n";
    const std::string rates =
        "\nFor NTSC system vertical size can be 480 or 240 \nand frame rate can be 29.97 or 30 frames/sec.\nFor PAL "
        "system vertical size can be 576 or 288 \nand frame rate can be 25 frames/sec.\n";
    const std::string hdAspect =
        "If picture size equals 1920x1080 or 1280x720, then \npixel aspect ratio should be 1:1 or 9:16. ";
    const std::string vgaAspect = "If picture size equals 640x480, then \npixel aspect ratio should be 1:1 or 3:4. ";
    const std::string ntscAspect = "If picture size equals 704x480, then \npixel aspect ratio should be 3:4 or 9:16. ";
    const Case cases[] = {
        {"PAL 720x576", 720, 576, 3, 1, 2, {}},
        {"SECAM 352x288", 352, 288, 3, 3, 2, {}},
        {"NTSC 352x240 at 30", 352, 240, 5, 2, 2, {}},
        {"component HD at 60", 1920, 1080, 8, 0, 3, {}},
        {"film HD", 1280, 720, 2, 1, 1, {}},
        {"MAC source", 1920, 1080, 8, 4, 3, {}},
        {"unspecified source", 720, 576, 6, 5, 2, {unknownSource, rates}},
        {"component SD", 720, 576, 6, 0, 2, {unknownSource, rates}},
        {"PAL source at 29.97", 720, 480, 4, 1, 2, {ntscSource}},
        {"NTSC source at 25", 720, 576, 3, 2, 2, {palSource}},
        {"odd size", 800, 600, 3, 1, 2, {sizes}},
        {"480 lines at 25", 720, 480, 3, 1, 2, {rates}},
        {"576 lines at 29.97", 720, 576, 4, 2, 2, {rates}},
        {"HD at 4:3", 1920, 1080, 3, 1, 2, {hdAspect}},
        {"640x480 square", 640, 480, 4, 2, 1, {}},
        {"640x480 4:3", 640, 480, 4, 2, 2, {}},
        {"640x480 16:9", 640, 480, 4, 2, 3, {vgaAspect}},
        {"704x480 16:9", 704, 480, 4, 2, 3, {}},
        {"704x480 square", 704, 480, 4, 2, 1, {ntscAspect}},
        {"720x480 2.21:1", 720, 480, 4, 2, 4, {}},
    };
    for (const Case& c : cases) {
        EncoderSettingsRecord s = QuietMpeg2();
        s.horizontalSize = c.width, s.verticalSize = c.height, s.frameRateCode = c.code;
        s.videoFormat = c.format, s.mpeg2AspectRatio = c.aspect;
        ExpectAdvice(CheckMpeg2FormatConsistency, kFormatPrefix, c.name, s, Set([](EncoderSettingsRecord&) {}),
                     c.details);
        // MPEG-1 streams and DVD (which has its own questions) are not examined.
        EncoderSettingsRecord m1 = s;
        m1.mpeg1 = 1;
        ExpectAdvice(CheckMpeg2FormatConsistency, kFormatPrefix, "MPEG-1", m1, Set([](EncoderSettingsRecord&) {}), {});
        EncoderSettingsRecord dvd = s;
        dvd.applicationType = kApplicationDvd;
        ExpectAdvice(CheckMpeg2FormatConsistency, kFormatPrefix, "DVD", dvd, Set([](EncoderSettingsRecord&) {}), {});
    }
}

TEST(ValidateAdvice, BatchLogLinesAndSuppressedAdvice) {
    CheckScope scope;
    scope.UseBatchLog();
    EncoderSettings = QuietMpeg2();
    EncoderSettings.bitRate = 3000000.0;
    EncoderSettings.frameRateCode = 4;
    EXPECT_EQ(CheckVbrSettings(), 0);
    EXPECT_EQ(CheckMpeg2FormatConsistency(), 0);
    EXPECT_TRUE(scope.boxes.Shown().empty());
    const std::string rates =
        "\nFor NTSC system vertical size can be 480 or 240 \nand frame rate can be 29.97 or 30 frames/sec.\nFor PAL "
        "system vertical size can be 576 or 288 \nand frame rate can be 25 frames/sec.\n";
    EXPECT_EQ(scope.BatchLog(),
              "Warning: " + Texts({64265, 64271}) + " \n" +
                  "Warning: " + kFormatPrefix + " Source video format NTSC should be selected\nif frame rate equals "
                  "29.97 or 30 frames/sec.\n \n" + "Warning: " + kFormatPrefix + " " + rates + " \n");

    // Suppressed advice is neither logged nor shown.
    std::filesystem::remove(scope.dir / "message.log");
    EncoderSettings.suppressWarnings = 1;
    EXPECT_EQ(CheckVbrSettings(), 0);
    EXPECT_EQ(CheckMpeg2FormatConsistency(), 0);
    EXPECT_EQ(scope.BatchLog(), "");
    BatchMode = 0;
    EXPECT_EQ(CheckVbrSettings(), 0);
    EXPECT_EQ(CheckMpeg2FormatConsistency(), 0);
    EXPECT_TRUE(scope.boxes.Shown().empty());
}

}  // namespace
