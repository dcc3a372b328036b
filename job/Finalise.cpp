// Settings finalisation: after every profile read, derive what the engine
// needs from the stored values and refuse settings it cannot encode.
#include "job/Finalise.h"

#include <cstdio>
#include <new>
#include <vector>

#include "platform/Format.h"
#include "platform/MessageBox.h"
#include "platform/ResStrings.h"
#include "settings/EncoderSettings.h"
#include "settings/Report.h"
#include "settings/Validate.h"

namespace {

// The engine keeps one frame store per B picture between anchors; a distance
// beyond this is a damaged profile, not a setting anybody can encode.
constexpr int kMaxIpDistance = 1024;

std::function<void(const std::string&)>& ConstrainedDialog() {
    static std::function<void(const std::string&)> dialog;
    return dialog;
}

struct ExactRate {
    int numerator, denominator;
};
constexpr ExactRate kFrameRates[9] = {{0, 1},     {24000, 1001}, {24, 1}, {25, 1}, {30000, 1001},
                                      {30, 1},    {50, 1},       {60000, 1001}, {60, 1}};

// Smallest f_code whose range (8 << (f_code - 1)) covers r; 0 when none does.
int FCodeForRange(int r) {
    for (int k = 1; k <= 9; ++k)
        if (r <= (8 << (k - 1))) return k;
    return 0;
}

bool RangeUsable(int r) { return r >= 8 && r % 8 == 0 && r <= 512; }

// The f_codes of one direction: MPEG-1 codes both components from the larger range.
bool DeriveFCodes(bool mpeg1, const int range[2], int* horizontal, int* vertical) {
    int rh = range[0], rv = range[1];
    if (mpeg1) rh = rv = rh > rv ? rh : rv;
    if (!RangeUsable(rh) || !RangeUsable(rv)) {
        ReportParameterError(" Illegal motion vector maximum value. \n");
        return false;
    }
    *horizontal = FCodeForRange(rh);
    *vertical = FCodeForRange(rv);
    if (*horizontal == 0 || *vertical == 0) {
        ReportParameterError(" Motion Vector too large. \n");
        return false;
    }
    return true;
}

bool RangeComponentsValid(const int range[2]) {
    for (int i = 0; i < 2; ++i)
        if (range[i] < 1 || range[i] % 8 != 0) return false;
    return true;
}

bool CheckEstimatorSettings(const EncoderSettingsRecord& s) {
    const char* problem = nullptr;
    if (s.performanceMode < 1 || s.performanceMode > 5)
        problem = " Illegal ME performance parameter \n";
    else if (s.meSearchPoints < 10)
        problem = " Illegal maximum number of blocks, must be >10 \n";
    else if (s.meThreshold < 0 || s.meThreshold > 999)
        problem = " Illegal square of pixel threshold must be 0<=d<=999\n";
    else if (s.meSearchLevel < 0)
        problem = " Illegal parameter tolerance, must be positive  \n";
    else if (s.gopSize < 1)
        problem = "N must be positive";
    else if (s.ipDistance < 1)
        problem = "M must be positive";
    else if (s.gopSize % s.ipDistance != 0)
        problem = "N must be an integer multiple of M";
    else if (!RangeComponentsValid(s.pFrameMotionRange))
        problem = " Illegal P frame maximum motion vector value(s)\n";
    else if (!RangeComponentsValid(s.bFrameMotionRange))
        problem = " Illegal B frame maximum motion vector value(s)\n";
    if (!problem) return true;
    ReportParameterError(problem);
    return false;
}

// The new buffer is complete before the old one goes, so nothing ever points
// at freed records.
bool AllocateMotionData(EncoderSettingsRecord& s) {
    try {
        if (s.ipDistance > kMaxIpDistance) throw std::bad_alloc();
        std::vector<MotionDataRecord> records(static_cast<size_t>(s.ipDistance));
        s.motionData.swap(records);
    } catch (const std::bad_alloc&) {
        ReportParameterError("Couldn't allocate motion_data\n");
        return false;
    }
    return true;
}

bool DeriveMotionData(EncoderSettingsRecord& s) {
    const bool mpeg1 = s.mpeg1 > 0;
    MotionDataRecord& p = s.motionData[0];
    if (!DeriveFCodes(mpeg1, s.pFrameMotionRange, &p.forwardHorFCode, &p.forwardVertFCode)) return false;
    p.sxf = s.pFrameMotionRange[0];
    p.syf = s.pFrameMotionRange[1];
    for (size_t i = 1; i < s.motionData.size(); ++i) {
        MotionDataRecord& b = s.motionData[i];
        if (!DeriveFCodes(mpeg1, s.bFrameMotionRange, &b.forwardHorFCode, &b.forwardVertFCode)) return false;
        b.backwardHorFCode = b.forwardHorFCode;
        b.backwardVertFCode = b.forwardVertFCode;
        b.sxf = b.sxb = s.bFrameMotionRange[0];
        b.syf = b.syb = s.bFrameMotionRange[1];
    }
    return true;
}

void DeriveFieldFlags(EncoderSettingsRecord& s) {
    if (s.mpeg1 <= 0 && s.interlaceMode > 0) {
        s.interlacedCoding = 1;
        s.progressiveSequence = 0;
        s.progressiveFrame = 0;
        s.topFieldFirst = s.interlaceMode == 1 ? 1 : 0;
    } else {
        s.interlacedCoding = 0;
        s.progressiveSequence = 1;
        s.progressiveFrame = 1;
        s.topFieldFirst = 0;
    }
}

void DeriveBufferAndDcPrecision(EncoderSettingsRecord& s) {
    s.vbvBufferSize = VbvBufferSizeFor(s.mpeg1 != 0, s.constrainedParametersFlag != 0, s.mpegLevel);
    if (s.mpeg1) {
        s.intraDcPrecision = 0;
        return;
    }
    const bool variable = s.rateControl == kRateVariable;
    if (!variable || s.vbrMode < kVbrConstantQuant) {
        const double rate = variable ? s.averageBitRate : s.bitRate;
        const double bitsPerSample = rate / (static_cast<double>(s.horizontalSize) * s.verticalSize + 1.0);
        s.intraDcPrecision = bitsPerSample > 26.0 ? 2 : 0;
    } else {
        s.intraDcPrecision = s.constantQuantScale > 4 ? 0 : 2;
    }
    if (s.mpegLevel == 10) s.intraDcPrecision = 0;
}

bool CheckVariableRateSettings(const EncoderSettingsRecord& s) {
    if (s.rateControl != kRateVariable) return true;
    const bool scaleBad = s.constantQuantScale < 1 || s.constantQuantScale > 31;
    std::string problem;
    switch (s.vbrMode) {
        case kVbrAverage:
            if (!(s.averageBitRate < s.maxBitRate))
                problem = "Error in Variable Bitrate Parameters: \n\nAverage bit rate must be lesser than maximum "
                          "bit rate.";
            break;
        case kVbrAverageNoVbv:
        case kVbrConstantQuantNoVbv: break;
        case kVbrConstantQuant:
            if (scaleBad) problem = LoadResString(64328);
            break;
        case kVbrQuantWithinAverage:
            if (scaleBad)
                problem = LoadResString(64329);
            else if (!(s.averageBitRateUpper < s.maxBitRate))
                problem = "Error in Variable Bitrate Parameters: \n\nParameter Desired maximum of average bit rate "
                          "must\nbe lesser than maximum bit rate.";
            else if (!(s.averageBitRateLower < s.averageBitRateUpper))
                problem = LoadResString(64331);
            break;
        default:
            problem = "Error in Variable Bitrate Parameters: \n\nIllegal value of VBR mode options - unsupported "
                      "option.";
    }
    if (problem.empty()) return true;
    ReportParameterError(problem);
    return false;
}

// The MPEG-1 constrained parameter set; an empty result when the settings keep to it.
std::string ConstrainedParametersProblem(const EncoderSettingsRecord& s) {
    const int w = s.horizontalSize, h = s.verticalSize;
    const long macroblocks = static_cast<long>((w + 15) / 16) * ((h + 15) / 16);
    const double macroblockRate = static_cast<double>(macroblocks) * s.frameRate;
    const bool within = w <= 768 && h <= 576 && macroblocks <= 396 && macroblockRate <= 9900.0 &&
                        s.frameRate <= 30.0 && s.bitRate <= 1856000.0;
    if (within) return {};
    if (w > 768) return " horizontal image size > 768. ";
    if (h > 576) return " vertical image size > 576. ";
    if (macroblocks > 396)
        return "Image area > 396 macroblocks\n ( W*H>101376, where W and H are width and height rounded up to "
               "nearest multiple of 16).";
    if (macroblockRate > 9900.0) return "Pel rate > 396 x 25 macroblocks/sec. ";
    if (s.frameRate > 30.0) return "Picture rate > 30 frames/sec. ";
    if (s.bitRate > 1856000.0)
        return " Video stream data rate > 1856000 bits/sec\n (approximately equal to 1812 Kbits/sec). ";
    return " illegal video stream parameters. ";
}

// Constrained streams keep motion vectors within +-64: f_code at most 4.
std::string ConstrainedMotionProblem(const EncoderSettingsRecord& s) {
    for (size_t i = 0; i < s.motionData.size(); ++i) {
        const MotionDataRecord& r = s.motionData[i];
        if (r.forwardHorFCode > 4) return " forward horizontal motion vector > 64";
        if (r.forwardVertFCode > 4) return " forward vertical motion vector > 64";
        if (i == 0) continue;
        if (r.backwardHorFCode > 4) return " beckward horizontal motion vector > 64";
        if (r.backwardVertFCode > 4) return " backward vertical motion vector > 64";
    }
    return {};
}

void RefuseConstrainedParameters(EncoderSettingsRecord& s, const std::string& reason) {
    ShowConstrainedParametersError(reason);
    s.constrainedParametersFlag = 0;
    ParameterError = 1;
}

bool RunFinalisation(EncoderSettingsRecord& s, bool recheck) {
    for (int t = 0; t < 3; ++t) {
        s.framePredFrameDct[t] = 1;
        s.intraVlcFormat[t] = 1;
    }
    s.intraMatrixFileName = "-";
    s.nonIntraMatrixFileName = "-";

    if (s.videoFormat == 1 || s.videoFormat == 3) {
        s.colorPrimaries = s.transferCharacteristics = s.matrixCoefficients = 5;
    } else if (s.videoFormat == 2) {
        s.colorPrimaries = 4;
        s.transferCharacteristics = 4;
        s.matrixCoefficients = 5;
    }

    if (!CheckEstimatorSettings(s) || !AllocateMotionData(s) || !DeriveMotionData(s)) return false;

    DeriveFieldFlags(s);
    s.mpeg1 = s.mpeg1 > 0 ? 1 : 0;
    s.constrainedParameters = s.constrainedParameters > 0 ? 1 : 0;
    s.constrainedParametersFlag = s.mpeg1 && s.constrainedParameters ? 1 : 0;
    DeriveBufferAndDcPrecision(s);
    if (CheckParameterRanges() != 0) return false;

    const ExactRate rate = kFrameRates[s.frameRateCode];
    s.frameRateNumerator = rate.numerator;
    s.frameRateDenominator = rate.denominator;
    s.frameRate = static_cast<double>(rate.numerator) / rate.denominator;

    if (!CheckVariableRateSettings(s)) return false;

    if (s.mpeg1 && s.constrainedParametersFlag) {
        const std::string reason = ConstrainedParametersProblem(s);
        if (!reason.empty()) RefuseConstrainedParameters(s, reason);
    }
    if (s.mpeg1 && s.constrainedParametersFlag) {
        const std::string reason = ConstrainedMotionProblem(s);
        if (!reason.empty()) RefuseConstrainedParameters(s, reason);
    }

    if (!s.mpeg1 && recheck && CheckProfileAndLevel() != 0) return false;

    // Field pictures need field prediction and field DCT, so only progressive
    // pictures keep to frame prediction and frame DCT.
    const int frameOnly = s.progressiveSequence || s.progressiveFrame ? 1 : 0;
    for (int t = 0; t < 3; ++t) {
        s.intraVlcFormat[t] = s.mpeg1 ? 0 : 1;
        s.framePredFrameDct[t] = frameOnly;
    }

    s.workingWidth = s.horizontalSize;
    s.workingHeight = s.verticalSize;
    if (s.mpeg1 && s.constrainedParametersFlag != s.constrainedParameters) ParameterError = 1;
    return true;
}

// The profile counts as loaded however the finalisation ends, also when a
// fatal report unwinds through it.
struct MarkProfileLoaded {
    ~MarkProfileLoaded() { ProfileLoaded = 1; }
};

}  // namespace

int VbvBufferSizeFor(bool mpeg1, bool constrained, int mpegLevel) {
    if (mpeg1) return constrained ? 20 : 112;
    return mpegLevel == 10 ? 28 : mpegLevel == 4 || mpegLevel == 6 ? 400 : 112;
}

void FinaliseSettings(bool recheck) {
    ParameterError = 0;
    MarkProfileLoaded mark;
    RunFinalisation(EncoderSettings, recheck);
}

void SetConstrainedParametersDialog(std::function<void(const std::string&)> dialog) {
    ConstrainedDialog() = std::move(dialog);
}

void ShowConstrainedParametersError(const std::string& reason) {
    if (BatchMode < 2) {
        if (ConstrainedDialog())
            ConstrainedDialog()(reason);
        else
            platform::ShowMessageBox(reason, "MPEG-1 Constrained Parameters Error", platform::MbButtons::Ok,
                                     platform::MbIcon::Stop, MessageOwnerWindow);
        return;
    }
    if (EncoderSettings.outputFileName.empty()) return;
    FILE* log = std::fopen(BatchLogFileName.c_str(), "a");
    if (!log) return;
    std::fputs(platform::Format(LoadResString(64122), EncoderSettings.outputFileName.c_str()).c_str(), log);
    std::fclose(log);
}
