// The read-ahead cache: the same frames in and out of order, inline and with
// read-ahead tasks on the pool; direct reads; failures from a worker reported
// by the encoding thread; no hang at the end of the input.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/Input.h"
#include "engine/Threads.h"
#include "platform/MessageBox.h"
#include "settings/Report.h"
#include "tests/engine/input_test_frames.h"

using inputtest::FrameBitmap;
using inputtest::TestAviSource;

namespace {

class InputCacheTest : public ::testing::Test {
protected:
    void SetUp() override {
        inputtest::SetPictureSize(24, 10);
        EncoderSettings.ipDistance = 3;
        ThreadReadFlag = 0;
        WorkerPoolStopFlag = 0;  // a stopped pool leaves it set, and the read-ahead obeys it
        TestAviSource::Install(0, 60);
    }
    void TearDown() override {
        StopWorkerThreads();
        ThreadReadFlag = 0;
        FreeInputFrameCache();
        InputAvi = {};
    }

    // Requests the frames in order, raising InputState.OldestNeededFrame as the picture
    // driver would, optionally posting read-ahead tasks between requests.
    void Walk(const std::vector<int>& order, int tasksPerStep) {
        for (size_t i = 0; i < order.size(); ++i) {
            const int n = order[i];
            const uint8_t* p = GetCachedInputFrame(n);
            ASSERT_NE(p, nullptr) << n;
            const auto expect = FrameBitmap(n, 24, 10);
            ASSERT_EQ(std::memcmp(p, expect.data(), expect.size()), 0) << "frame " << n;
            int oldest = n;
            for (size_t j = i + 1; j < order.size(); ++j) oldest = std::min(oldest, order[j]);
            InputState.OldestNeededFrame = oldest;
            for (int t = 0; t < tasksPerStep; ++t) RunOnWorkerThread(InputReadAheadTask, &InputFrameCache);
        }
    }
};

// Coding order of M = 3: I0 P3 B1 B2 P6 B4 B5 ...
std::vector<int> CodingOrder(int count) {
    std::vector<int> order{0};
    for (int a = 3; a < count; a += 3) {
        order.push_back(a);
        order.push_back(a - 2);
        order.push_back(a - 1);
    }
    return order;
}

}  // namespace

TEST_F(InputCacheTest, InOrderAndOutOfOrderInline) {
    std::vector<int> inOrder;
    for (int n = 0; n < 40; ++n) inOrder.push_back(n);
    Walk(inOrder, 0);
    // Each frame read once: the cache served every request after the first read.
    EXPECT_EQ(TestAviSource::repeats.load(), 0);
    EXPECT_LE(TestAviSource::reads.load(), 42);

    TestAviSource::Install(0, 60);
    Walk(CodingOrder(45), 0);
    EXPECT_EQ(TestAviSource::repeats.load(), 0);
    EXPECT_EQ(InputFrameCache.slotCount, 3 + 1 + 5);
}

TEST_F(InputCacheTest, ReadAheadTasksOnThePoolDeliverTheSameFrames) {
    ASSERT_GE(StartWorkerThreads(), 2);
    ThreadReadFlag = 1;
    Walk(CodingOrder(45), 1);
    StopWorkerThreads();  // no read-ahead may run while the cache is set up again
    TestAviSource::Install(0, 60);
    ASSERT_GE(StartWorkerThreads(), 2);
    Walk(CodingOrder(45), 4);  // several tasks race for the busy word
    StopWorkerThreads();
    EXPECT_EQ(TestAviSource::overlaps.load(), 0);
    EXPECT_EQ(TestAviSource::repeats.load(), 0);
    EXPECT_EQ(InputFrameCache.readError.load(), 0);
}

TEST_F(InputCacheTest, FramesOutsideTheCacheAreReadDirectly) {
    for (int n = 10; n < 20; ++n) {
        ASSERT_NE(GetCachedInputFrame(n), nullptr);
        InputState.OldestNeededFrame = n;
    }
    std::vector<int> before;
    for (int s = 0; s < InputFrameCache.slotCount; ++s) before.push_back(InputFrameCache.slotFrame[s]);
    const int reads = TestAviSource::reads;
    const uint8_t* p = GetCachedInputFrame(3);  // older than everything cached
    const auto expect = FrameBitmap(3, 24, 10);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(std::memcmp(p, expect.data(), expect.size()), 0);
    EXPECT_EQ(TestAviSource::reads - reads, 1);
    for (int s = 0; s < InputFrameCache.slotCount; ++s) EXPECT_EQ(InputFrameCache.slotFrame[s], before[s]);

    // Past the end of the input, and with a cache that never frees a slot:
    // no endless wait; the end gives null, the stale cache still serves.
    EXPECT_EQ(GetCachedInputFrame(70), nullptr);
    InputState.OldestNeededFrame = 0;
    for (int n = 20; n < 40; ++n) {
        const uint8_t* q = GetCachedInputFrame(n);
        ASSERT_NE(q, nullptr);
        const auto e = FrameBitmap(n, 24, 10);
        ASSERT_EQ(std::memcmp(q, e.data(), e.size()), 0) << n;
    }
}

TEST_F(InputCacheTest, WorkerFailureIsReportedByTheEncodingThread) {
    platform::ScriptedMessageBoxes boxes;
    ASSERT_GE(StartWorkerThreads(), 2);
    ThreadReadFlag = 1;
    TestAviSource::failAt = 2;
    ASSERT_NE(GetCachedInputFrame(0), nullptr);
    int slot = RunOnWorkerThread(InputReadAheadTask, &InputFrameCache);
    ASSERT_GE(slot, 0);
    WaitForWorkerTasks(&slot, 1, 10000);
    slot = RunOnWorkerThread(InputReadAheadTask, &InputFrameCache);
    WaitForWorkerTasks(&slot, 1, 10000);
    EXPECT_TRUE(boxes.Texts().empty());  // the worker showed nothing
    EXPECT_EQ(InputFrameCache.readError.load(), 1);
    EXPECT_EQ(GetCachedInputFrame(2), nullptr);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{
                                 " Error during parallel input read operation.\n Failed to read frame 2 from AVI "
                                 "file\n \n Disable parallel data read and try again."});
}

TEST_F(InputCacheTest, InlineFailuresAndSizeChecks) {
    platform::ScriptedMessageBoxes boxes;
    TestAviSource::failAt = 1;
    EXPECT_EQ(GetCachedInputFrame(1), nullptr);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Failed to read frame 1 from AVI file\n"});

    // A frame lower than the picture: the fatal report, then the same text as a warning.
    TestAviSource::Install(0, 60);
    TestAviSource::overrides[0] = FrameBitmap(0, 24, 9);
    boxes.Clear();
    EXPECT_EQ(GetCachedInputFrame(0), nullptr);
    const std::string height = "MPEG Image height greate then AVI file frame height.\n Size convertion not supported.";
    EXPECT_EQ(boxes.Texts(), (std::vector<std::string>{height, height}));

    TestAviSource::Install(0, 60);
    TestAviSource::overrides[0] = FrameBitmap(0, 20, 10);
    boxes.Clear();
    EXPECT_EQ(GetCachedInputFrame(0), nullptr);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{
                                 "MPEG Image width different from AVI file frame width.\n Size convertion not "
                                 "supported. "});
}
