// What a video sequence header says, read by one parser that every reader,
// scanner and analyser of the multiplexers shares.
#pragma once

#include "muxlib/StreamTables.h"

#include <cstdint>

// Bytes of a sequence header from its start code to the constrained-parameters flag.
inline constexpr uint32_t SequenceHeaderBytes = 12;

struct SequenceHeader {
    uint32_t horizontalSize = 0;
    uint32_t verticalSize = 0;
    uint32_t aspectRatio = 0;    // aspect_ratio_information
    uint32_t frameRateCode = 0;
    uint32_t bitRate = 0;        // units of 400 bit/s; 0x3FFFF marks a variable rate
    bool markerBit = false;      // the marker after bit_rate is set
    uint32_t vbvBufferSize = 0;  // units of 16 kbit
    bool constrainedParameters = false;
    // The rate frame_rate_code names; none for codes 0 and 9 to 15, with which no
    // time stamp could be right, so every reader refuses the stream.
    const muxtables::PictureRate* pictureRate = nullptr;

    uint32_t VbvBufferBytes() const { return vbvBufferSize * 2048; }
};

// `fields` points at the eight bytes after the start code 00 00 01 B3.
inline SequenceHeader ParseSequenceHeader(const uint8_t* fields)
{
    SequenceHeader h;
    h.horizontalSize = uint32_t{fields[0]} << 4 | fields[1] >> 4;
    h.verticalSize = (uint32_t{fields[1]} & 0x0F) << 8 | fields[2];
    h.aspectRatio = fields[3] >> 4;
    h.frameRateCode = fields[3] & 0x0F;
    h.bitRate = uint32_t{fields[4]} << 10 | uint32_t{fields[5]} << 2 | fields[6] >> 6;
    h.markerBit = (fields[6] & 0x20) != 0;
    h.vbvBufferSize = (uint32_t{fields[6]} & 0x1F) << 5 | fields[7] >> 3;
    h.constrainedParameters = (fields[7] & 0x04) != 0;
    if (h.frameRateCode >= 1 && h.frameRateCode <= 8) h.pictureRate = &muxtables::PictureRates[h.frameRateCode - 1];
    return h;
}

// True when `data` holds a whole sequence header from its start code on.
inline bool IsSequenceHeader(const uint8_t* data, uint64_t length)
{
    return length >= SequenceHeaderBytes && data[0] == 0 && data[1] == 0 && data[2] == 1 && data[3] == 0xB3;
}
