// The compact MPEG-1 system stream multiplexer: its entry, the words it shares
// with the job, the library adapter and the progress panel, and its time codes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// Bytes read so far by the multiplexer (analysis and writing both count).
extern int64_t MuxBytesDone;
// Sum of the two elementary stream file sizes.
extern int64_t MuxBytesTotal;
extern int64_t MuxLastProgress;
// 1 while the temporary record files exist and must be deleted.
extern int MuxTempFilesPending;
extern FILE* MuxOutputFile;
extern std::string MuxOutputName;
// The text of the last failure; may be empty when the reason went to stdout.
extern std::string MuxMessageText;

// The multiplexer's own jump: thrown by MuxAbort, caught by the entry that armed it.
struct MuxJump {
    int code;
};

// Arms the multiplexer's jump target on the calling thread for its lifetime.
class MuxJumpArm {
public:
    MuxJumpArm();
    ~MuxJumpArm();
    MuxJumpArm(const MuxJumpArm&) = delete;
    MuxJumpArm& operator=(const MuxJumpArm&) = delete;
};
bool MuxJumpArmedHere();

// Leaves the multiplexer with `code` (1 when code <= 0).
[[noreturn]] void MuxAbort(int code);

// The folder of the multiplexer's record files: TMPDIR when it is a folder, else /tmp.
std::string MuxTempFolder();

// Joins an MPEG-1 video and an MPEG-1 audio elementary stream into one system
// stream. Returns 0 on success, 1 on failure (MuxMessageText, EncodeAbortFlag).
int MultiplexMpeg1SystemStream(const std::string& audioFile, const std::string& videoFile,
                               const std::string& outputFile, int packSize, int packetsPerPack,
                               int audioBufferKb, int videoBufferKb);

// Progress hook of both multiplexers: counts `bytes`, pumps every 100,000
// bytes. Nonzero to go on; a stop inside this multiplexer leaves through MuxAbort.
int MuxProgressCallback(int64_t bytes);

// A 33-bit time in 90 kHz ticks.
struct TimeCode {
    uint32_t bit32 = 0;
    uint32_t low32 = 0;
};
inline uint64_t TimeCodeValue(const TimeCode& t) { return (uint64_t(t.bit32 & 1) << 32) | t.low32; }
void TicksToTimeCode(double ticks, TimeCode& timeCode);
// timeCode := (addend + timeCode) modulo 2^33.
void AccumulateTimeCode(const TimeCode& addend, TimeCode& timeCode);

struct VideoStreamInfo {
    uint32_t streamBytes = 0;
    uint32_t sequenceHeaders = 0;
    uint32_t sequenceEnds = 0;
    uint32_t pictures = 0;
    uint32_t groups = 0;
    uint32_t picturesByType[4] = {};
    uint32_t unitBytesByType[4] = {};
    uint32_t horizontalSize = 0;
    uint32_t verticalSize = 0;
    uint32_t aspectRatio = 0;
    uint32_t frameRateCode = 0;
    uint32_t bitRate = 0;
    uint32_t measuredBitRate = 0;
    uint32_t vbvBufferSize = 0;
    uint32_t constrainedParameters = 0;
    // Highest rate over one second of pictures, units of 400 bit/s: what a
    // variable-rate stream (bit rate code 0x3FFFF) really needs.
    uint32_t peakBitRate = 0;
};

struct AudioStreamInfo {
    uint32_t streamBytes = 0;
    uint32_t syncWords = 0;
    uint32_t framesByPadding[2] = {};
    uint32_t frameBytes[2] = {};
    uint32_t layer = 0;
    uint32_t protection = 0;
    uint32_t bitRateIndex = 0;
    uint32_t frequencyIndex = 0;
    uint32_t mode = 0;
    uint32_t modeExtension = 0;
    uint32_t copyBit = 0;
    uint32_t firstGenerationBit = 0;
    uint32_t emphasis = 0;
};

// Record of one access unit in the temporary record files (little-endian words).
struct VideoUnitRecord {
    uint32_t length = 0;
    uint32_t type = 0;
    TimeCode dts;
    TimeCode pts;
};
struct AudioUnitRecord {
    uint32_t length = 0;
    TimeCode pts;
};
constexpr size_t kVideoRecordBytes = 24;
constexpr size_t kAudioRecordBytes = 12;

// The analysers: scan one elementary stream, fill its description and write one
// record per access unit to `recordFileName`. `firstPts` is shared by both calls.
void AnalyseVideoStream(const std::string& videoFile, const std::string& recordFileName, VideoStreamInfo& info,
                        double& firstPts);
void AnalyseAudioStream(const std::string& audioFile, const std::string& recordFileName, AudioStreamInfo& info,
                        double& firstPts);

// Audio bit rate in kbit/s for a layer code (3 = I, 2 = II, 1 = III); 0 when none.
int AudioBitRateKbps(uint32_t layer, uint32_t index);
