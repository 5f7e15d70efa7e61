// The text tape: the overlay's glyphs for every text size it uses, rasterised at build
// time by text_bake and read by the browser build in place of FreeType.
//
// Little-endian 32-bit words: the magic "P165TXT1" (two words), the smallest and the
// largest size; then for each size from the smallest up: the size, the ascent and the
// line height; for each code from TextAtlas::firstCode to lastCode six words, loaded,
// width, height, left, top, advance; the count N of coverage bytes, then the N bytes,
// the glyphs' rows one after another, padded with zeros to a whole word.
#pragma once

inline constexpr char textTapeMagic[] = "P165TXT1";
inline constexpr int textTapeGlyphWords = 6;
