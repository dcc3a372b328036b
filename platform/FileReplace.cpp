// Replacing a file through a fresh file in its folder and one rename.
#include "platform/FileReplace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

namespace platform {

namespace fs = std::filesystem;

namespace {

// The process's umask, read without changing it (other threads may create files meanwhile).
mode_t CurrentUmask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
    }
    mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}

// Makes the rename itself durable; a folder that cannot be synced costs nothing written.
void SyncFolder(const fs::path& folder) {
    int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

FileReplace::FileReplace(fs::path target) : target_(std::move(target)) {}

FileReplace::~FileReplace() { Abandon(); }

void FileReplace::Fail(int error) {
    if (error_ == 0) error_ = error != 0 ? error : EIO;
}

bool FileReplace::Open() {
    if (stream_) return true;
    // A link is followed: the file it names is the one replaced, the link stays.
    std::error_code ec;
    if (fs::is_symlink(fs::symlink_status(target_, ec))) {
        fs::path resolved = fs::weakly_canonical(target_, ec);
        if (!ec) target_ = resolved;
    }
    struct stat existing {};
    bool exists = ::stat(target_.c_str(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode)) {
        inPlace_ = true;
        stream_ = std::fopen(target_.c_str(), "w");
        if (!stream_) Fail(errno);
        return stream_ != nullptr;
    }

    fs::path folder = target_.parent_path();
    std::string pattern = (folder / ("." + target_.filename().string() + ".XXXXXX")).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        Fail(errno);
        return false;
    }
    temp_ = name.data();
    mode_t mode = exists ? (existing.st_mode & 07777) : (0666 & ~CurrentUmask());
    if (exists && ::fchown(fd, existing.st_uid, existing.st_gid) != 0) {
        // Another owner is kept only where the process may give files away.
    }
    if (::fchmod(fd, mode) != 0) {
        Fail(errno);
        ::close(fd);
        Abandon();
        return false;
    }
    stream_ = ::fdopen(fd, "w");
    if (!stream_) {
        Fail(errno);
        ::close(fd);
        Abandon();
        return false;
    }
    return true;
}

ReplaceStatus FileReplace::Commit() {
    if (!stream_) {
        if (error_ == 0) Fail(EBADF);
        return ReplaceStatus::CreateFailed;
    }
    ReplaceStatus status = ReplaceStatus::Ok;
    if (std::ferror(stream_)) {  // errno still tells why the last write failed
        Fail(errno);
        status = ReplaceStatus::WriteFailed;
    } else if (std::fflush(stream_) != 0 || std::ferror(stream_)) {
        Fail(errno);
        status = ReplaceStatus::WriteFailed;
    } else if (!inPlace_ && ::fsync(::fileno(stream_)) != 0) {
        Fail(errno);
        status = ReplaceStatus::WriteFailed;
    }
    int closed = std::fclose(stream_);
    stream_ = nullptr;
    if (closed != 0 && status == ReplaceStatus::Ok) {
        Fail(errno);
        status = ReplaceStatus::CloseFailed;
    }
    if (inPlace_) return status;
    if (status == ReplaceStatus::Ok) {
        if (::rename(temp_.c_str(), target_.c_str()) != 0) {
            Fail(errno);
            status = ReplaceStatus::CloseFailed;
        } else {
            temp_.clear();
            SyncFolder(target_.parent_path());
        }
    }
    Abandon();
    return status;
}

void FileReplace::Abandon() {
    if (stream_) {
        std::fclose(stream_);
        stream_ = nullptr;
    }
    if (!temp_.empty()) {
        ::unlink(temp_.c_str());
        temp_.clear();
    }
}

ReplaceStatus ReplaceFileContents(const fs::path& target, std::string_view bytes, int* error) {
    FileReplace file(target);
    ReplaceStatus status = ReplaceStatus::CreateFailed;
    if (file.Open()) {
        bool written = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file.Stream()) == bytes.size();
        if (!written) {
            int why = errno != 0 ? errno : EIO;
            file.Abandon();
            if (error) *error = why;
            return ReplaceStatus::WriteFailed;
        }
        status = file.Commit();
    }
    if (error) *error = file.Error();
    return status;
}

}  // namespace platform
