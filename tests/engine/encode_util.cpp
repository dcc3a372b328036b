// Helpers of the end-to-end encoding tests.
#include "tests/engine/encode_util.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "engine/Encoder.h"
#include "engine/EngineState.h"
#include "job/EncoderStartup.h"
#include "job/Profile.h"
#include "platform/Format.h"
#include "settings/EncoderSettings.h"
#include "settings/JobUtil.h"
#include "settings/RunState.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;
using testsupport::RunCommand;

namespace encodetest {

std::string MakeRawFrames(const fs::path& dir, int width, int height, int frames, const std::string& source) {
    const std::string cmd = platform::Format(
        "ffmpeg -v error -y -f lavfi -i %s=size=%dx%d:rate=25 -frames:v %d -pix_fmt yuv420p -c:v rawvideo -start_number 0 -f "
        "image2 '%s/frame%%d.yuv'",
        source.c_str(), width, height, frames, dir.c_str());
    EXPECT_EQ(RunCommand(cmd), 0) << cmd;
    return (dir / "frame%d").string();
}

EncodeResult Encode(const std::string& pattern, const fs::path& output, int width, int height, int frames,
                    const std::function<void()>& tweak, const std::function<void()>& beforeEnd) {
    static bool tablesReady = false;
    if (!tablesReady) {
        InstallJobHooks();
        InitEncoderTables();
        tablesReady = true;
    }
    ReadProfile("+");
    EncoderSettings.inputType = 1;
    EncoderSettings.inputFileName = pattern;
    EncoderSettings.horizontalSize = width;
    EncoderSettings.verticalSize = height;
    EncoderSettings.framesToEncode = frames;
    EncoderSettings.firstFrame = 0;
    EncoderSettings.showInput = EncoderSettings.showOutput = 0;
    EncoderSettings.qualityStatisticsMode = 0;
    EncoderSettings.frameRateCode = 3;
    EncoderSettings.statisticsFileName = "-";
    if (tweak) tweak();
    ReadProfile("-");
    VideoOutputPath = output.string();
    RunState = 2;

    EncodeResult r;
    r.begin = BeginVideoEncoding();
    if (r.begin == 0) {
        for (int i = 0; i < Sequence.OutputFrameCount; ++i) {
            if (EncodeNextPicture() == 0) ++r.pictures;
            else ++r.failedPictures;
        }
        if (beforeEnd) beforeEnd();
    }
    r.end = EndVideoEncoding();
    RunState = 1;
    if (fs::is_regular_file(output)) r.bytes = testsupport::ReadFile(output);
    return r;
}

std::string DecodeErrors(const fs::path& stream) {
    std::string out;
    RunCommand("ffmpeg -v error -xerror -i '" + stream.string() + "' -f null - 2>&1", &out);
    return out;
}

int ProbeFrameCount(const fs::path& stream) {
    std::string out;
    RunCommand("ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 '" +
                   stream.string() + "'",
               &out);
    return std::atoi(out.c_str());
}

std::string ProbePictureTypes(const fs::path& stream) {
    std::string out;
    RunCommand("ffprobe -v error -select_streams v:0 -show_entries frame=pict_type -of csv=p=0 '" + stream.string() +
                   "'",
               &out);
    std::string types;
    for (char c : out)
        if (c == 'I' || c == 'P' || c == 'B') types += c;
    return types;
}

std::vector<double> LumaMse(const fs::path& stream, const std::string& pattern, int width, int height, int frames) {
    const fs::path decoded = stream.string() + ".decoded.yuv";
    RunCommand("ffmpeg -v error -y -i '" + stream.string() + "' -fps_mode passthrough -f rawvideo -pix_fmt yuv420p '" + decoded.string() + "'");
    const std::string dec = testsupport::ReadFile(decoded);
    const size_t frameBytes = static_cast<size_t>(width) * height * 3 / 2;
    std::vector<double> mse;
    for (int f = 0; f < frames && (f + 1) * frameBytes <= dec.size(); ++f) {
        const std::string src = testsupport::ReadFile(platform::Format(pattern.c_str(), f) + ".yuv");
        if (src.size() < static_cast<size_t>(width) * height) break;
        double sum = 0;
        for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i) {
            const double d = static_cast<unsigned char>(dec[f * frameBytes + i]) - static_cast<unsigned char>(src[i]);
            sum += d * d;
        }
        mse.push_back(sum / (static_cast<double>(width) * height));
    }
    return mse;
}

std::vector<double> StatisticsLumaMse(const fs::path& statistics, int frames) {
    std::vector<double> mse(static_cast<size_t>(frames), -1.0);
    std::istringstream in(testsupport::ReadFile(statistics));
    std::string line;
    int display = -1;
    while (std::getline(in, line)) {
        int coded, shown;
        double variance, error;
        if (std::sscanf(line.c_str(), "Frame %d (#%d in display order):", &coded, &shown) == 2) display = shown;
        else if (std::sscanf(line.c_str(), "Y: variance=%lf, MSE=%lf", &variance, &error) == 2 && display >= 0 &&
                 display < frames)
            mse[static_cast<size_t>(display)] = error;
    }
    return mse;
}

}  // namespace encodetest
