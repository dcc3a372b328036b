// Analysis of the two elementary streams: headers into the stream
// descriptions, one record per access unit into the temporary record files.
#include <cmath>
#include <cstdio>
#include <vector>

#include "mux/Mplex.h"
#include "mux/MplexFiles.h"
#include "muxlib/SequenceHeader.h"
#include "muxlib/VideoPeakRate.h"
#include "platform/Format.h"

namespace {

// Bits of one elementary stream, most significant first, through a 4096-byte
// buffer. Past the end of the file it delivers zero bits and sets `ended`.
class BitReader {
public:
    explicit BitReader(const std::string& path) : buffer_(4096, 0) { file_ = OpenMuxFile(path, "rb"); }
    ~BitReader() = default;
    void Close() { CloseMuxFile(file_); }

    uint32_t ReadBit() {
        if (bitsLeft_ == 0) {
            current_ = NextByte();
            bitsLeft_ = 8;
        }
        --bitsLeft_;
        ++bitsConsumed;
        return (current_ >> bitsLeft_) & 1;
    }

    uint32_t ReadBits(int n) {
        uint32_t value = 0;
        while (n > 0) {
            if (bitsLeft_ == 0 && n >= 8) {
                value = (value << 8) | NextByte();
                bitsConsumed += 8;
                n -= 8;
            } else {
                value = (value << 1) | ReadBit();
                --n;
            }
        }
        return value;
    }

    void SkipBytes(uint64_t count) {
        for (uint64_t i = 0; i < count && !ended; ++i) ReadBits(8);
    }

    // Finds the next byte-aligned `pattern` of `n` bits; false at the end.
    bool SeekByteAlignedSync(uint32_t pattern, int n) {
        bitsConsumed += bitsLeft_;
        bitsLeft_ = 0;
        uint32_t mask = n >= 32 ? 0xFFFFFFFFu : (1u << n) - 1;
        uint32_t value = ReadBits(n);
        while ((value & mask) != pattern && !ended) value = (value << 8) | ReadBits(8);
        return !ended && (value & mask) == pattern;
    }

    uint64_t bitsConsumed = 0;
    uint64_t bytesInFile = 0;  // bytes fetched from the file so far
    bool ended = false;

private:
    uint32_t NextByte() {
        if (position_ == filled_) {
            if (ended || endSeen_) {
                ended = true;
                return 0;
            }
            filled_ = ReadTempFile(buffer_.data(), 1, buffer_.size(), file_);
            position_ = 0;
            if (filled_ == 0) {
                endSeen_ = true;
                ended = true;
                return 0;
            }
        }
        ++bytesInFile;
        MuxProgressCallback(1);
        return buffer_[position_++];
    }

    FILE* file_ = nullptr;
    std::vector<unsigned char> buffer_;
    size_t filled_ = 0;
    size_t position_ = 0;
    uint32_t current_ = 0;
    int bitsLeft_ = 0;
    bool endSeen_ = false;
};

// The analysis says why it stops, on the standard output and to the job.
void PrintAndAbort(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
    const size_t first = text.find_first_not_of('\n');
    const size_t last = text.find_last_not_of('\n');
    MuxMessageText = first == std::string::npos ? std::string() : " " + text.substr(first, last - first + 1) + " ";
    MuxAbort(1);
}

void MarkerMissing(uint64_t bits) {
    PrintAndAbort(platform::Format("\nError in MPEG stream at offset (bits) %lu: supposed marker bit not found.\n",
                                   static_cast<unsigned long>(bits)));
}

}  // namespace

void AnalyseVideoStream(const std::string& videoFile, const std::string& recordFileName, VideoStreamInfo& info,
                        double& firstPts) {
    static const double rates[9] = {0.0, 24000.0 / 1001.0, 24.0, 25.0, 30000.0 / 1001.0, 30.0, 50.0,
                                    60000.0 / 1001.0, 60.0};
    double secondsPerFrameTable[9] = {};
    double ticksPerFrameTable[9] = {};
    for (int code = 1; code <= 8; ++code) {
        secondsPerFrameTable[code] = 1.0 / rates[code];
        ticksPerFrameTable[code] = 90000.0 * secondsPerFrameTable[code];
    }
    info = VideoStreamInfo{};
    FILE* records = OpenMuxFile(recordFileName, "wb");
    BitReader reader(videoFile);

    if (reader.ReadBits(32) != 0x000001B3) PrintAndAbort("Invalid MPEG Video stream header.\n");
    info.sequenceHeaders += 1;
    uint8_t fields[SequenceHeaderBytes - 4];
    for (uint8_t& byte : fields) byte = static_cast<uint8_t>(reader.ReadBits(8));
    const SequenceHeader sequence = ParseSequenceHeader(fields);
    info.horizontalSize = sequence.horizontalSize;
    info.verticalSize = sequence.verticalSize;
    info.aspectRatio = sequence.aspectRatio;
    info.frameRateCode = sequence.frameRateCode;
    info.bitRate = sequence.bitRate;
    // The marker is the 84th bit of the file, whose offset the message names.
    if (!sequence.markerBit) MarkerMissing(83);
    info.vbvBufferSize = sequence.vbvBufferSize;
    info.constrainedParameters = sequence.constrainedParameters ? 1 : 0;

    if (sequence.pictureRate == nullptr) PrintAndAbort("Invalid MPEG Video stream header.\n");
    uint32_t code = info.frameRateCode;
    double ticksPerFrame = ticksPerFrameTable[code];
    double secondsPerFrame = secondsPerFrameTable[code];
    firstPts = 8589934590.0;

    uint64_t decodeOrder = 0, groupOrder = 0, unitStart = 0, recordsWritten = 0;
    uint64_t byteSums[4] = {};
    bool unitOpen = false;  // a picture's unit runs on with no end code after it yet
    VideoUnitRecord unit;
    PeakRateMeter peakRate(code != 0 ? rates[code] : 0.0);

    auto endUnit = [&](uint64_t endBit) {
        uint64_t length = (endBit - unitStart) / 8;
        if (length > 0xFFFFFFFFull) PrintAndAbort("Invalid MPEG Video stream header.\n");
        unit.length = uint32_t(length);
        WriteVideoRecord(records, unit);
        peakRate.AddPicture(length);
        ++recordsWritten;
        if (unit.type >= 1 && unit.type <= 4) byteSums[unit.type - 1] += length;
    };

    while (reader.SeekByteAlignedSync(0x000001, 24) && !reader.ended) {
        uint64_t codeStart = reader.bitsConsumed - 24;
        uint32_t startCode = reader.ReadBits(8);
        if (reader.ended) break;  // a start-code prefix cut off by the end of the file
        if (startCode == 0xB3) {
            info.sequenceHeaders += 1;
        } else if (startCode == 0xB5 && reader.ReadBits(4) == 1) {
            // A sequence extension makes it MPEG-2 video, which an MPEG-1 system
            // stream cannot carry: its decoder buffer model would not hold.
            MuxFail(1, " MPEG-2 video stream cannot be multiplexed into an MPEG-1 system stream. ");
        } else if (startCode == 0xB8) {
            info.groups += 1;
            groupOrder = 0;
        } else if (startCode == 0x00) {
            // After a sequence end code no picture is open: the headers in front of
            // this picture belong to its own unit, not to a unit of their own.
            if (unitOpen) {
                endUnit(codeStart);
                unitStart = codeStart;
            }
            uint32_t temporalReference = reader.ReadBits(10);
            uint32_t type = reader.ReadBits(3);
            double dts = double(decodeOrder) * ticksPerFrame;
            double pts = double(decodeOrder - groupOrder + 1 + temporalReference) * ticksPerFrame;
            if (pts < firstPts) firstPts = pts;
            unit.type = type;
            TicksToTimeCode(dts, unit.dts);
            TicksToTimeCode(pts, unit.pts);
            decodeOrder += 1;
            groupOrder += 1;
            if (type >= 1 && type <= 4) info.picturesByType[type - 1] += 1;
            info.pictures += 1;
            unitOpen = true;
        } else if (startCode == 0xB7) {
            info.sequenceEnds += 1;
            if (unitOpen) {
                endUnit(reader.bitsConsumed);
                unitStart = reader.bitsConsumed;
                unitOpen = false;
            }
        }
    }
    // A stream that stops without an end code still owns its last picture.
    if (unitOpen && unit.type != 0 && reader.bytesInFile * 8 > unitStart) {
        endUnit(reader.bytesInFile * 8);
        unitStart = reader.bytesInFile * 8;
    }
    // Without a picture there is nothing to time the audio against.
    if (recordsWritten == 0 || info.pictures == 0) PrintAndAbort("Invalid MPEG Video stream header.\n");

    uint64_t streamBytes = unitStart / 8;
    info.streamBytes = uint32_t(streamBytes);
    for (int t = 0; t < 4; ++t) {
        if (info.picturesByType[t] != 0) info.unitBytesByType[t] = uint32_t(byteSums[t] / info.picturesByType[t]);
    }
    if (ticksPerFrame <= 0.0 || info.pictures == 0) {
        info.measuredBitRate = 0;
    } else {
        double rate = std::ceil(double(streamBytes) / info.pictures / secondsPerFrame * 0.0008) * 25.0;
        info.measuredBitRate = rate < 4294967295.0 ? uint32_t(rate) : 0xFFFFFFFFu;
    }
    info.peakBitRate = peakRate.PeakBitRate();
    CloseMuxFile(records);
    reader.Close();
}

void AnalyseAudioStream(const std::string& audioFile, const std::string& recordFileName, AudioStreamInfo& info,
                        double& firstPts) {
    static const double frequencies[4] = {44.1, 48.0, 32.0, 0.0};
    info = AudioStreamInfo{};
    FILE* records = OpenMuxFile(recordFileName, "wb");
    BitReader reader(audioFile);

    if (reader.ReadBits(12) != 0xFFF) PrintAndAbort("Invalid MPEG Audio stream header.\n");
    if (reader.ReadBit() != 1) MarkerMissing(reader.bitsConsumed);
    info.syncWords += 1;
    info.layer = reader.ReadBits(2);
    info.protection = reader.ReadBit();
    info.bitRateIndex = reader.ReadBits(4);
    info.frequencyIndex = reader.ReadBits(2);
    uint32_t padding = reader.ReadBit();
    reader.ReadBit();
    info.mode = reader.ReadBits(2);
    info.modeExtension = reader.ReadBits(2);
    info.copyBit = reader.ReadBit();
    info.firstGenerationBit = reader.ReadBit();
    info.emphasis = reader.ReadBits(2);

    // Only Layers I and II at a listed rate and frequency have a frame length;
    // anything else would have to be skipped blind.
    int kbps = AudioBitRateKbps(info.layer, info.bitRateIndex);
    double kHz = frequencies[info.frequencyIndex];
    if ((info.layer != 2 && info.layer != 3) || kbps == 0 || kHz == 0.0 || reader.ended) {
        PrintAndAbort("Invalid MPEG Audio stream header.\n");
    }
    double samplesPerFrame;
    if (info.layer == 2) {
        info.frameBytes[0] = uint32_t(144.0 * kbps / kHz);
        info.frameBytes[1] = info.frameBytes[0] + 1;
        samplesPerFrame = 1152.0;
    } else {
        info.frameBytes[0] = 4 * uint32_t(12.0 * kbps / kHz);
        info.frameBytes[1] = info.frameBytes[0] + 4;
        samplesPerFrame = 384.0;
    }
    double duration = samplesPerFrame / kHz * 90.0;

    AudioUnitRecord frame;
    frame.length = info.frameBytes[padding];
    TicksToTimeCode(firstPts, frame.pts);
    uint32_t framePadding = padding;
    uint64_t frameIndex = 1, recordsWritten = 0;
    for (;;) {
        // A frame is recorded only once its whole body is in the file: a cut
        // final frame would otherwise be sent with zeros in place of its tail.
        reader.SkipBytes(frame.length - 4);
        if (reader.ended) break;
        WriteAudioRecord(records, frame);
        ++recordsWritten;
        info.framesByPadding[framePadding] += 1;
        uint32_t sync = reader.ReadBits(12);
        if (reader.ended) break;
        // Frames after a lost sync word cannot be found any more: multiplexing the
        // frames before it would silently cut the sound short.
        if (sync != 0xFFF) {
            MuxFail(1, platform::Format(" MPEG audio stream lost synchronisation at byte %llu. ",
                                        static_cast<unsigned long long>((reader.bitsConsumed - 12) / 8)));
        }
        if (reader.ReadBit() != 1) MarkerMissing(reader.bitsConsumed);
        info.syncWords += 1;
        reader.ReadBits(9);
        framePadding = reader.ReadBit();
        frame.length = info.frameBytes[framePadding];
        TicksToTimeCode(double(frameIndex) * duration + firstPts, frame.pts);
        frameIndex += 1;
        reader.ReadBits(9);
        if (reader.ended) break;
    }
    if (recordsWritten == 0) PrintAndAbort("Invalid MPEG Audio stream header.\n");
    info.streamBytes = uint32_t(reader.bitsConsumed / 8);
    CloseMuxFile(records);
    reader.Close();
}
