// The DVD pack engine through whole library sessions: the folder it leaves is read
// by libdvdread, lsdvd and ffmpeg; splits, refusals and write failures.
#include "muxlib/DvdMuxEngine.h"
#include "muxlib/MuxLib.h"
#include "tests/muxlib/MuxTestUtil.h"
#include "tests/support/DvdFolderCheck.h"
#include "tests/support/SystemStreamCheck.h"
#include "tests/support/TestSupport.h"

#include <dvdread/dvd_reader.h>
#include <dvdread/nav_read.h>
#include <dvdread/nav_types.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <tuple>
#include <unistd.h>

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::RunCommand;
using testsupport::TempDir;

namespace {

constexpr size_t Pack = 2048;

struct Clip {
    fs::path video;
    fs::path audio;
};

// MPEG-2 video with a sequence header at every group of twelve, and 48 kHz Layer II audio.
Clip MakeClip(const fs::path& dir, double seconds, const char* size = "720x576", const char* rate = "25")
{
    Clip c{dir / "v.m2v", dir / "a.mp2"};
    const std::string t = std::to_string(seconds);
    EXPECT_EQ(RunCommand(std::string("ffmpeg -v error -y -f lavfi -i testsrc2=size=") + size + ":rate=" + rate +
                         " -t " + t + " -c:v mpeg2video -b:v 5M -maxrate 8M -bufsize 1835008 -g 12 -bf 2 -aspect 4:3 "
                         "-f mpeg2video '" + c.video.string() + "'"),
              0);
    EXPECT_EQ(RunCommand("ffmpeg -v error -y -f lavfi -i sine=frequency=440:sample_rate=48000 -t " + t +
                         " -ac 2 -c:a mp2 -b:a 224k -f mp2 '" + c.audio.string() + "'"),
              0);
    return c;
}

class DvdMux : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!testsupport::HaveTool("ffmpeg") || !testsupport::HaveTool("lsdvd")) GTEST_SKIP() << "no ffmpeg or lsdvd";
        // Hints files go to the temporary folder: one of the test's own, to see them go.
        const char* tmp = std::getenv("TMPDIR");
        if (tmp != nullptr) previousTmp_ = tmp;
        hadTmp_ = tmp != nullptr;
        fs::create_directory(dir_ / "tmp");
        setenv("TMPDIR", (dir_ / "tmp").c_str(), 1);
    }
    void TearDown() override
    {
        if (hadTmp_)
            setenv("TMPDIR", previousTmp_.c_str(), 1);
        else
            unsetenv("TMPDIR");
    }
    // Video object files of `splitBytes` each (0: the format's size).
    muxtest::RunResult Run(const Clip& c, const fs::path& output, int32_t splitBytes = 0)
    {
        return muxtest::RunSession(MuxTypeDvdVolume, {{11, 4}, {MuxOptionDvdSplitBytes, splitBytes}}, c.video, c.audio,
                                   output);
    }
    bool NoTemporaryFilesLeft()
    {
        if (!fs::is_empty(dir_ / "tmp")) return false;
        for (const auto& e : fs::directory_iterator(dir_.path()))
            if (e.path().filename().string().rfind("Vts_01_", 0) == 0) return false;
        return true;
    }

    TempDir dir_;
    std::string previousTmp_;
    bool hadTmp_ = false;
};

TEST_F(DvdMux, PalTitleIsReadByLibdvdreadLsdvdAndFfmpeg)
{
    const Clip clip = MakeClip(dir_.path(), 2);
    const fs::path out = dir_ / "title.vob";
    // The output name only names the folder: a file there is not the library's.
    testsupport::WriteFile(out, "the user's earlier movie");
    const muxtest::RunResult r = Run(clip, out);
    ASSERT_EQ(r.run, 0);
    ASSERT_EQ(r.end, 0);
    EXPECT_TRUE(muxtest::Reported.empty());
    EXPECT_EQ(ReadFile(out), "the user's earlier movie");
    fs::remove(out);
    EXPECT_TRUE(NoTemporaryFilesLeft());
    testsupport::DvdFolderFacts facts;
    ASSERT_NO_FATAL_FAILURE(testsupport::CheckDvdFolder(dir_.path(), {1, 50, "00:00:02.000"}, &facts));
    EXPECT_GE(facts.navigationPacks.size(), 4u);  // one VOBU per group of twelve

    // The first audio packet of every VOBU names its decoder buffer (P-STD, 32 x 128 bytes);
    // every pack header carries the mux rate 25200.
    const std::string& d = facts.title;
    size_t extensions = 0;
    bool wanted = false;
    for (size_t p = 0; p < d.size(); p += Pack) {
        const uint32_t rate = static_cast<uint8_t>(d[p + 10]) << 14 | static_cast<uint8_t>(d[p + 11]) << 6 |
                              static_cast<uint8_t>(d[p + 12]) >> 2;
        EXPECT_EQ(rate, 25200u) << "pack " << p / Pack;
        if (testsupport::IsDvdNavigationPack(d, p)) {
            wanted = true;
            continue;
        }
        const size_t at = p + 14 + (static_cast<uint8_t>(d[p + 13]) & 7);
        if (static_cast<uint8_t>(d[at + 3]) != 0xC0) continue;
        const bool hasExtension = (static_cast<uint8_t>(d[at + 7]) & 1) != 0;
        EXPECT_EQ(hasExtension, wanted) << "pack " << p / Pack;
        if (hasExtension) {
            EXPECT_EQ(d.compare(at + 14, 3, "\x1E\x40\x20"), 0);
            ++extensions;
        }
        wanted = false;
    }
    EXPECT_EQ(extensions, facts.navigationPacks.size());
}

TEST_F(DvdMux, NtscTitleWithoutFolderInTheOutputName)
{
    const Clip clip = MakeClip(dir_.path(), 2, "720x480", "30000/1001");
    // The volume goes to the current folder when the output name has none.
    const fs::path previous = fs::current_path();
    fs::current_path(dir_.path());
    const muxtest::RunResult r = Run(clip, "title.vob");
    fs::current_path(previous);
    ASSERT_EQ(r.run, 0);
    ASSERT_EQ(r.end, 0);
    ASSERT_NO_FATAL_FAILURE(testsupport::CheckDvdFolder(dir_.path(), {1, 60, "00:00:02"}));
    EXPECT_TRUE(NoTemporaryFilesLeft());
}

// Option 11 bit 1: at every video object unit the clock reference has caught up with
// the video time of its first picture, so the navigation pack's clock (DSI nv_pck_scr)
// is never further before the unit's start time (PCI vobu_s_ptm) than at the first
// unit, as libdvdread reads them; the byte clock alone lets that distance grow.
TEST_F(DvdMux, ClockFollowsTheVideoTimeGroupByGroup)
{
    struct Case {
        const char* size;
        const char* rate;
        int frames;
        const char* length;
    };
    for (const Case& c : {Case{"720x576", "25", 150, "00:00:06.000"}, Case{"720x480", "30000/1001", 180, "00:00:06"}}) {
        SCOPED_TRACE(c.size);
        const Clip clip = MakeClip(dir_.path(), c.frames == 150 ? 6 : 6.006, c.size, c.rate);
        std::vector<int64_t> leads[2];
        size_t packs[2] = {};
        for (int follow : {0, 1}) {
            SCOPED_TRACE(follow);
            fs::remove_all(dir_ / "VIDEO_TS");
            const muxtest::RunResult r =
                muxtest::RunSession(MuxTypeDvdVolume, {{11, 4 | follow}}, clip.video, clip.audio, dir_ / "title.vob");
            ASSERT_EQ(r.run, 0);
            ASSERT_EQ(r.end, 0);
            testsupport::DvdFolderFacts facts;
            ASSERT_NO_FATAL_FAILURE(testsupport::CheckDvdFolder(dir_.path(), {1, c.frames, c.length}, &facts));
            const streamcheck::Report w = streamcheck::CheckSystemStream(facts.title);
            EXPECT_TRUE(w.Ok()) << w.Summary();
            packs[follow] = facts.title.size() / Pack;
            for (uint32_t block : facts.navigationPacks) {
                auto* b = reinterpret_cast<uint8_t*>(facts.title.data()) + size_t{block} * Pack;
                pci_t pci;
                dsi_t dsi;
                navRead_PCI(&pci, b + 0x2D);
                navRead_DSI(&dsi, b + 0x407);
                leads[follow].push_back(int64_t{pci.pci_gi.vobu_s_ptm} - int64_t{dsi.dsi_gi.nv_pck_scr});
            }
            ASSERT_GE(leads[follow].size(), 10u);
        }
        // Where the byte clock is ahead of the video time it stays ahead; it never lags
        // behind by more than a millisecond beyond the first unit's distance.
        EXPECT_LE(*std::max_element(leads[1].begin(), leads[1].end()), leads[1][0] + 90);
        EXPECT_GT(*std::max_element(leads[0].begin(), leads[0].end()), leads[0][0] + 900);
        EXPECT_LE(packs[1], packs[0]);
    }
}

TEST_F(DvdMux, LongTitleIsSplitIntoContinuousFiles)
{
    // Option 13 is the largest file, in whole packs, never past 16 packs below 1 GiB.
    for (const auto& [option, bytes] : {std::pair<int32_t, uint64_t>{1200000, 585 * Pack}, {3000000, 1464 * Pack},
                                        {2147483647, 524272 * Pack}, {1073741824, 524272 * Pack},
                                        {1073709056, 524272 * Pack}, {0, 499462 * Pack}, {100, Pack}})
        EXPECT_EQ(DvdVobFileLimit(option), bytes) << option;

    const Clip clip = MakeClip(dir_.path(), 4);
    constexpr uint64_t Limit = 1200000;
    // A file of someone else's with the first temporary name is left alone.
    testsupport::WriteFile(dir_ / "Vts_01_0.vob", "not ours");
    const muxtest::RunResult r = Run(clip, dir_ / "title.vob", Limit);
    ASSERT_EQ(r.run, 0);
    ASSERT_EQ(r.end, 0);
    EXPECT_EQ(ReadFile(dir_ / "Vts_01_0.vob"), "not ours");
    fs::remove(dir_ / "Vts_01_0.vob");
    EXPECT_TRUE(NoTemporaryFilesLeft());
    size_t files = 0;
    while (fs::exists(dir_ / "VIDEO_TS" / ("VTS_01_" + std::to_string(files + 1) + ".VOB"))) ++files;
    ASSERT_GE(files, 3u);
    testsupport::DvdFolderFacts facts;
    ASSERT_NO_FATAL_FAILURE(testsupport::CheckDvdFolder(dir_.path(), {files, 100, "00:00:04.000"}, &facts));
    // Every file but the last is as large as the limit allows; a video object unit
    // goes on in the next file where the limit falls inside it.
    size_t midUnit = 0;
    for (size_t i = 0; i + 1 < files; ++i) {
        EXPECT_EQ(facts.fileBytes[i], Limit / Pack * Pack) << "file " << i + 1;
        midUnit += !testsupport::IsDvdNavigationPack(facts.title, (i + 1) * (Limit / Pack * Pack));
    }
    EXPECT_LE(facts.fileBytes.back(), Limit / Pack * Pack);
    EXPECT_GE(midUnit, 1u);

    // A title past the largest file, from the clip's streams repeated (2.2 GB with its volume): the
    // first file ends 16 packs below 1 GiB, and libdvdread reads both files as one title.
    if (fs::space(dir_.path()).available < (uint64_t{3} << 30)) GTEST_SKIP() << "3 GiB free needed in " << dir_.path();
    const Clip big{dir_ / "big.m2v", dir_ / "big.mp2"};
    std::string video = ReadFile(clip.video), audio = ReadFile(clip.audio);
    if (video.ends_with(std::string("\0\0\1\xB7", 4))) video.resize(video.size() - 4);  // no sequence end inside
    std::ofstream v(big.video, std::ios::binary), a(big.audio, std::ios::binary);
    for (uint64_t n = 0; n < DvdVobMaxBytes + (8 << 20); n += video.size() + audio.size()) v << video, a << audio;
    v.close(), a.close();
    fs::remove_all(dir_ / "VIDEO_TS");
    ASSERT_EQ(Run(big, dir_ / "title.vob", INT32_MAX).end, 0);
    EXPECT_EQ(fs::file_size(dir_ / "VIDEO_TS" / "VTS_01_1.VOB"), 1073709056u);
    dvd_reader_t* dvd = DVDOpen(dir_.path().c_str());
    dvd_file_t* title = dvd != nullptr ? DVDOpenFile(dvd, 1, DVD_READ_TITLE_VOBS) : nullptr;
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(uint64_t(DVDFileSize(title)) * Pack, 1073709056 + fs::file_size(dir_ / "VIDEO_TS" / "VTS_01_2.VOB"));
    DVDCloseFile(title), DVDClose(dvd);
}

TEST_F(DvdMux, FailuresAreReportedAndLeaveNoHalfVolume)
{
    const Clip clip = MakeClip(dir_.path(), 6);
    const fs::path out = dir_ / "title.vob";
    {
        // Thirteen VOBUs, each in a file of its own, would not fit the title set:
        // refused before the tenth file is started.
        const muxtest::RunResult r = Run(clip, out, 150000);
        EXPECT_EQ(r.run, MuxErrGeneral);
        EXPECT_NE(std::find(muxtest::Reported.begin(), muxtest::Reported.end(), MuxErrGeneral),
                  muxtest::Reported.end());
        EXPECT_FALSE(fs::exists(dir_ / "VIDEO_TS"));
        EXPECT_TRUE(NoTemporaryFilesLeft());
    }
    {
        // An information file that cannot be written.
        fs::create_directories(dir_ / "VIDEO_TS" / "VTS_01_0.IFO");
        const muxtest::RunResult r = Run(clip, out);
        EXPECT_EQ(r.run, 0);
        EXPECT_EQ(r.end, MuxErrWrite);
        EXPECT_EQ(muxtest::Reported, std::vector<int32_t>{MuxErrWrite});
        EXPECT_FALSE(fs::exists(dir_ / "VIDEO_TS" / "VTS_01_0.BUP"));
        EXPECT_TRUE(NoTemporaryFilesLeft());
        fs::remove_all(dir_ / "VIDEO_TS");
        fs::remove_all(dir_ / "AUDIO_TS");
    }
    {
        // A picture size DVD-Video has no code for: no volume, and nothing of the run is left.
        const Clip small = MakeClip(dir_.path(), 1, "640x480", "30000/1001");
        const muxtest::RunResult r = Run(small, out);
        EXPECT_EQ(r.end, MuxErrGeneral);
        EXPECT_EQ(muxtest::Reported, std::vector<int32_t>{MuxErrGeneral});
        EXPECT_FALSE(fs::exists(dir_ / "VIDEO_TS"));
        EXPECT_FALSE(fs::exists(out));
        EXPECT_TRUE(NoTemporaryFilesLeft());
    }
}

// A sequence header whose frame-rate code names no rate (0, or 9 to 15) is an invalid
// video stream for the reader of every mux type: no output of made-up timing.
TEST_F(DvdMux, FrameRateCodesWithoutARateAreRefused)
{
    const Clip clip = MakeClip(dir_.path(), 1);
    const muxtest::Streams& mpeg1 = muxtest::TestStreams();
    const std::string header("\0\0\1\xB3", 4);
    for (const auto& [video, audio, types] :
         {std::tuple{mpeg1.video, mpeg1.audio, std::vector<int32_t>{MuxTypeMpeg1System, MuxTypeVideoCd}},
          std::tuple{clip.video, clip.audio, std::vector<int32_t>{2, MuxTypeDvdVolume, MuxTypeTransport, MuxTypeSvcd}}}) {
        for (const int code : {3, 0, 15}) {  // 3 is the streams' own rate
            std::string bad = ReadFile(video);
            for (size_t at = bad.find(header); at != std::string::npos; at = bad.find(header, at + 4))
                bad[at + 7] = static_cast<char>((static_cast<uint8_t>(bad[at + 7]) & 0xF0) | code);
            testsupport::WriteFile(dir_ / "bad.mpv", bad);
            for (const int32_t type : types) {
                SCOPED_TRACE(testing::Message() << "code " << code << " type " << type);
                const auto r = muxtest::RunSession(type, {{11, type == MuxTypeDvdVolume ? 4 : 0}}, dir_ / "bad.mpv",
                                                   audio, dir_ / "out.mpg");
                EXPECT_EQ(r.run, code == 3 ? 0 : MuxErrVideoStream);
                EXPECT_EQ(fs::exists(dir_ / "VIDEO_TS"), code == 3 && type == MuxTypeDvdVolume);
                fs::remove_all(dir_ / "VIDEO_TS");
                fs::remove(dir_ / "out.mpg");
            }
        }
    }
    for (const auto& e : fs::recursive_directory_iterator(dir_.path())) {
        const std::string name = e.path().filename().string();
        EXPECT_TRUE(name.rfind("Vts_01_", 0) != 0 && name.rfind("dvd", 0) != 0) << e.path();
    }
}

}  // namespace
