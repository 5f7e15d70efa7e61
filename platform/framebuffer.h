// Framebuffer objects, beyond OpenGL 1.1: their entry points, fetched once a context
// is current, and the offscreen picture that the show draws into, headless and live.
// The live window copies the picture onto itself every frame, so that the trail fade
// always darkens the show's own previous frame, whatever the driver's buffer swap does.
#pragma once

#include <string>

// Whether a space-separated extension list (GL's or EGL's) names `name` as a whole
// word; false for a null list.
bool hasExtension(const char* list, const char* name);

// Fetches a GL entry point by name (eglGetProcAddress, SDL_GL_GetProcAddress).
using GlProcLookup = void* (*)(const char* name);

// Loads the framebuffer-object calls of the current context: the core ones of OpenGL
// 3.0 and ARB_framebuffer_object, else those of EXT_framebuffer_object. False with
// the reason in `why` when the context has neither. Blitting is optional (see below).
bool loadFramebufferCalls(GlProcLookup lookup, std::string& why);

// True once loaded when the context can blit between framebuffers; without it the
// picture's colour lives in a texture and is copied as a textured quad.
bool framebufferBlitAvailable();

// For tests: behave as if the context had no blit.
void forgetFramebufferBlit();

// Binds `framebuffer` (0: the window's) for drawing and reading.
void bindFramebuffer(unsigned framebuffer);

struct OffscreenPicture {
  int width = 0;
  int height = 0;
  unsigned framebuffer = 0;
  unsigned colorBuffer = 0;  // a renderbuffer, or a texture where there is no blit
  bool colorIsTexture = false;

  // An RGBA8 colour buffer of W x H (no depth buffer: the show never tests depth),
  // cleared black, and bound as the framebuffer that drawing goes to. False with the
  // reason in `why`.
  bool create(int width, int height, std::string& why);
  // Deletes the buffers; the context they were made in must be current.
  void destroy();
  // Binds it for drawing (and reading).
  void bind() const;

  // Copies the whole picture into the rectangle (x, y, w, h) of `target` (0: the
  // window), scaled where the sizes differ, and leaves `target` bound. The viewport
  // and the other state that the show relies on are left as they were.
  void copyTo(unsigned target, int x, int y, int w, int h) const;

  // A new picture of W x H in place of this one (platform/picture.cpp, on every back end's
  // create, copyTo and destroy), carrying the old one's letterbox
  // scaled into its own, so that the trail goes on; bound. False with the reason in
  // `why`, and the old picture kept, where no new one can be made.
  bool resizeCarrying(int width, int height, std::string& why);
};
