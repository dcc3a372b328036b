// Facts of the elementary streams both reader families look up: picture
// rates by frame_rate_code and Layer II/III bit rates and sample rates.
#pragma once

#include <cstdint>

namespace muxtables {

struct PictureRate {
    uint32_t num;
    uint32_t den;
    uint32_t ticks;  // 90 kHz ticks per picture
};

// By frame_rate_code 1..8.
inline constexpr PictureRate PictureRates[8] = {
    {24000, 1001, 3754}, {24, 1, 3750}, {25, 1, 3600}, {30000, 1001, 3003},
    {30, 1, 3000},       {50, 1, 1800}, {60000, 1001, 1502}, {60, 1, 1500},
};

// Bit rates in kbit/s by bit-rate index, MPEG-1 Layers I, II and III.
inline constexpr uint32_t Layer1Kbps[15] = {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448};
inline constexpr uint32_t Layer2Kbps[15] = {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384};
inline constexpr uint32_t Layer3Kbps[15] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};

// Bit rate in kbit/s of layer 1..3 and a bit-rate index; 0 for anything else.
inline constexpr uint32_t AudioKbps(uint32_t layer, uint32_t index)
{
    if (index > 14) return 0;
    return layer == 1 ? Layer1Kbps[index] : layer == 2 ? Layer2Kbps[index] : layer == 3 ? Layer3Kbps[index] : 0;
}

inline constexpr uint32_t SampleRates[3] = {44100, 48000, 32000};

}  // namespace muxtables
