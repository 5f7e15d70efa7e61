// pulse165: the program entry. With no arguments, the show; options for the rest.
#include <malloc.h>

#include <cstdio>
#include <string>

#include "app/benchmark.h"
#include "app/capture.h"
#include "app/options.h"
#include "app/run.h"

int main(int argc, char** argv) {
  // Keep the renderer's large per-frame buffers out of mmap: allocating them afresh
  // every frame through page faults doubled frame times on software rendering.
  mallopt(M_MMAP_THRESHOLD, 256 * 1024 * 1024);
  mallopt(M_TRIM_THRESHOLD, 512 * 1024 * 1024);

  Options options;
  std::string error;
  if (!parseOptions(argc, argv, options, error)) {
    std::fprintf(stderr, "pulse165: %s\nTry 'pulse165 --help' for more information.\n", error.c_str());
    return exitUsage;
  }
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
    case RunMode::live:
      break;
  }
  return runLiveShow(options);
}
