/* The node handler: the records through which a node's instances live.
 *
 * A "NodeHandler" activation receives a NodeHandler whose tables the module
 * fills with its callbacks. A "NodeInterface" activation receives an
 * InterfaceRecord and hands back the instance's panel. */
#ifndef KERROWBEND_HOST_HANDLER_H
#define KERROWBEND_HOST_HANDLER_H

#include "host/blocks.h"
#include "host/types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Class versions a server accepts: a handler takes the current version or
 * the one before it, an interface only its own. */
enum { NODE_HANDLER_VERSION_PREVIOUS = 2, NODE_HANDLER_VERSION = 3 };
enum { NODE_INTERFACE_VERSION = 4 };

/* The shaded spot, filled by the host for each evaluation. Read only to the
 * module; a host may append further fields. */
typedef struct NodalAccess {
  double wNorm[3];  /* the spot's world normal */
  ItemId objId;     /* the object item being shaded */
  PointId verts[4]; /* the polygon's vertex points; null where absent */
  float weights[4]; /* barycentric weights of those points */
} NodalAccess;

/* Instance callbacks, all called from the host's main thread. */
typedef struct InstanceFuncs {
  /* The module stores the activation's GlobalFunc here; the host hands it
   * back to create. */
  void *priv;
  /* Makes an instance for a newly placed node; on failure gives null and
   * sets *error. */
  void *(*create)(void *priv, NodeId node, Error *error);
  /* Releases an instance; the host destroys the node's connectors itself. */
  void (*destroy)(void *instance);
  /* Copies the settings of one instance into another. */
  Error (*copy)(void *to, void *from);
  /* Reads the instance's settings from scene data. */
  Error (*load)(void *instance, const LoadState *state);
  /* Writes the instance's settings to scene data. */
  Error (*save)(void *instance, const SaveState *state);
  /* The host's; the module never writes it. */
  const char *(*describe)(void *instance);
} InstanceFuncs;

/* Item callbacks, called from the main thread. */
typedef struct ItemFuncs {
  /* The scene items the instance depends on, ended by null; or null. */
  const ItemId *(*useItems)(void *instance);
  /* Tells the instance that item ids have changed. */
  void (*changeId)(void *instance, const ItemId *ids);
} ItemFuncs;

/* Render callbacks, called from the main thread around rendering. */
typedef struct RenderFuncs {
  Error (*init)(void *instance, int mode);
  void (*cleanup)(void *instance);
  /* Called before each new frame or time is rendered. */
  Error (*newTime)(void *instance, int frame, double time);
} RenderFuncs;

/* Output evaluation. [thread-safe]: called for every shaded spot, from many
 * render threads at once. */
typedef void (*EvaluateFunc)(void *instance, NodalAccess *na, OutputId output, NodeValue value);

/* local of a "NodeHandler" activation. */
typedef struct NodeHandler {
  InstanceFuncs *inst;
  ItemFuncs *item;   /* null when the host offers no item table */
  RenderFuncs *rend; /* null when the host offers no render table */
  EvaluateFunc evaluate;
  void *preview;  /* the host's; the module never writes it */
  uint32_t flags; /* the host's; the module never writes it */
} NodeHandler;

/* local of a "NodeInterface" activation. */
typedef struct InterfaceRecord {
  void *inst;                      /* the instance whose panel is wanted */
  PanelId panel;                   /* set by the module: the instance's panel, or null */
  void (*options)(void *instance); /* set by the module */
  Error (*command)(void *instance, const char *command); /* set by the module */
} InterfaceRecord;

HOST_LAYOUT_CHECK(offsetof(NodalAccess, objId) == 24);
HOST_LAYOUT_CHECK(offsetof(NodalAccess, verts) == 32);
HOST_LAYOUT_CHECK(offsetof(NodalAccess, weights) == 64 && sizeof(NodalAccess) == 80);
HOST_LAYOUT_CHECK(offsetof(InstanceFuncs, create) == 8);
HOST_LAYOUT_CHECK(offsetof(InstanceFuncs, destroy) == 16);
HOST_LAYOUT_CHECK(offsetof(InstanceFuncs, copy) == 24);
HOST_LAYOUT_CHECK(offsetof(InstanceFuncs, load) == 32);
HOST_LAYOUT_CHECK(offsetof(InstanceFuncs, save) == 40);
HOST_LAYOUT_CHECK(offsetof(InstanceFuncs, describe) == 48 && sizeof(InstanceFuncs) == 56);
HOST_LAYOUT_CHECK(offsetof(ItemFuncs, changeId) == 8 && sizeof(ItemFuncs) == 16);
HOST_LAYOUT_CHECK(offsetof(RenderFuncs, cleanup) == 8);
HOST_LAYOUT_CHECK(offsetof(RenderFuncs, newTime) == 16 && sizeof(RenderFuncs) == 24);
HOST_LAYOUT_CHECK(offsetof(NodeHandler, item) == 8);
HOST_LAYOUT_CHECK(offsetof(NodeHandler, rend) == 16);
HOST_LAYOUT_CHECK(offsetof(NodeHandler, evaluate) == 24);
HOST_LAYOUT_CHECK(offsetof(NodeHandler, preview) == 32);
HOST_LAYOUT_CHECK(offsetof(NodeHandler, flags) == 40 && sizeof(NodeHandler) == 48);
HOST_LAYOUT_CHECK(offsetof(InterfaceRecord, panel) == 8);
HOST_LAYOUT_CHECK(offsetof(InterfaceRecord, options) == 16);
HOST_LAYOUT_CHECK(offsetof(InterfaceRecord, command) == 24 && sizeof(InterfaceRecord) == 32);

#ifdef __cplusplus
}
#endif

#endif
