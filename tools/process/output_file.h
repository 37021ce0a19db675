// Writing the file a user named with --out: all of it or nothing, and
// only where a file belongs.
#ifndef KERROWBEND_TOOLS_PROCESS_OUTPUT_FILE_H
#define KERROWBEND_TOOLS_PROCESS_OUTPUT_FILE_H

#include <string>
#include <string_view>

namespace kerrowbend_host {

// Checks, before any work, that path can take a file: a symbolic link is
// followed to what it names, which must be a regular file or nothing yet
// in a folder that exists and may be written in. Throws
// std::invalid_argument with a sentence naming path otherwise; nothing is
// opened.
void checkOutputFile(const std::string &path);

// Writes bytes to path as checkOutputFile allows: into a temporary file
// beside the file path names, renamed over it once whole, so a failure
// leaves an earlier file as it was. The temporary file is gone on every
// way out, a SIGINT, SIGTERM or SIGHUP included. Throws
// std::invalid_argument as checkOutputFile does, and std::runtime_error
// naming path when the writing fails.
void writeOutputFile(const std::string &path, std::string_view bytes);

// Writes bytes to standard output, all of them, for a user who pipes the
// picture on. A reader gone early is a failure like any other rather than
// a SIGPIPE that would end the tool without a word. Throws
// std::runtime_error when the writing fails.
void writeStandardOutput(std::string_view bytes);

}  // namespace kerrowbend_host

#endif
