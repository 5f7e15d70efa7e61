// Time series from outside recordings, and their alignment by cross-correlation.
#include "bench/series.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
constexpr double coarseStep = 0.005;        // seconds between the lags tried first
constexpr double fineStep = 0.0005;         // and around the best of them
constexpr double shortestSpan = 4.0;        // seconds a live recording and the capture must share
constexpr double minimumCorrelation = 0.5;  // a weaker match is no match
constexpr double silentDecibels = -120.0;
constexpr double microsecondsPerSecond = 1e6;

// Pearson's correlation of `live` shifted by `lag` seconds against `exact`, on a grid
// of `step` seconds over the span both cover; -2 where they share less than the
// shortest span.
double correlation(const Series& exact, const Series& live, double lag, double step) {
  const double start = std::max(exact.times.front(), live.times.front() - lag);
  const double end = std::min(exact.times.back(), live.times.back() - lag);
  if (end - start < shortestSpan) return -2.0;
  double sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
  std::size_t n = 0;
  for (double t = start; t <= end; t += step, ++n) {
    const double x = valueAt(exact, t);
    const double y = valueAt(live, t + lag);
    sx += x, sy += y, sxx += x * x, syy += y * y, sxy += x * y;
  }
  const double count = static_cast<double>(n);
  const double varX = sxx - sx * sx / count;
  const double varY = syy - sy * sy / count;
  if (varX <= 0.0 || varY <= 0.0) return -2.0;
  return (sxy - sx * sy / count) / std::sqrt(varX * varY);
}

}  // namespace

// Reads "pts:T" lines (microseconds: the filters set that time base) and the value line of `key` that follows each.
bool readSeries(const char* path, const char* key, bool decibels, Series& series) {
  std::FILE* file = std::fopen(path, "r");
  if (file == nullptr) return false;
  char line[512];
  double time = NAN;
  const std::size_t keyLength = std::strlen(key);
  while (std::fgets(line, sizeof line, file) != nullptr) {
    if (const char* at = std::strstr(line, "pts:")) {
      time = std::strtod(at + 4, nullptr) / microsecondsPerSecond;
    } else if (std::strncmp(line, key, keyLength) == 0 && line[keyLength] == '=' && !std::isnan(time)) {
      double value = std::strtod(line + keyLength + 1, nullptr);
      if (decibels) value = std::pow(10.0, std::max(value, silentDecibels) / 20.0);  // "-inf" is silence
      if (!series.times.empty() && time <= series.times.back()) continue;            // a repeated stamp
      series.times.push_back(time);
      series.values.push_back(value);
    }
  }
  std::fclose(file);
  return series.times.size() >= 2;
}

double valueAt(const Series& s, double t) {
  const auto after = std::upper_bound(s.times.begin(), s.times.end(), t);
  if (after == s.times.begin()) return s.values.front();
  if (after == s.times.end()) return s.values.back();
  const std::size_t i = static_cast<std::size_t>(after - s.times.begin());
  const double f = (t - s.times[i - 1]) / (s.times[i] - s.times[i - 1]);
  return s.values[i - 1] + f * (s.values[i] - s.values[i - 1]);
}

// Where `live` (on its recorder's clock) best matches `exact` (on the show's): the lag
// that takes the show's time onto the recorder's, found coarsely over every lag that
// leaves the shortest span in common, then to the millisecond.
bool alignment(const Series& exact, const Series& live, double& lag, double from, double to, double* score) {
  const double first = std::max(from, live.times.front() - exact.times.back() + shortestSpan);
  const double last = std::min(to, live.times.back() - exact.times.front() - shortestSpan);
  if (last < first) return false;
  double best = -2.0;
  for (double l = first; l <= last; l += coarseStep) {
    const double r = correlation(exact, live, l, coarseStep);
    if (r > best) best = r, lag = l;
  }
  const double around = lag;
  for (double l = around - coarseStep; l <= around + coarseStep; l += fineStep) {
    const double r = correlation(exact, live, l, fineStep);
    if (r > best) best = r, lag = l;
  }
  if (score != nullptr) *score = best;
  return best > minimumCorrelation;
}
