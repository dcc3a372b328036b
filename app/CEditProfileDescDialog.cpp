// The description dialog of the save commands and of the profile manager's rename.
#include "app/CEditProfileDescDialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/FrameLogic.h"
#include "app/ProfileList.h"
#include "platform/MessageBox.h"
#include "platform/ResStrings.h"

namespace {
constexpr int kDescriptionLimit = 58;
}

CEditProfileDescDialog::CEditProfileDescDialog(QWidget* parent)
    : QDialog(parent), okText(LoadResString(63307)), caption(LoadResString(63308)) {
    setObjectName("168");
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel("Enter a descriptive name for the current profile:", this));
    edit_ = new QLineEdit(this);
    edit_->setObjectName("1112");
    edit_->setMaxLength(kDescriptionLimit);
    layout->addWidget(edit_);
    auto* buttons = new QHBoxLayout;
    okButton_ = new QPushButton(this);
    okButton_->setObjectName("1");
    okButton_->setDefault(true);
    auto* cancel = new QPushButton("Cancel", this);
    cancel->setObjectName("2");
    buttons->addStretch();
    buttons->addWidget(okButton_);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    connect(okButton_, &QPushButton::clicked, this, &CEditProfileDescDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &CEditProfileDescDialog::reject);
}

void CEditProfileDescDialog::showEvent(QShowEvent* event) {
    setWindowTitle(QString::fromStdString(caption));
    okButton_->setText(QString::fromStdString(okText));
    initialDescription_ = description;
    edit_->setText(QString::fromStdString(description));
    QDialog::showEvent(event);
}

void CEditProfileDescDialog::accept() {
    const std::string cleaned = CleanProfileDescription(edit_->text().toStdString());
    edit_->setText(QString::fromStdString(cleaned));
    const int refusal = CheckProfileDescription(cleaned, ProfileDescriptionList, initialDescription_, caption);
    if (refusal) {
        platform::ShowMessageBox(LoadResString(refusal), "", platform::MbButtons::Ok, platform::MbIcon::None, this);
        return;
    }
    description = edit_->text().left(kDescriptionLimit).toStdString();
    QDialog::accept();
}
