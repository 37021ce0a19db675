#include "tools/validate/heap.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string_view>
#include <system_error>

#include "heapcount/counts.h"
#include "tools/validate/checks.h"

namespace kerrowbend_host {

namespace fs = std::filesystem;

std::optional<long> heapBlocksInUse() {
  using Read = void (*)(HeapCounts *);
  const auto read = reinterpret_cast<Read>(::dlsym(RTLD_DEFAULT, "kerrowbend_heapcount_read"));
  if (read == nullptr) return std::nullopt;
  HeapCounts counts{};
  read(&counts);
  return counts.blocksInUse;
}

std::string heapCounterLibrary() {
#if defined(KERROWBEND_HEAP_COUNTER)
  std::error_code error;
  const fs::path tool = fs::read_symlink("/proc/self/exe", error);
  const fs::path library = tool.parent_path() / KERROWBEND_HEAP_COUNTER;
  if (error || !fs::is_regular_file(library, error)) {
    throw CheckSkipped("no heap counter library at '" + library.string() +
                       "' (an installed tool has none), so the module's heap cannot be counted");
  }
  return library.string();
#else
  throw CheckSkipped(
      "this build's allocator belongs to its sanitizer, so the module's heap cannot be counted");
#endif
}

CountedRun runToolWithHeapCounter(const std::string &library,
                                  const std::vector<std::string> &arguments) {
  // Everything the exec'd tool needs is made before the fork, so the child
  // only duplicates a descriptor and calls execve.
  std::vector<std::string> environment;
  const std::string_view preload = "LD_PRELOAD=";
  for (char **entry = environ; *entry != nullptr; ++entry) {
    if (!std::string_view(*entry).starts_with(preload)) environment.emplace_back(*entry);
  }
  environment.push_back(std::string(preload) + library);
  const auto pointers = [](std::vector<std::string> &strings) {
    std::vector<char *> out;
    out.reserve(strings.size() + 1);
    for (std::string &text : strings) out.push_back(text.data());
    out.push_back(nullptr);
    return out;
  };
  std::vector<std::string> argv = arguments;
  argv.insert(argv.begin(), "kerrowbend-host");
  std::vector<char *> argvPointers = pointers(argv);
  std::vector<char *> environmentPointers = pointers(environment);

  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    throw std::runtime_error(std::string("cannot make a pipe: ") + std::strerror(errno));
  }
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
    ::dup2(fds[1], STDOUT_FILENO);
    ::execve("/proc/self/exe", argvPointers.data(), environmentPointers.data());
    ::_exit(127);
  }
  ::close(fds[1]);
  if (pid < 0) {
    ::close(fds[0]);
    throw std::runtime_error(std::string("cannot start a process: ") + std::strerror(errno));
  }
  CountedRun run;
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(fds[0], buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    run.out.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fds[0]);
  while (::waitpid(pid, &run.status, 0) < 0 && errno == EINTR) {
  }
  return run;
}

}  // namespace kerrowbend_host
