// `cmake --install` of the build this test belongs to, into a fresh prefix:
// the program (which starts from there and finds its library), the help
// page, a desktop entry that the validator accepts and the launcher starts, and a file
// type that the desktop's MIME tools give a profile once the installed data
// is compiled.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;
using testsupport::HaveTool;
using testsupport::RunCommand;

namespace {

TEST(InstallTest, InstallsTheProgramHelpDesktopEntryFileTypeAndIcon) {
    for (const char* tool : {"cmake", "desktop-file-validate", "update-mime-database", "xdg-mime", "mimetype", "gio"})
        if (!HaveTool(tool)) GTEST_SKIP() << tool << " is not installed";
    const fs::path build = fs::read_symlink("/proc/self/exe").parent_path().parent_path();
    testsupport::TempDir dir;
    // A prefix that no PATH names, with characters the entry's Exec must quote.
    const fs::path prefix = dir.path() / "my apps" / "u$r";
    std::string out;
    ASSERT_EQ(RunCommand("cmake --install '" + build.string() + "' --prefix '" + prefix.string() + "' 2>&1", &out), 0)
        << out;
    const fs::path share = prefix / "share";
    for (const fs::path& file : {prefix / "bin/tessmar", share / "tessmar/tessmar.html",
                                 share / "applications/tessmar.desktop", share / "mime/packages/tessmar.xml",
                                 share / "icons/hicolor/scalable/apps/tessmar.svg"})
        EXPECT_TRUE(fs::is_regular_file(file)) << file;
    ASSERT_EQ(RunCommand("ldd '" + (prefix / "bin/tessmar").string() + "'", &out), 0);
    EXPECT_EQ(out.find("not found"), std::string::npos) << out;  // its resize library is found

    const std::string entry = (share / "applications/tessmar.desktop").string();
    EXPECT_EQ(RunCommand("desktop-file-validate '" + entry + "' 2>&1", &out), 0) << out;
    EXPECT_EQ(out, "");
    // The desktop's launcher starts the installed program with a profile (given no pipe it would keep).
    testsupport::WriteFile(dir.path() / "a profile.prf", "MPEG_DATA_V11\n");
    ASSERT_EQ(RunCommand("cd '" + dir.path().string() + "' && env -i PATH=/usr/bin:/bin HOME=. TESSMAR_CONFIG_DIR=. "
                         "QT_QPA_PLATFORM=offscreen gio launch '" + entry + "' 'a profile.prf' >/dev/null 2>&1"), 0);
    for (int i = 0; i < 100 && out.empty(); ++i) RunCommand("sleep .05; pgrep -f '[a] profile.prf'", &out);
    EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(std::stoi(out)) + "/exe"), prefix / "bin/tessmar");
    ::kill(std::stoi(out), SIGKILL);

    ASSERT_EQ(RunCommand("update-mime-database '" + (share / "mime").string() + "' 2>&1", &out), 0) << out;
    testsupport::WriteFile(dir.path() / "clip.PRF", "MPEG_DATA_V11\n");
    testsupport::WriteFile(dir.path() / "x.prf", "anything\n");
    const std::string env = "XDG_DATA_HOME='" + share.string() + "' XDG_DATA_DIRS=/usr/share ";
    for (const char* name : {"clip.PRF", "x.prf"}) {
        ASSERT_EQ(RunCommand(env + "xdg-mime query filetype '" + (dir.path() / name).string() + "'", &out), 0);
        EXPECT_EQ(out, "application/x-tessmar-profile\n") << name;
    }
}

}  // namespace
