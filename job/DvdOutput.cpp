// The DVD job's volume under a work folder, put in place once it passed its checks.
#include "job/DvdOutput.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <system_error>
#include <utility>
#include <vector>

#include "job/JobDriver.h"
#include "job/OutputFiles.h"
#include "muxlib/DvdVolume.h"
#include "platform/Format.h"
#include "platform/ResStrings.h"
#include "platform/System.h"
#include "settings/EncoderSettings.h"
#include "settings/JobUtil.h"
#include "settings/Report.h"

namespace fs = std::filesystem;

namespace {

bool IsVideoTsName(const std::string& name) {
    std::string upper = name;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper == "VIDEO_TS";
}

// The folder that holds the volume: the output's folder, or the one that holds it
// when the output is named inside a VIDEO_TS folder (the volume is that VIDEO_TS).
std::string VolumeFolderOf(const std::string& outputName) {
    fs::path folder = fs::path(outputName).parent_path();
    if (IsVideoTsName(folder.filename().string())) folder = folder.parent_path();
    return folder.empty() ? std::string(".") : folder.string();
}

std::string VobName(size_t n) { return "VTS_01_" + std::to_string(n) + ".VOB"; }

// Makes the folder when there is none; `made` tells whether this call made it.
bool MakeFolder(const fs::path& path, int& error, bool& made) {
    made = false;
    if (::mkdir(path.c_str(), 0777) == 0) return made = true;
    error = errno;
    std::error_code ec;
    return error == EEXIST && fs::is_directory(path, ec);
}

// Why the folder at `path` cannot take its part of the volume; empty when it can, or
// when it is not there yet (it is made in the volume folder, which the work folder
// beside it tries first). VIDEO_TS (`written`) is written into, AUDIO_TS only kept.
std::string FolderProblem(const fs::path& path, bool written) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return std::string();
    if (::stat(path.c_str(), &st) != 0)
        return platform::Format("\n%s is a link to nothing: the DVD volume needs a folder of that name.", path.c_str());
    if (!S_ISDIR(st.st_mode))
        return platform::Format("\n%s is not a folder: the DVD volume needs a folder of that name.", path.c_str());
    // The title's files are made and renamed there with this process's own rights.
    std::string why;
    if (written && ::faccessat(AT_FDCWD, path.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
        const int error = errno;
        CheckPathDrive(why, path.string(), error);
        return why;
    }
    // They are renamed from the work folder beside it, which no rename takes to another
    // file system (a VIDEO_TS that links or is mounted there).
    struct stat beside {};
    if (written && ::stat(path.parent_path().empty() ? "." : path.parent_path().c_str(), &beside) == 0 &&
        beside.st_dev != st.st_dev)
        return platform::Format("\n%s is on another file system than the folder that holds it: the DVD volume is "
                                "written beside it and cannot be moved into it.",
                                path.c_str());
    return why;
}

// What names the folder (`text` formats its name) and says why, when VIDEO_TS or
// AUDIO_TS of `volume` cannot take the volume; empty when both can.
std::string FoldersRefusal(const std::string& volume, int text) {
    for (const char* name : {"VIDEO_TS", "AUDIO_TS"}) {
        const fs::path folder = fs::path(volume) / name;
        const std::string why = FolderProblem(folder, name[0] == 'V');
        if (!why.empty()) return platform::Format(LoadResString(text), folder.c_str()) + why;
    }
    return std::string();
}

// False, after the message of FoldersRefusal, when the folders cannot take the volume.
bool FoldersTakeVolume(const std::string& volume, int text) {
    const std::string refusal = FoldersRefusal(volume, text);
    if (refusal.empty()) return true;
    JobReportText(refusal, 63600, platform::MbIcon::Stop, MessageOwnerWindow);
    return false;
}

bool WritesVolume(bool multiplexed) {
    const EncoderSettingsRecord& e = EncoderSettings;
    return multiplexed && e.applicationType == kApplicationDvd && e.createVob == 1;
}

}  // namespace

std::string DvdVideoTsFolder(const std::string& outputName) {
    return (fs::path(VolumeFolderOf(outputName)) / "VIDEO_TS").string();
}

std::string DvdStartRefusal() {
    const EncoderSettingsRecord& e = EncoderSettings;
    DvdVideoAttributes attributes;
    attributes.videoFormat = e.videoFormat;
    attributes.aspectRatio = e.mpeg1 ? e.mpeg1AspectRatio : e.mpeg2AspectRatio;
    attributes.width = e.horizontalSize;
    attributes.height = e.verticalSize;
    return DvdVideoAttributeProblem(attributes);
}

std::string DvdCreatedText() {
    // The folders written, as this system names them.
    std::error_code ec;
    fs::path volume = fs::absolute(VolumeFolderOf(EncoderSettings.outputFileName), ec).lexically_normal();
    if (ec) volume = VolumeFolderOf(EncoderSettings.outputFileName);
    const auto name = [&](const char* folder) { return (volume / folder).string(); };
    std::string text = LoadResString(64453);
    for (const auto& [from, to] : {std::pair<std::string, std::string>{"\\Video_ts", name("VIDEO_TS")},
                                   {"\\Audio_ts", name("AUDIO_TS")}})
        for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
            text.replace(at, from.size(), to);
    return text;
}

std::string OutputPlaceRefusal(const std::string& written, bool multiplexed) {
    if (WritesVolume(multiplexed)) return FoldersRefusal(VolumeFolderOf(written), 63604);
    struct stat st {};
    if (written.empty() || ::stat(written.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::string();
    return platform::Format(LoadResString(63604), written.c_str()) +
           platform::Format("\n%s is a folder: the output is one file, which cannot take the name of a folder.",
                            written.c_str());
}

std::string OutputToConfirm() {
    const EncoderSettingsRecord& e = EncoderSettings;
    // Only a job that multiplexes writes a volume; without sound the video stream goes to the output name.
    const bool multiplexed = e.encodeAudio && e.inputHasAudio;
    // An output the job refuses at Start is not offered for replacing first.
    if (!OutputPlaceRefusal(e.outputFileName, multiplexed).empty()) return std::string();
    if (WritesVolume(multiplexed)) return DvdVideoTsFolder(e.outputFileName);
    return e.outputFileName;
}

bool DvdVolumeOutput::Begin(const std::string& outputName) {
    Discard();
    outputName_ = outputName;
    volume_ = VolumeFolderOf(outputName);
    // Before the passes (the job tries this first), so that a folder in the way is
    // found before the encode.
    if (!FoldersTakeVolume(volume_, 63604)) return false;
    int error = 0;
    const std::string work = platform::CreateWorkFolder(volume_, "VIDEO_TS", &error);
    if (work.empty()) {
        ReportFileProblem(platform::Format(LoadResString(63604), outputName.c_str()), outputName, error);
        return false;
    }
    work_ = work;
    return true;
}

std::string DvdVolumeOutput::MultiplexName() const {
    return (fs::path(work_) / fs::path(outputName_).filename()).string();
}

int64_t DvdVolumeOutput::TitleBytes() const {
    int64_t total = -1;
    for (size_t n = 1; n <= DvdVobTable::Capacity; ++n) {
        const int64_t bytes = GetFileSizeByName((fs::path(work_) / "VIDEO_TS" / VobName(n)).string());
        if (bytes < 0) break;
        total = (total < 0 ? 0 : total) + bytes;
    }
    return total;
}

bool DvdVolumeOutput::TargetHoldsTitle() const {
    std::error_code ec;
    const fs::path videoTs = fs::path(volume_) / "VIDEO_TS";
    return fs::exists(videoTs / "VTS_01_0.IFO", ec) || fs::exists(videoTs / VobName(1), ec) ||
           fs::exists(videoTs / "VIDEO_TS.IFO", ec);
}

bool DvdVolumeOutput::Commit() {
    if (work_.empty()) return false;
    const fs::path staged = fs::path(work_) / "VIDEO_TS";
    const fs::path videoTs = fs::path(volume_) / "VIDEO_TS";
    std::vector<std::pair<std::string, std::string>> moves;
    for (const char* name : {"VIDEO_TS.IFO", "VIDEO_TS.BUP", "VTS_01_0.IFO", "VTS_01_0.BUP"})
        moves.emplace_back((staged / name).string(), name);
    size_t vobs = 0;
    std::error_code ec;
    while (vobs < DvdVobTable::Capacity && fs::exists(staged / VobName(vobs + 1), ec)) {
        ++vobs;
        moves.emplace_back((staged / VobName(vobs)).string(), VobName(vobs));
    }
    // The folders may have changed since the job began.
    if (!FoldersTakeVolume(volume_, 63605)) {
        Discard();
        return false;
    }
    int error = 0;
    bool madeVideoTs = false, madeAudioTs = false;
    bool ok = vobs > 0 && MakeFolder(videoTs, error, madeVideoTs) &&
              MakeFolder(fs::path(volume_) / "AUDIO_TS", error, madeAudioTs);
    if (ok && ReplaceDvdTitle(videoTs.string(), moves, vobs) != 0) {
        error = errno;
        ok = false;
    }
    if (!ok) {
        // A volume that was not put in place leaves no folder of its own behind.
        if (madeAudioTs) ::rmdir((fs::path(volume_) / "AUDIO_TS").c_str());
        if (madeVideoTs) ::rmdir(videoTs.c_str());
        Discard();
        ReportFileProblem(platform::Format(LoadResString(63605), videoTs.c_str()), videoTs.string(), error);
        return false;
    }
    Discard();
    return true;
}

std::string DvdVolumeOutput::KeepAside() {
    if (work_.empty()) return std::string();
    const std::string staged = (fs::path(work_) / "VIDEO_TS").string();
    std::string kept = MoveToFreeName(staged, (fs::path(volume_) / "VIDEO_TS").string(), false);
    if (kept.empty()) {
        // It stays in the work folder, which no clean-up takes any more.
        kept = staged;
        platform::ForgetWorkPath(work_);
        work_.clear();
        return kept;
    }
    Discard();
    return kept;
}

void DvdVolumeOutput::Discard() {
    std::error_code ec;
    if (!work_.empty()) {
        fs::remove_all(work_, ec);
        platform::ForgetWorkPath(work_);
    }
    work_.clear();
}
