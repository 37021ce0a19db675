// kerrowbend-host <command> [arguments]
#include <array>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "tools/commands.h"

namespace kerrowbend_host {
namespace {

constexpr std::array kCommands = {
    Command{"info", "<module-file>", "load the module and print what a host sees of it", &runInfo},
};

void printUsage(std::ostream &out) {
  out << "usage: kerrowbend-host <command> [arguments]\n\ncommands:\n";
  for (const Command &command : kCommands) {
    const std::string synopsis = std::string(command.name) + " " + command.arguments;
    out << "  " << synopsis << std::string(synopsis.size() < 28 ? 28 - synopsis.size() : 1, ' ')
        << command.summary << '\n';
  }
}

}  // namespace
}  // namespace kerrowbend_host

int main(int argc, char **argv) {
  using namespace kerrowbend_host;
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0] == "-h" || args[0] == "--help" || args[0] == "help") {
    printUsage(args.empty() ? std::cerr : std::cout);
    return args.empty() ? kExitUsage : kExitOk;
  }
  for (const Command &command : kCommands) {
    if (args[0] == command.name) {
      return command.run(std::span<const std::string>(args).subspan(1), std::cout, std::cerr);
    }
  }
  std::cerr << "kerrowbend-host: unknown command '" << args[0] << "'\n\n";
  printUsage(std::cerr);
  return kExitUsage;
}
