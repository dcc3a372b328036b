// Helpers of the multiplexer library tests: elementary streams made by ffmpeg,
// a whole session run, and a walker over the packs of a written stream.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace muxtest {

// Video (352x288, 25 fps, 2 s, 1150 kbit/s constant rate as a Video-CD needs) and audio (44.1 kHz, 224 kbit/s, 2 s)
// elementary streams, made once per test program; empty paths without ffmpeg.
struct Streams {
    std::filesystem::path video;
    std::filesystem::path audio;
};
const Streams& TestStreams();

// Statuses seen by the message callback since the last ClearReported.
extern std::vector<int32_t> Reported;
void ClearReported();
int32_t RecordStatus(int32_t status, int32_t zero, int32_t userValue);

struct RunResult {
    int32_t begin = 0;
    int32_t run = 0;
    int32_t end = 0;
    int32_t muxRate = 0;  // option 5 after the run
};

// Create, select, begin, type, the given options, message callback, run, end, destroy.
RunResult RunSession(int32_t type, const std::vector<std::pair<int32_t, int32_t>>& parameters,
                     const std::filesystem::path& video, const std::filesystem::path& audio,
                     const std::filesystem::path& output);

struct Packet {
    uint8_t id = 0;
    size_t offset = 0;  // of its start code
    size_t length = 0;  // in all, start code included
};

struct Pack {
    size_t offset = 0;
    size_t length = 0;  // up to the next pack, end code or end of data
    uint64_t scr = 0;
    uint32_t muxRate = 0;
    std::vector<Packet> packets;  // system headers (0xBB) included
};

// Splits an MPEG-1 system stream into packs; false with a reason when it cannot.
bool WalkPacks(const std::string& bytes, std::vector<Pack>& packs, std::string& error);

// Time-stamped packets whose decoding time comes before their pack's clock reference
// (the data would reach the decoder too late).
int LatePackets(const std::string& bytes, const std::vector<Pack>& packs);

// MD5 of every decoded video frame of a file, in order.
std::vector<std::string> VideoFrameHashes(const std::filesystem::path& file);

}  // namespace muxtest
