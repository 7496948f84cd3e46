// The worker pool: job geometry, every job run exactly once on its own buffer, cancel,
// progress pacing and running out of memory. Also run under ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <vector>

#include "host/plugin_globals.h"
#include "host/state_record.h"
#include "render/worker_pool.h"
#include "settings/settings_record.h"

namespace {

// Each job's worker writes its index into every cell; finish checks and records it.
std::vector<int> gFinished;
std::vector<int> gPrepared;
std::atomic<int> gRuns{0};

void PrepareJob(RenderJob* job) { gPrepared.push_back(job->index); }
void RunJob(RenderJob* job) {
  const VRect& r = job->grid.jobRect;
  for (int32_t y = r.top; y < r.bottom; ++y)
    for (int32_t x = r.left; x < r.right; ++x)
      JobWritePixel(job, x, y, {float(job->index), 0, 0, 1});
  gRuns.fetch_add(1);
}
void FinishJob(RenderJob* job) {
  const VRect& r = job->grid.jobRect;
  Colour c{-1, -1, -1, -1};
  JobReadPixel(job, r.right - 1, r.bottom - 1, &c);
  EXPECT_EQ(int(c.red), job->index);
  gFinished.push_back(job->index);
}
const JobKindOps kOps = {PrepareJob, RunJob, FinishJob, 0};

int32_t gAbortAfter = -1;
int32_t gAbortCalls = 0;
HostBoolean HOSTCALL AbortAfterN() { return ++gAbortCalls > gAbortAfter && gAbortAfter >= 0; }
std::vector<std::pair<int32_t, int32_t>> gProgress;
void HOSTCALL Progress(int32_t done, int32_t total) { gProgress.push_back({done, total}); }
int32_t gTick = 0;
int32_t TickingClock() { return gTick++; }

struct PoolTest : ::testing::Test {
  void SetUp() override {
    std::memset(&record, 0, sizeof record);
    std::memset(&settings, 0, sizeof settings);
    record.abortProc = AbortAfterN;
    record.progressProc = Progress;
    gFilterRecord = &record;
    gSettings = &settings;
    gResult = &result;
    settings.renderMode = 0;
    settings.passCount = 1;
    settings.passIndex = 1;
    gFinished.clear();
    gPrepared.clear();
    gRuns = 0;
    gAbortAfter = -1;
    gAbortCalls = 0;
    gProgress.clear();
    PoolSetWorkerLimit(0);
    PoolSetClock(nullptr);
  }
  void TearDown() override {
    PoolSetWorkerLimit(0);
    PoolSetClock(nullptr);
    PoolFailNextStarts(0);
    gFilterRecord = nullptr;
    gSettings = nullptr;
    gResult = nullptr;
  }
  FilterRecord record;
  SettingsRecord settings;
  int16_t result = 0;
};

TEST_F(PoolTest, GridGeometry) {
  JobGrid grid = MakeJobGrid({10, 20, 210, 320}, 128);
  EXPECT_EQ(grid.columns, 3);
  EXPECT_EQ(grid.total, 6);
  VRect last = JobRectOf(grid, 5);
  EXPECT_EQ(last.top, 128);
  EXPECT_EQ(last.bottom, 200);  // the last row holds the remaining 72 lines
  EXPECT_EQ(last.left, 256);
  EXPECT_EQ(last.right, 300);
  VRect first = JobRectOf(grid, 0);
  EXPECT_EQ(first.right - first.left, 128);
  EXPECT_EQ(MakeJobGrid({0, 0, 0, 50}, 128).total, 0);
  EXPECT_EQ(MakeJobGrid({5, 5, 4, 50}, 128).total, 0);
}

TEST_F(PoolTest, EveryJobRunsOnceWhateverTheWorkerCount) {
  for (int limit : {1, 2, 4, 100}) {
    PoolSetWorkerLimit(limit);
    gFinished.clear();
    gPrepared.clear();
    gRuns = 0;
    RunJobs(kJobKindRender, DefaultJobParams(), {0, 0, 300, 700}, kOps, nullptr);
    EXPECT_EQ(gRuns.load(), 18) << limit;
    ASSERT_EQ(gFinished.size(), 18u) << limit;
    std::vector<int> sorted = gFinished;
    std::sort(sorted.begin(), sorted.end());
    for (int i = 0; i < 18; ++i) EXPECT_EQ(sorted[i], i);
    // Jobs are prepared in order, whichever slot frees first.
    for (int i = 0; i < 18; ++i) EXPECT_EQ(gPrepared[i], i);
    EXPECT_EQ(result, noErr);
  }
}

TEST_F(PoolTest, EmptyAreaReturnsAtOnce) {
  RunJobs(kJobKindRender, DefaultJobParams(), {0, 0, 0, 0}, kOps, nullptr);
  EXPECT_EQ(gRuns.load(), 0);
  EXPECT_TRUE(gPrepared.empty());
}

TEST_F(PoolTest, CancelStopsWritingAndStarting) {
  PoolSetWorkerLimit(2);
  gAbortAfter = 3;  // the fourth finished job sees the cancel
  RunJobs(kJobKindRender, DefaultJobParams(), {0, 0, 512, 512}, kOps, nullptr);
  EXPECT_EQ(result, userCanceledErr);
  EXPECT_TRUE(PoolWasCancelled());
  EXPECT_EQ(gFinished.size(), 3u);
  EXPECT_LT(gPrepared.size(), 16u);
  EXPECT_EQ(size_t(gRuns.load()), gPrepared.size());  // running jobs are waited for
}

TEST_F(PoolTest, ProgressIsPacedAndScaledToAThousand) {
  PoolSetWorkerLimit(1);
  PoolSetClock(TickingClock);  // a new second at every look
  RunJobs(kJobKindRender, DefaultJobParams(), {0, 0, 128, 1280}, kOps, nullptr);
  ASSERT_EQ(gProgress.size(), 10u);
  EXPECT_EQ(gProgress[4], std::make_pair(501, 1000));  // 5 of 10 jobs
  EXPECT_EQ(gProgress[9], std::make_pair(1001, 1000));

  // With a clock that stands still nothing is reported; outside a render neither.
  gProgress.clear();
  PoolSetClock([]() -> int32_t { return 7; });
  RunJobs(kJobKindRender, DefaultJobParams(), {0, 0, 128, 1280}, kOps, nullptr);
  EXPECT_TRUE(gProgress.empty());
  PoolSetClock(TickingClock);
  settings.passIndex = -1;
  RunJobs(kJobKindRender, DefaultJobParams(), {0, 0, 128, 1280}, kOps, nullptr);
  EXPECT_TRUE(gProgress.empty());
}

TEST_F(PoolTest, JobsThatCannotStartAreTakenUpLater) {
  PoolSetWorkerLimit(4);
  PoolFailNextStarts(1);
  RunJobs(kJobKindRender, DefaultJobParams(), {0, 0, 256, 1024}, kOps, nullptr);
  EXPECT_EQ(gRuns.load(), 16);
  EXPECT_EQ(result, noErr);
}

TEST_F(PoolTest, ARunThatCannotGoOnEndsWithoutHanging) {
  PoolSetWorkerLimit(4);
  PoolFailNextStarts(1000000);
  RunJobs(kJobKindRender, DefaultJobParams(), {0, 0, 256, 1024}, kOps, nullptr);
  EXPECT_EQ(gRuns.load(), 0);
  EXPECT_EQ(result, memFullErr);

  // Running out part way: what started is finished, the rest reported as -108.
  result = 0;
  PoolFailNextStarts(0);
  gRuns = 0;
  PoolSetWorkerLimit(1);
  struct Once {
    static void Prepare(RenderJob* job) {
      if (job->index == 2) PoolFailNextStarts(1000000);
    }
  };
  const JobKindOps failing = {Once::Prepare, RunJob, FinishJob, 0};
  RunJobs(kJobKindRender, DefaultJobParams(), {0, 0, 256, 1024}, failing, nullptr);
  EXPECT_EQ(gRuns.load(), 3);
  EXPECT_EQ(result, memFullErr);
  PoolFailNextStarts(0);
}

}  // namespace
