// Encodings started from the main window, as the user runs them: Start with
// an ffmpeg-made AVI, the previews during the passes, the status text and an
// output that ffmpeg decodes picture for picture; Stop, Pause and closing the
// window in the middle of the video pass.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QImage>
#include <QLineEdit>
#include <QGuiApplication>
#include <QRadioButton>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>

#include "app/AppSettings.h"
#include "app/CMainFrame.h"
#include "app/CMainSettingsForm.h"
#include "app/CMpegView.h"
#include "app/CTessmarApp.h"
#include "app/PreviewPanes.h"
#include "engine/EngineState.h"
#include "job/EncoderSettings.h"
#include "job/JobDriver.h"
#include "job/Profile.h"
#include "job/Preview.h"
#include "job/RunState.h"
#include "platform/MessageBox.h"
#include "tests/support/QtTestSupport.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;
using platform::MbAnswer;
using testsupport::RunCommand;

namespace {

std::string ReadAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Whether a grabbed picture window shows something else than `idle` and is not one flat colour.
bool ShowsAPicture(const QImage& grabbed, const QImage& idle) {
    if (grabbed.isNull() || grabbed == idle) return false;
    const QImage image = grabbed.convertToFormat(QImage::Format_RGB32);
    const QRgb first = image.pixel(image.width() / 2, image.height() / 2);
    int differing = 0;
    for (int y = 4; y < image.height() - 4; y += 7)
        for (int x = 4; x < image.width() - 4; x += 7) differing += image.pixel(x, y) != first;
    return differing > 20;
}

class ViewEncodeTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testsupport::HaveTool("ffmpeg") || !testsupport::HaveTool("ffprobe")) GTEST_SKIP() << "no ffmpeg";
        qttest::App();
        previous_ = fs::current_path();
        fs::current_path(dir_.path());
        RunState = 1;
        PauseFlag = 0;
        app_ = std::make_unique<CTessmarApp>();
        ASSERT_TRUE(app_->InitInstance({}));
        frame_ = app_->MainFrame();
        // The new document of the start, with no default profile: the built-in settings encode.
        fs::create_directories(dir_ / "out");
        ASSERT_TRUE(SetMainMpegOutputDirectory((dir_ / "out").string() + "/"));
    }
    void TearDown() override {
        app_.reset();
        fs::current_path(previous_);
    }

    QAction* Command(int id) { return frame_->findChild<QAction*>(QString::number(id)); }
    template <class T>
    T* Get(const char* id) {
        T* w = frame_->findChild<T*>(id);
        EXPECT_NE(w, nullptr) << id;
        return w;
    }
    QImage Grab(int pane) { return StatViewInstance->Picture(pane)->grab().toImage(); }
    std::string Status() { return frame_->statusBar()->currentMessage().toStdString(); }

    // A 352 x 288 AVI at 25 frames/s with 44.1 kHz stereo PCM, taken up by the form.
    std::string ChooseAvi(int frames) {
        const std::string avi = (dir_ / "clip.avi").string();
        EXPECT_EQ(RunCommand("ffmpeg -v error -y -f lavfi -i testsrc2=size=352x288:rate=25 -f lavfi -i "
                             "sine=frequency=440:sample_rate=44100 -frames:v " +
                             std::to_string(frames) + " -t " + std::to_string(frames / 25.0) +
                             " -ac 2 -c:v mjpeg -c:a pcm_s16le '" + avi + "'"),
                  0);
        EXPECT_EQ(MainSettingsForm->SetInputFile(avi), 1);
        // MPEG-1 for a Video-CD (the preset takes 25 frames/s from the 288 lines).
        Get<QRadioButton>("1011")->click();
        Get<QCheckBox>("1148")->click();
        EXPECT_TRUE(Get<QCheckBox>("1148")->isChecked());
        return avi;
    }
    std::string Output() { return Get<QLineEdit>("1005")->text().toStdString(); }

    // Runs `watch` every 20 ms while Start runs (the job pumps the events).
    void StartWatching(std::function<void()> watch) {
        auto* timer = new QTimer(frame_);
        QObject::connect(timer, &QTimer::timeout, frame_, std::move(watch));
        timer->start(20);
        ASSERT_TRUE(Command(32771)->isEnabled());
        Command(32771)->trigger();
        delete timer;
    }

    int DecodedFrames(const std::string& file) {
        std::string out;
        EXPECT_EQ(RunCommand("ffmpeg -v error -xerror -i '" + file + "' -f null - 2>&1", &out), 0) << out;
        EXPECT_EQ(out, "");
        std::string count;
        RunCommand("ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames "
                   "-of csv=p=0 '" + file + "'",
                   &count);
        return std::atoi(count.c_str());
    }

    testsupport::TempDir dir_;
    fs::path previous_;
    platform::ScriptedMessageBoxes boxes_;
    std::unique_ptr<CTessmarApp> app_;
    CMainFrame* frame_ = nullptr;
};

TEST_F(ViewEncodeTest, StartEncodesAVideoCdStreamWithBothPreviews) {
    ChooseAvi(90);
    if (!EncoderSettings.showInput) Command(32777)->trigger();
    ASSERT_EQ(EncoderSettings.showInput, 1);
    ASSERT_EQ(EncoderSettings.showOutput, 1);
    const std::string output = Output();
    ASSERT_EQ(fs::path(output).extension(), ".mpg");
    const QImage idleInput = Grab(kInputPane), idleOutput = Grab(kOutputPane);
    EXPECT_FALSE(ShowsAPicture(idleInput, idleInput));

    bool inputShown = false, outputShown = false, formHidden = true, pictured = false;
    StartWatching([&] {
        if (RunState != 2) return;
        formHidden = formHidden && !MainSettingsForm->isVisible();
        if (EncodedFrameCount < 20) return;
        inputShown = inputShown || ShowsAPicture(Grab(kInputPane), idleInput);
        outputShown = outputShown || ShowsAPicture(Grab(kOutputPane), idleOutput);
        if (EncodedFrameCount >= 45 && !pictured) {
            // A picture of the window in the middle of the pass, kept beside the test program.
            pictured = true;
            QScreen* screen = frame_->screen();
            const QImage window = QGuiApplication::platformName() == "xcb" && screen
                                      ? screen->grabWindow(frame_->winId()).toImage()
                                      : frame_->grab().toImage();
            EXPECT_TRUE(window.save(QString::fromStdString((previous_ / "view_encoding.png").string())));
        }
    });
    EXPECT_TRUE(pictured);
    EXPECT_TRUE(inputShown);
    EXPECT_TRUE(outputShown);
    EXPECT_TRUE(formHidden);
    EXPECT_EQ(JobResult, 0) << testing::PrintToString(boxes_.Texts());
    EXPECT_EQ(Status(), " MPEG encoding completed ");
    EXPECT_TRUE(MainSettingsForm->isVisible());
    EXPECT_TRUE(MainSettingsForm->isEnabled());
    EXPECT_TRUE(frame_->acceptDrops());
    EXPECT_EQ(EncodingActive, 0);
    EXPECT_EQ(DecodedFrames(output), 90);
}

TEST_F(ViewEncodeTest, StopEndsTheVideoPassAndKeepsTheEarlierFile) {
    ChooseAvi(150);
    const std::string output = Output();
    { std::ofstream(output) << "an earlier file"; }
    bool asked = false;
    StartWatching([&] {
        if (RunState != 2 || EncodedFrameCount < 10 || asked) return;
        asked = true;
        boxes_.Clear();
        boxes_.Answer(MbAnswer::Yes);
        Command(32772)->trigger();
    });
    ASSERT_TRUE(asked);
    EXPECT_LT(EncodedFrameCount, 150);
    EXPECT_EQ(Status(), " MPEG encoding aborted by user ");
    EXPECT_EQ(ReadAll(output), "an earlier file");
    // Nothing but the earlier file is left in the output folder.
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(fs::path(output).parent_path()))
        left.push_back(entry.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{fs::path(output).filename().string()});
    EXPECT_TRUE(MainSettingsForm->isVisible());
    EXPECT_TRUE(frame_->acceptDrops());
    ASSERT_FALSE(boxes_.Shown().empty());
    EXPECT_EQ(boxes_.Shown().front().text, " Do you wish to stop the encoding ? ");
}

TEST_F(ViewEncodeTest, PauseHoldsThePassAndStartResumesIt) {
    ChooseAvi(60);
    const std::string output = Output();
    bool paused = false, resumed = false, checkedMark = false, held = true;
    int heldAt = -1, heldFor = 0;
    StartWatching([&] {
        if (RunState != 2 || resumed) return;
        if (!paused && EncodedFrameCount >= 5) {
            Command(32775)->trigger();
            paused = true;
            return;
        }
        if (!paused) return;
        checkedMark = checkedMark || Command(32775)->isChecked();
        // The picture under way when Pause came is finished; then nothing moves.
        if (++heldFor == 3) heldAt = EncodedFrameCount;
        if (heldFor > 3) held = held && EncodedFrameCount == heldAt;
        if (heldFor == 15) {
            // Start during a pause resumes the paused encoding and starts nothing new.
            MainView->OnStartEncoding();
            resumed = true;
        }
    });
    EXPECT_TRUE(held);
    EXPECT_TRUE(resumed);
    EXPECT_TRUE(checkedMark);
    EXPECT_EQ(JobResult, 0) << testing::PrintToString(boxes_.Texts());
    EXPECT_EQ(DecodedFrames(output), 60);
}

TEST_F(ViewEncodeTest, ClosingTheWindowStopsTheEncoding) {
    ChooseAvi(150);
    const std::string output = Output();
    bool closed = false;
    StartWatching([&] {
        if (RunState != 2 || EncodedFrameCount < 5 || closed) return;
        closed = true;
        frame_->close();
    });
    ASSERT_TRUE(closed);
    EXPECT_EQ(Status(), " MPEG encoding aborted by user ");
    EXPECT_FALSE(fs::exists(output));
    EXPECT_TRUE(frame_->isVisible());
}

}  // namespace
