// The WebGL 2 end of the browser's GL subset. Vertices arrive already transformed to
// clip coordinates with clamped colours, as the fixed-function front (web/gl/gl_subset.cpp)
// makes them; they are gathered into one array per kind (triangles, lines) and drawn
// from one dynamic buffer with one call per kind, until the blend state changes or
// something must reach the screen. Textured triangles (the overlay's text) have an
// array, a buffer and a shader of their own, apart from the show's drawing.
#pragma once

#include <string>

struct ClipVertex {
  float x, y, z, w;
  float r, g, b, a;
};

// A vertex of a textured triangle: the overlay's glyphs, whose alpha texture modulates
// the colour's alpha.
struct TexturedVertex {
  float x, y, z, w;
  float r, g, b, a;
  float u, v;
};

enum BatchKind { batchTriangles = 0, batchLines = 1 };

struct BlendMode {
  bool enabled;
  unsigned source;  // GL_ONE, GL_SRC_ALPHA, ... (the same numbers in GL 1.1 and WebGL)
  unsigned destination;
  bool operator==(const BlendMode&) const = default;
  // Light added onto the picture (destination factor one): the sum does not depend on
  // the order of the draws, so triangles and lines may be gathered apart.
  bool adds() const;
};

struct DrawBatch {
  static constexpr int capacity = 65536;         // vertices per kind between two draws
  static constexpr int texturedCapacity = 4096;  // textured vertices between two draws

  ClipVertex* pending[2] = {nullptr, nullptr};  // allocated once, by open
  int count[2] = {0, 0};
  TexturedVertex* texturedPending = nullptr;  // allocated once, by open
  int texturedCount = 0;
  unsigned texture = 0;            // the texture the textured vertices sample
  BlendMode blend{false, 1, 0};    // the state the pending vertices were given under
  BlendMode applied{false, 1, 0};  // the state the context has
  unsigned program = 0;
  unsigned vertexArray = 0;
  unsigned buffer = 0;
  unsigned texturedProgram = 0;
  unsigned texturedVertexArray = 0;
  unsigned texturedBuffer = 0;
  int bufferUsed = 0;  // vertices written into the buffer since it was last orphaned
  bool ready = false;

  // Compiles the shaders and makes the buffer on the current WebGL 2 context; one line
  // in `error` on failure.
  bool open(std::string& error);
  void close();

  // Room for n more vertices of a kind. Where the blend does not add, the other kind's
  // pending vertices are drawn first, so that the drawing order holds.
  ClipVertex* take(BatchKind kind, int n) {
    if (texturedCount > 0) drawTextured();
    if (count[1 - kind] > 0 && !blend.adds()) flush();
    if (count[kind] + n > capacity) draw(kind);
    ClipVertex* at = pending[kind] + count[kind];
    count[kind] += n;
    return at;
  }
  void setBlend(const BlendMode& mode) {
    if (mode == blend) return;
    flush();
    blend = mode;
  }
  // Room for n more textured vertices (n at most texturedCapacity); what is pending
  // untextured is drawn first.
  TexturedVertex* takeTextured(int n) {
    if (count[batchTriangles] > 0 || count[batchLines] > 0) {
      draw(batchTriangles);
      draw(batchLines);
    }
    if (texturedCount + n > texturedCapacity) drawTextured();
    TexturedVertex* at = texturedPending + texturedCount;
    texturedCount += n;
    return at;
  }
  void flush() {
    if (count[batchTriangles] > 0) draw(batchTriangles);
    if (count[batchLines] > 0) draw(batchLines);
    if (texturedCount > 0) drawTextured();
  }
  void draw(BatchKind kind);
  void drawTextured();
  void applyBlend();
  // The 2D texture that textured vertices sample from now on.
  void bindTexture(unsigned name);

  // The calls that act on the picture outside the batches; each flushes first.
  void clear(unsigned mask);
  void viewport(int x, int y, int width, int height);
  void finish();
};

// The one batch of the page, behind the GL 1.1 names.
extern DrawBatch drawBatch;
