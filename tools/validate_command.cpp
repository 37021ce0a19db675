// kerrowbend-host validate <module-file>: the conformance checks of
// validate_checks.h, each in a process of its own.
//
// A module under test may crash or hang, and it keeps state in its globals.
// So every check runs in a child that loads its own copy of the module
// file, under a time limit; a child that crashes, exits early or runs too
// long is a failed check, and the run goes on with the next one. The parent
// never loads the module: before any check, a child first tries to load
// it, and a file that is no module of this kind ends the run with one line
// on stderr, as the other commands report it.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "hostsim/loader.h"
#include "tools/commands.h"
#include "tools/validate_checks.h"

namespace kerrowbend_host {

namespace {

constexpr double kDefaultTimeLimit = 20.0;
// A day: far beyond any check, and still a deadline the clock can hold.
constexpr double kMaxTimeLimit = 86400.0;

using Clock = std::chrono::steady_clock;

// How a child ended: finished when it ran its work to the end and sent
// back a report ("" for success); else stopped at the time limit, or ended
// as status says.
struct Outcome {
  bool finished = false;
  std::string report;
  bool timedOut = false;
  int status = 0;
};

void writeAll(int fd, const std::string &data) {
  for (std::size_t done = 0; done < data.size();) {
    const ssize_t put = ::write(fd, data.data() + done, data.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return;
    done += static_cast<std::size_t>(put);
  }
}

std::string secondsText(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%g s", seconds);
  return text;
}

std::string describeStatus(int status) {
  if (WIFSIGNALED(status)) {
    const int signal = WTERMSIG(status);
    return "its process was killed by signal " + std::to_string(signal) + " (" +
           ::strsignal(signal) + ")";
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
    return "its process exited with status " + std::to_string(WEXITSTATUS(status));
  }
  return "its process ended without a report";
}

[[noreturn]] void runChild(int reportFd, const std::function<std::string()> &work) {
  // Whatever the module prints must not mix with the report on stdout.
  ::dup2(STDERR_FILENO, STDOUT_FILENO);
  std::string report;
  try {
    report = work();
  } catch (const std::exception &failure) {
    report = failure.what();
    if (report.empty()) report = "an exception without a message";
  } catch (...) {
    report = "an exception of an unknown type";
  }
  // The leading mark tells an empty report (success) from none at all.
  writeAll(reportFd, "R" + report);
  ::close(reportFd);
  // No exit handlers: they belong to the parent's copy of this process.
  ::_exit(0);
}

// Runs work in a child process and waits for it at most timeLimit seconds.
Outcome runIsolated(const std::function<std::string()> &work, double timeLimit) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    throw std::runtime_error(std::string("cannot make a pipe: ") + std::strerror(errno));
  }
  // Buffered output would be written again by the child.
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) {
    const std::string why = std::strerror(errno);
    ::close(fds[0]);
    ::close(fds[1]);
    throw std::runtime_error("cannot start a process: " + why);
  }
  if (pid == 0) {
    ::close(fds[0]);
    runChild(fds[1], work);
  }
  ::close(fds[1]);

  const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                           std::chrono::duration<double>(timeLimit));
  const auto remainingMs = [&deadline] {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::max<long long>(0, left.count()));
  };
  std::string received;
  bool open = true;
  bool timedOut = false;
  while (open) {
    pollfd waiting{fds[0], POLLIN, 0};
    const int ready = ::poll(&waiting, 1, remainingMs());
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) {
      timedOut = true;
      break;
    }
    char buffer[4096];
    const ssize_t got = ::read(fds[0], buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      open = false;
    } else {
      received.append(buffer, static_cast<std::size_t>(got));
    }
  }
  ::close(fds[0]);

  // The report is in; the child may still be on its way out (or stuck
  // there, having closed the pipe early).
  int status = 0;
  for (;;) {
    const pid_t done = timedOut ? 0 : ::waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) break;
    if (timedOut || remainingMs() == 0) {
      ::kill(pid, SIGKILL);
      while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      return {false, "", true, status};
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (received.starts_with("R") && WIFEXITED(status) && WEXITSTATUS(status) == 0) {
    return {true, received.substr(1), false, status};
  }
  return {false, "", false, status};
}

std::string checkFailure(const Outcome &outcome, double timeLimit) {
  if (outcome.finished) return outcome.report;
  if (outcome.timedOut) {
    return "expected the check to finish within " + secondsText(timeLimit) +
           ", but it was still running and was stopped";
  }
  return "expected the check to run to its end, but " + describeStatus(outcome.status);
}

int runValidate(const std::string &modulePath, double timeLimit) {
  const Outcome loaded = runIsolated(
      [&modulePath] {
        hostsim::ModuleFile::open(modulePath);
        return std::string();
      },
      timeLimit);
  if (!loaded.finished) {
    throw hostsim::LoadError("'" + modulePath + "' could not be loaded: " +
                             (loaded.timedOut
                                  ? "loading it took longer than " + secondsText(timeLimit)
                                  : describeStatus(loaded.status) + " while loading it"));
  }
  if (!loaded.report.empty()) throw hostsim::LoadError(loaded.report);

  int passed = 0;
  int failed = 0;
  for (const ValidateCheck &check : validateChecks()) {
    const Outcome outcome = runIsolated(
        [&check, &modulePath] {
          check.run(modulePath);
          return std::string();
        },
        timeLimit);
    const std::string failure = checkFailure(outcome, timeLimit);
    if (failure.empty()) {
      std::cout << "PASS " << check.name << std::endl;
      ++passed;
    } else {
      std::cout << "FAIL " << check.name << ": " << failure << std::endl;
      ++failed;
    }
  }
  std::cout << passed << " passed, " << failed << " failed" << std::endl;
  return failed == 0 ? kExitOk : kExitFailure;
}

}  // namespace

void addValidateCommand(CLI::App &app, int &exitCode) {
  auto modulePath = std::make_shared<std::string>();
  auto timeLimit = std::make_shared<double>(kDefaultTimeLimit);
  CLI::App *validate = app.add_subcommand(
      "validate",
      "Run the host contract's conformance checks on a module file, each in a process of its own");
  validate->add_option("module", *modulePath, "the module file (kerrowbend.p)")->required();
  validate
      ->add_option("--time-limit", *timeLimit,
                   "seconds a check may run before it is stopped and counted as failed")
      ->check(CLI::Validator(
          [](std::string &text) {
            char *end = nullptr;
            const double seconds = std::strtod(text.c_str(), &end);
            if (end != text.c_str() && *end == '\0' && seconds > 0 && seconds <= kMaxTimeLimit) {
              return std::string();
            }
            return "expected seconds above 0 and at most " + secondsText(kMaxTimeLimit) +
                   ", not '" + text + "'";
          },
          "SECONDS"))
      ->capture_default_str();
  validate->callback([modulePath, timeLimit, &exitCode] {
    try {
      exitCode = runValidate(*modulePath, *timeLimit);
    } catch (const std::exception &failure) {
      exitCode = reportFailure("validate", failure);
    }
  });
}

}  // namespace kerrowbend_host
