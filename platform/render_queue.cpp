// The renderer's queue, kept short with GL fence objects (OpenGL 3.2 or
// ARB_sync; where a driver offers none the checkpoints only flush).
#define GL_GLEXT_PROTOTYPES 1
#include "platform/render_queue.h"

#include <GL/gl.h>
#include <GL/glext.h>
#include <time.h>

#include <cstdint>

namespace {
// Measured on two cores with llvmpipe: handing work over every 2 ms and letting at
// most two batches wait keeps the sorted work to a few megabytes, and the frames are
// no slower than without checkpoints (mostly faster: the rasterisers start earlier
// and find the sorted work still in the cache).
constexpr std::int64_t batchNanoseconds = 2'000'000;
constexpr int batchesInFlight = 2;
// A fence that has passed is kept this long (or until this many newer ones have
// passed) before it is deleted: llvmpipe's last rasteriser thread is still waking the
// waiters of a fence when the fence first reads as passed, and a fence deleted then
// may be freed under it, which corrupts the heap (a crash many minutes later).
constexpr std::int64_t passedKeptNanoseconds = 100'000'000;
constexpr int passedKept = 64;

GLsync batches[batchesInFlight] = {};
int oldest = 0;
std::int64_t lastBatchEnd = 0;

struct PassedFence {
  GLsync sync;
  std::int64_t passedAt;
};
PassedFence passed[passedKept] = {};
int firstPassed = 0;
int passedCount = 0;

std::int64_t monotonicNow() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// A fence the renderer has passed: deleted once it has been kept long enough.
void keepPassed(GLsync sync, std::int64_t now) {
  while (passedCount > 0 && (passedCount == passedKept || now - passed[firstPassed].passedAt > passedKeptNanoseconds)) {
    glDeleteSync(passed[firstPassed].sync);
    firstPassed = (firstPassed + 1) % passedKept;
    --passedCount;
  }
  passed[(firstPassed + passedCount) % passedKept] = PassedFence{sync, now};
  ++passedCount;
}
}  // namespace

void renderCheckpoint() {
  const std::int64_t now = monotonicNow();
  if (now - lastBatchEnd < batchNanoseconds) return;
  lastBatchEnd = now;
  // The slot of the oldest batch: wait for it, then end a new batch there.
  GLsync& slot = batches[oldest];
  if (slot != nullptr) {
    glClientWaitSync(slot, GL_SYNC_FLUSH_COMMANDS_BIT, GL_TIMEOUT_IGNORED);
    keepPassed(slot, now);
  }
  slot = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
  if (slot == nullptr) glFlush();
  oldest = (oldest + 1) % batchesInFlight;
}

void renderFinish() {
  const GLsync all = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
  if (all == nullptr) {
    glFinish();
    return;
  }
  glClientWaitSync(all, GL_SYNC_FLUSH_COMMANDS_BIT, GL_TIMEOUT_IGNORED);
  keepPassed(all, monotonicNow());
}

void resetRenderQueue() {
  for (GLsync& slot : batches) slot = nullptr;  // they go with their context
  oldest = 0;
  lastBatchEnd = 0;
  firstPassed = passedCount = 0;
}
