// The profile manager from the window: summaries, Make Copy, Rename and
// Delete, checked against the files and the profile reader.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <functional>

#include "app/AppSettings.h"
#include "app/CMainFrame.h"
#include "app/CMpegDoc.h"
#include "app/CProfileMgr.h"
#include "app/CTessmarApp.h"
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

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

// The lines in which two texts differ, as "a|b".
std::vector<std::string> Differences(const std::string& a, const std::string& b) {
    std::vector<std::string> x = Lines(a), y = Lines(b), out;
    EXPECT_EQ(x.size(), y.size());
    for (size_t i = 0; i < std::min(x.size(), y.size()); ++i)
        if (x[i] != y[i]) out.push_back(x[i] + "|" + y[i]);
    return out;
}

// What the main profile reader makes of a file, written out again.
std::string Reread(const std::string& path, const fs::path& scratch) {
    ReadProfile(path.c_str());
    EXPECT_EQ(ProfileLoaded, 1) << path;
    EncoderSettings.profileDescription.clear();
    EXPECT_EQ(WriteProfile(scratch.c_str()), 0);
    return testsupport::ReadFile(scratch);
}

class ProfileManagerTest : public qttest::ProgramTest {
protected:
    void SetUp() override {
        qttest::KeyEventApp();
        ProgramTest::SetUp();
        if (HasFatalFailure()) return;
        // "Sport": MPEG-1 at 1,152,000 bit/s, 29.97 frames/s, 224 kbit/s stereo at 48 kHz.
        ReadProfile("+");
        EncoderSettingsRecord& e = EncoderSettings;
        e.profileDescription = "Sport";
        e.mpeg1 = 1;
        e.bitRate = 1152000;
        e.frameRateCode = 4;
        e.audioBitRate = 224;
        e.audioMode = 1;
        e.audioSampleRate = 48000;
        sport_ = ProfileDirectory + "PRF1.PRF";
        ASSERT_EQ(WriteProfile(sport_.c_str()), 0);
        e.profileDescription = "Variable";
        e.rateControl = kRateVariable;
        e.audioSampleRate = 44100;
        variable_ = ProfileDirectory + "PRF2.PRF";
        ASSERT_EQ(WriteProfile(variable_.c_str()), 0);
        ReadProfile("+");
    }
    // Opens the manager and runs `act` in it; the manager is closed afterwards.
    void InManager(std::function<void(QWidget*)> act) {
        QTimer::singleShot(0, [act] {
            QWidget* manager = QApplication::activeModalWidget();
            ASSERT_NE(manager, nullptr);
            ASSERT_EQ(manager->objectName(), "169");
            act(manager);
            if (manager->isVisible()) manager->findChild<QPushButton*>("2")->click();
        });
        QAction* command = app_->MainFrame()->findChild<QAction*>("32797");
        ASSERT_TRUE(command && command->isEnabled());
        command->trigger();
    }
    static std::string Text(QWidget* manager, const char* id) {
        return manager->findChild<QLabel*>(id)->text().toStdString();
    }
    static void Select(QWidget* manager, const char* description) {
        auto* list = manager->findChild<QListWidget*>("1129");
        auto found = list->findItems(description, Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1) << description;
        list->setCurrentItem(found.front());
    }
    static void Menu(QWidget* manager, int id) { manager->findChild<QAction*>(QString::number(id))->trigger(); }

    platform::ScriptedMessageBoxes boxes_;
    std::string sport_, variable_;
};

TEST_F(ProfileManagerTest, SummariesCopyRenameDelete) {
    const std::string original = testsupport::ReadFile(sport_);
    const std::string copy = ProfileDirectory + "PRF3.PRF";
    std::string copied;
    app_->RecentFiles().Add("Copy of Sport");  // an entry by description, renamed below
    InManager([&](QWidget* manager) {
        Select(manager, "Sport");
        EXPECT_EQ(Text(manager, "1122"), "Video Stream: MPEG-1 Video");
        EXPECT_EQ(Text(manager, "1116"), "Frame Rate: 29.97");
        EXPECT_EQ(Text(manager, "1119"), "Data Rate: 1362 kbits/sec");
        EXPECT_EQ(Text(manager, "1120"), "Video: 1125 kbits/sec");
        EXPECT_EQ(Text(manager, "1121"), "Audio: 224 kbits/sec");
        EXPECT_EQ(Text(manager, "1117"), "MPEG Audio (Layer2)");
        EXPECT_EQ(Text(manager, "1118"), " 48 kHz, Stereo");
        manager->grab().save(QString::fromStdString((previous_ / "profile_manager.png").string()));  // for a look
        Select(manager, "Variable");
        EXPECT_EQ(Text(manager, "1119"), "Data Rate: Variable Bitrate");
        EXPECT_EQ(Text(manager, "1120"), "Video: Variable Bitrate");
        EXPECT_EQ(Text(manager, "1118"), " 44.1 kHz, Stereo");

        Select(manager, "Sport");
        Menu(manager, 32799);  // Make Copy
        copied = testsupport::ReadFile(copy);
        EXPECT_EQ(Differences(original, copied), std::vector<std::string>{"Sport|Copy of Sport"});
        Select(manager, "Copy of Sport");
        frametest::AnswerDescriptionDialog({"Variable", "Sport renamed"});  // a taken description first
        Menu(manager, 32800);  // Rename
    });
    ASSERT_TRUE(fs::exists(copy));
    EXPECT_EQ(testsupport::ReadFile(sport_), original);
    // Rename touches the description line only.
    EXPECT_EQ(Differences(copied, testsupport::ReadFile(copy)),
              std::vector<std::string>{"Copy of Sport|Sport renamed"});
    EXPECT_EQ(app_->RecentFiles()[0], "Sport renamed");  // the recent entry follows the rename
    EXPECT_EQ(boxes_.Texts(), std::vector<std::string>{"There is an existing profile description that matches this "
                                                       "entry.\nCannot enter duplicate profile description."});
    // The copy loads into the same settings as the original, every section included.
    EXPECT_EQ(Reread(copy, dir_ / "a.prf"), Reread(sport_, dir_ / "b.prf"));
    ReadProfile(copy.c_str());
    EXPECT_EQ(EncoderSettings.profileDescription, "Sport renamed");
    BuildProfileList();
    EXPECT_EQ(ProfileDescriptionList, (std::vector<std::string>{"Sport", "Variable", "Sport renamed"}));
    app_->Document()->SetModifiedFlag(true);  // Load over unsaved edits asks; Cancel keeps them
    boxes_.Answer(platform::MbAnswer::Cancel);
    InManager([&](QWidget* manager) { manager->findChild<QPushButton*>("1")->click(); });
    EXPECT_EQ(boxes_.Texts().back(), "Do you wish to save changes to current profile?");
    EXPECT_TRUE(app_->Document()->IsModified());

    // Delete: asked first, the file goes; a file already gone is reported and stays listed.
    boxes_.Clear();
    InManager([&](QWidget* manager) {
        Select(manager, "Sport renamed");
        boxes_.Answer(platform::MbAnswer::Ok);
        QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
        QApplication::sendEvent(manager->findChild<QListWidget*>("1129"), &del);
        EXPECT_FALSE(fs::exists(copy));
        EXPECT_EQ(manager->findChild<QListWidget*>("1129")->count(), 2);
        EXPECT_EQ(manager->findChild<QListWidget*>("1129")->currentItem()->text(), "Variable");

        fs::remove(variable_);
        boxes_.Answer(platform::MbAnswer::Ok);
        manager->findChild<QPushButton*>("1115")->click();
        EXPECT_EQ(manager->findChild<QListWidget*>("1129")->count(), 2);
    });
    ASSERT_EQ(boxes_.Texts().size(), 3u);
    EXPECT_EQ(boxes_.Texts()[0], "Are you sure you want to delete profile?");
    EXPECT_EQ(boxes_.Texts()[2].rfind("Failed to delete profile file: \n" + variable_, 0), 0u);
}

}  // namespace

// Marker texts in the main block (here as file names) and a section out of its place: the manager
// finds the description, the sample rate and what it renames where the reader and the list do.
TEST(ProfileManagerSections, TheManagerFindsWhatTheReaderReads) {
    testsupport::TempDir dir;
    platform::ScriptedMessageBoxes boxes;
    const std::string path = (dir / "stray.prf").string();
    ReadProfile("+");
    EncoderSettings.profileDescription = "Real";
    EncoderSettings.inputFileName = "ZRNV2_EXT";
    EncoderSettings.statisticsFileName = "ZRN311EXT";
    EncoderSettings.audioSampleRate = 48000;
    ASSERT_EQ(WriteProfile(path.c_str()), 0);
    std::string description, error;
    ASSERT_TRUE(ReadProfileDescriptionLine(path, description, error)) << error;
    EXPECT_EQ(description, "Real");
    EXPECT_EQ(ProfileSampleRate(path), 48000);
    ASSERT_TRUE(RewriteProfileDescription(path, path, "Renamed", error)) << error;
    ReadProfile(path.c_str());
    ASSERT_EQ(ProfileLoaded, 1);
    EXPECT_EQ(EncoderSettings.profileDescription, "Renamed");
    EXPECT_EQ(EncoderSettings.inputFileName, "ZRNV2_EXT");
    EXPECT_EQ(EncoderSettings.statisticsFileName, "ZRN311EXT");
    std::string listed;
    int unused = 0;
    ReadProfileHeader(path.c_str(), &listed, &unused, &unused, &unused, &unused, &unused, &unused, &unused, &unused,
                      &unused, &unused);
    EXPECT_EQ(listed, "Renamed");

    // Without the MPEG-2 section the version 2 marker stands where that section is looked
    // for and is dropped: the reader, like the list, has no description; the manager none to rename.
    std::vector<std::string> lines = Lines(testsupport::ReadFile(path));
    lines.erase(lines.begin() + 51, lines.begin() + 55);
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    testsupport::WriteFile(path, text);
    EncoderSettings.profileDescription = "Loaded before";
    ReadProfile(path.c_str());
    EXPECT_EQ(EncoderSettings.profileDescription, "");
    listed.clear();
    ReadProfileHeader(path.c_str(), &listed, &unused, &unused, &unused, &unused, &unused, &unused, &unused, &unused,
                      &unused, &unused);
    EXPECT_EQ(listed, "");
    EXPECT_FALSE(ReadProfileDescriptionLine(path, description, error));
    EXPECT_FALSE(RewriteProfileDescription(path, path, "Other", error));
    EXPECT_EQ(error, "Illegal end of parameters file version 2 extantion\n " + path +
                         "\n file may be corrupted or not completed");
    EXPECT_EQ(testsupport::ReadFile(path), text);
    EXPECT_TRUE(boxes.Texts().empty());
}
