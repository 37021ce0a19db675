// The subcommands of kerrowbend-host. Each is one function taking the
// arguments after its name; main() only dispatches.
#ifndef KERROWBEND_TOOLS_COMMANDS_H
#define KERROWBEND_TOOLS_COMMANDS_H

#include <ostream>
#include <span>
#include <string>

namespace kerrowbend_host {

// Exit codes shared by every subcommand.
enum ExitCode { kExitOk = 0, kExitFailure = 1, kExitUsage = 2 };

struct Command {
  const char *name;
  const char *arguments;  // as shown in the usage text
  const char *summary;
  int (*run)(std::span<const std::string> args, std::ostream &out, std::ostream &err);
};

// Loads a module and prints its descriptor, startup handle and servers.
int runInfo(std::span<const std::string> args, std::ostream &out, std::ostream &err);

}  // namespace kerrowbend_host

#endif
