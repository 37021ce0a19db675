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

namespace kerrowbend_host {

// One sentence: what was expected and what came instead.
class CheckFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct ValidateCheck {
  const char *name;                            // "group/check"
  void (*run)(const std::string &modulePath);  // throws CheckFailure
};

// Every check, in the order validate runs them.
std::span<const ValidateCheck> validateChecks();

}  // namespace kerrowbend_host

#endif
