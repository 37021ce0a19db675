// kerrowbend-host <command> [options]: the module seen through the
// simulated host, from the command line.
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

#include "tools/commands.h"

int main(int argc, char **argv) {
  using namespace kerrowbend_host;
  CLI::App app{"Loads a kerrowbend module file the way a host does and shows what it does.",
               "kerrowbend-host"};
  app.require_subcommand(1);
  int exitCode = kExitOk;
  addInfoCommand(app, exitCode);
  addValidateCommand(app, exitCode);
  addPreviewCommand(app, exitCode);
  try {
    app.parse(argc, argv);
  } catch (const CLI::Success &help) {
    return app.exit(help);  // --help, for the tool or a command
  } catch (const CLI::ParseError &error) {
    const bool unknownCommand =
        argc > 1 && argv[1][0] != '-' &&
        app.get_subcommands([&](CLI::App *command) { return command->get_name() == argv[1]; })
            .empty();
    std::cerr << "kerrowbend-host: "
              << (unknownCommand ? "unknown command '" + std::string(argv[1]) + "'" : error.what())
              << " (see kerrowbend-host --help)\n";
    return kExitUsage;
  }
  return exitCode;
}
