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

/* The descriptor's identification: a host loads only a module whose
 * descriptor carries this synchronisation code, system version and the code
 * of the machine the host runs on. */
#define MODULE_SYNC_CODE 0x04121994u
#define MODULE_SYSTEM_VERSION 3u
#define MODULE_MACHINE_CODE 0x300u

/* Server classes: the node itself, and its panel. */
#define SERVER_CLASS_NODE_HANDLER "NodeHandler"
#define SERVER_CLASS_NODE_INTERFACE "NodeInterface"

/* Server tags: the name the user sees, and the node editor group the node
 * is listed under ("/Tools"). */
#define SERVER_TAG_DISPLAY_NAME 0u
#define SERVER_TAG_NODE_GROUP 0x70000u

/* Results of an activation routine. */
enum {
  ACTIVATE_OK = 0,
  ACTIVATE_BAD_VERSION = 1,     /* the class's version is one the server does not know */
  ACTIVATE_MISSING_SERVICE = 2, /* the host lacks a service the server needs */
  ACTIVATE_MISSING_RECORD = 3,  /* local is null or has no table to fill */
};

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
  const char *className; /* SERVER_CLASS_NODE_HANDLER or SERVER_CLASS_NODE_INTERFACE */
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
