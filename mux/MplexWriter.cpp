// The system stream writer: chooses the mux rate, then fills fixed-size packet
// slots with video, audio or padding as a model of the decoder's buffers allows.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>
#include <string>

#include "mux/Mplex.h"
#include "mux/MplexFiles.h"
#include "muxlib/DecoderBuffer.h"
#include "muxlib/DeliveryAudit.h"
#include "muxlib/PackWriters.h"
#include "muxlib/VideoPeakRate.h"
#include "platform/Format.h"
#include "platform/ResStrings.h"
#include "settings/EncoderSettings.h"

void WriteTimeStamp(const TimeCode& t, unsigned prefix, unsigned char*& cursor) {
    packwriters::PutTimeStamp(cursor, uint8_t(prefix), TimeCodeValue(t));
    cursor += 5;
}

void BuildPackHeader(unsigned char* p, const TimeCode& scr, uint32_t muxRate) {
    p[0] = 0x00;
    p[1] = 0x00;
    p[2] = 0x01;
    p[3] = 0xBA;
    unsigned char* cursor = p + 4;
    WriteTimeStamp(scr, 0x2, cursor);
    p[9] = uint8_t(0x80 | ((muxRate >> 15) & 0x7F));
    p[10] = uint8_t(muxRate >> 7);
    p[11] = uint8_t(((muxRate & 0x7F) << 1) | 1);
}

void BuildSystemHeader(unsigned char* p, uint32_t rateBound, unsigned audioBound, unsigned cspsFlag,
                       unsigned audioLock, unsigned videoLock, unsigned videoBound, unsigned audioStreamId,
                       unsigned audioScale, unsigned audioBufferBound, unsigned videoStreamId, unsigned videoScale,
                       unsigned videoBufferBound) {
    unsigned fixed = EncoderSettings.muxConstantRate != 0 ? 1 : 0;
    p[0] = 0x00;
    p[1] = 0x00;
    p[2] = 0x01;
    p[3] = 0xBB;
    p[4] = 0x00;
    p[5] = 0x0C;
    p[6] = uint8_t(0x80 | ((rateBound >> 15) & 0x7F));
    p[7] = uint8_t(rateBound >> 7);
    p[8] = uint8_t(((rateBound & 0x7F) << 1) | 1);
    p[9] = uint8_t((audioBound << 2) | (fixed << 1) | cspsFlag);
    p[10] = uint8_t((audioLock << 7) | (videoLock << 6) | 0x20 | videoBound);
    p[11] = 0xFF;
    p[12] = uint8_t(audioStreamId);
    p[13] = uint8_t(0xC0 | (audioScale << 5) | ((audioBufferBound >> 8) & 0x1F));
    p[14] = uint8_t(audioBufferBound);
    p[15] = uint8_t(videoStreamId);
    p[16] = uint8_t(0xC0 | (videoScale << 5) | ((videoBufferBound >> 8) & 0x1F));
    p[17] = uint8_t(videoBufferBound);
}

namespace {

// The decoder's input buffer of one stream as the slot loop books it, by the rule a
// decoder applies to the stream written: a byte arrives at its pack's clock
// reference plus its distance from the reference's last byte at the mux rate; a
// unit leaves at the decoding time its packet stamps, or, when another unit took
// the packet's stamps, one unit period after the unit before it. Bytes that lead
// a unit (the headers in front of a picture) leave with that unit.
struct StdBufferModel {
    int64_t size = 0;
    double period = 0;       // ticks from one unit's decoding to the next
    uint64_t delivered = 0;  // every byte ever booked
    DeliveryAudit audit;
    double packetStart = 0;  // arrival of the first payload byte of the packet being booked, 90 kHz
    double perByte = 0;
    uint32_t bytesInPacket = 0;
    bool stampTaken = false;  // a unit began in the packet being booked
    double lastRemoval = 0;

    void Begin(uint32_t bytes, const TimeCode& stamp) {
        lastRemoval = stampTaken ? lastRemoval + period : double(TimeCodeValue(stamp));
        stampTaken = true;
        Hold(lastRemoval, bytes);
        audit.Begin(lastRemoval, Arrival());
        audit.Fill(held_.Occupancy(), size);
    }
    void Continue(uint32_t bytes) {
        Hold(lastRemoval, bytes);
        audit.Continue(Arrival());
        audit.Fill(held_.Occupancy(), size);
    }
    // Bytes of the next unit's headers: that unit decodes one period on, give or take
    // the tick its stamp was cut to.
    void Lead(uint32_t bytes) {
        Hold(lastRemoval + period + 1.0, bytes);
        audit.Fill(held_.Occupancy(), size);
    }
    // Units decoded before `clock` are gone.
    void RemoveBefore(double clock) { held_.ReleaseBefore(clock); }
    int64_t Free() const { return size - held_.Occupancy(); }

private:
    double Arrival() const { return packetStart + (bytesInPacket - 1.0) * perByte; }
    void Hold(double removal, uint32_t bytes) {
        if (bytes == 0) return;
        delivered += bytes;
        bytesInPacket += bytes;
        held_.AddUnit(removal, bytes);
    }

    // The lead bytes of a unit may leave after the unit that follows them in the stream.
    BasicDecoderBuffer<double> held_;
};

constexpr unsigned kPacketBufferBytes = 4096;

class SystemStreamWriter {
public:
    SystemStreamWriter(unsigned slot, unsigned packetsPerPack, int audioBufferKb, int videoBufferKb)
        : slot_(slot),
          packetsPerPack_(packetsPerPack),
          minPayload_(slot - 30),
          maxPayload_(slot - 18),
          packetsLeft_(packetsPerPack) {
        audioModel_.size = int64_t(audioBufferKb) * 1024;
        videoModel_.size = int64_t(videoBufferKb) * 1024;
    }

    void Run(const std::string& videoFile, const std::string& videoRecordFile, const VideoStreamInfo& videoInfo,
             const std::string& audioFile, const std::string& audioRecordFile, const AudioStreamInfo& audioInfo,
             const std::string& outputFile);

private:
    void ChooseRate(const VideoStreamInfo& videoInfo, const AudioStreamInfo& audioInfo);
    // Ticks by which the video's decoding must wait so that no picture is late when
    // the video is sent at its share of the mux rate from the first pack on.
    double VideoCatchUpTicks(double audioByteRate);
    // For each video unit, how many of its last bytes are headers of the picture after it.
    void FindVideoLeads(const std::string& videoFile);
    bool NextVideoUnit();
    bool NextAudioUnit();
    void BookVideo(uint32_t bytes);
    void BookAudio(uint32_t bytes);
    void AccountVideoBytes(uint32_t bytes);
    void AccountAudioBytes(uint32_t bytes);
    void WriteVideoPacket(bool opensPack, bool systemHeader, uint32_t capacity, const TimeCode& scr);
    void WriteAudioPacket(bool opensPack, uint32_t capacity, const TimeCode& scr);
    void WritePadding(bool opensPack, uint32_t capacity, const TimeCode& scr);
    size_t AssemblePacket(const unsigned char* packRecord, const unsigned char* systemRecord, uint32_t length,
                          FILE* streamFile, uint64_t streamBytes, unsigned streamId, unsigned bufferScale, unsigned bufferSize,
                          bool sendBufferFields, const TimeCode* pts, const TimeCode* dts, int timeStampMode);
    void Emit(size_t bytes);
    // The payload of `capacity` bytes ends the slot about to be written.
    void BeginPacket(StdBufferModel& model, uint32_t capacity) {
        model.packetStart = ArrivalAt(bytesOutput_ + slot_ - capacity);
        model.perByte = 90000.0 * secondsPerByte_;
        model.bytesInPacket = 0;
        model.stampTaken = false;
    }
    // When the byte at `offset` reaches the decoder: the pack's clock reference is the
    // arrival of its byte 8.
    double ArrivalAt(uint64_t offset) const {
        return double(packScr_) + (double(offset) - double(packAt_ + 8)) * 90000.0 * secondsPerByte_;
    }
    void OpenPack(const TimeCode& scr) {
        packScr_ = TimeCodeValue(scr);
        packAt_ = bytesOutput_;
    }
    TimeCode TimeAt(double bytes) const {
        TimeCode t;
        TicksToTimeCode(bytes * 90000.0 * secondsPerByte_, t);
        return t;
    }
    uint64_t Need(uint64_t remaining) const {
        return uint64_t(slot_) * (remaining / minPayload_) + (slot_ - minPayload_) + remaining % minPayload_;
    }

    unsigned slot_, packetsPerPack_, minPayload_, maxPayload_, packetsLeft_;
    StdBufferModel audioModel_, videoModel_;
    VideoUnitRecord videoUnit_;
    AudioUnitRecord audioUnit_;
    bool videoUnitStart_ = true, audioUnitStart_ = true, firstVideoPacket_ = true;
    FILE *video_ = nullptr, *audio_ = nullptr, *videoRecords_ = nullptr, *audioRecords_ = nullptr, *out_ = nullptr;
    uint64_t bytesOutput_ = 0;
    uint64_t packScr_ = 0, packAt_ = 0;  // of the last pack header written
    std::vector<uint32_t> videoLeads_;
    size_t videoUnits_ = 0;  // records read
    uint32_t muxRate_ = 0;
    double secondsPerByte_ = 0.0;
    TimeCode startDelay_;
    unsigned char packet_[kPacketBufferBytes];
};

bool SystemStreamWriter::NextVideoUnit() {
    if (!ReadVideoRecord(videoRecords_, videoUnit_)) {
        videoUnit_ = VideoUnitRecord{};
        return false;
    }
    ++videoUnits_;
    AccumulateTimeCode(startDelay_, videoUnit_.dts);
    AccumulateTimeCode(startDelay_, videoUnit_.pts);
    return true;
}

bool SystemStreamWriter::NextAudioUnit() {
    if (!ReadAudioRecord(audioRecords_, audioUnit_)) {
        audioUnit_ = AudioUnitRecord{};
        return false;
    }
    AccumulateTimeCode(startDelay_, audioUnit_.pts);
    return true;
}

void SystemStreamWriter::BookVideo(uint32_t bytes) {
    const uint32_t lead = videoUnits_ - 1 < videoLeads_.size() ? videoLeads_[videoUnits_ - 1] : 0;
    const uint32_t body = videoUnit_.length > lead ? std::min(bytes, videoUnit_.length - lead) : 0;
    if (body > 0 && videoUnitStart_)
        videoModel_.Begin(body, videoUnit_.dts);
    else if (body > 0)
        videoModel_.Continue(body);
    if (bytes > body) videoModel_.Lead(bytes - body);
}

void SystemStreamWriter::BookAudio(uint32_t bytes) {
    if (audioUnitStart_)
        audioModel_.Begin(bytes, audioUnit_.pts);
    else
        audioModel_.Continue(bytes);
}

void SystemStreamWriter::AccountVideoBytes(uint32_t bytes) {
    while (videoUnit_.length < bytes) {
        BookVideo(videoUnit_.length);
        bytes -= videoUnit_.length;
        if (!NextVideoUnit()) return;
        videoUnitStart_ = true;
    }
    // The packet ended exactly where the new unit begins: its first byte is still to come.
    if (bytes == 0) return;
    BookVideo(bytes);
    if (videoUnit_.length > bytes) {
        videoUnit_.length -= bytes;
        videoUnitStart_ = false;
    } else if (NextVideoUnit()) {
        videoUnitStart_ = true;
    }
}

void SystemStreamWriter::AccountAudioBytes(uint32_t bytes) {
    while (audioUnit_.length < bytes) {
        BookAudio(audioUnit_.length);
        bytes -= audioUnit_.length;
        if (!NextAudioUnit()) return;
        audioUnitStart_ = true;
    }
    if (bytes == 0) return;
    BookAudio(bytes);
    if (audioUnit_.length > bytes) {
        audioUnit_.length -= bytes;
        audioUnitStart_ = false;
    } else if (NextAudioUnit()) {
        audioUnitStart_ = true;
    }
}

void SystemStreamWriter::FindVideoLeads(const std::string& videoFile) {
    FILE* in = std::fopen(videoFile.c_str(), "rb");
    if (!in) return;
    std::fseek(videoRecords_, 0, SEEK_SET);
    VideoUnitRecord unit;
    uint64_t offset = 0, unitEnd = 0, leadStart = 0;
    bool picture = false, lead = false, code = false, more = ReadVideoRecord(videoRecords_, unit);
    unitEnd = more ? unit.length : 0;
    int zeros = 0;
    unsigned char chunk[65536];
    for (size_t got; more && (got = std::fread(chunk, 1, sizeof chunk, in)) > 0;) {
        for (size_t i = 0; i < got && more; ++i, ++offset) {
            while (more && offset >= unitEnd) {
                videoLeads_.push_back(lead ? uint32_t(unitEnd - leadStart) : 0);
                picture = lead = false;
                more = ReadVideoRecord(videoRecords_, unit);
                unitEnd += more ? unit.length : 0;
            }
            const unsigned char byte = chunk[i];
            if (code) {
                // A sequence or group header after the unit's picture opens the next picture's headers.
                if (byte == 0x00) picture = true;
                if ((byte == 0xB3 || byte == 0xB8) && picture && !lead) {
                    lead = true;
                    leadStart = offset - 3;
                }
                code = false;
            }
            code = zeros >= 2 && byte == 0x01;
            zeros = byte == 0 ? zeros + 1 : 0;
        }
    }
    if (more) videoLeads_.push_back(lead ? uint32_t(unitEnd - leadStart) : 0);
    std::fclose(in);
    std::fseek(videoRecords_, long(kVideoRecordBytes), SEEK_SET);
}

size_t SystemStreamWriter::AssemblePacket(const unsigned char* packRecord, const unsigned char* systemRecord,
                                          uint32_t length, FILE* streamFile, uint64_t streamBytes,
                                          unsigned streamId, unsigned bufferScale,
                                          unsigned bufferSize, bool sendBufferFields, const TimeCode* pts,
                                          const TimeCode* dts, int timeStampMode) {
    unsigned char* p = packet_;
    if (packRecord) {
        std::memcpy(p, packRecord, 12);
        p += 12;
    }
    if (systemRecord) {
        std::memcpy(p, systemRecord, 18);
        p += 18;
    }
    *p++ = 0x00;
    *p++ = 0x00;
    *p++ = 0x01;
    *p++ = uint8_t(streamId);
    *p++ = uint8_t((length - 6) >> 8);
    *p++ = uint8_t(length - 6);
    int stuffing = (sendBufferFields ? 0 : 2) + (timeStampMode == 0 ? 9 : timeStampMode == 1 ? 5 : 0);
    for (int i = 0; i < stuffing; ++i) *p++ = 0xFF;
    if (sendBufferFields) {
        *p++ = uint8_t(0x40 | (bufferScale << 5) | ((bufferSize >> 8) & 0x1F));
        *p++ = uint8_t(bufferSize);
    }
    if (timeStampMode == 1) {
        WriteTimeStamp(*pts, 0x2, p);
    } else if (timeStampMode == 2) {
        WriteTimeStamp(*pts, 0x3, p);
        WriteTimeStamp(*dts, 0x1, p);
    } else {
        *p++ = 0x0F;
    }
    uint32_t payload = length - 18;
    if (streamId == 0xBE) {
        std::memset(p, 0xFF, payload);
        p += payload;
        return size_t(p - packet_);
    }
    // Only the bytes of recorded units are sent: whatever follows the last unit
    // in the file (a cut frame, trailing bytes) is left out.
    size_t wanted = size_t(std::min<uint64_t>(payload, streamBytes));
    size_t got = ReadTempFile(p, 1, wanted, streamFile);
    MuxProgressCallback(int64_t(got));
    p += got;
    uint32_t shortfall = payload - uint32_t(got);
    if (shortfall == 0) return size_t(p - packet_);
    // The stream's last packet ends at its data, so a decoder never sees bytes
    // that are not the stream's, and the slot keeps its size: a few missing bytes
    // become header stuffing (at most 16 in all), more end the packet and leave
    // the rest of the slot to a padding packet.
    unsigned char* packetStart = packet_ + (packRecord ? 12 : 0) + (systemRecord ? 18 : 0);
    unsigned char* header = packetStart + 6;
    if (shortfall < 6) {
        std::memmove(header + shortfall, header, size_t(p - header));
        std::memset(header, 0xFF, shortfall);
        return size_t(p + shortfall - packet_);
    }
    uint32_t packetLength = uint32_t(p - packetStart);
    packetStart[4] = uint8_t((packetLength - 6) >> 8);
    packetStart[5] = uint8_t(packetLength - 6);
    *p++ = 0x00;
    *p++ = 0x00;
    *p++ = 0x01;
    *p++ = 0xBE;
    *p++ = uint8_t((shortfall - 6) >> 8);
    *p++ = uint8_t(shortfall - 6);
    std::memset(p, 0xFF, shortfall - 6);
    p += shortfall - 6;
    return size_t(p - packet_);
}

void SystemStreamWriter::Emit(size_t bytes) {
    WriteMuxFile(packet_, 1, bytes, out_);
    bytesOutput_ += bytes;
}

void SystemStreamWriter::WriteVideoPacket(bool opensPack, bool systemHeader, uint32_t capacity,
                                          const TimeCode& scr) {
    unsigned char pack[12], system[18];
    bool withSystem = false;
    if (opensPack) {
        BuildPackHeader(pack, scr, muxRate_);
        OpenPack(scr);
        if (systemHeader) {
            BuildSystemHeader(system, muxRate_, 1, 1, 1, 1, 1, 0xC0, 0, unsigned(audioModel_.size / 128), 0xE0, 1,
                              unsigned(videoModel_.size / 1024));
            withSystem = true;
            capacity -= 18;
        }
    }
    uint32_t length = capacity + 18;
    BeginPacket(videoModel_, capacity);
    TimeCode pts, dts;
    int mode = 0;
    auto stampsOf = [&](const VideoUnitRecord& u) {
        pts = u.pts;
        dts = u.dts;
        mode = (u.pts.bit32 == u.dts.bit32 && u.pts.low32 == u.dts.low32) ? 1 : 2;
    };
    uint64_t before = videoModel_.delivered;
    if (videoUnitStart_) {
        stampsOf(videoUnit_);
        AccountVideoBytes(capacity);
    } else if (videoUnit_.length >= capacity) {
        AccountVideoBytes(capacity);
    } else {
        uint32_t rest = videoUnit_.length;
        BookVideo(rest);
        if (NextVideoUnit()) {
            videoUnitStart_ = true;
            stampsOf(videoUnit_);
            AccountVideoBytes(capacity - rest);
        }
    }
    Emit(AssemblePacket(opensPack ? pack : nullptr, withSystem ? system : nullptr, length, video_,
                        videoModel_.delivered - before, 0xE0, 1,
                        unsigned(videoModel_.size / 1024), true, &pts, &dts, mode));
}

void SystemStreamWriter::WriteAudioPacket(bool opensPack, uint32_t capacity, const TimeCode& scr) {
    unsigned char pack[12];
    if (opensPack) {
        BuildPackHeader(pack, scr, muxRate_);
        OpenPack(scr);
    }
    uint32_t length = capacity + 18;
    BeginPacket(audioModel_, capacity);
    TimeCode pts;
    int mode = 0;
    uint64_t before = audioModel_.delivered;
    if (audioUnitStart_) {
        pts = audioUnit_.pts;
        mode = 1;
        AccountAudioBytes(capacity);
    } else if (audioUnit_.length >= capacity) {
        AccountAudioBytes(capacity);
    } else {
        uint32_t rest = audioUnit_.length;
        BookAudio(rest);
        if (NextAudioUnit()) {
            audioUnitStart_ = true;
            pts = audioUnit_.pts;
            mode = 1;
            AccountAudioBytes(capacity - rest);
        }
    }
    Emit(AssemblePacket(opensPack ? pack : nullptr, nullptr, length, audio_, audioModel_.delivered - before, 0xC0, 0,
                        unsigned(audioModel_.size / 128), true, &pts, nullptr, mode));
}

void SystemStreamWriter::WritePadding(bool opensPack, uint32_t capacity, const TimeCode& scr) {
    if (!EncoderSettings.muxConstantRate) {
        bytesOutput_ += capacity + 18;
        // The packets after an empty slot come earlier than the clock says: a new
        // pack header gives them their true clock reference.
        packetsLeft_ = packetsPerPack_;
        return;
    }
    unsigned char pack[12];
    if (opensPack) {
        BuildPackHeader(pack, scr, muxRate_);
        OpenPack(scr);
    }
    Emit(AssemblePacket(opensPack ? pack : nullptr, nullptr, capacity + 18, nullptr, 0, 0xBE, 0, 0, false, nullptr,
                        nullptr, 0));
}

double SystemStreamWriter::VideoCatchUpTicks(double audioByteRate) {
    // Payload the video gets per second: the mux rate's payload less the audio's.
    double payload = double(minPayload_ + (packetsPerPack_ - 1) * maxPayload_) / packetsPerPack_;
    double videoRate = 50.0 * muxRate_ * payload / slot_ - audioByteRate;
    if (videoRate <= 0.0) return 0.0;
    std::fseek(videoRecords_, 0, SEEK_SET);
    VideoUnitRecord unit;
    double bytes = 0.0, lateness = 0.0;
    while (ReadVideoRecord(videoRecords_, unit)) {
        bytes += unit.length;
        lateness = std::max(lateness, bytes / videoRate * 90000.0 - double(TimeCodeValue(unit.dts)));
    }
    // Back to the second record: the first is read already.
    std::fseek(videoRecords_, long(kVideoRecordBytes), SEEK_SET);
    return lateness;
}

void SystemStreamWriter::ChooseRate(const VideoStreamInfo& videoInfo, const AudioStreamInfo& audioInfo) {
    // The variable-rate code is no rate: the stream's own peak stands for it.
    uint32_t declared = videoInfo.bitRate == VariableBitRateCode ? videoInfo.peakBitRate : videoInfo.bitRate;
    uint64_t videoRate = 50ull * std::max(declared, videoInfo.measuredBitRate);
    uint64_t audioRate = 128ull * uint64_t(AudioBitRateKbps(audioInfo.layer, audioInfo.bitRateIndex));
    double margin = EncoderSettings.muxConstantRate ? 1.1 : 1.3;
    uint64_t videoWithMargin = uint64_t(double(videoRate) * margin);

    int64_t user = EncoderSettings.muxBitRate;
    double dataRate;
    if (user < 0 || (user > 0 && user < 1024)) MuxFail(1, LoadResString(63617));
    if (user > 1024 && user < 67108864) {
        dataRate = double(user / 8);
        if (dataRate < 1.05 * double(videoRate + audioRate)) MuxFail(1, LoadResString(63618));
    } else {
        dataRate = double(audioRate + videoWithMargin);
    }
    double perPack = double(slot_) / minPayload_ + double(slot_) / maxPayload_ * (packetsPerPack_ - 1);
    uint64_t raw = uint64_t(std::ceil(dataRate * perPack / packetsPerPack_));
    uint64_t byteRate = (raw / 1000) * 1000 + 1000;
    muxRate_ = uint32_t(byteRate / 50);
    // The 22-bit rate field cannot say more; no stream of this program comes near it.
    if (muxRate_ > 0x3FFFFF) muxRate_ = 0x3FFFFF;
    secondsPerByte_ = 1.0 / (50.0 * muxRate_);
}

void SystemStreamWriter::Run(const std::string& videoFile, const std::string& videoRecordFile,
                             const VideoStreamInfo& videoInfo, const std::string& audioFile,
                             const std::string& audioRecordFile, const AudioStreamInfo& audioInfo,
                             const std::string& outputFile) {
    // An audio buffer the slot loop cannot keep fed is refused before anything is
    // written: a packet must fit while the buffer holds the next frame.
    const uint32_t frame = std::max(audioInfo.frameBytes[0], audioInfo.frameBytes[1]);
    if (audioModel_.size < int64_t(maxPayload_) + frame)
        MuxFail(1, platform::Format(" The audio buffer of %lld bytes cannot take a %u-byte packet while it holds the "
                                    "next %u-byte frame to decode. ",
                                    static_cast<long long>(audioModel_.size), maxPayload_, frame));
    video_ = OpenMuxFile(videoFile, "rb");
    audio_ = OpenMuxFile(audioFile, "rb");
    videoRecords_ = OpenMuxFile(videoRecordFile, "rb");
    audioRecords_ = OpenMuxFile(audioRecordFile, "rb");
    out_ = OpenMuxFile(outputFile, "wb");
    MuxOutputFile = out_;
    NextAudioUnit();
    NextVideoUnit();

    ChooseRate(videoInfo, audioInfo);
    FindVideoLeads(videoFile);
    static const double kPictureRates[9] = {0, 24000.0 / 1001, 24, 25, 30000.0 / 1001, 30, 50, 60000.0 / 1001, 60};
    static const double kSampleRates[4] = {44100, 48000, 32000, 0};
    const double pictureRate = videoInfo.frameRateCode <= 8 ? kPictureRates[videoInfo.frameRateCode] : 0;
    const double sampleRate = kSampleRates[audioInfo.frequencyIndex & 3];
    videoModel_.period = pictureRate > 0 ? 90000.0 / pictureRate : 0;
    audioModel_.period = sampleRate > 0 ? (audioInfo.layer == 3 ? 384 : 1152) * 90000.0 / sampleRate : 0;

    uint64_t audioPackets = (audioUnit_.length + minPayload_ - 1) / minPayload_;
    uint64_t firstPackets = (videoUnit_.length + minPayload_ - 1) / minPayload_ + audioPackets;
    double delay = double(firstPackets) * slot_ * secondsPerByte_ * 90000.0;
    // The first picture alone does not say when the pictures after it can be in:
    // the delay also covers the slowest of them at the video's share of the rate.
    delay = std::max(delay, VideoCatchUpTicks(AudioBitRateKbps(audioInfo.layer, audioInfo.bitRateIndex) * 128.0) +
                                double(audioPackets + 2) * slot_ * secondsPerByte_ * 90000.0);
    TicksToTimeCode(delay, startDelay_);
    AccumulateTimeCode(startDelay_, videoUnit_.dts);
    AccumulateTimeCode(startDelay_, videoUnit_.pts);
    AccumulateTimeCode(startDelay_, audioUnit_.pts);

    while (uint64_t(videoUnit_.length) + audioUnit_.length != 0) {
        bool opensPack = packetsLeft_ == packetsPerPack_;
        uint32_t capacity = opensPack ? minPayload_ : maxPayload_;
        if (--packetsLeft_ == 0) packetsLeft_ = packetsPerPack_;

        TimeCode scr = TimeAt(double(bytesOutput_ + 9));
        TimeCode audioDue = TimeAt(double(bytesOutput_ + slot_ + Need(audioUnit_.length)));
        TimeCode videoDue = TimeAt(double(bytesOutput_ + slot_ + Need(videoUnit_.length)));
        // What has left the buffers by the time this slot's payload begins to arrive.
        if (opensPack) OpenPack(scr);
        const double payloadArrives = ArrivalAt(bytesOutput_ + slot_ - capacity);
        audioModel_.RemoveBefore(payloadArrives);
        videoModel_.RemoveBefore(payloadArrives);

        bool audioUrgent = TimeCodeValue(audioUnit_.pts) < TimeCodeValue(audioDue);
        bool videoUrgent = TimeCodeValue(videoUnit_.dts) < TimeCodeValue(videoDue);
        bool videoFits = videoModel_.Free() >= int64_t(capacity);
        bool audioFits = audioModel_.Free() >= int64_t(capacity);
        bool videoLeft = videoUnit_.length > 0, audioLeft = audioUnit_.length > 0;

        if (videoFits && videoLeft && (!audioUrgent || !audioLeft)) {
            WriteVideoPacket(opensPack, firstVideoPacket_, capacity, scr);
            firstVideoPacket_ = false;
        } else if (audioFits && audioLeft && (!videoUrgent || !videoLeft)) {
            WriteAudioPacket(opensPack, capacity, scr);
        } else if (audioFits && audioUrgent && audioLeft) {
            WriteAudioPacket(opensPack, capacity, scr);
        } else if (videoFits && videoUrgent && videoLeft) {
            WriteVideoPacket(opensPack, false, capacity, scr);
        } else {
            WritePadding(opensPack, capacity, scr);
        }
    }

    static const unsigned char endCode[4] = {0x00, 0x00, 0x01, 0xB9};
    WriteMuxFile(endCode, 1, 4, out_);
    bytesOutput_ += 4;
    // A stream the decoder would get late is no success, whatever was written.
    videoModel_.audit.Finish();
    audioModel_.audit.Finish();
    const std::string late = DescribeLateDelivery(videoModel_.audit, audioModel_.audit);
    if (!late.empty()) MuxFail(1, " " + late + " ");

    CloseMuxFile(out_);
    CloseMuxFile(audioRecords_);
    CloseMuxFile(videoRecords_);
    CloseMuxFile(audio_);
    CloseMuxFile(video_);
    // The caller removes the record files and drops them from the work record.
}

}  // namespace

void MultiplexStreams(const std::string& videoFile, const std::string& videoRecordFile,
                      const VideoStreamInfo& videoInfo, const std::string& audioFile,
                      const std::string& audioRecordFile, const AudioStreamInfo& audioInfo,
                      const std::string& outputFile, unsigned packetSize, unsigned packetsPerPack, int audioBufferKb,
                      int videoBufferKb) {
    SystemStreamWriter writer(packetSize, packetsPerPack, audioBufferKb, videoBufferKb);
    writer.Run(videoFile, videoRecordFile, videoInfo, audioFile, audioRecordFile, audioInfo, outputFile);
}
