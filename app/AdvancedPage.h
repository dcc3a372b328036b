// The pages of the advanced settings sheet. Each page edits its part of the
// sheet's working copy of the page values: it loads its controls when it is
// first shown and validates and saves them when it is left or the sheet is
// closed with OK. Every control carries its dialog control number as its
// objectName, every page its dialog number.
#pragma once

#include <QBoxLayout>
#include <QString>
#include <QWidget>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "app/SheetLogic.h"


class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class CSpinCtrl8;

// What the pages know of the settings beyond their own values.
struct AdvancedSheetContext {
    AdvancedSheetForm form;
    int applicationType = kApplicationNone;
    int streamType = kStreamTypeMpeg1;
};

// The save-file chooser of the Files page: title, filter in the "text|pattern||"
// form, default extension, initial file name and folder; an empty result is a
// cancelled choice. Replaced by tests.
using TempFileChooser = std::function<std::string(const std::string& title, const std::string& filter,
                                                  const std::string& extension, const std::string& fileName,
                                                  const std::string& folder)>;
TempFileChooser SetTempFileChooser(TempFileChooser chooser);

class CAdvancedPage : public QWidget {
public:
    CAdvancedPage(AdvancedPage kind, int dialogId, const QString& title, AdvancedPageValues& values,
                  const AdvancedSheetContext& context);
    ~CAdvancedPage() override;

    AdvancedPage Kind() const { return kind_; }
    const QString& Title() const { return title_; }
    bool Initialised() const { return initialised_; }

    // The page becomes the active one: loads and initialises it the first
    // time, then does its own activation. False refuses the activation.
    bool Activate();
    // The page is left or the sheet closes with OK: false keeps the user on it.
    bool Deactivate();

protected:
    // Loads the controls from the values (save false) or validates and saves
    // them (save true); false when a value is refused.
    virtual bool DoDataExchange(bool save) = 0;
    virtual void OnInitDialog() {}
    virtual bool OnSetActive() { return true; }
    virtual bool OnKillActive() { return DoDataExchange(true); }

    // Control makers: the control gets its number as objectName and the page as parent.
    QLineEdit* MakeEdit(int id);
    QCheckBox* MakeCheck(int id, const char* text);
    QRadioButton* MakeRadio(int id, const char* text);
    QComboBox* MakeList(int id, std::initializer_list<const char*> entries);
    QLabel* MakeText(int id, const char* text);
    QPushButton* MakeButton(int id, const char* text);
    QGroupBox* MakeGroup(const char* title);
    CSpinCtrl8* MakeSpin(int id, QLineEdit* buddy, int minimum, int maximum, int step = 0);

    // Layout helpers: a row of widgets (null pointers leave a gap) in `into`.
    QBoxLayout* PageLayout() const { return layout_; }
    static void AddRow(QBoxLayout* into, std::initializer_list<QWidget*> widgets);
    static QBoxLayout* GroupLayout(QGroupBox* group);

    // Exchange helpers in the manner of the class library's data exchange. A
    // disabled control is loaded but never saved: its value cannot have been
    // edited and must not trap the user in a range message.
    bool ExchangeInt(bool save, QLineEdit* edit, int& value, int minimum, int maximum);
    void ExchangeText(bool save, QLineEdit* edit, std::string& value);
    void ExchangeCheck(bool save, QCheckBox* box, int& value);
    void ExchangeRadio(bool save, const std::vector<QRadioButton*>& buttons, int& index);
    void ExchangeList(bool save, QComboBox* list, int& index, int lowest = 0, int highest = 1 << 30);

    AdvancedPageValues& v_;
    const AdvancedSheetContext& ctx_;

private:
    AdvancedPage kind_;
    QString title_;
    QBoxLayout* layout_;
    bool initialised_ = false;
};

// One factory per page class.
CAdvancedPage* MakeAdvancedPage(AdvancedPage kind, AdvancedPageValues& values, const AdvancedSheetContext& context);
CAdvancedPage* MakeMotionAndSequencePage(AdvancedPage kind, AdvancedPageValues& values,
                                         const AdvancedSheetContext& context);
CAdvancedPage* MakeStreamPage(AdvancedPage kind, AdvancedPageValues& values, const AdvancedSheetContext& context);
CAdvancedPage* MakeCodingPage(AdvancedPage kind, AdvancedPageValues& values, const AdvancedSheetContext& context);
