// Job entries and the batch list file format.
#include "app/BatchList.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "platform/FileReplace.h"
#include "platform/MessageBox.h"
#include "platform/ResStrings.h"

std::vector<std::string> BatchJobList;
std::string LastBatchListPath;

namespace {

std::string WithoutLeadingBlanks(const std::string& text) {
    size_t first = text.find_first_not_of(' ');
    return first == std::string::npos ? std::string() : text.substr(first);
}

// Entries that name a profile file by its path, and at-sign entries, stay as
// they were read: a "*" would turn them into descriptions nobody has.
bool KeptAsWritten(const std::string& text) { return !text.empty() && (text[0] == '/' || text[0] == '@'); }

// Whole lines, line ends stripped; a long line is never split into two.
bool ReadLine(std::istream& in, std::string& line) {
    if (!std::getline(in, line)) return false;
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    return true;
}

}  // namespace

bool IsAviEntry(const std::string& entry) { return entry.find(".avi") != std::string::npos; }

void ConvertJobEntries(std::vector<std::string>& entries, bool toDisplay) {
    for (std::string& entry : entries) {
        if (toDisplay) {
            if (IsAviEntry(entry))
                entry = "     " + entry;
            else if (!entry.empty() && entry[0] == '*')
                entry[0] = ' ';
            else
                entry = " " + entry;  // a profile path or an at-sign entry keeps its first character
        } else {
            std::string text = WithoutLeadingBlanks(entry);
            if (IsAviEntry(text) || KeptAsWritten(text))
                entry = text;
            else
                entry = "*" + text;
        }
    }
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
    long count = std::strtol(header[5].c_str(), nullptr, 10);
    read.entries.clear();
    for (long i = 0; i < count; ++i) {
        if (!ReadLine(in, line)) return BatchListStatus::BadEndTag;
        if (!line.empty()) read.entries.push_back(line);
    }
    if (!ReadLine(in, line) || line != LoadResString(63243)) return BatchListStatus::BadEndTag;
    contents = std::move(read);
    return BatchListStatus::Ok;
}

BatchListStatus WriteBatchListFile(const std::filesystem::path& file, const BatchListContents& contents) {
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

bool SaveJobList(const std::string& name, const BatchListContents& displayed) {
    if (!AcceptListName(name)) return false;
    BatchListContents stored = displayed;
    ConvertJobEntries(stored.entries, false);
    BatchListStatus status = WriteBatchListFile(name, stored);
    if (status == BatchListStatus::Ok) return true;
    platform::ShowMessageBox(BatchListStatusMessage(status, name), "");
    return false;
}

bool LoadJobList(const std::string& name, BatchListContents& displayed) {
    if (!AcceptListName(name)) return false;
    BatchListContents read = displayed;
    BatchListStatus status = ReadBatchListFile(name, read);
    if (status != BatchListStatus::Ok) {
        platform::ShowMessageBox(BatchListStatusMessage(status, name), "");
        return false;
    }
    ConvertJobEntries(read.entries, true);
    displayed = std::move(read);
    return true;
}
