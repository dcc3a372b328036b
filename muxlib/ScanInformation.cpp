// SVCD scan information: the patch list, the sector cache and the patch of a
// written file.
#include "muxlib/ScanInformation.h"

#include "muxlib/MuxLib.h"
#include "muxlib/MuxSession.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <new>

namespace {

constexpr int64_t ScanReachMs = 5500;
constexpr uint8_t UserDataCode[4] = {0x00, 0x00, 0x01, 0xB2};

uint8_t Bcd(uint32_t v)
{
    return static_cast<uint8_t>(((v / 10) % 10) << 4 | (v % 10));
}

void PutAddress(uint8_t* out, const ScanEntry* e)
{
    if (e == nullptr) {
        out[0] = out[1] = out[2] = 0xFF;
        return;
    }
    out[0] = Bcd(e->minutes);
    out[1] = static_cast<uint8_t>(Bcd(e->seconds) | 0x80);
    out[2] = static_cast<uint8_t>(Bcd(e->sector) | 0x80);
}

bool IsPlaceholder(const uint8_t* p)
{
    return IsScanRecordSlot(p, ScanUserDataLength);
}

// The time of the last I picture recorded; -1 when there is none.
int64_t LastAccessPointTime(const std::deque<ScanEntry>& entries)
{
    for (size_t j = entries.size(); j-- > 0;)
        if (entries[j].accessPoint) return entries[j].timeMs;
    return -1;
}

}  // namespace

bool IsScanRecordSlot(const uint8_t* data, uint32_t length)
{
    if (length < ScanUserDataLength || !std::equal(UserDataCode, UserDataCode + 4, data)) return false;
    if (data[4] == 0x10 && data[5] == 0x0E) return true;
    for (uint32_t i = 4; i < ScanUserDataLength; ++i)
        if (data[i] != 0x01) return false;
    return true;
}

std::string SvcdVideoRefusal(FILE* video)
{
    const long start = std::ftell(video);
    if (start < 0) return std::string();
    uint8_t head[65536];
    const size_t got = std::fread(head, 1, sizeof head, video);
    std::fseek(video, start, SEEK_SET);
    // The first sequence header, then the start code that follows it.
    size_t at = 0;
    while (at + 4 <= got && !(head[at] == 0 && head[at + 1] == 0 && head[at + 2] == 1 && head[at + 3] == 0xB3)) ++at;
    if (at + 4 > got) return std::string();  // the run reports a stream without sequence header itself
    for (at += 12; at + 5 <= got; ++at) {
        if (head[at] != 0 || head[at + 1] != 0 || head[at + 2] != 1) continue;
        if (head[at + 3] == 0xB5 && (head[at + 4] >> 4) == 1) return std::string();
        break;
    }
    return "SVCD video must be MPEG-2 video; this video stream is MPEG-1 (its sequence header has no sequence "
           "extension)";
}

void MakeScanInformation(const std::deque<ScanEntry>& entries, size_t i, uint8_t out[14])
{
    const ScanEntry& e = entries[i];
    out[0] = 0x10;
    out[1] = 0x0E;
    // Only I pictures are pointed at.
    const ScanEntry* first = nullptr;
    const ScanEntry* last = nullptr;
    const ScanEntry* previous = nullptr;
    const ScanEntry* next = nullptr;
    for (size_t j = 0; j < entries.size(); ++j) {
        if (!entries[j].accessPoint) continue;
        if (first == nullptr) first = &entries[j];
        last = &entries[j];
        if (j < i) previous = &entries[j];
        if (j > i && next == nullptr) next = &entries[j];
    }
    PutAddress(out + 2, previous);
    PutAddress(out + 5, next);

    const int64_t back = int64_t{e.timeMs} - ScanReachMs;
    const ScanEntry* backward = first;
    if (back > 0) {
        for (size_t j = i; j-- > 0;) {
            if (entries[j].accessPoint && int64_t{entries[j].timeMs} <= back) {
                backward = &entries[j];
                break;
            }
        }
    }
    PutAddress(out + 8, backward);

    const int64_t ahead = int64_t{e.timeMs} + ScanReachMs;
    const ScanEntry* forward = last;
    for (size_t j = i + 1; j < entries.size(); ++j) {
        if (entries[j].accessPoint && int64_t{entries[j].timeMs} >= ahead) {
            forward = &entries[j];
            break;
        }
    }
    PutAddress(out + 11, forward);
}

SectorCache::SectorCache() : sectors_(InitialCapacity) {}

int32_t SectorCache::Grow()
{
    try {
        // The oldest sector first, then the newer ones, then the new free ones.
        std::rotate(sectors_.begin(), sectors_.begin() + read_, sectors_.end());
        const uint32_t old = static_cast<uint32_t>(sectors_.size());
        sectors_.resize(old + Growth);
        read_ = 0;
        write_ = old - 1;
    } catch (const std::bad_alloc&) {
        return MuxErrOutOfMemory;
    }
    return 0;
}

int32_t SectorCache::Write(const uint8_t* bytes, uint32_t length, uint64_t position)
{
    while (length > 0) {
        Sector* s = &sectors_[write_];
        if (s->number >= 0 && s->filled == SvcdSectorSize) {
            uint32_t next = (write_ + 1) % static_cast<uint32_t>(sectors_.size());
            if (next == read_) {
                int32_t status = Grow();
                if (status != 0) return status;
                next = write_ + 1;
            }
            write_ = next;
            s = &sectors_[write_];
        }
        if (s->number < 0) {
            try {
                s->data.resize(SvcdSectorSize);
            } catch (const std::bad_alloc&) {
                return MuxErrOutOfMemory;
            }
            s->number = numbers_++;
            s->position = position;
            s->filled = 0;
        }
        const uint32_t n = std::min(length, SvcdSectorSize - s->filled);
        std::memcpy(s->data.data() + s->filled, bytes, n);
        s->filled += n;
        total_ += n;
        position += n;
        bytes += n;
        length -= n;
    }
    return 0;
}

int32_t SectorCache::WriteOut(MuxSession& session, bool force, uint64_t holdFrom)
{
    const uint32_t capacity = static_cast<uint32_t>(sectors_.size());
    for (uint32_t i = 0; i < capacity; ++i) {
        Sector& s = sectors_[read_];
        if (s.number < 0) break;
        const bool current = read_ == write_;
        if (!force && (current || s.filled < SvcdSectorSize)) break;
        if (s.position + s.filled > holdFrom) break;
        int32_t status = session.WritePack(s.data.data(), s.filled);
        if (status != 0) return status;
        total_ -= s.filled;
        s.number = -1;
        s.filled = 0;
        if (current) break;
        read_ = (read_ + 1) % capacity;
    }
    return 0;
}

SectorCache::Sector* SectorCache::Find(uint64_t position)
{
    for (Sector& s : sectors_)
        if (s.number >= 0 && position >= s.position && position < s.position + s.filled) return &s;
    return nullptr;
}

bool SectorCache::Patch(uint64_t position, const uint8_t scan[14])
{
    // The user data may run over into the next sector: gather it, check it, put it back.
    uint8_t bytes[ScanUserDataLength];
    Sector* where[ScanUserDataLength];
    for (uint32_t i = 0; i < ScanUserDataLength; ++i) {
        where[i] = Find(position + i);
        if (where[i] == nullptr) return false;
        bytes[i] = where[i]->data[position + i - where[i]->position];
    }
    if (!IsPlaceholder(bytes)) return false;
    for (uint32_t i = 4; i < ScanUserDataLength; ++i) where[i]->data[position + i - where[i]->position] = scan[i - 4];
    return true;
}

int32_t UserDataPatchList::AddEntry(MuxSession& session, ScanEntry e, uint64_t packPosition)
{
    const uint64_t n = packPosition / SvcdSectorSize;
    // Two BCD digits of minutes: a sector beyond them has no address to point at.
    if (n / 4500 > 99) {
        session.problemText = "sector " + std::to_string(n) +
                              " lies beyond the 99 minutes that scan information can address";
        return MuxErrGeneral;
    }
    e.minutes = static_cast<uint8_t>(n / 4500);
    e.seconds = static_cast<uint8_t>((n % 4500) / 75);
    e.sector = static_cast<uint8_t>((n % 4500) % 75);
    try {
        entries_.push_back(e);
    } catch (const std::bad_alloc&) {
        return MuxErrOutOfMemory;
    }
    if (cache_ && cache_->TotalBytes() > uint64_t{SectorCache::InitialCapacity} * SvcdSectorSize - 1)
        return ReleaseSectors(session, false);
    return 0;
}

void UserDataPatchList::EndPendingRecords()
{
    for (size_t j = entries_.size(); j-- > 0 && !entries_[j].done;) {
        if (!entries_[j].recordPending) continue;
        entries_[j].recordPending = false;
        entries_[j].done = true;  // nothing of its own to patch
    }
}

int32_t UserDataPatchList::RecordScanEntry(MuxSession& session, uint64_t packPosition, uint32_t timeMs,
                                           uint64_t position, bool accessPoint)
{
    EndPendingRecords();
    ScanEntry e;
    e.accessPoint = accessPoint;
    e.timeMs = timeMs;
    e.start = packPosition;
    e.position = position;
    return AddEntry(session, e, packPosition);
}

int32_t UserDataPatchList::RecordIPictureStart(MuxSession& session, uint64_t packPosition, uint32_t timeMs)
{
    EndPendingRecords();
    ScanEntry e;
    e.recordPending = true;
    e.timeMs = timeMs;
    e.start = e.position = packPosition;
    return AddEntry(session, e, packPosition);
}

int32_t UserDataPatchList::RecordIPictureRecord(MuxSession& session, uint64_t packPosition, uint32_t timeMs,
                                                uint64_t position)
{
    if (entries_.empty() || !entries_.back().recordPending)
        return RecordScanEntry(session, packPosition, timeMs, position);
    ScanEntry& e = entries_.back();
    e.recordPending = false;
    e.position = position;
    return 0;
}

int32_t UserDataPatchList::SectorCacheWrite(MuxSession& session, const uint8_t* bytes, uint32_t length,
                                            uint64_t position)
{
    (void)session;
    if (!cache_) {
        cache_.reset(new (std::nothrow) SectorCache);
        if (!cache_) return MuxErrOutOfMemory;
    }
    return cache_->Write(bytes, length, position);
}

bool UserDataPatchList::PatchEntry(size_t i)
{
    uint8_t scan[14];
    MakeScanInformation(entries_, i, scan);
    entries_[i].done = cache_ && cache_->Patch(entries_[i].position, scan);
    return entries_[i].done;
}

int32_t UserDataPatchList::ReleaseSectors(MuxSession& session, bool force)
{
    if (!cache_) return 0;
    if (force) EndPendingRecords();
    size_t next = 0;
    for (;;) {
        while (next < entries_.size() && entries_[next].done) ++next;
        // What an entry still to patch lies in stays; a pending record lies after its picture's start.
        const uint64_t holdFrom = next >= entries_.size()          ? std::numeric_limits<uint64_t>::max()
                                  : entries_[next].recordPending ? entries_[next].start
                                                                  : entries_[next].position;
        int32_t status = cache_->WriteOut(session, force, holdFrom);
        if (status != 0) return status;
        if (next >= entries_.size()) return 0;
        // Its neighbours are known once an I picture is recorded far enough after it.
        if (!force && int64_t{entries_[next].timeMs} >= LastAccessPointTime(entries_) - ScanReachMs) return 0;
        if (entries_[next].recordPending) return 0;
        // A placeholder left as it is would go out as a success: it is an error.
        if (!PatchEntry(next)) {
            session.problemText = "the scan information of the picture in sector " +
                                  std::to_string(entries_[next].position / SvcdSectorSize) + " could not be written";
            return MuxErrGeneral;
        }
        ++next;
    }
}

int32_t UserDataPatchList::PatchThroughCache(MuxSession& session)
{
    return ReleaseSectors(session, true);
}

int32_t UserDataPatchList::WriteOutCache(MuxSession& session)
{
    EndPendingRecords();
    if (!cache_) return 0;
    int32_t status = cache_->WriteOut(session, true, std::numeric_limits<uint64_t>::max());
    if (status == 0) cache_.reset();
    return status;
}

bool UserDataPatchList::AnyToPatch()
{
    EndPendingRecords();
    return std::any_of(entries_.begin(), entries_.end(), [](const ScanEntry& e) { return !e.done; });
}

int32_t UserDataPatchList::PatchScanInformationInFile(const char* path)
{
    EndPendingRecords();
    if (entries_.empty()) return 0;
    if (path == nullptr) return MuxErrRead;
    const int fd = ::open(path, O_RDWR | O_CLOEXEC);
    if (fd < 0) return MuxErrRead;
    int32_t status = 0;
    for (size_t i = 0; i < entries_.size() && status == 0; ++i) {
        if (entries_[i].done) continue;
        uint8_t bytes[ScanUserDataLength];
        const off_t at = static_cast<off_t>(entries_[i].position);
        ssize_t n;
        do {
            n = ::pread(fd, bytes, sizeof bytes, at);
        } while (n < 0 && errno == EINTR);
        if (n != static_cast<ssize_t>(sizeof bytes)) {
            status = MuxErrRead;
            break;
        }
        if (!IsPlaceholder(bytes)) {
            status = MuxErrGeneral;
            break;
        }
        uint8_t scan[14];
        MakeScanInformation(entries_, i, scan);
        do {
            n = ::pwrite(fd, scan, sizeof scan, at + 4);
        } while (n < 0 && errno == EINTR);
        if (n != static_cast<ssize_t>(sizeof scan)) status = MuxErrWrite;
        entries_[i].done = true;
    }
    if (::close(fd) != 0 && status == 0) status = MuxErrWrite;
    return status;
}
