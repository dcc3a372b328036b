// The main window as a user first meets it on the smallest screen it runs on
// (the offscreen screen of 800 x 600): every number field shows its largest
// numbers whole, every label of the form and of the settings pages has the
// room its text needs, the pane captions fit their strip and both previews
// show a picture of the default size whole. A picture of the window with a
// 720 x 576 AVI and 6000 kbit/s is kept in the build folder.
#include <gtest/gtest.h>

#include <algorithm>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>

#include "app/AppSettings.h"
#include "app/CAdvancedSettingsSheet.h"
#include "app/CMainSettingsForm.h"
#include "app/PreviewPanes.h"
#include "app/QtMessageBox.h"
#include "platform/MessageBox.h"
#include "platform/ResStrings.h"
#include "settings/EncoderSettings.h"
#include "settings/Preview.h"
#include "tests/support/QtTestSupport.h"
#include "tests/support/TestSupport.h"

namespace {

// The box around the dark pixels of `image` (text drawn on a light ground).
QRect Ink(const QImage& picture) {
    const QImage image = picture.convertToFormat(QImage::Format_RGB32);
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qGray(image.pixel(x, y)) < 100) box |= QRect(x, y, 1, 1);
    return box;
}

// Every label, check box, radio and button under `root` that is shown has the room its text asks for.
void ExpectTextsWhole(QWidget* root, const std::string& where) {
    for (QWidget* w : root->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(root) || !(qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w)) ||
            w->property("text").toString().isEmpty())
            continue;
        const QSize need = w->minimumSizeHint();
        EXPECT_TRUE(w->width() >= need.width() && w->height() >= need.height())
            << where << ": \"" << w->property("text").toString().toStdString() << "\"";
    }
}

using WindowFitTest = qttest::ProgramTest;

TEST_F(WindowFitTest, EveryFieldLabelCaptionAndPictureIsWholeAt800x600) {
    platform::ScriptedMessageBoxes boxes;
    if (!testsupport::HaveTool("ffmpeg")) GTEST_SKIP() << "no ffmpeg";
    frame_->PlaceWindow(QRect(0, 0, 800, 600));
    const std::string avi = (dir_ / "pal.avi").string();
    ASSERT_EQ(testsupport::RunCommand("ffmpeg -v error -y -f lavfi -i testsrc2=size=720x576:rate=25 -t 0.2 -c:v "
                                      "mjpeg '" + avi + "'"),
              0);
    // The variable-rate text in place of the field.
    EncoderSettings.rateControl = 2;
    MainSettingsForm->LoadDefaultProfile();
    ExpectTextsWhole(MainSettingsForm, "form, variable rate");
    EncoderSettings.rateControl = 1;
    MainSettingsForm->LoadDefaultProfile();

    EncoderSettings.showInput = EncoderSettings.showOutput = 1;
    ASSERT_EQ(MainSettingsForm->SetInputFile(avi), 1);
    frame_->findChild<QAction*>("32777")->trigger();  // the input preview off and on again: both panes show
    frame_->findChild<QAction*>("32777")->trigger();
    QCoreApplication::processEvents();
    EXPECT_TRUE(QRect(0, 0, 800, 600).contains(frame_->geometry()));

    // The bit-rate field shows each number whole: as wide in ink as the font draws it.
    auto* bitRate = qttest::Control<QLineEdit>(MainSettingsForm, "1014");
    for (const char* number : {"1600", "6000", "9800", "102400"}) {
        bitRate->setText(number);
        const QRect ink = Ink(bitRate->grab().toImage().copy(bitRate->rect().adjusted(3, 3, -3, -3)));
        // (Smoothed edges may leave a column of the bounding box light.)
        EXPECT_GE(ink.width() + 2, bitRate->fontMetrics().tightBoundingRect(number).width()) << number;
        EXPECT_GT(ink.left(), 0) << number;
    }
    ExpectTextsWhole(MainSettingsForm, "form");

    // The pane captions fit their strip below the framed area, descenders and all.
    for (QWidget* pane : {StatViewInstance->InputPane(), StatViewInstance->OutputPane()}) {
        const QRect framed = pane->childrenRect();
        const QImage strip =
            pane->grab().toImage().copy(0, framed.bottom() + 1, pane->width(), pane->height() - framed.bottom() - 1);
        const QRect ink = Ink(strip);
        EXPECT_GT(ink.height(), 12);
        EXPECT_TRUE(ink.top() > 0 && ink.bottom() < strip.height() - 1 && ink.left() > 0 &&
                    ink.right() < strip.width() - 1);
    }
    // Both 356-pixel picture windows (352 x 240 and their border) inside their panes.
    for (int pane : {kInputPane, kOutputPane}) {
        CPictureWindow* picture = StatViewInstance->Picture(pane);
        EXPECT_EQ(picture->size(), QSize(356, 244));
        EXPECT_TRUE(picture->parentWidget()->rect().contains(picture->geometry().adjusted(-2, -2, 2, 2))) << pane;
    }

    // Each page of the settings sheet, MPEG-2 with sound.
    EncoderSettings.mpeg1 = 0;
    AdvancedSheetForm form;
    form.mpeg2 = form.audio = true;
    form.aviChannels = 2;
    PrepareAdvancedSheet(form, EncoderSettings);
    CAdvancedSettingsSheet sheet(form, EncoderSettings, ThreadOptionValues{2, 0, 0, 0, 0});
    sheet.show();
    for (int i = 0; i < sheet.PageCount(); ++i) {
        ASSERT_TRUE(sheet.SetActivePage(i));
        QCoreApplication::processEvents();
        ExpectTextsWhole(sheet.PageAt(i), "page " + std::to_string(i));
    }
    sheet.reject();

    bitRate->setText("6000");
    QCoreApplication::processEvents();
    const QString shot = QCoreApplication::applicationDirPath() + "/window-720x576-6000kbits.png";
    EXPECT_TRUE(frame_->grab().save(shot));
}

// A long warning keeps each line whole at 800 x 600 (Qt's own wrapping broke nearly every line in two) and fits the
// screen; a short box stays wide enough for its bold caption beside the title bar's buttons.
TEST(MessageBoxFitTest, LinesAndCaptionStayWholeAt800x600) {
    qttest::App();
    const std::string text = std::string(LoadResString(64273)) + "\nDo you wish to continue anyway ?";
    int shownLines = 0;
    QRect frame;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) return;
        const auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
        shownLines = label->height() / label->fontMetrics().lineSpacing();
        frame = box->frameGeometry();
        box->reject();
    });
    poll.start(20);
    ShowQtMessageBox({"", text, platform::MbButtons::YesNo, platform::MbIcon::Warning});
    const int lines = int(std::count(text.begin(), text.end(), '\n'));  // the last line break ends an empty line
    EXPECT_TRUE(shownLines == lines || shownLines == lines + 1) << shownLines << " lines shown of " << lines;
    EXPECT_TRUE(QRect(0, 0, 800, 600).contains(frame)) << frame.width() << "x" << frame.height();

    ShowQtMessageBox({"", "Can't play output file:\n\nFile not Found."});
    QFont bold = QApplication::font();
    bold.setBold(true);
    EXPECT_GE(frame.width(), QFontMetrics(bold).horizontalAdvance("Tessmar") + 100);
}

}  // namespace
