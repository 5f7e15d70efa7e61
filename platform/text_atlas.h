// Flat text for the information overlay: the printable ASCII glyphs of the embedded
// face, rasterised once (by FreeType on the desktop; the browser build carries what
// the build rasterised) into one small alpha texture, and drawn as textured quads in
// window pixels.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The overlay's text sizes in pixels, within which it follows the window (the browser
// build carries the glyphs of each size from the build).
constexpr int smallestOverlayText = 12;
constexpr int largestOverlayText = 32;

struct TextAtlas {
  static constexpr int firstCode = 32;
  static constexpr int lastCode = 126;

  struct Glyph {
    float u0, v0, u1, v1;  // texture coordinates
    int width, height;     // bitmap size in pixels
    int left, top;         // bitmap offset from the pen, y up
    int advance;           // pen advance in pixels
  };

  Glyph glyphs[lastCode - firstCode + 1] = {};
  unsigned texture = 0;
  int lineHeight = 0;  // pixels from one baseline to the next
  int ascent = 0;      // pixels from a line's top to its baseline

  // Rasterises the glyphs at `pixelSize` pixels per em (rasteriseText) and packs them
  // into a texture. Needs a current GL context. False with the reason in `why`.
  bool build(int pixelSize, std::string& why);
  void release();

  // Width in pixels of `text`, or of its first `length` characters (codes outside
  // 32..126 take no room). The widths of pieces add up to the width of the whole.
  int measure(const char* text) const;
  int measure(const char* text, std::size_t length) const;
  // Draws `text` with the top of its line at (x, y), in coordinates where y grows
  // downwards, in the current colour. The caller enables blending and 2D texturing
  // with this atlas's texture bound (see begin()).
  void drawLine(const char* text, int x, int y) const;
  // Binds the texture and enables texturing.
  void begin() const;
};

// The glyphs of one pixel size as the rasteriser gives them: the face's line metrics,
// and each glyph's metrics and 8-bit coverage, rows of `width` bytes from `offset` on.
struct TextRaster {
  struct Glyph {
    bool loaded;  // false: the face could not give it; it takes no room
    int width, height, left, top, advance;
    std::size_t offset;
  };
  int ascent = 0;
  int lineHeight = 0;
  Glyph glyphs[TextAtlas::lastCode - TextAtlas::firstCode + 1] = {};
  std::vector<unsigned char> coverage;
};

// The glyphs of the embedded face at `pixelSize` pixels per em: FreeType's on the
// desktop (platform/text_raster.cpp); in the browser, those the build made with it
// for every size the overlay uses (platform/web_text_raster.cpp). False with the
// reason in `why`.
bool rasteriseText(int pixelSize, TextRaster& raster, std::string& why);
