// AVI files through FFmpeg's demuxer: stream list, formats, the chunk index
// (trusted over the header's counts) and PCM sample reads by position.
#include "platform/AviInternal.h"

#include "platform/System.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace platform {

namespace {

// Pictures beyond this size are refused: no codec delivers them and their byte
// counts would not fit the bitmap header.
constexpr int kMaxPictureSide = 32768;

void StoreLe16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void StoreLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
uint16_t LoadLe16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t LoadLe32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint32_t StreamTypeOf(AVMediaType type) {
    switch (type) {
        case AVMEDIA_TYPE_VIDEO: return kAviStreamVideo;
        case AVMEDIA_TYPE_AUDIO: return kAviStreamAudio;
        case AVMEDIA_TYPE_SUBTITLE: return FourCC('t', 'x', 't', 's');
        default: return FourCC('d', 'a', 't', 's');
    }
}

// The palette of 8-bit and smaller uncompressed video sits at the end of the
// format's extra bytes, before the bottom-up marker the demuxer appends.
void TakePalette(const AVCodecParameters* par, AviStream::Impl* s) {
    if (par->codec_id != AV_CODEC_ID_RAWVIDEO || par->bits_per_coded_sample <= 0 ||
        par->bits_per_coded_sample > 8 || !par->extradata || par->extradata_size <= 0)
        return;
    size_t size = size_t(par->extradata_size);
    static const char kMarker[] = "BottomUp";  // 9 bytes with its terminator
    if (size >= sizeof kMarker && std::memcmp(par->extradata + size - sizeof kMarker, kMarker, sizeof kMarker) == 0)
        size -= sizeof kMarker;
    size_t paletteBytes = std::min(size_t(4) << par->bits_per_coded_sample, size) / 4 * 4;
    if (paletteBytes == 0) return;
    const uint8_t* src = par->extradata + size - paletteBytes;
    for (size_t i = 0; i < paletteBytes / 4; ++i) s->palette[i] = 0xFF000000u | LoadLe32(src + 4 * i);
    s->hasPalette = true;
}

// The index entries of one stream, cut at the first one that lies outside the file.
void TakeIndex(AVStream* st, int64_t fileSize, AviStream::Impl* s) {
    int count = avformat_index_get_entries_count(st);
    s->chunks.reserve(size_t(std::max(count, 0)));
    for (int i = 0; i < count; ++i) {
        const AVIndexEntry* e = avformat_index_get_entry(st, i);
        if (!e || e->pos < 0 || e->size < 0) break;
        if (e->pos > fileSize - 8 || e->size > fileSize - 8 - e->pos) break;  // truncated file
        // The demuxer splits the only chunk of a PCM stream into pieces whose
        // positions run on inside it: they are one chunk again here.
        if (!s->chunks.empty() && e->pos == s->chunks.back().pos + s->chunks.back().size) {
            s->chunks.back().size += e->size;
            continue;
        }
        AviChunk c;
        c.pos = e->pos;
        c.timestamp = e->timestamp;
        c.size = e->size;
        c.key = (e->flags & AVINDEX_KEYFRAME) != 0;
        s->chunks.push_back(c);
    }
}

// Files without an index: one pass over the chunks in file order.
void ScanChunks(AVFormatContext* ctx, std::vector<std::unique_ptr<AviStream>>& streams, int64_t fileSize) {
    AVPacket* pkt = av_packet_alloc();
    if (!pkt) return;
    std::vector<int64_t> next(streams.size(), 0);
    while (av_read_frame(ctx, pkt) >= 0) {
        int index = pkt->stream_index;
        // A chunk cut off by the end of the file is left out.
        if (index >= 0 && size_t(index) < streams.size() && pkt->pos >= 8 && pkt->size >= 0 &&
            pkt->pos + pkt->size <= fileSize && !(pkt->flags & AV_PKT_FLAG_CORRUPT)) {
            AviStream::Impl& s = streams[size_t(index)]->impl();
            AviChunk c;
            c.pos = pkt->pos - 8;
            c.size = pkt->size;
            c.key = (pkt->flags & AV_PKT_FLAG_KEY) != 0;
            c.timestamp = next[size_t(index)];
            next[size_t(index)] += s.info.type == kAviStreamVideo ? 1 : pkt->size;
            s.chunks.push_back(c);
        }
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
}

// The start of every stream (the stream header's dwStart) in stream order.
// The demuxer keeps it only inside its index timestamps. Empty when the
// header list cannot be walked.
std::vector<int64_t> ReadStreamStarts(const std::string& path) {
    std::vector<int64_t> starts;
    AVIOContext* io = OpenAviIo(path);
    if (!io) return starts;
    struct Closer {
        AVIOContext** io;
        ~Closer() { CloseAviIo(io); }
    } closer{&io};
    auto readTag = [&](uint32_t* tag, uint32_t* size) {
        uint8_t head[8];
        if (avio_read(io, head, 8) != 8) return false;
        *tag = LoadLe32(head);
        *size = LoadLe32(head + 4);
        return true;
    };
    uint32_t tag = 0, size = 0, form = 0;
    if (!readTag(&tag, &size) || tag != FourCC('R', 'I', 'F', 'F')) return starts;
    uint8_t formBytes[4];
    if (avio_read(io, formBytes, 4) != 4 || (form = LoadLe32(formBytes)) != FourCC('A', 'V', 'I', ' ')) return starts;
    // The header list comes first; it holds one stream list per stream, each opened by its stream header.
    if (!readTag(&tag, &size) || tag != FourCC('L', 'I', 'S', 'T') || size < 4) return starts;
    const int64_t hdrlEnd = avio_tell(io) + size;
    if (avio_read(io, formBytes, 4) != 4 || LoadLe32(formBytes) != FourCC('h', 'd', 'r', 'l')) return starts;
    std::vector<int64_t> found;
    while (avio_tell(io) + 8 <= hdrlEnd && found.size() < 100) {
        if (!readTag(&tag, &size)) return starts;
        const int64_t next = avio_tell(io) + size + (size & 1);
        if (next > hdrlEnd) return starts;
        if (tag == FourCC('L', 'I', 'S', 'T') && size >= 12 + 36 && avio_read(io, formBytes, 4) == 4 &&
            LoadLe32(formBytes) == FourCC('s', 't', 'r', 'l')) {
            uint8_t strh[8 + 36];
            if (avio_read(io, strh, sizeof strh) != int(sizeof strh) || LoadLe32(strh) != FourCC('s', 't', 'r', 'h') ||
                LoadLe32(strh + 4) < 36)
                return starts;
            found.push_back(int64_t(LoadLe32(strh + 8 + 28)));
        }
        if (avio_seek(io, next, SEEK_SET) < 0) return starts;
    }
    return found;
}

// The demuxer counts index timestamps from the stream's start: frame n of the
// stream becomes n again.
void IndexFromStreamStart(AviStream::Impl* s) {
    const int64_t start = s->info.start;
    if (start <= 0 || s->chunks.empty() || s->chunks.front().timestamp < start) return;
    for (AviChunk& c : s->chunks) c.timestamp -= start;
}

void FinishVideo(AviStream::Impl* s, const AVStream* st) {
    const AVCodecParameters* par = s->codec;
    AviStreamInfo& info = s->info;
    info.handler = par->codec_tag;
    if (par->codec_id == AV_CODEC_ID_RAWVIDEO && (par->codec_tag == kBiRgb || par->codec_tag == kBiBitFields))
        info.handler = kAviHandlerDib;
    info.rate = uint32_t(std::max(st->time_base.den, 0));
    info.scale = uint32_t(std::max(st->time_base.num, 0));
    info.width = par->width;
    info.height = std::abs(par->height);
    const AVCodecDescriptor* d = avcodec_descriptor_get(par->codec_id);
    s->reorders = d && (d->props & AV_CODEC_PROP_REORDER);
    if (d && (d->props & AV_CODEC_PROP_INTRA_ONLY))
        for (AviChunk& c : s->chunks) c.key = true;
    if (s->reorders) {
        // Every stored picture is one frame; empty chunks carry none.
        s->chunks.erase(std::remove_if(s->chunks.begin(), s->chunks.end(),
                                       [](const AviChunk& c) { return c.size == 0; }),
                        s->chunks.end());
        info.length = int64_t(s->chunks.size());
    } else {
        // Chunk timestamps count the empty (repeat) chunks the index leaves out.
        int64_t last = -1;
        std::vector<AviChunk> kept;
        kept.reserve(s->chunks.size());
        for (const AviChunk& c : s->chunks)
            if (c.timestamp > last) {
                kept.push_back(c);
                last = c.timestamp;
            }
        s->chunks.swap(kept);
        info.length = last + 1;
    }
    info.announced = std::max<int64_t>(st->nb_frames, info.length);
    BitmapInfoHeader h;
    h.width = par->width;
    h.height = par->height;
    h.bitCount = uint16_t(std::clamp(par->bits_per_coded_sample, 0, 65535));
    h.compression = par->codec_tag;
    s->format.resize(BitmapInfoHeader::kSize);
    h.Store(s->format.data());
    TakePalette(par, s);
}

void FinishAudio(AviStream::Impl* s) {
    const AVCodecParameters* par = s->codec;
    AviWaveFormat w;
    w.formatTag = uint16_t(par->codec_tag);
    w.channels = uint16_t(std::clamp(par->ch_layout.nb_channels, 0, 65535));
    w.samplesPerSec = uint32_t(std::max(par->sample_rate, 0));
    w.avgBytesPerSec = uint32_t(std::clamp<int64_t>(par->bit_rate / 8, 0, UINT32_MAX));
    w.blockAlign = uint16_t(std::clamp(par->block_align, 0, 65535));
    w.bitsPerSample = uint16_t(std::clamp(par->bits_per_coded_sample, 0, 65535));
    int extra = par->extradata ? std::clamp(par->extradata_size, 0, 65535) : 0;
    w.extraSize = uint16_t(extra);
    s->format.resize(AviWaveFormat::kSize + size_t(extra));
    w.Store(s->format.data());
    if (extra) std::memcpy(s->format.data() + AviWaveFormat::kSize, par->extradata, size_t(extra));

    s->chunks.erase(std::remove_if(s->chunks.begin(), s->chunks.end(),
                                   [](const AviChunk& c) { return c.size == 0; }),
                    s->chunks.end());
    int64_t total = 0;
    s->chunkEnd.reserve(s->chunks.size());
    for (const AviChunk& c : s->chunks) {
        total += c.size;
        s->chunkEnd.push_back(total);
    }
    AviStreamInfo& info = s->info;
    info.handler = 0;
    info.rate = w.samplesPerSec;
    info.scale = 1;
    info.sampleSize = w.blockAlign;
    info.length = w.blockAlign ? total / w.blockAlign : 0;
}

}  // namespace

const char* AviStatusText(AviStatus status) {
    switch (status) {
        case AviStatus::Ok: return "no error";
        case AviStatus::BadArgument: return "bad argument";
        case AviStatus::FileOpenFailed: return "the file cannot be opened as an AVI file";
        case AviStatus::BadFile: return "the file is damaged";
        case AviStatus::NoStream: return "no such stream";
        case AviStatus::ReadFailed: return "the file cannot be read";
        case AviStatus::OutOfMemory: return "out of memory";
        case AviStatus::NoDecoder: return "no codec for this stream";
        case AviStatus::DecodeFailed: return "the frame cannot be decoded";
    }
    return "unknown error";
}

void SetUpFfmpegLogging() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(DebugOutputEnabled() ? AV_LOG_WARNING : AV_LOG_QUIET); });
}

void BitmapInfoHeader::Store(uint8_t* out) const {
    StoreLe32(out, size);
    StoreLe32(out + 4, uint32_t(width));
    StoreLe32(out + 8, uint32_t(height));
    StoreLe16(out + 12, planes);
    StoreLe16(out + 14, bitCount);
    StoreLe32(out + 16, compression);
    StoreLe32(out + 20, sizeImage);
    StoreLe32(out + 24, uint32_t(xPelsPerMeter));
    StoreLe32(out + 28, uint32_t(yPelsPerMeter));
    StoreLe32(out + 32, clrUsed);
    StoreLe32(out + 36, clrImportant);
}

BitmapInfoHeader BitmapInfoHeader::Load(const uint8_t* in) {
    BitmapInfoHeader h;
    h.size = LoadLe32(in);
    h.width = int32_t(LoadLe32(in + 4));
    h.height = int32_t(LoadLe32(in + 8));
    h.planes = LoadLe16(in + 12);
    h.bitCount = LoadLe16(in + 14);
    h.compression = LoadLe32(in + 16);
    h.sizeImage = LoadLe32(in + 20);
    h.xPelsPerMeter = int32_t(LoadLe32(in + 24));
    h.yPelsPerMeter = int32_t(LoadLe32(in + 28));
    h.clrUsed = LoadLe32(in + 32);
    h.clrImportant = LoadLe32(in + 36);
    return h;
}

int64_t BitmapInfoHeader::RowBytes() const {
    if (width <= 0 || width > kMaxPictureSide || bitCount == 0 || bitCount > 32) return 0;
    return (int64_t(width) * bitCount + 31) / 32 * 4;
}

int64_t BitmapInfoHeader::PixelBytes() const {
    int64_t rows = height < 0 ? -int64_t(height) : height;
    if (rows > kMaxPictureSide) return 0;
    return RowBytes() * rows;
}

BitmapInfoHeader Rgb24Header(int32_t width, int32_t height) {
    BitmapInfoHeader h;
    h.width = width;
    h.height = height;
    h.bitCount = 24;
    h.compression = kBiRgb;
    h.sizeImage = uint32_t(std::min<int64_t>(h.PixelBytes(), UINT32_MAX));
    return h;
}

bool AviWaveFormat::Load(const uint8_t* in, size_t bytes, AviWaveFormat* out) {
    if (!in || !out || bytes < 14) return false;
    AviWaveFormat w;
    w.formatTag = LoadLe16(in);
    w.channels = LoadLe16(in + 2);
    w.samplesPerSec = LoadLe32(in + 4);
    w.avgBytesPerSec = LoadLe32(in + 8);
    w.blockAlign = LoadLe16(in + 12);
    if (bytes >= 16) w.bitsPerSample = LoadLe16(in + 14);
    if (bytes >= 18) w.extraSize = LoadLe16(in + 16);
    *out = w;
    return true;
}

void AviWaveFormat::Store(uint8_t* out) const {
    StoreLe16(out, formatTag);
    StoreLe16(out + 2, channels);
    StoreLe32(out + 4, samplesPerSec);
    StoreLe32(out + 8, avgBytesPerSec);
    StoreLe16(out + 12, blockAlign);
    StoreLe16(out + 14, bitsPerSample);
    StoreLe16(out + 16, extraSize);
}

AVIOContext* OpenAviIo(const std::string& path) {
    AVIOContext* io = nullptr;
    if (avio_open(&io, path.c_str(), AVIO_FLAG_READ) < 0) return nullptr;
    return io;
}

void CloseAviIo(AVIOContext** io) {
    if (*io) avio_closep(io);
}

AviStatus ReadAviChunk(AVIOContext* io, int streamNumber, const AviChunk& chunk, std::vector<uint8_t>* out) {
    if (!io || chunk.size < 0) return AviStatus::ReadFailed;
    if (avio_seek(io, chunk.pos, SEEK_SET) < 0) return AviStatus::ReadFailed;
    uint8_t head[8];
    if (avio_read(io, head, 8) != 8) return AviStatus::ReadFailed;
    // "##xx": two decimal digits naming the stream, then the chunk kind.
    if (head[0] < '0' || head[0] > '9' || head[1] < '0' || head[1] > '9' ||
        (head[0] - '0') * 10 + (head[1] - '0') != streamNumber)
        return AviStatus::ReadFailed;
    if (LoadLe32(head + 4) < uint32_t(chunk.size)) return AviStatus::ReadFailed;
    try {
        out->resize(size_t(chunk.size));
    } catch (const std::bad_alloc&) {
        return AviStatus::OutOfMemory;
    }
    if (chunk.size > 0 && avio_read(io, out->data(), chunk.size) != chunk.size) return AviStatus::ReadFailed;
    return AviStatus::Ok;
}

AviStream::Impl::~Impl() {
    CloseAviIo(&audioIo);
    avcodec_parameters_free(&codec);
}

AviStream::AviStream(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
AviStream::~AviStream() = default;

AviStatus AviStream::GetInfo(AviStreamInfo* info) const {
    if (!info) return AviStatus::BadArgument;
    const AviStreamInfo& i = impl_->info;
    if (i.type == kAviStreamVideo &&
        (i.width <= 0 || i.height <= 0 || i.width > kMaxPictureSide || i.height > kMaxPictureSide))
        return AviStatus::BadFile;
    *info = i;
    return AviStatus::Ok;
}

const std::vector<uint8_t>& AviStream::Format() const { return impl_->format; }
int64_t AviStream::Start() const { return impl_->info.start; }
int64_t AviStream::Length() const { return impl_->info.length; }

AviStatus AviStream::ReadSamples(int64_t start, int64_t count, void* buffer, int64_t bufferBytes,
                                 int64_t* bytesRead, int64_t* samplesRead) {
    if (bytesRead) *bytesRead = 0;
    if (samplesRead) *samplesRead = 0;
    Impl& s = *impl_;
    int64_t align = s.info.sampleSize;
    // Positions count from the stream's own start, as Start() gives it.
    start -= s.info.start;
    if (!buffer || start < 0 || count < 0 || bufferBytes < 0 || s.info.type != kAviStreamAudio || align <= 0)
        return AviStatus::BadArgument;
    count = std::min({count, s.info.length - std::min(start, s.info.length), bufferBytes / align});
    if (count <= 0) return AviStatus::Ok;
    if (!s.audioIo && !(s.audioIo = OpenAviIo(s.path))) return AviStatus::ReadFailed;

    uint8_t* dst = static_cast<uint8_t*>(buffer);
    int64_t offset = start * align;
    int64_t end = offset + count * align;
    size_t i = size_t(std::upper_bound(s.chunkEnd.begin(), s.chunkEnd.end(), offset) - s.chunkEnd.begin());
    std::vector<uint8_t> data;
    while (offset < end && i < s.chunks.size()) {
        AviStatus st = ReadAviChunk(s.audioIo, s.streamNumber, s.chunks[i], &data);
        if (st != AviStatus::Ok) return st;
        int64_t chunkStart = s.chunkEnd[i] - s.chunks[i].size;
        int64_t from = offset - chunkStart;
        int64_t n = std::min<int64_t>(end - offset, s.chunks[i].size - from);
        std::memcpy(dst, data.data() + from, size_t(n));
        dst += n;
        offset += n;
        ++i;
    }
    int64_t done = (offset - start * align) / align;
    if (bytesRead) *bytesRead = done * align;
    if (samplesRead) *samplesRead = done;
    return AviStatus::Ok;
}

AviStatus AviFile::Open(const std::string& path, std::unique_ptr<AviFile>* out) {
    if (path.empty() || !out) return AviStatus::BadArgument;
    SetUpFfmpegLogging();
    const AVInputFormat* avi = av_find_input_format("avi");
    AVFormatContext* ctx = nullptr;
    if (!avi || avformat_open_input(&ctx, path.c_str(), avi, nullptr) < 0) return AviStatus::FileOpenFailed;
    struct Closer {
        AVFormatContext** ctx;
        ~Closer() { avformat_close_input(ctx); }
    } closer{&ctx};

    std::unique_ptr<AviFile> file(new AviFile);
    int64_t fileSize = ctx->pb ? avio_size(ctx->pb) : -1;
    if (fileSize <= 0) return AviStatus::FileOpenFailed;
    file->info_.fileSize = fileSize;
    file->info_.streams = ctx->nb_streams;

    bool anyIndex = false;
    const std::vector<int64_t> starts = ReadStreamStarts(path);
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        AVStream* st = ctx->streams[i];
        auto impl = std::make_unique<AviStream::Impl>();
        impl->path = path;
        impl->streamNumber = int(i);
        impl->info.type = StreamTypeOf(st->codecpar->codec_type);
        // A start beyond any frame count a file can hold is not believed.
        if (starts.size() == ctx->nb_streams && starts[i] <= INT32_MAX) impl->info.start = starts[i];
        impl->codec = avcodec_parameters_alloc();
        if (!impl->codec || avcodec_parameters_copy(impl->codec, st->codecpar) < 0) return AviStatus::OutOfMemory;
        TakeIndex(st, fileSize, impl.get());
        if (impl->info.type == kAviStreamVideo) IndexFromStreamStart(impl.get());
        anyIndex = anyIndex || !impl->chunks.empty();
        file->streams_.push_back(std::make_unique<AviStream>(std::move(impl)));
    }
    if (!anyIndex) ScanChunks(ctx, file->streams_, fileSize);

    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        AviStream::Impl& s = file->streams_[i]->impl();
        if (s.info.type == kAviStreamVideo)
            FinishVideo(&s, ctx->streams[i]);
        else if (s.info.type == kAviStreamAudio)
            FinishAudio(&s);
        else
            s.info.length = int64_t(s.chunks.size());
    }
    if (AviStream* video = file->GetStream(kAviStreamVideo, 0)) {
        const AviStreamInfo& v = video->impl().info;
        file->info_.width = v.width;
        file->info_.height = v.height;
        file->info_.rate = v.rate;
        file->info_.scale = v.scale;
        file->info_.length = v.length;
    }
    *out = std::move(file);
    return AviStatus::Ok;
}

AviFile::~AviFile() = default;

AviStream* AviFile::GetStream(uint32_t type, int n) {
    for (auto& s : streams_)
        if (s->impl().info.type == type && n-- == 0) return s.get();
    return nullptr;
}

}  // namespace platform
