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
#include <sys/wait.h>

#include <cstring>
#include <exception>
#include <iostream>
#include <memory>
#include <string>

#include "hostsim/loader.h"
#include "tools/child_run.h"
#include "tools/command_line.h"
#include "tools/commands.h"
#include "tools/validate_checks.h"

namespace kerrowbend_host {

namespace {

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

std::string checkFailure(const ChildOutcome &outcome, double timeLimit) {
  if (outcome.finished) return outcome.report;
  if (outcome.timedOut) {
    return "expected the check to finish within " + secondsText(timeLimit) +
           ", but it was still running and was stopped";
  }
  return "expected the check to run to its end, but " + describeStatus(outcome.status);
}

int runValidate(const std::string &modulePath, double timeLimit) {
  const ChildOutcome loaded = runInChild(
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
    const ChildOutcome outcome = runInChild(
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
  readLeniently(*validate);
  validate->add_option("module", *modulePath, "the module file (kerrowbend.p)")->required();
  addTimeLimitOption(*validate, *timeLimit,
                     "seconds a check may run before it is stopped and counted as failed");
  validate->callback([validate, modulePath, timeLimit, &exitCode] {
    exitCode = runCommand(*validate, [&] { return runValidate(*modulePath, *timeLimit); });
  });
}

}  // namespace kerrowbend_host
