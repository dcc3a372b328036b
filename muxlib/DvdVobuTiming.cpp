// VOBU timing of the DVD volume writer: when each VOBU is presented, and where its
// reference pictures end.
#include "muxlib/DvdTitle.h"

#include <algorithm>
#include <cstdint>

namespace dvdtitle {

// Presentation times and reference-picture ends of every VOBU.
void TimeVobus(Title& t)
{
    std::vector<size_t> firstPicture(t.vobus.size(), SIZE_MAX);
    for (size_t i = 0; i < t.pictures.size(); ++i) {
        const Picture& p = t.pictures[i];
        Vobu& v = t.vobus[p.vobu];
        if (firstPicture[p.vobu] == SIZE_MAX && p.hasPts) {
            firstPicture[p.vobu] = i;
            // Temporal references count display order from the group's first picture.
            const uint64_t back = static_cast<uint64_t>(p.temporalReference) * t.ticksPerFrame;
            v.startPtm = p.pts >= back ? p.pts - back : 0;
        }
    }
    uint64_t previousEnd = 0;
    for (size_t k = 0; k < t.vobus.size(); ++k) {
        Vobu& v = t.vobus[k];
        if (firstPicture[k] == SIZE_MAX) v.startPtm = previousEnd;
        v.endPtm = v.startPtm + static_cast<uint64_t>(v.pictures) * t.ticksPerFrame;
        previousEnd = v.endPtm;
    }
    // A VOBU ends where the next one is presented.
    for (size_t k = 0; k + 1 < t.vobus.size(); ++k) {
        if (t.vobus[k + 1].startPtm > t.vobus[k].startPtm) t.vobus[k].endPtm = t.vobus[k + 1].startPtm;
    }
    std::vector<uint32_t> refs(t.vobus.size(), 0);
    for (const Picture& p : t.pictures) {
        if (p.type != 1 && p.type != 2) continue;
        Vobu& v = t.vobus[p.vobu];
        uint32_t& n = refs[p.vobu];
        if (n >= 3) continue;
        const uint64_t last = v.lbn + v.packs - 1;
        v.refEnd[n++] = static_cast<uint32_t>(std::min(p.endPack, last) - v.lbn);
    }
    for (size_t k = 0; k < t.vobus.size(); ++k) {
        for (uint32_t n = std::max<uint32_t>(refs[k], 1); n < 3; ++n) t.vobus[k].refEnd[n] = t.vobus[k].refEnd[n - 1];
    }
}

}  // namespace dvdtitle
