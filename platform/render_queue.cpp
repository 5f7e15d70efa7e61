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

GLsync batches[batchesInFlight] = {};
int oldest = 0;
std::int64_t lastBatchEnd = 0;

std::int64_t monotonicNow() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
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
    glDeleteSync(slot);
  }
  slot = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
  if (slot == nullptr) glFlush();
  oldest = (oldest + 1) % batchesInFlight;
}

void resetRenderQueue() {
  for (GLsync& slot : batches) slot = nullptr;  // they go with their context
  oldest = 0;
  lastBatchEnd = 0;
}
