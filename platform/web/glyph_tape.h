// The glyph tape: the GL calls of the glyph builder, recorded at build time by
// glyph_bake and replayed into display lists by the browser build.
//
// Little-endian 32-bit words: the magic "P165GLY2" (two words); the vertex table, a
// count V and then V vertices of three floats (x, y, z by their bits); then the calls,
// each an opcode and its operands, up to the end of the tape.
#pragma once

#include <cstdint>

inline constexpr char glyphTapeMagic[] = "P165GLY2";

enum class GlyphTapeOp : std::uint32_t {
  newList = 1,    // list name (compile mode)
  endList = 2,    //
  primitive = 3,  // mode, vertex count n, then n indices into the vertex table:
                  // glBegin(mode), glVertex3f for each, glEnd
  translate = 4,  // x, y, z as float bits
};
