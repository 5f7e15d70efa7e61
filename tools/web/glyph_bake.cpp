// glyph_bake: the caption glyphs for the browser build, made at build time. Runs the
// show's own glyph builder (platform/glyphs.cpp: FreeType and the GLU tessellator over
// the embedded face) against a recorder of the few GL calls it makes, and writes the
// calls as a tape (tools/web/glyph_tape.h) that the browser build replays into its
// display lists.
//   glyph_bake OUT.tape
//
// Only GLU is linked, not GL: a GL call that the builder makes and this recorder does
// not know fails the link instead of going unrecorded.
#include <GL/gl.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/glyphs.h"
#include "platform/web/glyph_tape.h"

namespace {

using Vertex = std::array<std::uint32_t, 3>;  // float bits: equal bits, one table entry

std::vector<Vertex> vertices;
std::map<Vertex, std::uint32_t> vertexIndex;
std::vector<std::uint32_t> calls;
std::vector<std::uint32_t> primitive;  // the open primitive's vertex indices
GLenum primitiveMode = 0;
int openLists = 0;
int openPrimitives = 0;
bool misuse = false;  // a call out of place (nested lists, a vertex outside a primitive)

std::uint32_t bitsOf(float value) {
  std::uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

void putOp(GlyphTapeOp op) {
  calls.push_back(static_cast<std::uint32_t>(op));
}

}  // namespace

void glNewList(GLuint list, GLenum mode) {
  if (openLists != 0 || mode != GL_COMPILE) misuse = true;
  ++openLists;
  putOp(GlyphTapeOp::newList);
  calls.push_back(list);
}

void glEndList() {
  if (openLists != 1 || openPrimitives != 0) misuse = true;
  --openLists;
  putOp(GlyphTapeOp::endList);
}

void glBegin(GLenum mode) {
  if (openLists != 1 || openPrimitives != 0) misuse = true;
  ++openPrimitives;
  primitiveMode = mode;
  primitive.clear();
}

void glVertex3f(GLfloat x, GLfloat y, GLfloat z) {
  if (openPrimitives != 1) misuse = true;
  const Vertex v{bitsOf(x), bitsOf(y), bitsOf(z)};
  const auto [at, added] = vertexIndex.try_emplace(v, static_cast<std::uint32_t>(vertices.size()));
  if (added) vertices.push_back(v);
  primitive.push_back(at->second);
}

void glEnd() {
  if (openPrimitives != 1) misuse = true;
  --openPrimitives;
  putOp(GlyphTapeOp::primitive);
  calls.push_back(primitiveMode);
  calls.push_back(static_cast<std::uint32_t>(primitive.size()));
  calls.insert(calls.end(), primitive.begin(), primitive.end());
}

void glTranslatef(GLfloat x, GLfloat y, GLfloat z) {
  if (openLists != 1 || openPrimitives != 0) misuse = true;
  putOp(GlyphTapeOp::translate);
  calls.insert(calls.end(), {bitsOf(x), bitsOf(y), bitsOf(z)});
}

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: glyph_bake OUT.tape\n");
    return 2;
  }
  std::string error;
  if (!buildGlyphLists(error)) {
    std::fprintf(stderr, "glyph_bake: %s\n", error.c_str());
    return 1;
  }
  if (misuse || openLists != 0 || openPrimitives != 0) {
    std::fprintf(stderr, "glyph_bake: the glyph builder made calls out of order; the tape would not replay\n");
    return 1;
  }
  std::vector<std::uint32_t> tape(2);
  std::memcpy(tape.data(), glyphTapeMagic, 2 * sizeof(std::uint32_t));
  tape.push_back(static_cast<std::uint32_t>(vertices.size()));
  for (const Vertex& v : vertices) tape.insert(tape.end(), v.begin(), v.end());
  tape.insert(tape.end(), calls.begin(), calls.end());

  const std::string temporary = std::string(argv[1]) + ".part";
  FILE* out = std::fopen(temporary.c_str(), "wb");
  if (out == nullptr) {
    std::fprintf(stderr, "glyph_bake: cannot write %s\n", temporary.c_str());
    return 1;
  }
  const std::size_t written = std::fwrite(tape.data(), sizeof(std::uint32_t), tape.size(), out);
  const bool closed = std::fclose(out) == 0;
  if (written != tape.size() || !closed || std::rename(temporary.c_str(), argv[1]) != 0) {
    std::fprintf(stderr, "glyph_bake: cannot write %s\n", argv[1]);
    std::remove(temporary.c_str());
    return 1;
  }
  std::printf("glyph_bake: %zu vertices, %zu bytes\n", vertices.size(), tape.size() * sizeof(std::uint32_t));
  return 0;
}
