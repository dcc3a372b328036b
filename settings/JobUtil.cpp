// Guarded blocks, file-creation diagnosis, the free-disk watch, the check of
// the video output after its pass, elapsed time and small helpers.
#include "settings/JobUtil.h"

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include "platform/Format.h"
#include "platform/MessageBox.h"
#include "platform/ResStrings.h"
#include "platform/System.h"
#include "settings/EncoderSettings.h"
#include "settings/JobState.h"
#include "settings/Report.h"
#include "settings/RunState.h"

namespace fs = std::filesystem;

int AllocationCount = 0, FreeCount = 0;
int FreeSpaceWatchArmed = 0;
std::string FreeSpaceWatchRoot;
int FreeSpaceWatchKind = 0;
int FreeSpaceWatchIgnored = 0;
int FreeSpaceCheckInterval = 3;
int FreeSpaceCheckCounters[2] = {0, 0};
int64_t VideoOutputSize = 0;
std::string VideoOutputPath;
std::string VideoStreamName;
int VideoStreamReady = 0;
uint32_t EncodeStartTick = 0;
void (*ProgressWindowNotify)() = nullptr;

namespace {

// Guard words sit just before the block: the raw address and its complement.
constexpr size_t kGuardBytes = 2 * sizeof(uintptr_t);
constexpr size_t kAlignment = 16;

void MemoryMessage(int boxText, int caption, int batchText) {
    if (BatchMode >= 2)
        WriteBatchLogMessage(LoadResString(batchText));
    else
        platform::ShowMessageBox(LoadResString(boxText), LoadResString(caption), platform::MbButtons::Ok,
                                 platform::MbIcon::None, MessageOwnerWindow);
}

void JobMessage(int boxText, int caption, int batchText) {
    if (BatchMode >= 2)
        WriteBatchLogMessage(LoadResString(batchText));
    else
        platform::ShowMessageBox(LoadResString(boxText), LoadResString(caption), platform::MbButtons::Ok,
                                 platform::MbIcon::Stop, JobOwnerWindow);
}

}  // namespace

namespace {

void* AllocGuarded(size_t bytes, bool zeroed) {
    ++AllocationCount;
    if (bytes > SIZE_MAX - kGuardBytes - kAlignment) return nullptr;
    const size_t total = bytes + kGuardBytes + kAlignment;
    void* raw = zeroed ? std::calloc(1, total) : std::malloc(total);
    if (!raw) return nullptr;
    uintptr_t r = reinterpret_cast<uintptr_t>(raw);
    uintptr_t p = (r + kGuardBytes + kAlignment - 1) & ~static_cast<uintptr_t>(kAlignment - 1);
    uintptr_t* guard = reinterpret_cast<uintptr_t*>(p) - 2;
    guard[0] = r;
    guard[1] = ~r;
    return reinterpret_cast<void*>(p);
}

}  // namespace

void* AllocAligned(size_t bytes) { return AllocGuarded(bytes, false); }

// Large blocks come zeroed from the system: calloc then leaves their pages
// untouched until first use, where a memset would fault them all in here.
void* AllocAlignedZeroed(size_t bytes) { return AllocGuarded(bytes, true); }

void FreeAligned(void* block) {
    if (!block) return;
    uintptr_t* guard = static_cast<uintptr_t*>(block) - 2;
    const uintptr_t r = guard[0];
    if (r == 0) {
        MemoryMessage(63578, 63579, 63577);
        return;  // nothing trustworthy to free: leak rather than corrupt the heap
    }
    if (guard[1] != ~r) {
        MemoryMessage(63582, 63583, 63581);
        return;
    }
    std::free(reinterpret_cast<void*>(r));
    ++FreeCount;
}

void CheckPathDrive(std::string& out, const std::string& path, int error) {
    if (path.size() < 3) return;
    int id;
    switch (error) {
        case ENOENT:
        case ENOTDIR: id = 63595; break;
        case EACCES:
        case EPERM: id = 63593; break;
        case EROFS: id = 63611; break;
        case ENAMETOOLONG: id = 63612; break;
        case EMFILE:
        case ENFILE: id = 63594; break;
        case ENOSPC:
        case EDQUOT: id = 63596; break;
        default: id = 63597; break;
    }
    out += LoadResString(id);
}

int64_t FreeDiskBytes(const std::string& path) {
    fs::path p = path.empty() ? fs::path(".") : fs::path(path);
    std::error_code ec;
    // The file itself may not exist yet: ask the nearest existing folder.
    while (!p.empty() && !fs::exists(p, ec)) p = p.parent_path();
    if (p.empty()) p = ".";
    struct statvfs st;
    if (statvfs(p.c_str(), &st) != 0) return -1;
    return static_cast<int64_t>(st.f_bavail) * static_cast<int64_t>(st.f_frsize);
}

void CheckOutputDiskSpace(const std::string& path, int kind) {
    FreeSpaceWatchArmed = 0;
    FreeSpaceWatchRoot.clear();
    if (EncoderSettings.noCheckSpace || (kind != 0 && kind != 1)) return;
    if (path.empty()) return;
    FreeSpaceWatchKind = kind;
    fs::path folder = fs::path(path).parent_path();
    if (folder.empty()) folder = ".";
    if (FreeDiskBytes(folder.string()) < 0) return;
    FreeSpaceWatchRoot = folder.string();
    const double rate = EncoderSettings.bitRate;
    int interval = 3;
    if (rate > 1.0) {
        double q = 124000000.0 / rate;
        interval = q >= 80.0 ? 80 : static_cast<int>(q);
        if (interval < 3) interval = 3;
    }
    FreeSpaceCheckInterval = interval;
    FreeSpaceWatchArmed = 1;
    FreeSpaceCheckCounters[0] = FreeSpaceCheckCounters[1] = 0;
}

int64_t GetFileSizeByName(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return -1;
    // A folder opens for reading here, but it is no file to read.
    struct stat st;
    int64_t size = -1;
    if (fstat(fileno(f), &st) == 0 && !S_ISDIR(st.st_mode) && fseeko(f, 0, SEEK_END) == 0) size = ftello(f);
    std::fclose(f);
    if ((size >> 32) > 1000000) size = -1;
    return size;
}

void CheckOutputFileAfterEncoding() {
    VideoEngineStage = 2;
    VideoOutputSize = 0;
    FILE* f = std::fopen(VideoOutputPath.c_str(), "rb");
    if (!f) {
        JobMessage(63599, 63600, 63598);
    } else {
        std::fclose(f);
        VideoOutputSize = GetFileSizeByName(VideoOutputPath);
        if (VideoOutputSize == 0) JobMessage(63602, 63603, 63601);
    }
    RunState = 2;
    if (VideoSequenceState == 2 && VideoOutputSize > 100 && EncodeAbortFlag == 0) VideoStreamReady = 1;
}

uint32_t GetElapsedMilliseconds() {
    const uint32_t now = platform::TickCount();
    uint32_t elapsed = now - EncodeStartTick;
    if (now < EncodeStartTick) elapsed -= 1;
    return elapsed;
}

void Transpose8x8(int32_t* block) {
    for (int i = 0; i < 8; ++i)
        for (int j = i + 1; j < 8; ++j) std::swap(block[i * 8 + j], block[j * 8 + i]);
}

void NotifyProgressWindow() {
    if (ProgressWindowNotify) ProgressWindowNotify();
}

int DebugPrintf(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::string text = platform::FormatV(fmt, args);
    va_end(args);
    platform::DebugOutput(text);
    return static_cast<int>(text.size());
}
