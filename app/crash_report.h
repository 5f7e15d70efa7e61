// A crash explains itself: the signal and the frames of the thread that crashed on
// stderr, the output file being written removed, then the usual end (status 128 + N,
// a core where the system keeps them). tests/harness/crash.sh names the frames.
#pragma once

// Installs the handlers for SIGSEGV, SIGBUS, SIGILL, SIGFPE and SIGABRT; nothing in a
// sanitizer build, whose runtime reports crashes better itself.
void reportCrashes();
