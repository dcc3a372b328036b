// The readers of the pack engines: packet sizes, stuffing and padding, time stamps,
// the start-up delay and the SVCD extensions, checked on the packets they queue.
#include "muxlib/MuxLib.h"
#include "muxlib/MuxPackEngine.h"
#include "muxlib/MuxSession.h"
#include "tests/muxlib/MuxTestUtil.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

using namespace muxtest;
using testsupport::ReadFile;

namespace {

// A pack engine that only keeps what the readers queue.
class CollectingEngine : public MuxPackEngine {
public:
    using MuxPackEngine::MuxPackEngine;
    int32_t Multiplex() override { return 0; }
    int32_t Finish() override
    {
        int32_t status = geometry.FlushAudio();
        return status != 0 ? status : geometry.FlushVideo();
    }
};

struct Fixture {
    explicit Fixture(int32_t type, int32_t fixedRate = 0, int32_t muxRate = 0)
    {
        session.options[0] = type;
        session.options[1] = 1;
        session.options[4] = fixedRate;
        session.options[5] = muxRate;
        session.options[6] = type == MuxTypeSvcd ? 2324 : 2048;
        engine.RefreshGeometry();
    }
    MuxSession session;
    CollectingEngine engine{session};
};

std::vector<std::string> SplitUnits(const std::string& es)
{
    std::vector<std::string> units;
    size_t start = 0;
    for (size_t i = 4; i + 3 <= es.size(); ++i) {
        if (es[i] == 0 && es[i + 1] == 0 && es[i + 2] == 1) {
            units.push_back(es.substr(start, i - start));
            start = i;
        }
    }
    units.push_back(es.substr(start));
    return units;
}

std::vector<std::string> SplitFrames(const std::string& es)
{
    static const uint32_t kbps[15] = {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384};
    std::vector<std::string> frames;
    for (size_t at = 0; at + 3 <= es.size();) {
        const auto b2 = static_cast<uint8_t>(es[at + 2]);
        const size_t length = 144 * kbps[b2 >> 4] * 1000 / 44100 + ((b2 >> 1) & 1);
        frames.push_back(es.substr(at, length));
        at += length;
    }
    return frames;
}

// Feeds both streams interleaved as the run call does, then flushes.
void FeedAll(Fixture& f, const std::vector<std::string>& video, const std::vector<std::string>& audio)
{
    for (size_t i = 0; i < std::max(video.size(), audio.size()); ++i) {
        if (i < audio.size()) {
            ASSERT_EQ(f.engine.geometry.FeedAudio(reinterpret_cast<const uint8_t*>(audio[i].data()),
                                                  static_cast<uint32_t>(audio[i].size())), 0);
        }
        if (i < video.size()) {
            ASSERT_EQ(f.engine.geometry.FeedVideo(reinterpret_cast<const uint8_t*>(video[i].data()),
                                                  static_cast<uint32_t>(video[i].size())), 0);
        }
    }
    ASSERT_EQ(f.engine.Finish(), 0);
}

uint64_t TimeStamp(const std::vector<uint8_t>& b, size_t at)
{
    return (uint64_t{b[at]} >> 1 & 7) << 30 | uint64_t{b[at + 1]} << 22 | (uint64_t{b[at + 2]} >> 1) << 15 |
           uint64_t{b[at + 3]} << 7 | b[at + 4] >> 1;
}

// Payloads in order, with every record checked for its size and its header's fields.
std::string CheckQueue(const PesPacketQueue& queue, uint32_t packetSize, uint8_t id)
{
    std::string payload;
    for (size_t i = 0; i < queue.size(); ++i) {
        const PesPacketRecord& p = *queue[i];
        const auto& b = p.bytes;
        EXPECT_EQ(p.totalLength, packetSize) << "packet " << i;
        EXPECT_EQ(b.size(), p.totalLength);
        EXPECT_EQ(b[3], id);
        const uint32_t lengthField = uint32_t{b[4]} << 8 | b[5];
        EXPECT_EQ(lengthField + 6, p.headerLength + p.PayloadLength() -
                                       (p.totalLength > lengthField + 6 ? p.totalLength - lengthField - 6 : 0))
            << "packet " << i;
        EXPECT_EQ(b[8] + 9u, p.headerLength);
        if (p.flags & PesPacketRecord::FlagPts) { EXPECT_EQ(TimeStamp(b, 9), p.pts) << "packet " << i; }
        payload.append(b.begin() + p.headerLength, b.begin() + p.headerLength + lengthField + 6 - p.headerLength);
    }
    return payload;
}

class PesReadersTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (TestStreams().video.empty()) GTEST_SKIP() << "ffmpeg is needed";
        videoEs = ReadFile(TestStreams().video);
        audioEs = ReadFile(TestStreams().audio);
        ClearReported();
    }
    std::string videoEs, audioEs;
};

TEST_F(PesReadersTest, PacketsCarryBothStreamsWhole)
{
    Fixture f(MuxTypeMpeg2Program);
    FeedAll(f, SplitUnits(videoEs), SplitFrames(audioEs));
    EXPECT_EQ(CheckQueue(f.engine.videoQueue, 2034, 0xE0), videoEs);
    EXPECT_EQ(CheckQueue(f.engine.audioQueue, 2034, 0xC0), audioEs);

    // Decoding times step by one picture; presentation follows one picture later (no B pictures).
    const int64_t delay = f.engine.geometry.startDelay;
    EXPECT_GT(delay, 0);
    uint64_t previous = 0;
    for (const auto& p : f.engine.videoQueue) {
        for (uint32_t i = 0; i < p->unitCount; ++i) {
            EXPECT_EQ((p->units[i].time - static_cast<uint64_t>(delay)) % 3600, 0u);
            EXPECT_GT(p->units[i].time + 1, previous + 1);
            previous = p->units[i].time;
        }
        if (p->flags & PesPacketRecord::FlagDts) { EXPECT_EQ(p->pts, p->dts + 3600); }
    }
    // Audio starts with the first picture's presentation and steps by 1152 samples.
    const auto& first = *f.engine.audioQueue.front();
    EXPECT_EQ(first.pts, static_cast<uint64_t>(delay) + 3600);
    for (const auto& p : f.engine.audioQueue) {
        for (uint32_t i = 0; i < p->unitCount; ++i) {
            const uint64_t n = ((p->units[i].time - first.pts) * 44100 + 44100) / 1152 / 90000;
            EXPECT_EQ(p->units[i].time, first.pts + n * 1152 * 90000 / 44100);
        }
    }
}

TEST_F(PesReadersTest, MarginOfTheStartDelayFollowsFixedRateMode)
{
    // Pictures that name no start-up wait (vbv_delay 0xFFFF, as a variable-rate stream's).
    std::vector<std::string> units = SplitUnits(videoEs);
    for (std::string& u : units) {
        if (u.size() < 8 || u[3] != 0) continue;
        u[5] = static_cast<char>(u[5] | 7);
        u[6] = static_cast<char>(0xFF);
        u[7] = static_cast<char>(u[7] | 0xF8);
    }
    Fixture variable(MuxTypeMpeg2Program, 0);
    Fixture fixed(MuxTypeMpeg2Program, 1);
    FeedAll(variable, units, SplitFrames(audioEs));
    FeedAll(fixed, units, SplitFrames(audioEs));
    ASSERT_EQ(variable.engine.geometry.firstVbvDelay, 0xFFFFu);
    const int64_t vbvHalf = variable.engine.geometry.firstVbvDelay / 2;
    const double a = static_cast<double>(variable.engine.geometry.startDelay - vbvHalf);
    const double b = static_cast<double>(fixed.engine.geometry.startDelay - vbvHalf);
    EXPECT_NEAR(b / a, 1.085 / 1.025, 0.01);
}

TEST_F(PesReadersTest, SvcdPacketsStartAtSequenceHeadersWithBufferExtensions)
{
    Fixture f(MuxTypeSvcd);
    // Each I picture gets the user-data placeholder our encoder writes for SVCD.
    std::vector<std::string> units;
    for (const std::string& u : SplitUnits(videoEs)) {
        units.push_back(u);
        if (u.size() > 6 && u[3] == 0 && ((static_cast<uint8_t>(u[5]) >> 3) & 7) == 1)
            units.push_back(std::string("\0\0\1\xB2", 4) + std::string(14, '\1'));
    }
    std::string withUserData;
    for (const std::string& u : units) withUserData += u;
    FeedAll(f, units, SplitFrames(audioEs));
    EXPECT_EQ(CheckQueue(f.engine.videoQueue, 2310, 0xE0), withUserData);
    int sequences = 0;
    for (const auto& p : f.engine.videoQueue) {
        const auto& b = p->bytes;
        const auto payload = b.begin() + p->headerLength;
        const bool startsWithSequence = payload[3] == 0xB3 && payload[2] == 1;
        for (auto it = payload; it + 4 <= b.begin() + p->totalLength; ++it) {
            if (it[0] == 0 && it[1] == 0 && it[2] == 1 && it[3] == 0xB3) { EXPECT_EQ(it, payload); }
        }
        if (startsWithSequence) {
            ++sequences;
            EXPECT_EQ(b[7] & 1, 1);
            EXPECT_EQ(std::vector<uint8_t>(b.begin() + 19, b.begin() + 22), (std::vector<uint8_t>{0x1E, 0x60, 0xE6}));
        }
    }
    EXPECT_GE(sequences, 2);
    // Each I picture's placeholder is found whole where its packet says, in the packet
    // that holds the picture header.
    int marked = 0;
    for (const auto& p : f.engine.videoQueue) {
        if (p->userDataOffset == 0) continue;
        ++marked;
        const auto& b = p->bytes;
        ASSERT_LE(p->userDataOffset + 18, p->totalLength);
        EXPECT_EQ(std::string(b.begin() + p->userDataOffset, b.begin() + p->userDataOffset + 18),
                  std::string("\0\0\1\xB2", 4) + std::string(14, '\1'));
        bool picture = false;
        for (size_t i = p->headerLength; i + 6 < p->userDataOffset; ++i)
            picture = picture || (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1 && b[i + 3] == 0 && ((b[i + 5] >> 3) & 7) == 1);
        EXPECT_TRUE(picture);
    }
    EXPECT_EQ(marked, sequences);
    const auto& a = f.engine.audioQueue.front()->bytes;
    EXPECT_EQ(std::vector<uint8_t>(a.begin() + 14, a.begin() + 17), (std::vector<uint8_t>{0x1E, 0x40, 0x20}));
}

// A packet 7 bytes short takes stuffing in its header; 8 bytes short, an inner padding packet.
TEST_F(PesReadersTest, ShortPacketsAreStuffedOrPadded)
{
    const std::string sequence = videoEs.substr(0, 12);
    const std::string picture("\0\0\1\0\0\x0F\xFF\xF8", 8);
    for (uint32_t shortBy : {7u, 8u}) {
        Fixture f(MuxTypeMpeg2Program, 0, 10000);
        std::string slice("\0\0\1\1", 4);
        slice.resize(2034 - 9 - 10 - 12 - 8 - shortBy, '\x55');
        FeedAll(f, {sequence, picture, slice}, {});
        ASSERT_EQ(f.engine.videoQueue.size(), 1u);
        const PesPacketRecord& p = *f.engine.videoQueue.front();
        EXPECT_EQ(p.totalLength, 2034u);
        if (shortBy == 7) {
            EXPECT_EQ(p.headerLength, 9u + 10 + 7);
            EXPECT_EQ(p.bytes[8], 17);
        } else {
            EXPECT_EQ(p.headerLength, 19u);
            EXPECT_EQ(std::vector<uint8_t>(p.bytes.end() - 8, p.bytes.end()),
                      (std::vector<uint8_t>{0, 0, 1, 0xBE, 0, 2, 0xFF, 0xFF}));
        }
        // One picture only: the delay counts at least one start byte, one audio byte and a
        // VBV delay of 100 (the picture names no wait, so the buffer's fill time may add).
        EXPECT_EQ(f.engine.geometry.firstVbvDelay, 100u);
        EXPECT_TRUE(f.engine.geometry.delayApplied);
        EXPECT_GE(f.engine.geometry.startDelay, static_cast<int64_t>(2 * 2048 / 500000.0 * 90000) + 50);
        EXPECT_LT(f.engine.geometry.startDelay, 90000);
    }
}

TEST_F(PesReadersTest, BadStreamsAreRefused)
{
    Fixture f(MuxTypeMpeg2Program);
    f.session.messageCallback = RecordStatus;
    std::string marker = videoEs.substr(0, 12);
    marker[10] = static_cast<char>(marker[10] & ~0x20);
    EXPECT_EQ(f.engine.geometry.FeedVideo(reinterpret_cast<const uint8_t*>(marker.data()), 12), MuxErrVideoStream);
    const std::string picture("\0\0\1\0\0\x0F\xFF\xF8", 8);
    EXPECT_EQ(f.engine.geometry.FeedVideo(reinterpret_cast<const uint8_t*>(picture.data()), 8), 0);
    std::string layer1 = audioEs.substr(0, 731);
    layer1[1] = static_cast<char>(layer1[1] | 6);
    EXPECT_EQ(f.engine.geometry.FeedAudio(reinterpret_cast<const uint8_t*>(layer1.data()), 731), MuxErrAudioStream);
    EXPECT_EQ(Reported, std::vector<int32_t>{MuxErrAudioStream});
}

}  // namespace
