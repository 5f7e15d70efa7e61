// Drawing the show frame by frame on the virtual clock.
#include "show/offline_run.h"

void OfflineRun::start(int framesPerSecond, std::uint64_t first) {
  fps = framesPerSecond;
  next = first;
  frame = std::make_unique<ShowFrame>();
}

std::uint32_t OfflineRun::step() {
  const std::uint32_t drawn = position(next++);
  frame->draw(drawn);
  return drawn;
}

void OfflineRun::stepUntil(std::uint64_t end) {
  while (next < end) step();
}

void OfflineRun::replayUntil(std::uint64_t end) {
  for (; next < end; ++next) frame->advance(position(next));
}

void OfflineRun::catchUp(std::uint64_t n, std::uint64_t leadIn) {
  replayUntil(n > leadIn ? n - leadIn : 0);
  stepUntil(n);
}
