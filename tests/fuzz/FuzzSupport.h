// Shared parts of the fuzz targets: a private folder for the files a parser
// must read from disk, silent message boxes, and splitting one input in two.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>

#include "platform/MessageBox.h"

namespace fuzz {

inline const std::filesystem::path& WorkDir();

namespace detail {
inline std::filesystem::path MakeWorkDir() {
    // Memory-backed when possible: the writers sync every file, which a disk makes slow.
    // scripts/fuzz.sh names a folder of its own, which it removes however a target ends.
    const char* own = std::getenv("TESSMAR_FUZZ_WORK");
    const char* tmp = std::getenv("TMPDIR");
    std::string base = own && *own                              ? own
                       : std::filesystem::is_directory("/dev/shm") ? "/dev/shm"
                       : tmp && *tmp                              ? tmp
                                                                  : "/tmp";
    std::string pattern = base + "/tessmar-fuzz-XXXXXX";
    if (!::mkdtemp(pattern.data())) std::abort();
    // The clean-up runs after WorkDir's own path is destroyed: it keeps a copy that lives on.
    static const std::filesystem::path* const removed = new std::filesystem::path(pattern);
    std::atexit([] {
        std::error_code ec;
        std::filesystem::remove_all(*removed, ec);
    });
    return pattern;
}
}  // namespace detail

// This process's folder for input and output files, removed at exit.
inline const std::filesystem::path& WorkDir() {
    static const std::filesystem::path dir = detail::MakeWorkDir();
    return dir;
}

// Writes `bytes` to `name` in the work folder and returns its path.
inline std::filesystem::path WriteInput(const std::string& name, std::string_view bytes) {
    std::filesystem::path path = WorkDir() / name;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) std::abort();
    std::fclose(f);
    return path;
}

inline std::string_view Bytes(const uint8_t* data, size_t size) {
    return std::string_view(reinterpret_cast<const char*>(data), size);
}

// Every box takes its default answer unseen: a parser's warnings are no finding.
inline void SilenceMessageBoxes() {
    static bool done = false;
    if (done) return;
    done = true;
    platform::SetMessageBoxHandler([](const platform::MessageBoxRequest& r) {
        return platform::DefaultAnswer(r.buttons, r.defaultButton);
    });
}

// Two streams from one input: its first four bytes (big-endian) give the
// length of the first, the rest is the second.
inline std::pair<std::string_view, std::string_view> SplitInput(const uint8_t* data, size_t size) {
    if (size < 4) return {std::string_view(), Bytes(data, size)};
    uint32_t first = uint32_t(data[0]) << 24 | uint32_t(data[1]) << 16 | uint32_t(data[2]) << 8 | data[3];
    std::string_view rest = Bytes(data + 4, size - 4);
    size_t cut = std::min<size_t>(first, rest.size());
    return {rest.substr(0, cut), rest.substr(cut)};
}

}  // namespace fuzz
