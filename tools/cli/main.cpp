// kerrowbend-host <command> [options]: the module seen through the
// simulated host, from the command line.
#include <iostream>

#include <CLI/CLI.hpp>

#include "tools/cli/command_line.h"
#include "tools/cli/commands.h"

// Only a fault of the tool itself is meant to get past the commands, which
// report every failure of the module, its files and the command line; ending
// through std::terminate then shows what was thrown.
// NOLINTNEXTLINE(bugprone-exception-escape)
int main(int argc, char **argv) {
  using namespace kerrowbend_host;
  CLI::App app{"Loads a kerrowbend module file the way a host does and shows what it does.",
               "kerrowbend-host"};
  app.set_version_flag("--version", "kerrowbend-host " KERROWBEND_VERSION,
                       "print the version and exit");
  app.require_subcommand(1);
  app.formatter(wrappingFormatter());
  int exitCode = kExitOk;
  addInfoCommand(app, exitCode);
  addValidateCommand(app, exitCode);
  addPreviewCommand(app, exitCode);
  // Without a command there is nothing to run: the commands are the help
  // wanted, and the missing command is a usage error like any other.
  if (argc <= 1) {
    std::cerr << app.help();
    return kExitUsage;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::Success &help) {
    return app.exit(help);  // --help, for the tool or a command, and --version
  } catch (const CLI::ParseError &error) {
    return reportParseError(app, error, argc, argv);
  }
  return exitCode;
}
