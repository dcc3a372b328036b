// DVD pack engine: schedules the DVD readers' packets into 2048-byte packs at the
// byte clock of 10.08 Mbit/s, starts every video object unit with a navigation
// pack, splits the output into video object files and writes the hints files.
#include "muxlib/DvdMuxEngine.h"

#include "muxlib/MuxSession.h"
#include "muxlib/PackWriters.h"
#include "muxlib/SequenceHeader.h"
#include "platform/System.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <new>
#include <unistd.h>

namespace {

// The clock reference follows the bytes written at 25200 units of 50 bytes/s.
constexpr uint64_t ClockBytesPerSecond = 1260000;
constexpr uint32_t PacketBytes = DvdMuxEngine::PackBytes - packwriters::ProgramPackHeaderLength;

// Margins of FollowVideoTime, in packs of the byte clock. Each packet of the picture
// that opens the unit takes a pack, and audio packs come between them: a quarter more
// than one pack per packet leaves room for them.
constexpr double PacksPerOpeningPacket = 1.25;
// Before those packets: the navigation pack that opens the unit and one pack to spare.
constexpr double PacksBeforeOpeningPicture = 2.0;
// Before the next audio unit is due: the navigation pack, the video pack that may be
// written first and the audio pack itself.
constexpr double PacksBeforeAudioDue = 3.0;

}  // namespace

namespace {

// Books one packet: bytes before the first access unit that begins here belong to
// the unit still arriving; the last unit takes what the records leave over. Units
// beyond what the model keeps are not booked (the fit test keeps room for them).
void BookDvdPacket(DecoderBuffer& buffer, const PesPacketRecord& r)
{
    const uint32_t payload = r.PayloadLength();
    uint64_t counted = 0;
    const uint32_t leading = r.unitCount > 0 ? std::min(r.leadingBytes, payload) : payload;
    if (leading > 0) buffer.Continue(leading);
    counted += leading;
    for (uint32_t i = 0; i < r.unitCount && buffer.FreeUnits() > 0; ++i) {
        uint64_t bytes = r.units[i].bytes;
        if (i + 1 == r.unitCount && counted + bytes < payload) bytes = payload - counted;
        counted += bytes;
        buffer.AddUnit(r.units[i].time, bytes);
    }
}

// Whether a packet of `bytes` payload carrying `units` access units fits below `capacity`.
bool DvdPacketFits(const DecoderBuffer& buffer, uint64_t bytes, uint32_t units, uint64_t capacity)
{
    return static_cast<uint64_t>(buffer.Occupancy()) + bytes < capacity && units <= buffer.FreeUnits();
}

}  // namespace

DvdMuxEngine::DvdMuxEngine(MuxSession& session) : MuxPackEngine(session)
{
    attributes_.width = 0;  // unknown until the first sequence header
    attributes_.height = 0;
}

DvdMuxEngine::~DvdMuxEngine()
{
    CloseDvdHintsFile();
    // The video object files go when no volume took them.
    for (const std::string& f : workFiles_) std::remove(f.c_str());
}

uint64_t DvdVobFileLimit(int32_t option)
{
    uint64_t bytes = option > 0 ? std::min(static_cast<uint64_t>(option), DvdVobMaxBytes) : DvdVobSplitBytes;
    bytes -= bytes % DvdMuxEngine::PackBytes;
    return std::max<uint64_t>(bytes, DvdMuxEngine::PackBytes);
}

uint64_t DvdMuxEngine::SplitBytes() const
{
    return DvdVobFileLimit(session.Option(MuxOptionDvdSplitBytes));
}

void DvdMuxEngine::SetOutputFolder(const MuxDvdFolderDescriptor& descriptor)
{
    folder_ = descriptor;
    haveFolder_ = true;
    vobPath_ = folder_.outputName;
}

void DvdMuxEngine::AdoptWorkFile(const std::string& path)
{
    workFiles_.push_back(path);
}

int32_t DvdMuxEngine::OpenDvdHintsFile()
{
    CloseDvdHintsFile();
    std::error_code ec;
    std::string dir = std::filesystem::temp_directory_path(ec).string();
    if (ec || dir.empty()) dir = ".";
    // Named as a work file of this process, so that a later job removes it
    // when this one was killed.
    const std::string path = platform::CreateWorkFile(dir, "dvd", nullptr);
    if (!path.empty()) {
        hints_ = std::fopen(path.c_str(), "wb");
        if (hints_ != nullptr) {
            hintsPath_ = path;
            return 0;
        }
        std::remove(path.c_str());
        platform::ForgetWorkPath(path);
    }
    session.ReportStatus(MuxErrWrite);
    return MuxErrWrite;
}

void DvdMuxEngine::CloseDvdHintsFile()
{
    if (hints_ != nullptr) std::fclose(hints_);
    hints_ = nullptr;
    if (!hintsPath_.empty()) {
        std::remove(hintsPath_.c_str());
        platform::ForgetWorkPath(hintsPath_);
    }
    hintsPath_.clear();
}

int32_t DvdMuxEngine::CloseHintsStream()
{
    if (hints_ == nullptr) return 0;
    const bool failed = std::ferror(hints_) != 0;
    const bool closeFailed = std::fclose(hints_) != 0;
    hints_ = nullptr;
    if (failed || closeFailed) {
        session.failedFile = hintsPath_;
        session.ReportStatus(MuxErrWrite);
        return MuxErrWrite;
    }
    return 0;
}

uint64_t DvdMuxEngine::Clock() const
{
    return baseClock_ + (bytesWritten_ - baseBytes_) * 27000000 / ClockBytesPerSecond;
}

uint64_t DvdMuxEngine::VideoCapacity() const
{
    return static_cast<uint64_t>(std::max(0, session.Option(3) - 2)) * 1024;
}

uint64_t DvdMuxEngine::AudioCapacity() const
{
    return static_cast<uint64_t>(std::max(0, session.Option(2) - 3)) * 128;
}

uint32_t DvdMuxEngine::MuxRate() const
{
    return static_cast<uint32_t>(session.Option(5)) & 0x3FFFFF;
}

int32_t DvdMuxEngine::FeedVideo(const uint8_t* data, uint32_t length)
{
    if (!attributesKnown_ && data != nullptr && IsSequenceHeader(data, length)) {
        const SequenceHeader sequence = ParseSequenceHeader(data + 4);
        attributes_.width = static_cast<int>(sequence.horizontalSize);
        attributes_.height = static_cast<int>(sequence.verticalSize);
        attributes_.aspectRatio = static_cast<int>(sequence.aspectRatio);
        attributes_.videoFormat = sequence.frameRateCode == 3 ? 1 : 2;  // 25 pictures a second is PAL
        attributesKnown_ = true;
    }
    return geometry.FeedVideo(data, length);
}

int32_t DvdMuxEngine::FeedAudio(const uint8_t* data, uint32_t length)
{
    // The information files describe the audio stream that is there.
    if (!audioKnown_ && data != nullptr && length >= 4 && data[0] == 0xFF && (data[1] & 0xE0) == 0xE0) {
        static constexpr int Rates[3] = {44100, 48000, 32000};
        const int index = (data[2] >> 2) & 3;
        if (index < 3) {
            attributes_.audioSampleRate = Rates[index];
            attributes_.audioChannels = (data[3] >> 6) == 3 ? 1 : 2;
            audioKnown_ = true;
        }
    }
    return geometry.FeedAudio(data, length);
}

int32_t DvdMuxEngine::WritePack(const uint8_t* pack)
{
    // A file that the pack would take past its limit ends before it. The title's files
    // are one run of packs to a player, so a video object unit may go on in the next.
    if ((session.Option(11) & 4) != 0 && haveFolder_ && folder_.nextFile != nullptr && fileBytes_ > 0 &&
        fileBytes_ + PackBytes > SplitBytes()) {
        const int32_t status = SplitFile();
        if (status != 0) return status;
    }
    const int32_t status = session.WritePack(pack, PackBytes);
    bytesWritten_ += PackBytes;
    fileBytes_ += PackBytes;
    if (status != 0) {
        session.failedFile = vobPath_;
        session.ReportStatus(status);
    }
    return status;
}

int32_t DvdMuxEngine::WriteHints(const uint8_t* bytes, size_t length)
{
    if (hints_ == nullptr) return 0;
    if (std::fwrite(bytes, 1, length, hints_) == length) return 0;
    session.failedFile = hintsPath_;
    session.ReportStatus(MuxErrWrite);
    return MuxErrWrite;
}

int32_t DvdMuxEngine::SplitFile()
{
    // The file after this one must still find a place in the table.
    if (vobs_.Count() + 2 > DvdVobTable::Capacity) {
        const std::string reason =
            "A DVD title set holds at most " + std::to_string(DvdVobTable::Capacity) + " video object files";
        std::printf("%s\n", reason.c_str());
        session.ReportProblem(MuxErrGeneral, reason);
        return MuxErrGeneral;
    }
    int32_t status = CloseHintsStream();
    if (status != 0) return status;
    char name[360] = {};
    char path[360] = {};
    std::strncpy(path, vobPath_.c_str(), sizeof path - 1);
    status = folder_.nextFile(2, name, path);
    if (status == 0) status = session.lastStatus;
    if (status != 0) {
        if (session.lastStatus != status) session.ReportStatus(status);
        return status;
    }
    vobs_.Add(vobPath_, hintsPath_);
    hintsPath_.clear();  // the table owns it now
    vobPath_ = path;
    fileBytes_ = 0;
    return OpenDvdHintsFile();
}

int32_t DvdMuxEngine::WriteNavigationPack()
{
    uint8_t pack[PackBytes] = {};
    const uint32_t rate = MuxRate();
    uint32_t at = packwriters::WriteProgramPackHeader(pack, Clock(), rate);
    packwriters::SystemHeaderRecord header;
    header.rateBound = rate;
    header.audioBound = 1;
    header.audioLock = 1;
    header.videoLock = 1;
    header.videoBound = 1;
    header.streams[0] = {0xB9, 232};
    header.streams[1] = {0xB8, 32};
    header.streams[2] = {0xBD, 58};
    header.streams[3] = {0xBF, 2};
    header.streamCount = 4;
    const uint32_t systemAt = at;
    at += packwriters::WriteSystemHeader(header, pack + at);
    // Private streams 1 and 2 count their buffers in 1024-byte units as well.
    pack[systemAt + 12 + 2 * 3 + 1] |= 0x20;
    pack[systemAt + 12 + 3 * 3 + 1] |= 0x20;
    PutNavigationPackets(pack);
    ++vobus_;
    audioExtensionDue_ = true;
    int32_t status = WritePack(pack);
    if (status == 0) {
        const uint8_t hint = DvdHintNavigationPack;
        status = WriteHints(&hint, 1);
    }
    return status;
}

int32_t DvdMuxEngine::WriteUnitPack(PesPacketRecord& r, bool video)
{
    if (r.totalLength > PacketBytes || r.bytes.size() < r.totalLength) {
        session.ReportStatus(MuxErrGeneral);
        return MuxErrGeneral;
    }
    uint8_t pack[PackBytes];
    uint32_t at = packwriters::WriteProgramPackHeader(pack, Clock(), MuxRate());
    const uint32_t gap = PacketBytes - r.totalLength;
    // A gap too small for a padding packet goes into the pack header's stuffing.
    if (gap > 0 && gap < 6) {
        pack[13] = static_cast<uint8_t>(0xF8 | gap);
        std::memset(pack + at, 0xFF, gap);
        at += gap;
    }
    // The clock reference is the arrival of the pack's byte 8; the rest follows at the byte clock.
    const double perByte = 90000.0 / ClockBytesPerSecond;
    const double payloadStart = static_cast<double>(Clock()) / 300.0 + (at + r.headerLength - 8.0) * perByte;
    std::memcpy(pack + at, r.bytes.data(), r.totalLength);
    at += r.totalLength;
    if (at < PackBytes) packwriters::WritePaddingPacket(pack + at, PackBytes - at);
    AuditPesPacket(video ? videoAudit_ : audioAudit_, r, payloadStart, perByte,
                   video ? videoModel_.Occupancy() : audioModel_.Occupancy(),
                   video ? int64_t{session.Option(3)} * 1024 : int64_t{session.Option(2)} * 128);
    int32_t status = WritePack(pack);
    if (status != 0) return status;

    uint8_t hints[11];
    size_t n = 0;
    hints[n++] = DvdHintPack;
    for (uint32_t i = 0; i < r.unitCount && i < 10; ++i) {
        const bool ends = i + 1 < r.unitCount || r.lastUnitEnds;
        hints[n++] = static_cast<uint8_t>((r.units[i].hint & (video ? 0x03 : DvdHintAudioUnit)) |
                                          (ends ? DvdHintUnitEnds : 0));
    }
    return WriteHints(hints, n);
}

int32_t DvdMuxEngine::WritePaddingPack()
{
    uint8_t pack[PackBytes];
    const uint32_t at = packwriters::WriteProgramPackHeader(pack, Clock(), MuxRate());
    packwriters::WritePaddingPacket(pack + at, PackBytes - at);
    int32_t status = WritePack(pack);
    if (status == 0) {
        const uint8_t hint = DvdHintPack;
        status = WriteHints(&hint, 1);
    }
    return status;
}

// When neither stream's next packet fits its decoder buffer, the clock reference moves
// on to the moment the next access unit leaves a buffer: the packs that follow keep
// their place in time without padding filling the gap, and the title is about the
// size of its streams. False when no unit is waiting or the clock is there already.
bool DvdMuxEngine::AdvanceClockToNextRemoval()
{
    const uint64_t next = std::min(videoModel_.NextRemoval(), audioModel_.NextRemoval());
    if (next == UINT64_MAX || next > UINT64_MAX / 300) return false;
    const uint64_t clock = next * 300;
    if (clock <= Clock()) return false;
    baseClock_ = clock;
    baseBytes_ = bytesWritten_;
    return true;
}

// With option 11 bit 1 the clock follows the video time group by group: when a video
// object unit opens, every picture before it has been written, and the clock moves on
// to the time of its first picture (picture count x frame period) where the byte clock
// has fallen behind it; the decoder buffer, full until then, takes the time to drain
// instead of the padding packs that would fill it. The clock never goes back, and never
// so far that a packet still to come would reach its decoder after its decoding time.
void DvdMuxEngine::FollowVideoTime(const PesPacketRecord& opening)
{
    const auto* video = dynamic_cast<const QueuedVideoUnit*>(opening.stream.get());
    if (video == nullptr || video->rateNum == 0 || opening.unitCount == 0) return;
    double target = static_cast<double>(picturesSent_) * 90000.0 * video->rateDen / video->rateNum;
    const double packTicks = PackBytes * 90000.0 / ClockBytesPerSecond;
    // The opening picture's packets (with room for the audio between them) come first.
    uint32_t packets = 1;
    for (const auto& next : videoQueue) {
        if (next->unitCount > 0) {
            if (next->leadingBytes > 0) ++packets;
            break;
        }
        ++packets;
    }
    target = std::min(target, static_cast<double>(opening.units[0].time) -
                                  (packets * PacksPerOpeningPacket + PacksBeforeOpeningPicture) * packTicks);
    if (!audioQueue.empty()) {
        const PesPacketRecord& a = *audioQueue.front();
        if (a.unitCount == 0) return;
        const auto* audio = dynamic_cast<const QueuedAudioUnit*>(a.stream.get());
        const double frame = audio != nullptr && audio->sampleRate > 0 ? 1152 * 90000.0 / audio->sampleRate : 0;
        const double due = static_cast<double>(a.units[0].time) - (a.leadingBytes > 0 ? frame : 0);
        target = std::min(target, due - PacksBeforeAudioDue * packTicks);
    }
    if (!(target > 0)) return;
    const uint64_t clock = static_cast<uint64_t>(target) * 300;
    if (clock <= Clock()) return;
    baseClock_ = clock;
    baseBytes_ = bytesWritten_;
}

int32_t DvdMuxEngine::SendVideo()
{
    std::unique_ptr<PesPacketRecord> r = std::move(videoQueue.front());
    videoQueue.pop_front();
    // A sequence header opens a video object unit; the stream's first pack is always one.
    bool opens = vobus_ == 0;
    if (r->startsVobu) {
        const uint64_t time = (r->flags & PesPacketRecord::FlagDts) ? r->dts : r->pts;
        opens = opens || !haveVobuTime_ || time != lastVobuTime_;
        lastVobuTime_ = time;
        haveVobuTime_ = true;
    }
    if (opens) {
        if ((session.Option(11) & 1) != 0 && vobus_ > 0) {
            FollowVideoTime(*r);
            const uint64_t now = Clock() / 300;
            videoModel_.Release(now);
            audioModel_.Release(now);
        }
        const int32_t status = WriteNavigationPack();
        if (status != 0) return status;
    }
    for (uint32_t i = 0; i < r->unitCount; ++i)
        if ((r->units[i].hint & 3) != 0) ++picturesSent_;
    BookDvdPacket(videoModel_, *r);
    videoBytesSent_ += r->PayloadLength();
    firstVideoSent_ = true;
    return WriteUnitPack(*r, true);
}

int32_t DvdMuxEngine::SendAudio()
{
    std::unique_ptr<PesPacketRecord> r = std::move(audioQueue.front());
    audioQueue.pop_front();
    // The first time-stamped audio packet of a video object unit names its decoder
    // buffer (P-STD, scale 0, 32 x 128 bytes) in the room its reader kept.
    if (audioExtensionDue_ && (r->flags & PesPacketRecord::FlagPts) != 0 && r->reserve >= 3 && r->reserveAt >= 9 &&
        r->reserveAt + 3 <= r->headerLength) {
        r->bytes[7] |= 0x01;
        r->bytes[r->reserveAt] = 0x1E;
        r->bytes[r->reserveAt + 1] = 0x40;
        r->bytes[r->reserveAt + 2] = 0x20;
        audioExtensionDue_ = false;
    }
    BookDvdPacket(audioModel_, *r);
    audioBytesSent_ += r->PayloadLength();
    firstAudioSent_ = true;
    return WriteUnitPack(*r, false);
}

int32_t DvdMuxEngine::Schedule(bool draining)
{
    const uint64_t videoCapacity = VideoCapacity();
    const uint64_t audioCapacity = AudioCapacity();
    const int32_t mode = session.Option(10);
    for (;;) {
        PesPacketRecord* v = videoQueue.empty() ? nullptr : videoQueue.front().get();
        PesPacketRecord* a = audioQueue.empty() ? nullptr : audioQueue.front().get();
        if (v == nullptr && a == nullptr) return 0;
        if (!draining && (v == nullptr || a == nullptr)) return 0;
        const uint64_t now = Clock() / 300;
        videoModel_.Release(now);
        audioModel_.Release(now);

        int32_t status;
        // The first unit pack is video, the next audio.
        if (!firstVideoSent_ && v != nullptr) {
            status = SendVideo();
        } else if (!firstAudioSent_ && a != nullptr) {
            status = SendAudio();
        } else {
            const uint64_t nv = v != nullptr ? v->PayloadLength() : 0;
            const uint64_t na = a != nullptr ? a->PayloadLength() : 0;
            const bool videoFits = v != nullptr && DvdPacketFits(videoModel_, nv, v->unitCount, videoCapacity);
            const bool audioFits = a != nullptr && DvdPacketFits(audioModel_, na, a->unitCount, audioCapacity);
            bool sendAudio = false;
            bool sendVideo = false;
            if (v != nullptr && a != nullptr) {
                const double ra = a->stream ? a->stream->byteRate : 0.0;
                const double rv = v->stream ? v->stream->byteRate : 0.0;
                const double ba = static_cast<double>(audioBytesSent_);
                const double bv = static_cast<double>(videoBytesSent_);
                bool preferAudio;
                if (mode == 2) {
                    preferAudio = ba * 90000.0 <= ra * static_cast<double>(now);
                } else if (ba <= 0 || ra <= 0) {
                    preferAudio = ba <= 0;
                } else {
                    const double share = rv / ra;
                    preferAudio = !(std::fabs(share - (bv + static_cast<double>(nv)) / ba) <=
                                    std::fabs(share - bv / (ba + static_cast<double>(na))));
                }
                const bool videoHolds = videoModel_.Occupancy() > 0;
                const bool audioEmpty = audioModel_.Occupancy() == 0;
                const bool videoFull = videoModel_.Occupancy() + nv >= videoCapacity;
                if ((videoFull || preferAudio || (videoHolds && audioEmpty)) && audioFits && (videoHolds || audioEmpty))
                    sendAudio = true;
                else if (videoFits)
                    sendVideo = true;
                else if (audioFits)
                    sendAudio = true;
            } else {
                sendVideo = videoFits;
                sendAudio = audioFits;
            }
            if (sendAudio) {
                status = SendAudio();
            } else if (sendVideo) {
                status = SendVideo();
            } else if (AdvanceClockToNextRemoval()) {
                // Nothing fits: the clock has moved on to when the decoder frees room.
                status = 0;
            } else if (!videoModel_.Empty() || !audioModel_.Empty()) {
                status = WritePaddingPack();
            } else {
                // A packet larger than an empty buffer can never fit: it goes as it is.
                status = v != nullptr ? SendVideo() : SendAudio();
            }
        }
        if (status != 0) return status;
    }
}

int32_t DvdMuxEngine::Multiplex()
{
    const int32_t mode = session.Option(10);
    if (mode != 1 && mode != 2) return MuxErrGeneral;
    // The byte clock is fixed; a rate the engine would have to compute itself is refused.
    if (session.Option(5) <= 0) return MuxErrGeneral;
    if (!geometry.Ready()) return 0;
    return Schedule(false);
}

int32_t DvdMuxEngine::Finish()
{
    int32_t status;
    try {
        status = geometry.FlushAudio();
        if (status == 0) status = geometry.FlushVideo();
    } catch (const std::bad_alloc&) {
        status = MuxErrOutOfMemory;
    }
    if (status != 0) return status;
    const int32_t mode = session.Option(10);
    if (mode != 1 && mode != 2) return MuxErrGeneral;
    status = Multiplex();
    // Whichever stream is left goes out alone, at the pace of its decoder buffer.
    if (status == 0) status = Schedule(true);
    // A title whose units would reach the decoder late is a failure, not a volume.
    if (status == 0) status = JudgeDelivery(videoAudit_, audioAudit_, session);
    if (status == 0) status = CloseHintsStream();
    if (status != 0) return status;
    if ((session.Option(11) & 6) != 0 && haveFolder_ && folder_.nextFile != nullptr) {
        char name[360] = {};
        char path[360] = {};
        std::strncpy(path, vobPath_.c_str(), sizeof path - 1);
        status = folder_.nextFile(1, name, path);
        if (status != 0) return status;
        vobs_.Add(name, hintsPath_);
        hintsPath_.clear();
    }
    return 0;
}

int32_t DvdMuxEngine::WriteVolume()
{
    if (!haveFolder_ || (session.Option(11) & 6) == 0) return 0;
    DvdVolumeTarget target;
    target.folder = folder_.folder;
    target.makeFolders = (session.Option(11) & 4) != 0;
    std::string reason;
    target.problem = [&](const std::string& text, const std::string& file) {
        reason = text;
        session.failedFile = file;
    };
    const int32_t status = WriteDvdVolume(target, vobs_, attributes_);
    if (status != 0) {
        session.ReportProblem(status, reason);
        return status;
    }
    workFiles_.clear();  // moved into the volume
    return 0;
}
