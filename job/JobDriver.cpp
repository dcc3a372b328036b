// The job's entry and the run of its passes: the title, the temporary names,
// the streams written under new names and put in place, and the clean-up. The
// multiplexing step is in JobMux.cpp; what the job refuses and asks, in JobMessages.cpp.
#include "job/JobDriver.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "engine/EngineState.h"
#include "job/AviSource.h"
#include "job/JobMessages.h"
#include "job/JobMux.h"
#include "job/OutputFiles.h"
#include "job/RunningJob.h"
#include "muxlib/MuxLib.h"
#include "platform/Format.h"
#include "platform/Ini.h"
#include "platform/ResStrings.h"
#include "platform/System.h"
#include "settings/EncoderSettings.h"
#include "settings/JobState.h"
#include "settings/JobUtil.h"
#include "settings/Report.h"
#include "settings/RunState.h"

namespace fs = std::filesystem;
using platform::MbButtons;
using platform::MbIcon;

int VideoToTempFile = 0;
int TempVideoUsed = 0, TempAudioUsed = 0;
int AudioStreamReady = 0;
int MultiplexDone = 0;
int JobResult = 0;
std::string AudioOutputPath;
int64_t AudioOutputSize = 0, AudioPassVideoSize = 0;
uint32_t PausedMilliseconds = 0;
int InputFirstFrame = 0, InputEndFrame = 0, InputFrameWidth = 0, InputFrameHeight = 0;
JobWindowHooks JobWindows;

namespace {

// The video and audio streams this job is writing, until each is put in place or dropped.
JobOutput VideoOutput, AudioOutput;

// The name of a video-only job's stream when the job was left without its sound
// (see ElementaryStreamName); empty for any other job.
std::string VideoOnlyFallbackPath;

bool Opens(const std::string& path) { return ReadableSize(path) >= 0; }

void DeleteQuietly(const std::string& path) {
    std::error_code ec;
    if (!path.empty()) fs::remove(path, ec);
}

std::string MainTitle() { return JobWindows.getMainTitle ? JobWindows.getMainTitle() : std::string(); }
void SetMainTitle(const std::string& title) {
    if (JobWindows.setMainTitle) JobWindows.setMainTitle(title);
}

std::string RunningTitle() {
    std::string name = fs::path(EncoderSettings.outputFileName).filename().string();
    if (name.size() > 40) name.resize(40);
    std::string title = EncoderSettings.profileDescription.empty()
                            ? name
                            : EncoderSettings.profileDescription + " - " + name;
    return title + LoadResString(EncoderSettings.mpeg1 ? 63459 : 63460);
}

// The work files and folders that killed runs of this program on this machine
// left go before the job starts, wherever they are: the work record names them.
// Those of running processes and of other machines stay.
void RemoveLeftoverWorkFiles() { platform::RemoveStaleWorkFiles(); }

// The temporary streams are held for the whole job, so that a job of another window,
// account or settings folder with the same names cannot write over them or multiplex
// them as its own; and no name the job will write is longer than its folder takes,
// which would otherwise be found after the encode. "" when the job may start, else
// what the user is told. `*warning` says what of the job's safeguards it goes without:
// a work record the settings folder cannot take, a stream name that cannot be locked.
std::string HoldAndCheckNames(std::string* warning) {
    const EncoderSettingsRecord& e = EncoderSettings;
    std::vector<std::string> names;
    if (VideoToTempFile) names.push_back(e.tempVideoFileName);
    if (!AudioOutputPath.empty()) names.push_back(e.tempAudioFileName);
    std::string other, unheld, records;
    int error = 0;
    if (!platform::HoldWorkPaths(names, &other, &unheld, &error))
        return platform::Format(LoadResString(63640), other.c_str());
    // A folder that takes no file is the passes' to report; a stream kept there is still
    // checked before it is multiplexed.
    if (!unheld.empty() && error != EROFS && error != EACCES && error != EPERM && error != ENOENT && error != ENOTDIR)
        *warning = platform::Format(LoadResString(63643), unheld.c_str(), std::strerror(error));
    if (const int recordError = platform::WorkRecordError(&records); recordError != 0)
        *warning += (warning->empty() ? "" : "\n\n") +
                    platform::Format(LoadResString(63641), records.c_str(), std::strerror(recordError));
    // A volume's own names are short; any other output goes under the name of its kind.
    if (!VideoToTempFile)
        names.push_back(VideoOutputPath);
    else if (JobMuxType(e) != MuxTypeDvdVolume)
        names.push_back(OutputNameForKind(e.outputFileName, JobMuxType(e)));
    for (const std::string& name : names) {
        if (!platform::NameTooLong(name)) continue;
        std::string text = platform::Format(LoadResString(63604), name.c_str());
        CheckPathDrive(text, name, ENAMETOOLONG);
        return text;
    }
    return std::string();
}

}  // namespace

int RunEncodingJob() {
    EncoderSettingsRecord& e = EncoderSettings;
    FreeSpaceWatchArmed = 0;
    VideoEngineStage = 0;

    // With the streams in temporary files the output is written last: a folder that
    // cannot take it is found now, with the message multiplexing would give, not after the encode.
    if (VideoToTempFile && e.applicationType == kApplicationDvd && e.createVob == 1) {
        DvdVolumeOutput probe;
        if (!probe.Begin(e.outputFileName)) return -1;
    } else if (VideoToTempFile) {
        JobOutput probe;
        if (!probe.Begin(e.outputFileName)) return -1;
    }

    bool encodeVideo = true;
    if (VideoToTempFile && Opens(VideoOutputPath) && !EncodeAgain(VideoOutputPath, 63483, 63484, 63486, 63485)) {
        if (ReadableSize(VideoOutputPath) < 100) {
            JobReport(63488, 63489, 63487, MbIcon::Stop, MessageOwnerWindow);
            return -1;
        }
        encodeVideo = false;
        WrittenVideoStream = IdentityOf(VideoOutputPath, true);
    }
    // The sound's folder is tried before the video pass too, unless its stream may be kept.
    if (!AudioOutputPath.empty() && e.encodeAudio && !Opens(AudioOutputPath)) {
        JobOutput probe;
        if (!probe.Begin(AudioOutputPath)) return -1;
    }
    if (encodeVideo) {
        // The video-only name was nobody's choice: it never replaces a file.
        if (!VideoOutput.Begin(VideoOutputPath, VideoOnlyFallbackPath.empty())) return -1;
        VideoStreamName = VideoOutputPath;
        VideoOutputPath = VideoOutput.Work();
        CheckOutputDiskSpace(VideoOutputPath, VideoToTempFile ? 1 : 0);
        // A write error of the stream's last bytes leaves the abort flag behind
        // even when every engine step returned success.
        // A stop taken by the pump after the last picture ends the job too: the
        // passes after this one would clear it and write the output.
        const bool encoded = EncodeVideoPass() >= 0 && !EncodeAbortFlag && !UserStopFlag;
        VideoOutputPath = VideoOutput.Target();
        VideoStreamName.clear();
        if (encoded) WarnOfCutInput();
        if (!encoded || !VideoOutput.Commit()) {
            VideoOutput.Discard();
            VideoStreamReady = 0;
            return -1;
        }
        WrittenVideoStream = VideoOutput.Placed();
        if (!VideoOnlyFallbackPath.empty()) VideoOnlyFallbackPath = VideoOutputPath = VideoOutput.Target();
        if (VideoToTempFile) TempVideoUsed = 1;
    }
    VideoStreamReady = 1;
    AudioStreamReady = 0;

    if (!AudioOutputPath.empty() && e.encodeAudio) {
        bool encodeSound = true;
        if (Opens(AudioOutputPath) && !EncodeAgain(AudioOutputPath, 63490, 63491, 63493, 63492)) {
            if (ReadableSize(AudioOutputPath) < 100) {
                JobReport(63495, 63496, 63494, MbIcon::Stop, MessageOwnerWindow);
                return -1;
            }
            AudioStreamReady = 1;
            encodeSound = false;
            WrittenAudioStream = IdentityOf(AudioOutputPath, true);
        }
        if (encodeSound) {
            if (e.inputType == 2 && !AviOpenInputFile(e.inputFileName.c_str())) {
                AviCloseInputFile();
                return -1;
            }
            if (!AudioOutput.Begin(AudioOutputPath)) {
                AviCloseInputFile();
                return -1;
            }
            AudioOutputPath = AudioOutput.Work();
            CheckOutputDiskSpace(AudioOutputPath, 1);
            EncodeAudioPass();
            AviCloseInputFile();
            AudioOutputPath = AudioOutput.Target();
            if (!AudioStreamReady || !AudioOutput.Commit()) {
                AudioOutput.Discard();
                AudioStreamReady = 0;
                return -1;
            }
            WrittenAudioStream = AudioOutput.Placed();
            TempAudioUsed = 1;
        }
    }

    if (VideoToTempFile != 1) {
        if (!VideoOnlyFallbackPath.empty())
            JobReportText(platform::Format("Only the video stream was encoded.\nMPEG video stream file:\n%s",
                                           VideoOnlyFallbackPath.c_str()),
                          63468, MbIcon::Information, MessageOwnerWindow);
        if (JobWindows.showVideoCompleted) JobWindows.showVideoCompleted();
        return 0;
    }
    if (VideoStreamReady != 1 || AudioStreamReady != 1) return 0;
    return MultiplexStreams();
}

int RunEncoding(const void* ownerWindow) {
    EncoderSettingsRecord& e = EncoderSettings;
    JobOwnerWindow = ownerWindow;
    // A job that does not start has not succeeded either.
    JobResult = -1;
    if (!JobFilesReady) {
        RefuseStart(63313, 0, 63313);
        return 0;
    }
    VideoStreamReady = AudioStreamReady = MultiplexDone = 0;
    VideoToTempFile = TempVideoUsed = TempAudioUsed = 0;
    // A stop belongs to the job it was asked in, and is not taken for the end of
    // the last job's video pass (which the stop command only acknowledges).
    EncodeAbortFlag = UserStopFlag = VideoEngineStage = 0;
    if (e.outputFileName.empty()) {
        ReportFatalError(LoadResString(63458));
        return 0;
    }
    VideoOutputPath = e.outputFileName;
    AudioOutputPath.clear();
    std::string savedTitle = MainTitle();
    if (savedTitle.size() > 256) savedTitle.resize(256);
    SetMainTitle(RunningTitle());

    if (e.inputHasAudio && e.encodeAudio) {
        int refusal = 0;
        if (e.tempVideoFileName.size() < 2) refusal = 63462;
        else if (e.tempAudioFileName.size() < 2) refusal = 63465;
        if (refusal) {
            RefuseStart(refusal, refusal + 1, refusal - 1);
            SetMainTitle(savedTitle);
            return 0;
        }
    }

    const int rememberedEncodeAudio = e.encodeAudio;
    VideoOnlyFallbackPath.clear();
    if (!e.inputHasAudio && e.encodeAudio) {
        e.encodeAudio = 0;
        VideoOutputPath = VideoOnlyFallbackPath = ElementaryStreamName(e.outputFileName, e.mpeg1 != 0);
        if (BatchMode >= 2)
            WriteBatchLogMessage(LoadResString(63467));
        else
            platform::ShowMessageBox(LoadResString(63467), LoadResString(63468), MbButtons::Ok, MbIcon::None,
                                     MessageOwnerWindow);
    }
    if (e.inputHasAudio && e.encodeAudio) {
        // The temporary files count as the job's only once it has written them.
        if (!e.tempVideoFileName.empty()) {
            VideoToTempFile = 1;
            VideoOutputPath = e.tempVideoFileName;
        }
        if (!e.tempAudioFileName.empty()) AudioOutputPath = e.tempAudioFileName;
    }
    const int rememberedStreamType = e.streamType;
    const auto refuse = [&](const std::string& refusal) {
        if (BatchMode >= 2)
            WriteBatchLogMessage(refusal);
        else
            platform::ShowMessageBox(refusal, LoadResString(63600), MbButtons::Ok, MbIcon::Stop, JobOwnerWindow);
        e.encodeAudio = rememberedEncodeAudio;
        e.streamType = rememberedStreamType;
        SetMainTitle(savedTitle);
        return 0;
    };
    if (const std::string refusal = StartRefusal(VideoToTempFile == 1); !refusal.empty()) return refuse(refusal);

    RemoveLeftoverWorkFiles();
    std::string warning;
    if (const std::string refusal = HoldAndCheckNames(&warning); !refusal.empty()) {
        platform::ReleaseWorkPaths();
        return refuse(refusal);
    }
    if (!warning.empty()) JobReportText(warning, 63600, MbIcon::Warning, JobOwnerWindow);
    WrittenVideoStream = WrittenAudioStream = FileIdentity();
    MultiplexActive = 0;
    // A stop these rounds take (a close of the window that waited while a batch
    // went on to this job) ends the job before its passes; the next round would
    // otherwise set the run state back and the job would run whole.
    for (int round = 0; round < 3 && !UserStopFlag; ++round) {
        RunState = 2;
        PumpMessagesDuringMotionSearch();
    }
    if (!UserStopFlag) PumpPendingMessages();

    EncodeStartTick = platform::TickCount();
    MultiplexFailed = false;
    JobResult = UserStopFlag ? -1 : RunEncodingJob();

    // Whatever was not put in place is unfinished: only the job's own new files go.
    VideoOutput.Discard();
    AudioOutput.Discard();
    MuxOutput.Discard();
    DvdOutput.Discard();
    // Only the streams this job wrote go: another file that took a name meanwhile stays.
    if (!MultiplexFailed) {
        if (e.deleteTempVideo && TempVideoUsed && IdentityOf(e.tempVideoFileName) == WrittenVideoStream)
            DeleteQuietly(e.tempVideoFileName);
        if (e.deleteTempAudio && TempAudioUsed && IdentityOf(e.tempAudioFileName) == WrittenAudioStream)
            DeleteQuietly(e.tempAudioFileName);
    }
    WrittenVideoStream = WrittenAudioStream = FileIdentity();
    platform::ReleaseWorkPaths();

    RunState = 1;
    e.encodeAudio = rememberedEncodeAudio;
    e.streamType = rememberedStreamType;
    SetMainTitle(savedTitle);
    HonourQuitRequest();
    return 1;
}
