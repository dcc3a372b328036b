// Small services of the job: guarded aligned blocks, file-creation diagnosis,
// the free-disk watch, the output check after the video pass, elapsed time,
// file sizes, the 8x8 transpose and the progress-window notification.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

extern int AllocationCount, FreeCount;

// A block of at least `bytes`, 16-byte aligned, with a guard pair before it; null when memory is out.
void* AllocAligned(size_t bytes);
// The same with every byte zero.
void* AllocAlignedZeroed(size_t bytes);
// Checks the guard pair and frees; null does nothing; a damaged pair is reported and the block leaked.
void FreeAligned(void* block);

// Appends to `out` an explanation of why creating `path` failed (errno of the failure).
void CheckPathDrive(std::string& out, const std::string& path, int error);

extern int FreeSpaceWatchArmed;
extern std::string FreeSpaceWatchRoot;
extern int FreeSpaceWatchKind;
extern int FreeSpaceWatchIgnored;
extern int FreeSpaceCheckInterval;
extern int FreeSpaceCheckCounters[2];
void CheckOutputDiskSpace(const std::string& path, int kind);
// Free bytes on the file system of `path` (a folder or a file in it); -1 when unknown.
int64_t FreeDiskBytes(const std::string& path);

extern int64_t VideoOutputSize;
extern std::string VideoOutputPath;
// The name the video stream gets once complete, while the pass writes it
// under a work name; statistics name this one. Empty outside a job's pass.
extern std::string VideoStreamName;
extern int VideoStreamReady;
void CheckOutputFileAfterEncoding();

extern uint32_t EncodeStartTick;
uint32_t GetElapsedMilliseconds();
int64_t GetFileSizeByName(const std::string& path);
void Transpose8x8(int32_t* block);

// The progress host re-lays out its panels on this; set by the program.
extern void (*ProgressWindowNotify)();
void NotifyProgressWindow();

// Formats like printf and goes to the debug output.
int DebugPrintf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
