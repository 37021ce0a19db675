#include "hostsim/file_checks.h"

#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "hostsim/format.h"
#include "hostsim/loader.h"

namespace hostsim {

namespace {

#if defined(__x86_64__)
constexpr int kMachine = EM_X86_64;
#elif defined(__aarch64__)
constexpr int kMachine = EM_AARCH64;
#else
#error "hostsim knows no ELF machine code for this processor"
#endif

// Reads exactly size bytes at offset; false when the file is shorter.
bool readAt(int fd, void *out, std::size_t size, uint64_t offset) {
  auto *bytes = static_cast<char *>(out);
  while (size > 0) {
    const ssize_t got = ::pread(fd, bytes, size, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    bytes += got;
    size -= static_cast<std::size_t>(got);
    offset += static_cast<uint64_t>(got);
  }
  return true;
}

std::string cutShort(const std::string &what, uint64_t end, uint64_t fileSize) {
  return "is cut short: its " + what + " ends at byte " + std::to_string(end) +
         " but the file has " + std::to_string(fileSize) + " bytes";
}

// The header and program headers of an open file; see sharedLibraryProblem.
std::string elfProblem(int fd, uint64_t fileSize) {
  if (fileSize == 0) return "is empty, not a shared library";
  Elf64_Ehdr header{};
  const bool whole = readAt(fd, &header, sizeof header, 0);
  if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0) {
    return "is not a shared library (no ELF header)";
  }
  if (!whole) return cutShort("ELF header", sizeof header, fileSize);
  if (header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_ident[EI_DATA] != ELFDATA2LSB ||
      header.e_machine != kMachine) {
    return "is built for another kind of machine";
  }
  if (header.e_type != ET_DYN) return "is not a shared library (an ELF file of another type)";
  if (header.e_phentsize != sizeof(Elf64_Phdr) || header.e_phnum == 0) {
    return "is not a shared library (no program headers)";
  }
  const uint64_t tableEnd = header.e_phoff + uint64_t{header.e_phnum} * sizeof(Elf64_Phdr);
  if (tableEnd > fileSize) return cutShort("program header table", tableEnd, fileSize);
  for (int i = 0; i < header.e_phnum; ++i) {
    Elf64_Phdr segment{};
    if (!readAt(fd, &segment, sizeof segment, header.e_phoff + i * sizeof segment)) {
      return cutShort("program header table", tableEnd, fileSize);
    }
    const uint64_t end = segment.p_offset + segment.p_filesz;
    if (segment.p_filesz > 0 && (end < segment.p_offset || end > fileSize)) {
      return cutShort("segment " + std::to_string(i), end, fileSize);
    }
  }
  if (header.e_shoff != 0) {
    const uint64_t sectionsEnd = header.e_shoff + uint64_t{header.e_shnum} * header.e_shentsize;
    if (sectionsEnd > fileSize) return cutShort("section header table", sectionsEnd, fileSize);
  }
  return "";
}

}  // namespace

std::string sharedLibraryProblem(const std::string &path) {
  // Without O_NONBLOCK, opening a named pipe would wait for a writer.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::string("cannot be opened: ") + std::strerror(errno);
  struct stat status {};
  std::string problem;
  if (::fstat(fd, &status) != 0) {
    problem = std::string("cannot be read: ") + std::strerror(errno);
  } else if (!S_ISREG(status.st_mode)) {
    problem = "is not a regular file";
  } else {
    problem = elfProblem(fd, static_cast<uint64_t>(status.st_size));
  }
  ::close(fd);
  return problem;
}

// ---- the dynamic symbol table ------------------------------------------------

namespace {

bool exportedBy(const Elf64_Sym &symbol) {
  const unsigned binding = ELF64_ST_BIND(symbol.st_info);
  const unsigned visibility = ELF64_ST_VISIBILITY(symbol.st_other);
  return symbol.st_shndx != SHN_UNDEF &&
         (binding == STB_GLOBAL || binding == STB_WEAK || binding == STB_GNU_UNIQUE) &&
         (visibility == STV_DEFAULT || visibility == STV_PROTECTED);
}

// The dynamic symbols of an open ELF file, as exportedSymbols says; throws
// with the end of a sentence.
std::vector<std::string> readExports(int fd, uint64_t fileSize) {
  Elf64_Ehdr header{};
  if (!readAt(fd, &header, sizeof header, 0) || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
      header.e_ident[EI_CLASS] != ELFCLASS64) {
    throw std::runtime_error("is not a 64-bit ELF file");
  }
  if (header.e_shoff == 0 || header.e_shentsize != sizeof(Elf64_Shdr)) {
    throw std::runtime_error("has no section headers to find its dynamic symbol table by");
  }
  const auto section = [&](uint64_t index) {
    Elf64_Shdr found{};
    if (index >= header.e_shnum ||
        !readAt(fd, &found, sizeof found, header.e_shoff + index * sizeof found)) {
      throw std::runtime_error("has a section header table that is cut short");
    }
    return found;
  };
  const auto read = [&](const Elf64_Shdr &from, const char *what) {
    if (from.sh_offset > fileSize || from.sh_size > fileSize - from.sh_offset) {
      throw std::runtime_error(std::string("has a ") + what + " that runs past its end");
    }
    std::string bytes(from.sh_size, '\0');
    if (!readAt(fd, bytes.data(), bytes.size(), from.sh_offset)) {
      throw std::runtime_error(std::string("has a ") + what + " that cannot be read");
    }
    return bytes;
  };
  for (uint64_t i = 0; i < header.e_shnum; ++i) {
    const Elf64_Shdr table = section(i);
    if (table.sh_type != SHT_DYNSYM) continue;
    if (table.sh_entsize != sizeof(Elf64_Sym)) {
      throw std::runtime_error("has a dynamic symbol table of an unknown entry size");
    }
    const std::string symbols = read(table, "dynamic symbol table");
    const std::string names = read(section(table.sh_link), "dynamic string table");
    std::vector<std::string> exported;
    for (std::size_t at = 0; at + sizeof(Elf64_Sym) <= symbols.size(); at += sizeof(Elf64_Sym)) {
      Elf64_Sym symbol{};
      std::memcpy(&symbol, symbols.data() + at, sizeof symbol);
      if (!exportedBy(symbol)) continue;
      if (symbol.st_name >= names.size()) {
        throw std::runtime_error("has a dynamic symbol whose name lies outside its string table");
      }
      exported.emplace_back(names.c_str() + symbol.st_name);
    }
    return exported;
  }
  throw std::runtime_error("has no dynamic symbol table");
}

}  // namespace

std::vector<std::string> exportedSymbols(const std::string &path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    throw std::runtime_error("'" + path + "' cannot be opened: " + std::strerror(errno));
  }
  struct stat status {};
  try {
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
      throw std::runtime_error("is not a regular file");
    }
    std::vector<std::string> exported = readExports(fd, static_cast<uint64_t>(status.st_size));
    ::close(fd);
    return exported;
  } catch (const std::runtime_error &problem) {
    ::close(fd);
    throw std::runtime_error("'" + path + "' " + problem.what());
  }
}

// ---- the mapped image ------------------------------------------------------

MappedImage::MappedImage(void *handle) {
  link_map *map = nullptr;
  if (handle == nullptr || ::dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr) return;
  struct Search {
    const link_map *map;
    std::vector<Range> *ranges;
  } search{map, &ranges_};
  ::dl_iterate_phdr(
      [](dl_phdr_info *info, std::size_t /*size*/, void *data) {
        auto &s = *static_cast<Search *>(data);
        if (info->dlpi_addr != s.map->l_addr || info->dlpi_name == nullptr ||
            std::strcmp(info->dlpi_name, s.map->l_name) != 0) {
          return 0;
        }
        for (int i = 0; i < info->dlpi_phnum; ++i) {
          const ElfW(Phdr) &segment = info->dlpi_phdr[i];
          if (segment.p_type != PT_LOAD) continue;
          const uintptr_t begin = info->dlpi_addr + segment.p_vaddr;
          s.ranges->push_back({begin, begin + segment.p_memsz, (segment.p_flags & PF_R) != 0,
                               (segment.p_flags & PF_X) != 0});
        }
        return 1;
      },
      &search);
}

const MappedImage::Range *MappedImage::rangeOf(const void *address) const {
  const auto at = reinterpret_cast<uintptr_t>(address);
  for (const Range &range : ranges_) {
    if (at >= range.begin && at < range.end) return &range;
  }
  return nullptr;
}

bool MappedImage::readable(const void *address, std::size_t size) const {
  const Range *range = rangeOf(address);
  return range != nullptr && range->read &&
         size <= range->end - reinterpret_cast<uintptr_t>(address);
}

bool MappedImage::executable(const void *address) const {
  const Range *range = rangeOf(address);
  return range != nullptr && range->execute;
}

bool MappedImage::terminatedString(const char *text) const {
  const Range *range = rangeOf(text);
  if (range == nullptr || !range->read) return false;
  const auto available = range->end - reinterpret_cast<uintptr_t>(text);
  return std::memchr(text, '\0', available) != nullptr;
}

// ---- the descriptor --------------------------------------------------------

namespace {

std::string tagListProblem(const ServerTagInfo *tags, const MappedImage &image, int maxRecords) {
  for (int i = 0;; ++i) {
    if (i == maxRecords) return "has no closing entry";
    if (!image.readable(&tags[i], sizeof tags[i])) return "runs outside the module";
    if (tags[i].string == nullptr && tags[i].tag == 0) return "";
    if (tags[i].string != nullptr && !image.terminatedString(tags[i].string)) {
      return "has a text outside the module";
    }
  }
}

std::string serverProblem(const ServerRecord &server, const MappedImage &image, int maxRecords) {
  for (const char *text : {server.className, server.name}) {
    if (text != nullptr && !image.terminatedString(text)) return "has a name outside the module";
  }
  if (server.activate != nullptr &&
      !image.executable(reinterpret_cast<const void *>(server.activate))) {
    return "has an activate routine outside the module's code";
  }
  if (server.tagInfo == nullptr) return "";
  const std::string tags = tagListProblem(server.tagInfo, image, maxRecords);
  return tags.empty() ? "" : "has a tag list that " + tags;
}

}  // namespace

std::string descriptorProblem(const ModuleDescriptor &descriptor, const MappedImage &image,
                              int maxRecords) {
  if (!image.readable(&descriptor, sizeof descriptor)) return "_mod_descrip is cut short";
  if (descriptor.sysSync != MODULE_SYNC_CODE) {
    return "_mod_descrip has the synchronisation code " + hex(descriptor.sysSync) + ", not " +
           hex(MODULE_SYNC_CODE);
  }
  if (descriptor.startup == nullptr) return "_mod_descrip has no startup routine";
  if (!image.executable(reinterpret_cast<const void *>(descriptor.startup)) ||
      (descriptor.shutdown != nullptr &&
       !image.executable(reinterpret_cast<const void *>(descriptor.shutdown)))) {
    return "_mod_descrip has a routine outside the module's code";
  }
  const ServerRecord *servers = descriptor.serverDefs;
  for (int i = 0; servers != nullptr; ++i) {
    if (i == maxRecords) return "the server list has no closing all-null record";
    if (!image.readable(&servers[i], sizeof servers[i])) {
      return "the server list runs outside the module";
    }
    if (isEndRecord(servers[i])) break;
    const std::string problem = serverProblem(servers[i], image, maxRecords);
    if (!problem.empty()) return "server " + std::to_string(i + 1) + " " + problem;
  }
  return "";
}

}  // namespace hostsim
