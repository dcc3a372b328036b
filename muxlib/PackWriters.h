// Byte layouts shared by every stream writer of the multiplexers: time stamps,
// MPEG-2 pack and system headers, padding packets and PES packet headers.
#pragma once

#include <cstdint>
#include <vector>

namespace packwriters {

// Time-stamp prefixes: the four bits before a 33-bit stamp.
inline constexpr uint8_t PrefixPtsOnly = 0x2;  // also the MPEG-1 pack clock reference
inline constexpr uint8_t PrefixPtsWithDts = 0x3;
inline constexpr uint8_t PrefixDts = 0x1;

// Writes a 33-bit time stamp (90 kHz ticks) in 5 bytes: prefix, bits 32-30,
// marker, bits 29-15, marker, bits 14-0, marker.
void PutTimeStamp(uint8_t* out, uint8_t prefix, uint64_t time);
void AppendTimeStamp(std::vector<uint8_t>& out, uint8_t prefix, uint64_t time);
// Reads the stamp back (the prefix and markers are ignored).
uint64_t ReadTimeStamp(const uint8_t* in);

// A 22-bit rate between marker bits, in 3 bytes: the MPEG-1 pack header's mux
// rate and every system header's rate bound (units of 50 bytes/s).
void AppendMarkedRate(std::vector<uint8_t>& out, uint32_t rate);

inline constexpr uint32_t ProgramPackHeaderLength = 14;

// MPEG-2 pack header of 14 bytes with no stuffing: the clock reference in 27 MHz
// ticks (base = clock / 300, extension = clock % 300) and the mux rate.
uint32_t WriteProgramPackHeader(uint8_t* out, uint64_t clock27MHz, uint32_t muxRate);
// The 42-bit clock reference read back from an MPEG-2 pack header, in 27 MHz ticks.
uint64_t ReadProgramPackClock(const uint8_t* header);
// Its 33-bit base alone, in 90 kHz ticks.
uint64_t ReadProgramPackClockBase(const uint8_t* header);

struct SystemHeaderStream {
    uint8_t streamId = 0;
    uint16_t bufferSizeBound = 0;  // 1024-byte units for video, 128-byte units otherwise
};

struct SystemHeaderRecord {
    uint32_t rateBound = 0;  // units of 50 bytes/s
    uint8_t audioBound = 0;
    uint8_t fixedFlag = 0;
    uint8_t constrainedFlag = 0;
    uint8_t audioLock = 0;
    uint8_t videoLock = 0;
    uint8_t videoBound = 0;
    uint8_t packetRateRestriction = 0;
    SystemHeaderStream streams[4];
    uint32_t streamCount = 0;
};

// System header; returns its length, 12 + 3 per stream. The buffer scale bit is
// set for video streams (identifier 0xB9 or 0xE0-0xEF) and clear for the others.
uint32_t WriteSystemHeader(const SystemHeaderRecord& record, uint8_t* out);

// MPEG-2 padding packet of n bytes in all (n >= 6): 00 00 01 BE, length, 0xFF bytes.
void WritePaddingPacket(uint8_t* out, uint32_t n);
void AppendPaddingPacket(std::vector<uint8_t>& out, uint32_t n);

// MPEG-2 PES packet header: start code, stream id, packet length, the two flag
// bytes (original/copy set), header data length, the time stamps chosen by
// `stamps` (0 none, 1 PTS, 2 PTS and DTS), the extension bytes and `stuffing`
// 0xFF bytes. `payloadLength` counts the bytes that follow the header.
struct PesHeaderFields {
    uint8_t streamId = 0;
    uint32_t payloadLength = 0;
    uint32_t stamps = 0;
    uint64_t pts = 0;
    uint64_t dts = 0;
    const uint8_t* extension = nullptr;  // the PES extension field when extensionLength > 0
    uint32_t extensionLength = 0;
    uint32_t stuffing = 0;
};
// Appends the header and returns its length: 9 + 5 per time stamp + extension + stuffing.
uint32_t AppendPesHeader(std::vector<uint8_t>& out, const PesHeaderFields& fields);

}  // namespace packwriters
