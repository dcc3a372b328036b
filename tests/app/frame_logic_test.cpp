// The main window's plain rules: path parts, extension rules, window size,
// description cleaning, free profile names, the file dialog's type change.
#include <gtest/gtest.h>

#include "app/AppSettings.h"
#include "app/CPath.h"
#include "app/FrameLogic.h"
#include "platform/Ini.h"
#include "platform/MessageBox.h"
#include "tests/support/TestSupport.h"

namespace {

TEST(CPathTest, SplitsOnlyTheLastComponent) {
    CPath empty;
    EXPECT_EQ(empty.GetFullPath(), nullptr);
    EXPECT_EQ(empty.GetExtension(), nullptr);

    CPath path("/home/u/v1.2/clip");
    EXPECT_STREQ(path.GetExtension(), "");  // the dot of a folder is no extension
    EXPECT_STREQ(path.GetBaseName(), "clip");
    EXPECT_STREQ(path.GetDirectory(), "/home/u/v1.2/");
    EXPECT_STREQ(path.GetFileName(), "clip");

    path.SetPath("/a/my.clip.v1");
    EXPECT_STREQ(path.GetExtension(), ".v1");
    EXPECT_STREQ(path.GetBaseName(), "my.clip");
    EXPECT_STREQ(path.GetFileName(), "my.clip.v1");
    EXPECT_STREQ(path.GetFullPath(), "/a/my.clip.v1");

    path.SetPath(nullptr);  // changes nothing
    EXPECT_STREQ(path.GetFullPath(), "/a/my.clip.v1");

    path.SetPath("clip.avi");  // no folder: all of it is the name
    EXPECT_STREQ(path.GetDirectory(), "");
    EXPECT_STREQ(path.GetBaseName(), "clip");
    EXPECT_STREQ(path.GetExtension(), ".avi");
    EXPECT_STREQ(path.GetDrive(), "");
}

TEST(FrameLogicTest, ExtensionRulesAndDrops) {
    EXPECT_TRUE(IsProfileFileName("/p/A.Prf"));
    EXPECT_FALSE(IsProfileFileName("/p.prf/clip"));
    EXPECT_TRUE(IsAviFileName("CLIP.AVI"));
    EXPECT_FALSE(IsAviFileName("clip.avi.bak"));

    EXPECT_EQ(ClassifyDroppedFile("a.avi"), DropAction::TakeInput);  // five characters are taken
    EXPECT_EQ(ClassifyDroppedFile(".avi"), DropAction::Ignore);      // four are not
    EXPECT_EQ(ClassifyDroppedFile("/x/job.PRF"), DropAction::OpenProfile);
    EXPECT_EQ(ClassifyDroppedFile("/x/notes.txt"), DropAction::Ignore);
    EXPECT_EQ(ClassifyDroppedFile("/x.avi/notes"), DropAction::Ignore);
}

TEST(FrameLogicTest, WindowSizeFollowsFontAndDesktop) {
    // 7 x 16 font on a large desktop: 764 x 460 becomes 764 x 610.
    MainWindowGeometry g = ComputeMainWindowGeometry(7, 16, 1920, 1080);
    EXPECT_EQ(g.largeScreen, 1);
    EXPECT_EQ(g.minWidth, 764);
    EXPECT_EQ(g.minHeight, 610);
    EXPECT_EQ(g.y, (1080 - 610) / 2);
    // A tall font: 660.
    EXPECT_EQ(ComputeMainWindowGeometry(8, 20, 1920, 1080).minHeight, 660);
    // A desktop exactly 600 high: 564.
    EXPECT_EQ(ComputeMainWindowGeometry(7, 16, 800, 600).minHeight, 564);
    // Wider than the desktop: 928 x 600, then kept within the desktop.
    g = ComputeMainWindowGeometry(9, 16, 850, 700);
    EXPECT_EQ(g.minWidth, 850);
    EXPECT_EQ(g.minHeight, 600);
    EXPECT_EQ(g.x, 0);
    // A small desktop: 640 wide at the top left corner.
    g = ComputeMainWindowGeometry(7, 16, 640, 480);
    EXPECT_EQ(g.largeScreen, 0);
    EXPECT_EQ(g.height, 440);
    EXPECT_EQ(g.x + g.y, 0);
}

TEST(FrameLogicTest, DescriptionsAreCleanedAndChecked) {
    EXPECT_EQ(CleanProfileDescription("a/b:c"), "a_b_c");
    EXPECT_EQ(CleanProfileDescription("x\\*?<>|"), "x______");
    EXPECT_EQ(CleanProfileDescription("ab   "), "ab");
    EXPECT_EQ(CleanProfileDescription("a    "), "a ");  // the first two characters stay
    EXPECT_EQ(CleanProfileDescription("  "), "  ");

    const std::vector<std::string> listed{"DVD high", "VCD"};
    EXPECT_EQ(CheckProfileDescription("", listed, "", "Save As"), 63309);
    EXPECT_EQ(CheckProfileDescription("  ", listed, "", "Save As"), 63309);  // blanks only count as empty
    EXPECT_EQ(CheckProfileDescription("VCD", listed, "VCD", "Save As"), 63310);
    EXPECT_EQ(CheckProfileDescription("VCD", listed, "VCD", "Rename Profile"), 0);
    EXPECT_EQ(CheckProfileDescription("VCD", listed, "DVD high", "Rename Profile"), 63310);
    EXPECT_EQ(CheckProfileDescription("vcd", listed, "", "Save As"), 0);  // exact matches only
}

TEST(FrameLogicTest, TypeChangeReplacesOnlyTheLastExtension) {
    const std::string mpg = "MPEG Files (*.mpg)";
    EXPECT_EQ(FileNameForType("my.clip.v1", mpg), "my.clip.mpg");
    EXPECT_EQ(FileNameForType("m1video", mpg), "m1video.mpg");
    EXPECT_EQ(FileNameForType("/home/u/v1.2/clip", mpg), "/home/u/v1.2/clip.mpg");
    EXPECT_EQ(FileNameForType("", mpg), "");  // an empty name stays empty
    EXPECT_EQ(FileNameForType("clip.m2v", "Program streams (*.prg *.mpg)"), "clip.prg");
    EXPECT_EQ(FileNameForType("clip.m2v", ""), "clip");
}

TEST(FrameLogicTest, SettingsFoldersAreUsableAsTheyAreRead) {
    testsupport::TempDir dir;
    platform::ScriptedMessageBoxes boxes;
    InitSettingsFileName();
    const std::string folder = (dir / "profiles").string();
    std::filesystem::create_directories(folder);
    ASSERT_TRUE(platform::IniWriteString("ZRN-MPEG", "Profile Path", folder, SettingsFileName));
    ReadSettings();
    EXPECT_EQ(ProfileDirectory, folder + "/");  // file names are appended to it as they stand
    // A remembered folder that is there but empty is the current folder, not the root.
    ASSERT_TRUE(platform::IniWriteString("ZRN-MPEG", "Main_Avi_Input_Directory", "", ProgramIniFileName()));
    EXPECT_EQ(GetMainAviInputDirectory(), std::filesystem::current_path().string() + "/");
    EXPECT_TRUE(boxes.Shown().empty());
}

}  // namespace
