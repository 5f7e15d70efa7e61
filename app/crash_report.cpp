// The crash handler: async-signal-safe writes, a backtrace prepared at start-up, and
// the default action raised again once the report is out.
#include "app/crash_report.h"

#include <execinfo.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "app/output_file.h"

namespace {
constexpr int crashSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr int maxFrames = 64;
constexpr std::size_t alternateStackBytes = 64 * 1024;  // a stack overflow still finds room to report

alignas(16) char alternateStack[alternateStackBytes];
std::atomic<bool> reporting{false};

void say(const char* text) {
  if (write(STDERR_FILENO, text, std::strlen(text)) < 0) {
  }
}

extern "C" void reportCrash(int number) {
  // One report, from the first thread that crashes; any other waits for the end.
  if (!reporting.exchange(true)) {
    abandonOutputFile();
    say("pulse165: crashed (SIG");
    say(sigabbrev_np(number) != nullptr ? sigabbrev_np(number) : "signal");
    say("); the frames of the thread that crashed, innermost first:\n");
    void* frames[maxFrames];
    backtrace_symbols_fd(frames, backtrace(frames, maxFrames), STDERR_FILENO);
  } else {
    pause();
  }
  signal(number, SIG_DFL);
  raise(number);
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool sanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool sanitized = true;
#else
constexpr bool sanitized = false;
#endif
#else
constexpr bool sanitized = false;
#endif
}  // namespace

void reportCrashes() {
  if (sanitized) return;
  // The first backtrace loads the unwinder, which allocates: done here, not in the handler.
  void* frames[1];
  backtrace(frames, 1);
  stack_t stack{};
  stack.ss_sp = alternateStack;
  stack.ss_size = sizeof alternateStack;
  sigaltstack(&stack, nullptr);
  struct sigaction action {};
  action.sa_handler = reportCrash;
  action.sa_flags = SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  for (int number : crashSignals) sigaction(number, &action, nullptr);
}
