// The heap counter as validate reaches it. The tool never links the
// counter: resources/memory-balance runs in a process of the tool's own
// with the counter library preloaded, and finds the counter's entry points
// there by name. Anywhere else the counter is not available.
#ifndef KERROWBEND_TOOLS_VALIDATE_HEAP_H
#define KERROWBEND_TOOLS_VALIDATE_HEAP_H

#include <optional>
#include <string>
#include <vector>

namespace kerrowbend_host {

// Blocks allocated and not yet freed, process-wide, when the counter is
// loaded in this process; none otherwise.
std::optional<long> heapBlocksInUse();

// The counter library beside the running tool. Throws CheckSkipped saying
// why when there is none to preload: a sanitizer build, or a tool without
// the library beside it, as installed.
std::string heapCounterLibrary();

// What a run of this tool, with arguments and the counter preloaded,
// wrote on stdout, and its wait status.
struct CountedRun {
  std::string out;
  int status = 0;
};
// The run ends with the calling process: it is killed if that process dies.
// Throws std::runtime_error when it cannot be started.
CountedRun runToolWithHeapCounter(const std::string &library,
                                  const std::vector<std::string> &arguments);

}  // namespace kerrowbend_host

#endif
