// The DVD volume writer's first pass: reads the pack engine's video object files
// with their hints back, pack by pack, and follows the video stream through them.
#include "muxlib/DvdTitle.h"

#include "muxlib/MuxLib.h"
#include "muxlib/PackWriters.h"
#include "muxlib/SequenceHeader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

namespace dvdtitle {

namespace {

uint32_t Be16(const uint8_t* p) { return static_cast<uint32_t>(p[0]) << 8 | p[1]; }

// A navigation pack as the pack engine writes it: pack header, system header, private stream 2.
bool IsNavigationPack(const uint8_t* p)
{
    static const uint8_t pack[4] = {0, 0, 1, 0xBA};
    static const uint8_t system[4] = {0, 0, 1, 0xBB};
    static const uint8_t private2[4] = {0, 0, 1, 0xBF};
    return std::memcmp(p, pack, 4) == 0 && (p[4] & 0xC0) == 0x40 && std::memcmp(p + 14, system, 4) == 0 &&
           std::memcmp(p + navpack::PciPacket, private2, 4) == 0;
}

// Follows the video elementary stream through the packs: picture starts, types,
// temporal references, time stamps and the pack each picture ends in.
class VideoScanner {
public:
    explicit VideoScanner(Title& t) : title_(t) {}

    void Payload(const uint8_t* data, size_t n, bool hasPts, uint64_t pts, uint64_t pack)
    {
        bool ptsPending = hasPts;
        for (size_t i = 0; i < n; ++i) {
            const uint8_t b = data[i];
            if (headerBytes_ > 0) {
                header_[2 - headerBytes_] = b;
                if (--headerBytes_ == 0) {
                    Picture& p = title_.pictures.back();
                    p.temporalReference = static_cast<uint32_t>(header_[0]) << 2 | header_[1] >> 6;
                    p.type = (header_[1] >> 3) & 7;
                }
            }
            lastPacks_[i4_ & 7] = pack;
            ++i4_;
            reg_ = reg_ << 8 | b;
            if ((reg_ & 0xFFFFFF00u) != 0x00000100u || i4_ < 4) continue;
            const uint8_t code = b;
            if (code == 0x00 || code == 0xB3 || code == 0xB8 || code == 0xB7) {
                // The byte before this start code ends the picture being read.
                if (open_) title_.pictures.back().endPack = lastPacks_[(i4_ - 5) & 7];
                open_ = false;
            }
            if (code == 0x00 && !title_.vobus.empty()) {
                Picture p;
                p.vobu = title_.vobus.size() - 1;
                // A time stamp belongs to the first picture whose start code begins in the packet.
                if (ptsPending && i >= 3) {
                    p.hasPts = true;
                    p.pts = pts;
                    ptsPending = false;
                }
                p.endPack = pack;
                title_.pictures.push_back(p);
                ++title_.vobus.back().pictures;
                open_ = true;
                headerBytes_ = 2;
            }
        }
    }

    void End()
    {
        if (open_) title_.pictures.back().endPack = lastPacks_[(i4_ - 1) & 7];
        open_ = false;
    }

private:
    Title& title_;
    uint32_t reg_ = 0xFFFFFFFFu;
    uint64_t i4_ = 0;
    uint64_t lastPacks_[8] = {};  // packs of the latest bytes, by byte number
    bool open_ = false;
    int headerBytes_ = 0;
    uint8_t header_[2] = {};
};

// Reads the PES packets of one pack; video payload goes to the scanner.
bool ParsePack(const uint8_t* p, uint64_t pack, VideoScanner& video)
{
    if (p[0] != 0 || p[1] != 0 || p[2] != 1 || p[3] != 0xBA || (p[4] & 0xC0) != 0x40) return false;
    size_t pos = 14 + (p[13] & 7);
    while (pos + 6 <= PackBytes) {
        if (p[pos] != 0 || p[pos + 1] != 0 || p[pos + 2] != 1) break;
        const uint8_t id = p[pos + 3];
        const size_t end = pos + 6 + Be16(p + pos + 4);
        if (end > PackBytes) return false;
        if (id >= 0xE0 && id <= 0xEF && pos + 9 <= end) {
            const size_t payload = pos + 9 + p[pos + 8];
            if (payload > end) return false;
            const bool hasPts = (p[pos + 7] & 0x80) != 0 && p[pos + 8] >= 5;
            const uint64_t pts = hasPts ? packwriters::ReadTimeStamp(p + pos + 9) : 0;
            video.Payload(p + payload, end - payload, hasPts, pts, pack);
        }
        pos = end;
    }
    return true;
}

int32_t ReadWhole(const std::string& name, std::vector<uint8_t>& out)
{
    Fd f;
    f.fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (f.fd < 0) return -1;
    struct stat st {};
    if (::fstat(f.fd, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    out.resize(static_cast<size_t>(st.st_size));
    size_t got = 0;
    while (got < out.size()) {
        const ssize_t r = ::read(f.fd, out.data() + got, out.size() - got);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return -1;
        got += static_cast<size_t>(r);
    }
    return 0;
}

bool ReadPack(int fd, uint8_t* pack)
{
    size_t got = 0;
    while (got < PackBytes) {
        const ssize_t r = ::read(fd, pack + got, PackBytes - got);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        got += static_cast<size_t>(r);
    }
    return true;
}

// First pass over one file: the frame rate, the VOBU starts and the pictures.
int32_t LoadFile(const DvdVolumeTarget& target, const DvdVobTable::Entry& e, size_t fileIndex, Title& t,
                 VideoScanner& video)
{
    Fd vob;
    vob.fd = ::open(e.vobName.c_str(), O_RDONLY | O_CLOEXEC);
    if (vob.fd < 0) {
        Problem(target, e.vobName, "Could not open MPEG file %s", e.vobName.c_str());
        return MuxErrRead;
    }
    std::vector<uint8_t> hints;
    if (ReadWhole(e.hintsName, hints) != 0) {
        Problem(target, e.hintsName, "Could not open DVD hints file %s", e.hintsName.c_str());
        return MuxErrRead;
    }
    uint8_t pack[PackBytes];
    uint64_t packsInFile = 0;
    for (const uint8_t h : hints) {
        if (h != DvdHintNavigationPack && h != DvdHintPack) continue;  // a flag byte
        if (!ReadPack(vob.fd, pack)) {
            Problem(target, e.vobName, "DVD file %s is shorter than its hints", e.vobName.c_str());
            return MuxErrGeneral;
        }
        const uint64_t number = t.packs + packsInFile;
        if (h == DvdHintNavigationPack) {
            if (!IsNavigationPack(pack)) {
                Problem(target, e.vobName, "DVD file %s has no navigation pack where its hints say", e.vobName.c_str());
                return MuxErrGeneral;
            }
            Vobu v;
            v.lbn = number;
            v.file = fileIndex;
            std::memcpy(v.header, pack, sizeof v.header);
            v.scr = packwriters::ReadProgramPackClockBase(pack);
            t.vobus.push_back(v);
        } else if (t.vobus.empty()) {
            Problem(target, e.vobName, "DVD file %s does not begin with a navigation pack", e.vobName.c_str());
            return MuxErrGeneral;
        }
        if (t.pictures.empty() && fileIndex == 0) {
            // The frame rate comes from the first sequence header.
            for (size_t i = 0; i + SequenceHeaderBytes <= PackBytes; ++i) {
                if (IsSequenceHeader(pack + i, PackBytes - i)) {
                    const uint32_t code = ParseSequenceHeader(pack + i + 4).frameRateCode;
                    t.frameRate = code == 3 ? 25 : 30;
                    t.ticksPerFrame = code == 3 ? 3600 : 3003;
                    break;
                }
            }
        }
        if (!ParsePack(pack, number, video)) {
            Problem(target, e.vobName, "DVD file %s holds a damaged pack", e.vobName.c_str());
            return MuxErrGeneral;
        }
        ++t.vobus.back().packs;
        ++packsInFile;
    }
    if (::read(vob.fd, pack, 1) != 0) {
        Problem(target, e.vobName, "DVD file %s is longer than its hints", e.vobName.c_str());
        return MuxErrGeneral;
    }
    t.filePacks.push_back(packsInFile);
    t.packs += packsInFile;
    return 0;
}

}  // namespace

int32_t ReadTitle(const DvdVolumeTarget& target, const DvdVobTable& table, Title& t)
{
    VideoScanner video(t);
    for (size_t i = 0; i < table.Count(); ++i) {
        const int32_t status = LoadFile(target, *table.At(i), i, t, video);
        if (status != 0) return status;
    }
    video.End();
    return 0;
}

}  // namespace dvdtitle
