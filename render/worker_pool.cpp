// The worker pool: jobs prepared and finished on the calling thread, pixel work on
// short-lived worker threads, one per job.
#include "render/worker_pool.h"

#include <atomic>
#include <cstring>
#include <new>

#include "host/image_access.h"
#include "host/plugin_globals.h"
#include "platform/platform.h"
#include "settings/settings_record.h"

namespace {

struct PoolSlot {
  RenderJob* job = nullptr;
  // The slot's worker stays for the whole run and takes one job per start signal:
  // starting a thread for each of a large image's thousand jobs costs more than the
  // pixel work of a small job.
  PlatformThread* thread = nullptr;
  PlatformEvent* start = nullptr;
  std::atomic<bool> quit{false};
  std::atomic<int> done{0};
  bool busy = false;
  // The slot's buffers, lent to each job it runs and kept for the whole run: a job's
  // buffers are the same size as the last one's nearly always, and taking fresh
  // zero-filled memory for every 128 x 128 job costs more than the work on it.
  WorkBuffer tile{nullptr, nullptr};
  size_t tileBytes = 0;
  WorkBuffer side{nullptr, nullptr};
  size_t sideBytes = 0;
};

// Makes sure a slot's buffer holds `bytes`; false when memory is short.
bool EnsureSlotBuffer(WorkBuffer* buffer, size_t* capacity, size_t bytes) {
  if (buffer->memory && *capacity >= bytes) return true;
  WorkBufferFree(buffer);
  *capacity = 0;
  *buffer = WorkBufferAlloc(bytes);
  if (!buffer->memory) return false;
  *capacity = bytes;
  return true;
}

void FreeSlotBuffers(PoolSlot* slot) {
  WorkBufferFree(&slot->tile);
  WorkBufferFree(&slot->side);
  slot->tileBytes = slot->sideBytes = 0;
}

// The margin cells around the job rectangle start at zero, as in a fresh buffer.
void ClearMargin(RenderJob* job) {
  float* cells = static_cast<float*>(job->tileBuffer.memory);
  const int32_t columns = job->grid.bufferColumns, rows = job->grid.bufferRows;
  const size_t rowFloats = size_t(columns) * kCellFloats;
  std::memset(cells, 0, rowFloats * sizeof(float));
  std::memset(cells + (rows - 1) * rowFloats, 0, rowFloats * sizeof(float));
  for (int32_t r = 1; r < rows - 1; ++r) {
    std::memset(cells + r * rowFloats, 0, kCellFloats * sizeof(float));
    std::memset(cells + r * rowFloats + (columns - 1) * kCellFloats, 0,
                kCellFloats * sizeof(float));
  }
}

// Pool state of the current run (the calling thread only).
struct PoolRun {
  int32_t jobsStarted = 0;
  int32_t jobsFinished = 0;
  int32_t pacingSecond = 0;
  bool cancelled = false;
  bool exhausted = false;
};

PoolRun gRun;
bool gLastRunCancelled = false;
int gWorkerLimit = 0;
int32_t (*gClock)() = ClockSeconds;
PlatformEvent* gJobDone = nullptr;  // signalled by every worker when its job is done
int gFailNextStarts = 0;

void WorkerMain(void* context) {
  PoolSlot* slot = static_cast<PoolSlot*>(context);
  for (;;) {
    PlatformEventWait(slot->start, -1);
    if (slot->quit.load(std::memory_order_acquire)) return;
    RenderJob* job = slot->job;
    job->ops->run(job);
    // The job is the calling thread's again from here on.
    slot->done.store(1, std::memory_order_release);
    PlatformEventSignal(gJobDone);
  }
}

// Ends the slot's worker at the end of a run.
void StopWorker(PoolSlot* slot) {
  if (slot->thread) {
    slot->quit.store(true, std::memory_order_release);
    PlatformEventSignal(slot->start);
    PlatformThreadJoin(slot->thread);
    slot->thread = nullptr;
  }
  if (slot->start) {
    PlatformEventDestroy(slot->start);
    slot->start = nullptr;
  }
}

void ReleaseJob(PoolSlot* slot) {
  if (slot->job) {
    delete slot->job;  // its buffers belong to the slot
    slot->job = nullptr;
  }
  slot->busy = false;
  slot->done.store(0, std::memory_order_relaxed);
}

// Prepares job k and hands it to a worker. False when memory for the job could not be
// had: the job is then still waiting to be started.
bool StartJob(int32_t k, int32_t kind, const JobParams& params, const JobGrid& grid,
              const JobKindOps& ops, StateRecord* state, PoolSlot* slot) {
  if (gFailNextStarts > 0) {
    --gFailNextStarts;
    return false;
  }
  RenderJob* job = new (std::nothrow) RenderJob();
  if (!job) return false;
  job->grid = grid;
  job->grid.index = k;
  job->grid.jobRect = JobRectOf(grid, k);
  job->grid.bufferColumns = RectWidth(job->grid.jobRect) + 2;
  job->grid.bufferRows = RectHeight(job->grid.jobRect) + 2;
  const size_t tileBytes =
      size_t(job->grid.bufferColumns) * job->grid.bufferRows * kCellFloats * sizeof(float);
  const size_t sideBytes = size_t(RectWidth(job->grid.jobRect)) *
                           RectHeight(job->grid.jobRect) * ops.sideBytesPerPixel;
  if (!EnsureSlotBuffer(&slot->tile, &slot->tileBytes, tileBytes) ||
      (sideBytes && !EnsureSlotBuffer(&slot->side, &slot->sideBytes, sideBytes))) {
    delete job;
    return false;
  }
  job->tileBuffer = slot->tile;
  job->sideBuffer = sideBytes ? slot->side : WorkBuffer{nullptr, nullptr};
  ClearMargin(job);
  job->total = grid.total;
  job->index = k;
  job->kind = kind;
  job->state = state;
  job->params = params;
  job->ops = &ops;
  job->phase = -1;
  if (ops.prepare) ops.prepare(job);

  ++gRun.jobsStarted;
  slot->job = job;
  slot->busy = true;
  slot->done.store(0, std::memory_order_relaxed);
  job->phase = 0;
  if (!slot->thread) {
    if (!slot->start) slot->start = PlatformEventCreate();
    if (slot->start) slot->thread = PlatformThreadStart(WorkerMain, slot, kWorkerStackBytes);
  }
  if (slot->thread) {
    PlatformEventSignal(slot->start);
  } else {
    // No thread to be had: do the work here rather than lose the job.
    ops.run(job);
    slot->done.store(1, std::memory_order_release);
    PlatformEventSignal(gJobDone);
  }
  return true;
}

void ReportProgress(int32_t total) {
  if (total <= 0) return;
  if (!gSettings || gSettings->passIndex < 1) return;
  const int32_t now = gClock();
  if (now == gRun.pacingSecond) return;
  gRun.pacingSecond = now;
  const int32_t passCount = gSettings->passCount > 0 ? gSettings->passCount : 1;
  const double x = (double(gSettings->passIndex - 1) * total + gRun.jobsFinished) /
                   (double(passCount) * total);
  if (gSettings->renderMode == 0) HostProgress(int32_t(x * 1000.0), 1000);
}

void FinishJob(PoolSlot* slot) {
  RenderJob* job = slot->job;
  const bool finalRender = !gSettings || gSettings->renderMode == 0;
  if (finalRender && gFilterRecord) {
    if (HostAbortRequested()) {
      gRun.cancelled = true;
      SetResult(userCanceledErr);
    }
    if (CurrentResult() == userCanceledErr) gRun.cancelled = true;
  }
  if (!gRun.cancelled && job->ops->finish) job->ops->finish(job);
  const int32_t total = job->total;
  ReleaseJob(slot);
  ++gRun.jobsFinished;
  ReportProgress(total);
}

}  // namespace

JobParams DefaultJobParams() {
  JobParams params{};
  params.sourceImage = nullptr;
  params.level = -1;
  params.levelRect = {0, 0, 0, 0};
  params.scale = 1.0f;
  params.flag = 1;
  return params;
}

void JobReadPixel(RenderJob* job, int32_t x, int32_t y, Colour* colour) {
  const float* cell = JobCell(job, x, y);
  if (!cell) return;
  colour->red = cell[0];
  colour->green = cell[1];
  colour->blue = cell[2];
  colour->alpha = cell[3];
}

void JobWritePixel(RenderJob* job, int32_t x, int32_t y, const Colour& colour) {
  float* cell = JobCell(job, x, y);
  if (!cell) return;
  cell[0] = colour.red;
  cell[1] = colour.green;
  cell[2] = colour.blue;
  cell[3] = colour.alpha;
}

JobGrid MakeJobGrid(const VRect& area, int32_t tileSize) {
  JobGrid grid{};
  grid.width = RectWidth(area) > 0 ? RectWidth(area) : 0;
  grid.height = RectHeight(area) > 0 ? RectHeight(area) : 0;
  grid.tileSize = tileSize;
  grid.columns = (grid.width + tileSize - 1) / tileSize;
  const int32_t rows = (grid.height + tileSize - 1) / tileSize;
  grid.total = grid.columns * rows;
  grid.layout = 0;
  grid.workingRect = area;
  return grid;
}

VRect JobRectOf(const JobGrid& grid, int32_t k) {
  const int32_t row = k / grid.columns;
  const int32_t column = k - row * grid.columns;
  VRect r;
  r.top = grid.tileSize * row;
  r.bottom = r.top + grid.tileSize < grid.height ? r.top + grid.tileSize : grid.height;
  r.left = grid.tileSize * column;
  r.right = r.left + grid.tileSize < grid.width ? r.left + grid.tileSize : grid.width;
  return r;
}

void RunJobs(int32_t kind, const JobParams& params, const VRect& area, const JobKindOps& ops,
             StateRecord* state) {
  gRun = PoolRun{};
  gRun.pacingSecond = gClock();
  gLastRunCancelled = false;
  const JobGrid grid = MakeJobGrid(area, kJobTileSize);
  if (grid.total == 0) return;

  int workers = PlatformProcessorCount();
  if (gWorkerLimit > 0 && workers > gWorkerLimit) workers = gWorkerLimit;
  if (workers < 1) workers = 1;
  if (workers > grid.total) workers = grid.total;
  if (workers > kMaxWorkers) workers = kMaxWorkers;

  gJobDone = PlatformEventCreate();
  if (!gJobDone) {
    SetResult(memFullErr);
    return;
  }
  PoolSlot slots[kMaxWorkers];

  auto startNext = [&](PoolSlot* slot) {
    if (gRun.cancelled || gRun.jobsStarted >= grid.total) return;
    if (!StartJob(gRun.jobsStarted, kind, params, grid, ops, state, slot)) gRun.exhausted = true;
  };

  for (int i = 0; i < workers; ++i) startNext(&slots[i]);

  for (;;) {
    bool anyBusy = false;
    for (int i = 0; i < workers; ++i) anyBusy = anyBusy || slots[i].busy;
    if (!anyBusy) {
      // Nothing runs: either every job is done, the run was cancelled, or no job could
      // get memory even with every slot free. Never wait for a job that is not there.
      if (!gRun.cancelled && gRun.jobsStarted < grid.total) {
        gRun.exhausted = false;
        startNext(&slots[0]);
        if (gRun.exhausted) {
          if (CurrentResult() == noErr) SetResult(memFullErr);
          break;
        }
        continue;
      }
      break;
    }
    PlatformEventWait(gJobDone, -1);
    for (int i = 0; i < workers; ++i) {
      PoolSlot* slot = &slots[i];
      if (!slot->busy || !slot->done.load(std::memory_order_acquire)) continue;
      FinishJob(slot);
      startNext(slot);
    }
  }

  for (int i = 0; i < workers; ++i) {
    StopWorker(&slots[i]);
    ReleaseJob(&slots[i]);
    FreeSlotBuffers(&slots[i]);
  }
  PlatformEventDestroy(gJobDone);
  gJobDone = nullptr;
  gLastRunCancelled = gRun.cancelled;
}

bool PoolWasCancelled() { return gLastRunCancelled; }

void PoolSetWorkerLimit(int limit) { gWorkerLimit = limit; }

void PoolSetClock(int32_t (*clock)()) { gClock = clock ? clock : ClockSeconds; }

void PoolFailNextStarts(int count) { gFailNextStarts = count; }
