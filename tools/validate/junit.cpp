#include "tools/validate/junit.h"

#include <cstdio>
#include <string>
#include <vector>

namespace kerrowbend_host {

namespace {

// Text in an attribute: markup characters escaped, and the control bytes
// XML 1.0 cannot carry at all replaced, since a sentence quotes what a
// module handed over.
std::string escaped(const std::string &text) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\n':
        out += "&#10;";
        break;
      case '\t':
        out += "&#9;";
        break;
      default:
        out += byte < 0x20 ? '?' : c;
    }
  }
  return out;
}

std::string secondsText(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", seconds);
  return text;
}

}  // namespace

std::string junitXml(const std::string &modulePath, const std::vector<CheckResult> &results) {
  int failures = 0;
  int skipped = 0;
  double total = 0.0;
  for (const CheckResult &result : results) {
    failures += result.status == CheckResult::kFailed ? 1 : 0;
    skipped += result.status == CheckResult::kSkipped ? 1 : 0;
    total += result.seconds;
  }
  const std::string counts = " tests=\"" + std::to_string(results.size()) + "\" failures=\"" +
                             std::to_string(failures) + "\" errors=\"0\" skipped=\"" +
                             std::to_string(skipped) + "\" time=\"" + secondsText(total) + "\"";
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites" + counts + ">\n";
  xml +=
      "  <testsuite name=\"kerrowbend-host validate " + escaped(modulePath) + "\"" + counts + ">\n";
  for (const CheckResult &result : results) {
    const std::size_t slash = result.name.find('/');
    const std::string group = result.name.substr(0, slash);
    const std::string check =
        slash == std::string::npos ? result.name : result.name.substr(slash + 1);
    xml += "    <testcase classname=\"" + escaped(group) + "\" name=\"" + escaped(check) +
           "\" time=\"" + secondsText(result.seconds) + "\"";
    if (result.status == CheckResult::kPassed) {
      xml += "/>\n";
      continue;
    }
    const char *element = result.status == CheckResult::kFailed ? "failure" : "skipped";
    xml += ">\n      <" + std::string(element) + " message=\"" + escaped(result.sentence) +
           "\"/>\n    </testcase>\n";
  }
  xml += "  </testsuite>\n</testsuites>\n";
  return xml;
}

}  // namespace kerrowbend_host
