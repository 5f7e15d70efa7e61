// 44,100 to 48,000 Hz by a polyphase windowed sinc: 48,000 / 44,100 = 160 / 147, so
// output frame n lies at input position n x 147 / 160, between input frames
// floor(n x 147 / 160) and the next, at one of 160 fractions; each fraction has its own
// row of taps, worked out once.
#include "audio/resample.h"

#include <array>
#include <cmath>
#include <numbers>

namespace {

constexpr std::int64_t upFactor = 160;    // 48,000 / 300
constexpr std::int64_t downFactor = 147;  // 44,100 / 300
constexpr int halfTaps = 32;              // input frames either side of the moment
constexpr int taps = 2 * halfTaps;
// The pass band ends at 0.47 of the input rate (20.7 kHz), the stop band begins at its
// Nyquist frequency: nothing that 44,100 Hz cannot hold is made up.
constexpr double cutoff = 0.47;
constexpr double kaiserBeta = 10.0;

double besselI0(double x) {
  double sum = 1.0, term = 1.0;
  for (int k = 1; k < 30; ++k) {
    term *= (x / (2.0 * k)) * (x / (2.0 * k));
    sum += term;
  }
  return sum;
}

using Rows = std::array<std::array<float, taps>, upFactor>;

// Row p weighs input frames base - 31 ... base + 32 for the moment base + p / 160; each
// row sums to 1, so that a steady level stays the same.
Rows makeRows() {
  Rows rows{};
  for (std::int64_t p = 0; p < upFactor; ++p) {
    const double fraction = static_cast<double>(p) / upFactor;
    double weights[taps];
    double sum = 0.0;
    for (int j = 0; j < taps; ++j) {
      const double t = (j - (halfTaps - 1)) - fraction;  // input frames from the moment
      const double x = 2.0 * cutoff * t;
      const double sinc = x == 0.0 ? 1.0 : std::sin(std::numbers::pi * x) / (std::numbers::pi * x);
      const double r = t / halfTaps;
      const double window = r * r < 1.0 ? besselI0(kaiserBeta * std::sqrt(1.0 - r * r)) / besselI0(kaiserBeta) : 0.0;
      weights[j] = sinc * window;
      sum += weights[j];
    }
    for (int j = 0; j < taps; ++j) rows[p][j] = static_cast<float>(weights[j] / sum);
  }
  return rows;
}

}  // namespace

std::int64_t framesAt48k(std::int64_t frames) {
  return (frames * upFactor + downFactor - 1) / downFactor;
}

void resampleTo48k(const float* in, std::int64_t frames, std::int64_t first, std::int64_t count, float* out) {
  static const Rows rows = makeRows();
  for (std::int64_t n = first; n < first + count; ++n) {
    const std::int64_t position = n * downFactor;
    const std::int64_t base = position / upFactor;
    const std::array<float, taps>& row = rows[static_cast<std::size_t>(position % upFactor)];
    const std::int64_t from = base - (halfTaps - 1);
    double left = 0.0, right = 0.0;
    for (int j = 0; j < taps; ++j) {
      const std::int64_t k = from + j;
      if (k < 0 || k >= frames) continue;
      left += static_cast<double>(row[j]) * in[2 * k];
      right += static_cast<double>(row[j]) * in[2 * k + 1];
    }
    out[2 * (n - first)] = static_cast<float>(left);
    out[2 * (n - first) + 1] = static_cast<float>(right);
  }
}
