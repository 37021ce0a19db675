// The one record the host reads from the module file, and the servers it
// lists: each node is a pair, its handler (the node itself) and its
// interface (the node's panel).
#include "host/module.h"
#include "module/servers.h"

namespace {

constexpr uint32_t kSyncCode = 0x04121994;
constexpr uint32_t kModuleProtocolVersion = 3;
constexpr uint32_t kMachineCode = 0x300;
// The node editor lists a node under the group its tag names.
constexpr uint32_t kTagDisplayName = 0;
constexpr uint32_t kTagNodeGroup = 0x70000;

// The host wants a non-null handle and gives it back at shut-down; the
// module keeps no state that needs one.
void *startModule() { return reinterpret_cast<void *>(4); }
void stopModule(void * /*moduleHandle*/) {}

ServerTagInfo singleTags[] = {
    {"Kerrowbend", kTagDisplayName},
    {"/Tools", kTagNodeGroup},
    {nullptr, 0},
};

ServerTagInfo multiTags[] = {
    {"KerrowbendMulti", kTagDisplayName},
    {"/Tools", kTagNodeGroup},
    {nullptr, 0},
};

ServerRecord servers[] = {
    {"NodeHandler", "Kerrowbend", kerrowbend::activateSingleHandler, singleTags},
    {"NodeInterface", "Kerrowbend", kerrowbend::activateSingleInterface, singleTags},
    {"NodeHandler", "KerrowbendMulti", kerrowbend::activateMultiHandler, multiTags},
    {"NodeInterface", "KerrowbendMulti", kerrowbend::activateMultiInterface, multiTags},
    {nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

// The host finds the module by this name; it is the module's only export.
extern "C" {
// NOLINTNEXTLINE(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
__attribute__((visibility("default"))) ModuleDescriptor _mod_descrip = {
    kSyncCode, kModuleProtocolVersion, kMachineCode, startModule, stopModule, servers,
};
}
