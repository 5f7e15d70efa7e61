// The vertex store of the line-and-fill effects and its one-primitive drawing.
#include "effects/color_vertex_array.h"

void ColorVertexArray::resize(int n) {
  release();
  if (n <= 0) return;
  positions = new float[4 * static_cast<long>(n)];
  colors = new float[4 * static_cast<long>(n)];
  count = n;
}

void ColorVertexArray::release() {
  delete[] positions;
  delete[] colors;
  positions = nullptr;
  colors = nullptr;
  count = 0;
}

// The same vertices in the same order as one colour-then-vertex call per vertex,
// handed over as GL 1.1 client arrays: the GL takes them in one call instead of
// 2 x count. The client arrays are switched off again, and the current colour is
// left at the last vertex's, as the per-vertex calls would leave it.
void ColorVertexArray::draw(GLenum mode) const {
  if (count <= 0) {
    glBegin(mode);
    glEnd();
    return;
  }
  glEnableClientState(GL_VERTEX_ARRAY);
  glEnableClientState(GL_COLOR_ARRAY);
  glVertexPointer(4, GL_FLOAT, 0, positions);
  glColorPointer(4, GL_FLOAT, 0, colors);
  glDrawArrays(mode, 0, count);
  glDisableClientState(GL_COLOR_ARRAY);
  glDisableClientState(GL_VERTEX_ARRAY);
  glColor4fv(colors + 4 * (count - 1));
}
