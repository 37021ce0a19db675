#include "hostsim/loader.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "hostsim/file_checks.h"

namespace hostsim {

namespace {

// A server list longer than this is taken to have lost its closing record.
constexpr int kMaxServers = 4096;

std::string systemError(const std::string &what) { return what + ": " + std::strerror(errno); }

std::string replaceAll(std::string text, const std::string &from, const std::string &to) {
  for (std::size_t at = 0; !from.empty() && (at = text.find(from, at)) != std::string::npos;
       at += to.size()) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// Writes the whole of source into a new file made by mkstemp and gives its
// name.
std::string copyToTemporary(const std::string &source) {
  const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) throw LoadError(systemError("cannot open '" + source + "'"));

  const char *dir = std::getenv("TMPDIR");
  std::string name = (dir != nullptr && *dir != '\0') ? dir : "/tmp";
  name += "/kerrowbend-module-XXXXXX";
  const int out = ::mkstemp(name.data());
  if (out < 0) {
    const std::string message = systemError("cannot create a temporary copy in '" + name + "'");
    ::close(in);
    throw LoadError(message);
  }

  std::string failure;
  char buffer[1 << 16];
  for (;;) {
    const ssize_t got = ::read(in, buffer, sizeof buffer);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      failure = systemError("cannot read module file '" + source + "'");
      break;
    }
    for (ssize_t done = 0; done < got && failure.empty();) {
      const ssize_t put = ::write(out, buffer + done, static_cast<std::size_t>(got - done));
      if (put < 0 && errno != EINTR) failure = systemError("cannot write '" + name + "'");
      if (put > 0) done += put;
    }
    if (!failure.empty()) break;
  }
  if (failure.empty() && ::fchmod(out, 0700) != 0) failure = systemError("cannot chmod " + name);
  ::close(in);
  if (::close(out) != 0 && failure.empty()) failure = systemError("cannot write '" + name + "'");
  if (!failure.empty()) {
    ::unlink(name.c_str());
    throw LoadError(failure);
  }
  return name;
}

}  // namespace

bool isEndRecord(const ServerRecord &record) {
  return record.className == nullptr && record.name == nullptr && record.activate == nullptr &&
         record.tagInfo == nullptr;
}

std::unique_ptr<ModuleFile> ModuleFile::open(const std::string &path) {
  const std::string problem = sharedLibraryProblem(path);
  if (!problem.empty()) throw LoadError("'" + path + "' " + problem);

  std::unique_ptr<ModuleFile> module(new ModuleFile);
  module->path_ = path;
  module->copy_ = copyToTemporary(path);

  // From here the destructor undoes whatever has been done so far. The copy
  // is removed as soon as it is mapped (or failed to map): whatever the
  // module does later, even crash the process, leaves no file behind.
  module->library_ = ::dlopen(module->copy_.c_str(), RTLD_NOW | RTLD_LOCAL);
  const char *why = module->library_ == nullptr ? ::dlerror() : nullptr;
  ::unlink(module->copy_.c_str());
  if (module->library_ == nullptr) {
    // The system loader names the file it was given, the private copy: the
    // user knows only their own file, named at the start already.
    std::string reason = why != nullptr ? why : "unknown reason";
    if (reason.starts_with(module->copy_ + ": ")) reason.erase(0, module->copy_.size() + 2);
    throw LoadError("cannot load '" + path + "': " + replaceAll(reason, module->copy_, path));
  }
  ::dlerror();
  void *symbol = ::dlsym(module->library_, "_mod_descrip");
  if (symbol == nullptr) {
    throw LoadError("'" + path +
                    "' does not export _mod_descrip: it is not a module for this host");
  }
  module->descriptor_ = static_cast<const ModuleDescriptor *>(symbol);
  const std::string malformed =
      descriptorProblem(*module->descriptor_, MappedImage(module->library_), kMaxServers);
  if (!malformed.empty()) throw LoadError("'" + path + "': " + malformed);

  const ServerRecord *record = module->descriptor_->serverDefs;
  for (int i = 0; record != nullptr && !isEndRecord(record[i]); ++i) {
    module->servers_.push_back(&record[i]);
  }

  module->handle_ = module->descriptor_->startup();
  if (module->handle_ == nullptr) {
    throw LoadError("'" + path + "': startup returned a null module handle");
  }
  return module;
}

ModuleFile::~ModuleFile() {
  if (handle_ != nullptr && descriptor_->shutdown != nullptr) descriptor_->shutdown(handle_);
  // The copy is gone already; unlinking its name again could remove a
  // file another host has since been given under the same name.
  if (library_ != nullptr) ::dlclose(library_);
}

const ServerRecord *ModuleFile::findServer(std::string_view className,
                                           std::string_view name) const {
  for (const ServerRecord *record : servers_) {
    if (record->className != nullptr && record->name != nullptr && className == record->className &&
        name == record->name) {
      return record;
    }
  }
  return nullptr;
}

}  // namespace hostsim
