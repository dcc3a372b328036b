// What the decoder of a multiplexed stream would see of one elementary stream: each
// access unit's last byte against its decoding time, and the buffer's fill against
// its size. The engines keep one per stream and fail the multiplex when a unit
// arrives late or the buffer overflows, instead of writing a stream that stalls.
#pragma once

#include <cstdint>
#include <string>

class DeliveryAudit {
public:
    // Bytes of the unit still open whose last one arrives at `arrival` (90 kHz).
    void Continue(double arrival);
    // The first bytes of a new unit, decoded at `removal`; the last of them arrives at `arrival`.
    void Begin(double removal, double arrival);
    // One packet: `payload` bytes from `start` on, `perByte` ticks apart; the first
    // `leading` belong to the open unit, then each of the `count` units begins at its offset.
    void Packet(double start, double perByte, uint32_t payload, uint32_t leading, const uint64_t* removals,
                const uint32_t* offsets, uint32_t count);
    // The buffer holds `bytes` of `size` once a packet has arrived.
    void Fill(int64_t bytes, int64_t size);
    // Judges the unit still open; call once after the last packet.
    void Finish();
    bool Failed() const { return late > 0 || overflows > 0; }
    // "video stream: 3 access units late by up to 0.120 s; ..."; empty when nothing failed.
    std::string Describe(const char* stream) const;

    int late = 0;
    double worstLateTicks = 0;
    int overflows = 0;
    int64_t worstOverflowBytes = 0;
    // The first failing unit (counted from 1 in the order the units begin) and its decoding time.
    int firstLateUnit = 0;
    double firstLateRemoval = 0;
    int firstOverflowUnit = 0;

private:
    void Close();

    bool open_ = false;
    int units_ = 0;
    double openRemoval_ = 0;
    double openArrival_ = 0;
};

// The text of the first failing audit of the two, or empty.
std::string DescribeLateDelivery(const DeliveryAudit& video, const DeliveryAudit& audio);

class MuxSession;
// The end of a run: finishes both audits and, when either found a late unit or
// an overflow, reports the text to the session and returns MuxErrSequencing;
// otherwise 0.
int32_t JudgeDelivery(DeliveryAudit& video, DeliveryAudit& audio, MuxSession& session);
