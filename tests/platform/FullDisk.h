// Disks that are full, for the tests of the writers: a small tmpfs filled to
// the last page, and a file-size limit on this process that makes any write
// past a few bytes fail (EFBIG) on every file system.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>

#include "tests/support/TestSupport.h"

namespace fulldisk {

// Files of this size or more cannot grow while the object lives.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        previousSignal_ = ::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &previous_);
        rlimit limit = previous_;
        limit.rlim_cur = bytes;
        set_ = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &previous_);
        ::signal(SIGXFSZ, previousSignal_);
    }
    bool set() const { return set_; }

private:
    rlimit previous_{};
    sighandler_t previousSignal_{};
    bool set_ = false;
};

// A 16 KB tmpfs on a fresh folder; reason() says why it could not be mounted.
class SmallTmpfs {
public:
    SmallTmpfs() : root_(dir_ / "disk") {
        std::filesystem::create_directory(root_);
        if (::mount("tmpfs", root_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=16k") == 0)
            mounted_ = true;
        else
            reason_ = std::string("mounting a tmpfs was refused: ") + std::strerror(errno);
    }
    ~SmallTmpfs() {
        if (mounted_) ::umount2(root_.c_str(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }
    const std::string& reason() const { return reason_; }
    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path operator/(const std::string& name) const { return root_ / name; }

    // Takes every free page with a file of its own.
    void FillUp() const {
        std::FILE* f = std::fopen((root_ / "filler").c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::setvbuf(f, nullptr, _IONBF, 0);
        char block[512] = {};
        while (std::fwrite(block, 1, sizeof block, f) == sizeof block) {
        }
        std::fclose(f);
    }


private:
    testsupport::TempDir dir_;
    std::filesystem::path root_;
    bool mounted_ = false;
    std::string reason_;
};

// Names in a folder.
inline std::set<std::string> NamesIn(const std::filesystem::path& folder) {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) names.insert(e.path().filename().string());
    return names;
}

}  // namespace fulldisk
