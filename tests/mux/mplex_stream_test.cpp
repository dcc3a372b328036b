// Whole runs of the MPEG-1 system stream multiplexer over ffmpeg-made
// elementary streams, checked by walking the packs and by ffmpeg's decode.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <sstream>

#include "mux/Mplex.h"
#include "settings/EncoderSettings.h"
#include "settings/JobState.h"
#include "settings/RunState.h"
#include "tests/mux/mplex_util.h"
#include "tests/support/SystemStreamCheck.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;
using namespace mplextest;

namespace {

class MplexStreamTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!testsupport::HaveTool("ffmpeg") || !testsupport::HaveTool("ffprobe")) return;
        dir_ = new testsupport::TempDir;
        streams_ = MakeStreams(dir_->path(), 2);
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    void SetUp() override {
        if (!dir_) GTEST_SKIP() << "ffmpeg not installed";
        // Record files go to a folder of their own so leftovers show.
        tmp_ = dir_->path() / ("tmp-" + std::to_string(counter_++));
        fs::create_directories(tmp_);
        const char* old = std::getenv("TMPDIR");
        oldTmp_ = old ? old : "";
        setenv("TMPDIR", tmp_.c_str(), 1);
        EncoderSettings.muxConstantRate = 0;
        EncoderSettings.muxBitRate = 0;
        RunState = 2;
        EncodeAbortFlag = 0;
    }
    void TearDown() override {
        if (oldTmp_.empty()) {
            unsetenv("TMPDIR");
        } else {
            setenv("TMPDIR", oldTmp_.c_str(), 1);
        }
        if (dir_) {
            EXPECT_TRUE(fs::is_empty(tmp_)) << "record files left behind";
        }
    }
    fs::path Mux(const std::string& name, int packSize, int packets, int audioKb = 4, int videoKb = 46) {
        fs::path out = dir_->path() / name;
        int result = MultiplexMpeg1SystemStream(streams_.audio.string(), streams_.video.string(), out.string(),
                                                packSize, packets, audioKb, videoKb);
        EXPECT_EQ(result, 0) << MuxMessageText;
        EXPECT_EQ(MultiplexFinished, 1);
        return out;
    }

    static testsupport::TempDir* dir_;
    static Streams streams_;
    static int counter_;
    fs::path tmp_;
    std::string oldTmp_;
};
testsupport::TempDir* MplexStreamTest::dir_ = nullptr;
Streams MplexStreamTest::streams_;
int MplexStreamTest::counter_ = 0;

// Every pack `packSize` bytes; SCR strictly rising; the end code closes the stream.
// The last pack may end early when the streams run out inside it.
void ExpectPacks(const Layout& layout, uint64_t fileSize, uint64_t packSize, uint64_t lastShort = 0) {
    ASSERT_TRUE(layout.endCode) << layout.error;
    ASSERT_FALSE(layout.packs.empty());
    for (size_t i = 0; i < layout.packs.size(); ++i) {
        EXPECT_EQ(layout.packs[i].offset, i * packSize) << "pack " << i;
        if (i > 0) {
            EXPECT_GT(layout.packs[i].scr, layout.packs[i - 1].scr) << "pack " << i;
        }
        EXPECT_EQ(layout.packs[i].muxRate, layout.packs[0].muxRate);
    }
    uint64_t full = layout.packs.size() * packSize + 4;
    EXPECT_LE(fileSize, full);
    EXPECT_GE(fileSize + lastShort, full);
}

TEST_F(MplexStreamTest, DecodesToTheElementaryStreamsFramesWithConsistentStamps) {
    fs::path out = Mux("plain.mpg", 2048, 1);
    EXPECT_EQ(DecodeErrors(out), "");
    // Progress counts every input byte twice: once analysed, once copied.
    EXPECT_EQ(MuxBytesTotal, int64_t(fs::file_size(streams_.video) + fs::file_size(streams_.audio)));
    EXPECT_NEAR(double(MuxBytesDone), 2.0 * double(MuxBytesTotal), 4096.0);
    std::string probe = ProbeStreams(out);
    EXPECT_NE(probe.find("mpeg1video"), std::string::npos) << probe;
    EXPECT_NE(probe.find("mp2"), std::string::npos) << probe;
    // Each stream lasts its 2 seconds, give or take a frame.
    std::istringstream lines(probe);
    std::string line;
    int streams = 0;
    while (std::getline(lines, line)) {
        if (line.empty()) continue;
        ++streams;
        double duration = std::atof(line.substr(line.find(',') + 1).c_str());
        EXPECT_NEAR(duration, 2.0, 0.05) << line;
    }
    EXPECT_EQ(streams, 2);

    auto videoSums = FrameChecksums(out, "v");
    EXPECT_EQ(videoSums.size(), 50u);
    EXPECT_EQ(videoSums, FrameChecksums(streams_.video, "v"));
    EXPECT_EQ(FrameChecksums(out, "a"), FrameChecksums(streams_.audio, "a"));

    std::string bytes = testsupport::ReadFile(out);
    Layout layout = Walk(bytes);
    ExpectPacks(layout, bytes.size(), 2048);
    ASSERT_EQ(layout.systemHeader.size(), 18u);
    EXPECT_TRUE(layout.packs[0].systemHeader || layout.packets[0].id != 0xE0);
    EXPECT_EQ(uint8_t(layout.systemHeader[9]), 0x05);  // variable rate: fixed flag clear
    EXPECT_EQ(uint8_t(layout.systemHeader[10]), 0xE1);
    // Buffer bounds: audio 4 kB in 128-byte units, video 46 kB in 1024-byte units.
    EXPECT_EQ(layout.systemHeader.substr(12), std::string("\xC0\xC0\x20\xE0\xE0\x2E", 6));
    EXPECT_EQ(layout.packs[0].muxRate, (uint32_t(uint8_t(layout.systemHeader[6]) & 0x7F) << 15) |
                                           (uint32_t(uint8_t(layout.systemHeader[7])) << 7) |
                                           (uint8_t(layout.systemHeader[8]) >> 1));
    EXPECT_EQ(layout.packs[0].scr, uint64_t(9 * 90000.0 / (50.0 * layout.packs[0].muxRate)));

    // Video stamps fall on the 3600-tick frame grid; audio on the 2351.02-tick frame grid.
    int64_t firstDts = -1, firstAudio = -1;
    int videoStamped = 0, audioStamped = 0;
    uint64_t payload[2] = {};
    std::map<unsigned, size_t> last;
    for (size_t i = 0; i < layout.packets.size(); ++i) last[layout.packets[i].id] = i;
    for (size_t i = 0; i < layout.packets.size(); ++i) {
        const Packet& p = layout.packets[i];
        if (p.id == 0xBE) {
            // At a variable rate padding only fills the slot of a stream's last packet.
            ASSERT_GT(i, 0u);
            EXPECT_TRUE(last[layout.packets[i - 1].id] == i - 1 && layout.packets[i - 1].id != 0xBE) << i;
            continue;
        }
        EXPECT_TRUE(p.hasBuffer);
        if (p.id == 0xE0) {
            payload[0] += p.payloadBytes;
            EXPECT_EQ(p.bufferScale, 1u);
            EXPECT_EQ(p.bufferSize, 46u);
            if (!p.hasPts) continue;
            uint64_t dts = p.hasDts ? p.dts : p.pts;
            if (firstDts < 0) firstDts = int64_t(dts);
            EXPECT_EQ((dts - uint64_t(firstDts)) % 3600, 0u);
            EXPECT_GE(p.pts, dts);
            EXPECT_EQ((p.pts - dts) % 3600, 0u);
            if (p.hasDts) {
                EXPECT_NE(p.pts, p.dts);
            }
            ++videoStamped;
        } else if (p.id == 0xC0) {
            payload[1] += p.payloadBytes;
            EXPECT_EQ(p.bufferScale, 0u);
            EXPECT_EQ(p.bufferSize, 32u);
            EXPECT_FALSE(p.hasDts);
            if (!p.hasPts) continue;
            if (firstAudio < 0) firstAudio = int64_t(p.pts);
            double frames = double(p.pts - uint64_t(firstAudio)) / (1152 / 44.1 * 90.0);
            EXPECT_NEAR(frames, std::round(frames), 0.01);
            ++audioStamped;
        }
    }
    EXPECT_GT(videoStamped, 40);
    EXPECT_GT(audioStamped, 10);
    // Every elementary byte is carried, and nothing else: the last packets end at their data.
    EXPECT_EQ(payload[0], fs::file_size(streams_.video));
    EXPECT_EQ(payload[1], fs::file_size(streams_.audio));
    streamcheck::Report check = streamcheck::CheckSystemStream(bytes);
    EXPECT_TRUE(check.Ok()) << check.Summary();
}

TEST_F(MplexStreamTest, VideoCdSectorsAtConstantRateArePaddedAndFixed) {
    EncoderSettings.muxConstantRate = 1;
    fs::path out = Mux("vcd.mpg", 2324, 1);
    EXPECT_EQ(DecodeErrors(out), "");
    EXPECT_EQ(FrameChecksums(out, "v"), FrameChecksums(streams_.video, "v"));
    std::string bytes = testsupport::ReadFile(out);
    Layout layout = Walk(bytes);
    ExpectPacks(layout, bytes.size(), 2324);
    EXPECT_EQ(uint8_t(layout.systemHeader[9]), 0x07);
    std::map<unsigned, int> ids;
    std::map<unsigned, size_t> last;
    for (size_t i = 0; i < layout.packets.size(); ++i) last[layout.packets[i].id] = i;
    for (size_t i = 0; i < layout.packets.size(); ++i) {
        const Packet& p = layout.packets[i];
        ++ids[p.id];
        bool first = layout.packs[0].systemHeader && p.offset == 30;
        // A stream's last packet ends at its data; a padding packet fills its sector.
        bool tail = (p.id != 0xBE && last[p.id] == i) || (i > 0 && last[layout.packets[i - 1].id] == i - 1);
        if (!tail) {
            EXPECT_EQ(p.payloadBytes, first ? 2276u : 2294u) << i;
        }
        if (p.id == 0xBE) {
            EXPECT_FALSE(p.hasBuffer || p.hasPts);
        }
    }
    EXPECT_GT(ids[0xBE], 0) << "constant rate fills idle slots with padding";
    streamcheck::Report check = streamcheck::CheckSystemStream(bytes);
    EXPECT_TRUE(check.Ok()) << check.Summary();

    // The disc authoring tool takes the file as a Video-CD track; it only remarks
    // on the end code standing after the last sector rather than inside it.
    if (testsupport::HaveTool("vcdxgen") && testsupport::HaveTool("vcdxbuild")) {
        fs::path disc = tmp_.parent_path() / "disc";
        fs::create_directories(disc);
        std::string log;
        std::string cd = "cd '" + disc.string() + "' && ";
        ASSERT_EQ(testsupport::RunCommand(cd + "vcdxgen -t vcd2 '" + out.string() + "' 2>&1", &log), 0) << log;
        ASSERT_EQ(testsupport::RunCommand(cd + "vcdxbuild videocd.xml 2>&1", &log), 0) << log;
        std::istringstream lines(log);
        std::string line;
        while (std::getline(lines, line)) {
            if (line.find("WARN") == std::string::npos) continue;
            bool endCode = line.find("0x000001b9") != std::string::npos || line.find("PEM") != std::string::npos ||
                           line.find("remaining 4 bytes") != std::string::npos;
            EXPECT_TRUE(endCode) << line;
        }
        fs::remove_all(disc);
    }
    // The SCR runs at the stated rate: one pack of 2324 bytes per step.
    double ticksPerPack = 2324 * 90000.0 / (50.0 * layout.packs[0].muxRate);
    for (size_t i = 1; i < layout.packs.size(); ++i) {
        EXPECT_NEAR(double(layout.packs[i].scr - layout.packs[0].scr), i * ticksPerPack, 1.0);
    }
}

TEST_F(MplexStreamTest, SeveralPacketsPerPackShareOnePackHeader) {
    EncoderSettings.muxConstantRate = 1;
    fs::path out = Mux("three.mpg", 2324, 3);
    EXPECT_EQ(DecodeErrors(out), "");
    EXPECT_EQ(FrameChecksums(out, "v"), FrameChecksums(streams_.video, "v"));
    std::string bytes = testsupport::ReadFile(out);
    Layout layout = Walk(bytes);
    ExpectPacks(layout, bytes.size(), 2322, 2 * 774);
    // Slots of 774 bytes, each one packet, a stream's last one with a padding packet after it.
    EXPECT_LE(layout.packets.size(), layout.packs.size() * 3 + 2);
    EXPECT_GE(layout.packets.size(), layout.packs.size() * 3 - 2);
    streamcheck::Report check = streamcheck::CheckSystemStream(bytes);
    EXPECT_TRUE(check.Ok()) << check.Summary();
}

TEST_F(MplexStreamTest, VariableRateWithSeveralPacketsSkipsIdleSlots) {
    fs::path out = Mux("skip.mpg", 2048, 2);
    EXPECT_EQ(DecodeErrors(out), "");
    EXPECT_EQ(FrameChecksums(out, "a"), FrameChecksums(streams_.audio, "a"));
    std::string bytes = testsupport::ReadFile(out);
    Layout layout = Walk(bytes);
    ASSERT_TRUE(layout.endCode) << layout.error;
    for (size_t i = 1; i < layout.packs.size(); ++i) EXPECT_GT(layout.packs[i].scr, layout.packs[i - 1].scr);
    int padding = 0;
    for (const Packet& p : layout.packets) padding += p.id == 0xBE;
    EXPECT_LE(padding, 2) << "only the slots of the streams' last packets";
    streamcheck::Report check = streamcheck::CheckSystemStream(bytes);
    EXPECT_TRUE(check.Ok()) << check.Summary();
}

TEST_F(MplexStreamTest, VariableRateVideoMultiplexesAtItsMeasuredPeakRate) {
    // The variable-rate code in the header; a calm second, then one of noise at about three times the rate.
    fs::path video = tmp_.parent_path() / "vbr.m1v";
    ASSERT_EQ(testsupport::RunCommand("ffmpeg -v error -y -f lavfi -i testsrc2=size=352x288:rate=25 -t 2 -vf "
                                      "\"noise=alls=8:allf=t:enable='gte(t,1)'\" -c:v mpeg1video -q:v 4 -g 12 -bf 2 '" +
                                      video.string() + "'"),
              0);
    std::string es = testsupport::ReadFile(video);
    ASSERT_EQ((uint8_t(es[8]) << 10 | uint8_t(es[9]) << 2 | uint8_t(es[10]) >> 6), 0x3FFFF);
    const double peak = testsupport::PeakPictureBytes(video, 25);  // bytes over 25 pictures

    fs::path out = dir_->path() / "vbr.mpg";
    ASSERT_EQ(MultiplexMpeg1SystemStream(streams_.audio, video, out, 2048, 1, 4, 46), 0) << MuxMessageText;
    EXPECT_EQ(DecodeErrors(out), "");
    EXPECT_EQ(FrameChecksums(out, "v"), FrameChecksums(video, "v"));
    streamcheck::Report check = streamcheck::CheckSystemStreamFile(out);
    EXPECT_TRUE(check.Ok()) << check.Summary();
    ASSERT_FALSE(check.packs.empty());
    // Peak video rate with 30 per cent margin, the audio, and the headers: not the code's 105 Mbit/s.
    const double rate = check.packs[0].muxRate * 50.0;
    EXPECT_GT(rate, 1.3 * peak + 28000) << check.Summary();
    EXPECT_LT(rate, (1.3 * peak + 28000) * 1.1) << check.Summary();
}

TEST_F(MplexStreamTest, UserRatesOutsideTheRangeAreAutomaticAndTooLowOnesFail) {
    EncoderSettings.muxBitRate = 1024;
    Layout automatic = Walk(testsupport::ReadFile(Mux("auto.mpg", 2048, 1)));
    ASSERT_FALSE(automatic.packs.empty());
    EncoderSettings.muxBitRate = 0;
    Layout zero = Walk(testsupport::ReadFile(Mux("zero.mpg", 2048, 1)));
    EXPECT_EQ(automatic.packs[0].muxRate, zero.packs[0].muxRate);

    EncoderSettings.muxBitRate = 4000000;
    Layout user = Walk(testsupport::ReadFile(Mux("user.mpg", 2048, 1)));
    // 500,000 bytes/s stretched (to 507,433) by the header share of each 2048-byte pack.
    EXPECT_EQ(user.packs[0].muxRate, uint32_t((507433 / 1000 + 1) * 20));

    fs::path out = dir_->path() / "bad.mpg";
    for (int rate : {1023, -1}) {
        EncoderSettings.muxBitRate = rate;
        EXPECT_EQ(MultiplexMpeg1SystemStream(streams_.audio, streams_.video, out, 2048, 1, 4, 46), 1);
        EXPECT_EQ(MuxMessageText, " User specified multiplexed bit rate has illegal value.");
    }
    EncoderSettings.muxBitRate = 1000000;
    EXPECT_EQ(MultiplexMpeg1SystemStream(streams_.audio, streams_.video, out, 2048, 1, 4, 46), 1);
    EXPECT_EQ(MuxMessageText, " User specified multiplexed bit rate is less than \nvideo bit rate + audio bit rate.");
    EXPECT_EQ(EncodeAbortFlag, 1);
}

TEST_F(MplexStreamTest, AStopEndsTheRunAndRemovesTheRecordFiles) {
    RunState = 3;
    int result = MultiplexMpeg1SystemStream(streams_.audio, streams_.video, (dir_->path() / "stop.mpg").string(),
                                            2048, 1, 4, 46);
    RunState = 2;
    EXPECT_EQ(result, 1);
    EXPECT_EQ(MuxMessageText, "");
    EXPECT_EQ(EncodeAbortFlag, 0);
    EXPECT_GT(MuxBytesDone, 100000);
    EXPECT_LT(MuxBytesDone, 100000 + 4096 + 2);
}

TEST_F(MplexStreamTest, AFullDeviceIsAWriteFailureNotASuccess) {
    if (!fs::exists("/dev/full")) GTEST_SKIP();
    EXPECT_EQ(MultiplexMpeg1SystemStream(streams_.audio, streams_.video, "/dev/full", 2048, 1, 4, 46), 1);
    EXPECT_TRUE(EncodeAbortFlag == 1 || EncodeAbortFlag == 8) << EncodeAbortFlag;
    EXPECT_NE(MuxMessageText.find("MPEG output file"), std::string::npos) << MuxMessageText;
}

TEST_F(MplexStreamTest, ACutAudioStreamLosesOnlyItsIncompleteLastFrame) {
    std::string audio = testsupport::ReadFile(streams_.audio);
    fs::path cut = tmp_.parent_path() / "cut.mp2";
    testsupport::WriteFile(cut, audio.substr(0, audio.size() - 300));
    fs::path out = dir_->path() / "cut.mpg";
    ASSERT_EQ(MultiplexMpeg1SystemStream(cut, streams_.video, out, 2048, 1, 4, 46), 0) << MuxMessageText;
    EXPECT_EQ(DecodeErrors(out), "");
    auto whole = FrameChecksums(streams_.audio, "a");
    auto muxed = FrameChecksums(out, "a");
    ASSERT_EQ(muxed.size() + 1, whole.size());
    EXPECT_TRUE(std::equal(muxed.begin(), muxed.end(), whole.begin()));
}

}  // namespace
