// Helpers of the system stream multiplexer tests (see mplex_util.h).
#include "tests/mux/mplex_util.h"

#include <sstream>

#include "tests/support/TestSupport.h"

namespace mplextest {

using testsupport::RunCommand;

Streams MakeStreams(const std::filesystem::path& dir, int seconds, int audioKbps) {
    Streams s{dir / "v.m1v", dir / "a.mp2"};
    std::string t = std::to_string(seconds);
    RunCommand("ffmpeg -v error -y -f lavfi -i testsrc2=size=352x288:rate=25 -t " + t +
               " -c:v mpeg1video -b:v 1150k -minrate 1150k -maxrate 1150k -bufsize 327680 -g 12 -bf 2 '" + s.video.string() + "'");
    RunCommand("ffmpeg -v error -y -f lavfi -i sine=frequency=1000:sample_rate=44100 -t " + t +
               " -ac 2 -c:a mp2 -b:a " + std::to_string(audioKbps) + "k '" + s.audio.string() + "'");
    return s;
}

namespace {
uint64_t Stamp(const unsigned char* p) {
    return (uint64_t((p[0] >> 1) & 7) << 30) | (uint64_t(p[1]) << 22) | (uint64_t(p[2] >> 1) << 15) |
           (uint64_t(p[3]) << 7) | (p[4] >> 1);
}
}  // namespace

Layout Walk(const std::string& bytes) {
    Layout out;
    auto b = reinterpret_cast<const unsigned char*>(bytes.data());
    uint64_t n = bytes.size(), o = 0;
    while (o + 4 <= n) {
        if (b[o] != 0 || b[o + 1] != 0 || b[o + 2] != 1) {
            out.error = "no start code at " + std::to_string(o);
            return out;
        }
        unsigned code = b[o + 3];
        if (code == 0xB9) {
            out.endCode = o + 4 == n;
            if (!out.endCode) out.error = "bytes after the end code";
            return out;
        }
        if (code == 0xBA) {
            if (o + 12 > n) break;
            Pack pk;
            pk.offset = o;
            pk.scr = Stamp(b + o + 4);
            pk.muxRate = (uint32_t(b[o + 9] & 0x7F) << 15) | (uint32_t(b[o + 10]) << 7) | (b[o + 11] >> 1);
            out.packs.push_back(pk);
            o += 12;
            continue;
        }
        if (o + 6 > n) break;
        uint32_t length = (uint32_t(b[o + 4]) << 8) | b[o + 5];
        if (o + 6 + length > n) break;
        if (code == 0xBB) {
            out.systemHeader = bytes.substr(o, 6 + length);
            if (!out.packs.empty()) out.packs.back().systemHeader = true;
            o += 6 + length;
            continue;
        }
        Packet pkt;
        pkt.offset = o;
        pkt.id = code;
        pkt.length = length;
        uint64_t h = o + 6, end = o + 6 + length;
        while (h < end && b[h] == 0xFF) ++h;
        if (h < end && (b[h] & 0xC0) == 0x40) {
            pkt.hasBuffer = true;
            pkt.bufferScale = (b[h] >> 5) & 1;
            pkt.bufferSize = (uint32_t(b[h] & 0x1F) << 8) | b[h + 1];
            h += 2;
        }
        if (h < end && (b[h] & 0xF0) == 0x20) {
            pkt.hasPts = true;
            pkt.pts = Stamp(b + h);
            h += 5;
        } else if (h < end && (b[h] & 0xF0) == 0x30) {
            pkt.hasPts = pkt.hasDts = true;
            pkt.pts = Stamp(b + h);
            pkt.dts = Stamp(b + h + 5);
            h += 10;
        } else {
            ++h;
        }
        pkt.payloadBytes = uint32_t(end - h);
        out.packets.push_back(pkt);
        o = end;
    }
    out.error = "stream cut at " + std::to_string(o);
    return out;
}

std::vector<std::string> FrameChecksums(const std::filesystem::path& file, const std::string& stream) {
    std::string text;
    RunCommand("ffmpeg -v error -i '" + file.string() + "' -map 0:" + stream + " -f framemd5 - 2>/dev/null", &text);
    std::vector<std::string> sums;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty() || line[0] == '#') continue;
        auto comma = line.rfind(',');
        sums.push_back(line.substr(comma + 1));
    }
    return sums;
}

std::string DecodeErrors(const std::filesystem::path& file) {
    std::string text;
    RunCommand("ffmpeg -v error -xerror -i '" + file.string() + "' -f null - 2>&1", &text);
    return text;
}

std::string ProbeStreams(const std::filesystem::path& file) {
    std::string text;
    RunCommand("ffprobe -v error -show_entries stream=codec_name,duration -of csv=p=0 '" + file.string() + "'",
               &text);
    return text;
}

}  // namespace mplextest
