// Golden frames: a handful of moments of the show rendered small and compared with
// the pictures committed under tests/golden. On the renderer that drew them (the
// same Mesa) every pixel must match; on another the pictures must keep a PSNR of at
// least 45 dB with at most a quarter of a percent of the pixels off by more than 24
// levels, which a changed caption, camera, colour or layer breaks (a faint title
// moved by less than a pixel scores about 41 dB and half a percent) and another
// rasteriser's rounding of edges does not.
// scripts/golden-frames draws the references anew, on purpose.
#include <GL/gl.h>
#include <gtest/gtest.h>
#include <png.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "app/start_up.h"
#include "app/options.h"
#include "app/run.h"
#include "audio/playback.h"
#include "audio/spectrum.h"
#include "effects/disk_swarm.h"
#include "resources/embedded.h"
#include "show/frame.h"
#include "tests/probe.h"
#include "show/music_source.h"
#include "show/offline_run.h"
#include "show/show_state.h"

namespace {
constexpr int goldenWidth = 320;
constexpr int goldenHeight = 160;
constexpr int goldenFps = 60;
constexpr double minimumPsnr = 45.0;
constexpr int largeError = 24;              // levels of a channel
constexpr double largestShareOff = 0.0025;  // of the pixels, off by more than that

struct Moment {
  const char* name;
  const char* time;  // as --at takes it
};

// Every scene, the caption switches, both halves of the greetings, the cross-fade
// and the last frame.
constexpr Moment moments[] = {
    {"opening", "16b"},         {"sign-off", "40b"},    {"triangle-shell", "96b"}, {"ribbon-star", "160b"},
    {"claim", "200b"},          {"claim-mark", "240b"}, {"pillars", "270b"},       {"greetings-first", "300b"},
    {"greetings-last", "330b"}, {"column", "380b"},     {"cross-fade", "418b"},    {"star-ring", "450b"},
    {"fade-out", "490b"},       {"end", "2:59"},
};

std::string goldenPath(const std::string& name) {
  return std::string(PULSE165_SOURCE_DIR) + "/tests/golden/" + name;
}

bool updating() {
  const char* value = std::getenv("PULSE165_UPDATE_GOLDEN");
  return value != nullptr && *value != '\0' && std::string(value) != "0";
}

std::string rendererName() {
  return std::string(reinterpret_cast<const char*>(glGetString(GL_RENDERER))) + " / " +
         reinterpret_cast<const char*>(glGetString(GL_VERSION));
}

bool readRgbPng(const std::string& path, std::vector<std::uint8_t>& rgb, int& width, int& height) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
  image.format = PNG_FORMAT_RGB;
  rgb.resize(PNG_IMAGE_SIZE(image));
  width = static_cast<int>(image.width);
  height = static_cast<int>(image.height);
  return png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr) != 0;
}

bool writeRgbPng(const std::string& path, const probe::Frame& frame) {
  std::vector<std::uint8_t> rgb;
  for (std::size_t i = 0; i < frame.rgba.size(); i += 4) rgb.insert(rgb.end(), &frame.rgba[i], &frame.rgba[i + 3]);
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(frame.width);
  image.height = static_cast<png_uint_32>(frame.height);
  image.format = PNG_FORMAT_RGB;
  return png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr) != 0;
}

class GoldenFrames : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string error;
    context = new HeadlessContext;  // kept: closing contexts after Mesa's exit handlers misbehaves
    ASSERT_TRUE(context->open(goldenWidth, goldenHeight, error)) << error;
    startShow(embeddedMusic(), embeddedTrack, static_cast<int>(embeddedTrackSize), goldenWidth, goldenHeight, nullptr);
  }

  // The moment as --screenshot draws it in a fresh process: the show replayed from its
  // start, the lead-in drawn, then the moment.
  static probe::Frame render(std::uint32_t at) {
    rewindShow();
    glClear(GL_COLOR_BUFFER_BIT);
    OfflineRun run;
    run.startAt(goldenFps, firstFrameAtOrAfter(at, goldenFps));
    run.step();
    glFinish();
    run.finish();
    return probe::grab(*context);
  }

  static HeadlessContext* context;
};
HeadlessContext* GoldenFrames::context = nullptr;
}  // namespace

TEST_F(GoldenFrames, EveryMomentLooksAsItsReference) {
  const std::string rendererFile = goldenPath("renderer.txt");
  if (updating()) {
    std::ofstream(rendererFile) << rendererName() << "\n";
  }
  std::string recorded;
  std::getline(std::ifstream(rendererFile), recorded);
  const bool sameRenderer = recorded == rendererName();

  for (const Moment& moment : moments) {
    SCOPED_TRACE(moment.name);
    std::uint32_t at = 0;
    std::string error;
    ASSERT_TRUE(parseShowTime(moment.time, at, error)) << error;
    const probe::Frame frame = render(at);
    const std::string path = goldenPath(std::string(moment.name) + ".png");
    if (updating()) {
      ASSERT_TRUE(writeRgbPng(path, frame)) << "cannot write " << path;
      continue;
    }
    std::vector<std::uint8_t> reference;
    int width = 0, height = 0;
    ASSERT_TRUE(readRgbPng(path, reference, width, height)) << "cannot read " << path;
    ASSERT_EQ(width, goldenWidth);
    ASSERT_EQ(height, goldenHeight);

    double squares = 0;
    int largest = 0;
    std::size_t pixelsOff = 0;
    const std::size_t pixels = reference.size() / 3;
    for (std::size_t i = 0; i < pixels; ++i) {
      int worst = 0;
      for (int c = 0; c < 3; ++c) {
        const int d = std::abs(frame.rgba[4 * i + c] - reference[3 * i + c]);
        squares += d * d;
        worst = std::max(worst, d);
      }
      largest = std::max(largest, worst);
      if (worst > largeError) ++pixelsOff;
    }
    const double shareOff = static_cast<double>(pixelsOff) / static_cast<double>(pixels);
    const double meanSquare = squares / static_cast<double>(reference.size());
    const double psnr = meanSquare > 0 ? 10.0 * std::log10(255.0 * 255.0 / meanSquare) : INFINITY;
    if (std::getenv("PULSE165_GOLDEN_VERBOSE"))
      std::printf("%-16s PSNR %6.2f dB, largest %3d, %.3f %% off\n", moment.name, psnr, largest, 100 * shareOff);
    if (sameRenderer) {
      EXPECT_EQ(largest, 0) << "differs from " << path << " on the renderer that drew it (PSNR " << psnr << " dB)";
    } else {
      EXPECT_GE(psnr, minimumPsnr) << path;
      EXPECT_LE(shareOff, largestShareOff) << path << " (PSNR " << psnr << " dB)";
    }
  }
}
