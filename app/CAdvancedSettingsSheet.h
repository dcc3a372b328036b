// The tabbed "Advanced Parameters" sheet over the less common settings, and
// the whole cycle of opening it from the main settings form.
#pragma once

#include <QDialog>
#include <vector>

#include "app/AdvancedPage.h"
#include "app/SheetLogic.h"

class QTabWidget;
class QPushButton;

// The tab the sheet was left on and how many tabs it had then; it reopens on
// that tab while the count is the same.
extern int LastAdvancedPage;       // -1 until the sheet was first used
extern int LastAdvancedPageCount;  // 0 until then

class CAdvancedSettingsSheet : public QDialog {
public:
    // Builds the pages the form's choices call for, their values taken from
    // `settings` and `threads`. The form should have been through
    // PrepareAdvancedSheet.
    CAdvancedSettingsSheet(const AdvancedSheetForm& form, const EncoderSettingsRecord& settings,
                           const ThreadOptionValues& threads, QWidget* parent = nullptr);
    ~CAdvancedSettingsSheet() override;

    // The values as the pages hold them now, and as the sheet started.
    const AdvancedPageValues& Values() const { return values_; }
    const AdvancedPageValues& StartValues() const { return start_; }
    const AdvancedSheetContext& Context() const { return context_; }

    int PageCount() const { return static_cast<int>(pages_.size()); }
    CAdvancedPage* PageAt(int index) const { return pages_[static_cast<size_t>(index)]; }
    CAdvancedPage* Page(AdvancedPage kind) const;
    int ActiveIndex() const { return active_; }
    // Makes the page at `index` active as a click on its tab would; false when
    // the page being left keeps the user.
    bool SetActivePage(int index);

    // The OK and Cancel buttons.
    void OnOK();
    void OnCancel();

private:
    void OnTabChanged(int index);
    void RememberPage();
    void ShowPage(int index);

    const EncoderSettingsRecord& settings_;
    AdvancedSheetContext context_;
    AdvancedPageValues start_;
    AdvancedPageValues values_;
    std::vector<CAdvancedPage*> pages_;
    QTabWidget* tabs_;
    int active_ = 0;
    bool switching_ = false;
};

// The main settings form's "Advanced" cycle on the process-wide settings and
// thread options: brings the form's audio choice and stream kind into the
// settings, runs the sheet, and after OK writes back what changed (saving the
// thread options when they changed). `form.keepDuration` comes back changed
// when the Sync page changed it. Returns 1 after OK and 0 after Cancel;
// `modified` tells whether the document must be marked modified. The caller
// then refreshes the form and, after OK, checks the temporary file names.
int RunAdvancedSettings(QWidget* parent, AdvancedSheetForm& form, bool* modified);

// The part of the cycle after the sheet closed (`accepted` for OK), for
// callers that run the sheet themselves.
void FinishAdvancedSettings(const CAdvancedSettingsSheet& sheet, bool accepted, AdvancedSheetForm& form,
                            bool* modified);
