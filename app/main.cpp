// pulse165: the program entry. With no arguments, the show; options for the rest.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "app/benchmark.h"
#include "app/capture.h"
#include "app/crash_report.h"
#include "app/listen.h"
#include "app/options.h"
#include "app/output_file.h"
#include "app/run.h"

namespace {
constexpr std::size_t stdoutBufferBytes = 1 << 16;

// Descriptors 0, 1 and 2 open before anything else is: started with one closed
// (`2>&-`), the next file opened would take its number, and the show's messages would
// land in an X connection or in the middle of a PNG. A closed one reads as /dev/null.
void keepStandardDescriptorsOpen() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free number is this one: those below it are open by now.
    if (open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY) != fd) _exit(exitEnvironment);
  }
}

// Everything written to stdout reaches it, or the run fails: a report into a full
// disk is no report.
int closeStandardOutput(int code) {
  errno = 0;
  const bool flushed = std::fflush(stdout) == 0;
  int reason = errno;
  const bool clean = flushed && std::ferror(stdout) == 0;
  errno = 0;
  const bool closed = std::fclose(stdout) == 0;
  if (reason == 0) reason = errno;
  if (clean && closed) return code;
  // A write that failed earlier may have left no reason behind by now.
  std::fprintf(stderr, "pulse165: cannot write to standard output%s%s\n", reason != 0 ? ": " : "",
               reason != 0 ? std::strerror(reason) : "");
  return code == 0 ? exitEnvironment : code;
}

// Memory that runs out after the size checks (another program took it meanwhile) ends
// the run as any failure of the machine does: one line, exit 1, no file left behind.
void outOfMemory() {
  abandonOutputFile();
  constexpr char line[] = "pulse165: out of memory\n";
  if (write(STDERR_FILENO, line, sizeof line - 1) < 0) {
  }
  _exit(exitEnvironment);
}

int run(const Options& options) {
  switch (options.mode) {
    case RunMode::help:
      std::fputs(helpText(), stdout);
      return 0;
    case RunMode::version:
      return printVersion();
    case RunMode::screenshot:
      return runScreenshot(options);
    case RunMode::capture:
      return runCapture(options);
    case RunMode::benchmark:
      return runBenchmark(options);
    case RunMode::trackInfo:
      return runTrackInfo(options);
    case RunMode::live:
      break;
  }
  if (options.listen && options.listenSource == "list") return listCaptureSourcesToStdout();
  if (options.listen) return runListening(options);
  return runLiveShow(options);
}
}  // namespace

int main(int argc, char** argv) {
  keepStandardDescriptorsOpen();
  std::set_new_handler(outOfMemory);
  reportCrashes();
  // Reports are small: held whole until the end, a failed write keeps its reason.
  static char stdoutBuffer[stdoutBufferBytes];
  if (isatty(STDOUT_FILENO) == 0) std::setvbuf(stdout, stdoutBuffer, _IOFBF, sizeof stdoutBuffer);
  Options options;
  std::string error;
  if (!parseOptions(argc, argv, options, error)) return reportMisuse(error);
  return closeStandardOutput(run(options));
}
