// The advanced sheet without widgets: pages per stream kind, the page values a
// profile gives and what an OK writes back, the checks and their order.
#include <gtest/gtest.h>

#include <string>

#include "app/SheetLogic.h"
#include "job/Profile.h"
#include "settings/EncoderSettings.h"
#include "tests/support/TestSupport.h"

namespace {

using P = AdvancedPage;

class SheetLogicTest : public ::testing::Test {
protected:
    void SetUp() override {
        ReadProfile("+");
        s = EncoderSettings;
    }
    // The profile text the settings `t` give.
    std::string ProfileText(const EncoderSettingsRecord& t) {
        EncoderSettings = t;
        EXPECT_EQ(WriteProfile((dir / "p.prf").c_str()), 0);
        return testsupport::ReadFile(dir / "p.prf");
    }
    testsupport::TempDir dir;
    platform::ScriptedMessageBoxes boxes;
    EncoderSettingsRecord s;
    AdvancedSheetForm form;
    ThreadOptionValues threads;
};

TEST_F(SheetLogicTest, PagesFollowStreamKindAudioAndInterlace) {
    using V = std::vector<AdvancedPage>;
    form.audio = true;
    s.streamType = kStreamTypeMpeg1;
    EXPECT_EQ(AdvancedPagesFor(form, s),
              (V{P::MotionVectors, P::Sequence, P::Performance, P::Sync, P::Headers, P::Audio, P::Files, P::System,
                 P::Special, P::Mpeg1, P::Input, P::Processes, P::BitrateControl, P::Edges}));
    s.streamType = kStreamTypeVideoCd;  // Video-CD: no rate control of its own
    EXPECT_EQ(AdvancedPagesFor(form, s).size(), 13u);
    EXPECT_FALSE(AdvancedPageShown(P::BitrateControl, form, s));
    EXPECT_TRUE(AdvancedPageShown(P::System, form, s));

    form.mpeg2 = true;
    form.audio = false;
    s.streamType = kStreamTypeMpeg2;
    EXPECT_EQ(AdvancedPagesFor(form, s),
              (V{P::MotionVectors, P::Sequence, P::Performance, P::Sync, P::Headers, P::Files, P::Special, P::Mpeg2,
                 P::Input, P::Processes, P::BitrateControl, P::Edges}));
    form.audio = true;
    EXPECT_EQ(AdvancedPagesFor(form, s).size(), 13u);  // Audio, never System
    EXPECT_FALSE(AdvancedPageShown(P::System, form, s));
    form.interlaceSelection = 1;
    EXPECT_FALSE(AdvancedPageShown(P::Input, form, s));

    // The form's boxes set the application type; MPEG-1 drops DVD and SVCD
    // and counts as progressive.
    form.svcd = true;
    PrepareAdvancedSheet(form, s);
    EXPECT_EQ(s.applicationType, kApplicationSvcd);
    form.svcd = false;
    form.dvd = true;
    PrepareAdvancedSheet(form, s);
    EXPECT_EQ(s.applicationType, kApplicationDvd);
    form.mpeg2 = false;
    PrepareAdvancedSheet(form, s);
    EXPECT_EQ(s.applicationType, kApplicationNone);
    EXPECT_EQ(form.interlaceSelection, 0);
    s.applicationType = kApplicationVcd20;
    form.mpeg2 = true;
    form.formReady = false;  // before the form is ready its boxes do not count
    PrepareAdvancedSheet(form, s);
    EXPECT_EQ(s.applicationType, kApplicationVcd20);
}

TEST_F(SheetLogicTest, UnchangedPagesLeaveAwkwardStoredValuesAlone) {
    ReadProfile((testsupport::SourceDir() / "tests/job/data/distinct.prf").c_str());
    ASSERT_EQ(ProfileLoaded, 1);
    s = EncoderSettings;
    // Values a page can show only approximately.
    s.gopSize = 13;
    s.ipDistance = 3;
    s.averageBitRate = 1000000.0;
    s.maxBitRate = 2000001.0;
    s.averageBitRateUpper = 1500000.5;
    s.averageBitRateLower = 300000.0;
    s.mpegProfile = 1;
    s.mpegLevel = 8;
    s.performanceMode = 7;
    s.medianFilter = 1;
    s.lowPassFilter = 1;
    const std::string before = ProfileText(s);
    EncoderSettingsRecord t = s;
    const AdvancedPageValues start = PageValuesFromSettings(t, form, threads);
    EXPECT_EQ(start.pCount, 3);
    EXPECT_EQ(start.bCount, 2);
    EXPECT_EQ(start.averageKbps, 976);
    EXPECT_EQ(start.profileLevel, 1);
    EXPECT_EQ(start.performanceMode, 3);
    EXPECT_EQ(start.filterChoice, 1);
    const WriteBackOutcome out = WriteBackPageValues(start, start, t, form, threads);
    EXPECT_FALSE(out.modified);
    EXPECT_FALSE(out.threadOptionsChanged);
    EXPECT_EQ(ProfileText(t), before);

    // A damaged M of 0 shows as I and P pictures only and stays as it is.
    t.ipDistance = 0;
    t.gopSize = 12;
    const AdvancedPageValues damaged = PageValuesFromSettings(t, form, threads);
    EXPECT_EQ(damaged.pCount, 11);
    EXPECT_EQ(damaged.bCount, 0);
    WriteBackPageValues(damaged, damaged, t, form, threads);
    EXPECT_EQ(t.ipDistance, 0);
}

TEST_F(SheetLogicTest, ChangedValuesAreWrittenInStoredUnits) {
    const AdvancedPageValues start = PageValuesFromSettings(s, form, threads);
    AdvancedPageValues v = start;
    v.pCount = 7;
    v.bCount = 2;
    v.averageKbps = 1500;
    v.profileLevel = 2;
    v.filterChoice = 2;
    v.rateControlIndex = 1;
    v.vbrModeIndex = 4;
    v.keepDuration = 0;
    v.audioMode = 0;  // the Audio box is off: not taken
    WriteBackOutcome out = WriteBackPageValues(v, start, s, form, threads);
    EXPECT_TRUE(out.modified);
    EXPECT_EQ(s.gopSize, 24);
    EXPECT_EQ(s.ipDistance, 3);
    EXPECT_EQ(s.averageBitRate, 1500.0 * 1024);
    EXPECT_EQ(s.maxBitRate, 1638400.0);  // untouched
    EXPECT_EQ(s.mpegProfile, 1);
    EXPECT_EQ(s.mpegLevel, 6);
    EXPECT_EQ(s.medianFilter, 0);
    EXPECT_EQ(s.lowPassFilter, 1);
    EXPECT_EQ(s.rateControl, kRateVariable);
    EXPECT_EQ(s.vbrMode, kVbrQuantWithinAverage);
    EXPECT_EQ(form.keepDuration, 0);
    EXPECT_EQ(s.audioMode, 1);
    EXPECT_FALSE(out.audioChanged);

    // A thread count alone is worth saving; outside 1..16 it is not taken.
    AdvancedPageValues w = start;
    w.threads.meThreads = 16;
    out = WriteBackPageValues(w, start, s, form, threads);
    EXPECT_TRUE(out.threadOptionsChanged);
    EXPECT_TRUE(out.modified);
    EXPECT_EQ(threads.meThreads, 16);
    w.threads.meThreads = 17;
    out = WriteBackPageValues(w, start, s, form, threads);
    EXPECT_FALSE(out.threadOptionsChanged);
    EXPECT_EQ(threads.meThreads, 16);

    form.audio = true;
    w = start;
    w.audioBitRateIndex = 5;
    out = WriteBackPageValues(w, start, s, form, threads);
    EXPECT_TRUE(out.audioChanged);
    EXPECT_EQ(s.audioBitRateIndex, 5);
}

TEST_F(SheetLogicTest, ChecksComeInOrderAndSkipHiddenPages) {
    const AdvancedPageValues start = PageValuesFromSettings(s, form, threads);
    EXPECT_TRUE(FailedSheetChecks(start, start, form, s).empty());

    AdvancedPageValues v = start;
    v.pRange[0] = 12;
    v.bRange[1] = 76;
    auto failed = FailedSheetChecks(v, start, form, s);
    ASSERT_EQ(failed.size(), 3u);
    EXPECT_EQ(failed[0].text,
              "Error: Maximum P frame horizontal motion vector\n must be positive, multiple of 8.\n Please correct "
              "maximum horizontal motion vector.");
    EXPECT_FALSE(failed[0].question);
    EXPECT_EQ(failed[1].text.substr(0, 45), "Error: Maximum B frame vertical motion vector");
    EXPECT_TRUE(failed[2].question);
    EXPECT_EQ(failed[2].text.substr(0, 29), "Motion vectors larger than 64");
    // Large ranges stored in the profile raise no question while unchanged.
    EXPECT_TRUE(FailedSheetChecks(v, v, form, s).size() == 2u);

    v = start;
    v.pCount = 0;
    v.bCount = 2;
    failed = FailedSheetChecks(v, start, form, s);
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_TRUE(failed[0].namesPage);
    EXPECT_EQ(failed[0].page, P::Sequence);
    v.pCount = 64;
    v.bCount = 2;  // 195 pictures
    failed = FailedSheetChecks(v, start, form, s);
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_TRUE(failed[0].question);
    s.gopSize = 195;  // already the stored group: no question
    EXPECT_TRUE(FailedSheetChecks(v, start, form, s).empty());

    // System stream checks only while the System page shows.
    v = start;
    v.packSize = 1024;
    v.audioBufferKb = 0;
    v.audioMode = 7;
    EXPECT_TRUE(FailedSheetChecks(v, start, form, s).empty());
    form.audio = true;
    failed = FailedSheetChecks(v, start, form, s);
    ASSERT_EQ(failed.size(), 3u);
    EXPECT_EQ(failed[0].text,
              " Error: System stream parameters are illegal.\n Pack size must be less then or equal\n to audio buffer "
              "size*1024. \n Please correct system stream data.");
    EXPECT_EQ(failed[1].icon, platform::MbIcon::Question);
    EXPECT_TRUE(failed[1].question);
    EXPECT_EQ(failed[2].page, P::Audio);
    EXPECT_EQ(failed[2].text, "Error: Audio stream parameters are illegal. \nPlease correct audio stream data.");
    form.mpeg2 = true;  // MPEG-2 has no System page
    EXPECT_EQ(FailedSheetChecks(v, start, form, s).size(), 1u);
}

TEST(SheetTextTest, PatternsAndBitrateProblems) {
    EXPECT_EQ(SequencePatternText(0, 0), "I I I I I I I I I I I I I I I I I ...");
    EXPECT_EQ(SequencePatternText(3, 0), "I P P P I...");
    EXPECT_EQ(SequencePatternText(3, 2), "I BB P BB P BB P BB I ...");
    EXPECT_EQ(SequencePatternText(0, 1), "Error: number of B frames >0 while number of P frames =0.");
    EXPECT_EQ(RangeMessage(8, 1024), "Please enter an integer between 8 and 1024.");

    AdvancedPageValues v;
    v.rateControlIndex = 0;
    v.maxKbps = 1;
    v.averageKbps = 10;
    EXPECT_EQ(BitrateControlProblem(v), "");  // constant bit rate is not checked
    v.rateControlIndex = 1;
    EXPECT_NE(BitrateControlProblem(v).find("For Simple Variable Bitrate Mode"), std::string::npos);
    v.vbrModeIndex = 3;
    EXPECT_EQ(BitrateControlProblem(v), "");
    v.vbrModeIndex = 4;
    v.upperKbps = 100;
    v.lowerKbps = 100;
    EXPECT_NE(BitrateControlProblem(v).find("Maximum Average bitrate\nmust be greater than minimum"),
              std::string::npos);
    v.lowerKbps = 50;
    v.maxKbps = 100;
    EXPECT_NE(BitrateControlProblem(v).find("Maximum bitrate must\nbe greater than maximum Average"),
              std::string::npos);
    v.maxKbps = 101;
    EXPECT_EQ(BitrateControlProblem(v), "");
}

}  // namespace
