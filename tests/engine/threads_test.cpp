// Worker pool: posting, waiting, reservations, stop and start failures, and
// the thread options of the program INI file.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/Threads.h"
#include "platform/Ini.h"
#include "tests/support/TestSupport.h"

namespace {

using Clock = std::chrono::steady_clock;

// A task argument that can hold its task until the test opens the gate.
struct Job {
    std::mutex m;
    std::condition_variable cv;
    bool open = true;
    int returnValue = 1;
    std::atomic<int> ranOnSlot{-1};
    std::atomic<int> finished{0};

    void Close() {
        std::lock_guard l(m);
        open = false;
    }
    void Open() {
        {
            std::lock_guard l(m);
            open = true;
        }
        cv.notify_all();
    }
};

int32_t JobTask(void* argument, int slot) {
    auto* job = static_cast<Job*>(argument);
    job->ranOnSlot.store(slot);
    std::unique_lock l(job->m);
    job->cv.wait(l, [&] { return job->open; });
    job->finished.store(1);
    return job->returnValue;
}

int32_t ThrowingTask(void*, int) { throw std::runtime_error("task failed"); }

class WorkerPoolTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(StartWorkerThreads(), 16); }
    void TearDown() override {
        StopWorkerThreads();
        SetWorkerPoolCreationFault(-1, 0);
    }
};

TEST_F(WorkerPoolTest, StartsSixteenIdleWorkersAndRunsTasksOnTheLowestFreeSlots) {
    for (const auto& s : WorkerPool) {
        EXPECT_EQ(s.state.load(), WORKER_IDLE);
        EXPECT_NE(s.threadId.load(), 0u);
    }
    EXPECT_EQ(WorkerPoolRunning.load(), 1);

    Job jobs[16];
    int slots[16];
    for (auto& j : jobs) j.Close();
    for (int i = 0; i < 16; ++i) {
        slots[i] = RunOnWorkerThread(JobTask, &jobs[i]);
        EXPECT_EQ(slots[i], i);  // each busy slot pushes the next task one further
    }
    for (auto& j : jobs) j.Open();
    EXPECT_EQ(WaitForWorkerTasks(slots, 16, 10000), 1);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(jobs[i].ranOnSlot.load(), i);
        EXPECT_EQ(jobs[i].finished.load(), 1);
        EXPECT_EQ(WorkerPool[i].result.load(), WORKER_RESULT_OK);
    }

    // A freed slot is used again, and a finished task's old completion does
    // not end the wait for the new one early.
    Job again;
    again.Close();
    int slot = RunOnWorkerThread(JobTask, &again);
    ASSERT_GE(slot, 0);
    EXPECT_EQ(WaitForWorkerTasks(&slot, 1, 30), -2);
    again.Open();
    EXPECT_EQ(WaitForWorkerTasks(&slot, 1, 10000), 1);
}

TEST_F(WorkerPoolTest, RefusesTasksWhenNoUnreservedSlotIsIdle) {
    Job dummy;
    EXPECT_EQ(RunOnWorkerThread(nullptr, &dummy), -1);
    EXPECT_EQ(RunOnWorkerThread(JobTask, nullptr), -1);

    Job jobs[16];
    int slots[16];
    for (auto& j : jobs) j.Close();
    for (int i = 0; i < 16; ++i) slots[i] = RunOnWorkerThread(JobTask, &jobs[i]);
    Job extra;
    auto t0 = Clock::now();
    EXPECT_EQ(RunOnWorkerThread(JobTask, &extra), -2);
    EXPECT_GE(Clock::now() - t0, std::chrono::milliseconds(45));  // the one retry
    for (auto& j : jobs) j.Open();
    ASSERT_EQ(WaitForWorkerTasks(slots, 16, 10000), 1);

    // Reserved idle slots are not chosen.
    for (int k = 0; k < 16; ++k) ASSERT_EQ(ReserveWorkerSlot(k), 1);
    EXPECT_EQ(RunOnWorkerThread(JobTask, &extra), -2);
    const int five[] = {5};
    ASSERT_EQ(ReleaseWorkerSlots(five, 1), 1);
    int slot = RunOnWorkerThread(JobTask, &extra);
    EXPECT_EQ(slot, 5);
    EXPECT_EQ(WaitForWorkerTasks(&slot, 1, 10000), 1);

    EXPECT_EQ(ReserveWorkerSlot(-1), -1);
    EXPECT_EQ(ReserveWorkerSlot(16), -1);
    const int partlyBad[] = {0, 1, 16, 2};
    EXPECT_EQ(ReleaseWorkerSlots(partlyBad, 4), -1);
    EXPECT_EQ(WorkerPool[0].reserved.load(), 0);
    EXPECT_EQ(WorkerPool[1].reserved.load(), 0);
    EXPECT_EQ(WorkerPool[2].reserved.load(), 1);  // after the bad index: untouched
    EXPECT_EQ(ReleaseWorkerSlots(nullptr, 0), 1);
}

TEST_F(WorkerPoolTest, WaitReportsBadArgumentsFailuresTimeOutsAndStoppedWorkers) {
    const int repeated[] = {3, 3};
    const int outside[] = {0, 16};
    const int seventeen[17] = {};
    auto t0 = Clock::now();
    EXPECT_EQ(WaitForWorkerTasks(nullptr, 1, 1000), -3);
    EXPECT_EQ(WaitForWorkerTasks(repeated, 0, 1000), -3);
    EXPECT_EQ(WaitForWorkerTasks(seventeen, 17, 1000), -3);
    EXPECT_EQ(WaitForWorkerTasks(repeated, 2, 1000), -3);
    EXPECT_EQ(WaitForWorkerTasks(outside, 2, 1000), -3);
    EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(500));  // none of them waited

    Job failing;
    failing.returnValue = 0;
    Job good;
    good.Close();  // both held, so that the three tasks get three slots
    failing.Close();
    int slots[3];
    slots[0] = RunOnWorkerThread(JobTask, &good);
    slots[1] = RunOnWorkerThread(JobTask, &failing);
    slots[2] = RunOnWorkerThread(ThrowingTask, &good);
    good.Open();
    failing.Open();
    EXPECT_EQ(WaitForWorkerTasks(slots, 2, 10000), -1);
    EXPECT_EQ(WorkerPool[slots[1]].result.load(), WORKER_RESULT_FAILED);
    EXPECT_EQ(WaitForWorkerTasks(&slots[2], 1, 10000), -1);

    Job slow;
    slow.Close();
    int slot = RunOnWorkerThread(JobTask, &slow);
    EXPECT_EQ(WaitForWorkerTasks(&slot, 1, 20), -2);
    EXPECT_EQ(WorkerPool[slot].state.load(), WORKER_RUNNING);
    slow.Open();
    EXPECT_EQ(WaitForWorkerTasks(&slot, 1, 10000), 1);

    StopWorkerThreads();
    EXPECT_EQ(WaitForWorkerTasks(&slot, 1, 1000), -3);  // no semaphores any more
    Job late;
    EXPECT_EQ(RunOnWorkerThread(JobTask, &late), -2);
}

TEST_F(WorkerPoolTest, StopWaitsForATaskStillRunningInsteadOfKillingIt) {
    Job slow;
    slow.Close();
    int slot = RunOnWorkerThread(JobTask, &slow);
    ASSERT_GE(slot, 0);
    while (slow.ranOnSlot.load() < 0) std::this_thread::yield();
    std::thread opener([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        slow.Open();
    });
    StopWorkerThreads();
    EXPECT_EQ(slow.finished.load(), 1);
    opener.join();
    EXPECT_EQ(WorkerPoolRunning.load(), 0);
    for (const auto& s : WorkerPool) {
        EXPECT_EQ(s.threadId.load(), 0u);
        EXPECT_EQ(s.pending[WORKER_SEM_DONE2].load(), -1);
    }
    // The pool can be started again after a stop.
    EXPECT_EQ(StartWorkerThreads(), 16);
}

TEST_F(WorkerPoolTest, FailedStartLeavesWhatWasCreatedForTheStopToClose) {
    StopWorkerThreads();
    SetWorkerPoolCreationFault(5, 1);
    EXPECT_EQ(StartWorkerThreads(), -1);
    EXPECT_EQ(WorkerPoolRunning.load(), 0);
    EXPECT_EQ(WorkerPoolCreatedCount.load(), 5);
    for (int k = 0; k < 5; ++k) EXPECT_NE(WorkerPool[k].threadId.load(), 0u) << k;
    EXPECT_EQ(WorkerPool[5].threadId.load(), 0u);
    EXPECT_EQ(WorkerPool[5].pending[WORKER_SEM_DONE2].load(), 0);
    EXPECT_EQ(WorkerPool[6].pending[WORKER_SEM_START].load(), -1);

    // The created workers still take tasks once they are waiting.
    auto deadline = Clock::now() + std::chrono::seconds(5);
    while (WorkerPool[4].state.load() != WORKER_IDLE && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    while (WorkerPool[0].state.load() != WORKER_IDLE && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    Job job;
    int slot = RunOnWorkerThread(JobTask, &job);
    EXPECT_EQ(slot, 0);
    EXPECT_EQ(WaitForWorkerTasks(&slot, 1, 10000), 1);

    StopWorkerThreads();
    for (int k = 0; k <= 5; ++k)
        for (int sem = 0; sem < 3; ++sem) EXPECT_EQ(WorkerPool[k].pending[sem].load(), -1);

    SetWorkerPoolCreationFault(0, 2);
    EXPECT_EQ(StartWorkerThreads(), -2);
    EXPECT_EQ(WorkerPool[0].pending[WORKER_SEM_START].load(), 0);
    EXPECT_EQ(WorkerPool[0].pending[WORKER_SEM_DONE1].load(), -1);
    StopWorkerThreads();
    EXPECT_EQ(WorkerPool[0].pending[WORKER_SEM_START].load(), -1);
    SetWorkerPoolCreationFault(-1, 0);
}

// Rows a consumer follows one by one: each row runs once, a row is complete
// when its wait returns, and a consumer leaving early drops the rows nobody
// started, with no row running after the stream is gone.
struct StreamRows {
    std::vector<std::atomic<int>> runs;
    std::vector<int> values;  // written by the row, read by the consumer
    explicit StreamRows(int rows) : runs(static_cast<size_t>(rows)), values(static_cast<size_t>(rows), 0) {}
};

void StreamRow(void* context, int row) {
    auto& rows = *static_cast<StreamRows*>(context);
    // Uneven work, so that helpers and the consumer overtake each other.
    volatile int spin = 0;
    for (int k = 0; k < (row % 7) * 2000; ++k) spin = spin + 1;
    rows.values[static_cast<size_t>(row)] = row * 3 + 1;
    rows.runs[static_cast<size_t>(row)].fetch_add(1);
}

// Rows of a stream that follows its caller, counting the ones run before
// their release.
struct Follow {
    std::atomic<int> released{0}, early{0};
    std::atomic<int> runs[60] = {};
};

void FollowRow(void* context, int row) {
    auto& f = *static_cast<Follow*>(context);
    if (row >= f.released.load()) f.early.fetch_add(1);
    f.runs[row].fetch_add(1);
}

TEST_F(WorkerPoolTest, RowStreamHandsOverEachRowOnceAndInOrder) {
    constexpr int kRows = 300;
    // A thread outside the stream's helpers takes rows too, as the motion
    // search's bands do between their own rows.
    std::atomic<bool> stop{false};
    std::thread outsider([&] {
        while (!stop.load()) HelpRowStream();
    });
    for (const int helpers : {0, 1, 7, 15}) {
        StreamRows rows(kRows);
        RowStream stream(kRows, helpers, StreamRow, &rows);
        for (int r = 0; r < kRows; ++r) {
            stream.WaitForRow(r);
            ASSERT_EQ(rows.values[static_cast<size_t>(r)], r * 3 + 1) << "helpers " << helpers << " row " << r;
        }
        EXPECT_TRUE(stream.Finish());
        for (int r = 0; r < kRows; ++r) EXPECT_EQ(rows.runs[static_cast<size_t>(r)].load(), 1) << r;
    }
    for (int round = 0; round < 20; ++round) {
        StreamRows rows(kRows);
        {
            RowStream stream(kRows, 7, StreamRow, &rows);
            stream.WaitForRow(10);
        }
        int ran = 0;
        for (int r = 0; r < kRows; ++r) {
            const int runs = rows.runs[static_cast<size_t>(r)].load();
            ASSERT_LE(runs, 1) << r;
            if (r <= 10) {
                ASSERT_EQ(runs, 1) << r;
            }
            ran += runs;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        int after = 0;
        for (int r = 0; r < kRows; ++r) after += rows.runs[static_cast<size_t>(r)].load();
        EXPECT_EQ(after, ran) << "a row ran after the stream was gone";
        // Other row loops share the jobs; none of them is open to the outsider.
        std::vector<std::atomic<int>> runs(50);
        ASSERT_TRUE(RunRowsInParallel(50, 3, [](void* c, int r) {
            (*static_cast<std::vector<std::atomic<int>>*>(c))[static_cast<size_t>(r)].fetch_add(1);
        }, &runs));
        for (const auto& n : runs) ASSERT_EQ(n.load(), 1);
    }
    stop.store(true);
    outsider.join();

    // Row 0 holds its worker until the test thread has taken a row itself:
    // whichever row that is, it is one nobody else has started.
    struct Gate {
        std::thread::id tester = std::this_thread::get_id();
        std::atomic<bool> open{false};
        std::atomic<int> runs[4] = {};
    } gate;
    RowStream gated(4, 1, [](void* c, int row) {
        auto& g = *static_cast<Gate*>(c);
        if (row == 0 && std::this_thread::get_id() != g.tester)
            while (!g.open.load()) std::this_thread::yield();
        g.runs[row].fetch_add(1);
    }, &gate);
    EXPECT_TRUE(HelpRowStream());
    gate.open.store(true);
    EXPECT_TRUE(gated.Finish());
    EXPECT_FALSE(HelpRowStream()) << "a finished stream is closed";
    for (const auto& n : gate.runs) EXPECT_EQ(n.load(), 1);

    // A stream that follows its caller runs a row only once it is released.
    Follow follow;
    RowStream following(60, 3, FollowRow, &follow, true);
    for (int r = 1; r < 40; ++r) {
        follow.released.store(r);
        following.Release(r);
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    follow.released.store(60);
    EXPECT_TRUE(following.Finish());
    EXPECT_EQ(follow.early.load(), 0);
    for (const auto& n : follow.runs) EXPECT_EQ(n.load(), 1);

    // The caller releasing each row and waiting for it at once, racing its
    // helpers for the rows: its wait never runs a row not yet released.
    for (int round = 0; round < 50; ++round) {
        Follow consumed;
        RowStream stream(60, 3, FollowRow, &consumed, true);
        for (int r = 0; r < 60; ++r) {
            consumed.released.store(r + 1);
            stream.Release(r + 1);
            stream.WaitForRow(r);
            ASSERT_EQ(consumed.runs[r].load(), 1) << r;
        }
        EXPECT_TRUE(stream.Finish());
        ASSERT_EQ(consumed.early.load(), 0) << "round " << round;
    }
}

TEST(WorkerThreadProcTest, RefusesBadSlotsAndSlotsWithoutSemaphores) {
    EXPECT_EQ(WorkerThreadProc(16), -10);
    EXPECT_EQ(WorkerThreadProc(-1), -10);
    StopWorkerThreads();  // no pool: no semaphores
    EXPECT_EQ(WorkerThreadProc(3), -10);
    EXPECT_EQ(WorkerPool[3].state.load(), WORKER_BROKEN);
    EXPECT_EQ(WorkerPool[3].result.load(), WORKER_RESULT_FAILED);
}

TEST(ThreadOptionsTest, DefaultsFollowTheProcessorCount) {
    ProcessorCount = 1;
    DefaultThreadOptions();
    EXPECT_EQ(MeThreadCount, 1);
    EXPECT_EQ(ThreadReadFlag + ThreadDrawFlag + ThreadEncodeFlag + ThreadTablesFlag, 0);
    ProcessorCount = 3;
    DefaultThreadOptions();
    EXPECT_EQ(MeThreadCount, 3);
    ProcessorCount = 8;
    DefaultThreadOptions();
    EXPECT_EQ(MeThreadCount, 8);
    EXPECT_EQ(ThreadReadFlag + ThreadDrawFlag + ThreadEncodeFlag + ThreadTablesFlag, 4);
    ProcessorCount = 64;
    DefaultThreadOptions();
    EXPECT_EQ(MeThreadCount, WorkerPoolSize);
}

TEST(ThreadOptionsTest, ReadsExplicitOptionsOnlyWhenMarked) {
    testsupport::TempDir dir;
    const auto ini = platform::ConfigFile("ROZARAZ2.INI");
    std::filesystem::create_directories(ini.parent_path());

    ProcessorCount = 2;
    testsupport::WriteFile(ini, "[ZRN-MPEG]\ndefault_ME_threads=7\n");
    ReadThreadOptions();  // not marked: the defaults
    EXPECT_EQ(MeThreadCount, 2);
    EXPECT_EQ(ThreadDrawFlag, 1);

    testsupport::WriteFile(ini,
                           "[zrn-mpeg]\r\ndefault_thread_options=1\r\ndefault_ME_threads=7\r\n"
                           "default_threads_read=2\r\ndefault_threads_draw=0\r\n");
    ReadThreadOptions();
    EXPECT_EQ(MeThreadCount, 7);
    EXPECT_EQ(ThreadReadFlag, 2);
    EXPECT_EQ(ThreadDrawFlag, 0);
    EXPECT_EQ(ThreadEncodeFlag, 0);  // missing keys: 0
    EXPECT_EQ(ThreadTablesFlag, 0);

    for (const char* bad : {"20", "0", "-3"}) {
        testsupport::WriteFile(ini, std::string("[ZRN-MPEG]\ndefault_thread_options=1\ndefault_ME_threads=") +
                                        bad + "\n");
        ReadThreadOptions();
        EXPECT_EQ(MeThreadCount, 1) << bad;
    }
}

TEST(ThreadOptionsTest, WrittenOptionsReadBackAndKeepOtherKeys) {
    testsupport::TempDir dir;
    const auto ini = platform::ConfigFile("ROZARAZ2.INI");
    std::filesystem::create_directories(ini.parent_path());
    testsupport::WriteFile(ini, "[ZRN-MPEG]\nMain_Avi_Input_Directory=/videos\n");

    MeThreadCount = 12;
    ThreadReadFlag = 0;
    ThreadDrawFlag = 1;
    ThreadEncodeFlag = 1;
    ThreadTablesFlag = 0;
    ASSERT_TRUE(WriteThreadOptions());
    EXPECT_EQ(testsupport::ReadFile(ini),
              "[ZRN-MPEG]\nMain_Avi_Input_Directory=/videos\ndefault_thread_options=1\n"
              "default_ME_threads=12\ndefault_threads_read=0\ndefault_threads_draw=1\n"
              "default_threads_encode=1\ndefault_threads_tables=0\n");

    MeThreadCount = 1;
    ThreadDrawFlag = ThreadEncodeFlag = 0;
    ReadThreadOptions();
    EXPECT_EQ(MeThreadCount, 12);
    EXPECT_EQ(ThreadDrawFlag, 1);
    EXPECT_EQ(ThreadEncodeFlag, 1);
}

}  // namespace
