// The MPEG-1 system stream multiplexer's entry, error frame, file services,
// time codes and progress accounting. The analysers live in MplexAnalyse.cpp,
// the writer in MplexWriter.cpp.
#include "mux/Mplex.h"
#include "muxlib/StreamTables.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include "mux/MplexFiles.h"
#include "platform/Format.h"
#include "platform/System.h"
#include "settings/JobState.h"
#include "settings/JobUtil.h"
#include "settings/RunState.h"

int64_t MuxBytesDone = 0;
int64_t MuxBytesTotal = 0;
int64_t MuxLastProgress = 0;
int MuxTempFilesPending = 0;
FILE* MuxOutputFile = nullptr;
std::string MuxOutputName;
std::string MuxMessageText;

std::string MuxTempFolder() {
    const char* dir = std::getenv("TMPDIR");
    std::error_code ec;
    if (dir && *dir && std::filesystem::is_directory(dir, ec)) return dir;
    return "/tmp";
}

namespace {

// The thread that armed the jump and how deeply; MuxAbort only throws to it.
thread_local int armDepth = 0;

struct OpenFile {
    FILE* file;
    std::string path;
};
std::vector<OpenFile> openFiles;

void PutLE32(unsigned char* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}
uint32_t GetLE32(const unsigned char* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}


// A unique empty work file named after `prefix` in the temporary folder.
std::string MakeTempFile(const char* prefix) {
    int error = 0;
    const std::string name = platform::CreateWorkFile(MuxTempFolder(), prefix, &error);
    if (name.empty()) {
        const std::string path = MuxTempFolder() + "/" + prefix;
        std::string text = platform::Format(" Cannot open file %s for write operation. ", path.c_str());
        CheckPathDrive(text, path, error);
        MuxFail(4, text);
    }
    return name;
}

void RemoveFile(const std::string& path) {
    if (path.empty()) return;
    std::remove(path.c_str());
    platform::ForgetWorkPath(path);
}

}  // namespace

MuxJumpArm::MuxJumpArm() { ++armDepth; }
MuxJumpArm::~MuxJumpArm() { --armDepth; }
bool MuxJumpArmedHere() { return armDepth > 0; }

void MuxAbort(int code) { throw MuxJump{code <= 0 ? 1 : code}; }

void MuxFail(int code, const std::string& text) {
    MuxMessageText = text;
    EncodeAbortFlag = code;
    MuxAbort(code);
}

FILE* OpenMuxFile(const std::string& path, const char* mode) {
    FILE* file = std::fopen(path.c_str(), mode);
    if (!file) {
        int error = errno;
        if (mode[0] == 'r') MuxFail(4, platform::Format(" Cannot open file %s for read operation.", path.c_str()));
        std::string text = platform::Format(" Cannot open file %s for write operation. ", path.c_str());
        CheckPathDrive(text, path, error);
        MuxFail(4, text);
    }
    openFiles.push_back({file, path});
    return file;
}

int CloseMuxFile(FILE* file) {
    auto it = std::find_if(openFiles.begin(), openFiles.end(), [&](const OpenFile& f) { return f.file == file; });
    if (it != openFiles.end()) openFiles.erase(it);
    bool isOutput = file == MuxOutputFile;
    if (isOutput) MuxOutputFile = nullptr;
    int result = std::fclose(file);
    if (result != 0) {
        MuxFail(8, isOutput ? " Program cannot close MPEG output file. No space left on device or system error. "
                            : " Program cannot close temporary file. No space left on device or system error. ");
    }
    return result;
}

void CloseAllMuxFiles() {
    for (auto& f : openFiles) std::fclose(f.file);
    openFiles.clear();
    MuxOutputFile = nullptr;
}

size_t ReadTempFile(void* buffer, size_t size, size_t count, FILE* file) {
    size_t got = std::fread(buffer, size, count, file);
    if (got < count && std::ferror(file)) MuxFail(2, " failed to read data from temporary file ");
    return got;
}

size_t WriteMuxFile(const void* buffer, size_t size, size_t count, FILE* file) {
    size_t put = std::fwrite(buffer, size, count, file);
    if (put != count) {
        if (file == MuxOutputFile) {
            MuxFail(1, platform::Format("\n\nProgram cannot write data to MPEG output file\n%s\n\nNo space left on "
                                        "device or system write error.",
                                        MuxOutputName.c_str()));
        }
        MuxFail(1,
                "\nProgram cannot write data to temporary file.\nNo space left on device where temporary "
                "directory\nis located or system write error. ");
    }
    return put;
}

int64_t GetFileLength(const std::string& path) {
    FILE* file = OpenMuxFile(path, "rb");
    int64_t length = 0;
    if (fseeko(file, 0, SEEK_END) == 0) length = ftello(file);
    if (length < 0) length = 0;
    CloseMuxFile(file);
    return length;
}

void WriteVideoRecord(FILE* file, const VideoUnitRecord& r) {
    unsigned char bytes[kVideoRecordBytes];
    PutLE32(bytes, r.length);
    PutLE32(bytes + 4, r.type);
    PutLE32(bytes + 8, r.dts.bit32);
    PutLE32(bytes + 12, r.dts.low32);
    PutLE32(bytes + 16, r.pts.bit32);
    PutLE32(bytes + 20, r.pts.low32);
    WriteMuxFile(bytes, 1, sizeof bytes, file);
}

void WriteAudioRecord(FILE* file, const AudioUnitRecord& r) {
    unsigned char bytes[kAudioRecordBytes];
    PutLE32(bytes, r.length);
    PutLE32(bytes + 4, r.pts.bit32);
    PutLE32(bytes + 8, r.pts.low32);
    WriteMuxFile(bytes, 1, sizeof bytes, file);
}

bool ReadVideoRecord(FILE* file, VideoUnitRecord& r) {
    unsigned char bytes[kVideoRecordBytes];
    if (ReadTempFile(bytes, 1, sizeof bytes, file) != sizeof bytes) return false;
    r.length = GetLE32(bytes);
    r.type = GetLE32(bytes + 4);
    r.dts = {GetLE32(bytes + 8) & 1, GetLE32(bytes + 12)};
    r.pts = {GetLE32(bytes + 16) & 1, GetLE32(bytes + 20)};
    return true;
}

bool ReadAudioRecord(FILE* file, AudioUnitRecord& r) {
    unsigned char bytes[kAudioRecordBytes];
    if (ReadTempFile(bytes, 1, sizeof bytes, file) != sizeof bytes) return false;
    r.length = GetLE32(bytes);
    r.pts = {GetLE32(bytes + 4) & 1, GetLE32(bytes + 8)};
    return true;
}

void TicksToTimeCode(double ticks, TimeCode& timeCode) {
    // Times past 2^33 wrap as the 33-bit fields of the stream do; a plain
    // truncation into 32 bits would be undefined there.
    if (!(ticks > 0.0)) ticks = 0.0;
    if (ticks >= 8589934592.0) ticks = std::fmod(ticks, 8589934592.0);
    if (ticks > 4294967295.0) {
        timeCode.bit32 = 1;
        timeCode.low32 = static_cast<uint32_t>(ticks - 4294967296.0);
    } else {
        timeCode.bit32 = 0;
        timeCode.low32 = static_cast<uint32_t>(ticks);
    }
}

void AccumulateTimeCode(const TimeCode& addend, TimeCode& timeCode) {
    uint64_t sum = (TimeCodeValue(addend) + TimeCodeValue(timeCode)) & 0x1FFFFFFFFull;
    timeCode.bit32 = uint32_t(sum >> 32);
    timeCode.low32 = uint32_t(sum);
}

int AudioBitRateKbps(uint32_t layer, uint32_t index) {
    return int(muxtables::AudioKbps(layer, index));
}

int MuxProgressCallback(int64_t bytes) {
    if (bytes >= 1) MuxBytesDone += bytes;
    if (MuxBytesDone <= MuxLastProgress + 100000) return 1;
    int result = PumpMessagesDuringMultiplex();
    if (result == 0) {
        if (MuxJumpArmedHere()) MuxAbort(1);
        return 0;
    }
    MuxLastProgress = MuxBytesDone;
    return result;
}

int MultiplexMpeg1SystemStream(const std::string& audioFile, const std::string& videoFile,
                               const std::string& outputFile, int packSize, int packetsPerPack, int audioBufferKb,
                               int videoBufferKb) {
    MuxMessageText.clear();
    MuxOutputFile = nullptr;
    MuxOutputName = outputFile;
    MuxTempFilesPending = 0;
    MuxBytesDone = MuxBytesTotal = MuxLastProgress = 0;
    std::string videoRecords, audioRecords;
    try {
        MuxJumpArm arm;
        // A slot must hold the pack, system and packet headers and fit the
        // 4096-byte packet buffer; each decoder buffer must take a whole packet,
        // or the scheduler could never send that stream and would never end.
        unsigned slot = packetsPerPack > 0 && packSize > 0 ? unsigned(packSize) / unsigned(packetsPerPack) : 0;
        if (slot <= 48 || slot > 4096 || audioBufferKb <= 0 || videoBufferKb <= 0 ||
            int64_t(audioBufferKb) * 1024 < slot || int64_t(videoBufferKb) * 1024 < slot ||
            audioBufferKb > 8191 / 8 || videoBufferKb > 8191) {
            MuxFail(1, " Multiplexer pack size or buffer size has illegal value. ");
        }

        int64_t audioLength = GetFileLength(audioFile);
        int64_t videoLength = GetFileLength(videoFile);

        for (const std::string* path : {&audioFile, &videoFile}) {
            FILE* file = OpenMuxFile(*path, "rb");
            std::vector<unsigned char> probe(4096);
            MuxProgressCallback(int64_t(ReadTempFile(probe.data(), 1, probe.size(), file)));
            CloseMuxFile(file);
        }

        // The record files exist from here on, so every path below removes them.
        MuxTempFilesPending = 1;
        videoRecords = MakeTempFile("tmp_v");
        audioRecords = MakeTempFile("tmp_a");

        MuxBytesTotal = audioLength + videoLength;
        MuxBytesDone = 0;
        MuxLastProgress = 0;
        MultiplexFinished = 0;
        PumpMessagesDuringMultiplex();

        VideoStreamInfo videoInfo;
        AudioStreamInfo audioInfo;
        double firstPts = 0.0;
        AnalyseVideoStream(videoFile, videoRecords, videoInfo, firstPts);
        PumpMessagesDuringMultiplex();
        AnalyseAudioStream(audioFile, audioRecords, audioInfo, firstPts);
        PumpMessagesDuringMultiplex();

        MultiplexStreams(videoFile, videoRecords, videoInfo, audioFile, audioRecords, audioInfo, outputFile, slot,
                         unsigned(packetsPerPack), audioBufferKb, videoBufferKb);
        MultiplexFinished = 1;
        PumpMessagesDuringMultiplex();
    } catch (const MuxJump&) {
        CloseAllMuxFiles();
        RemoveFile(videoRecords);
        RemoveFile(audioRecords);
        MuxTempFilesPending = 0;
        return 1;
    }
    CloseAllMuxFiles();
    if (MuxTempFilesPending) {
        RemoveFile(videoRecords);
        RemoveFile(audioRecords);
    }
    MuxTempFilesPending = 0;
    return 0;
}
