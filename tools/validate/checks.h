// The conformance checks of `kerrowbend-host validate`, as a named table.
//
// A check loads the module file into a simulated host of its own, drives it
// as a host would, and throws CheckFailure at the first thing that is not
// as the contract says. It knows nothing of processes or time limits: the
// command runs each check in a process of its own, so a check may crash or
// hang with the module it drives.
#ifndef KERROWBEND_TOOLS_VALIDATE_CHECKS_H
#define KERROWBEND_TOOLS_VALIDATE_CHECKS_H

#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace kerrowbend_host {

// One sentence: what was expected and what came instead.
class CheckFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What a check throws when this build cannot make it; the run reports it
// as skipped with the sentence, neither passed nor failed.
class CheckSkipped : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct ValidateCheck {
  const char *name;                            // "group/check"
  const char *description;                     // what it makes sure of, one line
  void (*run)(const std::string &modulePath);  // throws CheckFailure
  // Runs where the heap counter is loaded (see heap.h).
  bool countsHeap = false;
};

// Every check, in the order validate runs them.
std::span<const ValidateCheck> validateChecks();

// The checks the patterns name, in run order: a pattern is a check's whole
// name, or a group's name followed by '/' for every check of the group.
// No patterns name every check. Throws std::invalid_argument for a pattern
// that names none.
std::vector<const ValidateCheck *> selectChecks(const std::vector<std::string> &patterns);

}  // namespace kerrowbend_host

#endif
