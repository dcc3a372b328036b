// The title as the DVD volume writer reads it back from the pack engine's video
// object files: its VOBUs, pictures and packs, the layout of a navigation pack, and
// the steps between the volume writer's concerns (in the files named below).
#pragma once

#include "muxlib/DvdVolume.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <unistd.h>
#include <vector>

class DvdInfoFileSet;

namespace dvdtitle {

constexpr uint32_t PackBytes = 2048;

// Byte offsets within a navigation pack (a 2048-byte sector), with the DVD-Video
// format's field names: the PCI packet, then the DSI packet.
namespace navpack {
constexpr size_t PciPacket = 0x026;        // private stream 2 header, substream 0 (PCI)
constexpr size_t PciNvPckLbn = 0x02D;      // NV_PCK_LBN: sector of this pack in the title
constexpr size_t PciVobuStartPtm = 0x039;  // VOBU_S_PTM
constexpr size_t PciVobuEndPtm = 0x03D;    // VOBU_E_PTM
constexpr size_t PciCellElapsed = 0x045;   // C_ELTM
constexpr size_t DsiPacket = 0x400;        // private stream 2 header, substream 1 (DSI)
constexpr size_t DsiNvPckScr = 0x407;      // NV_PCK_SCR
constexpr size_t DsiNvPckLbn = 0x40B;      // NV_PCK_LBN
constexpr size_t DsiVobuEndAddress = 0x40F;   // VOBU_EA
constexpr size_t DsiFirstRefEnd = 0x413;      // VOBU_1STREF_EA; 2ND and 3RD follow 4 bytes apart
constexpr size_t DsiVobId = 0x41F;            // VOBU_VOB_IDN (2 bytes)
constexpr size_t DsiReserved = 0x421;
constexpr size_t DsiCellId = 0x422;           // VOBU_C_IDN
constexpr size_t DsiCellElapsed = 0x423;      // C_ELTM
constexpr size_t DsiVobVideoStartPtm = 0x433; // VOB_V_S_PTM
constexpr size_t DsiVobVideoEndPtm = 0x437;   // VOB_V_E_PTM
// VOBU search information (VOBU_SRI), 4-byte entries.
constexpr size_t FwdiVideo = 0x4F1;  // next VOBU with video
constexpr size_t Fwdi1 = 0x53D;      // FWDI 1; the longer distances lie below it, 4 bytes apart
constexpr size_t FwdiNext = 0x541;
constexpr size_t BwdiPrev = 0x545;
constexpr size_t Bwdi1 = 0x549;      // BWDI 1; the longer distances lie above it, 4 bytes apart
constexpr size_t BwdiVideo = 0x595;  // previous VOBU with video
constexpr uint16_t PciLength = 0x03D4;  // PES_packet_length of each packet
constexpr uint16_t DsiLength = 0x03FA;
}  // namespace navpack

struct Picture {
    size_t vobu = 0;
    int type = 0;  // 1 I, 2 P, 3 B
    uint32_t temporalReference = 0;
    bool hasPts = false;
    uint64_t pts = 0;
    uint64_t endPack = 0;  // title pack number holding the picture's last byte
};

struct Vobu {
    uint64_t lbn = 0;    // title pack number of the navigation pack
    uint64_t packs = 0;  // the navigation pack and every pack up to the next one
    size_t file = 0;
    uint8_t header[navpack::PciPacket] = {};  // pack and system headers
    uint64_t scr = 0;
    uint64_t startPtm = 0;
    uint64_t endPtm = 0;
    uint32_t pictures = 0;
    uint32_t refEnd[3] = {};
};

struct Title {
    uint32_t frameRate = 30;  // 25 or 30 (29.97)
    uint32_t ticksPerFrame = 3003;
    std::vector<Vobu> vobus;
    std::vector<Picture> pictures;
    std::vector<uint64_t> filePacks;
    uint64_t packs = 0;
};

// A file descriptor closed with its owner.
struct Fd {
    int fd = -1;
    ~Fd()
    {
        if (fd >= 0) ::close(fd);
    }
    int Close()
    {
        const int r = ::close(fd);
        fd = -1;
        return r;
    }
};

// Says why the volume cannot be written: on standard output and to the caller.
[[gnu::format(printf, 3, 4)]] void Problem(const DvdVolumeTarget& target, const std::string& file, const char* format,
                                           ...);

// DvdPackScan.cpp: reads every file of the table in title order (frame rate, VOBU
// starts, pictures and the packs they end in); 0 or a library status after a Problem.
int32_t ReadTitle(const DvdVolumeTarget& target, const DvdVobTable& table, Title& t);
// DvdVobuTiming.cpp: presentation times and reference-picture ends of every VOBU.
void TimeVobus(Title& t);
// DvdSearchPointers.cpp: the search information entries of VOBU k.
uint32_t VobuSearchPointer(const Title& t, size_t k, int direction, uint32_t halfSeconds);
uint32_t NeighbourPointer(const Title& t, size_t k, int direction, bool needVideo);
// DvdNavigationPack.cpp: the rewritten navigation pack of VOBU k.
void BuildNavigationPack(const Title& t, size_t k, uint8_t* pack);
// DvdTitleFiles.cpp: folders and the moves that put a title into VIDEO_TS.
// 0 when `path` is a folder now; `*made` is set when this call made it.
int MakeFolder(const std::string& path, bool* made = nullptr);
void RemoveStaleVobs(const std::string& videoFolder, size_t vobFiles);
// Moves the title's VOB files beside their final names in `videoFolder` (which ends in
// '/'), renames them and the prepared information files into place, and removes the
// earlier title's VOB files beyond the new title's; 0 or -506.
int32_t MoveTitleIntoPlace(DvdInfoFileSet& files, const std::string& videoFolder, const DvdVobTable& table);

}  // namespace dvdtitle
