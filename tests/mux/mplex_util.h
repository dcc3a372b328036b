// Helpers of the system stream multiplexer tests: elementary streams made by
// ffmpeg, a walk over the packs and packets of a written stream, ffmpeg checks.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace mplextest {

struct Streams {
    std::filesystem::path video, audio;
};
// A 352x288 25 fps MPEG-1 video and a 44.1 kHz Layer II audio stream of `seconds`.
Streams MakeStreams(const std::filesystem::path& dir, int seconds, int audioKbps = 224);

struct Packet {
    uint64_t offset = 0;
    unsigned id = 0;
    uint32_t length = 0;  // bytes after the length field
    bool hasPts = false, hasDts = false, hasBuffer = false;
    uint64_t pts = 0, dts = 0;
    unsigned bufferScale = 0, bufferSize = 0;
    uint32_t payloadBytes = 0;
};
struct Pack {
    uint64_t offset = 0;
    uint64_t scr = 0;
    uint32_t muxRate = 0;
    bool systemHeader = false;
};
struct Layout {
    std::vector<Pack> packs;
    std::vector<Packet> packets;
    std::string systemHeader;  // its 18 bytes when present
    bool endCode = false;      // the stream ends with 00 00 01 B9
    std::string error;         // why the walk stopped early
};
Layout Walk(const std::string& bytes);

// ffmpeg's per-frame checksums of one stream of a file ("v" or "a"), without timestamps.
std::vector<std::string> FrameChecksums(const std::filesystem::path& file, const std::string& stream);
std::string DecodeErrors(const std::filesystem::path& file);
// "codec_name,duration" of every stream, one line each.
std::string ProbeStreams(const std::filesystem::path& file);

}  // namespace mplextest
