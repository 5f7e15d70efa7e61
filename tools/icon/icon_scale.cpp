// icon_scale: crops a centred square of a frame of the show and shrinks it to the
// icon sizes, each written as an RGBA PNG with softly rounded corners. Run by the build.
//
//   icon_scale [--crop=FRACTION] FRAME.png SIZE OUT.png [SIZE OUT.png]...
//
// FRACTION is the square's side as a share of the frame's shorter side (default 1):
// below 1 it zooms in on the figure in the middle and leaves the frame lines out.
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {
constexpr int maxIconSide = 1024;
constexpr double cornerRadius = 0.18;  // of the icon's side: a rounded tile, as menus show them
constexpr int cornerSamples = 8;       // per pixel and axis, to smooth the corner's edge

struct Image {
  int width = 0;
  int height = 0;
  std::vector<double> rgba;  // linear light, alpha premultiplied, row by row
};

double toLinear(double v) {
  return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}
double toSrgb(double v) {
  return v <= 0.0031308 ? v * 12.92 : 1.055 * std::pow(v, 1.0 / 2.4) - 0.055;
}

bool fail(const std::string& what) {
  std::fprintf(stderr, "icon_scale: %s\n", what.c_str());
  return false;
}

bool readPng(const char* path, Image& image) {
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&png, path)) return fail(std::string(path) + ": " + png.message);
  png.format = PNG_FORMAT_RGBA;
  std::vector<png_byte> bytes(PNG_IMAGE_SIZE(png));
  if (!png_image_finish_read(&png, nullptr, bytes.data(), 0, nullptr))
    return fail(std::string(path) + ": " + png.message);
  image.width = static_cast<int>(png.width);
  image.height = static_cast<int>(png.height);
  image.rgba.resize(bytes.size());
  for (std::size_t i = 0; i < bytes.size(); i += 4) {
    const double alpha = bytes[i + 3] / 255.0;
    for (int c = 0; c < 3; ++c) image.rgba[i + c] = toLinear(bytes[i + c] / 255.0) * alpha;
    image.rgba[i + 3] = alpha;
  }
  return true;
}

// How much of each source pixel along one axis falls into each of `count` output
// pixels when `first .. first + length` is shrunk onto them: an exact box filter,
// also for ratios that are not whole numbers.
struct Span {
  int from;
  int to;  // exclusive
  std::vector<double> weights;
};

std::vector<Span> boxSpans(int first, int length, int count) {
  std::vector<Span> spans(static_cast<std::size_t>(count));
  const double scale = static_cast<double>(length) / count;
  for (int i = 0; i < count; ++i) {
    const double lo = first + i * scale, hi = first + (i + 1) * scale;
    Span& span = spans[static_cast<std::size_t>(i)];
    span.from = static_cast<int>(std::floor(lo));
    span.to = static_cast<int>(std::ceil(hi));
    for (int s = span.from; s < span.to; ++s)
      span.weights.push_back((std::min<double>(s + 1, hi) - std::max<double>(s, lo)) / scale);
  }
  return spans;
}

// The share of the pixel (x, y) of a `side`-sized tile that lies inside its rounded outline.
double tileCoverage(int x, int y, int side) {
  const double radius = cornerRadius * side;
  int inside = 0;
  for (int sy = 0; sy < cornerSamples; ++sy) {
    for (int sx = 0; sx < cornerSamples; ++sx) {
      const double px = x + (sx + 0.5) / cornerSamples, py = y + (sy + 0.5) / cornerSamples;
      const double dx = std::max({radius - px, px - (side - radius), 0.0});
      const double dy = std::max({radius - py, py - (side - radius), 0.0});
      if (dx * dx + dy * dy <= radius * radius) ++inside;
    }
  }
  return static_cast<double>(inside) / (cornerSamples * cornerSamples);
}

bool writeIcon(const Image& source, double crop, int side, const char* path) {
  const int square = static_cast<int>(std::lround(crop * std::min(source.width, source.height)));
  const std::vector<Span> columns = boxSpans((source.width - square) / 2, square, side);
  const std::vector<Span> rows = boxSpans((source.height - square) / 2, square, side);
  std::vector<png_byte> bytes(static_cast<std::size_t>(side) * side * 4);
  for (int y = 0; y < side; ++y) {
    const Span& row = rows[static_cast<std::size_t>(y)];
    for (int x = 0; x < side; ++x) {
      const Span& column = columns[static_cast<std::size_t>(x)];
      double sum[4] = {0, 0, 0, 0};
      for (int sy = row.from; sy < row.to; ++sy) {
        for (int sx = column.from; sx < column.to; ++sx) {
          const double w = row.weights[static_cast<std::size_t>(sy - row.from)] *
                           column.weights[static_cast<std::size_t>(sx - column.from)];
          const double* p = &source.rgba[(static_cast<std::size_t>(sy) * source.width + sx) * 4];
          for (int c = 0; c < 4; ++c) sum[c] += w * p[c];
        }
      }
      const double coverage = tileCoverage(x, y, side);
      png_byte* out = &bytes[(static_cast<std::size_t>(y) * side + x) * 4];
      const double alpha = std::clamp(sum[3], 0.0, 1.0);
      for (int c = 0; c < 3; ++c) {
        const double straight = alpha > 0 ? std::clamp(sum[c] / alpha, 0.0, 1.0) : 0.0;
        out[c] = static_cast<png_byte>(std::lround(toSrgb(straight) * 255.0));
      }
      out[3] = static_cast<png_byte>(std::lround(alpha * coverage * 255.0));
    }
  }
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  png.width = static_cast<png_uint_32>(side);
  png.height = static_cast<png_uint_32>(side);
  png.format = PNG_FORMAT_RGBA;
  if (!png_image_write_to_file(&png, path, 0, bytes.data(), 0, nullptr))
    return fail(std::string(path) + ": " + png.message);
  return true;
}
}  // namespace

int main(int argc, char** argv) {
  double crop = 1.0;
  int first = 1;
  const std::string cropFlag = "--crop=";
  if (argc > 1 && std::string(argv[1]).rfind(cropFlag, 0) == 0) {
    char* end = nullptr;
    crop = std::strtod(argv[1] + cropFlag.size(), &end);
    if (*end != '\0' || !(crop > 0.0 && crop <= 1.0)) {
      std::fprintf(stderr, "icon_scale: crop '%s' is not a fraction above 0 and up to 1\n", argv[1]);
      return 2;
    }
    first = 2;
  }
  if (argc - first < 3 || (argc - first) % 2 != 1) {
    std::fprintf(stderr, "usage: icon_scale [--crop=FRACTION] FRAME.png SIZE OUT.png [SIZE OUT.png]...\n");
    return 2;
  }
  Image source;
  if (!readPng(argv[first], source)) return 1;
  const double square = crop * std::min(source.width, source.height);
  for (int i = first + 1; i + 1 < argc; i += 2) {
    char* end = nullptr;
    const long side = std::strtol(argv[i], &end, 10);
    if (*end != '\0' || side < 1 || side > maxIconSide || side > square) {
      std::fprintf(stderr, "icon_scale: size '%s' is not from 1 to the cropped square's side\n", argv[i]);
      return 2;
    }
    if (!writeIcon(source, crop, static_cast<int>(side), argv[i + 1])) return 1;
  }
  return 0;
}
