// kerrowbend-host validate <module-file>: the conformance checks of
// checks.h, each in a process of its own.
//
// A module under test may crash or hang, and it keeps state in its globals.
// So every check runs in a child that loads its own copy of the module
// file, under a time limit; a child that crashes, exits early or runs too
// long is a failed check, and the run goes on with the next one. The parent
// never loads the module: before any check, a child first tries to load
// it, and a file that is no module of this kind ends the run with one line
// on stderr, as the other commands report it.
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <exception>
#include <filesystem>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "hostsim/loader.h"
#include "tools/cli/command_line.h"
#include "tools/cli/commands.h"
#include "tools/process/child_run.h"
#include "tools/process/module_location.h"
#include "tools/process/output_file.h"
#include "tools/validate/checks.h"
#include "tools/validate/heap.h"
#include "tools/validate/junit.h"

namespace kerrowbend_host {

namespace {

using Clock = std::chrono::steady_clock;

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
  const ChildOutcome loaded = runInChild(
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

// A check that counts heap blocks runs in a run of this tool of its own,
// in process and with the heap counter preloaded, so that only that
// process has its allocator replaced; its result line becomes the report.
std::string runCounted(const ValidateCheck &check, const ValidateRun &run) {
  if (heapBlocksInUse()) return runCheck(check, run.modulePath);
  std::string library;
  try {
    library = heapCounterLibrary();
  } catch (const CheckSkipped &skipped) {
    return std::string("S") + skipped.what();
  }
  const std::string name = check.name;
  const CountedRun counted =
      runToolWithHeapCounter(library, {"validate", "--in-process", "--check", name,
                                       std::filesystem::absolute(run.modulePath).string()});
  std::istringstream out(counted.out);
  for (std::string line; std::getline(out, line);) {
    if (line == "PASS " + name) return "P";
    for (const char *outcome : {"FAIL ", "SKIP "}) {
      const std::string head = outcome + name + ": ";
      if (line.starts_with(head)) return outcome[0] + line.substr(head.size());
    }
  }
  return "Fexpected the check to run to its end, but " + describeStatus(counted.status);
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
  const ChildOutcome outcome = runInChild(
      [&check, &run] {
        return check.countsHeap ? runCounted(check, run) : runCheck(check, run.modulePath);
      },
      run.timeLimit);
  if (outcome.finished) return decoded(check, outcome.report, elapsed());
  return {check.name, CheckResult::kFailed, checkFailure(outcome, run.timeLimit), elapsed()};
}

// Each chosen check's name, then what it makes sure of, the descriptions
// lined up in one column.
void listChecks(const std::vector<const ValidateCheck *> &checks) {
  std::size_t width = 0;
  for (const ValidateCheck *check : checks) width = std::max(width, std::strlen(check->name));
  for (const ValidateCheck *check : checks) {
    std::cout << check->name << std::string(width + 2 - std::strlen(check->name), ' ')
              << check->description << '\n';
  }
}

int runValidate(ValidateRun run) {
  const std::vector<const ValidateCheck *> checks = selectChecks(run.checks);
  // A module named is looked at whatever else was asked, so that a wrong
  // path never passes unnoticed; --list alone needs none.
  if (run.list && run.modulePath.empty()) {
    listChecks(checks);
    return kExitOk;
  }
  if (run.modulePath.empty()) run.modulePath = defaultModulePath("the MODULE argument");
  // Checked first, so that a file that cannot be written costs no run;
  // written whole at the end, so an earlier report stays until then.
  if (!run.junitPath.empty()) {
    try {
      checkOutputFile(run.junitPath);
    } catch (const std::invalid_argument &refused) {
      throw UsageError(std::string("--junit: ") + refused.what());
    }
  }
  loadOnce(run);
  if (run.list) {
    listChecks(checks);
    return kExitOk;
  }
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
  if (!run.junitPath.empty()) writeOutputFile(run.junitPath, junitXml(run.modulePath, results));
  return failed == 0 ? kExitOk : kExitFailure;
}

}  // namespace

void addValidateCommand(CLI::App &app, int &exitCode) {
  auto run = std::make_shared<ValidateRun>();
  CLI::App *validate = app.add_subcommand(
      "validate",
      "Run the host contract's conformance checks on a module file, each in a process of its own");
  readLeniently(*validate);
  validate
      ->add_option("MODULE", run->modulePath,
                   "the module file to check (default: " + modulePlaces() + ")")
      ->type_name("");
  validate->add_flag("--list", run->list,
                     "list the checks, or those --check names, each with what it makes sure "
                     "of, and run none");
  validate
      ->add_option("--check", run->checks,
                   "run only this check, or every check of a group given as GROUP/ (repeat)")
      ->type_name("NAME")
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  validate->add_flag("--in-process", run->inProcess,
                     "run the checks in this process, one after another, with no time limit "
                     "(for a debugger; a crash ends the run)");
  validate->add_option("--junit", run->junitPath, "also write the results as JUnit XML to FILE")
      ->type_name("FILE");
  addTimeLimitOption(*validate, run->timeLimit,
                     "seconds a check may run before it is stopped and counted as failed");
  validate->callback([validate, run, &exitCode] {
    exitCode = runCommand(*validate, [&run] {
      try {
        return runValidate(*run);
      } catch (const std::invalid_argument &unknown) {
        throw UsageError(unknown.what());
      }
    });
  });
}

}  // namespace kerrowbend_host
