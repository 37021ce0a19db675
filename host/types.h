/* Scalars and handles shared by every host table.
 *
 * The host hands the module opaque handles for its own objects; the module
 * never looks inside them, only compares them and passes them back. A null
 * handle always means "none". */
#ifndef KERROWBEND_HOST_TYPES_H
#define KERROWBEND_HOST_TYPES_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The host's global lookup routine: gives the service table registered under
 * serviceName, or null when the host has none. The module always passes
 * useMode 0. [thread-safe]: evaluation looks services up on render threads. */
typedef void *(*GlobalFunc)(const char *serviceName, int useMode);

/* An error text handed back to the host; null means no error. */
typedef const char *Error;

typedef struct HostItem *ItemId;     /* a scene item (object, light, ...) */
typedef struct HostNode *NodeId;     /* a node placed in a node network */
typedef struct HostInput *InputId;   /* one input connector of a node */
typedef struct HostOutput *OutputId; /* one output connector of a node */
typedef struct HostPanel *PanelId;   /* a panel made by the panel service */
typedef struct HostVMap *VMapId;     /* a vertex map of a mesh */
typedef struct HostPoint *PointId;   /* a mesh point */
typedef struct HostValue *NodeValue; /* where an output value is to go */

/* Four-character identifier, first letter in the most significant byte. */
typedef uint32_t BlockId;

/* Connection types of node inputs and outputs. */
enum { CONNECTION_SCALAR = 2, CONNECTION_VECTOR = 3 };

#ifdef __cplusplus
#define HOST_LAYOUT_CHECK(cond) static_assert(cond, #cond)
#else
#define HOST_LAYOUT_CHECK(cond) _Static_assert(cond, #cond)
#endif

#ifdef __cplusplus
}
#endif

#endif
