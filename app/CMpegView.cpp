// The view, its commands and the job's ways to the panels.
#include "app/CMpegView.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QShortcut>
#include <QStatusBar>
#include <cstdio>
#include <unistd.h>

#include "app/AppSettings.h"
#include "app/BatchCommand.h"
#include "app/CMainFrame.h"
#include "app/CMainSettingsForm.h"
#include "app/CMpegDoc.h"
#include "app/CompletionDialogs.h"
#include "app/OutsideProgram.h"
#include "app/PreviewPanes.h"
#include "app/ProgressPanels.h"
#include "app/ViewLogic.h"
#include "engine/EngineState.h"
#include "engine/PictureDriver.h"
#include "job/DvdOutput.h"
#include "job/JobDriver.h"
#include "job/JobMessages.h"
#include "platform/Format.h"
#include "platform/Ini.h"
#include "platform/MessageBox.h"
#include "platform/ResStrings.h"
#include "settings/EncoderSettings.h"
#include "settings/JobState.h"
#include "settings/JobUtil.h"
#include "settings/Preview.h"
#include "settings/Report.h"
#include "settings/RunState.h"

using platform::MbAnswer;
using platform::MbButtons;
using platform::MbIcon;

CMpeg2View* MainView = nullptr;
int EncodingActive = 0;
int ViewInitialised = 0;
int InputPlayWindowCount = 0, OutputPlayWindowCount = 0;
int LayoutUnitY = 0;

namespace {

enum : int {
    kStartEncoding = 32771, kStopEncoding = 32772, kPauseEncoding = 32775, kAviInformation = 32783,
    kPreviewInput = 32791, kPlayOutput = 32792, kSuppressWarnings = 32807,
};

// The longest input or output name the play commands take.
constexpr int kPlayNameLimit = 256;

std::string Text(int id) { return LoadResString(id); }

std::string FormText(CMainSettingsForm* form, const char* id, int limit) {
    if (!form) return std::string();
    auto* edit = form->findChild<QLineEdit*>(id);
    if (!edit) return std::string();
    std::string text = edit->text().toStdString();
    if (static_cast<int>(text.size()) > limit) text.resize(static_cast<size_t>(limit));
    return text;
}

// Whatever ends an encoding, the window comes back to its idle state.
class RestoreAfterEncoding {
public:
    RestoreAfterEncoding(CMainFrame& frame, CMainSettingsForm* form) : frame_(frame), form_(form) {}
    ~RestoreAfterEncoding() {
        if (form_) {
            form_->setEnabled(true);
            form_->show();
        }
        if (MainStatusBar)
            MainStatusBar->showMessage(QString::fromStdString(Text(EncodingStatusText(UserStopFlag != 0, JobResult))));
        frame_.setAcceptDrops(true);
        PauseFlag = 0;
    }

private:
    CMainFrame& frame_;
    CMainSettingsForm* form_;
};

}  // namespace

int DispatchQueuedEvents(int /*limit*/, bool* quit) {
    // Only the overload without a time limit waits: the other one drops the
    // wait flag, and the pause loop would spin.
    if (PauseFlag)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    else
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    if (quit) *quit = false;
    return 0;
}

CMpeg2View::CMpeg2View(CMainFrame& frame) : frame_(frame) {
    setObjectName("view");
    // Children are created in the first update, as the form needs the document.
}

CMpeg2View::~CMpeg2View() {
    if (MainView == this) {
        MainView = nullptr;
        ViewInitialised = 0;
        PanesReady = 0;
        BatchView = BatchViewLink();
        InstallCompletionDialogs(nullptr);
        delete progressHost_;
        progressHost_ = nullptr;
        SetMessagePumpHooks(previousPumps_);
    }
}

void CMpeg2View::OnInitialUpdate() {
    if (ViewInitialised) return;
    MainView = this;
    ViewInitialised = 1;
    setAutoFillBackground(true);

    previews_ = new CStatView(this);
    previews_->setGeometry(rect());
    form_ = new CMainSettingsForm(this);
    form_->show();

    // The program's pumps stay as they are apart from what the view adds;
    // they come back when the view goes.
    previousPumps_ = CurrentMessagePumpHooks();
    MessagePumpHooks pumps = previousPumps_;
    pumps.dispatchMessages = DispatchQueuedEvents;
    pumps.runIdle = [](int round) { return MainView ? MainView->RunIdleWithPauseNotice(round) : false; };
    pumps.postQuit = [] { QCoreApplication::postEvent(qApp, new QEvent(QEvent::Quit)); };
    SetMessagePumpHooks(pumps);
    // The panels add their refreshes to the pumps just installed.
    progressHost_ = InstallProgressPanels(this);
    InstallCompletionDialogs(&frame_);
    LinkBatchRuns();

    auto* stretchKey = new QShortcut(QKeySequence("Alt+W"), this);
    stretchKey->setContext(Qt::WindowShortcut);
    connect(stretchKey, &QShortcut::activated, this, [this] { OnSysChar('w'); });
    connect(&frame_, &CMainFrame::PreviewSettingsChanged, this, [this] {
        previews_->UpdateLayout();
        previews_->RecenterPictures();
    });

    RegisterCommands();
    form_->LoadDefaultProfile();
    PanesReady = 1;
    LayoutPanes(width(), height());
}

void CMpeg2View::LinkBatchRuns() {
    BatchView.previewWindowOpen = [] { return OutputPlayWindowCount > 0; };
    BatchView.encodingActive = &EncodingActive;
    BatchView.prepareJob = [this] {
        InputPreviewDrawn = OutputPreviewDrawn = 0;
        PausedMilliseconds = 0;
        Sequence.EncodedFrameCount = Sequence.EncodingFrameCount = 0;
        RelayoutAroundEncoding();
        progressHost_->RecalcLayout();
        if (EncoderSettings.qualityStatisticsMode)
            progressHost_->VideoQualityPanel()->StartPass();
        else
            progressHost_->VideoPanel()->StartPass();
        UpdateVideoProgress();
    };
    BatchView.relayout = [this] { RelayoutAroundEncoding(); };
}

void CMpeg2View::RegisterCommands() {
    auto idle = [] { return RunState != 2; };
    // Start also resumes a paused encoding, so it is offered then too.
    frame_.SetCommand(kStartEncoding, [this] { OnStartEncoding(); },
                      [] { return (JobFilesReady && RunState == 1) || (RunState == 2 && PauseFlag == 1); });
    frame_.SetCommand(kStopEncoding, [this] { OnStopEncoding(); }, [] { return JobFilesReady != 0; });
    frame_.SetCommand(kPauseEncoding, [this] { OnPauseEncoding(); }, [] { return RunState == 2; },
                      [] { return RunState == 2 && PauseFlag != 0; });
    frame_.SetCommand(kAviInformation, [this] { OnShowAviInfo(); }, [this] {
        const size_t length = FormText(form_, "1001", 300).size();
        return RunState != 2 && !EncodingActive && length >= 2 && length <= 255;
    });
    frame_.SetCommand(kPreviewInput, [this] { OnPreviewInput(); }, idle);
    frame_.SetCommand(kPlayOutput, [this] { OnPlayOutputFile(); }, idle);
    frame_.SetCommand(kSuppressWarnings, [this] { OnSuppressWarnings(); }, [] { return true; },
                      [] { return EncoderSettings.suppressWarnings != 0; });
    connect(form_, &CMainSettingsForm::previewInputRequested, this, [this] { OnPreviewInput(); });
    connect(form_, &CMainSettingsForm::playOutputRequested, this, [this] { OnPlayOutputFile(); });
}

void CMpeg2View::resizeEvent(QResizeEvent*) {
    if (ViewInitialised) LayoutPanes(width(), height());
}

void CMpeg2View::LayoutPanes(int width, int height) {
    if (!form_) return;
    LayoutUnitY = LayoutUnitFromDialogUnits(DialogUnitsForFormHeight(form_->sizeHint().height()));
    const ViewLayout layout = ComputeViewLayout(width, height, LayoutUnitY);
    previews_->setGeometry(layout.previews.x, layout.previews.y, layout.previews.width, layout.previews.height);
    const QRect lower(layout.lower.x, layout.lower.y, layout.lower.width, layout.lower.height);
    if (EncodingActive) {
        if (progressHost_) {
            progressHost_->setGeometry(lower);
            progressHost_->show();
            progressHost_->raise();
        }
    } else {
        if (progressHost_) progressHost_->hide();
        form_->setGeometry(lower);
        form_->show();
    }
    previews_->UpdateLayout();
}

void CMpeg2View::RelayoutAroundEncoding() {
    previews_->update();
    LayoutPanes(width(), height());
}

void CMpeg2View::OnStartEncoding() {
    if (RunState == 2 && PauseFlag == 1) {
        PauseFlag = 0;
        return;
    }
    if (OutputPlayWindowCount > 0) {
        platform::ShowMessageBox(Text(64123), "", MbButtons::Ok, MbIcon::Stop, &frame_);
        return;
    }
    if (EncodingActive == 1) return;
    EncodingActive = 1;
    RunStartedEncoding();
    EncodingActive = 0;
    RelayoutAroundEncoding();
}

void CMpeg2View::RunStartedEncoding() {
    if (!form_ || form_->ApplyToParameters() != 1) return;
    // A DVD volume job writes no file at the output name: its VIDEO_TS folder is what it replaces.
    const std::string output = OutputToConfirm();
    // Nothing is asked for a job that cannot start.
    if (const std::string refusal = TemporaryNamesInUse(); !refusal.empty()) {
        platform::ShowMessageBox(refusal, Text(63600), MbButtons::Ok, MbIcon::Stop, &frame_);
        return;
    }
    if (FILE* existing = std::fopen(output.c_str(), "rb")) {
        std::fclose(existing);
        const std::string question = platform::Format(Text(OverwriteQuestionText(output)).c_str(), output.c_str());
        if (platform::ShowMessageBox(question, "", MbButtons::OkCancel, MbIcon::Warning, &frame_) ==
            MbAnswer::Cancel)
            return;
    }
    // A file that is there but cannot be written cannot be replaced either.
    if (access(output.c_str(), F_OK) == 0 && access(output.c_str(), W_OK) != 0) {
        platform::ShowMessageBox(Text(64126), "", MbButtons::Ok, MbIcon::Stop, &frame_);
        return;
    }

    // Preparation: nothing of an earlier encoding is shown.
    InputPreviewDrawn = OutputPreviewDrawn = 0;
    PreviewWidth = EncoderSettings.horizontalSize;
    PreviewHeight = EncoderSettings.verticalSize;
    PictureDriver.ElapsedSeconds = 0;
    PausedMilliseconds = 0;
    EngineReport.AverageQuality = EngineReport.PictureQuality = 0.0f;
    // The job sets its length once its questions are answered.
    Sequence.EncodedFrameCount = Sequence.EncodingFrameCount = 0;
    RelayoutAroundEncoding();
    progressHost_->RecalcLayout();
    UpdateVideoProgress();
    PauseFlag = 0;
    frame_.setAcceptDrops(false);
    form_->hide();
    form_->setEnabled(false);
    FreeSpaceWatchIgnored = 0;

    RestoreAfterEncoding restore(frame_, form_);
    RunEncoding(&frame_);
    form_->TakeJobSound();
}

void CMpeg2View::OnStopEncoding() {
    if (!EncodingActive) {
        platform::MessageBeep(0x10);
        return;
    }
    AskToStop();
}

void CMpeg2View::AskToStop() {
    if (platform::ShowMessageBox(Text(BatchMode ? 64134 : 64133), "", MbButtons::YesNo, MbIcon::Question, &frame_) !=
        MbAnswer::Yes)
        return;
    BatchStopRequested = 1;
    PauseFlag = 0;
    RequestStopEncoding();
}

void CMpeg2View::OnPauseEncoding() {
    if (RunState == 2) PauseFlag = !PauseFlag;
}

void CMpeg2View::OnSysChar(int character) {
    if (!EncodingActive) return;
    switch (ClassifySysChar(character)) {
        case SysCharCommand::Pause: OnPauseEncoding(); break;
        case SysCharCommand::Stop: AskToStop(); break;
        case SysCharCommand::Stretch:
            MarkProfileModified();
            EncoderSettings.stretchPreview = 1;
            previews_->RecenterPictures();
            break;
        case SysCharCommand::None: break;
    }
}

void CMpeg2View::OnShowAviInfo() {
    if (EncodingActive) return;
    const std::string name = FormText(form_, "1001", 255);
    if (name.size() < 2) return;
    AviInfoTexts info;
    CheckAviHasVideo(name, &info);
}

bool CMpeg2View::PlayFile(bool input, const std::string& name) {
    if (name.empty() || static_cast<int>(name.size()) > kPlayNameLimit) {
        platform::ShowMessageBox(Text(input ? 64138 : 64152), "", MbButtons::Ok, MbIcon::None, &frame_);
        return false;
    }
    int64_t size = -1;
    if (FILE* f = std::fopen(name.c_str(), "rb")) {
        std::fclose(f);
        size = GetFileSizeByName(name);
        if (size < 0) size = -2;
    }
    if (const int refusal = PlayFileCheckText(input, size)) {
        platform::ShowMessageBox(Text(refusal), "", MbButtons::Ok, MbIcon::None, &frame_);
        return false;
    }
    const std::string player =
        platform::IniReadString(kSettingsSection, kPlayerKey, kDefaultPlayer, SettingsFileName);
    QStringList arguments = QProcess::splitCommand(QString::fromStdString(player));
    if (arguments.isEmpty()) arguments << kDesktopOpener;
    const QString program = arguments.takeFirst();
    arguments << QString::fromStdString(name);
    QPointer<CMainFrame> owner(&frame_);
    // A player (or the desktop's opener) that ends in failure found nothing to play the file with.
    const auto failed = [owner, input] {
        platform::ShowMessageBox(Text(PlayerFailureText(input, -1)), "", MbButtons::Ok, MbIcon::None, owner.data());
    };
    if (StartOutsideProgram(program, arguments, QDir::currentPath(), failed)) return true;
    // The player could not be started: it is missing or not a program.
    platform::ShowMessageBox(Text(PlayerFailureText(input, 2)), "", MbButtons::Ok, MbIcon::None, &frame_);
    return false;
}

void CMpeg2View::OnPreviewInput() {
    if (EncodingActive) {
        platform::MessageBeep(0);
        return;
    }
    if (!JobFilesReady || RunState != 1) {
        platform::ShowMessageBox(Text(64137), "", MbButtons::Ok, MbIcon::None, &frame_);
        return;
    }
    if (InputPlayWindowCount >= 1) {
        platform::MessageBeep(0);
        return;
    }
    PlayFile(true, FormText(form_, "1001", 258));
}

void CMpeg2View::OnPlayOutputFile() {
    if (EncodingActive || OutputPlayWindowCount >= 1 || RunState == 2) {
        platform::MessageBeep(0);
        return;
    }
    if (!JobFilesReady || RunState != 1) {
        platform::ShowMessageBox(Text(64152), "", MbButtons::Ok, MbIcon::None, &frame_);
        platform::MessageBeep(0);
        return;
    }
    std::string name = FormText(form_, "1005", 258);
    // A DVD volume job writes no file at the output name but the VIDEO_TS folder
    // beside it: when the name is not there, the volume's first title is what plays.
    if (access(name.c_str(), F_OK) != 0 && EncoderSettings.applicationType == kApplicationDvd &&
        EncoderSettings.createVob == 1) {
        const std::string title = DvdVideoTsFolder(name) + "/VTS_01_1.VOB";
        if (access(title.c_str(), F_OK) == 0) name = title;
    }
    if (!PlayFile(false, name)) platform::MessageBeep(0);
}

void CMpeg2View::OnSuppressWarnings() {
    const int before = EncoderSettings.suppressWarnings;
    if (EncoderSettings.suppressWarnings) {
        platform::ShowMessageBox(Text(64178), "", MbButtons::Ok, MbIcon::None, &frame_);
        EncoderSettings.suppressWarnings = 0;
    } else if (platform::ShowMessageBox(Text(64176), "", MbButtons::YesNo, MbIcon::Warning, &frame_) ==
               MbAnswer::Yes) {
        EncoderSettings.suppressWarnings = 1;
    }
    if (EncoderSettings.suppressWarnings != before) WriteSuppressWarningsSetting(EncoderSettings.suppressWarnings);
}

bool CMpeg2View::RunIdleWithPauseNotice(int /*count*/) {
    if (RunState == 2 && PauseFlag == 1 && MainStatusBar)
        MainStatusBar->showMessage(QString::fromStdString(Text(64119)));
    frame_.UpdateCommandStates();
    return false;
}
