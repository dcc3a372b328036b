// What the progress panels and the result dialogs show, computed without a
// window: bar settings, percentages, elapsed-time and ratio texts, quality-bar
// colours, and the free-disk check the panels run while a pass goes on.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// ---------------------------------------------------------------------------
// Progress panels.

struct ProgressBarSetting {
    int rangeMax = 100;  // the bar runs 0..rangeMax
    int position = 0;
};

// The video panel's bar at picture `frame` of `total`: counted in pictures
// when the total is below 100, in percent otherwise. False (bar left as it
// is) when the total is below 1. The position is kept inside the range.
bool VideoBarFor(int64_t frame, int64_t total, ProgressBarSetting* bar);

// The audio pass's percentage at sample `position` of start..end, or -1 when
// the range is not known yet or the position lies outside it (bar and text
// are then left as they are).
int AudioPercent(int64_t start, int64_t end, int64_t position);

// The multiplexing percentage, 0..100. `mpeg1SystemScale` is set for MPEG-1
// streams other than Video-CD, whose multiplexer counts every byte twice.
// Before the total is known (0 or less) the percentage is 0.
int MultiplexPercent(int64_t done, int64_t total, bool mpeg1SystemScale);
bool UsesMpeg1SystemScale(int mpeg1, int streamType);

// The status text is written at most every two seconds: it is due unless
// `counter` (picture number or percentage) is above 1 and the elapsed
// seconds fall in the same two-second step as those last shown (negative:
// nothing shown yet in this pass).
bool StatusTextDue(int64_t counter, int64_t elapsedSeconds, int64_t lastShownSeconds);

// A panel's heading ("MPEG VIDEO ENCODING IN PROGRESS"), or while the
// encoding is paused the same with "PAUSED" for "IN PROGRESS".
std::string PanelHeadingText(const std::string& heading, bool paused);

// "Elapsed time  h:mm:ss " with the panel's own string (63733 video, 63723
// audio, 63742 multiplexing).
std::string PanelElapsedText(int stringId, int64_t seconds);
// "Frame n out of m".
std::string FrameCountText(int64_t frame, int64_t total);
// " n %  completed " with the panel's own string (63722 audio, 63740 multiplexing).
std::string PercentText(int stringId, int percent);
// "%6.2f" of a quality figure.
std::string QualityFigureText(float quality);

// The quality bar: value limited to 0..100, its fill colour (0xRRGGBB) and
// the filled width in a client area `clientWidth` wide (at least 3 pixels).
float ClampQuality(float value);
uint32_t QualityBarColour(float value);
int QualityBarFilledWidth(int clientWidth, float value);

// ---------------------------------------------------------------------------
// The free-disk watch armed by the job (CheckOutputDiskSpace).

// Whether the panels run the check now: the video panel at picture `frame`,
// the audio panel at `samplesDone` samples into the pass and the multiplexing
// panel at `bytesDone`; `*nextMark` is the panel's next check point, 0 at the
// start of a pass, moved on whenever a check is due.
bool VideoDiskCheckDue(int64_t frame);
bool AudioDiskCheckDue(int64_t samplesDone, int64_t* nextMark);
bool MultiplexDiskCheckDue(int64_t bytesDone, int64_t* nextMark);

// Free bytes of a folder, -1 when the query failed. The job's statvfs query
// unless replaced (tests); an empty function restores it. Returns the previous one.
using FreeSpaceQuery = std::function<int64_t(const std::string& folder)>;
FreeSpaceQuery SetFreeSpaceQuery(FreeSpaceQuery query);

// Below this many free bytes the user is warned.
constexpr int64_t kLowDiskSpaceBytes = 1048576;

// The check itself: nothing unless the watch is armed on a folder. With less
// than 1 MiB free (0 included) the user is asked to free space: OK looks
// again and, still short, offers Abort, Retry and Ignore; Cancel and Abort
// stop the encoding (and a batch), Ignore silences the watch until the next
// Start, Retry asks again at the next check. A failed query ends the check
// silently. While one warning is open no second one is shown. Boxes are
// owned by `owner`.
void WarnLowDiskSpace(const void* owner);

// ---------------------------------------------------------------------------
// Result dialogs.

// " h:mm:ss" of the result dialogs.
std::string DurationText(int64_t seconds);

// "VIDEO ENCODING COMPLETED" when the sequence end was written (state 2),
// else "ENCODING NOT COMPLETED".
std::string VideoCompletionText(int sequenceState);

// The compression ratio of `frames` pictures of width x height written in
// `outputBytes`: "1 :1" below 1, "n :1" (rounded) below 100000, " " above.
// Empty when no ratio is computed: too few pictures or too small a picture,
// an output of 10 bytes or less, or one not smaller than the raw pictures.
// With frame-rate conversion on, the ratio is scaled by `inputFrames`
// (the input frames the output pictures came from) over `frames`.
std::string CompressionRatioText(int width, int height, int64_t frames, int64_t outputBytes,
                                 bool frameRateConversion, int64_t inputFrames);

// Seconds the audio pass and multiplexing took, as their panels last showed
// them; cleared when the video panel is laid out for a new job.
extern int64_t AudioPassSeconds;
extern int64_t MultiplexSeconds;
// The whole job's time for the multiplexing result: video pass, audio pass
// and multiplexing.
// The seconds the video pass has been encoding, without its pauses.
int64_t VideoSecondsWithoutPause();
int64_t JobTotalSeconds(int64_t videoSeconds);
