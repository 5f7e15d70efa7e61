// pulse165: the program entry. With no arguments, the show; options for the rest.
#include <cstdio>
#include <string>

#include "app/benchmark.h"
#include "app/capture.h"
#include "app/options.h"
#include "app/run.h"

int main(int argc, char** argv) {
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
    case RunMode::trackInfo:
      return runTrackInfo(options);
    case RunMode::live:
      break;
  }
  return runLiveShow(options);
}
