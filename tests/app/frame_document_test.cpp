// Profile commands of the document end to end: reset, open, save, save as,
// the description dialog, the recent-file list and the save-changes prompt.
#include <gtest/gtest.h>


#include "app/AppSettings.h"
#include "app/CMpegDoc.h"
#include "app/ProfileList.h"
#include "app/RecentFileList.h"
#include "job/Profile.h"
#include "platform/MessageBox.h"
#include "settings/EncoderSettings.h"
#include "settings/RunState.h"
#include "tests/app/frame_util.h"
#include "tests/support/QtTestSupport.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;
using frametest::AnswerDescriptionDialog;
using qttest::App;
using platform::MbAnswer;

namespace {

class DocumentTest : public ::testing::Test {
protected:
    void SetUp() override {
        App();
        ProfileDirectory = (dir.path() / "profiles").string() + "/";
        fs::create_directories(ProfileDirectory);
        RunState = 1;
        PauseFlag = 0;
    }
    // A profile in the folder with a description and a width of its own.
    std::string WriteListedProfile(const std::string& file, const std::string& description, int width) {
        ResetProfileParameters();
        EncoderSettings.profileDescription = description;
        EncoderSettings.horizontalSize = width;
        std::string path = ProfileDirectory + file;
        EXPECT_EQ(WriteProfile(path.c_str()), 0);
        return path;
    }

    testsupport::TempDir dir;
    platform::ScriptedMessageBoxes boxes;
    RecentFileList recent{5};
};

TEST_F(DocumentTest, SaveNamesFreeFilesAndTheTitleShowsTheDescription) {
    CMpegDoc doc(recent);
    ASSERT_TRUE(doc.OnNewDocument());
    EXPECT_EQ(doc.Title(), "Untitled");
    EXPECT_TRUE(doc.ProfilePath().empty());

    // No description yet: Save asks for one; blanks only is refused, then "ab   " is taken as "ab".
    AnswerDescriptionDialog({"   ", "ab   "});
    ASSERT_TRUE(doc.OnFileSave());
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"You must enter a profile description."});
    EXPECT_EQ(doc.ProfilePath(), ProfileDirectory + "PRF1.PRF");
    EXPECT_EQ(EncoderSettings.profileDescription, "ab");
    EXPECT_EQ(doc.Title(), "ab");
    EXPECT_EQ(recent[0], "ab");
    EXPECT_FALSE(doc.IsModified());
    EXPECT_EQ(ProfileDescriptionList, std::vector<std::string>{"ab"});

    // Save again: the same file, no question.
    EncoderSettings.horizontalSize = 480;
    doc.SetModifiedFlag(true);
    ASSERT_TRUE(doc.OnFileSave());
    EXPECT_EQ(doc.ProfilePath(), ProfileDirectory + "PRF1.PRF");
    EXPECT_FALSE(fs::exists(ProfileDirectory + "PRF2.PRF"));

    // Save As refuses the listed description, then makes PRF2.PRF and leaves PRF1.PRF alone.
    boxes.Clear();
    const std::string first = testsupport::ReadFile(ProfileDirectory + "PRF1.PRF");
    AnswerDescriptionDialog({"ab", "a/b:c"});
    ASSERT_TRUE(doc.OnFileSaveAs());
    ASSERT_EQ(boxes.Texts().size(), 1u);
    EXPECT_EQ(boxes.Texts()[0],
              "There is an existing profile description that matches this entry.\nCannot enter duplicate profile "
              "description.");
    EXPECT_EQ(doc.ProfilePath(), ProfileDirectory + "PRF2.PRF");
    EXPECT_EQ(doc.Title(), "a_b_c");
    EXPECT_EQ(testsupport::ReadFile(ProfileDirectory + "PRF1.PRF"), first);
    EXPECT_EQ(recent[0], "a_b_c");
    EXPECT_EQ(recent[1], "ab");

    // Cancel saves nothing and keeps the flag.
    doc.SetModifiedFlag(true);
    AnswerDescriptionDialog({}, "2");
    EXPECT_FALSE(doc.OnFileSaveAs());
    EXPECT_TRUE(doc.IsModified());
    EXPECT_EQ(doc.ProfilePath(), ProfileDirectory + "PRF2.PRF");
}

TEST_F(DocumentTest, RecentEntriesOpenByDescriptionAndFailedOpensChangeNothing) {
    const std::string vcd = WriteListedProfile("vcd.prf", "VCD", 352);
    const std::string dvd = WriteListedProfile("dvd.prf", "DVD high", 720);
    CMpegDoc doc(recent);
    ASSERT_TRUE(doc.OnNewDocument());
    recent.Add("nothing here");
    recent.Add("VCD");
    recent.Add("DVD high");

    ASSERT_TRUE(doc.OpenRecentFile(1));  // "VCD"
    EXPECT_EQ(doc.ProfilePath(), vcd);
    EXPECT_EQ(EncoderSettings.horizontalSize, 352);
    EXPECT_EQ(doc.Title(), "VCD");
    EXPECT_EQ(recent.Entries(), (std::vector<std::string>{"VCD", "DVD high", "nothing here", "", ""}));

    // An entry that matches no description and names no file is missing: nothing moves.
    EXPECT_FALSE(doc.OpenRecentFile(2));
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Failed to find profile:\nnothing here"});
    EXPECT_EQ(recent.Entries(), (std::vector<std::string>{"VCD", "DVD high", "nothing here", "", ""}));
    EXPECT_EQ(doc.ProfilePath(), vcd);

    // A profile that cannot be read: the path and the list stay.
    const std::string broken = ProfileDirectory + "broken.prf";
    testsupport::WriteFile(broken, "not a profile\n");
    recent.Add(broken);
    EXPECT_FALSE(doc.OpenRecentFile(0));
    EXPECT_EQ(recent[0], broken);
    EXPECT_EQ(doc.ProfilePath(), vcd);

    // Opened by path: the title shows the description, the list keeps the path.
    ASSERT_TRUE(doc.OnOpenDocument(dvd));
    EXPECT_EQ(doc.Title(), "DVD high");
    EXPECT_EQ(recent[0], dvd);
    EXPECT_EQ(EncoderSettings.horizontalSize, 720);

    // An entry an older version kept relative to another working folder opens
    // from the profile folder, and is listed by its full path from then on.
    recent.Add("profiles/vcd.prf");
    ASSERT_TRUE(doc.OpenRecentFile(0));
    EXPECT_EQ(doc.ProfilePath(), vcd);
    EXPECT_EQ(recent.Entries(), (std::vector<std::string>{vcd, dvd, broken, "VCD", "DVD high"}));
}

TEST_F(DocumentTest, SaveModifiedAsksAndStopsWhenNothingWasSaved) {
    CMpegDoc doc(recent);
    ASSERT_TRUE(doc.OnNewDocument());
    doc.SetModifiedFlag(true);

    boxes.Answer(MbAnswer::Cancel);
    EXPECT_FALSE(doc.OnFileNew());
    EXPECT_TRUE(doc.IsModified());
    EXPECT_EQ(boxes.Shown().back().text, "Do you wish to save changes to current profile?");
    EXPECT_EQ(boxes.Shown().back().buttons, platform::MbButtons::YesNoCancel);

    // Yes, then the description dialog cancelled: nothing saved, nothing reset.
    boxes.Answer(MbAnswer::Yes);
    AnswerDescriptionDialog({}, "2");
    EncoderSettings.horizontalSize = 480;
    EXPECT_FALSE(doc.OnFileNew());
    EXPECT_TRUE(doc.IsModified());
    EXPECT_EQ(EncoderSettings.horizontalSize, 480);

    // No: reset without saving.
    doc.SetModifiedFlag(true);
    boxes.Answer(MbAnswer::No);
    EXPECT_TRUE(doc.OnFileNew());
    EXPECT_FALSE(doc.IsModified());
    EXPECT_FALSE(fs::exists(ProfileDirectory + "PRF1.PRF"));
}

TEST_F(DocumentTest, AFailedWriteKeepsTheFlagThePathAndTheTitle) {
    const std::string vcd = WriteListedProfile("vcd.prf", "VCD", 352);
    CMpegDoc doc(recent);
    ASSERT_TRUE(doc.OnOpenDocument(vcd));
    doc.SetModifiedFlag(true);
    const auto listBefore = recent.Entries();
    // The profile folder has gone: Save As cannot write its new file.
    ProfileDirectory = (dir.path() / "gone").string() + "/";
    AnswerDescriptionDialog({"Elsewhere"});
    EXPECT_FALSE(doc.OnFileSaveAs());
    EXPECT_TRUE(doc.IsModified());
    EXPECT_EQ(doc.ProfilePath(), vcd);
    EXPECT_EQ(doc.Title(), "VCD");
    EXPECT_EQ(EncoderSettings.profileDescription, "VCD");
    EXPECT_EQ(recent.Entries(), listBefore);
    // The save-changes prompt answered Yes: nothing saved, so the caller stops.
    boxes.Answer(MbAnswer::Yes);
    EXPECT_FALSE(doc.OnFileNew());
    EXPECT_TRUE(doc.IsModified());
    EXPECT_EQ(doc.ProfilePath(), vcd);
}

TEST_F(DocumentTest, ProfileListSkipsBadFilesAndNamesUndescribedOnes) {
    WriteListedProfile("a.prf", "Wide", 720);
    const std::string plain = WriteListedProfile("b.PRF", "", 352);
    testsupport::WriteFile(ProfileDirectory + "c.prf", "MPEG_DATA\n");  // an old header: not listed
    testsupport::WriteFile(ProfileDirectory + "notes.txt", "x");
    // A profile whose width line cannot be read must not show the previous file's width.
    const std::string a = testsupport::ReadFile(ProfileDirectory + "a.prf");
    std::string noWidth = a;
    size_t line = 0;
    for (int i = 0; i < 5; ++i) line = noWidth.find('\n', line) + 1;
    noWidth.replace(line, noWidth.find('\n', line) - line, "x");
    testsupport::WriteFile(ProfileDirectory + "d.prf", noWidth.replace(noWidth.find("Wide"), 4, "Narrow"));

    BuildProfileList();
    EXPECT_EQ(ProfileDescriptionList, (std::vector<std::string>{"Wide", "b.PRF", "Narrow"}));
    EXPECT_EQ(ProfilePathList[1], plain);
    ASSERT_EQ(ProfileSummaryTable.size(), 3u);
    EXPECT_EQ(ProfileSummaryTable[0].width, 720);
    EXPECT_EQ(ProfileSummaryTable[2].width, 0);
}

TEST_F(DocumentTest, ResetAppliesTheDefaultProfileWithoutItsFiles) {
    ResetProfileParameters();
    EncoderSettings.horizontalSize = 544;
    EncoderSettings.inputFileName = "/x/clip.avi";
    EncoderSettings.profileDescription = "defaults";
    ASSERT_EQ(WriteProfile(DefaultProfileFileName().c_str()), 0);

    DefaultProfileTried = 0;  // a new run
    CMpegDoc doc(recent);
    ASSERT_TRUE(doc.OnNewDocument());
    EXPECT_EQ(EncoderSettings.horizontalSize, 544);
    EXPECT_TRUE(EncoderSettings.inputFileName.empty());
    EXPECT_TRUE(EncoderSettings.profileDescription.empty());
    EXPECT_EQ(EncoderSettings.framesToEncode, 1);
    // Looked for once per run only.
    ASSERT_TRUE(doc.OnNewDocument());
    EXPECT_NE(EncoderSettings.horizontalSize, 544);
}

}  // namespace
