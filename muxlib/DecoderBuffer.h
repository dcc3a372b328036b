// The model of one elementary stream's input buffer in the decoder that every
// multiplexer schedules against: what has arrived, and when the decoder takes
// it out. A unit leaves at its decoding time: once the clock has reached its
// removal time its bytes are gone, as in the system target decoder.
//
// Times are 90 kHz ticks: whole ticks for the library's engines, fractions of a
// tick for the MPEG-1 system stream writer, which books removals one unit period
// apart.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>

template <class Time>
class BasicDecoderBuffer {
public:
    struct Unit {
        Time removal = 0;
        uint64_t bytes = 0;
        uint64_t serial = 0;   // order of arrival
    };
    static constexpr Time NoRemoval = std::numeric_limits<Time>::max();

    // `maxUnits`: how many access units the writer keeps track of; a buffer holding
    // that many counts as full for new units.
    explicit BasicDecoderBuffer(size_t maxUnits = std::numeric_limits<size_t>::max()) : maxUnits_(maxUnits) {}

    // Takes out every unit whose removal time is at or before `clock`; the bytes freed.
    uint64_t Release(Time clock);
    // The same for the units removed before `clock`, not at it.
    uint64_t ReleaseBefore(Time clock);
    bool AnyDue(Time clock) const;
    // The earliest removal time still to come; NoRemoval when nothing waits.
    Time NextRemoval() const;

    // The first bytes of a new access unit. With `maxUnits` units held already,
    // the bytes join the newest one and leave with it.
    void AddUnit(Time removal, uint64_t bytes);
    // More bytes of the unit added last; false, and nothing counted, once that
    // unit has been taken out (its bytes come too late to occupy the buffer).
    bool Continue(uint64_t bytes);
    // The unit added last while it is still held; nullptr when it has left.
    const Unit* Open() const;

    int64_t Occupancy() const { return occupancy_; }
    size_t Units() const { return units_.size(); }
    size_t FreeUnits() const { return maxUnits_ - units_.size(); }
    bool Empty() const { return units_.empty(); }
    void Clear() { *this = BasicDecoderBuffer(maxUnits_); }

private:
    template <class Due>
    uint64_t ReleaseIf(Due due);

    size_t maxUnits_;
    std::deque<Unit> units_;
    int64_t occupancy_ = 0;
    uint64_t added_ = 0;  // units added so far; the serial of the next one
};

using DecoderBuffer = BasicDecoderBuffer<uint64_t>;
extern template class BasicDecoderBuffer<uint64_t>;
extern template class BasicDecoderBuffer<double>;
