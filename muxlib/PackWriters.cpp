#include "muxlib/PackWriters.h"

#include <cstddef>

namespace packwriters {

void PutTimeStamp(uint8_t* out, uint8_t prefix, uint64_t time)
{
    time &= 0x1FFFFFFFFull;
    out[0] = static_cast<uint8_t>((prefix << 4) | ((time >> 29) & 0x0E) | 1);
    out[1] = static_cast<uint8_t>(time >> 22);
    out[2] = static_cast<uint8_t>(((time >> 14) & 0xFE) | 1);
    out[3] = static_cast<uint8_t>(time >> 7);
    out[4] = static_cast<uint8_t>(((time << 1) & 0xFE) | 1);
}

void AppendTimeStamp(std::vector<uint8_t>& out, uint8_t prefix, uint64_t time)
{
    uint8_t b[5];
    PutTimeStamp(b, prefix, time);
    out.insert(out.end(), b, b + 5);
}

uint64_t ReadTimeStamp(const uint8_t* in)
{
    return (static_cast<uint64_t>(in[0] >> 1) & 7) << 30 | static_cast<uint64_t>(in[1]) << 22 |
           static_cast<uint64_t>(in[2] >> 1) << 15 | static_cast<uint64_t>(in[3]) << 7 | (in[4] >> 1);
}

void AppendMarkedRate(std::vector<uint8_t>& out, uint32_t rate)
{
    out.push_back(static_cast<uint8_t>((rate >> 15) | 0x80));
    out.push_back(static_cast<uint8_t>(rate >> 7));
    out.push_back(static_cast<uint8_t>((rate << 1) | 1));
}

uint32_t WriteProgramPackHeader(uint8_t* out, uint64_t clock27MHz, uint32_t muxRate)
{
    const uint64_t base = (clock27MHz / 300) & 0x1FFFFFFFFull;
    const uint32_t extension = static_cast<uint32_t>(clock27MHz % 300);
    out[0] = 0x00;
    out[1] = 0x00;
    out[2] = 0x01;
    out[3] = 0xBA;
    out[4] = static_cast<uint8_t>(((base >> 27) & 0x38) | 0x44 | ((base >> 28) & 3));
    out[5] = static_cast<uint8_t>(base >> 20);
    out[6] = static_cast<uint8_t>(((base >> 12) & 0xF8) | 4 | ((base >> 13) & 3));
    out[7] = static_cast<uint8_t>(base >> 5);
    out[8] = static_cast<uint8_t>(((base & 31) << 3) | 4 | ((extension >> 7) & 3));
    out[9] = static_cast<uint8_t>((extension << 1) | 1);
    out[10] = static_cast<uint8_t>(muxRate >> 14);
    out[11] = static_cast<uint8_t>(muxRate >> 6);
    out[12] = static_cast<uint8_t>((muxRate << 2) | 3);
    out[13] = 0xF8;
    return ProgramPackHeaderLength;
}

uint64_t ReadProgramPackClockBase(const uint8_t* h)
{
    return (static_cast<uint64_t>(h[4] >> 3) & 7) << 30 | static_cast<uint64_t>(h[4] & 3) << 28 |
           static_cast<uint64_t>(h[5]) << 20 | (static_cast<uint64_t>(h[6] >> 3) & 0x1F) << 15 |
           static_cast<uint64_t>(h[6] & 3) << 13 | static_cast<uint64_t>(h[7]) << 5 | (h[8] >> 3);
}

uint64_t ReadProgramPackClock(const uint8_t* h)
{
    const uint64_t base = ReadProgramPackClockBase(h);
    const uint64_t extension = static_cast<uint64_t>(h[8] & 3) << 7 | (h[9] >> 1);
    return base * 300 + extension;
}

uint32_t WriteSystemHeader(const SystemHeaderRecord& r, uint8_t* out)
{
    const uint32_t count = r.streamCount > 4 ? 4 : r.streamCount;
    const uint32_t headerLength = (count + 2) * 3;
    uint8_t* p = out;
    *p++ = 0x00;
    *p++ = 0x00;
    *p++ = 0x01;
    *p++ = 0xBB;
    *p++ = static_cast<uint8_t>(headerLength >> 8);
    *p++ = static_cast<uint8_t>(headerLength);
    *p++ = static_cast<uint8_t>((r.rateBound >> 15) | 0x80);
    *p++ = static_cast<uint8_t>(r.rateBound >> 7);
    *p++ = static_cast<uint8_t>((r.rateBound << 1) | 1);
    *p++ = static_cast<uint8_t>((r.audioBound << 2) | (r.fixedFlag << 1) | r.constrainedFlag);
    *p++ = static_cast<uint8_t>((r.audioLock << 7) | (r.videoLock << 6) | 0x20 | (r.videoBound & 31));
    *p++ = static_cast<uint8_t>((r.packetRateRestriction << 7) | 0x7F);
    for (uint32_t i = 0; i < count; ++i) {
        const SystemHeaderStream& s = r.streams[i];
        const uint32_t high = s.bufferSizeBound >> 8;
        const bool video = s.streamId == 0xB9 || (s.streamId & 0xE0) == 0xE0;
        *p++ = s.streamId;
        *p++ = static_cast<uint8_t>(video ? (high | 0xE0) : ((high & 31) | 0xC0));
        *p++ = static_cast<uint8_t>(s.bufferSizeBound);
    }
    return static_cast<uint32_t>(p - out);
}

void WritePaddingPacket(uint8_t* out, uint32_t n)
{
    out[0] = 0x00;
    out[1] = 0x00;
    out[2] = 0x01;
    out[3] = 0xBE;
    out[4] = static_cast<uint8_t>((n - 6) >> 8);
    out[5] = static_cast<uint8_t>(n - 6);
    for (uint32_t i = 6; i < n; ++i) out[i] = 0xFF;
}

void AppendPaddingPacket(std::vector<uint8_t>& out, uint32_t n)
{
    const size_t at = out.size();
    out.resize(at + n);
    WritePaddingPacket(out.data() + at, n);
}

uint32_t AppendPesHeader(std::vector<uint8_t>& out, const PesHeaderFields& f)
{
    const uint32_t field = f.stamps == 2 ? 10 : f.stamps == 1 ? 5 : 0;
    const uint32_t headerData = field + f.extensionLength + f.stuffing;
    const uint32_t lengthField = 3 + headerData + f.payloadLength;
    out.insert(out.end(), {0x00, 0x00, 0x01, f.streamId, static_cast<uint8_t>(lengthField >> 8),
                           static_cast<uint8_t>(lengthField), 0x81});
    uint8_t flags = f.stamps == 2 ? 0xC0 : f.stamps == 1 ? 0x80 : 0x00;
    if (f.extensionLength > 0) flags |= 0x01;
    out.push_back(flags);
    out.push_back(static_cast<uint8_t>(headerData));
    if (f.stamps >= 1) AppendTimeStamp(out, f.stamps == 2 ? PrefixPtsWithDts : PrefixPtsOnly, f.pts);
    if (f.stamps == 2) AppendTimeStamp(out, PrefixDts, f.dts);
    if (f.extensionLength > 0) out.insert(out.end(), f.extension, f.extension + f.extensionLength);
    out.insert(out.end(), f.stuffing, 0xFF);
    return 9 + headerData;
}

}  // namespace packwriters
