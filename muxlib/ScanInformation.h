// SVCD scan information: every I picture's user data carries the sector addresses
// of its neighbours, which are known only once later pictures are written. The
// output is held in a cache of sectors until the addresses are known.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>
#include <memory>
#include <vector>

class MuxSession;

inline constexpr uint32_t SvcdSectorSize = 2324;
// Length of the user data that carries the scan information, start code included.
inline constexpr uint32_t ScanUserDataLength = 18;

// Whether user data (start code included, `length` bytes) is a place for scan information:
// our encoder's placeholder of 14 bytes of 0x01, or a scan record as other encoders
// write it (tag 0x10, length 0x0E, four addresses, often pre-filled), which is patched
// the same way.
bool IsScanRecordSlot(const uint8_t* data, uint32_t length);

// Why a video stream cannot go on an SVCD (empty when it can): SVCD video is MPEG-2,
// so its first sequence header is followed by a sequence extension. Reads the start
// of `video` and puts its position back.
std::string SvcdVideoRefusal(FILE* video);

struct ScanEntry {
    bool done = false;
    // An I picture; the records other pictures carry (as other encoders write them)
    // point at the I pictures around them and are not pointed at themselves.
    bool accessPoint = true;
    // An I picture whose record has not come yet: the output is held from `start`.
    // An I picture is pointed at whether or not it carries a record of its own.
    bool recordPending = false;
    uint32_t timeMs = 0;
    uint64_t start = 0;     // of the pack where the picture begins
    uint64_t position = 0;  // of the user-data start code in the output
    uint8_t minutes = 0;
    uint8_t seconds = 0;
    uint8_t sector = 0;
};

// Writes the 14 bytes that follow the user-data start code of entry `i`.
void MakeScanInformation(const std::deque<ScanEntry>& entries, size_t i, uint8_t out[14]);

class SectorCache {
public:
    static constexpr uint32_t InitialCapacity = 810;
    static constexpr uint32_t Growth = 5;

    struct Sector {
        int32_t number = -1;    // -1 while free
        uint64_t position = 0;  // of its first byte in the output
        std::vector<uint8_t> data;
        uint32_t filled = 0;
    };

    SectorCache();
    // Appends output bytes that begin at `position`; -516 when memory runs out.
    int32_t Write(const uint8_t* bytes, uint32_t length, uint64_t position);
    // Writes out, from the oldest, every full sector (with `force`, every sector) that
    // ends at or before `holdFrom`, where the oldest placeholder still to patch begins.
    int32_t WriteOut(MuxSession& session, bool force, uint64_t holdFrom);
    // Patches the 14 bytes after the user data at `position` when all of them are
    // held here; false when they are not (or the placeholder is not there).
    bool Patch(uint64_t position, const uint8_t scan[14]);
    uint64_t TotalBytes() const { return total_; }

private:
    Sector* Find(uint64_t position);
    int32_t Grow();

    std::vector<Sector> sectors_;
    uint32_t write_ = 0;
    uint32_t read_ = 0;
    uint64_t total_ = 0;
    int32_t numbers_ = 0;
};

class UserDataPatchList {
public:
    // Records one I picture's user data; the pack starts at `packPosition`.
    int32_t RecordScanEntry(MuxSession& session, uint64_t packPosition, uint32_t timeMs, uint64_t position,
                            bool accessPoint = true);
    // An I picture begins in the pack at `packPosition`: it is pointed at from that
    // sector, whether its record follows in the same pack, in a later one or never.
    int32_t RecordIPictureStart(MuxSession& session, uint64_t packPosition, uint32_t timeMs);
    // The record of the I picture begun last, at `position`.
    int32_t RecordIPictureRecord(MuxSession& session, uint64_t packPosition, uint32_t timeMs, uint64_t position);
    // The write step of SVCD output: the bytes go into the cache.
    int32_t SectorCacheWrite(MuxSession& session, const uint8_t* bytes, uint32_t length, uint64_t position);
    // Writes out what no placeholder still holds back and patches the entries whose
    // neighbours are known (with `force`, all); -500 when a placeholder cannot be patched.
    int32_t ReleaseSectors(MuxSession& session, bool force);
    // Patches every entry left through the cache and writes it all out.
    int32_t PatchThroughCache(MuxSession& session);
    // Writes the cache out, patched as far as known, and forgets it: the rest is patched in the file.
    int32_t WriteOutCache(MuxSession& session);
    // Patches the entries not yet done in the written file; -507 when it cannot be opened,
    // -500 when an entry's placeholder is not where it was recorded.
    int32_t PatchScanInformationInFile(const char* path);
    bool HasCache() const { return cache_ != nullptr; }
    // Whether a record is still to be patched (I pictures without one are not).
    bool AnyToPatch();
    const std::deque<ScanEntry>& Entries() const { return entries_; }

private:
    bool PatchEntry(size_t i);
    int32_t AddEntry(MuxSession& session, ScanEntry e, uint64_t packPosition);
    // An I picture whose record has not come by now carries none.
    void EndPendingRecords();

    std::deque<ScanEntry> entries_;
    std::unique_ptr<SectorCache> cache_;
};
