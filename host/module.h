/* The module's entry record and its server list.
 *
 * The host loads the module file, reads the one exported record
 * `_mod_descrip`, calls startup, and activates servers from the list by
 * class and name. All of it happens on the host's main thread. */
#ifndef KERROWBEND_HOST_MODULE_H
#define KERROWBEND_HOST_MODULE_H

#include "host/types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One (text, tag) pair describing a server; lists end with {null, 0}. */
typedef struct ServerTagInfo {
  const char *string;
  uint32_t tag;
} ServerTagInfo;

/* Activation routine of a server. local is the class's record (a
 * NodeHandler for "NodeHandler", an InterfaceRecord for "NodeInterface");
 * the result is 0 for success or a failure code. */
typedef int (*ActivateFunc)(int version, GlobalFunc global, void *local, void *serverData);

/* One server the module offers; the list ends with a record of all nulls. */
typedef struct ServerRecord {
  const char *className; /* "NodeHandler" or "NodeInterface" */
  const char *name;      /* the server's name, as the user sees it */
  ActivateFunc activate; /* called by the host for each activation */
  ServerTagInfo *tagInfo;
} ServerRecord;

/* The exported record. */
typedef struct ModuleDescriptor {
  uint32_t sysSync;    /* synchronisation code the host checks */
  uint32_t sysVersion; /* version of the module protocol */
  uint32_t sysMachine; /* machine code */
  /* Called once after loading; gives a non-null module handle. */
  void *(*startup)(void);
  /* Called once before unloading, with the handle startup gave. */
  void (*shutdown)(void *moduleHandle);
  ServerRecord *serverDefs;
} ModuleDescriptor;

HOST_LAYOUT_CHECK(offsetof(ServerTagInfo, tag) == 8 && sizeof(ServerTagInfo) == 16);
HOST_LAYOUT_CHECK(offsetof(ServerRecord, name) == 8);
HOST_LAYOUT_CHECK(offsetof(ServerRecord, activate) == 16);
HOST_LAYOUT_CHECK(offsetof(ServerRecord, tagInfo) == 24 && sizeof(ServerRecord) == 32);
HOST_LAYOUT_CHECK(offsetof(ModuleDescriptor, sysVersion) == 4);
HOST_LAYOUT_CHECK(offsetof(ModuleDescriptor, sysMachine) == 8);
HOST_LAYOUT_CHECK(offsetof(ModuleDescriptor, startup) == 16);
HOST_LAYOUT_CHECK(offsetof(ModuleDescriptor, shutdown) == 24);
HOST_LAYOUT_CHECK(offsetof(ModuleDescriptor, serverDefs) == 32);
HOST_LAYOUT_CHECK(sizeof(ModuleDescriptor) == 40);

#ifdef __cplusplus
}
#endif

#endif
