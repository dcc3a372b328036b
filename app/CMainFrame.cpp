// The main window and its commands.
#include "app/CMainFrame.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMimeData>
#include <QMoveEvent>
#include <QScreen>
#include <QShowEvent>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>
#include <QWhatsThis>
#include <algorithm>
#include <filesystem>
#include <system_error>

#include "app/AppSettings.h"
#include "app/CMainSettingsForm.h"
#include "app/CMpegDoc.h"
#include "app/CMpegView.h"
#include "app/CTessmarApp.h"
#include "app/OutsideProgram.h"
#include "app/RecentFileList.h"
#include "app/ViewLogic.h"
#include "app/ZRNFileDialog.h"
#include "job/JobDriver.h"
#include "platform/MessageBox.h"
#include "platform/ResStrings.h"
#include "settings/EncoderSettings.h"
#include "settings/JobState.h"
#include "settings/Report.h"
#include "settings/RunState.h"

QStatusBar* MainStatusBar = nullptr;
int LargeScreen = 0;
int MainWindowWidth = 0, MainWindowHeight = 0;

namespace {

CMainFrame* TitleWindow = nullptr;

std::string CurrentMainTitle() { return TitleWindow ? TitleWindow->windowTitle().toStdString() : std::string(); }
void SetMainTitle(const std::string& title) {
    if (TitleWindow) TitleWindow->setWindowTitle(QString::fromStdString(title));
}

// The application's menu ids.
enum : int {
    kResetProfile = 57600, kImportProfile = 57601, kSaveProfile = 57603, kSaveProfileAs = 57604,
    kProfileManager = 32797, kBatchProcessing = 32795, kRecentFile = 57616, kExit = 57665,
    kStartEncoding = 32771, kStopEncoding = 32772, kPauseEncoding = 32775, kPreviewInput = 32791,
    kPlayOutput = 32792, kShowInput = 32777, kShowOutput = 32778, kAutoWindowSize = 32780,
    kForce352x240 = 32781, kActualSize = 32808, kViewToolbar = 59392, kAviInformation = 32783,
    kSaveAsDefault = 32790, kSuppressWarnings = 32807, kHelpTopics = 57667, kContextHelp = 57669,
    kAbout = 57664,
};

// The document's way to the form.
class FormDocumentLink : public DocumentFormLink {
public:
    explicit FormDocumentLink(CMainSettingsForm& form) : form_(form) {}
    void LoadDefaultProfile() override { form_.LoadDefaultProfile(); }
    bool ApplyToParameters() override { return form_.ApplyToParameters() == 1; }
    bool SetInputFile(const std::string& path) override { return form_.SetInputFile(path) != 0; }

private:
    CMainSettingsForm& form_;
};

}  // namespace

CMainFrame::CMainFrame(CTessmarApp& app) : app_(app) {
    setObjectName("128");
    BuildMenus();
    BuildToolBar();
    auto* status = new QStatusBar(this);
    status->setObjectName("59393");
    setStatusBar(status);
    status->showMessage("Ready");
    MainStatusBar = status;
    MessageOwnerWindow = this;
    TitleWindow = this;
    JobWindows.getMainTitle = CurrentMainTitle;
    JobWindows.setMainTitle = SetMainTitle;

    qApp->installEventFilter(this);

    // The view fills this area; until then it stays an empty panel.
    auto* placeholder = new QWidget(this);
    placeholder->setObjectName("viewArea");
    setCentralWidget(placeholder);
    QRect desktop(0, 0, 800, 600);
    if (QScreen* screen = QGuiApplication::primaryScreen()) desktop = screen->availableGeometry();
    PlaceWindow(desktop);

    if (CMpegDoc* doc = app_.Document()) {
        connect(doc, &CMpegDoc::Changed, this, [this] {
            UpdateTitle();
            RebuildRecentFileMenu();
            UpdateCommandStates();
        });
    }
    // The run state is a plain word the job changes: look at it while idle,
    // as the menus and the accelerators must follow it.
    auto* idle = new QTimer(this);
    connect(idle, &QTimer::timeout, this, &CMainFrame::UpdateCommandStates);
    idle->start(100);

    UpdateTitle();
    RebuildRecentFileMenu();
    UpdateCommandStates();
}

CMainFrame::~CMainFrame() {
    if (CMpegDoc* doc = app_.Document(); doc && doc->Form() == formLink_.get()) doc->SetForm(nullptr);
    if (MainStatusBar == statusBar()) MainStatusBar = nullptr;
    if (MessageOwnerWindow == this) MessageOwnerWindow = nullptr;
    if (TitleWindow == this) {
        TitleWindow = nullptr;
        JobWindows.getMainTitle = nullptr;
        JobWindows.setMainTitle = nullptr;
    }
}

QAction* CMainFrame::AddCommand(int id, const QString& text, const QKeySequence& shortcut) {
    auto* action = new QAction(text, this);
    action->setObjectName(QString::number(id));
    if (!shortcut.isEmpty()) {
        action->setShortcut(shortcut);
        action->setShortcutContext(Qt::WindowShortcut);
    }
    connect(action, &QAction::triggered, this, [this, id] { Run(id); });
    addAction(action);  // shortcuts work with the menu bar hidden too
    commands_[id].action = action;
    return action;
}

void CMainFrame::Run(int id) {
    auto it = commands_.find(id);
    if (it == commands_.end()) return;
    UpdateCommandStates();  // a shortcut may come before the idle update saw a change
    if (!it->second.action->isEnabled() || !it->second.run) return;
    it->second.run();
    UpdateCommandStates();
}

QAction* CMainFrame::Action(int id) const {
    auto it = commands_.find(id);
    return it == commands_.end() ? nullptr : it->second.action;
}

void CMainFrame::SetCommand(int id, std::function<void()> run, std::function<bool()> enabled,
                            std::function<bool()> checked) {
    auto it = commands_.find(id);
    if (it == commands_.end()) return;
    it->second.run = std::move(run);
    it->second.enabled = std::move(enabled);
    if (checked) {
        it->second.checked = std::move(checked);
        it->second.action->setCheckable(true);
    }
    UpdateCommandStates();
}

void CMainFrame::BuildMenus() {
    auto idleOnly = [] { return IdleOnlyCommandEnabled(RunState); };
    auto always = [] { return true; };
    auto set = [this](int id, std::function<void()> run, std::function<bool()> enabled,
                      std::function<bool()> checked = {}) {
        Command& command = commands_[id];
        command.run = std::move(run);
        command.enabled = std::move(enabled);
        command.checked = std::move(checked);
        if (command.checked) command.action->setCheckable(true);
    };

    fileMenu_ = menuBar()->addMenu("&File");
    fileMenu_->addAction(AddCommand(kResetProfile, "&Reset Profile", QKeySequence("Ctrl+R")));
    fileMenu_->addAction(AddCommand(kProfileManager, "&Profile Manager ", QKeySequence("Ctrl+P")));
    fileMenu_->addAction(AddCommand(kImportProfile, "Imp&ort profile file...", QKeySequence("Ctrl+O")));
    fileMenu_->addAction(AddCommand(kSaveProfile, "&Save profile ", QKeySequence("Ctrl+S")));
    fileMenu_->addAction(AddCommand(kSaveProfileAs, "Save profile &As..."));
    fileMenu_->addSeparator();
    fileMenu_->addAction(AddCommand(kBatchProcessing, "&Batch Processing...", QKeySequence("Ctrl+B")));
    fileMenu_->addSeparator();
    recentAnchor_ = fileMenu_->addSeparator();
    fileMenu_->addAction(AddCommand(kExit, "E&xit"));
    set(kResetProfile, [this] { app_.OnFileNew(); }, idleOnly);
    set(kImportProfile, [this] { app_.OnFileOpen(); }, idleOnly);
    set(kSaveProfile, [this] { if (CMpegDoc* doc = app_.Document()) doc->OnFileSave(); }, idleOnly);
    // Saving stores the form into the settings, which must not change under a running job.
    set(kSaveProfileAs, [this] { if (CMpegDoc* doc = app_.Document()) doc->OnFileSaveAs(); }, idleOnly);
    set(kExit, [this] { close(); }, always);

    QMenu* action = menuBar()->addMenu("&Action");
    action->addAction(AddCommand(kStartEncoding, "STA&RT Encoding ", QKeySequence("Alt+R")));
    action->addAction(AddCommand(kStopEncoding, "&STOP Encoding", QKeySequence("Alt+S")));
    action->addAction(AddCommand(kPauseEncoding, "&PAUSE Encoding", QKeySequence("Alt+P")));
    action->addSeparator();
    action->addAction(AddCommand(kPreviewInput, "Preview input file"));
    action->addAction(AddCommand(kPlayOutput, "Play output file"));

    QMenu* view = menuBar()->addMenu("&View");
    view->addAction(AddCommand(kShowInput, "Show &input stream frames", QKeySequence("Alt+I")));
    view->addAction(AddCommand(kShowOutput, "Show &output stream frames", QKeySequence("Alt+O")));
    QMenu* preview = view->addMenu("&Preview window settings");
    preview->addAction(AddCommand(kForce352x240, "&Force to 352x240"));
    preview->addAction(AddCommand(kActualSize, "&Actual Size"));
    auto* sizes = new QActionGroup(this);
    sizes->addAction(Action(kForce352x240));
    sizes->addAction(Action(kActualSize));
    view->addSeparator();
    view->addAction(AddCommand(kViewToolbar, "View &Toolbar", QKeySequence("Alt+T")));
    view->addAction(AddCommand(kAviInformation, "Show AVI file information   "));
    view->addSeparator();
    view->addAction(AddCommand(kSaveAsDefault, "Save current settings as Default"));
    view->addAction(AddCommand(kSuppressWarnings, "Suppress warning messages"));
    AddCommand(kAutoWindowSize, "Resize the preview windows automatically");  // no menu item
    set(kShowInput, [this] { OnShowInputFrames(); }, always, [] { return EncoderSettings.showInput != 0; });
    set(kShowOutput, [this] { OnShowOutputFrames(); }, always, [] { return EncoderSettings.showOutput != 0; });
    set(kAutoWindowSize, [this] { OnAutoWindowSize(); }, idleOnly,
        [] { return EncoderSettings.autoResizeWindow != 0; });
    set(kForce352x240,
        [this] {
            if (EncoderSettings.stretchPreview == 0) {
                EncoderSettings.stretchPreview = 1;
                MarkProfileModified();
                emit PreviewSettingsChanged();
            }
        },
        always, [] { return EncoderSettings.stretchPreview != 0; });
    set(kActualSize,
        [this] {
            if (EncoderSettings.stretchPreview != 0) {
                EncoderSettings.stretchPreview = 0;
                MarkProfileModified();
                emit PreviewSettingsChanged();
            }
        },
        always, [] { return EncoderSettings.stretchPreview == 0; });
    set(kViewToolbar, [this] { toolBar_->setVisible(!toolBar_->isVisible()); }, always,
        [this] { return toolBar_ && !toolBar_->isHidden(); });
    set(kSaveAsDefault, [this] { OnSaveSettingsAsDefault(); }, idleOnly);

    QMenu* help = menuBar()->addMenu("&Help");
    help->addAction(AddCommand(kHelpTopics, "&Help Topics", QKeySequence("F1")));
    AddCommand(kContextHelp, "What's This?", QKeySequence("Shift+F1"));
    help->addSeparator();
    help->addAction(AddCommand(kAbout, "&About Tessmar..."));
    set(kHelpTopics, [this] { OnHelpTopics(); }, always);
    set(kContextHelp, [] { QWhatsThis::enterWhatsThisMode(); }, always);
    set(kAbout, [this] { app_.OnAppAbout(); }, always);
}

void CMainFrame::BuildToolBar() {
    toolBar_ = new QToolBar("Toolbar", this);
    toolBar_->setObjectName("59392");
    toolBar_->setIconSize(QSize(16, 16));
    toolBar_->setMovable(false);
    addToolBar(Qt::TopToolBarArea, toolBar_);
    QStyle* s = style();
    auto button = [&](int id, QStyle::StandardPixmap icon) {
        QAction* action = Action(id);
        action->setIcon(s->standardIcon(icon));
        toolBar_->addAction(action);
    };
    button(kResetProfile, QStyle::SP_FileIcon);
    button(kProfileManager, QStyle::SP_DirOpenIcon);
    button(kSaveProfile, QStyle::SP_DialogSaveButton);
    toolBar_->addSeparator();
    button(kAviInformation, QStyle::SP_FileDialogInfoView);
    toolBar_->addSeparator();
    button(kBatchProcessing, QStyle::SP_FileDialogDetailedView);
    toolBar_->addSeparator();
    button(kStartEncoding, QStyle::SP_MediaPlay);
    button(kStopEncoding, QStyle::SP_MediaStop);
    button(kPauseEncoding, QStyle::SP_MediaPause);
    toolBar_->addSeparator();
    button(kHelpTopics, QStyle::SP_MessageBoxQuestion);
}

void CMainFrame::PlaceWindow(const QRect& desktop) {
    const QFontMetrics metrics(QApplication::font());
    geometry_ = ComputeMainWindowGeometry(metrics.averageCharWidth(), metrics.height(), desktop.width(),
                                          desktop.height());
    LargeScreen = geometry_.largeScreen;
    MainWindowWidth = geometry_.minWidth;
    MainWindowHeight = geometry_.minHeight;
    // Wide enough for both previews side by side, where the desktop allows it;
    // the window does not become smaller than it starts.
    const int width = std::min(std::max(geometry_.width, ViewWidthForTwoPictures()), desktop.width());
    const int x = width == geometry_.width ? geometry_.x : std::max(0, (desktop.width() - width) / 2);
    setMinimumSize(std::max(geometry_.minWidth, width), geometry_.minHeight);
    resize(width, geometry_.height);
    move(desktop.left() + x, desktop.top() + geometry_.y);
}

void CMainFrame::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // The window manager adds its frame after the window is shown.
    QTimer::singleShot(250, this, &CMainFrame::FitFrameToDesktop);
}

void CMainFrame::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    if (!frameFitted_ && frameGeometry() != geometry()) FitFrameToDesktop();
}

void CMainFrame::FitFrameToDesktop() {
    QScreen* screen = this->screen();
    if (!screen || !isVisible() || isMaximized() || isFullScreen()) return;
    const QRect desktop = screen->availableGeometry();
    const QRect frame = frameGeometry();
    if (frame != geometry()) frameFitted_ = true;
    // The frame, title bar included, stays on the desktop: the status bar must not run off it.
    const int extraWidth = frame.width() - width(), extraHeight = frame.height() - height();
    const int w = std::min(width(), desktop.width() - extraWidth);
    const int h = std::min(height(), desktop.height() - extraHeight);
    if (w != width() || h != height()) {
        setMinimumSize(std::min(minimumWidth(), w), std::min(minimumHeight(), h));
        resize(w, h);
    }
    const int x = std::clamp(frame.x(), desktop.left(), std::max(desktop.left(), desktop.right() + 1 - w - extraWidth));
    const int y = std::clamp(frame.y(), desktop.top(), std::max(desktop.top(), desktop.bottom() + 1 - h - extraHeight));
    if (x != frame.x() || y != frame.y()) move(x, y);
}

void CMainFrame::CreateView() {
    if (form_) return;
    InstallZrnFileDialog();
    view_ = new CMpeg2View(*this);
    SetViewWidget(view_);
    view_->OnInitialUpdate();
    form_ = view_->Form();
    connect(form_, &CMainSettingsForm::documentModified, this, [this] {
        MarkProfileModified();
        UpdateCommandStates();
    });
    formLink_ = std::make_unique<FormDocumentLink>(*form_);
    if (CMpegDoc* doc = app_.Document()) doc->SetForm(formLink_.get());
    UpdateCommandStates();
}

void CMainFrame::SetViewWidget(QWidget* view) {
    if (!view) return;
    view->setParent(this);
    setCentralWidget(view);  // the placeholder goes
}

void CMainFrame::UpdateCommandStates() {
    for (auto& [id, command] : commands_) {
        const bool enabled = command.enabled && command.enabled();
        if (command.action->isEnabled() != enabled) command.action->setEnabled(enabled);
        if (command.checked) {
            const bool checked = command.checked();
            if (command.action->isChecked() != checked) command.action->setChecked(checked);
        }
    }
}

void CMainFrame::RebuildRecentFileMenu() {
    for (QAction* action : recentActions_) {
        fileMenu_->removeAction(action);
        // It may be the entry being triggered: it goes once control is back in the event loop.
        action->setObjectName(QString());
        action->deleteLater();
    }
    recentActions_.clear();
    const std::vector<std::string> labels = RecentFileMenuLabels(app_.RecentFiles());
    if (labels.empty()) {
        auto* none = new QAction("Recent File", this);
        none->setObjectName(QString::number(kRecentFile));
        none->setEnabled(false);
        recentActions_.push_back(none);
    }
    for (size_t i = 0; i < labels.size() && i <= kLastRecentFileCommand - kFirstRecentFileCommand; ++i) {
        auto* entry = new QAction(QString::fromStdString(labels[i]), this);
        const int command = kFirstRecentFileCommand + static_cast<int>(i);
        entry->setObjectName(QString::number(command));
        connect(entry, &QAction::triggered, this, [this, command] {
            app_.OnOpenRecentFile(command);
            UpdateCommandStates();
        });
        recentActions_.push_back(entry);
    }
    fileMenu_->insertActions(recentAnchor_, QList<QAction*>(recentActions_.begin(), recentActions_.end()));
}

void CMainFrame::UpdateTitle() {
    const CMpegDoc* doc = app_.Document();
    setWindowTitle(QString::fromStdString(MainWindowTitle(doc ? doc->Title() : std::string())));
}

void CMainFrame::OnShowInputFrames() {
    if (RunState == 2) {
        platform::MessageBeep(0);
        return;
    }
    EncoderSettings.showInput = !EncoderSettings.showInput;
    MarkProfileModified();
    emit PreviewSettingsChanged();
}

void CMainFrame::OnShowOutputFrames() {
    if (RunState == 2) {
        platform::MessageBeep(0);
        return;
    }
    EncoderSettings.showOutput = !EncoderSettings.showOutput;
    MarkProfileModified();
    emit PreviewSettingsChanged();
}

void CMainFrame::OnAutoWindowSize() {
    if (RunState == 2) {
        platform::MessageBeep(0);
        return;
    }
    EncoderSettings.autoResizeWindow = !EncoderSettings.autoResizeWindow;
    MarkProfileModified();
}

void CMainFrame::OnHelpTopics() {
    const std::string page = HelpPagePath(QCoreApplication::applicationDirPath().toStdString());
    OpenWithDesktop(page, this,
                    "Cannot show the help page %s.\n\nNo program of this desktop opens it: the help opens "
                    "through xdg-open (package xdg-utils) and a web browser.");
}

void CMainFrame::OnSaveSettingsAsDefault() {
    CMpegDoc* doc = app_.Document();
    DocumentFormLink* form = doc ? doc->Form() : nullptr;
    DefaultSettingsHooks hooks;
    hooks.viewExists = [form] { return form != nullptr; };
    if (form) hooks.applyToParameters = [form] { return form->ApplyToParameters(); };
    SetDefaultSettingsHooks(hooks);
    WriteDefaultSettings(false);
    SetDefaultSettingsHooks({});
}

bool CMainFrame::DropFile(const std::string& path) {
    switch (ClassifyDroppedFile(path)) {
        case DropAction::OpenProfile: return app_.OpenDocumentFile(path);
        case DropAction::TakeInput: {
            CMpegDoc* doc = app_.Document();
            DocumentFormLink* form = doc ? doc->Form() : nullptr;
            if (!form) return false;
            std::error_code ec;
            std::filesystem::current_path(std::filesystem::path(path).parent_path(), ec);
            if (!form->SetInputFile(path)) return false;
            platform::MessageBeep(0);
            return true;
        }
        case DropAction::Ignore: break;
    }
    return false;
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void CMainFrame::dropEvent(QDropEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.isEmpty() || !urls.first().isLocalFile()) return;  // only the first file counts
    event->acceptProposedAction();
    DropFile(urls.first().toLocalFile().toStdString());
    UpdateCommandStates();
}

namespace {

// An encoding or a batch is under way (or stopping): the window cannot go yet.
bool EncodingUnderWay() { return RunState == 2 || RunState == 3 || BatchMode != 0; }

}  // namespace

CMainFrame::EndingAnswer CMainFrame::AskToEndWork() {
    if (!EncodingUnderWay()) return EndingAnswer::Free;
    // A close already waits for the stop it asked for.
    if (closeAfterStop_) return EndingAnswer::AfterStop;
    // A job that is ending (run state 3) needs no question, but a batch between two
    // passes of its job or between two jobs would go on through every later entry.
    if (RunState != 3 || (BatchMode != 0 && BatchStopRequested == 0)) {
        if (platform::ShowMessageBox(LoadResString(BatchMode ? 64134 : 64133), "", platform::MbButtons::YesNo,
                                     platform::MbIcon::Question, this) != platform::MbAnswer::Yes)
            return EndingAnswer::Refused;
        BatchStopRequested = 1;
        RequestStopEncoding();
    }
    return EndingAnswer::AfterStop;
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) return QMainWindow::eventFilter(watched, event);
    const auto* key = static_cast<const QKeyEvent*>(event);
    const Qt::KeyboardModifiers modifiers =
        key->modifiers() & (Qt::AltModifier | Qt::ControlModifier | Qt::ShiftModifier | Qt::MetaModifier);
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!(modifiers & Qt::AltModifier) || !widget || widget->window() != this)
        return QMainWindow::eventFilter(watched, event);
    const QKeySequence pressed(QKeyCombination(modifiers, Qt::Key(key->key())));
    for (const auto& [id, command] : commands_) {
        if (!command.action || command.action->shortcut() != pressed) continue;
        // Closed when the key came, perhaps only until the idle update: run
        // it if it is open now, and never let the letter through.
        Run(id);
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    if (EncodingUnderWay()) {
        // A close asks as Stop does; Yes stops the job and the batch, and the
        // window closes once they have ended. No lets them go on.
        event->ignore();
        if (closeAfterStop_ || AskToEndWork() != EndingAnswer::AfterStop) return;
        closeAfterStop_ = true;
        QTimer::singleShot(50, this, &CMainFrame::CloseOnceStopped);
        return;
    }
    closeAfterStop_ = false;
    CMpegDoc* doc = app_.Document();
    if (doc && !doc->SaveModified()) {
        event->ignore();
        return;
    }
    app_.ExitInstance();
    event->accept();
}

void CMainFrame::CloseOnceStopped() {
    if (!closeAfterStop_) return;  // closed meanwhile
    // Also the boxes that end a job or a batch are answered first.
    if (EncodingUnderWay() || QApplication::activeModalWidget()) {
        QTimer::singleShot(50, this, &CMainFrame::CloseOnceStopped);
        return;
    }
    closeAfterStop_ = false;
    close();
}
