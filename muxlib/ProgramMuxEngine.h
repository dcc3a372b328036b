// The pack engine of MPEG-2 program streams and SVCD streams: one PES packet per
// pack, scheduled against a model of the decoder's two input buffers.
#pragma once

#include "muxlib/DecoderBuffer.h"
#include "muxlib/DeliveryAudit.h"
#include "muxlib/MuxPackEngine.h"
#include "muxlib/PackWriters.h"

#include <array>
#include <cstdint>
#include <memory>

class UserDataPatchList;

// Books one packet's payload into the model of its stream's buffer: the bytes before
// its first access unit go to the unit still open (or, once that one has left, to a
// unit removed at `currentTime`), each access unit begins a unit of its own, and the
// bytes the records leave over go to the last one. `currentTime` follows the units.
void BookProgramPacket(DecoderBuffer& buffer, const PesPacketRecord& packet, uint32_t payload, uint64_t& currentTime);

class ProgramMuxEngine : public MuxPackEngine {
public:
    explicit ProgramMuxEngine(MuxSession& session);
    ~ProgramMuxEngine() override;

    int32_t Multiplex() override;
    int32_t Finish() override;
    void OptionsChanged() override;

    int32_t ScheduleProgramPacks();
    // The mux rate in 50 bytes/s units for the two streams' byte rates (either record
    // may be missing); stored as option 5, which is then used as it stands.
    virtual uint32_t ComputeMuxRate(const PesPacketRecord* audio, const PesPacketRecord* video);
    // The SVCD scan-information patch: through the sector cache when the output went
    // through it, else in the written file. 0 for other types.
    int32_t PatchScanInformation();
    // Writes out what the sector cache still holds without patching it, so that the
    // patch of the closed file can follow.
    int32_t FlushSectorCache();

    packwriters::SystemHeaderRecord systemHeader;
    uint32_t currentMuxRate = 1;
    uint32_t nextMuxRate = 1;
    uint32_t baseMuxRate = 1;
    uint64_t bytesWritten = 0;
    float videoBytesSent = 0;
    float audioBytesSent = 0;
    // Input buffers of the two streams in the decoder; 60 access units each are tracked.
    DecoderBuffer videoRing{60};
    DecoderBuffer audioRing{60};
    std::unique_ptr<UserDataPatchList> patchList;
    int64_t clockReference = 0;  // 27 MHz
    uint64_t bytesAtClockReference = 0;

    // Clock time without any packet going out after which a stream counts as one that
    // cannot be scheduled.
    static constexpr uint64_t MaxIdleTicks = 60 * 90000;
    static constexpr uint32_t MaxMuxRate = 0x3FFFFF;

protected:
    enum class WriteStep { Sinks, SectorCache };

    // The clock reference the next pack header would carry, 27 MHz.
    int64_t LookAheadClock() const;
    uint64_t ClockBase() const { return static_cast<uint64_t>(LookAheadClock()) / 300; }
    uint32_t WriteProgramPackHeader(uint8_t* buffer);
    // The writing steps; the transport stream engine writes the same decisions its own way.
    virtual int32_t WriteFirstPack();
    virtual int32_t WriteUnitPack(const PesPacketRecord& record);
    virtual int32_t WritePaddingPack();
    // A variable-rate stream lets its clock run on by one pack's time with nothing written.
    virtual int32_t SkipPack();
    int32_t WriteEndPack();
    int32_t Emit(const uint8_t* data, uint32_t length);
    int32_t Fail(int32_t status);
    void ReleaseDue();
    int32_t SendPacket(PesPacketQueue& queue, bool video);

    // The steps of one scheduling cycle. The limits of a run: the room of the two
    // buffer models, the interleaving (option 10) and the rate mode (option 4).
    struct ScheduleLimits {
        int64_t videoCapacity = 0, audioCapacity = 0;
        int32_t rateMode = 0, fixedMode = 0;
    };
    bool AudioFits(const ScheduleLimits& limits, const PesPacketRecord& a, uint64_t clockBase) const;
    bool VideoFits(const ScheduleLimits& limits, const PesPacketRecord& v, uint64_t clockBase) const;
    // Whether at clock `at` a unit leaves a buffer or either head packet fits.
    bool SomethingGoesAt(const ScheduleLimits& limits, const PesPacketRecord& a, const PesPacketRecord& v,
                         uint64_t at) const;
    // The rate of the next pack: the computed one, or with the adaptive rate the
    // base or lowered rate as the buffers fill.
    void AdaptMuxRate(const ScheduleLimits& limits, uint32_t rate, bool deadlineNear);
    void CountAudioStarvation();
    // The first pack with the first packet of each stream.
    int32_t StartProgramStream(uint32_t rate);
    // Whether the audio has fallen behind its share (option 10 = 1) or its time.
    bool AudioBehind(const ScheduleLimits& limits, const PesPacketRecord& a, const PesPacketRecord& v,
                     uint64_t clockBase) const;
    // Nothing can go now: the clock jumps (variable rate), a padding pack carries
    // a rate low enough for something to go (adaptive rate), or a padding pack.
    int32_t WaitForRoom(const ScheduleLimits& limits, const PesPacketRecord& a, const PesPacketRecord& v,
                        uint64_t clockBase);
    // The rate at which the next pack lets something go, within the clock gap.
    uint32_t SearchLowerRate(const ScheduleLimits& limits, const PesPacketRecord& a, const PesPacketRecord& v);
    // Books a packet just written against the decoder's view of its stream.
    void AuditPacket(const PesPacketRecord& record, bool video);
    int32_t Drain();

    WriteStep writeStep_ = WriteStep::Sinks;
    DeliveryAudit videoAudit_, audioAudit_;
    // Arrival of the first payload byte WriteUnitPack wrote (90 kHz) and the ticks between bytes.
    double lastPayloadStart_ = 0;
    double lastPerByte_ = 0;
    uint64_t clockAtLastSend_ = 0;
    bool rateSearched_ = false;  // the last padding pack carries a rate found by a clock search
    uint64_t emitted_ = 0;  // bytes handed to the write step  // clock base when a packet last went out
};
