// Checks of written streams shared by the library tests and the job tests: the
// tables and clock references of a transport stream, and the scan information of an
// SVCD stream read back against the sectors where its I pictures begin.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace muxtest {

struct TransportTiming {
    std::string error;      // first broken rule; empty when none
    double lastTable = -1;  // clock (s) at the last PAT
    double maxTableGap = 0;  // s between two PATs or two PMTs
    double maxPcrGap = 0;    // s between two clock references
};

// Walks 188-byte packets: sync bytes, continuity counters, rising clock references
// (all on PID 27), and how far apart the PAT (PID 0) and PMT (PID 16) come.
inline TransportTiming CheckTransportTiming(const std::string& b)
{
    TransportTiming t;
    if (b.size() % 188 != 0) t.error = "not whole packets";
    double lastPat = -1, lastPmt = -1, lastPcr = -1;
    std::map<int, int> continuity;
    for (size_t at = 0; at + 188 <= b.size() && t.error.empty(); at += 188) {
        auto byte = [&](size_t i) { return static_cast<uint8_t>(b[at + i]); };
        if (byte(0) != 0x47) t.error = "no sync byte at " + std::to_string(at);
        const int pid = (byte(1) & 0x1F) << 8 | byte(2);
        const uint8_t control = byte(3);
        if ((control & 0x20) && byte(4) > 0 && (byte(5) & 0x10)) {
            auto u = [&](size_t i) { return uint64_t{byte(6 + i)}; };
            const double pcr = static_cast<double>(u(0) << 25 | u(1) << 17 | u(2) << 9 | u(3) << 1 | u(4) >> 7) / 90000.0;
            if (pid != 27) t.error = "clock reference on PID " + std::to_string(pid);
            if (lastPcr >= 0) {
                if (pcr < lastPcr) t.error = "clock reference going back at " + std::to_string(at);
                t.maxPcrGap = std::max(t.maxPcrGap, pcr - lastPcr);
            }
            lastPcr = pcr;
        }
        if (lastPcr >= 0 && pid == 0) {
            if (lastPat >= 0) t.maxTableGap = std::max(t.maxTableGap, lastPcr - lastPat);
            lastPat = lastPcr;
        }
        if (lastPcr >= 0 && pid == 16) {
            if (lastPmt >= 0) t.maxTableGap = std::max(t.maxTableGap, lastPcr - lastPmt);
            lastPmt = lastPcr;
        }
        if (pid != 0x1FFF && (control & 0x10)) {
            if (continuity.count(pid) && (control & 15) != ((continuity[pid] + 1) & 15))
                t.error = "continuity broken on PID " + std::to_string(pid) + " at " + std::to_string(at);
            continuity[pid] = control & 15;
        }
    }
    t.lastTable = lastPat;
    return t;
}

// Sector address of a scan-information field (three BCD bytes: minutes, seconds, sectors).
inline uint32_t ScanSector(const std::string& b, size_t at)
{
    auto bcd = [&](size_t i) {
        const auto v = static_cast<uint8_t>(b[at + i]) & 0x7F;
        return static_cast<uint32_t>((v >> 4) * 10 + (v & 15));
    };
    return bcd(0) * 4500 + bcd(1) * 75 + bcd(2);
}

// Every I picture of an SVCD stream (2324-byte sectors) carries its scan information in
// the sector where it begins: the previous and next I pictures' sectors (FF FF FF at the
// ends) and two more around its own. Returns the first problem, empty when none;
// `iPictures` receives the I pictures seen. With `othersRecords` (streams of other
// encoders) an I picture's record is the first one before the next picture, wherever
// it lies, and an I picture may have none: it is still pointed at from its neighbours.
inline std::string ScanInformationProblem(const std::string& bytes, size_t* iPictures = nullptr,
                                          bool othersRecords = false)
{
    const std::string picture("\0\0\1\0", 4), record("\0\0\1\xB2\x10\x0E", 6);
    std::vector<uint32_t> sectors;
    std::vector<size_t> records;  // npos: none
    for (size_t at = bytes.find(picture); at != std::string::npos && at + 6 <= bytes.size();
         at = bytes.find(picture, at + 4)) {
        if (((static_cast<uint8_t>(bytes[at + 5]) >> 3) & 7) != 1) continue;
        sectors.push_back(static_cast<uint32_t>(at / 2324));
        size_t user = bytes.find(record, at);
        if (othersRecords) {
            if (user != std::string::npos && (user > bytes.find(picture, at + 4) || user + 18 > bytes.size()))
                user = std::string::npos;
            records.push_back(user == std::string::npos ? user : user + 6);
            continue;
        }
        if (user == std::string::npos || user / 2324 != at / 2324 || user + 18 > bytes.size())
            return "I picture in sector " + std::to_string(at / 2324) + " without scan information there";
        records.push_back(user + 6);
    }
    if (iPictures != nullptr) *iPictures = sectors.size();
    const std::string none("\xFF\xFF\xFF");
    for (size_t i = 0; i < sectors.size(); ++i) {
        const size_t r = records[i];
        if (r == std::string::npos) continue;
        const std::string where = "I picture " + std::to_string(i) + " in sector " + std::to_string(sectors[i]);
        if (i == 0 ? bytes.compare(r, 3, none) != 0 : ScanSector(bytes, r) != sectors[i - 1])
            return where + ": previous I picture's sector wrong";
        if (i + 1 == sectors.size() ? bytes.compare(r + 3, 3, none) != 0 : ScanSector(bytes, r + 3) != sectors[i + 1])
            return where + ": next I picture's sector wrong";
        if (ScanSector(bytes, r + 6) > sectors[i] || ScanSector(bytes, r + 9) < sectors[i])
            return where + ": the sectors around it do not enclose it";
    }
    return std::string();
}

}  // namespace muxtest
