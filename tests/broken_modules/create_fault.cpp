// The module whose single node cannot be placed: its create writes
// through a pointer it never got or, built with CREATE_HANG, never
// returns (sleeping, to spare the machine while the test waits).
#include <unistd.h>

#include "single_node/instance.h"

#ifndef CREATE_HANG
namespace {
// volatile: the compiler may not see that it stays null and drop the write.
int *volatile missingTable = nullptr;
}  // namespace
#endif

// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
extern "C" void *__real_createDragInstance(void *priv, NodeId node, Error *error);

extern "C" void *__wrap_createDragInstance(void *priv, NodeId node, Error *error) {
#ifdef CREATE_HANG
  for (;;) ::pause();
#else
  *missingTable = 1;
#endif
  return __real_createDragInstance(priv, node, error);
}
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
