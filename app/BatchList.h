// Job lists of the batch: the two forms of an entry and the ".btc" batch
// list file.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

// An entry is an AVI entry exactly when it contains ".avi" (lower case);
// every other entry names a profile.
bool IsAviEntry(const std::string& entry);

// Between the storage form ("*description" or the AVI path) and the display
// form (" description" or five blanks and the AVI path). Profile paths and
// at-sign entries keep their text in both forms.
void ConvertJobEntries(std::vector<std::string>& entries, bool toDisplay);

struct BatchListContents {
    int suppressErrors = 1;
    std::string outputFolder;
    std::string profileDescription;  // of the start profile
    std::vector<std::string> entries;  // storage form
};

enum class BatchListStatus { Ok, OpenFailed, NotAJobList, BadEndTag, WriteFailed };

// Reads a batch list file. Only a complete, well-formed file changes
// `contents`: empty folder and description lines keep the values it holds,
// empty job lines are dropped.
BatchListStatus ReadBatchListFile(const std::filesystem::path& file, BatchListContents& contents);
// Writes the file with LF line ends; any failed write, flush or close is WriteFailed.
BatchListStatus WriteBatchListFile(const std::filesystem::path& file, const BatchListContents& contents);

// The message text for a failed load or save of `file` ("" for Ok).
std::string BatchListStatusMessage(BatchListStatus status, const std::string& file);

// Names chosen for saving or loading: 63238 when longer than 255 characters,
// 63239 when shorter than 2, else 0.
int CheckBatchListName(const std::string& name);

// The batch dialog's save and load of a job list whose entries are in display
// form: the name checks, the file, and a message box for every failure.
// LastBatchListPath takes every name that passes the checks.
bool SaveJobList(const std::string& name, const BatchListContents& displayed);
bool LoadJobList(const std::string& name, BatchListContents& displayed);

// The dialog's job list, kept for the whole run of the program.
extern std::vector<std::string> BatchJobList;
extern std::string LastBatchListPath;
