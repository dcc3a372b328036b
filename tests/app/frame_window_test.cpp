// The main window as the user meets it: start-up, menus and their update
// rules, closing during an encoding, drops, the smallest size, the recent
// profiles across a restart, and a picture of the window.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

#include "app/AppSettings.h"
#include "app/CMainFrame.h"
#include "app/CMpegDoc.h"
#include "app/CTessmarApp.h"
#include "app/RecentFileList.h"
#include "job/EncoderSettings.h"
#include "job/JobState.h"
#include "job/RunState.h"
#include "platform/MessageBox.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

QApplication& App() {
    static int argc = 1;
    static char name[] = "frame_window_test";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}

void AnswerDescriptionDialog(const std::string& text) {
    QTimer::singleShot(0, [text] {
        QWidget* dialog = QApplication::activeModalWidget();
        ASSERT_NE(dialog, nullptr);
        dialog->findChild<QLineEdit*>("1112")->setText(QString::fromStdString(text));
        dialog->findChild<QPushButton*>("1")->click();
    });
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        App();
        previous = fs::current_path();
        fs::current_path(dir.path());  // the profile folder is made here at the first start
        RunState = 1;
        PauseFlag = 0;
    }
    void TearDown() override { fs::current_path(previous); }

    std::unique_ptr<CTessmarApp> Start(std::vector<std::string> arguments = {}) {
        auto app = std::make_unique<CTessmarApp>();
        EXPECT_TRUE(app->InitInstance(arguments));
        return app;
    }
    static QAction* Command(CTessmarApp& app, int id) {
        return app.MainFrame()->findChild<QAction*>(QString::number(id));
    }

    testsupport::TempDir dir;
    fs::path previous;
    platform::ScriptedMessageBoxes boxes;
};

TEST_F(WindowTest, StartsWithMenuToolBarStatusBarAndAPicture) {
    auto app = Start();
    CMainFrame* frame = app->MainFrame();
    ASSERT_NE(frame, nullptr);
    EXPECT_TRUE(frame->isVisible());
    EXPECT_EQ(frame->windowTitle(), "Untitled - ZRN-MPEG Encoder");
    EXPECT_EQ(ProfileDirectory, (dir.path() / "profiles").string() + "/");
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
    shot.save(QString::fromStdString((previous / "frame_window.png").string()));  // for a look by eye
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
    EXPECT_FALSE(Command(*app, 32795)->isEnabled());
    EXPECT_FALSE(Command(*app, 32771)->isEnabled());

    RunState = 2;
    frame->UpdateCommandStates();
    for (int id : idleOnly) EXPECT_FALSE(Command(*app, id)->isEnabled()) << id;
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

    // The preview switches only beep while encoding.
    const int beeps = platform::BeepCount();
    const int shown = EncoderSettings.showInput;
    Command(*app, 32777)->trigger();
    EXPECT_EQ(EncoderSettings.showInput, shown);
    EXPECT_EQ(platform::BeepCount(), beeps + 1);

    RunState = 1;
    frame->UpdateCommandStates();
    for (int id : idleOnly) EXPECT_TRUE(Command(*app, id)->isEnabled()) << id;
    Command(*app, 32777)->trigger();
    EXPECT_NE(EncoderSettings.showInput, shown);
    EXPECT_EQ(Command(*app, 32777)->isChecked(), EncoderSettings.showInput != 0);
    app->Document()->SetModifiedFlag(false);
}

TEST_F(WindowTest, ClosingDuringAPausedEncodingStopsItAndKeepsTheWindow) {
    auto app = Start();
    CMainFrame* frame = app->MainFrame();
    RunState = 2;
    PauseFlag = 1;
    UserStopFlag = 0;
    EXPECT_FALSE(frame->close());
    EXPECT_TRUE(frame->isVisible());
    EXPECT_EQ(RunState, 3);
    EXPECT_EQ(PauseFlag, 0);
    EXPECT_EQ(UserStopFlag, 1);

    // Once the encoding has ended a close asks about unsaved changes.
    RunState = 1;
    app->Document()->SetModifiedFlag(true);
    boxes.Answer(platform::MbAnswer::Cancel);
    EXPECT_FALSE(frame->close());
    EXPECT_TRUE(frame->isVisible());
    boxes.Answer(platform::MbAnswer::No);
    EXPECT_TRUE(frame->close());
}

TEST_F(WindowTest, RecentProfilesSurviveARestartAndDropsOpenProfiles) {
    std::string saved;
    {
        auto app = Start();
        AnswerDescriptionDialog("Travel");
        Command(*app, 57603)->trigger();
        saved = app->Document()->ProfilePath();
        ASSERT_FALSE(saved.empty());
        EXPECT_EQ(app->MainFrame()->windowTitle(), "Travel - ZRN-MPEG Encoder");
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
    EXPECT_EQ(app->MainFrame()->windowTitle(), "Travel - ZRN-MPEG Encoder");

    // A dropped profile opens; only names of five characters or more count.
    ASSERT_TRUE(app->Document()->OnNewDocument());
    EXPECT_TRUE(app->MainFrame()->DropFile(saved));
    EXPECT_EQ(app->Document()->ProfilePath(), saved);
    EXPECT_FALSE(app->MainFrame()->DropFile(".prf"));
    EXPECT_FALSE(app->MainFrame()->DropFile((dir / "notes.txt").string()));
}

TEST_F(WindowTest, AboutBoxRunsModally) {
    auto app = Start();
    QString about;
    QTimer::singleShot(0, [&about] {
        QWidget* dialog = QApplication::activeModalWidget();
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->objectName(), "156");
        for (QLabel* label : dialog->findChildren<QLabel*>()) about += label->text();
        dialog->findChild<QPushButton*>("1")->click();
    });
    Command(*app, 57664)->trigger();
    EXPECT_TRUE(about.contains("version"));
}

}  // namespace
