// Framebuffer objects and the offscreen picture.
#include "platform/framebuffer.h"

#include <GL/gl.h>
#include <GL/glext.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct FramebufferCalls {
  PFNGLGENFRAMEBUFFERSPROC genFramebuffers = nullptr;
  PFNGLDELETEFRAMEBUFFERSPROC deleteFramebuffers = nullptr;
  PFNGLBINDFRAMEBUFFERPROC bindFramebuffer = nullptr;
  PFNGLGENRENDERBUFFERSPROC genRenderbuffers = nullptr;
  PFNGLDELETERENDERBUFFERSPROC deleteRenderbuffers = nullptr;
  PFNGLBINDRENDERBUFFERPROC bindRenderbuffer = nullptr;
  PFNGLRENDERBUFFERSTORAGEPROC renderbufferStorage = nullptr;
  PFNGLFRAMEBUFFERRENDERBUFFERPROC framebufferRenderbuffer = nullptr;
  PFNGLFRAMEBUFFERTEXTURE2DPROC framebufferTexture2D = nullptr;
  PFNGLCHECKFRAMEBUFFERSTATUSPROC checkFramebufferStatus = nullptr;
  PFNGLBLITFRAMEBUFFERPROC blitFramebuffer = nullptr;
};

FramebufferCalls calls;

template <typename Call>
bool fetch(GlProcLookup lookup, Call& call, const char* name, const char* suffix) {
  const std::string full = std::string(name) + suffix;
  call = reinterpret_cast<Call>(lookup(full.c_str()));
  return call != nullptr;
}

}  // namespace

bool loadFramebufferCalls(GlProcLookup lookup, std::string& why) {
  calls = FramebufferCalls{};
  // GLX and EGL hand out an address for any name, so the context's version and
  // extensions decide which names are real.
  const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
  const char* extensions = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
  const int major = version != nullptr ? std::atoi(version) : 0;
  const char* suffix = nullptr;
  if (major >= 3 || hasExtension(extensions, "GL_ARB_framebuffer_object")) {
    suffix = "";
  } else if (hasExtension(extensions, "GL_EXT_framebuffer_object")) {
    suffix = "EXT";
  } else {
    why = std::string("OpenGL ") + (version != nullptr ? version : "(no version)") + " has no framebuffer objects";
    return false;
  }
  const bool all = fetch(lookup, calls.genFramebuffers, "glGenFramebuffers", suffix) &&
                   fetch(lookup, calls.deleteFramebuffers, "glDeleteFramebuffers", suffix) &&
                   fetch(lookup, calls.bindFramebuffer, "glBindFramebuffer", suffix) &&
                   fetch(lookup, calls.genRenderbuffers, "glGenRenderbuffers", suffix) &&
                   fetch(lookup, calls.deleteRenderbuffers, "glDeleteRenderbuffers", suffix) &&
                   fetch(lookup, calls.bindRenderbuffer, "glBindRenderbuffer", suffix) &&
                   fetch(lookup, calls.renderbufferStorage, "glRenderbufferStorage", suffix) &&
                   fetch(lookup, calls.framebufferRenderbuffer, "glFramebufferRenderbuffer", suffix) &&
                   fetch(lookup, calls.framebufferTexture2D, "glFramebufferTexture2D", suffix) &&
                   fetch(lookup, calls.checkFramebufferStatus, "glCheckFramebufferStatus", suffix);
  if (!all) {
    calls = FramebufferCalls{};
    why = "glGenFramebuffers and its kin are missing";
    return false;
  }
  if (*suffix == '\0' || hasExtension(extensions, "GL_EXT_framebuffer_blit"))
    fetch(lookup, calls.blitFramebuffer, "glBlitFramebuffer", suffix);
  return true;
}

bool framebufferBlitAvailable() {
  return calls.blitFramebuffer != nullptr;
}

void forgetFramebufferBlit() {
  calls.blitFramebuffer = nullptr;
}

bool OffscreenPicture::create(int pictureWidth, int pictureHeight, std::string& why) {
  destroy();
  if (calls.genFramebuffers == nullptr) {
    why = "no framebuffer objects";
    return false;
  }
  colorIsTexture = calls.blitFramebuffer == nullptr;
  GLint maxSize = 0;
  glGetIntegerv(colorIsTexture ? GL_MAX_TEXTURE_SIZE : GL_MAX_RENDERBUFFER_SIZE, &maxSize);
  if (pictureWidth <= 0 || pictureHeight <= 0 || pictureWidth > maxSize || pictureHeight > maxSize) {
    why = "unsupported frame size " + std::to_string(pictureWidth) + "x" + std::to_string(pictureHeight) +
          ", at most " + std::to_string(maxSize);
    return false;
  }
  width = pictureWidth;
  height = pictureHeight;

  if (colorIsTexture) {
    glGenTextures(1, &colorBuffer);
    glBindTexture(GL_TEXTURE_2D, colorBuffer);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glBindTexture(GL_TEXTURE_2D, 0);
  } else {
    calls.genRenderbuffers(1, &colorBuffer);
    calls.bindRenderbuffer(GL_RENDERBUFFER, colorBuffer);
    calls.renderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
  }
  calls.bindRenderbuffer(GL_RENDERBUFFER, 0);

  calls.genFramebuffers(1, &framebuffer);
  calls.bindFramebuffer(GL_FRAMEBUFFER, framebuffer);
  if (colorIsTexture)
    calls.framebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, colorBuffer, 0);
  else
    calls.framebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colorBuffer);
  const GLenum status = calls.checkFramebufferStatus(GL_FRAMEBUFFER);
  if (status != GL_FRAMEBUFFER_COMPLETE) {
    why = "incomplete framebuffer, status " + std::to_string(status);
    destroy();
    return false;
  }
  // A fresh picture is black: the show itself never clears it.
  glPushAttrib(GL_COLOR_BUFFER_BIT);
  glClearColor(0, 0, 0, 0);
  glClear(GL_COLOR_BUFFER_BIT);
  glPopAttrib();
  return true;
}

void OffscreenPicture::destroy() {
  if (framebuffer != 0) {
    calls.bindFramebuffer(GL_FRAMEBUFFER, 0);
    calls.deleteFramebuffers(1, &framebuffer);
  }
  if (colorBuffer != 0) {
    if (colorIsTexture)
      glDeleteTextures(1, &colorBuffer);
    else
      calls.deleteRenderbuffers(1, &colorBuffer);
  }
  framebuffer = colorBuffer = 0;
  width = height = 0;
}

void bindFramebuffer(unsigned framebuffer) {
  calls.bindFramebuffer(GL_FRAMEBUFFER, framebuffer);
}

void OffscreenPicture::bind() const {
  calls.bindFramebuffer(GL_FRAMEBUFFER, framebuffer);
}

void OffscreenPicture::copyTo(unsigned target, int x, int y, int w, int h) const {
  const bool sameSize = w == width && h == height;
  if (!colorIsTexture) {
    calls.bindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer);
    calls.bindFramebuffer(GL_DRAW_FRAMEBUFFER, target);
    calls.blitFramebuffer(0, 0, width, height, x, y, x + w, y + h, GL_COLOR_BUFFER_BIT,
                          sameSize ? GL_NEAREST : GL_LINEAR);
    calls.bindFramebuffer(GL_FRAMEBUFFER, target);
    return;
  }
  // The colour texture as one quad over the rectangle, nothing blended.
  calls.bindFramebuffer(GL_FRAMEBUFFER, target);
  glPushAttrib(GL_VIEWPORT_BIT | GL_ENABLE_BIT | GL_TEXTURE_BIT | GL_CURRENT_BIT | GL_POLYGON_BIT | GL_TRANSFORM_BIT);
  glViewport(x, y, w, h);
  glDisable(GL_BLEND);
  glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
  glEnable(GL_TEXTURE_2D);
  glBindTexture(GL_TEXTURE_2D, colorBuffer);
  const GLint filter = sameSize ? GL_NEAREST : GL_LINEAR;
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  glLoadIdentity();
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glLoadIdentity();
  glColor4f(1, 1, 1, 1);
  glBegin(GL_QUADS);
  glTexCoord2f(0, 0);
  glVertex2f(-1, -1);
  glTexCoord2f(1, 0);
  glVertex2f(1, -1);
  glTexCoord2f(1, 1);
  glVertex2f(1, 1);
  glTexCoord2f(0, 1);
  glVertex2f(-1, 1);
  glEnd();
  glPopMatrix();
  glMatrixMode(GL_PROJECTION);
  glPopMatrix();
  glPopAttrib();
}

bool hasExtension(const char* list, const char* name) {
  if (list == nullptr) return false;
  const std::size_t length = std::strlen(name);
  for (const char* at = std::strstr(list, name); at != nullptr; at = std::strstr(at + length, name)) {
    const bool startsWord = at == list || at[-1] == ' ';
    const bool endsWord = at[length] == '\0' || at[length] == ' ';
    if (startsWord && endsWord) return true;
  }
  return false;
}
