// The WebGL 2 end of the GL subset: one shader that passes clip coordinates and colours
// through, one vertex array, one dynamic buffer written front to back and orphaned
// when full.
#include "web/gl/draw_batch.h"

#include <webgl/webgl1.h>
#include <webgl/webgl2.h>

#include <cstddef>

DrawBatch drawBatch;

namespace {

constexpr int bufferCapacity = 4 * DrawBatch::capacity;  // vertices; 8 MiB

const char* const vertexShader = R"(#version 300 es
in vec4 position;
in vec4 colour;
out vec4 shade;
void main() {
  gl_Position = position;
  shade = colour;
}
)";

const char* const fragmentShader = R"(#version 300 es
precision highp float;
in vec4 shade;
out vec4 fragment;
void main() { fragment = shade; }
)";

GLuint compile(GLenum type, const char* source, std::string& error) {
  const GLuint shader = emscripten_glCreateShader(type);
  emscripten_glShaderSource(shader, 1, &source, nullptr);
  emscripten_glCompileShader(shader);
  GLint ok = 0;
  emscripten_glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
  if (ok == 0) {
    char log[512] = "";
    emscripten_glGetShaderInfoLog(shader, sizeof log, nullptr, log);
    error = std::string("pulse165: the WebGL shader does not compile: ") + log;
    emscripten_glDeleteShader(shader);
    return 0;
  }
  return shader;
}

}  // namespace

bool BlendMode::adds() const {
  return enabled && destination == GL_ONE;
}

bool DrawBatch::open(std::string& error) {
  close();
  const GLuint vertex = compile(GL_VERTEX_SHADER, vertexShader, error);
  if (vertex == 0) return false;
  const GLuint fragment = compile(GL_FRAGMENT_SHADER, fragmentShader, error);
  if (fragment == 0) {
    emscripten_glDeleteShader(vertex);
    return false;
  }
  program = emscripten_glCreateProgram();
  emscripten_glAttachShader(program, vertex);
  emscripten_glAttachShader(program, fragment);
  emscripten_glBindAttribLocation(program, 0, "position");
  emscripten_glBindAttribLocation(program, 1, "colour");
  emscripten_glLinkProgram(program);
  emscripten_glDeleteShader(vertex);
  emscripten_glDeleteShader(fragment);
  GLint linked = 0;
  emscripten_glGetProgramiv(program, GL_LINK_STATUS, &linked);
  if (linked == 0) {
    error = "pulse165: the WebGL shader program does not link";
    close();
    return false;
  }
  emscripten_glUseProgram(program);

  emscripten_glGenVertexArrays(1, &vertexArray);
  emscripten_glBindVertexArray(vertexArray);
  emscripten_glGenBuffers(1, &buffer);
  emscripten_glBindBuffer(GL_ARRAY_BUFFER, buffer);
  emscripten_glBufferData(GL_ARRAY_BUFFER, bufferCapacity * sizeof(ClipVertex), nullptr, GL_DYNAMIC_DRAW);
  emscripten_glEnableVertexAttribArray(0);
  emscripten_glVertexAttribPointer(0, 4, GL_FLOAT, GL_FALSE, sizeof(ClipVertex),
                                   reinterpret_cast<const void*>(offsetof(ClipVertex, x)));
  emscripten_glEnableVertexAttribArray(1);
  emscripten_glVertexAttribPointer(1, 4, GL_FLOAT, GL_FALSE, sizeof(ClipVertex),
                                   reinterpret_cast<const void*>(offsetof(ClipVertex, r)));
  bufferUsed = 0;

  // What GL 1.1 starts with: no blending, (one, zero), no depth test, no culling.
  emscripten_glDisable(GL_BLEND);
  emscripten_glBlendFunc(GL_ONE, GL_ZERO);
  emscripten_glDisable(GL_DEPTH_TEST);
  emscripten_glDisable(GL_CULL_FACE);
  applied = BlendMode{false, GL_ONE, GL_ZERO};

  for (ClipVertex*& kind : pending)
    if (kind == nullptr) kind = new ClipVertex[capacity];
  count[0] = count[1] = 0;
  ready = true;
  return true;
}

void DrawBatch::close() {
  if (buffer != 0) emscripten_glDeleteBuffers(1, &buffer);
  if (vertexArray != 0) emscripten_glDeleteVertexArrays(1, &vertexArray);
  if (program != 0) emscripten_glDeleteProgram(program);
  buffer = vertexArray = program = 0;
  count[0] = count[1] = 0;
  ready = false;
}

void DrawBatch::draw(BatchKind kind) {
  const int n = count[kind];
  count[kind] = 0;
  if (!ready || n == 0) return;
  if (!(blend == applied)) {
    if (blend.enabled != applied.enabled) (blend.enabled ? emscripten_glEnable : emscripten_glDisable)(GL_BLEND);
    if (blend.source != applied.source || blend.destination != applied.destination)
      emscripten_glBlendFunc(blend.source, blend.destination);
    applied = blend;
  }
  if (bufferUsed + n > bufferCapacity) {
    // Orphaned: the draws still reading the old storage keep it.
    emscripten_glBufferData(GL_ARRAY_BUFFER, bufferCapacity * sizeof(ClipVertex), nullptr, GL_DYNAMIC_DRAW);
    bufferUsed = 0;
  }
  emscripten_glBufferSubData(GL_ARRAY_BUFFER, static_cast<GLintptr>(bufferUsed) * sizeof(ClipVertex),
                             static_cast<GLsizeiptr>(n) * sizeof(ClipVertex), pending[kind]);
  emscripten_glDrawArrays(kind == batchTriangles ? GL_TRIANGLES : GL_LINES, bufferUsed, n);
  bufferUsed += n;
}

void DrawBatch::clear(unsigned mask) {
  flush();
  if (ready) emscripten_glClear(mask & (GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT));
}

void DrawBatch::viewport(int x, int y, int width, int height) {
  flush();
  if (ready) emscripten_glViewport(x, y, width, height);
}

// Browsers return from finish() before the GPU process has drawn; reading a pixel back
// waits for it, as glFinish does.
void DrawBatch::finish() {
  flush();
  if (!ready) return;
  emscripten_glFinish();
  GLubyte pixel[4];
  emscripten_glReadPixels(0, 0, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
}
