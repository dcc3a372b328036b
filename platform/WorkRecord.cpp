// The record of the work files and folders this program makes, kept in its
// settings folder: a job that was killed leaves the record behind, and the next
// job removes what it names once its owner is known to be gone. The holds on
// temporary streams are lock files beside the streams themselves.
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

int (*FileLockCall)(int fd, int operation) = ::flock;

namespace {

int LockCall(int fd, int operation) { return FileLockCall(fd, operation); }

// A record file holds one header line naming its owner, then one line per event:
// "N <path>" before a work path is made, "C <dev> <ino> <path>" once it exists and
// "D <path>" when it was put in place or removed (a folder with everything below it).
// (Records of earlier versions may hold "H" and "R" lines too: they are not read.)
constexpr char kHeader[] = "tessmar work record 1";
// A record of this program is a few lines per work file: a file in the record
// folder that is larger is read up to this size, to its last whole line.
constexpr size_t kRecordLimit = 1 << 20;

std::string FirstLine(const char* file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// The text of a record file: a regular file of this user, opened without following a
// link and without waiting on a pipe or device, read up to kRecordLimit and cut after
// its last whole line. False for anything else.
bool ReadRecord(const std::string& file, std::string& text) {
    text.clear();
    const int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid();
    char buffer[65536];
    while (ok && text.size() < kRecordLimit) {
        const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, kRecordLimit - text.size()));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        text.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    if (!ok) return false;
    const size_t end = text.rfind('\n');
    text.resize(end == std::string::npos ? 0 : end + 1);
    return true;
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

// The lock file of a held path, open and locked; `made` when this process created it.
struct HeldLock {
    std::string file;
    int fd = -1;
    bool made = false;
};

// This process's live entries, by absolute path. A child made by fork starts
// with none: what the parent made stays the parent's.
struct State {
    std::mutex lock;
    pid_t pid = 0;
    std::map<std::string, Live> live;
    std::map<std::string, int> perRecord;  // live entries per record file (a hold counts as one)
    Owner self;
    // The record file this process writes now, under the settings folder's record folder.
    std::string record;
    std::vector<HeldLock> locks;

    void Own() {
        if (pid == ::getpid()) return;
        pid = ::getpid();
        live.clear();
        perRecord.clear();
        record.clear();
        // A child's copies of the parent's lock descriptors are closed, never unlocked:
        // the locks stay the parent's, and so do their files.
        for (const HeldLock& held : locks) ::close(held.fd);
        locks.clear();
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

bool WriteLine(int fd, const std::string& line) {
    const std::string text = line + "\n";
    return ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

// Appends to a record this process made: a link or a special file put at its name is not written to.
bool AppendLine(const std::string& file, const std::string& line) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    const bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && WriteLine(fd, line);
    return ::close(fd) == 0 && ok;
}

// The record file of this process in the settings folder, made with its header; "" with
// errno set when it cannot be. It is made new, never taken over: a name that holds a file
// (a link planted there, another's record) gives way to the next free one.
std::string RecordFileFor(State& s) {
    std::error_code ec;
    const fs::path folder = ConfigDir() / "work-files";
    struct stat st {};
    if (!s.record.empty() && fs::path(s.record).parent_path() == folder && s.perRecord.count(s.record) != 0 &&
        ::lstat(s.record.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        return s.record;
    const std::string base = (folder / (s.self.host + "." + s.self.pid + "." + s.self.start)).string();
    // Another process removes the folder when it empties it: made again if it went meanwhile.
    for (int attempt = 0, taken = 0; attempt < 3 && taken < 100;) {
        if (!fs::create_directories(folder, ec) && ec) {
            errno = ec.value();
            return std::string();
        }
        const std::string file = taken == 0 ? base : base + "." + std::to_string(taken);
        const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST) ++taken;
            else if (errno == ENOENT) ++attempt;
            else return std::string();
            continue;
        }
        const bool written = WriteLine(fd, s.self.Line());
        const int error = errno;
        if (::close(fd) != 0 || !written) {
            ::unlink(file.c_str());
            errno = written ? EIO : error;
            return std::string();
        }
        s.perRecord.emplace(file, 0);
        s.record = file;
        return file;
    }
    errno = EEXIST;
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
        if (s.record == record) s.record.clear();
    }
}

void Drop(State& s, std::map<std::string, Live>::iterator it) {
    const std::string record = it->second.recordFile;
    s.live.erase(it);
    ReleaseRecord(s, record);
}

void ForgetLocked(State& s, const std::string& absolute) {
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
    // A file a running job keeps locked (the lock file of a hold that job took over) stays;
    // the lock is kept while the name goes, as its maker does.
    Descriptor file;
    if (S_ISREG(st.st_mode)) {
        file = Descriptor(::openat(dir.get(), names.back().c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat opened {};
        if (file.get() < 0 || ::fstat(file.get(), &opened) != 0 || opened.st_dev != st.st_dev ||
            opened.st_ino != st.st_ino)
            return 0;
        if (LockCall(file.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) return 0;
    }
    return ::unlinkat(dir.get(), names.back().c_str(), S_ISDIR(st.st_mode) ? AT_REMOVEDIR : 0) == 0 ? 1 : 0;
}

// Removes what one dead owner's record names: a path whose identity the record
// confirmed, or one noted inside a confirmed folder of it; folders only once empty.
int RemoveRecorded(const std::string& record) {
    std::istringstream in(record);
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

// The lock file beside `path` that every job writing it meets, whatever its settings
// folder: "<name>.lock" in the folder of the file the path names (links followed),
// the name cut to fit the folder's limit.
std::string LockFileFor(const std::string& path) {
    const fs::path key(HoldKey(path));
    std::string name = key.filename().string();
    const long max = ::pathconf(key.parent_path().c_str(), _PC_NAME_MAX);
    const size_t room = (max > 5 ? static_cast<size_t>(max) : 255) - 5;
    if (name.size() > room) name.resize(room);
    return (key.parent_path() / (name + ".lock")).string();
}

bool SameInode(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Gives a lock up: a lock file this process made goes first, while it is still locked,
// so that whoever opened it meanwhile finds it gone once the lock is theirs and starts again.
void Unlock(State& s, const HeldLock& held) {
    struct stat at {}, opened {};
    if (held.made && ::lstat(held.file.c_str(), &at) == 0 && ::fstat(held.fd, &opened) == 0 &&
        SameInode(at, opened))
        ::unlink(held.file.c_str());
    if (held.made) ForgetLocked(s, Absolute(held.file));
    ::close(held.fd);
}

enum class Lock { Held, HeldElsewhere, Failed };

// Takes the lock beside `path`: made new when nothing is there (noted in the record, so that
// a clean-up after a kill takes it), else the regular file there is locked as it is and left
// to whoever made it. `*error` says why it failed.
Lock TakeLock(State& s, const std::string& path, int* error) {
    const std::string file = LockFileFor(path);
    const std::string absolute = Absolute(file);
    for (int attempt = 0; attempt < 20; ++attempt) {
        const bool noted = NoteLocked(s, absolute);
        HeldLock held{file, ::open(file.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644), true};
        if (held.fd >= 0) {
            ConfirmLocked(s, absolute);
        } else {
            *error = errno;
            if (noted) ForgetLocked(s, absolute);
            if (*error != EEXIST) return Lock::Failed;
            held = {file, ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC), false};
            if (held.fd < 0) {
                *error = errno;
                if (*error == ENOENT) continue;  // let go meanwhile
                return Lock::Failed;
            }
        }
        struct stat opened {}, at {};
        const bool stated = ::fstat(held.fd, &opened) == 0;
        if (!stated || !S_ISREG(opened.st_mode)) {
            *error = stated ? EINVAL : errno;
            Unlock(s, held);
            return Lock::Failed;
        }
        if (LockCall(held.fd, LOCK_EX | LOCK_NB) != 0) {
            *error = errno;
            // A file made a moment ago that another job locked first is that job's now.
            if (*error == EWOULDBLOCK && held.made) {
                ForgetLocked(s, absolute);
                held.made = false;
            }
            Unlock(s, held);
            return *error == EWOULDBLOCK ? Lock::HeldElsewhere : Lock::Failed;
        }
        // The lock counts only on the file that still has the name.
        if (::lstat(file.c_str(), &at) == 0 && SameInode(at, opened)) {
            s.locks.push_back(held);
            return Lock::Held;
        }
        Unlock(s, held);
    }
    *error = EAGAIN;
    return Lock::Failed;
}

void ReleaseLocked(State& s) {
    for (const HeldLock& held : s.locks) Unlock(s, held);
    s.locks.clear();
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
    ForgetLocked(s, Absolute(path));
}

bool IsRecordedWorkPath(const std::string& path) {
    State& s = Records();
    std::lock_guard guard(s.lock);
    s.Own();
    return s.live.count(Absolute(path)) != 0;
}

bool HoldWorkPaths(const std::vector<std::string>& paths, std::string* heldElsewhere, std::string* unheld,
                   int* error) {
    State& s = Records();
    std::lock_guard guard(s.lock);
    s.Own();
    ReleaseLocked(s);
    if (heldElsewhere) heldElsewhere->clear();
    if (unheld) unheld->clear();
    if (error) *error = 0;
    std::set<std::string> files;
    for (const std::string& path : paths) {
        // Two spellings of one file are one lock.
        if (!files.insert(LockFileFor(path)).second) continue;
        int failure = 0;
        const Lock lock = TakeLock(s, path, &failure);
        if (lock == Lock::HeldElsewhere) {
            if (heldElsewhere) *heldElsewhere = path;
            ReleaseLocked(s);
            return false;
        }
        if (lock == Lock::Failed && unheld && unheld->empty()) {
            *unheld = LockFileFor(path);
            if (error) *error = failure;
        }
    }
    return true;
}

int WorkRecordError(std::string* folder) {
    State& s = Records();
    std::lock_guard guard(s.lock);
    s.Own();
    if (folder) *folder = Absolute((ConfigDir() / "work-files").string());
    const std::string record = RecordFileFor(s);
    if (record.empty()) return errno != 0 ? errno : EIO;
    // Made only to try: it goes again until something is noted in it.
    auto count = s.perRecord.find(record);
    if (count != s.perRecord.end() && count->second == 0) {
        ++count->second;
        ReleaseRecord(s, record);
    }
    return 0;
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
        std::string record;
        Owner owner;
        if (!ReadRecord(file, record) || !Owner::Parse(record.substr(0, record.find('\n')), owner) ||
            !OwnerIsGone(owner, self))
            continue;
        removed += RemoveRecorded(record);
        ::unlink(file.c_str());
    }
    ::rmdir((ConfigDir() / "work-files").c_str());
    return removed;
}

}  // namespace platform
