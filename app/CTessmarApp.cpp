// Start-up, the recent-file commands, file open and the About box.
#include "app/CTessmarApp.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSessionManager>
#include <QVBoxLayout>

#include "app/AppSettings.h"
#include "app/AppStartUp.h"
#include "app/BatchCommand.h"
#include "app/CMainFrame.h"
#include "app/CMpegDoc.h"
#include "app/CMpegView.h"
#include "app/CProfileMgr.h"
#include "app/ProfileList.h"
#include "app/RecentFileList.h"
#include "app/ZRNFileDialog.h"
#include "platform/MessageBox.h"
#include "platform/ResStrings.h"
#include "platform/System.h"
#include "settings/Report.h"
#include "settings/RunState.h"

CTessmarApp* TheApp = nullptr;

namespace {
constexpr const char* kVersion = "1.0";
}

CTessmarApp::CTessmarApp() : recentFiles_(std::make_unique<RecentFileList>(MruFileCount)) { TheApp = this; }

CTessmarApp::~CTessmarApp() {
    ExitInstance();
    frame_.reset();
    document_.reset();
    if (TheApp == this) TheApp = nullptr;
}

bool CTessmarApp::InitInstance(const std::vector<std::string>& arguments) {
    QSize screen(800, 600);
    if (QScreen* primary = QGuiApplication::primaryScreen()) screen = primary->size();
    if (!PrepareStartUp(screen.width(), screen.height(), platform::SystemProcessorCount())) return false;

    // The list's length comes from the settings file just read.
    recentFiles_ = std::make_unique<RecentFileList>(MruFileCount);
    recentFiles_->ReadList(SettingsFileName);
    recentFiles_->SetDescriptionLookup([](const std::string& description) {
        const int index = FindProfileDescription(description);
        return index >= 0 && static_cast<size_t>(index) < ProfilePathList.size()
                   ? ProfilePathList[static_cast<size_t>(index)]
                   : std::string();
    });
    exited_ = false;

    // The switches ("notmmx" among them) are in force before the document
    // sets up the encoder library and chooses its kernels.
    CTessmarCommandLineInfo info;
    ApplyCommandLine(info, arguments);
    document_ = std::make_unique<CMpegDoc>(*recentFiles_);
    if (!document_->EncoderLibraryReady()) {
        platform::ShowMessageBox(" Can't initialize encoder library ", "");
        return false;
    }
    frame_ = std::make_unique<CMainFrame>(*this);
    connect(qApp, &QGuiApplication::commitDataRequest, this, &CTessmarApp::OnCommitDataRequest);

    if (!ProcessShellCommand(info)) return false;
    frame_->CreateView();
    outputPlayWindowCount = [] { return OutputPlayWindowCount; };
    InstallBatchCommand(*frame_, *document_);
    InstallProfileManagerCommand(*frame_, *document_);
    frame_->setAcceptDrops(true);
    frame_->show();
    return true;
}

bool CTessmarApp::ProcessShellCommand(const CTessmarCommandLineInfo& info) {
    switch (DecideShellCommand(info)) {
        case ShellAction::NewDocument:
        case ShellAction::NewDocumentWithInput:
            // With a pending input file the form takes it up when it loads.
            if (!document_->OnNewDocument()) return false;
            break;
        case ShellAction::OpenDocument:
            if (!OpenDocumentFile(info.fileName)) return false;
            break;
    }
    return frame_ != nullptr;
}

void CTessmarApp::ExitInstance() {
    if (exited_ || !recentFiles_ || SettingsFileName.empty()) return;
    exited_ = true;
    if (!recentFiles_->WriteList(SettingsFileName))
        platform::DebugOutput("the recent-file list could not be written\n");
}

bool CTessmarApp::OpenDocumentFile(const std::string& path) {
    if (!document_) return false;
    const bool opened = document_->OnOpenDocument(path);
    if (frame_) frame_->UpdateCommandStates();
    return opened;
}

void CTessmarApp::OnFileNew() {
    if (document_) document_->OnFileNew();
}

std::string CTessmarApp::ChooseProfileFile() {
    QFileDialog dialog(frame_.get(), "Import profile file", QString::fromStdString(ProfileDirectory),
                       "Tessmar Profile Files (*.prf *.PRF);;All Files (*)");
    dialog.setFileMode(QFileDialog::ExistingFile);
    ShowFileColumnsWhole(&dialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::string();
    return dialog.selectedFiles().front().toStdString();
}

void CTessmarApp::OnFileOpen() {
    const std::string file = ChooseProfileFile();
    if (!file.empty()) OpenDocumentFile(file);
}

void CTessmarApp::OnOpenRecentFile(int command) {
    const int openPlayWindows = outputPlayWindowCount ? outputPlayWindowCount() : 0;
    if (int refusal = RecentFileOpenRefusal(RunState, PauseFlag, openPlayWindows)) {
        platform::ShowMessageBox(LoadResString(refusal), "", platform::MbButtons::Ok, platform::MbIcon::Stop,
                                 frame_.get());
        return;
    }
    if (document_) document_->OpenRecentFile(command - kFirstRecentFileCommand);
}

void CTessmarApp::OnAppAbout() {
    QDialog about(frame_.get());
    about.setObjectName("156");
    about.setWindowTitle("About Tessmar");
    auto* layout = new QVBoxLayout(&about);
    auto* name = new QLabel(QString("<b>Tessmar</b> MPEG encoder, version %1").arg(kVersion), &about);
    auto* features = new QLabel(
        "Encodes AVI files to MPEG-1 and MPEG-2 video with MPEG-1 Layer II audio,\n"
        "and multiplexes them into MPEG-1 system streams, MPEG-2 program streams,\n"
        "Video-CD and SVCD streams or DVD-Video folders.\n"
        "Settings are kept as profiles; jobs run one at a time or as a batch.",
        &about);
    layout->addWidget(name);
    layout->addWidget(features);
    auto* ok = new QPushButton("OK", &about);
    ok->setObjectName("1");
    ok->setDefault(true);
    layout->addWidget(ok, 0, Qt::AlignRight);
    connect(ok, &QPushButton::clicked, &about, &QDialog::accept);
    about.exec();
}

bool CTessmarApp::QueryEndSession(const std::function<bool()>& mayInteract) {
    const bool working = RunState == 2 || RunState == 3 || BatchMode != 0;
    if (!working && (!document_ || !document_->IsModified())) return true;
    if (mayInteract && !mayInteract()) return false;
    // Yes stops the encoding and the batch (a paused one too); they end in
    // their own message pump once this returns, before the program leaves
    // its event loop, so the session need not be ended a second time.
    if (working && (!frame_ || frame_->AskToEndWork() == CMainFrame::EndingAnswer::Refused)) return false;
    return !document_ || document_->SaveModified();
}

void CTessmarApp::OnCommitDataRequest(QSessionManager& manager) {
    bool asked = false;
    const bool mayEnd = QueryEndSession([&] { return asked = manager.allowsInteraction(); });
    if (asked) manager.release();
    if (!mayEnd) manager.cancel();
}
