// Where kerrowbend-host finds the module when --module names none: beside
// the tool, as the build folder leaves them, or where an install puts it
// relative to the tool.
#ifndef KERROWBEND_TOOLS_PROCESS_MODULE_LOCATION_H
#define KERROWBEND_TOOLS_PROCESS_MODULE_LOCATION_H

#include <string>
#include <string_view>

namespace kerrowbend_host {

// The first that is a file of kerrowbend.p in the running tool's folder
// and the installed module's place relative to that folder. Throws
// std::runtime_error naming the places looked at, and how the command
// names a module of the user's choice (howToName, "--module PATH"), when
// neither is: the one sentence every command gives for a missing module.
std::string defaultModulePath(std::string_view howToName);

// The places defaultModulePath looks, as the commands' help says them.
std::string modulePlaces();

}  // namespace kerrowbend_host

#endif
