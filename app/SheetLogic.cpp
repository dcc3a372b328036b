// Page values, checks and write-back of the advanced settings sheet.
#include "app/SheetLogic.h"

namespace {

int Kbps(double bitsPerSecond) { return static_cast<int>(bitsPerSecond / 1024.0); }

int ProfileLevelIndex(int level) {
    switch (level) {
        case 10: return 0;
        case 8: return 1;
        case 6: return 2;
        case 4: return 3;
        default: return 1;
    }
}

bool BadMotionRange(int range) { return range < 8 || range % 8 != 0; }

SheetCheck Error(const char* text, bool namesPage = false, AdvancedPage page = AdvancedPage::MotionVectors) {
    SheetCheck c;
    c.text = text;
    c.icon = platform::MbIcon::Warning;
    c.namesPage = namesPage;
    c.page = page;
    return c;
}

SheetCheck Question(const char* text, platform::MbIcon icon, bool namesPage = false,
                    AdvancedPage page = AdvancedPage::MotionVectors) {
    SheetCheck c = Error(text, namesPage, page);
    c.question = true;
    c.icon = icon;
    return c;
}

}  // namespace

void PrepareAdvancedSheet(AdvancedSheetForm& form, EncoderSettingsRecord& s) {
    if (form.mpeg2) {
        if (form.formReady) {
            s.applicationType = kApplicationNone;
            if (form.dvd) s.applicationType = kApplicationDvd;
            if (form.svcd) s.applicationType = kApplicationSvcd;
        }
    } else {
        if (s.applicationType == kApplicationDvd || s.applicationType == kApplicationSvcd)
            s.applicationType = kApplicationNone;
        form.interlaceSelection = 0;
    }
}

bool AdvancedPageShown(AdvancedPage page, const AdvancedSheetForm& form, const EncoderSettingsRecord& s) {
    switch (page) {
        case AdvancedPage::Audio: return form.audio;
        case AdvancedPage::System: return !form.mpeg2 && form.audio;
        case AdvancedPage::Mpeg1: return !form.mpeg2;
        case AdvancedPage::Mpeg2: return form.mpeg2;
        case AdvancedPage::Input: return form.interlaceSelection == 0;
        case AdvancedPage::BitrateControl: return form.mpeg2 || s.streamType != kStreamTypeVideoCd;
        default: return true;
    }
}

std::vector<AdvancedPage> AdvancedPagesFor(const AdvancedSheetForm& form, const EncoderSettingsRecord& s) {
    static const AdvancedPage kOrder[] = {
        AdvancedPage::MotionVectors, AdvancedPage::Sequence, AdvancedPage::Performance, AdvancedPage::Sync,
        AdvancedPage::Headers,       AdvancedPage::Audio,    AdvancedPage::Files,       AdvancedPage::System,
        AdvancedPage::Special,       AdvancedPage::Mpeg1,    AdvancedPage::Mpeg2,       AdvancedPage::Input,
        AdvancedPage::Processes,     AdvancedPage::BitrateControl, AdvancedPage::Edges,
    };
    std::vector<AdvancedPage> pages;
    for (AdvancedPage p : kOrder)
        if (AdvancedPageShown(p, form, s)) pages.push_back(p);
    return pages;
}

AdvancedPageValues PageValuesFromSettings(const EncoderSettingsRecord& s, const AdvancedSheetForm& form,
                                          const ThreadOptionValues& threads) {
    AdvancedPageValues v;
    for (int i = 0; i < 2; ++i) {
        v.pRange[i] = s.pFrameMotionRange[i];
        v.bRange[i] = s.bFrameMotionRange[i];
    }
    const int m = s.ipDistance < 1 ? 1 : s.ipDistance;
    v.pCount = s.gopSize / m - 1;
    v.bCount = m - 1;
    v.performanceMode = s.performanceMode >= 1 && s.performanceMode <= 5 ? s.performanceMode : 3;
    v.qualityStatistics = s.qualityStatisticsMode;
    v.keepDuration = form.keepDuration;
    v.closedGop = s.closedGopOption;
    v.sequenceHeader = s.sequenceHeaderOption;
    v.audioMode = s.audioMode;
    v.audioBitRateIndex = s.audioBitRateIndex;
    v.audioBitRate = s.audioBitRate;
    v.tempVideoName = s.tempVideoFileName;
    v.tempAudioName = s.tempAudioFileName;
    v.deleteTempVideo = s.deleteTempVideo;
    v.deleteTempAudio = s.deleteTempAudio;
    v.packSize = s.muxPackSize;
    v.packetsPerPack = s.muxPacketsPerPack;
    v.audioBufferKb = s.muxAudioBufferKb;
    v.videoBufferKb = s.muxVideoBufferKb;
    v.muxConstantRate = s.muxConstantRate;
    v.skipBFrames = s.skipBFramesMode;
    v.constrainedParameters = s.constrainedParameters;
    v.mpeg1Aspect = s.mpeg1AspectRatio;
    v.profileLevel = ProfileLevelIndex(s.mpegLevel);
    v.videoFormat = s.videoFormat;
    v.mpeg2Aspect = s.mpeg2AspectRatio;
    v.mpeg2MuxConstantRate = s.mpeg2MuxConstantRate;
    v.sequenceDisplayExtension = s.sequenceDisplayExtension;
    v.filterChoice = s.medianFilter == 1 ? 1 : s.lowPassFilter == 1 ? 2 : 0;
    v.medianStrength = s.medianFilterStrength;
    v.lowPassStrength = s.lowPassFilterStrength;
    v.inverseTelecine = s.inverseTelecine;
    v.deinterlace = s.deinterlace;
    v.threads = threads;
    v.rateControlIndex = PageIndex(s.rateControl);
    v.vbrModeIndex = PageIndex(s.vbrMode);
    v.averageKbps = Kbps(s.averageBitRate);
    v.quantScale = s.constantQuantScale;
    v.upperKbps = Kbps(s.averageBitRateUpper);
    v.lowerKbps = Kbps(s.averageBitRateLower);
    v.maxKbps = Kbps(s.maxBitRate);
    v.topLines = s.topBorderLines;
    v.bottomLines = s.bottomBorderLines;
    return v;
}

bool SequencePatternIsError(int pCount, int bCount) { return bCount > 0 && pCount <= 0; }

std::string SequencePatternText(int pCount, int bCount) {
    if (SequencePatternIsError(pCount, bCount))
        return "Error: number of B frames >0 while number of P frames =0.";
    if (pCount <= 0 && bCount <= 0) return "I I I I I I I I I I I I I I I I I ...";
    std::string text = "I ";
    if (bCount <= 0) {
        for (int i = 0; i < pCount; ++i) text += "P ";
        return text + "I...";
    }
    const std::string bs(static_cast<size_t>(bCount), 'B');
    text += bs;
    for (int i = 0; i < pCount; ++i) text += " P " + bs;
    return text + " I ...";
}

std::string RangeMessage(int minimum, int maximum) {
    return "Please enter an integer between " + std::to_string(minimum) + " and " + std::to_string(maximum) + ".";
}

std::string NotANumberMessage() { return "Please enter an integer."; }

std::string BitrateControlProblem(const AdvancedPageValues& v) {
    if (v.rateControlIndex != PageIndex(kRateVariable)) return {};
    if (v.vbrModeIndex == PageIndex(kVbrAverage) && v.maxKbps <= v.averageKbps)
        return "Error in Variable Bitrate Parameters:\n\nFor Simple Variable Bitrate Mode, Maximum bitrate must be\n"
               "greater than Average bitrate.  Please correct settings\nin Bitrate Control before exiting Advanced "
               "Parameters.";
    if (v.vbrModeIndex == PageIndex(kVbrQuantWithinAverage) && v.upperKbps <= v.lowerKbps)
        return "Error in Variable Bitrate Parameters:\n\nFor Optimized Quantization Scale, Maximum Average bitrate\n"
               "must be greater than minimum Average bitrate. Please\ncorrect settings in Bitrate Control before "
               "exiting Advanced\nParameters. ";
    if (v.vbrModeIndex == PageIndex(kVbrQuantWithinAverage) && v.maxKbps <= v.upperKbps)
        return "Error in Variable Bitrate Parameters:\n\nFor Optimized Quantization Scale, Maximum bitrate must\n"
               "be greater than maximum Average bitrate. Please correct\nsettings in Bitrate Control before "
               "exiting Advanced\nParameters. ";
    return {};
}

std::vector<SheetCheck> FailedSheetChecks(const AdvancedPageValues& v, const AdvancedPageValues& baseline,
                                          const AdvancedSheetForm& form, const EncoderSettingsRecord& s) {
    using platform::MbIcon;
    std::vector<SheetCheck> failed;
    if (BadMotionRange(v.pRange[0]))
        failed.push_back(Error("Error: Maximum P frame horizontal motion vector\n must be positive, multiple of 8.\n"
                               " Please correct maximum horizontal motion vector."));
    if (BadMotionRange(v.bRange[0]))
        failed.push_back(Error("Error: Maximum B frame horizontal motion vector\n must be positive, multiple of 8.\n"
                               " Please correct maximum horizontal motion vector."));
    if (BadMotionRange(v.pRange[1]))
        failed.push_back(Error("Error: Maximum P frame vertical motion vector\n must be positive, multiple of 8.\n"
                               " Please correct maximum vertical motion vector."));
    if (BadMotionRange(v.bRange[1]))
        failed.push_back(Error("Error: Maximum B frame vertical motion vector\n must be positive, multiple of 8.\n"
                               " Please correct maximum vertical motion vector."));
    const bool rangeChanged = v.pRange[0] != baseline.pRange[0] || v.pRange[1] != baseline.pRange[1] ||
                              v.bRange[0] != baseline.bRange[0] || v.bRange[1] != baseline.bRange[1];
    const bool rangeAbove64 = v.pRange[0] > 64 || v.pRange[1] > 64 || v.bRange[0] > 64 || v.bRange[1] > 64;
    if (rangeChanged && rangeAbove64)
        failed.push_back(Question("Motion vectors larger than 64\nmay result in slow MPEG encoding and\nmay not "
                                  "increase image quality.\n\nWould you like to correct motion vectors?\n(Recommended)",
                                  MbIcon::Question));
    const long group = static_cast<long>(v.pCount + 1) * (v.bCount + 1);
    if (group > 128 && group != s.gopSize)
        failed.push_back(Question("The interval between I frames in the frame\nsequence is larger than 128. Would you "
                                  "like\nto reduce amount of P or B frames in the file?\n\nChanges settings in "
                                  "sequence settings\nproperty page? (Recommended)",
                                  MbIcon::Question, true, AdvancedPage::Sequence));
    if (v.bCount >= 1 && v.pCount == 0)
        failed.push_back(Error("Error: If number of B frames is positive, \nthen number of P frames must also be "
                               "positive. \n Please correct number of P and B frames.",
                               true, AdvancedPage::Sequence));
    if (AdvancedPageShown(AdvancedPage::System, form, s)) {
        if (static_cast<long>(v.packSize) > static_cast<long>(v.audioBufferKb) * 1024)
            failed.push_back(Error(" Error: System stream parameters are illegal.\n Pack size must be less then or "
                                   "equal\n to audio buffer size*1024. \n Please correct system stream data.",
                                   true, AdvancedPage::System));
        if (static_cast<long>(v.packSize) > static_cast<long>(v.videoBufferKb) * 1024)
            failed.push_back(Error(" Error: System stream parameters are illegal.\n Pack size must be less then or "
                                   "equal\n to video buffer size*1024. \n Please correct system stream data.",
                                   true, AdvancedPage::System));
        if (v.packSize < 2048)
            failed.push_back(Question(" Warning:\n Selecting Pack size less then 2048 bytes is not recommended.\n"
                                      "  Do you want to correct system stream data?",
                                      MbIcon::Question, true, AdvancedPage::System));
    }
    if (form.audio && (v.audioMode < 0 || v.audioMode > 3 || v.audioBitRateIndex < 0 || v.audioBitRateIndex > 9))
        failed.push_back(Error("Error: Audio stream parameters are illegal. \nPlease correct audio stream data.", true,
                               AdvancedPage::Audio));
    return failed;
}

void ProfileLevelOfIndex(int index, int* profile, int* level) {
    static const int kLevels[4] = {10, 8, 6, 4};
    static const int kProfiles[4] = {4, 4, 1, 1};
    if (index < 0 || index > 3) index = 1;
    *profile = kProfiles[index];
    *level = kLevels[index];
}

WriteBackOutcome WriteBackPageValues(const AdvancedPageValues& v, const AdvancedPageValues& b,
                                     EncoderSettingsRecord& s, AdvancedSheetForm& form,
                                     ThreadOptionValues& threads) {
    WriteBackOutcome out;
    out.modified = !(v == b);
    // Each value goes back only when the user moved it away from where it started.
    auto put = [](int page, int start, int& field) {
        if (page != start) field = page;
    };
    auto putRate = [](int pageKbps, int startKbps, double& field) {
        if (pageKbps != startKbps) field = pageKbps * 1024.0;
    };
    for (int i = 0; i < 2; ++i) {
        put(v.pRange[i], b.pRange[i], s.pFrameMotionRange[i]);
        put(v.bRange[i], b.bRange[i], s.bFrameMotionRange[i]);
    }
    if (v.pCount != b.pCount || v.bCount != b.bCount) {
        s.ipDistance = v.bCount + 1;
        s.gopSize = (v.pCount + 1) * (v.bCount + 1);
    }
    put(v.skipBFrames, b.skipBFrames, s.skipBFramesMode);
    put(v.qualityStatistics, b.qualityStatistics, s.qualityStatisticsMode);
    put(v.performanceMode, b.performanceMode, s.performanceMode);
    if (v.tempVideoName != b.tempVideoName) s.tempVideoFileName = v.tempVideoName;
    if (v.tempAudioName != b.tempAudioName) s.tempAudioFileName = v.tempAudioName;
    put(v.deleteTempVideo, b.deleteTempVideo, s.deleteTempVideo);
    put(v.deleteTempAudio, b.deleteTempAudio, s.deleteTempAudio);
    put(v.keepDuration, b.keepDuration, form.keepDuration);
    putRate(v.maxKbps, b.maxKbps, s.maxBitRate);
    putRate(v.averageKbps, b.averageKbps, s.averageBitRate);
    putRate(v.upperKbps, b.upperKbps, s.averageBitRateUpper);
    putRate(v.lowerKbps, b.lowerKbps, s.averageBitRateLower);
    put(v.quantScale, b.quantScale, s.constantQuantScale);
    if (v.rateControlIndex != b.rateControlIndex) s.rateControl = v.rateControlIndex + 1;
    if (v.vbrModeIndex != b.vbrModeIndex) s.vbrMode = v.vbrModeIndex + 1;
    put(v.topLines, b.topLines, s.topBorderLines);
    put(v.bottomLines, b.bottomLines, s.bottomBorderLines);
    put(v.packSize, b.packSize, s.muxPackSize);
    put(v.packetsPerPack, b.packetsPerPack, s.muxPacketsPerPack);
    put(v.audioBufferKb, b.audioBufferKb, s.muxAudioBufferKb);
    put(v.videoBufferKb, b.videoBufferKb, s.muxVideoBufferKb);
    put(v.muxConstantRate, b.muxConstantRate, s.muxConstantRate);
    put(v.mpeg2Aspect, b.mpeg2Aspect, s.mpeg2AspectRatio);
    put(v.sequenceDisplayExtension, b.sequenceDisplayExtension, s.sequenceDisplayExtension);
    put(v.videoFormat, b.videoFormat, s.videoFormat);
    put(v.mpeg2MuxConstantRate, b.mpeg2MuxConstantRate, s.mpeg2MuxConstantRate);
    put(v.deinterlace, b.deinterlace, s.deinterlace);
    put(v.inverseTelecine, b.inverseTelecine, s.inverseTelecine);
    put(v.medianStrength, b.medianStrength, s.medianFilterStrength);
    put(v.lowPassStrength, b.lowPassStrength, s.lowPassFilterStrength);
    if (v.filterChoice != b.filterChoice) {
        s.medianFilter = v.filterChoice == 1 ? 1 : 0;
        s.lowPassFilter = v.filterChoice == 2 ? 1 : 0;
    }
    if (v.profileLevel != b.profileLevel) ProfileLevelOfIndex(v.profileLevel, &s.mpegProfile, &s.mpegLevel);
    if (v.threads.meThreads != b.threads.meThreads && v.threads.meThreads >= 1 && v.threads.meThreads <= 16) {
        threads.meThreads = v.threads.meThreads;
        out.threadOptionsChanged = true;
    }
    auto putFlag = [&](int page, int start, int& field) {
        if (page != start) {
            field = page;
            out.threadOptionsChanged = true;
        }
    };
    putFlag(v.threads.read, b.threads.read, threads.read);
    putFlag(v.threads.draw, b.threads.draw, threads.draw);
    putFlag(v.threads.encode, b.threads.encode, threads.encode);
    putFlag(v.threads.tables, b.threads.tables, threads.tables);
    if (!form.mpeg2) {
        put(v.constrainedParameters, b.constrainedParameters, s.constrainedParameters);
        put(v.mpeg1Aspect, b.mpeg1Aspect, s.mpeg1AspectRatio);
    }
    if (form.audio) {
        out.audioChanged = v.audioMode != b.audioMode || v.audioBitRateIndex != b.audioBitRateIndex;
        put(v.audioMode, b.audioMode, s.audioMode);
        put(v.audioBitRateIndex, b.audioBitRateIndex, s.audioBitRateIndex);
        put(v.audioBitRate, b.audioBitRate, s.audioBitRate);
    }
    put(v.closedGop, b.closedGop, s.closedGopOption);
    put(v.sequenceHeader, b.sequenceHeader, s.sequenceHeaderOption);
    return out;
}
