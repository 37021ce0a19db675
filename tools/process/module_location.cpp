#include "tools/process/module_location.h"

#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace kerrowbend_host {

namespace fs = std::filesystem;

namespace {

constexpr const char *kModuleFile = "kerrowbend.p";

fs::path findModule(const fs::path &toolFolder, std::string_view howToName) {
  const fs::path candidates[] = {
      toolFolder / kModuleFile,
      (toolFolder / KERROWBEND_INSTALLED_MODULE_DIR / kModuleFile).lexically_normal(),
  };
  for (const fs::path &candidate : candidates) {
    std::error_code error;
    if (fs::is_regular_file(candidate, error)) return candidate;
  }
  throw std::runtime_error("no module file at '" + candidates[0].string() + "' nor at '" +
                           candidates[1].string() + "'; name one with " + std::string(howToName));
}

}  // namespace

std::string modulePlaces() {
  return std::string(kModuleFile) + " beside this tool, else " +
         (fs::path(KERROWBEND_INSTALLED_MODULE_DIR) / kModuleFile).string() +
         " from its folder, as installed";
}

std::string defaultModulePath(std::string_view howToName) {
  std::error_code error;
  const fs::path tool = fs::read_symlink("/proc/self/exe", error);
  if (error) {
    throw std::runtime_error("cannot tell where this tool is (" + error.message() +
                             "), so cannot find the module beside it; name one with " +
                             std::string(howToName));
  }
  return findModule(tool.parent_path(), howToName).string();
}

}  // namespace kerrowbend_host
