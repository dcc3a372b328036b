// Elementary streams into the job's MPEG-1 system stream multiplexer. The
// first byte picks the rate mode, the pack size (mostly the Video-CD's, also
// others a caller may ask for) and the decoder buffer sizes (mostly the
// usual ones, sometimes values a damaged profile could hold, which must be
// refused); the rest is split into a video and an audio stream.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "mux/Mplex.h"
#include "settings/EncoderSettings.h"
#include "settings/JobState.h"
#include "settings/Report.h"
#include "settings/RunState.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {
// Audio and video buffer sizes (kB) outside any usable range.
constexpr int OddAudio[4] = {0, 4, 3000000, -1};
constexpr int OddVideo[4] = {46, 1, 46, 3000000};
constexpr int PackSizes[8] = {2324, 2048, 2324, 4096, 512, 65536, 100, 2324};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    fuzz::SilenceMessageBoxes();
    // The multiplexer's record files go to the work folder.
    setenv("TMPDIR", fuzz::WorkDir().c_str(), 1);
    BatchMode = 0;
    const uint8_t mode = data[0];
    auto [video, audio] = fuzz::SplitInput(data + 1, size - 1);
    const std::string videoFile = fuzz::WriteInput("input.m1v", video).string();
    const std::string audioFile = fuzz::WriteInput("input.mp2", audio).string();
    const std::string output = (fuzz::WorkDir() / "output.mpg").string();
    EncoderSettings.muxConstantRate = mode & 1;
    EncoderSettings.muxBitRate = 0;
    const int odd = mode >> 4;
    const int audioKb = odd >= 12 ? OddAudio[odd - 12] : 4;
    const int videoKb = odd >= 12 ? OddVideo[odd - 12] : 46;
    RunState = 2;
    EncodeAbortFlag = 0;
    UserStopFlag = 0;
    MultiplexMpeg1SystemStream(audioFile, videoFile, output, PackSizes[(mode >> 1) & 7], 1, audioKb, videoKb);
    RunState = 1;
    return 0;
}
