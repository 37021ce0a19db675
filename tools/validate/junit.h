// The results of a validate run as JUnit XML, the form CI systems read:
// one test suite, one test case per check, named by its group and its
// check, with the failure sentence or the reason it was skipped.
#ifndef KERROWBEND_TOOLS_VALIDATE_JUNIT_H
#define KERROWBEND_TOOLS_VALIDATE_JUNIT_H

#include <string>
#include <vector>

namespace kerrowbend_host {

struct CheckResult {
  enum Status { kPassed, kFailed, kSkipped };
  std::string name;  // "group/check"
  Status status;
  std::string sentence;  // why it failed or was skipped; "" when it passed
  double seconds;
};

std::string junitXml(const std::string &modulePath, const std::vector<CheckResult> &results);

}  // namespace kerrowbend_host

#endif
