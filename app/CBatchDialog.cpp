// The batch dialog and its job list.
#include "app/CBatchDialog.h"

#include "app/OutsideProgram.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <system_error>
#include <unistd.h>

#include "app/AppSettings.h"
#include "app/AviAddFileDlg.h"
#include "app/BatchList.h"
#include "app/BatchLog.h"
#include "app/BatchRunner.h"
#include "app/CMainFrame.h"
#include "app/ProfileList.h"
#include "app/ZRNFileDialog.h"
#include "platform/Format.h"
#include "platform/MessageBox.h"
#include "platform/ResStrings.h"
#include "settings/EncoderSettings.h"
#include "settings/ProfileFormat.h"
#include "settings/Report.h"

namespace fs = std::filesystem;

std::function<void(const std::string& logFile)> OpenBatchLogFile = [](const std::string& logFile) {
    OpenWithDesktop(logFile, QApplication::activeWindow(),
                    "Cannot show the batch log %s.\n\nNo program of this desktop opens it: the log opens "
                    "through xdg-open (package xdg-utils) and a text editor.");
};

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

void Message(const std::string& text, QWidget* owner, platform::MbIcon icon = platform::MbIcon::None) {
    platform::ShowMessageBox(text, "", platform::MbButtons::Ok, icon, owner);
}

// The application type a profile file names in its version 2 section; 0
// when the file has none. `error` receives the message for a file that is no
// profile of this program.
int ProfileApplicationType(const std::string& path, std::string& error) {
    using namespace profileformat;
    FILE* file = std::fopen(path.c_str(), "r");
    if (!file) {
        error = platform::Format("Error:\nFailed to open profile file \n %s", path.c_str());
        return 0;
    }
    FileCloser closer{file};
    LineReader lines(file);
    std::string line;
    lines.Next(line);
    const HeaderKind header = ClassifyHeader(line);
    if (header == HeaderKind::Old) {
        error = platform::Format(kMsgOldHeader, path.c_str());
        return 0;
    }
    if (header == HeaderKind::Illegal) {
        error = platform::Format(kMsgBadHeader, path.c_str());
        return 0;
    }
    // The section is found as the profile reader finds it: a "ZRNV2_EXT"
    // line elsewhere (a file name, say) is not the section.
    std::vector<std::string> all{line};
    while (lines.Next(line)) all.push_back(line);
    const size_t v2 = FindProfileSections(all).begin[1];
    int type = 0;
    if (v2 == ProfileSections::kAbsent || v2 + 4 >= all.size() || !ParseInt(all[v2 + 4].c_str(), type) || type < 0 ||
        type > 64)
        type = 0;
    return type;
}

}  // namespace

CBatchDialog::CBatchDialog(std::vector<std::string>* jobList, QWidget* parent) : QDialog(parent), jobList_(jobList) {
    setObjectName(LargeScreen ? "164" : "183");
    setWindowTitle("Batch Processing");
    setModal(true);
    auto* layout = new QVBoxLayout(this);

    auto* profileBox = new QGroupBox("Start profile", this);
    auto* profileLayout = new QHBoxLayout(profileBox);
    profileCombo_ = new QComboBox(profileBox);
    profileCombo_->setObjectName("1111");
    profileCombo_->setMinimumContentsLength(30);
    profileLayout->addWidget(profileCombo_, 1);
    auto* addProfile = new QPushButton("&Add current Profile to the Job List", profileBox);
    addProfile->setObjectName("1137");
    profileLayout->addWidget(addProfile);
    layout->addWidget(profileBox);

    auto* files = new QGridLayout;
    files->addWidget(new QLabel("Input AVI files:", this), 0, 0);
    auto* browseInput = new QPushButton("&Browse", this);
    browseInput->setObjectName("6");
    files->addWidget(browseInput, 0, 2);
    files->addWidget(new QLabel("Output folder:", this), 1, 0);
    folderEdit_ = new QLineEdit(this);
    folderEdit_->setObjectName("1108");
    files->addWidget(folderEdit_, 1, 1);
    auto* browseFolder = new QPushButton("B&rowse", this);
    browseFolder->setObjectName("4");
    files->addWidget(browseFolder, 1, 2);
    layout->addLayout(files);

    auto* options = new QHBoxLayout;
    suppressCheck_ = new QCheckBox("Suppress &Error Messages", this);
    suppressCheck_->setObjectName("1107");
    options->addWidget(suppressCheck_);
    options->addStretch(1);
    auto* viewLog = new QPushButton("View &Message Log", this);
    viewLog->setObjectName("1136");
    options->addWidget(viewLog);
    layout->addLayout(options);

    jobListBox_ = new QListWidget(this);
    jobListBox_->setObjectName("1109");
    jobListBox_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    jobListBox_->setMinimumSize(460, 180);
    jobListBox_->installEventFilter(this);
    layout->addWidget(jobListBox_, 1);

    auto* buttons = new QHBoxLayout;
    auto* load = new QPushButton("&Load Job List", this);
    load->setObjectName("1124");
    auto* save = new QPushButton("Sa&ve Job List", this);
    save->setObjectName("1135");
    auto* start = new QPushButton("&Start", this);
    start->setObjectName("1");
    start->setDefault(true);
    auto* cancel = new QPushButton("&Cancel", this);
    cancel->setObjectName("2");
    buttons->addWidget(load);
    buttons->addWidget(save);
    buttons->addStretch(1);
    buttons->addWidget(start);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);

    connect(addProfile, &QPushButton::clicked, this, &CBatchDialog::OnAddCurrentProfile);
    connect(browseInput, &QPushButton::clicked, this, &CBatchDialog::OnBrowseInputFiles);
    connect(browseFolder, &QPushButton::clicked, this, &CBatchDialog::OnBrowseOutputFolder);
    connect(viewLog, &QPushButton::clicked, this, &CBatchDialog::OnViewLog);
    connect(load, &QPushButton::clicked, this, &CBatchDialog::OnLoadJobList);
    connect(save, &QPushButton::clicked, this, &CBatchDialog::OnSaveJobList);
    connect(start, &QPushButton::clicked, this, &CBatchDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &CBatchDialog::reject);
}

void CBatchDialog::showEvent(QShowEvent* event) {
    if (!initialised_) {
        initialised_ = true;
        profileCombo_->clear();
        for (size_t i = 0; i < descriptions.size(); ++i) profileCombo_->addItem(Q(descriptions[i]), int(i));
        if (selectedDescription.empty()) {
            if (profileCombo_->count() > 0) profileCombo_->setCurrentIndex(0);
        } else if (selectedIndex >= 0 && selectedIndex < profileCombo_->count()) {
            SelectDescription(selectedDescription);
        }
        FillJobList();
        suppressCheck_->setChecked(suppressErrors != 0);
        folderEdit_->setText(Q(outputFolder));
    }
    QDialog::showEvent(event);
}

void CBatchDialog::SelectDescription(const std::string& description) {
    const int found = profileCombo_->findText(Q(description), Qt::MatchStartsWith | Qt::MatchCaseSensitive);
    if (found >= 0) profileCombo_->setCurrentIndex(found);
}

void CBatchDialog::FillJobList() {
    jobListBox_->clear();
    for (const std::string& entry : *jobList_) jobListBox_->addItem(Q(DisplayJobEntry(entry)));
}

void CBatchDialog::DoDataExchange(bool save) {
    if (save) {
        suppressErrors = suppressCheck_->isChecked() ? 1 : 0;
        outputFolder = folderEdit_->text().toStdString();
        selectedDescription = profileCombo_->currentText().toStdString();
    } else {
        suppressCheck_->setChecked(suppressErrors != 0);
        folderEdit_->setText(Q(outputFolder));
        SelectDescription(selectedDescription);
    }
    BatchLogFileName = BatchLogPathFor(outputFolder);
}

bool CBatchDialog::AddJob(const std::string& entry) {
    if (IsAviEntry(entry)) {
        for (const std::string& listed : *jobList_) {
            if (listed == entry) {
                Message(LoadResString(64458), this);
                return false;
            }
        }
    }
    jobList_->push_back(entry);
    jobListBox_->addItem(Q(DisplayJobEntry(entry)));
    modified_ = true;
    return true;
}

void CBatchDialog::SetOutputFolderText(const std::string& path) {
    folderEdit_->setText(Q(path));
    modified_ = true;
}

int CBatchDialog::CheckOutputDevice(const std::string& folder) {
    // The folder, or the nearest part of it that exists, must be on a file
    // system that can be written.
    std::error_code ec;
    fs::path probe = fs::absolute(folder, ec);
    while (!probe.empty() && !fs::exists(probe, ec) && probe.has_parent_path() && probe != probe.parent_path())
        probe = probe.parent_path();
    struct statvfs info {};
    if (probe.empty() || statvfs(probe.c_str(), &info) != 0) {
        Message(platform::Format(LoadResString(63228), folder.c_str()), this, platform::MbIcon::Stop);
        return 1;
    }
    if (info.f_flag & ST_RDONLY) {
        Message(platform::Format(LoadResString(63229), probe.c_str()), this, platform::MbIcon::Stop);
        return 1;
    }
    return 0;
}

void CBatchDialog::OnAddCurrentProfile() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    struct CursorBack {
        ~CursorBack() { QApplication::restoreOverrideCursor(); }
    } cursorBack;
    DoDataExchange(true);
    if (selectedDescription.size() < 2) return;
    // The runner finds the profile of a description by the same rule.
    const int index = FindProfileDescription(selectedDescription);
    const std::string path = index >= 0 ? ProfilePathList[size_t(index)] : std::string();
    if (path.empty()) {
        Message(LoadResString(64098), this);
        return;
    }
    std::string error;
    const int applicationType = ProfileApplicationType(path, error);
    if (!error.empty()) {
        Message(error, this);
        return;
    }
    if (applicationType == kApplicationDvd && EncoderSettings.createVob == 1) {
        Message(LoadResString(64454), this);
        return;
    }
    AddJob("*" + selectedDescription);
    modified_ = true;
}

void CBatchDialog::OnBrowseInputFiles() {
    addFilesUsed = 1;
    // The folder files were last added from, else the one the main form took its input from.
    std::string folder = GetBatchOutputDirectory();
    std::error_code ec;
    if (folder.empty() || !fs::is_directory(folder, ec)) folder = GetMainAviInputDirectory();
    AviAddFileDlg dialog(*this, folder);
    dialog.exec();
    if (!dialog.Added().empty())
        SetBatchOutputDirectory(fs::path(dialog.Added().back()).parent_path().string() + "/");
    modified_ = true;
}

void CBatchDialog::OnBrowseOutputFolder() {
    QFileDialog dialog(this, Q(LoadResString(64432)));
    dialog.setObjectName("folderBrowser");
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setFileMode(QFileDialog::Directory);
    ShowFileColumnsWhole(&dialog);
    if (!folderEdit_->text().isEmpty()) dialog.setDirectory(folderEdit_->text());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    folderEdit_->setText(dialog.selectedFiles().front());
    modified_ = true;
}

void CBatchDialog::OnViewLog() {
    DoDataExchange(true);
    if (FILE* log = std::fopen(BatchLogFileName.c_str(), "r")) {
        std::fclose(log);
    } else {
        if (platform::ShowMessageBox(LoadResString(63252), "", platform::MbButtons::YesNo, platform::MbIcon::Question,
                                     this) != platform::MbAnswer::Yes)
            return;
        FILE* created = std::fopen(BatchLogFileName.c_str(), "w");
        if (!created || std::fclose(created) != 0) {
            Message(LoadResString(63253), this);
            return;
        }
    }
    if (OpenBatchLogFile) OpenBatchLogFile(BatchLogFileName);
}

std::string CBatchDialog::StartFolderForLists() const {
    if (!LastBatchListPath.empty()) return fs::path(LastBatchListPath).parent_path().string();
    if (ProfileDirectory.size() >= 2 && ProfileDirectory.size() <= 255) return ProfileDirectory;
    return std::string();
}

void CBatchDialog::OnSaveJobList() {
    DoDataExchange(true);
    ZRNFileDialog dialog(false, "btc", "", LoadResString(63245), this);
    dialog.setWindowTitle(Q(LoadResString(63236)));
    const std::string folder = StartFolderForLists();
    if (!folder.empty()) dialog.setDirectory(Q(folder));
    // The overwrite question goes through the program's message boxes.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    const std::string name = dialog.selectedFiles().front().toStdString();
    std::error_code ec;
    if (fs::exists(name, ec) &&
        platform::ShowMessageBox(name + " already exists.\nDo you want to replace it?", LoadResString(63236),
                                 platform::MbButtons::YesNo, platform::MbIcon::Warning,
                                 this) != platform::MbAnswer::Yes)
        return;
    BatchListContents contents;
    contents.suppressErrors = suppressErrors;
    contents.outputFolder = outputFolder;
    contents.profileDescription = selectedDescription;
    contents.entries = *jobList_;
    if (SaveJobList(name, contents)) modified_ = false;
}

void CBatchDialog::OnLoadJobList() {
    if (modified_) {
        const platform::MbAnswer answer = platform::ShowMessageBox(
            LoadResString(63235), "", platform::MbButtons::YesNo, platform::MbIcon::Question, this);
        if (answer == platform::MbAnswer::Yes)
            OnSaveJobList();  // the flag goes only when the list was saved
        else
            modified_ = false;
    }
    ZRNFileDialog dialog(true, "btc", "", LoadResString(63237), this);
    dialog.setWindowTitle(Q(LoadResString(63236)));
    const std::string folder = StartFolderForLists();
    if (!folder.empty()) dialog.setDirectory(Q(folder));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    DoDataExchange(true);
    BatchListContents contents;
    contents.suppressErrors = suppressErrors;
    contents.outputFolder = outputFolder;
    contents.profileDescription = selectedDescription;
    contents.entries = *jobList_;
    // A list that cannot be read leaves the dialog as it was.
    if (!LoadJobList(dialog.selectedFiles().front().toStdString(), contents)) return;
    suppressErrors = contents.suppressErrors;
    outputFolder = contents.outputFolder;
    selectedDescription = contents.profileDescription;
    *jobList_ = contents.entries;
    FillJobList();
    DoDataExchange(false);
}

bool CBatchDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == jobListBox_ && event->type() == QEvent::KeyPress && jobListBox_->count() > 0) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        const int caret = jobListBox_->currentRow();
        if (key == Qt::Key_Delete && caret >= 0 && caret < int(jobList_->size())) {
            delete jobListBox_->takeItem(caret);
            jobList_->erase(jobList_->begin() + caret);
            if (jobListBox_->count() > 0) jobListBox_->setCurrentRow(caret > 0 ? caret - 1 : 0);
            modified_ = true;  // a deleted entry is a change to save like any other
            return true;
        }
        if (key == Qt::Key_Up) {
            jobListBox_->setCurrentRow(caret > 0 ? caret - 1 : 0);
            return true;
        }
        if (key == Qt::Key_Down) {
            jobListBox_->setCurrentRow(caret + 1 < jobListBox_->count() ? caret + 1 : jobListBox_->count() - 1);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void CBatchDialog::accept() {
    if (jobList_->empty()) {
        Message(LoadResString(63230), this);
        return;
    }
    int counter = 1;
    for (const std::string& entry : *jobList_) {
        if (IsProfileEntry(entry)) {
            if (counter < 1) {
                Message(LoadResString(63231), this);
                return;
            }
            counter = 0;
        } else {
            ++counter;
        }
    }
    const std::string& first = jobList_->front();
    if (ClassifyJobEntry(first) == JobEntryKind::Description &&
        profileCombo_->findText(Q(first.substr(1)), Qt::MatchExactly | Qt::MatchCaseSensitive) >= 0)
        selectedDescription = first;
    if (counter < 1) {
        Message(LoadResString(63231), this);
        return;
    }

    std::string folder = folderEdit_->text().toStdString();
    if (folder.empty()) {
        Message(LoadResString(63232), this);
        return;
    }
    if (CheckOutputDevice(folder)) return;
    // Absolute before the directory changes, so that it still names the
    // folder the user meant.
    folder = AbsoluteFolder(folder);
    if (chdir(folder.c_str()) != 0 && (mkdir(folder.c_str(), 0777) != 0 || chdir(folder.c_str()) != 0)) {
        Message(LoadResString(63233), this);
        return;
    }
    folderEdit_->setText(Q(folder));

    if (profileCombo_->currentIndex() >= 0) selectedDescription = profileCombo_->currentText().toStdString();
    if (selectedDescription.empty()) {
        Message(LoadResString(63234), this);
        return;
    }
    if (profileCombo_->currentIndex() >= 0) selectedIndex = profileCombo_->currentData().toInt();
    DoDataExchange(true);
    QDialog::accept();
}

void CBatchDialog::reject() {
    outputFolder = folderEdit_->text().toStdString();
    QDialog::reject();
}
