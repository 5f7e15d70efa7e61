// The WebGL 2 end of the GL subset: one shader that passes clip coordinates and colours
// through, one vertex array, one dynamic buffer written front to back and orphaned
// when full; and for the few textured triangles, a second shader, vertex array and
// buffer.
#include "platform/web/gl/draw_batch.h"

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

// GL 1.1's GL_MODULATE of an alpha texture: the colour as given, its alpha times the
// texel's.
const char* const texturedVertexShader = R"(#version 300 es
in vec4 position;
in vec4 colour;
in vec2 place;
out vec4 shade;
out vec2 texel;
void main() {
  gl_Position = position;
  shade = colour;
  texel = place;
}
)";

const char* const texturedFragmentShader = R"(#version 300 es
precision highp float;
uniform sampler2D atlas;
in vec4 shade;
in vec2 texel;
out vec4 fragment;
void main() { fragment = vec4(shade.rgb, shade.a * texture(atlas, texel).a); }
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

// The program of two shaders, its inputs at 0 (position), 1 (colour) and 2 (place);
// 0 with the reason in `error` on failure.
GLuint link(const char* vertexSource, const char* fragmentSource, std::string& error) {
  const GLuint vertex = compile(GL_VERTEX_SHADER, vertexSource, error);
  if (vertex == 0) return 0;
  const GLuint fragment = compile(GL_FRAGMENT_SHADER, fragmentSource, error);
  if (fragment == 0) {
    emscripten_glDeleteShader(vertex);
    return 0;
  }
  const GLuint program = emscripten_glCreateProgram();
  emscripten_glAttachShader(program, vertex);
  emscripten_glAttachShader(program, fragment);
  emscripten_glBindAttribLocation(program, 0, "position");
  emscripten_glBindAttribLocation(program, 1, "colour");
  emscripten_glBindAttribLocation(program, 2, "place");
  emscripten_glLinkProgram(program);
  emscripten_glDeleteShader(vertex);
  emscripten_glDeleteShader(fragment);
  GLint linked = 0;
  emscripten_glGetProgramiv(program, GL_LINK_STATUS, &linked);
  if (linked == 0) {
    error = "pulse165: the WebGL shader program does not link";
    emscripten_glDeleteProgram(program);
    return 0;
  }
  return program;
}

template <typename Vertex>
void describeVertices() {
  emscripten_glEnableVertexAttribArray(0);
  emscripten_glVertexAttribPointer(0, 4, GL_FLOAT, GL_FALSE, sizeof(Vertex),
                                   reinterpret_cast<const void*>(offsetof(Vertex, x)));
  emscripten_glEnableVertexAttribArray(1);
  emscripten_glVertexAttribPointer(1, 4, GL_FLOAT, GL_FALSE, sizeof(Vertex),
                                   reinterpret_cast<const void*>(offsetof(Vertex, r)));
}

}  // namespace

bool BlendMode::adds() const {
  return enabled && destination == GL_ONE;
}

bool DrawBatch::open(std::string& error) {
  close();
  texturedProgram = link(texturedVertexShader, texturedFragmentShader, error);
  if (texturedProgram == 0) return false;
  emscripten_glGenVertexArrays(1, &texturedVertexArray);
  emscripten_glBindVertexArray(texturedVertexArray);
  emscripten_glGenBuffers(1, &texturedBuffer);
  emscripten_glBindBuffer(GL_ARRAY_BUFFER, texturedBuffer);
  emscripten_glBufferData(GL_ARRAY_BUFFER, texturedCapacity * sizeof(TexturedVertex), nullptr, GL_DYNAMIC_DRAW);
  describeVertices<TexturedVertex>();
  emscripten_glEnableVertexAttribArray(2);
  emscripten_glVertexAttribPointer(2, 2, GL_FLOAT, GL_FALSE, sizeof(TexturedVertex),
                                   reinterpret_cast<const void*>(offsetof(TexturedVertex, u)));

  program = link(vertexShader, fragmentShader, error);
  if (program == 0) {
    close();
    return false;
  }
  emscripten_glUseProgram(program);

  emscripten_glGenVertexArrays(1, &vertexArray);
  emscripten_glBindVertexArray(vertexArray);
  emscripten_glGenBuffers(1, &buffer);
  emscripten_glBindBuffer(GL_ARRAY_BUFFER, buffer);
  emscripten_glBufferData(GL_ARRAY_BUFFER, bufferCapacity * sizeof(ClipVertex), nullptr, GL_DYNAMIC_DRAW);
  describeVertices<ClipVertex>();
  bufferUsed = 0;

  // What GL 1.1 starts with: no blending, (one, zero), no depth test, no culling.
  emscripten_glDisable(GL_BLEND);
  emscripten_glBlendFunc(GL_ONE, GL_ZERO);
  emscripten_glDisable(GL_DEPTH_TEST);
  emscripten_glDisable(GL_CULL_FACE);
  applied = BlendMode{false, GL_ONE, GL_ZERO};

  for (ClipVertex*& kind : pending)
    if (kind == nullptr) kind = new ClipVertex[capacity];
  if (texturedPending == nullptr) texturedPending = new TexturedVertex[texturedCapacity];
  count[0] = count[1] = 0;
  texturedCount = 0;
  texture = 0;
  ready = true;
  return true;
}

void DrawBatch::close() {
  if (buffer != 0) emscripten_glDeleteBuffers(1, &buffer);
  if (vertexArray != 0) emscripten_glDeleteVertexArrays(1, &vertexArray);
  if (program != 0) emscripten_glDeleteProgram(program);
  if (texturedBuffer != 0) emscripten_glDeleteBuffers(1, &texturedBuffer);
  if (texturedVertexArray != 0) emscripten_glDeleteVertexArrays(1, &texturedVertexArray);
  if (texturedProgram != 0) emscripten_glDeleteProgram(texturedProgram);
  buffer = vertexArray = program = 0;
  texturedBuffer = texturedVertexArray = texturedProgram = 0;
  count[0] = count[1] = 0;
  texturedCount = 0;
  ready = false;
}

void DrawBatch::applyBlend() {
  if (blend == applied) return;
  if (blend.enabled != applied.enabled) (blend.enabled ? emscripten_glEnable : emscripten_glDisable)(GL_BLEND);
  if (blend.source != applied.source || blend.destination != applied.destination)
    emscripten_glBlendFunc(blend.source, blend.destination);
  applied = blend;
}

void DrawBatch::drawTextured() {
  const int n = texturedCount;
  texturedCount = 0;
  if (!ready || n == 0) return;
  applyBlend();
  emscripten_glUseProgram(texturedProgram);
  emscripten_glBindVertexArray(texturedVertexArray);
  emscripten_glBindBuffer(GL_ARRAY_BUFFER, texturedBuffer);
  emscripten_glBufferSubData(GL_ARRAY_BUFFER, 0, static_cast<GLsizeiptr>(n) * sizeof(TexturedVertex), texturedPending);
  emscripten_glBindTexture(GL_TEXTURE_2D, texture);
  emscripten_glDrawArrays(GL_TRIANGLES, 0, n);
  // Back to the show's own program, vertex array and buffer.
  emscripten_glUseProgram(program);
  emscripten_glBindVertexArray(vertexArray);
  emscripten_glBindBuffer(GL_ARRAY_BUFFER, buffer);
}

void DrawBatch::bindTexture(unsigned name) {
  if (name == texture) return;
  if (texturedCount > 0) drawTextured();
  texture = name;
}

void DrawBatch::draw(BatchKind kind) {
  const int n = count[kind];
  count[kind] = 0;
  if (!ready || n == 0) return;
  applyBlend();
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
