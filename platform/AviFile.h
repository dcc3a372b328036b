// Reading AVI files: the file and its streams, stream formats, PCM samples by
// position and a frame getter that decodes frame n with any installed codec.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

constexpr uint32_t FourCC(char a, char b, char c, char d) {
    return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 |
           uint32_t(uint8_t(d)) << 24;
}
constexpr uint32_t kAviStreamVideo = FourCC('v', 'i', 'd', 's');
constexpr uint32_t kAviStreamAudio = FourCC('a', 'u', 'd', 's');
// Handler code of uncompressed video (plain RGB and bit-field RGB).
constexpr uint32_t kAviHandlerDib = FourCC('D', 'I', 'B', ' ');

enum class AviStatus {
    Ok,
    BadArgument,
    FileOpenFailed,   // missing, unreadable, or not an AVI file
    BadFile,          // structure or sizes out of range
    NoStream,
    ReadFailed,       // an I/O error or a chunk that is not where the index says
    OutOfMemory,
    NoDecoder,        // no codec for the stream, or the format cannot be delivered
    DecodeFailed,
};
const char* AviStatusText(AviStatus status);

// The device-independent bitmap header, 40 bytes little-endian when stored.
struct BitmapInfoHeader {
    static constexpr size_t kSize = 40;
    uint32_t size = kSize;
    int32_t width = 0;
    int32_t height = 0;  // positive: rows bottom-up
    uint16_t planes = 1;
    uint16_t bitCount = 0;
    uint32_t compression = 0;  // 0 plain RGB, 3 bit fields
    uint32_t sizeImage = 0;
    int32_t xPelsPerMeter = 0;
    int32_t yPelsPerMeter = 0;
    uint32_t clrUsed = 0;
    uint32_t clrImportant = 0;

    void Store(uint8_t* out) const;
    static BitmapInfoHeader Load(const uint8_t* in);
    // Bytes of one row padded to 4 bytes, and of all rows (0 when not representable).
    int64_t RowBytes() const;
    int64_t PixelBytes() const;
};
constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiBitFields = 3;

// The header of a bottom-up 24-bit picture of the given size.
BitmapInfoHeader Rgb24Header(int32_t width, int32_t height);

struct AviFileInfo {
    uint32_t streams = 0;
    int32_t width = 0, height = 0;  // size of the first video stream's pictures
    uint32_t rate = 0, scale = 0;   // frame rate of the first video stream, exact
    int64_t length = 0;             // its frame count
    int64_t fileSize = 0;
};

struct AviStreamInfo {
    uint32_t type = 0;     // kAviStreamVideo, kAviStreamAudio or another stream type
    uint32_t handler = 0;  // codec code; kAviHandlerDib for uncompressed video
    uint32_t rate = 0, scale = 0;
    int64_t start = 0;
    int64_t length = 0;   // frames, or sample frames of PCM audio
    int64_t announced = 0;  // video: the frames the file's headers name (more than `length` in a cut file)
    uint32_t sampleSize = 0;
    int32_t width = 0, height = 0;
};

// WAVEFORMATEX, 18 bytes plus extra bytes when stored.
struct AviWaveFormat {
    static constexpr size_t kSize = 18;
    uint16_t formatTag = 0;
    uint16_t channels = 0;
    uint32_t samplesPerSec = 0;
    uint32_t avgBytesPerSec = 0;
    uint16_t blockAlign = 0;
    uint16_t bitsPerSample = 0;
    uint16_t extraSize = 0;

    // Reads a stored record of `bytes` bytes; 14- and 16-byte records lack the later fields.
    static bool Load(const uint8_t* in, size_t bytes, AviWaveFormat* out);
    void Store(uint8_t* out) const;
};
constexpr uint16_t kWaveFormatPcm = 1;

class AviFile;
class AviFrameGetter;

// One stream of an open file; owned by its file.
class AviStream {
public:
    AviStatus GetInfo(AviStreamInfo* info) const;
    // The stream's format record as stored: WAVEFORMATEX for audio, BITMAPINFOHEADER for video.
    const std::vector<uint8_t>& Format() const;
    // The stream's first position (frames, or sample frames of PCM audio): a
    // stream that starts late begins after the file's time zero.
    int64_t Start() const;
    int64_t Length() const;
    // Reads `count` sample frames of PCM audio from position `start` (Start()
    // is the first); stops at the end of the stream. Both outputs are set (0 on failure).
    AviStatus ReadSamples(int64_t start, int64_t count, void* buffer, int64_t bufferBytes,
                          int64_t* bytesRead, int64_t* samplesRead);

    struct Impl;
    explicit AviStream(std::unique_ptr<Impl> impl);
    ~AviStream();
    Impl& impl() { return *impl_; }

private:
    std::unique_ptr<Impl> impl_;
};

class AviFile {
public:
    // Opens `path` for reading; `*out` is set only on success.
    static AviStatus Open(const std::string& path, std::unique_ptr<AviFile>* out);
    ~AviFile();
    const AviFileInfo& Info() const { return info_; }
    // The n-th stream of the type (0 first), or null.
    AviStream* GetStream(uint32_t type, int n);

private:
    AviFile() = default;
    AviFileInfo info_;
    std::vector<std::unique_ptr<AviStream>> streams_;
};

// Decodes frames of a video stream into packed DIBs (header, colour table when
// there is one, bottom-up rows padded to 4 bytes). One getter is used by one
// thread at a time.
class AviFrameGetter {
public:
    // `wanted` null: the decoder's own uncompressed format (8-bit with palette,
    // 16-bit, 24-bit or 32-bit RGB, else 24-bit); otherwise only a 24-bit plain RGB
    // header of the stream's own size is accepted. Decodes the first frame to make
    // sure the codec works.
    static AviStatus Open(AviStream* stream, const BitmapInfoHeader* wanted,
                          std::unique_ptr<AviFrameGetter>* out);
    ~AviFrameGetter();
    // Frame n (0-based within the stream), or null; the result stays valid until
    // the next call.
    const uint8_t* GetFrame(int64_t n);
    const std::string& LastError() const;

    struct Impl;

private:
    explicit AviFrameGetter(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
