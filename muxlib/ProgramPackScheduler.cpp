// The decision core of the program stream engine: each cycle writes one pack, a
// video packet, an audio packet or padding, as the decoder buffer models allow,
// and adapts the mux rate.
#include "muxlib/MuxLib.h"
#include "muxlib/MuxSession.h"
#include "muxlib/ProgramMuxEngine.h"

#include <algorithm>
#include <cmath>

namespace {

// A packet may go at most this far (90 kHz) ahead of the decoding of its units.
constexpr uint64_t MaxLeadTicks = 90000;
// Adaptive rate: the base rate returns when either buffer holds no more than this
// share of its size, and the rate is lowered when both hold at least `FullShare`,
// to `LoweredRateShare` of the base.
constexpr double RefillShare = 0.4;
constexpr double FullShare = 0.75;
constexpr double LoweredRateShare = 0.75;
// The clock search lowers the rate by this factor (plus one) at each step and
// raises it by `SearchStepUp` (at least one) until the packs are close enough again.
constexpr double SearchStepDown = 0.8;
constexpr double SearchStepUp = 1.05;
// Clock references may be at most 0.7 s apart.
constexpr uint64_t MaxClockGapTicks = 63000;
// Audio starvation count: set when an audio packet goes, counted down (to a floor)
// while the audio buffer holds less than one frame at the highest Layer II rate,
// and from the first pack on below `StarvationStart` the base rate returns and
// below 0 the audio is taken to be behind.
constexpr int32_t AudioJustSent = 4;
constexpr int32_t StarvationStart = 1;
constexpr int32_t StarvationFloor = -1000;
constexpr int64_t AudioStarvingBytes = 1153;

uint32_t ByteRate(const PesPacketRecord* record)
{
    return record != nullptr && record->stream ? record->stream->byteRate : 0;
}

uint32_t ClampRate(double rate)
{
    if (!(rate >= 1.0)) return 1;
    if (rate > ProgramMuxEngine::MaxMuxRate) return ProgramMuxEngine::MaxMuxRate;
    return static_cast<uint32_t>(rate);
}

// When the decoder takes out the access unit the queue's head packet carries first
// (the one still open when the packet begins with its tail), and how many packets
// up to the one in which that unit ends.
struct HeadNeed {
    uint64_t deadline = 0;
    uint32_t packets = 1;
};

HeadNeed NeedOfHead(const PesPacketQueue& queue, const DecoderBuffer& ring, uint64_t currentTime)
{
    const PesPacketRecord& head = *queue.front();
    const bool open = head.unitCount == 0 || head.leadingBytes > 0;
    HeadNeed need;
    if (open) {
        const DecoderBuffer::Unit* unit = ring.Open();
        need.deadline = unit != nullptr ? unit->removal : currentTime;
    } else {
        need.deadline = head.units[0].time;
    }
    // The unit goes on into the following packets while they begin no unit of their own.
    if (head.unitCount == (open ? 0u : 1u)) {
        for (size_t i = 1; i < queue.size() && i < 64; ++i) {
            const PesPacketRecord& next = *queue[i];
            if (next.unitCount == 0) {
                ++need.packets;
                continue;
            }
            if (next.leadingBytes > 0) ++need.packets;
            break;
        }
    }
    return need;
}

// Whether the unit the head packet carries first would arrive late if the
// other stream's packet went first.
bool DeadlineNear(const HeadNeed& need, uint64_t clockBase, double packTicks)
{
    return static_cast<double>(clockBase) + (need.packets + 1) * packTicks >= static_cast<double>(need.deadline);
}

// What one cycle sees of the two head packets.
struct CycleView {
    bool audioFits = false, videoFits = false;
    bool audioNear = false, videoNear = false;
    bool audioDeadlineFirst = false;  // the audio deadline is no later than the video one
    bool audioBehind = false;
    bool audioEmpty = false, videoEmpty = false;
};

enum class NextPacket { Audio, Video, None };

// A stream whose deadline is near goes first, the earlier deadline before the
// other; then the interleaving by shares or by time, and never a packet into
// one buffer while the other one runs empty.
NextPacket ChooseNextPacket(const CycleView& c)
{
    const bool audioUrgent = c.audioFits && c.audioNear;
    const bool videoUrgent = c.videoFits && c.videoNear;
    if (audioUrgent && (!videoUrgent || c.audioDeadlineFirst)) return NextPacket::Audio;
    if (videoUrgent) return NextPacket::Video;
    if (c.videoFits && !c.audioBehind && !(c.audioEmpty && !c.videoEmpty)) return NextPacket::Video;
    if (c.audioFits && !(c.videoEmpty && !c.audioEmpty)) return NextPacket::Audio;
    if (c.videoFits && !(c.audioEmpty && !c.videoEmpty)) return NextPacket::Video;
    return NextPacket::None;
}

}  // namespace

uint32_t ProgramMuxEngine::ComputeMuxRate(const PesPacketRecord* audio, const PesPacketRecord* video)
{
    if (session.Option(5) != 0) return static_cast<uint32_t>(session.Option(5));
    const double packetsPerPack = geometry.packetsPerPack;
    const double packetSize = std::max<uint32_t>(geometry.packetSize, 1);
    const double sum = static_cast<double>(ByteRate(video)) + ByteRate(audio);
    float r = static_cast<float>(std::ceil(((14.0 / packetsPerPack + 9.0) / packetSize + 1.0) * sum));
    r = std::trunc(r * (session.Option(4) == 0 ? 1.085f : 1.025f));
    const uint32_t rate = std::min<uint32_t>(static_cast<uint32_t>(r) / 50, MaxMuxRate);
    if (rate != 0) session.ReportMuxRate(rate);
    return rate;
}

void ProgramMuxEngine::ReleaseDue()
{
    const uint64_t clockBase = ClockBase();
    videoRing.Release(clockBase);
    audioRing.Release(clockBase);
}

int32_t ProgramMuxEngine::SendPacket(PesPacketQueue& queue, bool video)
{
    std::unique_ptr<PesPacketRecord> record = std::move(queue.front());
    queue.pop_front();
    const uint32_t payload = record->PayloadLength();
    if (video) {
        if (record->flags & PesPacketRecord::FlagDts) currentVideoTime = record->dts;
        BookProgramPacket(videoRing, *record, payload, currentVideoTime);
        videoBytesSent += static_cast<float>(payload);
    } else {
        if (record->flags & PesPacketRecord::FlagPts) currentAudioTime = record->pts;
        BookProgramPacket(audioRing, *record, payload, currentAudioTime);
        audioBytesSent += static_cast<float>(payload);
    }
    clockAtLastSend_ = ClockBase();
    const int32_t status = WriteUnitPack(*record);
    if (status != 0) return Fail(status);
    AuditPacket(*record, video);
    return 0;
}

bool ProgramMuxEngine::AudioFits(const ScheduleLimits& limits, const PesPacketRecord& a, uint64_t clockBase) const
{
    // A ring without room for the packet's access units counts as a full buffer.
    if (audioRing.Occupancy() + a.PayloadLength() >= limits.audioCapacity) return false;
    if (audioRing.FreeUnits() <= a.unitCount) return false;
    if (a.flags & PesPacketRecord::FlagPts) return static_cast<int64_t>(a.pts) - static_cast<int64_t>(clockBase) < static_cast<int64_t>(MaxLeadTicks);
    return true;
}

bool ProgramMuxEngine::VideoFits(const ScheduleLimits& limits, const PesPacketRecord& v, uint64_t clockBase) const
{
    if (videoRing.Occupancy() + v.PayloadLength() >= limits.videoCapacity) return false;
    if (videoRing.FreeUnits() <= v.unitCount) return false;
    for (uint32_t i = 0; i < v.unitCount; ++i)
        if (v.units[i].time > clockBase + MaxLeadTicks) return false;
    return true;
}

bool ProgramMuxEngine::SomethingGoesAt(const ScheduleLimits& limits, const PesPacketRecord& a,
                                       const PesPacketRecord& v, uint64_t at) const
{
    return videoRing.AnyDue(at) || audioRing.AnyDue(at) || AudioFits(limits, a, at) || VideoFits(limits, v, at);
}

void ProgramMuxEngine::AdaptMuxRate(const ScheduleLimits& limits, uint32_t rate, bool deadlineNear)
{
    if (limits.fixedMode != 3) {
        nextMuxRate = ClampRate(rate);
        return;
    }
    // Back to the base rate also once a clock search has made its jump, and when a
    // deadline is near; the lowered rate is a quarter below the base, not below
    // the last lowered one, so that packs never come slower and slower.
    const int64_t video = videoRing.Occupancy(), audio = audioRing.Occupancy();
    if (video <= RefillShare * limits.videoCapacity || audio <= RefillShare * limits.audioCapacity ||
        audioStarvation < StarvationStart || rateSearched_ || deadlineNear) {
        nextMuxRate = baseMuxRate;
        session.ReportMuxRate(nextMuxRate);
    } else if (video >= FullShare * limits.videoCapacity && audio >= FullShare * limits.audioCapacity) {
        nextMuxRate = ClampRate(std::trunc(baseMuxRate * LoweredRateShare));
        session.ReportMuxRate(nextMuxRate);
    }
    rateSearched_ = false;
}

void ProgramMuxEngine::CountAudioStarvation()
{
    if (audioRing.Occupancy() >= AudioStarvingBytes) return;
    if (audioStarvation >= AudioJustSent)
        audioStarvation = AudioJustSent - 1;
    else if (audioStarvation > StarvationFloor)
        --audioStarvation;
}

int32_t ProgramMuxEngine::StartProgramStream(uint32_t rate)
{
    currentMuxRate = nextMuxRate = ClampRate(rate);
    const PesPacketRecord& v = *videoQueue.front();
    if (v.flags & PesPacketRecord::FlagDts) currentVideoTime = v.dts;
    int32_t status = WriteFirstPack();
    if (status != 0) return Fail(status);
    status = SendPacket(videoQueue, true);
    if (status != 0) return status;
    status = SendPacket(audioQueue, false);
    if (status != 0) return status;
    audioStarvation = StarvationStart;
    return 0;
}

bool ProgramMuxEngine::AudioBehind(const ScheduleLimits& limits, const PesPacketRecord& a, const PesPacketRecord& v,
                                   uint64_t clockBase) const
{
    const float videoRate = static_cast<float>(ByteRate(&v));
    const float audioRate = static_cast<float>(ByteRate(&a));
    if (limits.rateMode != 1)
        return clockBase > 0 && audioRate / 90000.0 > audioBytesSent / static_cast<double>(clockBase);
    if (audioStarvation < 0) return true;
    const float sum = videoRate + audioRate;
    if (!(sum > 0 && audioRate > 0 && videoRate > 0)) return false;
    const float sa = audioRate / sum;
    const float sv = videoRate / sum;
    const float da = std::fabs(sa - (a.PayloadLength() + audioBytesSent) / sa);
    const float dv = std::fabs(sv - (v.PayloadLength() + videoBytesSent) / sv);
    return dv > da;
}

uint32_t ProgramMuxEngine::SearchLowerRate(const ScheduleLimits& limits, const PesPacketRecord& a,
                                           const PesPacketRecord& v)
{
    const uint32_t kept = currentMuxRate;
    const uint64_t lastBase = static_cast<uint64_t>(clockReference) / 300;
    uint32_t found = currentMuxRate;
    for (;;) {
        const uint32_t lower = ClampRate(std::trunc(found * SearchStepDown + 1));
        if (lower >= found) break;
        found = lower;
        currentMuxRate = found;
        const uint64_t at = ClockBase();
        if (SomethingGoesAt(limits, a, v, at)) break;
        if (at - lastBase >= MaxClockGapTicks) {
            while (found < MaxMuxRate) {
                found = ClampRate(std::max<double>(found + 1.0, std::trunc(found * SearchStepUp)));
                currentMuxRate = found;
                if (ClockBase() - lastBase < MaxClockGapTicks) break;
            }
            break;
        }
    }
    currentMuxRate = kept;
    return found;
}

int32_t ProgramMuxEngine::WaitForRoom(const ScheduleLimits& limits, const PesPacketRecord& a,
                                      const PesPacketRecord& v, uint64_t clockBase)
{
    // A stream that can never go is an error rather than endless padding.
    if (clockBase > clockAtLastSend_ + MaxIdleTicks) return Fail(MuxErrGeneral);
    int32_t status = 0;
    if (limits.fixedMode == 0) {
        // Let the clock jump by whole packs until something falls due or fits.
        for (;;) {
            status = SkipPack();
            if (status != 0) return Fail(status);
            const uint64_t at = ClockBase();
            if (SomethingGoesAt(limits, a, v, at)) break;
            if (at > clockAtLastSend_ + MaxIdleTicks) return Fail(MuxErrGeneral);
        }
    } else if (limits.fixedMode == 3) {
        const uint32_t kept = currentMuxRate;
        nextMuxRate = SearchLowerRate(limits, a, v);
        rateSearched_ = nextMuxRate != kept;
        session.ReportMuxRate(nextMuxRate);
        status = WritePaddingPack();
    } else {
        status = WritePaddingPack();
    }
    if (status != 0) return Fail(status);
    return 0;
}

int32_t ProgramMuxEngine::ScheduleProgramPacks()
{
    ScheduleLimits limits;
    limits.videoCapacity = (int64_t{session.Option(3)} - 2) * 1024;
    limits.audioCapacity = (int64_t{session.Option(2)} - 3) * 128;
    limits.rateMode = session.Option(10);
    limits.fixedMode = session.Option(4);

    while (!videoQueue.empty() && !audioQueue.empty()) {
        const PesPacketRecord& v = *videoQueue.front();
        const PesPacketRecord& a = *audioQueue.front();

        currentMuxRate = nextMuxRate;
        ReleaseDue();
        const uint32_t rate = ComputeMuxRate(&a, &v);
        const uint64_t clockBase = ClockBase();
        // The interleaving by shares or by time does not see a deadline: a stream whose
        // next unit would arrive late if the other went first goes now.
        const double packTicks = geometry.packSize * 90000.0 / (std::max<uint32_t>(currentMuxRate, 1) * 50.0);
        const HeadNeed audioNeed = NeedOfHead(audioQueue, audioRing, currentAudioTime);
        const HeadNeed videoNeed = NeedOfHead(videoQueue, videoRing, currentVideoTime);
        CycleView cycle;
        cycle.audioNear = DeadlineNear(audioNeed, clockBase, packTicks);
        cycle.videoNear = DeadlineNear(videoNeed, clockBase, packTicks);
        AdaptMuxRate(limits, rate, cycle.audioNear || cycle.videoNear);
        CountAudioStarvation();

        if (bytesWritten == 0) {
            const int32_t status = StartProgramStream(rate);
            if (status != 0) return status;
            continue;
        }

        cycle.audioDeadlineFirst = audioNeed.deadline <= videoNeed.deadline;
        cycle.audioBehind = AudioBehind(limits, a, v, clockBase);
        cycle.audioFits = AudioFits(limits, a, clockBase);
        cycle.videoFits = VideoFits(limits, v, clockBase);
        cycle.audioEmpty = audioRing.Occupancy() < 1;
        cycle.videoEmpty = videoRing.Occupancy() < 1;

        int32_t status;
        switch (ChooseNextPacket(cycle)) {
            case NextPacket::Audio:
                status = SendPacket(audioQueue, false);
                audioStarvation = AudioJustSent;
                break;
            case NextPacket::Video: status = SendPacket(videoQueue, true); break;
            default: status = WaitForRoom(limits, a, v, clockBase); break;
        }
        if (status != 0) return status;
    }
    return 0;
}
