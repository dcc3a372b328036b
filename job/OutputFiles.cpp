// Output files of a job: written next to their targets, renamed into place;
// and the names the job chooses for them besides the user's.
#include "job/OutputFiles.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <system_error>
#include <sys/stat.h>

#include "job/JobDriver.h"
#include "muxlib/MuxLib.h"
#include "platform/Format.h"
#include "platform/ResStrings.h"
#include "platform/System.h"
#include "settings/JobState.h"
#include "settings/JobUtil.h"
#include "settings/Report.h"

void ReportFileProblem(std::string text, const std::string& path, int error) {
    CheckPathDrive(text, path, error);
    JobReportText(text, 63600, platform::MbIcon::Stop, MessageOwnerWindow);
}

namespace fs = std::filesystem;

namespace {

std::string NumberedName(const std::string& path, int n) {
    if (n < 2) return path;
    const fs::path p(path);
    return (p.parent_path() / (p.stem().string() + "_" + std::to_string(n) + p.extension().string())).string();
}

}  // namespace

std::string FirstFreeName(const std::string& path, bool withPath) {
    std::error_code ec;
    for (int n = withPath ? 1 : 2;; ++n) {
        const std::string candidate = NumberedName(path, n);
        if (!fs::exists(fs::symlink_status(candidate, ec))) return candidate;
    }
}

std::string MoveToFreeName(const std::string& from, const std::string& path, bool withPath) {
    for (int n = withPath ? 1 : 2; n < 100000; ++n) {
        const std::string candidate = NumberedName(path, n);
        if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, candidate.c_str(), RENAME_NOREPLACE) == 0) return candidate;
        if (errno == EEXIST) continue;
        if (errno != EINVAL && errno != ENOSYS) return std::string();
        // A file system without the exclusive rename: the check and the rename are two steps.
        std::error_code ec;
        if (fs::exists(fs::symlink_status(candidate, ec))) continue;
        if (std::rename(from.c_str(), candidate.c_str()) == 0) return candidate;
        return std::string();
    }
    errno = EEXIST;
    return std::string();
}

bool JobOutput::Begin(const std::string& target, bool replace) {
    Discard();
    target_ = target;
    replace_ = replace;
    struct stat st;
    if (::stat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
        // A device or a pipe cannot be replaced, and holds nothing to lose.
        work_ = target;
        inPlace_ = true;
        return true;
    }
    int error = 0;
    work_ = platform::CreateFileBeside(target, &error);
    if (work_.empty()) {
        ReportFileProblem(platform::Format(LoadResString(63604), target.c_str()), target, error);
        return false;
    }
    return true;
}

FileIdentity IdentityOf(const std::string& path, bool keepOpen) {
    struct stat st {};
    FileIdentity identity;
    if (path.empty()) return identity;
    if (keepOpen) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return identity;
        identity.open = std::shared_ptr<const int>(new int(fd), [](const int* held) {
            ::close(*held);
            delete held;
        });
        if (::fstat(fd, &st) != 0) return FileIdentity();
    } else if (::stat(path.c_str(), &st) != 0) {
        return identity;
    }
    identity.known = true;
    identity.device = static_cast<uint64_t>(st.st_dev);
    identity.inode = static_cast<uint64_t>(st.st_ino);
    return identity;
}

bool JobOutput::Commit() {
    if (work_.empty()) return false;
    // The rename keeps all of it: taken from the finished file before another could take the target's name.
    placed_ = IdentityOf(work_, true);
    if (!inPlace_) {
        std::string placed = target_;
        const bool moved = replace_ ? std::rename(work_.c_str(), target_.c_str()) == 0
                                    : !(placed = MoveToFreeName(work_, target_, true)).empty();
        if (!moved) {
            const int error = errno;
            Discard();
            ReportFileProblem(platform::Format(LoadResString(63605), target_.c_str()), target_, error);
            return false;
        }
        platform::ForgetWorkPath(work_);
        target_ = placed;
    }
    work_.clear();
    inPlace_ = false;
    return true;
}

void JobOutput::Discard() {
    if (!work_.empty() && !inPlace_) {
        std::remove(work_.c_str());
        platform::ForgetWorkPath(work_);
    }
    work_.clear();
    inPlace_ = false;
    placed_ = FileIdentity();
}

std::string JobOutput::KeepAside() {
    if (work_.empty()) return std::string();
    if (inPlace_) {
        work_.clear();
        inPlace_ = false;
        return target_;
    }
    std::string kept = MoveToFreeName(work_, target_, true);
    // Where it cannot be moved it stays under its work name, which no clean-up takes any more.
    if (kept.empty()) kept = work_;
    platform::ForgetWorkPath(work_);
    work_.clear();
    return kept;
}

int64_t ReadableSize(const std::string& path) { return path.empty() ? -1 : GetFileSizeByName(path); }

std::string ElementaryStreamName(const std::string& name, bool mpeg1) {
    const size_t start = name.find_last_of('/') == std::string::npos ? 0 : name.find_last_of('/') + 1;
    const size_t dot = name.find_last_of('.');
    const std::string base = dot != std::string::npos && dot > start ? name.substr(0, dot) : name;
    const std::string extension = mpeg1 ? ".m1v" : ".m2v";
    std::string candidate = base + extension;
    std::error_code ec;
    for (int n = 2; fs::exists(fs::symlink_status(candidate, ec)); n++)
        candidate = base + "_" + std::to_string(n) + extension;
    return candidate;
}

std::string OutputNameForKind(const std::string& name, int type) {
    if (type == MuxTypeTransport) return name;
    std::string extension = fs::path(name).extension().string();
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (extension != ".ts" && extension != ".m2ts" && extension != ".mts") return name;
    std::error_code ec;
    const std::string renamed = fs::path(name).replace_extension(".mpg").string();
    return fs::exists(fs::symlink_status(renamed, ec)) ? FirstFreeName(name + ".mpg", true) : renamed;
}

const char* MuxKindName(int type) {
    switch (type) {
        case MuxTypeMpeg1System: return "an MPEG-1 system stream";
        case MuxTypeMpeg2Program: return "an MPEG-2 program stream";
        case MuxTypeVideoCd: return "a Video-CD stream";
        case MuxTypeTransport: return "an MPEG-2 transport stream";
        case MuxTypeSvcd: return "an SVCD stream";
        default: return "a DVD-Video volume";
    }
}
