// The search information of the DVD volume writer's navigation packs: which VOBU
// a player reaches when it scans n half seconds ahead or back.
#include "muxlib/DvdTitle.h"

#include <algorithm>
#include <cstddef>

namespace dvdtitle {

// The VOBU n half seconds of presentation time ahead (or back): the last one whose
// start lies at most that far from this one's, at least the neighbour, and none
// where the title ends within the distance.
uint32_t VobuSearchPointer(const Title& t, size_t k, int direction, uint32_t halfSeconds)
{
    constexpr uint32_t NoVobu = 0x3FFFFFFF;
    const Vobu& v = t.vobus[k];
    const uint64_t span = uint64_t{halfSeconds} * 45000;
    size_t target;
    if (direction > 0) {
        if (t.vobus.back().endPtm < v.startPtm + span) return NoVobu;
        const uint64_t reach = v.startPtm + span;
        auto it = std::upper_bound(t.vobus.begin() + static_cast<std::ptrdiff_t>(k) + 1, t.vobus.end(), reach,
                                   [](uint64_t r, const Vobu& x) { return r < x.startPtm; });
        target = static_cast<size_t>(it - t.vobus.begin()) - 1;
        if (target <= k) target = k + 1;
        if (target >= t.vobus.size()) return NoVobu;
    } else {
        if (v.startPtm < t.vobus.front().startPtm + span) return NoVobu;
        const uint64_t reach = v.startPtm - span;
        auto it = std::lower_bound(t.vobus.begin(), t.vobus.begin() + static_cast<std::ptrdiff_t>(k), reach,
                                   [](const Vobu& x, uint64_t r) { return x.startPtm < r; });
        target = static_cast<size_t>(it - t.vobus.begin());
        if (target >= k) {
            if (k == 0) return NoVobu;
            target = k - 1;
        }
    }
    const Vobu& to = t.vobus[target];
    const uint64_t distance = to.lbn > v.lbn ? to.lbn - v.lbn : v.lbn - to.lbn;
    uint32_t value = static_cast<uint32_t>(distance & 0x3FFFFFFF);
    if (to.pictures > 0) value |= 0x80000000u;
    if (halfSeconds > 15) value |= 0x40000000u;
    return value;
}

uint32_t NeighbourPointer(const Title& t, size_t k, int direction, bool needVideo)
{
    const Vobu& v = t.vobus[k];
    for (size_t j = k;;) {
        if (direction > 0) {
            if (++j >= t.vobus.size()) break;
        } else {
            if (j-- == 0) break;
        }
        const Vobu& to = t.vobus[j];
        if (needVideo && to.pictures == 0) continue;
        const uint64_t distance = to.lbn > v.lbn ? to.lbn - v.lbn : v.lbn - to.lbn;
        return static_cast<uint32_t>(distance & 0x3FFFFFFF) | (to.pictures > 0 ? 0x80000000u : 0);
    }
    return needVideo ? 0xBFFFFFFFu : 0x3FFFFFFFu;
}

}  // namespace dvdtitle
