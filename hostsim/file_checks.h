// Checks that keep a damaged module file from taking its host down: the
// file is looked at before the system loader maps it, and the records the
// module exports are checked against what it mapped before anything reads
// through them.
#ifndef KERROWBEND_HOSTSIM_FILE_CHECKS_H
#define KERROWBEND_HOSTSIM_FILE_CHECKS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/module.h"

namespace hostsim {

// Gives what keeps the file at path from being a shared library this
// process can load, as the end of a sentence that begins with the file's
// name ("is not a shared library (no ELF header)"), or "" when nothing
// does. A file cut short is caught here: the system loader maps what the
// headers promise, and reading a page past the end of the file kills the
// process with SIGBUS.
std::string sharedLibraryProblem(const std::string &path);

// The symbols the shared library at path exports, from its dynamic symbol
// table: every defined symbol of global or weak binding that other objects
// can see, in table order. Throws std::runtime_error, a sentence that
// begins with the file's name in quotes, when the table cannot be read.
std::vector<std::string> exportedSymbols(const std::string &path);

// The address ranges a loaded library mapped, to check pointers read from
// its records before following them.
class MappedImage {
 public:
  // handle as dlopen gave it.
  explicit MappedImage(void *handle);

  bool readable(const void *address, std::size_t size) const;
  bool executable(const void *address) const;
  // A zero-terminated string lying wholly in readable memory of the image.
  bool terminatedString(const char *text) const;

 private:
  struct Range {
    uintptr_t begin;
    uintptr_t end;
    bool read;
    bool execute;
  };
  const Range *rangeOf(const void *address) const;
  std::vector<Range> ranges_;
};

// What is wrong with a descriptor read from image, or "" when it can be
// used: the synchronisation code, the routines and every record, text and
// tag list of the server list must lie where the module put them.
// maxRecords bounds the server list and each tag list.
std::string descriptorProblem(const ModuleDescriptor &descriptor, const MappedImage &image,
                              int maxRecords);

}  // namespace hostsim

#endif
