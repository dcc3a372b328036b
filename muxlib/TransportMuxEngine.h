// The engine of mux type 5: the program stream engine's scheduling decisions written
// as an MPEG-2 transport stream of 188-byte packets with PAT, PMT, PCR and null packets.
#pragma once

#include "muxlib/ProgramMuxEngine.h"

#include <cstdint>
#include <vector>

// CRC-32 of the MPEG-2 systems standard (polynomial 0x04C11DB7, no reflection, initial all ones).
uint32_t MpegCrc32(const uint8_t* data, size_t length);

class Type5MuxEngine : public ProgramMuxEngine {
public:
    static constexpr uint16_t PmtPid = 16;
    static constexpr uint16_t VideoPid = 27;
    static constexpr uint16_t AudioPid = 28;
    static constexpr uint32_t PacketSize = 188;

    explicit Type5MuxEngine(MuxSession& session) : ProgramMuxEngine(session) {}

    uint32_t ComputeMuxRate(const PesPacketRecord* audio, const PesPacketRecord* video) override;

protected:
    int32_t WriteFirstPack() override;
    int32_t WriteUnitPack(const PesPacketRecord& record) override;
    int32_t WritePaddingPack() override;
    // The clock runs on packet by packet, and the clock references keep coming.
    int32_t SkipPack() override;

private:
    // Tables and a clock reference when they are due, before the next packet.
    int32_t WriteDueTables();
    int32_t WriteTables();
    int32_t WritePcrPacket();
    int32_t WriteNull();
    int32_t WritePacket(const uint8_t* packet);
    void PutPcr(uint8_t* at);

    uint8_t continuity_[3] = {0, 0, 0};  // PMT, video, audio; PAT uses its own
    uint8_t patContinuity_ = 0;
    uint64_t lastTables_ = 0;  // 27 MHz
    uint64_t lastPcr_ = 0;
};
