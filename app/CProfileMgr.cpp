// The profile manager and its summaries.
#include "app/CProfileMgr.h"

#include <QAction>
#include <QApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "app/AppSettings.h"
#include "app/CEditProfileDescDialog.h"
#include "app/CMainFrame.h"
#include "app/CMpegDoc.h"
#include "app/FrameLogic.h"
#include "platform/FileReplace.h"
#include "platform/Format.h"
#include "platform/MessageBox.h"
#include "platform/ResStrings.h"
#include "settings/ProfileFormat.h"
#include "settings/RunState.h"

int LastShownProfileIndex = 0;

namespace {

constexpr int kProfileManagerCommand = 32797;

std::string Formatted(int id, const std::string& path) { return platform::Format(LoadResString(id), path.c_str()); }

// " 44.1 kHz" for 44100, " 48 kHz" for 48000.
std::string KiloHertz(int sampleRate) {
    std::string text = platform::Format("%.3f", sampleRate / 1000.0);
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
    return text;
}

// A whole profile file as lines, each with its own line end.
bool ReadLines(const std::string& path, std::vector<std::string>& lines) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    profileformat::FileCloser closer{file};
    std::string line;
    int c;
    while ((c = std::getc(file)) != EOF) {
        line += static_cast<char>(c);
        if (c == '\n') {
            lines.push_back(std::move(line));
            line.clear();
        }
    }
    if (!line.empty()) lines.push_back(std::move(line));
    return !std::ferror(file);
}

std::string WithoutLineEnd(const std::string& line) {
    size_t end = line.find_first_of("\r\n");
    return end == std::string::npos ? line : line.substr(0, end);
}

// The index of the description line, or -1 with the message in `error`. The
// sections are found as the profile reader finds them, so the description
// shown and renamed here is the one the program loads.
int FindDescriptionLine(const std::string& path, const std::vector<std::string>& lines, std::string& error) {
    using namespace profileformat;
    const ProfileSections sections = FindProfileSections(lines);
    if (sections.error) {
        // The manager's own texts where it has them, the reader's for the later sections.
        static constexpr int kIds[] = {63710, 63711};
        if (sections.error == kMsgOldHeader) error = Formatted(63706, path);
        else if (sections.error == kMsgBadHeader) error = Formatted(63707, path);
        else if (sections.broken < 0) error = Formatted(63709, path);
        else if (sections.broken < 2) error = Formatted(kIds[sections.broken], path);
        else error = platform::Format(sections.error, path.c_str());
        return -1;
    }
    const size_t v2 = sections.begin[1];
    if (v2 == ProfileSections::kAbsent) {
        error = Formatted(63711, path);
        return -1;
    }
    // The version 2 section: four values, then the description.
    return static_cast<int>(v2 + 5);
}

}  // namespace

ProfileSummaryTexts SummaryTexts(const ProfileSummary& r, int sampleRate) {
    ProfileSummaryTexts t;
    t.videoStream = LoadResString(r.videoBitRate == 0 ? 63667 : r.mpeg1 == 1 ? 63665 : 63666);
    if (r.videoBitRate == 0) {
        t.frameRate = LoadResString(63671);
    } else {
        t.frameRate = LoadResString(63668) + (r.frameRate == 23   ? LoadResString(63669)
                                              : r.frameRate == 29 ? LoadResString(63670)
                                                                  : std::to_string(r.frameRate));
    }
    t.frameSize = platform::Format("Frame Size: %d x %d", r.width, r.height);
    if (r.audioBitRate == 0) {
        t.audioStream = LoadResString(63672);
    } else {
        t.audioStream = LoadResString(63677);
        if (r.audioMode >= 0 && r.audioMode <= 3) {
            // The table's texts name 44.1 kHz; the profile's own rate is shown.
            std::string format = LoadResString(63673 + r.audioMode);
            const size_t at = format.find("44.1");
            if (at != std::string::npos) format.replace(at, 4, KiloHertz(sampleRate));
            t.audioFormat = format;
        }
    }
    const long long videoKbits = r.videoBitRate / 1024;
    t.dataRate = LoadResString(63678) + (r.videoBitRate < 1 ? LoadResString(63680)
                                                            : std::to_string((videoKbits + r.audioBitRate) * 101 / 100) +
                                                                  LoadResString(63679));
    t.videoRate = LoadResString(63681) +
                  (r.videoBitRate < 1 ? LoadResString(63683) : std::to_string(videoKbits) + LoadResString(63682));
    t.audioRate = LoadResString(63684) +
                  (r.audioBitRate < 1 ? LoadResString(63686) : std::to_string(r.audioBitRate) + LoadResString(63685));
    return t;
}

ProfileSummaryTexts EmptySummaryTexts() {
    ProfileSummaryTexts t;
    t.videoStream = LoadResString(63687);
    t.frameRate = LoadResString(63688);
    t.audioFormat = LoadResString(63689);
    t.dataRate = LoadResString(63690);
    t.videoRate = LoadResString(63691);
    t.audioRate = LoadResString(63692);
    return t;
}

int ProfileSampleRate(const std::string& path) {
    using namespace profileformat;
    std::vector<std::string> lines;
    if (!ReadLines(path, lines)) return 44100;
    const size_t at = FindProfileSections(lines).begin[4];
    int version = 0, count = 0, rate = 0;
    if (at != ProfileSections::kAbsent && at + 5 < lines.size() && ParseInt(lines[at + 1].c_str(), version) &&
        ParseInt(lines[at + 2].c_str(), count) && version >= 2 && count >= 3 &&
        ParseInt(lines[at + 5].c_str(), rate) && rate > 0)
        return rate;
    return 44100;
}

bool ReadProfileDescriptionLine(const std::string& path, std::string& description, std::string& error) {
    std::vector<std::string> lines;
    if (!ReadLines(path, lines)) {
        error = Formatted(63705, path);
        return false;
    }
    const int at = FindDescriptionLine(path, lines, error);
    if (at < 0) return false;
    description = profileformat::StoredText(WithoutLineEnd(lines[size_t(at)]));
    return true;
}

bool RewriteProfileDescription(const std::string& source, const std::string& target, const std::string& description,
                               std::string& error) {
    std::vector<std::string> lines;
    if (!ReadLines(source, lines)) {
        error = Formatted(63705, source);
        return false;
    }
    const int at = FindDescriptionLine(source, lines, error);
    if (at < 0) return false;
    std::string& line = lines[size_t(at)];
    const size_t end = line.find_first_of("\r\n");
    line = description + (end == std::string::npos ? std::string() : line.substr(end));
    std::string text;
    for (const std::string& each : lines) text += each;
    switch (platform::ReplaceFileContents(target, text)) {
    case platform::ReplaceStatus::Ok: return true;
    case platform::ReplaceStatus::CreateFailed: error = Formatted(63702, target); return false;
    case platform::ReplaceStatus::WriteFailed: error = Formatted(63703, target); return false;
    case platform::ReplaceStatus::CloseFailed: error = Formatted(63704, target); return false;
    }
    return false;
}

CProfileMgr::CProfileMgr(CMpegDoc* document, QWidget* parent) : QDialog(parent), document_(document) {
    setObjectName("169");
    setWindowTitle("Profile Manager");
    setModal(true);
    auto* layout = new QHBoxLayout(this);
    auto* profiles = new QGroupBox("&Profiles", this);
    auto* profilesLayout = new QVBoxLayout(profiles);
    list_ = new CProfileList(profiles);
    list_->setObjectName("1129");
    list_->setMinimumSize(240, 220);
    list_->installEventFilter(this);
    list_->setContextMenuPolicy(Qt::ActionsContextMenu);
    profilesLayout->addWidget(list_);
    layout->addWidget(profiles, 1);

    auto* side = new QVBoxLayout;
    auto button = [&](const char* id, const char* text) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(id);
        side->addWidget(b);
        return b;
    };
    QPushButton* load = button("1", "&Load Profile");
    load->setDefault(true);
    QPushButton* save = button("1114", "&Save Current");
    QPushButton* remove = button("1115", "&Delete Profile");
    QPushButton* close = button("2", "&Close");
    auto* info = new QGroupBox("Selected Profile Info:", this);
    auto* infoLayout = new QVBoxLayout(info);
    auto label = [&](const char* id, int textId) {
        auto* l = new QLabel(QString::fromStdString(LoadResString(textId)), info);
        l->setObjectName(id);
        infoLayout->addWidget(l);
        return l;
    };
    videoStream_ = label("1122", 63657);
    videoRate_ = label("1120", 63658);
    frameRate_ = label("1116", 63659);
    frameSize_ = label("1170", 63659);
    frameSize_->clear();
    dataRate_ = label("1119", 63660);
    audioStream_ = label("1117", 63661);
    audioRate_ = label("1121", 63662);
    audioFormat_ = label("1118", 63663);
    side->addWidget(info);
    auto* hint = new QLabel(
        "To edit an existing Profile, load it, make changes within the application, and Save your changes.", this);
    hint->setWordWrap(true);
    side->addWidget(hint);
    side->addStretch(1);
    layout->addLayout(side);

    // The list's right-button menu.
    auto menuItem = [&](int id, int textId, auto handler) {
        auto* action = new QAction(QString::fromStdString(LoadResString(textId)), list_);
        action->setObjectName(QString::number(id));
        connect(action, &QAction::triggered, this, handler);
        list_->addAction(action);
    };
    menuItem(32798, 63653, [this] { accept(); });
    menuItem(32800, 63654, [this] { OnRename(); });
    menuItem(32799, 63655, [this] { CopyProfile(); });
    menuItem(32801, 63656, [this] { OnDeleteProfile(); });

    connect(load, &QPushButton::clicked, this, &CProfileMgr::accept);
    connect(save, &QPushButton::clicked, this, &CProfileMgr::OnSaveCurrent);
    connect(remove, &QPushButton::clicked, this, &CProfileMgr::OnDeleteProfile);
    connect(close, &QPushButton::clicked, this, &CProfileMgr::reject);
    connect(list_, &QListWidget::currentRowChanged, this, &CProfileMgr::ShowProfileInfo);
    connect(list_, &QListWidget::itemDoubleClicked, this, [this] {
        ShowProfileInfo(list_->currentRow());
        accept();
    });

    RefillList();
    if (list_->count() > 0) {
        list_->setCurrentRow(0);
        ShowProfileInfo(0);
    }
}

void CProfileMgr::RefillList() {
    QSignalBlocker quiet(list_);
    list_->clear();
    for (size_t i = 0; i < ProfileDescriptionList.size(); ++i) {
        auto* item = new QListWidgetItem(QString::fromStdString(ProfileDescriptionList[i]), list_);
        item->setData(Qt::UserRole, int(i));
    }
}

void CProfileMgr::ShowTexts(const ProfileSummaryTexts& t) {
    videoStream_->setText(QString::fromStdString(t.videoStream));
    frameRate_->setText(QString::fromStdString(t.frameRate));
    frameSize_->setText(QString::fromStdString(t.frameSize));
    audioStream_->setText(QString::fromStdString(t.audioStream));
    audioFormat_->setText(QString::fromStdString(t.audioFormat));
    dataRate_->setText(QString::fromStdString(t.dataRate));
    videoRate_->setText(QString::fromStdString(t.videoRate));
    audioRate_->setText(QString::fromStdString(t.audioRate));
}

void CProfileMgr::ShowProfileInfo(int row) {
    QListWidgetItem* item = row >= 0 ? list_->item(row) : nullptr;
    const int i = item ? item->data(Qt::UserRole).toInt() : -1;
    if (i < 0 || size_t(i) >= ProfilePathList.size() || size_t(i) >= ProfileSummaryTable.size()) {
        ShowTexts(EmptySummaryTexts());
        return;
    }
    LastShownProfileIndex = row;
    selectedPath_ = ProfilePathList[size_t(i)];
    ShowTexts(SummaryTexts(ProfileSummaryTable[size_t(i)], ProfileSampleRate(selectedPath_)));
}

void CProfileMgr::accept() {
    if (document_ && !selectedPath_.empty()) {
        // Loading over unsaved edits asks first, as Import and Reset do; Cancel keeps them.
        if (!document_->SaveModified()) return;
        document_->LoadProfileFromPath(selectedPath_);
    }
    QDialog::accept();
}

void CProfileMgr::OnSaveCurrent() {
    if (document_) document_->OnFileSave();
    BuildProfileList();
    RefillList();
}

void CProfileMgr::OnDeleteProfile() {
    if (selectedPath_.empty()) return;
    if (platform::ShowMessageBox(LoadResString(63664), "", platform::MbButtons::OkCancel, platform::MbIcon::None,
                                 this) != platform::MbAnswer::Ok)
        return;
    const std::string path = selectedPath_;
    const int index = FindProfilePath(path);
    const std::string description = index >= 0 ? ProfileDescriptionList[size_t(index)] : std::string();
    // The file goes first: only a profile that is really gone is forgotten by the document.
    std::error_code ec;
    if (!std::filesystem::remove(path, ec)) {
        const std::string reason = ec ? ec.message() : std::strerror(ENOENT);
        platform::ShowMessageBox("Failed to delete profile file: \n" + path + "\n\n" + reason, "",
                                 platform::MbButtons::Ok, platform::MbIcon::Stop, this);
        return;
    }
    if (document_) document_->OnProfileDeleted(description, path);
    selectedPath_.clear();
    BuildProfileList();
    RefillList();
    const int count = list_->count();
    const int last = LastShownProfileIndex;
    const int row = last == 0 && count > 0 ? 0 : last >= 1 && last <= count ? last - 1 : -1;
    {
        QSignalBlocker quiet(list_);
        list_->setCurrentRow(row);
    }
    ShowProfileInfo(row);
}

void CProfileMgr::OnRename() {
    if (!document_ || selectedPath_.empty()) return;
    std::string description, error;
    if (!ReadProfileDescriptionLine(selectedPath_, description, error)) {
        platform::ShowMessageBox(error, "", platform::MbButtons::Ok, platform::MbIcon::None, this);
        return;
    }
    CEditProfileDescDialog dialog(this);
    dialog.okText = LoadResString(63699);
    dialog.caption = LoadResString(63700);
    dialog.description = description;
    if (dialog.exec() != QDialog::Accepted) return;
    if (!RewriteProfileDescription(selectedPath_, selectedPath_, dialog.description, error)) {
        platform::ShowMessageBox(error, "", platform::MbButtons::Ok, platform::MbIcon::None, this);
        return;
    }
    const std::string path = selectedPath_;
    BuildProfileList();
    RefillList();
    document_->OnProfileRenamed(path, description, dialog.description);
    const int index = FindProfilePath(path);
    if (index >= 0) list_->setCurrentRow(index);
}

void CProfileMgr::CopyProfile() {
    if (selectedPath_.empty()) return;
    std::string description, error;
    if (!ReadProfileDescriptionLine(selectedPath_, description, error)) {
        platform::ShowMessageBox(error, "", platform::MbButtons::Ok, platform::MbIcon::None, this);
        BuildProfileList();
        RefillList();
        return;
    }
    std::string name = FindFreeProfileName("", ProfileDirectory, LoadResString(63697), ".PRF");
    if (name.size() > 256) name.clear();
    // Each copy gets a description of its own: the batch and the recent-file
    // list find profiles by description, and would always reach the first.
    const std::string base = LoadResString(63698) + description;
    std::string copyDescription = base;
    for (int n = 2; std::find(ProfileDescriptionList.begin(), ProfileDescriptionList.end(), copyDescription) !=
                    ProfileDescriptionList.end();
         ++n)
        copyDescription = base + " (" + std::to_string(n) + ")";
    if (!name.empty() && !RewriteProfileDescription(selectedPath_, name, copyDescription, error))
        platform::ShowMessageBox(error, "", platform::MbButtons::Ok, platform::MbIcon::None, this);
    else if (!name.empty() && document_)
        document_->OnProfileCopied(name);
    BuildProfileList();
    RefillList();
}

bool CProfileMgr::eventFilter(QObject* watched, QEvent* event) {
    if (watched == list_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Delete) {
            OnDeleteProfile();
            return true;
        }
        if (key == Qt::Key_F2) {
            OnRename();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void OnProfileManager(CMpegDoc& document) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    BuildProfileList();
    CProfileMgr manager(&document);
    QApplication::restoreOverrideCursor();
    manager.exec();
}

void InstallProfileManagerCommand(CMainFrame& frame, CMpegDoc& document) {
    frame.SetCommand(
        kProfileManagerCommand, [&document] { OnProfileManager(document); },
        [] { return IdleCommandEnabled(RunState, PauseFlag, 0); });
}
