// The overlay's glyphs in the browser: no FreeType here. The build rasterised them
// with the desktop's rasteriser for every size the overlay uses (tools/web/text_bake);
// this reads the size asked for, or the nearest one the tape holds.
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/text_atlas.h"
#include "platform/web/text_tape.h"

extern "C" {
extern const std::uint32_t textTape[];  // web/embed.S
extern const std::uint32_t textTapeEnd[];
}

bool rasteriseText(int pixelSize, TextRaster& raster, std::string& why) {
  raster = TextRaster{};
  constexpr int glyphCount = TextAtlas::lastCode - TextAtlas::firstCode + 1;
  const std::uint32_t* at = textTape;
  const std::uint32_t* const end = textTapeEnd;
  const auto fail = [&why](const char* what) {
    why = std::string("the text tape ") + what;
    return false;
  };
  if (end - at < 4 || std::memcmp(at, textTapeMagic, 2 * sizeof(std::uint32_t)) != 0) return fail("is missing");
  const int smallest = static_cast<int>(at[2]);
  const int largest = static_cast<int>(at[3]);
  at += 4;
  const int wanted = pixelSize < smallest ? smallest : (pixelSize > largest ? largest : pixelSize);
  for (int size = smallest; size <= largest; ++size) {
    constexpr std::size_t headerWords = 3 + glyphCount * textTapeGlyphWords + 1;
    if (static_cast<std::size_t>(end - at) < headerWords || static_cast<int>(at[0]) != size)
      return fail("is cut short");
    const std::uint32_t* glyph = at + 3;
    const std::uint32_t bytes = at[headerWords - 1];
    const std::uint32_t* coverage = at + headerWords;
    const std::size_t words = (static_cast<std::size_t>(bytes) + 3) / 4;
    if (static_cast<std::size_t>(end - coverage) < words) return fail("is cut short");
    if (size == wanted) {
      raster.ascent = static_cast<int>(at[1]);
      raster.lineHeight = static_cast<int>(at[2]);
      std::size_t offset = 0;
      for (TextRaster::Glyph& g : raster.glyphs) {
        g = {glyph[0] != 0,
             static_cast<int>(glyph[1]),
             static_cast<int>(glyph[2]),
             static_cast<int>(glyph[3]),
             static_cast<int>(glyph[4]),
             static_cast<int>(glyph[5]),
             offset};
        offset += static_cast<std::size_t>(g.width) * static_cast<std::size_t>(g.height);
        glyph += textTapeGlyphWords;
      }
      if (offset != bytes) return fail("does not add up");
      const auto* first = reinterpret_cast<const unsigned char*>(coverage);
      raster.coverage.assign(first, first + bytes);
      return true;
    }
    at = coverage + words;
  }
  return fail("lacks the size");
}
