// Status codes of the session calls: wrong order, bad handles and ids, option
// defaults, missing or broken input files and failing outputs.
#include "muxlib/MuxLib.h"
#include "tests/muxlib/MuxTestUtil.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <string>

using namespace muxtest;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

// A begun session of the given type, current for the test's life.
class Session {
public:
    explicit Session(int32_t type = 0)
    {
        handle = MuxCreateSession();
        MuxSelectSession(handle);
        begin = MuxBegin();
        if (type != 0) MuxSetOption(0, type);
        ClearReported();
        MuxSetMessageCallback(RecordStatus, 7);
    }
    ~Session()
    {
        MuxEnd();
        MuxDestroySession(handle);
    }
    int32_t Option(int32_t id)
    {
        int32_t v = -1;
        EXPECT_EQ(MuxGetOption(id, &v), 0);
        return v;
    }
    MuxHandle handle;
    int32_t begin;
};

TEST(MuxSessionTest, CallsOutOfOrderOrOnUnknownSessions)
{
    int dummy = 0;
    EXPECT_EQ(MuxSelectSession(reinterpret_cast<MuxHandle>(&dummy)), MuxErrContext);
    EXPECT_EQ(MuxSelectSession(nullptr), MuxErrContext);

    MuxHandle h = MuxCreateSession();
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(MuxSelectSession(h), 0);
    EXPECT_EQ(MuxGetCurrentSession(), h);
    EXPECT_EQ(MuxEnd(), MuxErrUnpaired);  // no begin
    ASSERT_EQ(MuxBegin(), 0);
    ASSERT_EQ(MuxSetOption(0, MuxTypeMpeg1System), 0);
    EXPECT_EQ(MuxEnd(), 0);
    EXPECT_EQ(MuxEnd(), MuxErrUnpaired);  // second end
    ASSERT_EQ(MuxDestroySession(h), 0);

    // With the current session destroyed, every checked call refuses.
    EXPECT_EQ(MuxGetCurrentSession(), nullptr);
    EXPECT_EQ(MuxSelectSession(h), MuxErrContext);
    int32_t v = 0;
    EXPECT_EQ(MuxBegin(), MuxErrContext);
    EXPECT_EQ(MuxSetOption(0, 1), MuxErrContext);
    EXPECT_EQ(MuxSetParameter(0, 1), MuxErrContext);
    EXPECT_EQ(MuxGetOption(0, &v), MuxErrContext);
    EXPECT_EQ(MuxSetFileNameCallback(nullptr), MuxErrContext);
    EXPECT_EQ(MuxSetDvdOutputFolder(nullptr), MuxErrContext);
    EXPECT_EQ(MuxRun("v", "a", "o", nullptr), MuxErrContext);
    EXPECT_EQ(MuxEnd(), MuxErrContext);
    EXPECT_EQ(MuxSetParameter(14, 0), MuxErrParameterId);  // the id is checked first
    EXPECT_EQ(MuxDestroySession(h), 0);                     // not in the list: nothing happens
}

TEST(MuxSessionTest, SessionsAreSelectedByHandle)
{
    MuxHandle a = MuxCreateSession();
    MuxHandle b = MuxCreateSession();
    ASSERT_EQ(MuxSelectSession(a), 0);
    MuxSetOption(4, 11);
    ASSERT_EQ(MuxSelectSession(b), 0);
    MuxSetOption(4, 22);
    int32_t v = 0;
    ASSERT_EQ(MuxSelectSession(a), 0);
    MuxGetOption(4, &v);
    EXPECT_EQ(v, 11);
    EXPECT_EQ(MuxDestroySession(b), 0);
    EXPECT_EQ(MuxGetCurrentSession(), a);
    EXPECT_EQ(MuxSelectSession(b), MuxErrContext);
    EXPECT_EQ(MuxDestroySession(a), 0);
}

TEST(MuxSessionTest, TypeLoadsItsDefaults)
{
    struct Expected {
        int32_t type, option2, option3, option4, option5, option6, option10;
    };
    for (Expected e : {Expected{1, 32, 46, 0, 0, 2048, 1}, Expected{2, 32, 128, 0, 0, 2048, 1},
                       Expected{4, 32, 232, 0, 25200, 2048, 2}, Expected{5, 32, 128, 1, 0, 2028, 1},
                       Expected{6, 32, 230, 3, 6972, 2324, 2}}) {
        Session s;
        MuxSetOption(5, 999);
        ASSERT_EQ(MuxSetOption(0, e.type), 0);
        EXPECT_EQ(s.Option(2), e.option2) << e.type;
        EXPECT_EQ(s.Option(3), e.option3) << e.type;
        EXPECT_EQ(s.Option(4), e.option4) << e.type;
        EXPECT_EQ(s.Option(5), e.option5) << e.type;
        EXPECT_EQ(s.Option(6), e.option6) << e.type;
        EXPECT_EQ(s.Option(10), e.option10) << e.type;
    }
    Session vcd;
    MuxSetOption(1, 3);
    MuxSetOption(5, 999);
    MuxSetOption(12, 1);
    MuxSetOption(0, MuxTypeVideoCd);
    EXPECT_EQ(vcd.Option(1), 3);  // kept
    EXPECT_EQ(vcd.Option(5), 999);
    EXPECT_EQ(vcd.Option(6), 2324);
    EXPECT_EQ(vcd.Option(4), 1);
    EXPECT_EQ(vcd.Option(12), 1);
    MuxSetOption(0, MuxTypeSvcd);
    EXPECT_EQ(vcd.Option(12), 0);
    MuxSetOption(0, MuxTypeDvdVolume);
    EXPECT_EQ(vcd.Option(11), 2);
}

TEST(MuxSessionTest, ParametersAreCheckedAgainstTheType)
{
    Session s(MuxTypeMpeg1System);
    EXPECT_EQ(MuxSetParameter(14, 1), MuxErrParameterId);
    EXPECT_EQ(MuxSetParameter(-1, 1), MuxErrParameterId);
    int32_t v;
    EXPECT_EQ(MuxGetOption(14, &v), MuxErrParameterId);
    EXPECT_EQ(MuxSetParameter(0, 7), MuxErrParameterValue);
    EXPECT_EQ(MuxSetParameter(0, 0), MuxErrParameterValue);
    EXPECT_EQ(MuxSetParameter(1, 2), MuxNotApplicable);
    EXPECT_EQ(MuxSetParameter(8, 2), MuxNotApplicable);
    EXPECT_EQ(MuxSetParameter(11, 2), MuxNotApplicable);
    EXPECT_EQ(MuxSetParameter(6, 4096), 0);
    EXPECT_EQ(s.Option(6), 4096);
    EXPECT_EQ(MuxSetParameter(6, 4097), MuxPackTooLarge);
    EXPECT_EQ(s.Option(6), 4096);
    EXPECT_EQ(MuxSetParameter(4, 1), 0);
    EXPECT_EQ(s.Option(4), 1);
    for (int32_t type = 1; type <= 6; ++type) {
        ASSERT_EQ(MuxSetParameter(0, type), 0);
        EXPECT_EQ(MuxSetParameter(7, 1), MuxNotApplicable) << type;
    }
    MuxSetParameter(0, MuxTypeDvdVolume);
    for (int32_t id : {2, 3, 4, 6, 10}) EXPECT_EQ(MuxSetParameter(id, 1), MuxNotApplicable) << id;
    EXPECT_EQ(MuxSetParameter(11, 4), 0);
    MuxSetParameter(0, MuxTypeVideoCd);
    for (int32_t id : {2, 3, 6}) EXPECT_EQ(MuxSetParameter(id, 1), MuxNotApplicable) << id;
    EXPECT_EQ(MuxSetParameter(1, 2), 0);
    MuxSetParameter(0, MuxTypeSvcd);
    for (int32_t id : {2, 3, 6}) EXPECT_EQ(MuxSetParameter(id, 1), MuxNotApplicable) << id;
    EXPECT_EQ(MuxSetParameter(6, 5000), MuxNotApplicable);
    MuxSetParameter(0, MuxTypeMpeg2Program);
    EXPECT_EQ(MuxSetParameter(6, 4097), MuxPackTooLarge);
    // Values that would break the packet arithmetic are refused.
    EXPECT_EQ(MuxSetOption(1, 0), MuxErrParameterValue);
    EXPECT_EQ(MuxSetOption(14, 0), MuxErrParameterId);
}

TEST(MuxSessionTest, DvdFolderOnlyForDvdType)
{
    MuxDvdFolderDescriptor d;
    std::snprintf(d.folder, sizeof d.folder, "/tmp/dvd");
    {
        Session s(MuxTypeMpeg2Program);
        EXPECT_EQ(MuxSetDvdOutputFolder(&d), MuxErrDvdFolder);
        // A second type leaves no engine: there is no DVD engine to take the folder.
        MuxSetOption(0, MuxTypeDvdVolume);
        EXPECT_EQ(MuxSetDvdOutputFolder(&d), MuxErrGeneral);
    }
    Session s(MuxTypeDvdVolume);
    EXPECT_EQ(MuxSetDvdOutputFolder(&d), 0);
    std::string longName(359, 'x');
    std::snprintf(d.folder, sizeof d.folder, "%s", longName.c_str());
    EXPECT_EQ(MuxSetDvdOutputFolder(&d), MuxErrGeneral);
    d.folder[0] = '\0';
    EXPECT_EQ(MuxSetDvdOutputFolder(&d), MuxErrGeneral);
}

class MuxRunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (TestStreams().video.empty()) GTEST_SKIP() << "ffmpeg is needed";
    }
    TempDir dir_;
};

TEST_F(MuxRunTest, MissingOrUnwritableFilesAreReported)
{
    const auto out = dir_ / "out.mpg";
    {
        Session s(MuxTypeMpeg1System);
        EXPECT_EQ(MuxRun((dir_ / "none.m1v").c_str(), TestStreams().audio.c_str(), out.c_str(), nullptr), MuxErrRead);
        EXPECT_EQ(Reported, std::vector<int32_t>{MuxErrRead});
    }
    {
        Session s(MuxTypeMpeg1System);
        EXPECT_EQ(MuxRun(TestStreams().video.c_str(), (dir_ / "none.mp2").c_str(), out.c_str(), nullptr), MuxErrRead);
    }
    {
        Session s(MuxTypeMpeg1System);
        const auto bad = dir_ / "missing" / "out.mpg";
        EXPECT_EQ(MuxRun(TestStreams().video.c_str(), TestStreams().audio.c_str(), bad.c_str(), nullptr), MuxErrWrite);
        EXPECT_FALSE(Reported.empty());
        EXPECT_EQ(Reported.back(), MuxErrWrite);
        // The failure stays with the session: the end does not finish a broken output.
        EXPECT_EQ(MuxEnd(), MuxErrWrite);
    }
    {
        Session s(MuxTypeMpeg1System);
        const std::string name(400, 'n');
        EXPECT_EQ(MuxRun(TestStreams().video.c_str(), TestStreams().audio.c_str(), (dir_ / name).c_str(), nullptr),
                  MuxErrWrite);
    }
}

TEST_F(MuxRunTest, FullDeviceIsNeverASuccess)
{
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP();
    // Short input: everything fits the sink buffer, so only the final flush can fail.
    WriteFile(dir_ / "short.mp2", "");
    const std::string video = ReadFile(TestStreams().video).substr(0, 3000);
    WriteFile(dir_ / "short.m1v", video);
    RunResult r = RunSession(MuxTypeMpeg1System, {}, dir_ / "short.m1v", dir_ / "short.mp2", "/dev/full");
    EXPECT_EQ(r.run, 0);
    EXPECT_EQ(r.end, MuxErrWrite);
    r = RunSession(MuxTypeVideoCd, {}, TestStreams().video, TestStreams().audio, "/dev/full");
    EXPECT_EQ(r.run, MuxErrWrite);
    EXPECT_EQ(r.end, MuxErrWrite);
}

TEST_F(MuxRunTest, BrokenInputsGiveStreamErrors)
{
    const std::string audio = ReadFile(TestStreams().audio);
    const std::string video = ReadFile(TestStreams().video);
    const auto out = dir_ / "out.mpg";

    // Audio ending inside a frame.
    WriteFile(dir_ / "cut.mp2", audio.substr(0, audio.size() - 100));
    RunResult r = RunSession(MuxTypeMpeg1System, {}, TestStreams().video, dir_ / "cut.mp2", out);
    EXPECT_EQ(r.run, MuxErrRead);
    EXPECT_EQ(Reported, std::vector<int32_t>{MuxErrRead});

    // Layer I header.
    std::string layer1 = audio;
    layer1[1] = static_cast<char>((layer1[1] & ~6) | 6);
    WriteFile(dir_ / "l1.mp2", layer1);
    ClearReported();
    r = RunSession(MuxTypeMpeg1System, {}, TestStreams().video, dir_ / "l1.mp2", out);
    EXPECT_EQ(r.run, MuxErrAudioStream);
    EXPECT_FALSE(Reported.empty());

    // Not audio at all.
    WriteFile(dir_ / "junk.mp2", std::string(5000, 'j'));
    r = RunSession(MuxTypeMpeg1System, {}, TestStreams().video, dir_ / "junk.mp2", out);
    EXPECT_EQ(r.run, MuxErrAudioStream);

    // Sequence header without its marker bit after bit_rate.
    std::string marker = video;
    marker[10] = static_cast<char>(marker[10] & ~0x20);
    WriteFile(dir_ / "marker.m1v", marker);
    ClearReported();
    r = RunSession(MuxTypeMpeg1System, {}, dir_ / "marker.m1v", TestStreams().audio, out);
    EXPECT_EQ(r.run, MuxErrVideoStream);
    EXPECT_FALSE(Reported.empty());

    // An empty video file, and one without a picture: no video stream, never an audio-only output.
    WriteFile(dir_ / "empty.m1v", "");
    std::filesystem::remove(out);
    r = RunSession(MuxTypeMpeg1System, {}, dir_ / "empty.m1v", TestStreams().audio, out);
    EXPECT_EQ(r.run, MuxErrVideoStream);
    EXPECT_FALSE(std::filesystem::exists(out));
    WriteFile(dir_ / "header.m1v", video.substr(0, 12));
    r = RunSession(MuxTypeMpeg1System, {}, dir_ / "header.m1v", TestStreams().audio, out);
    EXPECT_EQ(r.run, 0);
    EXPECT_EQ(r.end, MuxErrVideoStream);

    // MPEG-2 video (a sequence extension after the sequence header) in an MPEG-1 system stream.
    WriteFile(dir_ / "mpeg2.m1v", video.substr(0, 12) + std::string("\x00\x00\x01\xB5\x14\x8A\x00\x01\x00\x00", 10) +
                                      video.substr(12));
    r = RunSession(MuxTypeMpeg1System, {}, dir_ / "mpeg2.m1v", TestStreams().audio, out);
    EXPECT_EQ(r.run, MuxErrVideoStream);

    // A file that does not begin with a start code.
    WriteFile(dir_ / "junk.m1v", "xyz" + video);
    r = RunSession(MuxTypeMpeg1System, {}, dir_ / "junk.m1v", TestStreams().audio, out);
    EXPECT_EQ(r.run, MuxErrVideoStream);

    // A type never set or out of range is refused before any output exists.
    std::filesystem::remove(out);
    for (int32_t type : {0, 7}) {
        ClearReported();
        r = RunSession(type, {}, TestStreams().video, TestStreams().audio, out);
        EXPECT_EQ(r.run, MuxErrParameterValue);
        EXPECT_EQ(Reported, std::vector<int32_t>{MuxErrParameterValue});
        EXPECT_FALSE(std::filesystem::exists(out));
    }
}

TEST_F(MuxRunTest, EmptyAudioStillGivesAPlayableStream)
{
    WriteFile(dir_ / "empty.mp2", "");
    const auto out = dir_ / "out.mpg";
    RunResult r = RunSession(MuxTypeMpeg1System, {}, TestStreams().video, dir_ / "empty.mp2", out);
    EXPECT_EQ(r.run, 0);
    EXPECT_EQ(r.end, 0);
    EXPECT_EQ(VideoFrameHashes(out), VideoFrameHashes(TestStreams().video));
}

TEST_F(MuxRunTest, ProgressCountsEveryInputByteButTheLastVideoUnit)
{
    static int64_t total;
    total = 0;
    Session s(MuxTypeMpeg1System);
    const auto out = dir_ / "out.mpg";
    ASSERT_EQ(MuxRun(TestStreams().video.c_str(), TestStreams().audio.c_str(), out.c_str(),
                     [](int64_t bytes) {
                         total += bytes;
                         return 1;
                     }),
              0);
    const auto size = std::filesystem::file_size(TestStreams().video) + std::filesystem::file_size(TestStreams().audio);
    EXPECT_LT(total, static_cast<int64_t>(size));
    EXPECT_GT(total, static_cast<int64_t>(size) - 100000);
}

}  // namespace
