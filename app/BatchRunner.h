// Running a batch: the walk over the job list, the start profile, the log
// and the summary. Loading profiles and input files and running a job are
// the program's work, handed in as callbacks.
#pragma once

#include <functional>
#include <string>
#include <vector>

// One profile the program knows: its description and its file.
struct BatchProfile {
    std::string description;
    std::string path;
};

struct BatchRunHooks {
    // Loads a profile and makes it the document's profile; false when it could not be read.
    std::function<bool(const std::string& path)> loadProfile;
    // Takes an AVI file as the input of the loaded profile, output in `outputFolder`.
    std::function<bool(const std::string& aviPath, const std::string& outputFolder)> loadInputFile;
    // Encodes the job the current settings describe; sets BatchJobSucceeded.
    std::function<void()> runEntry;
    // Appends the statistics report of the job just run.
    std::function<void()> writeStatistics;
    // Shows the settings again after the runner put the profile's back.
    std::function<void()> reloadForm;
};

struct BatchCounts {
    int succeeded = 0;
    int failed = 0;
    int videoOnly = 0;     // encoded, but the file's sound could not be used
    int withoutSound = 0;  // encoded as video only under a template that encodes sound: the file has none
    int cutShort = 0;      // encoded, but the AVI file held fewer frames than its headers name
    int entriesRun = 0;    // entries of the list walked before the end or the stop
    int entries = 0;
    bool stopped = false;  // the user stopped the batch
};

// 1 when the last batch entry encoded successfully, else 0.
extern int BatchJobSucceeded;
// 1 when the last batch entry's job ran (its settings were stored and the job started).
extern int BatchEntryRan;
// Set by the input check of an entry whose file has sound the encoder cannot
// use: the entry's output is then its video alone.
extern int BatchEntrySoundDropped;
// Set after an entry's job when its AVI file was cut short: the frames it
// still holds and those its headers name.
struct CutShortInput {
    int readable = 0;
    int announced = 0;
};
extern CutShortInput BatchEntryCutShort;
// What runEncoding returns when the job refused to start.
inline constexpr int kBatchJobRefused = -2;
extern int BatchProfileIndex;
extern std::string BatchOutputFolder;

// The outputs the entries of the running batch were given, so that no later entry
// writes over what an earlier one wrote.
void NoteBatchOutput(const std::string& name);
// `name` when no earlier entry of this batch was given it, else the first
// "<name>_<n>.<ext>" that neither an entry was given nor names a file.
std::string FreeBatchOutputName(const std::string& name);

// The job list in storage form, entry by entry, until BatchStopRequested.
// Entries never started count neither way.
BatchCounts RunBatchJobList(const std::vector<std::string>& jobs, const std::vector<BatchProfile>& profiles,
                            const std::string& jobOutputFolder, const BatchRunHooks& hooks);

// The closing question: jobs encoded, jobs failed, and whether to see the log.
std::string BatchSummaryText(int succeeded, int failed);
// The same for any run: files encoded without their sound and a stop are told apart.
std::string BatchSummaryText(const BatchCounts& counts);

// The profile of that description: the first exact match, or null. The
// dialog and the runner both find profiles by this rule.
const BatchProfile* FindBatchProfile(const std::vector<BatchProfile>& profiles, const std::string& description);

// The folder as an absolute path (relative to the current directory now).
std::string AbsoluteFolder(const std::string& folder);

// The index of the current profile among `profiles` (the last exact match), or `fallback`.
int FindBatchProfileIndex(const std::vector<BatchProfile>& profiles, const std::string& currentDescription,
                          int fallback);

// What the batch dialog hands over when the user starts.
struct BatchStartRequest {
    bool suppressErrors = true;
    int selectedIndex = 0;
    std::string selectedDescription;
    std::string outputFolder;
};

// The dialog's starting values: the current profile when the list holds it
// (also stored in BatchProfileIndex), else the first; the last output folder;
// errors suppressed.
BatchStartRequest InitialBatchRequest(const std::vector<BatchProfile>& profiles,
                                      const std::string& currentDescription);

struct BatchProcessHooks {
    BatchRunHooks run;
    // Opens the log for reading after the user asked to see it.
    std::function<void(const std::string& logFile)> openLog;
    // After the last entry: the form back, files accepted again.
    std::function<void()> endOfBatch;
};

// Everything after the dialog's "Start": start profile, log, job list,
// summary box. BatchMode is above 0 while it runs and 0 afterwards.
BatchCounts RunBatchProcess(const BatchStartRequest& request, const std::vector<BatchProfile>& profiles,
                            const BatchProcessHooks& hooks);

// What one batch job needs of the view and the job driver.
struct BatchEntryHooks {
    std::function<bool()> previewWindowOpen;
    int* encodingActive = nullptr;              // the view's word: 1 while any encoding runs
    std::function<bool()> applyToParameters;    // the form's values into the settings
    // Preview counters cleared, view repainted, panes, progress panel, form hidden, dropping off.
    std::function<void()> prepareViews;
    std::function<int()> runEncoding;           // the job; its result, 0 on success, kBatchJobRefused
    std::function<void(int statusTextId)> restoreViews;  // after the job: form back, status text, dropping on
    std::function<void()> relayoutViews;        // repaint and lay out once the job is over
};

// Encodes the job the current settings describe, logs how it ended and sets
// BatchJobSucceeded.
void RunBatchEntry(const BatchEntryHooks& hooks);

// The end of one job of a batch: the log line that says how it ended (and
// the elementary streams a failed job left), and BatchJobSucceeded from the
// stop flags and the job's result.
void FinishBatchEntry(bool applied, int jobResult);
