// The module with a load that insists on finding the invert block: in scene
// data without one it asks the host for the next block forever.
#include "single_node/instance.h"

namespace {

constexpr BlockId kInvertBlock = 0x494E5654;  // INVT
const BlockIdent kInvertOnly[] = {{kInvertBlock, "Invert"}, {0, nullptr}};

// The host's load state, seen through a wrapper that notes whether the
// module's own load met the invert block.
struct Watch {
  const LoadState *state;
  bool sawInvert;
};

int watchReadI4(void *data, int32_t *values, int count) {
  const LoadState &state = *static_cast<Watch *>(data)->state;
  return state.readI4(state.readData, values, count);
}

int watchReadStr(void *data, char *buffer, int max) {
  const LoadState &state = *static_cast<Watch *>(data)->state;
  return state.readStr(state.readData, buffer, max);
}

BlockId watchFindBlk(void *data, const BlockIdent *list) {
  auto &watch = *static_cast<Watch *>(data);
  const BlockId id = watch.state->findBlk(watch.state->readData, list);
  if (id == kInvertBlock) watch.sawInvert = true;
  return id;
}

void watchEndBlk(void *data) {
  const LoadState &state = *static_cast<Watch *>(data)->state;
  state.endBlk(state.readData);
}

}  // namespace

// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
extern "C" Error __real_loadDragInstance(void *instance, const LoadState *state);

extern "C" Error __wrap_loadDragInstance(void *instance, const LoadState *state) {
  if (state == nullptr) return __real_loadDragInstance(instance, state);
  Watch watch{state, false};
  const LoadState watched{state->ioMode, &watch,       watchReadI4,
                          watchReadStr,  watchFindBlk, watchEndBlk};
  const Error error = __real_loadDragInstance(instance, &watched);
  while (!watch.sawInvert) {
    if (watchFindBlk(&watch, kInvertOnly) != 0) watchEndBlk(&watch);
  }
  return error;
}
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
