// Nothing is allocated per frame: every C++ allocation of the test program goes
// through the counting operator new below, and a few hundred frames of every scene,
// drawn headless after a warm-up, must make none, the GL driver's shader compiler
// (LLVM, in C++) included. The driver's C allocations (llvmpipe's per-frame buffers,
// with malloc) are the driver's matter and are not counted; the show's own code
// allocates only with operator new, apart from the track decoder's malloc buffers,
// which live and die at start-up.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "app/start_up.h"
#include "app/run.h"
#include "audio/playback.h"
#include "audio/spectrum.h"
#include "platform/headless.h"
#include "resources/embedded.h"
#include "show/frame.h"
#include "show/schedule.h"
#include "show/music_source.h"
#include "show/show_state.h"

namespace {
std::atomic<bool> counting{false};
std::atomic<long> allocations{0};

void* countedAllocation(std::size_t size, std::size_t alignment) {
  if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1, std::memory_order_relaxed);
  if (size == 0) size = 1;
  void* p = nullptr;
  if (alignment > alignof(std::max_align_t)) {
    if (posix_memalign(&p, alignment, size) != 0) p = nullptr;
  } else {
    p = std::malloc(size);
  }
  return p;
}
}  // namespace

// The replaceable global allocation functions, every form of them, so that none of
// the runtime's own versions pairs with a release here.
namespace {
__attribute__((noinline)) void release(void* p) noexcept {
  std::free(p);
}
void* orThrow(void* p) {
  if (!p) throw std::bad_alloc();
  return p;
}
std::size_t bytes(std::align_val_t alignment) {
  return static_cast<std::size_t>(alignment);
}
}  // namespace

void* operator new(std::size_t size) {
  return orThrow(countedAllocation(size, 0));
}
void* operator new[](std::size_t size) {
  return orThrow(countedAllocation(size, 0));
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return countedAllocation(size, 0);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return countedAllocation(size, 0);
}
void* operator new(std::size_t size, std::align_val_t a) {
  return orThrow(countedAllocation(size, bytes(a)));
}
void* operator new[](std::size_t size, std::align_val_t a) {
  return orThrow(countedAllocation(size, bytes(a)));
}
void* operator new(std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
  return countedAllocation(size, bytes(a));
}
void* operator new[](std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
  return countedAllocation(size, bytes(a));
}
void operator delete(void* p) noexcept {
  release(p);
}
void operator delete[](void* p) noexcept {
  release(p);
}
void operator delete(void* p, std::size_t) noexcept {
  release(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  release(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  release(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  release(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
  release(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
  release(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
  release(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
  release(p);
}
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept {
  release(p);
}
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept {
  release(p);
}

namespace {
constexpr int fps = 60;
constexpr int framesPerScene = 240;  // four seconds of each scene
constexpr int width = 160;
constexpr int height = 80;

// The first frame (at 60 per second) that shows each scene.
struct SceneStart {
  std::uint64_t frame[10] = {};
  bool found[10] = {};
};

SceneStart sceneStarts() {
  SceneStart starts;
  for (std::uint64_t n = 0;; ++n) {
    const std::uint32_t p = virtualPosition(n, fps);
    const int scene = sceneForBeat(beatClockAt(p).beat);
    if (scene >= 1 && scene <= 9 && !starts.found[scene]) {
      starts.found[scene] = true;
      starts.frame[scene] = n;
    }
    if (p >= playbackFrameCount) break;
  }
  return starts;
}

// Draws the scene's first frames (at most framesPerScene of them, and never past the
// scene); returns the allocations made meanwhile when `count` is set.
long drawScene(ShowFrame& show, int scene, std::uint64_t first, bool count) {
  allocations = 0;
  counting = count;
  for (std::uint64_t n = first; n < first + framesPerScene; ++n) {
    const std::uint32_t p = virtualPosition(n, fps);
    if (p > playbackFrameCount || sceneForBeat(beatClockAt(p).beat) != scene) break;
    show.draw(p);
  }
  glFinish();
  counting = false;
  return allocations.load();
}
}  // namespace

TEST(PerFrameAllocation, TheCounterSeesTheProgramsOwnAllocations) {
  counting = true;
  allocations = 0;
  auto probe = std::make_unique<std::vector<int>>(100);
  counting = false;
  EXPECT_EQ(allocations.load(), 2) << "the vector and its elements";
  EXPECT_EQ(probe->size(), 100u);
}

TEST(PerFrameAllocation, EverySceneDrawsAFewHundredFramesWithoutAllocating) {
  HeadlessContext context;
  std::string error;
  ASSERT_TRUE(context.open(width, height, error)) << error;
  startShow(embeddedMusic(), embeddedTrack, embeddedTrackSize, width, height, nullptr);
  auto show = std::make_unique<ShowFrame>();
  const SceneStart starts = sceneStarts();

  // Warm-up: the driver compiles its shaders for each scene's state here.
  for (int scene = 1; scene <= 9; ++scene) {
    ASSERT_TRUE(starts.found[scene]) << "scene " << scene;
    drawScene(*show, scene, starts.frame[scene], false);
  }
  // The same frames again, each scene entered anew: nothing at all.
  for (int scene = 1; scene <= 9; ++scene)
    EXPECT_EQ(drawScene(*show, scene, starts.frame[scene], true), 0) << "scene " << scene;
  show.reset();
  resetShowState();
}
