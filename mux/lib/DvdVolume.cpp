// DVD volume writer: reads back the video object files with their hints, rewrites
// every navigation pack (PCI and DSI) with the final addresses and times, writes the
// information files and moves the whole title into VIDEO_TS.
#include "mux/lib/DvdVolume.h"

#include "mux/lib/DvdInfoFiles.h"
#include "mux/lib/MuxLib.h"
#include "mux/lib/PackWriters.h"
#include "mux/lib/SequenceHeader.h"
#include "platform/System.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uint32_t PackBytes = 2048;
// Packs per half second at the volume's byte clock of 10.08 Mbit/s.
constexpr uint64_t PacksPerHalfSecond = 630000 / PackBytes;

// Only one volume is written at a time: the hints are taken over whole while it runs.
std::atomic<bool> hintsInUse{false};

struct HintsClaim {
    bool owned = false;
    bool Claim()
    {
        bool expected = false;
        owned = hintsInUse.compare_exchange_strong(expected, true);
        return owned;
    }
    ~HintsClaim()
    {
        if (owned) hintsInUse = false;
    }
};

struct Fd {
    int fd = -1;
    ~Fd()
    {
        if (fd >= 0) ::close(fd);
    }
    int Close()
    {
        const int r = ::close(fd);
        fd = -1;
        return r;
    }
};

uint32_t Be16(const uint8_t* p) { return static_cast<uint32_t>(p[0]) << 8 | p[1]; }

// A navigation pack as the pack engine writes it: pack header, system header, private stream 2.
bool IsNavigationPack(const uint8_t* p)
{
    static const uint8_t pack[4] = {0, 0, 1, 0xBA};
    static const uint8_t system[4] = {0, 0, 1, 0xBB};
    static const uint8_t private2[4] = {0, 0, 1, 0xBF};
    return std::memcmp(p, pack, 4) == 0 && (p[4] & 0xC0) == 0x40 && std::memcmp(p + 14, system, 4) == 0 &&
           std::memcmp(p + 0x26, private2, 4) == 0;
}

struct Picture {
    size_t vobu = 0;
    int type = 0;  // 1 I, 2 P, 3 B
    uint32_t temporalReference = 0;
    bool hasPts = false;
    uint64_t pts = 0;
    uint64_t endPack = 0;  // title pack number holding the picture's last byte
};

struct Vobu {
    uint64_t lbn = 0;    // title pack number of the navigation pack
    uint64_t packs = 0;  // the navigation pack and every pack up to the next one
    size_t file = 0;
    uint8_t header[0x26] = {};
    uint64_t scr = 0;
    uint64_t startPtm = 0;
    uint64_t endPtm = 0;
    uint32_t pictures = 0;
    uint32_t refEnd[3] = {};
};

struct Title {
    uint32_t frameRate = 30;  // 25 or 30 (29.97)
    uint32_t ticksPerFrame = 3003;
    std::vector<Vobu> vobus;
    std::vector<Picture> pictures;
    std::vector<uint64_t> filePacks;
    uint64_t packs = 0;
};

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
int32_t LoadFile(const DvdVobTable::Entry& e, size_t fileIndex, Title& t, VideoScanner& video)
{
    Fd vob;
    vob.fd = ::open(e.vobName.c_str(), O_RDONLY | O_CLOEXEC);
    if (vob.fd < 0) {
        std::printf("Could not open MPEG file %s\n", e.vobName.c_str());
        return MuxErrRead;
    }
    std::vector<uint8_t> hints;
    if (ReadWhole(e.hintsName, hints) != 0) {
        std::printf("Could not open DVD hints file %s\n", e.hintsName.c_str());
        return MuxErrRead;
    }
    uint8_t pack[PackBytes];
    uint64_t packsInFile = 0;
    for (const uint8_t h : hints) {
        if (h != DvdHintNavigationPack && h != DvdHintPack) continue;  // a flag byte
        if (!ReadPack(vob.fd, pack)) {
            std::printf("DVD file %s is shorter than its hints\n", e.vobName.c_str());
            return MuxErrGeneral;
        }
        const uint64_t number = t.packs + packsInFile;
        if (h == DvdHintNavigationPack) {
            if (!IsNavigationPack(pack)) {
                std::printf("DVD file %s has no navigation pack where its hints say\n", e.vobName.c_str());
                return MuxErrGeneral;
            }
            Vobu v;
            v.lbn = number;
            v.file = fileIndex;
            std::memcpy(v.header, pack, sizeof v.header);
            v.scr = packwriters::ReadProgramPackClockBase(pack);
            t.vobus.push_back(v);
        } else if (t.vobus.empty()) {
            std::printf("DVD file %s does not begin with a navigation pack\n", e.vobName.c_str());
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
            std::printf("DVD file %s holds a damaged pack\n", e.vobName.c_str());
            return MuxErrGeneral;
        }
        ++t.vobus.back().packs;
        ++packsInFile;
    }
    if (::read(vob.fd, pack, 1) != 0) {
        std::printf("DVD file %s is longer than its hints\n", e.vobName.c_str());
        return MuxErrGeneral;
    }
    t.filePacks.push_back(packsInFile);
    t.packs += packsInFile;
    return 0;
}

// Presentation times and reference-picture ends of every VOBU.
void TimeVobus(Title& t)
{
    std::vector<size_t> firstPicture(t.vobus.size(), SIZE_MAX);
    for (size_t i = 0; i < t.pictures.size(); ++i) {
        const Picture& p = t.pictures[i];
        Vobu& v = t.vobus[p.vobu];
        if (firstPicture[p.vobu] == SIZE_MAX && p.hasPts) {
            firstPicture[p.vobu] = i;
            // Temporal references count display order from the group's first picture.
            const uint64_t back = static_cast<uint64_t>(p.temporalReference) * t.ticksPerFrame;
            v.startPtm = p.pts >= back ? p.pts - back : 0;
        }
    }
    uint64_t previousEnd = 0;
    for (size_t k = 0; k < t.vobus.size(); ++k) {
        Vobu& v = t.vobus[k];
        if (firstPicture[k] == SIZE_MAX) v.startPtm = previousEnd;
        v.endPtm = v.startPtm + static_cast<uint64_t>(v.pictures) * t.ticksPerFrame;
        previousEnd = v.endPtm;
    }
    // A VOBU ends where the next one is presented.
    for (size_t k = 0; k + 1 < t.vobus.size(); ++k) {
        if (t.vobus[k + 1].startPtm > t.vobus[k].startPtm) t.vobus[k].endPtm = t.vobus[k + 1].startPtm;
    }
    std::vector<uint32_t> refs(t.vobus.size(), 0);
    for (const Picture& p : t.pictures) {
        if (p.type != 1 && p.type != 2) continue;
        Vobu& v = t.vobus[p.vobu];
        uint32_t& n = refs[p.vobu];
        if (n >= 3) continue;
        const uint64_t last = v.lbn + v.packs - 1;
        v.refEnd[n++] = static_cast<uint32_t>(std::min(p.endPack, last) - v.lbn);
    }
    for (size_t k = 0; k < t.vobus.size(); ++k) {
        for (uint32_t n = std::max<uint32_t>(refs[k], 1); n < 3; ++n) t.vobus[k].refEnd[n] = t.vobus[k].refEnd[n - 1];
    }
}

void Put32(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

uint32_t VobuSearchPointer(const Title& t, size_t k, int direction, uint32_t halfSeconds)
{
    constexpr uint32_t NoVobu = 0x3FFFFFFF;
    const Vobu& v = t.vobus[k];
    const uint64_t walk = halfSeconds * PacksPerHalfSecond;
    size_t target;
    if (direction > 0) {
        const uint64_t reach = v.lbn + walk;
        if (reach >= t.packs) return NoVobu;
        // The last VOBU start passed, at least the next VOBU.
        auto it = std::upper_bound(t.vobus.begin(), t.vobus.end(), reach,
                                   [](uint64_t r, const Vobu& x) { return r < x.lbn; });
        target = static_cast<size_t>(it - t.vobus.begin()) - 1;
        if (target <= k) target = k + 1;
        if (target >= t.vobus.size()) return NoVobu;
    } else {
        if (walk > v.lbn) return NoVobu;
        const uint64_t reach = v.lbn - walk;
        auto it = std::lower_bound(t.vobus.begin(), t.vobus.end(), reach,
                                   [](const Vobu& x, uint64_t r) { return x.lbn < r; });
        target = static_cast<size_t>(it - t.vobus.begin());
        if (target >= k) {
            if (k == 0) return NoVobu;
            target = k - 1;
        }
    }
    const Vobu& to = t.vobus[target];
    const uint64_t distance = to.lbn > v.lbn ? to.lbn - v.lbn : v.lbn - to.lbn;
    uint32_t value = static_cast<uint32_t>(distance & 0x3FFFFFFF);
    if (to.pictures > 0) value |= 0x80000000u;
    if (halfSeconds > 15) value |= 0x40000000u;
    return value;
}

uint32_t NeighbourPointer(const Title& t, size_t k, int direction, bool needVideo)
{
    const Vobu& v = t.vobus[k];
    for (size_t j = k;;) {
        if (direction > 0) {
            if (++j >= t.vobus.size()) break;
        } else {
            if (j-- == 0) break;
        }
        const Vobu& to = t.vobus[j];
        if (needVideo && to.pictures == 0) continue;
        const uint64_t distance = to.lbn > v.lbn ? to.lbn - v.lbn : v.lbn - to.lbn;
        return static_cast<uint32_t>(distance & 0x3FFFFFFF) | (to.pictures > 0 ? 0x80000000u : 0);
    }
    return needVideo ? 0xBFFFFFFFu : 0x3FFFFFFFu;
}

// Start code, length and substream byte of a private stream 2 packet of the navigation pack.
void PutPrivateStream2Header(uint8_t* p, uint16_t length, uint8_t substream)
{
    p[0] = 0;
    p[1] = 0;
    p[2] = 1;
    p[3] = 0xBF;
    p[4] = static_cast<uint8_t>(length >> 8);
    p[5] = static_cast<uint8_t>(length);
    p[6] = substream;
}

// The rewritten navigation pack of VOBU k.
void BuildNavigationPack(const Title& t, size_t k, uint8_t* pack)
{
    const Vobu& v = t.vobus[k];
    const uint64_t cellStart = t.vobus.front().startPtm;
    std::memset(pack, 0, PackBytes);
    std::memcpy(pack, v.header, sizeof v.header);
    uint8_t elapsed[4];
    DvdBcdTime(v.startPtm >= cellStart ? v.startPtm - cellStart : 0, t.frameRate, t.ticksPerFrame, elapsed);

    PutPrivateStream2Header(pack + 0x26, 0x03D4, 0x00);  // PCI
    Put32(pack + 0x2D, static_cast<uint32_t>(v.lbn));
    Put32(pack + 0x39, static_cast<uint32_t>(v.startPtm));
    Put32(pack + 0x3D, static_cast<uint32_t>(v.endPtm));
    std::memcpy(pack + 0x45, elapsed, 4);

    PutPrivateStream2Header(pack + 0x400, 0x03FA, 0x01);  // DSI
    Put32(pack + 0x407, static_cast<uint32_t>(v.scr));
    Put32(pack + 0x40B, static_cast<uint32_t>(v.lbn));
    Put32(pack + 0x40F, static_cast<uint32_t>(v.packs - 1));
    Put32(pack + 0x413, v.refEnd[0]);
    Put32(pack + 0x417, v.refEnd[1]);
    Put32(pack + 0x41B, v.refEnd[2]);
    pack[0x41F] = 0;
    pack[0x420] = 1;  // VOB 1
    pack[0x421] = 0;  // reserved
    pack[0x422] = 1;  // cell 1
    std::memcpy(pack + 0x423, elapsed, 4);
    Put32(pack + 0x433, static_cast<uint32_t>(t.vobus.front().startPtm));
    Put32(pack + 0x437, static_cast<uint32_t>(t.vobus.back().endPtm));

    // Search information: forward 240 ... 1, next; previous, backward 1 ... 240.
    static const uint32_t distances[19] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 20, 60, 120, 240};
    Put32(pack + 0x4F1, NeighbourPointer(t, k, +1, true));
    for (int i = 0; i < 19; ++i) {
        Put32(pack + 0x53D - 4 * i, VobuSearchPointer(t, k, +1, distances[i]));
        Put32(pack + 0x549 + 4 * i, VobuSearchPointer(t, k, -1, distances[i]));
    }
    Put32(pack + 0x541, NeighbourPointer(t, k, +1, false));
    Put32(pack + 0x545, NeighbourPointer(t, k, -1, false));
    Put32(pack + 0x595, NeighbourPointer(t, k, -1, true));
}

int32_t PatchFile(const DvdVobTable::Entry& e, size_t fileIndex, const Title& t, const DvdVolumeTarget& target,
                  uint32_t& vobusDone)
{
    Fd vob;
    vob.fd = ::open(e.vobName.c_str(), O_WRONLY | O_CLOEXEC);
    if (vob.fd < 0) {
        std::printf("Could not open MPEG file %s\n", e.vobName.c_str());
        return MuxErrRead;
    }
    uint64_t firstPack = 0;
    for (size_t i = 0; i < fileIndex; ++i) firstPack += t.filePacks[i];
    uint8_t pack[PackBytes];
    for (size_t k = 0; k < t.vobus.size(); ++k) {
        if (t.vobus[k].file != fileIndex) continue;
        BuildNavigationPack(t, k, pack);
        const off_t at = static_cast<off_t>((t.vobus[k].lbn - firstPack) * PackBytes);
        if (::pwrite(vob.fd, pack, PackBytes, at) != static_cast<ssize_t>(PackBytes)) return MuxErrWrite;
        ++vobusDone;
        if (target.notify) target.notify(3, static_cast<int>(vobusDone));
    }
    return vob.Close() == 0 ? 0 : int32_t{MuxErrWrite};
}

int MakeFolder(const std::string& path)
{
    platform::NoteWorkPath(path);
    if (::mkdir(path.c_str(), 0777) == 0) return 0;
    struct stat st {};
    return errno == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? 0 : -1;
}

// The earlier title's video object files that the new title does not have.
void RemoveStaleVobs(const std::string& videoFolder, size_t vobFiles)
{
    for (size_t n = vobFiles + 1; n <= DvdVobTable::Capacity; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "VTS_01_%zu.VOB", n);
        ::unlink((videoFolder + name).c_str());
    }
}

}  // namespace

void PutNavigationPackets(uint8_t* pack)
{
    std::memset(pack + 0x26, 0, PackBytes - 0x26);
    PutPrivateStream2Header(pack + 0x26, 0x03D4, 0x00);
    PutPrivateStream2Header(pack + 0x400, 0x03FA, 0x01);
}

DvdVobTable::~DvdVobTable()
{
    for (const Entry& e : entries_) {
        if (!e.hintsName.empty()) std::remove(e.hintsName.c_str());
    }
}

bool DvdVobTable::Add(std::string vobName, std::string hintsName)
{
    if (Full()) return false;
    entries_.push_back({std::move(vobName), std::move(hintsName)});
    return true;
}

int32_t WriteDvdVolume(const DvdVolumeTarget& target, DvdVobTable& table, const DvdVideoAttributes& attributes)
{
    uint8_t videoBytes[2];
    if (!DvdVideoAttributeBytes(attributes, videoBytes)) {
        std::printf("Picture size %dx%d or aspect ratio code %d is not allowed on DVD-Video\n", attributes.width,
                    attributes.height, attributes.aspectRatio);
        return MuxErrGeneral;
    }
    if (table.Count() == 0) return MuxErrGeneral;
    HintsClaim claim;
    if (!claim.Claim()) {
        std::printf("File mapping already exists for dvd_hints_mapping");
        return MuxErrGeneral;
    }

    std::string folder = target.folder.empty() ? std::string("./") : target.folder;
    if (folder.back() != '/') folder += '/';
    const std::string videoFolder = folder + "VIDEO_TS/";
    if (target.makeFolders) {
        if (MakeFolder(folder) != 0 || MakeFolder(folder + "VIDEO_TS") != 0 || MakeFolder(folder + "AUDIO_TS") != 0) {
            std::printf("Could not create the DVD folders in %s\n", folder.c_str());
            return MuxErrWrite;
        }
    }

    Title title;
    VideoScanner video(title);
    for (size_t i = 0; i < table.Count(); ++i) {
        const int32_t status = LoadFile(*table.At(i), i, title, video);
        if (status != 0) return status;
    }
    video.End();
    if (title.vobus.empty() || title.pictures.empty()) {
        std::printf("The DVD title holds no pictures\n");
        return MuxErrGeneral;
    }
    TimeVobus(title);

    uint32_t vobusDone = 0;
    for (size_t i = 0; i < table.Count(); ++i) {
        const int32_t status = PatchFile(*table.At(i), i, title, target, vobusDone);
        if (status != 0) return status;
    }

    DvdTitleLayout layout;
    layout.videoAttributes[0] = videoBytes[0];
    layout.videoAttributes[1] = videoBytes[1];
    layout.audioSampleRate = attributes.audioSampleRate;
    layout.audioChannels = attributes.audioChannels;
    layout.frameRate = title.frameRate;
    layout.ticksPerFrame = title.ticksPerFrame;
    layout.titlePacks = title.packs;
    layout.playbackTicks = title.vobus.back().endPtm - title.vobus.front().startPtm;
    for (const Vobu& v : title.vobus) layout.vobuStarts.push_back(static_cast<uint32_t>(v.lbn));

    // The information files are written beside their final names first; nothing is
    // moved into VIDEO_TS before every file has been written.
    DvdInfoFileSet files;
    if (target.notify) target.notify(4, 0);
    int32_t status = files.Prepare(videoFolder + "VIDEO_TS", BuildVideoManagerFile(layout));
    if (status == 0) {
        if (target.notify) target.notify(5, 0);
        status = files.Prepare(videoFolder + "VTS_01_0", BuildTitleSetFile(layout));
    }
    if (status != 0) return status;
    if (!target.makeFolders) return files.Commit();
    std::vector<std::pair<std::string, std::string>> moves;
    for (size_t i = 0; i < table.Count(); ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "VTS_01_%zu.VOB", i + 1);
        moves.emplace_back(table.At(i)->vobName, name);
    }
    status = files.MoveBeside(videoFolder, moves);
    if (status == 0) status = files.Commit();
    if (status == 0) RemoveStaleVobs(videoFolder, table.Count());
    return status;
}

int32_t ReplaceDvdTitle(const std::string& videoFolder, const std::vector<std::pair<std::string, std::string>>& moves,
                        size_t vobFiles)
{
    std::string folder = videoFolder.empty() ? std::string("./") : videoFolder;
    if (folder.back() != '/') folder += '/';
    DvdInfoFileSet files;
    int32_t status = files.MoveBeside(folder, moves);
    if (status == 0) status = files.Commit();
    if (status == 0) RemoveStaleVobs(folder, vobFiles);
    return status;
}
