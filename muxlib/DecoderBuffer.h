// The model of one elementary stream's input buffer in the decoder that every
// multiplexer schedules against: what has arrived, and when the decoder takes
// it out. A unit leaves at its decoding time: once the clock has reached its
// removal time its bytes are gone, as in the system target decoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

class DecoderBuffer {
public:
    struct Unit {
        uint64_t removal = 0;  // 90 kHz
        uint64_t bytes = 0;
        uint64_t serial = 0;   // order of arrival
    };

    // `maxUnits`: how many access units the writer keeps track of; a buffer holding
    // that many counts as full for new units.
    explicit DecoderBuffer(size_t maxUnits) : maxUnits_(maxUnits) {}

    // Takes out every unit whose removal time is at or before `clock`; the bytes freed.
    uint64_t Release(uint64_t clock);
    bool AnyDue(uint64_t clock) const;
    // The earliest removal time still to come; UINT64_MAX when nothing waits.
    uint64_t NextRemoval() const;

    // The first bytes of a new access unit. With `maxUnits` units held already,
    // the bytes join the newest one and leave with it.
    void AddUnit(uint64_t removal, uint64_t bytes);
    // More bytes of the unit added last; false, and nothing counted, once that
    // unit has been taken out (its bytes come too late to occupy the buffer).
    bool Continue(uint64_t bytes);
    // The unit added last while it is still held; nullptr when it has left.
    const Unit* Open() const;

    int64_t Occupancy() const { return occupancy_; }
    size_t Units() const { return units_.size(); }
    size_t FreeUnits() const { return maxUnits_ - units_.size(); }
    bool Empty() const { return units_.empty(); }
    void Clear() { *this = DecoderBuffer(maxUnits_); }

private:
    size_t maxUnits_;
    std::deque<Unit> units_;
    int64_t occupancy_ = 0;
    uint64_t added_ = 0;  // units added so far; the serial of the next one
};
