// Writing a file so that a failure never costs the earlier one: the new
// contents go to a fresh file in the same folder, which replaces the old file
// only once all of it is on the disk.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace platform {

enum class ReplaceStatus {
    Ok,
    CreateFailed,  // no new file could be made in the target's folder
    WriteFailed,   // writing, flushing or syncing the contents failed
    CloseFailed,   // closing the new file or putting it in place failed
};

// One replacement of `target`. Open() makes the new file (mode 0666 less the
// umask, or the mode of the file it replaces), Stream() takes the contents and
// Commit() flushes, syncs, closes and renames it over the target. Whatever
// fails, or when the object goes away uncommitted, the new file is removed and
// the target is left as it was. A target that exists but is no regular file
// (a device) is written in place: it cannot be replaced.
class FileReplace {
public:
    explicit FileReplace(std::filesystem::path target);
    ~FileReplace();
    FileReplace(const FileReplace&) = delete;
    FileReplace& operator=(const FileReplace&) = delete;

    bool Open();
    std::FILE* Stream() const { return stream_; }
    ReplaceStatus Commit();
    // Removes the new file; the target stays as it was.
    void Abandon();

    // errno of the first failure, 0 when none.
    int Error() const { return error_; }

private:
    void Fail(int error);

    std::filesystem::path target_;
    std::filesystem::path temp_;
    std::FILE* stream_ = nullptr;
    bool inPlace_ = false;
    int error_ = 0;
};

// Replaces `target` with `bytes` as above; `error` (when given) gets the errno.
ReplaceStatus ReplaceFileContents(const std::filesystem::path& target, std::string_view bytes,
                                  int* error = nullptr);

}  // namespace platform
