// Shared helpers of the test programs: temporary folders, files, tools.
#pragma once

#include <filesystem>
#include <initializer_list>
#include <string>

namespace testsupport {

// A fresh folder under $TMPDIR, removed with everything in it when destroyed.
// Also points TESSMAR_CONFIG_DIR at a "config" folder inside it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
    std::string previousConfig_;
    bool hadConfig_ = false;
};

std::string ReadFile(const std::filesystem::path& file);
void WriteFile(const std::filesystem::path& file, const std::string& bytes);

// Runs a shell command; returns its exit status, stdout in `output` when given.
int RunCommand(const std::string& command, std::string* output = nullptr);

// Whether a program is on PATH (ffmpeg, ffprobe, vcdimager, ...).
bool HaveTool(const std::string& name);

// The most bytes any run of `pictures` consecutive pictures of a video file takes, as ffprobe counts them.
double PeakPictureBytes(const std::filesystem::path& video, size_t pictures);

// The source tree (TESSMAR_SOURCE_DIR, set by CTest; the current folder without it).
std::filesystem::path SourceDir();

// For a test program that reads files of the source tree (paths relative to it): checks before the
// first test that they are there and, when one is not, fails the run with a message that names it
// instead of running every test on nothing. Call it once, at namespace scope; returns true.
bool RequireSourceFiles(std::initializer_list<const char*> files);

}  // namespace testsupport
