// The record of the work files and folders this program makes, kept in its
// settings folder: a job that was killed leaves the record behind, and the next
// job removes what it names once its owner is known to be gone.
#include "platform/System.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/Ini.h"

namespace fs = std::filesystem;

namespace platform {

namespace {

// A record file holds one header line naming its owner, then one line per event:
// "N <path>" before a work path is made, "C <dev> <ino> <path>" once it exists and
// "D <path>" when it was put in place or removed (a folder with everything below it);
// "H <path>" for a file a running job reads back (its temporary streams), held while
// the owner keeps an exclusive flock on its record, and "R <path>" when let go.
constexpr char kHeader[] = "tessmar work record 1";

std::string FirstLine(const char* file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

std::string HostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return "unknown";
    return name;
}

// The start time of a process in clock ticks after boot, "" when it does not run.
std::string ProcessStart(long pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    std::getline(in, stat);
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) return std::string();
    std::istringstream fields(stat.substr(close + 1));
    std::string field;
    // After the name: state is field 3, the start time field 22.
    for (int n = 3; n <= 22 && fields >> field; ++n)
        if (n == 22) return field;
    return std::string();
}

std::string PidNamespace() {
    char link[64] = {};
    const ssize_t n = ::readlink("/proc/self/ns/pid", link, sizeof link - 1);
    return n > 0 ? std::string(link, static_cast<size_t>(n)) : std::string();
}

// Paths are written with '\' and line breaks escaped, so that any name fits one line.
std::string Escape(const std::string& path) {
    std::string out;
    for (char c : path) {
        if (c == '\\') out += "\\\\";
        else if (c == '\n') out += "\\n";
        else out += c;
    }
    return out;
}

std::string Unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            out += text[i + 1] == 'n' ? '\n' : text[i + 1];
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

struct Owner {
    std::string host, machine, boot, pidNamespace, pid, start;

    std::string Line() const {
        return std::string(kHeader) + "\t" + Escape(host) + "\t" + machine + "\t" + boot + "\t" + pidNamespace + "\t" +
               pid + "\t" + start;
    }
    static bool Parse(const std::string& line, Owner& owner) {
        std::vector<std::string> parts;
        std::istringstream in(line);
        for (std::string part; std::getline(in, part, '\t');) parts.push_back(part);
        if (parts.size() != 7 || parts[0] != kHeader) return false;
        owner = {Unescape(parts[1]), parts[2], parts[3], parts[4], parts[5], parts[6]};
        return !owner.pid.empty() && !owner.start.empty();
    }
};

Owner ThisProcess() {
    return {HostName(), FirstLine("/etc/machine-id"), FirstLine("/proc/sys/kernel/random/boot_id"), PidNamespace(),
            std::to_string(::getpid()), ProcessStart(::getpid())};
}

// True only when the owner ran on this machine and is surely gone; a process of
// another machine or of a process namespace this one cannot see keeps its files.
bool OwnerIsGone(const Owner& owner, const Owner& self) {
    if (owner.host != self.host || owner.machine != self.machine) return false;
    if (owner.boot != self.boot) return !self.boot.empty();
    if (owner.pidNamespace != self.pidNamespace) return false;
    char* end = nullptr;
    const long pid = std::strtol(owner.pid.c_str(), &end, 10);
    if (pid <= 0 || *end != '\0') return false;
    return ProcessStart(pid) != owner.start;
}

struct Live {
    std::string recordFile;
};

// This process's live entries, by absolute path. A child made by fork starts
// with none: what the parent made stays the parent's.
struct State {
    std::mutex lock;
    pid_t pid = 0;
    std::map<std::string, Live> live;
    std::map<std::string, int> perRecord;  // live entries per record file (a hold counts as one)
    Owner self;
    // The paths this process holds, the record naming them and the descriptor of its lock.
    std::vector<std::pair<std::string, std::string>> held;  // {key, path as asked}
    std::string heldRecord;
    int heldFd = -1;

    void Own() {
        if (pid == ::getpid()) return;
        pid = ::getpid();
        live.clear();
        perRecord.clear();
        // A child's copy of the parent's lock descriptor is closed, never unlocked:
        // the lock stays the parent's.
        if (heldFd >= 0) ::close(heldFd);
        heldFd = -1;
        held.clear();
        heldRecord.clear();
        self = ThisProcess();
    }
};

State& Records() {
    static State* state = new State;
    return *state;
}

std::string Absolute(const std::string& path) {
    std::error_code ec;
    const fs::path absolute = fs::absolute(path.empty() ? fs::path(".") : fs::path(path), ec);
    return (ec ? fs::path(path) : absolute).lexically_normal().string();
}

bool IsBelow(const std::string& path, const std::string& folder) {
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/';
}

bool AppendLine(const std::string& file, const std::string& line) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const std::string text = line + "\n";
    const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    return ::close(fd) == 0 && ok;
}

// The record file of this process in the settings folder, made with its header; "" when it cannot be.
std::string RecordFileFor(State& s) {
    std::error_code ec;
    const fs::path folder = ConfigDir() / "work-files";
    const std::string file = (folder / (s.self.host + "." + s.self.pid + "." + s.self.start)).string();
    if (s.perRecord.count(file) != 0 && fs::exists(file, ec)) return file;
    // Another process removes the folder when it empties it: made again once if it went meanwhile.
    for (int attempt = 0; attempt < 2; ++attempt) {
        fs::create_directories(folder, ec);
        if (AppendLine(file, s.self.Line())) {
            s.perRecord.emplace(file, 0);
            return file;
        }
        if (errno != ENOENT) break;
    }
    return std::string();
}

// One use of `record` ended.
void ReleaseRecord(State& s, const std::string& record) {
    auto count = s.perRecord.find(record);
    if (count != s.perRecord.end() && --count->second <= 0) {
        // Nothing of this process is left in it: the record goes too, and its folder when empty.
        ::unlink(record.c_str());
        ::rmdir(fs::path(record).parent_path().c_str());
        s.perRecord.erase(count);
    }
}

void Drop(State& s, std::map<std::string, Live>::iterator it) {
    const std::string record = it->second.recordFile;
    s.live.erase(it);
    ReleaseRecord(s, record);
}

bool NoteLocked(State& s, const std::string& absolute) {
    if (s.live.count(absolute) != 0) return true;
    const std::string record = RecordFileFor(s);
    if (record.empty() || !AppendLine(record, "N " + Escape(absolute))) return false;
    s.live[absolute] = {record};
    ++s.perRecord[record];
    return true;
}

void ConfirmLocked(State& s, const std::string& absolute) {
    auto it = s.live.find(absolute);
    struct stat st {};
    if (it == s.live.end() || ::lstat(absolute.c_str(), &st) != 0) return;
    AppendLine(it->second.recordFile, "C " + std::to_string(st.st_dev) + " " + std::to_string(st.st_ino) + " " +
                                          Escape(absolute));
}

struct RecordedEntry {
    bool confirmed = false;
    dev_t dev = 0;
    ino_t ino = 0;
};

// A descriptor closed when it goes out of scope.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        if (this != &other) {
            if (fd_ >= 0) ::close(fd_);
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

// The names of an absolute path; false when one is empty, "." or "..": a path this
// program noted is written without them, so such a line was not written by it.
bool PlainNames(const std::string& path, std::vector<std::string>& names) {
    names.clear();
    if (path.size() < 2 || path[0] != '/') return false;
    std::istringstream in(path.substr(1));
    for (std::string name; std::getline(in, name, '/');) {
        if (name.empty() || name == "." || name == "..") return false;
        names.push_back(name);
    }
    return !names.empty();
}

// The folder holding the last of `names`, opened by its path.
Descriptor OpenParent(const std::vector<std::string>& names) {
    std::string parent;
    for (size_t i = 0; i + 1 < names.size(); ++i) parent += "/" + names[i];
    return Descriptor(::open(parent.empty() ? "/" : parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

bool IsOurs(const struct stat& st, const RecordedEntry& entry) {
    return st.st_uid == ::getuid() && (!entry.confirmed || (st.st_dev == entry.dev && st.st_ino == entry.ino));
}

// A confirmed folder of the record, opened only when it is still the folder the
// record confirmed (a link put in its place is not followed).
Descriptor OpenConfirmedFolder(const std::vector<std::string>& names, const RecordedEntry& entry) {
    Descriptor parent = OpenParent(names);
    if (parent.get() < 0) return Descriptor();
    Descriptor folder(
        ::openat(parent.get(), names.back().c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (folder.get() < 0 || ::fstat(folder.get(), &st) != 0 || !IsOurs(st, entry)) return Descriptor();
    return folder;
}

// Removes one recorded path when it is provably the program's: it lies in a confirmed
// folder, reached from that folder one name at a time without following a link, or
// it is the very file the record confirmed. A link is removed itself, never what it
// names; a folder only when empty. Returns 1 when it went.
int RemoveRecordedPath(const std::string& path, const RecordedEntry& entry,
                       const std::map<std::string, RecordedEntry>& entries) {
    std::vector<std::string> names, folderNames;
    if (!PlainNames(path, names)) return 0;
    Descriptor dir;
    size_t walked = names.size() - 1;
    // The outermost confirmed folder first: the map holds a folder before what lies in it.
    for (const auto& [folder, folderEntry] : entries) {
        if (!folderEntry.confirmed || !IsBelow(path, folder) || !PlainNames(folder, folderNames)) continue;
        dir = OpenConfirmedFolder(folderNames, folderEntry);
        if (dir.get() >= 0) {
            walked = folderNames.size();
            break;
        }
    }
    if (dir.get() < 0) {
        if (!entry.confirmed) return 0;
        dir = OpenParent(names);
    }
    for (size_t i = walked; dir.get() >= 0 && i + 1 < names.size(); ++i)
        dir = Descriptor(::openat(dir.get(), names[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (dir.get() < 0 || ::fstatat(dir.get(), names.back().c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !IsOurs(st, entry))
        return 0;
    return ::unlinkat(dir.get(), names.back().c_str(), S_ISDIR(st.st_mode) ? AT_REMOVEDIR : 0) == 0 ? 1 : 0;
}

// Removes what one dead owner's record names: a path whose identity the record
// confirmed, or one noted inside a confirmed folder of it; folders only once empty.
int RemoveRecorded(const std::string& recordFile) {
    std::ifstream in(recordFile);
    std::string line;
    std::getline(in, line);
    std::map<std::string, RecordedEntry> entries;
    while (std::getline(in, line)) {
        if (line.size() < 3 || line[1] != ' ') continue;
        const std::string rest = line.substr(2);
        if (line[0] == 'N') {
            entries.emplace(Unescape(rest), RecordedEntry{});
        } else if (line[0] == 'C') {
            std::istringstream fields(rest);
            unsigned long long dev = 0, ino = 0;
            if (!(fields >> dev >> ino)) continue;
            std::string path;
            std::getline(fields, path);
            if (!path.empty() && path[0] == ' ') path.erase(0, 1);
            auto it = entries.find(Unescape(path));
            if (it != entries.end()) it->second = {true, static_cast<dev_t>(dev), static_cast<ino_t>(ino)};
        } else if (line[0] == 'D') {
            const std::string path = Unescape(rest);
            for (auto it = entries.begin(); it != entries.end();)
                it = it->first == path || IsBelow(it->first, path) ? entries.erase(it) : std::next(it);
        }
    }
    // Deepest first, so that a folder is empty when its turn comes.
    int removed = 0;
    for (auto it = entries.rbegin(); it != entries.rend(); ++it)
        removed += RemoveRecordedPath(it->first, it->second, entries);
    return removed;
}

// The name a held path is known by: the same for every spelling of one file.
std::string HoldKey(const std::string& path) {
    std::error_code ec;
    const fs::path canonical = fs::weakly_canonical(Absolute(path), ec);
    return ec ? Absolute(path) : canonical.lexically_normal().string();
}

// The paths a record holds now: its "H" lines less its "R" lines.
std::set<std::string> HeldIn(const std::string& recordFile) {
    std::ifstream in(recordFile);
    std::string line;
    std::set<std::string> held;
    while (std::getline(in, line)) {
        if (line.size() < 3 || line[1] != ' ') continue;
        if (line[0] == 'H') held.insert(Unescape(line.substr(2)));
        else if (line[0] == 'R') held.erase(Unescape(line.substr(2)));
    }
    return held;
}

// Whether the owner of `recordFile` keeps its lock now: its job runs.
bool RecordLocked(const std::string& recordFile) {
    Descriptor fd(::open(recordFile.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (fd.get() < 0) return false;
    if (::flock(fd.get(), LOCK_SH | LOCK_NB) == 0) return false;
    return errno == EWOULDBLOCK;
}

void ReleaseLocked(State& s) {
    if (s.heldFd < 0) return;
    for (const auto& [key, path] : s.held) AppendLine(s.heldRecord, "R " + Escape(key));
    // The release lines are written before the lock goes.
    ::flock(s.heldFd, LOCK_UN);
    ::close(s.heldFd);
    s.heldFd = -1;
    s.held.clear();
    ReleaseRecord(s, s.heldRecord);
    s.heldRecord.clear();
}

}  // namespace

bool RecordWorkPath(const std::string& path) {
    State& s = Records();
    std::lock_guard guard(s.lock);
    s.Own();
    return NoteLocked(s, Absolute(path));
}

void NoteWorkPath(const std::string& path) {
    State& s = Records();
    std::lock_guard guard(s.lock);
    s.Own();
    const std::string absolute = Absolute(path);
    for (const auto& [folder, entry] : s.live)
        if (IsBelow(absolute, folder)) {
            NoteLocked(s, absolute);
            return;
        }
}

void ConfirmWorkPath(const std::string& path) {
    State& s = Records();
    std::lock_guard guard(s.lock);
    s.Own();
    ConfirmLocked(s, Absolute(path));
}

void ForgetWorkPath(const std::string& path) {
    State& s = Records();
    std::lock_guard guard(s.lock);
    s.Own();
    const std::string absolute = Absolute(path);
    for (auto it = s.live.begin(); it != s.live.end();) {
        if (it->first != absolute && !IsBelow(it->first, absolute)) {
            ++it;
            continue;
        }
        auto next = std::next(it);
        // The drop is written before the count may remove the record file.
        if (s.perRecord[it->second.recordFile] > 1) AppendLine(it->second.recordFile, "D " + Escape(it->first));
        Drop(s, it);
        it = next;
    }
}

bool IsRecordedWorkPath(const std::string& path) {
    State& s = Records();
    std::lock_guard guard(s.lock);
    s.Own();
    return s.live.count(Absolute(path)) != 0;
}

bool HoldWorkPaths(const std::vector<std::string>& paths, std::string* heldElsewhere, int* error) {
    State& s = Records();
    std::lock_guard guard(s.lock);
    s.Own();
    ReleaseLocked(s);
    if (heldElsewhere) heldElsewhere->clear();
    if (error) *error = 0;
    if (paths.empty()) return true;
    const std::string record = RecordFileFor(s);
    Descriptor fd(record.empty() ? -1 : ::open(record.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    // Others only test the lock, never wait on it: this wait is short.
    if (fd.get() < 0 || ::flock(fd.get(), LOCK_EX) != 0) {
        if (error) *error = errno;
        return false;
    }
    ++s.perRecord[record];
    s.heldRecord = record;
    s.heldFd = fd.release();
    for (const std::string& path : paths) {
        s.held.emplace_back(HoldKey(path), path);
        if (!AppendLine(record, "H " + Escape(s.held.back().first))) {
            if (error) *error = errno;
            ReleaseLocked(s);
            return false;
        }
    }
    // Held and noted first, then looked for elsewhere: of two jobs that start at
    // once, one at least sees the other.
    std::error_code ec;
    for (fs::directory_iterator it(fs::path(record).parent_path(), ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
        const std::string other = it->path().string();
        if (other == record) continue;
        const std::set<std::string> theirs = HeldIn(other);
        for (const auto& [key, path] : s.held) {
            if (theirs.count(key) == 0 || !RecordLocked(other)) continue;
            if (heldElsewhere) *heldElsewhere = path;
            ReleaseLocked(s);
            return false;
        }
    }
    return true;
}

void ReleaseWorkPaths() {
    State& s = Records();
    std::lock_guard guard(s.lock);
    s.Own();
    ReleaseLocked(s);
}

int RemoveStaleWorkFiles() {
    State& s = Records();
    Owner self;
    {
        std::lock_guard guard(s.lock);
        s.Own();
        self = s.self;
    }
    std::error_code ec;
    int removed = 0;
    for (fs::directory_iterator it(ConfigDir() / "work-files", ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
        const std::string file = it->path().string();
        Owner owner;
        if (!Owner::Parse(FirstLine(file.c_str()), owner) || !OwnerIsGone(owner, self)) continue;
        removed += RemoveRecorded(file);
        ::unlink(file.c_str());
    }
    ::rmdir((ConfigDir() / "work-files").c_str());
    return removed;
}

}  // namespace platform
