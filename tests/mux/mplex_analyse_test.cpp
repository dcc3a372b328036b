// The multiplexer's stream analysis, time codes, header layouts and failure
// paths, on small streams built byte by byte.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "mux/Mplex.h"
#include "mux/MplexFiles.h"
#include "settings/EncoderSettings.h"
#include "settings/JobState.h"
#include "settings/RunState.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

std::string SequenceHeader(int frameRateCode) {
    // 352x288, aspect 1, 2875 x 400 bit/s, marker, VBV 20, not constrained, no matrices.
    uint32_t word = 2875u << 14 | 1u << 13 | 20u << 3;
    unsigned char b[12] = {0x00, 0x00, 0x01, 0xB3, 0x16, 0x01, 0x20, uint8_t(0x10 | frameRateCode),
                           uint8_t(word >> 24), uint8_t(word >> 16), uint8_t(word >> 8), uint8_t(word)};
    return std::string(reinterpret_cast<char*>(b), 12);
}

std::string Picture(int temporalReference, int type, size_t body) {
    std::string p = {0x00, 0x00, 0x01, 0x00, char(temporalReference >> 2),
                     char(((temporalReference & 3) << 6) | (type << 3)), 0x00, 0x00};
    return p + std::string(body, char(0x55));
}

const std::string kGop = {0x00, 0x00, 0x01, char(0xB8), 0x00, 0x08, 0x00, 0x00};
const std::string kEnd = {0x00, 0x00, 0x01, char(0xB7)};

std::string AudioFrame(bool padding) {
    std::string f(padding ? 732 : 731, char(0x11));
    f[0] = char(0xFF);
    f[1] = char(0xFD);  // Layer II, no CRC
    f[2] = char((11 << 4) | (padding ? 2 : 0));  // 224 kbit/s, 44.1 kHz
    f[3] = char(0x04);
    return f;
}

class MplexAnalyseTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("TMPDIR");
        oldTmp_ = old ? old : "";
        setenv("TMPDIR", dir_.path().c_str(), 1);
        EncoderSettings.muxConstantRate = 0;
        EncoderSettings.muxBitRate = 0;
        RunState = 2;
        EncodeAbortFlag = 0;
    }
    std::vector<VideoUnitRecord> VideoRecords(const std::string& stream, VideoStreamInfo& info, double& firstPts) {
        testsupport::WriteFile(dir_ / "v.m1v", stream);
        {
            MuxJumpArm arm;
            AnalyseVideoStream((dir_ / "v.m1v").string(), (dir_ / "recs").string(), info, firstPts);
        }
        std::vector<VideoUnitRecord> records;
        FILE* f = std::fopen((dir_ / "recs").c_str(), "rb");
        VideoUnitRecord r;
        while (ReadVideoRecord(f, r)) records.push_back(r);
        std::fclose(f);
        CloseAllMuxFiles();
        return records;
    }
    void TearDown() override {
        if (oldTmp_.empty()) {
            unsetenv("TMPDIR");
        } else {
            setenv("TMPDIR", oldTmp_.c_str(), 1);
        }
    }
    testsupport::TempDir dir_;
    std::string oldTmp_;
};

TEST_F(MplexAnalyseTest, TimeCodesKeep33BitsAndCarry) {
    TimeCode t;
    TicksToTimeCode(4294967296.0, t);
    EXPECT_EQ(t.bit32, 1u);
    EXPECT_EQ(t.low32, 0u);
    TicksToTimeCode(4294967295.0, t);
    EXPECT_EQ(t.bit32, 0u);
    EXPECT_EQ(t.low32, 0xFFFFFFFFu);
    TimeCode one{0, 1};
    AccumulateTimeCode(one, t);
    EXPECT_EQ(TimeCodeValue(t), 4294967296ull);
    TimeCode top{1, 0xFFFFFFFFu};
    AccumulateTimeCode(one, top);
    EXPECT_EQ(TimeCodeValue(top), 0u);  // wraps at 2^33

    // 33-bit stamp with its marker bits, and the pack header's mux-rate field.
    TimeCode v{1, 0x89ABCDEFu};
    unsigned char b[12];
    unsigned char* cursor = b;
    WriteTimeStamp(v, 0x3, cursor);
    EXPECT_EQ(cursor, b + 5);
    uint64_t value = TimeCodeValue(v);
    EXPECT_EQ(b[0], 0x30 | 0x08 | ((value >> 30) & 3) << 1 | 1);
    EXPECT_EQ(b[1], uint8_t(value >> 22));
    EXPECT_EQ(b[2], uint8_t(((value >> 15) & 0x7F) << 1 | 1));
    EXPECT_EQ(b[3], uint8_t(value >> 7));
    EXPECT_EQ(b[4], uint8_t((value & 0x7F) << 1 | 1));
    BuildPackHeader(b, v, 3528);
    EXPECT_EQ(b[3], 0xBA);
    EXPECT_EQ(b[4] >> 4, 0x2);
    EXPECT_EQ((uint32_t(b[9] & 0x7F) << 15) | (uint32_t(b[10]) << 7) | (b[11] >> 1), 3528u);
    EXPECT_EQ(b[11] & 1, 1);
}

TEST_F(MplexAnalyseTest, OpenGroupAndEndCodeShapeTheVideoUnits) {
    // I(2) B(0) B(1) P(5), end code, then one more picture without an end code.
    std::string stream = SequenceHeader(3) + kGop + Picture(2, 1, 100) + Picture(0, 3, 40) + Picture(1, 3, 50) +
                         Picture(5, 2, 60) + kEnd + kGop + Picture(0, 1, 70);
    VideoStreamInfo info;
    double firstPts = 0;
    auto records = VideoRecords(stream, info, firstPts);
    EXPECT_EQ(info.horizontalSize, 352u);
    EXPECT_EQ(info.verticalSize, 288u);
    EXPECT_EQ(info.frameRateCode, 3u);
    EXPECT_EQ(info.bitRate, 2875u);
    EXPECT_EQ(info.vbvBufferSize, 20u);
    EXPECT_EQ(info.pictures, 5u);
    EXPECT_EQ(info.groups, 2u);
    EXPECT_EQ(info.sequenceEnds, 1u);
    EXPECT_EQ(info.picturesByType[0], 2u);
    EXPECT_EQ(info.picturesByType[2], 2u);
    EXPECT_DOUBLE_EQ(firstPts, 3600.0);

    ASSERT_EQ(records.size(), 5u);
    uint64_t total = 0;
    for (auto& r : records) total += r.length;
    EXPECT_EQ(total, stream.size());  // every byte belongs to one unit
    EXPECT_EQ(records[0].length, 12u + 8u + 108u);
    EXPECT_EQ(records[0].type, 1u);
    EXPECT_EQ(TimeCodeValue(records[0].dts), 0u);
    EXPECT_EQ(TimeCodeValue(records[0].pts), 3u * 3600u);
    EXPECT_EQ(TimeCodeValue(records[1].pts), 3600u);
    EXPECT_EQ(TimeCodeValue(records[1].dts), 3600u);
    EXPECT_EQ(TimeCodeValue(records[3].dts), 3u * 3600u);
    EXPECT_EQ(TimeCodeValue(records[3].pts), 6u * 3600u);
    EXPECT_EQ(records[3].length, 68u + 4u);  // the end code closes the P picture's unit
    // The group header after the end code belongs to the picture it introduces, with that picture's stamps.
    EXPECT_EQ(records[4].length, 8u + 78u);
    EXPECT_EQ(records[4].type, 1u);
    EXPECT_EQ(TimeCodeValue(records[4].dts), 4u * 3600u);
    EXPECT_EQ(TimeCodeValue(records[4].pts), 5u * 3600u);
    // Bytes over 5 pictures at 25/s, rounded up to 10 kbit/s, in 400 bit/s units.
    EXPECT_EQ(info.measuredBitRate, uint32_t(std::ceil(double(stream.size()) / 5 / 0.04 * 0.0008) * 25));
}

// Codes 0 and 9 to 15 name no picture rate: the stream is refused, not stamped with zeros.
TEST_F(MplexAnalyseTest, FrameRateCodesWithoutARateAreRefused) {
    for (int code : {0, 15}) {
        VideoStreamInfo info;
        double firstPts = 0;
        EXPECT_THROW(VideoRecords(SequenceHeader(code) + Picture(0, 1, 10) + Picture(1, 2, 10) + kEnd, info, firstPts),
                     MuxJump);
        CloseAllMuxFiles();
    }
}

TEST_F(MplexAnalyseTest, AudioFramesAndTheirStampsFollowTheHeader) {
    std::string audio = AudioFrame(false) + AudioFrame(true) + AudioFrame(false) + AudioFrame(true).substr(0, 500);
    testsupport::WriteFile(dir_ / "a.mp2", audio);
    AudioStreamInfo info;
    double firstPts = 3600.0;
    {
        MuxJumpArm arm;
        AnalyseAudioStream((dir_ / "a.mp2").string(), (dir_ / "arecs").string(), info, firstPts);
    }
    EXPECT_EQ(info.layer, 2u);
    EXPECT_EQ(info.bitRateIndex, 11u);
    EXPECT_EQ(info.frameBytes[0], 731u);
    EXPECT_EQ(info.frameBytes[1], 732u);
    EXPECT_EQ(info.syncWords, 4u);
    EXPECT_EQ(info.framesByPadding[0], 2u);
    EXPECT_EQ(info.framesByPadding[1], 1u);  // the cut fourth frame is not recorded
    std::vector<AudioUnitRecord> records;
    FILE* f = std::fopen((dir_ / "arecs").c_str(), "rb");
    AudioUnitRecord r;
    while (ReadAudioRecord(f, r)) records.push_back(r);
    std::fclose(f);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[1].length, 732u);
    for (size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(TimeCodeValue(records[i].pts), uint64_t(i * (1152 / 44.1 * 90.0) + 3600.0));
    }
}

TEST_F(MplexAnalyseTest, BadInputFailsCleanlyAndLeavesNoRecordFiles) {
    fs::path video = dir_ / "v.m1v", audio = dir_ / "a.mp2", out = dir_ / "out.mpg";
    std::string goodVideo = SequenceHeader(3) + kGop + Picture(0, 1, 3000) + Picture(1, 2, 2000) + kEnd;
    std::string goodAudio;
    for (int i = 0; i < 10; ++i) goodAudio += AudioFrame(i % 3 == 1);
    testsupport::WriteFile(audio, goodAudio);
    auto leftovers = [&] {
        int n = 0;
        for (auto& e : fs::directory_iterator(dir_.path())) n += e.path().filename().string().rfind("tmp_", 0) == 0;
        return n;
    };

    testsupport::WriteFile(video, "\x00\x00\x01\xB5" + goodVideo.substr(4));
    // Each failure names its cause, which the job shows.
    EXPECT_EQ(MultiplexMpeg1SystemStream(audio, video, out, 2048, 1, 4, 46), 1);
    EXPECT_EQ(MuxMessageText, " Invalid MPEG Video stream header. ");
    EXPECT_EQ(leftovers(), 0);

    testsupport::WriteFile(video, SequenceHeader(3) + kGop + kEnd);  // no picture at all
    EXPECT_EQ(MultiplexMpeg1SystemStream(audio, video, out, 2048, 1, 4, 46), 1);
    EXPECT_EQ(MuxMessageText, " Invalid MPEG Video stream header. ");
    // A sequence extension: MPEG-2 video, which an MPEG-1 system stream cannot carry.
    testsupport::WriteFile(audio, goodAudio);
    testsupport::WriteFile(video, SequenceHeader(3) + std::string("\x00\x00\x01\xB5\x14\x8A\x00\x01\x00\x00", 10) +
                                      goodVideo.substr(12));
    EXPECT_EQ(MultiplexMpeg1SystemStream(audio, video, out, 2048, 1, 4, 46), 1);
    EXPECT_EQ(MuxMessageText, " MPEG-2 video stream cannot be multiplexed into an MPEG-1 system stream. ");
    testsupport::WriteFile(video, goodVideo);

    testsupport::WriteFile(video, goodVideo);
    testsupport::WriteFile(audio, std::string(800, 'x'));
    EXPECT_EQ(MultiplexMpeg1SystemStream(audio, video, out, 2048, 1, 4, 46), 1);
    EXPECT_EQ(MuxMessageText, " Invalid MPEG Audio stream header. ");
    // A free-format or Layer III header has no frame length to go by.
    std::string layer3 = AudioFrame(false);
    layer3[1] = char(0xFB);
    testsupport::WriteFile(audio, layer3 + layer3);
    EXPECT_EQ(MultiplexMpeg1SystemStream(audio, video, out, 2048, 1, 4, 46), 1);
    EXPECT_EQ(leftovers(), 0);

    // Audio whose sync is lost after three frames fails, rather than ending the sound there.
    testsupport::WriteFile(audio, goodAudio.substr(0, 731 * 2 + 732) + std::string(100, 'x') + goodAudio);
    EncodeAbortFlag = 0;
    EXPECT_EQ(MultiplexMpeg1SystemStream(audio, video, out, 2048, 1, 4, 46), 1);
    EXPECT_EQ(MuxMessageText, " MPEG audio stream lost synchronisation at byte 2194. ");
    EXPECT_EQ(EncodeAbortFlag, 1);
    EXPECT_EQ(leftovers(), 0);

    testsupport::WriteFile(audio, goodAudio);
    ASSERT_EQ(MultiplexMpeg1SystemStream(audio, video, out, 2048, 1, 4, 46), 0) << MuxMessageText;
    EXPECT_EQ(leftovers(), 0);
    EXPECT_EQ(fs::file_size(out) % 2048, 4u);

    EncodeAbortFlag = 0;
    fs::path missing = dir_ / "none.mp2";
    EXPECT_EQ(MultiplexMpeg1SystemStream(missing, video, out, 2048, 1, 4, 46), 1);
    EXPECT_EQ(MuxMessageText, " Cannot open file " + missing.string() + " for read operation.");
    EXPECT_EQ(EncodeAbortFlag, 4);

    fs::path unwritable = dir_ / "no-such-folder" / "out.mpg";
    EXPECT_EQ(MultiplexMpeg1SystemStream(audio, video, unwritable, 2048, 1, 4, 46), 1);
    EXPECT_EQ(MuxMessageText.rfind(" Cannot open file " + unwritable.string() + " for write operation. ", 0), 0u);
    EXPECT_EQ(leftovers(), 0);

    // Slots too small for the headers or too big for the packet buffer, and buffers
    // smaller than one packet, could never be scheduled.
    for (auto sizes : {std::vector<int>{2048, 0, 4, 46}, {40, 1, 4, 46}, {8192, 1, 4, 46}, {2048, 1, 1, 46},
                       {2048, 1, 4, 0}, {2048, 1, -4, 46}, {2048, 1, 3000000, 46}, {2048, 1, 4, 3000000},
                       {2048, 1, 1 << 30, 46}}) {
        EXPECT_EQ(MultiplexMpeg1SystemStream(audio, video, out, sizes[0], sizes[1], sizes[2], sizes[3]), 1);
        EXPECT_NE(MuxMessageText, "");
    }
}

}  // namespace
