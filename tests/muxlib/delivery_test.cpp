// Every kind the library writes, over pack sizes, packets per pack and constant and
// variable rate video: a run either writes a stream whose every unit reaches the
// decoder on time (by the decoder-buffer check), or fails and says why.
#include "muxlib/MuxLib.h"
#include "tests/muxlib/MuxTestUtil.h"
#include "tests/muxlib/StreamLayoutChecks.h"
#include "tests/support/SystemStreamCheck.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

using testsupport::ReadFile;
using testsupport::RunCommand;

namespace {

struct Outcome {
    int32_t status = 0;  // of the run, else of the end
    std::string problem;
};

Outcome Multiplex(int32_t type, const std::vector<std::pair<int32_t, int32_t>>& parameters,
                  const std::filesystem::path& video, const std::filesystem::path& audio,
                  const std::filesystem::path& out)
{
    std::filesystem::remove(out);
    MuxHandle h = MuxCreateSession();
    MuxSelectSession(h);
    MuxBegin();
    MuxSetOption(MuxOptionType, type);
    for (const auto& [id, value] : parameters) MuxSetParameter(id, value);
    Outcome o;
    o.status = MuxRun(video.c_str(), audio.c_str(), out.c_str(), nullptr);
    const int32_t end = MuxEnd();
    if (o.status == 0) o.status = end;
    o.problem = MuxLastProblemText();
    MuxDestroySession(h);
    return o;
}

std::string Encode(const std::filesystem::path& file, const std::string& options)
{
    return RunCommand("ffmpeg -v error -y -f lavfi -i testsrc2=size=720x576:rate=25 -t 3 " + options + " '" +
                      file.string() + "'") == 0
               ? file.string()
               : std::string();
}

TEST(DeliveryTest, EveryKindArrivesOnTimeOrIsRefusedWithItsReason)
{
    if (!testsupport::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is needed";
    testsupport::TempDir dir;
    const auto out = dir / "out.mpg";
    const muxtest::Streams& mpeg1 = muxtest::TestStreams();
    const std::string audio48 = dir / "a48.mp2";
    ASSERT_EQ(RunCommand("ffmpeg -v error -y -f lavfi -i sine=frequency=440:sample_rate=48000 -t 3 -ac 2 -c:a mp2 "
                         "-b:a 224k -f mp2 '" + audio48 + "'"),
              0);
    const std::string cbr = Encode(dir / "cbr.m2v", "-aspect 4:3 -c:v mpeg2video -g 12 -bf 2 -b:v 6M -minrate 6M -maxrate 6M "
                                                    "-bufsize 1835008 -f mpeg2video");
    const std::string vbr = Encode(dir / "vbr.m2v", "-c:v mpeg2video -g 15 -bf 2 -q:v 3 -maxrate 9.8M "
                                                    "-bufsize 1835008 -f mpeg2video");
    const std::string low = Encode(dir / "low.m2v", "-s 480x576 -c:v mpeg2video -g 12 -bf 2 -b:v 1M -maxrate 2.2M "
                                                    "-bufsize 1835008 -f mpeg2video");
    const std::string svcd = Encode(dir / "svcd.m2v", "-s 480x576 -c:v mpeg2video -g 12 -bf 2 -b:v 2200k -maxrate "
                                                      "2200k -minrate 2200k -bufsize 1835008 -f mpeg2video");
    // A 224 KiB buffer filled at 600 kbit/s, its vbv_delay 0xFFFF: more than the system buffer can stage.
    const std::string deep = Encode(dir / "deep.m1v", "-s 352x288 -c:v mpeg1video -g 12 -bf 2 -b:v 600k -maxrate 600k "
                                                      "-bufsize 1835008 -f mpeg1video");
    // More than the DVD byte clock carries beside the sound.
    const std::string full = Encode(dir / "full.m2v", "-aspect 4:3 -c:v mpeg2video -g 12 -bf 2 -b:v 10.5M -minrate 10.5M "
                                                      "-maxrate 10.5M -bufsize 1835008 -f mpeg2video");
    ASSERT_FALSE(cbr.empty() || vbr.empty() || low.empty() || svcd.empty() || deep.empty() || full.empty());

    struct Case {
        int32_t type;
        std::string video, audio;
        std::vector<std::pair<int32_t, int32_t>> parameters;
        int32_t expected;  // 0: a clean stream
    };
    std::vector<Case> cases;
    for (int32_t pack : {2048, 2324, 4096}) {
        // A 4 KiB audio buffer cannot take a 4096-byte pack's packet and keep a frame to decode.
        cases.push_back({MuxTypeMpeg1System, mpeg1.video, mpeg1.audio, {{MuxOptionPackSize, pack}},
                         pack == 4096 ? int32_t{MuxErrParameterValue} : 0});
        cases.push_back({MuxTypeMpeg1System, mpeg1.video, mpeg1.audio,
                         {{MuxOptionPackSize, pack}, {MuxOptionAudioBufferBound, 64}}, 0});
        // The default 4 KiB audio buffer cannot take a 4096-byte pack's packet at all.
        for (const std::string& video : {cbr, vbr, low})
            for (int32_t packets : {1, 2})
                cases.push_back({MuxTypeMpeg2Program, video, audio48,
                                 {{MuxOptionPackSize, pack}, {MuxOptionPacketsPerPack, packets}},
                                 packets == 1 && pack < 4096 ? 0 : int32_t{MuxErrParameterValue}});
        cases.push_back({MuxTypeMpeg2Program, vbr, audio48,
                         {{MuxOptionPackSize, pack}, {MuxOptionAudioBufferBound, 64}}, 0});
    }
    cases.push_back({MuxTypeVideoCd, mpeg1.video, mpeg1.audio, {}, 0});
    cases.push_back({MuxTypeMpeg1System, deep, audio48, {}, MuxErrSequencing});
    cases.push_back({MuxTypeSvcd, svcd, audio48, {}, 0});
    // More video than the SVCD rate carries: late pictures, so a failure naming them.
    cases.push_back({MuxTypeSvcd, cbr, audio48, {}, MuxErrSequencing});
    cases.push_back({MuxTypeDvdVolume, cbr, audio48, {{MuxOptionDvdOutput, 0}}, 0});
    cases.push_back({MuxTypeDvdVolume, full, audio48, {{MuxOptionDvdOutput, 0}}, MuxErrSequencing});

    for (const Case& c : cases) {
        std::string trace = "type " + std::to_string(c.type) + " " + c.video;
        for (const auto& [id, value] : c.parameters) trace += ", " + std::to_string(id) + "=" + std::to_string(value);
        SCOPED_TRACE(trace);
        const Outcome o = Multiplex(c.type, c.parameters, c.video, c.audio, out);
        EXPECT_EQ(o.status, c.expected) << o.problem;
        if (c.expected == 0) {
            const streamcheck::Report check = streamcheck::CheckSystemStreamFile(out);
            EXPECT_TRUE(check.Ok()) << check.Summary();
        } else {
            EXPECT_NE(o.problem, "");
            if (c.expected == MuxErrParameterValue)
                EXPECT_FALSE(std::filesystem::exists(out) && std::filesystem::file_size(out) > 0);
            else
                EXPECT_NE(o.problem.find("video stream: "), std::string::npos) << o.problem;
        }
    }

    // A variable-rate transport stream keeps its clock references close even where the
    // video's rate falls far below the peak.
    for (int32_t fixed : {0, 1}) {
        SCOPED_TRACE("transport, fixed " + std::to_string(fixed));
        const Outcome o = Multiplex(MuxTypeTransport, {{MuxOptionFixedRate, fixed}}, low, audio48, out);
        ASSERT_EQ(o.status, 0) << o.problem;
        const muxtest::TransportTiming t = muxtest::CheckTransportTiming(ReadFile(out));
        EXPECT_EQ(t.error, "");
        EXPECT_GT(t.maxPcrGap, 0.0);
        EXPECT_LE(t.maxPcrGap, 0.1);
    }
}

}  // namespace
