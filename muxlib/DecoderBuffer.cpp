// The decoder-buffer model the multiplexers share.
#include "muxlib/DecoderBuffer.h"

#include <algorithm>

uint64_t DecoderBuffer::Release(uint64_t clock)
{
    uint64_t freed = 0;
    std::erase_if(units_, [&](const Unit& u) {
        if (u.removal > clock) return false;
        freed += u.bytes;
        return true;
    });
    occupancy_ -= static_cast<int64_t>(freed);
    return freed;
}

bool DecoderBuffer::AnyDue(uint64_t clock) const
{
    return std::any_of(units_.begin(), units_.end(), [clock](const Unit& u) { return u.removal <= clock; });
}

uint64_t DecoderBuffer::NextRemoval() const
{
    uint64_t next = UINT64_MAX;
    for (const Unit& u : units_) next = std::min(next, u.removal);
    return next;
}

void DecoderBuffer::AddUnit(uint64_t removal, uint64_t bytes)
{
    if (units_.size() >= maxUnits_ && !units_.empty()) {
        units_.back().bytes += bytes;
    } else {
        units_.push_back({removal, bytes, added_});
        ++added_;
    }
    occupancy_ += static_cast<int64_t>(bytes);
}

const DecoderBuffer::Unit* DecoderBuffer::Open() const
{
    return !units_.empty() && units_.back().serial + 1 == added_ ? &units_.back() : nullptr;
}

bool DecoderBuffer::Continue(uint64_t bytes)
{
    if (Open() == nullptr) return false;
    units_.back().bytes += bytes;
    occupancy_ += static_cast<int64_t>(bytes);
    return true;
}
