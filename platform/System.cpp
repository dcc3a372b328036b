// Debug output, tick counter, processor count and file-name helpers.
#include "platform/System.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cerrno>
#include <filesystem>
#include <sched.h>
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

std::string CreateFileBeside(const std::string& target, int* error) {
    namespace fs = std::filesystem;
    constexpr char kSuffix[] = ".tmpXXXXXX";
    const fs::path path(target);
    std::string base = path.filename().string();
    const size_t limit = 255 - (sizeof kSuffix - 1);
    if (base.size() > limit) base.resize(limit);
    const std::string name = (path.parent_path() / (base + kSuffix)).string();
    std::vector<char> buffer(name.begin(), name.end());
    buffer.push_back('\0');
    const int fd = ::mkstemp(buffer.data());
    if (fd < 0) {
        if (error) *error = errno;
        return std::string();
    }
    // mkstemp makes the file private; an output is made like any other file.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    int failure = ::fchmod(fd, 0666 & ~mask) != 0 ? errno : 0;
    if (::close(fd) != 0 && failure == 0) failure = errno;
    if (failure != 0) {
        if (error) *error = failure;
        ::unlink(buffer.data());
        return std::string();
    }
    return buffer.data();
}

}  // namespace platform
