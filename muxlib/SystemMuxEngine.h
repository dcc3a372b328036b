// The engine of MPEG-1 system streams and Video-CD streams: its readers cut the
// elementary streams into packets, the engine schedules them into packs against a
// model of the decoder's input buffers.
#pragma once

#include "muxlib/DecoderBuffer.h"
#include "muxlib/DeliveryAudit.h"

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

class MuxSession;
class SystemMuxEngine;

// An access unit that begins in a packet: its time (before the start-up offset is
// added) and where it begins in the payload.
struct SystemAccessUnit {
    uint64_t time = 0;
    uint32_t offset = 0;
};

// One packet under construction or queued. Time stamps stay relative until the
// engine writes the packet, when the start-up offsets are known.
struct SystemPacket {
    uint8_t streamId = 0;
    bool systemHeaderRoom = false;  // first video packet of an MPEG-1 stream
    int stamps = 0;                 // 0 none, 1 PTS, 2 PTS and DTS
    uint64_t pts = 0;
    uint64_t dts = 0;
    std::vector<uint8_t> payload;
    std::vector<SystemAccessUnit> units;  // at most ten

    // Bytes of the pack in front of the payload: pack header, system header room,
    // packet start code, length, buffer field and time-stamp field.
    uint32_t HeaderSpace() const { return 21u + (systemHeaderRoom ? 18u : 0u) + (stamps == 2 ? 9u : stamps == 1 ? 4u : 0u); }
};

using SystemPacketQueue = std::deque<std::unique_ptr<SystemPacket>>;

// The parameters both readers share, refreshed after every option store.
struct SystemStreamParameters {
    int32_t muxType = 0;
    uint32_t packSize = 2048;
    int32_t videoBound = 0;
    int32_t audioBound = 0;
};

// Cuts one elementary stream into the engine's packets; the readers below add
// what their stream's headers say.
class SystemPacketBuilder {
public:
    explicit SystemPacketBuilder(SystemMuxEngine& engine) : engine_(engine) {}
    void Flush();

    bool started = false;

protected:
    virtual void StartPacket() = 0;
    void Append(const uint8_t* data, size_t length);
    void FinishPacket();

    SystemMuxEngine& engine_;
    std::unique_ptr<SystemPacket> packet_;
};

class SystemVideoReader : public SystemPacketBuilder {
public:
    explicit SystemVideoReader(SystemMuxEngine& engine) : SystemPacketBuilder(engine) {}
    int32_t Feed(const uint8_t* data, uint32_t length);

    uint64_t startBytes = 0;       // bytes before the second picture
    uint32_t vbvDelay = 0;         // vbv_delay of the last picture before the start
    uint32_t firstVbvDelay = 0xFFFF;  // vbv_delay of the first picture
    uint32_t streamVbvBytes = 0;   // buffer size the sequence header names
    uint32_t bitRate = 0;          // 400 bit/s units
    bool havePicture = false;
    bool haveMinPts = false;
    uint64_t minPts = 0;           // earliest presentation time, relative

private:
    void StartPacket() override;

    bool firstPacket_ = true;
    bool haveSequence_ = false;
    uint32_t rateNum_ = 1;  // pictures per second = rateNum_ / rateDen_
    uint32_t rateDen_ = 1;
    uint32_t period_ = 1;   // 90 kHz ticks per picture
    uint64_t pictureCount_ = 0;
    uint32_t picturesSinceGop_ = 0;
    uint32_t picturesBeforeStart_ = 0;
};

class SystemAudioReader : public SystemPacketBuilder {
public:
    explicit SystemAudioReader(SystemMuxEngine& engine) : SystemPacketBuilder(engine) {}
    int32_t Feed(const uint8_t* data, uint32_t length);

    uint32_t kbitRate = 0;

private:
    void StartPacket() override;

    uint32_t sampleRate_ = 0;
    uint64_t frameCount_ = 0;
};

class SystemMuxEngine {
public:
    explicit SystemMuxEngine(MuxSession& session);

    void OptionsChanged();
    int32_t FeedVideo(const uint8_t* data, uint32_t length);
    int32_t FeedAudio(const uint8_t* data, uint32_t length);
    // Writes every pack that can be written now.
    int32_t Step();
    // Drains both streams at the end of the input.
    int32_t Finish();

    // Called by the readers.
    void Queue(std::unique_ptr<SystemPacket> packet);
    void StreamStarted();
    void ReportStatus(int32_t status);

    // Peak rate of a variable-rate video stream, 400 bit/s units (0 when unknown).
    void SetMeasuredVideoRate(uint32_t bitRate) { measuredVideoRate_ = bitRate; }
    uint32_t MeasuredVideoRate() const { return measuredVideoRate_; }

    const SystemStreamParameters& Parameters() const { return params_; }
    uint32_t MuxRate() const { return muxRate_; }
    int64_t StartDelay() const { return startDelay_; }
    uint64_t PackCount() const { return packCount_; }

private:
    uint64_t ClockReference() const;
    void ComputeTiming();
    void ComputeMuxRate();
    int32_t WritePacket(SystemPacketQueue& queue, DecoderBuffer& model, bool video);
    int32_t WriteVideoCdStart();
    int32_t AdvanceClock();
    // Moves the clock on, pack by pack, until one of the buffers releases bytes.
    int32_t WaitForRelease(const DecoderBuffer& first, const DecoderBuffer* second);
    // A packet larger than its stream's whole buffer can never be sent.
    int32_t CheckFits(int64_t bytes, bool video);
    int32_t WriteEndPack();
    int32_t WritePackBytes(const std::vector<uint8_t>& pack);
    void PutPackHeader(std::vector<uint8_t>& out, uint64_t scr) const;
    void PutSystemHeader(std::vector<uint8_t>& out) const;

    MuxSession& session_;
    SystemStreamParameters params_;
    SystemVideoReader video_{*this};
    SystemAudioReader audio_{*this};
    SystemPacketQueue videoQueue_;
    SystemPacketQueue audioQueue_;
    // Input buffers of the two streams in the decoder; 146 access units each are tracked.
    DecoderBuffer videoModel_{146};
    DecoderBuffer audioModel_{146};
    DeliveryAudit videoAudit_, audioAudit_;
    uint32_t muxRate_ = 0;
    uint32_t measuredVideoRate_ = 0;
    bool systemHeaderPending_ = true;
    bool timingKnown_ = false;
    bool firstPacksDone_ = false;
    int64_t startDelay_ = 0;
    uint64_t audioOrigin_ = 0;
    uint64_t bytesWritten_ = 0;
    uint64_t packCount_ = 0;
};
