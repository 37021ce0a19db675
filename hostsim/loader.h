// Loading a module file the way a host does, with fresh module-wide state.
//
// The module keeps state in its globals (the services it fetched, the host
// version), and a dynamic loader hands back the already-loaded image when
// the same file is opened twice. Each ModuleFile therefore loads a private
// copy of the file under a unique temporary name, so every load starts from
// the module's initial state. The copy is removed as soon as it is mapped,
// so no path, not even a crash in the module, leaves it behind.
//
// A file is checked before it is mapped, and the descriptor before it is
// read through (see file_checks.h): a damaged module file is reported as
// a LoadError naming the file, not a crash of the host.
#ifndef KERROWBEND_HOSTSIM_LOADER_H
#define KERROWBEND_HOSTSIM_LOADER_H

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "host/module.h"

namespace hostsim {

// Why a module could not be loaded, as one readable sentence.
class LoadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The all-null record that closes a module's server list.
bool isEndRecord(const ServerRecord &record);

class ModuleFile {
 public:
  // Checks path, copies it to $TMPDIR (or /tmp), opens the copy with
  // RTLD_NOW | RTLD_LOCAL, finds and checks `_mod_descrip` and calls its
  // startup routine. Throws LoadError, a sentence naming path and the
  // problem, when any step fails; nothing is left behind then.
  static std::unique_ptr<ModuleFile> open(const std::string &path);

  // Calls shutdown with the startup handle and closes the library.
  ~ModuleFile();
  ModuleFile(const ModuleFile &) = delete;
  ModuleFile &operator=(const ModuleFile &) = delete;

  const ModuleDescriptor &descriptor() const { return *descriptor_; }
  void *startupHandle() const { return handle_; }
  // The records of the server list, without its closing all-null record.
  const std::vector<const ServerRecord *> &servers() const { return servers_; }
  // The server with this class and name, or null.
  const ServerRecord *findServer(std::string_view className, std::string_view name) const;

  const std::string &path() const { return path_; }
  // The name the private copy had while it was being mapped.
  const std::string &loadedCopy() const { return copy_; }

 private:
  ModuleFile() = default;

  std::string path_;
  std::string copy_;
  void *library_ = nullptr;
  const ModuleDescriptor *descriptor_ = nullptr;
  void *handle_ = nullptr;
  std::vector<const ServerRecord *> servers_;
};

}  // namespace hostsim

#endif
