// The batch run: each entry of the job list is a profile to load (a
// complete job or a template for the AVI files after it) or an AVI file to
// encode with the profile loaded at that moment.
#include "app/BatchRunner.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#include "app/AppSettings.h"
#include "app/BatchList.h"
#include "app/BatchLog.h"
#include "engine/EngineState.h"
#include "job/JobDriver.h"
#include "platform/Format.h"
#include "platform/MessageBox.h"
#include "platform/ResStrings.h"
#include "settings/EncoderSettings.h"
#include "settings/JobState.h"
#include "settings/Report.h"
#include "settings/RunState.h"

int BatchJobSucceeded = 0;
int BatchEntryRan = 0;
int BatchEntrySoundDropped = 0;
CutShortInput BatchEntryCutShort;
int BatchProfileIndex = 0;
std::string BatchOutputFolder;

std::string AbsoluteFolder(const std::string& folder) {
    if (folder.empty()) return folder;
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(folder, ec);
    if (ec) return folder;
    std::string text = absolute.lexically_normal().string();
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    return text;
}

namespace {

bool FitsLog(const std::string& text) { return !text.empty() && text.size() < 256; }

std::vector<std::string> BatchOutputs;

// Whether the AVI entry being encoded comes under a template that encodes
// sound, and whether it was encoded as video only because its file has none.
bool EntrySoundAsked = false;
bool EntryWithoutSound = false;

std::string OutputKey(const std::string& name) {
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(name, ec);
    return (ec ? std::filesystem::path(name) : absolute).lexically_normal().string();
}

bool GivenInThisBatch(const std::string& name) {
    return std::find(BatchOutputs.begin(), BatchOutputs.end(), OutputKey(name)) != BatchOutputs.end();
}

bool FitsProfileName(const std::string& text) { return text.size() >= 2 && text.size() <= 255; }

// The runner's look-ahead: an entry that loads a profile (or an at-sign
// entry) ends what a complete profile before it could be a template for.
bool NextIsProfile(const std::string& next) {
    return IsProfileEntry(next) || ClassifyJobEntry(next) == JobEntryKind::AtSign;
}

// Text of the string table used as a format for one text argument.
std::string FormatResString(int id, const std::string& argument) {
    return platform::Format(LoadResString(id), argument.c_str());
}

void LogLoadedProfile(int headerId, const std::string& entryText, bool fromDescription) {
    AppendBatchLog(LoadResString(headerId));
    if (!fromDescription) AppendBatchLog(entryText + "\n");
    if (FitsLog(EncoderSettings.profileDescription)) AppendBatchLog(EncoderSettings.profileDescription + "\n");
}

// A job the user stopped is no failure: the summary says the batch was stopped.
bool EntryStopped() { return BatchEntryRan && (UserStopFlag != 0 || BatchStopRequested != 0); }

void CountJob(BatchCounts& counts) {
    if (BatchJobSucceeded != 1) {
        if (!EntryStopped()) ++counts.failed;
    } else if (BatchEntryCutShort.announced > 0) {
        ++counts.cutShort;
    } else if (BatchEntrySoundDropped) {
        ++counts.videoOnly;
    } else if (EntryWithoutSound) {
        ++counts.withoutSound;
    } else {
        ++counts.succeeded;
    }
}

// "%d file(s) encoded successfully." without the heading of the finished batch.
std::string SucceededLine(int succeeded) {
    const std::string text = LoadResString(succeeded == 1 ? 64112 : 64111);
    const size_t body = text.find("\n\n");
    return platform::Format(text.substr(body == std::string::npos ? 0 : body + 2).c_str(), succeeded);
}

}  // namespace

void NoteBatchOutput(const std::string& name) {
    if (!name.empty() && !GivenInThisBatch(name)) BatchOutputs.push_back(OutputKey(name));
}

std::string FreeBatchOutputName(const std::string& name) {
    if (!GivenInThisBatch(name)) return name;
    const std::filesystem::path path(name);
    for (int n = 2;; ++n) {
        const std::string candidate =
            (path.parent_path() / (path.stem().string() + "_" + std::to_string(n) + path.extension().string())).string();
        std::error_code ec;
        if (!GivenInThisBatch(candidate) && !std::filesystem::exists(std::filesystem::symlink_status(candidate, ec)))
            return candidate;
    }
}

BatchCounts RunBatchJobList(const std::vector<std::string>& jobs, const std::vector<BatchProfile>& profiles,
                            const std::string& jobOutputFolder, const BatchRunHooks& hooks) {
    BatchCounts counts;
    BatchOutputs.clear();
    counts.entries = static_cast<int>(jobs.size());
    // What every AVI file starts from: the profile loaded last, not what the
    // entry before it made of the settings.
    EncoderSettingsRecord profileSettings = EncoderSettings;
    for (size_t i = 0; i < jobs.size() && BatchStopRequested == 0; ++i) {
        counts.entriesRun = static_cast<int>(i) + 1;
        EntrySoundAsked = EntryWithoutSound = false;
        BatchEntrySoundDropped = 0;
        BatchEntryCutShort = {};
        BatchEntryRan = 0;
        std::string text = jobs[i];
        bool fromDescription = false;
        if (ClassifyJobEntry(text) == JobEntryKind::Description) {
            const BatchProfile* found = FindBatchProfile(profiles, text.substr(1));
            if (!found) {
                // Logged and skipped: it is no job, so it counts neither way.
                AppendBatchLog("\nError\n");
                AppendBatchLog(FormatResString(64102, text));
                AppendBatchLog("\n");
                continue;
            }
            text = found->path;
            fromDescription = true;
        }
        const int applicationType = EncoderSettings.applicationType;
        const bool isLast = i + 1 == jobs.size();

        if (fromDescription || ClassifyJobEntry(text) == JobEntryKind::ProfilePath) {
            if (!hooks.loadProfile(text)) {
                AppendBatchLog(LoadResString(64109) + text);
                continue;
            }
            profileSettings = EncoderSettings;
            const bool completeJob =
                FitsProfileName(EncoderSettings.inputFileName) && FitsProfileName(EncoderSettings.outputFileName);
            const bool nextIsProfile = !isLast && NextIsProfile(jobs[i + 1]);
            if (completeJob && (isLast || nextIsProfile)) {
                LogLoadedProfile(isLast ? 64105 : 64103, text, fromDescription);
                if (FitsLog(EncoderSettings.inputFileName))
                    AppendBatchLog(isLast ? FormatResString(64106, EncoderSettings.inputFileName)
                                          : platform::Format("Input file %s\n", EncoderSettings.inputFileName.c_str()));
                if (FitsLog(EncoderSettings.outputFileName))
                    AppendBatchLog(isLast ? platform::Format("Output file %s\n", EncoderSettings.outputFileName.c_str())
                                          : FormatResString(64104, EncoderSettings.outputFileName));
                NoteBatchOutput(EncoderSettings.outputFileName);
                hooks.runEntry();
                CountJob(counts);
                AppendBatchLog("\n");
                EncoderSettings.applicationType = applicationType;
                continue;
            }
            LogLoadedProfile(64103, text, fromDescription);
            AppendBatchLog(LoadResString(isLast ? 64108 : 64107));
            continue;
        }

        EncoderSettings = profileSettings;
        if (hooks.reloadForm) hooks.reloadForm();
        if (!hooks.loadInputFile(text, jobOutputFolder)) {
            BatchJobSucceeded = 0;
        } else {
            if (FitsLog(text)) AppendBatchLog(FormatResString(64110, text));
            EntrySoundAsked = profileSettings.encodeAudio != 0;
            hooks.runEntry();
            // Statistics describe an output: a job that failed, was stopped or never ran wrote none.
            if (BatchJobSucceeded && hooks.writeStatistics) hooks.writeStatistics();
        }
        CountJob(counts);
        AppendBatchLog("\n");
        // Every AVI file after a template starts from the template's application type.
        EncoderSettings.applicationType = applicationType;
    }
    EntrySoundAsked = EntryWithoutSound = false;
    counts.stopped = BatchStopRequested != 0;
    return counts;
}

std::string BatchSummaryText(int succeeded, int failed) {
    BatchCounts counts;
    counts.succeeded = succeeded;
    counts.failed = failed;
    return BatchSummaryText(counts);
}

std::string BatchSummaryText(const BatchCounts& c) {
    std::string text =
        c.stopped ? platform::Format("Batch process stopped by the user after %d of %d job list entries.\n\n",
                                     c.entriesRun, c.entries) +
                        SucceededLine(c.succeeded)
                  : platform::Format(LoadResString(c.succeeded == 1 ? 64112 : 64111), c.succeeded);
    if (c.cutShort > 0)
        text += platform::Format(c.cutShort == 1
                                     ? "%d file encoded from an AVI file cut short: only the frames it still holds.\n "
                                     : "%d files encoded from AVI files cut short: only the frames they still hold.\n ",
                                 c.cutShort);
    if (c.videoOnly > 0)
        text += platform::Format(c.videoOnly == 1 ? "%d file encoded as video only: its sound could not be used.\n "
                                                  : "%d files encoded as video only: their sound could not be used.\n ",
                                 c.videoOnly);
    if (c.withoutSound > 0)
        text += platform::Format(c.withoutSound == 1 ? "%d file encoded as video only: its AVI file has no sound.\n "
                                                     : "%d files encoded as video only: their AVI files have no sound.\n ",
                                 c.withoutSound);
    if (c.failed > 0) text += platform::Format(LoadResString(c.failed == 1 ? 64114 : 64113), c.failed);
    return text + LoadResString(64115);
}

const BatchProfile* FindBatchProfile(const std::vector<BatchProfile>& profiles, const std::string& description) {
    auto found = std::find_if(profiles.begin(), profiles.end(),
                              [&](const BatchProfile& p) { return p.description == description; });
    return found == profiles.end() ? nullptr : &*found;
}

int FindBatchProfileIndex(const std::vector<BatchProfile>& profiles, const std::string& currentDescription,
                          int fallback) {
    int index = fallback;
    for (size_t i = 0; i < profiles.size(); ++i)
        if (profiles[i].description == currentDescription) index = static_cast<int>(i);
    return index;
}

BatchStartRequest InitialBatchRequest(const std::vector<BatchProfile>& profiles,
                                      const std::string& currentDescription) {
    const int found = FindBatchProfileIndex(profiles, currentDescription, -1);
    if (found >= 0) BatchProfileIndex = found;
    BatchStartRequest request;
    request.selectedIndex = BatchProfileIndex;
    if (found >= 0)
        request.selectedDescription = currentDescription;
    else if (!profiles.empty())
        request.selectedDescription = profiles.front().description;
    request.outputFolder = BatchOutputFolder;
    request.suppressErrors = true;
    return request;
}

BatchCounts RunBatchProcess(const BatchStartRequest& request, const std::vector<BatchProfile>& profiles,
                            const BatchProcessHooks& hooks) {
    const int mode = request.suppressErrors ? 2 : 1;
    BatchMode = mode;
    BatchProfileIndex = request.selectedIndex < 0 ? 0 : request.selectedIndex;

    // Made absolute at once: the log and the outputs go where the user chose,
    // whatever the current directory becomes.
    BatchOutputFolder = AbsoluteFolder(request.outputFolder);
    BatchLogFileName = BatchLogPathFor(BatchOutputFolder);
    std::string startProfileFailure;
    if (static_cast<size_t>(BatchProfileIndex) >= profiles.size() ||
        request.selectedDescription.find(profiles[static_cast<size_t>(BatchProfileIndex)].description) ==
            std::string::npos) {
        platform::ShowMessageBox(LoadResString(64098), "");
    } else {
        const std::string& path = profiles[static_cast<size_t>(BatchProfileIndex)].path;
        // Kept until the log exists: creating it would erase the line.
        if (!hooks.run.loadProfile(path)) startProfileFailure = LoadResString(64099) + path;
    }

    std::string jobOutputFolder = BatchOutputFolder;
    if (!jobOutputFolder.empty() && jobOutputFolder.back() != '/') jobOutputFolder += '/';
    BatchMode = mode;
    BatchStopRequested = 0;
    // The first line names the profile the first entries run under: the start
    // profile, unless the list begins by loading one of its own.
    std::string firstProfile = EncoderSettings.profileDescription;
    if (!BatchJobList.empty() && NextIsProfile(BatchJobList.front())) {
        const std::string& first = BatchJobList.front();
        firstProfile = ClassifyJobEntry(first) == JobEntryKind::Description ? first.substr(1) : first;
    }
    CreateBatchLog(firstProfile, BatchOutputFolder);
    if (!startProfileFailure.empty()) AppendBatchLog(startProfileFailure);

    BatchCounts counts = RunBatchJobList(BatchJobList, profiles, jobOutputFolder, hooks.run);
    BatchMode = 0;
    if (hooks.endOfBatch) hooks.endOfBatch();
    platform::MbAnswer answer = platform::ShowMessageBox(BatchSummaryText(counts), "",
                                                         platform::MbButtons::YesNo, platform::MbIcon::Information);
    if (answer == platform::MbAnswer::Yes && hooks.openLog) hooks.openLog(BatchLogFileName);
    BatchMode = 0;
    return counts;
}

void RunBatchEntry(const BatchEntryHooks& hooks) {
    BatchJobSucceeded = 0;
    UserStopFlag = 0;
    if (RunState == 2 && PauseFlag == 1) {
        PauseFlag = 0;
        return;
    }
    if (hooks.previewWindowOpen && hooks.previewWindowOpen()) {
        // Shown even in a batch: the user must close the window before anything encodes.
        platform::ShowMessageBox(LoadResString(64166), "", platform::MbButtons::Ok, platform::MbIcon::Stop);
        return;
    }
    int unusedFlag = 0;
    int& encodingActive = hooks.encodingActive ? *hooks.encodingActive : unusedFlag;
    if (encodingActive == 1) return;
    encodingActive = 1;
    // A job whose settings were never stored has nothing to encode.
    const bool applied = hooks.applyToParameters && hooks.applyToParameters();
    int jobResult = 0;
    if (applied) {
        PreviewPictures.InputPreviewReady = 0;
        PreviewPictures.OutputPreviewReady = 0;
        EngineReport.AverageQuality = 0.0f;
        EngineReport.PictureQuality = 0.0f;
        PreviewWidth = EncoderSettings.horizontalSize;
        PreviewHeight = EncoderSettings.verticalSize;
        if (hooks.prepareViews) hooks.prepareViews();
        PauseFlag = 0;
        jobResult = hooks.runEncoding ? hooks.runEncoding() : kBatchJobRefused;
        // After every job, not only after a stop: nothing may stay hidden or
        // refuse drops once the batch is over.
        if (hooks.restoreViews) hooks.restoreViews(UserStopFlag ? 64169 : jobResult != 0 ? 64170 : 64171);
        PauseFlag = 0;
    }
    encodingActive = 0;
    if (hooks.relayoutViews) hooks.relayoutViews();
    FinishBatchEntry(applied && jobResult != kBatchJobRefused, jobResult);
}

void FinishBatchEntry(bool applied, int jobResult) {
    BatchEntryRan = applied ? 1 : 0;
    BatchJobSucceeded = UserStopFlag == 0 && BatchStopRequested == 0 && jobResult == 0 && applied ? 1 : 0;
    if (BatchJobSucceeded && BatchEntryCutShort.announced > 0) {
        // Not a plain success: the output holds only what the file still had.
        AppendBatchLog(platform::Format(
            "\nMPEG encoding completed from an AVI file cut short: %s holds %d of the %d frames its headers "
            "name; only those were encoded, into %s\n",
            EncoderSettings.inputFileName.c_str(), BatchEntryCutShort.readable, BatchEntryCutShort.announced,
            EncoderSettings.outputFileName.c_str()));
    }
    if (BatchJobSucceeded && BatchEntrySoundDropped) {
        // Not a plain success: the output is the video alone.
        AppendBatchLog(platform::Format(
            "\nMPEG encoding completed without sound: only the video stream was encoded, into %s\n",
            EncoderSettings.outputFileName.c_str()));
        return;
    }
    if (BatchJobSucceeded && EntrySoundAsked && EncoderSettings.encodeAudio == 0) {
        // Not a plain success either: the template encodes sound, the file has none.
        EntryWithoutSound = true;
        AppendBatchLog(platform::Format(
            "\nMPEG encoding completed without sound: the AVI file has no sound, only the video stream was "
            "encoded, into %s\n",
            EncoderSettings.outputFileName.c_str()));
        return;
    }
    if (BatchJobSucceeded && BatchEntryCutShort.announced > 0) return;
    int id = UserStopFlag          ? 64172
             : BatchStopRequested  ? 64173
             : jobResult == 0 && applied ? 64175
                                         : 64174;
    AppendBatchLog(LoadResString(id));
    // A job that failed after its passes (at multiplexing) keeps the streams it
    // wrote, so that they can be multiplexed again: the log names them.
    if (id != 64174) return;
    std::string left;
    for (const auto& [used, name] : {std::pair{TempVideoUsed, &EncoderSettings.tempVideoFileName},
                                     std::pair{TempAudioUsed, &EncoderSettings.tempAudioFileName}}) {
        std::error_code ec;
        if (used && !name->empty() && std::filesystem::exists(*name, ec)) left += " " + *name + "\n";
    }
    if (!left.empty()) AppendBatchLog("\nThe elementary streams encoded for this entry are left in place:\n" + left);
}
