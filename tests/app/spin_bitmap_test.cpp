// The spin control's stepping (grid, limits, odd buddy texts, re-centring)
// and the transparent drawing of a bitmap.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPainter>
#include <QToolButton>

#include "app/CAlphaBitmap.h"
#include "app/CSpinCtrl8.h"
#include "tests/support/QtTestSupport.h"

namespace {

using qttest::App;

TEST(SpinStepTest, GridOfEightAndPlainSteps) {
    EXPECT_EQ(SpinStepUp("16", 8, 8, 1024, 1), 24);
    EXPECT_EQ(SpinStepDown("16", 8, 8, 1024, 1), 8);
    EXPECT_EQ(SpinStepUp("10", 8, 8, 1024, 1), 24);
    EXPECT_EQ(SpinStepDown("10", 8, 8, 1024, 1), 8);
    // Without a grid the delta counts, at least 1.
    EXPECT_EQ(SpinStepUp("10", 0, 1, 100, 3), 13);
    EXPECT_EQ(SpinStepDown("10", 1, 1, 100, 0), 9);
}

TEST(SpinStepTest, OddTextsAndLimits) {
    EXPECT_EQ(SpinStepUp("abc", 0, 0, 100, 1), 1);  // not a number: 0
    EXPECT_EQ(SpinStepUp("-7", 0, 0, 100, 1), 1);   // negative: 0
    EXPECT_EQ(SpinStepUp("abc", 8, 8, 1024, 1), 8);
    EXPECT_EQ(SpinStepUp("1024", 8, 8, 1024, 1), 1024);  // stays at the maximum
    EXPECT_EQ(SpinStepDown("8", 8, 8, 1024, 1), 8);      // stays at the minimum
    EXPECT_EQ(SpinStepDown("1", 0, 1, 1000000, 1), 1);
    EXPECT_EQ(SpinStepUp("5", 0, 10, 3, 1), 10);  // crossed limits: the minimum wins
}

TEST(SpinControlTest, ClicksStepTheBuddyAndComeBackToTheMiddle) {
    App();
    QLineEdit buddy;
    CSpinCtrl8 spin;
    spin.SetBuddy(&buddy);
    spin.SetLimits(8, 1024);
    spin.SetStep(8);
    int stepped = 0;
    QObject::connect(&spin, &CSpinCtrl8::Stepped, [&] { ++stepped; });
    buddy.setText("16");
    spin.findChild<QToolButton*>("up")->click();
    EXPECT_EQ(buddy.text(), "24");
    EXPECT_EQ(spin.Position(), 50);
    spin.findChild<QToolButton*>("down")->click();
    spin.findChild<QToolButton*>("down")->click();
    EXPECT_EQ(buddy.text(), "8");
    EXPECT_EQ(spin.Position(), 50);
    EXPECT_EQ(stepped, 3);
    spin.OnDeltaPos(53);  // a jump of three without a grid
    EXPECT_EQ(buddy.text(), "16");
    spin.SetStep(0);
    spin.OnDeltaPos(53);
    EXPECT_EQ(buddy.text(), "19");

    CSpinCtrl8 lonely;  // no buddy: nothing happens
    lonely.OnDeltaPos(60);
    EXPECT_EQ(lonely.Position(), 50);
}

TEST(AlphaBitmapTest, WhitePixelsShowTheBackground) {
    QImage picture(4, 3, QImage::Format_RGB32);
    picture.fill(Qt::white);
    picture.setPixel(1, 1, qRgb(200, 10, 10));
    picture.setPixel(2, 0, qRgb(0, 0, 0));
    picture.setPixel(3, 2, qRgb(254, 255, 255));  // near white is drawn
    CAlphaBitmap bitmap(picture);

    QImage target(8, 6, QImage::Format_RGB32);
    target.fill(qRgb(0, 100, 0));
    {
        QPainter p(&target);
        bitmap.DrawTransparent(p, 2, 1, qRgb(255, 255, 255));
    }
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x) {
            QRgb expect = qRgb(0, 100, 0);
            if (x == 3 && y == 2) expect = qRgb(200, 10, 10);
            if (x == 4 && y == 1) expect = qRgb(0, 0, 0);
            if (x == 5 && y == 3) expect = qRgb(254, 255, 255);
            EXPECT_EQ(target.pixel(x, y), expect) << x << "," << y;
        }
}

}  // namespace

// A click never moves a number the wrong way: above the range (6000 on the
// form's 0..4608, 60000 on the page's 1..50000) Up keeps the text as typed.
// A huge number steps without overflow (the sanitizer build would catch one).
TEST(SpinControlTest, StepsNeverMoveTheWrongWayAndHugeTextsDoNotOverflow) {
    App();
    QLineEdit buddy;
    CSpinCtrl8 spin;
    spin.SetBuddy(&buddy);
    const auto click = [&](const char* text, const char* button) {
        buddy.setText(text);
        spin.findChild<QToolButton*>(button)->click();
        return buddy.text().toStdString();
    };
    const char* huge = "99999999999999999999999999";
    spin.SetLimits(0, 4608);
    EXPECT_EQ(click("6000", "up"), "6000");
    EXPECT_EQ(click("6000", "down"), "4608");
    spin.SetLimits(1, 50000);
    EXPECT_EQ(click("60000", "up"), "60000");
    EXPECT_EQ(click("0", "down"), "0");
    EXPECT_EQ(click(huge, "down"), "50000");
    spin.SetStep(8);
    EXPECT_EQ(click(huge, "up"), huge);
}
