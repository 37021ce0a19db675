// The subcommands of kerrowbend-host. Each command adds itself to the
// command line in its own source; main() only parses and dispatches.
#ifndef KERROWBEND_TOOLS_CLI_COMMANDS_H
#define KERROWBEND_TOOLS_CLI_COMMANDS_H

#include <exception>
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

namespace kerrowbend_host {

// Exit codes shared by every subcommand.
enum ExitCode { kExitOk = 0, kExitFailure = 1, kExitUsage = 2 };

// Each adds its subcommand to app. When the subcommand is chosen, its
// callback runs it and leaves the exit code in exitCode.
void addInfoCommand(CLI::App &app, int &exitCode);
void addValidateCommand(CLI::App &app, int &exitCode);
void addPreviewCommand(CLI::App &app, int &exitCode);

// A failure the user can act on, as one line on stderr naming the command;
// gives kExitFailure.
inline int reportFailure(const std::string &command, const std::exception &failure) {
  std::cerr << "kerrowbend-host " << command << ": " << failure.what() << '\n';
  return kExitFailure;
}

}  // namespace kerrowbend_host

#endif
