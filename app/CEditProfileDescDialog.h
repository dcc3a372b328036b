// The "Save Profile" dialog: asks for a profile's description, cleans it and
// refuses an empty one or one another profile already has.
#pragma once

#include <QDialog>
#include <string>

class QLineEdit;
class QPushButton;

class CEditProfileDescDialog : public QDialog {
    Q_OBJECT
public:
    explicit CEditProfileDescDialog(QWidget* parent);

    // Set before exec(); `description` holds the accepted text afterwards.
    std::string okText;
    std::string caption;
    std::string description;

    void showEvent(QShowEvent* event) override;

public slots:
    void accept() override;

private:
    std::string initialDescription_;
    QLineEdit* edit_;
    QPushButton* okButton_;
};
