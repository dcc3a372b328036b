// Readers of the pack engines: video start-code units and audio frames become
// MPEG-2 PES packets with time stamps and the access units that begin in them.
#include "muxlib/DeliveryAudit.h"
#include "muxlib/MuxLib.h"
#include "muxlib/MuxPackEngine.h"
#include "muxlib/MuxSession.h"
#include "muxlib/PackWriters.h"
#include "muxlib/ScanInformation.h"
#include "muxlib/SequenceHeader.h"
#include "muxlib/StartDelay.h"
#include "muxlib/StreamTables.h"
#include "muxlib/VideoPeakRate.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace {

using namespace muxtables;
using packwriters::PutTimeStamp;

// Picture header, coding extension and user data of an I picture, with room to spare.
constexpr size_t IPictureHeadBytes = 64;

}  // namespace

void AuditPesPacket(DeliveryAudit& audit, const PesPacketRecord& record, double payloadStart, double perByte,
                    int64_t occupancy, int64_t bufferBytes)
{
    std::array<uint64_t, std::tuple_size_v<decltype(record.units)>> removals{};
    std::array<uint32_t, std::tuple_size_v<decltype(record.units)>> offsets{};
    const uint32_t count = std::min<uint32_t>(record.unitCount, static_cast<uint32_t>(removals.size()));
    for (uint32_t i = 0; i < count; ++i) {
        removals[i] = record.units[i].time;
        offsets[i] = record.units[i].offset;
    }
    audit.Packet(payloadStart, perByte, record.PayloadLength(), record.leadingBytes, removals.data(), offsets.data(),
                 count);
    audit.Fill(occupancy, bufferBytes);
}

std::unique_ptr<PesPacketRecord> MakePaddingPacket(uint32_t n)
{
    auto p = std::make_unique<PesPacketRecord>();
    n = std::max<uint32_t>(n, 6);
    p->bytes.resize(n);
    packwriters::WritePaddingPacket(p->bytes.data(), n);
    p->totalLength = n;
    p->headerLength = 6;
    return p;
}

void MuxPackEngine::RefreshGeometry()
{
    const int32_t packSize = session.Option(6);
    if (packSize >= 64 && packSize <= 65535) geometry.packSize = static_cast<uint32_t>(packSize);
    geometry.packetsPerPack = static_cast<uint32_t>(std::max(1, session.Option(1)));
    geometry.packetSize = (geometry.packSize - 14) / geometry.packetsPerPack;
    geometry.settingsVbvBytes = session.videoVbvBytes;
    geometry.settingsProfileCode = session.videoProfileCode;
    geometry.settingsLevelCode = session.videoLevelCode;
}

bool PackGeometry::Dvd() const
{
    return engine_.session.Option(0) == MuxTypeDvdVolume;
}

uint32_t PackGeometry::HeaderRoom(const PesPacketRecord& p) const
{
    return 9 + p.FieldLength() + static_cast<uint32_t>(p.extension.size()) + p.reserve;
}

std::unique_ptr<PesPacketRecord> PackGeometry::StartPacket(const std::shared_ptr<QueuedUnit>& stream, bool video)
{
    auto p = std::make_unique<PesPacketRecord>();
    p->bytes.reserve(packetSize);
    p->bytes.assign(9, 0);
    p->stream = stream;
    // A DVD audio packet may become the first of its video object unit, which
    // carries the 3-byte P-STD extension: the room is kept from the start.
    if (!video && Dvd()) p->reserve = 3;
    return p;
}

void PackGeometry::FinishPacket(std::unique_ptr<PesPacketRecord>& packet, uint8_t streamId, bool unitEnds)
{
    if (!packet) return;
    PesPacketRecord& p = *packet;
    std::vector<uint8_t> payload(p.bytes.begin() + 9, p.bytes.end());
    const uint32_t field = p.FieldLength();
    const uint32_t extension = static_cast<uint32_t>(p.extension.size());
    const uint32_t headerData = field + extension + p.reserve;
    int64_t diff = int64_t{9} + static_cast<int64_t>(payload.size()) + headerData - packetSize;
    std::vector<uint8_t> carry;
    if (diff > 0) {
        carry.assign(payload.end() - diff, payload.end());
        payload.erase(payload.end() - diff, payload.end());
        diff = 0;
    }
    p.lastUnitEnds = unitEnds && carry.empty();
    const uint32_t stuffing = diff >= -7 ? static_cast<uint32_t>(-diff) : 0;
    const uint32_t payloadLength = static_cast<uint32_t>(payload.size());

    std::vector<uint8_t>& b = p.bytes;
    b.clear();
    packwriters::PesHeaderFields header;
    header.streamId = streamId;
    header.payloadLength = payloadLength;
    header.stamps = field == 10 ? 2 : field == 5 ? 1 : 0;
    header.pts = p.pts;
    header.dts = p.dts;
    header.extension = p.extension.data();
    header.extensionLength = extension;
    // Bytes reserved for an extension stand as the first stuffing bytes until used.
    header.stuffing = stuffing + p.reserve;
    packwriters::AppendPesHeader(b, header);
    p.extension.clear();
    p.reserveAt = p.reserve > 0 ? static_cast<uint32_t>(b.size()) - stuffing - p.reserve : 0;
    p.headerLength = static_cast<uint32_t>(b.size());
    b.insert(b.end(), payload.begin(), payload.end());
    p.totalLength = static_cast<uint32_t>(b.size());
    if (p.iPicturePayloadOffset >= 0 && static_cast<uint32_t>(p.iPicturePayloadOffset) < payloadLength)
        p.userDataOffset = p.headerLength + static_cast<uint32_t>(p.iPicturePayloadOffset);
    // Offsets in the payload become offsets in the packet; those in the bytes carried over go with them.
    auto carryOffsets = [&](std::vector<uint32_t>& offsets) {
        std::vector<uint32_t> carried;
        for (uint32_t& offset : offsets) {
            if (offset >= payloadLength) carried.push_back(offset - payloadLength);
            offset += p.headerLength;
        }
        std::erase_if(offsets, [&](uint32_t o) { return o >= p.headerLength + payloadLength; });
        return carried;
    };
    std::vector<uint32_t> carriedRecords = carryOffsets(p.otherRecordOffsets);
    std::vector<uint32_t> carriedStarts = carryOffsets(p.iPictureStartOffsets);

    // Byte counts of the access units: up to the next one, the last up to the packet's end.
    for (uint32_t i = 0; i < p.unitCount; ++i) {
        const uint32_t end = i + 1 < p.unitCount ? p.units[i + 1].offset : payloadLength;
        if (p.units[i].bytes == 0) p.units[i].bytes = end > p.units[i].offset ? end - p.units[i].offset : 0;
    }
    p.leadingBytes = p.unitCount > 0 ? std::min(p.units[0].offset, payloadLength) : payloadLength;

    if (p.totalLength + 8 <= packetSize && engine_.session.Option(0) != MuxTypeTransport) {
        auto padding = MakePaddingPacket(packetSize - p.totalLength);
        b.insert(b.end(), padding->bytes.begin(), padding->bytes.end());
        p.totalLength = static_cast<uint32_t>(b.size());
    }

    std::shared_ptr<QueuedUnit> stream = p.stream;
    (streamId == 0xE0 ? engine_.videoQueue : engine_.audioQueue).push_back(std::move(packet));
    packet.reset();
    if (!carry.empty()) {
        const int32_t placeholder = p.iPicturePayloadOffset;
        packet = StartPacket(stream, streamId == 0xE0);
        packet->bytes.insert(packet->bytes.end(), carry.begin(), carry.end());
        // A placeholder carried over is recorded in the packet that holds it.
        if (placeholder >= 0 && static_cast<uint32_t>(placeholder) >= payloadLength)
            packet->iPicturePayloadOffset = placeholder - static_cast<int32_t>(payloadLength);
        packet->otherRecordOffsets = std::move(carriedRecords);
        packet->iPictureStartOffsets = std::move(carriedStarts);
    }
}

void PackGeometry::Append(std::unique_ptr<PesPacketRecord>& packet, const uint8_t* data, size_t length,
                          uint8_t streamId)
{
    const bool isVideo = streamId == 0xE0;
    while (length > 0) {
        if (!packet) {
            std::shared_ptr<QueuedUnit> stream = isVideo ? std::shared_ptr<QueuedUnit>(video) : audio;
            packet = StartPacket(stream, isVideo);
        }
        const size_t used = HeaderRoom(*packet) + packet->bytes.size() - 9;
        const size_t room = packetSize > used ? packetSize - used : 0;
        const size_t n = std::min(room, length);
        packet->bytes.insert(packet->bytes.end(), data, data + n);
        data += n;
        length -= n;
        if (HeaderRoom(*packet) + packet->bytes.size() - 9 >= packetSize) FinishPacket(packet, streamId);
    }
}

void PackGeometry::ApplyDelay(PesPacketRecord& p, int64_t delay, bool written)
{
    if ((p.flags & 3) == 0 && p.unitCount == 0) return;
    if (p.flags & 3) {
        p.pts += static_cast<uint64_t>(delay);
        p.dts += static_cast<uint64_t>(delay);
    }
    for (uint32_t i = 0; i < p.unitCount; ++i) p.units[i].time += static_cast<uint64_t>(delay);
    if (written && p.FieldLength() >= 5 && p.bytes.size() >= 19) {
        const bool dts = p.FieldLength() == 10;
        PutTimeStamp(&p.bytes[9], dts ? 3 : 2, p.pts);
        if (dts) PutTimeStamp(&p.bytes[14], 1, p.dts);
    }
}

void PackGeometry::ComputeStartDelay()
{
    if (delayApplied || !Ready()) return;
    const double payloadPerPack = packSize > 23 ? packSize - 23.0 : 1.0;
    const uint32_t videoRate = video ? video->byteRate : 0;
    const uint32_t audioRate = audio ? audio->byteRate : 0;
    double rate;
    if (engine_.session.Option(5) > 0) {
        rate = engine_.session.Option(5) * 50.0;
    } else {
        rate = std::ceil(((14.0 / packetsPerPack + 9.0) / packetSize + 1.0) * (videoRate + audioRate));
        rate = std::trunc(rate * (engine_.session.Option(4) != 0 ? 1.025 : 1.085));
    }
    if (rate < 1000) rate = 1000;
    const double packs = std::ceil(static_cast<double>(videoStartBytes) / payloadPerPack) +
                         std::ceil(audioStartBytes / payloadPerPack);
    int64_t delay = static_cast<int64_t>(packs * packSize / rate * 90000.0) + firstVbvDelay / 2;
    delay = std::max(delay, static_cast<int64_t>(muxlib::VideoStartWait(rate, packSize, payloadPerPack, videoRate, audioRate,
                                                                         audioStartBytes, firstPictureVbvDelay,
                                                                         streamVbvBytes)));
    if (engine_.session.Option(0) == MuxTypeSvcd) delay += 12000;
    startDelay = delay;
    delayApplied = true;
    for (auto& p : engine_.videoQueue) ApplyDelay(*p, delay, true);
    for (auto& p : engine_.audioQueue) ApplyDelay(*p, delay, true);
    if (videoPacket) ApplyDelay(*videoPacket, delay, false);
    if (audioPacket) ApplyDelay(*audioPacket, delay, false);
}

void PackGeometry::MarkVideoReady()
{
    counting = false;
    videoReady = true;
    ComputeStartDelay();
}

int32_t PackGeometry::FeedVideo(const uint8_t* data, uint32_t length)
{
    if (data == nullptr || length < 4 || data[0] != 0 || data[1] != 0 || data[2] != 1) return MuxErrVideoStream;
    const bool svcd = engine_.session.Option(0) == MuxTypeSvcd;
    const uint8_t code = data[3];
    if (counting) videoStartBytes += length;

    if (code == 0xB3 && Dvd()) {
        if (length < 12) return MuxErrVideoStream;
        // Every sequence header begins a video object unit: a packet and a stream
        // description of its own, the timing carried over from the last one.
        if (videoPacket && videoPacket->bytes.size() > 9) FinishPacket(videoPacket, 0xE0, true);
        video = video ? std::make_shared<QueuedVideoUnit>(*video) : std::make_shared<QueuedVideoUnit>();
        if (!videoPacket) videoPacket = StartPacket(video, true);
        videoPacket->stream = video;
        videoPacket->startsVobu = true;
    }
    if (code == 0xB3) {
        if (length < 12) return MuxErrVideoStream;
        if (!video) video = std::make_shared<QueuedVideoUnit>();
        if (videoPacket && !Dvd()) {
            const uint32_t payload = static_cast<uint32_t>(videoPacket->bytes.size() - 9);
            if ((svcd && payload > 0) || ((videoPacket->flags & 3) == 0 && payload + 9 > packSize / 2))
                FinishPacket(videoPacket, 0xE0);
        }
        if (!videoPacket) {
            videoPacket = StartPacket(video, true);
            if (svcd) videoPacket->extension = {0x1E, 0x60, 0xE6};
        }
        const SequenceHeader sequence = ParseSequenceHeader(data + 4);
        if (sequence.pictureRate == nullptr) return MuxErrVideoStream;
        video->rateNum = sequence.pictureRate->num;
        video->rateDen = sequence.pictureRate->den;
        video->ticksPerPicture = sequence.pictureRate->ticks;
        uint32_t bitRate = sequence.bitRate;
        if (!sequence.markerBit) return MuxErrVideoStream;
        // The variable-rate code is no rate: the stream's measured peak stands in for it.
        if (bitRate == VariableBitRateCode && engine_.measuredVideoRate != 0) bitRate = engine_.measuredVideoRate;
        video->byteRate = bitRate * 50;
        if (streamVbvBytes == 0) streamVbvBytes = sequence.VbvBufferBytes();
        video->vbvBytes = settingsVbvBytes;
        video->profileCode = settingsProfileCode;
        video->levelCode = settingsLevelCode;
    } else if (code == 0xB8) {
        if (videoPacket && (videoPacket->flags & 3) == 0 &&
            videoPacket->bytes.size() - 9 + length + 14 > packSize)
            FinishPacket(videoPacket, 0xE0, true);
        if (video) {
            video->picturesSinceGop = 0;
            video->lastTemporalReference = 0;
        }
    } else if (code == 0x00) {
        if (length < 8) return MuxErrVideoStream;
        if (!video) video = std::make_shared<QueuedVideoUnit>();
        const uint32_t temporalReference = uint32_t{data[4]} << 2 | data[5] >> 6;
        const uint32_t pictureType = (data[5] >> 3) & 7;
        const uint32_t vbvDelay = (uint32_t{data[5]} & 7) << 13 | uint32_t{data[6]} << 5 | data[7] >> 3;
        if (counting && ++picturesBeforeReady == 1) firstPictureVbvDelay = vbvDelay;
        if (counting && picturesBeforeReady == 2) {
            videoStartBytes -= length;
            firstVbvDelay = vbvDelay;
            MarkVideoReady();
        }
        QueuedVideoUnit& v = *video;
        const uint64_t decode = v.pictureCount * 90000 * v.rateDen / v.rateNum + static_cast<uint64_t>(startDelay);
        if (!videoPacket) videoPacket = StartPacket(video, true);
        scanUserDataPending_ = svcd && pictureType == 1;
        // An SVCD I picture's header and the user data after it go into one packet, so
        // that its scan information lies in the sector where the picture begins.
        // A packet records one placeholder: an I picture after another starts a packet of its own.
        if (scanUserDataPending_ && videoPacket->bytes.size() > 9 &&
            (videoPacket->iPicturePayloadOffset >= 0 ||
             HeaderRoom(*videoPacket) + videoPacket->bytes.size() - 9 + 10 + IPictureHeadBytes >= packetSize)) {
            FinishPacket(videoPacket, 0xE0);
            if (!videoPacket) videoPacket = StartPacket(video, true);
        }
        if ((videoPacket->flags & 3) == 0) {
            const int64_t reorder = std::max<int64_t>(0, int64_t{temporalReference} - v.picturesSinceGop + 1);
            const uint64_t present = decode + static_cast<uint64_t>(reorder) * v.ticksPerPicture;
            firstPresentationTime = std::min(firstPresentationTime, present - static_cast<uint64_t>(startDelay));
            // The picture must begin inside the packet that carries its time stamps.
            if (HeaderRoom(*videoPacket) + videoPacket->bytes.size() - 9 + (reorder != 0 ? 10 : 5) >= packetSize) {
                FinishPacket(videoPacket, 0xE0, true);
                if (!videoPacket) videoPacket = StartPacket(video, true);
            }
            videoPacket->pts = present;
            videoPacket->dts = decode;
            videoPacket->flags = PesPacketRecord::FlagPts | PesPacketRecord::FlagDts | (reorder != 0 ? 10u : 5u) << 16;
        }
        PesPacketRecord& p = *videoPacket;
        if (p.unitCount < 10) {
            const uint32_t offset = static_cast<uint32_t>(p.bytes.size() - 9);
            if (p.unitCount > 0) p.units[p.unitCount - 1].bytes = offset - p.units[p.unitCount - 1].offset;
            p.units[p.unitCount++] = {decode, 0, offset, static_cast<uint8_t>(pictureType <= 3 ? pictureType : 0)};
        }
        // The sector where an I picture begins is the one its neighbours point at.
        if (scanUserDataPending_) p.iPictureStartOffsets.push_back(static_cast<uint32_t>(p.bytes.size() - 9));
        v.lastTemporalReference = temporalReference;
        ++v.picturesSinceGop;
        ++v.pictureCount;
    } else if (code == 0xB2 && svcd && IsScanRecordSlot(data, length)) {
        // The place the scan information goes: recorded where it begins, whole in one packet
        // (also when the packet before it has just been filled).
        if (videoPacket && videoPacket->bytes.size() > 9 &&
            HeaderRoom(*videoPacket) + videoPacket->bytes.size() - 9 + length > packetSize)
            FinishPacket(videoPacket, 0xE0);
        if (!videoPacket) videoPacket = StartPacket(video, true);
        const auto offset = static_cast<uint32_t>(videoPacket->bytes.size() - 9);
        if (scanUserDataPending_)
            videoPacket->iPicturePayloadOffset = static_cast<int32_t>(offset);
        else
            videoPacket->otherRecordOffsets.push_back(offset);
        scanUserDataPending_ = false;
    } else if (code >= 0x01 && code <= 0xAF) {
        scanUserDataPending_ = false;
    }
    Append(videoPacket, data, length, 0xE0);
    if (code == 0x00) return FeedHeldAudio();
    return 0;
}

int32_t PackGeometry::FeedHeldAudio()
{
    if (heldAudio_.empty() || firstPresentationTime == NoPresentationTime) return 0;
    std::vector<uint8_t> held;
    held.swap(heldAudio_);
    size_t at = 0;
    while (at + 4 <= held.size()) {
        uint32_t length;
        std::memcpy(&length, &held[at], 4);
        int32_t status = FeedAudioFrame(&held[at + 4], length);
        if (status != 0) return status;
        at += 4 + length;
    }
    return 0;
}

int32_t PackGeometry::FeedAudio(const uint8_t* data, uint32_t length)
{
    if (data == nullptr) return 0;
    if (firstPresentationTime == NoPresentationTime) {
        // Audio is timed from the first picture; hold frames until it is known.
        const size_t at = heldAudio_.size();
        heldAudio_.resize(at + 4 + length);
        std::memcpy(&heldAudio_[at], &length, 4);
        std::memcpy(&heldAudio_[at + 4], data, length);
        return 0;
    }
    return FeedAudioFrame(data, length);
}

int32_t PackGeometry::FeedAudioFrame(const uint8_t* data, uint32_t length)
{
    static const uint8_t endCode[4] = {0x00, 0x00, 0x01, 0xB9};
    if (length == 4 && std::equal(data, data + 4, endCode)) return 0;
    const uint32_t layer = length >= 4 ? (data[1] & 6) >> 1 : 0;
    const uint32_t rateIndex = length >= 4 ? data[2] >> 4 : 0;
    const uint32_t sampleIndex = length >= 4 ? (data[2] >> 2) & 3 : 3;
    if (length < 4 || data[0] != 0xFF || (data[1] & 0xF8) != 0xF8 || (layer != 1 && layer != 2) ||
        rateIndex == 0 || rateIndex == 15 || sampleIndex == 3) {
        engine_.session.ReportStatus(MuxErrAudioStream);
        return MuxErrAudioStream;
    }
    if (!audio) {
        audio = std::make_shared<QueuedAudioUnit>();
        audioPacket = StartPacket(audio, false);
        if (engine_.session.Option(0) == MuxTypeSvcd) audioPacket->extension = {0x1E, 0x40, 0x20};
    }
    const uint32_t kbps = layer == 2 ? Layer2Kbps[rateIndex] : Layer3Kbps[rateIndex];
    audio->sampleRate = SampleRates[sampleIndex];
    audio->frameLength = 144 * kbps * 1000 / audio->sampleRate + ((data[2] >> 1) & 1);
    audio->byteRate = kbps * 128;
    if (audioStartBytes == 0) {
        audioStartBytes = length;
        ComputeStartDelay();
    }
    const uint64_t present = firstPresentationTime + static_cast<uint64_t>(startDelay) +
                             audio->frameCount * 1152 * 90000 / audio->sampleRate;
    if (!audioPacket) audioPacket = StartPacket(audio, false);
    if ((audioPacket->flags & 1) == 0) {
        if (HeaderRoom(*audioPacket) + audioPacket->bytes.size() - 9 + 5 >= packetSize) {
            FinishPacket(audioPacket, 0xC0, true);
            if (!audioPacket) audioPacket = StartPacket(audio, false);
        }
        audioPacket->pts = present;
        audioPacket->dts = present;
        audioPacket->flags = PesPacketRecord::FlagPts | 5u << 16;
    }
    PesPacketRecord& p = *audioPacket;
    if (p.unitCount < 10) {
        const uint32_t offset = static_cast<uint32_t>(p.bytes.size() - 9);
        if (p.unitCount > 0) p.units[p.unitCount - 1].bytes = offset - p.units[p.unitCount - 1].offset;
        p.units[p.unitCount++] = {present, 0, offset, 0x08};
    }
    ++audio->frameCount;
    Append(audioPacket, data, length, 0xC0);
    return 0;
}

// Readiness that never came is forced, so that the streams are timed all the same.
void PackGeometry::ForceReady()
{
    if (Ready()) return;
    if (!videoReady) {
        videoStartBytes = 1;
        firstVbvDelay = 100;
        counting = false;
        videoReady = true;
    }
    audioStartBytes = 1;
    if (firstPresentationTime == NoPresentationTime) firstPresentationTime = 1;
    ComputeStartDelay();
}

int32_t PackGeometry::FlushAudio()
{
    ForceReady();
    if (firstPresentationTime == NoPresentationTime) firstPresentationTime = 1;
    int32_t status = FeedHeldAudio();
    if (status != 0) return status;
    FinishPacket(audioPacket, 0xC0, true);
    return 0;
}

int32_t PackGeometry::FlushVideo()
{
    ForceReady();
    int32_t status = FeedHeldAudio();
    if (status != 0) return status;
    FinishPacket(videoPacket, 0xE0, true);
    return 0;
}
