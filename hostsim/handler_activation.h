// What the simulated host keeps of one handler activation: the NodeHandler
// record it handed the module and the tables the record points to. The
// host keeps every activation's record alive (at a fixed address) until it
// is destroyed, since the module may hold on to the tables it filled.
#ifndef KERROWBEND_HOSTSIM_HANDLER_ACTIVATION_H
#define KERROWBEND_HOSTSIM_HANDLER_ACTIVATION_H

#include <cstdint>
#include <string>

#include "host/handler.h"

namespace hostsim {

// How the host sets up a NodeHandler before activating. The pre-filled
// entries let a test check that the module leaves the host's own entries
// (describe, preview, flags, ...) exactly as given.
struct HandlerOptions {
  bool itemTable = true;    // offer an ItemFuncs table (else record.item is null)
  bool renderTable = true;  // offer a RenderFuncs table (else record.rend is null)
  InstanceFuncs instance{};
  ItemFuncs items{};
  RenderFuncs render{};
  EvaluateFunc evaluate = nullptr;
  void *preview = nullptr;
  uint32_t flags = 0;
  void *serverData = nullptr;  // the activation's last argument
  // The lookup routine handed to this activation (Host::global(routine)),
  // so a test can tell which activation's routine a later lookup went
  // through.
  int routine = 0;
};

struct HandlerActivation {
  std::string server;
  int version = 0;
  int routine = 0;  // the lookup routine it was handed
  int result = -1;  // what the activation returned
  NodeHandler record{};
  InstanceFuncs instance{};
  ItemFuncs items{};
  RenderFuncs render{};
};

}  // namespace hostsim

#endif
