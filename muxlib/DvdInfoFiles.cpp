// Information files of the DVD volume: the video manager (first play jumps to
// title 1) and the title set of one program chain with one cell.
#include "muxlib/DvdInfoFiles.h"

#include "muxlib/DvdVolume.h"
#include "muxlib/MuxLib.h"
#include "platform/System.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t Sector = 2048;

void Put16(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    b[at] = static_cast<uint8_t>(v >> 8);
    b[at + 1] = static_cast<uint8_t>(v);
}

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    Put16(b, at, v >> 16);
    Put16(b, at + 2, v & 0xFFFF);
}

void PutBytes(std::vector<uint8_t>& b, size_t at, const void* data, size_t n)
{
    std::memcpy(b.data() + at, data, n);
}

// Title attributes in the title set's first sector (menu attributes stay zero).
void PutTitleAttributes(std::vector<uint8_t>& b, const DvdTitleLayout& l)
{
    b[0x200] = l.videoAttributes[0];
    b[0x201] = l.videoAttributes[1];
    // One audio stream, MPEG-1 audio, described as it is: the sample frequency field
    // holds 0 for 48 kHz, 1 for 96 kHz, and here 2 for 44.1 kHz and 3 for 32 kHz,
    // rates DVD-Video players are not obliged to play; the channel count less one.
    Put16(b, 0x202, 1);
    b[0x204] = 0x40;
    const int frequency = l.audioSampleRate == 44100 ? 2 : l.audioSampleRate == 32000 ? 3 : 0;
    const int channels = l.audioChannels >= 1 && l.audioChannels <= 8 ? l.audioChannels : 2;
    b[0x205] = static_cast<uint8_t>(frequency << 4 | (channels - 1));
}

uint32_t InfoSectors(const DvdTitleLayout& l)
{
    const size_t mapBytes = 4 + 4 * l.vobuStarts.size();
    return static_cast<uint32_t>(4 + (mapBytes + Sector - 1) / Sector);
}

int WriteAll(int fd, const std::vector<uint8_t>& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t r = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return -1;
        done += static_cast<size_t>(r);
    }
    return 0;
}

}  // namespace

void DvdBcdTime(uint64_t ticks, uint32_t frameRate, uint32_t ticksPerFrame, uint8_t out[4])
{
    const uint64_t seconds = ticks / 90000;
    const uint64_t frames = (ticks % 90000) / ticksPerFrame;
    auto bcd = [](uint64_t v) { return static_cast<uint8_t>((v / 10 % 10) << 4 | v % 10); };
    out[0] = bcd(seconds / 3600 > 99 ? 99 : seconds / 3600);
    out[1] = bcd(seconds / 60 % 60);
    out[2] = bcd(seconds % 60);
    out[3] = static_cast<uint8_t>((frameRate == 25 ? 0x40 : 0xC0) | bcd(frames));
}

bool DvdVideoAttributeBytes(const DvdVideoAttributes& a, uint8_t out[2])
{
    int aspect;
    if (a.aspectRatio == 2) {
        aspect = 0;
    } else if (a.aspectRatio == 3) {
        aspect = 3;
    } else {
        return false;
    }
    const bool fullHeight = a.height == 480 || a.height == 576;
    int resolution;
    if (a.width == 720 && fullHeight) {
        resolution = 0;
    } else if (a.width == 704 && fullHeight) {
        resolution = 1;
    } else if (a.width == 352 && fullHeight) {
        resolution = 2;
    } else if (a.width == 352 && (a.height == 240 || a.height == 288)) {
        resolution = 3;
    } else {
        return false;
    }
    const int television = a.videoFormat == 2 ? 0 : 1;
    out[0] = static_cast<uint8_t>(1 << 6 | television << 4 | aspect << 2 | (aspect == 0 ? 3 : 0));
    out[1] = static_cast<uint8_t>(resolution << 3);
    return true;
}

std::vector<uint8_t> BuildVideoManagerFile(const DvdTitleLayout& l)
{
    std::vector<uint8_t> b(3 * Sector, 0);
    PutBytes(b, 0, "DVDVIDEO-VMG", 12);
    Put32(b, 0x0C, 5);   // last sector of the manager set: IFO and BUP, three sectors each
    Put32(b, 0x1C, 2);   // last sector of the information file
    Put16(b, 0x20, 0x0011);
    Put16(b, 0x26, 1);   // volumes
    Put16(b, 0x28, 1);   // this volume
    b[0x2A] = 1;         // side
    Put16(b, 0x3E, 1);   // title sets
    PutBytes(b, 0x40, "TAVRO DVD 0.0.1", 15);
    Put32(b, 0x80, 0x4FB);
    Put32(b, 0x84, 0x400);
    Put32(b, 0xC4, 1);   // title search table
    Put32(b, 0xD0, 2);   // title set attribute table

    // First play: no cells, one pre-command, JumpTT 1.
    Put16(b, 0x4E4, 0xEC);
    Put16(b, 0x4EC, 1);
    Put16(b, 0x4F2, 0x0F);
    static const uint8_t jumpTitle1[8] = {0x30, 0x02, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00};
    PutBytes(b, 0x4F4, jumpTitle1, 8);

    const size_t tt = Sector;
    Put16(b, tt, 1);
    Put32(b, tt + 4, 0x13);
    b[tt + 8] = 0x3C;
    b[tt + 9] = 1;        // angles
    Put16(b, tt + 10, 1); // chapters
    b[tt + 14] = 1;       // title set 1
    b[tt + 15] = 1;       // its title 1
    Put32(b, tt + 16, 6); // the title set starts after the manager's IFO and BUP

    const size_t at = 2 * Sector;
    Put16(b, at, 1);
    Put32(b, at + 4, 0x313);
    Put32(b, at + 8, 0x0C);
    Put32(b, at + 0x0C, 0x307);
    // The entry's attribute copy begins 8 bytes into the entry, at the title set's 0x100.
    std::vector<uint8_t> attributes(0x400, 0);
    PutTitleAttributes(attributes, l);
    PutBytes(b, at + 0x14, attributes.data() + 0x100, 0x300);
    return b;
}

std::vector<uint8_t> BuildTitleSetFile(const DvdTitleLayout& l)
{
    const uint32_t info = InfoSectors(l);
    std::vector<uint8_t> b(static_cast<size_t>(info) * Sector, 0);
    const uint32_t lastTitleSector = static_cast<uint32_t>(l.titlePacks - 1);
    PutBytes(b, 0, "DVDVIDEO-VTS", 12);
    Put32(b, 0x0C, static_cast<uint32_t>(info + l.titlePacks + info - 1));
    Put32(b, 0x1C, info - 1);
    Put16(b, 0x20, 0x0011);
    Put32(b, 0x80, 0x7FF);
    Put32(b, 0xC4, info);  // title VOBs follow the information file
    Put32(b, 0xC8, 1);
    Put32(b, 0xCC, 2);
    Put32(b, 0xE0, 3);
    Put32(b, 0xE4, 4);
    PutTitleAttributes(b, l);

    uint8_t playback[4];
    DvdBcdTime(l.playbackTicks, l.frameRate, l.ticksPerFrame, playback);

    const size_t ptt = Sector;
    Put16(b, ptt, 1);
    Put32(b, ptt + 4, 15);
    Put32(b, ptt + 8, 12);
    Put16(b, ptt + 12, 1);
    Put16(b, ptt + 14, 1);

    const size_t pgcit = 2 * Sector;
    Put16(b, pgcit, 1);
    Put32(b, pgcit + 4, 0x129);
    b[pgcit + 8] = 0x81;
    Put16(b, pgcit + 10, 0x007F);
    Put32(b, pgcit + 12, 0x10);
    const size_t pgc = pgcit + 0x10;
    b[pgc + 2] = 1;  // programs
    b[pgc + 3] = 1;  // cells
    PutBytes(b, pgc + 4, playback, 4);
    Put16(b, pgc + 0x0C, 0x8000);  // audio stream 0 present
    static const uint32_t palette[16] = {0x108080, 0xB48080, 0x7D8080, 0xEB8080, 0x51F05A, 0x902235,
                                         0x286DF0, 0xCA4892, 0xAAAEA4, 0xDE8948, 0xAEB76D, 0x49A6DC,
                                         0x616389, 0x98BC51, 0x37B389, 0x718947};
    for (int i = 0; i < 16; ++i) Put32(b, pgc + 0xA4 + 4 * static_cast<size_t>(i), palette[i]);
    Put16(b, pgc + 0xE4, 0xEC);
    Put16(b, pgc + 0xE6, 0xFC);
    Put16(b, pgc + 0xE8, 0xFE);
    Put16(b, pgc + 0xEA, 0x116);
    Put16(b, pgc + 0xEE, 1);  // one post-command: play the title again from chapter 1
    Put16(b, pgc + 0xF2, 0x0F);
    static const uint8_t replay[8] = {0x30, 0x05, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00};
    PutBytes(b, pgc + 0xF4, replay, 8);
    b[pgc + 0xFC] = 1;  // program 1 starts at cell 1
    const size_t cell = pgc + 0xFE;
    b[cell] = 0x08;
    PutBytes(b, cell + 4, playback, 4);
    Put32(b, cell + 8, 0);
    Put32(b, cell + 12, 0);
    Put32(b, cell + 16, l.vobuStarts.empty() ? 0 : l.vobuStarts.back());
    Put32(b, cell + 20, lastTitleSector);
    Put16(b, pgc + 0x116, 1);
    b[pgc + 0x119] = 1;

    const size_t adt = 3 * Sector;
    Put16(b, adt, 1);
    Put32(b, adt + 4, 0x13);
    Put16(b, adt + 8, 1);
    b[adt + 10] = 1;
    Put32(b, adt + 12, 0);
    Put32(b, adt + 16, lastTitleSector);

    const size_t map = 4 * Sector;
    Put32(b, map, static_cast<uint32_t>(4 * l.vobuStarts.size() + 3));
    for (size_t i = 0; i < l.vobuStarts.size(); ++i) Put32(b, map + 4 + 4 * i, l.vobuStarts[i]);
    return b;
}

DvdInfoFileSet::~DvdInfoFileSet()
{
    for (const Pending& p : pending_) {
        ::unlink(p.temporary.c_str());
        platform::ForgetWorkPath(p.temporary);
    }
}

int32_t DvdInfoFileSet::Fail(const std::string& file, const std::string& reason)
{
    std::printf("%s\n", reason.c_str());
    failedFile_ = file;
    reason_ = reason;
    return MuxErrWrite;
}

int32_t DvdInfoFileSet::Prepare(const std::string& base, const std::vector<uint8_t>& bytes)
{
    for (const char* extension : {".IFO", ".BUP"}) {
        const std::string final = base + extension;
        const std::string pattern = platform::CreateFileBeside(final, nullptr);
        const int fd = pattern.empty() ? -1 : ::open(pattern.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (!pattern.empty()) pending_.push_back({pattern, final});
        if (fd < 0) return Fail(final, "Could not create " + final);
        const bool ok = WriteAll(fd, bytes) == 0;
        if (::close(fd) != 0 || !ok) return Fail(final, "Could not write " + final);
    }
    return 0;
}

int32_t DvdInfoFileSet::MoveBeside(const std::string& folder,
                                   const std::vector<std::pair<std::string, std::string>>& moves)
{
    for (const auto& [from, name] : moves) {
        const std::string final = folder + name;
        const std::string pattern = platform::CreateFileBeside(final, nullptr);
        if (pattern.empty()) return Fail(final, "Could not create " + final);
        pending_.push_back({pattern, final});
        // The placeholder made the name ours: the rename replaces only it.
        if (std::rename(from.c_str(), pattern.c_str()) != 0) return Fail(final, "Could not move " + from + " to " + final);
        platform::ConfirmWorkPath(pattern);
    }
    return 0;
}

int32_t DvdInfoFileSet::Commit()
{
    for (size_t i = 0; i < pending_.size(); ++i) {
        platform::NoteWorkPath(pending_[i].final);
        if (std::rename(pending_[i].temporary.c_str(), pending_[i].final.c_str()) != 0) {
            const std::string final = pending_[i].final;
            pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(i));
            return Fail(final, "Could not write " + final);
        }
        platform::ForgetWorkPath(pending_[i].temporary);
    }
    pending_.clear();
    return 0;
}
