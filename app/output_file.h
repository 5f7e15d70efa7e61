// The life of one output file, the screenshot's PNG or the capture's video: a
// temporary file of this run's own beside the target, made before any long work
// starts, removed on every stop that can be caught, renamed over the target at the end.
#pragma once

#include <cstddef>
#include <string>

// The folder that holds `path` ("." for a bare name).
std::string directoryOf(const std::string& path);

// The temporary name for `target`, with six X's for the caller to fill:
// "DIR/NAME.part-XXXXXX", with NAME shortened (on a whole UTF-8 character) where the
// whole would not fit in `nameMax` bytes.
std::string temporaryTemplate(const std::string& target, std::size_t nameMax);

// Removes the output file being written, if any, for an end that skips the
// destructors (out of memory). Safe in a signal handler.
void abandonOutputFile();

// One output file at a time. reserve() checks the target (a regular file the user may
// write, or none, in a folder that exists, with a name the file system allows), creates the temporary
// file exclusively and installs handlers for SIGINT, SIGTERM, SIGHUP, SIGPIPE,
// SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGXFSZ and SIGXCPU (those not ignored when
// the program started): a handler removes the temporary file, says so in one line
// and ends the program with 128 + the signal's number. commit() renames the file
// into place; the destructor removes it unless it was committed.
struct OutputFile {
  std::string target;
  std::string temporary;
  int descriptor = -1;    // open for reading and writing
  bool guarding = false;  // this file's handlers are installed

  // `action` begins the messages ("capture to": "cannot capture to FILE: ...") and
  // `work` names what a signal stops ("capture": "capture interrupted (SIGHUP)").
  // False with one line in `error` when the target cannot be written.
  bool reserve(const std::string& path, const char* action, const char* work, std::string& error);

  // Gives the file the target's permissions and group where the target exists,
  // flushes it to the disk, closes it and renames it over the target. False
  // with the system's reason in `error`; the temporary file is gone either way.
  bool commit(std::string& error);

  // Removes the temporary file and the handlers. Safe to call twice.
  void discard();

  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile() { discard(); }
};
