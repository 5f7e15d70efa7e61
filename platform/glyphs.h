// Extruded glyph outlines for the captions: display lists 10 + c for codes 0..126,
// each drawing glyph c of the embedded heavy sans-serif face as filled polygons in
// em units (front face at z = 0, back face at z = -1, side walls between), then
// translating by the glyph's advance. Needs a current GL context.
#pragma once

#include <string>

constexpr int fontListBase = 10;
constexpr int fontGlyphCount = 127;

// Builds the lists from the embedded face. Returns false (lists left empty, captions
// then draw nothing) and one line in `error` if the face cannot be read.
bool buildGlyphLists(std::string& error);
