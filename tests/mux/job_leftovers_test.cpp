// Whole MPEG-1 jobs that cannot end well: an output folder that cannot take the
// output and multiplexer settings that would deliver the audio late fail before
// the video pass; video that needs more buffer than the system stream has fails at
// the multiplex; a job killed in any pass leaves work files that the next job
// removes, and the user's earlier output is never touched; a second job on the
// temporary streams of a running one does not start.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "job/JobDriver.h"
#include "mux/MuxInterfaces.h"
#include "platform/MessageBox.h"
#include "platform/System.h"
#include "settings/EncoderSettings.h"
#include "settings/JobState.h"
#include "settings/RunState.h"
#include "tests/platform/FullDisk.h"
#include "tests/support/JobTestSupport.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;
using testsupport::ReadFile;

namespace {

class JobLeftoversTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(InitEncoderLibrary(), 1); }

    void SetUp() override {
        if (!testsupport::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is needed";
        testsupport::ResetJobHooks();
        fs::create_directories(tmp_);
        setenv("TMPDIR", tmp_.c_str(), 1);
        ASSERT_EQ(testsupport::MakeTestAvi(dir_ / "in.avi", {96, 64, "25", 40, 44100, 2}), 0);
        ASSERT_NO_FATAL_FAILURE(testsupport::AviJobSettings(dir_ / "in.avi", {96, 64, "25", 40, 44100, 2}, 3, dir_.path()));
        EncoderSettingsRecord& e = EncoderSettings;
        e.streamType = kStreamTypeMpeg1;
        e.suppressWarnings = 1;
        e.deleteTempVideo = e.deleteTempAudio = 1;
        testsupport::WriteFile(e.outputFileName, earlier_);
    }
    void TearDown() override { unsetenv("TMPDIR"); }

    // Names in the job's folder and the temporary folder that carry `marker`.
    std::vector<std::string> FilesWith(const std::string& marker) const {
        std::vector<std::string> names;
        for (const fs::path& folder : {dir_.path(), tmp_})
            for (const auto& entry : fs::directory_iterator(folder))
                if (entry.path().filename().string().find(marker) != std::string::npos)
                    names.push_back(entry.path().filename().string());
        return names;
    }

    testsupport::TempDir dir_;
    fs::path tmp_ = dir_ / "tmp";
    const std::string earlier_ = "the user's earlier system stream";
};

TEST_F(JobLeftoversTest, UnusableFoldersAndLateDeliveringSettingsFailBeforeTheVideoPass) {
    struct Case {
        const char* name;
        std::string expected;  // in the message, lower case
    };
    fulldisk::SmallTmpfs disk;
    for (const Case& c : {Case{"missing folder", "can't create output file"}, Case{"read-only folder", "read-only"},
                          Case{"4096-byte packs, 4 kb audio buffer", "would deliver the streams late"},
                          // Measured: 9.8 + 0.128 Mbit/s left 20552 of 23250 pictures of a 15-minute title late.
                          Case{"DVD volume at 9800 Kbits/sec. with 128 kbit/s sound", "the video bit rate of 9800 kbits/sec."},
                          Case{"SVCD at 6000 Kbits/sec. with 128 kbit/s sound", "the video bit rate of 6000 kbits/sec."},
                          // Measured: 238 pictures of a Video-CD at 1800 Kbits/sec. came late, after the encode.
                          Case{"Video-CD at 1800 Kbits/sec. with 224 kbit/s sound", "the video-cd rate carries"},
                          // Measured: a 15 Mbit/s peak left 245 access units late, after the encode.
                          Case{"DVD volume at a variable rate of 15000 Kbits/sec. at most", "maximum video bit rate of 15000"},
                          Case{"SVCD at 2000 Kbits/sec. of 100 minutes", "longer than its scan information can address"}}) {
        SCOPED_TRACE(c.name);
        EncoderSettingsRecord& e = EncoderSettings;
        const std::string name(c.name);
        const bool length = name.find("minutes") != std::string::npos, disc = std::strchr("DSV", name[0]) != nullptr;
        e.outputFileName = (dir_ / "out.mpg").string();
        e.muxPackSize = 2048;
        if (name == "missing folder") e.outputFileName = (dir_ / "missing" / "out.mpg").string();
        if (name == "read-only folder") {
            if (!disk.mounted()) continue;
            ASSERT_EQ(::mount(nullptr, disk.root().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, "size=16k"), 0);
            e.outputFileName = (disk / "out.mpg").string();
        }
        if (name[0] == '4') e.muxPackSize = 4096;
        if (name[0] == 'D' || name[0] == 'S') {
            e.mpeg1 = 0;
            e.streamType = kStreamTypeMpeg2;
            e.applicationType = name[0] == 'D' ? kApplicationDvd : kApplicationSvcd;
            e.createVob = name[0] == 'D';
            e.bitRate = (name[0] == 'D' ? 9800 : 6000) * 1024.0;
            e.rateControl = name.find("variable") != std::string::npos ? kRateVariable : kRateConstant;
            e.maxBitRate = 15000 * 1024.0;
            if (length) e.bitRate = 2000 * 1024.0, e.framesToEncode = 100 * 60 * 25;
        }
        if (name[0] == 'V') {
            e.streamType = kStreamTypeVideoCd;
            e.applicationType = kApplicationVcd20;
            e.audioBitRateIndex = 6;  // 224 kbit/s
            e.bitRate = 1800 * 1024.0;
        }
        platform::ScriptedMessageBoxes boxes;
        RunEncoding(nullptr);
        EXPECT_EQ(JobResult, -1);
        std::string shown;
        for (const std::string& t : boxes.Texts()) shown += t + "\n";
        for (char& ch : shown) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        EXPECT_NE(shown.find(c.expected), std::string::npos) << shown;
        // No video pass ran: nothing of the job's own was written.
        EXPECT_FALSE(fs::exists(e.tempVideoFileName));
        EXPECT_EQ(ReadFile(dir_ / "out.mpg"), earlier_);
        if (length) e.framesToEncode = std::stoi(shown.substr(shown.rfind("encode ") + 7));
        if (disc && !length) e.bitRate = e.maxBitRate = std::stoi(shown.substr(shown.rfind("to ") + 3)) * 1024.0;
        EXPECT_EQ(disc ? DiscRateRefusal() + SvcdLengthRefusal() : std::string(), "");  // the figure offered is taken
        e.createVob = 0;
    }
}

// Video whose 224 KiB buffer the pictures really use, at 600 kbit/s with vbv_delay
// 0xFFFF, against the system stream's 46 KiB: whether pictures come late depends on
// what the encoder made of the pictures, so the multiplex finds it and fails, naming
// the stream, the count and the lateness; the coded streams and the earlier output stay.
TEST_F(JobLeftoversTest, VideoNeedingMoreThanTheSystemBufferFailsAtTheMultiplexAndKeepsItsStreams) {
    const std::string avi = (dir_ / "noise.avi").string();
    ASSERT_EQ(testsupport::RunCommand("ffmpeg -v error -y -f lavfi -i testsrc2=size=352x288:rate=25:duration=3.98 -f lavfi "
                                      "-i sine=frequency=440:sample_rate=44100:duration=4 -ac 2 -vf noise=alls=60:allf=t "
                                      "-c:v mjpeg -q:v 3 -c:a pcm_s16le '" + avi + "'"),
              0);
    // The job's own MPEG-1 multiplexer and the library.
    for (int library : {0, 1}) {
        SCOPED_TRACE(library);
        ASSERT_NO_FATAL_FAILURE(testsupport::AviJobSettings(avi, {352, 288, "25", 100, 44100, 2}, 3, dir_.path()));
        EncoderSettingsRecord& e = EncoderSettings;
        e.streamType = kStreamTypeMpeg1;
        e.useNewMux = library;
        e.suppressWarnings = 1;
        e.deleteTempVideo = e.deleteTempAudio = 1;
        e.constrainedParameters = 0;
        e.rateControl = kRateVariable;
        e.vbrMode = kVbrConstantQuant;
        e.constantQuantScale = 8;
        e.bitRate = e.maxBitRate = 600000.0;
        fs::remove(e.tempVideoFileName);
        fs::remove(e.tempAudioFileName);
        platform::ScriptedMessageBoxes boxes;
        RunEncoding(nullptr);
        EXPECT_EQ(JobResult, -1);
        EXPECT_EQ(e.vbvBufferSize, 112);
        std::string shown;
        for (const std::string& t : boxes.Texts()) shown += t + "\n";
        EXPECT_NE(shown.find("video stream: "), std::string::npos) << shown;
        EXPECT_NE(shown.find("access units would reach the decoder late, by up to "), std::string::npos) << shown;
        EXPECT_GT(fs::file_size(e.tempVideoFileName), 0u);
        EXPECT_GT(fs::file_size(e.tempAudioFileName), 0u);
        EXPECT_EQ(ReadFile(e.outputFileName), earlier_);
    }
}

// The user's files and folders named like work files, beside the outputs and in the
// temporary folder, even with this process's number or a killed job's, survive a
// job that keeps a failed output, a stopped job, jobs killed in each pass and the
// next job, byte for byte; the killed jobs' own work files are gone after it, and
// the work file of a job still running in another process stays.
TEST_F(JobLeftoversTest, AJobKilledInEachPassLeavesNoWorkFileAfterTheNextRun) {
    EncoderSettingsRecord& e = EncoderSettings;
    std::map<fs::path, std::string> users;
    auto place = [&](const std::string& name, bool folder) {
        for (const fs::path& dir : {dir_.path(), tmp_}) {
            const fs::path at = dir / name;
            if (folder) fs::create_directory(at);
            for (const fs::path& file : folder ? std::vector<fs::path>{at / "a.jpg", at / "b.jpg"} : std::vector{at}) {
                users[file] = "the user's " + file.string();
                testsupport::WriteFile(file, users[file]);
            }
        }
    };
    for (const std::string& name : {std::string("x.tmp-3999999-abcdef"), std::string("report.tmp-12-backup"),
                                    "mine.tmp-" + std::to_string(getpid()) + "-abcdef",
                                    "out.mpg.tmp-" + std::to_string(getppid()) + "-AbCdEf"})
        place(name, false);
    place("holiday.tmp-3999999-photos", true);
    auto workFilesOf = [&](pid_t pid) {
        std::vector<std::string> own;
        for (const std::string& name : FilesWith(".tmp-" + std::to_string(pid) + "-"))
            if (!users.count(dir_ / name) && !users.count(tmp_ / name)) own.push_back(name);
        return own;
    };

    // Streams whose multiplex comes out smaller than they are, or more than twice as large
    // (padded out at a forced mux rate): the user keeps it, and finds it beside the earlier
    // output under the name the message gives.
    {
        platform::ScriptedMessageBoxes boxes;
        e.outputFileName = (dir_ / "streams.mpg").string();
        e.useNewMux = 0;  // the compact multiplexer reads the video up to its end code
        e.deleteTempVideo = e.deleteTempAudio = 0;
        RunEncoding(nullptr);
        ASSERT_EQ(JobResult, 0);
        fs::remove(e.outputFileName);
        e.outputFileName = (dir_ / "out.mpg").string();
        const std::string video = ReadFile(e.tempVideoFileName);
        for (const std::string kept : {"out_2.mpg", "out_3.mpg"}) {
            const bool tooLarge = kept == "out_3.mpg";
            testsupport::WriteFile(e.tempVideoFileName, tooLarge ? video : video + std::string(3000000, '\0'));
            e.muxConstantRate = tooLarge;
            e.muxBitRate = tooLarge ? 40000000 : 0;
            for (platform::MbAnswer a : {platform::MbAnswer::No, platform::MbAnswer::No, platform::MbAnswer::Ok,
                                         platform::MbAnswer::No})
                boxes.Answer(a);
            boxes.Clear();
            RunEncoding(nullptr);
            EXPECT_EQ(JobResult, -1);
            ASSERT_EQ(boxes.Texts().size(), 5u) << testing::PrintToString(boxes.Texts());
            EXPECT_EQ(boxes.Texts()[2].find("too large") != std::string::npos, tooLarge) << boxes.Texts()[2];
            EXPECT_EQ(boxes.Texts()[4], "The new output was kept as\n" + (dir_ / kept).string());
            EXPECT_EQ(ReadFile(dir_ / "out.mpg"), earlier_);
            users[dir_ / kept] = ReadFile(dir_ / kept);
        }
        e.muxConstantRate = e.muxBitRate = 0;
        fs::remove(e.tempVideoFileName);
        fs::remove(e.tempAudioFileName);
        e.deleteTempVideo = e.deleteTempAudio = 1;
    }
    // A job stopped in its video pass.
    {
        MessagePumpHooks hooks;
        hooks.updateVideoProgress = [] { RequestStopEncoding(); };
        SetMessagePumpHooks(hooks);
        platform::ScriptedMessageBoxes boxes;
        RunEncoding(nullptr);
        SetMessagePumpHooks({});
        EXPECT_EQ(JobResult, -1);
    }

    enum Pass { Video, Audio, Multiplex };
    std::vector<pid_t> killed;
    for (Pass pass : {Video, Audio, Multiplex}) {
        SCOPED_TRACE(pass);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            MessagePumpHooks hooks;
            hooks.updateVideoProgress = [pass] {
                if (pass == Video) raise(SIGKILL);
            };
            hooks.dispatchMessages = [pass](int, bool*) {
                if ((pass == Audio && AudioPassActive) || (pass == Multiplex && MultiplexActive)) raise(SIGKILL);
                return 0;
            };
            SetMessagePumpHooks(hooks);
            RunEncoding(nullptr);
            _exit(3);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
        killed.push_back(child);
        // The killed job left its work files, and the user's output as it was.
        EXPECT_FALSE(workFilesOf(child).empty());
        place("clip.tmp-" + std::to_string(child) + "-abcdef", false);
        EXPECT_EQ(ReadFile(dir_ / "out.mpg"), earlier_);
        // The passes before the killed one had finished their streams.
        EXPECT_EQ(fs::exists(dir_ / "tmp.m1v"), pass != Video);
        EXPECT_EQ(fs::exists(dir_ / "tmp.mp2"), pass == Multiplex);
    }
    // A job in another process that still runs, with its work file beside the output.
    int toChild[2], fromChild[2];
    ASSERT_EQ(pipe(toChild), 0);
    ASSERT_EQ(pipe(fromChild), 0);
    const pid_t running = fork();
    if (running == 0) {
        close(toChild[1]);
        const std::string work = platform::CreateFileBeside((dir_ / "out.mpg").string(), nullptr);
        char c = 0;
        if (write(fromChild[1], work.data(), work.size()) < 0 || read(toChild[0], &c, 1) < 0) _exit(1);
        _exit(0);
    }
    close(fromChild[1]);
    close(toChild[0]);
    char name[4096] = {};
    ASSERT_GT(read(fromChild[0], name, sizeof name - 1), 0);

    platform::ScriptedMessageBoxes boxes;
    RunEncoding(nullptr);
    EXPECT_EQ(JobResult, 0);
    for (pid_t pid : killed) EXPECT_EQ(workFilesOf(pid), std::vector<std::string>());
    EXPECT_TRUE(fs::exists(name));
    close(toChild[1]);
    waitpid(running, nullptr, 0);
    for (const auto& [path, bytes] : users) EXPECT_EQ(ReadFile(path), bytes) << path;
    EXPECT_GT(fs::file_size(dir_ / "out.mpg"), 10000u);
}

// Two jobs with settings folders of their own (two accounts) run with the same temporary
// streams: while the first is in its sound pass, its video stream already under the
// shared name, the second is refused at Start with that name, and the first multiplexes
// its own pictures; once it has ended, the names are free for the second.
TEST_F(JobLeftoversTest, ASecondJobOnTheTemporaryNamesOfARunningOneIsRefusedAtStart) {
    EncoderSettingsRecord& e = EncoderSettings;
    const fs::path bars = dir_ / "bars.avi";
    ASSERT_EQ(testsupport::RunCommand("ffmpeg -v error -y -f lavfi -i smptebars=size=96x64:rate=25:duration=1.58 "
                                      "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=1.6 -ac 2 "
                                      "-c:v mjpeg -q:v 3 -c:a pcm_s16le '" + bars.string() + "'"),
              0);
    int toFirst[2], fromFirst[2];
    ASSERT_EQ(pipe(toFirst), 0);
    ASSERT_EQ(pipe(fromFirst), 0);
    const pid_t first = fork();
    ASSERT_GE(first, 0);
    if (first == 0) {
        setenv("TESSMAR_CONFIG_DIR", (dir_ / "first-config").c_str(), 1);
        e.outputFileName = (dir_ / "first.mpg").string();
        MessagePumpHooks hooks;
        hooks.dispatchMessages = [&](int, bool*) {
            static bool waited = false;
            char c = 0;
            if (AudioPassActive && !waited && (waited = true))
                if (write(fromFirst[1], "a", 1) != 1 || read(toFirst[0], &c, 1) != 1) _exit(2);
            return 0;
        };
        SetMessagePumpHooks(hooks);
        platform::ScriptedMessageBoxes boxes;
        RunEncoding(nullptr);
        _exit(JobResult == 0 ? 0 : 1);
    }
    char c = 0;
    ASSERT_EQ(read(fromFirst[0], &c, 1), 1);
    ASSERT_NO_FATAL_FAILURE(testsupport::AviJobSettings(bars, {96, 64, "25", 40, 44100, 2}, 3, dir_.path()));
    e.outputFileName = (dir_ / "second.mpg").string();
    {
        platform::ScriptedMessageBoxes boxes;
        EXPECT_EQ(RunEncoding(nullptr), 0);
        ASSERT_EQ(boxes.Texts().size(), 1u) << testing::PrintToString(boxes.Texts());
        EXPECT_EQ(boxes.Texts()[0].rfind("The temporary file\n" + e.tempVideoFileName + "\nis in use", 0), 0u)
            << boxes.Texts()[0];
        EXPECT_FALSE(fs::exists(e.outputFileName));
    }
    ASSERT_EQ(write(toFirst[1], "g", 1), 1);
    int status = -1;
    ASSERT_EQ(waitpid(first, &status, 0), first);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    {
        platform::ScriptedMessageBoxes boxes;
        EXPECT_EQ(RunEncoding(nullptr), 1);
        EXPECT_EQ(JobResult, 0) << testing::PrintToString(boxes.Texts());
    }
    // Each output's pictures are those of its own input, as ffmpeg decodes them (measured:
    // 1.3 and 0.7 grey levels from their own input on average, 81 from the other).
    auto picture = [](const fs::path& file) {
        std::string gray;
        testsupport::RunCommand("ffmpeg -v error -i '" + file.string() +
                                    "' -vf 'select=eq(n\\,20)' -frames:v 1 -f rawvideo -pix_fmt gray -",
                                &gray);
        return std::vector<uint8_t>(gray.begin(), gray.end());
    };
    const std::vector<uint8_t> sources[2] = {picture(dir_ / "in.avi"), picture(bars)};
    for (int job : {0, 1}) {
        const std::vector<uint8_t> decoded = picture(dir_ / (job == 0 ? "first.mpg" : "second.mpg"));
        ASSERT_EQ(decoded.size(), sources[job].size()) << job;
        double own = 0, other = 0;
        for (size_t i = 0; i < decoded.size(); ++i) {
            own += std::abs(decoded[i] - sources[job][i]);
            other += std::abs(decoded[i] - sources[1 - job][i]);
        }
        EXPECT_LT(own / decoded.size(), 8.0) << job;
        EXPECT_GT(other / decoded.size(), 30.0) << job;
    }
    // Both ended well: neither left a work record or a lock.
    for (const char* config : {"config", "first-config"}) EXPECT_FALSE(fs::exists(dir_ / config / "work-files"));
    EXPECT_EQ(FilesWith(".lock"), std::vector<std::string>());
}

// A stream replaced at its name after its pass, before or while the streams are multiplexed (a job
// of another computer sharing the folder, where no lock reaches), fails the job naming it; that
// file and the earlier output stay. A settings folder that cannot take the work record (read-only,
// or HOME's fallback in a read-only folder) or a file system without locks stops no job: it runs,
// and says once what it goes without, naming the folder or file and the reason.
TEST_F(JobLeftoversTest, AReplacedStreamFailsTheJobAndNoWorkRecordOrLockStopsIt) {
    EncoderSettingsRecord& e = EncoderSettings;
    const std::string config = getenv("TESSMAR_CONFIG_DIR"), home = getenv("HOME") ? getenv("HOME") : "/root";
    const std::string stream = e.tempVideoFileName, rofs = ":\nRead-only file system.",
                      notOurs = "The temporary file\n" + stream + "\nis no longer the stream this job wrote";
    fulldisk::SmallTmpfs disk;
    const bool readOnly = disk.mounted() && !::mount(nullptr, disk.root().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, "");
    for (const auto& [row, expected] : std::vector<std::pair<std::string, std::string>>{
             {"stream replaced after its pass", notOurs}, {"stream replaced while multiplexed", notOurs},
             {"read-only settings folder", (disk / "work-files").string() + rofs},
             {"HOME unset in a read-only folder", (disk / ".config" / "tessmar" / "work-files").string() + rofs},
             {"no lock service", stream + ".lock\ncannot be locked (No locks available)"}}) {
        SCOPED_TRACE(row);
        const bool replace = row[0] == 's';
        if ((row[0] == 'r' || row[0] == 'H') && !readOnly) continue;
        if (row[0] == 'n') platform::FileLockCall = [](int, int) { return errno = ENOLCK, -1; };
        if (row[0] == 'r') setenv("TESSMAR_CONFIG_DIR", disk.root().c_str(), 1);
        if (row[0] == 'H') unsetenv("TESSMAR_CONFIG_DIR"), unsetenv("HOME");
        ASSERT_EQ(chdir((row[0] == 'H' ? disk.root() : dir_.path()).c_str()), 0);
        std::string other;  // the other job's stream, once put in place
        SetMessagePumpHooks({[&](int, bool*) {
            if (replace && (row.back() == 'd' ? MultiplexActive : AudioPassActive) && other.empty()) {
                other = ReadFile(stream) + "another job's stream";
                testsupport::WriteFile(stream + ".new", other);
                fs::rename(stream + ".new", stream);
            }
            return 0;
        }, {}, {}, {}, {}, {}});
        platform::ScriptedMessageBoxes boxes;
        RunEncoding(nullptr);
        SetMessagePumpHooks({}), platform::FileLockCall = ::flock;
        setenv("TESSMAR_CONFIG_DIR", config.c_str(), 1), setenv("HOME", home.c_str(), 1);
        ASSERT_EQ(chdir(dir_.path().c_str()), 0);
        EXPECT_EQ(JobResult, replace ? -1 : 0);
        ASSERT_EQ(!other.empty(), replace);
        ASSERT_EQ(boxes.Texts().size(), 1u) << testing::PrintToString(boxes.Texts());
        EXPECT_NE(boxes.Texts()[0].find(expected), std::string::npos) << boxes.Texts()[0];
        EXPECT_EQ(ReadFile(stream), other);  // and the job's own stream went after a success
        EXPECT_TRUE(replace ? ReadFile(e.outputFileName) == earlier_ : fs::file_size(e.outputFileName) > 10000u);
        EXPECT_EQ(FilesWith(".tmp-"), std::vector<std::string>());
        fs::remove(stream), fs::remove(e.tempAudioFileName);
    }
}

// A profile of stream type 5 names a transport stream, which the job does not write:
// the stream gets the name of its kind, beside the user's files, and the user is told.
TEST_F(JobLeftoversTest, AnOutputNamedAsATransportStreamGetsTheNameOfWhatIsWritten) {
    EncoderSettings.outputFileName = (dir_ / "out.ts").string();
    testsupport::WriteFile(dir_ / "out.ts.mpg", "the user's other stream");
    platform::ScriptedMessageBoxes boxes;
    RunEncoding(nullptr);
    EXPECT_EQ(JobResult, 0);
    EXPECT_FALSE(fs::exists(dir_ / "out.ts"));
    EXPECT_EQ(ReadFile(dir_ / "out.mpg"), earlier_);
    EXPECT_EQ(ReadFile(dir_ / "out.ts.mpg"), "the user's other stream");
    ASSERT_TRUE(fs::exists(dir_ / "out.ts_2.mpg"));
    std::string format;
    testsupport::RunCommand("ffprobe -v error -show_entries format=format_name -of csv=p=0 '" +
                                (dir_ / "out.ts_2.mpg").string() + "'",
                            &format);
    EXPECT_EQ(format, "mpeg\n");
    std::string shown;
    for (const std::string& t : boxes.Texts()) shown += t + "\n";
    EXPECT_NE(shown.find("written as an MPEG-1 system stream"), std::string::npos) << shown;
    EXPECT_NE(shown.find((dir_ / "out.ts_2.mpg").string()), std::string::npos) << shown;
}

// An AVI cut in the middle of its pictures: the frames it still holds are encoded,
// and the user is told how many of the frames its headers name those were.
TEST_F(JobLeftoversTest, ACutAviSaysHowManyOfItsFramesWereRead) {
    const std::string avi = ReadFile(dir_ / "in.avi");
    testsupport::WriteFile(dir_ / "cut.avi", avi.substr(0, avi.size() / 2));
    EncoderSettingsRecord& e = EncoderSettings;
    e.inputFileName = (dir_ / "cut.avi").string();
    AviInfoTexts info;
    ASSERT_EQ(ProbeAviInputFile(e.inputFileName, &info), 1);
    e.framesToEncode = InputEndFrame - InputFirstFrame;
    ASSERT_GT(e.framesToEncode, 5);
    ASSERT_LT(e.framesToEncode, 40);
    platform::ScriptedMessageBoxes boxes;
    RunEncoding(nullptr);
    EXPECT_EQ(JobResult, 0);
    std::string shown;
    for (const std::string& t : boxes.Texts()) shown += t + "\n";
    EXPECT_NE(shown.find(std::to_string(e.framesToEncode) + " of the 40 frames"), std::string::npos) << shown;
}

}  // namespace
