// The progress host and its panels as the job drives them through its hooks,
// their keys and Stop button, and the result dialogs with the figures they show.
#include <gtest/gtest.h>

#include <QEventLoop>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <functional>
#include <memory>

#include "app/CMainFrame.h"
#include "app/CompletionDialogs.h"
#include "app/ProgressLogic.h"
#include "app/ProgressPanels.h"
#include "engine/EngineState.h"
#include "engine/PictureDriver.h"
#include "job/AviSource.h"
#include "job/JobDriver.h"
#include "mux/Mplex.h"
#include "platform/MessageBox.h"
#include "platform/ResStrings.h"
#include "platform/System.h"
#include "settings/EncoderSettings.h"
#include "settings/JobState.h"
#include "settings/JobUtil.h"
#include "settings/Report.h"
#include "settings/RunState.h"

namespace {

using platform::MbAnswer;

// Destroyed when the tests are over, before the process's statics: among
// them, Qt's clean-up would run after the hatch-pattern cache it cleans.
QApplication*& AppInstance() {
    static QApplication* app = nullptr;
    return app;
}

class AppEnvironment : public ::testing::Environment {
public:
    void TearDown() override {
        delete AppInstance();
        AppInstance() = nullptr;
    }
};
const auto* const kAppEnvironment = ::testing::AddGlobalTestEnvironment(new AppEnvironment);

QApplication& App() {
    static int argc = 1;
    static char name[] = "progress_panels_test";
    static char* argv[] = {name, nullptr};
    if (!AppInstance()) AppInstance() = new QApplication(argc, argv);
    return *AppInstance();
}

QString TextOf(QWidget* w, int id) {
    auto* label = w->findChild<QLabel*>(QString::number(id));
    return label ? label->text() : QStringLiteral("<missing>");
}

void Press(QWidget* w, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(w, &press);
}

// Runs `look` on the next modal dialog, then closes it.
void OnNextDialog(std::function<void(QDialog*)> look) {
    QTimer::singleShot(0, [look] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        look(dialog);
        dialog->accept();
    });
}

class ProgressPanelsTest : public ::testing::Test {
protected:
    void SetUp() override {
        App();
        frame_ = std::make_unique<QMainWindow>();
        frame_->setStatusBar(new QStatusBar(frame_.get()));
        MainStatusBar = frame_->statusBar();
        host_ = InstallProgressPanels(frame_.get());
        // The result dialogs run as windows here; OnNextDialog closes them.
        previousRunner_ = SetResultDialogRunner(RunResultDialogWindow);
        frame_->resize(800, 400);
        frame_->show();
        host_->setGeometry(0, 0, 700, 180);
        host_->show();
        RunState = 2;
        BatchMode = 0;
        AudioPassActive = MultiplexActive = 0;
        EncoderSettings.qualityStatisticsMode = 0;
        EncodeStartTick = platform::TickCount();
    }
    void TearDown() override {
        SetResultDialogRunner(std::move(previousRunner_));
        MainStatusBar = nullptr;
        frame_.reset();
        RunState = 1;
        AudioPassActive = MultiplexActive = 0;
        BatchStopRequested = UserStopFlag = 0;
        FreeSpaceWatchArmed = 0;
        FreeSpaceWatchIgnored = 0;
        MuxBytesDone = MuxBytesTotal = 0;
    }
    QString Status() const { return frame_->statusBar()->currentMessage(); }

    std::unique_ptr<QMainWindow> frame_;
    CProgressWnd* host_ = nullptr;
    ResultDialogRunner previousRunner_;
};

TEST_F(ProgressPanelsTest, HostShowsThePanelOfThePhase) {
    NotifyProgressWindow();
    EXPECT_TRUE(host_->VideoPanel()->isVisible());
    EXPECT_FALSE(host_->VideoPanel()->isWindow());  // drawn inside the host
    EXPECT_FALSE(host_->VideoQualityPanel()->isVisible());
    // The panel's frame lies outside the host.
    EXPECT_EQ(host_->VideoPanel()->geometry(), QRect(-5, 0, 710, 184));

    EncoderSettings.qualityStatisticsMode = 1;
    NotifyProgressWindow();
    EXPECT_TRUE(host_->VideoQualityPanel()->isVisible());
    EXPECT_FALSE(host_->VideoPanel()->isVisible());

    AudioPassActive = 1;
    NotifyProgressWindow();
    EXPECT_TRUE(host_->AudioPanel()->isVisible());
    EXPECT_FALSE(host_->VideoQualityPanel()->isVisible());

    MultiplexActive = 1;
    NotifyProgressWindow();
    EXPECT_TRUE(host_->MultiplexPanel()->isVisible());
    EXPECT_FALSE(host_->AudioPanel()->isVisible());

    host_->resize(500, 150);  // the panel follows the host
    EXPECT_EQ(host_->MultiplexPanel()->geometry(), QRect(-5, 0, 510, 154));
}

TEST_F(ProgressPanelsTest, VideoRefreshesThroughTheJobsHook) {
    NotifyProgressWindow();
    Sequence.EncodingFrameCount = 90;
    Sequence.EncodedFrameCount = 45;
    PictureDriver.ElapsedSeconds = 65;
    UpdateVideoProgress();
    CProgressDlg* panel = host_->VideoPanel();
    EXPECT_EQ(TextOf(panel, 1025), "Frame 45 out of 90");
    EXPECT_EQ(TextOf(panel, 1026), "Elapsed time  0:01:05 ");
    EXPECT_EQ(panel->Bar()->maximum(), 90);  // in pictures, not percent
    EXPECT_EQ(panel->Bar()->value(), 45);
    EXPECT_EQ(Status(), " Video encoding in progress. . .");

    // With quality statistics the other panel gets the figures and its bars.
    EncoderSettings.qualityStatisticsMode = 1;
    NotifyProgressWindow();
    EngineReport.AverageQuality = 62.5f;
    EngineReport.PictureQuality = 12.0f;
    Sequence.EncodingFrameCount = 1000;
    Sequence.EncodedFrameCount = 300;
    UpdateVideoProgress();
    CProgressDlgQ* q = host_->VideoQualityPanel();
    EXPECT_EQ(TextOf(q, 1025), "Frame 300 out of 1000");
    EXPECT_EQ(q->Bar()->maximum(), 100);
    EXPECT_EQ(q->Bar()->value(), 30);
    EXPECT_EQ(TextOf(q, 1027), " 62.50");
    EXPECT_EQ(TextOf(q, 1029), " 12.00");
    EXPECT_FLOAT_EQ(q->AverageBar()->Value(), 62.5f);
    EXPECT_FLOAT_EQ(q->CurrentBar()->Value(), 12.0f);
    const QImage bar = q->CurrentBar()->grab().toImage();
    // 12 is drawn magenta under grey hatching over its share of the width; the rest is plain grey.
    const int filled = QualityBarFilledWidth(bar.width(), 12.0f);
    int magenta = 0, hatch = 0;
    for (int x = 0; x < filled; ++x) {
        const QRgb c = bar.pixel(x, bar.height() / 2) & 0xFFFFFFu;
        magenta += c == 0xFA00FAu;
        hatch += c == 0x787878u;
    }
    EXPECT_GT(magenta, 0);
    EXPECT_GT(hatch, 0);
    EXPECT_EQ(bar.pixel(bar.width() - 1, bar.height() / 2) & 0xFFFFFFu, 0xA0A0A0u);
    Sequence.EncodingFrameCount = Sequence.EncodedFrameCount = 0;  // the next job, before it knows its length
    UpdateVideoProgress();
    EXPECT_EQ(TextOf(q, 1025), "Frame _____ out of ______");
    EXPECT_EQ(q->Bar()->value(), 0);

    // Without a host the refreshes do nothing.
    frame_.reset();
    MainStatusBar = nullptr;
    EXPECT_EQ(ActiveProgressWindow(), nullptr);
    UpdateVideoProgress();
    UpdateAudioProgress();
    UpdateMultiplexProgress();
    NotifyProgressWindow();
}

TEST_F(ProgressPanelsTest, AudioAndMultiplexPanels) {
    AudioPassActive = 1;
    NotifyProgressWindow();
    AudioStartSample = 0;
    AudioEndSample = 441000;
    AudioPosition = 110250;
    AudioPassStartMs = GetElapsedMilliseconds();
    UpdateAudioProgress();
    EXPECT_EQ(TextOf(host_->AudioPanel(), 1061), " 25 %  completed ");
    EXPECT_EQ(host_->AudioPanel()->Bar()->value(), 25);
    EXPECT_EQ(Status(), " Audio encoding in progress. . .");

    AudioPassActive = 0;
    MultiplexActive = 1;
    NotifyProgressWindow();
    // A refresh before the multiplexer knows its total.
    MuxBytesDone = 4096;
    MuxBytesTotal = 0;
    MuxStartMs = GetElapsedMilliseconds();
    UpdateMultiplexProgress();
    EXPECT_EQ(TextOf(host_->MultiplexPanel(), 1061), " 0 %  completed ");
    EXPECT_EQ(host_->MultiplexPanel()->Bar()->value(), 0);
    EncoderSettings.mpeg1 = 0;
    EncoderSettings.streamType = kStreamTypeMpeg2;
    MuxBytesTotal = 100000;
    MuxBytesDone = 50000;
    UpdateMultiplexProgress();
    EXPECT_EQ(TextOf(host_->MultiplexPanel(), 1061), " 51 %  completed ");
    EXPECT_EQ(Status(), " Multiplexing in progress. . .");
    MuxStartMs = GetElapsedMilliseconds() - 3500;
    UpdateMultiplexProgress();
    EXPECT_EQ(TextOf(host_->MultiplexPanel(), 1026), "Elapsed time  0:00:03 ");
    EncoderSettings = EncoderSettingsRecord();

    // A pause (nothing is refreshed then) shows in the heading of the panel on view.
    auto heading = [&] {
        QEventLoop wait;
        QTimer::singleShot(300, &wait, &QEventLoop::quit);
        wait.exec();
        return TextOf(host_->MultiplexPanel(), 1018);
    };
    PauseFlag = 1;
    EXPECT_EQ(heading(), "MULTIPLEXING AUDIO AND VIDEO STREAMS PAUSED");
    PauseFlag = 0;
    EXPECT_EQ(heading(), "MULTIPLEXING AUDIO AND VIDEO STREAMS IN PROGRESS");
}

TEST_F(ProgressPanelsTest, EnterKeepsThePanelAndStopAsks) {
    platform::ScriptedMessageBoxes boxes;
    AudioPassActive = 1;
    NotifyProgressWindow();
    CProgressAudio* audio = host_->AudioPanel();
    audio->activateWindow();
    audio->setFocus();
    Press(audio, Qt::Key_Return);
    Press(audio, Qt::Key_Enter);
    Press(audio->findChild<QPushButton*>("2"), Qt::Key_Return);
    static_cast<QDialog*>(audio)->accept();  // the dialog's own OK
    EXPECT_TRUE(audio->isVisible());  // mid-pass the panel stays
    EXPECT_TRUE(boxes.Shown().empty());
    EXPECT_EQ(RunState, 2);

    // Escape is the Stop command: No goes on.
    boxes.Answer(MbAnswer::No);
    Press(audio, Qt::Key_Escape);
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].text, " Do you wish to stop the encoding ? ");
    EXPECT_TRUE(audio->isVisible());
    EXPECT_EQ(RunState, 2);

    // In a batch the Stop button asks about the batch and Yes stops it all.
    BatchMode = 1;
    AudioPassActive = 0;
    NotifyProgressWindow();
    boxes.Answer(MbAnswer::Yes);
    host_->VideoPanel()->findChild<QPushButton*>("2")->click();
    ASSERT_EQ(boxes.Shown().size(), 2u);
    EXPECT_EQ(boxes.Shown()[1].text, " Do you wish to stop the batch encoding ? ");
    EXPECT_EQ(RunState, 3);
    EXPECT_EQ(UserStopFlag, 1);
    EXPECT_EQ(BatchStopRequested, 1);
    BatchMode = 0;
}

TEST_F(ProgressPanelsTest, LowDiskWarningOnceFromTheVideoPanel) {
    platform::ScriptedMessageBoxes boxes;
    int queries = 0;
    FreeSpaceQuery previous = SetFreeSpaceQuery([&](const std::string&) {
        ++queries;
        return int64_t{0};
    });
    FreeSpaceWatchArmed = 1;
    FreeSpaceWatchRoot = "/out";
    FreeSpaceCheckInterval = 3;
    NotifyProgressWindow();
    Sequence.EncodingFrameCount = 90;
    boxes.Answer(MbAnswer::Ok);
    boxes.Answer(MbAnswer::Ignore);
    for (int f = 1; f <= 20; ++f) {
        Sequence.EncodedFrameCount = f;
        UpdateVideoProgress();
    }
    EXPECT_EQ(boxes.Shown().size(), 2u);  // the warning, then its second box
    EXPECT_EQ(queries, 2);
    EXPECT_EQ(RunState, 2);
    SetFreeSpaceQuery(previous);
}

TEST_F(ProgressPanelsTest, ResultDialogsShowTheFigures) {
    InstallCompletionDialogs(frame_.get());
    EncoderSettings.horizontalSize = 352;
    EncoderSettings.verticalSize = 240;
    Sequence.EncodedFrameCount = 100;
    VideoOutputSize = 253440;
    VideoSequenceState = 2;
    PictureDriver.ElapsedSeconds = 3725;
    EncoderSettings.qualityStatisticsMode = 0;
    bool seen = false;
    OnNextDialog([&](QDialog* d) {
        auto* r = qobject_cast<CResultDialog*>(d);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(d->objectName(), "133");
        EXPECT_EQ(r->ControlText(1031), "100");
        EXPECT_EQ(r->ControlText(1030), "VIDEO ENCODING COMPLETED");
        EXPECT_EQ(r->ControlText(1035), " 1:02:05");
        EXPECT_EQ(r->ControlText(1032), "247");
        EXPECT_EQ(r->ControlText(1037), "100 :1");
        seen = true;
    });
    JobWindows.showVideoCompleted();
    EXPECT_TRUE(seen);

    // Quality statistics: the other dialog; no sequence end; a tiny output.
    EncoderSettings.qualityStatisticsMode = 1;
    VideoSequenceState = 1;
    VideoOutputSize = 10;
    EngineReport.AverageQuality = 55.555f;
    EngineReport.MinimumQuality = 20.0f;
    seen = false;
    OnNextDialog([&](QDialog* d) {
        auto* r = qobject_cast<CResultDialog*>(d);
        EXPECT_EQ(d->objectName(), "134");
        EXPECT_EQ(r->ControlText(1030), "ENCODING NOT COMPLETED");
        EXPECT_EQ(r->ControlText(1037), " ");
        EXPECT_EQ(r->ControlText(1034), "55.56");
        EXPECT_EQ(r->ControlText(1035), "20.00");
        EXPECT_EQ(r->ControlText(1036), " 1:02:05");
        seen = true;
    });
    JobWindows.showVideoCompleted();
    EXPECT_TRUE(seen);

    // Multiplexing: sizes, the whole job's time, the stream kind.
    VideoOutputSize = 253440;
    AudioPassSeconds = 15;
    MultiplexSeconds = 5;
    seen = false;
    OnNextDialog([&](QDialog* d) {
        auto* r = qobject_cast<CResultDialog*>(d);
        EXPECT_EQ(d->objectName(), "145");
        EXPECT_EQ(r->ControlText(1073), "600");
        EXPECT_EQ(r->ControlText(1074), "248");
        EXPECT_EQ(r->ControlText(1075), "350");
        EXPECT_EQ(r->ControlText(1123), "MPEG-1 System Stream Complete");
        int units = 0;  // each of the three sizes says its unit
        for (const QLabel* label : d->findChildren<QLabel*>()) units += label->text() == "Kbytes";
        EXPECT_EQ(units, 3);
        EXPECT_EQ(r->ControlText(1036), " 1:02:25");
        EXPECT_EQ(r->ControlText(1031), "100");
        EXPECT_EQ(r->ControlText(1037), "100 :1");
        EXPECT_EQ(r->ControlText(1034), "55.56");
        seen = true;
    });
    JobWindows.showMultiplexCompleted(600, 248, 350, 1);
    EXPECT_TRUE(seen);
    // A DVD volume: the kind and the folder written, not a program stream; an SVCD: what was written, not its family.
    EncoderSettings.createVob = 1;
    EncoderSettings.outputFileName = "/discs/holiday/VIDEO_TS/VTS_01_1.VOB";
    std::string shownKind;
    for (const auto& [type, kind] : {std::pair{kApplicationDvd, "DVD-Video Folder Complete\n/discs/holiday/VIDEO_TS"},
                                     std::pair{kApplicationSvcd, "Super Video-CD Stream Complete"}}) {
        EncoderSettings.applicationType = type;
        OnNextDialog([&](QDialog* d) { shownKind = qobject_cast<CResultDialog*>(d)->ControlText(1123).toStdString(); });
        JobWindows.showMultiplexCompleted(600, 248, 350, 0);
        EXPECT_EQ(shownKind, kind);
    }
    EncoderSettings.applicationType = kApplicationNone;

    // MPEG-2 audio result: both files named.
    EncoderSettings.mpeg1 = 0;
    AudioOutputPath = "/tmp/a.mp2";
    VideoOutputPath = "/nonexistent/v.m2v";
    seen = false;
    OnNextDialog([&](QDialog* d) {
        auto* r = qobject_cast<CResultDialog*>(d);
        EXPECT_EQ(d->objectName(), "157");
        EXPECT_EQ(r->ControlText(1075), "12");
        EXPECT_EQ(r->ControlText(1096), "/tmp/a.mp2");
        EXPECT_EQ(r->ControlText(1095), "/nonexistent/v.m2v");
        seen = true;
    });
    JobWindows.showAudioCompleted(12);
    EXPECT_TRUE(seen);

    // In batch mode nothing is shown (no dialog would close: a dialog here would hang).
    BatchMode = 1;
    JobWindows.showVideoCompleted();
    JobWindows.showMultiplexCompleted(1, 1, 1, 2);
    BatchMode = 0;

    InstallCompletionDialogs(nullptr);
    EXPECT_EQ(JobWindows.showVideoCompleted, nullptr);
    EncoderSettings = EncoderSettingsRecord();
    AudioPassSeconds = MultiplexSeconds = 0;
}

TEST_F(ProgressPanelsTest, AviInformationDialogByAudioAndCompression) {
    InstallCompletionDialogs(frame_.get());
    AviInfoTexts texts;
    texts.frameSize = "320 x 240";
    texts.frameCount = "90";
    texts.audioBits = "16 bits";
    texts.audioRate = "44100 Hz";
    const struct {
        bool audio, high;
        const char* dialog;
    } cases[] = {{false, false, "151"}, {false, true, "152"}, {true, true, "153"}, {true, false, "154"}};
    for (const auto& c : cases) {
        texts.hasAudio = c.audio;
        texts.highCompression = c.high;
        QString name, format, bits, rate;
        OnNextDialog([&](QDialog* d) {
            auto* r = qobject_cast<CResultDialog*>(d);
            name = d->objectName();
            format = r->ControlText(1079);
            bits = r->ControlText(1089);
            rate = r->ControlText(1091);
        });
        ShowAviInfoUnlessBatch(texts);
        EXPECT_EQ(name, c.dialog);
        EXPECT_EQ(format, "320 x 240");
        EXPECT_EQ(bits, c.audio ? QString("16 bits") : QString());
        EXPECT_EQ(rate, c.audio ? QString("44100 Hz") : QString());
    }
    InstallCompletionDialogs(nullptr);
}

// Dialog 148 carries its three texts, as the string table keeps them.
TEST_F(ProgressPanelsTest, ConstrainedParametersDialogKeepsItsTexts) {
    CConstrainedDialog dialog(frame_.get());
    QStringList texts;
    for (const QLabel* label : dialog.findChildren<QLabel*>()) texts << label->text();
    for (int id : {64495, 64496, 64497}) {
        const std::string text = LoadResString(id);
        EXPECT_NE(text.find("constrained parameters"), std::string::npos) << id;
        EXPECT_TRUE(texts.contains(QString::fromStdString(text))) << id;
    }
}

}  // namespace
