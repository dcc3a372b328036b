// Readers of the system stream engine: they cut video start-code units and audio
// frames into packets that fill one pack each and note where access units begin.
#include "muxlib/MuxLib.h"
#include "muxlib/SequenceHeader.h"
#include "muxlib/StreamTables.h"
#include "muxlib/SystemMuxEngine.h"
#include "muxlib/VideoPeakRate.h"

#include <algorithm>

namespace {

using namespace muxtables;

// Stands in for a variable bit_rate field whose stream was not measured (units fed
// without the run call): the highest rate of constrained-parameter streams.
constexpr uint32_t VariableBitRateSubstitute = 1856000 / 400;

bool IsStartCode(const uint8_t* data, uint32_t length)
{
    return length >= 4 && data[0] == 0 && data[1] == 0 && data[2] == 1;
}

}  // namespace

int32_t SystemVideoReader::Feed(const uint8_t* data, uint32_t length)
{
    if (!IsStartCode(data, length)) return MuxErrVideoStream;
    const uint8_t code = data[3];
    if (!started) startBytes += length;

    if (code == 0xB3 && !haveSequence_) {
        if (length < SequenceHeaderBytes) return MuxErrVideoStream;
        const SequenceHeader sequence = ParseSequenceHeader(data + 4);
        if (sequence.pictureRate == nullptr) return MuxErrVideoStream;
        rateNum_ = sequence.pictureRate->num;
        rateDen_ = sequence.pictureRate->den;
        period_ = sequence.pictureRate->ticks;
        bitRate = sequence.bitRate;
        if (!sequence.markerBit) return MuxErrVideoStream;
        if (bitRate == VariableBitRateCode && engine_.MeasuredVideoRate() != 0)
            bitRate = engine_.MeasuredVideoRate();
        else if (bitRate == VariableBitRateCode || bitRate == 0)
            bitRate = VariableBitRateSubstitute;
        streamVbvBytes = sequence.VbvBufferBytes();
        haveSequence_ = true;
    } else if (code == 0xB5 && length >= 5 && data[4] >> 4 == 1) {
        // A sequence extension: MPEG-2 video, which neither stream of this engine carries.
        return MuxErrVideoStream;
    } else if (code == 0xB8) {
        picturesSinceGop_ = 0;
    } else if (code == 0x00) {
        if (length < 8) return MuxErrVideoStream;
        havePicture = true;
        const int64_t temporalReference = int64_t{data[4]} << 2 | data[5] >> 6;
        if (!started) {
            vbvDelay = (uint32_t{data[5]} & 7) << 13 | uint32_t{data[6]} << 5 | data[7] >> 3;
            if (picturesBeforeStart_ == 0) firstVbvDelay = vbvDelay;
            if (++picturesBeforeStart_ == 2) {
                startBytes -= length;
                started = true;
                engine_.StreamStarted();
            }
        }
        const uint64_t decode = pictureCount_ * 90000 * rateDen_ / rateNum_;
        const int64_t reorder = std::max<int64_t>(0, temporalReference - picturesSinceGop_ + 1);
        const uint64_t present = decode + static_cast<uint64_t>(reorder) * period_;
        if (!haveMinPts || present < minPts) minPts = present;
        haveMinPts = true;

        if (!packet_ || packet_->stamps == 0) {
            const int stamps = reorder > 0 ? 2 : 1;
            if (packet_) {
                SystemPacket probe;
                probe.systemHeaderRoom = packet_->systemHeaderRoom;
                probe.stamps = stamps;
                if (probe.HeaderSpace() + packet_->payload.size() >= engine_.Parameters().packSize) FinishPacket();
            }
            StartPacket();
            packet_->stamps = stamps;
            packet_->pts = present;
            packet_->dts = decode;
            packet_->units.push_back({decode, static_cast<uint32_t>(packet_->payload.size())});
        } else if (packet_->units.size() < 10) {
            packet_->units.push_back({decode, static_cast<uint32_t>(packet_->payload.size())});
        }
        ++pictureCount_;
        ++picturesSinceGop_;
    }
    Append(data, length);
    return 0;
}

void SystemVideoReader::StartPacket()
{
    if (packet_) return;
    packet_ = std::make_unique<SystemPacket>();
    packet_->streamId = 0xE0;
    packet_->systemHeaderRoom = firstPacket_ && engine_.Parameters().muxType != MuxTypeVideoCd;
    firstPacket_ = false;
}

void SystemPacketBuilder::Append(const uint8_t* data, size_t length)
{
    const uint32_t packSize = engine_.Parameters().packSize;
    while (length > 0) {
        StartPacket();
        const size_t room = packSize - packet_->HeaderSpace() - packet_->payload.size();
        const size_t n = std::min(room, length);
        packet_->payload.insert(packet_->payload.end(), data, data + n);
        data += n;
        length -= n;
        if (packet_->HeaderSpace() + packet_->payload.size() >= packSize) FinishPacket();
    }
}

void SystemPacketBuilder::FinishPacket()
{
    if (packet_ && !packet_->payload.empty()) engine_.Queue(std::move(packet_));
    packet_.reset();
}

void SystemPacketBuilder::Flush()
{
    if (!started) {
        started = true;
        engine_.StreamStarted();
    }
    FinishPacket();
}

int32_t SystemAudioReader::Feed(const uint8_t* data, uint32_t length)
{
    static const uint8_t endCode[4] = {0x00, 0x00, 0x01, 0xB9};
    if (length == 4 && std::equal(data, data + 4, endCode)) return 0;
    // MPEG-1 Layer II or III frames only.
    if (length < 4 || data[0] != 0xFF || (data[1] & 0xF8) != 0xF8) return MuxErrAudioStream;
    const uint32_t layer = (data[1] & 6) >> 1;
    if (layer != 1 && layer != 2) return MuxErrAudioStream;
    if (sampleRate_ == 0) {
        const uint32_t rateIndex = data[2] >> 4;
        const uint32_t sampleIndex = (data[2] >> 2) & 3;
        if (rateIndex == 0 || rateIndex == 15 || sampleIndex == 3) return MuxErrAudioStream;
        kbitRate = layer == 2 ? Layer2Kbps[rateIndex] : Layer3Kbps[rateIndex];
        sampleRate_ = SampleRates[sampleIndex];
    }
    if (!started) {
        started = true;
        engine_.StreamStarted();
    }
    const uint64_t present = frameCount_ * 1152 * 90000 / sampleRate_;
    if (!packet_ || packet_->stamps == 0) {
        if (packet_) {
            SystemPacket probe;
            probe.stamps = 1;
            if (probe.HeaderSpace() + packet_->payload.size() >= engine_.Parameters().packSize) FinishPacket();
        }
        StartPacket();
        packet_->stamps = 1;
        packet_->pts = present;
        packet_->dts = present;
        packet_->units.push_back({present, static_cast<uint32_t>(packet_->payload.size())});
    } else if (packet_->units.size() < 10) {
        packet_->units.push_back({present, static_cast<uint32_t>(packet_->payload.size())});
    }
    ++frameCount_;
    Append(data, length);
    return 0;
}

void SystemAudioReader::StartPacket()
{
    if (packet_) return;
    packet_ = std::make_unique<SystemPacket>();
    packet_->streamId = 0xC0;
}

