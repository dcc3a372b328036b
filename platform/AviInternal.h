// Shared insides of the AVI reader: the per-stream chunk index and raw chunk reads.
#pragma once

#include "platform/AviFile.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct AviChunk {
    int64_t pos = 0;        // file offset of the chunk header
    int64_t timestamp = 0;  // frame number (video) or byte offset (audio)
    int32_t size = 0;       // payload bytes
    bool key = false;
};

struct AviStream::Impl {
    std::string path;
    int streamNumber = 0;  // position in the file's stream list
    AviStreamInfo info;
    std::vector<uint8_t> format;
    std::vector<AviChunk> chunks;   // in file order, every one inside the file
    std::vector<int64_t> chunkEnd;  // audio: payload bytes up to and including chunk i
    AVCodecParameters* codec = nullptr;  // owned
    bool reorders = false;  // the codec may hand out pictures in another order than stored
    bool hasPalette = false;
    uint32_t palette[256] = {};  // ARGB, for 8-bit and smaller uncompressed video
    AVIOContext* audioIo = nullptr;  // opened by the first sample read
    ~Impl();
};

// Opens `path` for reading; null on failure.
AVIOContext* OpenAviIo(const std::string& path);
void CloseAviIo(AVIOContext** io);

// Reads the payload of `chunk` of stream `streamNumber` into `out` (resized to
// the chunk's size); checks that the chunk header is the one the index names.
AviStatus ReadAviChunk(AVIOContext* io, int streamNumber, const AviChunk& chunk,
                       std::vector<uint8_t>* out);

// Quiet FFmpeg's own logging unless the debug output is on.
void SetUpFfmpegLogging();

}  // namespace platform
