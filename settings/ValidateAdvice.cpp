// Advice before an encoding: bit-rate settings likely to give poor pictures,
// and MPEG-2 picture formats that players may not know. Each is a question.
#include <string>

#include "platform/ResStrings.h"
#include "settings/EncoderSettings.h"
#include "settings/Validate.h"

namespace {

std::string Text(int id) { return LoadResString(id); }

bool AnyInputFilter(const EncoderSettingsRecord& s) { return s.medianFilter == 1 || s.lowPassFilter == 1; }

// Long groups with B pictures and an input filter already do what the
// "more P and B pictures, input filters" hint suggests.
bool GroupAndFiltersTuned(const EncoderSettingsRecord& s, int minGop) {
    return s.ipDistance >= 4 && s.gopSize >= minGop && AnyInputFilter(s);
}

bool StopsOnAdvice(bool problem, const std::string& detail) {
    return problem && AskContinueAfterMpegWarning(detail) == 2;
}

bool StopsOnFormat(bool problem, const std::string& detail) {
    return problem && AskContinueAfterFormatWarning(detail) == 2;
}

}  // namespace

int CheckVbrSettings() {
    const EncoderSettingsRecord& s = EncoderSettings;
    const bool variable = s.rateControl == kRateVariable;
    const int mode = s.vbrMode;
    const bool quantModes = variable && (mode == kVbrConstantQuant || mode == kVbrQuantWithinAverage);
    const double area = static_cast<double>(s.horizontalSize) * s.verticalSize;
    const double skipFactor = s.skipBFramesMode ? 0.5 : 1.0;
    // Disc formats fix their own rates: the rate-range hints do not apply there.
    const bool discRates = s.applicationType == kApplicationDvd || s.applicationType == kApplicationSvcd;

    double estimate = s.bitRate;
    if (variable) {
        estimate = 0.8 * s.bitRate;
        if (mode == 1) estimate = 1.1 * s.averageBitRate;
        if (quantModes && s.constantQuantScale != 0) estimate = 74.0 * area / s.constantQuantScale;
    }

    if (StopsOnAdvice(variable && s.mpeg1, Text(64243))) return -1;
    if (StopsOnAdvice(variable && !discRates && 16.0 * area * skipFactor > s.maxBitRate, Text(64245))) return -1;
    if (StopsOnAdvice(variable && mode == 1 && !discRates && 0.75 * s.maxBitRate < s.averageBitRate, Text(64247)))
        return -1;

    if (quantModes) {
        if (StopsOnAdvice(s.constantQuantScale == 1, Text(64249))) return -1;
        if (s.constantQuantScale >= 9 && !s.skipBFramesMode) {
            std::string text = Text(64251) + Text(64252);
            if (!GroupAndFiltersTuned(s, 15)) text += Text(64253);
            if (StopsOnAdvice(true, text)) return -1;
        }
        if (StopsOnAdvice(!discRates && estimate > s.maxBitRate, Text(64255))) return -1;
    }

    if (variable && mode == 5) {
        int advice = 0;
        if (0.8 * s.maxBitRate < s.averageBitRateUpper && s.applicationType != kApplicationSvcd)
            advice = 64257;
        else if (0.75 * s.averageBitRateUpper < s.averageBitRateLower)
            advice = 64259;
        else if (0.9 * estimate > s.averageBitRateUpper && !discRates)
            advice = 64261;
        else if (1.1 * estimate < s.averageBitRateLower)
            advice = 64263;
        if (StopsOnAdvice(advice != 0, advice ? Text(advice) : std::string())) return -1;
    }

    if (!s.skipBFramesMode && estimate < 9.4 * area && s.applicationType != kApplicationSvcd) {
        const int lowRate = !variable ? 64265 : mode == 1 ? 64266 : 64267;
        std::string text = Text(lowRate);
        bool ask = true;
        if (s.verticalSize >= 480) {
            ask = !GroupAndFiltersTuned(s, 20);
            text += Text(64271);
        } else {
            text += Text(estimate >= 4.5 * area ? 64269 : 64268);
            if (!GroupAndFiltersTuned(s, 15)) text += Text(64270);
        }
        if (StopsOnAdvice(ask, text)) return -1;
    }

    const bool interlacedMpeg2 = !s.mpeg1 && s.interlaceMode > 0;
    if (s.verticalSize >= 289 && !s.deinterlace && !interlacedMpeg2 && !discRates) {
        std::string text = Text(64273);
        if (!GroupAndFiltersTuned(s, 15)) text += Text(64274);
        if (StopsOnAdvice(true, text)) return -1;
    }

    if (StopsOnAdvice((s.applicationType == kApplicationVcd11 || s.applicationType == kApplicationVcd20) && s.skipBFramesMode,
                      "You are attempting to encode in Video CD format and you enabled one \nof the Skip B frames "
                      "modes. These modes are generally designed \nfor low bit rates. Doing this may possibly reduce "
                      "image quality of the\nVideo CD.\n"))
        return -1;
    return 0;
}

int CheckMpeg2FormatConsistency() {
    const EncoderSettingsRecord& s = EncoderSettings;
    if (s.mpeg1 || s.applicationType == kApplicationDvd) return 0;
    const int w = s.horizontalSize, h = s.verticalSize, code = s.frameRateCode, format = s.videoFormat;
    const bool hdSize = (w == 1280 && h == 720) || (w == 1920 && h == 1080);

    if (StopsOnFormat(!((format >= 1 && format <= 4) || (format == 0 && hdSize)),
                      "   Reason:\n   Unspecified source video format.\n   You should select a corresponding\n"
                      "   video format in the MPEG-2 options.\n"))
        return -1;
    if ((code == 4 || code == 5) &&
        StopsOnFormat(format != 2,
                      "Source video format NTSC should be selected\nif frame rate equals 29.97 or 30 frames/sec.\n"))
        return -1;
    if ((code == 2 || code == 3) &&
        StopsOnFormat(format != 1 && format != 3,
                      "\nSource video format PAL or SECAM should be selected\nif frame rate equals 24 or 25 "
                      "frames/sec.\n"))
        return -1;

    const bool knownWidth = w == 720 || w == 704 || w == 480 || w == 352 || w == 640 || w == 1280 || w == 1920;
    const bool knownHeight = h == 480 || h == 576 || h == 1080 || h == 720;
    const bool cifSize = w == 352 && (h == 240 || h == 288);
    if (StopsOnFormat(!((knownWidth && knownHeight) || cifSize),
                      "For NTSC system picture size can be:\n720x480, 704x480, 640x480, 480x480, 352x480, "
                      "352x240\n\nfor PAL system picture size can be:\n720x576, 704x576, 480x576, 352x576, "
                      "352x288 \n\nfor HDTV picture size can be:\n704x480, 640x480, 1280x720, 1920x1080\n"))
        return -1;

    const bool ntscHeight = h == 480 || h == 240, palHeight = h == 576 || h == 288;
    if (StopsOnFormat((ntscHeight && code != 4 && code != 5) || (palHeight && code != 3),
                      "\nFor NTSC system vertical size can be 480 or 240 \nand frame rate can be 29.97 or 30 "
                      "frames/sec.\nFor PAL system vertical size can be 576 or 288 \nand frame rate can be 25 "
                      "frames/sec.\n"))
        return -1;

    const int aspect = s.mpeg2AspectRatio;
    if (StopsOnFormat(hdSize && aspect != 1 && aspect != 3,
                      "If picture size equals 1920x1080 or 1280x720, then \npixel aspect ratio should be 1:1 or "
                      "9:16. "))
        return -1;
    // 640x480 is the square-sample 4:3 picture; 704x480 is shown at 4:3 or 16:9.
    if (StopsOnFormat(w == 640 && h == 480 && aspect != 1 && aspect != 2,
                      "If picture size equals 640x480, then \npixel aspect ratio should be 1:1 or 3:4. "))
        return -1;
    if (StopsOnFormat(w == 704 && h == 480 && aspect != 2 && aspect != 3,
                      "If picture size equals 704x480, then \npixel aspect ratio should be 3:4 or 9:16. "))
        return -1;
    return 0;
}
