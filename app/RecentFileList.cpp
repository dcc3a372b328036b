// Recent-file list operations and their menu texts.
#include "app/RecentFileList.h"

#include <algorithm>
#include <strings.h>
#include <system_error>

#include "platform/Format.h"
#include "platform/Ini.h"

namespace {

std::string CurrentDirectoryWithoutSlash() {
    std::error_code ec;
    std::string directory = std::filesystem::current_path(ec).string();
    if (ec) return std::string();
    while (directory.size() > 1 && directory.back() == '/') directory.pop_back();
    return directory;
}

}  // namespace

void RecentFileList::AddOnly(const std::string& path) {
    if (entries_.empty() || path.empty()) return;
    auto found = std::find(entries_.begin(), entries_.end(), path);
    if (found == entries_.end()) found = entries_.end() - 1;
    std::rotate(entries_.begin(), found, found + 1);
    entries_.front() = path;
}

void RecentFileList::Add(const std::string& path) {
    AddOnly(path);
    StripDirectory(CurrentDirectoryWithoutSlash());
}

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

void RecentFileList::StripDirectory(const std::string& directory) {
    if (directory.size() < 2) return;
    const size_t cut = directory.size() + 1;
    for (std::string& entry : entries_) {
        // The directory must end at a separator: "/work" is no prefix of "/workshop/a".
        if (entry.size() > directory.size() + 2 && entry.compare(0, directory.size(), directory) == 0 &&
            entry[directory.size()] == '/' && entry.size() - cut >= 2)
            entry = entry.substr(cut);
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
                                      entries_[static_cast<size_t>(i)], file) &&
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
