// The caption glyphs in the browser: no FreeType and no tessellator here. The build
// ran the desktop's glyph builder over the same embedded face and recorded its calls
// (tools/web/glyph_bake); they are replayed into the same display lists 10..136.
#include "platform/glyphs.h"

#include <GL/gl.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "platform/web/glyph_tape.h"

extern "C" {
extern const std::uint32_t glyphTape[];  // web/embed.S
extern const std::uint32_t glyphTapeEnd[];
}

namespace {

float floatOf(std::uint32_t bits) {
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

}  // namespace

bool buildGlyphLists(std::string& error) {
  const std::uint32_t* at = glyphTape;
  const std::uint32_t* const end = glyphTapeEnd;
  const auto fail = [&error](const char* why) {
    error = std::string("pulse165: cannot build the caption glyphs: ") + why;
    return false;
  };
  if (end - at < 3 || std::memcmp(at, glyphTapeMagic, 2 * sizeof(std::uint32_t)) != 0)
    return fail("the glyph tape is missing");
  at += 2;
  const std::uint32_t vertexCount = *at++;
  if (static_cast<std::uint64_t>(end - at) < 3ull * vertexCount) return fail("the glyph tape is cut short");
  const std::uint32_t* const vertices = at;
  at += 3 * static_cast<std::size_t>(vertexCount);

  while (at < end) {
    const auto op = static_cast<GlyphTapeOp>(*at++);
    const std::size_t left = static_cast<std::size_t>(end - at);
    switch (op) {
      case GlyphTapeOp::newList:
        if (left < 1) return fail("the glyph tape is cut short");
        glNewList(at[0], GL_COMPILE);
        at += 1;
        break;
      case GlyphTapeOp::endList:
        glEndList();
        break;
      case GlyphTapeOp::primitive: {
        if (left < 2 || left - 2 < at[1]) return fail("the glyph tape is cut short");
        const GLenum mode = at[0];
        const std::uint32_t count = at[1];
        at += 2;
        glBegin(mode);
        for (std::uint32_t i = 0; i < count; ++i) {
          const std::uint32_t index = at[i];
          if (index >= vertexCount) return fail("the glyph tape names a vertex it lacks");
          const std::uint32_t* v = vertices + 3 * static_cast<std::size_t>(index);
          glVertex3f(floatOf(v[0]), floatOf(v[1]), floatOf(v[2]));
        }
        glEnd();
        at += count;
        break;
      }
      case GlyphTapeOp::translate:
        if (left < 3) return fail("the glyph tape is cut short");
        glTranslatef(floatOf(at[0]), floatOf(at[1]), floatOf(at[2]));
        at += 3;
        break;
      default:
        return fail("the glyph tape holds an unknown call");
    }
  }
  return true;
}
