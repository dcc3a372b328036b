// Transport stream packets of mux type 5: PES packets cut into 184-byte payloads,
// program tables and clock references at regular times, null packets as filler.
#include "muxlib/TransportMuxEngine.h"

#include "muxlib/MuxSession.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Tables at least every 0.1 s, a clock reference at least every 40 ms (27 MHz ticks).
constexpr uint64_t TableInterval = 2700000;
constexpr uint64_t PcrInterval = 1080000;

void PutSection(uint8_t* packet, uint16_t pid, uint8_t continuity, const uint8_t* section, size_t length)
{
    std::memset(packet, 0xFF, Type5MuxEngine::PacketSize);
    packet[0] = 0x47;
    packet[1] = static_cast<uint8_t>(0x40 | (pid >> 8));
    packet[2] = static_cast<uint8_t>(pid);
    packet[3] = static_cast<uint8_t>(0x10 | (continuity & 15));
    packet[4] = 0;  // pointer field
    std::memcpy(packet + 5, section, length);
    const uint32_t crc = MpegCrc32(section, length);
    packet[5 + length] = static_cast<uint8_t>(crc >> 24);
    packet[6 + length] = static_cast<uint8_t>(crc >> 16);
    packet[7 + length] = static_cast<uint8_t>(crc >> 8);
    packet[8 + length] = static_cast<uint8_t>(crc);
}

}  // namespace

uint32_t MpegCrc32(const uint8_t* data, size_t length)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < length; ++i) {
        crc ^= uint32_t{data[i]} << 24;
        for (int b = 0; b < 8; ++b) crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return crc;
}

uint32_t Type5MuxEngine::ComputeMuxRate(const PesPacketRecord* audio, const PesPacketRecord* video)
{
    if (session.Option(5) != 0) return static_cast<uint32_t>(session.Option(5));
    const double sum = static_cast<double>(video && video->stream ? video->stream->byteRate : 0) +
                       (audio && audio->stream ? audio->stream->byteRate : 0);
    const double packetSize = std::max<uint32_t>(geometry.packetSize, 1);
    // PES headers, the 4 bytes of each transport packet, the half-filled last packet
    // of each PES packet, and the tables and clock references.
    double r = std::ceil((9.0 / packetSize + 1.0) * sum * PacketSize / 184.0 * (1.0 + 94.0 / packetSize) +
                         3 * PacketSize * 27000000.0 / PcrInterval);
    r = std::trunc(r * (session.Option(4) == 0 ? 1.085 : 1.025));
    const uint32_t rate = std::min<uint32_t>(static_cast<uint32_t>(r) / 50, MaxMuxRate);
    if (rate != 0) session.ReportMuxRate(rate);
    return rate;
}

int32_t Type5MuxEngine::WritePacket(const uint8_t* packet)
{
    bytesWritten += PacketSize;
    return Emit(packet, PacketSize);
}

void Type5MuxEngine::PutPcr(uint8_t* at)
{
    // The clock when the PCR's last byte arrives.
    bytesWritten += 11;
    const auto clock = static_cast<uint64_t>(LookAheadClock());
    bytesWritten -= 11;
    const uint64_t base = (clock / 300) & 0x1FFFFFFFFull;
    const uint32_t extension = static_cast<uint32_t>(clock % 300);
    at[0] = static_cast<uint8_t>(base >> 25);
    at[1] = static_cast<uint8_t>(base >> 17);
    at[2] = static_cast<uint8_t>(base >> 9);
    at[3] = static_cast<uint8_t>(base >> 1);
    at[4] = static_cast<uint8_t>((base & 1) << 7 | 0x7E | (extension >> 8));
    at[5] = static_cast<uint8_t>(extension);
    lastPcr_ = clock;
}

int32_t Type5MuxEngine::WriteTables()
{
    lastTables_ = static_cast<uint64_t>(LookAheadClock());
    uint8_t packet[PacketSize];
    static const uint8_t pat[] = {0x00, 0xB0, 0x0D, 0x00, 0x00, 0xC1, 0x00, 0x00,
                                  0x00, 0x01, static_cast<uint8_t>(0xE0 | (PmtPid >> 8)), static_cast<uint8_t>(PmtPid)};
    PutSection(packet, 0, patContinuity_++, pat, sizeof pat);
    int32_t status = WritePacket(packet);
    if (status != 0) return status;
    static const uint8_t pmt[] = {0x02, 0xB0, 0x17, 0x00, 0x01, 0xC1, 0x00, 0x00,
                                  static_cast<uint8_t>(0xE0 | (VideoPid >> 8)), static_cast<uint8_t>(VideoPid), 0xF0, 0x00,
                                  0x02, static_cast<uint8_t>(0xE0 | (VideoPid >> 8)), static_cast<uint8_t>(VideoPid), 0xF0, 0x00,
                                  0x03, static_cast<uint8_t>(0xE0 | (AudioPid >> 8)), static_cast<uint8_t>(AudioPid), 0xF0, 0x00};
    PutSection(packet, PmtPid, continuity_[0]++, pmt, sizeof pmt);
    return WritePacket(packet);
}

int32_t Type5MuxEngine::WritePcrPacket()
{
    // Adaptation field only: no payload, so the continuity counter stays.
    uint8_t packet[PacketSize];
    std::memset(packet, 0xFF, sizeof packet);
    packet[0] = 0x47;
    packet[1] = static_cast<uint8_t>(VideoPid >> 8);
    packet[2] = static_cast<uint8_t>(VideoPid);
    packet[3] = static_cast<uint8_t>(0x20 | ((continuity_[1] - 1) & 15));
    packet[4] = 183;
    packet[5] = 0x10;
    PutPcr(packet + 6);
    return WritePacket(packet);
}

int32_t Type5MuxEngine::WriteNull()
{
    uint8_t packet[PacketSize];
    std::memset(packet, 0xFF, sizeof packet);
    packet[0] = 0x47;
    packet[1] = 0x1F;
    packet[2] = 0xFF;
    packet[3] = 0x10;
    return WritePacket(packet);
}

int32_t Type5MuxEngine::WriteDueTables()
{
    const auto clock = static_cast<uint64_t>(LookAheadClock());
    int32_t status = 0;
    if (clock >= lastTables_ + TableInterval) status = WriteTables();
    if (status == 0 && clock >= lastPcr_ + PcrInterval) status = WritePcrPacket();
    return status;
}

int32_t Type5MuxEngine::WriteFirstPack()
{
    baseMuxRate = currentMuxRate;
    int32_t status = WriteNull();
    if (status == 0) status = WriteNull();
    if (status == 0) status = WriteTables();
    return status;
}

int32_t Type5MuxEngine::WritePaddingPack()
{
    int32_t status = WriteDueTables();
    return status != 0 ? status : WriteNull();
}

int32_t Type5MuxEngine::SkipPack()
{
    int32_t status = 0;
    for (uint32_t skipped = 0; skipped < geometry.packSize && status == 0; skipped += PacketSize) {
        bytesWritten += PacketSize;
        status = WriteDueTables();
    }
    return status;
}

int32_t Type5MuxEngine::WriteUnitPack(const PesPacketRecord& record)
{
    int32_t status = WriteDueTables();
    if (status != 0) return status;
    // The clock the pack engines keep: the arrival of the packet's first byte.
    clockReference = LookAheadClock();
    bytesAtClockReference = bytesWritten;
    const bool video = record.totalLength > 3 && record.bytes[3] == 0xE0;
    const bool padding = record.totalLength > 3 && record.bytes[3] == 0xBE;
    if (padding) return WriteNull();
    const uint16_t pid = video ? VideoPid : AudioPid;
    uint8_t& continuity = continuity_[video ? 1 : 2];
    const uint8_t* data = record.bytes.data();
    uint32_t left = record.totalLength;
    bool first = true;
    while (left > 0 && status == 0) {
        uint8_t packet[PacketSize];
        packet[0] = 0x47;
        packet[1] = static_cast<uint8_t>((first ? 0x40 : 0x00) | (pid >> 8));
        packet[2] = static_cast<uint8_t>(pid);
        const bool pcr = first && video;
        uint32_t header = 4;
        uint32_t room = PacketSize - 4 - (pcr ? 8 : 0);
        const uint32_t take = std::min(left, room);
        if (pcr || take < PacketSize - 4) {
            // Adaptation field: the clock reference and/or stuffing to fill the packet.
            const uint32_t fieldLength = PacketSize - 4 - take - 1;  // bytes after the length byte
            packet[3] = static_cast<uint8_t>(0x30 | (continuity & 15));
            packet[4] = static_cast<uint8_t>(fieldLength);
            header = 5;
            if (fieldLength > 0) {
                packet[5] = pcr ? 0x10 : 0x00;
                header = 6;
                if (pcr) {
                    PutPcr(packet + 6);
                    header = 12;
                }
                std::memset(packet + header, 0xFF, 5 + fieldLength - header);
                header = 5 + fieldLength;
            }
        } else {
            packet[3] = static_cast<uint8_t>(0x10 | (continuity & 15));
        }
        std::memcpy(packet + header, data, take);
        ++continuity;
        data += take;
        left -= take;
        first = false;
        status = WritePacket(packet);
    }
    // The payload begins after the first packet's headers and ends with the last packet.
    const double perByte = 90000.0 / (std::max<uint32_t>(currentMuxRate, 1) * 50.0);
    lastPayloadStart_ = static_cast<double>(clockReference) / 300.0 + (12.0 + record.headerLength) * perByte;
    const double end = static_cast<double>(LookAheadClock()) / 300.0 - perByte;
    const uint32_t payload = record.PayloadLength();
    lastPerByte_ = payload > 1 ? std::max(0.0, end - lastPayloadStart_) / (payload - 1) : perByte;
    return status;
}
