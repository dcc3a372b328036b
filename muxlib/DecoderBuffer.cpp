// The decoder-buffer model the multiplexers share.
#include "muxlib/DecoderBuffer.h"

#include <algorithm>

template <class Time>
template <class Due>
uint64_t BasicDecoderBuffer<Time>::ReleaseIf(Due due)
{
    uint64_t freed = 0;
    std::erase_if(units_, [&](const Unit& u) {
        if (!due(u.removal)) return false;
        freed += u.bytes;
        return true;
    });
    occupancy_ -= static_cast<int64_t>(freed);
    return freed;
}

template <class Time>
uint64_t BasicDecoderBuffer<Time>::Release(Time clock)
{
    return ReleaseIf([clock](Time removal) { return removal <= clock; });
}

template <class Time>
uint64_t BasicDecoderBuffer<Time>::ReleaseBefore(Time clock)
{
    return ReleaseIf([clock](Time removal) { return removal < clock; });
}

template <class Time>
bool BasicDecoderBuffer<Time>::AnyDue(Time clock) const
{
    return std::any_of(units_.begin(), units_.end(), [clock](const Unit& u) { return u.removal <= clock; });
}

template <class Time>
Time BasicDecoderBuffer<Time>::NextRemoval() const
{
    Time next = NoRemoval;
    for (const Unit& u : units_) next = std::min(next, u.removal);
    return next;
}

template <class Time>
void BasicDecoderBuffer<Time>::AddUnit(Time removal, uint64_t bytes)
{
    if (units_.size() >= maxUnits_ && !units_.empty()) {
        units_.back().bytes += bytes;
    } else {
        units_.push_back({removal, bytes, added_});
        ++added_;
    }
    occupancy_ += static_cast<int64_t>(bytes);
}

template <class Time>
const typename BasicDecoderBuffer<Time>::Unit* BasicDecoderBuffer<Time>::Open() const
{
    return !units_.empty() && units_.back().serial + 1 == added_ ? &units_.back() : nullptr;
}

template <class Time>
bool BasicDecoderBuffer<Time>::Continue(uint64_t bytes)
{
    if (Open() == nullptr) return false;
    units_.back().bytes += bytes;
    occupancy_ += static_cast<int64_t>(bytes);
    return true;
}

template class BasicDecoderBuffer<uint64_t>;
template class BasicDecoderBuffer<double>;
