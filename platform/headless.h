// Headless rendering: an offscreen OpenGL compatibility context on EGL (Mesa's
// surfaceless platform, or the EGL device platform), drawing into a framebuffer
// object of a requested size. Used by screenshots, capture, the benchmark and the tests.
#pragma once

#include <cstdint>
#include <string>

#include "platform/framebuffer.h"

struct HeadlessContext {
  int width = 0;
  int height = 0;
  int largestSide = 0;  // GL_MAX_RENDERBUFFER_SIZE, known once a context was made

  // Creates the context and its framebuffer and makes them current on this thread.
  // On failure returns false and puts one human-readable line in `error`.
  bool open(int width, int height, std::string& error);

  // Copies the colour buffer into `rgba` (width x height x 4 bytes), top row first.
  void readPixels(std::uint8_t* rgba) const;

  // The GL renderer string of the current context ("llvmpipe (LLVM 15.0.6, 256 bits)").
  const char* renderer() const;

  // Releases the framebuffer, the context and the display. Safe to call twice.
  void close();

  ~HeadlessContext() { close(); }

  // EGL and GL handles, opaque to callers.
  void* display = nullptr;
  void* context = nullptr;
  OffscreenPicture picture;
};
