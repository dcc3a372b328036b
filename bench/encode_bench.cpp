// Encodes a raw YUV sequence (one .yuv file per frame, as ffmpeg's image2
// writer makes them) and prints the encoding speed and the luma PSNR of the
// decoded stream against the source.
//
//   encode_bench <pattern> <width> <height> <frames> <bit/s> [profile.prf] [mpeg1|mpeg2] [output] [nopsnr]
//
// "nopsnr" leaves out the decode and the PSNR, for profiling the encoder alone.
//
// <pattern> is the per-frame name without ".yuv", with one integer conversion
// for the frame number (e.g. /tmp/frames/f%d).
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/Encoder.h"
#include "engine/EngineState.h"
#include "engine/Input.h"
#include "engine/Threads.h"
#include "job/EncoderStartup.h"
#include "job/Profile.h"
#include "platform/System.h"
#include "settings/EncoderSettings.h"
#include "settings/JobUtil.h"
#include "settings/RunState.h"

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Luma PSNR of ffmpeg's decode of `stream` against the source frames.
double LumaPsnr(const std::string& stream, const std::string& pattern, int width, int height, int frames) {
    const std::string decoded = stream + ".decoded.yuv";
    const std::string cmd = "ffmpeg -v error -y -i '" + stream + "' -fps_mode passthrough -f rawvideo -pix_fmt yuv420p '" +
                            decoded + "'";
    if (std::system(cmd.c_str()) != 0) return -1;
    const std::string dec = ReadAll(decoded);
    std::remove(decoded.c_str());
    const size_t luma = static_cast<size_t>(width) * height, frameBytes = luma * 3 / 2;
    double sum = 0;
    size_t count = 0;
    for (int f = 0; f < frames && (f + 1) * frameBytes <= dec.size(); ++f) {
        const std::string src = ReadAll(FormatRawInputName(pattern, f) + ".yuv");
        if (src.size() < luma) break;
        for (size_t i = 0; i < luma; ++i) {
            const double d = static_cast<unsigned char>(dec[f * frameBytes + i]) - static_cast<unsigned char>(src[i]);
            sum += d * d;
        }
        count += luma;
    }
    if (count == 0) return -1;
    const double mse = sum / static_cast<double>(count);
    return mse > 0 ? 10.0 * std::log10(255.0 * 255.0 / mse) : 99.0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 6) {
        std::fprintf(stderr, "usage: %s pattern width height frames bitrate [profile.prf] [mpeg1|mpeg2] [output]\n",
                     argv[0]);
        return 2;
    }
    const std::string pattern = argv[1];
    const int width = std::atoi(argv[2]), height = std::atoi(argv[3]), frames = std::atoi(argv[4]);
    const double bitRate = std::atof(argv[5]);
    const std::string profile = argc > 6 && std::string(argv[6]) != "-" ? argv[6] : "";
    const bool mpeg1 = argc > 7 && std::string(argv[7]) == "mpeg1";
    const std::string output = argc > 8 ? argv[8] : "/tmp/encode_bench.m2v";

    InstallJobHooks();
    InitEncoderTables();
    ProcessorCount = platform::SystemProcessorCount();
    DefaultThreadOptions();
    if (!profile.empty()) ReadProfile(profile.c_str());
    EncoderSettings.inputType = 1;
    EncoderSettings.inputFileName = pattern;
    EncoderSettings.horizontalSize = width;
    EncoderSettings.verticalSize = height;
    EncoderSettings.framesToEncode = frames;
    EncoderSettings.firstFrame = 0;
    EncoderSettings.bitRate = EncoderSettings.maxBitRate = bitRate;
    if (profile.empty()) {
        EncoderSettings.mpeg1 = mpeg1 ? 1 : 0;
        EncoderSettings.streamType = mpeg1 ? 1 : 2;
        EncoderSettings.frameRateCode = 3;
        EncoderSettings.videoFormat = 1;
        EncoderSettings.mpegLevel = width > 720 ? 4 : 8;
        EncoderSettings.constrainedParameters = 0;
    }
    EncoderSettings.showInput = EncoderSettings.showOutput = 0;
    EncoderSettings.qualityStatisticsMode = 0;
    ReadProfile("-");
    VideoOutputPath = output;
    RunState = 2;

    const auto start = std::chrono::steady_clock::now();
    if (BeginVideoEncoding() != 0) {
        EndVideoEncoding();
        std::fprintf(stderr, "the encoder could not start\n");
        return 1;
    }
    int coded = 0;
    for (int i = 0; i < Sequence.OutputFrameCount; ++i)
        if (EncodeNextPicture() == 0) ++coded;
    const int end = EndVideoEncoding();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (end != 0 || coded != Sequence.OutputFrameCount) {
        std::fprintf(stderr, "the encoding failed\n");
        return 1;
    }
    const bool measure = !(argc > 9 && std::string(argv[9]) == "nopsnr");
    const double psnr = measure ? LumaPsnr(output, pattern, width, height, frames) : -1;
    std::printf("frames %d  time %.4f s  speed %.1f frames/s  size %lld bytes  luma PSNR %.2f dB\n", coded, seconds,
                coded / seconds, static_cast<long long>(GetFileSizeByName(output)), psnr);
    return 0;
}
