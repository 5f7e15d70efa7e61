// Output path checks.
#include "app/output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

std::string directoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool checkOutputPath(const std::string& target, const std::string& probe, const char* action, std::string& error) {
  const std::string failure = std::string("cannot ") + action + " " + target + ": ";
  struct stat info {};
  if (stat(target.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    error = failure + "it is a directory";
    return false;
  }
  const std::string directory = directoryOf(target);
  if (stat(directory.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    error = failure + "directory " + directory + " does not exist";
    return false;
  }
  const int file = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (file < 0) {
    error = failure + "cannot write in " + directory + " (" + std::strerror(errno) + ")";
    return false;
  }
  ::close(file);
  unlink(probe.c_str());
  return true;
}
