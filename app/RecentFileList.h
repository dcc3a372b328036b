// The list of recently used profiles: newest first, each a full path (or a
// profile's description), kept in the settings file.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

class RecentFileList {
public:
    explicit RecentFileList(int size) : entries_(static_cast<size_t>(size)) {}

    int Size() const { return static_cast<int>(entries_.size()); }
    const std::string& operator[](int index) const { return entries_[static_cast<size_t>(index)]; }
    const std::vector<std::string>& Entries() const { return entries_; }

    // Moves the path to the top (or enters it there); a relative path of a
    // file is entered as its full path. An entry that opens the same profile
    // (the same file by another name or link, or the profile's description)
    // gives way to it: a profile is listed once.
    void Add(const std::string& path);
    // How a description names a profile file: the file's path, or empty.
    void SetDescriptionLookup(std::function<std::string(const std::string& description)> lookup) {
        descriptionLookup_ = std::move(lookup);
    }
    void Remove(int index);
    // Removes every entry equal to `path` without regard to case.
    void RemoveByName(const std::string& path);
    // Every entry equal to `from` without regard to case becomes `to`, in its place.
    void ReplaceName(const std::string& from, const std::string& to);
    // The newest entry becomes `path`; the others keep their order.
    void ReplaceMostRecent(const std::string& path);

    // "Recent File List", keys "File1".."FileN", in the settings file.
    void ReadList(const std::filesystem::path& file);
    bool WriteList(const std::filesystem::path& file) const;

private:
    void AddOnly(const std::string& path);
    // What an entry opens: the file it names with links resolved, the file of
    // the profile it describes, else the entry itself.
    std::string Identity(const std::string& entry) const;
    std::vector<std::string> entries_;
    std::function<std::string(const std::string&)> descriptionLookup_;
};

// The menu texts: "&1 " .. "&9 ", "&0 " and on, each "&" of a path doubled.
// Empty entries end the list; an empty result means the single disabled item.
std::vector<std::string> RecentFileMenuLabels(const RecentFileList& list);

// Why a recent profile may not be opened now: 64050 while encoding or paused,
// 64051 while an output play window is open, 0 when it may.
int RecentFileOpenRefusal(int runState, int pauseFlag, int outputPlayWindowCount);
