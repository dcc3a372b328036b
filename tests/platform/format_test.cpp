// Bounded formatting, the C-locale scope and the message-box service.
#include <clocale>
#include <gtest/gtest.h>

#include "platform/Format.h"
#include "platform/MessageBox.h"

TEST(Format, LongTextsAreNotCut) {
    std::string path(5000, 'p');
    std::string s = platform::Format("Program can't create output file %s!", path.c_str());
    EXPECT_EQ(s.size(), path.size() + 34);
    EXPECT_EQ(s.substr(s.size() - 1), "!");
}

TEST(Format, CLocaleScopeWinsOverUserLocale) {
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 not installed";
    EXPECT_EQ(platform::Format("%.1f", 1.5), "1,5");
    {
        platform::CLocaleScope c;
        EXPECT_EQ(platform::Format("%lf", 1638400.0), "1638400.000000");
    }
    EXPECT_EQ(platform::Format("%.1f", 1.5), "1,5");
    std::setlocale(LC_ALL, "C");
}

TEST(MessageBox, ScriptedAnswersAndFallback) {
    using namespace platform;
    {
        ScriptedMessageBoxes boxes;
        boxes.Answer(MbAnswer::No);
        EXPECT_EQ(ShowMessageBox("q1", "cap", MbButtons::YesNo, MbIcon::Question), MbAnswer::No);
        EXPECT_EQ(ShowMessageBox("q2", "cap", MbButtons::YesNo, MbIcon::Question, nullptr, 1), MbAnswer::No);
        EXPECT_EQ(ShowMessageBox("q3", "cap", MbButtons::OkCancel), MbAnswer::Ok);
        ASSERT_EQ(boxes.Shown().size(), 3u);
        EXPECT_EQ(boxes.Shown()[0].caption, "cap");
        EXPECT_EQ(boxes.Texts()[2], "q3");
    }
    // Without a handler the default button answers.
    EXPECT_EQ(ShowMessageBox("x", "y", MbButtons::YesNoCancel, MbIcon::None, nullptr, 2), MbAnswer::Cancel);
    EXPECT_EQ(DefaultAnswer(MbButtons::AbortRetryIgnore, 1), MbAnswer::Retry);
}
