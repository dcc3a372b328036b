// The queued bit writer of the video elementary stream. A failed write stops
// the encoding: the run state becomes "stop requested", the abort flag is set
// and the error is reported once.
#include "engine/BitWriter.h"

#include <cstring>

#include "platform/MessageBox.h"
#include "settings/JobState.h"
#include "settings/Report.h"
#include "settings/RunState.h"

int32_t BitQueueLengths[BitQueueSize];
int32_t BitQueueValues[BitQueueSize];
int BitQueueCount = 0;
uint32_t BitMasks[33];
uint64_t BitOutputWord = 0;
int BitOutputWordFill = 0;
uint8_t BitOutputBlock[BitOutputBlockWords * 4];
int BitOutputBlockCount = 0;
int32_t TotalBitCount = 0;
FILE* VideoStreamFile = nullptr;

namespace {

constexpr int16_t kStopRequested = 3;
const char* const kWriteErrorText =
    "Program cannot write data into the output\nMPEG video stream. No space left on disk\nor system error.";

// True when every byte reached the stream and its error indicator is clear.
bool WriteStreamBytes(const uint8_t* bytes, size_t count) {
    if (!VideoStreamFile) return false;
    if (count > 0 && std::fwrite(bytes, 1, count, VideoStreamFile) != count) return false;
    return std::ferror(VideoStreamFile) == 0;
}

// Marks the run as stopped and reports, unless a stop was already asked for.
// The report may leave through the engine's jump target.
void HandleWriteError() {
    if (RunState == kStopRequested) return;
    RunState = kStopRequested;
    EncodeAbortFlag = 1;
    ErrorMessageBuffer = kWriteErrorText;
    ReportFatalError(ErrorMessageBuffer);
}

}  // namespace

void InitBitWriter() {
    BitOutputBlockCount = 0;
    TotalBitCount = 0;
    BitOutputWord = 0;
    BitOutputWordFill = 0;
    BitQueueCount = 0;
    BitMasks[0] = 0;
    for (int n = 1; n <= 32; ++n) BitMasks[n] = static_cast<uint32_t>((uint64_t{1} << n) - 1);
}

void FlushBitQueue() {
    if (BitQueueCount == 0) return;
    bool writeFailed = false;
    // Bits above `fill` in `word` are stale and fall off the top as codes
    // come in; the low 32 bits of word >> (fill - 32) are the word completed.
    // Each code stores that word whether or not it is complete and advances
    // the block only when it is, so the loop has no branch that depends on
    // the code lengths.
    uint64_t word = BitOutputWord;
    int fill = BitOutputWordFill;
    int count = BitOutputBlockCount;
    for (int i = 0; i < BitQueueCount; ++i) {
        const int length = BitQueueLengths[i];
        word = (word << length) | (static_cast<uint32_t>(BitQueueValues[i]) & BitMasks[length]);
        fill += length;
        const int complete = fill >> 5;  // fill stays below 64
        fill &= 31;
        const uint32_t bigEndian = __builtin_bswap32(static_cast<uint32_t>(word >> fill));
        std::memcpy(BitOutputBlock + 4 * count, &bigEndian, 4);
        count += complete;
        if (count == BitOutputBlockWords) {
            count = 0;
            if (!WriteStreamBytes(BitOutputBlock, sizeof BitOutputBlock)) writeFailed = true;
        }
    }
    BitOutputWord = word & ((uint64_t{1} << fill) - 1);
    BitOutputWordFill = fill;
    BitOutputBlockCount = count;
    BitQueueCount = 0;
    // Reported once the writer is consistent again: the report may not return.
    if (writeFailed) HandleWriteError();
}

void AlignBits() {
    FlushBitQueue();
    if (BitOutputWordFill % 8 != 0) PutBits(8 - BitOutputWordFill % 8, 0);
}

void FinishBitWriter() {
    AlignBits();
    FlushBitQueue();

    bool blockFailed = false;
    if (BitOutputBlockCount != 0) {
        blockFailed = !WriteStreamBytes(BitOutputBlock, 4 * static_cast<size_t>(BitOutputBlockCount));
        BitOutputBlockCount = 0;
    }
    bool tailFailed = false;
    if (BitOutputWordFill != 0) {
        // The fill is 8, 16 or 24 now: its bytes, most significant first.
        const int bytes = BitOutputWordFill / 8;
        uint8_t tail[3];
        for (int i = 0; i < bytes; ++i)
            tail[i] = static_cast<uint8_t>(BitOutputWord >> (BitOutputWordFill - 8 * (i + 1)));
        tailFailed = !WriteStreamBytes(tail, static_cast<size_t>(bytes));
    }
    BitOutputWord = 0;
    BitOutputWordFill = 0;
    // Bytes still in the stream's buffer could fail too: make them reach the file now.
    if (!blockFailed && !tailFailed && VideoStreamFile && std::fflush(VideoStreamFile) != 0) blockFailed = true;

    if (blockFailed) {
        HandleWriteError();
    } else if (tailFailed && RunState != kStopRequested) {
        platform::ShowMessageBox(kWriteErrorText, " Fatal Error", platform::MbButtons::Ok, platform::MbIcon::Stop,
                                 MessageOwnerWindow);
        RunState = kStopRequested;
        EncodeAbortFlag = 1;
    }
}
