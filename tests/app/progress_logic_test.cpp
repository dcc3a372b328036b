// The progress panels' and result dialogs' figures without a window, and the
// free-disk warning answered through scripted boxes over a hooked query.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "app/ProgressLogic.h"
#include "platform/MessageBox.h"
#include "settings/JobState.h"
#include "settings/JobUtil.h"
#include "settings/RunState.h"

namespace {

using platform::MbAnswer;
using platform::MbButtons;

TEST(ProgressFiguresTest, VideoBarCountsPicturesBelowOneHundred) {
    ProgressBarSetting bar;
    ASSERT_TRUE(VideoBarFor(45, 90, &bar));
    EXPECT_EQ(bar.rangeMax, 90);
    EXPECT_EQ(bar.position, 45);
    ASSERT_TRUE(VideoBarFor(250, 1000, &bar));
    EXPECT_EQ(bar.rangeMax, 100);
    EXPECT_EQ(bar.position, 25);
    ASSERT_TRUE(VideoBarFor(1999999, 2000000, &bar));  // frame / (total / 100)
    EXPECT_EQ(bar.position, 99);
    ASSERT_TRUE(VideoBarFor(95, 90, &bar));  // never outside the range
    EXPECT_EQ(bar.position, 90);
    EXPECT_FALSE(VideoBarFor(0, 0, &bar));
}

TEST(ProgressFiguresTest, AudioAndMultiplexPercentages) {
    EXPECT_EQ(AudioPercent(1000, 21000, 11000), 50);
    EXPECT_EQ(AudioPercent(1000, 21000, 21000), 100);
    EXPECT_EQ(AudioPercent(1000, 21000, 999), -1);  // outside: left as it is
    EXPECT_EQ(AudioPercent(0, 0, 0), -1);           // range not known yet
    EXPECT_EQ(AudioPercent(0, 150, 100), 1);        // too short to count in percent

    // The MPEG-1 system multiplexer counts every byte twice.
    EXPECT_TRUE(UsesMpeg1SystemScale(1, 1));
    EXPECT_FALSE(UsesMpeg1SystemScale(1, 3));
    EXPECT_FALSE(UsesMpeg1SystemScale(0, 2));
    EXPECT_EQ(MultiplexPercent(2000000, 1000000, true), 100);
    EXPECT_EQ(MultiplexPercent(1000000, 1000000, true), 50);
    EXPECT_EQ(MultiplexPercent(5, 500, true), 1);  // d below 11
    // Other streams reach 100 % at about 98 % of the expected bytes.
    EXPECT_EQ(MultiplexPercent(980, 1000, false), 99);
    EXPECT_EQ(MultiplexPercent(981, 1000, false), 100);
    EXPECT_EQ(MultiplexPercent(5000, 1000, false), 100);
    // A refresh before the total is known shows 0 % and does not divide by zero.
    EXPECT_EQ(MultiplexPercent(0, 0, false), 0);
    EXPECT_EQ(MultiplexPercent(12345, 0, false), 0);
    EXPECT_EQ(MultiplexPercent(12345, 0, true), 0);
    // Sizes past 32 bits.
    EXPECT_EQ(MultiplexPercent(int64_t{3} << 32, int64_t{6} << 32, false), 51);
}

TEST(ProgressFiguresTest, StatusTextAtMostEveryTwoSeconds) {
    EXPECT_TRUE(StatusTextDue(1, 0, 0));  // the first picture always shows it
    EXPECT_FALSE(StatusTextDue(5, 3, 2));
    EXPECT_TRUE(StatusTextDue(5, 4, 3));
    EXPECT_TRUE(StatusTextDue(5, 0, -1));
}

TEST(ProgressFiguresTest, Texts) {
    EXPECT_EQ(FrameCountText(45, 90), "Frame 45 out of 90");
    EXPECT_EQ(PanelElapsedText(63733, 3725), "Elapsed time  1:02:05 ");
    EXPECT_EQ(PanelElapsedText(63723, 59), "Elapsed time  0:00:59 ");
    EXPECT_EQ(PercentText(63722, 7), " 7 %  completed ");
    EXPECT_EQ(QualityFigureText(63.456f), " 63.46");
    EXPECT_EQ(DurationText(3725), " 1:02:05");
    EXPECT_EQ(DurationText(36000 * 3 + 1), " 30:00:01");
    EXPECT_EQ(VideoCompletionText(2), "VIDEO ENCODING COMPLETED");
    EXPECT_EQ(VideoCompletionText(1), "ENCODING NOT COMPLETED");
}

TEST(QualityBarTest, ColoursWidthAndLimits) {
    EXPECT_EQ(QualityBarColour(100.0f), 0x00FF00u);
    EXPECT_EQ(QualityBarColour(75.01f), 0x00FF00u);
    EXPECT_EQ(QualityBarColour(75.0f), 0x00F000u);  // exactly 75: the second green
    EXPECT_EQ(QualityBarColour(50.0f), 0x0AE600u);
    EXPECT_EQ(QualityBarColour(25.5f), 0x0AE600u);
    EXPECT_EQ(QualityBarColour(25.0f), 0xE6E600u);
    EXPECT_EQ(QualityBarColour(15.5f), 0xE6E600u);
    EXPECT_EQ(QualityBarColour(15.0f), 0xFA00FAu);  // 15 or less: magenta
    EXPECT_EQ(QualityBarColour(0.0f), 0xFA00FAu);
    EXPECT_EQ(QualityBarFilledWidth(200, 50.0f), 100);
    EXPECT_EQ(QualityBarFilledWidth(200, 0.5f), 3);  // at least 3 pixels
    EXPECT_EQ(ClampQuality(-4.0f), 0.0f);
    EXPECT_EQ(ClampQuality(140.0f), 100.0f);
}

TEST(CompressionRatioTest, RatioTexts) {
    // 352 x 240 x 3 x 100 / 253,440.
    EXPECT_EQ(CompressionRatioText(352, 240, 100, 253440, false, 0), "100 :1");
    EXPECT_EQ(CompressionRatioText(352, 240, 100, 253440 * 3, false, 0), "33 :1");
    EXPECT_EQ(CompressionRatioText(352, 240, 100, 10, false, 0), "");  // 10 bytes or less: blank
    EXPECT_EQ(CompressionRatioText(352, 240, 100, 11, false, 0), " ");  // beyond 100000 :1
    EXPECT_EQ(CompressionRatioText(352, 240, 100, 352 * 240 * 300, false, 0), "");  // not smaller
    EXPECT_EQ(CompressionRatioText(352, 240, 1, 1000, false, 0), "");                // one picture
    EXPECT_EQ(CompressionRatioText(1, 240, 100, 1000, false, 0), "");
    // Frame-rate conversion: scaled by the input frames behind the pictures.
    EXPECT_EQ(CompressionRatioText(352, 240, 100, 253440, true, 50), "50 :1");
    EXPECT_EQ(CompressionRatioText(352, 240, 100, 253440, true, 0), "1 :1");
    // A large job: sizes past 32 bits.
    EXPECT_EQ(CompressionRatioText(720, 576, 200000, int64_t{720} * 576 * 3 * 200000 / 40, false, 0), "40 :1");
}

TEST(CompressionRatioTest, JobTimeAddsThePasses) {
    AudioPassSeconds = 12;
    MultiplexSeconds = 7;
    EXPECT_EQ(JobTotalSeconds(100), 119);
    AudioPassSeconds = MultiplexSeconds = 0;
}

// The watch armed on a folder whose free space a hooked query reports.
class LowDiskTest : public ::testing::Test {
protected:
    void SetUp() override {
        FreeSpaceWatchArmed = 1;
        FreeSpaceWatchRoot = "/media/out";
        FreeSpaceWatchIgnored = 0;
        FreeSpaceCheckInterval = 3;
        BatchStopRequested = 0;
        UserStopFlag = 0;
        RunState = 2;
        previous_ = SetFreeSpaceQuery([this](const std::string& folder) {
            folders_.push_back(folder);
            const size_t i = std::min(folders_.size(), free_.size()) - 1;
            return free_[i];
        });
    }
    void TearDown() override {
        SetFreeSpaceQuery(previous_);
        FreeSpaceWatchArmed = 0;
        FreeSpaceWatchRoot.clear();
        FreeSpaceWatchIgnored = 0;
        RunState = 1;
        BatchStopRequested = UserStopFlag = 0;
    }
    bool Stopped() const { return RunState == 3 && UserStopFlag == 1 && BatchStopRequested == 1; }

    std::vector<int64_t> free_{0};  // the answers of successive queries (the last repeats)
    std::vector<std::string> folders_;
    platform::ScriptedMessageBoxes boxes_;
    FreeSpaceQuery previous_;
};

TEST_F(LowDiskTest, WarnsBelowOneMebibyteIncludingZero) {
    for (int64_t bytes : {int64_t{0}, int64_t{1048575}}) {
        free_ = {bytes};
        boxes_.Clear();
        boxes_.Answer(MbAnswer::Ok);
        boxes_.Answer(MbAnswer::Retry);
        WarnLowDiskSpace(nullptr);
        ASSERT_EQ(boxes_.Shown().size(), 2u) << bytes;
        EXPECT_EQ(boxes_.Shown()[0].buttons, MbButtons::OkCancel);
        EXPECT_EQ(boxes_.Shown()[0].text,
                  "You are running out of available disk space.\n\nThere is less than 1 MB of disk space available "
                  "on drive /media/out.\nPlease free up some space on drive /media/out and press OK, or\npress "
                  "Cancel to stop encoding.");
        EXPECT_EQ(boxes_.Shown()[1].buttons, MbButtons::AbortRetryIgnore);
        EXPECT_EQ(folders_.back(), "/media/out");
    }
    EXPECT_EQ(RunState, 2);  // Retry goes on
    EXPECT_EQ(FreeSpaceWatchIgnored, 0);
}

TEST_F(LowDiskTest, EnoughSpaceOrAFailedQueryAsksNothing) {
    // 4 GiB + 100 bytes: a 32-bit count would see 100.
    for (int64_t bytes : {int64_t{1048576}, (int64_t{1} << 32) + 100, int64_t{-1}}) {
        free_ = {bytes};
        WarnLowDiskSpace(nullptr);
    }
    EXPECT_TRUE(boxes_.Shown().empty());
    EXPECT_EQ(folders_.size(), 3u);

    FreeSpaceWatchArmed = 0;  // not armed: not even asked
    free_ = {0};
    WarnLowDiskSpace(nullptr);
    FreeSpaceWatchArmed = 1;
    FreeSpaceWatchRoot.clear();
    WarnLowDiskSpace(nullptr);
    EXPECT_EQ(folders_.size(), 3u);
    EXPECT_TRUE(boxes_.Shown().empty());
}

TEST_F(LowDiskTest, CancelAndAbortStopTheEncoding) {
    boxes_.Answer(MbAnswer::Cancel);
    WarnLowDiskSpace(nullptr);
    EXPECT_EQ(boxes_.Shown().size(), 1u);
    EXPECT_TRUE(Stopped());

    RunState = 2;
    UserStopFlag = BatchStopRequested = 0;
    boxes_.Clear();
    boxes_.Answer(MbAnswer::Ok);
    boxes_.Answer(MbAnswer::Abort);
    WarnLowDiskSpace(nullptr);
    EXPECT_EQ(boxes_.Shown().size(), 2u);
    EXPECT_TRUE(Stopped());
}

TEST_F(LowDiskTest, OkWithSpaceFreedAsksOnceAndIgnoreSilencesTheWatch) {
    free_ = {1000, 5000000};
    boxes_.Answer(MbAnswer::Ok);
    WarnLowDiskSpace(nullptr);
    EXPECT_EQ(boxes_.Shown().size(), 1u);
    EXPECT_EQ(RunState, 2);

    free_ = {1000};
    folders_.clear();
    boxes_.Clear();
    boxes_.Answer(MbAnswer::Ok);
    boxes_.Answer(MbAnswer::Ignore);
    WarnLowDiskSpace(nullptr);
    EXPECT_EQ(boxes_.Shown().size(), 2u);
    EXPECT_EQ(FreeSpaceWatchIgnored, 1);
    EXPECT_EQ(RunState, 2);
    // Ignored: no panel runs the check again.
    EXPECT_FALSE(VideoDiskCheckDue(4));
    int64_t mark = 0;
    EXPECT_FALSE(AudioDiskCheckDue(5, &mark));
    EXPECT_FALSE(MultiplexDiskCheckDue(5, &mark));
}

TEST_F(LowDiskTest, PanelsCheckAtTheirIntervals) {
    std::vector<int> frames;
    for (int f = 1; f <= 10; ++f)
        if (VideoDiskCheckDue(f)) frames.push_back(f);
    EXPECT_EQ(frames, (std::vector<int>{1, 4, 7, 10}));
    FreeSpaceCheckInterval = 1;  // below 2: never
    EXPECT_FALSE(VideoDiskCheckDue(1));

    int64_t mark = 0;
    EXPECT_TRUE(AudioDiskCheckDue(0, &mark));
    EXPECT_EQ(mark, 1000000);
    EXPECT_FALSE(AudioDiskCheckDue(1000000, &mark));
    EXPECT_TRUE(AudioDiskCheckDue(1000001, &mark));
    // Multiplexed bytes beyond 32 bits keep their 200,000-byte step.
    mark = 0;
    const int64_t big = int64_t{5} << 30;
    EXPECT_TRUE(MultiplexDiskCheckDue(big, &mark));
    EXPECT_FALSE(MultiplexDiskCheckDue(big + 200000, &mark));
    EXPECT_TRUE(MultiplexDiskCheckDue(big + 200001, &mark));
}

}  // namespace
