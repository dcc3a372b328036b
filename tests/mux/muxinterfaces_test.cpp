// The job's bridge to the multiplexer library: settings to options, whole runs,
// and the texts that library failures leave for the job.
#include "mux/Mplex.h"
#include "mux/MuxInterfaces.h"
#include "muxlib/DvdMuxEngine.h"
#include "muxlib/MuxLib.h"
#include "settings/EncoderSettings.h"
#include "settings/JobState.h"
#include "settings/RunState.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

using testsupport::ReadFile;
using testsupport::RunCommand;
using testsupport::TempDir;

namespace {

struct Streams {
    std::string video, audio;
};

const Streams& TestStreams()
{
    static TempDir dir;
    static Streams streams = [] {
        Streams s;
        if (!testsupport::HaveTool("ffmpeg")) return s;
        const auto video = (dir / "v.m1v").string();
        const auto audio = (dir / "a.mp2").string();
        if (RunCommand("ffmpeg -v error -y -f lavfi -i testsrc2=size=352x288:rate=25 -t 2 -c:v mpeg1video "
                       "-b:v 1150k -maxrate 1150k -minrate 1150k -bufsize 327680 '" + video + "'") == 0 &&
            RunCommand("ffmpeg -v error -y -f lavfi -i sine=frequency=1000:sample_rate=44100 -t 2 -ac 2 "
                       "-c:a mp2 -b:a 224k -f mp2 '" + audio + "'") == 0)
            s = {video, audio};
        return s;
    }();
    return streams;
}

class MuxInterfacesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved_ = EncoderSettings;
        RunState = 1;
        MuxMessageText.clear();
    }
    void TearDown() override { EncoderSettings = saved_; }

    // Options a fresh session gets from the current settings.
    std::vector<int32_t> ConfiguredOptions(int32_t* status = nullptr)
    {
        MuxHandle h = MuxCreateSession();
        MuxSelectSession(h);
        MuxBegin();
        int32_t s = ConfigureMuxSession();
        if (status != nullptr) *status = s;
        std::vector<int32_t> options(MuxOptionCount);
        for (int32_t id = 0; id < MuxOptionCount; ++id) MuxGetOption(id, &options[static_cast<size_t>(id)]);
        MuxEnd();
        MuxDestroySession(h);
        return options;
    }

    EncoderSettingsRecord saved_;
    TempDir dir_;
};

TEST_F(MuxInterfacesTest, StatusesBecomeTexts)
{
    EXPECT_EQ(ReportMuxLibraryError(-514, 0, 0), -514);
    EXPECT_EQ(MuxMessageText, "Illegal multiplex bit rate");
    ReportMuxLibraryError(-500, 0, 0);
    EXPECT_EQ(MuxMessageText, "Unknown error");
    ReportMuxLibraryError(-510, 0, 0);
    EXPECT_EQ(MuxMessageText, "Invalid multiplex paramter id");
    ReportMuxLibraryError(-502, 0, 0);
    EXPECT_EQ(MuxMessageText, "Invalid video stream");
    ReportMuxLibraryError(-501, 0, 0);
    EXPECT_EQ(MuxMessageText, "Unknown error (-501)");
    ReportMuxLibraryError(-516, 0, 0);
    EXPECT_EQ(MuxMessageText, "Unknown error (-516)");
}

TEST_F(MuxInterfacesTest, SettingsChooseTypeAndOptions)
{
    EncoderSettings.applicationType = kApplicationNone;
    EncoderSettings.streamType = kStreamTypeMpeg2;
    EncoderSettings.mpeg2MuxConstantRate = 1;
    EncoderSettings.rateControl = kRateVariable;
    EncoderSettings.vbvBufferSize = 22;
    auto o = ConfiguredOptions();
    EXPECT_EQ(o[0], 2);
    EXPECT_EQ(o[3], 128);  // 45,056 bytes is below the MPEG-1 default: the type's default stays
    EXPECT_EQ(o[4], 1);
    EXPECT_EQ(o[10], 2);
    EncoderSettings.vbvBufferSize = 23;
    EXPECT_EQ(ConfiguredOptions()[3], 46);

    EncoderSettings.streamType = kStreamTypeMpeg1;
    EncoderSettings.muxAudioBufferKb = 4;
    EncoderSettings.muxVideoBufferKb = 40;
    EncoderSettings.muxConstantRate = 0;
    o = ConfiguredOptions();
    EXPECT_EQ(o[0], 1);
    EXPECT_EQ(o[2], 32);
    EXPECT_EQ(o[3], 40);
    EXPECT_EQ(o[10], 1);

    // MPEG-2 video under the MPEG-1 stream type goes into a program stream.
    EncoderSettings.mpeg1 = 0;
    EXPECT_EQ(ConfiguredOptions()[0], 2);
    EncoderSettings.mpeg1 = 1;

    // A DVD job without video objects is the stream type's plain stream.
    EncoderSettings.applicationType = kApplicationDvd;
    EncoderSettings.createVob = 0;
    EXPECT_EQ(ConfiguredOptions()[0], 1);
    EncoderSettings.createVob = 1;
    o = ConfiguredOptions();
    EXPECT_EQ(o[0], 4);
    EXPECT_EQ(o[11], 4);
    const TempDir settings;  // an INI of its own, not the user's
    std::filesystem::create_directories(settings / "config");
    testsupport::WriteFile(settings / "config" / "ROZARAZ2.INI", "[ZRN-MPEG]\nDVD_VOB_Split_Bytes=3000000000\n");
    EXPECT_EQ(DvdVobFileLimit(ConfiguredOptions()[MuxOptionDvdSplitBytes]), 1073709056u);  // 16 packs below 1 GiB

    // SVCD keeps every default of its type.
    EncoderSettings.applicationType = kApplicationSvcd;
    o = ConfiguredOptions();
    EXPECT_EQ(o[0], 6);
    EXPECT_EQ(o[3], 230);
    EXPECT_EQ(o[5], 6972);
    EXPECT_EQ(o[6], 2324);
    EXPECT_EQ(o[10], 2);
    EXPECT_EQ(o[12], 1);

    // A Video-CD takes no buffer or rate parameters, which it would refuse.
    EncoderSettings.applicationType = kApplicationVcd20;
    EncoderSettings.streamType = kStreamTypeVideoCd;
    int32_t status = -1;
    o = ConfiguredOptions(&status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(o[6], 2324);
}

TEST_F(MuxInterfacesTest, BufferSizesOutsideTheirRangeAreRefusedBeforeMultiplexing)
{
    EncoderSettings.applicationType = kApplicationNone;
    EncoderSettings.streamType = kStreamTypeMpeg1;
    // Buffers that cannot take a 2048-byte pack, negative ones, and ones the header fields cannot name
    // (3000000 kB of audio would also overflow the 128-byte units).
    const std::vector<std::pair<int, int>> refused = {{4, 0},  {4, 1},       {4, -46}, {4, 8192}, {4, 3000000},
                                                      {0, 46}, {1, 46},      {-4, 46}, {1024, 46}, {3000000, 46},
                                                      {INT32_MAX, INT32_MAX}};
    for (const auto& [audio, video] : refused) {
        EncoderSettings.muxAudioBufferKb = audio;
        EncoderSettings.muxVideoBufferKb = video;
        MuxMessageText.clear();
        int32_t status = 0;
        ConfiguredOptions(&status);
        EXPECT_EQ(status, MuxErrParameterValue) << audio << " " << video;
        EXPECT_EQ(MuxMessageText, " Multiplexer pack size or buffer size has illegal value. ");
    }
    // The smallest and the largest usable sizes.
    for (const auto& [audio, video] : std::vector<std::pair<int, int>>{{2, 2}, {1023, 8191}}) {
        EncoderSettings.muxAudioBufferKb = audio;
        EncoderSettings.muxVideoBufferKb = video;
        int32_t status = -1;
        auto o = ConfiguredOptions(&status);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(o[2], audio * 8);
        EXPECT_EQ(o[3], video);
    }
    if (TestStreams().video.empty()) return;
    // A whole run is refused before anything is written.
    EncoderSettings.muxAudioBufferKb = 4;
    EncoderSettings.muxVideoBufferKb = 0;
    const auto out = dir_ / "refused.mpg";
    EXPECT_EQ(MultiplexWithLibrary(TestStreams().audio, TestStreams().video, out.string()), MuxErrParameterValue);
    EXPECT_EQ(MuxMessageText, " Multiplexer pack size or buffer size has illegal value. ");
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_EQ(MuxGetCurrentSession(), nullptr);
}

TEST_F(MuxInterfacesTest, RunsWriteStreamsAndReportFailures)
{
    if (TestStreams().video.empty()) GTEST_SKIP() << "ffmpeg is needed";
    EncoderSettings.applicationType = kApplicationNone;
    EncoderSettings.streamType = kStreamTypeVideoCd;
    const auto out = (dir_ / "vcd.mpg").string();
    EXPECT_EQ(MultiplexWithLibrary(TestStreams().audio, TestStreams().video, out), 0);
    EXPECT_EQ(ReadFile(out).size() % 2324, 0u);
    EXPECT_EQ(MuxBytesTotal, static_cast<int64_t>(std::filesystem::file_size(TestStreams().audio) +
                                                  std::filesystem::file_size(TestStreams().video)));
    EXPECT_GT(MuxBytesDone, MuxBytesTotal - 100000);
    std::string errors;
    RunCommand("ffmpeg -v error -xerror -i '" + out + "' -f null - 2>&1", &errors);
    EXPECT_EQ(errors, "");

    EncoderSettings.streamType = kStreamTypeMpeg1;
    const auto bad = (dir_ / "no" / "out.mpg").string();
    EXPECT_EQ(MultiplexWithLibrary(TestStreams().audio, TestStreams().video, bad), MuxErrWrite);
    EXPECT_EQ(MuxMessageText, " Cannot open file " + bad +
                                  " for write operation. Permisson denied.\nFile or device is read only or out of space.");
    if (std::filesystem::exists("/dev/full")) {
        EXPECT_EQ(MultiplexWithLibrary(TestStreams().audio, TestStreams().video, "/dev/full"), MuxErrWrite);
        EXPECT_EQ(MuxMessageText,
                  " Cannot write data to the file /dev/full.\nFile or device is read only or out of space.");
    }
    EXPECT_EQ(MultiplexWithLibrary((dir_ / "none.mp2").string(), TestStreams().video, out), MuxErrRead);
    EXPECT_EQ(MuxMessageText, "Error reading from file");
    // A mux type the library does not know writes nothing and says so.
    EncoderSettings.streamType = 9;
    const auto unknown = (dir_ / "unknown.mpg").string();
    EXPECT_EQ(MultiplexWithLibrary(TestStreams().audio, TestStreams().video, unknown), MuxErrParameterValue);
    EXPECT_EQ(MuxMessageText, "Invalid multiplex parameter value");
    EXPECT_FALSE(std::filesystem::exists(unknown));
    EXPECT_EQ(MuxGetCurrentSession(), nullptr);
}

TEST_F(MuxInterfacesTest, StopEndsTheRunWithOne)
{
    if (TestStreams().video.empty()) GTEST_SKIP() << "ffmpeg is needed";
    EncoderSettings.applicationType = kApplicationNone;
    EncoderSettings.streamType = kStreamTypeMpeg1;
    // Stopped before the run: the preparation refuses and no session is made.
    RunState = 3;
    MultiplexFinished = 0;
    EXPECT_EQ(MultiplexWithLibrary(TestStreams().audio, TestStreams().video, (dir_ / "a.mpg").string()), -500);
    EXPECT_EQ(MuxGetCurrentSession(), nullptr);

    // Stopped while the run goes on: the session is still ended and destroyed.
    RunState = 2;
    static int pumps;
    pumps = 0;
    MessagePumpHooks hooks;
    hooks.dispatchMessages = [](int, bool*) {
        if (++pumps == 2) RunState = 3;
        return 0;
    };
    SetMessagePumpHooks(hooks);
    const auto out = (dir_ / "b.mpg").string();
    EXPECT_EQ(MultiplexWithLibrary(TestStreams().audio, TestStreams().video, out), 1);
    SetMessagePumpHooks({});
    EXPECT_GE(pumps, 2);
    EXPECT_EQ(MuxGetCurrentSession(), nullptr);
    EXPECT_LT(MuxBytesDone, MuxBytesTotal);
    EXPECT_TRUE(std::filesystem::exists(out));
}

}  // namespace
