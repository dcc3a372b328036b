// The multiplexing step of a job: the pre-checks of the two streams, the choice
// of multiplexer, the output written under a new name and the checks of its size
// before it is put in place.
#include "job/JobMux.h"

#include <filesystem>

#include "job/DvdOutput.h"
#include "job/JobDriver.h"
#include "job/JobMessages.h"
#include "job/OutputFiles.h"
#include "job/RunningJob.h"
#include "muxlib/MuxLib.h"
#include "platform/Format.h"
#include "platform/Ini.h"
#include "platform/ResStrings.h"
#include "settings/JobState.h"
#include "settings/JobUtil.h"
#include "settings/Report.h"
#include "settings/RunState.h"

namespace fs = std::filesystem;
using platform::MbAnswer;
using platform::MbButtons;
using platform::MbIcon;

JobOutput MuxOutput;
DvdVolumeOutput DvdOutput;
bool MultiplexFailed = false;
FileIdentity WrittenVideoStream, WrittenAudioStream;

namespace {

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

// The first temporary stream whose name no longer reaches the file its pass wrote (another
// job, maybe of another computer sharing the folder, wrote its own there); "" when both do.
std::string ReplacedStream() {
    const EncoderSettingsRecord& e = EncoderSettings;
    if (!WrittenVideoStream.known || IdentityOf(e.tempVideoFileName) != WrittenVideoStream) return e.tempVideoFileName;
    if (!WrittenAudioStream.known || IdentityOf(e.tempAudioFileName) != WrittenAudioStream) return e.tempAudioFileName;
    return std::string();
}

// Fails the multiplexing step over a stream that is not the job's own: the file there is
// another's, so it stays, and so does what the job wrote of its output.
bool RefuseReplacedStream() {
    const std::string replaced = ReplacedStream();
    if (replaced.empty()) return false;
    MultiplexFailed = true;
    JobReportText(platform::Format(LoadResString(63642), replaced.c_str()), 63518, MbIcon::Stop, MessageOwnerWindow);
    return true;
}

void ShowFinalMultiplexProgress() {
    MultiplexFinished = 1;
    if (static_cast<double>(MuxBytesDone) > 0.9 * static_cast<double>(MuxBytesTotal))
        MuxBytesDone = (EncoderSettings.mpeg1 == 1 && EncoderSettings.streamType != kStreamTypeVideoCd) ? 2 * MuxBytesTotal
                                                                                        : MuxBytesTotal;
    PumpMessagesDuringMultiplex();
}

}  // namespace

bool CompactMultiplexer(int64_t streamBytes) {
    const EncoderSettingsRecord& e = EncoderSettings;
    return e.useNewMux == 0 && e.streamType == kStreamTypeMpeg1 && streamBytes < 1500000000 &&
           platform::IniReadInt(LoadResString(63498), "Use_MPEG1_Stream_Mux", 0, platform::ConfigFile("ROZARAZ2.INI")) == 0;
}

int JobMuxType(const EncoderSettingsRecord& e) {
    if (e.applicationType == kApplicationDvd && e.createVob == 1) return MuxTypeDvdVolume;
    if (e.applicationType == kApplicationSvcd) return MuxTypeSvcd;
    return e.streamType;
}

int MultiplexStreams() {
    EncoderSettingsRecord& e = EncoderSettings;
    if (!MultiplexPreChecks() || RefuseReplacedStream()) return -1;
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
    // A stream replaced while the multiplexer opened or read it may have given it the other's data.
    if (result == 0 && RefuseReplacedStream()) {
        MuxOutput.Discard();
        DvdOutput.Discard();
        return -1;
    }

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
    bool inPlace = false;
    if (outputBytes > 2 * streamBytes && e.framesToEncode > 12) {
        JobReport(63512, 63513, 63511, MbIcon::Warning, MessageOwnerWindow);
        // No goes on, but, as after the other checks, never over the user's earlier output:
        // one kept aside under another name is not the output asked for.
        if (BatchMode < 2) {
            const CheckedOutput kept = OfferToDelete(63514, 63515);
            if (kept != CheckedOutput::InPlace) return -1;
            inPlace = true;
        }
    }

    if (!inPlace && (dvdVolume ? !DvdOutput.Commit() : !MuxOutput.Commit())) return -1;
    if (!dvdVolume) target = e.outputFileName = MuxOutput.Target();
    if (dvdVolume) {
        const std::string text = DvdCreatedText();
        if (BatchMode != 0) {
            WriteBatchLogMessage(text);
        } else {
            ShowFinalMultiplexProgress();
            platform::ShowMessageBox(text, "Tessmar", MbButtons::Ok, MbIcon::None, MessageOwnerWindow);
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
