// The start-up wait of a video stream in a multiplexed stream, shared by the pack
// engines.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace muxlib {

// Below the one second data may spend in the decoder's buffer, with room for the
// first packs' own time.
constexpr double MaxStartDelay = 81000;

// 90 kHz ticks the decoder waits before it takes the first picture out: as long as the
// first picture header's vbv_delay says, or, when that names none (0xFFFF: a
// variable-rate stream, or a wait longer than the field holds), at most the time the
// stream's buffer takes to fill at its rate. Packs that carry the video faster than
// that rate shorten the wait in proportion; at little more than the stream's own rate
// a shorter start cannot be caught up before the pictures the encoder let arrive just
// in time. The wait comes after the packs that go before the video's turn (system
// header, first audio) and one for interleaving, and stays below the second that data
// may spend in the decoder's buffer. 0 without a video rate.
inline double VideoStartWait(double muxByteRate, double packSize, double payloadPerPack, uint32_t videoRate,
                             uint32_t audioRate, double audioStartBytes, uint32_t firstPictureVbvDelay,
                             uint32_t streamVbvBytes)
{
    if (videoRate == 0 || muxByteRate <= 0) return 0;
    const double videoShare = muxByteRate * payloadPerPack / packSize - audioRate;
    const double pace = videoShare > videoRate ? videoRate / videoShare : 1.0;
    const double leadTicks = (2.0 + std::ceil(audioStartBytes / payloadPerPack)) * packSize / muxByteRate * 90000.0;
    const double wait = firstPictureVbvDelay != 0xFFFF ? firstPictureVbvDelay : streamVbvBytes * 90000.0 / videoRate;
    return std::min(wait * pace + leadTicks, MaxStartDelay);
}

}  // namespace muxlib
