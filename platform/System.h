// Small system services: debug output, the tick counter, the processor count,
// and the file-name helpers the job uses to keep the user's files safe.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Debugger output: written to stderr only when TESSMAR_DEBUG is set.
void DebugOutput(const std::string& text);
bool DebugOutputEnabled();

// Milliseconds of a steady clock, wrapping at 32 bits; take differences unsigned.
uint32_t TickCount();

// Processors this process may run on, at most 16.
int SystemProcessorCount();

// True when both names reach one file: the same device and inode when both
// exist (links followed), else the same absolute name once "." and ".." are
// resolved.
bool SameFile(const std::string& a, const std::string& b);

// True when the file system would refuse `path` for its length: its last name is
// longer than its folder (or the nearest existing one) takes, or the whole path
// reaches PATH_MAX.
bool NameTooLong(const std::string& path);

// Work files and folders are named "<name>.tmp-<process id>-XXXXXX" and noted in
// a record in the settings folder before they are made, with the host, the
// process and its start time; the note is dropped when the file is put in place
// or removed (ForgetWorkPath). A job killed on the way leaves its notes behind,
// and RemoveStaleWorkFiles takes exactly what they name, never a file by its name.

// Makes a new empty work file "<name>.tmp-<process id>-XXXXXX" next to `target`
// (the name cut so that it fits the folder's limit), mode 0666 less the umask.
// Returns its name, or "" with `*error` set to the errno of the failure.
std::string CreateFileBeside(const std::string& target, int* error);

// The same for "<prefix>.tmp-<process id>-XXXXXX" in `folder`, mode 0600.
std::string CreateWorkFile(const std::string& folder, const std::string& prefix, int* error);

// A new empty work folder "<prefix>.tmp-<process id>-XXXXXX" in `folder`,
// mode 0777 less the umask; "" with `*error` set when it cannot be made.
std::string CreateWorkFolder(const std::string& folder, const std::string& prefix, int* error);

// Notes `path` before it is made; false when the record cannot be written.
bool RecordWorkPath(const std::string& path);
// Notes a file or folder about to be written inside one of this process's work
// folders, so that a clean-up after a kill knows it for the program's own;
// a path anywhere else is not noted.
void NoteWorkPath(const std::string& path);
// The thing now at the noted `path` (made, or renamed onto it) is the program's.
void ConfirmWorkPath(const std::string& path);
// Drops the note of `path` (and of everything noted below it): it was put in
// place, removed or handed to the user.
void ForgetWorkPath(const std::string& path);
bool IsRecordedWorkPath(const std::string& path);

// 0 when this process can keep its work record (the settings folder takes it), else
// the errno of the failure; `*folder` names the record folder either way.
int WorkRecordError(std::string* folder);

// Holds `paths` (files a job writes and reads back, such as its temporary streams)
// for this process until ReleaseWorkPaths or its end, a kill included: an exclusive
// flock on "<name>.lock" beside each, which every job of this program meets whatever
// its settings folder. The lock file is made new when none is there and then removed
// again; one that is there already is locked as it is and left. Every spelling of a
// file (links followed) is one path. False when another running job holds one of them
// (`*heldElsewhere` names it; nothing is held then). A path whose lock cannot be taken
// (a folder that takes no new file, a file system without locks) is not held: the first
// such lock file is in `*unheld` and the reason in `*error`, and the others are held.
bool HoldWorkPaths(const std::vector<std::string>& paths, std::string* heldElsewhere, std::string* unheld,
                   int* error);
void ReleaseWorkPaths();
// The lock call of the holds and the clean-up, flock unless a test puts a failing one in
// its place (a file system without a lock service).
extern int (*FileLockCall)(int fd, int operation);

// Removes what the records of processes that ran on this machine and no longer
// run name: files whose identity the record confirmed, or that lie in a folder
// it confirmed, reached from it without following a link (a link there goes
// itself, never what it names; a name with ".." is left); folders only once
// empty; a file another job keeps locked stays. Records of other machines, of processes
// that still run, and files in the record folder that are not this user's regular files
// (read up to a bounded size), stay.
// Returns how many went.
int RemoveStaleWorkFiles();

}  // namespace platform
