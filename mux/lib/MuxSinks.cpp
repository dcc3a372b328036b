// Output sinks of the multiplexer library: the buffered file sink and the caller
// sink that cuts each pack into header and packet pieces.
#include "mux/lib/MuxSession.h"

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
    uint32_t bytes = bits / 8;
    if (bytes == 0 || data == nullptr) return 0;
    // An MPEG-2 pack header is 14 bytes and its stuffing; an MPEG-1 one is 12.
    uint32_t header = 12;
    if (bytes >= 14 && (data[4] & 0xC0) == 0x40) header = 14 + (data[13] & 7);
    uint32_t pos = std::min<uint32_t>(header, bytes);
    MuxPiece piece{MuxPiecePackHeader, static_cast<int32_t>(pos), data};
    pair->function(&piece, sizeof piece, pair->value);
    if (bytes >= pos + 4 && data[pos + 3] == 0xBB) {
        uint32_t length = 12;
        while (pos + length < bytes && (data[pos + length] & 0x80) != 0) length += 3;
        length = std::min(length, bytes - pos);
        piece = {MuxPieceSystemHeader, static_cast<int32_t>(length), data + pos};
        pair->function(&piece, sizeof piece, pair->value);
        pos += length;
    }
    if (bytes >= pos + 6) {
        uint32_t length = std::min<uint32_t>((uint32_t{data[pos + 4]} << 8 | data[pos + 5]) + 6, bytes - pos);
        uint8_t id = data[pos + 3];
        if (id == 0xC0 || id == 0xE0) {
            piece = {id == 0xC0 ? MuxPieceAudioPacket : MuxPieceVideoPacket, static_cast<int32_t>(length),
                     data + pos};
            pair->function(&piece, sizeof piece, pair->value);
        }
    }
    return 0;
}
