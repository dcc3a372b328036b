// The arithmetic and texts of the progress panels and result dialogs, and
// the free-disk check.
#include "app/ProgressLogic.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "engine/PictureDriver.h"
#include "job/JobDriver.h"
#include "platform/Format.h"
#include "platform/MessageBox.h"
#include "platform/ResStrings.h"
#include "settings/EncoderSettings.h"
#include "settings/JobState.h"
#include "settings/JobUtil.h"
#include "settings/RunState.h"

int64_t AudioPassSeconds = 0;
int64_t MultiplexSeconds = 0;

namespace {

int Limit(int64_t value, int64_t low, int64_t high) { return static_cast<int>(std::clamp(value, low, high)); }

std::string ClockText(const char* format, int64_t seconds) {
    if (seconds < 0) seconds = 0;
    const long s = static_cast<long>(seconds);
    return platform::Format(format, s / 3600, (s / 60) % 60, s % 60);
}

FreeSpaceQuery& Query() {
    static FreeSpaceQuery query;
    return query;
}

int64_t AskFreeSpace(const std::string& folder) { return Query() ? Query()(folder) : FreeDiskBytes(folder); }

bool Low(int64_t freeBytes) { return freeBytes >= 0 && freeBytes < kLowDiskSpaceBytes; }

void StopForLowSpace() {
    BatchStopRequested = 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    RequestStopEncoding();
}

bool WatchRunning() { return FreeSpaceWatchArmed && !FreeSpaceWatchIgnored; }

}  // namespace

bool VideoBarFor(int64_t frame, int64_t total, ProgressBarSetting* bar) {
    if (total < 1) return false;
    if (total < 100) {
        bar->rangeMax = static_cast<int>(total);
        bar->position = Limit(frame, 0, total);
        return true;
    }
    bar->rangeMax = 100;
    const int64_t percent = total >= 1000000 ? frame / (total / 100) : frame * 100 / total;
    bar->position = Limit(percent, 0, 100);
    return true;
}

int AudioPercent(int64_t start, int64_t end, int64_t position) {
    if (end <= 0 || end - start <= 1 || position < start || position > end) return -1;
    const int64_t onePercent = (end - start) / 100;
    if (onePercent <= 1) return 1;
    return Limit((position - start) / onePercent, 0, 100);
}

bool UsesMpeg1SystemScale(int mpeg1, int streamType) {
    return mpeg1 == 1 && streamType != kStreamTypeVideoCd;
}

int MultiplexPercent(int64_t done, int64_t total, bool mpeg1SystemScale) {
    if (total <= 0) return 0;
    int64_t percent;
    if (mpeg1SystemScale) {
        const int64_t d = total / 50;
        percent = d >= 11 ? done / d : 1;
    } else {
        percent = done * 102 / total;
    }
    return Limit(percent, 0, 100);
}

bool StatusTextDue(int64_t counter, int64_t elapsedSeconds, int64_t lastShownSeconds) {
    return lastShownSeconds < 0 || !(counter > 1 && elapsedSeconds / 2 == lastShownSeconds / 2);
}

std::string PanelHeadingText(const std::string& heading, bool paused) {
    const std::string running = "IN PROGRESS";
    const size_t at = heading.rfind(running);
    if (!paused || at == std::string::npos) return heading;
    return heading.substr(0, at) + "PAUSED" + heading.substr(at + running.size());
}

std::string PanelElapsedText(int stringId, int64_t seconds) { return ClockText(LoadResString(stringId), seconds); }

std::string FrameCountText(int64_t frame, int64_t total) {
    return platform::Format(LoadResString(63731), static_cast<long>(frame), static_cast<long>(total));
}

std::string PercentText(int stringId, int percent) { return platform::Format(LoadResString(stringId), percent); }

std::string QualityFigureText(float quality) { return platform::Format("%6.2f", static_cast<double>(quality)); }

float ClampQuality(float value) { return value < 0.0f ? 0.0f : (value > 100.0f ? 100.0f : value); }

uint32_t QualityBarColour(float value) {
    if (value > 75.0f) return 0x00FF00u;
    if (value > 50.0f) return 0x00F000u;
    if (value > 25.0f) return 0x0AE600u;
    if (value > 15.0f) return 0xE6E600u;
    return 0xFA00FAu;
}

int QualityBarFilledWidth(int clientWidth, float value) {
    const int width = static_cast<int>(clientWidth * static_cast<double>(value) * 0.01);
    return std::max(width, 3);
}

bool VideoDiskCheckDue(int64_t frame) {
    return WatchRunning() && FreeSpaceCheckInterval >= 2 && frame % FreeSpaceCheckInterval == 1;
}

bool AudioDiskCheckDue(int64_t samplesDone, int64_t* nextMark) {
    if (!WatchRunning() || (*nextMark > 0 && *nextMark >= samplesDone)) return false;
    *nextMark = samplesDone + 1000000;
    return true;
}

bool MultiplexDiskCheckDue(int64_t bytesDone, int64_t* nextMark) {
    if (!WatchRunning() || (*nextMark > 0 && *nextMark >= bytesDone)) return false;
    *nextMark = bytesDone + 200000;
    return true;
}

FreeSpaceQuery SetFreeSpaceQuery(FreeSpaceQuery query) {
    FreeSpaceQuery previous = std::move(Query());
    Query() = std::move(query);
    return previous;
}

void WarnLowDiskSpace(const void* owner) {
    // The box lets the window run; a refresh that comes meanwhile must not stack a second one.
    static bool asking = false;
    if (asking || !FreeSpaceWatchArmed || FreeSpaceWatchRoot.empty()) return;
    const std::string root = FreeSpaceWatchRoot;
    if (!Low(AskFreeSpace(root))) return;
    asking = true;
    using platform::MbAnswer;
    using platform::MbButtons;
    const std::string first = platform::Format(LoadResString(63736), root.c_str(), root.c_str());
    if (platform::ShowMessageBox(first, "", MbButtons::OkCancel, platform::MbIcon::Warning, owner) != MbAnswer::Ok) {
        StopForLowSpace();
    } else if (Low(AskFreeSpace(root))) {
        const std::string again = platform::Format(LoadResString(63737), root.c_str(), root.c_str());
        switch (platform::ShowMessageBox(again, "", MbButtons::AbortRetryIgnore, platform::MbIcon::Warning, owner)) {
            case MbAnswer::Ignore: FreeSpaceWatchIgnored = 1; break;
            case MbAnswer::Retry: break;
            default: StopForLowSpace(); break;
        }
    }
    asking = false;
}

std::string DurationText(int64_t seconds) { return ClockText(" %ld:%2.2ld:%2.2ld", seconds); }

std::string VideoCompletionText(int sequenceState) { return LoadResString(sequenceState == 2 ? 63299 : 63300); }

std::string CompressionRatioText(int width, int height, int64_t frames, int64_t outputBytes,
                                 bool frameRateConversion, int64_t inputFrames) {
    if (width <= 1 || height <= 1 || frames <= 1) return std::string();
    const double raw = static_cast<double>(width) * height * 3.0 * static_cast<double>(frames);
    const double out = static_cast<double>(outputBytes);
    if (!(out < raw) || outputBytes <= 10) return std::string();
    double ratio = raw / out;
    if (frameRateConversion) ratio = ratio * static_cast<double>(inputFrames) / static_cast<double>(frames);
    if (ratio < 1.0) return "1 :1";
    if (ratio < 100000.0) return platform::Format("%d :1", static_cast<int>(ratio + 0.5));
    return " ";
}

int64_t VideoSecondsWithoutPause() {
    // The whole seconds shown are at most the time spent encoding.
    const int64_t encoding = int64_t{PictureDriver.ElapsedSeconds} * 1000 - PausedMilliseconds;
    return encoding > 0 ? encoding / 1000 : 0;
}

int64_t JobTotalSeconds(int64_t videoSeconds) { return videoSeconds + AudioPassSeconds + MultiplexSeconds; }
