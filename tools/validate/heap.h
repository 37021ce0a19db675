// The heap blocks in use in this process, for resources/memory-balance.
// Counted by taking the place of the C allocator's entry points, which only
// a build without sanitizers can do: theirs own the allocator.
#ifndef KERROWBEND_TOOLS_VALIDATE_HEAP_H
#define KERROWBEND_TOOLS_VALIDATE_HEAP_H

#include <optional>

namespace kerrowbend_host {

// Blocks allocated and not yet released, process-wide; none in a build
// that cannot count them.
std::optional<long> heapBlocksInUse();

}  // namespace kerrowbend_host

#endif
