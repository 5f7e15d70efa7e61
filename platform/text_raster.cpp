// The overlay's glyphs rasterised by FreeType from the embedded face.
#include <ft2build.h>
#include FT_FREETYPE_H

#include <string>

#include "platform/text_atlas.h"
#include "resources/embedded.h"

bool rasteriseText(int pixelSize, TextRaster& raster, std::string& why) {
  raster = TextRaster{};
  FT_Library library = nullptr;
  if (FT_Init_FreeType(&library) != 0) {
    why = "FreeType does not start";
    return false;
  }
  FT_Face face = nullptr;
  if (FT_New_Memory_Face(library, embeddedFont, static_cast<FT_Long>(embeddedFontSize()), 0, &face) != 0 ||
      FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(pixelSize)) != 0) {
    why = "the embedded face cannot be read";
    if (face != nullptr) FT_Done_Face(face);
    FT_Done_FreeType(library);
    return false;
  }
  raster.ascent = static_cast<int>((face->size->metrics.ascender + 63) >> 6);
  raster.lineHeight = static_cast<int>((face->size->metrics.height + 63) >> 6);
  for (int code = TextAtlas::firstCode; code <= TextAtlas::lastCode; ++code) {
    if (FT_Load_Char(face, static_cast<FT_ULong>(code), FT_LOAD_RENDER) != 0) continue;
    const FT_GlyphSlot slot = face->glyph;
    TextRaster::Glyph& g = raster.glyphs[code - TextAtlas::firstCode];
    g.loaded = true;
    g.width = static_cast<int>(slot->bitmap.width);
    g.height = static_cast<int>(slot->bitmap.rows);
    g.left = slot->bitmap_left;
    g.top = slot->bitmap_top;
    g.advance = static_cast<int>((slot->advance.x + 32) >> 6);
    g.offset = raster.coverage.size();
    for (int row = 0; row < g.height; ++row) {
      const unsigned char* source = slot->bitmap.buffer + static_cast<std::ptrdiff_t>(row) * slot->bitmap.pitch;
      raster.coverage.insert(raster.coverage.end(), source, source + g.width);
    }
  }
  FT_Done_Face(face);
  FT_Done_FreeType(library);
  return true;
}
