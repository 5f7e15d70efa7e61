// image_diff: compares two PNGs of the same size channel by channel.
//   image_diff A.png B.png
// Prints the largest channel difference and how many pixels differ; exits 0 when
// the images match up to rounding (no channel off by more than 2 / 255, and fewer
// than 0.1 % of the pixels off at all), 1 otherwise, 2 on a read failure.
#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int roundingLimit = 2;
constexpr double roundingShare = 0.001;

struct Image {
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  std::vector<png_byte> rgba;
};

bool readPng(const char* path, Image& image) {
  png_image info{};
  info.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&info, path)) return false;
  info.format = PNG_FORMAT_RGBA;
  image.width = info.width;
  image.height = info.height;
  image.rgba.resize(PNG_IMAGE_SIZE(info));
  if (!png_image_finish_read(&info, nullptr, image.rgba.data(), 0, nullptr)) return false;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "pulse165: image_diff: usage: image_diff A.png B.png\n");
    return 2;
  }
  Image a, b;
  if (!readPng(argv[1], a) || !readPng(argv[2], b)) {
    std::fprintf(stderr, "pulse165: image_diff: cannot read the images\n");
    return 2;
  }
  if (a.width != b.width || a.height != b.height) {
    std::printf("sizes differ: %ux%u and %ux%u\n", a.width, a.height, b.width, b.height);
    return 1;
  }
  int largest = 0;
  long differing = 0;
  long beyondRounding = 0;
  const long pixels = static_cast<long>(a.width) * a.height;
  for (long p = 0; p < pixels; ++p) {
    int worst = 0;
    for (int c = 0; c < 3; ++c) worst = std::max(worst, std::abs(a.rgba[4 * p + c] - b.rgba[4 * p + c]));
    if (worst > 0) ++differing;
    if (worst > roundingLimit) ++beyondRounding;
    largest = std::max(largest, worst);
  }
  const double share = static_cast<double>(differing) / static_cast<double>(pixels);
  std::printf("largest difference %d/255, %ld pixels differ (%.4f %%), %ld beyond %d/255\n", largest, differing,
              100.0 * share, beyondRounding, roundingLimit);
  return largest <= roundingLimit && share < roundingShare ? 0 : 1;
}
