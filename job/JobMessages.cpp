// The job's reporters and what it tells and asks the user outside its passes:
// the refusals of a start, encoding a temporary file again, deleting or keeping
// an output that failed its checks, and an input cut short.
#include "job/JobMessages.h"

#include <vector>

#include "job/AviSource.h"
#include "job/DvdOutput.h"
#include "job/JobDriver.h"
#include "job/JobMux.h"
#include "job/OutputFiles.h"
#include "job/RunningJob.h"
#include "muxlib/MuxLib.h"
#include "platform/Format.h"
#include "platform/ResStrings.h"
#include "platform/System.h"
#include "settings/EncoderSettings.h"
#include "settings/JobState.h"
#include "settings/JobUtil.h"
#include "settings/Report.h"

using platform::MbAnswer;
using platform::MbButtons;
using platform::MbIcon;

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

void RefuseStart(int boxText, int caption, int batchText) {
    if (BatchMode >= 2)
        WriteBatchLogMessage(LoadResString(batchText));
    else
        platform::ShowMessageBox(LoadResString(boxText), caption ? LoadResString(caption) : "", MbButtons::Ok,
                                 MbIcon::None, JobOwnerWindow);
}

bool EncodeAgain(const std::string& path, int longText, int shortText, int caption, int batchText) {
    if (BatchMode >= 2) {
        WriteBatchLogMessage(LoadResString(batchText));
        return true;
    }
    const std::string text = platform::Format(LoadResString(path.size() > 20 ? longText : shortText), path.c_str());
    return platform::ShowMessageBox(text, LoadResString(caption), MbButtons::YesNo, MbIcon::Warning,
                                    MessageOwnerWindow) != MbAnswer::No;
}

// No keeps the output: under the output's name when that holds no earlier file,
// else under a free name of its own that the user is told, so that the user's
// earlier file is never replaced by a stream that failed its checks.
CheckedOutput OfferToDelete(int question, int caption, MbIcon icon) {
    const bool drop = platform::ShowMessageBox(LoadResString(question), caption ? LoadResString(caption) : "",
                                               MbButtons::YesNo, icon, MessageOwnerWindow) == MbAnswer::Yes;
    std::string kept;
    if (!DvdOutput.Work().empty()) {
        // A volume that is kept goes into VIDEO_TS only where no earlier title is there.
        if (drop)
            DvdOutput.Discard();
        else if (!DvdOutput.TargetHoldsTitle()) {
            if (!DvdOutput.Commit()) return CheckedOutput::Failed;
        } else
            kept = DvdOutput.KeepAside();
    } else if (drop) {
        MuxOutput.Discard();
    } else {
        kept = MuxOutput.KeepAside();
        if (kept == MuxOutput.Target()) kept.clear();
    }
    if (drop) return CheckedOutput::Deleted;
    if (kept.empty()) return CheckedOutput::InPlace;
    platform::ShowMessageBox(platform::Format("The new output was kept as\n%s", kept.c_str()), LoadResString(63468),
                             MbButtons::Ok, MbIcon::Information, MessageOwnerWindow);
    return CheckedOutput::KeptAside;
}

// Besides the mux type, refused: an output or temporary name that is the input,
// and two of the job's names that are one file.
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
    // A folder in the way of the output is found before the encode, and before the job holds any name.
    const std::string written = !multiplexed ? VideoOutputPath
                                : JobMuxType(e) == MuxTypeDvdVolume
                                    ? e.outputFileName
                                    : OutputNameForKind(e.outputFileName, JobMuxType(e));
    if (std::string place = OutputPlaceRefusal(written, multiplexed); !place.empty()) return place;
    if (!multiplexed) return std::string();
    // Sound that starts after the last picture of the range would fail the job after the encode.
    if (std::string sound = SoundOutsideRangeAtStart(); !sound.empty()) return sound;

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
    if (std::string length = SvcdLengthRefusal(); !length.empty()) return length;
    const std::string problem = MultiplexSettingsProblem(CompactMultiplexer(0));
    if (!problem.empty()) return platform::Format(LoadResString(63644), problem.c_str());
    // Pictures the volume writer has no code for would fail the job after the encode.
    if (type == MuxTypeDvdVolume && !DvdStartRefusal().empty())
        return platform::Format(LoadResString(63648), DvdStartRefusal().c_str());
    return std::string();
}

std::string TemporaryNamesInUse() {
    const EncoderSettingsRecord& e = EncoderSettings;
    if (!e.inputHasAudio || !e.encodeAudio) return std::string();
    std::vector<std::string> names;
    for (const std::string* name : {&e.tempVideoFileName, &e.tempAudioFileName})
        if (!name->empty()) names.push_back(*name);
    std::string other;
    const bool free = platform::HoldWorkPaths(names, &other, nullptr, nullptr);
    platform::ReleaseWorkPaths();
    return free ? std::string() : platform::Format(LoadResString(63640), other.c_str());
}

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
