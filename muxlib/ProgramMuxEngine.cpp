// Packs of MPEG-2 program streams and SVCD streams: clock references, pack and
// system headers, the first, unit and end packs, and the drain at the end.
#include "muxlib/ProgramMuxEngine.h"

#include "muxlib/MuxLib.h"
#include "muxlib/MuxSession.h"
#include "muxlib/ScanInformation.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

void BookProgramPacket(DecoderBuffer& buffer, const PesPacketRecord& packet, uint32_t payload, uint64_t& currentTime)
{
    uint32_t left = payload;
    auto addToOpen = [&](uint32_t bytes) {
        if (bytes != 0 && !buffer.Continue(bytes)) buffer.AddUnit(currentTime, bytes);
    };
    if (packet.unitCount > 0) {
        const uint32_t leading = std::min(packet.leadingBytes, left);
        addToOpen(leading);
        left -= leading;
        for (uint32_t i = 0; i < packet.unitCount; ++i) {
            const uint32_t bytes = std::min(packet.units[i].bytes, left);
            currentTime = packet.units[i].time;
            buffer.AddUnit(currentTime, bytes);
            left -= bytes;
        }
    }
    addToOpen(left);
}

ProgramMuxEngine::ProgramMuxEngine(MuxSession& session) : MuxPackEngine(session) {}

ProgramMuxEngine::~ProgramMuxEngine() = default;

void ProgramMuxEngine::OptionsChanged()
{
    if (session.Option(0) == MuxTypeSvcd) {
        if (!patchList) patchList = std::make_unique<UserDataPatchList>();
        writeStep_ = WriteStep::SectorCache;
    } else {
        patchList.reset();
        writeStep_ = WriteStep::Sinks;
    }
}

int32_t ProgramMuxEngine::Fail(int32_t status)
{
    session.ReportStatus(status);
    return status;
}

int32_t ProgramMuxEngine::Emit(const uint8_t* data, uint32_t length)
{
    const uint64_t position = emitted_;
    emitted_ += length;
    if (writeStep_ == WriteStep::SectorCache && patchList)
        return patchList->SectorCacheWrite(session, data, length, position);
    return session.WritePack(data, length);
}

int64_t ProgramMuxEngine::LookAheadClock() const
{
    const double elapsed = static_cast<double>(bytesWritten - bytesAtClockReference);
    const double rate = std::max<uint32_t>(currentMuxRate, 1) * 50.0;
    return clockReference + static_cast<int64_t>(elapsed / rate * 27000000.0);
}

uint32_t ProgramMuxEngine::WriteProgramPackHeader(uint8_t* buffer)
{
    clockReference = LookAheadClock();
    // The pack's bytes up to its clock reference already arrive at the rate its header names.
    if (bytesWritten > bytesAtClockReference && nextMuxRate != currentMuxRate && currentMuxRate > 0 && nextMuxRate > 0) {
        constexpr double Lead = 8.0;
        clockReference += static_cast<int64_t>(Lead * 27000000.0 / 50.0 *
                                               (1.0 / nextMuxRate - 1.0 / currentMuxRate));
    }
    bytesAtClockReference = bytesWritten;
    return packwriters::WriteProgramPackHeader(buffer, static_cast<uint64_t>(clockReference), nextMuxRate);
}

int32_t ProgramMuxEngine::WriteFirstPack()
{
    baseMuxRate = currentMuxRate;
    const uint32_t packSize = geometry.packSize;
    std::vector<uint8_t> pack(packSize, 0);
    uint32_t length = WriteProgramPackHeader(pack.data());

    const bool svcd = session.Option(0) == MuxTypeSvcd;
    systemHeader = packwriters::SystemHeaderRecord();
    systemHeader.rateBound = baseMuxRate;
    systemHeader.audioBound = 1;
    systemHeader.audioLock = svcd ? 1 : 0;
    systemHeader.videoLock = svcd ? 1 : 0;
    systemHeader.videoBound = 1;
    systemHeader.streams[0] = {0xE0, static_cast<uint16_t>(session.Option(3))};
    systemHeader.streams[1] = {0xC0, static_cast<uint16_t>(session.Option(2))};
    systemHeader.streamCount = 2;
    length += packwriters::WriteSystemHeader(systemHeader, pack.data() + length);

    int32_t status = Emit(pack.data(), length);
    if (status == 0 && packSize >= length + 6) {
        packwriters::WritePaddingPacket(pack.data(), packSize - length);
        status = Emit(pack.data(), packSize - length);
    }
    bytesWritten += packSize;
    return status;
}

int32_t ProgramMuxEngine::WriteUnitPack(const PesPacketRecord& record)
{
    uint8_t header[packwriters::ProgramPackHeaderLength];
    const uint64_t packPosition = emitted_;
    WriteProgramPackHeader(header);
    int32_t status = Emit(header, sizeof header);
    if (status != 0) return status;
    if (patchList) {
        // In the order they lie in the packet: I picture starts, the record of the I picture
        // begun last, the records of other pictures.
        enum Kind { IStart, IRecord, OtherRecord };
        std::vector<std::pair<uint32_t, Kind>> marks;
        for (uint32_t offset : record.iPictureStartOffsets) marks.push_back({offset, IStart});
        if (record.userDataOffset != 0) marks.push_back({record.userDataOffset, IRecord});
        for (uint32_t offset : record.otherRecordOffsets) marks.push_back({offset, OtherRecord});
        std::stable_sort(marks.begin(), marks.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        const auto timeMs = static_cast<uint32_t>(static_cast<double>(clockReference) / 27000000.0 * 1000.0);
        for (size_t i = 0; i < marks.size() && status == 0; ++i) {
            const uint64_t position = packPosition + sizeof header + marks[i].first;
            if (marks[i].second == IStart)
                status = patchList->RecordIPictureStart(session, packPosition, timeMs);
            else if (marks[i].second == IRecord)
                status = patchList->RecordIPictureRecord(session, packPosition, timeMs, position);
            else
                status = patchList->RecordScanEntry(session, packPosition, timeMs, position, false);
        }
    }
    if (status != 0) return status;
    status = Emit(record.bytes.data(), record.totalLength);
    if (status != 0) return status;
    // The clock reference is the arrival of the pack's byte 8; the rest follows at the
    // rate the header states.
    lastPerByte_ = 90000.0 / (std::max<uint32_t>(nextMuxRate, 1) * 50.0);
    lastPayloadStart_ = static_cast<double>(clockReference) / 300.0 + (sizeof header + record.headerLength - 8.0) * lastPerByte_;
    const uint32_t used = static_cast<uint32_t>(sizeof header) + record.totalLength;
    bytesWritten += used;
    if (used + 6 <= geometry.packSize) {
        const uint32_t rest = geometry.packSize - used;
        std::vector<uint8_t> padding(rest);
        packwriters::WritePaddingPacket(padding.data(), rest);
        status = Emit(padding.data(), rest);
        bytesWritten += rest;
    }
    return status;
}

int32_t ProgramMuxEngine::WritePaddingPack()
{
    auto padding = MakePaddingPacket(geometry.packSize - packwriters::ProgramPackHeaderLength);
    return WriteUnitPack(*padding);
}

int32_t ProgramMuxEngine::SkipPack()
{
    bytesWritten += geometry.packSize;
    return 0;
}

int32_t ProgramMuxEngine::WriteEndPack()
{
    const uint32_t packSize = geometry.packSize;
    std::vector<uint8_t> pack(packSize);
    const uint32_t header = WriteProgramPackHeader(pack.data());
    packwriters::WritePaddingPacket(pack.data() + header, packSize - header - 4);
    const uint8_t endCode[4] = {0x00, 0x00, 0x01, 0xB9};
    std::copy(endCode, endCode + 4, pack.end() - 4);
    bytesWritten += packSize;
    return Emit(pack.data(), packSize);
}

int32_t ProgramMuxEngine::Multiplex()
{
    if (!geometry.Ready()) return 0;
    const int32_t mode = session.Option(10);
    if (mode != 1 && mode != 2) return MuxErrGeneral;
    return ScheduleProgramPacks();
}

int32_t ProgramMuxEngine::Drain()
{
    const bool video = !videoQueue.empty();
    PesPacketQueue& queue = video ? videoQueue : audioQueue;
    DecoderBuffer& ring = video ? videoRing : audioRing;
    uint64_t& currentTime = video ? currentVideoTime : currentAudioTime;
    float& sent = video ? videoBytesSent : audioBytesSent;
    const int64_t capacity = video ? (int64_t{session.Option(3)} - 3) * 1024 : (int64_t{session.Option(2)} - 3) * 128;
    const int32_t fixedMode = session.Option(4);

    if (bytesWritten == 0) {
        // Only one stream ever reached the engine: its stream still gets its first pack.
        const PesPacketRecord& head = *queue.front();
        currentMuxRate = nextMuxRate = ComputeMuxRate(video ? nullptr : &head, video ? &head : nullptr);
        int32_t status = WriteFirstPack();
        if (status != 0) return Fail(status);
    }

    bool lowered = false;
    clockAtLastSend_ = ClockBase();
    while (!queue.empty()) {
        currentMuxRate = nextMuxRate;
        const uint64_t clockBase = ClockBase();
        ring.Release(clockBase);
        PesPacketRecord& record = *queue.front();
        const uint32_t payload = record.PayloadLength();
        const bool due = (record.flags & PesPacketRecord::FlagPts) == 0 ||
                         static_cast<int64_t>(record.pts) - static_cast<int64_t>(clockBase) < 90000;
        const bool room = ring.Occupancy() + payload < capacity && ring.FreeUnits() > record.unitCount;
        // A packet larger than the whole buffer model goes once the model is empty.
        if (due && (room || ring.Empty())) {
            std::unique_ptr<PesPacketRecord> p = std::move(queue.front());
            queue.pop_front();
            if (p->flags & PesPacketRecord::FlagDts)
                currentTime = p->dts;
            else if (p->flags & PesPacketRecord::FlagPts)
                currentTime = p->pts;
            BookProgramPacket(ring, *p, payload, currentTime);
            sent += static_cast<float>(payload);
            if (fixedMode == 3 && lowered) {
                nextMuxRate = baseMuxRate;
                lowered = false;
            }
            int32_t status = WriteUnitPack(*p);
            if (status != 0) return Fail(status);
            AuditPacket(*p, video);
            clockAtLastSend_ = clockBase;
            continue;
        }
        if (clockBase > clockAtLastSend_ + MaxIdleTicks) return Fail(MuxErrGeneral);
        if (fixedMode == 0) {
            const int32_t status = SkipPack();
            if (status != 0) return Fail(status);
            continue;
        }
        if (fixedMode == 3) {
            nextMuxRate = std::max<uint32_t>(1, static_cast<uint32_t>(nextMuxRate * 0.98));
            session.ReportMuxRate(nextMuxRate);
            lowered = true;
        }
        int32_t status = WritePaddingPack();
        if (status != 0) return Fail(status);
    }
    return 0;
}

int32_t ProgramMuxEngine::Finish()
{
    int32_t status = geometry.FlushAudio();
    if (status == 0) status = geometry.FlushVideo();
    if (status != 0) return status;
    status = Multiplex();
    if (status != 0) return status;
    if (!videoQueue.empty() || !audioQueue.empty()) {
        status = Drain();
        if (status != 0) return status;
    }
    status = JudgeDelivery(videoAudit_, audioAudit_, session);
    if (status != 0) return status;
    if (session.Option(0) != MuxTypeSvcd) return 0;
    status = WriteEndPack();
    if (status != 0) return Fail(status);
    // Either the scan information is patched now, or the output is written as it stands
    // and the end of the session patches the closed file.
    status = session.Option(12) == 1 ? PatchScanInformation() : FlushSectorCache();
    if (status != 0) return Fail(status);
    return 0;
}

void ProgramMuxEngine::AuditPacket(const PesPacketRecord& record, bool video)
{
    AuditPesPacket(video ? videoAudit_ : audioAudit_, record, lastPayloadStart_, lastPerByte_,
                   video ? videoRing.Occupancy() : audioRing.Occupancy(),
                   video ? int64_t{session.Option(3)} * 1024 : int64_t{session.Option(2)} * 128);
}

int32_t ProgramMuxEngine::PatchScanInformation()
{
    if (session.Option(0) != MuxTypeSvcd || !patchList) return 0;
    if (patchList->HasCache()) return patchList->PatchThroughCache(session);
    if (!patchList->AnyToPatch()) return 0;
    if (session.fileNameCallback == nullptr) return MuxErrRead;
    char* name = nullptr;
    session.fileNameCallback(&name);
    if (name == nullptr) return MuxErrRead;
    const int32_t status = patchList->PatchScanInformationInFile(name);
    std::free(name);
    return status;
}

int32_t ProgramMuxEngine::FlushSectorCache()
{
    return patchList ? patchList->WriteOutCache(session) : 0;
}
