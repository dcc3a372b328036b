// Motion estimation of whole pictures on the worker pool: vectors of a moved
// picture in P and B pictures, identical results for every thread count and
// kernel kind, the macroblock-type decisions, the two table buffers and the
// behaviour when the pool is busy or a task failed.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <climits>
#include <string>
#include <thread>

#include "engine/EngineState.h"
#include "engine/Threads.h"
#include "motion_test_support.h"
#include "platform/MessageBox.h"
#include "settings/EncoderSettings.h"

namespace {

using motiontest::Plane;

constexpr int kRange = 16;

class MotionDispatch : public testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(StartWorkerThreads(), WorkerPoolSize); }
    static void TearDownTestSuite() { StopWorkerThreads(); }

    int W = 112, H = 96;
    std::vector<uint8_t> tablesA, tablesB;
    std::vector<MacroblockInfo> records;

    void SetUpEncoding(int mode, bool simd, int threads, int tablesOnWorker = 0) {
        const motiontest::ModeTuning t = motiontest::TuningForMode(mode, kRange, kRange);
        EncoderSettings.performanceMode = mode;
        EncoderSettings.meSearchLevel = t.searchLevel;
        EncoderSettings.meSearchPoints = t.searchPoints;
        EncoderSettings.meThreshold = t.threshold;
        EncoderSettings.ipDistance = 3;
        EncoderSettings.gopSize = 12;
        MotionState.MeExhaustive = t.threshold == 0 ? 1 : 0;
        int bytes = 0;
        ASSERT_EQ(InitMotionEstimation(W, H, mode, simd ? 1 : 0, kRange, kRange, kRange, kRange,
                                       &bytes, 4, 0),
                  1);
        tablesA.assign(bytes, 0);
        tablesB.assign(bytes, 0);
        MotionState.prizn = tablesA.data();
        MotionState.priz = tablesB.data();
        MeThreadCount = threads;
        ThreadTablesFlag = tablesOnWorker;
        records.assign(size_t(W / 16) * (H / 16), MacroblockInfo{});
        CurrentPicture.PictureIndex = 0;
        CurrentPicture.PrevAnchorInputFrame = CurrentPicture.NextAnchorInputFrame = -1;
        CurrentPicture.AnchorRepeatsInput = CurrentPicture.NextIsGopStart = CurrentPicture.ClosedGopBPictures = 0;
        anchors_ = {};
    }

    void TearDown() override {
        MotionTaskWaitMs = 10000;
        RestoreMotionTableBuffers();
        MotionState.priz = MotionState.prizn = nullptr;
    }

    // What the picture driver does around one call, for the picture of
    // `frame` in coding order.
    void Picture(int type, int frame, const Plane& source) {
        CurrentPicture.PictureCodingType = type;
        CurrentPicture.CurrentInputFrame = frame;
        if (type != B_PICTURE) {
            anchors_[0] = anchors_[1];
            anchors_[1] = &source;
            CurrentPicture.PrevAnchorInputFrame = CurrentPicture.NextAnchorInputFrame;
            CurrentPicture.NextAnchorInputFrame = frame;
            CurrentPicture.AnchorRepeatsInput =
                CurrentPicture.PictureIndex > 0 && frame == CurrentPicture.PrevAnchorInputFrame;
        }
        last_ = {anchors_[0] ? anchors_[0]->data() : source.data(), anchors_[1]->data(), source.data()};
        Again();
        ++CurrentPicture.PictureIndex;
    }

    // The last picture's call once more, as the driver words stand.
    void Again() {
        RunMotionEstimation(last_[0], last_[1], last_[0], last_[1], last_[2], last_[2], kRange,
                            kRange, kRange, kRange, records.data(), 0, 0);
    }

    int Columns() const { return W / 16; }

private:
    std::array<const Plane*, 2> anchors_{};
    std::array<const uint8_t*, 3> last_{};
};

// Whether the block moved by (vx, vy) half samples lies inside the picture.
bool Allows(int x, int y, int vx, int vy, int w, int h) {
    const int u = 2 * x + vx, v = 2 * y + vy;
    return u >= 0 && v >= 0 && u <= 2 * (w - 16) && v <= 2 * (h - 16);
}

TEST_F(MotionDispatch, PAndBPicturesFindAGlobalMoveInEveryMode) {
    const Plane base = motiontest::TexturedPlane(W, H, 5);
    // Within the first ring of the search (-4 to 3.5 samples) both ways.
    const std::pair<int, int> moves[] = {{6, -4}, {-6, 6}, {5, -3}, {-7, 5}, {-3, -7}};
    for (int mode = 1; mode <= 5; ++mode) {
        for (int threads : {1, 4}) {
            for (auto [vx, vy] : moves) {
                SCOPED_TRACE(testing::Message() << "mode " << mode << " threads " << threads
                                                << " move " << vx << "," << vy);
                SetUpEncoding(mode, true, threads);
                const Plane current = motiontest::ShiftedPlane(base, vx, vy);
                Picture(I_PICTURE, 0, base);
                Picture(P_PICTURE, 1, current);
                for (int y = 0; y < H; y += 16) {
                    for (int x = 0; x < W; x += 16) {
                        const MacroblockInfo& r = records[(y / 16) * Columns() + x / 16];
                        if (!Allows(x, y, vx, vy, W, H)) continue;
                        if (mode <= 3 && (vx & 1) && (vy & 1) && (2 * x + vx < 2 || 2 * y + vy < 2))
                            continue;
                        EXPECT_EQ(r.typeFlags, MB_FORWARD) << x << "," << y;
                        EXPECT_EQ(r.forwardVector[0], vx) << x << "," << y;
                        EXPECT_EQ(r.forwardVector[1], vy) << x << "," << y;
                    }
                }
                // A B picture between anchors at frames 0 and 2: it sees the
                // first moved by v and the second by -v.
                SetUpEncoding(mode, true, threads);
                const Plane next = motiontest::ShiftedPlane(base, 2 * vx, 2 * vy);
                Picture(I_PICTURE, 0, base);
                Picture(P_PICTURE, 2, next);
                Picture(B_PICTURE, 1, current);
                for (int y = 0; y < H; y += 16) {
                    for (int x = 0; x < W; x += 16) {
                        const MacroblockInfo& r = records[(y / 16) * Columns() + x / 16];
                        if (!Allows(x, y, vx, vy, W, H) || !Allows(x, y, -vx, -vy, W, H)) continue;
                        // Fast modes try no diagonal half position where the edge cuts the square.
                        if (mode <= 3 && (vx & 1) && (vy & 1) &&
                            (2 * x + vx < 2 || 2 * y + vy < 2 || 2 * x - vx < 2 || 2 * y - vy < 2))
                            continue;
                        EXPECT_EQ(r.motionType, 2);
                        EXPECT_NE(r.typeFlags, MB_INTRA) << x << "," << y;
                        EXPECT_EQ(r.forwardVector[0], vx) << x << "," << y;
                        EXPECT_EQ(r.forwardVector[1], vy) << x << "," << y;
                        EXPECT_EQ(r.backwardVector[0], -vx) << x << "," << y;
                        EXPECT_EQ(r.backwardVector[1], -vy) << x << "," << y;
                    }
                }
            }
        }
    }
}

// Everything a picture's motion estimation leaves behind.
struct Outcome {
    std::vector<std::array<int, 11>> records;
    int errorSum = 0, intraSum = 0;
    bool operator==(const Outcome&) const = default;
};

Outcome Capture(const std::vector<MacroblockInfo>& records) {
    Outcome o;
    for (const MacroblockInfo& r : records)
        o.records.push_back({r.typeFlags, r.motionType, r.predictionError, r.forwardVector[0],
                             r.forwardVector[1], r.backwardVector[0], r.backwardVector[1],
                             r.firstStageResult[0], r.firstStageResult[1], r.firstStageResult[2],
                             r.matchWindows[0] | r.matchWindows[1] << 8 | r.matchWindows[3] << 16});
    o.errorSum = CurrentPicture.PictureErrorSum;
    o.intraSum = CurrentPicture.PictureIntraVarianceSum;
    return o;
}

// Pictures of a camera pan with an object of its own and a patch of noise,
// so that every kind of macroblock decision occurs.
std::vector<Plane> PanFrames(int w, int h, int count) {
    const Plane base = motiontest::TexturedPlane(w, h, 9);
    const Plane noise = motiontest::RandomPlane(w, h, 10);
    std::vector<Plane> frames;
    for (int f = 0; f < count; ++f) {
        Plane p = motiontest::ShiftedPlane(base, 3 * f, -f);
        for (int y = 20; y < 44; ++y)
            for (int x = 8 + 5 * f; x < 30 + 5 * f && x < w; ++x) p.at(x, y) = uint8_t(200 - 3 * x);
        for (int y = h - 24; y < h; ++y)
            for (int x = 0; x < 24; ++x) p.at(x, y) = noise.at((x + 7 * f) % w, y);
        frames.push_back(std::move(p));
    }
    return frames;
}

TEST_F(MotionDispatch, ResultsDoNotDependOnThreadsKernelsOrTableTask) {
    W = 96;
    H = 64;  // four macroblock rows: three bands get 2, 2 and 0 rows
    const std::vector<Plane> frames = PanFrames(W, H, 7);
    // Coding order of I B B P with M = 3, then a P repeating its anchor's frame.
    const std::pair<int, int> order[] = {{I_PICTURE, 0}, {P_PICTURE, 3}, {B_PICTURE, 1}, {B_PICTURE, 2}, {P_PICTURE, 6},
                                         {B_PICTURE, 4}, {B_PICTURE, 5}, {P_PICTURE, 6}, {B_PICTURE, 6}};
    for (int mode = 1; mode <= 5; ++mode) {
        std::vector<Outcome> reference;
        for (int threads : {1, 3, 4, 16}) {
            for (bool simd : {false, true}) {
                SCOPED_TRACE(testing::Message() << "mode " << mode << " threads " << threads
                                                << " simd " << simd);
                SetUpEncoding(mode, simd, threads, threads > 1 ? 1 : 0);
                std::vector<Outcome> outcomes;
                for (auto [type, frame] : order) {
                    Picture(type, frame, frames[frame]);
                    outcomes.push_back(Capture(records));
                }
                if (reference.empty())
                    reference = outcomes;
                else
                    for (size_t i = 0; i < outcomes.size(); ++i) EXPECT_TRUE(outcomes[i] == reference[i]) << "picture " << i;
                RestoreMotionTableBuffers();
            }
        }
        // Every kind of decision occurred.
        std::set<int> types;
        for (const Outcome& o : reference)
            for (const auto& r : o.records) types.insert(r[0]);
        EXPECT_TRUE(types.count(MB_INTRA) && types.count(MB_FORWARD) && types.count(MB_BACKWARD))
            << "mode " << mode;
    }
}

// A search made ahead on a worker reads the words it is handed, whatever the
// encoding thread's words say meanwhile, and leaves those words alone.
TEST_F(MotionDispatch, SearchAheadReadsOnlyTheWordsItIsHanded) {
    const std::vector<Plane> frames = PanFrames(W, H, 4);
    SetUpEncoding(3, true, 4);
    Picture(I_PICTURE, 0, frames[0]);
    for (auto [type, frame] : {std::pair{P_PICTURE, 3}, std::pair{B_PICTURE, 1}}) {
        SCOPED_TRACE(type);
        std::vector<MacroblockInfo> ahead = records;  // the fields a search leaves as they were
        Picture(type, frame, frames[frame]);
        const Outcome own = Capture(records);

        MotionPicture p;
        p.type = type;
        p.prevAnchorSource = p.prevAnchorRecon = frames[0].data();
        p.nextAnchorSource = p.nextAnchorRecon = frames[3].data();
        p.currentSource = frames[frame].data();
        p.forwardRangeX = p.forwardRangeY = p.backwardRangeX = p.backwardRangeY = kRange;
        p.forwardTables = MotionState.priz;
        p.backwardTables = MotionState.prizn;
        p.records = ahead.data();
        p.words = SearchWordsFromSettings();
        p.bands = 4;
        const MotionStateRecord before = MotionState;
        MotionState.SearchStage = 2;
        MotionState.MeSearchPoints = 0;
        MotionState.MeThresholdScaled = INT_MAX;
        MotionState.MeWindowTolerance = 255;
        const SearchWords meanwhile = CurrentSearchWords();
        int64_t intra = 0, error = 0;
        ASSERT_TRUE(EstimatePictureMotion(p, &intra, &error, true));
        CurrentPicture.PictureIntraVarianceSum = static_cast<int>(intra);
        CurrentPicture.PictureErrorSum = static_cast<int>(error);
        EXPECT_TRUE(Capture(ahead) == own);
        const SearchWords after = CurrentSearchWords();
        EXPECT_TRUE(after.stage == meanwhile.stage && after.points == meanwhile.points &&
                    after.thresholdScaled == meanwhile.thresholdScaled &&
                    after.windowTolerance == meanwhile.windowTolerance);
        MotionState = before;
    }
}

TEST_F(MotionDispatch, BusyWorkersLeaveTheirBandsToTheCallingThread) {
    const std::vector<Plane> frames = PanFrames(W, H, 4);
    SetUpEncoding(3, true, 1);
    Picture(I_PICTURE, 0, frames[0]);
    Picture(P_PICTURE, 3, frames[3]);
    Picture(B_PICTURE, 1, frames[1]);
    const Outcome alone = Capture(records);

    std::atomic<int> release{0};
    auto block = [](void* arg, int) -> int32_t {
        auto* flag = static_cast<std::atomic<int>*>(arg);
        while (!flag->load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return 1;
    };
    for (int busy : {WorkerPoolSize, WorkerPoolSize - 2}) {
        SCOPED_TRACE(testing::Message() << busy << " workers busy");
        release = 0;
        std::vector<int> slots;
        for (int k = 0; k < busy; ++k) slots.push_back(RunOnWorkerThread(block, &release));
        platform::ScriptedMessageBoxes boxes;
        SetUpEncoding(3, true, 8, 1);
        Picture(I_PICTURE, 0, frames[0]);
        Picture(P_PICTURE, 3, frames[3]);
        Picture(B_PICTURE, 1, frames[1]);
        EXPECT_TRUE(boxes.Shown().empty());
        EXPECT_TRUE(Capture(records) == alone);
        release = 1;
        EXPECT_EQ(WaitForWorkerTasks(slots.data(), int(slots.size()), 5000), 1);
    }
}

TEST_F(MotionDispatch, TableBuffersFollowTheAnchors) {
    const std::vector<Plane> frames = PanFrames(W, H, 4);
    SetUpEncoding(3, false, 1);
    uint8_t* first = MotionState.prizn;
    uint8_t* second = MotionState.priz;
    std::vector<uint8_t> expected(tablesA.size());
    CalcMotionSearchTables(frames[0].data(), expected.data());

    // Single-picture groups: no table is swapped or computed.
    EncoderSettings.ipDistance = 1;
    EncoderSettings.gopSize = 1;
    Picture(I_PICTURE, 0, frames[0]);
    EXPECT_EQ(MotionState.prizn, first);
    EXPECT_EQ(std::count(tablesA.begin(), tablesA.end(), 0), long(tablesA.size()));

    EncoderSettings.ipDistance = 3;
    EncoderSettings.gopSize = 12;
    CurrentPicture.PictureIndex = 0;
    Picture(I_PICTURE, 0, frames[0]);
    EXPECT_EQ(MotionState.prizn, second);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), MotionState.prizn));
    // A P picture repeating the anchor's input frame searches the same tables.
    Picture(P_PICTURE, 0, frames[0]);
    EXPECT_EQ(MotionState.priz, MotionState.prizn);
    EXPECT_EQ(MotionState.prizn, second);
    // The next new anchor takes the shared tables as its reference and gets the other buffer back.
    Picture(P_PICTURE, 3, frames[3]);
    EXPECT_EQ(MotionState.priz, second);
    EXPECT_EQ(MotionState.prizn, first);
    Picture(P_PICTURE, 3, frames[3]);
    EXPECT_EQ(MotionState.priz, MotionState.prizn);
    RestoreMotionTableBuffers();
    EXPECT_NE(MotionState.priz, MotionState.prizn);
    EXPECT_EQ(MotionState.MotionTablesShared, 0);

    // A P picture right before a group start (M = 1) computes no tables.
    EncoderSettings.ipDistance = 1;
    std::fill(tablesA.begin(), tablesA.end(), 0);
    std::fill(tablesB.begin(), tablesB.end(), 0);
    CurrentPicture.NextIsGopStart = 1;
    Picture(P_PICTURE, 1, frames[1]);
    EXPECT_EQ(std::count(MotionState.prizn, MotionState.prizn + tablesA.size(), 0), long(tablesA.size()));
}

TEST_F(MotionDispatch, TableTaskRunsAheadAndFailuresAreReported) {
    const std::vector<Plane> frames = PanFrames(W, H, 4);
    SetUpEncoding(3, true, 4, 1);
    std::vector<uint8_t> expected(tablesA.size());
    CalcMotionSearchTables(frames[0].data(), expected.data());
    Picture(I_PICTURE, 0, frames[0]);
    // Posted with its state already set; collected by the next picture.
    const int state = TableTaskState.load();
    EXPECT_TRUE(state == 1 || state == 0);
    MeThreadCount = 20;
    Picture(P_PICTURE, 3, frames[3]);
    EXPECT_EQ(MeThreadCount, 16);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), MotionState.priz));
    RestoreMotionTableBuffers();
    EXPECT_EQ(TableTaskState.load(), 0);

    platform::ScriptedMessageBoxes boxes;
    TableTaskState = -1;
    Picture(B_PICTURE, 1, frames[1]);
    ASSERT_EQ(boxes.Texts().size(), 1u);
    EXPECT_EQ(boxes.Texts()[0],
              " Error in the table calculation thread function. \n Disable parallel table "
              "calculations and try again.");
    EXPECT_EQ(TableTaskState.load(), 0);

    // A task given no buffer fails and says so.
    MotionTableTaskArgs none;
    EXPECT_EQ(CalcMotionSearchTablesTask(&none, 0), -1);
    EXPECT_EQ(TableTaskState.load(), -1);
    EXPECT_EQ(CalcMotionSearchTablesTask(&none, -1), -1);
    TableTaskState = 0;
}

// Stand-ins that hold a worker in its task until released.
std::atomic<int> g_holdTables{0}, g_holdBands{0};
std::thread::id g_callingThread;
ColumnExtremaFn g_realExtrema = nullptr;
FullPelSadFn g_realSad = nullptr;
void HoldOnWorkers(const std::atomic<int>& hold) {
    while (hold.load() && std::this_thread::get_id() != g_callingThread)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}
std::atomic<int> g_workersInHeldSad{0};
int HeldSad(const uint8_t* a, const uint8_t* b, int line, int limit) {
    if (std::this_thread::get_id() == g_callingThread) {
        // Rows go to whoever asks first: give the three workers the time to take one each.
        for (int i = 0; i < 2000 && g_holdBands.load() && g_workersInHeldSad.load() < 3; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    } else if (g_holdBands.load()) {
        ++g_workersInHeldSad;
    }
    HoldOnWorkers(g_holdBands);
    return g_realSad(a, b, line, limit);
}
void HeldExtrema(const uint8_t* plane, int stride, int rows, int count, uint8_t* hi, uint8_t* lo) {
    HoldOnWorkers(g_holdTables);
    g_realExtrema(plane, stride, rows, count, hi, lo);
}
int ReservedSlots() {
    int n = 0;
    for (const WorkerSlot& s : WorkerPool) n += s.reserved.load();
    return n;
}

TEST_F(MotionDispatch, TasksThatOverrunTheirWaitKeepTheirBuffersAndBlocks) {
    const std::vector<Plane> frames = PanFrames(W, H, 4);
    SetUpEncoding(3, true, 4, 1);
    Picture(I_PICTURE, 0, frames[0]);
    Picture(P_PICTURE, 3, frames[3]);
    Picture(B_PICTURE, 1, frames[1]);
    const Outcome clean = Capture(records);
    RestoreMotionTableBuffers();

    SetUpEncoding(3, true, 4, 1);
    MotionTaskWaitMs = 200;
    g_callingThread = std::this_thread::get_id();
    platform::ScriptedMessageBoxes boxes;
    const std::string tableText = " Error in the table calculation thread function. \n Disable "
                                  "parallel table calculations and try again.";

    // The table task of the I picture overruns: the P picture stops before
    // it swaps or touches a buffer, as often as it is tried.
    g_realExtrema = MeKernels.columnExtrema;
    MeKernels.columnExtrema = HeldExtrema;
    g_holdTables = 1;
    Picture(I_PICTURE, 0, frames[0]);
    uint8_t* const reference = MotionState.priz;
    uint8_t* const newest = MotionState.prizn;
    Picture(P_PICTURE, 3, frames[3]);
    Again();
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>(2, tableText));
    EXPECT_EQ(MotionState.priz, reference);
    EXPECT_EQ(MotionState.prizn, newest);
    EXPECT_EQ(TableTaskState.load(), 1);
    EXPECT_EQ(ReservedSlots(), 1);
    g_holdTables = 0;
    MotionTaskWaitMs = 10000;  // released: give it all the time it needs
    Again();
    EXPECT_EQ(boxes.Texts().size(), 2u);
    EXPECT_EQ(MotionState.priz, newest);
    // HeldExtrema stays installed: the P picture's own table task may be reading it.

    // Bands of the B picture overrun: their slots stay reserved and their
    // blocks untouched until a later look sees them end.
    boxes.Clear();
    g_realSad = FullPelSadKernel;
    FullPelSadKernel = HeldSad;
    g_holdBands = 1;
    MotionTaskWaitMs = 200;
    Picture(B_PICTURE, 1, frames[1]);
    Again();
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>(2, " Unknown error in wait for ME threads"));
    EXPECT_EQ(ReservedSlots(), 3);  // the calling thread runs the fourth band
    g_holdBands = 0;
    MotionTaskWaitMs = 10000;
    Again();
    EXPECT_EQ(boxes.Texts().size(), 2u);
    EXPECT_EQ(ReservedSlots(), 0);
    EXPECT_TRUE(Capture(records) == clean);
}

TEST_F(MotionDispatch, IntraPicturesSumTheirVarianceWithoutOverflow) {
    W = 384;
    H = 352;
    SetUpEncoding(3, true, 4);
    Plane stripes(W, H);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) stripes.at(x, y) = (x & 1) ? 255 : 0;
    Picture(I_PICTURE, 0, stripes);
    // 528 macroblocks of 4161600 each pass the 32-bit range.
    EXPECT_EQ(CurrentPicture.PictureErrorSum, INT_MAX);
    EXPECT_EQ(records[0].typeFlags, MB_INTRA);
    EXPECT_EQ(records[0].predictionError, 4161600);
}

// Stand-in kernels for the decisions: the half-sample kernel answers the
// zero-vector call first, then every candidate the same.
int g_zeroAnswer = 0, g_candidateAnswer = 0, g_halfCalls = 0, g_interpolatedAnswer = 0;
int ScriptedHalf(const uint8_t*, const uint8_t*, int, int, int, int) {
    return g_halfCalls++ == 0 ? g_zeroAnswer : g_candidateAnswer;
}
int ScriptedInterpolated(const uint8_t*, const uint8_t*, const uint8_t*, int, int, int, int, int, int) {
    return g_interpolatedAnswer;
}

TEST_F(MotionDispatch, MacroblockTypeDecisions) {
    SetUpEncoding(3, false, 1);
    Plane flat(W, H);  // intra variance 0
    std::fill(flat.samples.begin(), flat.samples.end(), 77);
    HalfPelMatchKernel = ScriptedHalf;
    MeKernels.interpolatedError = ScriptedInterpolated;
    MotionState.PictureMatchFlags = 3;
    int intra = 0, error = 0;
    auto decideP = [&](int zero, int best) {
        CurrentPicture.PictureCodingType = P_PICTURE;
        g_zeroAnswer = zero;
        g_candidateAnswer = best;
        g_halfCalls = 0;
        MacroblockInfo r;
        EstimateMacroblockMotion(flat.data(), flat.data(), flat.data(), flat.data(), flat.data(), 16,
                                 16, 16, 16, 16, 16, &r, &intra, &error);
        return r;
    };
    MacroblockInfo r = decideP(9999, 2304);
    EXPECT_EQ(r.typeFlags, MB_INTRA);
    EXPECT_EQ(r.predictionError, 0);
    r = decideP(9999, 2303);
    EXPECT_EQ(r.typeFlags, MB_FORWARD);
    EXPECT_EQ(r.predictionError, 2303);
    EXPECT_EQ(r.motionType, 2);
    r = decideP(2800, 2303);  // 4 x 2800 <= 5 x 2303: the zero vector, no motion coded
    EXPECT_EQ(r.typeFlags, 0);
    EXPECT_EQ(r.predictionError, 2800);
    EXPECT_EQ(r.forwardVector[0], 0);
    r = decideP(2303, 100);
    EXPECT_EQ(r.typeFlags, 0);

    auto decideB = [&](int forward, int backward, int interpolated) {
        CurrentPicture.PictureCodingType = B_PICTURE;
        g_halfCalls = 1;  // no zero-vector call in B pictures
        g_candidateAnswer = backward;
        g_interpolatedAnswer = interpolated;
        MacroblockInfo r;
        r.firstStageResult[0] = forward;
        r.firstStageResult[1] = 2 * 16 + 3;
        r.firstStageResult[2] = 2 * 16 - 1;
        EstimateMacroblockMotion(flat.data(), flat.data(), flat.data(), flat.data(), flat.data(), 16,
                                 16, 16, 16, 16, 16, &r, &intra, &error);
        return r;
    };
    EXPECT_EQ(decideB(500, 500, 500).typeFlags, MB_FORWARD);
    EXPECT_EQ(decideB(501, 500, 500).typeFlags, MB_BACKWARD);
    EXPECT_EQ(decideB(501, 502, 500).typeFlags, MB_FORWARD | MB_BACKWARD);
    r = decideB(3000, 2400, 2304);
    EXPECT_EQ(r.typeFlags, MB_INTRA);
    r = decideB(400, 900, 900);
    EXPECT_EQ(r.forwardVector[0], 3);
    EXPECT_EQ(r.forwardVector[1], -1);
    EXPECT_EQ(r.predictionError, 400);
    CurrentPicture.ClosedGopBPictures = 1;
    EXPECT_EQ(decideB(10, 500, 5).typeFlags, MB_BACKWARD);
    CurrentPicture.ClosedGopBPictures = 0;
}

}  // namespace
