// A reader of MPEG-1 system streams and MPEG-2 program streams for the tests (see
// SystemStreamCheck.h). Elementary bytes arrive at the rate of their pack's
// mux_rate from the pack's clock reference on; a picture or audio frame leaves its
// buffer at its decoding time, which is stamped or carried on by the unit period.
#include "tests/support/SystemStreamCheck.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

namespace streamcheck {

namespace {

using Bytes = const unsigned char*;

bool StartCodeAt(Bytes b, uint64_t n, uint64_t at)
{
    return at + 4 <= n && b[at] == 0 && b[at + 1] == 0 && b[at + 2] == 1;
}

uint64_t Stamp(Bytes p)
{
    return (uint64_t((p[0] >> 1) & 7) << 30) | (uint64_t(p[1]) << 22) | (uint64_t(p[2] >> 1) << 15) |
           (uint64_t(p[3]) << 7) | (p[4] >> 1);
}

bool IsMediaStream(uint8_t id) { return id >= 0xC0 && id <= 0xEF; }
bool IsVideo(uint8_t id) { return id >= 0xE0; }

// Where one packet's elementary bytes sit in its stream and when they arrive.
struct Delivery {
    uint64_t first = 0;  // index of its first byte in the stream
    uint32_t bytes = 0;
    double start = 0;    // arrival time of the first byte
    double perByte = 0;  // ticks per byte
    bool hasStamp = false;
    double stamp = 0;    // DTS, or PTS when the packet has no DTS
};

std::string Hex(unsigned v)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", v);
    return text;
}

// Buffer size named by a system header's entry or a packet's buffer field.
uint32_t BufferBytes(unsigned scale, unsigned bound) { return bound * (scale ? 1024u : 128u); }

// Parses the PES header of packet at `at` (length field included in `end`).
void ParsePesHeader(Bytes b, uint64_t at, uint64_t end, Packet& k)
{
    uint64_t h = at + 6;
    if (h < end && (b[h] & 0xC0) == 0x80) {  // MPEG-2 header
        if (h + 3 > end) return;
        const unsigned flags = b[h + 1];
        const uint64_t data = h + 3;
        const uint64_t payload = data + b[h + 2];
        uint64_t p = data;
        if ((flags & 0xC0) == 0x80 && p + 5 <= end) {
            k.hasPts = true;
            k.pts = Stamp(b + p);
            p += 5;
        } else if ((flags & 0xC0) == 0xC0 && p + 10 <= end) {
            k.hasPts = k.hasDts = true;
            k.pts = Stamp(b + p);
            k.dts = Stamp(b + p + 5);
            p += 10;
        }
        if (flags & 0x20) p += 6;
        if (flags & 0x10) p += 3;
        if (flags & 0x08) p += 1;
        if (flags & 0x04) p += 1;
        if (flags & 0x02) p += 2;
        if ((flags & 0x01) && p < end) {
            const unsigned ext = b[p++];
            if (ext & 0x80) p += 16;
            if ((ext & 0x40) && p < end) p += 1 + b[p];
            if (ext & 0x20) p += 2;
            if ((ext & 0x10) && p + 2 <= end) k.bufferBytes = BufferBytes((b[p] >> 5) & 1, (b[p] & 0x1F) << 8 | b[p + 1]);
        }
        k.payloadOffset = std::min(payload, end);
    } else {  // MPEG-1 header
        while (h < end && b[h] == 0xFF) ++h;
        if (h + 2 <= end && (b[h] & 0xC0) == 0x40) {
            k.bufferBytes = BufferBytes((b[h] >> 5) & 1, (b[h] & 0x1F) << 8 | b[h + 1]);
            h += 2;
        }
        if (h + 5 <= end && (b[h] & 0xF0) == 0x20) {
            k.hasPts = true;
            k.pts = Stamp(b + h);
            h += 5;
        } else if (h + 10 <= end && (b[h] & 0xF0) == 0x30) {
            k.hasPts = k.hasDts = true;
            k.pts = Stamp(b + h);
            k.dts = Stamp(b + h + 5);
            h += 10;
        } else if (h < end) {
            ++h;  // 0x0F
        }
        k.payloadOffset = std::min(h, end);
    }
    k.payloadBytes = static_cast<uint32_t>(end - k.payloadOffset);
}

// Video: a unit begins at the first header (sequence, group) in front of its picture
// start code, or at the picture start code; its stamp belongs to the picture start code.
void FindVideoUnits(const std::vector<uint8_t>& d, std::vector<AccessUnit>& units, std::vector<uint64_t>& stampAt,
                    double& period)
{
    static const double rates[9] = {0, 24000.0 / 1001, 24, 25, 30000.0 / 1001, 30, 50, 60000.0 / 1001, 60};
    period = 3600;
    bool haveRate = false;
    int64_t pendingBegin = -1;
    bool fieldPictures = false;
    for (uint64_t i = 0; i + 4 <= d.size(); ++i) {
        if (d[i] != 0 || d[i + 1] != 0 || d[i + 2] != 1) continue;
        const uint8_t code = d[i + 3];
        if (code == 0xB3 || code == 0xB8) {
            if (pendingBegin < 0) pendingBegin = static_cast<int64_t>(i);
            if (code == 0xB3 && !haveRate && i + 8 <= d.size() && (d[i + 7] & 0x0F) >= 1 && (d[i + 7] & 0x0F) <= 8) {
                period = 90000.0 / rates[d[i + 7] & 0x0F];
                haveRate = true;
            }
        } else if (code == 0x00) {
            AccessUnit u;
            u.start = units.empty() ? 0 : static_cast<uint64_t>(pendingBegin >= 0 ? pendingBegin : static_cast<int64_t>(i));
            units.push_back(u);
            stampAt.push_back(i);
            pendingBegin = -1;
        } else if (code == 0xB5 && i + 7 <= d.size() && (d[i + 4] >> 4) == 8) {
            fieldPictures = fieldPictures || (d[i + 6] & 3) != 3;  // picture coding extension: structure
        } else if (code >= 0x01 && code <= 0xAF) {
            pendingBegin = -1;
        }
    }
    if (fieldPictures) period /= 2;
}

uint32_t AudioFrameLength(const uint8_t* h, double& ticks)
{
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) return 0;
    static const int kbps[2][3][15] = {
        {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
         {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
         {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
        {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
    static const int rates[3] = {44100, 48000, 32000};
    const bool lsf = (h[1] & 0x08) == 0;
    const int layer = 4 - ((h[1] >> 1) & 3);  // 1, 2, 3; 4 is reserved
    const int rateIndex = h[2] >> 4, sampleIndex = (h[2] >> 2) & 3, padding = (h[2] >> 1) & 1;
    if (layer == 4 || rateIndex == 0 || rateIndex == 15 || sampleIndex == 3) return 0;
    const int bitRate = kbps[lsf][layer - 1][rateIndex] * 1000;
    const int sampleRate = rates[sampleIndex] / (lsf ? 2 : 1);
    int samples;
    uint32_t length;
    if (layer == 1) {
        samples = 384;
        length = static_cast<uint32_t>((12 * bitRate / sampleRate + padding) * 4);
    } else {
        samples = layer == 3 && lsf ? 576 : 1152;
        length = static_cast<uint32_t>(samples / 8 * bitRate / sampleRate + padding);
    }
    ticks = samples * 90000.0 / sampleRate;
    return length;
}

void FindAudioUnits(const std::vector<uint8_t>& d, std::vector<AccessUnit>& units, std::vector<uint64_t>& stampAt,
                    double& period)
{
    period = 2351;
    uint64_t i = 0;
    while (i + 4 <= d.size()) {
        double ticks = 0;
        const uint32_t length = AudioFrameLength(&d[i], ticks);
        if (length < 4) {
            ++i;
            continue;
        }
        AccessUnit u;
        u.start = units.empty() ? 0 : i;
        units.push_back(u);
        stampAt.push_back(i);
        period = ticks;
        i += length;
    }
}

// Stream bytes delivered by time t.
double ArrivedBy(const std::vector<Delivery>& deliveries, double t)
{
    auto it = std::upper_bound(deliveries.begin(), deliveries.end(), t,
                               [](double v, const Delivery& d) { return v < d.start; });
    if (it == deliveries.begin()) return 0;
    const Delivery& d = *std::prev(it);
    const double done = d.perByte > 0 ? (t - d.start) / d.perByte + 1 : d.bytes;
    return static_cast<double>(d.first) + std::min<double>(d.bytes, done);
}

void ModelStream(Stream& s, const std::vector<Delivery>& deliveries, double tolerance, Report& r)
{
    std::vector<uint64_t> stampAt;
    double period = 0;
    if (IsVideo(s.id))
        FindVideoUnits(s.data, s.units, stampAt, period);
    else
        FindAudioUnits(s.data, s.units, stampAt, period);
    if (s.units.empty()) return;
    for (size_t i = 0; i < s.units.size(); ++i) {
        const uint64_t end = i + 1 < s.units.size() ? s.units[i + 1].start : s.data.size();
        s.units[i].bytes = static_cast<uint32_t>(end - s.units[i].start);
    }
    // A stamp belongs to the first unit whose stamp position lies in the packet.
    size_t u = 0;
    for (const Delivery& d : deliveries) {
        while (u < stampAt.size() && stampAt[u] < d.first) ++u;
        if (d.hasStamp && u < stampAt.size() && stampAt[u] < d.first + d.bytes) {
            s.units[u].dts = d.stamp;
            s.units[u].stamped = true;
        }
    }
    const auto firstStamped = std::find_if(s.units.begin(), s.units.end(), [](const AccessUnit& a) { return a.stamped; });
    if (firstStamped == s.units.end()) return;
    for (auto it = firstStamped; it != s.units.begin(); --it) std::prev(it)->dts = it->dts - period;
    for (auto it = std::next(firstStamped); it != s.units.end(); ++it)
        if (!it->stamped) it->dts = std::prev(it)->dts + period;

    auto arrival = [&](uint64_t index) {
        auto it = std::upper_bound(deliveries.begin(), deliveries.end(), index,
                                   [](uint64_t v, const Delivery& d) { return v < d.first; });
        const Delivery& d = *std::prev(it);
        return d.start + static_cast<double>(index - d.first) * d.perByte;
    };
    for (size_t i = 0; i < s.units.size(); ++i) {
        AccessUnit& a = s.units[i];
        if (a.bytes == 0) continue;
        a.arrived = arrival(a.start + a.bytes - 1);
        if (a.arrived > a.dts + tolerance) {
            ++s.late;
            if (r.firstProblem.empty()) {
                std::ostringstream text;
                text << "stream " << Hex(s.id) << " unit " << i << " of " << a.bytes << " bytes arrives at "
                     << a.arrived << ", decoding time " << a.dts;
                r.firstProblem = text.str();
            }
        }
    }
    r.lateUnits += s.late;

    // Occupancy at the end of each delivery and just before each removal.
    std::vector<std::pair<double, uint32_t>> removals;
    for (const AccessUnit& a : s.units) removals.push_back({a.dts, a.bytes});
    std::sort(removals.begin(), removals.end());
    std::vector<double> removedBefore(removals.size() + 1, 0);
    for (size_t i = 0; i < removals.size(); ++i) removedBefore[i + 1] = removedBefore[i] + removals[i].second;
    auto removedUpTo = [&](double t, bool inclusive) {
        auto it = inclusive ? std::upper_bound(removals.begin(), removals.end(), std::make_pair(t, UINT32_MAX))
                            : std::lower_bound(removals.begin(), removals.end(), std::make_pair(t, 0u));
        return removedBefore[static_cast<size_t>(it - removals.begin())];
    };
    auto check = [&](double occupancy, double t) {
        s.peakOccupancy = std::max<int64_t>(s.peakOccupancy, static_cast<int64_t>(occupancy));
        if (s.bufferBytes == 0 || occupancy <= s.bufferBytes) return;
        ++r.overflows;
        if (r.firstProblem.empty()) {
            std::ostringstream text;
            text << "stream " << Hex(s.id) << " holds " << occupancy << " bytes at " << t << ", buffer "
                 << s.bufferBytes;
            r.firstProblem = text.str();
        }
    };
    for (const Delivery& d : deliveries) {
        const double end = d.start + d.perByte * (d.bytes > 0 ? d.bytes - 1 : 0);
        check(static_cast<double>(d.first + d.bytes) - removedUpTo(end, true), end);
    }
    for (const auto& [t, bytes] : removals) check(ArrivedBy(deliveries, t) - removedUpTo(t, false), t);
}

}  // namespace

std::string Report::Summary() const
{
    std::ostringstream text;
    text << (mpeg2 ? "MPEG-2" : "MPEG-1") << ", " << packs.size() << " packs";
    if (!packs.empty()) text << ", mux rate " << packs.front().muxRate;
    text << ", " << endCodes << " end codes";
    for (const auto& [id, s] : streams)
        text << "; " << Hex(id) << ": " << s.bytes << " bytes, " << s.units.size() << " units, " << s.late
             << " late, peak " << s.peakOccupancy << " of " << s.bufferBytes;
    if (overflows) text << "; " << overflows << " overflows";
    if (!firstProblem.empty()) text << "; first: " << firstProblem;
    if (!error.empty()) text << "; error: " << error;
    return text.str();
}

Report CheckSystemStream(const std::string& bytes, double tolerance)
{
    Report r;
    Bytes b = reinterpret_cast<Bytes>(bytes.data());
    const uint64_t n = bytes.size();
    std::map<uint8_t, std::vector<Delivery>> deliveries;
    std::map<uint8_t, uint32_t> headerBuffers;
    uint64_t at = 0;
    double previousEnd = -1;
    while (at < n) {
        if (b[at] == 0 && !StartCodeAt(b, n, at)) {  // zero fill between packs (Video-CD sectors)
            ++at;
            continue;
        }
        if (!StartCodeAt(b, n, at)) {
            r.error = "no start code at " + std::to_string(at);
            break;
        }
        const uint8_t code = b[at + 3];
        if (code == 0xB9) {
            ++r.endCodes;
            if (!r.packs.empty()) r.packs.back().length = at + 4 - r.packs.back().offset;
            at += 4;
            r.endsWithEndCode = at == n;
            continue;
        }
        if (code != 0xBA) {
            r.error = "no pack header at " + std::to_string(at);
            break;
        }
        Pack p;
        p.offset = at;
        uint64_t headerEnd;
        if (at + 5 <= n && (b[at + 4] & 0xC0) == 0x40) {
            r.mpeg2 = true;
            if (at + 14 > n) {
                r.error = "cut pack header at " + std::to_string(at);
                break;
            }
            auto u = [&](int i) { return uint64_t{b[at + static_cast<uint64_t>(i)]}; };
            const uint64_t base = ((u(4) >> 3) & 7) << 30 | (u(4) & 3) << 28 | u(5) << 20 | (u(6) >> 3) << 15 |
                                  (u(6) & 3) << 13 | u(7) << 5 | u(8) >> 3;
            const uint64_t ext = (u(8) & 3) << 7 | u(9) >> 1;
            p.scr = static_cast<double>(base) + static_cast<double>(ext) / 300.0;
            p.muxRate = static_cast<uint32_t>(u(10) << 14 | u(11) << 6 | u(12) >> 2);
            headerEnd = at + 14 + (b[at + 13] & 7);
        } else {
            if (at + 12 > n) {
                r.error = "cut pack header at " + std::to_string(at);
                break;
            }
            p.scr = static_cast<double>(Stamp(b + at + 4));
            p.muxRate = (uint32_t(b[at + 9] & 0x7F) << 15) | (uint32_t(b[at + 10]) << 7) | (b[at + 11] >> 1);
            headerEnd = at + 12;
        }
        if (p.muxRate == 0) {
            r.error = "mux rate 0 at " + std::to_string(at);
            break;
        }
        const double perByte = 90000.0 / (p.muxRate * 50.0);
        // The clock reference is the arrival time of the pack's byte 8.
        const double scrByte = static_cast<double>(at + 8);
        auto arrival = [&p, perByte, scrByte](uint64_t offset) {
            return p.scr + (static_cast<double>(offset) - scrByte) * perByte;
        };
        if (previousEnd >= 0 && arrival(at) < previousEnd - tolerance) {
            r.error = "pack at " + std::to_string(at) + " starts before the previous one has arrived";
            break;
        }
        at = headerEnd;
        while (StartCodeAt(b, n, at) && b[at + 3] != 0xBA && b[at + 3] != 0xB9) {
            if (at + 6 > n) {
                r.error = "cut packet at " + std::to_string(at);
                break;
            }
            Packet k;
            k.id = b[at + 3];
            k.offset = at;
            k.length = (uint32_t{b[at + 4]} << 8 | b[at + 5]) + 6;
            const uint64_t end = at + k.length;
            if (end > n) {
                r.error = "packet runs past the end at " + std::to_string(at);
                break;
            }
            if (k.id == 0xBB) {
                p.systemHeader = true;
                for (uint64_t e = at + 12; e + 3 <= end && (b[e] & 0x80); e += 3)
                    headerBuffers[b[e]] = BufferBytes((b[e + 1] >> 5) & 1, (b[e + 1] & 0x1F) << 8 | b[e + 2]);
            } else if (k.id == 0xBD || IsMediaStream(k.id)) {
                ParsePesHeader(b, at, end, k);
            } else {
                k.payloadOffset = at + 6;
                k.payloadBytes = k.length - 6;
            }
            if (IsMediaStream(k.id)) {
                Stream& s = r.streams[k.id];
                s.id = k.id;
                if (s.bufferBytes == 0 && k.bufferBytes != 0) s.bufferBytes = k.bufferBytes;
                Delivery d;
                d.first = s.data.size();
                d.bytes = k.payloadBytes;
                d.start = arrival(k.payloadOffset);
                d.perByte = perByte;
                d.hasStamp = k.hasPts;
                d.stamp = static_cast<double>(k.hasDts ? k.dts : k.pts);
                s.data.insert(s.data.end(), b + k.payloadOffset, b + k.payloadOffset + k.payloadBytes);
                s.bytes += k.payloadBytes;
                if (d.bytes > 0) deliveries[k.id].push_back(d);
            }
            p.packets.push_back(k);
            at = end;
        }
        p.length = at - p.offset;
        previousEnd = arrival(at);
        r.packs.push_back(std::move(p));
        if (!r.error.empty()) break;
    }
    for (auto& [id, s] : r.streams) {
        if (s.bufferBytes == 0) {
            auto it = headerBuffers.find(id);
            if (it == headerBuffers.end()) it = headerBuffers.find(IsVideo(id) ? 0xB9 : 0xB8);
            if (it != headerBuffers.end()) s.bufferBytes = it->second;
        }
        ModelStream(s, deliveries[id], tolerance, r);
    }
    return r;
}

Report CheckSystemStreamFile(const std::filesystem::path& file, double tolerance)
{
    std::ifstream in(file, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return CheckSystemStream(bytes, tolerance);
}

}  // namespace streamcheck
