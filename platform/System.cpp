// Debug output, tick counter, processor count and file-name helpers.
#include "platform/System.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sched.h>
#include <signal.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

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

// ".tmp-<pid>-": a work file says whose it is, so that a later run can tell a
// leftover of a killed process from a file another running job still writes.
std::string WorkMarker() { return ".tmp-" + std::to_string(::getpid()) + "-"; }

// The file of a name made by mkstemp from `name` + "XXXXXX"; "" with `*error` set when it cannot be made.
std::string MakeUnique(const std::string& name, bool shared, int* error) {
    std::vector<char> buffer(name.begin(), name.end());
    buffer.insert(buffer.end(), {'X', 'X', 'X', 'X', 'X', 'X', '\0'});
    const int fd = ::mkstemp(buffer.data());
    if (fd < 0) {
        if (error) *error = errno;
        return std::string();
    }
    int failure = 0;
    if (shared) {
        // mkstemp makes the file private; an output is made like any other file.
        const mode_t mask = ::umask(0);
        ::umask(mask);
        failure = ::fchmod(fd, 0666 & ~mask) != 0 ? errno : 0;
    }
    if (::close(fd) != 0 && failure == 0) failure = errno;
    if (failure != 0) {
        if (error) *error = failure;
        ::unlink(buffer.data());
        return std::string();
    }
    return buffer.data();
}

}  // namespace

std::string CreateFileBeside(const std::string& target, int* error) {
    namespace fs = std::filesystem;
    const std::string marker = WorkMarker();
    const fs::path path(target);
    std::string base = path.filename().string();
    const size_t limit = 255 - (marker.size() + 6);
    if (base.size() > limit) base.resize(limit);
    return MakeUnique((path.parent_path() / (base + marker)).string(), true, error);
}

std::string CreateWorkFile(const std::string& folder, const std::string& prefix, int* error) {
    return MakeUnique((std::filesystem::path(folder) / (prefix + WorkMarker())).string(), false, error);
}

std::string CreateWorkFolder(const std::string& folder, const std::string& prefix, int* error) {
    std::string pattern = (std::filesystem::path(folder) / (prefix + WorkMarker() + "XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        if (error) *error = errno;
        return std::string();
    }
    // mkdtemp makes the folder private; the volume inside it is the user's like any output.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::chmod(pattern.c_str(), 0777 & ~mask);
    return pattern;
}

int RemoveStaleWorkFiles(const std::string& folder) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::directory_iterator it(folder.empty() ? fs::path(".") : fs::path(folder), ec);
    int removed = 0;
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        // <anything>.tmp-<digits>-<six characters>
        const size_t at = name.rfind(".tmp-");
        if (at == std::string::npos || name.size() < at + 5 + 1 + 1 + 6) continue;
        const std::string tail = name.substr(at + 5);
        const size_t dash = tail.find('-');
        if (dash == 0 || dash == std::string::npos || tail.size() != dash + 7) continue;
        if (tail.find_first_not_of("0123456789") != dash) continue;
        const long pid = std::strtol(tail.substr(0, dash).c_str(), nullptr, 10);
        if (pid <= 0 || pid == ::getpid()) continue;
        // A process that runs, ours or another user's, keeps its files.
        if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
        struct stat st;
        if (::lstat(it->path().c_str(), &st) != 0 || st.st_uid != ::getuid()) continue;
        if (S_ISREG(st.st_mode)) {
            if (::unlink(it->path().c_str()) == 0) ++removed;
        } else if (S_ISDIR(st.st_mode)) {
            std::error_code gone;
            if (fs::remove_all(it->path(), gone) > 0 && !gone) ++removed;
        }
    }
    return removed;
}

}  // namespace platform
