// Bit writer: packing against a bit-by-bit reference, queue and block
// boundaries, final padding and write errors.
#include <gtest/gtest.h>

#include <random>

#include "engine/BitWriter.h"
#include "platform/MessageBox.h"
#include "settings/JobState.h"
#include "settings/Report.h"
#include "settings/RunState.h"
#include "tests/engine/StreamCapture.h"

namespace {

const char* const kWriteError =
    "Program cannot write data into the output\nMPEG video stream. No space left on disk\nor system error.";

// The obvious way to build a bit stream, one bit at a time.
struct NaiveStream {
    std::vector<bool> bits;
    void Put(int length, uint32_t value) {
        for (int i = length - 1; i >= 0; --i) bits.push_back((value >> i) & 1);
    }
    void Align() {
        while (bits.size() % 8) bits.push_back(false);
    }
    std::vector<uint8_t> Bytes() {
        Align();
        std::vector<uint8_t> out(bits.size() / 8);
        for (size_t i = 0; i < bits.size(); ++i)
            if (bits[i]) out[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
        return out;
    }
};

TEST(BitWriter, MatchesABitByBitReferenceAcrossWordsQueuesAndBlocks) {
    std::mt19937 rng(20261209);
    StreamCapture capture;
    NaiveStream naive;
    for (int i = 0; i < 120000; ++i) {
        const int length = 1 + static_cast<int>(rng() % 32);
        const uint32_t value = rng();  // bits above the length must be ignored
        PutBits(length, value);
        naive.Put(length, value);
        const uint32_t what = rng() % 1000;
        if (what == 0) {
            AlignBits();
            naive.Align();
        } else if (what == 1) {
            FlushBitQueue();
        }
    }
    PutBits(9, static_cast<uint32_t>(-3));  // a negative value: its nine low bits
    naive.Put(9, 0x1FD);
    const size_t bitsQueued = naive.bits.size();
    EXPECT_EQ(static_cast<size_t>(TotalBitCount), bitsQueued);
    const auto written = capture.Finish();
    const auto expected = naive.Bytes();
    ASSERT_GT(written.size(), 3u * 24576u);
    ASSERT_EQ(written.size(), expected.size());
    EXPECT_TRUE(written == expected);
}

TEST(BitWriter, WordsAndQueueFillAtTheirBoundaries) {
    StreamCapture capture;
    PutBits(32, 0x000001B3);
    FlushBitQueue();
    EXPECT_EQ(BitOutputBlockCount, 1);
    EXPECT_EQ(BitOutputWordFill, 0);
    PutBits(5, 0x15);
    PutBits(32, 0xDEADBEEF);  // straddles: 27 bits finish the word, 5 stay
    FlushBitQueue();
    EXPECT_EQ(BitOutputBlockCount, 2);
    EXPECT_EQ(BitOutputWordFill, 5);

    for (int i = 0; i < BitQueueSize - 1; ++i) PutBits(1, 1);
    EXPECT_EQ(BitQueueCount, BitQueueSize - 1);
    PutBits(1, 1);  // the 4096th code packs at once
    EXPECT_EQ(BitQueueCount, 0);
    const auto bits = StreamCapture::ToBits(capture.Finish());
    EXPECT_EQ(bits.substr(0, 32 + 5 + 32), "00000000000000000000000110110011"
                                           "10101"
                                           "11011110101011011011111011101111");
    EXPECT_EQ(bits.substr(69, 4096), std::string(4096, '1'));
}

TEST(BitWriter, WritesWholeBlocksAndPadsTheLastByte) {
    StreamCapture capture;
    for (int i = 0; i < BitOutputBlockWords; ++i) PutBits(32, static_cast<uint32_t>(i));
    PutBits(1, 1);
    FlushBitQueue();
    EXPECT_EQ(capture.Written().size(), 24576u);  // one block, the extra bit still held
    EXPECT_EQ(BitOutputWordFill, 1);

    // Aligning an aligned stream queues nothing.
    StreamCapture second;
    PutBits(16, 0xABCD);
    AlignBits();
    EXPECT_EQ(TotalBitCount, 16);
    EXPECT_EQ(BitQueueCount, 0);
    PutBits(32, 0x01020304);
    PutBits(12, 0xFFF);  // 12 bits: padded to 16, two bytes after the last word
    const auto bytes = second.Finish();
    EXPECT_EQ(bytes, (std::vector<uint8_t>{0xAB, 0xCD, 0x01, 0x02, 0x03, 0x04, 0xFF, 0xF0}));
    EXPECT_EQ(TotalBitCount, 16 + 32 + 16);
}

class BitWriterErrors : public ::testing::Test {
protected:
    void SetUp() override {
        savedRunState_ = RunState;
        RunState = 2;
        EncodeAbortFlag = 0;
        full_ = std::fopen("/dev/full", "wb");
        ASSERT_NE(full_, nullptr);
        VideoStreamFile = full_;
        InitBitWriter();
    }
    void TearDown() override {
        VideoStreamFile = nullptr;
        if (full_) std::fclose(full_);
        RunState = savedRunState_;
        EncodeAbortFlag = 0;
    }
    void FillOneBlock() {
        for (int i = 0; i < BitOutputBlockWords; ++i) PutBits(32, 0);
    }

    FILE* full_ = nullptr;
    int16_t savedRunState_ = 1;
    platform::ScriptedMessageBoxes boxes_;
};

TEST_F(BitWriterErrors, AFailedBlockStopsTheRunAndIsReportedOnce) {
    FillOneBlock();
    FillOneBlock();
    FlushBitQueue();
    EXPECT_EQ(RunState, 3);
    EXPECT_EQ(EncodeAbortFlag, 1);
    ASSERT_EQ(boxes_.Texts().size(), 1u);
    EXPECT_EQ(boxes_.Texts()[0], kWriteError);
    EXPECT_EQ(BitOutputBlockCount, 0);
    EXPECT_EQ(BitQueueCount, 0);
}

TEST_F(BitWriterErrors, NothingIsShownWhenAStopWasAlreadyAskedFor) {
    RunState = 3;
    FillOneBlock();
    FlushBitQueue();
    FinishBitWriter();
    EXPECT_TRUE(boxes_.Texts().empty());
    EXPECT_EQ(EncodeAbortFlag, 0);
}

TEST_F(BitWriterErrors, AWriteErrorLeavesTheArmedStepWithTheWriterConsistent) {
    FillOneBlock();
    PutBits(7, 0x55);
    {
        EncoderJumpArm arm;
        EXPECT_THROW(FlushBitQueue(), EncoderJump);
    }
    EXPECT_EQ(BitQueueCount, 0);
    EXPECT_EQ(BitOutputBlockCount, 0);
    EXPECT_EQ(BitOutputWordFill, 7);
    EXPECT_EQ(RunState, 3);
}

TEST_F(BitWriterErrors, TheFinalFlushReportsBytesTheStreamCouldNotTake) {
    // Buffered bytes only fail when they are flushed; the end must notice.
    PutBits(32, 0x12345678);
    FinishBitWriter();
    EXPECT_EQ(RunState, 3);
    ASSERT_EQ(boxes_.Texts().size(), 1u);
    EXPECT_EQ(boxes_.Texts()[0], kWriteError);
}

TEST_F(BitWriterErrors, AFailedTailAfterGoodBlocksShowsItsOwnBox) {
    StreamCapture good;  // a working stream for the block
    FillOneBlock();
    PutBits(16, 0xFFFF);
    FlushBitQueue();
    ASSERT_EQ(BitOutputBlockCount, 0);
    std::setvbuf(full_, nullptr, _IONBF, 0);
    VideoStreamFile = full_;
    FinishBitWriter();
    EXPECT_EQ(RunState, 3);
    EXPECT_EQ(EncodeAbortFlag, 1);
    ASSERT_EQ(boxes_.Shown().size(), 1u);
    EXPECT_EQ(boxes_.Shown()[0].caption, " Fatal Error");
    EXPECT_EQ(boxes_.Shown()[0].text, kWriteError);
    EXPECT_EQ(boxes_.Shown()[0].icon, platform::MbIcon::Stop);
    EXPECT_EQ(BitOutputWordFill, 0);
}

}  // namespace
