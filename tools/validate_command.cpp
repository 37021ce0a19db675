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
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "hostsim/loader.h"
#include "tools/commands.h"
#include "tools/validate_checks.h"
#include "tools/validate_junit.h"

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

// What validate was asked to do.
struct ValidateRun {
  std::string modulePath;
  double timeLimit = kDefaultTimeLimit;
  std::vector<std::string> checks;  // patterns for selectChecks
  bool inProcess = false;           // no child processes, for a debugger
  std::string junitPath;            // "" for no JUnit file
  bool list = false;
};

// A check's outcome as its child reports it: 'P', 'S' and the reason it was
// skipped, or 'F' and the failure sentence.
std::string runCheck(const ValidateCheck &check, const std::string &modulePath) {
  try {
    check.run(modulePath);
    return "P";
  } catch (const CheckSkipped &skipped) {
    return std::string("S") + skipped.what();
  } catch (const std::exception &failure) {
    const std::string sentence = failure.what();
    return "F" + (sentence.empty() ? "an exception without a message" : sentence);
  } catch (...) {
    return "Fan exception of an unknown type";
  }
}

CheckResult decoded(const ValidateCheck &check, const std::string &report, double seconds) {
  const CheckResult::Status status = report.starts_with("P")   ? CheckResult::kPassed
                                     : report.starts_with("S") ? CheckResult::kSkipped
                                                               : CheckResult::kFailed;
  return {check.name, status, report.empty() ? "an empty report" : report.substr(1), seconds};
}

void loadOnce(const ValidateRun &run) {
  if (run.inProcess) {
    hostsim::ModuleFile::open(run.modulePath);
    return;
  }
  const Outcome loaded = runIsolated(
      [&run] {
        hostsim::ModuleFile::open(run.modulePath);
        return std::string();
      },
      run.timeLimit);
  if (!loaded.finished) {
    throw hostsim::LoadError("'" + run.modulePath + "' could not be loaded: " +
                             (loaded.timedOut
                                  ? "loading it took longer than " + secondsText(run.timeLimit)
                                  : describeStatus(loaded.status) + " while loading it"));
  }
  if (!loaded.report.empty()) throw hostsim::LoadError(loaded.report);
}

CheckResult runOne(const ValidateCheck &check, const ValidateRun &run) {
  const auto start = Clock::now();
  const auto elapsed = [&start] {
    return std::chrono::duration<double>(Clock::now() - start).count();
  };
  if (run.inProcess) {
    const std::string report = runCheck(check, run.modulePath);
    return decoded(check, report, elapsed());
  }
  const Outcome outcome =
      runIsolated([&check, &run] { return runCheck(check, run.modulePath); }, run.timeLimit);
  if (outcome.finished) return decoded(check, outcome.report, elapsed());
  return {check.name, CheckResult::kFailed, checkFailure(outcome, run.timeLimit), elapsed()};
}

void writeJunit(std::ofstream &out, const ValidateRun &run,
                const std::vector<CheckResult> &results) {
  out << junitXml(run.modulePath, results);
  out.close();
  if (!out) throw std::runtime_error("'" + run.junitPath + "' could not be written");
}

int runValidate(const ValidateRun &run) {
  const std::vector<const ValidateCheck *> checks = selectChecks(run.checks);
  // Opened first, so that a file that cannot be written costs no run.
  std::ofstream junit;
  if (!run.junitPath.empty()) {
    junit.open(run.junitPath, std::ios::binary | std::ios::trunc);
    if (!junit) throw std::runtime_error("'" + run.junitPath + "' cannot be written");
  }
  loadOnce(run);
  std::vector<CheckResult> results;
  int passed = 0;
  int failed = 0;
  int skipped = 0;
  for (const ValidateCheck *check : checks) {
    results.push_back(runOne(*check, run));
    const CheckResult &result = results.back();
    switch (result.status) {
      case CheckResult::kPassed:
        std::cout << "PASS " << result.name << std::endl;
        ++passed;
        break;
      case CheckResult::kSkipped:
        std::cout << "SKIP " << result.name << ": " << result.sentence << std::endl;
        ++skipped;
        break;
      case CheckResult::kFailed:
        std::cout << "FAIL " << result.name << ": " << result.sentence << std::endl;
        ++failed;
        break;
    }
  }
  std::cout << passed << " passed, " << failed << " failed"
            << (skipped > 0 ? ", " + std::to_string(skipped) + " skipped" : "") << std::endl;
  if (junit.is_open()) writeJunit(junit, run, results);
  return failed == 0 ? kExitOk : kExitFailure;
}

}  // namespace

void addValidateCommand(CLI::App &app, int &exitCode) {
  auto run = std::make_shared<ValidateRun>();
  CLI::App *validate = app.add_subcommand(
      "validate",
      "Run the host contract's conformance checks on a module file, each in a process of its own");
  validate->add_option("module", run->modulePath, "the module file (kerrowbend.p)");
  validate->add_flag("--list", run->list, "list the checks by name and run none");
  validate
      ->add_option("--check", run->checks,
                   "run only this check, or every check of a group given as GROUP/ (repeat)")
      ->type_name("NAME")
      ->allow_extra_args(false);
  validate->add_flag("--in-process", run->inProcess,
                     "run the checks in this process, one after another, with no time limit "
                     "(for a debugger; a crash ends the run)");
  validate->add_option("--junit", run->junitPath, "also write the results as JUnit XML to FILE")
      ->type_name("FILE");
  validate
      ->add_option("--time-limit", run->timeLimit,
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
  validate->callback([run, &exitCode] {
    if (run->list) {
      for (const ValidateCheck &check : validateChecks()) std::cout << check.name << '\n';
      exitCode = kExitOk;
      return;
    }
    if (run->modulePath.empty()) {
      std::cerr << "kerrowbend-host validate: a module file is required (see kerrowbend-host "
                   "validate --help)\n";
      exitCode = kExitUsage;
      return;
    }
    try {
      exitCode = runValidate(*run);
    } catch (const std::invalid_argument &unknown) {
      std::cerr << "kerrowbend-host validate: " << unknown.what() << '\n';
      exitCode = kExitUsage;
    } catch (const std::exception &failure) {
      exitCode = reportFailure("validate", failure);
    }
  });
}

}  // namespace kerrowbend_host
