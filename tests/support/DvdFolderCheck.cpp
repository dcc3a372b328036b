// DVD-Video folder checks (see DvdFolderCheck.h).
#include "tests/support/DvdFolderCheck.h"

#include "tests/support/TestSupport.h"

#include <dvdread/dvd_reader.h>
#include <dvdread/ifo_read.h>
#include <dvdread/nav_read.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace fs = std::filesystem;

namespace testsupport {

namespace {

constexpr size_t Pack = 2048;

uint32_t Be16(const std::string& d, size_t at)
{
    return static_cast<uint32_t>(static_cast<uint8_t>(d[at])) << 8 | static_cast<uint8_t>(d[at + 1]);
}

// Every pack begins with an MPEG-2 pack header and its packets end exactly at 2048 bytes.
void CheckPackStructure(const std::string& d)
{
    ASSERT_EQ(d.size() % Pack, 0u);
    for (size_t p = 0; p < d.size(); p += Pack) {
        ASSERT_EQ(d.compare(p, 4, std::string("\0\0\1\xBA", 4)), 0) << "pack " << p / Pack;
        ASSERT_EQ(static_cast<uint8_t>(d[p + 4]) & 0xC0, 0x40) << "pack " << p / Pack;
        size_t at = p + 14 + (static_cast<uint8_t>(d[p + 13]) & 7);
        while (at < p + Pack) {
            ASSERT_LE(at + 6, p + Pack) << "pack " << p / Pack;
            ASSERT_EQ(d.compare(at, 3, std::string("\0\0\1", 3)), 0) << "pack " << p / Pack << " at " << at - p;
            at += 6 + Be16(d, at + 4);
        }
        ASSERT_EQ(at, p + Pack) << "pack " << p / Pack << " overruns";
    }
}

}  // namespace

bool IsDvdNavigationPack(const std::string& d, size_t at)
{
    return d.compare(at + 14, 4, std::string("\0\0\1\xBB", 4)) == 0 &&
           d.compare(at + 0x26, 4, std::string("\0\0\1\xBF", 4)) == 0;
}

void CheckDvdFolder(const fs::path& volume, const DvdFolderExpectation& expected, DvdFolderFacts* out)
{
    DvdFolderFacts local;
    DvdFolderFacts& facts = out != nullptr ? *out : local;
    facts = {};
    const fs::path vts = volume / "VIDEO_TS";
    EXPECT_TRUE(fs::is_directory(volume / "AUDIO_TS"));
    for (const char* name : {"VIDEO_TS.IFO", "VIDEO_TS.BUP", "VTS_01_0.IFO", "VTS_01_0.BUP"})
        ASSERT_TRUE(fs::is_regular_file(vts / name)) << name;
    EXPECT_EQ(ReadFile(vts / "VIDEO_TS.IFO"), ReadFile(vts / "VIDEO_TS.BUP"));
    EXPECT_EQ(ReadFile(vts / "VTS_01_0.IFO"), ReadFile(vts / "VTS_01_0.BUP"));
    std::string decodeList;
    for (size_t i = 1; i <= 9; ++i) {
        const fs::path vob = vts / ("VTS_01_" + std::to_string(i) + ".VOB");
        if (!fs::exists(vob)) break;
        const std::string bytes = ReadFile(vob);
        facts.fileBytes.push_back(bytes.size());
        facts.title += bytes;
        decodeList += " '" + vob.string() + "'";
    }
    ASSERT_EQ(facts.fileBytes.size(), expected.vobFiles);
    ASSERT_NO_FATAL_FAILURE(CheckPackStructure(facts.title));
    const size_t packs = facts.title.size() / Pack;
    for (size_t i = 0; i < packs; ++i)
        if (IsDvdNavigationPack(facts.title, i * Pack)) facts.navigationPacks.push_back(static_cast<uint32_t>(i));
    const std::vector<uint32_t>& nav = facts.navigationPacks;
    ASSERT_FALSE(nav.empty());
    ASSERT_EQ(nav.front(), 0u);

    dvd_reader_t* dvd = DVDOpen(volume.c_str());
    ASSERT_NE(dvd, nullptr);
    ifo_handle_t* vmg = ifoOpen(dvd, 0);
    ASSERT_NE(vmg, nullptr);
    ASSERT_NE(vmg->tt_srpt, nullptr);
    EXPECT_EQ(vmg->tt_srpt->nr_of_srpts, 1);
    ASSERT_NE(vmg->first_play_pgc, nullptr);
    ASSERT_NE(vmg->first_play_pgc->command_tbl, nullptr);
    ASSERT_EQ(vmg->first_play_pgc->command_tbl->nr_of_pre, 1);
    const uint8_t jumpTitle1[8] = {0x30, 0x02, 0, 0, 0, 0x01, 0, 0};
    EXPECT_EQ(std::memcmp(vmg->first_play_pgc->command_tbl->pre_cmds[0].bytes, jumpTitle1, 8), 0);
    ifo_handle_t* ts = ifoOpen(dvd, 1);
    ASSERT_NE(ts, nullptr);
    // The title set describes its one audio stream as it is (MPEG-1 audio; the sample
    // frequency code 0 is 48 kHz, 2 is 44.1 kHz).
    ASSERT_NE(ts->vtsi_mat, nullptr);
    EXPECT_EQ(ts->vtsi_mat->nr_of_vts_audio_streams, 1);
    EXPECT_EQ(ts->vtsi_mat->vts_audio_attr[0].audio_format, 2);
    EXPECT_EQ(ts->vtsi_mat->vts_audio_attr[0].sample_frequency, expected.sampleRate == 44100 ? 2 : 0);
    EXPECT_EQ(ts->vtsi_mat->vts_audio_attr[0].channels, 1);
    ASSERT_NE(ts->vts_vobu_admap, nullptr);
    const size_t mapped = (ts->vts_vobu_admap->last_byte + 1 - 4) / 4;
    ASSERT_EQ(mapped, nav.size());
    for (size_t k = 0; k < nav.size(); ++k) EXPECT_EQ(ts->vts_vobu_admap->vobu_start_sectors[k], nav[k]);
    ASSERT_NE(ts->vts_c_adt, nullptr);
    EXPECT_EQ(ts->vts_c_adt->cell_adr_table[0].last_sector, packs - 1);
    const cell_playback_t& cell = ts->vts_pgcit->pgci_srp[0].pgc->cell_playback[0];
    EXPECT_EQ(cell.last_vobu_start_sector, nav.back());

    // The title's files are one run of packs to a player, whichever pack a file begins with.
    dvd_file_t* file = DVDOpenFile(dvd, 1, DVD_READ_TITLE_VOBS);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(DVDFileSize(file), static_cast<ssize_t>(packs));
    std::string read(facts.title.size(), '\0');
    // A read may cross one file's end (libdvdread reads on into the next file only once).
    for (size_t at = 0; at < packs; at += 15) {
        const size_t n = std::min<size_t>(15, packs - at);
        ASSERT_EQ(DVDReadBlocks(file, static_cast<int>(at), n, reinterpret_cast<unsigned char*>(read.data()) + at * Pack),
                  static_cast<ssize_t>(n)) << "block " << at;
    }
    EXPECT_TRUE(read == facts.title) << "libdvdread reads another title";
    // Walk the cell as a player does: every navigation pack points at the next.
    uint32_t block = 0;
    uint32_t previousStart = 0;
    std::vector<vobu_sri_t> search;
    std::vector<uint32_t> starts;
    uint32_t titleEnd = 0;
    for (size_t k = 0; k < nav.size(); ++k) {
        ASSERT_EQ(block, nav[k]);
        unsigned char buffer[Pack];
        ASSERT_EQ(DVDReadBlocks(file, static_cast<int>(block), 1, buffer), 1);
        pci_t pci;
        dsi_t dsi;
        navRead_PCI(&pci, buffer + 0x2D);
        navRead_DSI(&dsi, buffer + 0x407);
        EXPECT_EQ(pci.pci_gi.nv_pck_lbn, block);
        EXPECT_EQ(dsi.dsi_gi.nv_pck_lbn, block);
        const uint32_t next = k + 1 < nav.size() ? nav[k + 1] : static_cast<uint32_t>(packs);
        EXPECT_EQ(dsi.dsi_gi.vobu_ea, next - block - 1);
        EXPECT_GE(dsi.dsi_gi.vobu_1stref_ea, 1u);
        EXPECT_LE(dsi.dsi_gi.vobu_1stref_ea, dsi.dsi_gi.vobu_ea);
        if (k > 0) {
            EXPECT_GT(pci.pci_gi.vobu_s_ptm, previousStart);
            EXPECT_EQ(dsi.vobu_sri.prev_vobu & 0x3FFFFFFF, block - nav[k - 1]);
        } else {
            EXPECT_EQ(dsi.vobu_sri.prev_vobu, 0x3FFFFFFFu);
            EXPECT_EQ(dsi.vobu_sri.prev_video, 0xBFFFFFFFu);
        }
        const uint8_t* h = buffer;
        const uint64_t scr = (static_cast<uint64_t>(h[4] >> 3) & 7) << 30 | static_cast<uint64_t>(h[4] & 3) << 28 |
                             static_cast<uint64_t>(h[5]) << 20 | (static_cast<uint64_t>(h[6] >> 3) & 0x1F) << 15 |
                             static_cast<uint64_t>(h[6] & 3) << 13 | static_cast<uint64_t>(h[7]) << 5 | (h[8] >> 3);
        EXPECT_EQ(dsi.dsi_gi.nv_pck_scr, static_cast<uint32_t>(scr));
        EXPECT_GT(pci.pci_gi.vobu_e_ptm, pci.pci_gi.vobu_s_ptm);
        previousStart = pci.pci_gi.vobu_s_ptm;
        search.push_back(dsi.vobu_sri);
        starts.push_back(pci.pci_gi.vobu_s_ptm);
        titleEnd = pci.pci_gi.vobu_e_ptm;
        if (dsi.vobu_sri.next_vobu == 0x3FFFFFFF) {
            EXPECT_EQ(k, nav.size() - 1);
            for (int f = 0; f < 19; ++f) EXPECT_EQ(uint32_t{dsi.vobu_sri.fwda[f]}, 0x3FFFFFFFu);
            block = next;
        } else {
            block += dsi.vobu_sri.next_vobu & 0x3FFFFFFF;
        }
    }
    DVDCloseFile(file);
    // Each search pointer for n half seconds names the last VOBU that starts at most
    // that far ahead (back), or the neighbour when none does; "none" only where the
    // title ends within the distance.
    static const uint32_t halfSeconds[19] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 20, 60, 120, 240};
    for (size_t k = 0; k < search.size(); ++k) {
        for (size_t i = 0; i < 19; ++i) {
            const uint32_t span = halfSeconds[i] * 45000;
            for (const int direction : {+1, -1}) {
                SCOPED_TRACE(testing::Message() << "VOBU " << k << ", " << (direction > 0 ? "forward " : "backward ")
                                                << halfSeconds[i] << " x 0.5 s");
                const uint32_t value = direction > 0 ? search[k].fwda[18 - i] : search[k].bwda[i];
                const bool ends = direction > 0 ? titleEnd - starts[k] < span : starts[k] - starts.front() < span;
                if (ends) {
                    EXPECT_EQ(value, 0x3FFFFFFFu);
                    continue;
                }
                ASSERT_NE(value, 0x3FFFFFFFu);
                const uint32_t sector = direction > 0 ? nav[k] + (value & 0x3FFFFFFF) : nav[k] - (value & 0x3FFFFFFF);
                const auto at = std::find(nav.begin(), nav.end(), sector);
                ASSERT_NE(at, nav.end()) << "no navigation pack at sector " << sector;
                const size_t j = static_cast<size_t>(at - nav.begin());
                auto distance = [&](size_t x) { return direction > 0 ? starts[x] - starts[k] : starts[k] - starts[x]; };
                const bool neighbour = direction > 0 ? j == k + 1 : j + 1 == k;
                EXPECT_TRUE(distance(j) <= span || neighbour) << distance(j) << " ticks away";
                const size_t past = direction > 0 ? j + 1 : j - 1;
                if (direction > 0 ? past < starts.size() : j > 0) {
                    EXPECT_GT(distance(past), span);
                }
            }
        }
    }
    ifoClose(ts);
    ifoClose(vmg);
    DVDClose(dvd);

    std::string listing;
    ASSERT_EQ(RunCommand("lsdvd -a '" + volume.string() + "' 2>&1", &listing), 0) << listing;
    if (!expected.lsdvdLength.empty()) {
        EXPECT_NE(listing.find("Title: 01, Length: " + expected.lsdvdLength), std::string::npos) << listing;
    }
    // lsdvd names 48 kHz only.
    if (expected.sampleRate == 48000) {
        EXPECT_NE(listing.find("Frequency: 48000"), std::string::npos) << listing;
    }
    EXPECT_EQ(listing.find("Title: 02"), std::string::npos) << listing;

    std::string errors;
    RunCommand("cat" + decodeList + " | ffmpeg -v error -xerror -i - -f null - 2>&1", &errors);
    EXPECT_EQ(errors, "");
    std::string frames;
    const std::string decode =
        "cat" + decodeList + " | ffmpeg -v error -xerror -i - -map 0:v -f framemd5 - 2>&1 | grep -vc '^#'";
    RunCommand(decode, &frames);
    EXPECT_EQ(std::atoi(frames.c_str()), expected.frames) << decode;
}

}  // namespace testsupport
