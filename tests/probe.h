// Pixel probes for rendering tests, in the manner of Mesa's piglit: grab the headless
// frame once, then compare pixels or rectangles against expected colours with a small
// tolerance; a failure says "expected ... observed ... at (x, y)". Coordinates are
// image coordinates: (0, 0) is the top-left pixel, y grows downwards.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "platform/headless.h"

namespace probe {

// About three least-significant bits of an 8-bit channel.
constexpr int defaultTolerance = 3;

struct Rgb {
  int r;
  int g;
  int b;
};

inline std::ostream& operator<<(std::ostream& out, const Rgb& c) {
  return out << "(" << c.r << ", " << c.g << ", " << c.b << ")";
}

// Colours given as GL floats, the way the drawing code states them.
inline Rgb fromFloats(float r, float g, float b) {
  auto channel = [](float v) { return static_cast<int>(v * 255.0f + 0.5f); };
  return {channel(r), channel(g), channel(b)};
}

// One read-back frame, top row first, RGBA.
struct Frame {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgba;

  Rgb at(int x, int y) const {
    const std::uint8_t* p = &rgba[(static_cast<std::size_t>(y) * width + x) * 4];
    return {p[0], p[1], p[2]};
  }

  // True where any channel is above `threshold`.
  bool lit(int x, int y, int threshold = 32) const {
    const Rgb c = at(x, y);
    return c.r > threshold || c.g > threshold || c.b > threshold;
  }
};

inline Frame grab(const HeadlessContext& context) {
  Frame frame;
  frame.width = context.width;
  frame.height = context.height;
  frame.rgba.resize(static_cast<std::size_t>(context.width) * context.height * 4);
  context.readPixels(frame.rgba.data());
  return frame;
}

inline bool near(const Rgb& a, const Rgb& b, int tolerance) {
  return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance && std::abs(a.b - b.b) <= tolerance;
}

inline ::testing::AssertionResult pixelIs(const Frame& frame, int x, int y, Rgb expected,
                                          int tolerance = defaultTolerance) {
  if (x < 0 || y < 0 || x >= frame.width || y >= frame.height)
    return ::testing::AssertionFailure() << "probe at (" << x << ", " << y << ") lies outside the " << frame.width
                                         << "x" << frame.height << " frame";
  const Rgb observed = frame.at(x, y);
  if (near(observed, expected, tolerance)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "expected " << expected << " observed " << observed << " at (" << x << ", "
                                       << y << ")";
}

// Every pixel of the rectangle [x, x + w) x [y, y + h); reports the first that differs.
inline ::testing::AssertionResult rectIs(const Frame& frame, int x, int y, int w, int h, Rgb expected,
                                         int tolerance = defaultTolerance) {
  for (int row = y; row < y + h; ++row)
    for (int column = x; column < x + w; ++column) {
      ::testing::AssertionResult result = pixelIs(frame, column, row, expected, tolerance);
      if (!result) return result;
    }
  return ::testing::AssertionSuccess();
}

// Number of lit pixels in a rectangle.
inline int litCount(const Frame& frame, int x, int y, int w, int h, int threshold = 32) {
  int count = 0;
  for (int row = y; row < y + h; ++row)
    for (int column = x; column < x + w; ++column)
      if (frame.lit(column, row, threshold)) ++count;
  return count;
}

// The smallest rectangle holding every lit pixel; width 0 when nothing is lit.
struct Box {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

inline Box litBounds(const Frame& frame, int threshold = 32) {
  int left = frame.width, top = frame.height, right = -1, bottom = -1;
  for (int y = 0; y < frame.height; ++y)
    for (int x = 0; x < frame.width; ++x)
      if (frame.lit(x, y, threshold)) {
        if (x < left) left = x;
        if (x > right) right = x;
        if (y < top) top = y;
        if (y > bottom) bottom = y;
      }
  if (right < 0) return {};
  return {left, top, right - left + 1, bottom - top + 1};
}

// The lit and dark stretches met walking along a row or a column: "#.#" for a ring
// cut through its hole. Each run of equal pixels becomes one character.
inline std::string runsAlongRow(const Frame& frame, int y, int threshold = 32) {
  std::string runs;
  for (int x = 0; x < frame.width; ++x) {
    const char c = frame.lit(x, y, threshold) ? '#' : '.';
    if (runs.empty() || runs.back() != c) runs.push_back(c);
  }
  return runs;
}

inline std::string runsAlongColumn(const Frame& frame, int x, int threshold = 32) {
  std::string runs;
  for (int y = 0; y < frame.height; ++y) {
    const char c = frame.lit(x, y, threshold) ? '#' : '.';
    if (runs.empty() || runs.back() != c) runs.push_back(c);
  }
  return runs;
}

}  // namespace probe
