#include "tools/process/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "tools/process/interrupt_cleanup.h"

namespace kerrowbend_host {

namespace {

namespace fs = std::filesystem;

// As many links as the kernel itself follows before it calls it a loop.
constexpr int kMaxLinks = 40;

std::string inQuotes(const std::string &text) { return "'" + text + "'"; }

const char *kindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISFIFO(mode)) return "a named pipe";
  if (S_ISSOCK(mode)) return "a socket";
  return "no regular file";
}

[[noreturn]] void cannotWrite(const std::string &path, int error) {
  throw std::runtime_error("cannot write " + inQuotes(path) + ": " + std::strerror(error));
}

// The file that writing to path replaces: path itself, or the end of the
// symbolic links it starts. Renaming over a link would replace the link,
// and renaming over a device or a pipe would put a regular file in its
// place, so both are settled here.
fs::path outputTarget(const std::string &path) {
  fs::path target = path;
  struct stat status {};
  for (int links = 0;; ++links) {
    if (::lstat(target.c_str(), &status) != 0) {
      if (errno != ENOENT) {
        throw std::invalid_argument("cannot write " + inQuotes(path) + ": " + std::strerror(errno));
      }
      break;
    }
    if (!S_ISLNK(status.st_mode)) {
      if (S_ISREG(status.st_mode)) return target;
      throw std::invalid_argument(
          (target == path ? inQuotes(path) + " is " : inQuotes(path) + " leads to ") +
          kindOf(status.st_mode) + ", not a file to write");
    }
    if (links == kMaxLinks) {
      throw std::invalid_argument("cannot write " + inQuotes(path) + ": " + std::strerror(ELOOP));
    }
    std::error_code error;
    const fs::path next = fs::read_symlink(target, error);
    if (error) {
      throw std::invalid_argument("cannot write " + inQuotes(path) + ": " + error.message());
    }
    target = next.is_absolute() ? next : target.parent_path() / next;
  }
  const fs::path folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
  if (::stat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
    throw std::invalid_argument("cannot write " + inQuotes(path) + ": there is no folder " +
                                inQuotes(folder.string()));
  }
  if (::access(folder.c_str(), W_OK) != 0) {
    throw std::invalid_argument("cannot write " + inQuotes(path) + " into " +
                                inQuotes(folder.string()) + ": " + std::strerror(errno));
  }
  return target;
}

// Opens a new temporary file, noted for removal on a signal in the same
// step. A file of the same name is a leftover of a process that had this
// one's id, killed outright.
int openTemporary(const std::string &temporary) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    const SignalsHeld held;
    const int fd =
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) {
      removeOnSignal(temporary.c_str());
      return fd;
    }
    if (errno != EEXIST) break;
    ::unlink(temporary.c_str());
  }
  return -1;
}

// 0, or the errno of the first write that failed.
int writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t put = ::write(fd, bytes.data(), bytes.size());
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return errno;
    bytes.remove_prefix(static_cast<std::size_t>(put));
  }
  return 0;
}

}  // namespace

void checkOutputFile(const std::string &path) { outputTarget(path); }

void writeOutputFile(const std::string &path, std::string_view bytes) {
  // Checked again: the render may have taken long enough for the file
  // system to change.
  const fs::path target = outputTarget(path);
  const std::string temporary = (target.parent_path() / ("." + target.filename().string() + "." +
                                                         std::to_string(::getpid()) + ".tmp"))
                                    .string();
  const int fd = openTemporary(temporary);
  if (fd < 0) cannotWrite(path, errno);
  int error = writeAll(fd, bytes);
  if (::close(fd) != 0 && error == 0) error = errno;
  const SignalsHeld held;
  if (error == 0 && ::rename(temporary.c_str(), target.c_str()) != 0) error = errno;
  if (error != 0) ::unlink(temporary.c_str());
  removeOnSignal(nullptr);
  if (error != 0) cannotWrite(path, error);
}

void writeStandardOutput(std::string_view bytes) {
  ::signal(SIGPIPE, SIG_IGN);
  const int error = writeAll(STDOUT_FILENO, bytes);
  if (error != 0) {
    throw std::runtime_error(std::string("cannot write to standard output: ") +
                             std::strerror(error));
  }
}

}  // namespace kerrowbend_host
