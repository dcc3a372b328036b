// Hard limits of the MPEG syntax and of MPEG-2 profiles and levels, the three
// kinds of Yes/No question the softer checks ask, and the compliance summary.
#include "settings/Validate.h"

#include <cmath>
#include <cstdio>

#include "platform/Format.h"
#include "platform/MessageBox.h"
#include "settings/EncoderSettings.h"
#include "settings/Report.h"

int ComplianceWarningCount = 0;

namespace {

constexpr const char* kQuestionCaption = "Tessmar Warning";
constexpr const char* kSummaryCaption = "Tessmar";

// Indexed by (level - 4) / 2.
constexpr LevelLimits kLevelLimits[] = {
    {9, 5, 1920, 1152, 62668800.0, 100, 597},  // High
    {9, 5, 1440, 1152, 47001600.0, 80, 448},   // High-1440
    {8, 5, 720, 576, 10368000.0, 15, 112},     // Main
    {7, 4, 352, 288, 3041280.0, 4, 29},        // Low
};

constexpr int kProfileHigh = 1, kProfileSpatial = 2, kProfileSnr = 3, kProfileMain = 4, kProfileSimple = 5;
constexpr int kLevelHigh = 4, kLevelHigh1440 = 6, kLevelMain = 8, kLevelLow = 10;

bool ProfileLevelDefined(int profile, int level) {
    switch (profile) {
        case kProfileHigh: return level == kLevelHigh || level == kLevelHigh1440 || level == kLevelMain;
        case kProfileSpatial: return level == kLevelHigh1440;
        case kProfileSnr: return level == kLevelMain || level == kLevelLow;
        case kProfileMain: return true;  // every level that FindLevelLimits knows
        case kProfileSimple: return level == kLevelMain;
    }
    return false;
}

bool AskInBoxes() { return BatchMode < 2; }

void AppendRawToBatchLog(const std::string& text) {
    FILE* log = std::fopen(BatchLogFileName.c_str(), "a");
    if (!log) return;
    std::fputs(text.c_str(), log);
    std::fclose(log);
}

// Yes (1) or No (2) to the text followed by the closing question.
int AskYesNo(const std::string& text) {
    platform::MbAnswer answer =
        platform::ShowMessageBox(text + "\nDo you wish to continue anyway ?", kQuestionCaption,
                                 platform::MbButtons::YesNo, platform::MbIcon::Warning, MessageOwnerWindow);
    return answer == platform::MbAnswer::Yes ? 1 : 2;
}

// A detail outside the length a question allows is left out of the question;
// the heading or the fixed text still makes the question.
std::string UsableDetail(const std::string& detail, size_t limit) {
    return detail.size() <= limit ? detail : std::string();
}

const char* ComplianceHeading(int applicationType) {
    switch (applicationType) {
        case kApplicationVcd11: return "Parameters are not compatible with\nVideoCD 1.1 specification. \n\n";
        case kApplicationVcd20: return "Parameters are not compatible with\nVideoCD 2.0 specification. \n\n";
        case kApplicationCdi: return "Parameters are not compatible \nwith CD-i specification. \n";
        case kApplicationDvd: return "Parameters are not compatible with DVD specification.\n\n";
        case kApplicationSvcd: return "Parameters are not compatible with SVCD\nspecification. \n\n";
    }
    return "";
}

}  // namespace

const LevelLimits* FindLevelLimits(int level) {
    if (level != kLevelHigh && level != kLevelHigh1440 && level != kLevelMain && level != kLevelLow)
        return nullptr;
    return &kLevelLimits[(level - 4) / 2];
}

const char* LevelName(int level) {
    switch (level) {
        case kLevelHigh: return "High";
        case kLevelHigh1440: return "High-1440";
        case kLevelMain: return "Main";
        case kLevelLow: return "Low";
    }
    return "Unspecified";
}

void ReportParameterError(const std::string& text) {
    ParameterError = 1;
    ReportFatalError(text);
}

int CheckParameterRanges() {
    const EncoderSettingsRecord& s = EncoderSettings;
    auto fail = [](const char* text) {
        ReportParameterError(text);
        return -1;
    };
    if (s.horizontalSize < 16 || s.horizontalSize > 16368) return fail("Horizontal_size must be between 16 and 16368.");
    if (s.mpeg1 && s.horizontalSize >= 4096) return fail("Horizontal_size must be less than 4096 (MPEG-1).");
    if (s.horizontalSize % 2 != 0) return fail("Horizontal_size must be multiple of 2.");
    if (s.verticalSize < 16 || s.verticalSize > 16368) return fail("Vertical_size must be between 16 and 16368.");
    if (s.mpeg1 && s.verticalSize >= 4096) return fail("Vertical size must be less than 4096 (MPEG-1).");
    if (s.verticalSize % 2 != 0) return fail("Vertical_size must be multiple of 2.");
    if (s.frameRateCode < 1 || s.frameRateCode > 8) return fail("Frame_rate code must be between 1 and 8.");
    if (!(s.bitRate > 0.0)) return fail("Bit rate must be >0.");
    // The sequence header counts the rate in units of 400 bit/s: less cannot be coded.
    if (s.bitRate < 400.0) return fail("Bit rate must be at least 400 bit/s.");
    if (s.bitRate > 429496729200.0) return fail("Bit rate must be less than 429 Gbit/s.");
    if (s.mpeg1 && s.bitRate > 104857200.0)
        return fail("Bit rate must be less than 104 Mbit/s (MPEG-1)\nPlease lower bit rate.");
    if (s.vbvBufferSize < 1 || s.vbvBufferSize > 262143) return fail("VBV buffer size must be in range 1..(2^18-1).");
    if (s.mpeg1 && s.vbvBufferSize >= 1024) return fail("VBV buffer size must be less than 1024 (MPEG-1).");
    auto badColourCode = [](int code) { return code < 1 || code > 7 || code == 3; };
    if (badColourCode(s.colorPrimaries)) return fail("Color_primaries must be in range 1...2 or 4...7.");
    if (badColourCode(s.transferCharacteristics))
        return fail("Transfer_characteristics must be in range 1...2 or 4...7.");
    if (badColourCode(s.matrixCoefficients)) return fail("Matrix_coefficients must be in range 1...2 or 4...7.");
    if (s.intraDcPrecision < 0 || s.intraDcPrecision > 3) return fail("Intra_dc_precision must be in range 0...3.");

    for (size_t i = 0; i < s.motionData.size(); ++i) {
        const MotionDataRecord& r = s.motionData[i];
        const bool backward = i > 0;
        const int codes[4] = {r.forwardHorFCode, r.forwardVertFCode, r.backwardHorFCode, r.backwardVertFCode};
        const int used = backward ? 4 : 2;
        for (int c = 0; c < used; ++c)
            if (codes[c] < 1 || codes[c] > 9) return fail("F_code must be between 1 and 9.");
        for (int c = 0; c < used; ++c)
            if (s.mpeg1 && codes[c] > 7) return fail("F_code must be < 8.");
        if (r.sxf < 1 || r.syf < 1 || (backward && (r.sxb < 1 || r.syb < 1)))
            return fail("Search window must be >0.");
    }
    return 0;
}

int CheckProfileAndLevel() {
    const EncoderSettingsRecord& s = EncoderSettings;
    auto fail = [](const std::string& text) {
        ReportParameterError(text);
        return -1;
    };
    if (s.mpegProfile < 0 || s.mpegProfile > 15) return fail("Profile must be between 0 and 15.");
    if (s.mpegLevel < 0 || s.mpegLevel > 15) return fail("Level must be between 0 and 15.");
    if (s.mpegProfile >= 8) return 0;  // escaped profiles are not checked here

    if (s.mpegProfile < 1 || s.mpegProfile > 5) return fail("Undefined Profile.");
    if (s.mpegProfile == kProfileSpatial || s.mpegProfile == kProfileSnr)
        return fail("This encoder currently does not generate scalable bitstreams.");
    const LevelLimits* limits = FindLevelLimits(s.mpegLevel);
    if (!limits) return fail("Undefined Level.");
    if (!ProfileLevelDefined(s.mpegProfile, s.mpegLevel)) return fail("Undefined profile@level combination./");

    if (s.mpegProfile == kProfileSimple && s.ipDistance != 1) return fail("Simple Profile does not allow B pictures.");
    if (s.mpegProfile != kProfileHigh && s.intraDcPrecision == 3)
        return fail("11 bit DC precision only allowed in High Profile.");

    if (s.frameRateCode >= 6 && (s.mpegLevel == kLevelMain || s.mpegLevel == kLevelLow))
        return fail("Picture rate greater than permitted in specified Level.");

    for (size_t i = 0; i < s.motionData.size(); ++i) {
        const MotionDataRecord& r = s.motionData[i];
        if (r.forwardHorFCode > limits->maxHorizontalFCode)
            return fail("Forward horizontal f_code greater than permitted in specified Level.");
        if (r.forwardVertFCode > limits->maxVerticalFCode)
            return fail("Forward vertical f_code greater than permitted in specified Level.");
        if (i == 0) continue;
        if (r.backwardHorFCode > limits->maxHorizontalFCode)
            return fail("Backward horizontal f_code greater than permitted in specified Level.");
        if (r.backwardVertFCode > limits->maxVerticalFCode)
            return fail("Backward vertical f_code greater than permitted in specified Level.");
    }

    if (s.horizontalSize > limits->maxWidth)
        return fail("Horizontal size is greater than permitted in specified Level.\nPlease change level using "
                    "MPEG-2 folder tab under\nAdvanced parameters.");
    if (s.verticalSize > limits->maxHeight)
        return fail("Vertical size is greater than permitted in specified Level.\nPlease change level using "
                    "MPEG-2 folder\ntab under Advanced parameters.");

    const double sampleRate = static_cast<double>(s.horizontalSize) * s.verticalSize * s.frameRate;
    if (sampleRate > limits->maxSampleRate) {
        if (s.verticalSize >= 576 && s.frameRate >= 29.0) {
            // The rate as set (29.97 is not 30), with a point whatever the locale.
            const long hundredths = std::lround(s.frameRate * 100.0);
            const std::string shown = std::to_string(hundredths / 100) +
                                      (hundredths % 100 ? platform::Format(".%02ld", hundredths % 100) : "");
            return fail("Sample rate (picture_width*picture_height*frame_rate) is \ngreater than permitted in "
                        "specified Level. \n\nYou are attempting to use frame rate " + shown +
                        " fps with PAL video \nformat. For PAL system use frame rate 25 fps.");
        }
        return fail("Sample rate (picture_width*picture_height*frame_rate) is greater than permitted in specified "
                    "Level.");
    }

    const bool variable = s.rateControl == kRateVariable;
    const double bitRate = variable ? s.maxBitRate : s.bitRate;
    const int limit = limits->maxMbitPerSecond * 1000000;
    if (bitRate > limit) {
        const char* format =
            variable ? "Variable bit rate parameters error:\n\nMaximum bit rate is greater than permitted in "
                       "specified level.\nUpper boundary of bit rate allowed for the %s Level is  \n%d bits/s  "
                       "(%d Kbit/s).\n\nPlease change value of maximum bit rate using Bitrate control \nfolder "
                       "tab or level using MPEG-2 folder tab under Advanced\nparameters."
                     : "Bit rate is greater than permitted in specified Level.\nUpper bound of bit rate allowed "
                       "for the %s Level is  \n%d bits/s  (%d Kbit/s)\n\nPlease change bit rate or level using "
                       "MPEG-2 folder\ntab under Advanced parameters.";
        return fail(platform::Format(format, LevelName(s.mpegLevel), limit, limit / 1024));
    }

    if (s.vbvBufferSize > limits->maxVbvBufferSize) return fail("VBV buffer size exceeds specified Level limit");
    return 0;
}

int AskContinueAfterComplianceWarning(const std::string& detail) {
    ++ComplianceWarningCount;
    if (EncoderSettings.suppressWarnings) return 1;
    const std::string text = ComplianceHeading(EncoderSettings.applicationType) + UsableDetail(detail, 299);
    if (!AskInBoxes()) {
        LogConstrainedMessage(text);
        return 1;
    }
    return AskYesNo(text);
}

int AskContinueAfterFormatWarning(const std::string& detail) {
    if (EncoderSettings.suppressWarnings) return 1;
    const std::string text =
        "The combination of picture size, frame rate and source\nvideo format specified for MPEG-2 video "
        "stream\ndoes not correspond to any popular video format.\nThe created MPEG-2 video stream will be "
        "formally valid, \nbut some existing MPEG-2 players may not be able \nto play it.\n";
    const std::string usable = UsableDetail(detail, 299);
    if (!AskInBoxes()) {
        AppendRawToBatchLog(platform::Format("Warning: %s %s \n", text.c_str(), usable.c_str()));
        return 1;
    }
    return AskYesNo(text + usable);
}

int AskContinueAfterMpegWarning(const std::string& detail) {
    if (EncoderSettings.suppressWarnings) return 1;
    const std::string usable = UsableDetail(detail, 999);
    if (usable.empty()) return 1;  // the advice is the whole question: nothing to ask
    if (!AskInBoxes()) {
        AppendRawToBatchLog(platform::Format("Warning: %s \n", usable.c_str()));
        return 1;
    }
    return AskYesNo(usable);
}

int ReportComplianceSummary() {
    const int type = EncoderSettings.applicationType;
    if (ComplianceWarningCount <= 0 ||
        (type != kApplicationVcd20 && type != kApplicationDvd && type != kApplicationSvcd))
        return 0;
    const char* disc = type == kApplicationVcd20 ? "VCD" : type == kApplicationDvd ? "DVD" : "SVCD";
    std::string notice = platform::Format(
        "Program has detected that encoding parameters \ndo not conform to %s specification. The output\nfile "
        "will not be valid for %s.\n",
        disc, disc);
    if (EncoderSettings.suppressWarnings)
        notice += "\nIf you want to read more information about errors, \nplease uncheck option 'Suppress Warning "
                  "Messages'\nand try encoding again.\n";
    if (!AskInBoxes()) {
        AppendRawToBatchLog("WARNING:\n" + notice);
        return 0;
    }
    notice += "\nPress YES if you wish to continue or press NO \nto stop encoding.";
    // The single questions already asked the user unless they were suppressed.
    if (!EncoderSettings.suppressWarnings) return 0;
    platform::MbAnswer answer = platform::ShowMessageBox(notice, kSummaryCaption, platform::MbButtons::YesNo,
                                                         platform::MbIcon::Warning, MessageOwnerWindow);
    return answer == platform::MbAnswer::No ? -1 : 0;
}
