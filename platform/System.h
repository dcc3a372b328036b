// Small system services: debug output, the tick counter, the processor count,
// and the file-name helpers the job uses to keep the user's files safe.
#pragma once

#include <cstdint>
#include <string>

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

// Makes a new empty work file "<name>.tmp-<process id>-XXXXXX" next to `target`
// (the name cut so that it fits the folder's limit), mode 0666 less the umask.
// Returns its name, or "" with `*error` set to the errno of the failure.
std::string CreateFileBeside(const std::string& target, int* error);

// The same for "<prefix>.tmp-<process id>-XXXXXX" in `folder`, mode 0600.
std::string CreateWorkFile(const std::string& folder, const std::string& prefix, int* error);

// A new empty work folder "<prefix>.tmp-<process id>-XXXXXX" in `folder`,
// mode 0777 less the umask; "" with `*error` set when it cannot be made.
std::string CreateWorkFolder(const std::string& folder, const std::string& prefix, int* error);

// Removes the work files and folders that processes no longer running left in
// `folder` (a crash or a kill): regular files and folders of this user named as
// above whose process id names no process. Returns how many went.
int RemoveStaleWorkFiles(const std::string& folder);

}  // namespace platform
