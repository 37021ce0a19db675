// The file/* checks: what the module file exports, read from its dynamic
// symbol table without loading it.
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "hostsim/file_checks.h"
#include "tools/validate/groups.h"
#include "tools/validate/support.h"

namespace kerrowbend_host {

void checkExports(const std::string &modulePath) {
  std::vector<std::string> exported;
  try {
    exported = hostsim::exportedSymbols(modulePath);
  } catch (const std::runtime_error &problem) {
    fail(std::string("expected to read the module's dynamic symbol table, but ") + problem.what());
  }
  // Every shared library gets these from the linker and the C runtime,
  // whatever its version script says.
  static const std::set<std::string> kRuntime = {"_init", "_fini", "_edata", "_end", "__bss_start"};
  std::vector<std::string> ours;
  for (const std::string &name : exported) {
    if (kRuntime.count(name) == 0) ours.push_back(name);
  }
  if (ours != std::vector<std::string>{"_mod_descrip"}) {
    fail("expected the module to export exactly one symbol, _mod_descrip, but it exports " +
         joined(ours));
  }
}

}  // namespace kerrowbend_host
