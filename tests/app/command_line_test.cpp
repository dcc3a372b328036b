// Command-line switches: each sets its value, in any case, with the accepted prefixes.
#include <gtest/gtest.h>

#include "app/CommandLine.h"
#include "engine/EngineState.h"
#include "settings/EncoderSettings.h"

namespace {

class CommandLineTest : public ::testing::Test {
protected:
    void SetUp() override {
        EncoderSettings = EncoderSettingsRecord{};
        EngineReport.EngineTimingReport = EngineReport.EngineTimingDetail = 0;
        ParallelDialogMode = Winnt351Requested = 0;
    }
    CTessmarCommandLineInfo Parse(std::vector<std::string> arguments) {
        CTessmarCommandLineInfo info;
        info.ParseCommandLine(arguments);
        return info;
    }
};

TEST_F(CommandLineTest, PlainSwitchesWithEveryPrefix) {
    for (const char* form : {"-notmmx", "/notmmx", "//notmmx", "-/NotMmx"}) {
        EncoderSettings.disableMmx = 0;
        auto info = Parse({form});
        EXPECT_EQ(EncoderSettings.disableMmx, 1) << form;
        EXPECT_TRUE(info.otherSwitches.empty()) << form;
    }
    Parse({"-winnt351", "/create_vob", "-notadaptive", "-no_seq_end_code", "-NOTSKIPB"});
    EXPECT_EQ(Winnt351Requested, 1);
    EXPECT_EQ(EncoderSettings.createVob, 1);
    EXPECT_EQ(EncoderSettings.disableAdaptiveQuant, 1);
    EXPECT_EQ(EncoderSettings.omitSequenceEndCode, 1);
    EXPECT_EQ(EncoderSettings.noBFrameSkipping, 1);

    Parse({"-ttt1"});
    EXPECT_EQ(EngineReport.EngineTimingReport, 1);
    EXPECT_EQ(EngineReport.EngineTimingDetail, 0);
    Parse({"-tttt"});
    EXPECT_EQ(EngineReport.EngineTimingDetail, 1);

    Parse({"-allowparalleldialog"});
    EXPECT_EQ(ParallelDialogMode, 1);
    Parse({"-notallowparalleldialog"});
    EXPECT_EQ(ParallelDialogMode, -1);

    EncoderSettings.statisticalLevel = 7;
    auto info = Parse({"-nosound", "-nosplashbitmap", "-deinterlace", "-mustshowmmxbitmap", "-nommxbitmap",
                       "-notstatistical", "-whatever"});
    EXPECT_EQ(EncoderSettings.statisticalLevel, 0);
    EXPECT_EQ(info.otherSwitches, std::vector<std::string>{"whatever"});
}

TEST_F(CommandLineTest, StatisticalAndBlackLevelClamp) {
    Parse({"-statistical=99"});
    EXPECT_EQ(EncoderSettings.statisticalLevel, 40);
    Parse({"-Statistical=-5"});
    EXPECT_EQ(EncoderSettings.statisticalLevel, 0);
    Parse({"-statistical=7"});
    EXPECT_EQ(EncoderSettings.statisticalLevel, 7);
    // Three digits make the item too long: not this switch at all.
    auto info = Parse({"-statistical=100"});
    EXPECT_EQ(EncoderSettings.statisticalLevel, 7);
    EXPECT_EQ(info.otherSwitches, std::vector<std::string>{"statistical=100"});
    // The valued switches have no form with a further "/".
    info = Parse({"//statistical=3"});
    EXPECT_EQ(EncoderSettings.statisticalLevel, 7);
    EXPECT_EQ(info.otherSwitches.size(), 1u);

    Parse({"-blacklevel=0"});
    EXPECT_EQ(EncoderSettings.blackLevel, 1);
    Parse({"-blacklevel=99"});
    EXPECT_EQ(EncoderSettings.blackLevel, 64);
    Parse({"/BLACKLEVEL=20"});
    EXPECT_EQ(EncoderSettings.blackLevel, 20);
}

TEST_F(CommandLineTest, OutOfRangeValuesAreIgnored) {
    EncoderSettings.vbrDistribution = 8;
    Parse({"-vbr_distrib=41"});
    EXPECT_EQ(EncoderSettings.vbrDistribution, 8);
    Parse({"-vbr_distrib=-1"});
    EXPECT_EQ(EncoderSettings.vbrDistribution, 8);
    Parse({"-vbr_distrib=40"});
    EXPECT_EQ(EncoderSettings.vbrDistribution, 40);

    Parse({"-start_frame=40000000"});
    EXPECT_EQ(EncoderSettings.timeCodeStartFrame, 40000000);
    Parse({"-start_frame=40000001"});
    EXPECT_EQ(EncoderSettings.timeCodeStartFrame, 40000000);
    // Eleven digits do not wrap into the accepted range.
    Parse({"-start_frame=4294967297"});
    EXPECT_EQ(EncoderSettings.timeCodeStartFrame, 40000000);
    Parse({"-start_frame=12"});
    EXPECT_EQ(EncoderSettings.timeCodeStartFrame, 12);
}

TEST_F(CommandLineTest, VbvStatisticsFileName) {
    // The item holds a blank when the shell passed it quoted.
    Parse({"-vbvstatfile=stats.txt more"});
    EXPECT_EQ(EncoderSettings.vbvStatisticsFileName, "stats.txt");
    EXPECT_EQ(EncoderSettings.writeVbvStatistics, 1);

    EncoderSettings = EncoderSettingsRecord{};
    Parse({"-vbvstatfile=a   "});
    EXPECT_EQ(EncoderSettings.vbvStatisticsFileName, "vbvstat.txt");
    EXPECT_EQ(EncoderSettings.writeVbvStatistics, 0);

    Parse({"-vbvstatfile=" + std::string(255, 'n')});
    EXPECT_EQ(EncoderSettings.writeVbvStatistics, 0);
    Parse({"-vbvstatfile=" + std::string(254, 'n')});
    EXPECT_EQ(EncoderSettings.vbvStatisticsFileName, std::string(254, 'n'));
}

TEST_F(CommandLineTest, FilesAndAbsolutePaths) {
    auto info = Parse({"-notmmx", "/tmp/clip.avi", "second.prf"});
    EXPECT_EQ(info.shellCommand, CTessmarCommandLineInfo::ShellCommand::FileOpen);
    EXPECT_EQ(info.fileName, "/tmp/clip.avi");
    EXPECT_TRUE(info.otherSwitches.empty());

    info = Parse({});
    EXPECT_EQ(info.shellCommand, CTessmarCommandLineInfo::ShellCommand::FileNew);
    EXPECT_TRUE(IsSwitchArgument("/notmmx"));
    EXPECT_TRUE(IsSwitchArgument("//notmmx"));
    EXPECT_FALSE(IsSwitchArgument("/tmp"));  // exists
    EXPECT_FALSE(IsSwitchArgument("/"));
    Parse({"/vbvstatfile=/tmp/stats.txt"});
    EXPECT_EQ(EncoderSettings.vbvStatisticsFileName, "/tmp/stats.txt");
}

}  // namespace
