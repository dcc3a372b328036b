// The DVD volume writer against independent readers: libdvdread opens the folder
// it writes, its navigation packs agree with the pack positions, lsdvd lists the
// title and ffmpeg decodes the title's VOB files.
#include "muxlib/DvdInfoFiles.h"
#include "muxlib/DvdVolume.h"
#include "muxlib/MuxLib.h"
#include "tests/platform/FullDisk.h"
#include "tests/support/DvdFolderCheck.h"
#include "tests/support/TestSupport.h"

#include <dvdread/dvd_reader.h>
#include <dvdread/ifo_read.h>
#include <dvdread/nav_read.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <optional>

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::RunCommand;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

constexpr size_t Pack = 2048;

using testsupport::IsDvdNavigationPack;

// A program stream with navigation packs, as ffmpeg's DVD muxer writes it, cut into
// VOB files inside video object units, each with the hints the pack engine would write.
struct Title {
    std::vector<fs::path> vobs;
    std::vector<fs::path> hints;
    std::string bytes;  // the whole title
    std::vector<size_t> navigationPacks;
};

Title MakeTitle(const fs::path& dir, int seconds, int files, const char* size = "720x576", const char* rate = "25")
{
    Title t;
    const fs::path source = dir / "source.vob";
    const std::string cmd = std::string("ffmpeg -v error -y -f lavfi -i testsrc2=size=") + size + ":rate=" + rate +
                            " -f lavfi -i sine=frequency=440:sample_rate=48000 -t " + std::to_string(seconds) +
                            " -target " + (std::string(rate) == "25" ? "pal" : "ntsc") +
                            "-dvd -c:a mp2 -b:a 224k -g 12 -s " + size + " " + source.string();
    EXPECT_EQ(RunCommand(cmd), 0) << cmd;
    t.bytes = ReadFile(source);
    fs::remove(source);
    const size_t packs = t.bytes.size() / Pack;
    for (size_t i = 0; i < packs; ++i) {
        if (IsDvdNavigationPack(t.bytes, i * Pack)) t.navigationPacks.push_back(i);
    }
    // Cut into `files` parts of about equal size, each after the first beginning
    // inside a video object unit.
    std::vector<size_t> cuts{0};
    for (int f = 1; f < files; ++f) {
        size_t cut = packs * static_cast<size_t>(f) / static_cast<size_t>(files);
        while (IsDvdNavigationPack(t.bytes, cut * Pack)) ++cut;
        cuts.push_back(cut);
    }
    cuts.push_back(packs);
    for (size_t f = 0; f + 1 < cuts.size(); ++f) {
        std::string vob = t.bytes.substr(cuts[f] * Pack, (cuts[f + 1] - cuts[f]) * Pack);
        std::string hints;
        for (size_t i = cuts[f]; i < cuts[f + 1]; ++i) hints += IsDvdNavigationPack(t.bytes, i * Pack) ? "S" : "P\x80";
        t.vobs.push_back(dir / ("Vts_01_" + std::to_string(f) + ".vob"));
        t.hints.push_back(dir / ("dvd" + std::to_string(f) + ".tmp"));
        WriteFile(t.vobs.back(), vob);
        WriteFile(t.hints.back(), hints);
    }
    return t;
}

void Fill(DvdVobTable& table, const Title& t)
{
    for (size_t i = 0; i < t.vobs.size(); ++i) ASSERT_TRUE(table.Add(t.vobs[i].string(), t.hints[i].string()));
}

uint32_t Be32(const std::string& d, size_t at)
{
    return static_cast<uint32_t>(static_cast<uint8_t>(d[at])) << 24 | static_cast<uint8_t>(d[at + 1]) << 16 |
           static_cast<uint8_t>(d[at + 2]) << 8 | static_cast<uint8_t>(d[at + 3]);
}

}  // namespace

TEST(DvdVolume, FolderReadByLibdvdreadLsdvdAndFfmpeg)
{
    TempDir dir;
    const Title title = MakeTitle(dir.path(), 8, 2);
    ASSERT_EQ(title.vobs.size(), 2u);
    const size_t vobus = title.navigationPacks.size();
    ASSERT_GT(vobus, 10u);

    std::vector<int> notified;
    DvdVolumeTarget target;
    target.folder = (dir / "volume").string();
    target.notify = [&](int code, int) { notified.push_back(code); };
    {
        DvdVobTable table;
        Fill(table, title);
        ASSERT_EQ(WriteDvdVolume(target, table, DvdVideoAttributes{1, 2, 720, 576}), 0);
    }
    // The table took the hints files with it; the VOBs moved into the volume.
    EXPECT_FALSE(fs::exists(title.hints[0]));
    EXPECT_FALSE(fs::exists(title.vobs[0]));
    EXPECT_EQ(std::count(notified.begin(), notified.end(), 3), static_cast<long>(vobus));
    const fs::path vts = dir / "volume" / "VIDEO_TS";
    EXPECT_TRUE(fs::is_directory(dir / "volume" / "AUDIO_TS"));
    for (const char* name : {"VIDEO_TS.IFO", "VIDEO_TS.BUP", "VTS_01_0.IFO", "VTS_01_0.BUP", "VTS_01_1.VOB", "VTS_01_2.VOB"})
        EXPECT_TRUE(fs::is_regular_file(vts / name)) << name;
    EXPECT_EQ(ReadFile(vts / "VIDEO_TS.IFO"), ReadFile(vts / "VIDEO_TS.BUP"));
    const std::string patched = ReadFile(vts / "VTS_01_1.VOB") + ReadFile(vts / "VTS_01_2.VOB");
    ASSERT_EQ(patched.size(), title.bytes.size());
    // Only the navigation packs' PCI and DSI changed.
    for (size_t i = 0; i < patched.size() / Pack; ++i) {
        const bool nav = std::binary_search(title.navigationPacks.begin(), title.navigationPacks.end(), i);
        const size_t from = nav ? 0x26 : Pack;
        EXPECT_EQ(patched.compare(i * Pack, from, title.bytes, i * Pack, from), 0) << "pack " << i;
    }

    testsupport::DvdFolderFacts facts;
    ASSERT_NO_FATAL_FAILURE(testsupport::CheckDvdFolder(dir / "volume", {2, 200, "00:00:08.000"}, &facts));
    EXPECT_EQ(facts.navigationPacks.size(), vobus);

    dvd_reader_t* dvd = DVDOpen((dir / "volume").c_str());
    ASSERT_NE(dvd, nullptr);
    ifo_handle_t* ts = ifoOpen(dvd, 1);
    ASSERT_NE(ts, nullptr);
    const cell_playback_t& cell = ts->vts_pgcit->pgci_srp[0].pgc->cell_playback[0];
    EXPECT_EQ(cell.playback_time.second, 0x08);  // 8.00 s at 25 frames
    EXPECT_EQ(cell.playback_time.frame_u, 0x40);
    // Groups of twelve pictures; the last of the 200 holds eight.
    dvd_file_t* file = DVDOpenFile(dvd, 1, DVD_READ_TITLE_VOBS);
    ASSERT_NE(file, nullptr);
    for (size_t k = 0; k < vobus; ++k) {
        unsigned char buffer[Pack];
        ASSERT_EQ(DVDReadBlocks(file, static_cast<int>(title.navigationPacks[k]), 1, buffer), 1);
        pci_t pci;
        navRead_PCI(&pci, buffer + 0x2D);
        EXPECT_EQ(pci.pci_gi.vobu_e_ptm - pci.pci_gi.vobu_s_ptm, (k + 1 < vobus ? 12u : 8u) * 3600u);
    }
    DVDCloseFile(file);
    ifoClose(ts);
    DVDClose(dvd);
}

TEST(DvdVolume, RefusalsLeaveTheVobsWhereTheyWere)
{
    TempDir dir;
    const Title title = MakeTitle(dir.path(), 2, 1);
    std::string hints;
    for (size_t i = 0; i < title.bytes.size() / Pack; ++i) hints += IsDvdNavigationPack(title.bytes, i * Pack) ? "S" : "P\x80";
    DvdVolumeTarget target;
    target.folder = (dir / "volume").string() + "/";
    {
        // A picture size DVD-Video has no code for is refused before anything changes.
        DvdVobTable table;
        Fill(table, title);
        EXPECT_EQ(WriteDvdVolume(target, table, DvdVideoAttributes{2, 2, 640, 480}), MuxErrGeneral);
        EXPECT_EQ(WriteDvdVolume(target, table, DvdVideoAttributes{1, 4, 720, 576}), MuxErrGeneral);
    }
    EXPECT_EQ(ReadFile(title.vobs[0]), title.bytes);
    EXPECT_FALSE(fs::exists(dir / "volume"));

    // Presentation times that go back: the fourth unit's first picture takes the time
    // stamp of the second's. The search pointers would point the wrong way.
    {
        std::string back = title.bytes;
        const auto stamp = [&](size_t vobu) {  // of the unit's first time-stamped video packet
            size_t at = title.navigationPacks.at(vobu) * Pack;
            while (back.compare(at + 14, 4, std::string("\0\0\1\xE0", 4)) != 0 || (back[at + 21] & 0x80) == 0)
                at += Pack;
            return at + 23;
        };
        back.replace(stamp(3), 5, back, stamp(1), 5);
        WriteFile(title.vobs[0], back);
        WriteFile(title.hints[0], hints);
        DvdVobTable table;
        Fill(table, title);
        std::string reason;
        DvdVolumeTarget backwards = target;
        backwards.problem = [&](const std::string& text, const std::string&) { reason = text; };
        EXPECT_EQ(WriteDvdVolume(backwards, table, DvdVideoAttributes{1, 2, 720, 576}), MuxErrGeneral);
        EXPECT_EQ(reason.rfind("The video's presentation times go back", 0), 0u) << reason;
        EXPECT_FALSE(fs::exists(dir / "volume"));
        WriteFile(title.vobs[0], title.bytes);
    }

    // Hints that do not describe the file: nothing is moved and no information file is left.
    WriteFile(title.hints[0], "S" + std::string(title.bytes.size() / Pack, 'P'));
    {
        DvdVobTable table;
        Fill(table, title);
        EXPECT_EQ(WriteDvdVolume(target, table, DvdVideoAttributes{1, 2, 720, 576}), MuxErrGeneral);
    }
    EXPECT_EQ(ReadFile(title.vobs[0]), title.bytes);
    EXPECT_FALSE(fs::exists(dir / "volume"));

    // A volume folder that cannot be made.
    WriteFile(dir / "plain", "x");
    WriteFile(title.hints[0], hints);
    {
        DvdVobTable table;
        Fill(table, title);
        target.folder = (dir / "plain" / "volume").string();
        EXPECT_EQ(WriteDvdVolume(target, table, DvdVideoAttributes{1, 2, 720, 576}), MuxErrWrite);
    }

    // A missing VOB file.
    {
        DvdVobTable table;
        ASSERT_TRUE(table.Add((dir / "missing.vob").string(), (dir / "missing.tmp").string()));
        target.folder = (dir / "volume").string();
        EXPECT_EQ(WriteDvdVolume(target, table, DvdVideoAttributes{1, 2, 720, 576}), MuxErrRead);
    }
    // A disk that fills while the information files are written (from the title set's
    // file on, no file may pass 4 KB): the failure names the file.
    WriteFile(title.hints[0], hints);
    {
        DvdVobTable table;
        Fill(table, title);
        std::string named;
        target.problem = [&](const std::string&, const std::string& file) { named = file; };
        std::optional<fulldisk::FileSizeLimit> limit;
        target.notify = [&](int code, int) {
            if (code == 5) limit.emplace(4096);
        };
        EXPECT_EQ(WriteDvdVolume(target, table, DvdVideoAttributes{1, 2, 720, 576}), MuxErrWrite);
        EXPECT_EQ(named, (dir / "volume" / "VIDEO_TS" / "VTS_01_0.IFO").string());
    }
    // The table holds nine files at most.
    DvdVobTable full;
    for (int i = 0; i < 9; ++i) EXPECT_TRUE(full.Add("v" + std::to_string(i), ""));
    EXPECT_FALSE(full.Add("v9", ""));
    EXPECT_EQ(full.At(9), nullptr);
}

TEST(DvdVolume, AddressMapGrowsPastOneSector)
{
    // 1,500 VOBUs need three sectors of map; the information file's addresses follow.
    DvdTitleLayout layout;
    layout.videoAttributes[0] = 0x53;
    layout.titlePacks = 1500 * 100;
    layout.playbackTicks = 1500 * 45000;
    for (uint32_t i = 0; i < 1500; ++i) layout.vobuStarts.push_back(i * 100);
    const std::vector<uint8_t> bytes = BuildTitleSetFile(layout);
    ASSERT_EQ(bytes.size(), 7 * Pack);
    const std::string d(bytes.begin(), bytes.end());
    EXPECT_EQ(Be32(d, 0x1C), 6u);                    // last sector of the information file
    EXPECT_EQ(Be32(d, 0xC4), 7u);                    // the title VOBs follow it
    EXPECT_EQ(Be32(d, 0x0C), 7u + 150000u + 7u - 1); // the title set ends with the backup
    EXPECT_EQ(Be32(d, 0x2000), 4u * 1500 + 3);
    EXPECT_EQ(Be32(d, 0x2004 + 4 * 1499), 149900u);

    uint8_t attributes[2];
    EXPECT_TRUE(DvdVideoAttributeBytes({1, 3, 704, 576}, attributes));
    EXPECT_EQ(attributes[0], 0x5C);
    EXPECT_EQ(attributes[1], 0x08);
    EXPECT_TRUE(DvdVideoAttributeBytes({2, 2, 352, 240}, attributes));
    EXPECT_EQ(attributes[0], 0x43);
    EXPECT_EQ(attributes[1], 0x18);
    EXPECT_FALSE(DvdVideoAttributeBytes({1, 2, 720, 400}, attributes));
}
