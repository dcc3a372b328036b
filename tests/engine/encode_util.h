// Helpers of the end-to-end encoding tests: raw YUV input made by ffmpeg,
// one encoding through the engine's three steps, and ffmpeg/ffprobe checks.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace encodetest {

// Writes `frames` pictures of ffmpeg's moving test pattern as one .yuv file per
// frame (name0.yuv, name1.yuv, ...); returns the input-name pattern ".../name%d".
std::string MakeRawFrames(const std::filesystem::path& dir, int width, int height, int frames,
                          const std::string& source = "testsrc2");

struct EncodeResult {
    int begin = 0, pictures = 0, failedPictures = 0, end = 0;
    std::string bytes;  // the elementary stream
};

// Loads the built-in settings, applies `tweak`, and encodes raw input
// `pattern` to `output` through BeginVideoEncoding / EncodeNextPicture / EndVideoEncoding;
// `beforeEnd` runs after the last picture, before the end step.
EncodeResult Encode(const std::string& pattern, const std::filesystem::path& output, int width, int height,
                    int frames, const std::function<void()>& tweak,
                    const std::function<void()>& beforeEnd = nullptr);

// ffmpeg's own decode of a stream: error text (empty when clean) and frame count.
std::string DecodeErrors(const std::filesystem::path& stream);
int ProbeFrameCount(const std::filesystem::path& stream);
std::string ProbePictureTypes(const std::filesystem::path& stream);
// Mean squared error of the luma of ffmpeg's decode against the source frames, per frame.
std::vector<double> LumaMse(const std::filesystem::path& stream, const std::string& pattern, int width, int height,
                            int frames);

// The luma MSE the encoder wrote to its statistics file, by display number (-1 where missing).
std::vector<double> StatisticsLumaMse(const std::filesystem::path& statistics, int frames);

}  // namespace encodetest
