// Elementary streams into the multiplexer library's run (MPEG-1 system stream,
// Video-CD, MPEG-2 program stream, transport stream, SVCD). The first byte
// picks the type, the rate mode and the decoder buffer sizes (mostly the
// type's own, sometimes values a damaged profile could hold, which the
// library must refuse or still end on); the rest is split into a video and
// an audio stream.
#include <cstddef>
#include <cstdint>

#include "mux/lib/MuxLib.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {
int32_t Quiet(int32_t status, int32_t, int32_t) { return status; }

constexpr int32_t Types[8] = {MuxTypeMpeg1System, MuxTypeVideoCd,   MuxTypeMpeg2Program, MuxTypeSvcd,
                              MuxTypeTransport,   MuxTypeMpeg1System, MuxTypeMpeg2Program, MuxTypeVideoCd};
// Video buffer (kB) and audio buffer (128-byte units) outside any usable range.
constexpr int32_t OddVideo[4] = {0, 1, 3000000, -4};
constexpr int32_t OddAudio[4] = {32, 0, 1, 3000000};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t mode = data[0];
    auto [video, audio] = fuzz::SplitInput(data + 1, size - 1);
    const auto videoFile = fuzz::WriteInput("input.m1v", video);
    const auto audioFile = fuzz::WriteInput("input.mp2", audio);
    const auto output = fuzz::WorkDir() / "output.mpg";
    MuxHandle session = MuxCreateSession();
    MuxSelectSession(session);
    MuxBegin();
    MuxSetOption(0, Types[mode & 7]);
    MuxSetParameter(4, (mode >> 3) & 1);
    const int odd = mode >> 4;
    if (odd >= 12) {
        MuxSetOption(3, OddVideo[odd - 12]);
        MuxSetOption(2, OddAudio[odd - 12]);
    }
    MuxSetMessageCallback(Quiet, 0);
    MuxRun(videoFile.c_str(), audioFile.c_str(), output.c_str(), nullptr);
    MuxEnd();
    MuxDestroySession(session);
    return 0;
}
