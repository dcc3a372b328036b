// The read-ahead cache of AVI frames: a ring of packed bitmaps filled ahead of
// the picture being coded, inline or by one worker task.
//
// The busy word is the only lock and is taken by compare-and-swap, so the AVI
// source is never entered by two threads. The read-ahead never overwrites a
// frame at or above InputState.OldestNeededFrame, and the cache serves only
// such frames; anything else is read directly into a buffer of the consumer's own.
#include <algorithm>
#include <chrono>
#include <thread>

#include "engine/EngineState.h"
#include "engine/Input.h"
#include "engine/InputBitmap.h"
#include "engine/Threads.h"
#include "platform/Format.h"
#include "settings/EncoderSettings.h"
#include "settings/JobUtil.h"
#include "settings/Report.h"

InputFrameCacheState InputFrameCache;

InputAviAccess InputAvi;
DeinterlaceFrameFn DeinterlaceAndAnalyseFrame = nullptr;

namespace {

InputFrameCacheState& cache = InputFrameCache;

void SleepOneMs() { std::this_thread::sleep_for(std::chrono::milliseconds(1)); }

bool TryTakeReader() {
    int expected = 0;
    return cache.readerBusy.compare_exchange_strong(expected, 1, std::memory_order_acq_rel);
}

void ReleaseReader() { cache.readerBusy.store(0, std::memory_order_release); }

// Waits for a running read-ahead and takes the busy word; false only when it
// stayed busy for `maxWaits` milliseconds (a negative count waits without limit).
bool TakeReaderWaiting(int maxWaits) {
    for (int i = 0; !TryTakeReader(); ++i) {
        if (maxWaits >= 0 && i >= maxWaits) return false;
        SleepOneMs();
    }
    return true;
}

struct ReaderHold {
    ~ReaderHold() { ReleaseReader(); }
};

// Bytes of a packed bitmap as its header describes it, limited to a slot.
size_t PackedBitmapBytes(const uint8_t* bitmap) {
    const BitmapInfo info = ReadBitmapInfo(bitmap);
    const int64_t rowBytes = ((static_cast<int64_t>(std::max(info.width, 0)) * std::max(info.bits, 0) + 31) / 32) * 4;
    const int64_t bytes =
        BitmapHeaderSize + 4 * static_cast<int64_t>(info.paletteCount) + std::max(info.height, 0) * rowBytes;
    return static_cast<size_t>(std::clamp<int64_t>(bytes, 0, static_cast<int64_t>(cache.slotSize)));
}

int OldestSlot() {
    int best = 0;
    for (int s = 1; s < cache.slotCount; ++s)
        if (cache.slotFrame[s].load() < cache.slotFrame[best].load()) best = s;
    return best;
}

// One read-ahead call. `record`: failures are stored for the encoding thread
// instead of being reported here (a worker never shows a message).
int ReadAhead(bool record) {
    if (!TryTakeReader()) return -2;
    std::string failure;
    bool heightFailure = false;
    {
        ReaderHold hold;
        for (int pass = 0; pass < 2 && failure.empty(); ++pass) {
            int last = cache.lastCachedFrame.load();
            if (last >= cache.aviEndFrame - 1 || WorkerPoolStopFlag.load()) break;
            int end;
            if (last == -1) {
                end = cache.readAheadStart.load();
                last = end - 1;
            } else {
                end = last + 1;
            }
            if (last < cache.aviFirstFrame - 1) last = cache.aviFirstFrame - 1;
            end = std::min(std::max(end, last + 1), cache.aviEndFrame - 1);
            for (int k = last + 1; k <= end; ++k) {
                // Full: every slot holds a frame that is still needed.
                if (cache.slotCount <= 0 || cache.slotCount <= k - InputState.OldestNeededFrame.load()) break;
                const uint8_t* bitmap = InputAvi.readFrame ? InputAvi.readFrame(k) : nullptr;
                if (!bitmap) {
                    // The source keeps why it failed; the message carries it (cut to fit the report).
                    std::string reason = InputAvi.takeReadError ? InputAvi.takeReadError() : std::string();
                    if (reason.size() > 90) reason.resize(90);
                    failure = reason.empty()
                                  ? platform::Format("Failed to read frame %ld from AVI file\n", static_cast<long>(k))
                                  : platform::Format("Failed to read frame %ld from AVI file: %s\n",
                                                     static_cast<long>(k), reason.c_str());
                    break;
                }
                const BitmapInfo info = ReadBitmapInfo(bitmap);
                if (info.width != cache.width) {
                    failure = "MPEG Image width different from AVI file frame width.\n Size convertion not supported. ";
                    break;
                }
                if (info.height < cache.height) {
                    failure = "MPEG Image height greate then AVI file frame height.\n Size convertion not supported.";
                    heightFailure = true;
                    break;
                }
                const int slot = OldestSlot();
                cache.slotFrame[slot].store(-1);
                CopyBytesFast(cache.slotBuffer[slot], bitmap, PackedBitmapBytes(bitmap));
                cache.slotFrame[slot].store(k);
                cache.lastCopiedFrame.store(k);
                cache.lastCachedFrame.store(k, std::memory_order_release);
            }
        }
    }
    if (failure.empty()) return 1;
    if (record) {
        cache.readErrorText = failure;
        cache.readError.store(1, std::memory_order_release);
    } else {
        ErrorMessageBuffer = failure;
        ReportFatalError(ErrorMessageBuffer);
        if (heightFailure) ShowWarningMessage(failure);
    }
    return -1;
}

void ReportReadError() {
    const std::string& text = cache.readErrorText;
    const bool known = text.size() >= 11 && text.size() <= 149;
    if (ThreadReadFlag)
        ErrorMessageBuffer =
            known ? platform::Format(" Error during parallel input read operation.\n %s \n Disable parallel data read "
                                     "and try again.",
                                     text.c_str())
                  : " Unknown error during parallel input read operation. \n Disable parallel data read and try again.";
    else
        ErrorMessageBuffer =
            known ? platform::Format(" Error during input operation.\n %s \n Input file may be corrupted, or disk "
                                     "failed. ",
                                     text.c_str())
                  : " Unknown error during input operation. \n Input file may be corrupted, or disk failed.";
    ReportFatalError(ErrorMessageBuffer);
}

// Reads frame n outside the cache into the direct buffer; null when the
// source has no such frame (not reported here).
const uint8_t* ReadDirect(int n) {
    TakeReaderWaiting(-1);
    ReaderHold hold;
    const uint8_t* bitmap = InputAvi.readFrame ? InputAvi.readFrame(n) : nullptr;
    if (!bitmap || !cache.directBuffer) return nullptr;
    CopyBytesFast(cache.directBuffer, bitmap, PackedBitmapBytes(bitmap));
    return cache.directBuffer;
}

}  // namespace

int AllocateInputFrameCache() {
    FreeInputFrameCache();
    const int w = EncoderSettings.horizontalSize, h = EncoderSettings.verticalSize;
    int count = EncoderSettings.ipDistance + 1;
    if (FrameRateConversion.enabled && FrameRateConversion.outputToInputRatio != 1.0)
        count = static_cast<int>((EncoderSettings.ipDistance + 1) * FrameRateConversion.outputToInputRatio + 1.0);
    cache.slotCount = std::clamp(count + 5, 1, InputCacheMaxSlots);
    cache.slotSize = static_cast<size_t>((3 * std::max(w, 0) + 3) / 4) * 4 * static_cast<size_t>(std::max(h, 0)) + 2088;
    cache.width = w;
    cache.height = h;
    cache.lastCachedFrame.store(-1);
    cache.lastCopiedFrame.store(-1);
    cache.maxRequestedFrame.store(-1);
    for (int s = 0; s < cache.slotCount; ++s) {
        cache.slotBuffer[s] = static_cast<uint8_t*>(AllocAligned(cache.slotSize));
        if (!cache.slotBuffer[s]) {
            ErrorMessageBuffer = "Cannot allocate memory for frame ring buffer\n";
            ReportFatalError(ErrorMessageBuffer);
            return -1;
        }
    }
    cache.directBuffer = static_cast<uint8_t*>(AllocAligned(cache.slotSize));
    if (!cache.directBuffer) {
        ErrorMessageBuffer = "Cannot allocate memory for frame ring buffer\n";
        ReportFatalError(ErrorMessageBuffer);
        return -1;
    }
    return 0;
}

void FreeInputFrameCache() {
    // A read-ahead still running owns the slots until it ends.
    const bool taken = TakeReaderWaiting(10000);
    for (int s = 0; s < InputCacheMaxSlots; ++s) {
        FreeAligned(cache.slotBuffer[s]);
        cache.slotBuffer[s] = nullptr;
        cache.slotFrame[s].store(-1);
    }
    FreeAligned(cache.directBuffer);
    cache.directBuffer = nullptr;
    FreeAligned(InputState.InputRgbBuffer);
    InputState.InputRgbBuffer = nullptr;
    cache.slotCount = 0;
    cache.lastCachedFrame.store(-1);
    cache.lastCopiedFrame.store(-1);
    if (taken) ReleaseReader();
}

void ResetInputState() {
    cache.maxRequestedFrame.store(-1);
    cache.readerBusy.store(0);
    cache.readError.store(0);
    cache.readAheadStart.store(0);
    cache.readErrorText.clear();
    ErrorMessageBuffer.clear();
    cache.width = EncoderSettings.horizontalSize;
    cache.height = EncoderSettings.verticalSize;
    if (InputAvi.isOpen && InputAvi.isOpen() && InputAvi.firstFrame && InputAvi.endFrame) {
        cache.aviFirstFrame = InputAvi.firstFrame();
        cache.aviEndFrame = InputAvi.endFrame();
    } else {
        cache.aviFirstFrame = FrameRateConversion.aviFirstFrame;
        cache.aviEndFrame = FrameRateConversion.aviEndFrame;
    }
}

int ReadAheadInputFrames() { return ReadAhead(ThreadReadFlag != 0); }

int32_t InputReadAheadTask(void*, int) {
    ReadAhead(true);
    return 1;
}

const uint8_t* FetchInputFrame(int n, bool& reported) {
    reported = false;
    for (int i = 0; i < 50 && cache.readerBusy.load(); ++i) SleepOneMs();
    if (cache.lastCachedFrame.load() == -1) cache.readAheadStart.store(n);
    for (;;) {
        if (cache.readError.load(std::memory_order_acquire)) {
            ReportReadError();
            reported = true;
            return nullptr;
        }
        const int last = cache.lastCachedFrame.load(std::memory_order_acquire);
        if (n <= last) break;
        const int r = ReadAhead(ThreadReadFlag != 0);
        if (r == -2) {
            SleepOneMs();
            continue;
        }
        if (r == -1) {
            if (cache.readError.load(std::memory_order_acquire)) continue;
            reported = true;
            return nullptr;
        }
        // Nothing more can be read ahead (end of input, or every slot still
        // needed): serve the frame directly rather than wait forever.
        if (cache.lastCachedFrame.load() == last) break;
    }
    if (n > cache.maxRequestedFrame.load()) cache.maxRequestedFrame.store(n);
    if (n >= InputState.OldestNeededFrame.load() && n <= cache.lastCachedFrame.load(std::memory_order_acquire))
        for (int s = 0; s < cache.slotCount; ++s)
            if (cache.slotFrame[s].load(std::memory_order_acquire) == n) return cache.slotBuffer[s];
    return ReadDirect(n);
}

const uint8_t* GetCachedInputFrame(int n) {
    bool reported;
    return FetchInputFrame(n, reported);
}
