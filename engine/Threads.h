// The engine's pool of 16 worker threads, and the thread options that decide
// how much of an encoding runs on it (kept in the program INI file).
#pragma once

#include <atomic>
#include <cstdint>

constexpr int WorkerPoolSize = 16;

// What a task on the pool may touch. A task reads the record it is handed
// and the set-up's words; it writes only into that record and the places the
// record names. The records, and the tasks that get them:
// - CalcMotionSearchTablesTask: TableTaskArgs (an anchor's source plane; it
//   writes that anchor's table buffer, which nothing reads before
//   TableTaskState is back at 0).
// - MotionEstimationBandTask, MotionEstimationBandTask2: their band block,
//   which names the record of its stage of one search (a copy of the search's
//   MotionPicture with the stage's SearchWords, and the row count the stage's
//   bands share); they write the macroblock records of the rows they take,
//   and the block's sums.
// - RawReadAheadTask: ReadAhead (the frame's name, the store it reads into,
//   and the MotionPicture of a search made ahead with records of its own,
//   whose bands get their stage records as above). It also writes the search
//   ahead's open stage and helper sums (atomic), and the band tasks a wait
//   gave up on, which the encoding thread reads only after collecting it.
// - OutputDrawTask: OutputDraw, which holds its own copy of the picture; the
//   preview buffer under PreviewPictures.OutputPreviewLock.
// - DrawInputPreviewTask: the input preview under its InputPreviewLock.
// - InputReadAheadTask: the input cache, whose slots pass between threads
//   through their atomic frame numbers and the reader's lock.
// - Row helpers (RunRowsInParallel, RowStream): the context record of the
//   rows (prediction, error blocks, table bands, quantisation, reconstruction),
//   one row at a time.
// The set-up's words, written only before the first task of an encoding and
// read by any task: EncoderSettings, the sequence geometry, MeTableGeometry,
// the installed kernels, MotionState's search mode (MeExhaustive, MeHighMode,
// MeLowMode) and the thread options below. Every other word (CurrentPicture,
// MotionState's picture words, the rate control) is the encoding thread's.

// A task runs with its argument and the index of the slot that runs it; a
// value above 0 means success.
using WorkerTask = int32_t (*)(void* argument, int slot);

// Slot states.
enum : int32_t {
    WORKER_NOT_STARTED = 0,
    WORKER_IDLE = 1,
    WORKER_RUNNING = 2,
    WORKER_POSTED = 3,  // task handed over, or finished
    WORKER_STOPPED = -2,
    WORKER_TERMINATED = -3,  // did not end within the stop sequence
    WORKER_BROKEN = -4,      // bad slot or missing start semaphore
};

// Slot results.
enum : int32_t {
    WORKER_RESULT_NONE = 0,
    WORKER_RESULT_OK = 4,
    WORKER_RESULT_FAILED = -1,  // the task returned 0 or less, or the thread stopped
    WORKER_RESULT_NO_TASK = -2,
};

// The semaphores of a slot, indexing WorkerSlot::pending.
enum : int { WORKER_SEM_START = 0, WORKER_SEM_DONE1 = 1, WORKER_SEM_DONE2 = 2 };

// What the rest of the engine may read of a slot. The synchronisation behind
// it lives in Threads.cpp.
struct WorkerSlot {
    std::atomic<int32_t> state{WORKER_NOT_STARTED};
    std::atomic<int32_t> result{WORKER_RESULT_NONE};
    std::atomic<int32_t> reserved{0};  // 1: RunOnWorkerThread must not choose it
    std::atomic<uint32_t> threadId{0};
    // Releases not yet taken (0 or 1) per semaphore; -1 while the semaphore does not exist.
    std::atomic<int32_t> pending[3] = {-1, -1, -1};
};

extern WorkerSlot WorkerPool[WorkerPoolSize];
// 1 tells every worker to leave; the input read-ahead stops on it too.
extern std::atomic<int> WorkerPoolStopFlag;
// 1 between a complete start and the stop.
extern std::atomic<int> WorkerPoolRunning;
// The slot being created, so the number of complete slots when creation stopped early.
extern std::atomic<int> WorkerPoolCreatedCount;

// 16 when every worker started; -1 a thread could not be created; -2 a
// semaphore could not be created. A pool still alive from an earlier start is
// stopped first.
int StartWorkerThreads();
// Wakes every worker with the stop flag set and joins it. A worker busy with a
// task is never killed: the stop waits for the task to return.
void StopWorkerThreads();
// The body of a worker thread: 0 after a stop, -10 for a bad slot or a
// missing start semaphore.
int WorkerThreadProc(int slot);

// Hands the task to the lowest idle, unreserved slot and returns its index;
// -1 when the function or the argument is null; -2 when no slot is free even
// after one 50 ms retry. Any thread may post: the choice of slot is locked.
int RunOnWorkerThread(WorkerTask task, void* argument);
// As RunOnWorkerThread without the retry (-2 at once when no slot is idle),
// and the slot comes reserved: it stays so until ReleaseWorkerSlots.
int RunOnIdleWorker(WorkerTask task, void* argument);
// Takes back the task posted to `slot` if its worker has not started it: 1
// (the task never runs, the slot is idle again, a reservation stays), 0 when
// it has started or finished, -1 for a bad index.
int RevokeWorkerTask(int slot);
// Waits until all the listed slots have finished their tasks. 1 all succeeded;
// -1 a task failed or its worker stopped; -2 time-out (the tasks go on);
// -3 bad arguments or a slot without its semaphores; -6 a task still running.
// A negative time-out waits without limit.
int WaitForWorkerTasks(const int* slots, int count, int timeoutMs);
// 1, or -1 for an index outside 0..15.
int ReserveWorkerSlot(int slot);
// Runs body(context, row) for every row in [0, rows) on the calling thread and
// on up to `helpers` idle workers, each taking the next row nobody has taken
// yet, and returns when all rows are done; body must not depend on which
// thread runs a row or in which order, and must not throw. Workers that are
// busy, or start late, are not waited for: their share falls to the others.
// False when a row threw.
bool RunRowsInParallel(int rows, int helpers, void (*body)(void* context, int row), void* context);
// Rows that a following loop consumes in order, row by row: the rows are
// handed to up to `helpers` idle workers at construction, and WaitForRow runs
// rows nobody has taken yet on the calling thread until the row it needs is
// done. The same rules for body as in RunRowsInParallel. Without a worker the
// caller runs every row. Finish (or the destructor, which drops the rows not
// started, e.g. when the consumer leaves early) waits for the rows taken.
// A stream that `follow`s its caller runs a row only once the caller has
// released it (Release(n): the rows below n are ready); its helpers wait for
// rows meanwhile, and Finish releases every row. Its WaitForRow runs released
// rows and waits for a row in other hands without helping other streams.
class RowStream {
public:
    RowStream(int rows, int helpers, void (*body)(void* context, int row), void* context, bool follow = false);
    ~RowStream();
    RowStream(const RowStream&) = delete;
    RowStream& operator=(const RowStream&) = delete;
    void WaitForRow(int row);
    void Release(int rows);
    // Runs the rows left and waits for all; false when a row threw.
    bool Finish();

private:
    // No other thread takes rows through HelpRowStream any more.
    void Close();
    void* job_ = nullptr;
    int rows_ = 0, next_ = 0;  // next_: the caller's own progress without a job
    void (*body_)(void*, int) = nullptr;
    void* context_ = nullptr;
    bool follow_ = false;
    bool failed_ = false;
    int helpSlot_ = -1;  // where HelpRowStream finds the stream, -1 nowhere
};
// Runs one row of a RowStream the encoding thread is consuming or producing,
// when one is ready that nobody has taken; false when there is none. A worker
// calls it between the steps of its own work, so the picture's rows go first.
bool HelpRowStream();
// 1, or -1 at the first bad index (the indices before it are released).
int ReleaseWorkerSlots(const int* slots, int count);

// Thread options: motion-estimation bands run in parallel, and the four kinds
// of parallel work (read-ahead, preview drawing, split reconstruction, motion
// tables for the next anchor).
extern int MeThreadCount;
extern int ThreadReadFlag;
extern int ThreadDrawFlag;  // only exactly 1 means on
extern int ThreadEncodeFlag;
extern int ThreadTablesFlag;
// Processors of the machine, set at program start; feeds the defaults.
extern int ProcessorCount;

// One pause of a spinning thread.
inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// Workers that may help the calling thread with the row loops of a picture
// (prediction, error blocks, activity, reconstruction): none unless split
// reconstruction is on, else one less than the motion-estimation bands (at least one).
int PictureRowHelpers();
// The same while the next picture's motion search runs beside the picture:
// the processors go to the search's bands, which take rows of the picture
// first when they find some.
int PictureRowHelpersBesideSearch();

// Options from "ROZARAZ2.INI" when it holds explicit ones, else the defaults.
void ReadThreadOptions();
// Writes the six keys; false when the file could not be written.
bool WriteThreadOptions();
void DefaultThreadOptions();

// Test seam: makes StartWorkerThreads fail at `slot` as if the system had
// refused a thread (kind 1) or a semaphore (kind 2). Kind 0 clears it.
void SetWorkerPoolCreationFault(int slot, int kind);
