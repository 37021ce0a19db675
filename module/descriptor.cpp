// The one record the host reads from the module file, and the servers it
// lists: each node is a pair, its handler (the node itself) and its
// interface (the node's panel).
#include "host/module.h"
#include "module/servers.h"

namespace {

// The host wants a non-null handle and gives it back at shut-down; the
// module keeps no state that needs one.
void *startModule() { return reinterpret_cast<void *>(4); }
void stopModule(void * /*moduleHandle*/) {}

ServerTagInfo singleTags[] = {
    {"Kerrowbend", SERVER_TAG_DISPLAY_NAME},
    {"/Tools", SERVER_TAG_NODE_GROUP},
    {nullptr, 0},
};

ServerTagInfo multiTags[] = {
    {"KerrowbendMulti", SERVER_TAG_DISPLAY_NAME},
    {"/Tools", SERVER_TAG_NODE_GROUP},
    {nullptr, 0},
};

ServerRecord servers[] = {
    {SERVER_CLASS_NODE_HANDLER, "Kerrowbend", kerrowbend::activateSingleHandler, singleTags},
    {SERVER_CLASS_NODE_INTERFACE, "Kerrowbend", kerrowbend::activateSingleInterface, singleTags},
    {SERVER_CLASS_NODE_HANDLER, "KerrowbendMulti", kerrowbend::activateMultiHandler, multiTags},
    {SERVER_CLASS_NODE_INTERFACE, "KerrowbendMulti", kerrowbend::activateMultiInterface, multiTags},
    {nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

// The host finds the module by this name; it is the module's only export.
extern "C" {
// NOLINTNEXTLINE(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
__attribute__((visibility("default"))) ModuleDescriptor _mod_descrip = {
    MODULE_SYNC_CODE, MODULE_SYSTEM_VERSION, MODULE_MACHINE_CODE, startModule, stopModule, servers,
};
}
