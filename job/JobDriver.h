// One encoding job: the video pass, the audio pass, the multiplexing step and
// the checks of their results, run on the user-interface thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "job/AviSource.h"
#include "platform/MessageBox.h"

// Words of the job that the view, the batch runner and the panels read.
extern int VideoToTempFile;
extern int TempVideoUsed, TempAudioUsed;
extern int AudioStreamReady;
extern int MultiplexDone;
extern int JobResult;  // 0 success, -1 failure of the last job
extern std::string AudioOutputPath;
extern int64_t AudioOutputSize, AudioPassVideoSize;
// Time spent paused during the video pass, taken off the engine's timings.
extern uint32_t PausedMilliseconds;
// Range and size of the input chosen on the main form (set by ProbeAviInputFile).
extern int InputFirstFrame, InputEndFrame, InputFrameWidth, InputFrameHeight;

// The windows the job talks to, set by the program; without them nothing is shown.
struct JobWindowHooks {
    std::string (*getMainTitle)() = nullptr;
    void (*setMainTitle)(const std::string& title) = nullptr;
    std::function<void()> showVideoCompleted;
    std::function<void(int64_t kbytes)> showAudioCompleted;
    std::function<void(int64_t outputKbytes, int64_t videoKbytes, int64_t audioKbytes, int mpeg1)>
        showMultiplexCompleted;
    void (*requestInputFileBrowse)() = nullptr;
    const void* progressWindow = nullptr;  // owner of the audio pass's boxes
};
extern JobWindowHooks JobWindows;

// Runs one job; 0 when it refused to start, 1 when a job ran (outcome in JobResult).
int RunEncoding(const void* ownerWindow);
// The passes and the checks; 0 success (or nothing left to do), -1 failure or stop.
int RunEncodingJob();
// 0 when every picture was encoded and the sequence finished, else -1.
int EncodeVideoPass();
// Success shows in AudioStreamReady.
void EncodeAudioPass();

// Opens the AVI only to describe it; 1 when it has a video stream.
int ProbeAviInputFile(const std::string& path, AviInfoTexts* info);
int CheckAviHasVideo(const std::string& path, AviInfoTexts* info);

// Shows a box (text, caption, icon, owner) or, in a quiet batch, logs the batch text.
void JobReport(int boxText, int caption, int batchText, platform::MbIcon icon, const void* owner);
// The same with one text for the box and the log.
void JobReportText(const std::string& text, int caption, platform::MbIcon icon, const void* owner);
