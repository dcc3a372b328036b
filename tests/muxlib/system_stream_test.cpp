// MPEG-1 system streams and Video-CD streams written by a whole library session
// from ffmpeg-made elementary streams, checked with ffmpeg and by walking the packs.
#include "muxlib/MuxLib.h"
#include "tests/muxlib/MuxTestUtil.h"
#include "tests/support/SystemStreamCheck.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>

using namespace muxtest;
using testsupport::ReadFile;
using testsupport::RunCommand;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

class SystemStreamTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (TestStreams().video.empty()) GTEST_SKIP() << "ffmpeg is needed";
        ClearReported();
    }

    // ffmpeg decodes the whole file without a single complaint, and no data reaches
    // the decoder after its decoding time or overflows its buffer.
    static void ExpectCleanDecode(const std::filesystem::path& file)
    {
        std::string out;
        RunCommand("ffmpeg -v error -xerror -i '" + file.string() + "' -f null - 2>&1", &out);
        EXPECT_EQ(out, "");
        const streamcheck::Report check = streamcheck::CheckSystemStreamFile(file);
        EXPECT_TRUE(check.Ok()) << check.Summary();
    }

    // One mpeg1video and one mp2 stream, each lasting about the 2 s that were encoded.
    static void ExpectStreams(const std::filesystem::path& file)
    {
        std::string out;
        RunCommand("ffprobe -v error -show_entries stream=codec_type,codec_name,duration -of csv=p=0 '" +
                       file.string() + "'",
                   &out);
        std::istringstream lines(out);
        std::string line;
        int video = 0, audio = 0;
        while (std::getline(lines, line)) {
            std::istringstream fields(line);
            std::string codec, type, duration;
            std::getline(fields, codec, ',');
            std::getline(fields, type, ',');
            std::getline(fields, duration, ',');
            if (type == "video") {
                ++video;
                EXPECT_EQ(codec, "mpeg1video");
            } else if (type == "audio") {
                ++audio;
                EXPECT_EQ(codec, "mp2");
            }
            EXPECT_NEAR(std::atof(duration.c_str()), 2.0, 0.1) << line;
        }
        EXPECT_EQ(video, 1) << out;
        EXPECT_EQ(audio, 1) << out;
    }

    TempDir dir_;
};

TEST_F(SystemStreamTest, Mpeg1StreamDecodesLikeItsElementaryStreams)
{
    const auto out = dir_ / "out.mpg";
    RunResult r = RunSession(MuxTypeMpeg1System, {}, TestStreams().video, TestStreams().audio, out);
    EXPECT_EQ(r.begin, 0);
    EXPECT_EQ(r.run, 0);
    EXPECT_EQ(r.end, 0);
    EXPECT_TRUE(Reported.empty());
    ExpectCleanDecode(out);
    ExpectStreams(out);
    EXPECT_EQ(VideoFrameHashes(out), VideoFrameHashes(TestStreams().video));

    const std::string bytes = ReadFile(out);
    std::vector<Pack> packs;
    std::string error;
    ASSERT_TRUE(WalkPacks(bytes, packs, error)) << error;
    ASSERT_GT(packs.size(), 100u);
    // Computed rate: video and audio bytes/s with header allowance and 8.5 per cent margin.
    const std::string es = ReadFile(TestStreams().video);
    const uint32_t field = uint32_t{static_cast<uint8_t>(es[8])} << 10 | uint32_t{static_cast<uint8_t>(es[9])} << 2 |
                           static_cast<uint8_t>(es[10]) >> 6;
    const double expected = std::trunc(std::ceil((field * 50.0 + 28672.0) * (37.0 / 2048 + 1)) * 1.085) / 50;
    EXPECT_EQ(r.muxRate, static_cast<int32_t>(expected));
    // The first pack alone carries the 18-byte system header, with the video first.
    ASSERT_GE(packs[0].packets.size(), 2u);
    EXPECT_EQ(packs[0].packets[0].id, 0xBB);
    EXPECT_EQ(packs[0].packets[0].length, 18u);
    EXPECT_EQ(static_cast<uint8_t>(bytes[packs[0].packets[0].offset + 9]), 0x05);  // variable rate
    EXPECT_EQ(packs[0].packets[1].id, 0xE0);
    uint64_t previous = 0;
    for (size_t i = 0; i < packs.size(); ++i) {
        EXPECT_EQ(packs[i].muxRate, static_cast<uint32_t>(r.muxRate));
        if (i > 0) {
            EXPECT_GT(packs[i].scr, previous) << "pack " << i;
            for (const Packet& k : packs[i].packets) EXPECT_NE(k.id, 0xBB) << "pack " << i;
        }
        EXPECT_LE(packs[i].length, 2048u + (i + 1 == packs.size() ? 4u : 0u));
        previous = packs[i].scr;
    }
    EXPECT_EQ(bytes.substr(bytes.size() - 4), std::string("\0\0\1\xB9", 4));
    EXPECT_EQ(LatePackets(bytes, packs), 0);
    // Created like any other file of the user's: read-write for all but what the umask takes away.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(static_cast<mode_t>(std::filesystem::status(out).permissions()), 0666 & ~mask);
}

TEST_F(SystemStreamTest, VariableRateVideoMultiplexesAtItsMeasuredPeakRate)
{
    // The variable-rate code in the header; a calm second, then one of noise at about three times the rate.
    const auto video = dir_ / "vbr.m1v";
    ASSERT_EQ(RunCommand("ffmpeg -v error -y -f lavfi -i testsrc2=size=352x288:rate=25 -t 2 -vf "
                         "\"noise=alls=8:allf=t:enable='gte(t,1)'\" -c:v mpeg1video -q:v 4 -g 12 -bf 2 '" +
                         video.string() + "'"),
              0);
    const std::string es = ReadFile(video);
    ASSERT_EQ((uint8_t(es[8]) << 10 | uint8_t(es[9]) << 2 | uint8_t(es[10]) >> 6), 0x3FFFF);
    const double peak = testsupport::PeakPictureBytes(video, 25);  // bytes over 25 pictures

    const auto out = dir_ / "vbr.mpg";
    RunResult r = RunSession(MuxTypeMpeg1System, {}, video, TestStreams().audio, out);
    EXPECT_EQ(r.run, 0);
    EXPECT_EQ(r.end, 0);
    ExpectCleanDecode(out);
    EXPECT_EQ(VideoFrameHashes(out), VideoFrameHashes(video));
    // The peak video rate and the audio with header allowance and margin, not 1.856 Mbit/s.
    const double expected = (peak + 28672.0) * (37.0 / 2048 + 1) * 1.085 / 50;
    EXPECT_GT(r.muxRate, expected * 0.98);
    EXPECT_LT(r.muxRate, expected * 1.05);
}

// A low-rate constant-rate video whose buffer starts well filled: the first picture's
// vbv_delay names a wait of about 0.4 s, and the encoder lets its early pictures arrive
// just in time. Every unit of both streams still reaches the decoder by its decoding
// time, with the computed rate and with the fixed one.
TEST_F(SystemStreamTest, LowRateVideoWithAFullStartBufferArrivesOnTime)
{
    const auto audio = dir_ / "low.mp2";
    ASSERT_EQ(RunCommand("ffmpeg -v error -y -f lavfi -i sine=frequency=440:sample_rate=44100 -t 12 -ac 2 -c:a mp2 "
                         "-b:a 128k -f mp2 '" + audio.string() + "'"),
              0);
    const auto video = dir_ / "low.m1v";
    ASSERT_EQ(RunCommand("ffmpeg -v error -y -f lavfi -i testsrc2=size=352x288:rate=25 -t 12 -c:v mpeg1video -g 15 "
                         "-bf 2 -b:v 600k -minrate 600k -maxrate 600k -bufsize 327680 '" + video.string() + "'"),
              0);
    const std::string es = ReadFile(video);
    const size_t picture = es.find(std::string("\0\0\1\0", 4));
    ASSERT_LT(picture + 8, es.size());
    const uint32_t vbvDelay = (uint32_t{static_cast<uint8_t>(es[picture + 5])} & 7) << 13 |
                              uint32_t{static_cast<uint8_t>(es[picture + 6])} << 5 |
                              static_cast<uint8_t>(es[picture + 7]) >> 3;
    EXPECT_GT(vbvDelay, 27000u);
    EXPECT_LT(vbvDelay, 0xFFFFu);
    const auto out = dir_ / "low.mpg";
    for (int32_t fixedMode : {0, 1}) {
        SCOPED_TRACE(fixedMode);
        RunResult r = RunSession(MuxTypeMpeg1System, {{4, fixedMode}}, video, audio, out);
        ASSERT_EQ(r.run, 0);
        ASSERT_EQ(r.end, 0);
        const streamcheck::Report check = streamcheck::CheckSystemStreamFile(out);
        EXPECT_TRUE(check.Ok()) << check.Summary();
        EXPECT_EQ(check.streams.at(0xE0).bytes, es.size());
        EXPECT_EQ(check.streams.at(0xC0).bytes, std::filesystem::file_size(audio));
        std::string errors;
        RunCommand("ffmpeg -v error -xerror -i '" + out.string() + "' -f null - 2>&1", &errors);
        EXPECT_EQ(errors, "");
    }
}

TEST_F(SystemStreamTest, BuffersThatCannotTakeAPacketAreAnErrorNotAnEndlessWait)
{
    // 2 KB of video whose header declares 104 Mbit/s, and three audio frames.
    std::string video = ReadFile(TestStreams().video).substr(0, 2048);
    video[8] = static_cast<char>(0xFF);
    video[9] = static_cast<char>(0xFF);
    video[10] = static_cast<char>((video[10] & 0x3F) | 0x80);
    WriteFile(dir_ / "fast.m1v", video);
    const std::string audio = ReadFile(TestStreams().audio);
    size_t frames = 0;  // 224 kbit/s at 44.1 kHz: 731 bytes, one more with the padding bit
    for (int i = 0; i < 3; ++i) frames += 731 + ((static_cast<uint8_t>(audio[frames + 2]) >> 1) & 1);
    WriteFile(dir_ / "short.mp2", audio.substr(0, frames));
    const auto out = dir_ / "tiny.mpg";
    const std::vector<std::vector<std::pair<int32_t, int32_t>>> cases = {
        {{3, 0}, {4, 1}}, {{3, 1}, {4, 1}}, {{3, -46}, {4, 1}}, {{2, 0}, {4, 1}}, {{2, -32}}, {{3, 1}}};
    for (const auto& parameters : cases) {
        RunResult r = RunSession(MuxTypeMpeg1System, parameters, dir_ / "fast.m1v", dir_ / "short.mp2", out);
        // Buffers too small for a packet and a unit are refused before anything is written.
        EXPECT_TRUE(r.run == MuxErrGeneral || r.end == MuxErrGeneral || r.run == MuxErrParameterValue)
            << parameters[0].first << " " << parameters[0].second;
        EXPECT_TRUE(std::find(Reported.begin(), Reported.end(), MuxErrGeneral) != Reported.end() ||
                    Reported == std::vector<int32_t>{MuxErrParameterValue});
        EXPECT_LT(std::filesystem::exists(out) ? std::filesystem::file_size(out) : 0, 100000u);
    }
    // Bounds far above the data are no reason to wait.
    RunResult r = RunSession(MuxTypeMpeg1System, {{3, 3000000}, {2, 3000000}, {4, 1}}, dir_ / "fast.m1v",
                             dir_ / "short.mp2", out);
    EXPECT_EQ(r.run, 0);
    EXPECT_EQ(r.end, 0);
    EXPECT_LT(std::filesystem::file_size(out), 100000u);
}

TEST_F(SystemStreamTest, FixedRateSetsTheFlagAndKeepsAGivenRate)
{
    const auto out = dir_ / "fixed.mpg";
    RunResult r = RunSession(MuxTypeMpeg1System, {{4, 1}, {5, 4000}}, TestStreams().video, TestStreams().audio, out);
    EXPECT_EQ(r.run, 0);
    EXPECT_EQ(r.end, 0);
    EXPECT_EQ(r.muxRate, 4000);
    const std::string bytes = ReadFile(out);
    std::vector<Pack> packs;
    std::string error;
    ASSERT_TRUE(WalkPacks(bytes, packs, error)) << error;
    EXPECT_EQ(static_cast<uint8_t>(bytes[packs[0].packets[0].offset + 9]), 0x07);
    // At a fixed rate the clock follows the bytes: SCR = (position + 9) * 90000 / (rate * 50).
    for (size_t i = 0; i < packs.size(); i += 37)
        EXPECT_EQ(packs[i].scr, (packs[i].offset + 9) * 90000 / (4000 * 50)) << "pack " << i;
    ExpectCleanDecode(out);
    EXPECT_EQ(VideoFrameHashes(out), VideoFrameHashes(TestStreams().video));
}

TEST_F(SystemStreamTest, VideoCdStreamHasWholeSectorsAndFixedClock)
{
    const auto out = dir_ / "vcd.mpg";
    RunResult r = RunSession(MuxTypeVideoCd, {}, TestStreams().video, TestStreams().audio, out);
    EXPECT_EQ(r.run, 0);
    EXPECT_EQ(r.end, 0);
    ExpectCleanDecode(out);
    ExpectStreams(out);
    EXPECT_EQ(VideoFrameHashes(out), VideoFrameHashes(TestStreams().video));

    const std::string bytes = ReadFile(out);
    ASSERT_EQ(bytes.size() % 2324, 0u);
    std::vector<Pack> packs;
    std::string error;
    ASSERT_TRUE(WalkPacks(bytes, packs, error)) << error;
    ASSERT_EQ(packs.size(), bytes.size() / 2324);
    for (size_t i = 0; i < packs.size(); ++i) {
        EXPECT_EQ(packs[i].offset, i * 2324) << "pack " << i;
        EXPECT_EQ(packs[i].scr, 36000 + 1200 * i) << "pack " << i;
        EXPECT_EQ(packs[i].muxRate, 3528u);
    }
    // Start packs: a video-only and an audio-only system header, then no other.
    EXPECT_EQ(bytes.substr(12, 15), std::string("\0\0\1\xBB\0\x09\x80\x1B\x91\x01\xE1\xFF\xE0\xE0\x2E", 15));
    EXPECT_EQ(bytes.substr(2324 + 12, 15), std::string("\0\0\1\xBB\0\x09\x80\x1B\x91\x05\xE0\xFF\xC0\xC0\x20", 15));
    EXPECT_EQ(packs[0].packets.at(1).length, 2291u + 6);
    EXPECT_EQ(packs[1].packets.at(1).length, 2271u + 6);
    for (size_t i = 2; i < packs.size(); ++i)
        for (const Packet& k : packs[i].packets) EXPECT_NE(k.id, 0xBB) << "pack " << i;
    EXPECT_EQ(bytes.substr(bytes.size() - 4), std::string("\0\0\1\xB9", 4));
    EXPECT_EQ(LatePackets(bytes, packs), 0);
    if (testsupport::HaveTool("vcdimager")) {
        // The disc authoring tool takes the stream without a warning.
        std::string log;
        const std::string d = dir_.path().string();
        EXPECT_EQ(RunCommand("cd '" + d + "' && vcdimager -t vcd2 -c disc.cue -b disc.bin vcd.mpg 2>&1", &log), 0);
        EXPECT_EQ(log.find("WARN"), std::string::npos) << log;
        EXPECT_EQ(log.find("ERR"), std::string::npos) << log;
    }
    // The stream fits the disc's rate: 75 sectors a second for 2 s, plus the start-up time.
    EXPECT_LT(packs.size(), 75u * 3);
}

// The pack header piece is the whole header of the kind: 12 bytes in an MPEG-1 system
// stream, 14 in an MPEG-2 program stream, so that the packet pieces follow it whole.
TEST_F(SystemStreamTest, CallerSinkReceivesHeaderAndPacketPieces)
{
    struct Seen {
        std::vector<int32_t> kinds;
        std::vector<int32_t> lengths;
        int64_t bytes = 0;
    };
    for (int32_t type : {MuxTypeMpeg1System, MuxTypeMpeg2Program}) {
        SCOPED_TRACE(type);
        Seen seen;
        MuxCallerSink pair{[](const void* piece, int32_t, void* value) -> int32_t {
                               auto* p = static_cast<const MuxPiece*>(piece);
                               auto* s = static_cast<Seen*>(value);
                               s->kinds.push_back(p->kind);
                               s->lengths.push_back(p->length);
                               s->bytes += p->length;
                               return 0;
                           },
                           &seen};
        MuxHandle h = MuxCreateSession();
        ASSERT_EQ(MuxSelectSession(h), 0);
        ASSERT_EQ(MuxBegin(), 0);
        ASSERT_EQ(MuxSetOption(0, type), 0);
        ASSERT_EQ(MuxAddSink(MuxSinkCaller, &pair), 0);
        const auto out = dir_ / "sink.mpg";
        EXPECT_EQ(MuxRun(TestStreams().video.c_str(), TestStreams().audio.c_str(), out.c_str(), nullptr), 0);
        EXPECT_EQ(MuxEnd(), 0);
        EXPECT_EQ(MuxDestroySession(h), 0);
        const std::string bytes = ReadFile(out);
        ASSERT_GE(seen.kinds.size(), 6u);
        if (type == MuxTypeMpeg1System)
            EXPECT_EQ((std::vector<int32_t>(seen.kinds.begin(), seen.kinds.begin() + 5)),
                      (std::vector<int32_t>{MuxPiecePackHeader, MuxPieceSystemHeader, MuxPieceVideoPacket,
                                            MuxPiecePackHeader, MuxPieceAudioPacket}));
        else
            EXPECT_EQ((std::vector<int32_t>(seen.kinds.begin(), seen.kinds.begin() + 2)),
                      (std::vector<int32_t>{MuxPiecePackHeader, MuxPieceSystemHeader}));
        EXPECT_EQ(seen.lengths[0], type == MuxTypeMpeg1System ? 12 : 14);
        EXPECT_EQ(std::count(seen.kinds.begin(), seen.kinds.end(), MuxPieceVideoPacket) > 0 &&
                      std::count(seen.kinds.begin(), seen.kinds.end(), MuxPieceAudioPacket) > 0,
                  true);
        // The pieces cover the file but for padding packets and the end code.
        EXPECT_LE(seen.bytes, static_cast<int64_t>(bytes.size()));
        EXPECT_GT(seen.bytes, static_cast<int64_t>(bytes.size()) * 9 / 10);
    }
}

}  // namespace
