// Where kerrowbend-host finds the module when --module names none: beside
// the tool, as the build folder leaves them, or where an install puts it
// relative to the tool.
#ifndef KERROWBEND_TOOLS_PROCESS_MODULE_LOCATION_H
#define KERROWBEND_TOOLS_PROCESS_MODULE_LOCATION_H

#include <string>

namespace kerrowbend_host {

// The first that is a file of kerrowbend.p in the running tool's folder
// and the installed module's place relative to that folder. Throws
// std::runtime_error naming the places looked at, and --module, when
// neither is.
std::string defaultModulePath();

}  // namespace kerrowbend_host

#endif
