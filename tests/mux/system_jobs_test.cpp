// Whole MPEG-1 jobs through RunEncoding from an AVI with PCM sound: system streams
// through the job's own multiplexer and through the library, and Video-CD streams,
// each decoding to its last byte with picture and sound starting together; and jobs
// whose target disk is full or read-only, which fail, say why and keep the user's file.
#include <gtest/gtest.h>

#include <sys/mount.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>

#include "job/JobDriver.h"
#include "job/Profile.h"
#include "mux/Mplex.h"
#include "platform/MessageBox.h"
#include "platform/ResStrings.h"
#include "settings/EncoderSettings.h"
#include "settings/JobState.h"
#include "settings/Report.h"
#include "settings/RunState.h"
#include "tests/mux/JobStreamChecks.h"
#include "tests/platform/FullDisk.h"
#include "tests/support/JobTestSupport.h"
#include "tests/support/SystemStreamCheck.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::RunCommand;

namespace {

using jobcheck::ExpectPlayableStream;

class SystemJobTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(InitEncoderLibrary(), 1); }

    void SetUp() override {
        if (!testsupport::HaveTool("ffmpeg") || !testsupport::HaveTool("ffprobe")) GTEST_SKIP() << "ffmpeg is needed";
        testsupport::ResetJobHooks();
    }

    // A multiplexed MPEG-1 job on an AVI of `frames` pictures with stereo PCM, its
    // outputs in `folder`.
    void Job(const testsupport::TestAvi& avi, const fs::path& folder) {
        ASSERT_EQ(testsupport::MakeTestAvi(dir_ / "in.avi", avi), 0);
        ASSERT_NO_FATAL_FAILURE(testsupport::AviJobSettings(dir_ / "in.avi", avi, 3, folder));
        EncoderSettingsRecord& e = EncoderSettings;
        e.framesToEncode = avi.frames;
        e.suppressWarnings = 1;
        e.deleteTempVideo = e.deleteTempAudio = 0;
    }

    testsupport::TempDir dir_;
};

TEST_F(SystemJobTest, SystemStreamsAndVideoCdsDecodeToTheirLastByte) {
    struct Case {
        const char* name;
        int streamType;
        int useNewMux;
        testsupport::TestAvi avi;
    };
    const Case cases[] = {
        // Sound at 11.025 and 22.05 kHz is encoded at 44.1 kHz.
        {"job multiplexer", kStreamTypeMpeg1, 0, {96, 64, "25", 30, 11025, 2}},
        {"library system stream", kStreamTypeMpeg1, 1, {96, 64, "25", 30, 22050, 1}},
        {"Video-CD", kStreamTypeVideoCd, 1, {352, 288, "25", 30, 44100, 2}},
        {"job multiplexer", kStreamTypeMpeg1, 0, {96, 64, "25", 30, 22050, 1}},
        {"library system stream", kStreamTypeMpeg1, 1, {96, 64, "25", 30, 11025, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(Job(c.avi, dir_.path()));
        EncoderSettingsRecord& e = EncoderSettings;
        e.streamType = c.streamType;
        e.useNewMux = c.useNewMux;
        if (c.streamType == kStreamTypeVideoCd) {
            e.bitRate = 1150000.0;
            e.audioBitRate = 224;
        }
        // 224 kbit/s in stereo, 2,926-byte frames at 11.025 kHz; two packets in 4096-byte
        // packs, which the job's multiplexer writes and the library says it does not.
        e.audioBitRateIndex = 6;
        e.muxPackSize = 4096;
        e.muxPacketsPerPack = 2;
        platform::ScriptedMessageBoxes boxes;
        ASSERT_EQ(RunEncoding(nullptr), 1);
        ASSERT_EQ(JobResult, 0) << (boxes.Shown().empty() ? "" : boxes.Texts()[0]);
        const std::string shown = boxes.Shown().empty() ? "" : boxes.Texts().back();
        EXPECT_EQ(shown.find("applied: 2 packets per pack") != std::string::npos, c.useNewMux == 1) << shown;
        EXPECT_EQ(shown.find("4096 bytes (it writes 2048") != std::string::npos, c.useNewMux && c.streamType == 1) << shown;
        ExpectPlayableStream(e.outputFileName, e.tempVideoFileName, e.tempAudioFileName, c.avi.frames, 1.0 / 25,
                             1152.0 / 44100);
        EXPECT_EQ(jobcheck::Probe(e.outputFileName, "a").substr(0, 10), "mp2\n44100\n");
        if (c.streamType == kStreamTypeVideoCd) {
            EXPECT_EQ(fs::file_size(e.outputFileName) % 2324, 0u);
        }
    }
}

// A target disk that fills up while the stream is written, and one that is mounted
// read-only: the job fails with the real cause, and the user's earlier file stays.
TEST_F(SystemJobTest, AFullOrReadOnlyTargetFailsAndKeepsTheUsersFile) {
    for (bool readOnly : {false, true}) {
        SCOPED_TRACE(readOnly ? "read-only" : "full");
        fulldisk::SmallTmpfs disk;
        if (!disk.mounted()) GTEST_SKIP() << disk.reason();
        ASSERT_NO_FATAL_FAILURE(Job({96, 64, "25", 30, 44100, 2}, dir_.path()));
        EncoderSettingsRecord& e = EncoderSettings;
        e.streamType = kStreamTypeMpeg1;
        e.outputFileName = (disk / "out.mpg").string();
        const std::string earlier = "the user's earlier system stream";
        testsupport::WriteFile(e.outputFileName, earlier);
        if (readOnly) {
            ASSERT_EQ(::mount(nullptr, disk.root().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, "size=16k"), 0);
        }
        const std::string source = ReadFile(dir_ / "in.avi");
        platform::ScriptedMessageBoxes boxes;
        RunEncoding(nullptr);
        EXPECT_EQ(JobResult, -1);
        EXPECT_EQ(MultiplexDone, 0);
        std::string shown;
        for (const std::string& t : boxes.Texts()) shown += t + "\n";
        std::transform(shown.begin(), shown.end(), shown.begin(), [](char c) { return char(std::tolower(c)); });
        if (readOnly) {
            EXPECT_NE(shown.find("read-only file system"), std::string::npos) << shown;
        } else {
            EXPECT_NE(shown.find("cannot write"), std::string::npos) << shown;
        }
        EXPECT_EQ(ReadFile(e.outputFileName), earlier);
        EXPECT_EQ(ReadFile(dir_ / "in.avi"), source);
        // Nothing of the job's own is left on the disk.
        size_t files = 0;
        for (const auto& entry : fs::directory_iterator(disk.root())) files += entry.is_regular_file();
        EXPECT_EQ(files, 1u);
    }
}

// A picture of the AVI that cannot be decoded, read ahead on a worker thread: the
// job fails and the message carries the reader's reason, not only the frame number.
TEST_F(SystemJobTest, AFrameThatCannotBeReadFailsTheJobWithItsReason) {
    ASSERT_NO_FATAL_FAILURE(Job({96, 64, "25", 30, 44100, 2}, dir_.path()));
    EncoderSettingsRecord& e = EncoderSettings;
    e.streamType = kStreamTypeMpeg1;
    // The tenth picture's data zeroed in place: the file keeps its size and index.
    std::string avi = ReadFile(dir_ / "in.avi");
    size_t at = avi.find("movi");
    ASSERT_NE(at, std::string::npos);
    for (int picture = 0; picture < 10; ++picture) {
        at = avi.find("00dc", at + 4);
        ASSERT_NE(at, std::string::npos);
    }
    const uint32_t bytes = uint8_t(avi[at + 4]) | uint8_t(avi[at + 5]) << 8 | uint8_t(avi[at + 6]) << 16;
    std::fill(avi.begin() + long(at + 8), avi.begin() + long(at + 8 + bytes), '\0');
    testsupport::WriteFile(dir_ / "in.avi", avi);
    testsupport::WriteFile(e.outputFileName, "the user's earlier system stream");
    platform::ScriptedMessageBoxes boxes;
    RunEncoding(nullptr);
    EXPECT_EQ(JobResult, -1);
    std::string shown;
    for (const std::string& t : boxes.Texts()) shown += t + "\n";
    const size_t failed = shown.find("Failed to read frame 9 from AVI file: ");
    ASSERT_NE(failed, std::string::npos) << shown;
    EXPECT_GT(shown.find('\n', failed), failed + 38) << shown;
    EXPECT_EQ(ReadFile(e.outputFileName), "the user's earlier system stream");
}

// The job's multiplexer over 30 s streams of our encoder and of ffmpeg, constant and variable
// rate, at each pack layout of system streams: no unit late, no buffer overflowing.
TEST_F(SystemJobTest, ThirtySecondStreamsAreCleanAtEveryPackLayout) {
    const testsupport::TestAvi avi{352, 288, "25", 750, 44100, 2};
    ASSERT_EQ(testsupport::MakeTestAvi(dir_ / "in.avi", avi), 0);
    std::vector<std::string> videos;
    for (int rateControl : {kRateConstant, kRateVariable}) {
        ASSERT_NO_FATAL_FAILURE(testsupport::AviJobSettings(dir_ / "in.avi", avi, 3, dir_.path(), videos.empty() ? "c" : "v"));
        EncoderSettings.deleteTempVideo = EncoderSettings.deleteTempAudio = 0;
        EncoderSettings.rateControl = rateControl;
        EncoderSettings.bitRate = 1150000.0;
        EncoderSettings.audioBitRateIndex = 6;  // 224 kbit/s
        platform::ScriptedMessageBoxes boxes;
        RunEncoding(nullptr);
        videos.push_back(EncoderSettings.tempVideoFileName);
    }
    for (const char* rate : {"-b:v 1150k -minrate 1150k -maxrate 1150k", "-q:v 5 -maxrate 2000k"}) {
        videos.push_back((dir_ / (std::to_string(videos.size()) + ".m1v")).string());
        ASSERT_EQ(RunCommand("ffmpeg -v error -f lavfi -i testsrc2=size=352x288:rate=25 -t 30 -c:v mpeg1video -bufsize 327680 "
                             "-g 12 -bf 2 " + std::string(rate) + " '" + videos.back() + "'"), 0);
    }
    for (int i = 0; i < 48; ++i) {  // stream, constant rate, packets per pack, pack size
        const int pack = i % 2 ? 2324 : 2048, packets = i / 2 % 3 + 1;
        EncoderSettings.muxConstantRate = i / 6 % 2;
        ASSERT_EQ(MultiplexMpeg1SystemStream(EncoderSettings.tempAudioFileName, videos[i / 12], dir_ / "out.mpg", pack,
                                             packets, 4, 46), 0) << i << " " << MuxMessageText;
        const streamcheck::Report check = streamcheck::CheckSystemStreamFile(dir_ / "out.mpg");
        EXPECT_TRUE(check.Ok()) << i << " " << check.Summary();
    }
}

// AVIs whose picture, sound or both start 0.2 s late by their stream headers: the tone's onset
// against the white picture is that of the AVI's own time line (0 when both start together).
// Sound that starts only after the video's end, or after the last picture encoded, is no
// silent success: the probe names it and the video is encoded alone, or Start refuses the job.
TEST_F(SystemJobTest, StreamsThatStartLateKeepTheirPlaceAgainstEachOther) {
    const std::string avi = (dir_ / "in.avi").string();
    ASSERT_EQ(RunCommand("ffmpeg -v error -f lavfi -i \"color=black:s=96x64:r=25:d=2,drawbox=c=white:t=fill:enable='gte(t,1)'"
                         "\" -f lavfi -i \"aevalsrc='if(gte(t,1),0.5*sin(2*PI*440*t),0)':s=44100:d=2:c=stereo\" -c:v mjpeg "
                         "-c:a pcm_s16le '" + avi + "'"), 0);
    const std::string original = ReadFile(avi);
    struct Row {
        int pictures, samples, frames;
    };
    for (const Row& r : {Row{0, 0, 50}, Row{5, 0, 50}, Row{0, 8820, 50}, Row{5, 8820, 50}, Row{0, 88200, 50},
                         Row{0, 44100, 20}}) {
        SCOPED_TRACE(std::to_string(r.pictures) + " " + std::to_string(r.samples) + " " + std::to_string(r.frames));
        std::string file = original;
        for (size_t at = file.find("strh"); at != std::string::npos; at = file.find("strh", at + 4))
            for (int i = 0; i < 4; ++i)  // dwStart
                file[at + 36 + i] = static_cast<char>((file.compare(at + 8, 4, "vids") ? r.samples : r.pictures) >> (8 * i));
        testsupport::WriteFile(avi, file);
        std::filesystem::remove(dir_ / "out.mpg");
        const bool afterVideo = r.samples / 44100.0 >= 2.0;
        platform::ScriptedMessageBoxes boxes;
        ASSERT_NO_FATAL_FAILURE(testsupport::AviJobSettings(avi, {96, 64, "25", 50, afterVideo ? 0 : 44100, 2}, 3, dir_.path()));
        EncoderSettings.encodeAudio = 1;
        EncoderSettings.framesToEncode = r.frames;
        EXPECT_EQ(RunEncoding(nullptr), r.frames < 50 ? 0 : 1);  // sound after the range is refused at Start
        std::string shown;
        for (const std::string& t : boxes.Texts()) shown += t + "\n";
        if (afterVideo) {
            ASSERT_FALSE(boxes.Texts().empty());
            EXPECT_EQ(boxes.Texts()[0], LoadResString(64391));
            EXPECT_NE(shown.find("Only the video stream was encoded."), std::string::npos) << shown;
            EXPECT_EQ(JobResult, 0);
            EXPECT_FALSE(std::filesystem::exists(dir_ / "out.mpg"));
            EXPECT_TRUE(std::filesystem::exists(dir_ / "out.m1v"));
            continue;
        }
        if (r.frames < 50) {
            EXPECT_EQ(JobResult, -1);
            EXPECT_NE(shown.find("lies outside the encoded range:\nit starts at 1.00 s, after the last picture "
                                 "encoded (0.80 s)"), std::string::npos) << shown;
            EXPECT_FALSE(std::filesystem::exists(dir_ / "out.mpg"));
            continue;
        }
        ASSERT_EQ(JobResult, 0);
        std::string log;
        RunCommand("ffmpeg -nostats -i '" + EncoderSettings.outputFileName +
                   "' -af silencedetect=d=0.1 -vf blackdetect=d=0.1 -f null - 2>&1", &log);
        auto at = [&log](const std::string& key) {
            return log.find(key) == std::string::npos ? NAN : std::atof(log.c_str() + log.find(key) + key.size()); };
        const double onset = at("silence_end: ") - at("black_end:");
        EXPECT_NEAR(onset, r.samples / 44100.0 - r.pictures / 25.0, 1152.0 / 44100);
    }
}

}  // namespace
