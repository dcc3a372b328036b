// The job's entry and its sequence of passes: title, temporary names, the
// reuse questions, the choice of multiplexer and the checks of the results.
#include "job/JobDriver.h"

#include <filesystem>
#include <system_error>
#include <vector>

#include "engine/EngineState.h"
#include "job/AviSource.h"
#include "job/DvdOutput.h"
#include "job/JobMux.h"
#include "job/OutputFiles.h"
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
using platform::MbAnswer;
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

void JobReport(int boxText, int caption, int batchText, MbIcon icon, const void* owner) {
    if (BatchMode >= 2)
        WriteBatchLogMessage(LoadResString(batchText));
    else
        platform::ShowMessageBox(LoadResString(boxText), LoadResString(caption), MbButtons::Ok, icon, owner);
}

void JobReportText(const std::string& text, int caption, MbIcon icon, const void* owner) {
    if (BatchMode >= 2)
        WriteBatchLogMessage(text);
    else
        platform::ShowMessageBox(text, LoadResString(caption), MbButtons::Ok, icon, owner);
}

namespace {

// The files this job is writing, until each is put in place or dropped.
JobOutput VideoOutput, AudioOutput, MuxOutput;
// A DVD job's volume, written whole beside VIDEO_TS until it passed its checks.
DvdVolumeOutput DvdOutput;
// A failed multiplex keeps the elementary streams, whatever the settings say, so
// that they can be multiplexed again with other settings.
bool MultiplexFailed = false;

// The readable-size rule of the job: -1 when the file cannot be read.
int64_t ReadableSize(const std::string& path) { return path.empty() ? -1 : GetFileSizeByName(path); }

bool Opens(const std::string& path) { return ReadableSize(path) >= 0; }

void DeleteQuietly(const std::string& path) {
    std::error_code ec;
    if (!path.empty()) fs::remove(path, ec);
}

std::string MainTitle() { return JobWindows.getMainTitle ? JobWindows.getMainTitle() : std::string(); }
void SetMainTitle(const std::string& title) {
    if (JobWindows.setMainTitle) JobWindows.setMainTitle(title);
}

// A job left without its sound writes a bare video stream: it is named by the
// form's rule for video-only output, the extension of the last name component
// (or its ".avi") giving way to ".m1v" or ".m2v". Nobody was asked about that
// name, so a file already there is kept and the stream takes the first free
// "<name>_<n>" instead.
std::string VideoOnlyFallbackPath;
std::string ElementaryStreamName(const std::string& name, bool mpeg1) {
    const size_t start = name.find_last_of('/') == std::string::npos ? 0 : name.find_last_of('/') + 1;
    const size_t dot = name.find_last_of('.');
    const std::string base = dot != std::string::npos && dot > start ? name.substr(0, dot) : name;
    const std::string extension = mpeg1 ? ".m1v" : ".m2v";
    std::string candidate = base + extension;
    std::error_code ec;
    for (int n = 2; fs::exists(fs::symlink_status(candidate, ec)); n++)
        candidate = base + "_" + std::to_string(n) + extension;
    return candidate;
}

std::string RunningTitle() {
    std::string name = fs::path(EncoderSettings.outputFileName).filename().string();
    if (name.size() > 40) name.resize(40);
    std::string title = EncoderSettings.profileDescription.empty()
                            ? name
                            : EncoderSettings.profileDescription + " - " + name;
    return title + LoadResString(EncoderSettings.mpeg1 ? 63459 : 63460);
}

// A refusal of RunEncoding: box owned by the job's window, OK, no icon.
void RefuseStart(int boxText, int caption, int batchText) {
    if (BatchMode >= 2)
        WriteBatchLogMessage(LoadResString(batchText));
    else
        platform::ShowMessageBox(LoadResString(boxText), caption ? LoadResString(caption) : "", MbButtons::Ok,
                                 MbIcon::None, JobOwnerWindow);
}

// Asks whether an existing temporary file is to be encoded again; true for
// yes. A quiet batch never asks: it logs and encodes again.
bool EncodeAgain(const std::string& path, int longText, int shortText, int caption, int batchText) {
    if (BatchMode >= 2) {
        WriteBatchLogMessage(LoadResString(batchText));
        return true;
    }
    const std::string text = platform::Format(LoadResString(path.size() > 20 ? longText : shortText), path.c_str());
    return platform::ShowMessageBox(text, LoadResString(caption), MbButtons::YesNo, MbIcon::Warning,
                                    MessageOwnerWindow) != MbAnswer::No;
}

bool NameFits(const std::string& name) { return !name.empty() && name.size() < 300; }
bool StreamReady(const std::string& name) { return NameFits(name) && ReadableSize(name) > 100; }

// Finds again which pre-check of the multiplexing step fails and reports it;
// false when one failed.
bool MultiplexPreChecks() {
    const EncoderSettingsRecord& e = EncoderSettings;
    if (StreamReady(e.tempVideoFileName) && StreamReady(e.tempAudioFileName) && NameFits(e.outputFileName))
        return true;
    if (!StreamReady(e.tempVideoFileName))
        JobReport(63527, 63528, 63526, MbIcon::Stop, MessageOwnerWindow);
    else if (!StreamReady(e.tempAudioFileName))
        JobReport(63530, 63531, 63529, MbIcon::Stop, MessageOwnerWindow);
    else if (!NameFits(e.outputFileName))
        JobReport(63533, 63534, 63532, MbIcon::Stop, MessageOwnerWindow);
    else
        JobReport(63537, 63538, 63535, MbIcon::Stop, MessageOwnerWindow);
    return false;
}

// A Yes/No question after a failed output check; Yes deletes the new output.
// No keeps it: under the output's name when that holds no earlier file, else
// under a free name of its own that the user is told, so that the user's
// earlier file is never replaced by a stream that failed its checks.
void OfferToDelete(int question, int caption) {
    const bool drop = platform::ShowMessageBox(LoadResString(question), caption ? LoadResString(caption) : "",
                                               MbButtons::YesNo, MbIcon::Stop, MessageOwnerWindow) == MbAnswer::Yes;
    std::string kept;
    if (!DvdOutput.Work().empty()) {
        // A volume that is kept goes into VIDEO_TS only where no earlier title is there.
        if (drop)
            DvdOutput.Discard();
        else if (!DvdOutput.TargetHoldsTitle())
            DvdOutput.Commit();
        else
            kept = DvdOutput.KeepAside();
    } else if (MuxOutput.Work().empty()) {
        if (drop) DeleteQuietly(EncoderSettings.outputFileName);
    } else if (drop) {
        MuxOutput.Discard();
    } else {
        kept = MuxOutput.KeepAside();
        if (kept == MuxOutput.Target()) kept.clear();
    }
    if (!kept.empty())
        platform::ShowMessageBox(platform::Format("The new output was kept as\n%s", kept.c_str()),
                                 LoadResString(63468), MbButtons::Ok, MbIcon::Information, MessageOwnerWindow);
}

void ShowFinalMultiplexProgress() {
    MultiplexFinished = 1;
    if (static_cast<double>(MuxBytesDone) > 0.9 * static_cast<double>(MuxBytesTotal))
        MuxBytesDone = (EncoderSettings.mpeg1 == 1 && EncoderSettings.streamType != kStreamTypeVideoCd) ? 2 * MuxBytesTotal
                                                                                        : MuxBytesTotal;
    PumpMessagesDuringMultiplex();
}

// Whether the MPEG-1 system stream multiplexer rather than the library joins streams of this size.
bool CompactMultiplexer(int64_t streamBytes) {
    const EncoderSettingsRecord& e = EncoderSettings;
    return e.useNewMux == 0 && e.streamType == kStreamTypeMpeg1 && streamBytes < 1500000000 &&
           platform::IniReadInt(LoadResString(63498), "Use_MPEG1_Stream_Mux", 0, platform::ConfigFile("ROZARAZ2.INI")) == 0;
}

int JobMuxType(const EncoderSettingsRecord& e);

// The kind of stream a mux type writes, as the user is told it.
const char* MuxKindName(int type) {
    switch (type) {
        case MuxTypeMpeg1System: return "an MPEG-1 system stream";
        case MuxTypeMpeg2Program: return "an MPEG-2 program stream";
        case MuxTypeVideoCd: return "a Video-CD stream";
        case MuxTypeTransport: return "an MPEG-2 transport stream";
        case MuxTypeSvcd: return "an SVCD stream";
        default: return "a DVD-Video volume";
    }
}

// The job never writes a transport stream: an output named as one (a profile of
// stream type 5, read back as a program stream) gets the name of what is written,
// beside the chosen one and never over another file.
std::string OutputNameForKind(const std::string& name, int type) {
    if (type == MuxTypeTransport) return name;
    std::string extension = fs::path(name).extension().string();
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (extension != ".ts" && extension != ".m2ts" && extension != ".mts") return name;
    std::error_code ec;
    const std::string renamed = fs::path(name).replace_extension(".mpg").string();
    return fs::exists(fs::symlink_status(renamed, ec)) ? FirstFreeName(name + ".mpg", true) : renamed;
}

int MultiplexStreams() {
    EncoderSettingsRecord& e = EncoderSettings;
    if (!MultiplexPreChecks()) return -1;
    const int64_t videoBytes = ReadableSize(e.tempVideoFileName);
    const int64_t audioBytes = ReadableSize(e.tempAudioFileName);

    EncodeAbortFlag = 0;
    RunState = 2;
    MuxStartMs = MuxLastRefreshMs = GetElapsedMilliseconds();
    MultiplexActive = 1;
    UserStopFlag = 0;
    NotifyProgressWindow();
    CheckOutputDiskSpace(e.outputFileName, 0);

    // Every output is written under new names and put in place once it passed its
    // checks: one file, or the DVD volume in a work folder beside its VIDEO_TS.
    const bool dvdVolume = e.applicationType == kApplicationDvd && e.createVob == 1;
    const std::string chosen = e.outputFileName;
    std::string target = dvdVolume ? chosen : OutputNameForKind(chosen, JobMuxType(e));
    if (dvdVolume ? !DvdOutput.Begin(target) : !MuxOutput.Begin(target, target == chosen)) {
        MultiplexActive = 0;
        RunState = 3;
        return -1;
    }
    const std::string written = dvdVolume ? DvdOutput.MultiplexName() : MuxOutput.Work();

    const bool compact = CompactMultiplexer(videoBytes + audioBytes);
    MuxMessageText.clear();
    // The library may ask the settings for the output's name: it gets the new one.
    e.outputFileName = written;
    const int result = compact ? MultiplexMpeg1SystemStream(e.tempAudioFileName, e.tempVideoFileName, written,
                                                            e.muxPackSize, e.muxPacketsPerPack, e.muxAudioBufferKb,
                                                            e.muxVideoBufferKb)
                               : MultiplexWithLibrary(e.tempAudioFileName, e.tempVideoFileName, written);
    e.outputFileName = target;
    MultiplexActive = 0;
    RunState = 3;

    if (result != 0) {
        MultiplexFailed = !UserStopFlag;
        if (UserStopFlag) {
            JobReport(63523, 63524, 63522, MbIcon::Stop, MessageOwnerWindow);
        } else if (!MuxMessageText.empty() && MuxMessageText.size() < 500) {
            // The user knows the output by its own name, not by the one it was written under;
            // a volume's messages name the file that failed.
            if (written != target && !dvdVolume)
                for (size_t at = MuxMessageText.find(written); at != std::string::npos;
                     at = MuxMessageText.find(written, at + target.size()))
                    MuxMessageText.replace(at, written.size(), target);
            const std::string text = platform::Format(LoadResString(63517), MuxMessageText.c_str());
            if (BatchMode >= 2)
                WriteBatchLogMessage(text);
            else
                platform::ShowMessageBox(text, LoadResString(63518), MbButtons::Ok, MbIcon::Stop, MessageOwnerWindow);
        } else {
            JobReport(63520, 63521, 63519, MbIcon::Stop, MessageOwnerWindow);
        }
        MuxOutput.Discard();
        DvdOutput.Discard();
        return -1;
    }

    // A volume is judged by the VOB files of its new title.
    const int64_t outputBytes = dvdVolume ? DvdOutput.TitleBytes() : ReadableSize(written);
    if (outputBytes < 0) {
        JobReport(63500, 63501, 63499, MbIcon::Stop, MessageOwnerWindow);
        return -1;
    }
    const int64_t streamBytes = videoBytes + audioBytes;
    if (outputBytes < 100) {
        JobReport(63503, 63504, 63502, MbIcon::Stop, MessageOwnerWindow);
        if (BatchMode < 2) OfferToDelete(63505, 0);
        return -1;
    }
    if (outputBytes < streamBytes) {
        JobReport(63507, 63508, 63506, MbIcon::Stop, MessageOwnerWindow);
        if (BatchMode < 2) OfferToDelete(63509, 63510);
        return -1;
    }
    if (outputBytes > 2 * streamBytes && e.framesToEncode > 12) {
        JobReport(63512, 63513, 63511, MbIcon::Warning, MessageOwnerWindow);
        if (BatchMode < 2 &&
            platform::ShowMessageBox(LoadResString(63514), LoadResString(63515), MbButtons::YesNo, MbIcon::Stop,
                                     MessageOwnerWindow) == MbAnswer::Yes) {
            MuxOutput.Discard();
            DvdOutput.Discard();
            return -1;
        }
    }

    if (dvdVolume ? !DvdOutput.Commit() : !MuxOutput.Commit()) return -1;
    if (!dvdVolume) target = e.outputFileName = MuxOutput.Target();
    if (dvdVolume) {
        const std::string text = DvdCreatedText();
        if (BatchMode != 0) {
            WriteBatchLogMessage(text);
        } else {
            ShowFinalMultiplexProgress();
            platform::ShowMessageBox(text, "ZRN-MPEG Encoder", MbButtons::Ok, MbIcon::None, MessageOwnerWindow);
        }
        e.outputFileName = (fs::path(DvdVideoTsFolder(target)) / "VTS_01_1.VOB").string();
    }
    if (target != chosen)
        JobReportText(platform::Format(LoadResString(63645), MuxKindName(JobMuxType(e)), target.c_str(), chosen.c_str()),
                      63600, MbIcon::Information, MessageOwnerWindow);
    if (!compact && !MuxSettingsNotApplied.empty())
        JobReportText(MuxSettingsNotApplied, 63600, MbIcon::Information, MessageOwnerWindow);
    ShowFinalMultiplexProgress();
    if (JobWindows.showMultiplexCompleted)
        JobWindows.showMultiplexCompleted(outputBytes / 1024, videoBytes / 1024, audioBytes / 1024, e.mpeg1);
    MultiplexDone = 1;
    return 0;
}

// The mux type the multiplexing step will ask the library for.
int JobMuxType(const EncoderSettingsRecord& e) {
    if (e.applicationType == kApplicationDvd && e.createVob == 1) return MuxTypeDvdVolume;
    if (e.applicationType == kApplicationSvcd) return MuxTypeSvcd;
    return e.streamType;
}

// The checks that need no file opened and that would otherwise fail the job
// after its passes, or destroy the input: an output or temporary name that is
// the input, two of the job's names that are one file, and a mux type that
// cannot be written. Returns the refusal's text, empty when the job may start.
std::string StartRefusal(bool multiplexed) {
    EncoderSettingsRecord& e = EncoderSettings;
    std::vector<const std::string*> names{&e.outputFileName};
    if (multiplexed) {
        names.push_back(&e.tempVideoFileName);
        names.push_back(&e.tempAudioFileName);
    }
    if (e.inputType == 2)
        for (const std::string* name : names)
            if (platform::SameFile(e.inputFileName, *name))
                return platform::Format(LoadResString(63606), name->c_str());
    for (size_t i = 0; i < names.size(); ++i)
        for (size_t j = i + 1; j < names.size(); ++j)
            if (platform::SameFile(*names[i], *names[j]))
                return platform::Format(LoadResString(63607), names[i]->c_str(), names[j]->c_str());
    if (!multiplexed) return std::string();

    const int type = JobMuxType(e);
    if (type < MuxTypeMpeg1System || type > MuxTypeSvcd) return platform::Format(LoadResString(63608), type);
    // MPEG-2 video breaks the MPEG-1 system stream's buffer model: it goes to
    // the program stream when that can be written.
    if (type == MuxTypeMpeg1System && e.mpeg1 == 0) {
        if (!MuxTypeIsBuilt(MuxTypeMpeg2Program)) return LoadResString(63610);
        e.streamType = MuxTypeMpeg2Program;
        return std::string();
    }
    if (!MuxTypeIsBuilt(type)) return platform::Format(LoadResString(63609), type);
    // Settings under which the multiplexer would deliver units late fail now, not after the encode.
    if (std::string rate = DiscRateRefusal(); !rate.empty()) return rate;
    const std::string problem = MultiplexSettingsProblem(CompactMultiplexer(0));
    if (!problem.empty()) return platform::Format(LoadResString(63644), problem.c_str());
    // Pictures the volume writer has no code for would fail the job after the encode.
    if (type == MuxTypeDvdVolume && !DvdStartRefusal().empty())
        return platform::Format(LoadResString(63648), DvdStartRefusal().c_str());
    return std::string();
}

// The work files and folders that killed runs of this program on this machine
// left go before the job starts, wherever they are: the work record names them.
// Those of running processes and of other machines stay.
void RemoveLeftoverWorkFiles() { platform::RemoveStaleWorkFiles(); }

// An AVI cut short (a copy that broke off) encodes the frames it still holds: the
// user hears how many of the frames its headers name that was.
void WarnOfCutInput() {
    const EncoderSettingsRecord& e = EncoderSettings;
    if (e.inputType != 2) return;
    const int readable = AviGetVideoEndFrame() - AviGetVideoStartFrame();
    const int announced = AviGetAnnouncedVideoFrames();
    if (announced <= readable) return;
    JobReportText(platform::Format(LoadResString(63646), e.inputFileName.c_str(), readable, announced), 63600,
                  MbIcon::Warning, MessageOwnerWindow);
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
    }
    if (encodeVideo) {
        // The video-only name was nobody's choice: it never replaces a file.
        if (!VideoOutput.Begin(VideoOutputPath, VideoOnlyFallbackPath.empty())) return -1;
        VideoStreamName = VideoOutputPath;
        VideoOutputPath = VideoOutput.Work();
        CheckOutputDiskSpace(VideoOutputPath, VideoToTempFile ? 1 : 0);
        // A write error of the stream's last bytes leaves the abort flag behind
        // even when every engine step returned success.
        const bool encoded = EncodeVideoPass() >= 0 && !EncodeAbortFlag;
        VideoOutputPath = VideoOutput.Target();
        VideoStreamName.clear();
        if (encoded) WarnOfCutInput();
        if (!encoded || !VideoOutput.Commit()) {
            VideoOutput.Discard();
            VideoStreamReady = 0;
            return -1;
        }
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
    EncodeAbortFlag = 0;
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
    const std::string refusal = StartRefusal(VideoToTempFile == 1);
    if (!refusal.empty()) {
        if (BatchMode >= 2)
            WriteBatchLogMessage(refusal);
        else
            platform::ShowMessageBox(refusal, LoadResString(63600), MbButtons::Ok, MbIcon::Stop, JobOwnerWindow);
        e.encodeAudio = rememberedEncodeAudio;
        SetMainTitle(savedTitle);
        return 0;
    }

    RemoveLeftoverWorkFiles();
    MultiplexActive = 0;
    for (int round = 0; round < 3; ++round) {
        RunState = 2;
        PumpMessagesDuringMotionSearch();
    }
    PumpPendingMessages();

    EncodeStartTick = platform::TickCount();
    MultiplexFailed = false;
    JobResult = RunEncodingJob();

    // Whatever was not put in place is unfinished: only the job's own new files go.
    VideoOutput.Discard();
    AudioOutput.Discard();
    MuxOutput.Discard();
    DvdOutput.Discard();
    if (!MultiplexFailed) {
        if (e.deleteTempVideo && TempVideoUsed && !e.tempVideoFileName.empty()) DeleteQuietly(e.tempVideoFileName);
        if (e.deleteTempAudio && TempAudioUsed && !e.tempAudioFileName.empty()) DeleteQuietly(e.tempAudioFileName);
    }

    RunState = 1;
    e.encodeAudio = rememberedEncodeAudio;
    e.streamType = rememberedStreamType;
    SetMainTitle(savedTitle);
    HonourQuitRequest();
    return 1;
}
