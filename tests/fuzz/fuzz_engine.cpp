// The encoder fed from outside files: a profile (its settings encode three
// frames of a pattern, at a small size when the profile's own is large), raw
// YUV picture files of any length ("%s.yuv", or "%s.Y/.U/.V" split from the
// input), or an AVI file. The first byte picks the kind and a few switches;
// the rest is the file.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/Encoder.h"
#include "engine/EngineState.h"
#include "job/AviSource.h"
#include "job/EncoderStartup.h"
#include "job/Profile.h"
#include "settings/EncoderSettings.h"
#include "settings/JobState.h"
#include "settings/JobUtil.h"
#include "settings/Report.h"
#include "settings/RunState.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

// Picture files of a pattern for frames 0..frames-1 under `pattern`%d.yuv.
void WritePatternFrames(const std::string& name, int width, int height, int frames) {
    const size_t bytes = size_t(width) * height * 3 / 2;
    std::string picture(bytes, '\0');
    for (int f = 0; f < frames; ++f) {
        for (size_t i = 0; i < bytes; ++i) picture[i] = char((i * 7 + size_t(f) * 13) ^ (i / size_t(width)));
        fuzz::WriteInput(name + std::to_string(f) + ".yuv", picture);
    }
}

void Encode() {
    VideoOutputPath = (fuzz::WorkDir() / "out.m2v").string();
    RunState = 2;
    EncodeAbortFlag = 0;
    UserStopFlag = 0;
    if (BeginVideoEncoding() == 0)
        for (int i = 0; i < Sequence.OutputFrameCount && i < 4; ++i) EncodeNextPicture();
    EndVideoEncoding();
    RunState = 1;
}

void Quiet() {
    EncoderSettings.showInput = EncoderSettings.showOutput = 0;
    EncoderSettings.qualityStatisticsMode = 0;
    EncoderSettings.statisticsFileName = "-";
    EncoderSettings.writeVbvStatistics = 0;
    EncoderSettings.firstFrame = 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    fuzz::SilenceMessageBoxes();
    static const bool once = [] {
        setenv("TESSMAR_CONFIG_DIR", fuzz::WorkDir().c_str(), 1);
        InstallJobHooks();
        InitEncoderTables();
        return ::chdir(fuzz::WorkDir().c_str()) == 0;
    }();
    if (!once) std::abort();
    BatchMode = 0;
    const uint8_t mode = data[0];
    const std::string_view body = fuzz::Bytes(data + 1, size - 1);
    const std::string frames = (fuzz::WorkDir() / "frame").string();
    ReadProfile("+");
    EncoderSettings.inputFileName = frames + "%d";
    switch (mode & 3) {
    case 0: {  // a profile
        const std::string path = fuzz::WriteInput("input.prf", body).string();
        ReadProfile(path.c_str());
        if (ProfileLoaded != 1 || ParameterError) return 0;
        EncoderSettingsRecord& e = EncoderSettings;
        if (int64_t{e.horizontalSize} * e.verticalSize > 176 * 144 || e.horizontalSize < 16 || e.verticalSize < 16) {
            e.horizontalSize = 64;
            e.verticalSize = 48;
        }
        e.inputType = 1;
        e.inputFileName = frames + "%d";
        e.framesToEncode = 3;
        Quiet();
        ReadProfile("-");
        if (ParameterError) return 0;
        WritePatternFrames(frames, e.horizontalSize, e.verticalSize, 3);
        break;
    }
    case 1:    // one "%s.yuv" file per picture
    case 2: {  // "%s.Y", "%s.U", "%s.V"
        EncoderSettings.mpeg1 = (mode >> 2) & 1;
        EncoderSettings.inputType = (mode & 3) == 1 ? 1 : 0;
        EncoderSettings.horizontalSize = 32 + 16 * ((mode >> 3) & 1);
        EncoderSettings.verticalSize = 32;
        EncoderSettings.framesToEncode = 2;
        Quiet();
        ReadProfile("-");
        if (EncoderSettings.inputType == 1) {
            fuzz::WriteInput("frame0.yuv", body);
            fuzz::WriteInput("frame1.yuv", body.substr(body.size() / 2));
        } else {
            const size_t third = body.size() / 3;
            for (const char* name : {"frame0", "frame1"}) {
                fuzz::WriteInput(std::string(name) + ".Y", body.substr(0, third));
                fuzz::WriteInput(std::string(name) + ".U", body.substr(third, third));
                fuzz::WriteInput(std::string(name) + ".V", body.substr(2 * third));
            }
        }
        break;
    }
    case 3: {  // an AVI file, its own frame rate kept or converted
        EncoderSettings.inputType = 2;
        EncoderSettings.inputFileName = fuzz::WriteInput("input.avi", body).string();
        EncoderSettings.horizontalSize = 32;
        EncoderSettings.verticalSize = 16;
        EncoderSettings.framesToEncode = 2;
        EncoderSettings.keepOriginalDuration = (mode >> 2) & 1;
        EncoderSettings.frameRateCode = 1 + ((mode >> 3) & 3);
        Quiet();
        ReadProfile("-");
        break;
    }
    }
    if (ParameterError) return 0;
    Encode();
    AviCloseInputFile();
    return 0;
}
