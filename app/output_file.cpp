// Output files: an exclusive temporary file beside the target, signal handlers that
// remove it, and the rename that puts it in place.
#include "app/output_file.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <iterator>

namespace {
constexpr const char* temporarySuffix = ".part-XXXXXX";
constexpr std::size_t randomLetters = 6;
constexpr int creationTries = 100;

//----------------------------------------------------------------------------------
// Stop signals. The handler may run on any thread at any moment, so it touches only
// what is filled in before `phase` leaves idle: it unlinks the temporary file, writes one
// line and leaves with _exit.
//----------------------------------------------------------------------------------
struct StopSignal {
  int number;
  const char* name;
};
constexpr StopSignal stopSignals[] = {
    {SIGINT, "Ctrl-C"},   {SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"},   {SIGPIPE, "SIGPIPE"}, {SIGQUIT, "SIGQUIT"},
    {SIGUSR1, "SIGUSR1"}, {SIGUSR2, "SIGUSR2"}, {SIGALRM, "SIGALRM"}, {SIGXFSZ, "SIGXFSZ"}, {SIGXCPU, "SIGXCPU"},
};
constexpr std::size_t signalCount = std::size(stopSignals);

struct SignalState {
  char path[PATH_MAX] = "";          // the temporary file
  char head[64] = "";                // "pulse165: capture interrupted ("
  char lost[PATH_MAX + 64] = "";     // "); FILE was not written\n"
  char written[PATH_MAX + 64] = "";  // the same, when the rename came first
  struct sigaction previous[signalCount] = {};
  bool installed[signalCount] = {};
};
SignalState signalState;

// What the handler finds: no file, a file being written, or one being renamed into
// place (where a file already gone has reached the target).
enum Phase : int { idle, writing, renaming };
std::atomic<int> phase{idle};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler reads a lock-free flag");

void writeText(const char* text) {
  std::size_t left = std::strlen(text);
  while (left > 0) {
    const ssize_t done = write(STDERR_FILENO, text, left);
    if (done <= 0 && errno != EINTR) return;
    if (done > 0) {
      text += done;
      left -= static_cast<std::size_t>(done);
    }
  }
}

extern "C" void stopOnSignal(int number) {
  if (const int now = phase.load(); now != idle) {
    // Removed here, the file cannot be renamed any more; already gone, it was.
    const bool renamed = unlink(signalState.path) != 0 && errno == ENOENT && now == renaming;
    writeText(signalState.head);
    for (const StopSignal& signal : stopSignals)
      if (signal.number == number) writeText(signal.name);
    writeText(renamed ? signalState.written : signalState.lost);
  }
  _exit(128 + number);
}

sigset_t stopSignalSet() {
  sigset_t set;
  sigemptyset(&set);
  for (const StopSignal& signal : stopSignals) sigaddset(&set, signal.number);
  return set;
}

// Signals that the program was started with ignored (nohup's SIGHUP, a shell's
// SIGINT for a background job) stay ignored.
void installHandlers() {
  struct sigaction action {};
  action.sa_handler = stopOnSignal;
  action.sa_mask = stopSignalSet();
  for (std::size_t i = 0; i < signalCount; ++i) {
    struct sigaction current {};
    sigaction(stopSignals[i].number, nullptr, &current);
    signalState.installed[i] = current.sa_handler != SIG_IGN;
    if (signalState.installed[i]) sigaction(stopSignals[i].number, &action, &signalState.previous[i]);
  }
}

void restoreHandlers() {
  for (std::size_t i = 0; i < signalCount; ++i)
    if (signalState.installed[i]) sigaction(stopSignals[i].number, &signalState.previous[i], nullptr);
}

bool copyText(char* into, std::size_t capacity, const std::string& text) {
  if (text.size() >= capacity) return false;
  std::memcpy(into, text.c_str(), text.size() + 1);
  return true;
}

// The handler's texts for one temporary file; false where the path is too long.
bool prepareSignalTexts(const std::string& temporary, const std::string& target, const char* work) {
  const char* clear = isatty(STDERR_FILENO) == 1 ? "\r\033[K" : "";  // over a progress line
  return copyText(signalState.path, sizeof signalState.path, temporary) &&
         copyText(signalState.head, sizeof signalState.head,
                  std::string(clear) + "pulse165: " + work + " interrupted (") &&
         copyText(signalState.lost, sizeof signalState.lost, "); " + target + " was not written\n") &&
         copyText(signalState.written, sizeof signalState.written, "); " + target + " was written before it\n");
}

std::string baseName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void fillRandomLetters(std::string& name) {
  static constexpr char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char bytes[randomLetters] = {};
  if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
    // No entropy to be had: the process id and a count still vary the name.
    static unsigned long counter = 0;
    const unsigned long seed = static_cast<unsigned long>(getpid()) * 2654435761ul + ++counter * 40503ul;
    for (std::size_t i = 0; i < randomLetters; ++i) bytes[i] = static_cast<unsigned char>(seed >> (5 * i));
  }
  for (std::size_t i = 0; i < randomLetters; ++i)
    name[name.size() - randomLetters + i] = letters[bytes[i] % (sizeof letters - 1)];
}
}  // namespace

void abandonOutputFile() {
  if (phase.load() != idle) unlink(signalState.path);
}

std::string directoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string temporaryTemplate(const std::string& target, std::size_t nameMax) {
  const std::size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  std::string name = target.substr(folder.size());
  const std::size_t suffixLength = std::strlen(temporarySuffix);
  if (name.size() + suffixLength > nameMax) {
    std::size_t keep = nameMax > suffixLength ? nameMax - suffixLength : 0;
    while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;
    name.resize(keep);
  }
  return folder + name + temporarySuffix;
}

bool OutputFile::reserve(const std::string& path, const char* action, const char* work, std::string& error) {
  discard();
  const std::string failure = std::string("cannot ") + action + " " + path + ": ";
  if (phase.load() != idle) {
    error = failure + "another output file is being written";
    return false;
  }
  struct stat info {};
  const bool exists = stat(path.c_str(), &info) == 0;
  if (exists && !S_ISREG(info.st_mode)) {
    // The rename would put the file in place of a device, a pipe or a folder.
    error = failure + (S_ISDIR(info.st_mode) ? "it is a directory" : "it is not a regular file");
    return false;
  }
  if (exists && faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0 && errno == EACCES) {
    // The rename could replace what the user may not write: a file kept read-only
    // on purpose, or another user's.
    error = failure + "it is write-protected (" + std::strerror(EACCES) + ")";
    return false;
  }
  const std::string directory = directoryOf(path);
  if (stat(directory.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    error = failure + "directory " + directory + " does not exist";
    return false;
  }
  const long limit = pathconf(directory.c_str(), _PC_NAME_MAX);
  const std::size_t nameMax = limit > 0 ? static_cast<std::size_t>(limit) : NAME_MAX;
  if (baseName(path).empty() || baseName(path).size() > nameMax) {
    error = failure + std::strerror(baseName(path).empty() ? EISDIR : ENAMETOOLONG);
    return false;
  }

  // The signals wait while the file is made and the handlers learn its name, so that
  // no moment exists at which the file stands and nobody would remove it.
  const sigset_t blocked = stopSignalSet();
  sigset_t before;
  pthread_sigmask(SIG_BLOCK, &blocked, &before);
  std::string name = temporaryTemplate(path, nameMax);
  int made = -1;
  for (int attempt = 0; attempt < creationTries && made < 0; ++attempt) {
    fillRandomLetters(name);
    made = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (made < 0 && errno != EEXIST) break;
  }
  const int reason = errno;
  if (made >= 0 && !prepareSignalTexts(name, path, work)) {
    ::close(made);
    unlink(name.c_str());
    made = -1;
    error = failure + std::strerror(ENAMETOOLONG);
  } else if (made < 0) {
    error = failure + "cannot write in " + directory + " (" + std::strerror(reason) + ")";
  }
  if (made >= 0) {
    descriptor = made;
    temporary = name;
    target = path;
    installHandlers();
    guarding = true;
    phase.store(writing);
  }
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  return made >= 0;
}

bool OutputFile::commit(std::string& error) {
  // A file written anew keeps the old one's permissions, and its group where the
  // user may give it that; a new one has the umask's.
  struct stat old {};
  if (stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
    if (fchown(descriptor, static_cast<uid_t>(-1), old.st_gid) != 0) {
    }
    fchmod(descriptor, old.st_mode & 0777);
  }
  bool ok = fsync(descriptor) == 0;
  int reason = errno;
  if (::close(descriptor) != 0 && ok) {
    ok = false;
    reason = errno;
  }
  descriptor = -1;
  if (ok) {
    phase.store(renaming);
    if (std::rename(temporary.c_str(), target.c_str()) == 0) {
      temporary.clear();  // in place: nothing to remove
    } else {
      phase.store(writing);
      ok = false;
      reason = errno;
    }
  }
  if (!ok) error = std::strerror(reason);
  discard();
  return ok;
}

void OutputFile::discard() {
  if (descriptor >= 0) ::close(descriptor);
  descriptor = -1;
  if (!temporary.empty()) unlink(temporary.c_str());
  temporary.clear();
  if (guarding) {
    // The handlers go first: a signal after that finds the usual action.
    restoreHandlers();
    phase.store(idle);
    guarding = false;
  }
}
