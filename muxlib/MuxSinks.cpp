// Output sinks of the multiplexer library: the buffered file sink and the caller
// sink that cuts each pack into header and packet pieces.
#include "muxlib/MuxSession.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

bool WriteAll(int fd, const uint8_t* data, size_t length)
{
    while (length > 0) {
        ssize_t n = ::write(fd, data, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

int32_t MuxFileSink::Open()
{
    fill = 0;
    fd = ::open(name.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0666);
    return fd < 0 ? int32_t{MuxErrWrite} : 0;
}

int32_t MuxFileSink::OpenNew()
{
    fill = 0;
    fd = ::open(name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
    return fd < 0 ? int32_t{MuxErrWrite} : 0;
}

int32_t MuxFileSink::Flush()
{
    if (fill == 0) return 0;
    if (fd < 0) return MuxErrWrite;
    bool ok = WriteAll(fd, buffer.data(), fill);
    fill = 0;
    return ok ? 0 : int32_t{MuxErrWrite};
}

int32_t MuxFileSink::Close(bool flush)
{
    if (fd < 0) return 0;
    int32_t status = flush ? Flush() : 0;
    fill = 0;
    if (::close(fd) != 0 && status == 0) status = MuxErrWrite;
    fd = -1;
    return status;
}

int32_t MuxFileSinkWrite(const uint8_t* data, uint32_t bits, void* context)
{
    auto* sink = static_cast<MuxFileSink*>(context);
    if (bits == 0) return sink->Flush();
    if (sink->fd < 0) return MuxErrWrite;
    uint32_t bytes = bits / 8;
    while (bytes > 0) {
        uint32_t n = std::min<uint32_t>(bytes, static_cast<uint32_t>(sink->buffer.size()) - sink->fill);
        std::memcpy(sink->buffer.data() + sink->fill, data, n);
        sink->fill += n;
        data += n;
        bytes -= n;
        if (sink->fill == sink->buffer.size()) {
            int32_t status = sink->Flush();
            if (status != 0) return status;
        }
    }
    return 0;
}

int32_t MuxCallbackSinkWrite(const uint8_t* data, uint32_t bits, void* context)
{
    auto* pair = static_cast<MuxCallerSink*>(context);
    const uint32_t bytes = bits / 8;
    if (bytes == 0 || data == nullptr) return 0;
    // The engines hand over whole packs or a pack's parts (its header, then its packets):
    // each part that starts with a start code becomes its pieces.
    uint32_t pos = 0;
    while (pos + 4 <= bytes && data[pos] == 0 && data[pos + 1] == 0 && data[pos + 2] == 1) {
        const uint8_t id = data[pos + 3];
        if (id == 0xB9) break;
        uint32_t length;
        if (id == 0xBA) {
            // An MPEG-2 pack header is 14 bytes and its stuffing; an MPEG-1 one is 12.
            length = 12;
            if (pos + 14 <= bytes && (data[pos + 4] & 0xC0) == 0x40) length = 14 + (data[pos + 13] & 7);
        } else if (pos + 6 <= bytes) {
            length = (uint32_t{data[pos + 4]} << 8 | data[pos + 5]) + 6;
        } else {
            break;
        }
        length = std::min(length, bytes - pos);
        int32_t kind = -1;
        if (id == 0xBA) kind = MuxPiecePackHeader;
        else if (id == 0xBB) kind = MuxPieceSystemHeader;
        else if (id == 0xC0) kind = MuxPieceAudioPacket;
        else if (id == 0xE0) kind = MuxPieceVideoPacket;
        if (kind >= 0) {
            MuxPiece piece{kind, static_cast<int32_t>(length), data + pos};
            pair->function(&piece, sizeof piece, pair->value);
        }
        pos += length;
    }
    return 0;
}
