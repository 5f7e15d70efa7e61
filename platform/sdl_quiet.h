// Quiet stderr while SDL probes: without a sound server, a card or a Wayland session,
// ALSA and the Wayland probe print lines of their own. The show's one line about a
// failure is enough. For the SDL back end's files only.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

struct QuietStderr {
  int saved = -1;

  QuietStderr() {
    std::fflush(stderr);
    saved = dup(STDERR_FILENO);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved < 0 || null < 0) {
      if (null >= 0) ::close(null);
      return;
    }
    dup2(null, STDERR_FILENO);
    ::close(null);
  }

  ~QuietStderr() {
    if (saved < 0) return;
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    ::close(saved);
  }
};
