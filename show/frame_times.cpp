// The frame rate as the player watches it: the latest frames' start and drawing
// times in a ring, and their medians.
#include "show/frame_times.h"

#include <algorithm>

namespace {
double median(double* values, int n) {
  if (n == 0) return 0;
  std::nth_element(values, values + n / 2, values + n);
  return values[n / 2];
}
}  // namespace

void FrameTimes::add(std::uint64_t start, std::uint64_t done) {
  startNs[next] = start;
  drawNs[next] = done > start ? done - start : 0;
  next = (next + 1) % capacity;
  if (count < capacity) ++count;
}

FrameTimes::Summary FrameTimes::summary(std::uint64_t spanNs) {
  Summary result{0, 0, false};
  if (count < 2) return result;
  const auto at = [this](int back) { return (next - 1 - back + 2 * capacity) % capacity; };
  const std::uint64_t latest = startNs[at(0)];
  result.complete = count == capacity || latest - startNs[at(count - 1)] >= spanNs;
  int intervals = 0;
  for (int back = 1; back < count && latest - startNs[at(back)] <= spanNs; ++back)
    scratch[intervals++] = static_cast<double>(startNs[at(back - 1)] - startNs[at(back)]) * 1e-6;
  result.frameMs = median(scratch, intervals);
  for (int back = 0; back < intervals; ++back) scratch[back] = static_cast<double>(drawNs[at(back)]) * 1e-6;
  result.drawMs = median(scratch, intervals);
  return result;
}
