// Start-up: the screen check, settings before switches, the processor count
// and what the first shell command opens.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/AppSettings.h"
#include "app/AppStartUp.h"
#include "engine/Threads.h"
#include "platform/Ini.h"
#include "platform/MessageBox.h"
#include "settings/EncoderSettings.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

class StartUpTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = fs::current_path();
        fs::current_path(dir_.path());
        EncoderSettings = EncoderSettingsRecord{};
        ProfileDirectory.clear();
        Winnt351Requested = 0;
        NtVersion351 = 0;
        FormReady = 0;
        PendingInputFlag = 0;
        PendingInputFile.clear();
    }
    void TearDown() override {
        fs::current_path(previous_);
        ProcessorCount = 1;
        FormReady = 0;
    }
    testsupport::TempDir dir_;
    platform::ScriptedMessageBoxes boxes_;
    fs::path previous_;
};

TEST_F(StartUpTest, SmallScreenEndsBeforeAnythingIsRead) {
    EXPECT_FALSE(PrepareStartUp(799, 600, 4));
    EXPECT_FALSE(PrepareStartUp(800, 599, 4));
    ASSERT_EQ(boxes_.Texts().size(), 2u);
    EXPECT_EQ(boxes_.Texts()[0].rfind("This application can not run if the system screen size is less than 800x600.", 0),
              0u);
    EXPECT_FALSE(fs::exists(dir_.path() / "profiles"));
}

TEST_F(StartUpTest, SwitchesOverrideTheSettingsFile) {
    InitSettingsFileName();
    platform::IniWriteString("ZRN-MPEG", "BLACK_LEVEL", "30", SettingsFileName);
    platform::IniWriteString("ZRN-MPEG", "system_winnt351", "0", SettingsFileName);
    EncoderSettings.timeCodeStartFrame = 5;
    ASSERT_TRUE(PrepareStartUp(800, 600, 4));
    EXPECT_TRUE(boxes_.Texts().empty());
    EXPECT_EQ(EncoderSettings.timeCodeStartFrame, 0);
    EXPECT_EQ(EncoderSettings.blackLevel, 30);
    EXPECT_EQ(EncoderSettings.showOutput, 1);
    EXPECT_EQ(PreviewWidth, 352);
    EXPECT_EQ(ProcessorCount, 4);

    CTessmarCommandLineInfo info;
    ApplyCommandLine(info, {"-blacklevel=40", "-winnt351"});
    EXPECT_EQ(EncoderSettings.blackLevel, 40);
    EXPECT_EQ(NtVersion351, 1);

    ASSERT_TRUE(PrepareStartUp(1024, 768, 64));
    EXPECT_EQ(ProcessorCount, 16);
    ASSERT_TRUE(PrepareStartUp(1024, 768, 1));
    EXPECT_EQ(ProcessorCount, 1);
}

TEST_F(StartUpTest, FirstFileOpened) {
    CTessmarCommandLineInfo none;
    EXPECT_EQ(DecideShellCommand(none), ShellAction::NewDocument);

    CTessmarCommandLineInfo avi;
    avi.ParseCommandLine({"clip.Avi"});
    EXPECT_EQ(DecideShellCommand(avi), ShellAction::NewDocumentWithInput);
    EXPECT_EQ(PendingInputFile, "clip.Avi");
    EXPECT_EQ(PendingInputFlag, 1);

    // Once the form exists the same file goes to the document.
    PendingInputFlag = 0;
    FormReady = 1;
    EXPECT_EQ(DecideShellCommand(avi), ShellAction::OpenDocument);
    EXPECT_EQ(PendingInputFlag, 0);

    FormReady = 0;
    CTessmarCommandLineInfo profile;
    profile.ParseCommandLine({"a.prf"});
    EXPECT_EQ(DecideShellCommand(profile), ShellAction::OpenDocument);

    CTessmarCommandLineInfo tooLong;
    tooLong.ParseCommandLine({std::string(kPendingInputLimit, 'a') + ".avi"});
    EXPECT_EQ(DecideShellCommand(tooLong), ShellAction::NewDocument);
    EXPECT_EQ(PendingInputFlag, 0);
}

}  // namespace
