// Elementary streams into the multiplexer library's run (MPEG-1 system stream
// and Video-CD): the input is split into a video and an audio stream.
#include <cstddef>
#include <cstdint>

#include "mux/lib/MuxLib.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {
int32_t Quiet(int32_t status, int32_t, int32_t) { return status; }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto [video, audio] = fuzz::SplitInput(data, size);
    const auto videoFile = fuzz::WriteInput("input.m1v", video);
    const auto audioFile = fuzz::WriteInput("input.mp2", audio);
    const auto output = fuzz::WorkDir() / "output.mpg";
    MuxHandle session = MuxCreateSession();
    MuxSelectSession(session);
    MuxBegin();
    MuxSetOption(0, size % 2 ? MuxTypeMpeg1System : MuxTypeVideoCd);
    MuxSetMessageCallback(Quiet, 0);
    MuxRun(videoFile.c_str(), audioFile.c_str(), output.c_str(), nullptr);
    MuxEnd();
    MuxDestroySession(session);
    return 0;
}
