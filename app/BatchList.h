// Job lists of the batch: the two forms of an entry and the ".btc" batch
// list file.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

// What a job entry in storage form names. One rule for the dialog, the
// list files and the runner: "*" starts a profile description; otherwise the
// extension decides, without regard to case (".prf" a profile file, ".avi" an
// AVI file); an at sign starts an entry the runner looks ahead at like a
// profile. Anything else is encoded like an AVI file (and refused there).
enum class JobEntryKind { Description, ProfilePath, AtSign, Avi, Other };
JobEntryKind ClassifyJobEntry(const std::string& entry);
bool IsAviEntry(const std::string& entry);
// A description or a profile file: the entries that load a profile.
bool IsProfileEntry(const std::string& entry);

// The display form of a stored entry: a profile (description or file) after
// one blank ("*" dropped from a description), anything else after five.
std::string DisplayJobEntry(const std::string& entry);
// The stored entry a display-form line stands for: five blanks mark a
// path kept as written; after one blank, a profile file stays a path and
// any other text is a description.
std::string StoredJobEntry(const std::string& displayed);
// Rewrites every entry between the two forms.
void ConvertJobEntries(std::vector<std::string>& entries, bool toDisplay);

struct BatchListContents {
    int suppressErrors = 1;
    std::string outputFolder;
    std::string profileDescription;  // of the start profile
    std::vector<std::string> entries;  // storage form
};

enum class BatchListStatus { Ok, OpenFailed, NotAJobList, BadEndTag, WriteFailed, Unstorable };

// Reads a batch list file. Only a complete, well-formed file changes
// `contents`: empty folder and description lines keep the values it holds,
// empty job lines are dropped. A count that is not a number of lines present
// before the end line makes the file invalid (BadEndTag).
BatchListStatus ReadBatchListFile(const std::filesystem::path& file, BatchListContents& contents);
// The first value the file cannot hold as one line of its own (a line break,
// or the text of the end line); "" when every value can be stored.
std::string UnstorableBatchListValue(const BatchListContents& contents);
// Writes the file with LF line ends; any failed write, flush or close is
// WriteFailed. A list with an unstorable value is Unstorable and the file is
// left as it was.
BatchListStatus WriteBatchListFile(const std::filesystem::path& file, const BatchListContents& contents);

// The message text for a failed load or save of `file` ("" for Ok).
std::string BatchListStatusMessage(BatchListStatus status, const std::string& file);

// Names chosen for saving or loading: 63238 when longer than 255 characters,
// 63239 when shorter than 2, else 0.
int CheckBatchListName(const std::string& name);

// The batch dialog's save and load of a job list (storage form): the name
// checks, the file, and a message box for every failure. LastBatchListPath
// takes every name that passes the checks; a failed load changes nothing.
bool SaveJobList(const std::string& name, const BatchListContents& contents);
bool LoadJobList(const std::string& name, BatchListContents& contents);

// The dialog's job list, kept for the whole run of the program.
extern std::vector<std::string> BatchJobList;
extern std::string LastBatchListPath;
