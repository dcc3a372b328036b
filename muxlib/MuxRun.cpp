// The run call of the multiplexer library: reads the two elementary stream files,
// cutting audio into frames and video into start-code units, and feeds the engine.
#include "muxlib/DvdMuxEngine.h"
#include "muxlib/MuxPackEngine.h"
#include "muxlib/MuxSession.h"
#include "muxlib/ScanInformation.h"
#include "muxlib/StreamTables.h"
#include "muxlib/SystemMuxEngine.h"
#include "muxlib/VideoPeakRate.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {

using Feed = int32_t (*)(const uint8_t*, uint32_t, int32_t);

struct FileCloser {
    void operator()(FILE* f) const
    {
        if (f != nullptr) std::fclose(f);
    }
};
using File = std::unique_ptr<FILE, FileCloser>;

// Length of an MPEG-1 audio frame from its first three header bytes; 0 when the
// header gives none (no sync, free format, reserved indexes, MPEG-2 rates).
uint32_t AudioFrameLength(const uint8_t* h)
{
    if (h[0] != 0xFF || (h[1] & 0xF8) != 0xF8) return 0;
    const uint32_t layer = (h[1] >> 1) & 3;
    const uint32_t rateIndex = h[2] >> 4;
    const uint32_t sampleIndex = (h[2] >> 2) & 3;
    if (layer == 0 || rateIndex == 0 || rateIndex == 15 || sampleIndex == 3) return 0;
    const uint32_t padding = (h[2] >> 1) & 1;
    const uint32_t kbps = muxtables::AudioKbps(4 - layer, rateIndex);  // layer bits 3 are Layer I
    if (layer == 3) return (12 * kbps * 1000 / muxtables::SampleRates[sampleIndex] + padding) * 4;
    return 144 * kbps * 1000 / muxtables::SampleRates[sampleIndex] + padding;
}

class VideoUnitReader {
public:
    explicit VideoUnitReader(FILE* file) : file_(file) {}

    // Reads the block that starts the stream; false when it cannot start a unit.
    int32_t Start(bool& ended)
    {
        int32_t status = Refill();
        if (status != 0) return status;
        // An empty video file is no stream: refused, never an audio-only output.
        if (blockLength_ < 4) {
            ended = true;
            return MuxErrVideoStream;
        }
        unit_.assign(block_, block_ + 4);
        position_ = 4;
        return 0;
    }

    // Collects the next unit; `last` is set when the file ended with it.
    int32_t Next(bool& last)
    {
        for (;;) {
            if (position_ == blockLength_) {
                int32_t status = Refill();
                if (status != 0) return status;
                if (blockLength_ == 0) {
                    last = true;
                    return 0;
                }
            }
            unit_.push_back(block_[position_++]);
            const size_t n = unit_.size();
            if (n >= 8 && unit_[n - 4] == 0 && unit_[n - 3] == 0 && unit_[n - 2] == 1) {
                last = false;
                return 0;
            }
        }
    }

    // The finished unit: all of it at the end of the file, else without the next start code.
    const uint8_t* Data() const { return unit_.data(); }
    size_t Length(bool last) const { return last ? unit_.size() : unit_.size() - 4; }
    void Advance()
    {
        unit_.erase(unit_.begin(), unit_.end() - 4);
    }

private:
    int32_t Refill()
    {
        blockLength_ = std::fread(block_, 1, sizeof block_, file_);
        position_ = 0;
        return std::ferror(file_) ? int32_t{MuxErrRead} : 0;
    }

    FILE* file_;
    uint8_t block_[512];
    size_t blockLength_ = 0;
    size_t position_ = 0;
    std::vector<uint8_t> unit_;
};

// The pack engines' decoder buffers must each take a whole packet, and the system
// header's 13-bit fields must name them; other sizes would leave a stream that can
// never be sent, with the output growing on padding alone.
bool PackBuffersUsable(const MuxSession& s, const MuxPackEngine& engine)
{
    constexpr int32_t Largest = 8191;
    const int64_t packet = engine.geometry.packetSize;
    const int32_t video = s.Option(3);
    const int32_t audio = s.Option(2);
    return video >= 1 && video <= Largest && audio >= 1 && audio <= Largest && (int64_t{video} - 3) * 1024 >= packet &&
           (int64_t{audio} - 3) * 128 >= packet;
}

// Combinations whose buffers the schedulers cannot keep fed, so that units would reach
// the decoder late: the words that say why, empty when the run may go on.
std::string SchedulingRefusal(const MuxSession& s, const char* audioFile)
{
    const int32_t type = s.Option(0);
    char text[200];
    if ((type == MuxTypeMpeg2Program || type == MuxTypeSvcd) && s.Option(1) > 1) {
        std::snprintf(text, sizeof text,
                      "a program stream pack carries one packet: %d packets per pack would leave most of "
                      "each pack empty while the rate counts it full",
                      static_cast<int>(s.Option(1)));
        return text;
    }
    if (type != MuxTypeMpeg1System) return std::string();
    uint8_t audio[3] = {};
    File a(std::fopen(audioFile, "rb"));
    if (!a || std::fread(audio, 1, sizeof audio, a.get()) != sizeof audio)
        return std::string();  // the run itself reports what it cannot read
    const int32_t packSize = s.Option(6) >= 64 && s.Option(6) <= 65535 ? s.Option(6) : 2048;
    // The largest payload of a packet, and the buffer the engine fills (its bound less a margin).
    const int64_t payload = packSize - 21;
    const int64_t audioBuffer = (int64_t{s.Option(2)} - 3) * 128;
    const uint32_t frame = AudioFrameLength(audio);
    if (frame > 0 && audioBuffer < payload + frame) {
        std::snprintf(text, sizeof text,
                      "the audio buffer of %d bytes cannot take a %lld-byte packet while it holds the next "
                      "%u-byte frame to decode; a larger audio buffer or smaller packs are needed",
                      static_cast<int>(s.Option(2)) * 128, static_cast<long long>(payload), frame);
        return text;
    }
    return std::string();
}

int32_t Run(MuxSession& s, const char* videoFile, const char* audioFile, const char* outputFile,
            MuxProgressFunction progress)
{
    File video(videoFile != nullptr ? std::fopen(videoFile, "rb") : nullptr);
    if (!video) return MuxErrRead;
    // A variable-rate stream names no rate in its header: the engine gets the measured one.
    const uint32_t measuredRate = MeasureVariableVideoRate(video.get());
    if (s.systemEngine) s.systemEngine->SetMeasuredVideoRate(measuredRate);
    if (s.packEngine) s.packEngine->measuredVideoRate = measuredRate;
    if (s.dvdEngine) s.dvdEngine->measuredVideoRate = measuredRate;
    if (s.Option(0) == MuxTypeSvcd) {
        s.problemText = SvcdVideoRefusal(video.get());
        if (!s.problemText.empty()) return MuxErrVideoStream;
    }
    VideoUnitReader units(video.get());
    bool videoEnded = false;
    int32_t status = units.Start(videoEnded);
    if (status != 0) return status;

    File audio(audioFile != nullptr ? std::fopen(audioFile, "rb") : nullptr);
    if (!audio) return MuxErrRead;

    // The output name must fit the sink's name block.
    if (outputFile == nullptr || std::strlen(outputFile) > 355) return MuxErrWrite;
    const int32_t type = s.Option(0);
    // A type never set or out of range would leave an empty output behind as a success.
    if (type < MuxTypeMpeg1System || type > MuxTypeSvcd) return MuxErrParameterValue;
    const MuxPackEngine* packEngine = type == MuxTypeDvdVolume ? s.dvdEngine.get() : s.packEngine;
    if (type != MuxTypeMpeg1System && type != MuxTypeVideoCd && packEngine && !PackBuffersUsable(s, *packEngine)) {
        s.problemText = "a decoder buffer of " + std::to_string(int64_t{s.Option(3)} * 1024) + " (video) or " +
                        std::to_string(int64_t{s.Option(2)} * 128) + " (audio) bytes cannot take a packet of " +
                        std::to_string(packEngine->geometry.packetSize) + " bytes";
        return MuxErrParameterValue;
    }
    const std::string refusal = SchedulingRefusal(s, audioFile);
    if (!refusal.empty()) {
        s.problemText = refusal;
        return MuxErrParameterValue;
    }
    const bool dvdFolder = type == MuxTypeDvdVolume && (s.Option(11) & 6) != 0;
    status = MuxAddSink(dvdFolder ? MuxSinkDvdFolder : MuxSinkFile, outputFile);
    if (status != 0) return status;

    Feed videoFeed = nullptr;
    Feed audioFeed = nullptr;
    if (type == MuxTypeMpeg1System || type == MuxTypeVideoCd) {
        videoFeed = MuxFeedVideoSystem;
        audioFeed = MuxFeedAudioSystem;
    } else if ((type == MuxTypeMpeg2Program || type == MuxTypeTransport || type == MuxTypeSvcd) && s.packEngine) {
        videoFeed = MuxFeedVideoProgram;
        audioFeed = MuxFeedAudioProgram;
    } else if (type == MuxTypeDvdVolume && s.dvdEngine) {
        videoFeed = MuxFeedVideoDvd;
        audioFeed = MuxFeedAudioDvd;
    } else if (type >= 2 && type <= 6) {
        // No engine of this type is built into the library.
        return MuxErrNotImplemented;
    } else {
        return MuxErrParameterValue;
    }

    std::vector<uint8_t> frame(8192);
    bool audioEnded = false;
    while (!audioEnded || !videoEnded) {
        if (!audioEnded) {
            size_t got = std::fread(frame.data(), 1, 3, audio.get());
            if (std::ferror(audio.get())) return MuxErrRead;
            if (got < 3) {
                audioEnded = true;
            } else {
                const uint32_t length = AudioFrameLength(frame.data());
                if (length < 4) return MuxErrAudioStream;
                if (length > frame.size()) frame.resize(length + 8192);
                got = std::fread(frame.data() + 3, 1, length - 3, audio.get());
                if (got != length - 3) return MuxErrRead;
                status = audioFeed(frame.data(), length, 0);
                if (status != 0) return status;
                if (progress != nullptr) progress(length);
            }
        }
        if (!videoEnded) {
            bool last = false;
            status = units.Next(last);
            if (status != 0) return status;
            const size_t length = units.Length(last);
            if (length > UINT32_MAX) return MuxErrVideoStream;
            status = videoFeed(units.Data(), static_cast<uint32_t>(length), 0);
            if (status != 0) return status;
            if (last) {
                videoEnded = true;
            } else {
                if (progress != nullptr) progress(static_cast<int64_t>(length));
                units.Advance();
            }
        }
    }
    return 0;
}

}  // namespace

bool MuxTypeIsBuilt(int type)
{
    return type >= MuxTypeMpeg1System && type <= MuxTypeSvcd;
}

int32_t MuxRun(const char* videoFile, const char* audioFile, const char* outputFile, MuxProgressFunction progress)
{
    MuxSession* s = CurrentMuxSession();
    if (s == nullptr) return MuxErrContext;
    int32_t status;
    try {
        status = Run(*s, videoFile, audioFile, outputFile, progress);
    } catch (const std::bad_alloc&) {
        status = MuxErrOutOfMemory;
    }
    if (status != 0 && CurrentMuxSession() != nullptr) CurrentMuxSession()->ReportStatus(status);
    return status;
}
