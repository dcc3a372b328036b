// Names, the Video-CD preset, the checks and the store of the main settings form.
#include "app/FormLogic.h"

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "app/AppSettings.h"
#include "app/BatchLog.h"
#include "platform/Format.h"
#include "platform/MessageBox.h"
#include "platform/ResStrings.h"
#include "settings/AudioRates.h"
#include "settings/Report.h"

using platform::MbAnswer;
using platform::MbButtons;
using platform::MbIcon;

namespace {

bool EndsWithNoCase(const std::string& text, const std::string& tail) {
    if (text.size() < tail.size()) return false;
    return std::equal(tail.begin(), tail.end(), text.end() - tail.size(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
    });
}

size_t LastComponentStart(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? 0 : slash + 1;
}

// Position of the last extension's dot, or npos: a dot that starts the last
// component ("/x/.hidden") is part of the name.
size_t ExtensionDot(const std::string& path) {
    const size_t start = LastComponentStart(path);
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || dot <= start) return std::string::npos;
    return dot;
}

void Warn(int id) { platform::ShowMessageBox(LoadResString(id), "", MbButtons::Ok, MbIcon::Warning); }

}  // namespace

std::string MainOutputExtension(int streamKind, bool withAudio) {
    if (streamKind == kStreamMpeg1) return withAudio ? ".mpg" : ".m1v";
    return withAudio ? GetMpeg2FileExtension() : ".m2v";
}

bool HasFileExtension(const std::string& name) { return ExtensionDot(name) != std::string::npos; }

std::string FileNamePart(const std::string& path) { return path.substr(LastComponentStart(path)); }

std::string FolderPart(const std::string& path) { return path.substr(0, LastComponentStart(path)); }

bool HasAviExtension(const std::string& name) { return EndsWithNoCase(name, ".avi"); }

int ReplaceFileExtension(const std::string& name, const std::string& extension, std::string* result) {
    if (extension.size() < 2 || name.size() < 2) {
        *result = "deftemp_err.tmp";
        return 0;
    }
    if (name.size() >= kFormNameLimit) return 0;
    std::string base = name;
    if (name.size() > 4 && HasAviExtension(name)) {
        base.resize(name.size() - 4);
    } else {
        const size_t dot = ExtensionDot(name);
        if (dot != std::string::npos) base.resize(dot);
    }
    *result = base + extension;
    return 1;
}

std::string ProposeOutputName(const std::string& inputName, const std::string& folder, int streamKind,
                              bool withAudio) {
    std::string name = FileNamePart(inputName);
    const size_t dot = ExtensionDot(name);
    if (dot != std::string::npos) name.resize(dot);
    const std::string where = folder.empty() ? FolderPart(inputName) : folder;
    return where + name + MainOutputExtension(streamKind, withAudio);
}

bool DeriveOutputName(std::string* outputName, int streamKind, bool withAudio) {
    if (streamKind == kStreamNone || outputName->size() < 2 || outputName->size() > 254) return false;
    std::string renamed;
    if (!ReplaceFileExtension(*outputName, MainOutputExtension(streamKind, withAudio), &renamed)) return false;
    *outputName = renamed;
    return true;
}

std::string NormaliseTypedOutputName(const std::string& typed, int streamKind, bool withAudio) {
    std::string name;
    for (char c : typed)
        if (!(c == '/' && !name.empty() && name.back() == '/')) name += c;
    if (HasFileExtension(name)) return name;
    const std::string mpeg2 = GetMpeg2FileExtension();
    const std::string mpeg2Letters = mpeg2.size() >= 3 ? mpeg2.substr(mpeg2.size() - 3) : std::string();
    const std::string file = FileNamePart(name);
    for (const std::string& letters : {mpeg2Letters, std::string("m2v"), std::string("m1v")}) {
        if (letters.size() == 3 && file.size() > 3 && EndsWithNoCase(file, letters)) {
            name.resize(name.size() - 3);
            break;
        }
    }
    DeriveOutputName(&name, streamKind, withAudio);
    return name;
}

void DeriveTemporaryNames(const std::string& outputName, int streamKind, bool inputHasAudio,
                          EncoderSettingsRecord* settings) {
    if (!inputHasAudio) return;
    ReplaceFileExtension(outputName, streamKind == kStreamMpeg1 ? "_.m1v" : "_.m2v", &settings->tempVideoFileName);
    ReplaceFileExtension(outputName, "_.mp2", &settings->tempAudioFileName);
}

VcdSnapshot TakeVcdSnapshot(const FormValues& form, const EncoderSettingsRecord& s) {
    VcdSnapshot v;
    v.mpeg1AspectRatio = s.mpeg1AspectRatio;
    v.frameRateIndex = form.frameRateIndex;
    v.muxPackSize = s.muxPackSize;
    v.audioBitRateIndex = s.audioBitRateIndex;
    v.audioBitRate = s.audioBitRate;
    v.audioMode = s.audioMode;
    v.ipDistance = s.ipDistance;
    v.gopSize = s.gopSize;
    v.bitRate = s.bitRate;
    v.bitRateKbit = form.bitRateKbit;
    v.applicationType = s.applicationType;
    v.constrainedParameters = s.constrainedParameters;
    v.rateControl = s.rateControl;
    v.width = form.width;
    v.height = form.height;
    return v;
}

void RestoreVcdSnapshot(const VcdSnapshot& v, FormValues* form, EncoderSettingsRecord* s) {
    s->mpeg1AspectRatio = v.mpeg1AspectRatio;
    form->frameRateIndex = v.frameRateIndex;
    s->muxPackSize = v.muxPackSize;
    s->audioBitRateIndex = v.audioBitRateIndex;
    s->audioBitRate = v.audioBitRate;
    s->audioMode = v.audioMode;
    s->ipDistance = v.ipDistance;
    s->gopSize = v.gopSize;
    s->bitRate = v.bitRate;
    form->bitRateKbit = v.bitRateKbit;
    s->applicationType = v.applicationType;
    s->constrainedParameters = v.constrainedParameters;
    s->rateControl = v.rateControl;
    form->width = v.width;
    form->height = v.height;
}

namespace {
bool NtscHeight(int h) { return h == 240 || h == 480 || h == 128; }
bool PalHeight(int h) { return h == 288 || h == 576 || h == 144; }
}  // namespace

bool VcdSystemKnown(int height, int index) {
    return NtscHeight(height) || PalHeight(height) || index == kRateIndex25 || index == kRateIndex2997 ||
           index == kRateIndex30;
}

void AudioModeFromChannels(int channels, EncoderSettingsRecord* s) {
    if (channels == 1)
        s->audioMode = 0;
    else if (channels == 2)
        s->audioMode = 1;
    s->audioBitRate = AudioBitrateFromIndex(s->audioMode, s->audioBitRateIndex);
}

bool ApplyVcdPreset(FormValues* form, EncoderSettingsRecord* s, int inputChannels) {
    const int h = form->height, index = form->frameRateIndex;
    if (!VcdSystemKnown(h, index)) return false;
    const bool ntsc = NtscHeight(h) || (!PalHeight(h) && (index == kRateIndex2997 || index == kRateIndex30));
    s->streamType = kStreamTypeVideoCd;
    form->width = 352;
    form->height = ntsc ? 240 : 288;
    form->frameRateIndex = ntsc ? kRateIndex2997 : kRateIndex25;
    s->mpeg1AspectRatio = ntsc ? 12 : 8;
    s->rateControl = kRateConstant;
    s->applicationType = kApplicationVcd20;
    s->constrainedParameters = 1;
    s->muxPackSize = 2324;
    s->audioMode = inputChannels == 1 ? 0 : 1;
    s->audioBitRateIndex = 6;
    s->audioBitRate = AudioBitrateFromIndex(s->audioMode, 6);
    s->ipDistance = 3;
    s->gopSize = 15;
    form->bitRateKbit = 1123;
    s->bitRate = 1123 * 1024.0;
    return true;
}

int VcdFrameRateForHeight(int height, int currentIndex) {
    if (height == 240 || height == 480 || height == 120) return kRateIndex2997;
    if (height == 288 || height == 576 || height == 144) return kRateIndex25;
    if (currentIndex == kRateIndex25 || currentIndex == kRateIndex2997 || currentIndex == kRateIndex30)
        return currentIndex;
    return kRateIndex2997;
}

bool ParseFormInteger(const std::string& text, int minimum, int maximum, int* value) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    const char* begin = text.c_str() + i;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(begin, &end, 10);
    const bool digits = end != begin;
    *value = digits ? int(std::clamp<long>(v, -2147483647L, 2147483647L)) : 0;
    if (!digits || errno == ERANGE) return false;
    for (const char* p = end; *p; ++p)
        if (!std::isspace(static_cast<unsigned char>(*p))) return false;
    return v >= minimum && v <= maximum;
}

int ValidateFormValues(const FormValues& f, bool controlsOk, bool savingDefaults, EncoderSettingsRecord* s,
                       const std::function<void()>& requestInputBrowse) {
    // A quiet batch must not stop at a box: the check goes to the log under
    // the name of the file it is about, and the entry is skipped.
    const bool quiet = BatchMode >= 2;
    const auto fail = [&](int id) {
        if (quiet)
            AppendBatchLog(platform::Format("Batch File %s message:\n", f.inputName.c_str()) + LoadResString(id) +
                           "\n");
        else
            Warn(id);
        return 0;
    };
    // Nothing is there to choose another file for once the batch is over.
    const auto browse = [&] {
        if (BatchMode == 0 && requestInputBrowse) requestInputBrowse();
    };
    if (f.streamKind == kStreamNone) return fail(63330);
    if (f.frameRateIndex < 0 || f.frameRateIndex > 4) return fail(63331);
    if (f.frames < 1) return fail(63332);
    if (f.firstFrame < 1) return fail(63333);
    if (f.width < 1) return fail(63334);
    if (f.height < 1) return fail(63335);
    if (f.width < 16) return fail(63336);
    if (f.height < 16) return fail(63337);
    if (f.width % 2) return fail(63338);
    if (f.height % 2) return fail(63339);
    // The default profile keeps no files: its names are not checked.
    if (!savingDefaults) {
        if (f.inputName.size() < 2) return fail(63340);
        if (f.outputName.size() < 2) return fail(63341);
        if (f.inputName.size() > kFormNameLimit) return fail(63342);
        if (f.outputName.size() > kFormNameLimit) return fail(63343);
        if (!HasAviExtension(f.inputName)) {
            if (quiet) return fail(63344);
            const MbAnswer a =
                platform::ShowMessageBox(LoadResString(63344), "", MbButtons::YesNo, MbIcon::Question);
            if (a == MbAnswer::Yes) {
                browse();
                return 0;
            }
        } else {
            s->inputType = 2;
            std::FILE* in = std::fopen(f.inputName.c_str(), "rb");
            if (!in) {
                fail(63345);
                browse();
                return 0;
            }
            std::fclose(in);
        }
    }
    if (!controlsOk) {
        if (quiet) return fail(63347);
        platform::ShowMessageBox(LoadResString(63347), "", MbButtons::Ok, MbIcon::Stop);
        return 0;
    }
    return 1;
}

void StoreFormValues(const FormValues& f, EncoderSettingsRecord* s) {
    s->framesToEncode = f.frames;
    s->firstFrame = f.firstFrame - 1;
    s->bitRate = f.bitRateKbit * 1024.0;
    s->verticalSize = f.height;
    s->horizontalSize = f.width;
    s->keepOriginalDuration = f.keepDuration;
    s->mpeg1 = f.streamKind == kStreamMpeg1 ? 1 : 0;
    s->encodeAudio = f.encodeAudio;
    // No selection in the list stores progressive.
    s->interlaceMode = std::max(f.videoFormatIndex, 0);
    if (f.encodeAudio) s->keepOriginalDuration = 1;
    if (!s->mpeg1) s->applicationType = f.dvd ? kApplicationDvd : f.svcd ? kApplicationSvcd : kApplicationNone;
    s->inputFileName = f.inputName;
    s->outputFileName = f.outputName;
    s->frameRateCode = f.frameRateIndex + 1;
}

FormValues FormValuesFromSettings(const EncoderSettingsRecord& s) {
    FormValues f;
    f.frames = s.framesToEncode;
    f.firstFrame = s.firstFrame + 1;
    f.bitRateKbit = int(s.bitRate / 1024.0);
    f.height = s.verticalSize;
    f.width = s.horizontalSize;
    f.outputName = s.outputFileName;
    f.inputName = s.inputFileName;
    f.frameRateIndex = s.frameRateCode >= 1 && s.frameRateCode <= 5 ? s.frameRateCode - 1 : kRateIndex2997;
    f.streamKind = s.mpeg1 ? kStreamMpeg1 : kStreamMpeg2;
    f.keepDuration = s.keepOriginalDuration;
    f.encodeAudio = s.encodeAudio;
    f.videoFormatIndex = s.interlaceMode;
    f.dvd = !s.mpeg1 && s.applicationType == kApplicationDvd;
    f.svcd = !s.mpeg1 && s.applicationType == kApplicationSvcd;
    f.videoCd = s.mpeg1 && s.streamType == kStreamTypeVideoCd;
    return f;
}

LocationCheck CheckFileLocation(const std::string& name) {
    LocationCheck r;
    r.folder = FolderPart(name);
    const std::string folder = r.folder.empty() ? "." : r.folder;
    if (access(folder.c_str(), F_OK) != 0) {
        r.fault = LocationFault::FolderMissing;
        return r;
    }
    struct statvfs fs {};
    const bool readOnlyMount = statvfs(folder.c_str(), &fs) == 0 && (fs.f_flag & ST_RDONLY);
    if (access(name.c_str(), F_OK) == 0) {
        r.existed = true;
        if (readOnlyMount || access(name.c_str(), W_OK) != 0) r.fault = LocationFault::FileNotWritable;
        return r;
    }
    if (readOnlyMount || access(folder.c_str(), W_OK) != 0) {
        r.fault = LocationFault::FolderReadOnly;
        return r;
    }
    // Only the file made here is removed again.
    const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0) {
        r.fault = LocationFault::CannotCreate;
        return r;
    }
    close(fd);
    unlink(name.c_str());
    return r;
}

bool TypedInputNeedsProbe(const std::string& typed, const TakenInput& taken) {
    return typed.size() >= 2 && typed != taken.name;
}
