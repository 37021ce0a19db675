// A module file whose descriptor is what is wrong, for the error paths of
// loading. Its one server does nothing: a host must refuse the file before
// it activates anything. The fault is chosen when it is compiled:
//   BARE_NO_DESCRIPTOR     the record is exported under a misspelt name
//   BARE_WRONG_SYNC        the synchronisation code has its bytes swapped
//   BARE_UNCLOSED_SERVERS  the server list lacks its closing record
#include "host/module.h"

namespace {

void *startModule() { return reinterpret_cast<void *>(4); }
void stopModule(void * /*moduleHandle*/) {}
int activateNothing(int /*version*/, GlobalFunc /*global*/, void * /*local*/,
                    void * /*serverData*/) {
  return ACTIVATE_BAD_VERSION;
}

ServerTagInfo tags[] = {{"Bare", SERVER_TAG_DISPLAY_NAME}, {nullptr, 0}};

#if defined(BARE_UNCLOSED_SERVERS)
// The list and what follows it in one record, so that what a host reads
// past the list's end is the same in every build: texts where a record
// would have its activate routine.
struct {
  ServerRecord list[1];
  const char *after[4];
} servers = {{{SERVER_CLASS_NODE_HANDLER, "Bare", activateNothing, tags}},
             {"not", "a", "server", "record"}};
constexpr ServerRecord *serverList = servers.list;
#else
ServerRecord serverList[] = {
    {SERVER_CLASS_NODE_HANDLER, "Bare", activateNothing, tags},
    {nullptr, nullptr, nullptr, nullptr},
};
#endif

#if defined(BARE_WRONG_SYNC)
constexpr uint32_t kSyncCode = __builtin_bswap32(MODULE_SYNC_CODE);
#else
constexpr uint32_t kSyncCode = MODULE_SYNC_CODE;
#endif

}  // namespace

extern "C" {
// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
#if defined(BARE_NO_DESCRIPTOR)
__attribute__((visibility("default"))) ModuleDescriptor _mod_descriptor = {
#else
__attribute__((visibility("default"))) ModuleDescriptor _mod_descrip = {
#endif
    kSyncCode, MODULE_SYSTEM_VERSION, MODULE_MACHINE_CODE, startModule, stopModule, serverList,
};
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
}
