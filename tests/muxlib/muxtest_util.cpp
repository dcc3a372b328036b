// Helpers of the multiplexer library tests (see MuxTestUtil.h).
#include "tests/muxlib/MuxTestUtil.h"

#include "muxlib/MuxLib.h"
#include "tests/support/TestSupport.h"

#include <memory>
#include <sstream>

namespace muxtest {

std::vector<int32_t> Reported;

void ClearReported()
{
    Reported.clear();
}

int32_t RecordStatus(int32_t status, int32_t, int32_t)
{
    Reported.push_back(status);
    return status;
}

const Streams& TestStreams()
{
    static testsupport::TempDir dir;
    static Streams streams = [] {
        Streams s;
        if (!testsupport::HaveTool("ffmpeg")) return s;
        const auto video = dir / "v.m1v";
        const auto audio = dir / "a.mp2";
        int a = testsupport::RunCommand("ffmpeg -v error -y -f lavfi -i testsrc2=size=352x288:rate=25 -t 2 "
                                        "-c:v mpeg1video -b:v 1150k -maxrate 1150k -minrate 1150k -bufsize 327680 '" +
                                        video.string() + "'");
        int b = testsupport::RunCommand("ffmpeg -v error -y -f lavfi -i sine=frequency=1000:sample_rate=44100 -t 2 "
                                        "-ac 2 -c:a mp2 -b:a 224k -f mp2 '" + audio.string() + "'");
        if (a == 0 && b == 0) s = {video, audio};
        return s;
    }();
    return streams;
}

RunResult RunSession(int32_t type, const std::vector<std::pair<int32_t, int32_t>>& parameters,
                     const std::filesystem::path& video, const std::filesystem::path& audio,
                     const std::filesystem::path& output)
{
    RunResult r;
    ClearReported();
    MuxHandle h = MuxCreateSession();
    MuxSelectSession(h);
    r.begin = MuxBegin();
    MuxSetOption(0, type);
    for (const auto& [id, value] : parameters) MuxSetParameter(id, value);
    MuxSetMessageCallback(RecordStatus, 0);
    r.run = MuxRun(video.c_str(), audio.c_str(), output.c_str(), nullptr);
    MuxGetOption(5, &r.muxRate);
    r.end = MuxEnd();
    MuxDestroySession(h);
    return r;
}

namespace {

uint32_t Be16(const std::string& b, size_t at)
{
    return uint32_t{static_cast<uint8_t>(b[at])} << 8 | static_cast<uint8_t>(b[at + 1]);
}

bool StartCodeAt(const std::string& b, size_t at)
{
    return at + 4 <= b.size() && b[at] == 0 && b[at + 1] == 0 && b[at + 2] == 1;
}

}  // namespace

bool WalkPacks(const std::string& b, std::vector<Pack>& packs, std::string& error)
{
    size_t at = 0;
    packs.clear();
    while (at < b.size()) {
        if (b[at] == 0 && !StartCodeAt(b, at)) {  // zero fill between packs
            ++at;
            continue;
        }
        if (!StartCodeAt(b, at)) {
            error = "no start code at " + std::to_string(at);
            return false;
        }
        const uint8_t code = static_cast<uint8_t>(b[at + 3]);
        if (code == 0xB9) {
            if (!packs.empty()) packs.back().length = at + 4 - packs.back().offset;
            at += 4;
            continue;
        }
        if (code != 0xBA || at + 12 > b.size()) {
            error = "no pack header at " + std::to_string(at);
            return false;
        }
        Pack p;
        p.offset = at;
        auto u = [&](size_t i) { return uint64_t{static_cast<uint8_t>(b[at + i])}; };
        p.scr = ((u(4) >> 1) & 7) << 30 | u(5) << 22 | (u(6) >> 1) << 15 | u(7) << 7 | u(8) >> 1;
        p.muxRate = static_cast<uint32_t>((u(9) & 0x7F) << 15 | u(10) << 7 | u(11) >> 1);
        at += 12;
        while (StartCodeAt(b, at) && static_cast<uint8_t>(b[at + 3]) != 0xBA && static_cast<uint8_t>(b[at + 3]) != 0xB9) {
            if (at + 6 > b.size()) {
                error = "cut packet at " + std::to_string(at);
                return false;
            }
            Packet k{static_cast<uint8_t>(b[at + 3]), at, Be16(b, at + 4) + 6};
            if (at + k.length > b.size()) {
                error = "packet runs past the end at " + std::to_string(at);
                return false;
            }
            p.packets.push_back(k);
            at += k.length;
        }
        p.length = at - p.offset;
        packs.push_back(p);
    }
    return true;
}

int LatePackets(const std::string& b, const std::vector<Pack>& packs)
{
    auto u = [&](size_t i) { return uint64_t{static_cast<uint8_t>(b[i])}; };
    auto stamp = [&](size_t i) { return ((u(i) >> 1) & 7) << 30 | u(i + 1) << 22 | (u(i + 2) >> 1) << 15 | u(i + 3) << 7 | u(i + 4) >> 1; };
    int late = 0;
    for (const Pack& p : packs) {
        for (const Packet& k : p.packets) {
            if (k.id != 0xE0 && k.id != 0xC0) continue;
            size_t at = k.offset + 6;
            while (u(at) == 0xFF) ++at;
            if ((u(at) & 0xC0) == 0x40) at += 2;
            uint64_t t;
            if ((u(at) & 0xF0) == 0x20)
                t = stamp(at);
            else if ((u(at) & 0xF0) == 0x30)
                t = stamp(at + 5);
            else
                continue;
            if (t < p.scr) ++late;
        }
    }
    return late;
}

std::vector<std::string> VideoFrameHashes(const std::filesystem::path& file)
{
    std::string out;
    testsupport::RunCommand("ffmpeg -v error -i '" + file.string() + "' -map 0:v -f framemd5 -", &out);
    std::vector<std::string> hashes;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty() || line[0] == '#') continue;
        hashes.push_back(line.substr(line.rfind(',') + 1));
    }
    return hashes;
}

}  // namespace muxtest
