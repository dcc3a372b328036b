// Shared helpers of the test programs.
#include "tests/support/TestSupport.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <numeric>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <vector>

namespace fs = std::filesystem;

namespace testsupport {

TempDir::TempDir() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tessmar-test-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
    if (const char* c = std::getenv("TESSMAR_CONFIG_DIR")) {
        hadConfig_ = true;
        previousConfig_ = c;
    }
    setenv("TESSMAR_CONFIG_DIR", (path_ / "config").c_str(), 1);
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    for (auto it = fs::recursive_directory_iterator(path_, ec); it != fs::recursive_directory_iterator(); ++it)
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
    if (hadConfig_) setenv("TESSMAR_CONFIG_DIR", previousConfig_.c_str(), 1);
    else unsetenv("TESSMAR_CONFIG_DIR");
}

std::string ReadFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const fs::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << bytes;
}

int RunCommand(const std::string& command, std::string* output) {
    FILE* p = popen(command.c_str(), "r");
    if (!p) return -1;
    std::array<char, 4096> buf;
    size_t n;
    std::string out;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) out.append(buf.data(), n);
    int status = pclose(p);
    if (output) *output = out;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool HaveTool(const std::string& name) {
    return RunCommand("command -v " + name + " >/dev/null 2>&1") == 0;
}

double PeakPictureBytes(const fs::path& video, size_t pictures) {
    std::string sizes;
    RunCommand("ffprobe -v error -show_entries packet=size -of csv=p=0 '" + video.string() + "'", &sizes);
    std::vector<double> picture;
    std::istringstream lines(sizes);
    for (std::string line; std::getline(lines, line);)
        if (!line.empty()) picture.push_back(std::atof(line.c_str()));
    double peak = 0;
    for (size_t i = 0; i + pictures <= picture.size(); ++i)
        peak = std::max(peak, std::accumulate(&picture[i], &picture[i] + pictures, 0.0));
    return peak;
}

fs::path SourceDir() {
    const char* s = std::getenv("TESSMAR_SOURCE_DIR");
    return s ? fs::path(s) : fs::current_path();
}

namespace {

class SourceFilesCheck : public ::testing::Environment {
public:
    explicit SourceFilesCheck(std::vector<std::string> files) : files_(std::move(files)) {}
    void SetUp() override {
        for (const std::string& file : files_) {
            const fs::path path = SourceDir() / file;
            ASSERT_TRUE(fs::is_regular_file(path))
                << "test data " << path.string() << " not found: set TESSMAR_SOURCE_DIR to the source tree "
                << "(ctest sets it) or run the program from there";
        }
    }

private:
    std::vector<std::string> files_;
};

}  // namespace

bool RequireSourceFiles(std::initializer_list<const char*> files) {
    ::testing::AddGlobalTestEnvironment(new SourceFilesCheck(std::vector<std::string>(files.begin(), files.end())));
    return true;
}

}  // namespace testsupport
