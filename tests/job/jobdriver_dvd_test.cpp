// DVD jobs through RunEncoding: an AVI with PCM audio becomes a VIDEO_TS folder
// that libdvdread, lsdvd and ffmpeg read, about the size of its streams; the
// user's files survive every end of a job, a kill included.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <thread>

#include "engine/EngineState.h"
#include "job/DvdOutput.h"
#include "job/JobDriver.h"
#include "job/JobMessages.h"
#include "job/Profile.h"
#include "job/RunningJob.h"
#include "mux/Mplex.h"
#include "platform/Ini.h"
#include "platform/MessageBox.h"
#include "settings/EncoderSettings.h"
#include "settings/JobState.h"
#include "settings/JobUtil.h"
#include "settings/Preview.h"
#include "settings/Report.h"
#include "settings/RunState.h"
#include "tests/platform/FullDisk.h"
#include "tests/support/DvdFolderCheck.h"
#include "tests/support/JobTestSupport.h"
#include "tests/support/SystemStreamCheck.h"
#include "tests/support/TestSupport.h"

extern char** environ;

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::TempDir;

namespace {

constexpr char DvdCreated[] = "DVD Volume structure created";

struct DvdCase {
    const char* name;
    bool pal;
    double mbps;
    bool variable;
    int frames;
    uint64_t splitBytes;  // 0: one VOB
    int sampleRate;
};

// Settings of a DVD job on an AVI made by ffmpeg, into folder/title.vob.
void DvdJobIn(const fs::path& folder, const DvdCase& c, int width = 720) {
    const int height = c.pal ? 576 : 480;
    const testsupport::TestAvi avi{width, height, c.pal ? "25" : "30000/1001", c.frames, c.sampleRate, 2};
    ASSERT_EQ(testsupport::MakeTestAvi(folder / "in.avi", avi), 0);
    ASSERT_NO_FATAL_FAILURE(testsupport::AviJobSettings(folder / "in.avi", avi, c.pal ? 3 : 4, folder, "m2v"));
    EncoderSettingsRecord& e = EncoderSettings;
    e.suppressWarnings = 1;
    e.mpeg1 = 0;
    e.streamType = kStreamTypeMpeg2;
    e.applicationType = kApplicationDvd;
    e.createVob = 1;
    e.videoFormat = c.pal ? 1 : 2;
    e.mpeg2AspectRatio = 2;
    e.bitRate = c.mbps * 1e6;
    if (c.variable) {
        e.rateControl = kRateVariable;
        e.averageBitRate = c.mbps * 1e6;
        e.maxBitRate = 8000000.0;
    }
    e.audioBitRate = 224;
    e.outputFileName = (folder / "title.vob").string();
    e.deleteTempVideo = e.deleteTempAudio = 0;
    // Video object files as small as the case asks for, through the program's INI file.
    const fs::path ini = platform::ConfigFile("ROZARAZ2.INI");
    fs::create_directories(ini.parent_path());
    ASSERT_TRUE(platform::IniWriteString("ZRN-MPEG", "DVD_VOB_Split_Bytes", std::to_string(c.splitBytes), ini));
}

void StartJobHooks() {
    testsupport::ResetJobHooks();
    JobWindows.getMainTitle = [] { return std::string("Tessmar"); };
    JobWindows.setMainTitle = [](const std::string&) {};
}

// Every file under `folder` but the job's input and temporary streams, with its bytes.
std::map<std::string, std::string> UsersFiles(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const std::string name = fs::relative(entry.path(), folder).string();
        // The job's inputs, streams and their locks, a killed job's work files and the settings folder.
        if (name == "in.avi" || name.rfind("tmp.m", 0) == 0 || name.find(".tmp-") != std::string::npos ||
            name.rfind("config", 0) == 0)
            continue;
        files[name] = entry.is_regular_file() ? ReadFile(entry.path()) : std::string("<folder>");
    }
    return files;
}

size_t VobCount(const fs::path& folder) {
    size_t n = 0;
    while (fs::exists(folder / "VIDEO_TS" / ("VTS_01_" + std::to_string(n + 1) + ".VOB"))) ++n;
    return n;
}

class DvdJobTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(InitEncoderLibrary(), 1); }

    void SetUp() override {
        for (const char* tool : {"ffmpeg", "ffprobe", "lsdvd"})
            if (!testsupport::HaveTool(tool)) GTEST_SKIP() << tool << " is not installed";
        StartJobHooks();
    }
    void TearDown() override {
        SetMessagePumpHooks({});
    }

    // A user's file at the output name and a longer title, split over several VOBs, in VIDEO_TS.
    void UsersFolder() {
        ASSERT_NO_FATAL_FAILURE(DvdJobIn(dir_.path(), {"old", true, 6, false, 50, 300000, 48000}));
        platform::ScriptedMessageBoxes boxes;
        ASSERT_EQ(RunEncoding(nullptr), 1);
        ASSERT_EQ(JobResult, 0) << testing::PrintToString(boxes.Texts());
        ASSERT_GE(VobCount(dir_.path()), 3u);
        testsupport::WriteFile(dir_ / "title.vob", "the user's earlier movie");
    }

    TempDir dir_;
};

class DvdWholeJob : public DvdJobTest, public ::testing::WithParamInterface<DvdCase> {};

// Whole jobs at several rates: the volume passes libdvdread, lsdvd and ffmpeg, the
// decoder-buffer check finds no late unit and no overflow, and the title is about
// the size of its streams (no padding to a constant rate).
TEST_P(DvdWholeJob, VolumeIsReadableAndTheSizeOfItsStreams) {
    const DvdCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(DvdJobIn(dir_.path(), c));
    platform::ScriptedMessageBoxes boxes;
    ASSERT_EQ(RunEncoding(nullptr), 1);
    ASSERT_EQ(JobResult, 0) << testing::PrintToString(boxes.Texts());
    EXPECT_EQ(MultiplexDone, 1);
    // The success box comes last, after the checks; the job names the title's first VOB.
    ASSERT_FALSE(boxes.Texts().empty());
    EXPECT_EQ(boxes.Texts().back().rfind(DvdCreated, 0), 0u) << testing::PrintToString(boxes.Texts());
    // The box names the folders written.
    const std::string videoTs = (dir_ / "VIDEO_TS").string();
    EXPECT_NE(boxes.Texts().back().find("\n" + videoTs + "\n" + (dir_ / "AUDIO_TS").string() + "\n\nOutput VOB file can "
                                        "be found in the directory '" + videoTs + "'."), std::string::npos)
        << boxes.Texts().back();
    EXPECT_EQ(boxes.Texts().back().find('\\'), std::string::npos) << boxes.Texts().back();
    for (const std::string& text : boxes.Texts()) EXPECT_EQ(text.find("too large"), std::string::npos) << text;
    EXPECT_EQ(fs::path(EncoderSettings.outputFileName), dir_ / "VIDEO_TS" / "VTS_01_1.VOB");
    EXPECT_FALSE(fs::exists(dir_ / "title.vob"));
    EXPECT_FALSE(fs::exists(platform::ConfigDir() / "work-files")) << "a work record left behind";
    const size_t files = VobCount(dir_.path());
    const std::string length = c.pal ? "00:00:0" + std::to_string(c.frames / 25) + ".000" : "00:00:02";
    testsupport::DvdFolderFacts facts;
    ASSERT_NO_FATAL_FAILURE(testsupport::CheckDvdFolder(dir_.path(), {files, c.frames, length, c.sampleRate}, &facts));
    // No VOB passes the size asked for, nor DVD-Video's 1 GiB, in as few files as that allows.
    const uint64_t limit = std::min<uint64_t>(c.splitBytes != 0 ? c.splitBytes : 1022900000, 1073709056);
    for (const size_t bytes : facts.fileBytes) EXPECT_LE(bytes, limit);
    EXPECT_EQ(files, (facts.title.size() / 2048 + limit / 2048 - 1) / (limit / 2048));
    const streamcheck::Report report = streamcheck::CheckSystemStream(facts.title);
    EXPECT_TRUE(report.Ok()) << report.Summary();
    const double streams = static_cast<double>(fs::file_size(EncoderSettings.tempVideoFileName) +
                                               fs::file_size(EncoderSettings.tempAudioFileName));
    const double ratio = static_cast<double>(facts.title.size()) / streams;
    std::printf("[ size     ] %s: title %zu bytes, streams %.0f bytes, ratio %.3f\n", c.name, facts.title.size(),
                streams, ratio);
    EXPECT_LE(ratio, 1.05);
    EXPECT_GE(ratio, 1.0);
}

INSTANTIATE_TEST_SUITE_P(
    Rates, DvdWholeJob,
    // The 3 Mbit/s title runs long enough for the search pointers up to 7.5 s.
    ::testing::Values(DvdCase{"pal_3M", true, 3, false, 200, 0, 48000},
                      DvdCase{"pal_4_8M", true, 4.8, false, 50, 0, 48000},
                      DvdCase{"pal_8M", true, 8, false, 50, 0, 48000},
                      DvdCase{"pal_vbr", true, 5, true, 50, 0, 48000},
                      DvdCase{"pal_6M_split", true, 6, false, 50, 300000, 48000},
                      // Files of at most 3,000,000 bytes; 3000000000 is taken as the largest file.
                      DvdCase{"pal_6M_split_3000000", true, 6, false, 125, 3000000, 48000},
                      DvdCase{"pal_4_8M_split_max", true, 4.8, false, 25, 3000000000, 48000},
                      DvdCase{"ntsc_3M", false, 3, false, 60, 0, 48000},
                      DvdCase{"ntsc_4_8M", false, 4.8, false, 60, 0, 48000},
                      DvdCase{"ntsc_8M", false, 8, false, 60, 0, 48000},
                      // Accepted after the compliance question: the information file says 44.1 kHz.
                      DvdCase{"ntsc_4_8M_44k", false, 4.8, false, 60, 0, 44100}),
    [](const testing::TestParamInfo<DvdCase>& info) { return std::string(info.param.name); });

// With a file of the user's at the output name and a longer title in VIDEO_TS: a stop
// in every pass, a failure, a full disk, a title that fails its check and is kept
// (beside VIDEO_TS, under the name the message gives) and a kill while multiplexing
// leave both byte for byte; success leaves the file, the kept title and replaces the
// title as a whole.
TEST_F(DvdJobTest, TheUsersFilesSurviveEveryEndOfAJob) {
    ASSERT_NO_FATAL_FAILURE(UsersFolder());
    auto before = UsersFiles(dir_.path());
    static std::optional<fulldisk::FileSizeLimit> fullDisk;
    enum class End { StopVideo, StopAudio, StopMultiplex, Failure, TenthVob, FullDisk, Kept };
    static End end;
    std::map<std::string, std::string> kept;
    for (End e : {End::StopVideo, End::StopAudio, End::StopMultiplex, End::Failure, End::TenthVob, End::FullDisk,
                  End::Kept}) {
        SCOPED_TRACE(static_cast<int>(e));
        end = e;
        ASSERT_NO_FATAL_FAILURE(DvdJobIn(dir_.path(), {"new", e != End::Failure, 6, false, 25, e == End::TenthVob ? 20000u : 0u, 48000},
                                         e == End::Failure ? 640 : 720));
        // One picture a group: a VOBU, and with the small split size a VOB file, for each.
        if (e == End::TenthVob) EncoderSettings.gopSize = EncoderSettings.ipDistance = 1;
        Sequence.EncodedFrameCount = -1;
        MessagePumpHooks hooks;
        hooks.dispatchMessages = [](int, bool*) {
            if (RunState != 2) return 0;
            if ((end == End::StopVideo && Sequence.EncodedFrameCount >= 3 && !AudioPassActive && !MultiplexActive) ||
                (end == End::StopAudio && AudioPassActive) ||
                (end == End::StopMultiplex && MultiplexActive && MuxBytesDone > 200000))
                RequestStopEncoding();
            if (end == End::FullDisk && MultiplexActive && !fullDisk) fullDisk.emplace(150000);
            return 0;
        };
        SetMessagePumpHooks(hooks);
        platform::ScriptedMessageBoxes boxes;
        if (e == End::Kept) {
            // The streams of the run before, the video cut at its last GOP once their sizes
            // were taken: the title comes out smaller than they are.
            static fs::path video;
            video = EncoderSettings.tempVideoFileName;
            ProgressWindowNotify = [] {
                const std::string stream = ReadFile(video);
                const size_t gop = stream.rfind(std::string("\0\0\1\xB8", 4));
                if (MultiplexActive && gop != std::string::npos && gop > 0)
                    testsupport::WriteFile(video, stream.substr(0, gop) + std::string("\0\0\1\xB7", 4));
            };
            for (platform::MbAnswer a : {platform::MbAnswer::No, platform::MbAnswer::No, platform::MbAnswer::Ok,
                                         platform::MbAnswer::No})
                boxes.Answer(a);
        }
        ASSERT_EQ(RunEncoding(nullptr), e == End::Failure ? 0 : 1);  // a refusal does not start
        ProgressWindowNotify = nullptr;
        fullDisk.reset();
        SetMessagePumpHooks({});
        EXPECT_EQ(JobResult, -1);
        const std::string last = boxes.Texts().empty() ? std::string() : boxes.Texts().back();
        if (e == End::StopMultiplex) {
            EXPECT_EQ(last, "Multiplexing aborted by user.");
        } else if (e == End::Failure) {
            // No code for 640x480: refused before a picture is encoded.
            EXPECT_EQ(last.rfind("Picture size 640x480 or aspect ratio code 2 is not allowed on DVD-Video.\n", 0), 0u)
                << last;
            EXPECT_EQ(Sequence.EncodedFrameCount, -1);
        } else if (e == End::TenthVob) {
            EXPECT_EQ(last, "Fatal error during multiplexing. A DVD title set holds at most 9 video object files");
        } else if (e == End::FullDisk) {
            // The file that failed is the title's first VOB, in the job's work folder.
            const std::string start = "Fatal error during multiplexing.  Cannot write data to the file " + dir_.path().string() + "/";
            ASSERT_EQ(last.rfind(start, 0), 0u) << last;
            const size_t at = start.size() - dir_.path().string().size() - 1;
            const fs::path named = last.substr(at, last.find(".\nFile") - at);
            EXPECT_EQ(named.parent_path().parent_path(), dir_.path()) << last;
            EXPECT_EQ(named.filename().string().rfind("Vts_01_", 0), 0u) << last;
        }
        EXPECT_EQ(last.find(DvdCreated), std::string::npos);
        auto now = UsersFiles(dir_.path());
        if (e == End::Kept) {
            EXPECT_EQ(last, "The new output was kept as\n" + (dir_ / "VIDEO_TS_2").string());
            for (auto it = now.begin(); it != now.end();)
                it = it->first.rfind("VIDEO_TS_2", 0) == 0 ? (kept.insert(*it), now.erase(it)) : std::next(it);
            EXPECT_TRUE(kept.count("VIDEO_TS_2/VTS_01_1.VOB") && kept.count("VIDEO_TS_2/VTS_01_0.IFO"));
        }
        EXPECT_TRUE(now == before) << testing::PrintToString(boxes.Texts());
        if (e == End::FullDisk) continue;
        fs::remove(dir_ / "tmp.m2v");
        fs::remove(dir_ / "tmp.mp2");
    }
    before.insert(kept.begin(), kept.end());

    // A kill -9 while multiplexing: a child process runs the job and waits there to be
    // killed; its temporary folder is the output folder, so that the next job there
    // finds every work file it left.
    const fs::path marker = dir_ / "multiplexing";
    std::vector<std::string> env{"TESSMAR_DVD_KILL_FOLDER=" + dir_.path().string(), "TMPDIR=" + dir_.path().string()};
    std::vector<char*> envp;
    for (std::string& v : env) envp.push_back(v.data());
    for (char** v = environ; *v != nullptr; ++v) envp.push_back(*v);
    envp.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        execle("/proc/self/exe", "child", "--gtest_filter=DvdKilledJob.*", nullptr, envp.data());
        _exit(127);
    }
    int status = 0;
    pid_t done = 0;
    for (int i = 0; i < 6000 && !fs::exists(marker) && (done = waitpid(child, &status, WNOHANG)) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (done == 0) {
        ::kill(child, SIGKILL);
        waitpid(child, &status, 0);
    }
    ASSERT_TRUE(fs::exists(marker) && WIFSIGNALED(status)) << "the child was not killed while multiplexing";
    fs::remove(marker);
    EXPECT_TRUE(UsersFiles(dir_.path()) == before);
    size_t left = 0;
    for (const auto& entry : fs::directory_iterator(dir_.path()))
        left += entry.path().filename().string().find(".tmp-") != std::string::npos;
    EXPECT_EQ(left, 2u) << "the killed job's work folder and hints file";

    // An output named inside the VIDEO_TS folder: the Start command asks about that
    // VIDEO_TS, and the new title replaces the one there.
    ASSERT_NO_FATAL_FAILURE(DvdJobIn(dir_.path(), {"new", true, 6, false, 25, 0, 48000}));
    EncoderSettings.outputFileName = (dir_ / "VIDEO_TS" / "movie.mpg").string();
    EXPECT_EQ(OutputToConfirm(), (dir_ / "VIDEO_TS").string());
    platform::ScriptedMessageBoxes boxes;
    ASSERT_EQ(RunEncoding(nullptr), 1);
    ASSERT_EQ(JobResult, 0) << testing::PrintToString(boxes.Texts());
    EXPECT_FALSE(fs::exists(dir_ / "VIDEO_TS" / "VIDEO_TS"));
    EXPECT_EQ(ReadFile(dir_ / "title.vob"), "the user's earlier movie");
    EXPECT_EQ(VobCount(dir_.path()), 1u);
    ASSERT_NO_FATAL_FAILURE(testsupport::CheckDvdFolder(dir_.path(), {1, 25, "00:00:01.000"}));
    for (const auto& [name, bytes] : kept) EXPECT_EQ(UsersFiles(dir_.path())[name], bytes) << name;
    for (const auto& entry : fs::directory_iterator(dir_.path()))
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
}

// The job of the child process the kill test starts: it announces that it is
// multiplexing and waits there to be killed.
TEST(DvdKilledJob, ChildWaitsWhileMultiplexing) {
    const char* folder = std::getenv("TESSMAR_DVD_KILL_FOLDER");
    if (folder == nullptr) GTEST_SKIP() << "only run by the kill test";
    ASSERT_EQ(InitEncoderLibrary(), 1);
    StartJobHooks();
    ASSERT_NO_FATAL_FAILURE(DvdJobIn(folder, {"new", true, 6, false, 25, 0, 48000}));
    static std::string marker;
    marker = (fs::path(folder) / "multiplexing").string();
    MessagePumpHooks hooks;
    hooks.dispatchMessages = [](int, bool*) {
        if (MultiplexActive && MuxBytesDone > 200000) {
            testsupport::WriteFile(marker, "");
            for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
        }
        return 0;
    };
    SetMessagePumpHooks(hooks);
    platform::ScriptedMessageBoxes boxes;
    RunEncoding(nullptr);
    FAIL() << "the job was not killed while multiplexing";
}

TEST_F(DvdJobTest, WithoutTheVobFolderOptionAJobEndsInAProgramStream) {
    ASSERT_NO_FATAL_FAILURE(DvdJobIn(dir_.path(), {"ps", true, 5, false, 25, 0, 48000}));
    EncoderSettings.createVob = 0;
    const std::string out = EncoderSettings.outputFileName;
    platform::ScriptedMessageBoxes boxes;
    ASSERT_EQ(RunEncoding(nullptr), 1);
    ASSERT_EQ(JobResult, 0) << testing::PrintToString(boxes.Texts());
    EXPECT_EQ(EncoderSettings.outputFileName, out);
    EXPECT_FALSE(fs::exists(dir_ / "VIDEO_TS"));
    std::string errors, video;
    testsupport::RunCommand("ffmpeg -v error -xerror -i '" + out + "' -f null - 2>&1", &errors);
    EXPECT_EQ(errors, "");
    testsupport::RunCommand("ffprobe -v error -count_frames -select_streams v -show_entries "
                            "stream=codec_name,nb_read_frames -of default=nw=1:nk=1 '" + out + "'",
                            &video);
    EXPECT_EQ(video, "mpeg2video\n25\n");
    const streamcheck::Report report = streamcheck::CheckSystemStreamFile(out);
    EXPECT_TRUE(report.mpeg2);
    EXPECT_TRUE(report.Ok()) << report.Summary();
}

// An information file that cannot be put in place, or a title kept after a failed size check whose VIDEO_TS became a
// file, fails the job and says where; the folder is not reported as a volume, nothing of the new title is left in it.
TEST_F(DvdJobTest, AnInformationFileThatCannotBePutInPlaceFailsTheJob) {
    ASSERT_NO_FATAL_FAILURE(DvdJobIn(dir_.path(), {"ifo", true, 5, false, 25, 0, 48000}));
    fs::create_directories(dir_ / "VIDEO_TS" / "VIDEO_TS.IFO");
    platform::ScriptedMessageBoxes boxes;
    ASSERT_EQ(RunEncoding(nullptr), 1);
    EXPECT_EQ(JobResult, -1);
    ASSERT_FALSE(boxes.Texts().empty());
    const std::string expected = "Program cannot put the finished file in place as " + (dir_ / "VIDEO_TS").string();
    EXPECT_EQ(boxes.Texts().back().rfind(expected, 0), 0u) << boxes.Texts().back();
    EXPECT_EQ(fs::directory_iterator(dir_ / "VIDEO_TS")->path().filename(), "VIDEO_TS.IFO");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "VIDEO_TS"), fs::directory_iterator()), 1);
    fs::remove_all(dir_ / "VIDEO_TS");
    ASSERT_TRUE(DvdOutput.Begin(EncoderSettings.outputFileName));
    testsupport::WriteFile(fs::path(DvdOutput.Work()) / "VIDEO_TS" / "VTS_01_1.VOB", "title");
    testsupport::WriteFile(dir_ / "VIDEO_TS", "notes");
    boxes.Answer(platform::MbAnswer::No);
    EXPECT_EQ(OfferToDelete(63514, 63515), CheckedOutput::Failed);
    EXPECT_EQ(boxes.Texts().back().rfind(expected, 0), 0u) << boxes.Texts().back();
    EXPECT_EQ(ReadFile(dir_ / "VIDEO_TS"), "notes");
    EXPECT_TRUE(DvdOutput.Work().empty());
}

// A VIDEO_TS or AUDIO_TS that cannot take the volume, and a folder at the name of a single-file
// output, are refused at Start before the first picture and before any offer to replace, naming
// the folder and why; nothing of the job is left.
TEST_F(DvdJobTest, UnusableDvdFoldersAreRefusedBeforeTheEncode) {
    fulldisk::SmallTmpfs elsewhere;
    ASSERT_NO_FATAL_FAILURE(DvdJobIn(dir_.path(), {"folders", true, 5, false, 6, 0, 48000}));
    const fs::path videoTs = dir_ / "VIDEO_TS", audioTs = dir_ / "AUDIO_TS";
    const char* notFolder = "is not a folder: the DVD volume needs a folder of that name.";
    // Root may write into any folder: its VIDEO_TS that cannot be written is a read-only mount.
    const bool root = ::geteuid() == 0;
    // VIDEO_TS a file, linked to a file or nothing; AUDIO_TS a file; VIDEO_TS unwritable, elsewhere, the output.
    for (const auto& [row, named, why] :
         {std::tuple{0, videoTs, notFolder}, {1, videoTs, notFolder}, {2, videoTs, "is a link to nothing"},
          {3, audioTs, notFolder}, {4, videoTs, root ? "Read-only file system" : "Permission denied"},
          {5, videoTs, "is on another file system than the folder that holds it"},
          {6, videoTs, "is a folder: the output is one file"}}) {
        SCOPED_TRACE(row);
        fs::remove(videoTs);
        fs::remove(audioTs);
        if (row == 5 && !elsewhere.mounted()) continue;  // no second file system to link to
        if (row == 0 || row == 3) testsupport::WriteFile(named, "notes");
        if (row == 1 || row == 2 || row == 5)
            fs::create_symlink(row == 1 ? fs::path("in.avi") : row == 2 ? fs::path("gone") : elsewhere.root(), videoTs);
        if (row == 4 || row == 6) fs::create_directory(videoTs);
        if (row == 4 && !root) fs::permissions(videoTs, fs::perms::owner_write, fs::perm_options::remove);
        if (row == 4 && root) {
            ASSERT_EQ(::mount("tmpfs", videoTs.c_str(), "tmpfs", MS_RDONLY | MS_NOSUID | MS_NODEV, "size=16k"), 0)
                << std::strerror(errno);
        }
        if (row == 6) EncoderSettings.createVob = 0, EncoderSettings.outputFileName = videoTs.string();  // last row
        EXPECT_EQ(OutputToConfirm(), "");
        const auto before = UsersFiles(dir_.path());
        Sequence.EncodedFrameCount = -1;
        platform::ScriptedMessageBoxes boxes;
        EXPECT_EQ(RunEncoding(nullptr), 0);
        EXPECT_EQ(JobResult, -1);
        EXPECT_EQ(Sequence.EncodedFrameCount, -1) << "the job encoded before it found the folder";
        const std::string last = boxes.Texts().size() == 1 ? boxes.Texts().back() : testing::PrintToString(boxes.Texts());
        EXPECT_EQ(last.rfind("Program can't create output file " + named.string() + ".\n", 0), 0u) << last;
        EXPECT_NE(last.find(why), std::string::npos) << last;
        EXPECT_TRUE(UsersFiles(dir_.path()) == before);
        EXPECT_TRUE(fs::is_empty(elsewhere.root()));
        for (const auto& entry : fs::directory_iterator(dir_.path()))
            EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << entry.path();
        if (row == 4 && root) ::umount2(videoTs.c_str(), MNT_DETACH);
    }
}

// A missing or read-only output folder gets the message every other output kind gets.
TEST_F(DvdJobTest, MissingOrReadOnlyFoldersSayWhyLikeOtherOutputs) {
    fulldisk::SmallTmpfs disk;
    ASSERT_NO_FATAL_FAILURE(DvdJobIn(dir_.path(), {"msg", true, 5, false, 6, 0, 48000}));
    const bool readOnly = disk.mounted() &&
                          ::mount(nullptr, disk.root().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, "size=16k") == 0;
    std::vector<fs::path> outputs{dir_ / "missing" / "title.vob"};
    if (readOnly) outputs.push_back(disk / "title.vob");
    for (const fs::path& output : outputs) {
        SCOPED_TRACE(output);
        std::string shown[2];
        for (int createVob : {1, 0}) {
            EncoderSettings.outputFileName = output.string();
            EncoderSettings.createVob = createVob;
            platform::ScriptedMessageBoxes boxes;
            // The streams of the first job are used again.
            if (fs::exists(EncoderSettings.tempAudioFileName)) {
                boxes.Answer(platform::MbAnswer::No);
                boxes.Answer(platform::MbAnswer::No);
            }
            Sequence.EncodedFrameCount = -1;
            ASSERT_EQ(RunEncoding(nullptr), 1);
            EXPECT_EQ(JobResult, -1);
            EXPECT_EQ(Sequence.EncodedFrameCount, -1) << "the job encoded before it found the folder";
            ASSERT_FALSE(boxes.Texts().empty());
            shown[createVob] = boxes.Texts().back();
        }
        EXPECT_EQ(shown[1], shown[0]);
        EXPECT_EQ(shown[1].rfind("Program can't create output file " + output.string(), 0), 0u) << shown[1];
    }
    if (!readOnly) std::printf("read-only folder not tried: %s\n", disk.reason().c_str());
}

}  // namespace
