// The fixed-function front of the browser's GL subset: GL 1.1 state, matrices and
// primitives on the CPU, handed to the WebGL 2 batch as clip-space triangles and lines.
#include "platform/web/gl/gl_subset.h"

#include <GL/gl.h>
#include <GL/glu.h>
#include <webgl/webgl1.h>
#include <webgl/webgl2.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "platform/web/gl/draw_batch.h"

struct GLUquadric {
  int unused;  // the show draws its quadric shapes from client arrays (effects/quadric_shapes.h)
};

namespace {

constexpr int stackDepth = 32;                 // GL 1.1 asks for at least 32 and 2
constexpr int attributeDepth = 16;             // and at least 16 here
constexpr int maxPrimitiveVertices = 1 << 16;  // per glBegin/glEnd or glDrawArrays
constexpr int maxTexturedVertices = 1024;      // per textured glBegin/glEnd (a line of text)
constexpr double degrees = 3.14159265358979323846 / 180.0;

// Column-major, as GL keeps them: element (row r, column c) is m[4 c + r].
struct Matrix {
  float m[16];

  static Matrix identity() { return {{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}}; }
  Matrix times(const Matrix& b) const {
    Matrix r;
    for (int c = 0; c < 4; ++c)
      for (int row = 0; row < 4; ++row)
        r.m[4 * c + row] = m[row] * b.m[4 * c] + m[4 + row] * b.m[4 * c + 1] + m[8 + row] * b.m[4 * c + 2] +
                           m[12 + row] * b.m[4 * c + 3];
    return r;
  }
};

struct MatrixStack {
  Matrix level[stackDepth];
  int top = 0;
};

struct ArrayPointer {
  int size = 4;
  int stride = 0;  // bytes; 0: tightly packed
  const float* data = nullptr;

  const float* at(int i) const {
    const int step = stride != 0 ? stride : size * static_cast<int>(sizeof(float));
    return reinterpret_cast<const float*>(reinterpret_cast<const char*>(data) + static_cast<long>(i) * step);
  }
};

// A recorded call of a display list.
struct ListCall {
  enum Kind : std::uint8_t { begin, vertex, end, translate } kind;
  GLenum mode;
  float x, y, z;
};

struct ListRange {
  std::size_t first = 0;
  std::size_t end = 0;
};

// What glPushAttrib keeps, of the state this subset has.
struct Attributes {
  GLbitfield mask;
  float colour[4];
  float texCoord[2];
  BlendMode blend;
  GLenum polygonMode;
  bool texturing;
  GLuint texture;
  GLint viewport[4];
  MatrixStack* matrixMode;
};

struct FixedFunction {
  MatrixStack modelview;
  MatrixStack projection;
  MatrixStack* current = &modelview;
  Matrix transform = Matrix::identity();  // projection x modelview
  bool transformStale = false;

  float colour[4] = {1, 1, 1, 1};
  float texCoord[2] = {0, 0};
  GLenum polygonMode = GL_FILL;
  BlendMode blend{false, GL_ONE, GL_ZERO};
  GLint viewport[4] = {0, 0, 0, 0};

  // Texturing: 2D alpha textures modulating the colour's alpha (the overlay's text).
  bool texturing = false;
  GLuint texture = 0;
  float (*primitiveTexCoords)[2] = nullptr;  // allocated on first use, never again

  Attributes attributes[attributeDepth];
  int attributeCount = 0;

  bool vertexArrayOn = false;
  bool colourArrayOn = false;
  ArrayPointer vertexArray;
  ArrayPointer colourArray;

  bool inPrimitive = false;
  GLenum primitiveMode = 0;
  int primitiveCount = 0;
  ClipVertex* primitive = nullptr;  // allocated on first use, never again

  GLuint compiling = 0;  // the list being recorded, 0 when none
  std::vector<ListCall> listCalls;
  std::vector<ListRange> lists;  // by list name
  GLuint listBase = 0;
};

FixedFunction state;

float unitClamp(float v) {
  return v > 1.0f ? 1.0f : (v >= 0.0f ? v : 0.0f);
}  // NaN becomes 0

Matrix& top() {
  state.transformStale = true;
  return state.current->level[state.current->top];
}

void multiply(const Matrix& by) {
  Matrix& m = top();
  m = m.times(by);
}

const Matrix& transform() {
  if (state.transformStale) {
    state.transform = state.projection.level[state.projection.top].times(state.modelview.level[state.modelview.top]);
    state.transformStale = false;
  }
  return state.transform;
}

ClipVertex toClip(const Matrix& t, float x, float y, float z, float w, const float* rgba) {
  const float* m = t.m;
  return {m[0] * x + m[4] * y + m[8] * z + m[12] * w,
          m[1] * x + m[5] * y + m[9] * z + m[13] * w,
          m[2] * x + m[6] * y + m[10] * z + m[14] * w,
          m[3] * x + m[7] * y + m[11] * z + m[15] * w,
          rgba[0],
          rgba[1],
          rgba[2],
          rgba[3]};
}

//----------------------------------------------------------------------------------
// Primitives into triangles and lines
//----------------------------------------------------------------------------------

void line(const ClipVertex& a, const ClipVertex& b) {
  ClipVertex* out = drawBatch.take(batchLines, 2);
  out[0] = a;
  out[1] = b;
}

void triangle(const ClipVertex& a, const ClipVertex& b, const ClipVertex& c) {
  if (state.polygonMode == GL_LINE) {
    line(a, b);
    line(b, c);
    line(c, a);
    return;
  }
  ClipVertex* out = drawBatch.take(batchTriangles, 3);
  out[0] = a;
  out[1] = b;
  out[2] = c;
}

void quad(const ClipVertex& a, const ClipVertex& b, const ClipVertex& c, const ClipVertex& d) {
  if (state.polygonMode == GL_LINE) {  // the four edges; the diagonal is no edge
    line(a, b);
    line(b, c);
    line(c, d);
    line(d, a);
    return;
  }
  triangle(a, b, c);
  triangle(a, c, d);
}

void emitPrimitive(GLenum mode, const ClipVertex* v, int n) {
  switch (mode) {
    case GL_LINES:
      for (int i = 0; i + 1 < n; i += 2) line(v[i], v[i + 1]);
      break;
    case GL_LINE_STRIP:
      for (int i = 0; i + 1 < n; ++i) line(v[i], v[i + 1]);
      break;
    case GL_LINE_LOOP:
      for (int i = 0; i + 1 < n; ++i) line(v[i], v[i + 1]);
      if (n > 1) line(v[n - 1], v[0]);
      break;
    case GL_TRIANGLES:
      for (int i = 0; i + 2 < n; i += 3) triangle(v[i], v[i + 1], v[i + 2]);
      break;
    case GL_TRIANGLE_STRIP:
      for (int i = 0; i + 2 < n; ++i) {
        if (i % 2 == 0)
          triangle(v[i], v[i + 1], v[i + 2]);
        else
          triangle(v[i + 1], v[i], v[i + 2]);
      }
      break;
    case GL_TRIANGLE_FAN:
      for (int i = 1; i + 1 < n; ++i) triangle(v[0], v[i], v[i + 1]);
      break;
    case GL_QUADS:
      for (int i = 0; i + 3 < n; i += 4) quad(v[i], v[i + 1], v[i + 2], v[i + 3]);
      break;
    case GL_QUAD_STRIP:
      for (int i = 0; i + 3 < n; i += 2) quad(v[i], v[i + 1], v[i + 3], v[i + 2]);
      break;
    case GL_POLYGON:
      if (n < 3) break;
      if (state.polygonMode == GL_LINE) {
        for (int i = 0; i < n; ++i) line(v[i], v[(i + 1) % n]);
      } else {
        for (int i = 1; i + 1 < n; ++i) triangle(v[0], v[i], v[i + 1]);
      }
      break;
    default:  // points: the show draws none
      break;
  }
}

ClipVertex* scratch() {
  if (state.primitive == nullptr) state.primitive = new ClipVertex[maxPrimitiveVertices];
  return state.primitive;
}

bool textured() {
  return state.texturing && state.texture != 0;
}

void vertex(float x, float y, float z) {
  if (state.compiling != 0) {
    state.listCalls.push_back({ListCall::vertex, 0, x, y, z});
    return;
  }
  if (!state.inPrimitive || state.primitiveCount >= maxPrimitiveVertices) return;
  if (textured()) {
    if (state.primitiveCount >= maxTexturedVertices) return;
    if (state.primitiveTexCoords == nullptr) state.primitiveTexCoords = new float[maxTexturedVertices][2];
    state.primitiveTexCoords[state.primitiveCount][0] = state.texCoord[0];
    state.primitiveTexCoords[state.primitiveCount][1] = state.texCoord[1];
  }
  scratch()[state.primitiveCount++] = toClip(transform(), x, y, z, 1.0f, state.colour);
}

// Textured primitives are filled: triangles, quads, fans and polygons.
void texturedTriangle(const ClipVertex* v, const float (*uv)[2], int a, int b, int c) {
  TexturedVertex* out = drawBatch.takeTextured(3);
  for (int i : {a, b, c}) {
    const ClipVertex& p = v[i];
    *out++ = {p.x, p.y, p.z, p.w, p.r, p.g, p.b, p.a, uv[i][0], uv[i][1]};
  }
}

void emitTextured(GLenum mode, const ClipVertex* v, const float (*uv)[2], int n) {
  switch (mode) {
    case GL_TRIANGLES:
      for (int i = 0; i + 2 < n; i += 3) texturedTriangle(v, uv, i, i + 1, i + 2);
      break;
    case GL_QUADS:
      for (int i = 0; i + 3 < n; i += 4) {
        texturedTriangle(v, uv, i, i + 1, i + 2);
        texturedTriangle(v, uv, i, i + 2, i + 3);
      }
      break;
    case GL_TRIANGLE_FAN:
    case GL_POLYGON:
      for (int i = 1; i + 1 < n; ++i) texturedTriangle(v, uv, 0, i, i + 1);
      break;
    default:  // lines and strips: the overlay draws none textured
      break;
  }
}

void translate(float x, float y, float z) {
  Matrix t = Matrix::identity();
  t.m[12] = x;
  t.m[13] = y;
  t.m[14] = z;
  multiply(t);
}

void callList(GLuint name) {
  if (name >= state.lists.size()) return;
  const ListRange range = state.lists[name];
  for (std::size_t i = range.first; i < range.end; ++i) {
    const ListCall& call = state.listCalls[i];
    switch (call.kind) {
      case ListCall::begin:
        glBegin(call.mode);
        break;
      case ListCall::vertex:
        vertex(call.x, call.y, call.z);
        break;
      case ListCall::end:
        glEnd();
        break;
      case ListCall::translate:
        translate(call.x, call.y, call.z);
        break;
    }
  }
}

}  // namespace

bool openGlSubset(std::string& error) {
  if (!drawBatch.open(error)) return false;
  drawBatch.setBlend(state.blend);
  return true;
}

void flushGlSubset() {
  drawBatch.flush();
}

//----------------------------------------------------------------------------------
// Matrices
//----------------------------------------------------------------------------------

void glMatrixMode(GLenum mode) {
  if (mode == GL_MODELVIEW) state.current = &state.modelview;
  if (mode == GL_PROJECTION) state.current = &state.projection;
}

void glLoadIdentity() {
  top() = Matrix::identity();
}

void glPushMatrix() {
  MatrixStack& s = *state.current;
  if (s.top + 1 >= stackDepth) return;  // GL_STACK_OVERFLOW: nothing changes
  s.level[s.top + 1] = s.level[s.top];
  ++s.top;
}

void glPopMatrix() {
  MatrixStack& s = *state.current;
  if (s.top == 0) return;  // GL_STACK_UNDERFLOW
  --s.top;
  state.transformStale = true;
}

void glTranslatef(GLfloat x, GLfloat y, GLfloat z) {
  if (state.compiling != 0) {
    state.listCalls.push_back({ListCall::translate, 0, x, y, z});
    return;
  }
  translate(x, y, z);
}

void glScalef(GLfloat x, GLfloat y, GLfloat z) {
  Matrix s = Matrix::identity();
  s.m[0] = x;
  s.m[5] = y;
  s.m[10] = z;
  multiply(s);
}

void glRotatef(GLfloat angle, GLfloat x, GLfloat y, GLfloat z) {
  const float s = static_cast<float>(std::sin(angle * degrees));
  const float c = static_cast<float>(std::cos(angle * degrees));
  const float length = std::sqrt(x * x + y * y + z * z);
  if (length <= 1.0e-4f) return;
  x /= length;
  y /= length;
  z /= length;
  const float oneC = 1.0f - c;
  Matrix r = Matrix::identity();
  r.m[0] = oneC * x * x + c;
  r.m[4] = oneC * x * y - z * s;
  r.m[8] = oneC * z * x + y * s;
  r.m[1] = oneC * x * y + z * s;
  r.m[5] = oneC * y * y + c;
  r.m[9] = oneC * y * z - x * s;
  r.m[2] = oneC * z * x - y * s;
  r.m[6] = oneC * y * z + x * s;
  r.m[10] = oneC * z * z + c;
  multiply(r);
}

void glOrtho(GLdouble left, GLdouble right, GLdouble bottom, GLdouble top, GLdouble zNear, GLdouble zFar) {
  if (left == right || bottom == top || zNear == zFar) return;  // GL_INVALID_VALUE
  Matrix o = Matrix::identity();
  o.m[0] = static_cast<float>(2.0 / (right - left));
  o.m[5] = static_cast<float>(2.0 / (top - bottom));
  o.m[10] = static_cast<float>(-2.0 / (zFar - zNear));
  o.m[12] = static_cast<float>(-(right + left) / (right - left));
  o.m[13] = static_cast<float>(-(top + bottom) / (top - bottom));
  o.m[14] = static_cast<float>(-(zFar + zNear) / (zFar - zNear));
  multiply(o);
}

// As GLU computes them: the perspective in double precision, the view in single.
void gluPerspective(GLdouble fovy, GLdouble aspect, GLdouble zNear, GLdouble zFar) {
  const double radians = fovy / 2 * degrees;
  const double deltaZ = zFar - zNear;
  const double sine = std::sin(radians);
  if (deltaZ == 0 || sine == 0 || aspect == 0) return;
  const double cotangent = std::cos(radians) / sine;
  Matrix p = Matrix::identity();
  p.m[0] = static_cast<float>(cotangent / aspect);
  p.m[5] = static_cast<float>(cotangent);
  p.m[10] = static_cast<float>(-(zFar + zNear) / deltaZ);
  p.m[11] = -1.0f;
  p.m[14] = static_cast<float>(-2 * zNear * zFar / deltaZ);
  p.m[15] = 0.0f;
  multiply(p);
}

void gluLookAt(GLdouble eyeX, GLdouble eyeY, GLdouble eyeZ, GLdouble centreX, GLdouble centreY, GLdouble centreZ,
               GLdouble upX, GLdouble upY, GLdouble upZ) {
  auto normalise = [](float v[3]) {
    const float r = static_cast<float>(std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]));
    if (r == 0.0f) return;
    v[0] /= r;
    v[1] /= r;
    v[2] /= r;
  };
  auto cross = [](const float a[3], const float b[3], float out[3]) {
    out[0] = a[1] * b[2] - a[2] * b[1];
    out[1] = a[2] * b[0] - a[0] * b[2];
    out[2] = a[0] * b[1] - a[1] * b[0];
  };
  float forward[3] = {static_cast<float>(centreX - eyeX), static_cast<float>(centreY - eyeY),
                      static_cast<float>(centreZ - eyeZ)};
  float up[3] = {static_cast<float>(upX), static_cast<float>(upY), static_cast<float>(upZ)};
  float side[3];
  normalise(forward);
  cross(forward, up, side);
  normalise(side);
  cross(side, forward, up);
  Matrix v = Matrix::identity();
  v.m[0] = side[0];
  v.m[4] = side[1];
  v.m[8] = side[2];
  v.m[1] = up[0];
  v.m[5] = up[1];
  v.m[9] = up[2];
  v.m[2] = -forward[0];
  v.m[6] = -forward[1];
  v.m[10] = -forward[2];
  multiply(v);
  translate(static_cast<float>(-eyeX), static_cast<float>(-eyeY), static_cast<float>(-eyeZ));
}

//----------------------------------------------------------------------------------
// Colour, vertices, primitives
//----------------------------------------------------------------------------------

void glColor3f(GLfloat red, GLfloat green, GLfloat blue) {
  glColor4f(red, green, blue, 1.0f);
}

// Colours are clamped when given, as the fixed-function pipeline clamps them.
void glColor4f(GLfloat red, GLfloat green, GLfloat blue, GLfloat alpha) {
  state.colour[0] = unitClamp(red);
  state.colour[1] = unitClamp(green);
  state.colour[2] = unitClamp(blue);
  state.colour[3] = unitClamp(alpha);
}

void glColor4fv(const GLfloat* v) {
  glColor4f(v[0], v[1], v[2], v[3]);
}

void glBegin(GLenum mode) {
  if (state.compiling != 0) {
    state.listCalls.push_back({ListCall::begin, mode, 0, 0, 0});
    return;
  }
  if (state.inPrimitive) return;  // GL_INVALID_OPERATION
  state.inPrimitive = true;
  state.primitiveMode = mode;
  state.primitiveCount = 0;
}

void glEnd() {
  if (state.compiling != 0) {
    state.listCalls.push_back({ListCall::end, 0, 0, 0, 0});
    return;
  }
  if (!state.inPrimitive) return;
  state.inPrimitive = false;
  if (textured() && state.primitiveTexCoords != nullptr)
    emitTextured(state.primitiveMode, scratch(), state.primitiveTexCoords, state.primitiveCount);
  else
    emitPrimitive(state.primitiveMode, scratch(), state.primitiveCount);
}

void glTexCoord2f(GLfloat s, GLfloat t) {
  state.texCoord[0] = s;
  state.texCoord[1] = t;
}

void glVertex2f(GLfloat x, GLfloat y) {
  vertex(x, y, 0.0f);
}

void glVertex3f(GLfloat x, GLfloat y, GLfloat z) {
  vertex(x, y, z);
}

void glRectf(GLfloat x1, GLfloat y1, GLfloat x2, GLfloat y2) {
  glBegin(GL_POLYGON);
  vertex(x1, y1, 0.0f);
  vertex(x2, y1, 0.0f);
  vertex(x2, y2, 0.0f);
  vertex(x1, y2, 0.0f);
  glEnd();
}

//----------------------------------------------------------------------------------
// Client arrays
//----------------------------------------------------------------------------------

void glEnableClientState(GLenum array) {
  if (array == GL_VERTEX_ARRAY) state.vertexArrayOn = true;
  if (array == GL_COLOR_ARRAY) state.colourArrayOn = true;
}

void glDisableClientState(GLenum array) {
  if (array == GL_VERTEX_ARRAY) state.vertexArrayOn = false;
  if (array == GL_COLOR_ARRAY) state.colourArrayOn = false;
}

void glVertexPointer(GLint size, GLenum type, GLsizei stride, const GLvoid* pointer) {
  if (type != GL_FLOAT || size < 2 || size > 4 || stride < 0) return;
  state.vertexArray = {size, stride, static_cast<const float*>(pointer)};
}

void glColorPointer(GLint size, GLenum type, GLsizei stride, const GLvoid* pointer) {
  if (type != GL_FLOAT || size < 3 || size > 4 || stride < 0) return;
  state.colourArray = {size, stride, static_cast<const float*>(pointer)};
}

void glDrawArrays(GLenum mode, GLint first, GLsizei count) {
  if (!state.vertexArrayOn || state.inPrimitive || first < 0 || count <= 0) return;
  if (count > maxPrimitiveVertices) count = maxPrimitiveVertices;
  const Matrix& t = transform();
  ClipVertex* out = scratch();
  const ArrayPointer& positions = state.vertexArray;
  const ArrayPointer& colours = state.colourArray;
  for (int i = 0; i < count; ++i) {
    const float* p = positions.at(first + i);
    const float z = positions.size > 2 ? p[2] : 0.0f;
    const float w = positions.size > 3 ? p[3] : 1.0f;
    if (state.colourArrayOn) {
      const float* c = colours.at(first + i);
      const float rgba[4] = {unitClamp(c[0]), unitClamp(c[1]), unitClamp(c[2]),
                             colours.size > 3 ? unitClamp(c[3]) : 1.0f};
      out[i] = toClip(t, p[0], p[1], z, w, rgba);
    } else {
      out[i] = toClip(t, p[0], p[1], z, w, state.colour);
    }
  }
  emitPrimitive(mode, out, count);
}

//----------------------------------------------------------------------------------
// Blending and polygon mode
//----------------------------------------------------------------------------------

void glEnable(GLenum capability) {
  if (capability == GL_TEXTURE_2D) {
    state.texturing = true;
    return;
  }
  if (capability != GL_BLEND) return;
  state.blend.enabled = true;
  drawBatch.setBlend(state.blend);
}

void glDisable(GLenum capability) {
  if (capability == GL_TEXTURE_2D) {
    state.texturing = false;
    return;
  }
  if (capability != GL_BLEND) return;
  state.blend.enabled = false;
  drawBatch.setBlend(state.blend);
}

void glBlendFunc(GLenum source, GLenum destination) {
  state.blend.source = source;
  state.blend.destination = destination;
  drawBatch.setBlend(state.blend);
}

void glPolygonMode(GLenum, GLenum mode) {
  if (mode == GL_FILL || mode == GL_LINE) state.polygonMode = mode;
}

//----------------------------------------------------------------------------------
// Display lists
//----------------------------------------------------------------------------------

void glNewList(GLuint list, GLenum mode) {
  if (list == 0 || mode != GL_COMPILE || state.compiling != 0 || state.inPrimitive) return;
  state.compiling = list;
  if (state.lists.size() <= list) state.lists.resize(list + 1);
  state.lists[list].first = state.listCalls.size();
}

void glEndList() {
  if (state.compiling == 0) return;
  state.lists[state.compiling].end = state.listCalls.size();
  state.compiling = 0;
}

void glListBase(GLuint base) {
  state.listBase = base;
}

void glCallLists(GLsizei n, GLenum type, const GLvoid* lists) {
  if (type != GL_UNSIGNED_BYTE || state.compiling != 0) return;
  const auto* names = static_cast<const GLubyte*>(lists);
  for (GLsizei i = 0; i < n; ++i) callList(state.listBase + names[i]);
}

//----------------------------------------------------------------------------------
// The framebuffer
//----------------------------------------------------------------------------------

void glClear(GLbitfield mask) {
  drawBatch.clear(mask);
}

void glViewport(GLint x, GLint y, GLsizei width, GLsizei height) {
  state.viewport[0] = x;
  state.viewport[1] = y;
  state.viewport[2] = width;
  state.viewport[3] = height;
  drawBatch.viewport(x, y, width, height);
}

//----------------------------------------------------------------------------------
// Textures: made and filled at once; drawn from by the textured batch
//----------------------------------------------------------------------------------

void glGenTextures(GLsizei n, GLuint* textures) {
  emscripten_glGenTextures(n, textures);
}

void glDeleteTextures(GLsizei n, const GLuint* textures) {
  drawBatch.flush();
  for (GLsizei i = 0; i < n; ++i) {
    if (textures[i] == state.texture) state.texture = 0;
    if (textures[i] == drawBatch.texture) drawBatch.bindTexture(0);
  }
  emscripten_glDeleteTextures(n, textures);
}

void glBindTexture(GLenum target, GLuint texture) {
  if (target != GL_TEXTURE_2D) return;
  state.texture = texture;
  drawBatch.bindTexture(texture);
  emscripten_glBindTexture(GL_TEXTURE_2D, texture);
}

void glTexParameteri(GLenum target, GLenum name, GLint value) {
  drawBatch.flush();
  emscripten_glTexParameteri(target, name, value);
}

void glPixelStorei(GLenum name, GLint value) {
  emscripten_glPixelStorei(name, value);
}

void glTexImage2D(GLenum target, GLint level, GLint internalFormat, GLsizei width, GLsizei height, GLint border,
                  GLenum format, GLenum type, const GLvoid* pixels) {
  drawBatch.flush();
  emscripten_glTexImage2D(target, level, internalFormat, width, height, border, format, type, pixels);
}

// GL_MODULATE, the default and the one mode the textured shader has.
void glTexEnvi(GLenum, GLenum, GLint) {}

//----------------------------------------------------------------------------------
// glPushAttrib and glPopAttrib, over the state above
//----------------------------------------------------------------------------------

void glPushAttrib(GLbitfield mask) {
  if (state.attributeCount >= attributeDepth) return;  // GL_STACK_OVERFLOW: nothing changes
  Attributes& a = state.attributes[state.attributeCount++];
  a.mask = mask;
  for (int i = 0; i < 4; ++i) a.colour[i] = state.colour[i];
  a.texCoord[0] = state.texCoord[0];
  a.texCoord[1] = state.texCoord[1];
  a.blend = state.blend;
  a.polygonMode = state.polygonMode;
  a.texturing = state.texturing;
  a.texture = state.texture;
  for (int i = 0; i < 4; ++i) a.viewport[i] = state.viewport[i];
  a.matrixMode = state.current;
}

void glPopAttrib() {
  if (state.attributeCount == 0) return;  // GL_STACK_UNDERFLOW
  const Attributes& a = state.attributes[--state.attributeCount];
  if ((a.mask & GL_CURRENT_BIT) != 0) {
    for (int i = 0; i < 4; ++i) state.colour[i] = a.colour[i];
    state.texCoord[0] = a.texCoord[0];
    state.texCoord[1] = a.texCoord[1];
  }
  if ((a.mask & (GL_ENABLE_BIT | GL_COLOR_BUFFER_BIT)) != 0) state.blend.enabled = a.blend.enabled;
  if ((a.mask & GL_COLOR_BUFFER_BIT) != 0) {
    state.blend.source = a.blend.source;
    state.blend.destination = a.blend.destination;
  }
  drawBatch.setBlend(state.blend);
  if ((a.mask & GL_ENABLE_BIT) != 0) state.texturing = a.texturing;
  if ((a.mask & GL_POLYGON_BIT) != 0) state.polygonMode = a.polygonMode;
  if ((a.mask & GL_TEXTURE_BIT) != 0) glBindTexture(GL_TEXTURE_2D, a.texture);
  if ((a.mask & GL_VIEWPORT_BIT) != 0) glViewport(a.viewport[0], a.viewport[1], a.viewport[2], a.viewport[3]);
  if ((a.mask & GL_TRANSFORM_BIT) != 0) state.current = a.matrixMode;
}

void glFinish() {
  drawBatch.finish();
}

//----------------------------------------------------------------------------------
// GLU quadrics: handles only
//----------------------------------------------------------------------------------

GLUquadric* gluNewQuadric() {
  return new GLUquadric{0};
}

void gluDeleteQuadric(GLUquadric* quadric) {
  delete quadric;
}
