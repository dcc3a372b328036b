// The main settings form inside the main window: an AVI from the command
// line or a drop becomes the input, every edit marks the profile modified,
// the form's values survive a save and a reopen, defaults are saved, and the
// output dialog follows the chosen file type.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "app/AppSettings.h"
#include "app/CMainFrame.h"
#include "app/CMpegDoc.h"
#include "app/CTessmarApp.h"
#include "app/ZRNFileDialog.h"
#include "job/EncoderSettings.h"
#include "job/RunState.h"
#include "platform/Ini.h"
#include "platform/MessageBox.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

QApplication& App() {
    static int argc = 1;
    static char name[] = "frame_form_test";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}

class FrameFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        App();
        if (!testsupport::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
        previous = fs::current_path();
        fs::current_path(dir.path());
        RunState = 1;
        PauseFlag = 0;
    }
    void TearDown() override {
        if (!previous.empty()) fs::current_path(previous);
    }
    std::string MakeAvi(const std::string& name, const char* size) {
        const std::string file = (dir / name).string();
        EXPECT_EQ(testsupport::RunCommand(std::string("ffmpeg -v error -y -f lavfi -i testsrc2=size=") + size +
                                          ":rate=25 -t 0.4 -c:v mjpeg '" + file + "'"),
                  0);
        return file;
    }
    std::unique_ptr<CTessmarApp> Start(std::vector<std::string> arguments = {}) {
        auto app = std::make_unique<CTessmarApp>();
        EXPECT_TRUE(app->InitInstance(arguments));
        return app;
    }
    QLineEdit* Edit(CTessmarApp& app, const char* id) {
        auto* edit = app.MainFrame()->findChild<QLineEdit*>(id);
        EXPECT_NE(edit, nullptr) << id;
        return edit;
    }
    std::string Text(CTessmarApp& app, const char* id) { return Edit(app, id)->text().toStdString(); }

    testsupport::TempDir dir;
    fs::path previous;
    platform::ScriptedMessageBoxes boxes;
};

TEST_F(FrameFormTest, CommandLineAviBecomesTheInputAndEditsMarkTheProfile) {
    const std::string avi = MakeAvi("clip.avi", "320x240");
    auto app = Start({avi});
    EXPECT_EQ(Text(*app, "1001"), avi);
    EXPECT_EQ(Text(*app, "1003"), "320");
    EXPECT_EQ(Text(*app, "1007"), "240");
    EXPECT_EQ(Text(*app, "1004"), "10");
    EXPECT_EQ(PendingInputFlag, 0);

    app->Document()->SetModifiedFlag(false);
    Edit(*app, "1003")->setText("336");
    EXPECT_TRUE(app->Document()->IsModified());

    // Save stores what the form shows; a reset and the recent entry bring it back.
    QTimer::singleShot(0, [] {
        QWidget* dialog = QApplication::activeModalWidget();
        ASSERT_NE(dialog, nullptr);
        dialog->findChild<QLineEdit*>("1112")->setText("Small clip");
        dialog->findChild<QPushButton*>("1")->click();
    });
    app->MainFrame()->findChild<QAction*>("57603")->trigger();
    ASSERT_FALSE(app->Document()->IsModified());
    const std::string saved = app->Document()->ProfilePath();
    EXPECT_TRUE(fs::exists(saved));

    app->MainFrame()->findChild<QAction*>("57600")->trigger();
    EXPECT_EQ(Text(*app, "1003"), "352");
    EXPECT_EQ(app->MainFrame()->windowTitle(), "Untitled - ZRN-MPEG Encoder");
    app->MainFrame()->findChild<QAction*>("57616")->trigger();
    EXPECT_EQ(app->Document()->ProfilePath(), saved);
    EXPECT_EQ(Text(*app, "1003"), "336");
    EXPECT_EQ(Text(*app, "1001"), avi);
    EXPECT_EQ(app->MainFrame()->windowTitle(), "Small clip - ZRN-MPEG Encoder");
    EXPECT_FALSE(app->Document()->IsModified());
}

TEST_F(FrameFormTest, DroppedAviIsTheInputAndDroppedProfileOpens) {
    auto app = Start();
    const std::string avi = MakeAvi("drop.avi", "176x144");
    const int beeps = platform::BeepCount();
    ASSERT_TRUE(app->MainFrame()->DropFile(avi));
    EXPECT_EQ(platform::BeepCount(), beeps + 1);
    EXPECT_EQ(Text(*app, "1001"), avi);
    EXPECT_EQ(Text(*app, "1003"), "176");
    EXPECT_EQ(fs::current_path(), dir.path());  // the AVI's folder

    // A file that is no AVI at all is refused without the success beep.
    testsupport::WriteFile(dir / "fake.avi", "not a video");
    EXPECT_FALSE(app->MainFrame()->DropFile((dir / "fake.avi").string()));
    EXPECT_EQ(platform::BeepCount(), beeps + 1);
    boxes.Clear();

    // A profile written elsewhere opens, and the form shows it.
    EncoderSettings.horizontalSize = 480;
    EncoderSettings.profileDescription = "Dropped";
    const std::string profile = (dir / "dropped.prf").string();
    ASSERT_EQ(SaveProfileFile(profile.c_str()) > 0, true);
    ASSERT_TRUE(app->MainFrame()->DropFile(profile));
    EXPECT_EQ(app->Document()->ProfilePath(), profile);
    EXPECT_EQ(Text(*app, "1003"), "480");
}

TEST_F(FrameFormTest, SaveSettingsAsDefaultWritesTheDisplayKeysAndTheDefaultProfile) {
    auto app = Start();
    EncoderSettings.showInput = 0;
    app->MainFrame()->findChild<QAction*>("32777")->trigger();  // input preview on
    EXPECT_EQ(EncoderSettings.showInput, 1);
    EXPECT_TRUE(app->Document()->IsModified());
    app->MainFrame()->findChild<QAction*>("32790")->trigger();
    EXPECT_EQ(platform::IniReadInt("ZRN-MPEG", "default_show_input", 0, SettingsFileName), 2);
    EXPECT_TRUE(fs::exists(DefaultProfileFileName()));
    app->Document()->SetModifiedFlag(false);
}

TEST(ZrnFileDialogTest, TypeChangeFollowsTheChosenType) {
    App();
    ZRNFileDialog dialog(false, "m1v", "my.clip.v1", "MPEG-1 video (*.m1v)|*.m1v|MPEG Files (*.mpg)|*.mpg||",
                         nullptr);
    dialog.show();
    auto* types = dialog.findChild<QComboBox*>("fileTypeCombo");
    ASSERT_NE(types, nullptr);
    ASSERT_EQ(types->count(), 2);
    types->setCurrentIndex(1);
    emit types->activated(1);
    EXPECT_EQ(dialog.TypedName(), "my.clip.mpg");
    dialog.findChild<QLineEdit*>("fileNameEdit")->clear();
    types->setCurrentIndex(0);
    emit types->activated(0);
    EXPECT_EQ(dialog.TypedName(), "");  // an empty name stays empty
    dialog.reject();
}

}  // namespace
