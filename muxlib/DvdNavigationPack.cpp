// The layout of the DVD volume writer's navigation packs: the PCI and DSI packets
// that follow the pack engine's pack and system headers.
#include "muxlib/DvdTitle.h"

#include "muxlib/DvdInfoFiles.h"

#include <cstring>

namespace dvdtitle {

namespace {

void Put32(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

// Start code, length and substream byte of a private stream 2 packet of the navigation pack.
void PutPrivateStream2Header(uint8_t* p, uint16_t length, uint8_t substream)
{
    p[0] = 0;
    p[1] = 0;
    p[2] = 1;
    p[3] = 0xBF;
    p[4] = static_cast<uint8_t>(length >> 8);
    p[5] = static_cast<uint8_t>(length);
    p[6] = substream;
}

}  // namespace

// The rewritten navigation pack of VOBU k.
void BuildNavigationPack(const Title& t, size_t k, uint8_t* pack)
{
    using namespace navpack;
    const Vobu& v = t.vobus[k];
    const uint64_t cellStart = t.vobus.front().startPtm;
    std::memset(pack, 0, PackBytes);
    std::memcpy(pack, v.header, sizeof v.header);
    uint8_t elapsed[4];
    DvdBcdTime(v.startPtm >= cellStart ? v.startPtm - cellStart : 0, t.frameRate, t.ticksPerFrame, elapsed);

    dvdtitle::PutPrivateStream2Header(pack + PciPacket, PciLength, 0x00);
    Put32(pack + PciNvPckLbn, static_cast<uint32_t>(v.lbn));
    Put32(pack + PciVobuStartPtm, static_cast<uint32_t>(v.startPtm));
    Put32(pack + PciVobuEndPtm, static_cast<uint32_t>(v.endPtm));
    std::memcpy(pack + PciCellElapsed, elapsed, 4);

    dvdtitle::PutPrivateStream2Header(pack + DsiPacket, DsiLength, 0x01);
    Put32(pack + DsiNvPckScr, static_cast<uint32_t>(v.scr));
    Put32(pack + DsiNvPckLbn, static_cast<uint32_t>(v.lbn));
    Put32(pack + DsiVobuEndAddress, static_cast<uint32_t>(v.packs - 1));
    Put32(pack + DsiFirstRefEnd, v.refEnd[0]);
    Put32(pack + DsiFirstRefEnd + 4, v.refEnd[1]);
    Put32(pack + DsiFirstRefEnd + 8, v.refEnd[2]);
    pack[DsiVobId] = 0;
    pack[DsiVobId + 1] = 1;  // VOB 1
    pack[DsiReserved] = 0;
    pack[DsiCellId] = 1;  // cell 1
    std::memcpy(pack + DsiCellElapsed, elapsed, 4);
    Put32(pack + DsiVobVideoStartPtm, static_cast<uint32_t>(t.vobus.front().startPtm));
    Put32(pack + DsiVobVideoEndPtm, static_cast<uint32_t>(t.vobus.back().endPtm));

    // Search information: forward 240 ... 1, next; previous, backward 1 ... 240.
    static const uint32_t distances[19] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 20, 60, 120, 240};
    Put32(pack + FwdiVideo, NeighbourPointer(t, k, +1, true));
    for (int i = 0; i < 19; ++i) {
        Put32(pack + Fwdi1 - 4 * i, VobuSearchPointer(t, k, +1, distances[i]));
        Put32(pack + Bwdi1 + 4 * i, VobuSearchPointer(t, k, -1, distances[i]));
    }
    Put32(pack + FwdiNext, NeighbourPointer(t, k, +1, false));
    Put32(pack + BwdiPrev, NeighbourPointer(t, k, -1, false));
    Put32(pack + BwdiVideo, NeighbourPointer(t, k, -1, true));
}

}  // namespace dvdtitle

void PutNavigationPackets(uint8_t* pack)
{
    using namespace dvdtitle::navpack;
    std::memset(pack + PciPacket, 0, dvdtitle::PackBytes - PciPacket);
    dvdtitle::PutPrivateStream2Header(pack + PciPacket, PciLength, 0x00);
    dvdtitle::PutPrivateStream2Header(pack + DsiPacket, DsiLength, 0x01);
}
