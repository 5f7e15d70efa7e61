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

void ColorVertexArray::draw(GLenum mode) const {
  glBegin(mode);
  for (int i = 0; i < count; ++i) {
    glColor4fv(colors + 4 * i);
    glVertex4fv(positions + 4 * i);
  }
  glEnd();
}
