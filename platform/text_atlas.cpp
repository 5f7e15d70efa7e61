// The overlay's text atlas: the rasterised glyphs packed row by row into one texture.
#include "platform/text_atlas.h"

#include <GL/gl.h>

#include <cstring>
#include <string>
#include <vector>

namespace {
constexpr int atlasWidth = 512;  // a power of two, as OpenGL 1.1 needs
constexpr int padding = 1;       // empty texels around each glyph, so that none bleeds into another

int nextPowerOfTwo(int n) {
  int p = 1;
  while (p < n) p *= 2;
  return p;
}
}  // namespace

bool TextAtlas::build(int pixelSize, std::string& why) {
  release();
  TextRaster raster;
  if (!rasteriseText(pixelSize, raster, why)) return false;
  ascent = raster.ascent;
  lineHeight = raster.lineHeight;

  // First pass: places on shelves; second: the texels.
  struct Place {
    int x, y;
  };
  Place places[lastCode - firstCode + 1] = {};
  int x = padding, y = padding, shelf = 0;
  for (int code = firstCode; code <= lastCode; ++code) {
    const TextRaster::Glyph& r = raster.glyphs[code - firstCode];
    if (!r.loaded) continue;
    Glyph& g = glyphs[code - firstCode];
    g.width = r.width;
    g.height = r.height;
    g.left = r.left;
    g.top = r.top;
    g.advance = r.advance;
    if (x + g.width + padding > atlasWidth) {
      x = padding;
      y += shelf + padding;
      shelf = 0;
    }
    places[code - firstCode] = {x, y};
    x += g.width + padding;
    if (g.height > shelf) shelf = g.height;
  }
  const int atlasHeight = nextPowerOfTwo(y + shelf + padding);
  std::vector<unsigned char> texels(static_cast<std::size_t>(atlasWidth) * atlasHeight, 0);
  for (int code = firstCode; code <= lastCode; ++code) {
    Glyph& g = glyphs[code - firstCode];
    if (g.width == 0 || g.height == 0) continue;
    const unsigned char* source = raster.coverage.data() + raster.glyphs[code - firstCode].offset;
    const Place p = places[code - firstCode];
    for (int row = 0; row < g.height; ++row) {
      std::memcpy(&texels[static_cast<std::size_t>(p.y + row) * atlasWidth + p.x],
                  source + static_cast<std::size_t>(row) * g.width, static_cast<std::size_t>(g.width));
    }
    g.u0 = static_cast<float>(p.x) / atlasWidth;
    g.v0 = static_cast<float>(p.y) / atlasHeight;
    g.u1 = static_cast<float>(p.x + g.width) / atlasWidth;
    g.v1 = static_cast<float>(p.y + g.height) / atlasHeight;
  }

  glGenTextures(1, &texture);
  glBindTexture(GL_TEXTURE_2D, texture);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_ALPHA, atlasWidth, atlasHeight, 0, GL_ALPHA, GL_UNSIGNED_BYTE, texels.data());
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  glBindTexture(GL_TEXTURE_2D, 0);
  return true;
}

void TextAtlas::release() {
  if (texture != 0) glDeleteTextures(1, &texture);
  texture = 0;
}

int TextAtlas::measure(const char* text) const {
  return measure(text, std::strlen(text));
}

int TextAtlas::measure(const char* text, std::size_t length) const {
  int width = 0;
  for (std::size_t i = 0; i < length; ++i) {
    const int code = static_cast<unsigned char>(text[i]);
    if (code >= firstCode && code <= lastCode) width += glyphs[code - firstCode].advance;
  }
  return width;
}

void TextAtlas::begin() const {
  glEnable(GL_TEXTURE_2D);
  glBindTexture(GL_TEXTURE_2D, texture);
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
}

void TextAtlas::drawLine(const char* text, int x, int y) const {
  const int baseline = y + ascent;
  glBegin(GL_QUADS);
  for (const char* c = text; *c != '\0'; ++c) {
    const int code = static_cast<unsigned char>(*c);
    if (code < firstCode || code > lastCode) continue;
    const Glyph& g = glyphs[code - firstCode];
    if (g.width > 0 && g.height > 0) {
      const float left = static_cast<float>(x + g.left);
      const float top = static_cast<float>(baseline - g.top);
      const float right = left + static_cast<float>(g.width);
      const float bottom = top + static_cast<float>(g.height);
      glTexCoord2f(g.u0, g.v0);
      glVertex2f(left, top);
      glTexCoord2f(g.u1, g.v0);
      glVertex2f(right, top);
      glTexCoord2f(g.u1, g.v1);
      glVertex2f(right, bottom);
      glTexCoord2f(g.u0, g.v1);
      glVertex2f(left, bottom);
    }
    x += g.advance;
  }
  glEnd();
}
