// text_bake: the overlay's glyphs for the browser build, made at build time. Runs the
// desktop's rasteriser (platform/text_raster.cpp: FreeType over the embedded face) for
// every text size the overlay uses and writes them as a tape (tools/web/text_tape.h).
//   text_bake OUT.tape
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/text_atlas.h"
#include "platform/web/text_tape.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: text_bake OUT.tape\n");
    return 2;
  }
  std::vector<std::uint32_t> tape(2);
  std::memcpy(tape.data(), textTapeMagic, 2 * sizeof(std::uint32_t));
  tape.push_back(smallestOverlayText);
  tape.push_back(largestOverlayText);
  for (int size = smallestOverlayText; size <= largestOverlayText; ++size) {
    TextRaster raster;
    std::string why;
    if (!rasteriseText(size, raster, why)) {
      std::fprintf(stderr, "text_bake: %s\n", why.c_str());
      return 1;
    }
    tape.insert(tape.end(), {static_cast<std::uint32_t>(size), static_cast<std::uint32_t>(raster.ascent),
                             static_cast<std::uint32_t>(raster.lineHeight)});
    for (const TextRaster::Glyph& g : raster.glyphs) {
      tape.insert(tape.end(), {g.loaded ? 1u : 0u, static_cast<std::uint32_t>(g.width),
                               static_cast<std::uint32_t>(g.height), static_cast<std::uint32_t>(g.left),
                               static_cast<std::uint32_t>(g.top), static_cast<std::uint32_t>(g.advance)});
    }
    const std::size_t bytes = raster.coverage.size();
    tape.push_back(static_cast<std::uint32_t>(bytes));
    const std::size_t at = tape.size();
    tape.resize(at + (bytes + 3) / 4, 0);
    if (bytes > 0) std::memcpy(tape.data() + at, raster.coverage.data(), bytes);
  }

  const std::string temporary = std::string(argv[1]) + ".part";
  FILE* out = std::fopen(temporary.c_str(), "wb");
  if (out == nullptr) {
    std::fprintf(stderr, "text_bake: cannot write %s\n", temporary.c_str());
    return 1;
  }
  const std::size_t written = std::fwrite(tape.data(), sizeof(std::uint32_t), tape.size(), out);
  const bool closed = std::fclose(out) == 0;
  if (written != tape.size() || !closed || std::rename(temporary.c_str(), argv[1]) != 0) {
    std::fprintf(stderr, "text_bake: cannot write %s\n", argv[1]);
    std::remove(temporary.c_str());
    return 1;
  }
  std::printf("text_bake: sizes %d to %d, %zu bytes\n", smallestOverlayText, largestOverlayText,
              tape.size() * sizeof(std::uint32_t));
  return 0;
}
