// The frame getter: decodes frame n of a video stream with FFmpeg's codecs and
// hands it out as a packed bottom-up DIB. Frame numbers count pictures in the
// order they are shown; for codecs that reorder pictures that order is learnt
// while decoding, so a frame reached by a jump is the one reached step by step;
// a jump starts only at a picture that both the index and the decoder call a
// key picture.
#include "platform/AviInternal.h"

extern "C" {
#include <libswscale/swscale.h>
}

#include "platform/Format.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace platform {

struct AviFrameGetter::Impl {
    AviStream::Impl* stream = nullptr;
    AVIOContext* io = nullptr;
    AVCodecContext* dec = nullptr;
    AVFrame* frame = nullptr;
    AVFrame* rgb = nullptr;
    AVPacket* packet = nullptr;
    SwsContext* sws = nullptr;
    int swsFormat = -1;
    bool wantRgb24 = false;
    int width = 0, height = 0;
    std::vector<uint8_t> chunkData;
    std::vector<uint8_t> out;
    int64_t outFrame = -1;
    int64_t outChunk = -1;
    std::string error;

    // Decoder position: the next chunk to send, and whether the end was signalled.
    size_t feed = 0;
    bool drained = false;
    bool finished = false;  // nothing more will come out until a restart
    int64_t lastChunkOut = -1;

    // Codecs that reorder: shown order learnt so far (frame -> chunk), the frame
    // number of key chunks' pictures (-1 unknown), and where the decoder stands.
    std::vector<int32_t> shownChunk;
    std::vector<int64_t> keyShown;
    std::map<int64_t, int64_t> keyByShown;
    bool synced = false;
    int64_t nextShown = 0;
    int64_t waitChunk = -1;
    int64_t syncShown = 0;
    int64_t restartChunk = 0;

    ~Impl();
    bool Fail(const std::string& text) {
        error = text;
        return false;
    }
    void Restart(size_t chunk);
    // Next decoded picture into `frame`; false at the end or on a hard error.
    bool NextPicture();
    bool Emit(int64_t n);
    bool EmitRgb24();
    bool EmitNative();
    const uint8_t* GetInOrder(int64_t n);
    const uint8_t* GetReordered(int64_t n);
};

AviFrameGetter::Impl::~Impl() {
    sws_freeContext(sws);
    av_packet_free(&packet);
    av_frame_free(&frame);
    av_frame_free(&rgb);
    avcodec_free_context(&dec);
    CloseAviIo(&io);
}

void AviFrameGetter::Impl::Restart(size_t chunk) {
    avcodec_flush_buffers(dec);
    feed = chunk;
    drained = false;
    finished = false;
    lastChunkOut = -1;
}

bool AviFrameGetter::Impl::NextPicture() {
    const std::vector<AviChunk>& chunks = stream->chunks;
    while (!finished) {
        int r = avcodec_receive_frame(dec, frame);
        if (r == 0) {
            int64_t pts = frame->pts != AV_NOPTS_VALUE ? frame->pts : frame->pkt_dts;
            lastChunkOut = pts != AV_NOPTS_VALUE ? pts : lastChunkOut + 1;
            return true;
        }
        if (r == AVERROR_EOF) {
            finished = true;
            break;
        }
        if (r != AVERROR(EAGAIN)) return Fail("the decoder failed");
        if (feed < chunks.size()) {
            const AviChunk& c = chunks[feed];
            AviStatus st = ReadAviChunk(io, stream->streamNumber, c, &chunkData);
            if (st != AviStatus::Ok) return Fail(Format("chunk %zu: %s", feed, AviStatusText(st)));
            av_packet_unref(packet);
            if (av_new_packet(packet, int(chunkData.size())) < 0) return Fail("out of memory");
            if (!chunkData.empty()) std::memcpy(packet->data, chunkData.data(), chunkData.size());
            packet->pts = packet->dts = int64_t(feed);
            if (c.key) packet->flags |= AV_PKT_FLAG_KEY;
            if (stream->hasPalette) {
                uint8_t* pal = av_packet_new_side_data(packet, AV_PKT_DATA_PALETTE, AVPALETTE_SIZE);
                if (pal) std::memcpy(pal, stream->palette, AVPALETTE_SIZE);
            }
            ++feed;
            // A damaged picture is skipped; the decoder goes on with the next.
            if (avcodec_send_packet(dec, packet) == AVERROR(ENOMEM)) return Fail("out of memory");
        } else if (!drained) {
            drained = true;
            avcodec_send_packet(dec, nullptr);
        } else {
            finished = true;
        }
    }
    return Fail("the frame is beyond the pictures the stream holds");
}

bool AviFrameGetter::Impl::EmitRgb24() {
    BitmapInfoHeader h = Rgb24Header(width, height);
    int64_t row = h.RowBytes();
    out.assign(BitmapInfoHeader::kSize + size_t(h.PixelBytes()), 0);
    h.Store(out.data());
    uint8_t* bottom = out.data() + BitmapInfoHeader::kSize + (height - 1) * row;
    if (frame->format == AV_PIX_FMT_BGR24) {
        for (int y = 0; y < height; ++y)
            std::memcpy(bottom - y * row, frame->data[0] + int64_t(y) * frame->linesize[0], size_t(width) * 3);
        return true;
    }
    if (!sws || swsFormat != frame->format) {
        sws_freeContext(sws);
        sws = sws_getContext(width, height, AVPixelFormat(frame->format), width, height, AV_PIX_FMT_BGR24,
                             SWS_BICUBIC, nullptr, nullptr, nullptr);
        swsFormat = frame->format;
        if (!sws) return Fail("the decoded pixel format cannot be converted to RGB");
    }
    // Converted top-down into a frame laid out as FFmpeg's own (aligned rows), so
    // that the same conversion kernels run as in FFmpeg's tools; then turned bottom-up.
    if (!rgb || rgb->width != width || rgb->height != height) {
        av_frame_free(&rgb);
        rgb = av_frame_alloc();
        if (!rgb) return Fail("out of memory");
        rgb->format = AV_PIX_FMT_BGR24;
        rgb->width = width;
        rgb->height = height;
        if (av_frame_get_buffer(rgb, 0) < 0) return Fail("out of memory");
    }
    if (sws_scale(sws, frame->data, frame->linesize, 0, height, rgb->data, rgb->linesize) != height)
        return Fail("the decoded picture cannot be converted to RGB");
    for (int y = 0; y < height; ++y)
        std::memcpy(bottom - y * row, rgb->data[0] + int64_t(y) * rgb->linesize[0], size_t(width) * 3);
    return true;
}

bool AviFrameGetter::Impl::EmitNative() {
    BitmapInfoHeader h;
    h.width = width;
    h.height = height;
    size_t extra = 0;
    int bytesPerPixel = 0;
    switch (frame->format) {
        case AV_PIX_FMT_PAL8:
            h.bitCount = 8;
            h.clrUsed = 256;
            extra = 1024;
            bytesPerPixel = 1;
            break;
        case AV_PIX_FMT_RGB555LE:
            h.bitCount = 16;
            bytesPerPixel = 2;
            break;
        case AV_PIX_FMT_RGB565LE:
            h.bitCount = 16;
            h.compression = kBiBitFields;
            extra = 12;
            bytesPerPixel = 2;
            break;
        case AV_PIX_FMT_BGR24:
            h.bitCount = 24;
            bytesPerPixel = 3;
            break;
        case AV_PIX_FMT_BGR0:
        case AV_PIX_FMT_BGRA:
            h.bitCount = 32;
            bytesPerPixel = 4;
            break;
        default:
            return EmitRgb24();
    }
    int64_t row = h.RowBytes();
    h.sizeImage = uint32_t(h.PixelBytes());
    out.assign(BitmapInfoHeader::kSize + extra + size_t(h.PixelBytes()), 0);
    h.Store(out.data());
    uint8_t* table = out.data() + BitmapInfoHeader::kSize;
    if (frame->format == AV_PIX_FMT_PAL8) {
        // The decoder's palette is ARGB words: stored as blue, green, red, 0.
        const uint8_t* pal = frame->data[1];
        for (int i = 0; i < 256; ++i) {
            uint32_t v = 0;
            std::memcpy(&v, pal + 4 * i, 4);
            table[4 * i] = uint8_t(v);
            table[4 * i + 1] = uint8_t(v >> 8);
            table[4 * i + 2] = uint8_t(v >> 16);
            table[4 * i + 3] = 0;
        }
    } else if (h.compression == kBiBitFields) {
        const uint32_t masks[3] = {0xF800, 0x07E0, 0x001F};
        for (int i = 0; i < 3; ++i)
            for (int b = 0; b < 4; ++b) table[4 * i + b] = uint8_t(masks[i] >> (8 * b));
    }
    uint8_t* bottom = table + extra + (height - 1) * row;
    for (int y = 0; y < height; ++y)
        std::memcpy(bottom - y * row, frame->data[0] + int64_t(y) * frame->linesize[0],
                    size_t(width) * bytesPerPixel);
    return true;
}

bool AviFrameGetter::Impl::Emit(int64_t n) {
    if (frame->width != width || frame->height != height)
        return Fail(Format("frame %lld has another size than the stream", static_cast<long long>(n)));
    bool ok = wantRgb24 ? EmitRgb24() : EmitNative();
    outFrame = ok ? n : -1;
    outChunk = ok ? lastChunkOut : -1;
    return ok;
}

const uint8_t* AviFrameGetter::Impl::GetInOrder(int64_t n) {
    const std::vector<AviChunk>& chunks = stream->chunks;
    // The picture shown at n is the last chunk at or before n: empty chunks repeat.
    auto it = std::upper_bound(chunks.begin(), chunks.end(), n,
                               [](int64_t v, const AviChunk& c) { return v < c.timestamp; });
    if (it == chunks.begin()) return Fail("the stream holds no picture for this frame"), nullptr;
    size_t target = size_t(it - chunks.begin()) - 1;
    if (outChunk == int64_t(target) && !out.empty()) {
        outFrame = n;
        return out.data();
    }
    size_t key = target;
    while (key > 0 && !chunks[key].key) --key;
    // Go on from where the decoder stands when no key picture lies between.
    bool forward = lastChunkOut < int64_t(target) && int64_t(key) <= lastChunkOut + 1 && !finished &&
                   feed > 0 && lastChunkOut >= 0;
    if (!forward) Restart(key);
    while (NextPicture()) {
        if (lastChunkOut == int64_t(target)) return Emit(n) ? out.data() : nullptr;
        if (lastChunkOut > int64_t(target)) break;
    }
    if (error.empty()) error = "the frame cannot be decoded";
    lastChunkOut = -1;
    return nullptr;
}

const uint8_t* AviFrameGetter::Impl::GetReordered(int64_t n) {
    const std::vector<AviChunk>& chunks = stream->chunks;
    int64_t learnt = int64_t(shownChunk.size());
    // A key picture shown at or before n (and after where the decoder stands) to start from.
    auto bestKey = [&](int64_t upTo, int64_t after) -> int64_t {
        auto it = keyByShown.upper_bound(upTo);
        if (it == keyByShown.begin()) return -1;
        --it;
        return it->first > after ? it->second : -1;
    };
    bool canContinue = synced && !finished && nextShown <= n;
    int64_t goal = std::min(n, learnt - 1);
    int64_t key = bestKey(goal, canContinue ? nextShown : -1);
    if (!canContinue || key >= 0) {
        if (key < 0) {
            Restart(0);
            synced = true;
            nextShown = 0;
            restartChunk = 0;
        } else {
            Restart(size_t(key));
            synced = false;
            waitChunk = key;
            syncShown = keyShown[size_t(key)];
            restartChunk = key;
        }
    }
    while (NextPicture()) {
        int64_t chunk = lastChunkOut;
        if (chunk < 0 || chunk >= int64_t(chunks.size())) continue;
        if (!synced) {
            if (chunk != waitChunk) continue;  // pictures that lean on what came before the key
            synced = true;
            nextShown = syncShown;
        }
        int64_t shown = nextShown++;
        if (shown < int64_t(shownChunk.size())) {
            if (shownChunk[size_t(shown)] != chunk) {
                if (restartChunk != 0) {
                    // This key picture does not start a clean run: never start there again.
                    keyByShown.erase(keyShown[size_t(restartChunk)]);
                    keyShown[size_t(restartChunk)] = -1;
                    return GetReordered(n);
                }
                shownChunk.resize(size_t(shown));
                for (auto it = keyByShown.lower_bound(shown); it != keyByShown.end();) {
                    keyShown[size_t(it->second)] = -1;
                    it = keyByShown.erase(it);
                }
            }
        }
        if (shown == int64_t(shownChunk.size())) {
            shownChunk.push_back(int32_t(chunk));
            // A start for later jumps only where the decoder finds a key picture too: an
            // index may flag every picture of a codec that reorders as a key picture.
            if (chunks[size_t(chunk)].key && frame->key_frame && keyShown[size_t(chunk)] < 0) {
                keyShown[size_t(chunk)] = shown;
                keyByShown[shown] = chunk;
            }
        }
        if (shown == n) return Emit(n) ? out.data() : nullptr;
    }
    synced = false;
    if (error.empty()) error = "the frame cannot be decoded";
    return nullptr;
}

AviFrameGetter::AviFrameGetter(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
AviFrameGetter::~AviFrameGetter() = default;

const std::string& AviFrameGetter::LastError() const { return impl_->error; }

const uint8_t* AviFrameGetter::GetFrame(int64_t n) {
    Impl& g = *impl_;
    g.error.clear();
    if (n < 0 || n >= g.stream->info.length) {
        g.error = "frame number out of range";
        return nullptr;
    }
    if (n == g.outFrame && !g.out.empty()) return g.out.data();
    return g.stream->reorders ? g.GetReordered(n) : g.GetInOrder(n);
}

AviStatus AviFrameGetter::Open(AviStream* stream, const BitmapInfoHeader* wanted,
                               std::unique_ptr<AviFrameGetter>* out) {
    if (!stream || !out) return AviStatus::BadArgument;
    AviStreamInfo info;
    if (stream->GetInfo(&info) != AviStatus::Ok || info.type != kAviStreamVideo) return AviStatus::BadArgument;
    if (wanted && (wanted->bitCount != 24 || wanted->compression != kBiRgb || wanted->width != info.width ||
                   wanted->height != info.height))
        return AviStatus::NoDecoder;
    SetUpFfmpegLogging();
    auto g = std::make_unique<Impl>();
    g->stream = &stream->impl();
    g->wantRgb24 = wanted != nullptr;
    g->width = info.width;
    g->height = info.height;
    g->keyShown.assign(g->stream->chunks.size(), -1);
    const AVCodec* codec = avcodec_find_decoder(g->stream->codec->codec_id);
    if (!codec) return AviStatus::NoDecoder;
    g->dec = avcodec_alloc_context3(codec);
    g->frame = av_frame_alloc();
    g->packet = av_packet_alloc();
    if (!g->dec || !g->frame || !g->packet) return AviStatus::OutOfMemory;
    if (avcodec_parameters_to_context(g->dec, g->stream->codec) < 0) return AviStatus::NoDecoder;
    g->dec->thread_count = 1;
    g->dec->pkt_timebase = AVRational{1, 1};
    if (avcodec_open2(g->dec, codec, nullptr) < 0) return AviStatus::NoDecoder;
    if (!(g->io = OpenAviIo(g->stream->path))) return AviStatus::ReadFailed;
    std::unique_ptr<AviFrameGetter> getter(new AviFrameGetter(std::move(g)));
    if (info.length > 0 && !getter->GetFrame(0)) return AviStatus::DecodeFailed;
    *out = std::move(getter);
    return AviStatus::Ok;
}

}  // namespace platform
