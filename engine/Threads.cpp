// The worker pool: 16 threads, each with a start semaphore and two completion
// semaphores, handed one task at a time by the encoding thread; and the
// thread options of the program INI file.
//
// The semaphores are counts (0 or 1, -1 when absent) kept in WorkerPool and
// changed only under one pool mutex, so a wait for several of them at once is
// a single predicate over the counts.
#include "engine/Threads.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/Format.h"
#include "platform/Ini.h"
#include "platform/System.h"

WorkerSlot WorkerPool[WorkerPoolSize];
std::atomic<int> WorkerPoolStopFlag{0};
std::atomic<int> WorkerPoolRunning{0};
std::atomic<int> WorkerPoolCreatedCount{0};

int MeThreadCount = 1;
int ThreadReadFlag = 0;
int ThreadDrawFlag = 0;
int ThreadEncodeFlag = 0;
int ThreadTablesFlag = 0;
int ProcessorCount = 1;

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct SlotControl {
    std::thread thread;
    std::condition_variable startSignal;
    WorkerTask task = nullptr;
    void* argument = nullptr;
    bool exited = false;
    // Set while the worker sleeps on startSignal: only then does a post pay
    // for the lock and the wake-up.
    std::atomic<bool> sleeping{false};
};

std::mutex g_poolMutex;
// Signalled whenever a worker becomes idle, finishes a task or exits.
std::condition_variable g_poolChanged;
// Threads waiting on g_poolChanged (counted under the mutex): a worker takes
// the lock and broadcasts only when somebody waits.
std::atomic<int> g_poolWaiters{0};
SlotControl g_control[WorkerPoolSize];
// Serialises posting threads; the workers never take it.
std::mutex g_postMutex;

int g_faultSlot = -1;
int g_faultKind = 0;

// The row loops of RunRowsInParallel. A job is reused only when no helper
// holds it any more (users 0).
struct RowJob {
    std::atomic<int> next{0}, done{0}, users{0};
    std::atomic<bool> failed{false};
    int rows = 0;
    // Rows below it may be taken: `rows` except for a stream that follows a
    // producer, which raises it as rows become ready.
    std::atomic<int> released{0};
    void (*body)(void*, int) = nullptr;
    void* context = nullptr;
    // Per row 1 once done, for a RowStream (nullptr otherwise).
    std::atomic<uint8_t>* rowDone = nullptr;
    std::unique_ptr<std::atomic<uint8_t>[]> rowDoneStore;
    int rowDoneCapacity = 0;
};
RowJob g_rowJobs[8];

void RunRow(RowJob& job, int row) {
    try {
        job.body(job.context, row);
    } catch (...) {
        job.failed.store(true);
    }
    if (job.rowDone) job.rowDone[row].store(1, std::memory_order_release);
    job.done.fetch_add(1, std::memory_order_release);
}

// One step `n` of a wait for other threads' rows: a pause, and now and then a
// yield to a thread waiting for this processor.
void SpinPause(int n) {
    CpuRelax();
    if (n % 1024 == 0) std::this_thread::yield();
}

// Takes the next row if it is released: the row, or -1 (none now, or none left).
int TakeReleasedRow(RowJob& job) {
    int row = job.next.load(std::memory_order_acquire);
    while (row < std::min(job.released.load(std::memory_order_acquire), job.rows))
        if (job.next.compare_exchange_weak(row, row + 1, std::memory_order_acq_rel)) return row;
    return -1;
}

// Runs rows until none is left; rows not yet released are waited for.
void RunRows(RowJob& job) {
    if (job.released.load(std::memory_order_acquire) >= job.rows) {
        for (int row; (row = job.next.fetch_add(1, std::memory_order_acq_rel)) < job.rows;) RunRow(job, row);
        return;
    }
    for (int n = 1; job.next.load(std::memory_order_acquire) < job.rows; ++n) {
        const int row = TakeReleasedRow(job);
        if (row >= 0) RunRow(job, row);
        else SpinPause(n);
    }
}

// The jobs of the RowStreams being consumed, open to any worker that finds a
// moment between the steps of its own work (see HelpRowStream): the rows the
// coding loop waits for, then up to two streams that follow it.
std::atomic<RowJob*> g_streamToHelp[3] = {nullptr, nullptr, nullptr};

// Waits for rows already taken by other threads (short: a row at most).
void WaitForRowsDone(const RowJob& job, int count) {
    for (int n = 1; job.done.load(std::memory_order_acquire) < count; ++n) SpinPause(n);
}

// Claims a job nobody holds for the caller (users 1); any thread may ask.
RowJob* FreeRowJob() {
    if (WorkerPoolRunning.load() != 1) return nullptr;
    for (RowJob& j : g_rowJobs) {
        int none = 0;
        if (j.users.compare_exchange_strong(none, 1, std::memory_order_acq_rel)) return &j;
    }
    return nullptr;
}

// Hands the job to up to `helpers` idle workers.
void PostRowJob(RowJob& job, int helpers);

bool ValidSlot(int slot) { return slot >= 0 && slot < WorkerPoolSize; }

// Releases a semaphore unless it already holds its one release (or is absent).
void ReleaseSemaphore(int slot, int sem) {
    int expected = 0;
    WorkerPool[slot].pending[sem].compare_exchange_strong(expected, 1);
}

void NotifyPoolChanged() {
    if (g_poolWaiters.load() == 0) return;
    std::lock_guard lock(g_poolMutex);
    g_poolChanged.notify_all();
}

// Waits on g_poolChanged, counted so that the workers know to broadcast.
template <class Predicate>
bool WaitPoolChanged(std::unique_lock<std::mutex>& lock, int timeoutMs, Predicate settled) {
    g_poolWaiters.fetch_add(1);
    bool done = true;
    if (timeoutMs < 0) g_poolChanged.wait(lock, settled);
    else done = g_poolChanged.wait_for(lock, milliseconds(timeoutMs), settled);
    g_poolWaiters.fetch_sub(1);
    return done;
}

// How long a thread that ran out of work keeps looking for more before it
// sleeps: a hand-off to a thread still looking costs no system call, and the
// stages of a picture follow each other within this time. A thread waiting for
// tasks to finish looks longer: it is the one the picture waits for, and waking
// it costs more than its spin. None on one processor.
Clock::duration WorkerSpinTime() {
    return ProcessorCount > 1 ? std::chrono::microseconds(1000) : Clock::duration::zero();
}
Clock::duration WaiterSpinTime() {
    return ProcessorCount > 1 ? std::chrono::microseconds(3000) : Clock::duration::zero();
}

// Idle workers that spin take processors from the busy threads beside them
// (the pool is larger than the machine): one per eight processors looks for
// the next task, the others sleep at once.
int IdleSpinnerLimit() { return std::max(1, ProcessorCount / 8); }

// Whether the worker of `slot` is among the lowest idle ones, which the next
// posts reach first.
bool AmongLowestIdle(int slot) {
    int lower = 0;
    for (int k = 0; k < slot && lower < IdleSpinnerLimit(); ++k)
        if (WorkerPool[k].state.load(std::memory_order_relaxed) == WORKER_IDLE &&
            WorkerPool[k].reserved.load(std::memory_order_relaxed) == 0)
            ++lower;
    return lower < IdleSpinnerLimit();
}

// Spins until ready() or the spin time is over; true when ready.
template <class Ready>
bool SpinFor(Ready ready, Clock::duration spin) {
    if (ready()) return true;
    if (spin == Clock::duration::zero()) return false;
    const auto until = Clock::now() + spin;
    for (int n = 1;; ++n) {
        for (int k = 0; k < 32; ++k) {
            CpuRelax();
            if (ready()) return true;
        }
        if (Clock::now() >= until) return false;
        // A system call each time costs more than it gives; now and then one
        // lets a thread waiting for this processor in.
        if (n % 256 == 0) std::this_thread::yield();
    }
}

void ClearSlot(int slot) {
    WorkerSlot& s = WorkerPool[slot];
    s.state.store(WORKER_NOT_STARTED);
    s.result.store(WORKER_RESULT_NONE);
    s.reserved.store(0);
    s.threadId.store(0);
    for (auto& p : s.pending) p.store(-1);
    g_control[slot].task = nullptr;
    g_control[slot].argument = nullptr;
    g_control[slot].exited = false;
}

void WorkerMain(int slot) {
    WorkerThreadProc(slot);
    std::lock_guard lock(g_poolMutex);
    g_control[slot].exited = true;
    g_poolChanged.notify_all();
}

bool AnyThreadAlive() {
    for (auto& c : g_control)
        if (c.thread.joinable()) return true;
    return false;
}

// Whether every started thread has left its loop; caller holds the mutex.
bool AllThreadsExited() {
    for (auto& c : g_control)
        if (c.thread.joinable() && !c.exited) return false;
    return true;
}

}  // namespace

void SetWorkerPoolCreationFault(int slot, int kind) {
    std::lock_guard lock(g_poolMutex);
    g_faultSlot = kind ? slot : -1;
    g_faultKind = kind;
}

int WorkerThreadProc(int slot) {
    if (!ValidSlot(slot)) return -10;
    WorkerSlot& s = WorkerPool[slot];
    SlotControl& c = g_control[slot];
    auto leaveBroken = [&] {
        s.state.store(WORKER_BROKEN);
        s.result.store(WORKER_RESULT_FAILED);
        return -10;
    };
    auto leaveStopped = [&] {
        s.state.store(WORKER_STOPPED);
        s.result.store(WORKER_RESULT_FAILED);
        return 0;
    };
    std::atomic<int32_t>& start = s.pending[WORKER_SEM_START];
    if (start.load() < 0) return leaveBroken();
    s.state.store(WORKER_IDLE);
    NotifyPoolChanged();
    for (;;) {
        if (start.load() < 0) return leaveBroken();
        if (WorkerPoolStopFlag.load()) return leaveStopped();
        // A post stores the task, then releases the start semaphore, then
        // looks at `sleeping`; the worker sets `sleeping`, then looks at the
        // semaphore under the lock. One of the two sees the other.
        const bool started = AmongLowestIdle(slot) &&
                             SpinFor([&] { return start.load(std::memory_order_acquire) != 0; }, WorkerSpinTime());
        if (!started) {
            std::unique_lock lock(g_poolMutex);
            c.sleeping.store(true);
            c.startSignal.wait(lock, [&] { return start.load() != 0; });
            c.sleeping.store(false);
        }
        if (start.load() < 0) return leaveBroken();
        // The poster may have taken the task back before this worker came to
        // it (and made the slot idle again).
        int released = 1;
        if (!start.compare_exchange_strong(released, 0)) continue;
        s.result.store(WORKER_RESULT_NONE);
        if (WorkerPoolStopFlag.load()) return leaveStopped();

        WorkerTask task = c.task;
        void* argument = c.argument;
        c.task = nullptr;
        c.argument = nullptr;
        s.state.store(WORKER_RUNNING);
        int32_t result = WORKER_RESULT_NO_TASK;
        if (task && argument) {
            int32_t value = 0;
            // A worker never unwinds to anyone's jump target: a throwing task
            // is a failed task, which the posting thread reports.
            try {
                value = task(argument, slot);
            } catch (...) {
                value = 0;
            }
            result = value > 0 ? WORKER_RESULT_OK : WORKER_RESULT_FAILED;
        }
        {
            // Idle before the completion shows, and both at once for a
            // poster: a wait that has seen the completion may post to the
            // slot at once, and no post lands between the two.
            std::lock_guard post(g_postMutex);
            s.result.store(result);
            s.state.store(WORKER_IDLE);
            ReleaseSemaphore(slot, WORKER_SEM_DONE1);
            ReleaseSemaphore(slot, WORKER_SEM_DONE2);
        }
        NotifyPoolChanged();
    }
}

int StartWorkerThreads() {
    if (AnyThreadAlive()) StopWorkerThreads();
    // No thread is left that could hold a row job (one stopped before it ran its task never gives it back).
    for (RowJob& j : g_rowJobs) j.users.store(0);
    {
        std::lock_guard lock(g_poolMutex);
        for (int k = 0; k < WorkerPoolSize; ++k) ClearSlot(k);
    }
    WorkerPoolRunning.store(0);
    WorkerPoolStopFlag.store(0);

    for (int k = 0; k < WorkerPoolSize; ++k) {
        WorkerPoolCreatedCount.store(k);
        {
            std::lock_guard lock(g_poolMutex);
            for (int sem = 0; sem < 3; ++sem) {
                // The injected semaphore failure leaves the first one created, as
                // a real failure part-way through would.
                if (g_faultKind == 2 && g_faultSlot == k && sem == 1) return -2;
                WorkerPool[k].pending[sem].store(0);
            }
            g_control[k].task = nullptr;
            g_control[k].argument = nullptr;
            WorkerPool[k].result.store(WORKER_RESULT_NONE);
            WorkerPool[k].state.store(WORKER_NOT_STARTED);
            if (g_faultKind == 1 && g_faultSlot == k) return -1;
        }
        try {
            g_control[k].thread = std::thread(WorkerMain, k);
            auto id = static_cast<uint32_t>(std::hash<std::thread::id>{}(g_control[k].thread.get_id()));
            WorkerPool[k].threadId.store(id ? id : 1);
        } catch (const std::system_error&) {
            return -1;
        }
    }

    // Give the workers a moment to reach their waits; go on regardless after ~210 ms.
    {
        std::unique_lock lock(g_poolMutex);
        WaitPoolChanged(lock, 210, [] {
            for (auto& s : WorkerPool)
                if (s.state.load() != WORKER_IDLE) return false;
            return true;
        });
    }
    WorkerPoolRunning.store(1);
    return WorkerPoolSize;
}

void StopWorkerThreads() {
    const int n = WorkerPoolRunning.load() == 1 ? WorkerPoolSize : WorkerPoolCreatedCount.load();
    WorkerPoolRunning.store(0);
    WorkerPoolStopFlag.store(1);

    std::unique_lock lock(g_poolMutex);
    for (int k = 0; k < WorkerPoolSize; ++k) {
        if (!g_control[k].thread.joinable()) continue;
        ReleaseSemaphore(k, WORKER_SEM_START);
        g_control[k].startSignal.notify_all();
    }
    // 200 ms for every worker to leave, then three more looks 20 ms apart.
    bool allExited = WaitPoolChanged(lock, 200, AllThreadsExited);
    for (int look = 0; look < 3 && !allExited; ++look) allExited = WaitPoolChanged(lock, 20, AllThreadsExited);
    if (!allExited) {
        for (int k = 0; k < WorkerPoolSize; ++k) {
            if (g_control[k].thread.joinable() && !g_control[k].exited) {
                WorkerPool[k].state.store(WORKER_TERMINATED);
                platform::DebugOutput(platform::Format(
                    "worker %d still busy with a task at shut-down; waiting for it\n", k));
            }
        }
    }
    lock.unlock();
    // Never killed: a worker still in its task is waited for.
    for (auto& c : g_control)
        if (c.thread.joinable()) c.thread.join();

    lock.lock();
    const int closeUpTo = n < WorkerPoolSize ? n + 1 : WorkerPoolSize;
    for (int k = 0; k < closeUpTo; ++k) ClearSlot(k);
}

namespace {

int FindIdleSlot() {
    for (int k = 0; k < WorkerPoolSize; ++k)
        if (WorkerPool[k].state.load() == WORKER_IDLE && WorkerPool[k].reserved.load() == 0) return k;
    return -1;
}

// Hands the task to an idle slot; the caller holds g_postMutex.
void PostToSlot(int slot, WorkerTask task, void* argument) {
    WorkerSlot& s = WorkerPool[slot];
    SlotControl& c = g_control[slot];
    c.argument = argument;
    c.task = task;
    // A completion left over from an earlier task must not end the next wait.
    for (int sem : {WORKER_SEM_DONE1, WORKER_SEM_DONE2}) {
        int expected = 1;
        s.pending[sem].compare_exchange_strong(expected, 0);
    }
    s.state.store(WORKER_POSTED);
    ReleaseSemaphore(slot, WORKER_SEM_START);
    if (c.sleeping.load()) {
        std::lock_guard lock(g_poolMutex);
        c.startSignal.notify_all();
    }
}

}  // namespace

int RunOnWorkerThread(WorkerTask task, void* argument) {
    if (!task || !argument) return -1;
    std::unique_lock lock(g_postMutex);
    int slot = FindIdleSlot();
    if (slot < 0) {
        lock.unlock();
        std::this_thread::sleep_for(milliseconds(50));
        lock.lock();
        slot = FindIdleSlot();
        if (slot < 0) return -2;
    }
    PostToSlot(slot, task, argument);
    return slot;
}

int RevokeWorkerTask(int slot) {
    if (!ValidSlot(slot)) return -1;
    int released = 1;
    if (!WorkerPool[slot].pending[WORKER_SEM_START].compare_exchange_strong(released, 0)) return 0;
    // The worker never took it: the slot is idle again.
    g_control[slot].task = nullptr;
    g_control[slot].argument = nullptr;
    WorkerPool[slot].state.store(WORKER_IDLE);
    return 1;
}

int WaitForWorkerTasks(const int* slots, int count, int timeoutMs) {
    if (!slots || count < 1 || count > WorkerPoolSize) return -3;
    for (int i = 0; i < count; ++i) {
        if (!ValidSlot(slots[i])) return -3;
        for (int j = 0; j < i; ++j)
            if (slots[j] == slots[i]) return -3;
    }
    for (int i = 0; i < count; ++i)
        if (WorkerPool[slots[i]].pending[WORKER_SEM_DONE2].load() < 0) return -3;

    bool anyMissing = false, anyStopped = false;
    auto settled = [&] {
        bool all = true;
        for (int i = 0; i < count; ++i) {
            int p = WorkerPool[slots[i]].pending[WORKER_SEM_DONE2].load();
            if (p < 0) anyMissing = true;
            if (p <= 0) all = false;
            // A worker that left at a stop before taking its task never finishes it.
            if (p == 0 && WorkerPool[slots[i]].state.load() == WORKER_STOPPED) anyStopped = true;
        }
        return all || anyMissing || anyStopped;
    };
    bool done = timeoutMs != 0 && SpinFor(settled, WaiterSpinTime());
    if (!done) {
        std::unique_lock lock(g_poolMutex);
        done = WaitPoolChanged(lock, timeoutMs, settled);
    }
    if (anyMissing) return -3;
    if (!done) return -2;
    if (anyStopped) return -1;
    for (int i = 0; i < count; ++i) WorkerPool[slots[i]].pending[WORKER_SEM_DONE2].store(0);

    for (int i = 0; i < count; ++i) {
        const WorkerSlot& s = WorkerPool[slots[i]];
        if (s.state.load() < 0) return -1;
        if (s.state.load() == WORKER_RUNNING) return -6;
        if (s.result.load() != WORKER_RESULT_OK) return -1;
    }
    return 1;
}

namespace {

// Posts to an idle, unreserved slot without the retry: -2 when none is idle.
int PostIfIdle(WorkerTask task, void* argument, bool reserve = false) {
    std::lock_guard lock(g_postMutex);
    const int slot = FindIdleSlot();
    if (slot >= 0 && reserve) WorkerPool[slot].reserved.store(1);
    if (slot >= 0) PostToSlot(slot, task, argument);
    return slot < 0 ? -2 : slot;
}

int32_t RowJobTask(void* argument, int slot) {
    if (slot < 0) return -1;
    RowJob& job = *static_cast<RowJob*>(argument);
    RunRows(job);
    // The last touch: from here on the calling thread may reuse the job.
    job.users.fetch_sub(1, std::memory_order_acq_rel);
    return 1;
}

}  // namespace

int RunOnIdleWorker(WorkerTask task, void* argument) {
    if (!task || !argument) return -1;
    return PostIfIdle(task, argument, true);
}

bool RunRowsInParallel(int rows, int helpers, void (*body)(void* context, int row), void* context) {
    helpers = std::min({helpers, rows - 1, WorkerPoolSize});
    RowJob* job = helpers > 0 ? FreeRowJob() : nullptr;
    if (!job) {
        for (int row = 0; row < rows; ++row) body(context, row);
        return true;
    }
    job->rows = rows;
    job->body = body;
    job->context = context;
    job->rowDone = nullptr;
    job->released.store(rows, std::memory_order_relaxed);
    PostRowJob(*job, helpers);
    RunRows(*job);
    // Only rows already taken are waited for: a helper that starts late finds
    // none left and never touches the caller's context.
    WaitForRowsDone(*job, rows);
    const bool ok = !job->failed.load();
    job->users.fetch_sub(1, std::memory_order_acq_rel);
    return ok;
}

namespace {

void PostRowJob(RowJob& job, int helpers) {
    job.done.store(0);
    job.failed.store(false);
    job.next.store(0, std::memory_order_release);
    for (int k = 0; k < helpers; ++k) {
        job.users.fetch_add(1, std::memory_order_acq_rel);
        if (PostIfIdle(RowJobTask, &job) < 0) {
            job.users.fetch_sub(1, std::memory_order_acq_rel);
            break;
        }
    }
}

}  // namespace

RowStream::RowStream(int rows, int helpers, void (*body)(void* context, int row), void* context, bool follow)
    : rows_(std::max(rows, 0)), body_(body), context_(context), follow_(follow) {
    helpers = std::min({helpers, rows_ - 1, WorkerPoolSize});
    RowJob* job = helpers > 0 ? FreeRowJob() : nullptr;
    if (!job) return;
    if (job->rowDoneCapacity < rows_) {
        job->rowDoneStore = std::make_unique<std::atomic<uint8_t>[]>(static_cast<size_t>(rows_));
        job->rowDoneCapacity = rows_;
    }
    for (int r = 0; r < rows_; ++r) job->rowDoneStore[r].store(0, std::memory_order_relaxed);
    job->rowDone = job->rowDoneStore.get();
    job->rows = rows_;
    job->released.store(follow ? 0 : rows_, std::memory_order_relaxed);
    job->body = body;
    job->context = context;
    job_ = job;
    PostRowJob(*job, helpers);
    if (!follow) {
        helpSlot_ = 0;
        g_streamToHelp[0].store(job, std::memory_order_release);
        return;
    }
    for (int slot = 1; slot < 3 && helpSlot_ < 0; ++slot) {
        RowJob* none = nullptr;
        if (g_streamToHelp[slot].compare_exchange_strong(none, job, std::memory_order_acq_rel)) helpSlot_ = slot;
    }
}

void RowStream::Release(int rows) {
    RowJob* job = static_cast<RowJob*>(job_);
    if (job) job->released.store(std::min(rows, rows_), std::memory_order_release);
}

void RowStream::Close() {
    RowJob* job = static_cast<RowJob*>(job_);
    if (helpSlot_ >= 0) g_streamToHelp[helpSlot_].compare_exchange_strong(job, nullptr, std::memory_order_acq_rel);
    helpSlot_ = -1;
}

bool HelpRowStream() {
    for (std::atomic<RowJob*>& open : g_streamToHelp) {
        RowJob* job = open.load(std::memory_order_acquire);
        if (!job) continue;
        // Held before it is looked at: a job is reused only when nobody holds it.
        job->users.fetch_add(1, std::memory_order_acq_rel);
        int row = -1;
        if (open.load(std::memory_order_acquire) == job && (row = TakeReleasedRow(*job)) >= 0) RunRow(*job, row);
        job->users.fetch_sub(1, std::memory_order_acq_rel);
        if (row >= 0) return true;
    }
    return false;
}

RowStream::~RowStream() {
    RowJob* job = static_cast<RowJob*>(job_);
    if (!job) return;
    Close();
    // Rows nobody started are dropped; the ones running are waited for.
    const int taken = std::min(job->next.exchange(rows_, std::memory_order_acq_rel), rows_);
    WaitForRowsDone(*job, taken);
    job->users.fetch_sub(1, std::memory_order_acq_rel);
}

void RowStream::WaitForRow(int row) {
    if (row < 0 || row >= rows_) return;
    RowJob* job = static_cast<RowJob*>(job_);
    if (!job) {
        for (; next_ <= row; ++next_) {
            try {
                body_(context_, next_);
            } catch (...) {
                failed_ = true;
            }
        }
        return;
    }
    // While the row is in other hands, the caller runs later rows (or the
    // rows that follow it) rather than wait: the rows are the slower side.
    // Only released rows are taken: in a stream that follows its caller the
    // rows past the released ones are not ready yet. The caller's release
    // comes just before its wait there, so the row in other hands is done
    // soon: the caller waits for it rather than start other work.
    for (int n = 1; !job->rowDone[row].load(std::memory_order_acquire); ++n) {
        if (job->next.load(std::memory_order_relaxed) <= row) {
            const int taken = TakeReleasedRow(*job);
            if (taken >= 0) {
                RunRow(*job, taken);
                continue;
            }
        }
        if (follow_ || !HelpRowStream()) SpinPause(n);
    }
}

bool RowStream::Finish() {
    RowJob* job = static_cast<RowJob*>(job_);
    if (!job) {
        WaitForRow(rows_ - 1);
        return !failed_;
    }
    Release(rows_);
    RunRows(*job);
    Close();
    WaitForRowsDone(*job, rows_);
    const bool ok = !job->failed.load();
    job->users.fetch_sub(1, std::memory_order_acq_rel);
    job_ = nullptr;
    return ok;
}

int ReserveWorkerSlot(int slot) {
    if (!ValidSlot(slot)) return -1;
    WorkerPool[slot].reserved.store(1);
    return 1;
}

int ReleaseWorkerSlots(const int* slots, int count) {
    if (count < 1) return 1;
    if (!slots) return -1;
    for (int i = 0; i < count; ++i) {
        if (!ValidSlot(slots[i])) return -1;
        WorkerPool[slots[i]].reserved.store(0);
    }
    return 1;
}

namespace {

const char* const kSection = "ZRN-MPEG";

std::filesystem::path ThreadOptionsFile() { return platform::ConfigFile("ROZARAZ2.INI"); }

}  // namespace

void ReadThreadOptions() {
    const auto file = ThreadOptionsFile();
    if (platform::IniReadInt(kSection, "default_thread_options", 0, file) != 1) {
        DefaultThreadOptions();
        return;
    }
    MeThreadCount = platform::IniReadInt(kSection, "default_ME_threads", 1, file);
    if (MeThreadCount < 1 || MeThreadCount > 16) MeThreadCount = 1;
    ThreadReadFlag = platform::IniReadInt(kSection, "default_threads_read", 0, file);
    ThreadDrawFlag = platform::IniReadInt(kSection, "default_threads_draw", 0, file);
    ThreadEncodeFlag = platform::IniReadInt(kSection, "default_threads_encode", 0, file);
    ThreadTablesFlag = platform::IniReadInt(kSection, "default_threads_tables", 0, file);
}

bool WriteThreadOptions() {
    const auto file = ThreadOptionsFile();
    const std::pair<const char*, int> keys[] = {
        {"default_thread_options", 1},          {"default_ME_threads", MeThreadCount},
        {"default_threads_read", ThreadReadFlag}, {"default_threads_draw", ThreadDrawFlag},
        {"default_threads_encode", ThreadEncodeFlag}, {"default_threads_tables", ThreadTablesFlag},
    };
    bool ok = true;
    for (const auto& [key, value] : keys)
        ok = platform::IniWriteString(kSection, key, platform::Format("%d", value), file) && ok;
    return ok;
}

int PictureRowHelpers() { return ThreadEncodeFlag ? std::max(MeThreadCount, 2) - 1 : 0; }

int PictureRowHelpersBesideSearch() {
    const int helpers = PictureRowHelpers();
    // The search's bands take the picture's rows before their own, so a
    // helper of its own per eight processors keeps the rows ahead of the coder.
    return helpers == 0 ? 0 : std::min(helpers, std::max(1, ProcessorCount / 8));
}

void DefaultThreadOptions() {
    if (ProcessorCount < 2) {
        MeThreadCount = 1;
        ThreadReadFlag = ThreadDrawFlag = ThreadEncodeFlag = ThreadTablesFlag = 0;
    } else {
        MeThreadCount = ProcessorCount > WorkerPoolSize ? WorkerPoolSize : ProcessorCount;
        ThreadReadFlag = ThreadDrawFlag = ThreadEncodeFlag = ThreadTablesFlag = 1;
    }
}
