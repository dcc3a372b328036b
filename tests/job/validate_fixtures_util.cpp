// Representative settings and the per-test scope of the settings-check tests.
#include "tests/job/ValidateFixtures.h"

#include "settings/Report.h"
#include "settings/Validate.h"

namespace validatetest {

CheckScope::CheckScope() : previousBatchMode_(BatchMode), previousLogName_(BatchLogFileName) {
    EncoderSettings = EncoderSettingsRecord{};
    BatchMode = 0;
    BatchLogFileName = (dir / "message.log").string();
    ComplianceWarningCount = 0;
    ParameterError = 0;
    ProfileLoaded = 0;
}

CheckScope::~CheckScope() {
    BatchMode = previousBatchMode_;
    BatchLogFileName = previousLogName_;
    EncoderSettings = EncoderSettingsRecord{};
}

void CheckScope::UseBatchLog() { BatchMode = 2; }

std::string CheckScope::BatchLog() const {
    std::error_code ec;
    if (!std::filesystem::exists(dir / "message.log", ec)) return {};
    return testsupport::ReadFile(dir / "message.log");
}

namespace {

void CommonStream(EncoderSettingsRecord& s) {
    s.inputFileName = "/videos/holiday.avi";
    s.outputFileName = "/videos/holiday.mpg";
    s.gopSize = 15;
    s.ipDistance = 3;
    s.pFrameMotionRange[0] = s.pFrameMotionRange[1] = 32;
    s.bFrameMotionRange[0] = s.bFrameMotionRange[1] = 16;
    s.rateControl = kRateConstant;
    s.encodeAudio = 1;
    s.audioMode = 1;
}

// 576 lines at 25 frames/s in groups of 12 pictures.
void ToPal(EncoderSettingsRecord& s) {
    s.verticalSize = 576;
    s.frameRateCode = 3;
    s.videoFormat = 1;
    s.gopSize = 12;
}

void Mpeg2MainProfile(EncoderSettingsRecord& s, int level) {
    s.mpeg1 = 0;
    s.streamType = kStreamTypeMpeg2;
    s.mpegProfile = 4;
    s.mpegLevel = level;
    s.constrainedParameters = 0;
}

}  // namespace

EncoderSettingsRecord VcdSettings(int applicationType) {
    EncoderSettingsRecord s;
    CommonStream(s);
    s.applicationType = applicationType;
    s.horizontalSize = 352;
    s.verticalSize = 240;
    s.frameRateCode = 4;
    s.mpeg1 = 1;
    s.mpeg1AspectRatio = 12;
    s.constrainedParameters = 1;
    s.bitRate = 1100000.0;
    s.audioBitRateIndex = 6;  // 224 kbit/s in the two-channel row
    s.audioSampleRate = 44100;
    s.muxPackSize = 2324;
    s.videoFormat = 2;
    return s;
}

EncoderSettingsRecord VcdPalSettings(int applicationType) {
    EncoderSettingsRecord s = VcdSettings(applicationType);
    s.verticalSize = 288;
    s.frameRateCode = 3;
    s.mpeg1AspectRatio = 8;
    s.videoFormat = 1;
    return s;
}

EncoderSettingsRecord DvdSettings() {
    EncoderSettingsRecord s;
    CommonStream(s);
    Mpeg2MainProfile(s, 8);
    s.applicationType = kApplicationDvd;
    s.horizontalSize = 720;
    s.verticalSize = 480;
    s.frameRateCode = 4;
    s.interlaceMode = 1;
    s.mpeg2AspectRatio = 2;
    s.videoFormat = 2;
    s.bitRate = 8000000.0;
    s.audioSampleRate = 48000;
    return s;
}

EncoderSettingsRecord DvdPalSettings() {
    EncoderSettingsRecord s = DvdSettings();
    ToPal(s);
    return s;
}

EncoderSettingsRecord DvdMpeg1Settings() {
    EncoderSettingsRecord s = VcdSettings(kApplicationDvd);
    s.audioSampleRate = 48000;
    s.muxPackSize = 2048;
    return s;
}

EncoderSettingsRecord SvcdSettings() {
    EncoderSettingsRecord s = DvdSettings();
    s.applicationType = kApplicationSvcd;
    s.horizontalSize = 480;
    s.bitRate = 2500000.0;
    s.audioSampleRate = 44100;
    return s;
}

EncoderSettingsRecord SvcdPalSettings() {
    EncoderSettingsRecord s = SvcdSettings();
    ToPal(s);
    return s;
}

EncoderSettingsRecord Mpeg2LevelSettings(int level) {
    EncoderSettingsRecord s;
    CommonStream(s);
    Mpeg2MainProfile(s, level);
    s.frameRateCode = 3;
    s.videoFormat = 1;
    s.mpeg2AspectRatio = 3;
    switch (level) {
        case 4: s.horizontalSize = 1920, s.verticalSize = 1152, s.bitRate = 80000000.0; break;
        case 6: s.horizontalSize = 1440, s.verticalSize = 1152, s.bitRate = 60000000.0; break;
        case 8: s.horizontalSize = 720, s.verticalSize = 576, s.bitRate = 8000000.0; break;
        default: s.horizontalSize = 352, s.verticalSize = 288, s.bitRate = 3000000.0; break;
    }
    return s;
}

EncoderSettingsRecord Mpeg1Settings() {
    EncoderSettingsRecord s;
    CommonStream(s);
    s.horizontalSize = 352;
    s.verticalSize = 240;
    s.frameRateCode = 4;
    s.mpeg1 = 1;
    s.constrainedParameters = 1;
    s.bitRate = 1150000.0;
    return s;
}

}  // namespace validatetest
