// The main window as the user meets it: start-up, menus and their update
// rules, closing or ending the session during an encoding, importing a
// profile, drops, the smallest size, the recent profiles across a restart, a picture of the window, and the main settings
// form inside it (AVI inputs, edits marking the profile, saved defaults).
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QToolBar>

#include "app/AppSettings.h"
#include "app/CMainFrame.h"
#include "app/CMpegDoc.h"
#include "app/CTessmarApp.h"
#include "app/RecentFileList.h"
#include "app/ZRNFileDialog.h"
#include "job/Profile.h"
#include "platform/Ini.h"
#include "platform/MessageBox.h"
#include "settings/EncoderSettings.h"
#include "settings/JobState.h"
#include "settings/Report.h"
#include "settings/RunState.h"
#include "tests/app/frame_util.h"
#include "tests/support/QtTestSupport.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;
using qttest::App;

namespace {

class WindowTest : public qttest::FolderTest {
protected:
    void SetUp() override {
        qttest::KeyEventApp();
        FolderTest::SetUp();
    }

    std::unique_ptr<CTessmarApp> Start(std::vector<std::string> arguments = {}) {
        auto app = std::make_unique<CTessmarApp>();
        EXPECT_TRUE(app->InitInstance(arguments));
        return app;
    }
    static QAction* Command(CTessmarApp& app, int id) {
        return app.MainFrame()->findChild<QAction*>(QString::number(id));
    }
    static QLineEdit* Edit(CTessmarApp& app, const char* id) { return app.MainFrame()->findChild<QLineEdit*>(id); }
    static std::string Text(CTessmarApp& app, const char* id) { return Edit(app, id)->text().toStdString(); }
    // An ffmpeg-made AVI of 10 frames at 25 frames/s; empty without ffmpeg.
    std::string MakeAvi(const std::string& name, const char* size) {
        if (!testsupport::HaveTool("ffmpeg")) return std::string();
        const std::string file = (dir_ / name).string();
        EXPECT_EQ(testsupport::RunCommand(std::string("ffmpeg -v error -y -f lavfi -i testsrc2=size=") + size +
                                          ":rate=25 -t 0.4 -c:v mjpeg '" + file + "'"),
                  0);
        return file;
    }

    platform::ScriptedMessageBoxes boxes;
};

TEST_F(WindowTest, StartsWithMenuToolBarStatusBarAndAPicture) {
    auto app = Start();
    CMainFrame* frame = app->MainFrame();
    ASSERT_NE(frame, nullptr);
    EXPECT_TRUE(frame->isVisible());
    EXPECT_EQ(frame->windowTitle(), "Untitled - Tessmar");
    EXPECT_EQ(ProfileDirectory, (dir_.path() / "profiles").string() + "/");
    EXPECT_TRUE(boxes.Shown().empty());

    QStringList menus;
    for (QAction* menu : frame->menuBar()->actions()) menus << menu->text();
    EXPECT_EQ(menus, (QStringList{"&File", "&Action", "&View", "&Help"}));
    auto* toolBar = frame->findChild<QToolBar*>("59392");
    ASSERT_NE(toolBar, nullptr);
    EXPECT_EQ(toolBar->actions().size(), 13);
    EXPECT_NE(frame->findChild<QStatusBar*>("59393"), nullptr);

    // An empty recent list shows the single disabled item.
    QAction* recent = Command(*app, 57616);
    ASSERT_NE(recent, nullptr);
    EXPECT_EQ(recent->text(), "Recent File");
    EXPECT_FALSE(recent->isEnabled());

    // The frame cannot become smaller than it started, and fits the desktop.
    const QSize initial = frame->size();
    EXPECT_EQ(frame->minimumSize(), initial);
    frame->resize(200, 150);
    EXPECT_EQ(frame->size(), initial);
    const QRect desktop = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE(initial.width(), desktop.width());
    EXPECT_LE(initial.height(), desktop.height());

    QApplication::processEvents();
    const QImage shot = frame->grab().toImage();
    EXPECT_EQ(shot.size(), frame->size());
    shot.save(QString::fromStdString((previous_ / "frame_window.png").string()));  // for a look by eye
    // The form is shown inside the picture with its controls.
    auto* form = frame->findChild<QWidget*>("203");
    ASSERT_NE(form, nullptr);
    EXPECT_TRUE(QRect(QPoint(0, 0), frame->size()).contains(QRect(form->mapTo(frame, QPoint(0, 0)), form->size())));
    for (const char* id : {"1001", "1002", "1005", "1011", "1012", "1016"}) {
        auto* control = form->findChild<QWidget*>(id);
        ASSERT_NE(control, nullptr) << id;
        EXPECT_TRUE(control->isVisible()) << id;
    }
    // The tool bar's row is drawn (not one flat colour).
    const int row = toolBar->geometry().center().y();
    bool varied = false;
    for (int x = 1; x < shot.width() && !varied; ++x) varied = shot.pixel(x, row) != shot.pixel(0, row);
    EXPECT_TRUE(varied);
}

TEST_F(WindowTest, CommandsFollowTheRunState) {
    auto app = Start();
    CMainFrame* frame = app->MainFrame();
    const std::vector<int> idleOnly{57600, 57601, 57603, 57604, 32790};
    for (int id : idleOnly) EXPECT_TRUE(Command(*app, id)->isEnabled()) << id;
    EXPECT_EQ(Command(*app, 57600)->shortcut(), QKeySequence("Ctrl+R"));
    EXPECT_EQ(Command(*app, 57601)->shortcut(), QKeySequence("Ctrl+O"));
    // Commands whose owners are not there yet stay closed.
    EXPECT_FALSE(Command(*app, 32771)->isEnabled());
    // Batch processing and the profile manager are there while idle.
    EXPECT_TRUE(Command(*app, 32795)->isEnabled());
    EXPECT_TRUE(Command(*app, 32797)->isEnabled());

    RunState = 2;
    frame->UpdateCommandStates();
    for (int id : idleOnly) EXPECT_FALSE(Command(*app, id)->isEnabled()) << id;
    EXPECT_FALSE(Command(*app, 32795)->isEnabled());
    EXPECT_FALSE(Command(*app, 32797)->isEnabled());
    // Triggered anyway (a shortcut before the update): nothing happens.
    app->Document()->SetModifiedFlag(true);
    Command(*app, 57600)->setEnabled(true);
    Command(*app, 57600)->trigger();
    EXPECT_TRUE(boxes.Shown().empty());
    EXPECT_TRUE(app->Document()->IsModified());

    // A recent profile is refused while encoding.
    app->RecentFiles().Add("/x/a.prf");
    app->OnOpenRecentFile(57616);
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].text,
              "\nCannot select profile while encoding. \nPlease stop encoding before selecting profile.");
    EXPECT_EQ(boxes.Shown()[0].icon, platform::MbIcon::Stop);

    RunState = 1;
    frame->UpdateCommandStates();
    for (int id : idleOnly) EXPECT_TRUE(Command(*app, id)->isEnabled()) << id;
    app->Document()->SetModifiedFlag(false);

    // Alt+P (Pause) with nothing encoding types nothing into the focused field; P alone does.
    QLineEdit* input = Edit(*app, "1001");
    input->setText("clip");
    for (const auto modifier : {Qt::AltModifier, Qt::NoModifier}) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_P, modifier, "p");
        QApplication::sendEvent(input, &press);
    }
    EXPECT_EQ(input->text().toStdString(), "clipp");
    EXPECT_EQ(PauseFlag, 0);
}

TEST_F(WindowTest, ClosingOrEndingTheSessionDuringAPausedEncodingStopsIt) {
    auto app = Start();
    CMainFrame* frame = app->MainFrame();
    auto pausedEncoding = [] {
        RunState = 2;
        PauseFlag = 1;
        UserStopFlag = 0;
    };
    // Ending the session asks as a close does, a batch between two jobs too;
    // No keeps the session, Yes stops the encoding and the batch and lets it end.
    RunState = 1;
    for (int batchMode : {1, 0}) {
        BatchMode = batchMode;
        for (auto answer : {platform::MbAnswer::No, platform::MbAnswer::Yes}) {
            if (batchMode == 0) pausedEncoding();
            BatchStopRequested = 0;
            boxes.Answer(answer);
            const size_t before = boxes.Texts().size();
            EXPECT_EQ(app->QueryEndSession(), answer == platform::MbAnswer::Yes);
            ASSERT_EQ(boxes.Texts().size(), before + 1);
            EXPECT_EQ(boxes.Texts().back(), batchMode ? " Do you wish to stop the batch encoding ? "
                                                      : " Do you wish to stop the encoding ? ");
            EXPECT_EQ(BatchStopRequested, answer == platform::MbAnswer::Yes);
            EXPECT_EQ(boxes.Shown().back().icon, platform::MbIcon::Question);
            EXPECT_EQ(RunState, batchMode || answer == platform::MbAnswer::No ? batchMode ? 1 : 2 : 3);
        }
    }
    BatchMode = 1;
    BatchStopRequested = 0;
    RunState = 3;  // a batch between two passes of its job asks as well
    const size_t asked = boxes.Texts().size();
    boxes.Answer(platform::MbAnswer::No);
    EXPECT_FALSE(frame->close());
    EXPECT_EQ(boxes.Texts().size(), asked + 1);
    pausedEncoding();
    for (auto answer : {platform::MbAnswer::No, platform::MbAnswer::Yes}) {  // a close asks as Stop does
        boxes.Answer(answer);
        EXPECT_FALSE(frame->close());
        EXPECT_EQ(BatchStopRequested, answer == platform::MbAnswer::Yes);  // Yes stops the batch too
    }
    BatchMode = 0;
    EXPECT_TRUE(frame->isVisible());
    EXPECT_EQ(RunState, 3);
    EXPECT_EQ(PauseFlag, 0);
    EXPECT_EQ(UserStopFlag, 1);
    const size_t asked2 = boxes.Texts().size();
    int interactions = 0;
    auto refuse = [&] { return ++interactions, false; };
    EXPECT_FALSE(app->QueryEndSession(refuse));  // nothing may be asked: the encoding is kept
    EXPECT_TRUE(app->QueryEndSession());         // stopping, as the user asked: nothing more to ask
    EXPECT_EQ(boxes.Texts().size(), asked2);
    EXPECT_EQ(RunState, 3);

    // Once the encoding has ended, closing and ending the session ask about unsaved changes.
    RunState = 1;
    app->Document()->SetModifiedFlag(true);
    boxes.Answer(platform::MbAnswer::Cancel);
    EXPECT_FALSE(app->QueryEndSession());
    boxes.Answer(platform::MbAnswer::Cancel);
    EXPECT_FALSE(frame->close());
    EXPECT_TRUE(frame->isVisible());
    EXPECT_FALSE(app->QueryEndSession(refuse));
    boxes.Answer(platform::MbAnswer::No);
    EXPECT_TRUE(app->QueryEndSession());
    app->Document()->SetModifiedFlag(false);
    EXPECT_TRUE(app->QueryEndSession(refuse));  // nothing to ask: no interaction is asked for
    EXPECT_EQ(interactions, 2);
    boxes.Answer(platform::MbAnswer::No);
    EXPECT_TRUE(frame->close());
}

// The import dialog's answer is given by the test.
class ImportingApp : public CTessmarApp {
public:
    std::string chosen;

protected:
    std::string ChooseProfileFile() override { return chosen; }
};

TEST_F(WindowTest, ImportedProfileBecomesTheDocument) {
    auto app = std::make_unique<ImportingApp>();
    ASSERT_TRUE(app->InitInstance({}));
    const std::string untitled = app->MainFrame()->windowTitle().toStdString();
    EncoderSettings.horizontalSize = 480;
    EncoderSettings.profileDescription = "Imported";
    const std::string profile = (dir_ / "elsewhere.prf").string();
    ASSERT_GT(SaveProfileFile(profile.c_str()), 0);
    ResetProfileParameters();

    // A cancelled dialog changes nothing.
    Command(*app, 57600)->trigger();
    Command(*app, 57601)->trigger();
    EXPECT_EQ(app->Document()->ProfilePath(), "");
    EXPECT_EQ(app->MainFrame()->windowTitle().toStdString(), untitled);

    // Unsaved changes are asked about first; Cancel keeps them and the document.
    Edit(*app, "1003")->setText("336");
    ASSERT_TRUE(app->Document()->IsModified());
    app->chosen = profile;
    boxes.Answer(platform::MbAnswer::Cancel);
    Command(*app, 57601)->trigger();
    EXPECT_EQ(Text(*app, "1003"), "336");
    EXPECT_EQ(app->Document()->ProfilePath(), "");

    boxes.Answer(platform::MbAnswer::No);
    Command(*app, 57601)->trigger();
    EXPECT_EQ(app->Document()->ProfilePath(), profile);
    EXPECT_FALSE(app->Document()->IsModified());
    EXPECT_EQ(Text(*app, "1003"), "480");
    EXPECT_EQ(EncoderSettings.horizontalSize, 480);
    EXPECT_EQ(app->MainFrame()->windowTitle(), "Imported - Tessmar");
    EXPECT_EQ(Command(*app, 57616)->text().toStdString(), "&1 " + profile);

    // A file that is no profile is refused and the imported one stays.
    testsupport::WriteFile(dir_ / "broken.prf", "not a profile");
    app->chosen = (dir_ / "broken.prf").string();
    boxes.Clear();
    Command(*app, 57601)->trigger();
    EXPECT_FALSE(boxes.Texts().empty());
    EXPECT_EQ(app->Document()->ProfilePath(), profile);
    EXPECT_EQ(app->MainFrame()->windowTitle(), "Imported - Tessmar");
    EXPECT_EQ(Command(*app, 57616)->text().toStdString(), "&1 " + profile);

    // So is one whose values the checks refuse: the settings, the form and the list stay.
    EncoderSettings.horizontalSize = -99999;
    ASSERT_GT(SaveProfileFile(app->chosen.c_str()), 0);
    EncoderSettings.horizontalSize = 480;
    Command(*app, 57601)->trigger();
    EXPECT_EQ(boxes.Texts().back(), "Horizontal_size must be between 16 and 16368.");
    EXPECT_EQ(EncoderSettings.horizontalSize + std::stoi(Text(*app, "1003")), 960);
    EXPECT_EQ(Command(*app, 57616)->text().toStdString(), "&1 " + profile);
}

TEST_F(WindowTest, RecentProfilesSurviveARestartAndDropsOpenProfiles) {
    std::string saved;
    {
        auto app = Start();
        frametest::AnswerDescriptionDialog({"Travel"});
        Command(*app, 57603)->trigger();
        saved = app->Document()->ProfilePath();
        ASSERT_FALSE(saved.empty());
        EXPECT_EQ(app->MainFrame()->windowTitle(), "Travel - Tessmar");
        EXPECT_EQ(Command(*app, 57616)->text(), "&1 Travel");
    }
    RunState = 1;
    auto app = Start();
    QAction* entry = Command(*app, 57616);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->text(), "&1 Travel");
    EXPECT_TRUE(entry->isEnabled());
    entry->trigger();
    EXPECT_EQ(app->Document()->ProfilePath(), saved);
    EXPECT_EQ(app->MainFrame()->windowTitle(), "Travel - Tessmar");

    // A dropped profile opens; only names of five characters or more count.
    ASSERT_TRUE(app->Document()->OnNewDocument());
    EXPECT_TRUE(app->MainFrame()->DropFile(saved));
    EXPECT_EQ(app->Document()->ProfilePath(), saved);
    EXPECT_FALSE(app->MainFrame()->DropFile(".prf"));
    EXPECT_FALSE(app->MainFrame()->DropFile((dir_ / "notes.txt").string()));
}

TEST_F(WindowTest, CommandLineAviBecomesTheInputAndEditsMarkTheProfile) {
    const std::string avi = MakeAvi("clip.avi", "320x240");
    if (avi.empty()) GTEST_SKIP() << "ffmpeg is not installed";
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
    frametest::AnswerDescriptionDialog({"Small clip"});
    app->MainFrame()->findChild<QAction*>("57603")->trigger();
    ASSERT_FALSE(app->Document()->IsModified());
    const std::string saved = app->Document()->ProfilePath();
    EXPECT_TRUE(fs::exists(saved));

    app->MainFrame()->findChild<QAction*>("57600")->trigger();
    EXPECT_EQ(Text(*app, "1003"), "352");
    EXPECT_EQ(app->MainFrame()->windowTitle(), "Untitled - Tessmar");
    app->MainFrame()->findChild<QAction*>("57616")->trigger();
    EXPECT_EQ(app->Document()->ProfilePath(), saved);
    EXPECT_EQ(Text(*app, "1003"), "336");
    EXPECT_EQ(Text(*app, "1001"), avi);
    EXPECT_EQ(app->MainFrame()->windowTitle(), "Small clip - Tessmar");
    EXPECT_FALSE(app->Document()->IsModified());
}

TEST_F(WindowTest, DroppedAviIsTheInputAndDroppedProfileOpens) {
    auto app = Start();
    const std::string avi = MakeAvi("drop.avi", "176x144");
    if (avi.empty()) GTEST_SKIP() << "ffmpeg is not installed";
    const int beeps = platform::BeepCount();
    ASSERT_TRUE(app->MainFrame()->DropFile(avi));
    EXPECT_EQ(platform::BeepCount(), beeps + 1);
    EXPECT_EQ(Text(*app, "1001"), avi);
    EXPECT_EQ(Text(*app, "1003"), "176");
    EXPECT_EQ(fs::current_path(), dir_.path());  // the AVI's folder

    // A file that is no AVI at all is refused without the success beep.
    testsupport::WriteFile(dir_ / "fake.avi", "not a video");
    EXPECT_FALSE(app->MainFrame()->DropFile((dir_ / "fake.avi").string()));
    EXPECT_EQ(platform::BeepCount(), beeps + 1);
    boxes.Clear();

    // A profile written elsewhere opens, and the form shows it.
    EncoderSettings.horizontalSize = 480;
    EncoderSettings.profileDescription = "Dropped";
    const std::string profile = (dir_ / "dropped.prf").string();
    ASSERT_EQ(SaveProfileFile(profile.c_str()) > 0, true);
    ASSERT_TRUE(app->MainFrame()->DropFile(profile));
    EXPECT_EQ(app->Document()->ProfilePath(), profile);
    EXPECT_EQ(Text(*app, "1003"), "480");
}

TEST_F(WindowTest, SaveSettingsAsDefaultWritesTheDisplayKeysAndTheDefaultProfile) {
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
