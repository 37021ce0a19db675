// kerrowbend-host info <module-file>: what a host sees when it loads the
// module, before activating anything.
#include <cstdio>
#include <exception>
#include <string>

#include "hostsim/host.h"
#include "tools/commands.h"

namespace kerrowbend_host {

namespace {

// A tag list longer than this is taken to have lost its closing entry.
constexpr int kMaxTags = 4096;

std::string hex(uint32_t value) {
  char text[11];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
  return text;
}

std::string quoted(const char *text) {
  return text != nullptr ? "\"" + std::string(text) + "\"" : "(null)";
}

void printServer(const ServerRecord &server, std::ostream &out) {
  out << "  " << (server.className != nullptr ? server.className : "(null)") << ' '
      << quoted(server.name);
  if (server.activate == nullptr) out << "  (no activate routine)";
  out << '\n';
  if (server.tagInfo == nullptr) {
    out << "    no tags\n";
    return;
  }
  int count = 0;
  for (const ServerTagInfo *tag = server.tagInfo; tag->string != nullptr || tag->tag != 0; ++tag) {
    if (++count > kMaxTags) {
      out << "    ... (the tag list has no closing entry)\n";
      return;
    }
    out << "    tag " << hex(tag->tag) << "  " << quoted(tag->string) << '\n';
  }
}

}  // namespace

int runInfo(std::span<const std::string> args, std::ostream &out, std::ostream &err) {
  if (args.size() != 1) {
    err << "usage: kerrowbend-host info <module-file>\n";
    return kExitUsage;
  }
  try {
    hostsim::Host host(args[0]);
    const hostsim::ModuleFile &module = host.module();
    const ModuleDescriptor &descriptor = module.descriptor();
    out << "module          " << module.path() << '\n'
        << "sync code       " << hex(descriptor.sysSync) << '\n'
        << "version         " << hex(descriptor.sysVersion) << '\n'
        << "machine code    " << hex(descriptor.sysMachine) << '\n'
        << "startup handle  " << module.startupHandle() << '\n'
        << "servers         " << module.servers().size() << '\n';
    for (const ServerRecord *server : module.servers()) printServer(*server, out);
    return kExitOk;
  } catch (const std::exception &failure) {
    err << "kerrowbend-host info: " << failure.what() << '\n';
    return kExitFailure;
  }
}

}  // namespace kerrowbend_host
