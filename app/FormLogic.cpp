// Names, the input probe, the checks, the load and the store of the main settings form.
#include "app/FormLogic.h"

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "app/AppSettings.h"
#include "app/BatchLog.h"
#include "app/BatchRunner.h"
#include "job/AviSource.h"
#include "job/Finalise.h"
#include "job/JobDriver.h"
#include "job/Profile.h"
#include "platform/Format.h"
#include "platform/MessageBox.h"
#include "platform/ResStrings.h"
#include "platform/System.h"
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

void DeriveTemporaryNames(const std::string& outputName, int streamKind, bool inputHasAudio, FormCoding* coding) {
    if (!inputHasAudio) return;
    ReplaceFileExtension(outputName, streamKind == kStreamMpeg1 ? "_.m1v" : "_.m2v", &coding->tempVideoFileName);
    ReplaceFileExtension(outputName, "_.mp2", &coding->tempAudioFileName);
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
    if (f.frameRateIndex < 0 || f.frameRateIndex > kRateIndex60) return fail(63331);
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
        // Refused before anything asks whether the output may be replaced.
        if (platform::SameFile(f.inputName, f.outputName)) {
            const std::string text = platform::Format(LoadResString(63606), f.outputName.c_str());
            if (quiet)
                AppendBatchLog(platform::Format("Batch File %s message:\n", f.inputName.c_str()) + text + "\n");
            else
                platform::ShowMessageBox(text, "", MbButtons::Ok, MbIcon::Stop);
            return 0;
        }
    }
    if (!controlsOk) {
        if (quiet) return fail(63347);
        platform::ShowMessageBox(LoadResString(63347), "", MbButtons::Ok, MbIcon::Stop);
        return 0;
    }
    return 1;
}

namespace {

// Each coding field with its place in the settings record.
template <class Visit>
void ForEachCodingField(Visit visit) {
    using C = FormCoding;
    using R = EncoderSettingsRecord;
    visit(&C::streamType, &R::streamType);
    visit(&C::applicationType, &R::applicationType);
    visit(&C::mpeg1AspectRatio, &R::mpeg1AspectRatio);
    visit(&C::muxPackSize, &R::muxPackSize);
    visit(&C::audioBitRateIndex, &R::audioBitRateIndex);
    visit(&C::audioBitRate, &R::audioBitRate);
    visit(&C::audioMode, &R::audioMode);
    visit(&C::ipDistance, &R::ipDistance);
    visit(&C::gopSize, &R::gopSize);
    visit(&C::constrainedParameters, &R::constrainedParameters);
    visit(&C::rateControl, &R::rateControl);
    visit(&C::tempVideoFileName, &R::tempVideoFileName);
    visit(&C::tempAudioFileName, &R::tempAudioFileName);
}

}  // namespace

void StoreFormCoding(const FormValues& f, EncoderSettingsRecord* s) {
    ForEachCodingField([&](auto field, auto place) { s->*place = f.coding.*field; });
}

void LoadFormCoding(const EncoderSettingsRecord& s, FormValues* f) {
    ForEachCodingField([&](auto field, auto place) { f->coding.*field = s.*place; });
}

void StoreFormValues(FormValues* form, const TakenInput& input, EncoderSettingsRecord* s) {
    FormValues& f = *form;
    FormCoding& c = f.coding;
    // The boxes say which disc the stream is for; a disc type the form does
    // not show (left from a format before) is none.
    const bool discType = c.applicationType == kApplicationVcd20 || c.applicationType == kApplicationDvd ||
                          c.applicationType == kApplicationSvcd;
    if (f.streamKind == kStreamMpeg1) {
        if (f.videoCd) {
            c.streamType = kStreamTypeVideoCd;
            c.applicationType = kApplicationVcd20;
        } else {
            if (c.streamType == kStreamTypeVideoCd) c.streamType = kStreamTypeMpeg1;
            if (discType) c.applicationType = kApplicationNone;
        }
    } else {
        if (c.streamType == kStreamTypeVideoCd) c.streamType = kStreamTypeMpeg2;
        c.applicationType = f.dvd ? kApplicationDvd : f.svcd ? kApplicationSvcd : kApplicationNone;
    }
    s->framesToEncode = f.frames;
    s->firstFrame = f.firstFrame - 1;
    s->bitRate = f.bitRateKbit * 1024.0;
    s->verticalSize = f.height;
    s->horizontalSize = f.width;
    s->keepOriginalDuration = f.encodeAudio ? 1 : f.keepDuration;
    s->mpeg1 = f.streamKind == kStreamMpeg1 ? 1 : 0;
    s->encodeAudio = f.encodeAudio;
    // No selection in the list stores progressive.
    s->interlaceMode = std::max(f.videoFormatIndex, 0);
    StoreFormCoding(f, s);
    s->inputFileName = f.inputName;
    s->outputFileName = f.outputName;
    s->frameRateCode = f.frameRateIndex + 1;
    s->inputHasAudio = input.hasAudio ? 1 : 0;
    // The VBV size the job derives before it encodes: a profile saved now
    // holds what a job of it uses, not what the last job of another kind used.
    s->vbvBufferSize = VbvBufferSizeFor(s->mpeg1 != 0, s->constrainedParameters > 0, s->mpegLevel);
}

FormValues FormValuesFromSettings(const EncoderSettingsRecord& s) {
    FormValues f;
    f.frames = s.framesToEncode;
    // The first frame as the form's range takes it (a damaged profile may hold any number).
    f.firstFrame = std::clamp(s.firstFrame, 0, kMaxFrameCount - 1) + 1;
    f.bitRateKbit = int(s.bitRate / 1024.0);
    f.height = s.verticalSize;
    f.width = s.horizontalSize;
    f.outputName = s.outputFileName;
    f.inputName = s.inputFileName;
    f.frameRateIndex = FrameRateIndexOfCode(s.frameRateCode);
    f.streamKind = s.mpeg1 ? kStreamMpeg1 : kStreamMpeg2;
    f.keepDuration = s.keepOriginalDuration;
    f.encodeAudio = s.encodeAudio;
    f.videoFormatIndex = s.interlaceMode;
    f.dvd = !s.mpeg1 && s.applicationType == kApplicationDvd;
    f.svcd = !s.mpeg1 && s.applicationType == kApplicationSvcd;
    f.videoCd = s.mpeg1 && s.streamType == kStreamTypeVideoCd;
    LoadFormCoding(s, &f);
    return f;
}

bool ReadDefaultProfileWithoutFiles() {
    const std::string name = DefaultProfileFileName().string();
    std::FILE* f = std::fopen(name.c_str(), "rb");
    if (!f) return false;
    char head[41] = {};
    const size_t got = std::fread(head, 1, 40, f);
    std::fclose(f);
    const std::string text(head, got);
    if (text.rfind("MPEG_DATA_V10", 0) != 0 && text.rfind("MPEG_DATA_V11", 0) != 0) return false;
    ReadProfile(name.c_str());
    EncoderSettingsRecord& s = EncoderSettings;
    s.inputFileName.clear();
    s.outputFileName.clear();
    s.profileDescription.clear();
    s.framesToEncode = 1;
    s.firstFrame = 0;
    return true;
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

namespace {

std::string Formatted(int id, const std::string& a) { return platform::Format(LoadResString(id), a.c_str()); }

std::string Formatted(int id, const std::string& a, const std::string& b) {
    return platform::Format(LoadResString(id), a.c_str(), b.c_str());
}

void Message(const std::string& text, MbIcon icon) { platform::ShowMessageBox(text, "", MbButtons::Ok, icon); }

// Message ids of one temporary file's checks, interactive and logged.
struct TempMessages {
    int invalid, tooLong, folderMissing, readOnly, notWritable, cannotCreate, exists;
};
constexpr TempMessages kAudioBox{63386, 63395, 63390, 63392, 63393, 63394, 0};
constexpr TempMessages kVideoBox{63398, 63400, 63403, 63405, 63406, 63407, 0};
constexpr TempMessages kAudioLog{63432, 63442, 63434, 63436, 63439, 63440, 63441};
constexpr TempMessages kVideoLog{63444, 63454, 63446, 63448, 63451, 63452, 63453};

// 0 when the file cannot be used; `say` gets the message text.
int CheckTemporaryFile(const std::string& name, const TempMessages& ids,
                       const std::function<void(const std::string&)>& say) {
    if (name.size() < 3) {
        say(Formatted(ids.invalid, name));
        return 0;
    }
    if (name.size() > kFormNameLimit) {
        say(Formatted(ids.tooLong, name));
        return 0;
    }
    const LocationCheck check = CheckFileLocation(name);
    switch (check.fault) {
        case LocationFault::None:
            if (check.existed && ids.exists) say(Formatted(ids.exists, name));
            return 1;
        case LocationFault::FolderMissing: say(Formatted(ids.folderMissing, name)); return 0;
        case LocationFault::FolderReadOnly: say(Formatted(ids.readOnly, name)); return 0;
        case LocationFault::FileNotWritable: say(Formatted(ids.notWritable, name)); return 0;
        case LocationFault::CannotCreate: say(Formatted(ids.cannotCreate, name)); return 0;
    }
    return 0;
}

}  // namespace

int CheckOutputLocation(const std::string& name, const std::function<void()>& browse) {
    if (name.size() < 3 || name.size() > kFormNameLimit) {
        Message(LoadResString(63382), MbIcon::Stop);
        browse();
        return 0;
    }
    const LocationCheck check = CheckFileLocation(name);
    switch (check.fault) {
        case LocationFault::None: return 1;
        case LocationFault::FolderMissing: Message(Formatted(63373, "", check.folder), MbIcon::Stop); break;
        case LocationFault::FolderReadOnly: Message(Formatted(63375, "", check.folder), MbIcon::Stop); break;
        case LocationFault::FileNotWritable:
        case LocationFault::CannotCreate: {
            const int id = check.fault == LocationFault::FileNotWritable ? 63380 : 63381;
            if (platform::ShowMessageBox(Formatted(id, name), "", MbButtons::YesNo, MbIcon::Question) ==
                MbAnswer::Yes)
                browse();
            return 0;
        }
    }
    browse();
    return 0;
}

int CheckTemporaryLocations(const FormCoding& c, bool inputHasAudio, bool batch,
                            const std::function<void(const std::string&)>& say) {
    if (!inputHasAudio) return 1;
    if (!CheckTemporaryFile(c.tempAudioFileName, batch ? kAudioLog : kAudioBox, say)) return 0;
    if (!CheckTemporaryFile(c.tempVideoFileName, batch ? kVideoLog : kVideoBox, say)) return 0;
    if (!batch && c.tempVideoFileName == c.tempAudioFileName) {
        say(Formatted(63409, c.tempVideoFileName));
        return 0;
    }
    return 1;
}

int CheckBatchOutputLocation(FormValues* form, bool inputHasAudio, bool* renamed) {
    *renamed = false;
    std::string name = form->outputName;
    if (name.size() < 3 || name.size() > kFormNameLimit) {
        AppendBatchLog(LoadResString(63418));
        return 0;
    }
    // Inputs of one name from different folders: the later entry never writes over the earlier one's output.
    if (const std::string free = FreeBatchOutputName(name); free != name) {
        if (free.size() > kFormNameLimit) {
            AppendBatchLog(LoadResString(63418));
            return 0;
        }
        AppendBatchLog(platform::Format("\n Output file %s was written by an earlier entry of this batch.\n"
                                        " This entry writes %s.\n",
                                        name.c_str(), free.c_str()));
        form->outputName = name = free;
        DeriveTemporaryNames(name, form->streamKind, inputHasAudio, &form->coding);
        *renamed = true;
    }
    const LocationCheck check = CheckFileLocation(name);
    switch (check.fault) {
        case LocationFault::None:
            if (check.existed) AppendBatchLog(Formatted(63422, name));
            if (!CheckTemporaryLocations(form->coding, inputHasAudio, true,
                                         [](const std::string& text) { AppendBatchLog(text); }))
                return 0;
            NoteBatchOutput(name);
            return 1;
        case LocationFault::FolderMissing: AppendBatchLog(Formatted(63420, "", check.folder)); return 0;
        case LocationFault::FolderReadOnly: AppendBatchLog(Formatted(63423, "", check.folder)); return 0;
        case LocationFault::FileNotWritable: AppendBatchLog(Formatted(63426, name)); return 0;
        case LocationFault::CannotCreate: AppendBatchLog(Formatted(63427, name)); return 0;
    }
    return 0;
}

bool FolderExists(const std::string& folder) {
    std::error_code ec;
    return !folder.empty() && std::filesystem::is_directory(folder, ec);
}

FormFileDialogRequest InputBrowseRequest(const std::string& current, const std::string& rememberedFolder) {
    FormFileDialogRequest r;
    r.title = LoadResString(63322);
    r.filter = LoadResString(63321);
    r.defaultExtension = "avi";
    r.folder = rememberedFolder;
    if (!current.empty()) {
        if (FolderExists(FolderPart(current))) r.folder = FolderPart(current);
        std::error_code ec;
        if (std::filesystem::exists(current, ec))
            r.name = current;
        else
            r.name = HasFileExtension(current) ? "*.avi" : FileNamePart(current) + ".avi";
    } else {
        r.name = "*.avi";
    }
    return r;
}

FormFileDialogRequest OutputBrowseRequest(int streamKind, bool audio, const std::string& outputName,
                                          const std::string& rememberedFolder) {
    FormFileDialogRequest r;
    r.save = true;
    r.title = LoadResString(63328);
    if (streamKind == kStreamMpeg2) {
        const std::string ext = GetMpeg2FileExtension();
        r.defaultExtension = audio ? ext.substr(1) : "m2v";
        r.filter = audio ? Formatted(63325, ext, ext) : LoadResString(63324);
    } else {
        r.defaultExtension = audio ? "mpg" : "m1v";
        r.filter = LoadResString(audio ? 63327 : 63326);
    }
    const std::string folder = FolderPart(outputName);
    r.folder = FolderExists(folder) ? folder : rememberedFolder;
    r.name = FileNamePart(outputName);
    return r;
}

// The form takes the file's own picture size, so no resizing is involved: an
// earlier job's size, stream kind or field order must not refuse the file
// (the open would otherwise refuse any other height after an interlaced
// MPEG-2 job, whatever the form now says). The batch log heads the probe's
// messages with the input name, which must be this file's, not the one of
// the job before.
bool ProbeInputForForm(const std::string& path, TakenInput* probed) {
    EncoderSettingsRecord& s = EncoderSettings;
    const int type = s.inputType, hadAudio = s.inputHasAudio;
    const std::string previousInput = s.inputFileName;
    s.inputType = 0;
    s.inputFileName = path;
    AviInfoTexts info;
    const int result = ProbeAviInputFile(path, &info);
    *probed = TakenInput();
    if (result) {
        probed->name = path;
        probed->width = InputFrameWidth;
        probed->height = InputFrameHeight;
        probed->firstFrame = InputFirstFrame;
        probed->endFrame = InputEndFrame;
        probed->hasAudio = s.inputHasAudio != 0;
        probed->channels = AviInput.AviAudioChannels;
    }
    s.inputType = type;
    s.inputFileName = previousInput;
    s.inputHasAudio = hadAudio;
    return result != 0;
}

namespace {
bool BatchInputAccepted(const TakenInput& probed);
}  // namespace

bool ProbeBatchInput(const std::string& path, TakenInput* probed) {
    AppendBatchLog(platform::Format("\nLoading input file %s information \n", path.c_str()));
    if (!HasAviExtension(path)) {
        AppendBatchLog(Formatted(63410, path));
        return false;
    }
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        std::fclose(f);
    } else {
        AppendBatchLog(Formatted(63416, path));
        return false;
    }
    if (!ProbeInputForForm(path, probed)) {
        AppendBatchLog("Invalid input AVI file format. \nUnable to compress file in batch mode\n");
        return false;
    }
    return BatchInputAccepted(*probed);
}

namespace {
bool BatchInputAccepted(const TakenInput& probed) {
    if (probed.width % 2) {
        AppendBatchLog(LoadResString(63411));
        return false;
    }
    if (probed.height % 2) {
        AppendBatchLog(LoadResString(63412));
        return false;
    }
    if (probed.width % 16) AppendBatchLog(LoadResString(63413));
    if (probed.height % 16) AppendBatchLog(LoadResString(63414));
    if (probed.Frames() < 1) {
        AppendBatchLog(LoadResString(63415));
        return false;
    }
    return true;
}
}  // namespace

std::string DroppedSoundLogText(int refusalId, const std::string& sound, const std::string& outputName) {
    return std::string("\nThe sound of this file is not used:\n") + LoadResString(refusalId) + "\n" +
           (sound.empty() || refusalId == kSoundAfterVideoRefusal
                    ? std::string()
                    : "The file's sound: " + sound + "; the encoder takes PCM of 8 or 16 bits, mono or stereo.\n") +
           "Video-only output: " + outputName + "\n";
}
