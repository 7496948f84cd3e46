// The worker pool: every render and every pyramid reduction is cut into 128 x 128 jobs
// that run on as many threads as the machine has processors (at most 100).
//
// Shared rules of the render pipeline:
//  - Rectangles are VRect: top, left, bottom, right; bottom and right exclusive.
//  - A job's pixels live in its private tile buffer of float cells (red, green, blue,
//    alpha, spare) with a one-cell margin: cell (1, 1) is the job rectangle's top-left.
//  - Only the calling thread talks to the host: a job is prepared (pixels requested and
//    copied in) and finished (pixels composed and written out) on the calling thread;
//    the worker thread only runs the pixel work on its own tile buffer and reads tables
//    that stay unchanged while jobs run. Each slot has one worker thread for the length
//    of a run; no locks: a job goes to the worker with the slot's start event and comes
//    back through a completion flag and one pool-wide event.
//  - The pool owns each job and its buffers; a slot lends the same buffers to each job
//    it runs (the margin cells cleared) and releases them at the end of the run.
//  - Errors: a host error stays in the plug-in's result; cancel sets -128; jobs that
//    cannot get memory or a thread are taken up again by the next free slot (or run on
//    the calling thread), and a run that cannot go on ends with -108 instead of hanging.
#pragma once

#include <cstdint>

#include "host/host_abi.h"
#include "host/host_services.h"

struct StateRecord;

constexpr int32_t kJobTileSize = 128;
constexpr int kMaxWorkers = 100;
constexpr size_t kWorkerStackBytes = 200000;
constexpr int32_t kJobKindRender = 2;
constexpr int32_t kJobKindPyramid = -1000;

// The geometry of one pool run, copied into every job with its own rectangle filled in.
struct JobGrid {
  int32_t width;
  int32_t height;
  int32_t columns;  // tiles per row
  int32_t total;    // number of jobs
  int32_t index;    // this job, 0-based, row-major
  int32_t bufferColumns;  // job width + 2
  int32_t bufferRows;     // job height + 2
  int32_t layout;         // 0: the tile grid
  VRect workingRect;      // the area being rendered
  VRect jobRect;          // this job, relative to the working rectangle's top-left
  int32_t tileSize;
};

// Passed unchanged to every job of a run.
struct JobParams {
  void* sourceImage;  // pyramid jobs: the image being reduced
  int32_t level;      // pyramid jobs: the level being made; -1 for renders
  VRect levelRect;    // pyramid jobs: the level's rectangle
  float scale;
  int32_t flag;
};
JobParams DefaultJobParams();

struct RenderJob;

// What a run does with its jobs. prepare and finish run on the calling thread (they may
// talk to the host); run runs on a worker thread and touches only the job.
struct JobKindOps {
  void (*prepare)(RenderJob* job);
  void (*run)(RenderJob* job);
  void (*finish)(RenderJob* job);  // not called once the run is cancelled
  // Bytes per job pixel of a second private buffer (job->sideBuffer), 0 for none.
  size_t sideBytesPerPixel;
};

struct RenderJob {
  int32_t total;
  int32_t index;
  int32_t kind;
  int32_t phase;  // -1 while being set up, 0 once started
  JobGrid grid;
  StateRecord* state;
  WorkBuffer tileBuffer;
  WorkBuffer sideBuffer;  // job width x height x ops->sideBytesPerPixel bytes, or none
  int32_t hostData;       // render jobs: kJobHasInput / kJobHasSelection as the host gave
  JobParams params;
  const JobKindOps* ops;
};

constexpr int kCellFloats = 5;
constexpr int32_t kJobHasInput = 1;
constexpr int32_t kJobHasSelection = 2;

// The cell of pixel (x, y) in job coordinates (those of jobRect), with the margin;
// null outside the buffer.
inline float* JobCell(RenderJob* job, int32_t x, int32_t y) {
  const int32_t column = x - job->grid.jobRect.left + 1;
  const int32_t row = y - job->grid.jobRect.top + 1;
  if (column < 0 || row < 0 || column >= job->grid.bufferColumns || row >= job->grid.bufferRows)
    return nullptr;
  return static_cast<float*>(job->tileBuffer.memory) +
         (int64_t(row) * job->grid.bufferColumns + column) * kCellFloats;
}
// The same without the margin: (x, y) = (left, top) is the buffer's first cell.
inline float* JobCellNoMargin(RenderJob* job, int32_t x, int32_t y) {
  return JobCell(job, x - 1, y - 1);
}
// Reading outside the buffer leaves the colour unchanged; writing there does nothing.
void JobReadPixel(RenderJob* job, int32_t x, int32_t y, Colour* colour);
void JobWritePixel(RenderJob* job, int32_t x, int32_t y, const Colour& colour);

// The job rectangle of job k in a grid (relative to the working rectangle).
VRect JobRectOf(const JobGrid& grid, int32_t k);
JobGrid MakeJobGrid(const VRect& area, int32_t tileSize);

// Runs every job of `area` and returns when every started job has been finished.
// Progress goes to the host in final renders (renderMode 0) at most once per second.
void RunJobs(int32_t kind, const JobParams& params, const VRect& area, const JobKindOps& ops,
             StateRecord* state);

// Whether the last run was cancelled (by the host's abort or a -128 result).
bool PoolWasCancelled();

// For tests: limit the worker count (0 = the processor count) and replace the clock
// that paces progress.
void PoolSetWorkerLimit(int limit);
void PoolSetClock(int32_t (*clock)());
// For tests: the next `count` job starts fail as if no memory were left.
void PoolFailNextStarts(int count);
