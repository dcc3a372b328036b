#include "muxlib/DeliveryAudit.h"

#include "muxlib/MuxSession.h"

#include <algorithm>
#include <cstdio>

namespace {
// The clock references are whole ticks: arrivals within one tick count as on time.
constexpr double ToleranceTicks = 1.0;
}  // namespace

void DeliveryAudit::Close()
{
    if (!open_) return;
    const double lateness = openArrival_ - openRemoval_;
    if (lateness > ToleranceTicks) {
        if (late++ == 0) {
            firstLateUnit = units_;
            firstLateRemoval = openRemoval_;
        }
        worstLateTicks = std::max(worstLateTicks, lateness);
    }
    open_ = false;
}

void DeliveryAudit::Continue(double arrival)
{
    if (open_) openArrival_ = arrival;
}

void DeliveryAudit::Begin(double removal, double arrival)
{
    Close();
    ++units_;
    open_ = true;
    openRemoval_ = removal;
    openArrival_ = arrival;
}

void DeliveryAudit::Packet(double start, double perByte, uint32_t payload, uint32_t leading, const uint64_t* removals,
                           const uint32_t* offsets, uint32_t count)
{
    if (payload == 0) return;
    auto lastByte = [&](uint32_t end) { return start + (std::min(end, payload) - 1.0) * perByte; };
    if (count == 0) {
        Continue(lastByte(payload));
        return;
    }
    if (leading > 0) Continue(lastByte(leading));
    for (uint32_t i = 0; i < count; ++i) Begin(removals[i], lastByte(i + 1 < count ? std::max(offsets[i + 1], 1u) : payload));
}

void DeliveryAudit::Fill(int64_t bytes, int64_t size)
{
    if (size <= 0 || bytes <= size) return;
    if (overflows++ == 0) firstOverflowUnit = units_;
    worstOverflowBytes = std::max(worstOverflowBytes, bytes - size);
}

void DeliveryAudit::Finish() { Close(); }

std::string DeliveryAudit::Describe(const char* stream) const
{
    std::string text;
    char part[240];
    if (late > 0) {
        std::snprintf(part, sizeof part,
                      "%s stream: %d access units would reach the decoder late, by up to %.3f s (the first is unit %d, "
                      "decoded at %.3f s)",
                      stream, late, worstLateTicks / 90000.0, firstLateUnit, firstLateRemoval / 90000.0);
        text = part;
    }
    if (overflows > 0) {
        std::snprintf(part, sizeof part, "%s%s buffer overflows %d times, by up to %lld bytes (first with unit %d)",
                      text.empty() ? "" : "; ", stream, overflows, static_cast<long long>(worstOverflowBytes),
                      firstOverflowUnit);
        text += part;
    }
    return text;
}

std::string DescribeLateDelivery(const DeliveryAudit& video, const DeliveryAudit& audio)
{
    std::string text = video.Describe("video");
    const std::string other = audio.Describe("audio");
    if (!other.empty()) text += (text.empty() ? "" : "; ") + other;
    return text;
}

int32_t JudgeDelivery(DeliveryAudit& video, DeliveryAudit& audio, MuxSession& session)
{
    video.Finish();
    audio.Finish();
    if (!video.Failed() && !audio.Failed()) return 0;
    session.ReportProblem(MuxErrSequencing, DescribeLateDelivery(video, audio));
    return MuxErrSequencing;
}
