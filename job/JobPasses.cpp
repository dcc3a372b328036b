// The two pass loops of a job (video through the engine's steps, audio
// through the audio encoder) and the probes of an AVI input.
#include <algorithm>
#include <tuple>

#include "engine/Encoder.h"
#include "engine/EngineState.h"
#include "job/JobDriver.h"
#include "job/JobMux.h"
#include "platform/ResStrings.h"
#include "settings/AudioRates.h"
#include "settings/EncoderSettings.h"
#include "settings/JobState.h"
#include "settings/JobUtil.h"
#include "settings/Report.h"
#include "settings/RunState.h"

using platform::MbIcon;

namespace {

void HoldWhilePaused() {
    if (RunState != 2 || PauseFlag != 1) return;
    const uint32_t before = GetElapsedMilliseconds();
    while (RunState == 2 && PauseFlag == 1) {
        PumpMessagesDuringMotionSearch();
        PumpPendingMessages();
    }
    const uint32_t paused = GetElapsedMilliseconds() - before;
    if (paused >= 1 && paused <= 9999999) PausedMilliseconds += paused;
    PumpPendingMessages();
}

// The audio pass's sample range from the frame range of the video pass. Frame
// and sample positions both count from the AVI's time zero, so the range covers
// the time of the pictures encoded: a sound stream that starts later than them
// begins with silence, and picture and sound keep the offset the AVI gives them.
void AudioRangeFromVideo() {
    const int rate = AviGetVideoRate();
    const int scale = AviGetVideoScale();
    if (rate <= 0 || scale <= 0) return;
    std::tie(AudioStartSample, AudioEndSample) =
        AudioRangeOfFrames(rate, scale, AviGetVideoStartFrame(), AviGetVideoEndFrame(),
                           AviInput.AviAudioStart + AviInput.AviAudioLength, EncoderSettings.audioSampleRate);
}

// The channel mode must follow the source: the encoder does not convert.
void MatchChannelsToSource() {
    const void* owner = JobWindows.progressWindow;
    if (AviInput.AviAudioChannels == 2 && SelectedAudioMode != 1 && SelectedAudioMode != 2 && SelectedAudioMode != 3) {
        if (!EncoderSettings.suppressWarnings) JobReport(63546, 63547, 63545, MbIcon::Warning, owner);
        EncoderSettings.audioMode = 2;
    } else if (AviInput.AviAudioChannels == 1 && SelectedAudioMode != 0) {
        if (!EncoderSettings.suppressWarnings) JobReport(63549, 63550, 63548, MbIcon::Warning, owner);
        EncoderSettings.audioMode = 0;
    }
}

int ProbeAvi(const std::string& path, AviInfoTexts* info, bool store, bool browseOnlyInteractive) {
    AviProbeActive = 1;
    int result = 0;
    if (AviOpenInputFile(path.c_str())) {
        if (info) AviFormatFileInfo(info);
        if (AviHasVideoStream()) {
            if (store) {
                // In a quiet batch too: each AVI file of the list is encoded
                // over its own frames, not over a range left by another file.
                InputFirstFrame = AviGetVideoStartFrame();
                InputEndFrame = AviGetVideoEndFrame();
                InputFrameWidth = AviGetFrameWidth();
                InputFrameHeight = AviGetFrameHeight();
            }
            result = 1;
        }
    } else if ((!browseOnlyInteractive || BatchMode == 0) && JobWindows.requestInputFileBrowse) {
        JobWindows.requestInputFileBrowse();
    }
    AviCloseInputFile();
    AviProbeActive = 0;
    return result;
}

}  // namespace

int EncodeVideoPass() {
    bool complete = false;
    if (BeginVideoEncoding() >= 0) {
        complete = true;
        for (int i = 0; i < Sequence.EncodingFrameCount; ++i) {
            HoldWhilePaused();
            for (int cycle = 0; cycle < (i == 0 ? 4 : 1); ++cycle) PumpMessagesDuringMotionSearch();
            if (EncodeNextPicture() < 0) {
                complete = false;
                break;
            }
        }
        if (complete) PumpMessagesDuringMotionSearch();
    }
    const int end = EndVideoEncoding();
    return complete && end >= 0 ? 0 : -1;
}

void EncodeAudioPass() {
    EncoderSettingsRecord& e = EncoderSettings;
    e.audioBitRate = AudioBitrateFromIndex(e.audioMode, e.audioBitRateIndex);
    const void* owner = JobWindows.progressWindow;
    if (e.encodeAudio && e.inputHasAudio) {
        RunState = 2;
        UserStopFlag = AudioStreamReady = EncodeAbortFlag = 0;
        if (!AviHasAudioStream()) {
            JobReport(63568, 63569, 63567, MbIcon::Stop, owner);
        } else {
            AudioPassActive = 1;
            PauseFlag = 0;
            AudioStartSample = AviInput.AviAudioStart;
            AudioEndSample = AviInput.AviAudioStart + AviInput.AviAudioLength;
            AviResetAudioState();
            AudioRangeFromVideo();
            AudioPosition = AudioStartSample;
        }
        // A range before the sound begins would make a silent stream, called a success.
        const std::string outside = AviHasAudioStream() ? SoundOutsideEncodedRange() : std::string();
        if (!outside.empty()) {
            JobReportText(outside, 63569, MbIcon::Stop, owner);
            AudioPassActive = 0;
        } else if (AviHasAudioStream()) {
            NotifyProgressWindow();
            AudioAbortFlag = 0;
            MatchChannelsToSource();

            AudioPassStartMs = GetElapsedMilliseconds();
            AudioLastRefreshMs = AudioPassStartMs - 1;
            int kbit = e.audioBitRate;
            char letter = 0;
            switch (e.audioMode) {
                case 0:
                    letter = 'm';
                    if (e.applicationType == kApplicationVcd20) kbit = 192;
                    break;
                case 1: letter = 's'; break;
                case 2: letter = 'd'; break;
                case 3: letter = 'j'; break;
                default: break;
            }
            // An unknown mode runs no encoder and so fails the pass.
            const int result = letter ? EncodeAudioFile(AudioOutputPath, kbit, letter) : -1;
            if (result == 0 && !UserStopFlag) AudioPosition = AudioEndSample;
            UpdateAudioProgress();
            if (UserStopFlag && result == 0 && !EncodeAbortFlag) {
                JobReport(63552, 63553, 63551, MbIcon::Stop, owner);
            } else if (result != 0 || EncodeAbortFlag) {
                JobReport(63563, 63564, 63562, MbIcon::Stop, owner);
            } else {
                AudioOutputSize = GetFileSizeByName(AudioOutputPath);
                AudioPassVideoSize = GetFileSizeByName(VideoOutputPath);
                if (AudioOutputSize > 10) {
                    if (!VideoToTempFile && JobWindows.showAudioCompleted)
                        JobWindows.showAudioCompleted(AudioOutputSize / 1024);
                    AudioStreamReady = 1;
                } else if (AudioOutputSize < 0) {
                    JobReport(63557, 63558, 63556, MbIcon::Stop, owner);
                } else {
                    JobReport(63560, 63561, 63559, MbIcon::Stop, owner);
                }
            }
        }
    }
    RunState = 3;
    AudioPassActive = 0;
}

int ProbeAviInputFile(const std::string& path, AviInfoTexts* info) { return ProbeAvi(path, info, true, true); }

int CheckAviHasVideo(const std::string& path, AviInfoTexts* info) { return ProbeAvi(path, info, false, false); }
