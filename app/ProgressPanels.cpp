// The progress host and its panels.
#include "app/ProgressPanels.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

#include "app/CAlphaBitmap.h"
#include "app/CMainFrame.h"
#include "app/ProgressLogic.h"
#include "engine/EngineState.h"
#include "engine/PictureDriver.h"
#include "job/AviSource.h"
#include "job/JobDriver.h"
#include "mux/Mplex.h"
#include "platform/MessageBox.h"
#include "platform/ResStrings.h"
#include "settings/EncoderSettings.h"
#include "settings/JobState.h"
#include "settings/JobUtil.h"
#include "settings/Report.h"
#include "settings/RunState.h"

namespace {

CProgressWnd* ActiveHost = nullptr;

// The program's picture beside the panels' texts (white is transparent).
const CAlphaBitmap& PanelPicture() {
    static const CAlphaBitmap picture = [] {
        QImage image(96, 96, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing, false);
        // A strip of film: a dark band with sprocket holes and three frames.
        p.fillRect(6, 14, 84, 68, QColor(40, 40, 60));
        for (int x = 10; x < 88; x += 10) {
            p.fillRect(x, 18, 5, 5, Qt::white);
            p.fillRect(x, 73, 5, 5, Qt::white);
        }
        const QColor frames[] = {QColor(60, 120, 220), QColor(80, 170, 90), QColor(230, 150, 40)};
        for (int i = 0; i < 3; ++i) p.fillRect(10 + i * 27, 28, 22, 40, frames[i]);
        return CAlphaBitmap(image);
    }();
    return picture;
}

QLabel* AddLabel(QWidget* owner, int id, const char* text) {
    auto* label = new QLabel(QString::fromUtf8(text), owner);
    label->setObjectName(QString::number(id));
    return label;
}

// The video panel's count before a job has said how many frames it encodes.
constexpr const char* kFramePlaceholder = "Frame _____ out of ______";

QLabel* AddStatic(QWidget* owner, const char* text) { return new QLabel(QString::fromUtf8(text), owner); }

void NotifyActiveHost() {
    if (!ActiveHost) return;
    ActiveHost->RecalcLayout();
    CProgressPanel* panel = ActiveHost->CurrentPanel();
    panel->StartPass();
    // The times the multiplexing result adds up: a video pass starts a new job.
    if (panel == ActiveHost->AudioPanel()) {
        AudioPassSeconds = 0;
    } else if (panel == ActiveHost->MultiplexPanel()) {
        MultiplexSeconds = 0;
    } else {
        AudioPassSeconds = 0;
        MultiplexSeconds = 0;
    }
}

}  // namespace

// ---------------------------------------------------------------------------

CQualityBar::CQualityBar(QWidget* parent) : QWidget(parent) { setMinimumSize(60, 12); }
CQualityBar::~CQualityBar() = default;

void CQualityBar::SetValue(float value) {
    value_ = ClampQuality(value);
    repaint();
}

void CQualityBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect area = rect();
    const int filled = std::min(QualityBarFilledWidth(area.width(), value_), area.width());
    const QColor fill = QColor::fromRgb(QualityBarColour(value_));
    p.fillRect(QRect(0, 0, filled, area.height()), fill);
    p.fillRect(QRect(0, 0, filled, area.height()), QBrush(QColor(120, 120, 120), Qt::VerPattern));
    p.fillRect(QRect(filled, 0, area.width() - filled, area.height()), QColor(160, 160, 160));
}

// ---------------------------------------------------------------------------

CProgressPanel::CProgressPanel(QWidget* parent, int templateId, const char* title, const char* note, int askStop,
                               int askBatchStop)
    : QDialog(parent), heading_(title), askStop_(askStop), askBatchStop_(askBatchStop) {
    // A child of the host, not a window of its own (a dialog would be one).
    setWindowFlags(Qt::Widget);
    setObjectName(QString::number(templateId));
    setWindowTitle(QString());
    setAutoFillBackground(false);

    auto* outer = new QHBoxLayout(this);
    outer->setContentsMargins(14, 6, 126, 6);
    outer->setSpacing(12);
    // The host decides the size, whatever the texts would like.
    outer->setSizeConstraint(QLayout::SetNoConstraint);

    auto* left = textColumn_ = new QVBoxLayout();
    left->setSpacing(3);
    QLabel* heading = AddLabel(this, 1018, title);
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    left->addWidget(heading);

    // The bar fills placeholder 1023 one pixel wider on every side.
    auto* holder = new QFrame(this);
    holder->setObjectName("1023");
    auto* holderLayout = new QHBoxLayout(holder);
    holderLayout->setContentsMargins(0, 0, 0, 0);
    bar_ = new QProgressBar(holder);
    bar_->setObjectName("1");
    bar_->setTextVisible(false);
    bar_->setRange(0, 100);
    bar_->setValue(0);
    bar_->setFixedHeight(16);
    holderLayout->addWidget(bar_);
    left->addWidget(holder);
    outer->addLayout(left, 3);

    auto* right = new QVBoxLayout();
    right->setSpacing(4);
    auto* noteLabel = AddStatic(this, note);
    noteLabel->setWordWrap(true);
    right->addWidget(noteLabel);
    right->addStretch(1);
    stop_ = new QPushButton(QStringLiteral("Stop"), this);
    stop_->setObjectName("2");
    // Enter must not press it by default: only a click, Space or Escape stops.
    stop_->setAutoDefault(false);
    stop_->setDefault(false);
    right->addWidget(stop_, 0, Qt::AlignLeft);
    outer->addLayout(right, 2);

    connect(stop_, &QPushButton::clicked, this, [this] { OnCommand(2); });
}

CProgressPanel::~CProgressPanel() = default;

QLabel* CProgressPanel::Label(int id) const { return findChild<QLabel*>(QString::number(id)); }

int CProgressPanel::OnCommand(int id) {
    if (id == 1) return 0;
    if (id != 2) return 0;
    const int text = BatchMode != 0 ? askBatchStop_ : askStop_;
    if (platform::ShowMessageBox(LoadResString(text), "", platform::MbButtons::YesNo, platform::MbIcon::Question, this) !=
        platform::MbAnswer::Yes)
        return 0;
    BatchStopRequested = 1;
    RequestStopEncoding();
    return 1;
}

void CProgressPanel::StartPass() {
    lastStatusSeconds_ = -1;
    nextDiskCheck_ = 0;
}

void CProgressPanel::ShowPauseState() {
    QLabel* heading = Label(1018);
    const QString text = QString::fromStdString(PanelHeadingText(heading_, PauseFlag != 0));
    if (heading && heading->text() != text) heading->setText(text);
}

void CProgressPanel::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter: OnCommand(1); event->accept(); return;
        case Qt::Key_Escape: OnCommand(2); event->accept(); return;
        default: QDialog::keyPressEvent(event); return;
    }
}

// A panel lives as long as the host; closing it as a dialog would leave the pass without its panel.
void CProgressPanel::accept() { OnCommand(1); }
void CProgressPanel::reject() { OnCommand(2); }

void CProgressPanel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QColor face = palette().color(QPalette::Button);
    p.fillRect(rect(), face);
    const int bottom = height() - 1;
    PanelPicture().DrawTransparent(p, width() - 120, bottom - bottom / 2 - 48, qRgb(255, 255, 255));
}

void CProgressPanel::SetBar(int rangeMax, int position) {
    if (bar_->maximum() != rangeMax || bar_->minimum() != 0) bar_->setRange(0, rangeMax);
    bar_->setValue(position);
}

void CProgressPanel::ShowStatus(int stringId, int64_t counter, int64_t elapsedSeconds) {
    if (!StatusTextDue(counter, elapsedSeconds, lastStatusSeconds_)) return;
    lastStatusSeconds_ = elapsedSeconds;
    if (MainStatusBar) MainStatusBar->showMessage(QString::fromUtf8(LoadResString(stringId)));
}

// ---------------------------------------------------------------------------

CProgressDlg::CProgressDlg(QWidget* parent) : CProgressDlg(parent, 131) {}

CProgressDlg::CProgressDlg(QWidget* parent, int templateId)
    : CProgressPanel(parent, templateId, "MPEG VIDEO ENCODING IN PROGRESS",
                     "Tessmar currently encoding video stream.\n\nPlease wait...", 63729, 63730) {
    QVBoxLayout* left = TextColumn();
    auto* row = new QHBoxLayout();
    row->addWidget(AddLabel(this, 1025, kFramePlaceholder));
    row->addStretch(1);
    row->addWidget(AddLabel(this, 1026, "Elapsed time:  _____ sec."));
    left->addLayout(row);
    left->addStretch(1);
}

CProgressDlg::~CProgressDlg() = default;

void CProgressDlg::UpdateProgress() {
    const int64_t frame = Sequence.EncodedFrameCount, total = Sequence.EncodingFrameCount,
                  seconds = VideoSecondsWithoutPause();
    // Until the job knows its length (behind its start questions) nothing of an earlier job is shown.
    Label(1025)->setText(total < 1 ? QString(kFramePlaceholder)
                                   : QString::fromStdString(FrameCountText(frame, total)));
    if (total < 1) SetBar(rangeMax_, 0);
    Label(1026)->setText(QString::fromStdString(PanelElapsedText(63733, seconds)));
    ProgressBarSetting setting;
    setting.rangeMax = rangeMax_;
    if (VideoBarFor(frame, total, &setting)) {
        rangeMax_ = setting.rangeMax;
        SetBar(setting.rangeMax, setting.position);
    }
    ShowStatus(63735, frame, seconds);
    if (VideoDiskCheckDue(frame)) WarnLowDiskSpace(this);
}

CProgressDlgQ::CProgressDlgQ(QWidget* parent) : CProgressDlg(parent, 132) {
    QVBoxLayout* left = TextColumn();
    auto* grid = new QGridLayout();
    grid->setVerticalSpacing(2);
    grid->addWidget(AddStatic(this, "Average frame quality:"), 0, 0);
    grid->addWidget(AddLabel(this, 1027, "____"), 0, 1);
    average_ = new CQualityBar(this);
    average_->setObjectName("1028");
    grid->addWidget(average_, 0, 2);
    grid->addWidget(AddStatic(this, "Current frame quality:"), 1, 0);
    grid->addWidget(AddLabel(this, 1029, "____"), 1, 1);
    current_ = new CQualityBar(this);
    current_->setObjectName("1036");
    grid->addWidget(current_, 1, 2);
    grid->setColumnStretch(2, 1);
    // Above the stretch that closes the column.
    left->insertLayout(left->count() - 1, grid);
}

CProgressDlgQ::~CProgressDlgQ() = default;

void CProgressDlgQ::UpdateProgress() {
    CProgressDlg::UpdateProgress();
    Label(1027)->setText(QString::fromStdString(QualityFigureText(EngineReport.AverageQuality)));
    average_->SetValue(EngineReport.AverageQuality);
    Label(1029)->setText(QString::fromStdString(QualityFigureText(EngineReport.PictureQuality)));
    current_->SetValue(EngineReport.PictureQuality);
}

// ---------------------------------------------------------------------------

void CProgressPanel::AddPercentRow() {
    auto* row = new QHBoxLayout();
    row->addWidget(AddLabel(this, 1061, "____ percent completed"));
    row->addStretch(1);
    row->addWidget(AddLabel(this, 1026, "Elapsed time:  _____ sec."));
    textColumn_->addLayout(row);
    textColumn_->addStretch(1);
}

CProgressAudio::CProgressAudio(QWidget* parent)
    : CProgressPanel(parent, 141, "MPEG AUDIO ENCODING IN PROGRESS",
                     "Tessmar currently encoding audio stream.\n\nPlease wait...", 63727, 63728) {
    AddPercentRow();
}

CProgressAudio::~CProgressAudio() = default;

void CProgressAudio::UpdateProgress() {
    const int percent = AudioPercent(AudioStartSample, AudioEndSample, AudioPosition);
    if (percent >= 0) {
        SetBar(100, percent);
        Label(1061)->setText(QString::fromStdString(PercentText(63722, percent)));
    }
    const int64_t seconds = static_cast<uint32_t>(GetElapsedMilliseconds() - AudioPassStartMs) / 1000;
    AudioPassSeconds = seconds;
    Label(1026)->setText(QString::fromStdString(PanelElapsedText(63723, seconds)));
    ShowStatus(63726, percent, seconds);
    if (AudioDiskCheckDue(AudioPosition - AudioStartSample, &nextDiskCheck_)) WarnLowDiskSpace(this);
}

CProgressMultiplex::CProgressMultiplex(QWidget* parent)
    : CProgressPanel(parent, 146, "MULTIPLEXING AUDIO AND VIDEO STREAMS IN PROGRESS",
                     "Tessmar currently multiplexing video and audio stream.\n\nPlease wait...", 63745,
                     63746) {
    AddPercentRow();
}

CProgressMultiplex::~CProgressMultiplex() = default;

void CProgressMultiplex::UpdateProgress() {
    const int percent = MultiplexPercent(MuxBytesDone, MuxBytesTotal,
                                         UsesMpeg1SystemScale(EncoderSettings.mpeg1, EncoderSettings.streamType));
    SetBar(100, percent);
    Label(1061)->setText(QString::fromStdString(PercentText(63740, percent)));
    const int64_t seconds = static_cast<uint32_t>(GetElapsedMilliseconds() - MuxStartMs) / 1000;
    MultiplexSeconds = seconds;
    Label(1026)->setText(QString::fromStdString(PanelElapsedText(63742, seconds)));
    ShowStatus(63744, percent, seconds);
    if (MultiplexDiskCheckDue(MuxBytesDone, &nextDiskCheck_)) WarnLowDiskSpace(this);
}

// ---------------------------------------------------------------------------

CProgressWnd::CProgressWnd(QWidget* parent) : QFrame(parent) {
    setObjectName("progressHost");
    videoQ_ = new CProgressDlgQ(this);
    video_ = new CProgressDlg(this);
    audio_ = new CProgressAudio(this);
    multiplex_ = new CProgressMultiplex(this);
    for (QWidget* panel : {static_cast<QWidget*>(videoQ_), static_cast<QWidget*>(video_),
                           static_cast<QWidget*>(audio_), static_cast<QWidget*>(multiplex_)})
        panel->hide();
    // A pause stops the refreshes, and whoever paused (the command, the key, a
    // question) does not tell the panel: it looks for itself.
    auto* pauseWatch = new QTimer(this);
    connect(pauseWatch, &QTimer::timeout, this, &CProgressWnd::ShowPauseState);
    pauseWatch->start(200);
}

CProgressWnd::~CProgressWnd() {
    if (ActiveHost != this) return;
    ActiveHost = nullptr;
    if (ProgressWindowNotify == NotifyActiveHost) ProgressWindowNotify = nullptr;
    if (JobWindows.progressWindow == this) JobWindows.progressWindow = nullptr;
}

CProgressPanel* CProgressWnd::CurrentPanel() const {
    if (MultiplexActive) return multiplex_;
    if (AudioPassActive) return audio_;
    if (EncoderSettings.qualityStatisticsMode) return videoQ_;
    return video_;
}

void CProgressWnd::RecalcLayout() {
    CProgressPanel* panel = CurrentPanel();
    for (CProgressPanel* other : {static_cast<CProgressPanel*>(videoQ_), static_cast<CProgressPanel*>(video_),
                                  static_cast<CProgressPanel*>(audio_), static_cast<CProgressPanel*>(multiplex_)})
        if (other != panel) other->hide();
    // The panel's own frame lies outside the host.
    panel->setGeometry(-5, 0, width() + 10, height() + 4);
    panel->show();
    shown_ = panel;
    panel->ShowPauseState();
    panel->update();
}

void CProgressWnd::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    RecalcLayout();
}

void CProgressWnd::UpdateVideoProgress() {
    if (EncoderSettings.qualityStatisticsMode)
        videoQ_->UpdateProgress();
    else
        video_->UpdateProgress();
}

void CProgressWnd::ShowPauseState() {
    if (shown_ && isVisible()) shown_->ShowPauseState();
}

void CProgressWnd::UpdateAudioProgress() { audio_->UpdateProgress(); }
void CProgressWnd::UpdateMultiplexProgress() { multiplex_->UpdateProgress(); }

// ---------------------------------------------------------------------------

CProgressWnd* ActiveProgressWindow() { return ActiveHost; }

CProgressWnd* InstallProgressPanels(QWidget* parentArea) {
    auto* host = new CProgressWnd(parentArea);
    host->hide();
    ActiveHost = host;
    MessagePumpHooks hooks = CurrentMessagePumpHooks();
    hooks.updateVideoProgress = [] {
        if (ActiveHost) ActiveHost->UpdateVideoProgress();
    };
    hooks.updateAudioProgress = [] {
        if (ActiveHost) ActiveHost->UpdateAudioProgress();
    };
    hooks.updateMultiplexProgress = [] {
        if (ActiveHost) ActiveHost->UpdateMultiplexProgress();
    };
    SetMessagePumpHooks(std::move(hooks));
    ProgressWindowNotify = NotifyActiveHost;
    JobWindows.progressWindow = host;
    return host;
}
