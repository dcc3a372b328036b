// The shared behaviour of the advanced settings pages: activation, control
// makers and the data exchange with its range messages.
#include "app/AdvancedPage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <cerrno>
#include <cstdlib>

#include "app/CSpinCtrl8.h"
#include "platform/MessageBox.h"

namespace {

// The class library's reading of a number field: blanks around an optional
// sign and digits, nothing else.
bool ParseInt(const QString& text, long* value) {
    const std::string s = text.trimmed().toStdString();
    if (s.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(s.c_str(), &end, 10);
    if (errno != 0 || end == s.c_str() || *end != '\0') return false;
    *value = v;
    return true;
}

void RefuseField(QLineEdit* edit, const std::string& message) {
    platform::ShowMessageBox(message, "", platform::MbButtons::Ok, platform::MbIcon::Warning, edit);
    edit->setFocus();
    edit->selectAll();
}

}  // namespace

CAdvancedPage::CAdvancedPage(AdvancedPage kind, int dialogId, const QString& title, AdvancedPageValues& values,
                             const AdvancedSheetContext& context)
    : v_(values), ctx_(context), kind_(kind), title_(title) {
    setObjectName(QString::number(dialogId));
    layout_ = new QVBoxLayout(this);
}

CAdvancedPage::~CAdvancedPage() = default;

bool CAdvancedPage::Activate() {
    if (!initialised_) {
        initialised_ = true;
        DoDataExchange(false);
        OnInitDialog();
    }
    return OnSetActive();
}

bool CAdvancedPage::Deactivate() { return !initialised_ || OnKillActive(); }

QLineEdit* CAdvancedPage::MakeEdit(int id) {
    auto* e = new QLineEdit(this);
    e->setObjectName(QString::number(id));
    e->setMaximumWidth(90);
    return e;
}

QCheckBox* CAdvancedPage::MakeCheck(int id, const char* text) {
    auto* b = new QCheckBox(QString::fromUtf8(text), this);
    b->setObjectName(QString::number(id));
    return b;
}

QRadioButton* CAdvancedPage::MakeRadio(int id, const char* text) {
    auto* b = new QRadioButton(QString::fromUtf8(text), this);
    b->setObjectName(QString::number(id));
    return b;
}

QComboBox* CAdvancedPage::MakeList(int id, std::initializer_list<const char*> entries) {
    auto* list = new QComboBox(this);
    list->setObjectName(QString::number(id));
    for (const char* e : entries) list->addItem(QString::fromUtf8(e));
    return list;
}

QLabel* CAdvancedPage::MakeText(int id, const char* text) {
    auto* label = new QLabel(QString::fromUtf8(text), this);
    // Numbered texts explain at length; the short captions beside fields stay on one line.
    if (id != 0) label->setObjectName(QString::number(id));
    label->setWordWrap(id != 0);
    return label;
}

QPushButton* CAdvancedPage::MakeButton(int id, const char* text) {
    auto* b = new QPushButton(QString::fromUtf8(text), this);
    b->setObjectName(QString::number(id));
    b->setAutoDefault(false);
    return b;
}

QGroupBox* CAdvancedPage::MakeGroup(const char* title) {
    auto* g = new QGroupBox(QString::fromUtf8(title), this);
    new QVBoxLayout(g);
    layout_->addWidget(g);
    return g;
}

CSpinCtrl8* CAdvancedPage::MakeSpin(int id, QLineEdit* buddy, int minimum, int maximum, int step) {
    auto* spin = new CSpinCtrl8(this);
    spin->setObjectName(QString::number(id));
    spin->SetBuddy(buddy);
    spin->SetLimits(minimum, maximum);
    spin->SetStep(step);
    return spin;
}

void CAdvancedPage::AddRow(QBoxLayout* into, std::initializer_list<QWidget*> widgets) {
    auto* row = new QHBoxLayout;
    for (QWidget* w : widgets) {
        if (w)
            row->addWidget(w);
        else
            row->addSpacing(12);
    }
    row->addStretch(1);
    into->addLayout(row);
}

QBoxLayout* CAdvancedPage::GroupLayout(QGroupBox* group) { return static_cast<QBoxLayout*>(group->layout()); }

bool CAdvancedPage::ExchangeInt(bool save, QLineEdit* edit, int& value, int minimum, int maximum) {
    if (!save) {
        edit->setText(QString::number(value));
        return true;
    }
    if (!edit->isEnabled()) return true;
    long v = 0;
    if (!ParseInt(edit->text(), &v)) {
        RefuseField(edit, NotANumberMessage());
        return false;
    }
    if (v < minimum || v > maximum) {
        RefuseField(edit, RangeMessage(minimum, maximum));
        return false;
    }
    value = static_cast<int>(v);
    return true;
}

void CAdvancedPage::ExchangeText(bool save, QLineEdit* edit, std::string& value) {
    if (!save)
        edit->setText(QString::fromStdString(value));
    else if (edit->isEnabled())
        value = edit->text().toStdString();
}

void CAdvancedPage::ExchangeCheck(bool save, QCheckBox* box, int& value) {
    if (!save)
        box->setChecked(value != 0);
    else if (box->isEnabled())
        value = box->isChecked() ? 1 : 0;
}

void CAdvancedPage::ExchangeRadio(bool save, const std::vector<QRadioButton*>& buttons, int& index) {
    if (!save) {
        for (size_t i = 0; i < buttons.size(); ++i) {
            // Exclusive buttons cannot all be cleared while one is checked.
            buttons[i]->setAutoExclusive(false);
            buttons[i]->setChecked(static_cast<int>(i) == index);
        }
        for (QRadioButton* b : buttons) b->setAutoExclusive(true);
        return;
    }
    bool anyEnabled = false;
    for (QRadioButton* b : buttons) anyEnabled = anyEnabled || b->isEnabled();
    if (!anyEnabled) return;
    int checked = -1;
    for (size_t i = 0; i < buttons.size(); ++i)
        if (buttons[i]->isChecked()) checked = static_cast<int>(i);
    if (checked >= 0) index = checked;
}

void CAdvancedPage::ExchangeList(bool save, QComboBox* list, int& index, int lowest, int highest) {
    if (!save) {
        list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
        return;
    }
    if (!list->isEnabled()) return;
    const int i = list->currentIndex();
    if (i >= lowest && i <= highest) index = i;
}

CAdvancedPage* MakeAdvancedPage(AdvancedPage kind, AdvancedPageValues& values, const AdvancedSheetContext& context) {
    if (CAdvancedPage* p = MakeMotionAndSequencePage(kind, values, context)) return p;
    if (CAdvancedPage* p = MakeStreamPage(kind, values, context)) return p;
    return MakeCodingPage(kind, values, context);
}
