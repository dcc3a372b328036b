// Helpers of the main window's tests.
#include "tests/app/frame_util.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

namespace frametest {

void AnswerDescriptionDialog(std::vector<std::string> texts, const char* button) {
    QTimer::singleShot(0, [texts, button] {
        QWidget* dialog = QApplication::activeModalWidget();
        ASSERT_NE(dialog, nullptr);
        ASSERT_EQ(dialog->objectName(), "168");
        for (const std::string& text : texts) {
            dialog->findChild<QLineEdit*>("1112")->setText(QString::fromStdString(text));
            dialog->findChild<QPushButton*>(button)->click();
            if (!dialog->isVisible()) return;
        }
        if (dialog->isVisible()) dialog->findChild<QPushButton*>("2")->click();
    });
}

}  // namespace frametest
