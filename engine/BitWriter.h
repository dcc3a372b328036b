// The only path by which bits reach the video elementary stream: codes are
// queued as (length, value) pairs, packed into big-endian words and written
// to the stream file in blocks of 24,576 bytes.
#pragma once

#include <cstdint>
#include <cstdio>

constexpr int BitQueueSize = 4096;
constexpr int BitOutputBlockWords = 6144;

// Queued codes: length in bits (0 to 32) and value (only the low bits count).
extern int32_t BitQueueLengths[BitQueueSize];
extern int32_t BitQueueValues[BitQueueSize];
extern int BitQueueCount;
// Entry n holds 2^n - 1 (entry 32 all ones).
extern uint32_t BitMasks[33];
// Bits packed but not yet a whole word, right-aligned, oldest bit highest.
// 64 bits wide so that a 32-bit code never needs a shift by the full width.
extern uint64_t BitOutputWord;
extern int BitOutputWordFill;  // 0 to 31 between operations
// Whole words in stream byte order, waiting to be written.
extern uint8_t BitOutputBlock[BitOutputBlockWords * 4];
extern int BitOutputBlockCount;  // words
// Bits queued since InitBitWriter, padding included; rate control folds it.
extern int32_t TotalBitCount;
// The video elementary stream, opened and closed by the encoder set-up and shut-down.
extern FILE* VideoStreamFile;

void InitBitWriter();
// Packs every queued code into words, writing each block as it fills.
void FlushBitQueue();
// Queues one code; a length outside 0..32 is a caller's bug and is dropped.
// A negative value may be passed for a two's-complement field.
inline void PutBits(int length, uint32_t value) {
    if (length < 0 || length > 32) return;
    BitQueueLengths[BitQueueCount] = length;
    BitQueueValues[BitQueueCount] = static_cast<int32_t>(value);
    // Wraps instead of overflowing when nobody folds the count (rate control does).
    TotalBitCount = static_cast<int32_t>(static_cast<uint32_t>(TotalBitCount) + static_cast<uint32_t>(length));
    if (++BitQueueCount >= BitQueueSize) FlushBitQueue();
}
// Queues a run of codes with the queue's count and the bit total kept in
// registers rather than in the writer's globals. It makes room for `room`
// codes when made and again after Reload; Commit hands the codes to the
// writer, and must come before anything else writes bits and at the end.
class BitQueueAppender {
public:
    explicit BitQueueAppender(int room) : room_(room) { Reload(); }
    // Length 0 to 32, and at most `room` codes between Reloads.
    void Put(int length, uint32_t value) {
        BitQueueLengths[count_] = length;
        BitQueueValues[count_] = static_cast<int32_t>(value);
        bits_ += static_cast<uint32_t>(length);
        ++count_;
    }
    void Commit() {
        BitQueueCount = count_;
        TotalBitCount = static_cast<int32_t>(static_cast<uint32_t>(TotalBitCount) + bits_);
        bits_ = 0;
    }
    // Takes the writer's state again after others wrote to it. The queue is
    // left with a free entry, as PutBits leaves it.
    void Reload() {
        if (BitQueueCount >= BitQueueSize - room_) FlushBitQueue();
        count_ = BitQueueCount;
    }

private:
    int room_;
    int count_ = 0;
    uint32_t bits_ = 0;
};
// Queues zero bits up to the next byte boundary (nothing when aligned).
void AlignBits();
// Writes every remaining bit, padded to a whole byte, and flushes the stream.
void FinishBitWriter();
