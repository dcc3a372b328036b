// Recent-file list operations and their menu texts.
#include "app/RecentFileList.h"

#include <algorithm>
#include <strings.h>
#include <system_error>

#include "platform/Format.h"
#include "platform/Ini.h"

namespace {

// A path relative to the working folder is kept absolute: the folder changes
// with each dropped file and batch, and the entry must still open after a
// restart elsewhere. Entries that name no file (descriptions) stay as they are.
std::string AbsoluteIfFile(const std::string& entry) {
    std::error_code ec;
    const std::filesystem::path path(entry);
    if (entry.empty() || path.is_absolute() || !std::filesystem::is_regular_file(path, ec)) return entry;
    const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    return ec ? entry : absolute.lexically_normal().string();
}

// The settings reader drops blanks around a value and one pair of quotes
// around it: an entry that would lose some is stored in quotes, which the
// reader takes off again, so it reads back as it was.
std::string StoredForm(const std::string& entry) {
    if (entry.empty()) return entry;
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    const bool changes = blank(entry.front()) || blank(entry.back()) || entry.front() == '"' || entry.front() == '\'';
    return changes ? '"' + entry + '"' : entry;
}

}  // namespace

void RecentFileList::AddOnly(const std::string& path) {
    // The settings file holds one entry per line: a name with a line break
    // cannot be stored there, so it is not remembered (the entries saved
    // beside it must not shift).
    if (entries_.empty() || path.empty() || path.find_first_of("\r\n") != std::string::npos) return;
    auto found = std::find(entries_.begin(), entries_.end(), path);
    const std::string identity = Identity(path);
    if (found == entries_.end())
        found = std::find_if(entries_.begin(), entries_.end(),
                             [&](const std::string& entry) { return !entry.empty() && Identity(entry) == identity; });
    if (found == entries_.end()) found = entries_.end() - 1;
    std::rotate(entries_.begin(), found, found + 1);
    entries_.front() = path;
    // Names that met only now (a link and its file both listed before) go too.
    for (int i = 1; i < Size();)
        if (!entries_[static_cast<size_t>(i)].empty() && Identity(entries_[static_cast<size_t>(i)]) == identity)
            Remove(i);
        else
            ++i;
}

std::string RecentFileList::Identity(const std::string& entry) const {
    std::error_code ec;
    std::filesystem::path file(entry);
    if (!std::filesystem::is_regular_file(file, ec) && descriptionLookup_) {
        const std::string described = descriptionLookup_(entry);
        if (described.empty()) return entry;
        file = described;
    }
    const std::filesystem::path real = std::filesystem::canonical(file, ec);
    return ec ? entry : real.string();
}

void RecentFileList::Add(const std::string& path) { AddOnly(AbsoluteIfFile(path)); }

void RecentFileList::Remove(int index) {
    if (index < 0 || index >= Size()) return;
    entries_.erase(entries_.begin() + index);
    entries_.emplace_back();
}

void RecentFileList::RemoveByName(const std::string& path) {
    for (int i = 0; i < Size();) {
        if (!entries_[static_cast<size_t>(i)].empty() &&
            strcasecmp(entries_[static_cast<size_t>(i)].c_str(), path.c_str()) == 0)
            Remove(i);  // the next entry moved into place i: test it too
        else
            ++i;
    }
}

void RecentFileList::ReplaceName(const std::string& from, const std::string& to) {
    if (to.empty() || to.find_first_of("\r\n") != std::string::npos) return;
    for (std::string& entry : entries_)
        if (!entry.empty() && strcasecmp(entry.c_str(), from.c_str()) == 0) entry = to;
    // The same name twice would show one profile twice: the newer place keeps it.
    for (size_t i = 0; i < entries_.size(); ++i)
        for (size_t j = i + 1; j < entries_.size();)
            if (!entries_[i].empty() && entries_[j] == entries_[i])
                Remove(static_cast<int>(j));
            else
                ++j;
}

void RecentFileList::ReplaceMostRecent(const std::string& path) {
    if (entries_.empty()) return;
    Remove(0);
    std::vector<std::string> readd{path};
    for (int i = 0; i < Size() - 2; ++i) {
        readd.push_back(entries_.front());
        Remove(0);
    }
    for (auto it = readd.rbegin(); it != readd.rend(); ++it) {
        if (it->empty()) continue;
        Add(*it);
    }
}

void RecentFileList::ReadList(const std::filesystem::path& file) {
    for (int i = 0; i < Size(); ++i)
        entries_[static_cast<size_t>(i)] =
            platform::IniReadString("Recent File List", platform::Format("File%d", i + 1), "", file);
}

bool RecentFileList::WriteList(const std::filesystem::path& file) const {
    bool ok = true;
    for (int i = 0; i < Size(); ++i)
        ok = platform::IniWriteString("Recent File List", platform::Format("File%d", i + 1),
                                      StoredForm(entries_[static_cast<size_t>(i)]), file) &&
             ok;
    return ok;
}

std::vector<std::string> RecentFileMenuLabels(const RecentFileList& list) {
    std::vector<std::string> labels;
    for (int i = 0; i < list.Size() && !list[i].empty(); ++i) {
        std::string label = platform::Format("&%d ", (i + 1) % 10);
        for (char c : list[i]) {
            label += c;
            if (c == '&') label += '&';
        }
        labels.push_back(label);
    }
    return labels;
}

int RecentFileOpenRefusal(int runState, int pauseFlag, int outputPlayWindowCount) {
    if (runState == 2 || pauseFlag == 1) return 64050;
    if (outputPlayWindowCount > 0) return 64051;
    return 0;
}
