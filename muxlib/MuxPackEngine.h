// The base of the pack engines of the program stream family and the readers that
// turn video start-code units and audio frames into finished PES packets for them.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

class MuxSession;

// Description of one elementary stream, shared by every packet that carries it.
struct QueuedUnit {
    virtual ~QueuedUnit() = default;
    uint32_t byteRate = 0;  // bytes per second
};

struct QueuedVideoUnit : QueuedUnit {
    uint32_t rateNum = 1;  // pictures per second = rateNum / rateDen
    uint32_t rateDen = 1;
    uint32_t ticksPerPicture = 1;
    uint32_t picturesSinceGop = 0;
    uint32_t lastTemporalReference = 0;
    uint64_t pictureCount = 0;
    uint32_t vbvBytes = 0;
    int32_t profileCode = 0;
    int32_t levelCode = 0;
};

struct QueuedAudioUnit : QueuedUnit {
    uint32_t sampleRate = 0;
    uint32_t frameLength = 0;
    uint64_t frameCount = 0;
};

struct PesAccessUnit {
    uint64_t time = 0;
    uint32_t bytes = 0;
    uint32_t offset = 0;  // in the payload; gives the byte count when the packet is finished
    uint8_t hint = 0;     // DVD: picture type in bits 0-1 (1 I, 2 P, 3 B), 0x08 for audio frames
};

// One PES packet: while it is filled, `bytes` holds 9 bytes of header room and the
// payload; once finished, the whole packet (header, payload, inner padding packet).
struct PesPacketRecord {
    static constexpr uint32_t FlagPts = 1;
    static constexpr uint32_t FlagDts = 2;

    std::vector<uint8_t> bytes;
    uint32_t totalLength = 0;
    uint32_t headerLength = 0;
    std::shared_ptr<QueuedUnit> stream;
    uint32_t flags = 0;  // bits 0-1 as above; upper 16 bits the PTS/DTS field length 5 or 10
    uint64_t pts = 0;
    uint64_t dts = 0;
    std::array<PesAccessUnit, 10> units{};
    uint32_t unitCount = 0;
    uint32_t leadingBytes = 0;
    uint32_t userDataOffset = 0;  // where an I picture's user data placeholder begins in the packet, 0 when none
    int32_t iPicturePayloadOffset = -1;  // the same in the payload while the packet is filled
    // Scan records other pictures carry (as other encoders write them): in the payload while
    // the packet is filled, then in the packet.
    std::vector<uint32_t> otherRecordOffsets;
    // SVCD: where I pictures begin, kept as the record offsets are.
    std::vector<uint32_t> iPictureStartOffsets;
    std::vector<uint8_t> extension;
    // DVD: header bytes kept free (as stuffing) for a P-STD extension, and where they are.
    uint32_t reserve = 0;
    uint32_t reserveAt = 0;
    bool startsVobu = false;    // DVD: the packet begins with a sequence header
    bool lastUnitEnds = false;  // DVD: the last access unit that begins here also ends here

    uint32_t FieldLength() const { return flags >> 16; }
    uint32_t PayloadLength() const { return totalLength - headerLength; }
};

using PesPacketQueue = std::deque<std::unique_ptr<PesPacketRecord>>;

// Builds a padding packet of n bytes in all (n >= 6).
std::unique_ptr<PesPacketRecord> MakePaddingPacket(uint32_t n);

class DeliveryAudit;
// Books the access units of a finished packet whose payload begins to arrive at
// `payloadStart` (90 kHz) and takes `perByte` ticks a byte, then the buffer's fill
// after it (`occupancy` of `bufferBytes`).
void AuditPesPacket(DeliveryAudit& audit, const PesPacketRecord& record, double payloadStart, double perByte,
                    int64_t occupancy, int64_t bufferBytes);

class MuxPackEngine;

// Pack geometry and the reader state of a pack engine.
class PackGeometry {
public:
    static constexpr uint64_t NoPresentationTime = 134217727;

    explicit PackGeometry(MuxPackEngine& engine) : engine_(engine) {}

    int32_t FeedVideo(const uint8_t* data, uint32_t length);
    int32_t FeedAudio(const uint8_t* data, uint32_t length);
    int32_t FlushAudio();
    int32_t FlushVideo();
    // Both streams have started: the engines wait for this before scheduling.
    bool Ready() const { return videoReady && audioStartBytes > 0; }

    uint32_t packSize = 2048;
    uint32_t packetsPerPack = 1;
    uint32_t packetSize = 2034;

    int64_t startDelay = 0;
    uint64_t firstPresentationTime = NoPresentationTime;
    uint32_t audioStartBytes = 0;
    bool videoReady = false;
    uint32_t picturesBeforeReady = 0;
    uint64_t videoStartBytes = 0;
    bool counting = true;
    uint32_t firstVbvDelay = 0;
    uint32_t firstPictureVbvDelay = 0xFFFF;  // of the first picture header; 0xFFFF names none
    uint32_t streamVbvBytes = 0;             // buffer size of the first sequence header
    bool delayApplied = false;

    // From the application's settings: VBV buffer bytes, profile and level codes.
    uint32_t settingsVbvBytes = 0;
    int32_t settingsProfileCode = 0;
    int32_t settingsLevelCode = 0;

    std::shared_ptr<QueuedVideoUnit> video;
    std::shared_ptr<QueuedAudioUnit> audio;
    std::unique_ptr<PesPacketRecord> videoPacket;
    std::unique_ptr<PesPacketRecord> audioPacket;

private:
    int32_t FeedAudioFrame(const uint8_t* data, uint32_t length);
    std::unique_ptr<PesPacketRecord> StartPacket(const std::shared_ptr<QueuedUnit>& stream, bool video);
    void Append(std::unique_ptr<PesPacketRecord>& packet, const uint8_t* data, size_t length, uint8_t streamId);
    void FinishPacket(std::unique_ptr<PesPacketRecord>& packet, uint8_t streamId, bool unitEnds = false);
    bool Dvd() const;
    uint32_t HeaderRoom(const PesPacketRecord& p) const;
    void ComputeStartDelay();
    void ApplyDelay(PesPacketRecord& p, int64_t delay, bool written);
    void MarkVideoReady();
    void ForceReady();
    int32_t FeedHeldAudio();

    MuxPackEngine& engine_;
    std::vector<uint8_t> heldAudio_;
    bool scanUserDataPending_ = false;  // an SVCD I picture whose user data has not come yet
};

// Abstract pack engine: queues of finished packets and the readers that fill them.
class MuxPackEngine {
public:
    explicit MuxPackEngine(MuxSession& session) : session(session), geometry(*this) {}
    virtual ~MuxPackEngine() = default;
    MuxPackEngine(const MuxPackEngine&) = delete;
    MuxPackEngine& operator=(const MuxPackEngine&) = delete;

    virtual int32_t Multiplex() = 0;
    virtual int32_t Finish() = 0;
    virtual void OptionsChanged() {}
    // Reloads pack size and packets per pack from the session's options.
    void RefreshGeometry();

    MuxSession& session;
    PesPacketQueue audioQueue;
    PesPacketQueue videoQueue;
    PackGeometry geometry;
    uint64_t currentVideoTime = 0;
    uint64_t currentAudioTime = 0;
    int32_t audioStarvation = 100;
    // Peak rate of a variable-rate video stream (400 bit/s units), measured before the run; 0 when none.
    uint32_t measuredVideoRate = 0;
};
