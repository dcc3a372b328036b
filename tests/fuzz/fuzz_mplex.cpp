// Elementary streams into the job's MPEG-1 system stream multiplexer: the
// input is split into a video and an audio stream (see SplitInput).
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "job/EncoderSettings.h"
#include "job/JobState.h"
#include "job/Report.h"
#include "job/RunState.h"
#include "mux/Mplex.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::SilenceMessageBoxes();
    // The multiplexer's record files go to the work folder.
    setenv("TMPDIR", fuzz::WorkDir().c_str(), 1);
    BatchMode = 0;
    auto [video, audio] = fuzz::SplitInput(data, size);
    const std::string videoFile = fuzz::WriteInput("input.m1v", video).string();
    const std::string audioFile = fuzz::WriteInput("input.mp2", audio).string();
    const std::string output = (fuzz::WorkDir() / "output.mpg").string();
    EncoderSettings.muxConstantRate = size % 2;
    EncoderSettings.muxBitRate = 0;
    RunState = 2;
    EncodeAbortFlag = 0;
    UserStopFlag = 0;
    MultiplexMpeg1SystemStream(audioFile, videoFile, output, 2324, 1, 4, 46);
    RunState = 1;
    return 0;
}
