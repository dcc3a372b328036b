// Helpers of the tests that run whole jobs: AVI inputs made by ffmpeg, the job's
// hooks for a run without windows, and the settings of a job on such an input.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "job/JobDriver.h"
#include "job/Profile.h"
#include "settings/EncoderSettings.h"
#include "settings/Preview.h"
#include "settings/Report.h"
#include "settings/RunState.h"
#include "tests/support/TestSupport.h"

namespace testsupport {

// An AVI of testsrc2 pictures in MJPEG and, when sampleRate is not 0, a 440 Hz
// tone in 16-bit PCM that lasts exactly as long as the pictures.
struct TestAvi {
    int width = 96;
    int height = 64;
    std::string rate = "25";  // pictures per second: "25", "30000/1001", ...
    int frames = 10;
    int sampleRate = 44100;
    int channels = 2;
};

// How long `frames` pictures last at the AVI's rate, in seconds, as ffmpeg reads it.
inline std::string TestAviSeconds(const TestAvi& a, double frames) {
    double num = 0, den = 1;
    if (std::sscanf(a.rate.c_str(), "%lf/%lf", &num, &den) < 2) den = 1;
    char text[32];
    std::snprintf(text, sizeof text, "%.6f", frames * den / num);
    return text;
}

// The tone of the AVI as ffmpeg input options (to make a coded copy of the same sound).
inline std::string TestAviTone(const TestAvi& a) {
    return "-f lavfi -i sine=frequency=440:sample_rate=" + std::to_string(a.sampleRate) +
           ":duration=" + TestAviSeconds(a, a.frames) + " -ac " + std::to_string(a.channels);
}

// Makes the AVI; returns ffmpeg's exit status. The pictures' source ends half a
// picture early so that rounding never adds one; the sound lasts the full time.
inline int MakeTestAvi(const std::filesystem::path& file, const TestAvi& a) {
    std::string command = "ffmpeg -v error -y -f lavfi -i testsrc2=size=" + std::to_string(a.width) + "x" +
                          std::to_string(a.height) + ":rate=" + a.rate +
                          ":duration=" + TestAviSeconds(a, a.frames - 0.5);
    if (a.sampleRate > 0) command += " " + TestAviTone(a);
    command += " -c:v mjpeg -q:v 3";
    if (a.sampleRate > 0) command += " -c:a pcm_s16le";
    return RunCommand(command + " '" + file.string() + "'");
}

// The job's hooks for a run from a test: no windows, no message pump, no batch.
inline void ResetJobHooks() {
    JobWindows = JobWindowHooks{};
    SetMessagePumpHooks({});
    BatchMode = 0;
    QuitRequested = 0;
}

// The default profile set for a job on `avi` (made as `a`, `frameRateCode` its
// rate) with its sound: nothing shown, no statistics, the output "out.mpg" and
// the temporary files "tmp.<videoExtension>" and "tmp.mp2" in `folder`. The
// input is probed as the program does; tests change what they need afterwards.
inline void AviJobSettings(const std::filesystem::path& avi, const TestAvi& a, int frameRateCode,
                           const std::filesystem::path& folder, const std::string& videoExtension = "m1v") {
    ReadProfile("+");
    EncoderSettingsRecord& e = EncoderSettings;
    e.inputType = 2;
    e.inputFileName = avi.string();
    e.horizontalSize = a.width;
    e.verticalSize = a.height;
    e.framesToEncode = a.frames;
    e.firstFrame = 0;
    e.frameRateCode = frameRateCode;
    e.showInput = e.showOutput = 0;
    e.qualityStatisticsMode = 0;
    e.statisticsFileName = "-";
    e.outputFileName = (folder / "out.mpg").string();
    e.tempVideoFileName = (folder / ("tmp." + videoExtension)).string();
    e.tempAudioFileName = (folder / "tmp.mp2").string();
    e.audioMode = 1;
    e.encodeAudio = a.sampleRate > 0;
    AviInfoTexts info;
    ASSERT_EQ(ProbeAviInputFile(avi.string(), &info), 1);
    ASSERT_EQ(e.inputHasAudio, a.sampleRate > 0 ? 1 : 0);
    SelectedAudioMode = e.audioMode;
    JobFilesReady = 1;
}

}  // namespace testsupport
