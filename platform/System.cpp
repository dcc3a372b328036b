// Debug output, tick counter, processor count and file-name helpers.
#include "platform/System.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <climits>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <random>
#include <sched.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

bool DebugOutputEnabled() {
    static const bool enabled = std::getenv("TESSMAR_DEBUG") != nullptr;
    return enabled;
}

void DebugOutput(const std::string& text) {
    if (DebugOutputEnabled()) std::fputs(text.c_str(), stderr);
}

uint32_t TickCount() {
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

int SystemProcessorCount() {
    cpu_set_t set;
    int n = 1;
    if (sched_getaffinity(0, sizeof set, &set) == 0) n = CPU_COUNT(&set);
    if (n < 1) n = 1;
    return n > 16 ? 16 : n;
}

bool SameFile(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty()) return false;
    struct stat sa, sb;
    if (::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0)
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    std::error_code ec1, ec2;
    const auto ca = std::filesystem::weakly_canonical(std::filesystem::absolute(a, ec1), ec1);
    const auto cb = std::filesystem::weakly_canonical(std::filesystem::absolute(b, ec2), ec2);
    if (ec1 || ec2) return std::filesystem::absolute(a).lexically_normal() == std::filesystem::absolute(b).lexically_normal();
    return ca == cb;
}

namespace {

// The longest name the nearest existing folder of `folder` takes.
size_t NameMaxIn(const std::filesystem::path& folder) {
    std::filesystem::path at = folder.empty() ? std::filesystem::path(".") : folder;
    std::error_code ec;
    while (!at.empty() && !std::filesystem::is_directory(at, ec) && at != at.parent_path()) at = at.parent_path();
    const long max = ::pathconf(at.empty() ? "." : at.c_str(), _PC_NAME_MAX);
    return max > 0 ? static_cast<size_t>(max) : 255;
}

}  // namespace

bool NameTooLong(const std::string& path) {
    const std::filesystem::path p(path);
    return path.size() >= PATH_MAX || p.filename().string().size() > NameMaxIn(p.parent_path());
}

namespace {

// ".tmp-<pid>-": a work file says whose it is, so that the user can tell it from
// the files of their own.
std::string WorkMarker() { return ".tmp-" + std::to_string(::getpid()) + "-"; }

std::string RandomSuffix() {
    static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static std::mutex lock;
    static std::mt19937_64 generator{std::random_device{}()};
    std::lock_guard guard(lock);
    std::string suffix(6, 'X');
    for (char& c : suffix) c = letters[generator() % (sizeof letters - 1)];
    return suffix;
}

// Makes a file (`folder` false) or folder of a new name `name` + six characters:
// the name is noted in the work record before it is made, and confirmed after.
// "" with `*error` set when it cannot be made.
std::string MakeUnique(const std::string& name, bool folder, mode_t mode, int* error) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate = name + RandomSuffix();
        RecordWorkPath(candidate);
        int failure = 0;
        if (folder) {
            if (::mkdir(candidate.c_str(), mode) != 0) failure = errno;
        } else {
            const int fd = ::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
            if (fd < 0) failure = errno;
            else if (::close(fd) != 0) failure = errno;
            if (fd >= 0 && failure != 0) ::unlink(candidate.c_str());
        }
        if (failure == 0) {
            ConfirmWorkPath(candidate);
            return candidate;
        }
        ForgetWorkPath(candidate);
        if (failure != EEXIST) {
            if (error) *error = failure;
            return std::string();
        }
    }
    if (error) *error = EEXIST;
    return std::string();
}

}  // namespace

std::string CreateFileBeside(const std::string& target, int* error) {
    namespace fs = std::filesystem;
    const std::string marker = WorkMarker();
    const fs::path path(target);
    std::string base = path.filename().string();
    const size_t room = NameMaxIn(path.parent_path());
    const size_t limit = room > marker.size() + 7 ? room - (marker.size() + 6) : 1;
    if (base.size() > limit) base.resize(limit);
    // An output is made like any other file: the umask decides its mode.
    return MakeUnique((path.parent_path() / (base + marker)).string(), false, 0666, error);
}

std::string CreateWorkFile(const std::string& folder, const std::string& prefix, int* error) {
    return MakeUnique((std::filesystem::path(folder) / (prefix + WorkMarker())).string(), false, 0600, error);
}

std::string CreateWorkFolder(const std::string& folder, const std::string& prefix, int* error) {
    // The volume inside it is the user's like any output.
    return MakeUnique((std::filesystem::path(folder) / (prefix + WorkMarker())).string(), true, 0777, error);
}

}  // namespace platform
