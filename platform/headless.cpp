// Headless rendering on EGL: Mesa's surfaceless platform (or the EGL device
// platform), a compatibility context made current without a surface, and an RGBA8
// framebuffer object as the drawing target. Needs libEGL, libGL; no display server.
#include "platform/headless.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/framebuffer.h"
#include "platform/render_queue.h"

namespace {

const char* eglErrorName(EGLint code) {
  switch (code) {
    case EGL_SUCCESS:
      return "EGL_SUCCESS";
    case EGL_NOT_INITIALIZED:
      return "EGL_NOT_INITIALIZED";
    case EGL_BAD_ACCESS:
      return "EGL_BAD_ACCESS";
    case EGL_BAD_ALLOC:
      return "EGL_BAD_ALLOC";
    case EGL_BAD_ATTRIBUTE:
      return "EGL_BAD_ATTRIBUTE";
    case EGL_BAD_CONFIG:
      return "EGL_BAD_CONFIG";
    case EGL_BAD_CONTEXT:
      return "EGL_BAD_CONTEXT";
    case EGL_BAD_CURRENT_SURFACE:
      return "EGL_BAD_CURRENT_SURFACE";
    case EGL_BAD_DISPLAY:
      return "EGL_BAD_DISPLAY";
    case EGL_BAD_MATCH:
      return "EGL_BAD_MATCH";
    case EGL_BAD_NATIVE_PIXMAP:
      return "EGL_BAD_NATIVE_PIXMAP";
    case EGL_BAD_NATIVE_WINDOW:
      return "EGL_BAD_NATIVE_WINDOW";
    case EGL_BAD_PARAMETER:
      return "EGL_BAD_PARAMETER";
    case EGL_BAD_SURFACE:
      return "EGL_BAD_SURFACE";
    case EGL_CONTEXT_LOST:
      return "EGL_CONTEXT_LOST";
    default:
      return "unknown EGL error";
  }
}

std::string failure(const char* what, const std::string& why) {
  return std::string("pulse165: headless rendering: ") + what + " (" + why + ")";
}

std::string eglFailure(const char* what) {
  return failure(what, eglErrorName(eglGetError()));
}

// An initialised display on the surfaceless platform, or failing that on the first
// EGL device that initialises; the reasons for each refusal go into `why`.
EGLDisplay openDisplay(std::string& why) {
  // Mesa's loader prints a warning of its own for each driver it cannot load; the
  // failure is reported here in one line. A level the user has chosen is kept.
  setenv("EGL_LOG_LEVEL", "fatal", 0);
  const char* clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
  auto getPlatformDisplay =
      reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
  if (getPlatformDisplay == nullptr) {
    why = "eglGetPlatformDisplayEXT is not available";
    return EGL_NO_DISPLAY;
  }

  if (hasExtension(clientExtensions, "EGL_MESA_platform_surfaceless")) {
    EGLDisplay display = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    if (display != EGL_NO_DISPLAY && eglInitialize(display, nullptr, nullptr)) return display;
    why = std::string("surfaceless platform: ") + eglErrorName(eglGetError());
  } else {
    why = "no surfaceless platform";
  }

  auto queryDevices = reinterpret_cast<PFNEGLQUERYDEVICESEXTPROC>(eglGetProcAddress("eglQueryDevicesEXT"));
  if (!hasExtension(clientExtensions, "EGL_EXT_platform_device") || queryDevices == nullptr) {
    why += "; no device platform";
    return EGL_NO_DISPLAY;
  }
  constexpr EGLint maxDevices = 16;
  EGLDeviceEXT devices[maxDevices];
  EGLint deviceCount = 0;
  if (!queryDevices(maxDevices, devices, &deviceCount) || deviceCount == 0) {
    why += "; no EGL device";
    return EGL_NO_DISPLAY;
  }
  for (EGLint i = 0; i < deviceCount; ++i) {
    EGLDisplay display = getPlatformDisplay(EGL_PLATFORM_DEVICE_EXT, devices[i], nullptr);
    if (display != EGL_NO_DISPLAY && eglInitialize(display, nullptr, nullptr)) return display;
  }
  why += std::string("; device platform: ") + eglErrorName(eglGetError());
  return EGL_NO_DISPLAY;
}

}  // namespace

//----------------------------------------------------------------------------------
// HeadlessContext
//----------------------------------------------------------------------------------
bool HeadlessContext::open(int requestedWidth, int requestedHeight, std::string& error) {
  close();
  largestSide = 0;
  width = requestedWidth;
  height = requestedHeight;

  std::string why;
  EGLDisplay eglDisplay = openDisplay(why);
  if (eglDisplay == EGL_NO_DISPLAY) {
    error = failure("no EGL display", why);
    return false;
  }
  display = eglDisplay;

  if (!eglBindAPI(EGL_OPENGL_API)) {
    error = eglFailure("desktop OpenGL is not offered");
    close();
    return false;
  }

  const EGLint configAttributes[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_SURFACE_TYPE, 0, EGL_NONE};
  EGLConfig config = nullptr;
  EGLint configCount = 0;
  if (!eglChooseConfig(eglDisplay, configAttributes, &config, 1, &configCount) || configCount == 0) {
    // Some drivers insist on a surface type; a pbuffer-capable config serves as well.
    const EGLint pbufferAttributes[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_SURFACE_TYPE, EGL_PBUFFER_BIT,
                                        EGL_NONE};
    if (!eglChooseConfig(eglDisplay, pbufferAttributes, &config, 1, &configCount) || configCount == 0) {
      error = eglFailure("no OpenGL configuration");
      close();
      return false;
    }
  }

  const EGLint contextAttributes[] = {EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT,
                                      EGL_NONE};
  EGLContext eglContext = eglCreateContext(eglDisplay, config, EGL_NO_CONTEXT, contextAttributes);
  if (eglContext == EGL_NO_CONTEXT) {
    error = eglFailure("cannot create a compatibility context");
    close();
    return false;
  }
  context = eglContext;

  if (!eglMakeCurrent(eglDisplay, EGL_NO_SURFACE, EGL_NO_SURFACE, eglContext)) {
    error = eglFailure("cannot make the context current without a surface");
    close();
    return false;
  }

  if (!loadFramebufferCalls([](const char* name) { return reinterpret_cast<void*>(eglGetProcAddress(name)); }, why)) {
    error = failure("no framebuffer objects", why);
    close();
    return false;
  }
  GLint maxSize = 0;
  glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &maxSize);
  largestSide = maxSize;
  if (!picture.create(width, height, why)) {
    error = failure("no picture to draw into", why);
    close();
    return false;
  }

  // Without a surface there is no default framebuffer: draw and read the FBO.
  glDrawBuffer(GL_COLOR_ATTACHMENT0);
  glReadBuffer(GL_COLOR_ATTACHMENT0);
  glViewport(0, 0, width, height);
  resetRenderQueue();
  return true;
}

void HeadlessContext::readPixels(std::uint8_t* rgba) const {
  const std::size_t rowBytes = static_cast<std::size_t>(width) * 4;
  renderFinish();  // a fence of the queue's own, so that the read-back flushes nothing new
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
  // OpenGL hands the rows over bottom-up; swap them in place so the top row comes first.
  std::uint8_t* top = rgba;
  std::uint8_t* bottom = rgba + rowBytes * static_cast<std::size_t>(height - 1);
  while (top < bottom) {
    std::swap_ranges(top, top + rowBytes, bottom);
    top += rowBytes;
    bottom -= rowBytes;
  }
}

const char* HeadlessContext::renderer() const {
  if (context == nullptr) return "";
  const GLubyte* name = glGetString(GL_RENDERER);
  return name != nullptr ? reinterpret_cast<const char*>(name) : "";
}

void HeadlessContext::close() {
  if (display == nullptr) return;
  EGLDisplay eglDisplay = display;
  // The framebuffer goes with its context; it is deleted first only where that
  // context is the current one (another context may have been made current since).
  if (context != nullptr && eglGetCurrentContext() == context) {
    resetRenderQueue();
    picture.destroy();
    eglMakeCurrent(eglDisplay, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
  }
  picture = OffscreenPicture{};
  if (context != nullptr) eglDestroyContext(eglDisplay, context);
  context = nullptr;
  // The display itself stays initialised: EGL hands out one per platform, shared
  // by every context on it, and terminating it unloads the driver, which the next
  // context would load again (and Mesa loses a little memory each time).
  display = nullptr;
}
