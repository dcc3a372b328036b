// Job entries and the batch list file format.
#include "app/BatchList.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "platform/FileReplace.h"
#include "platform/Format.h"
#include "platform/MessageBox.h"
#include "platform/ResStrings.h"

std::vector<std::string> BatchJobList;
std::string LastBatchListPath;

namespace {

bool HasExtension(const std::string& text, const char* extension) {
    const size_t n = std::strlen(extension);
    if (text.size() < n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(text[text.size() - n + i])) != extension[i]) return false;
    return true;
}

// Whole lines, line ends stripped; a long line is never split into two.
bool ReadLine(std::istream& in, std::string& line) {
    if (!std::getline(in, line)) return false;
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    return true;
}

const char kPathIndent[] = "     ";

}  // namespace

JobEntryKind ClassifyJobEntry(const std::string& entry) {
    if (!entry.empty() && entry[0] == '*') return JobEntryKind::Description;
    if (HasExtension(entry, ".prf")) return JobEntryKind::ProfilePath;
    if (!entry.empty() && entry[0] == '@') return JobEntryKind::AtSign;
    if (HasExtension(entry, ".avi")) return JobEntryKind::Avi;
    return JobEntryKind::Other;
}

bool IsAviEntry(const std::string& entry) { return ClassifyJobEntry(entry) == JobEntryKind::Avi; }

bool IsProfileEntry(const std::string& entry) {
    const JobEntryKind kind = ClassifyJobEntry(entry);
    return kind == JobEntryKind::Description || kind == JobEntryKind::ProfilePath;
}

std::string DisplayJobEntry(const std::string& entry) {
    switch (ClassifyJobEntry(entry)) {
    case JobEntryKind::Description: return " " + entry.substr(1);
    case JobEntryKind::ProfilePath: return " " + entry;
    default: return kPathIndent + entry;
    }
}

std::string StoredJobEntry(const std::string& displayed) {
    if (displayed.rfind(kPathIndent, 0) == 0) return displayed.substr(sizeof kPathIndent - 1);
    std::string text = !displayed.empty() && displayed[0] == ' ' ? displayed.substr(1) : displayed;
    if (ClassifyJobEntry(text) == JobEntryKind::ProfilePath) return text;
    return "*" + text;
}

void ConvertJobEntries(std::vector<std::string>& entries, bool toDisplay) {
    for (std::string& entry : entries) entry = toDisplay ? DisplayJobEntry(entry) : StoredJobEntry(entry);
}

BatchListStatus ReadBatchListFile(const std::filesystem::path& file, BatchListContents& contents) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return BatchListStatus::OpenFailed;
    std::string line;
    if (!ReadLine(in, line) || line != LoadResString(63241)) return BatchListStatus::NotAJobList;

    std::string header[6];  // lines 2 to 7
    for (std::string& text : header) {
        if (!ReadLine(in, text)) return BatchListStatus::BadEndTag;
    }
    BatchListContents read = contents;
    read.suppressErrors = std::atoi(header[0].c_str()) != 0 ? 1 : 0;
    if (!header[1].empty()) read.outputFolder = header[1];
    if (!header[2].empty()) read.profileDescription = header[2];
    const long count = std::strtol(header[5].c_str(), nullptr, 10);
    if (count < 0) return BatchListStatus::BadEndTag;
    read.entries.clear();
    for (long i = 0; i < count; ++i) {
        // The end line is no entry: the count promised more lines than there are.
        if (!ReadLine(in, line) || line == LoadResString(63243)) return BatchListStatus::BadEndTag;
        if (!line.empty()) read.entries.push_back(line);
    }
    if (!ReadLine(in, line) || line != LoadResString(63243)) return BatchListStatus::BadEndTag;
    contents = std::move(read);
    return BatchListStatus::Ok;
}

std::string UnstorableBatchListValue(const BatchListContents& contents) {
    // Every value is one line; a line equal to the end line would end the list early.
    auto unstorable = [](const std::string& value) {
        return value.find_first_of("\r\n") != std::string::npos || value == LoadResString(63243);
    };
    if (unstorable(contents.outputFolder)) return contents.outputFolder;
    if (unstorable(contents.profileDescription)) return contents.profileDescription;
    for (const std::string& entry : contents.entries)
        if (unstorable(entry)) return entry;
    return std::string();
}

BatchListStatus WriteBatchListFile(const std::filesystem::path& file, const BatchListContents& contents) {
    if (!UnstorableBatchListValue(contents).empty()) return BatchListStatus::Unstorable;
    std::string text = LoadResString(63248);
    auto line = [&text](const std::string& value) {
        text += value;
        text += '\n';
    };
    line(std::to_string(contents.suppressErrors));
    line(contents.outputFolder);
    line(contents.profileDescription);
    line(LoadResString(63249));
    line(LoadResString(63250));
    line(std::to_string(static_cast<int>(contents.entries.size())));
    for (const std::string& entry : contents.entries) line(entry);
    text += LoadResString(63251);
    // A new file replaces the old list only once it is complete: a full disk keeps the earlier list.
    return platform::ReplaceFileContents(file, text) == platform::ReplaceStatus::Ok ? BatchListStatus::Ok
                                                                                   : BatchListStatus::WriteFailed;
}

std::string BatchListStatusMessage(BatchListStatus status, const std::string& file) {
    switch (status) {
    case BatchListStatus::Ok: return std::string();
    case BatchListStatus::OpenFailed: return LoadResString(63240);
    case BatchListStatus::NotAJobList: return LoadResString(63242);
    case BatchListStatus::BadEndTag: return LoadResString(63244);
    case BatchListStatus::WriteFailed:
        return std::string(LoadResString(63246)) + file + LoadResString(63247);
    case BatchListStatus::Unstorable: return platform::Format(LoadResString(64491), file.c_str());
    }
    return std::string();
}

int CheckBatchListName(const std::string& name) {
    if (name.size() > 255) return 63238;
    if (name.size() < 2) return 63239;
    return 0;
}

namespace {

bool AcceptListName(const std::string& name) {
    if (int id = CheckBatchListName(name)) {
        platform::ShowMessageBox(LoadResString(id), "");
        return false;
    }
    LastBatchListPath = name;
    return true;
}

}  // namespace

bool SaveJobList(const std::string& name, const BatchListContents& contents) {
    if (!AcceptListName(name)) return false;
    const std::string unstorable = UnstorableBatchListValue(contents);
    if (!unstorable.empty()) {
        platform::ShowMessageBox(platform::Format(LoadResString(64492), unstorable.c_str()), "");
        return false;
    }
    BatchListStatus status = WriteBatchListFile(name, contents);
    if (status == BatchListStatus::Ok) return true;
    platform::ShowMessageBox(BatchListStatusMessage(status, name), "");
    return false;
}

bool LoadJobList(const std::string& name, BatchListContents& contents) {
    if (!AcceptListName(name)) return false;
    BatchListStatus status = ReadBatchListFile(name, contents);
    if (status == BatchListStatus::Ok) return true;
    platform::ShowMessageBox(BatchListStatusMessage(status, name), "");
    return false;
}
