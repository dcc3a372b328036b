// The advanced settings sheet: its tabs, the checks of OK, and the cycle that
// fills it from the settings and writes back what the user changed.
#include "app/CAdvancedSettingsSheet.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "engine/Threads.h"
#include "platform/MessageBox.h"
#include "platform/ResStrings.h"
#include "settings/AudioRates.h"
#include "settings/EncoderSettings.h"
#include "settings/RunState.h"

int LastAdvancedPage = -1;
int LastAdvancedPageCount = 0;

CAdvancedSettingsSheet::CAdvancedSettingsSheet(const AdvancedSheetForm& form, const EncoderSettingsRecord& settings,
                                               const ThreadOptionValues& threads, QWidget* parent)
    : QDialog(parent), settings_(settings) {
    setWindowTitle(QString::fromUtf8(LoadResString(63359)));
    context_.form = form;
    context_.applicationType = settings.applicationType;
    context_.streamType = settings.streamType;
    start_ = PageValuesFromSettings(settings, form, threads);
    values_ = start_;

    auto* layout = new QVBoxLayout(this);
    tabs_ = new QTabWidget(this);
    tabs_->setObjectName("tabs");
    layout->addWidget(tabs_);
    for (AdvancedPage kind : AdvancedPagesFor(form, settings)) {
        CAdvancedPage* page = MakeAdvancedPage(kind, values_, context_);
        pages_.push_back(page);
        tabs_->addTab(page, page->Title());
    }
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* ok = new QPushButton("OK", this);
    ok->setObjectName("1");
    ok->setDefault(true);
    auto* cancel = new QPushButton("Cancel", this);
    cancel->setObjectName("2");
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    connect(ok, &QPushButton::clicked, this, [this] { OnOK(); });
    connect(cancel, &QPushButton::clicked, this, [this] { OnCancel(); });
    resize(660, 500);

    // Reopen on the tab last worked on when the sheet has the same tabs.
    int first = 0;
    if (LastAdvancedPage >= 0 && LastAdvancedPage < PageCount() && PageCount() == LastAdvancedPageCount)
        first = LastAdvancedPage;
    ShowPage(first);
    connect(tabs_, &QTabWidget::currentChanged, this, [this](int index) { OnTabChanged(index); });
}

CAdvancedSettingsSheet::~CAdvancedSettingsSheet() = default;

CAdvancedPage* CAdvancedSettingsSheet::Page(AdvancedPage kind) const {
    for (CAdvancedPage* p : pages_)
        if (p->Kind() == kind) return p;
    return nullptr;
}

void CAdvancedSettingsSheet::ShowPage(int index) {
    switching_ = true;
    tabs_->setCurrentIndex(index);
    switching_ = false;
    active_ = index;
    pages_[static_cast<size_t>(index)]->Activate();
}

bool CAdvancedSettingsSheet::SetActivePage(int index) {
    if (index < 0 || index >= PageCount()) return false;
    if (index == active_) return true;
    tabs_->setCurrentIndex(index);
    return active_ == index;
}

void CAdvancedSettingsSheet::OnTabChanged(int index) {
    if (switching_ || index == active_ || index < 0) return;
    if (!pages_[static_cast<size_t>(active_)]->Deactivate()) {
        // The page keeps the user until its values are right.
        switching_ = true;
        tabs_->setCurrentIndex(active_);
        switching_ = false;
        return;
    }
    ShowPage(index);
}

void CAdvancedSettingsSheet::RememberPage() {
    LastAdvancedPage = active_;
    LastAdvancedPageCount = PageCount();
}

void CAdvancedSettingsSheet::OnOK() {
    RememberPage();
    if (!pages_[static_cast<size_t>(active_)]->Deactivate()) return;
    auto goTo = [this](AdvancedPage kind) {
        for (int i = 0; i < PageCount(); ++i)
            if (pages_[static_cast<size_t>(i)]->Kind() == kind && i != active_) ShowPage(i);
    };
    // Stored variable bit rates that do not fit together must be corrected
    // even when their page was never opened.
    if (Page(AdvancedPage::BitrateControl)) {
        const std::string problem = BitrateControlProblem(values_);
        if (!problem.empty()) {
            goTo(AdvancedPage::BitrateControl);
            platform::ShowMessageBox(problem, "", platform::MbButtons::Ok, platform::MbIcon::Warning, this);
            return;
        }
    }
    for (const SheetCheck& check : FailedSheetChecks(values_, start_, context_.form, settings_)) {
        if (!check.question) {
            platform::ShowMessageBox(check.text, "", platform::MbButtons::Ok, check.icon, this);
            if (check.namesPage) goTo(check.page);
            return;
        }
        if (platform::ShowMessageBox(check.text, "", platform::MbButtons::YesNo, check.icon, this) ==
            platform::MbAnswer::Yes) {
            if (check.namesPage) goTo(check.page);
            return;
        }
    }
    accept();
}

void CAdvancedSettingsSheet::OnCancel() {
    RememberPage();
    reject();
}

namespace {

ThreadOptionValues CurrentThreadOptions() {
    ThreadOptionValues t;
    t.meThreads = MeThreadCount;
    t.read = ThreadReadFlag;
    t.draw = ThreadDrawFlag;
    t.encode = ThreadEncodeFlag;
    t.tables = ThreadTablesFlag;
    return t;
}

}  // namespace

void FinishAdvancedSettings(const CAdvancedSettingsSheet& sheet, bool accepted, AdvancedSheetForm& form,
                            bool* modified) {
    EncoderSettingsRecord& s = EncoderSettings;
    bool changed = false;
    if (accepted) {
        ThreadOptionValues threads = CurrentThreadOptions();
        const WriteBackOutcome out = WriteBackPageValues(sheet.Values(), sheet.StartValues(), s, form, threads);
        changed = out.modified;
        MeThreadCount = threads.meThreads;
        ThreadReadFlag = threads.read;
        ThreadDrawFlag = threads.draw;
        ThreadEncodeFlag = threads.encode;
        ThreadTablesFlag = threads.tables;
        if (out.threadOptionsChanged) WriteThreadOptions();
        if (out.audioChanged) s.audioBitRate = AudioBitrateFromIndex(s.audioMode, s.audioBitRateIndex);
    }
    SelectedAudioMode = s.audioMode;
    SelectedAudioBitRate = s.audioBitRate;
    SelectedAudioBitRateIndex = s.audioBitRateIndex;
    if (modified) *modified = changed;
}

int RunAdvancedSettings(QWidget* parent, AdvancedSheetForm& form, bool* modified) {
    EncoderSettingsRecord& s = EncoderSettings;
    if (SelectedAudioMode != -1) {
        s.audioMode = SelectedAudioMode;
        s.audioBitRateIndex = SelectedAudioBitRateIndex;
        s.audioBitRate = SelectedAudioBitRate;
    }
    PrepareAdvancedSheet(form, s);
    CAdvancedSettingsSheet sheet(form, s, CurrentThreadOptions(), parent);
    const bool accepted = sheet.exec() == QDialog::Accepted;
    FinishAdvancedSettings(sheet, accepted, form, modified);
    return accepted ? 1 : 0;
}
