// A small reader of MPEG-1 system streams and MPEG-2 program streams for the tests:
// packs, clock references, packets with their time stamps, and a model of the
// decoder's input buffers that finds data arriving after its decoding time and
// buffers that overflow.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace streamcheck {

struct Packet {
    uint8_t id = 0;              // stream id (0xE0 video, 0xC0 audio, 0xBE padding, 0xBB system header, ...)
    uint64_t offset = 0;         // of its start code
    uint32_t length = 0;         // in all, start code and length field included
    bool hasPts = false, hasDts = false;
    uint64_t pts = 0, dts = 0;   // 90 kHz
    uint32_t bufferBytes = 0;    // STD / P-STD buffer size the packet names (0 when none)
    uint64_t payloadOffset = 0;  // elementary stream bytes of the packet
    uint32_t payloadBytes = 0;
};

struct Pack {
    uint64_t offset = 0;
    uint64_t length = 0;  // up to the next pack, end code or end of data
    double scr = 0;       // 90 kHz (MPEG-2: base + extension / 300)
    uint32_t muxRate = 0; // 50 bytes/s units
    bool systemHeader = false;
    std::vector<Packet> packets;  // system headers included
};

// One access unit (picture or audio frame) of a stream as the decoder's buffer sees it.
struct AccessUnit {
    uint64_t start = 0;      // index of its first byte in the stream's elementary bytes
    uint32_t bytes = 0;
    double dts = 0;          // stamped or carried on from the last stamp by the unit period
    bool stamped = false;
    double arrived = 0;      // arrival time of its last byte
};

struct Stream {
    uint8_t id = 0;
    uint64_t bytes = 0;                 // elementary stream bytes carried
    uint32_t bufferBytes = 0;           // decoder buffer size (system header or packet field)
    std::vector<AccessUnit> units;
    int late = 0;                       // units whose last byte arrives after their decoding time
    int64_t peakOccupancy = 0;
    std::vector<uint8_t> data;          // the elementary stream, in order
};

struct Report {
    bool mpeg2 = false;
    std::vector<Pack> packs;
    int endCodes = 0;
    bool endsWithEndCode = false;
    std::string error;                  // why the walk stopped or a rule was broken; empty when none
    std::map<uint8_t, Stream> streams;  // video and audio streams only
    int lateUnits = 0;                  // over all streams
    int overflows = 0;                  // buffer occupancy above its size, counted per event
    std::string firstProblem;           // text of the first late unit or overflow

    // Walked to the end, every unit on time and no buffer overflowing.
    bool Ok() const { return error.empty() && lateUnits == 0 && overflows == 0; }
    std::string Summary() const;
};

// `toleranceTicks`: how far (90 kHz) a unit may arrive after its decoding time,
// allowing for the clock references' truncation.
Report CheckSystemStream(const std::string& bytes, double toleranceTicks = 1.0);
Report CheckSystemStreamFile(const std::filesystem::path& file, double toleranceTicks = 1.0);

}  // namespace streamcheck
