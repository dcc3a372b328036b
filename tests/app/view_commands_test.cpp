// The view's commands outside an encoding, from the window: the warnings
// switch and its key, the checks and the outside player of "Preview input
// file" and "Play output file", and the preview panes' layout and idle picture.
#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QImage>
#include <QLineEdit>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "app/AppSettings.h"
#include "app/CMainFrame.h"
#include "app/CMainSettingsForm.h"
#include "app/CMpegView.h"
#include "app/CTessmarApp.h"
#include "app/OutsideProgram.h"
#include "app/PreviewPanes.h"
#include "platform/Ini.h"
#include "platform/MessageBox.h"
#include "settings/EncoderSettings.h"
#include "settings/Preview.h"
#include "settings/RunState.h"
#include "tests/support/QtTestSupport.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;
using platform::MbAnswer;

namespace {

class ViewCommandsTest : public qttest::ProgramTest {
protected:
    QAction* Command(int id) { return frame_->findChild<QAction*>(QString::number(id)); }
    void Type(const char* id, const std::string& text) {
        frame_->findChild<QLineEdit*>(id)->setText(QString::fromStdString(text));
    }
    std::string MakeFile(const std::string& name, size_t bytes) {
        const fs::path file = dir_ / name;
        std::ofstream(file, std::ios::binary) << std::string(bytes, 'x');
        return file.string();
    }
    // The only box shown since the last look, cleared.
    std::string LastBox() {
        std::vector<std::string> texts = boxes_.Texts();
        boxes_.Clear();
        EXPECT_EQ(texts.size(), 1u);
        return texts.empty() ? std::string() : texts.back();
    }
    // Lets the outside programs started end (five seconds at most).
    static void WaitForPrograms() {
        for (int i = 0; i < 250 && OutsideProgramsRunning() > 0; ++i) {
            QCoreApplication::processEvents();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    platform::ScriptedMessageBoxes boxes_;
};

TEST_F(ViewCommandsTest, SuppressingWarningsTwiceComesBackAndWritesTheKeyEachTime) {
    EncoderSettings.suppressWarnings = 0;
    boxes_.Answer(MbAnswer::Yes);
    Command(32807)->trigger();
    EXPECT_NE(LastBox().find("Do you really want to suppress warning messages ?"), std::string::npos);
    EXPECT_EQ(EncoderSettings.suppressWarnings, 1);
    EXPECT_TRUE(Command(32807)->isChecked());
    EXPECT_EQ(platform::IniReadInt("ZRN-MPEG", "SUPPRESS_WARNINGS", -1, SettingsFileName), 1);
    Command(32807)->trigger();
    EXPECT_EQ(LastBox(), "Warning messages have been enabled.");
    EXPECT_EQ(EncoderSettings.suppressWarnings, 0);
    EXPECT_FALSE(Command(32807)->isChecked());
    EXPECT_EQ(platform::IniReadInt("ZRN-MPEG", "SUPPRESS_WARNINGS", -1, SettingsFileName), 0);
    // No keeps it off and writes nothing.
    boxes_.Answer(MbAnswer::No);
    ASSERT_TRUE(platform::IniWriteInt("ZRN-MPEG", "SUPPRESS_WARNINGS", 7, SettingsFileName));
    Command(32807)->trigger();
    LastBox();
    EXPECT_EQ(platform::IniReadInt("ZRN-MPEG", "SUPPRESS_WARNINGS", -1, SettingsFileName), 7);
}

TEST_F(ViewCommandsTest, PlayCommandsCheckTheFileAndStartTheConfiguredPlayer) {
    // Without chosen files there is nothing to preview.
    MainView->OnPreviewInput();
    EXPECT_EQ(LastBox(), "Please specify valid input file name\nbefore trying preview file.");
    SetIdleRunState();
    Type("1001", MakeFile("short.avi", 99));
    MainView->OnPreviewInput();
    EXPECT_EQ(LastBox(), "Can't preview input file: \nspecified file has illegal format or not completed.");
    Type("1001", MakeFile("empty.avi", 0));
    MainView->OnPreviewInput();
    EXPECT_EQ(LastBox(), "Can't preview input file: \nspecified file has zero size.");
    Type("1001", (dir_ / "missing.avi").string());
    MainView->OnPreviewInput();
    EXPECT_EQ(LastBox(), "Can't preview input file: \n\nFile not Found.");

    // A player that is not there.
    ASSERT_TRUE(platform::IniWriteString("ZRN-MPEG", kPlayerKey, "/nonexistent/player --fast", SettingsFileName));
    Type("1001", MakeFile("clip.avi", 4000));
    MainView->OnPreviewInput();
    EXPECT_EQ(LastBox(), "Can't play input file: \nSystem can't start Media player or\ncan't find the specified file.");
    // The configured player gets its arguments and the file.
    const fs::path seen = dir_ / "seen.txt";
    const std::string script = MakeFile("player.sh", 0);
    std::ofstream(script) << "#!/bin/sh\necho \"$@\" > '" << seen.string() << "'\n";
    fs::permissions(script, fs::perms::owner_all);
    ASSERT_TRUE(platform::IniWriteString("ZRN-MPEG", kPlayerKey, script + " --fast", SettingsFileName));
    MainView->OnPreviewInput();
    EXPECT_TRUE(boxes_.Texts().empty());
    WaitForPrograms();
    std::string line;
    std::getline(std::ifstream(seen), line);
    EXPECT_EQ(line, "--fast " + (dir_ / "clip.avi").string());
    // A DVD volume profile plays the volume its output name stands for, no job having run.
    fs::create_directory(dir_ / "VIDEO_TS");
    const std::string title = MakeFile("VIDEO_TS/VTS_01_1.VOB", 4000);
    EncoderSettings.applicationType = kApplicationDvd;
    EncoderSettings.createVob = 1;
    Type("1005", (dir_ / "disc.vob").string());
    MainView->OnPlayOutputFile();
    EncoderSettings.applicationType = kApplicationNone;
    EXPECT_TRUE(boxes_.Texts().empty());
    WaitForPrograms();
    std::getline(std::ifstream(seen), line);
    EXPECT_EQ(line, "--fast " + title);

    // The output twin beeps after its message.
    const int beeps = platform::BeepCount();
    Type("1005", MakeFile("out.mpg", 50));
    MainView->OnPlayOutputFile();
    EXPECT_EQ(LastBox(), "Can't play output file:\n\nSpecified file has illegal format or has not been completed.");
    EXPECT_EQ(platform::BeepCount(), beeps + 1);
}

TEST_F(ViewCommandsTest, PanesFollowTheShowSettingsAndShowTheIdlePicture) {
    frame_->resize(1000, 760);
    QCoreApplication::processEvents();
    CStatView* previews = StatViewInstance;
    ASSERT_NE(previews, nullptr);
    EncoderSettings.showInput = 0;
    EncoderSettings.showOutput = 0;
    EncoderSettings.stretchPreview = 1;
    Command(32777)->trigger();  // input on
    Command(32777)->trigger();  // and off again
    const QRect inside = previews->rect();
    EXPECT_FALSE(inside.intersects(previews->InputPane()->geometry()));
    EXPECT_FALSE(inside.intersects(previews->OutputPane()->geometry()));

    Command(32778)->trigger();  // output on
    ASSERT_EQ(EncoderSettings.showOutput, 1);
    EXPECT_TRUE(inside.contains(previews->OutputPane()->geometry()));
    CPictureWindow* picture = previews->Picture(kOutputPane);
    EXPECT_EQ(picture->size(), QSize(356, 244));
    // The idle picture, unscaled and centred in the 352 x 240 client area.
    const QImage shown = picture->grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_TRUE(IdlePictureLoaded);
    const QImage idle = IdlePictureBitmap.convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(shown.copy(3, 3, 350, 238), idle);
}

// Help and the player go through the desktop's opener: where it is missing,
// or finds no program for the file, the user is told.
TEST_F(ViewCommandsTest, HelpAndPlayerSayWhenNothingOpensTheFile) {
    const std::string path = getenv("PATH") ? getenv("PATH") : "";
    const fs::path bin = dir_ / "bin";
    fs::create_directories(bin);
    setenv("PATH", bin.c_str(), 1);  // no opener at all
    Command(57667)->trigger();
    EXPECT_EQ(LastBox().rfind("Cannot show the help page ", 0), 0u);

    // An opener as xdg-open is on a desktop without a program for the file: status 3.
    std::ofstream(bin / "xdg-open") << "#!/bin/sh\nexit 3\n";
    fs::permissions(bin / "xdg-open", fs::perms::owner_all);
    Command(57667)->trigger();
    WaitForPrograms();
    const std::string help = LastBox();
    EXPECT_EQ(help.rfind("Cannot show the help page ", 0), 0u) << help;
    EXPECT_NE(help.find("tessmar.html"), std::string::npos) << help;

    SetIdleRunState();
    Type("1001", MakeFile("clip.avi", 4000));
    MainView->OnPreviewInput();
    WaitForPrograms();
    EXPECT_EQ(LastBox(), "Can't play input file: \nSystem can't start Media player\nthe specified file is not "
                         "available\nor has unsupported video format.");
    setenv("PATH", path.c_str(), 1);
}

}  // namespace
