/* Node services: the node's own table, its inputs and its outputs, each
 * under its current name or an older one of the same layout. Each table may have further fields
 * after the listed ones; the module never touches them. */
#ifndef KERROWBEND_HOST_NODE_IO_H
#define KERROWBEND_HOST_NODE_IO_H

#include "host/handler.h"
#include "host/types.h"

#ifdef __cplusplus
extern "C" {
#endif

#define NODE_FUNCS_SERVICE "NodeFuncs"
#define NODE_INPUT_FUNCS_SERVICE "NodeInputFuncs 3"
#define NODE_INPUT_FUNCS_SERVICE_2 "NodeInputFuncs 2"
#define NODE_OUTPUT_FUNCS_SERVICE "NodeOutputFuncs 2"
#define NODE_OUTPUT_FUNCS_SERVICE_1 "NodeOutputFuncs"

/* setPreviewType's type for a node whose output is a normal. */
enum { NODE_PREVIEW_NORMAL = 2 };

typedef struct NodeFuncs {
  /* The node's name as the user sees it; the host owns the text. */
  const char *(*nodeName)(NodeId node);
  /* Chooses how the node editor previews the node. [main-thread] */
  void (*setPreviewType)(NodeId node, int type);
} NodeFuncs;

/* Called by the host when something happens to an input (a connection is
 * made or broken); instance is the instance of the node owning the input.
 * [main-thread] */
typedef int (*InputEventFunc)(void *instance, InputId input, int event, int connectionType);

typedef struct NodeInputFuncs {
  /* Adds an input connector to a node; the host copies the name. [main-thread] */
  InputId (*create)(NodeId node, int connectionType, const char *name, InputEventFunc event);
  /* Removes an input connector. [main-thread] */
  void (*destroy)(NodeId node, InputId input);
  /* Evaluates what is plugged into an input at a spot; value is double[3]
   * for a vector input, one double for a scalar. [thread-safe] */
  int (*evaluate)(InputId input, NodalAccess *na, void *value);
  /* Non-zero when the input is connected. [thread-safe] */
  int (*check)(InputId input);
} NodeInputFuncs;

typedef struct NodeOutputFuncs {
  /* Adds an output connector; the host copies the name. [main-thread] */
  OutputId (*create)(NodeId node, int connectionType, const char *name);
  /* Removes an output connector. [main-thread] */
  void (*destroy)(NodeId node, OutputId output);
  /* Hands the result of an evaluation to the host; data is double[3] for a
   * vector output. [thread-safe] */
  void (*setValue)(NodeValue value, void *data);
} NodeOutputFuncs;

HOST_LAYOUT_CHECK(offsetof(NodeFuncs, setPreviewType) == 8);
HOST_LAYOUT_CHECK(offsetof(NodeInputFuncs, destroy) == 8);
HOST_LAYOUT_CHECK(offsetof(NodeInputFuncs, evaluate) == 16);
HOST_LAYOUT_CHECK(offsetof(NodeInputFuncs, check) == 24);
HOST_LAYOUT_CHECK(offsetof(NodeOutputFuncs, destroy) == 8);
HOST_LAYOUT_CHECK(offsetof(NodeOutputFuncs, setValue) == 16);

#ifdef __cplusplus
}
#endif

#endif
