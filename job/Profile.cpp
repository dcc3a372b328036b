// Profile files: the built-in settings, and the settings record written as
// and read from text (a main block and five versioned extension sections).
#include "job/Profile.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "job/AudioRates.h"
#include "job/AviSource.h"
#include "job/EncoderSettings.h"
#include "job/Finalise.h"
#include "job/Preview.h"
#include "job/ProfileFormat.h"
#include "job/Report.h"
#include "job/RunState.h"
#include "platform/FileReplace.h"
#include "platform/Format.h"
#include "platform/MessageBox.h"

using namespace profileformat;

namespace {

// Every stored field takes its built-in value; fields that no profile stores
// (command-line switches, settings-file keys, derived values) are left alone,
// and so is the quality statistics mode, which the settings file decides.
void LoadBuiltInDefaults() {
    const EncoderSettingsRecord d;
    EncoderSettingsRecord& s = EncoderSettings;

    s.inputFileName = d.inputFileName;
    s.outputFileName = d.outputFileName;
    s.statisticsFileName = d.statisticsFileName;
    s.inputType = d.inputType;
    s.horizontalSize = d.horizontalSize;
    s.verticalSize = d.verticalSize;
    s.framesToEncode = d.framesToEncode;
    s.firstFrame = d.firstFrame;
    s.gopSize = d.gopSize;
    s.ipDistance = d.ipDistance;
    s.mpeg1 = d.mpeg1;
    s.frameRateCode = d.frameRateCode;
    s.keepOriginalDuration = d.keepOriginalDuration;
    s.bitRate = d.bitRate;
    s.vbvBufferSize = d.vbvBufferSize;
    s.mpegProfile = d.mpegProfile;
    s.mpegLevel = d.mpegLevel;
    s.colorPrimaries = d.colorPrimaries;
    s.transferCharacteristics = d.transferCharacteristics;
    s.matrixCoefficients = d.matrixCoefficients;
    s.intraDcPrecision = d.intraDcPrecision;
    for (int i = 0; i < 2; ++i) {
        s.pFrameMotionRange[i] = d.pFrameMotionRange[i];
        s.bFrameMotionRange[i] = d.bFrameMotionRange[i];
    }
    s.meSearchPoints = d.meSearchPoints;
    s.meThreshold = d.meThreshold;
    s.meSearchLevel = d.meSearchLevel;
    s.showInput = DefaultShowInput;
    s.showOutput = DefaultShowOutput;
    s.autoResizeWindow = DefaultAutoWindowSize;
    s.stretchPreview = DefaultStretchPreview;
    s.performanceMode = d.performanceMode;
    s.audioMode = d.audioMode;
    s.audioBitRateIndex = d.audioBitRateIndex;
    s.audioBitRate = AudioBitrateFromIndex(s.audioMode, s.audioBitRateIndex);
    s.inputHasAudio = d.inputHasAudio;
    s.encodeAudio = d.encodeAudio;
    s.reservedV11 = d.reservedV11;
    s.tempVideoFileName = d.tempVideoFileName;
    s.tempAudioFileName = d.tempAudioFileName;
    s.deleteTempVideo = d.deleteTempVideo;
    s.deleteTempAudio = d.deleteTempAudio;
    s.muxPackSize = d.muxPackSize;
    s.muxPacketsPerPack = d.muxPacketsPerPack;
    s.muxAudioBufferKb = d.muxAudioBufferKb;
    s.muxVideoBufferKb = d.muxVideoBufferKb;
    s.muxConstantRate = d.muxConstantRate;
    s.constrainedParameters = d.constrainedParameters;
    s.skipBFramesMode = d.skipBFramesMode;

    s.mpeg2AspectRatio = d.mpeg2AspectRatio;
    s.videoFormat = d.videoFormat;

    s.reservedV2a = d.reservedV2a;
    s.reservedV2b = d.reservedV2b;
    s.muxBitRate = d.muxBitRate;
    s.applicationType = d.applicationType;
    s.profileDescription = d.profileDescription;

    s.inverseTelecine = d.inverseTelecine;
    s.deinterlace = d.deinterlace;
    s.mpeg1AspectRatio = d.mpeg1AspectRatio;
    s.medianFilter = d.medianFilter;
    s.medianFilterStrength = d.medianFilterStrength;
    s.lowPassFilter = d.lowPassFilter;
    s.lowPassFilterStrength = d.lowPassFilterStrength;
    s.streamType = d.streamType;
    s.mpeg2MuxConstantRate = d.mpeg2MuxConstantRate;

    s.rateControl = d.rateControl;
    s.vbrMode = d.vbrMode;
    s.averageBitRate = 0.9 * s.bitRate;
    s.constantQuantScale = d.constantQuantScale;
    s.maxBitRate = s.bitRate;
    s.averageBitRateUpper = 0.8 * s.bitRate;
    s.averageBitRateLower = 0.2 * s.bitRate;
    s.closedGopOption = d.closedGopOption;
    s.sequenceHeaderOption = d.sequenceHeaderOption;
    s.topBorderLines = d.topBorderLines;
    s.bottomBorderLines = d.bottomBorderLines;

    s.interlaceMode = d.interlaceMode;
    s.sequenceDisplayExtension = d.sequenceDisplayExtension;
    s.audioSampleRate = d.audioSampleRate;

    SelectedAudioMode = s.audioMode;
    SelectedAudioBitRate = s.audioBitRate;
    SelectedAudioBitRateIndex = s.audioBitRateIndex;
}

// ---------------------------------------------------------------------------
// Reading a profile into the settings.

// Values 1 to 48 (49 in version 11) of the main block.
void ReadMainBlock(ValueReader& in, bool version11) {
    EncoderSettingsRecord& s = EncoderSettings;
    in.Text(s.inputFileName, true);
    in.Text(s.outputFileName, true);
    in.Text(s.statisticsFileName, true);
    in.Int(s.inputType);
    in.Int(s.horizontalSize);
    in.Int(s.verticalSize);
    in.Int(s.framesToEncode);
    in.Int(s.firstFrame);
    in.Int(s.gopSize);
    in.Int(s.ipDistance);
    if (in.Int(s.mpeg1)) s.streamType = s.mpeg1 > 0 ? 1 : 2;
    in.Int(s.frameRateCode);
    in.Int(s.keepOriginalDuration);
    in.Double(s.bitRate);
    in.Int(s.vbvBufferSize);
    in.Int(s.mpegProfile);
    in.Int(s.mpegLevel);
    in.Int(s.colorPrimaries);
    in.Int(s.transferCharacteristics);
    in.Int(s.matrixCoefficients);
    in.Int(s.intraDcPrecision);
    in.IntPair(s.pFrameMotionRange);
    in.IntPair(s.bFrameMotionRange);
    in.Int(s.meSearchPoints);
    in.Int(s.meThreshold);
    in.Int(s.meSearchLevel);
    // The preview flags belong to the user's display, not to the profile.
    in.Skip(4);
    s.autoResizeWindow = 1;
    in.Int(s.qualityStatisticsMode);
    in.Int(s.performanceMode);

    // Bit rate and index only make sense with the mode they were chosen for.
    int mode = -1, rate = 0, index = -1;
    bool modeValid = in.Int(mode) && mode >= 0 && mode <= 3;
    bool rateRead = in.Int(rate);
    bool indexRead = in.Int(index);
    if (modeValid) {
        s.audioMode = mode;
        if (rateRead && rate > 0 && rate % 8 == 0) s.audioBitRate = rate;
        if (indexRead && index >= 0 && index <= 9) s.audioBitRateIndex = index;
    }

    in.Int(s.inputHasAudio);
    in.Int(s.encodeAudio);
    in.Int(s.reservedV11);
    in.Text(s.tempVideoFileName, true);
    in.Text(s.tempAudioFileName, true);
    in.Int(s.deleteTempVideo);
    in.Int(s.deleteTempAudio);
    in.Int(s.muxPackSize);
    in.Int(s.muxPacketsPerPack);
    in.Int(s.muxAudioBufferKb);
    in.Int(s.muxVideoBufferKb);
    in.Int(s.muxConstantRate);
    in.Int(s.constrainedParameters);
    if (version11) {
        in.Int(s.skipBFramesMode);
    } else {
        s.skipBFramesMode = 0;
        platform::MessageBeep(0);
    }

    bool audioWanted = s.inputHasAudio != 0 && s.inputFileName.size() >= 2;
    AviRequestedChannels = audioWanted ? (s.audioMode != 0 ? 2 : 1) : 0;
}

void ReadMpeg2Section(ValueReader& in) {
    in.Int(EncoderSettings.mpeg2AspectRatio);
    in.Int(EncoderSettings.videoFormat);
}

void ReadV2Section(ValueReader& in) {
    EncoderSettingsRecord& s = EncoderSettings;
    in.Int(s.reservedV2a);
    if (s.reservedV2a < 0 || s.reservedV2a > 64) s.reservedV2a = 0;
    in.Int(s.reservedV2b);
    if (s.reservedV2b != 0 && s.reservedV2b != 1) s.reservedV2b = 0;
    in.Int(s.muxBitRate);
    if (s.muxBitRate < 1024) s.muxBitRate = 0;
    in.Int(s.applicationType);
    if (s.applicationType < 0 || s.applicationType > 64) s.applicationType = 0;
    in.Text(s.profileDescription, false);
    in.Skip(2);  // rate and scale of the AVI input the profile was saved with
}

void ReadV201Section(ValueReader& in) {
    EncoderSettingsRecord& s = EncoderSettings;
    if (in.Int(s.inverseTelecine) && s.inverseTelecine != 0) s.inverseTelecine = 1;
    in.Int(s.deinterlace);
    if (s.deinterlace != 1) s.deinterlace = 0;
    in.Int(s.mpeg1AspectRatio);
    if (s.mpeg1AspectRatio < 1) s.mpeg1AspectRatio = 1;

    int major = NonNegative(in.IntOr(0));
    int minor = NonNegative(in.IntOr(0));
    int count = NonNegative(in.IntOr(0));
    if ((minor >= 2 || major >= 3) && count >= 4) {
        in.Int(s.medianFilter);
        if (s.medianFilter != 1) s.medianFilter = 0;
        in.Int(s.medianFilterStrength);
        if (s.medianFilterStrength > 100) s.medianFilterStrength = 100;
        in.Int(s.lowPassFilter);
        if (s.lowPassFilter != 1) s.lowPassFilter = 0;
        if (s.medianFilter == 1) s.lowPassFilter = 1;
        in.Int(s.lowPassFilterStrength);
        if (s.lowPassFilterStrength > 100) s.lowPassFilterStrength = 100;
        count -= 4;
    }
    if ((minor >= 5 || major >= 3) && count >= 2) {
        in.Int(s.streamType);
        if (s.streamType > 3) s.streamType = 1;
        in.Int(s.mpeg2MuxConstantRate);
        if (s.mpeg2MuxConstantRate < 0 || s.mpeg2MuxConstantRate > 1) s.mpeg2MuxConstantRate = 0;
        count -= 2;
    }
    in.Skip(count);  // values of a later writer
}

void ReadV3Section(ValueReader& in) {
    EncoderSettingsRecord& s = EncoderSettings;
    in.Int(s.rateControl);
    if (s.rateControl < 1 || s.rateControl > 2) s.rateControl = 1;
    in.Int(s.vbrMode);
    if (s.vbrMode < 1 || s.vbrMode > 5) s.vbrMode = 1;
    in.Double(s.averageBitRate);
    if (s.averageBitRate < 10.0) s.averageBitRate = 10.0;
    in.Int(s.constantQuantScale);
    if (s.constantQuantScale < 1 || s.constantQuantScale > 31) s.constantQuantScale = 4;
    in.Double(s.maxBitRate);
    if (s.maxBitRate < 1.0) s.maxBitRate = s.bitRate;
    in.Double(s.averageBitRateUpper);
    if (s.averageBitRateUpper < 1.0) s.averageBitRateUpper = 0.8 * s.bitRate;
    in.Double(s.averageBitRateLower);
    if (s.averageBitRateLower < 1.0) s.averageBitRateLower = 0.2 * s.bitRate;
    int v = -1;
    if (in.Int(v) && v >= 0 && v <= 9999) s.closedGopOption = v;
    v = -1;
    if (in.Int(v) && v >= 0 && v <= 9999) s.sequenceHeaderOption = v;
    in.Int(s.topBorderLines);
    if (s.topBorderLines < 0 || s.topBorderLines > 32) s.topBorderLines = 0;
    in.Int(s.bottomBorderLines);
    if (s.bottomBorderLines < 0 || s.bottomBorderLines > 32) s.bottomBorderLines = 0;
    in.Skip(1);  // the fixed "-1"
}

void ReadV311Section(ValueReader& in) {
    EncoderSettingsRecord& s = EncoderSettings;
    int version = in.IntOr(0);
    int count = in.IntOr(0);
    if (version >= 1 && count >= 2) {
        in.Int(s.interlaceMode);
        in.Int(s.sequenceDisplayExtension);
        count -= 2;
    }
    if (version >= 2 && count >= 1) {
        in.Int(s.audioSampleRate);
        count -= 1;
    }
    in.Skip(count);
}

// A file without the variable-bit-rate section is a constant-rate profile.
void NoV3Section() {
    EncoderSettingsRecord& s = EncoderSettings;
    s.rateControl = 1;
    s.vbrMode = 1;
    s.constantQuantScale = 4;
    s.averageBitRate = 0.5 * s.bitRate;
}

// A file without the interlace section is progressive.
void NoV311Section() {
    EncoderSettings.interlaceMode = 0;
    EncoderSettings.sequenceDisplayExtension = 0;
}

struct ExtensionSection {
    SectionMarkers markers;
    void (*read)(ValueReader&);
    void (*missing)();  // when another line stands where the section would
    const char* badEndMessage;
};

// In file order.
const ExtensionSection kExtensionSections[] = {
    {kMpeg2Ext, ReadMpeg2Section, nullptr, kMsgBadMpeg2End},  //
    {kV2Ext, ReadV2Section, nullptr, kMsgBadV2End},           //
    {kV201Ext, ReadV201Section, nullptr, kMsgBadV201End},     //
    {kV3Ext, ReadV3Section, NoV3Section, kMsgBadV3End},       //
    {kV311Ext, ReadV311Section, NoV311Section, kMsgBadV3End},
};

// Arms the fatal-error return for the checks: a fatal check ends them early
// and leaves the settings flagged as erroneous.
void RunFinalisation(bool recheck) {
    try {
        EncoderJumpArm arm;
        FinaliseSettings(recheck);
    } catch (const EncoderJump&) {
        ProfileLoaded = 1;
        ParameterError = 1;
    }
}

// Whether the name contains "_default.$pr", in any letter case, as every
// file-name extension of the program is compared.
bool NameHasDefaultSuffix(const char* name) {
    std::string lower(name);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower.find("_default.$pr") != std::string::npos;
}

// Reads a profile file into the settings; true when the checks may run.
bool ReadProfileFile(const char* name, int previousLoaded) {
    FILE* file = std::fopen(name, "r");
    if (!file) {
        ShowWarningMessage(platform::Format(kMsgOpenFailed, name));
        ProfileLoaded = previousLoaded;
        return false;
    }
    FileCloser closer{file};
    LineReader lines(file);
    ValueReader in(lines);

    in.Line();
    HeaderKind header = ClassifyHeader(in.Text());
    if (header == HeaderKind::Old || header == HeaderKind::Illegal) {
        ShowWarningMessage(platform::Format(header == HeaderKind::Old ? kMsgOldHeader : kMsgBadHeader, name));
        ProfileLoaded = previousLoaded;
        return false;
    }

    EncoderSettingsRecord& s = EncoderSettings;
    s.closedGopOption = 0;
    s.sequenceHeaderOption = 0;
    s.topBorderLines = 0;
    s.bottomBorderLines = 0;
    if (!NameHasDefaultSuffix(name)) CustomProfileLoaded = 1;

    ReadMainBlock(in, header == HeaderKind::V11);
    auto fail = [&](const char* message) {
        ShowWarningMessage(platform::Format(message, name));
        return false;
    };
    if (lines.Failed()) return fail(kMsgReadError);

    in.Line();
    ReleasePreviewBuffers();
    if (!StartsWith(in.Text(), kMainEnd)) return fail(kMsgBadMainEnd);

    for (const ExtensionSection& section : kExtensionSections) {
        if (lines.AtEnd()) {
            // The interlace section is the last one, so it is always missing here.
            NoV311Section();
            break;
        }
        in.Line();
        if (!StartsWith(in.Text(), section.markers.begin)) {
            // Not this section: the line is dropped and the next section is
            // looked for on the line after it.
            if (section.missing) section.missing();
            continue;
        }
        section.read(in);
        in.Line();
        if (!StartsWith(in.Text(), section.markers.end)) return fail(section.badEndMessage);
    }

    if (lines.Failed()) return fail(kMsgReadError);
    return true;
}

// ---------------------------------------------------------------------------
// Writing.

// The 99 lines of a profile, numbers in the C locale.
std::string FormatProfile(const EncoderSettingsRecord& s, int aviRate, int aviScale) {
    platform::CLocaleScope cLocale;
    std::string out;
    auto line = [&out](const std::string& text) {
        out += text;
        out += '\n';
    };
    auto num = [&line](int v) { line(std::to_string(v)); };
    auto real = [&line](double v) { line(platform::Format("%lf", v)); };

    line("MPEG_DATA_V11 ");
    line(s.inputFileName);
    line(s.outputFileName);
    line(s.statisticsFileName);
    num(s.inputType);
    num(s.horizontalSize);
    num(s.verticalSize);
    num(s.framesToEncode);
    num(s.firstFrame);
    num(s.gopSize);
    num(s.ipDistance);
    num(s.mpeg1);
    num(s.frameRateCode);
    num(s.keepOriginalDuration);
    real(s.bitRate);
    num(s.vbvBufferSize);
    num(s.mpegProfile);
    num(s.mpegLevel);
    num(s.colorPrimaries);
    num(s.transferCharacteristics);
    num(s.matrixCoefficients);
    num(s.intraDcPrecision);
    line(platform::Format("%d %d", s.pFrameMotionRange[0], s.pFrameMotionRange[1]));
    line(platform::Format("%d %d", s.bFrameMotionRange[0], s.bFrameMotionRange[1]));
    num(s.meSearchPoints);
    num(s.meThreshold);
    num(s.meSearchLevel);
    num(s.showInput);
    num(s.showOutput);
    num(s.autoResizeWindow);
    num(s.stretchPreview);
    num(s.qualityStatisticsMode);
    num(s.performanceMode);
    num(s.audioMode);
    num(s.audioBitRate);
    num(s.audioBitRateIndex);
    num(s.inputHasAudio);
    num(s.encodeAudio);
    num(s.reservedV11);
    line(s.tempVideoFileName);
    line(s.tempAudioFileName);
    num(s.deleteTempVideo);
    num(s.deleteTempAudio);
    num(s.muxPackSize);
    num(s.muxPacketsPerPack);
    num(s.muxAudioBufferKb);
    num(s.muxVideoBufferKb);
    num(s.muxConstantRate);
    num(s.constrainedParameters);
    num(s.skipBFramesMode);
    line("MPEG_END ");

    line(kMpeg2Ext.begin);
    num(s.mpeg2AspectRatio);
    num(s.videoFormat);
    line(kMpeg2Ext.end);

    line(kV2Ext.begin);
    num(s.reservedV2a);
    num(s.reservedV2b);
    num(s.muxBitRate);
    num(s.applicationType);
    line(s.profileDescription);
    if (aviRate < 1 || aviScale < 1) {
        aviRate = 30;
        aviScale = 1;
    }
    num(aviRate);
    num(aviScale);
    line(kV2Ext.end);

    line(kV201Ext.begin);
    num(s.inverseTelecine);
    num(s.deinterlace);
    num(s.mpeg1AspectRatio);
    num(kV201Major);
    num(kV201Minor);
    num(kV201Count);
    num(s.medianFilter);
    num(s.medianFilterStrength);
    num(s.lowPassFilter);
    num(s.lowPassFilterStrength);
    num(s.streamType);
    num(s.mpeg2MuxConstantRate);
    line(kV201Ext.end);

    line(kV3Ext.begin);
    num(s.rateControl);
    num(s.vbrMode);
    real(s.averageBitRate);
    num(s.constantQuantScale);
    real(s.maxBitRate);
    real(s.averageBitRateUpper);
    real(s.averageBitRateLower);
    num(s.closedGopOption);
    num(s.sequenceHeaderOption);
    num(s.topBorderLines);
    num(s.bottomBorderLines);
    line("-1");
    line(kV3Ext.end);

    line(kV311Ext.begin);
    num(kV311Version);
    num(kV311Count);
    num(s.interlaceMode);
    num(s.sequenceDisplayExtension);
    num(s.audioSampleRate);
    line(kV311Ext.end);
    return out;
}

// The text a profile cannot keep as it is, with a reason; empty when all is storable.
std::string UnstorableText(const EncoderSettingsRecord& s) {
    const struct {
        const std::string& text;
        const char* what;
    } texts[] = {
        {s.inputFileName, "input file name"},
        {s.outputFileName, "output file name"},
        {s.statisticsFileName, "statistics file name"},
        {s.tempVideoFileName, "temporary video file name"},
        {s.tempAudioFileName, "temporary audio file name"},
        {s.profileDescription, "profile description"},
    };
    for (const auto& t : texts) {
        if (t.text.size() > kProfileTextLimit)
            return platform::Format("The %s is longer than %zu characters.", t.what, kProfileTextLimit);
        if (t.text.find_first_of("\r\n") != std::string::npos)
            return platform::Format("The %s holds a line break.", t.what);
    }
    return std::string();
}

}  // namespace

void ReadProfile(const char* name) {
    int previousLoaded = ProfileLoaded;
    ProfileLoaded = 0;
    ParameterError = 0;
    AviRequestedChannels = 0;
    if (!name) {
        ProfileLoaded = previousLoaded;
        ReportFatalError(" Zero file name ptr ");
        return;
    }
    bool recheck = std::strcmp(name, "-") == 0;
    if (!recheck) {
        EncoderSettings.mpeg2MuxConstantRate = 0;
        if (std::strcmp(name, "+") == 0) {
            LoadBuiltInDefaults();
            CustomProfileLoaded = 0;
            ReleasePreviewBuffers();
        } else {
            platform::CLocaleScope cLocale;
            if (!ReadProfileFile(name, previousLoaded)) return;
        }
    }
    RunFinalisation(recheck);
}

int WriteProfile(const char* name) {
    if (!name) {
        ReportFatalError(" Zero file name ptr ");
        return -1;
    }
    if (std::strlen(name) < 2) {
        ShowWarningMessage(" File name too short. Cannot write profile file.");
        return -1;
    }
    std::string refusal = UnstorableText(EncoderSettings);
    if (!refusal.empty()) {
        ShowWarningMessage(platform::Format("Profile file not saved:\n%s\n\n%s", name, refusal.c_str()));
        return -1;
    }
    std::string text = FormatProfile(EncoderSettings, AviGetVideoRate(), AviGetVideoScale());

    // The profile is written under a new name and replaces the old one only when all of it is
    // on the disk: a full disk never costs the user the profile saved before.
    platform::FileReplace file(name);
    if (!file.Open()) {
        ShowWarningMessage(platform::Format(
            "Failed to create profile file: \n%s\n\nPossible reason:\nFile is read-only or path to profiles is now "
            "invalid.",
            name));
        return -1;
    }
    CustomProfileLoaded = 1;
    bool written = std::fwrite(text.data(), 1, text.size(), file.Stream()) == text.size();
    platform::ReplaceStatus status = written ? file.Commit() : platform::ReplaceStatus::WriteFailed;
    if (status == platform::ReplaceStatus::WriteFailed) {
        file.Abandon();
        ShowWarningMessage(platform::Format("Error: failed to save parameters \nin file  File %s ", name));
        return -1;
    }
    if (status != platform::ReplaceStatus::Ok) {
        ShowWarningMessage(platform::Format("File %s save error. /n Error on close file.", name));
        return -1;
    }
    return 0;
}
