// Pack scheduling and pack writing of MPEG-1 system streams and Video-CD streams.
#include "muxlib/SystemMuxEngine.h"

#include "muxlib/MuxSession.h"
#include "muxlib/PackWriters.h"
#include "muxlib/StartDelay.h"

#include <algorithm>

#include <cmath>
#include <new>

namespace {

constexpr uint32_t VideoCdMuxRate = 3528;
constexpr int64_t VideoCdStartDelay = 67000;
// The audio-only start pack of a Video-CD is this much shorter; zeros keep the sector whole.
constexpr uint32_t VideoCdAudioPackShortfall = 20;
// No buffer of a playable stream waits this long (10 s) for its next decoding time;
// a longer wait means time stamps the engine cannot schedule.
constexpr uint64_t MaxWaitTicks = 900000;

void Put16(std::vector<uint8_t>& out, uint32_t v)
{
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}

// Padding packet of n bytes in all (n >= 7).
void PutPadding(std::vector<uint8_t>& out, uint32_t n)
{
    out.insert(out.end(), {0x00, 0x00, 0x01, 0xBE});
    Put16(out, n - 6);
    out.push_back(0x0F);
    out.insert(out.end(), n - 7, 0xFF);
}

}  // namespace

SystemMuxEngine::SystemMuxEngine(MuxSession& session) : session_(session)
{
    OptionsChanged();
}

void SystemMuxEngine::OptionsChanged()
{
    params_.muxType = session_.Option(0);
    const int32_t packSize = session_.Option(6);
    // A pack must hold its headers and some payload; other sizes are refused elsewhere.
    params_.packSize = packSize >= 64 && packSize <= 65535 ? static_cast<uint32_t>(packSize) : 2048;
    params_.videoBound = session_.Option(3);
    params_.audioBound = session_.Option(2);
}

void SystemMuxEngine::ReportStatus(int32_t status)
{
    session_.ReportStatus(status);
}

int32_t SystemMuxEngine::FeedVideo(const uint8_t* data, uint32_t length)
{
    int32_t status;
    try {
        status = video_.Feed(data, length);
    } catch (const std::bad_alloc&) {
        status = MuxErrOutOfMemory;
    }
    if (status != 0) ReportStatus(status);
    return status;
}

int32_t SystemMuxEngine::FeedAudio(const uint8_t* data, uint32_t length)
{
    int32_t status;
    try {
        status = audio_.Feed(data, length);
    } catch (const std::bad_alloc&) {
        status = MuxErrOutOfMemory;
    }
    if (status != 0) ReportStatus(status);
    return status;
}

void SystemMuxEngine::Queue(std::unique_ptr<SystemPacket> packet)
{
    (packet->streamId == 0xE0 ? videoQueue_ : audioQueue_).push_back(std::move(packet));
}

void SystemMuxEngine::StreamStarted()
{
    if (video_.started && audio_.started && !timingKnown_) ComputeTiming();
}

void SystemMuxEngine::ComputeTiming()
{
    if (params_.muxType == MuxTypeVideoCd) {
        startDelay_ = VideoCdStartDelay;
    } else {
        const double packSize = params_.packSize;
        const double payloadPerPack = packSize - 21;
        double rate;
        if (session_.Option(5) > 0) {
            rate = session_.Option(5) * 50.0;
        } else {
            rate = std::ceil((video_.bitRate * 50.0 + audio_.kbitRate * 128.0) * (37.0 / packSize + 1.0));
            rate = std::trunc(rate * (session_.Option(4) != 0 ? 1.01 : 1.085));
        }
        if (rate < 1000) rate = 1000;
        const double packs = std::ceil(static_cast<double>(video_.startBytes) / payloadPerPack) + 1.0;
        startDelay_ = static_cast<int64_t>(packs * packSize / rate * 90000.0) + video_.vbvDelay / 2;
        // Audio goes first until its buffer is full, then the video waits as its stream says.
        const double audioStartBytes = session_.Option(2) * 128.0;
        startDelay_ = std::max(startDelay_, static_cast<int64_t>(muxlib::VideoStartWait(
                                                rate, packSize, payloadPerPack, video_.bitRate * 50, audio_.kbitRate * 128,
                                                audioStartBytes, video_.firstVbvDelay, video_.streamVbvBytes)));
    }
    audioOrigin_ = video_.haveMinPts ? video_.minPts : 0;
    timingKnown_ = true;
}

void SystemMuxEngine::ComputeMuxRate()
{
    if (params_.muxType == MuxTypeVideoCd) {
        muxRate_ = VideoCdMuxRate;
        return;
    }
    if (session_.Option(5) > 0) {
        muxRate_ = static_cast<uint32_t>(session_.Option(5));
        return;
    }
    double r = std::ceil((video_.bitRate * 50.0 + audio_.kbitRate * 128.0) * (37.0 / params_.packSize + 1.0));
    r = std::trunc(r * (session_.Option(4) != 0 ? 1.01 : 1.085));
    muxRate_ = std::max<uint32_t>(20, static_cast<uint32_t>(r) / 50);
    session_.ReportMuxRate(muxRate_);
}

uint64_t SystemMuxEngine::ClockReference() const
{
    if (params_.muxType == MuxTypeVideoCd) return packCount_ * 1200 + 36000;
    return (bytesWritten_ + 9) * 90000 / (uint64_t{muxRate_} * 50);
}

void SystemMuxEngine::PutPackHeader(std::vector<uint8_t>& out, uint64_t scr) const
{
    out.insert(out.end(), {0x00, 0x00, 0x01, 0xBA});
    packwriters::AppendTimeStamp(out, packwriters::PrefixPtsOnly, scr);
    packwriters::AppendMarkedRate(out, muxRate_);
}

void SystemMuxEngine::PutSystemHeader(std::vector<uint8_t>& out) const
{
    out.insert(out.end(), {0x00, 0x00, 0x01, 0xBB, 0x00, 0x0C});
    packwriters::AppendMarkedRate(out, muxRate_);
    out.push_back(static_cast<uint8_t>((1 << 2) | ((session_.Option(4) >= 1 ? 1 : 0) << 1) | 1));
    out.push_back(0xE1);
    out.push_back(0xFF);
    const uint32_t audio = static_cast<uint32_t>(params_.audioBound);
    const uint32_t video = static_cast<uint32_t>(params_.videoBound);
    out.insert(out.end(), {0xC0, static_cast<uint8_t>(0xC0 | ((audio >> 8) & 0x1F)), static_cast<uint8_t>(audio)});
    out.insert(out.end(), {0xE0, static_cast<uint8_t>(0xE0 | ((video >> 8) & 0x1F)), static_cast<uint8_t>(video)});
}

int32_t SystemMuxEngine::WritePackBytes(const std::vector<uint8_t>& pack)
{
    int32_t status = session_.WritePack(pack.data(), static_cast<uint32_t>(pack.size()));
    if (status != 0) {
        ReportStatus(status);
        return status;
    }
    ++packCount_;
    bytesWritten_ += pack.size();
    return 0;
}

int32_t SystemMuxEngine::WritePacket(SystemPacketQueue& queue, DecoderBuffer& model, bool video)
{
    const SystemPacket& p = *queue.front();
    const uint64_t offset = static_cast<uint64_t>(startDelay_) + (video ? 0 : audioOrigin_);

    std::vector<std::pair<uint64_t, uint32_t>> units;
    std::vector<uint64_t> removals;
    std::vector<uint32_t> offsets;
    for (size_t i = 0; i < p.units.size(); ++i) {
        const uint32_t end = i + 1 < p.units.size() ? p.units[i + 1].offset : static_cast<uint32_t>(p.payload.size());
        units.push_back({p.units[i].time + offset, end - p.units[i].offset});
        removals.push_back(p.units[i].time + offset);
        offsets.push_back(p.units[i].offset);
    }
    // Bytes before the first unit belong to the unit still arriving; after its removal they occupy nothing.
    const uint32_t leading = p.units.empty() ? static_cast<uint32_t>(p.payload.size()) : p.units[0].offset;
    if (leading > 0) model.Continue(leading);
    for (const auto& [time, bytes] : units) model.AddUnit(time, bytes);
    DeliveryAudit& audit = video ? videoAudit_ : audioAudit_;
    audit.Fill(model.Occupancy(), video ? params_.videoBound * int64_t{1024} : params_.audioBound * int64_t{128});

    std::vector<uint8_t> pack;
    pack.reserve(params_.packSize);
    const uint64_t scr = ClockReference();
    PutPackHeader(pack, scr);
    if (p.systemHeaderRoom) {
        PutSystemHeader(pack);
        systemHeaderPending_ = false;
    }
    const uint32_t stampBytes = p.stamps == 2 ? 10 : p.stamps == 1 ? 5 : 1;
    const uint32_t used = static_cast<uint32_t>(pack.size()) + 6 + 2 + stampBytes + static_cast<uint32_t>(p.payload.size());
    const uint32_t shortfall = params_.packSize > used ? params_.packSize - used : 0;
    const uint32_t stuffing = shortfall <= 9 ? shortfall : 0;
    pack.insert(pack.end(), {0x00, 0x00, 0x01, p.streamId});
    Put16(pack, stuffing + 2 + stampBytes + static_cast<uint32_t>(p.payload.size()));
    pack.insert(pack.end(), stuffing, 0xFF);
    const uint32_t bound = static_cast<uint32_t>(video ? params_.videoBound : params_.audioBound);
    pack.push_back(static_cast<uint8_t>((video ? 0x60 : 0x40) | ((bound >> 8) & 0x1F)));
    pack.push_back(static_cast<uint8_t>(bound));
    if (p.stamps == 2) {
        packwriters::AppendTimeStamp(pack, packwriters::PrefixPtsWithDts, p.pts + offset);
        packwriters::AppendTimeStamp(pack, packwriters::PrefixDts, p.dts + offset);
    } else if (p.stamps == 1) {
        packwriters::AppendTimeStamp(pack, packwriters::PrefixPtsOnly, p.pts + offset);
    } else {
        pack.push_back(0x0F);
    }
    // The clock reference is the arrival of the pack's byte 8.
    const double perByte = 90000.0 / (uint64_t{muxRate_} * 50.0);
    audit.Packet(static_cast<double>(scr) + (pack.size() - 8.0) * perByte, perByte,
                 static_cast<uint32_t>(p.payload.size()), p.units.empty() ? 0 : p.units[0].offset, removals.data(),
                 offsets.data(), static_cast<uint32_t>(removals.size()));
    pack.insert(pack.end(), p.payload.begin(), p.payload.end());
    if (shortfall > 9) PutPadding(pack, shortfall);
    queue.pop_front();
    return WritePackBytes(pack);
}

int32_t SystemMuxEngine::WriteVideoCdStart()
{
    const uint32_t headers = 12 + 15;
    std::vector<uint8_t> pack;
    PutPackHeader(pack, ClockReference());
    pack.insert(pack.end(), {0x00, 0x00, 0x01, 0xBB, 0x00, 0x09});
    packwriters::AppendMarkedRate(pack, muxRate_);
    const uint32_t video = static_cast<uint32_t>(params_.videoBound);
    pack.insert(pack.end(), {0x01, 0xE1, 0xFF, 0xE0, static_cast<uint8_t>(0xE0 | ((video >> 8) & 0x1F)),
                             static_cast<uint8_t>(video)});
    PutPadding(pack, params_.packSize - headers);
    int32_t status = WritePackBytes(pack);
    if (status != 0) return status;

    pack.clear();
    PutPackHeader(pack, ClockReference());
    pack.insert(pack.end(), {0x00, 0x00, 0x01, 0xBB, 0x00, 0x09});
    packwriters::AppendMarkedRate(pack, muxRate_);
    const uint32_t audio = static_cast<uint32_t>(params_.audioBound);
    pack.insert(pack.end(), {0x05, 0xE0, 0xFF, 0xC0, static_cast<uint8_t>(0xC0 | ((audio >> 8) & 0x1F)),
                             static_cast<uint8_t>(audio)});
    PutPadding(pack, params_.packSize - headers - VideoCdAudioPackShortfall);
    pack.insert(pack.end(), VideoCdAudioPackShortfall, 0x00);
    systemHeaderPending_ = false;
    return WritePackBytes(pack);
}

int32_t SystemMuxEngine::AdvanceClock()
{
    std::vector<uint8_t> pack;
    PutPackHeader(pack, ClockReference());
    if (params_.muxType == MuxTypeVideoCd) {
        // Every Video-CD sector holds a whole pack, so waiting time is a padding pack.
        PutPadding(pack, params_.packSize - 12);
        return WritePackBytes(pack);
    }
    if (session_.Option(4) >= 1) return WritePackBytes(pack);
    bytesWritten_ += params_.packSize;
    ++packCount_;
    return 0;
}

int32_t SystemMuxEngine::WaitForRelease(const DecoderBuffer& first, const DecoderBuffer* second)
{
    uint64_t next = first.NextRemoval();
    if (second != nullptr) next = std::min(next, second->NextRemoval());
    const bool any = next != UINT64_MAX;
    // Nothing to wait for, or longer than any stream waits: the streams cannot be scheduled.
    if (!any || next > ClockReference() + MaxWaitTicks) {
        ReportStatus(MuxErrGeneral);
        return MuxErrGeneral;
    }
    // Every pack moves the clock on by at least one byte's time, so this ends.
    while (ClockReference() < next) {
        const int32_t status = AdvanceClock();
        if (status != 0) return status;
    }
    return 0;
}

int32_t SystemMuxEngine::CheckFits(int64_t bytes, bool video)
{
    const int64_t bound = video ? session_.Option(3) * int64_t{1024} : session_.Option(2) * int64_t{128};
    if (bytes <= bound) return 0;
    ReportStatus(MuxErrGeneral);
    return MuxErrGeneral;
}

int32_t SystemMuxEngine::WriteEndPack()
{
    std::vector<uint8_t> pack;
    PutPackHeader(pack, ClockReference());
    PutPadding(pack, params_.packSize - 12 - 4);
    pack.insert(pack.end(), {0x00, 0x00, 0x01, 0xB9});
    return WritePackBytes(pack);
}

int32_t SystemMuxEngine::Step()
{
    if (!timingKnown_) return 0;
    if (muxRate_ == 0) ComputeMuxRate();
    const int32_t rule = session_.Option(10);
    const int64_t videoBuffer = (session_.Option(3) - (rule == 1 || rule == 2 ? 2 : 3)) * int64_t{1024};
    const int64_t audioBuffer = (session_.Option(2) - 3) * int64_t{128};
    while (!videoQueue_.empty() && !audioQueue_.empty()) {
        int32_t status;
        if (!firstPacksDone_) {
            firstPacksDone_ = true;
            status = CheckFits(static_cast<int64_t>(videoQueue_.front()->payload.size()), true);
            if (status == 0) status = CheckFits(static_cast<int64_t>(audioQueue_.front()->payload.size()), false);
            if (status == 0 && params_.muxType == MuxTypeVideoCd) status = WriteVideoCdStart();
            if (status == 0) status = WritePacket(videoQueue_, videoModel_, true);
            if (status == 0) status = WritePacket(audioQueue_, audioModel_, false);
            if (status != 0) return status;
            continue;
        }
        const uint64_t clock = ClockReference();
        videoModel_.Release(clock);
        audioModel_.Release(clock);
        const int64_t na = static_cast<int64_t>(audioQueue_.front()->payload.size());
        const int64_t nv = static_cast<int64_t>(videoQueue_.front()->payload.size());
        const int64_t va = videoModel_.Occupancy();
        const int64_t aa = audioModel_.Occupancy();
        // An empty buffer takes a packet beyond the margin, but never one beyond its size.
        if (aa + na < audioBuffer && (va > 0 || aa == 0))
            status = WritePacket(audioQueue_, audioModel_, false);
        else if (va + nv < videoBuffer)
            status = WritePacket(videoQueue_, videoModel_, true);
        else if (va == 0 && (status = CheckFits(nv, true)) == 0)
            status = WritePacket(videoQueue_, videoModel_, true);
        else if (va != 0 && aa == 0 && (status = CheckFits(na, false)) == 0)
            status = WritePacket(audioQueue_, audioModel_, false);
        else if (va != 0 && aa != 0)
            status = WaitForRelease(videoModel_, &audioModel_);
        if (status != 0) return status;
    }
    return 0;
}

int32_t SystemMuxEngine::Finish()
{
    // Input without a single picture has no video stream to multiplex.
    if (!video_.havePicture && (video_.startBytes > 0 || audio_.started)) {
        ReportStatus(MuxErrVideoStream);
        return MuxErrVideoStream;
    }
    video_.Flush();
    audio_.Flush();
    int32_t status = Step();
    if (status != 0) return status;
    if (!firstPacksDone_) {
        firstPacksDone_ = true;
        if (params_.muxType == MuxTypeVideoCd) status = WriteVideoCdStart();
        if (status != 0) return status;
    }
    while (!videoQueue_.empty() || !audioQueue_.empty()) {
        const bool audio = !audioQueue_.empty();
        SystemPacketQueue& queue = audio ? audioQueue_ : videoQueue_;
        DecoderBuffer& model = audio ? audioModel_ : videoModel_;
        const int64_t bound = audio ? (session_.Option(2) - 1) * int64_t{128} : (session_.Option(3) - 1) * int64_t{1024};
        const uint64_t clock = ClockReference();
        videoModel_.Release(clock);
        audioModel_.Release(clock);
        const int64_t n = static_cast<int64_t>(queue.front()->payload.size());
        if (model.Occupancy() > 0 && model.Occupancy() + n >= bound)
            status = WaitForRelease(model, nullptr);
        else if ((status = CheckFits(n, !audio)) == 0)
            status = WritePacket(queue, model, !audio);
        if (status != 0) return status;
    }
    status = JudgeDelivery(videoAudit_, audioAudit_, session_);
    if (status != 0) return status;
    if (params_.muxType == MuxTypeVideoCd) return WriteEndPack();
    return 0;
}

