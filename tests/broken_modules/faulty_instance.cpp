// The module with one of its instance routines wrapped in a fault, chosen
// when it is compiled:
//   ACCEPTS_VERSION_4     the single node's handler takes version 4 for 3
//   ACCEPTS_INTERFACE_3   the single node's interface takes version 3 for 4
//   HIDES_MISSING_SERVICE the single node's handler gives 0 where a required
//                         service is missing
//   LOADS_PAST_FIELD      the single node's load lets a stored name run on
//                         past its 260-byte field
//   ANSWERS_UNKNOWN_IDS   both panels' get gives an address for any id
//   IGNORES_LOADED_COUNT  the multi node's load leaves its stage count be
//   REMAKES_STAGE_ONE     growing the stages makes every stage's inputs
//                         anew, so stage 1 loses its connections
//   DESTROYS_TWICE        shrinking the stages destroys each removed
//                         input twice
//   KEEPS_REFERENCE       a new time with no Reference Object named keeps
//                         the object found before
//   LEAKS_ONE_PANEL       the first single node destroyed leaves its panel
//   LEAKS_ON_DESTROY      a single node destroyed keeps its record
//   SAVES_NOTHING         the single node's save writes no block, so a
//                         scene file reloads it as a new node
//   NO_STAGE_LIMIT        the multi node makes as many stages as a loaded or
//                         edited count asks for, past the limit
//   WRONG_CREATE_TEXT     a create refused its memory reports "Could not
//                         allocate memory for the instance."
//   CRASHES_WITHOUT_LIST  the multi node reads through its stage list when
//                         the memory for it was refused
//   FREED_SLOT_UNUSED     a stage slot freed is never taken again, so each
//                         shrink and grow enlarges the list
//   CLEARS_ITEM_FLAG      the multi node's handler activation clears the
//                         item-table flag a moment before it sets it again,
//                         so spots shaded meanwhile pass through
//   FILLS_REFUSED_RECORD  the multi node's handler activation stores the
//                         lookup routine in the instance table before it
//                         tests the services, so one that gives 2 has
//                         written the host's record
//   REWRITES_INTERFACE    the single node's interface activation writes
//                         the record whole, clearing the host's instance
//                         entry
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "host/handler.h"
#include "host/module.h"
#include "module/callbacks.h"
#include "module/host_services.h"
#include "module/panel_build.h"
#include "multi_node/instance.h"
#include "single_node/instance.h"

using namespace kerrowbend;

// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
#if defined(ACCEPTS_VERSION_4)
extern "C" int __real_activateSingleHandler(int version, GlobalFunc global, void *local,
                                            void *serverData);
extern "C" int __wrap_activateSingleHandler(int version, GlobalFunc global, void *local,
                                            void *serverData) {
  return __real_activateSingleHandler(version == 4 ? 3 : version, global, local, serverData);
}

#elif defined(FILLS_REFUSED_RECORD)
extern "C" int __real_activateMultiHandler(int version, GlobalFunc global, void *local,
                                           void *serverData);
extern "C" int __wrap_activateMultiHandler(int version, GlobalFunc global, void *local,
                                           void *serverData) {
  const int result = __real_activateMultiHandler(version, global, local, serverData);
  auto *handler = static_cast<NodeHandler *>(local);
  if (result == ACTIVATE_MISSING_SERVICE && handler != nullptr && handler->inst != nullptr) {
    handler->inst->priv = reinterpret_cast<void *>(global);
  }
  return result;
}

#elif defined(REWRITES_INTERFACE)
extern "C" int __real_activateSingleInterface(int version, GlobalFunc global, void *local,
                                              void *serverData);
extern "C" int __wrap_activateSingleInterface(int version, GlobalFunc global, void *local,
                                              void *serverData) {
  const int result = __real_activateSingleInterface(version, global, local, serverData);
  auto *record = static_cast<InterfaceRecord *>(local);
  if (result == ACTIVATE_OK) *record = InterfaceRecord{nullptr, record->panel, nullptr, nullptr};
  return result;
}

#elif defined(HIDES_MISSING_SERVICE)
extern "C" int __real_activateSingleHandler(int version, GlobalFunc global, void *local,
                                            void *serverData);
extern "C" int __wrap_activateSingleHandler(int version, GlobalFunc global, void *local,
                                            void *serverData) {
  const int result = __real_activateSingleHandler(version, global, local, serverData);
  return result == 2 ? 0 : result;
}

#elif defined(ACCEPTS_INTERFACE_3)
extern "C" int __real_activateSingleInterface(int version, GlobalFunc global, void *local,
                                              void *serverData);
extern "C" int __wrap_activateSingleInterface(int version, GlobalFunc global, void *local,
                                              void *serverData) {
  return __real_activateSingleInterface(version == 3 ? 4 : version, global, local, serverData);
}

#elif defined(LOADS_PAST_FIELD)
namespace {
const LoadState *hostState;
int readLong(void *data, char *buffer, int max) {
  return hostState->readStr(data, buffer, max * 16);
}
}  // namespace
extern "C" Error __real_loadDragInstance(void *instance, const LoadState *state);
extern "C" Error __wrap_loadDragInstance(void *instance, const LoadState *state) {
  if (state == nullptr) return __real_loadDragInstance(instance, state);
  hostState = state;
  const LoadState longer = {state->ioMode, state->readData, state->readI4,
                            readLong,      state->findBlk,  state->endBlk};
  return __real_loadDragInstance(instance, &longer);
}

#elif defined(ANSWERS_UNKNOWN_IDS)
namespace {
PanelGetFunc knownGet[2];
int spare;
template <int Node>
void *getAny(void *instance, uint32_t vid) {
  void *known = knownGet[Node](instance, vid);
  return known != nullptr || instance == nullptr ? known : &spare;
}
}  // namespace
// kerrowbend::buildNodePanel(PanelId &, void *, NodeId, const PanelLayout &,
// void *const *, std::size_t), by its linker name.
extern "C" PanelId
__real__ZN10kerrowbend14buildNodePanelERP9HostPanelPvP8HostNodeRKNS_11PanelLayoutEPKS3_m(
    PanelId &panel, void *instance, NodeId node, const PanelLayout &layout, void *const *hints,
    std::size_t count);
extern "C" PanelId
__wrap__ZN10kerrowbend14buildNodePanelERP9HostPanelPvP8HostNodeRKNS_11PanelLayoutEPKS3_m(
    PanelId &panel, void *instance, NodeId node, const PanelLayout &layout, void *const *hints,
    std::size_t count) {
  // The single node's data table has three values, the multi node's one.
  const int which = layout.data[1].vid != 0 ? 0 : 1;
  knownGet[which] = layout.get;
  const PanelLayout loose = {layout.controls, layout.data, which == 0 ? getAny<0> : getAny<1>,
                             layout.set};
  return __real__ZN10kerrowbend14buildNodePanelERP9HostPanelPvP8HostNodeRKNS_11PanelLayoutEPKS3_m(
      panel, instance, node, loose, hints, count);
}

#elif defined(IGNORES_LOADED_COUNT)
extern "C" Error __real_loadMultiInstance(void *instance, const LoadState *state);
extern "C" Error __wrap_loadMultiInstance(void *instance, const LoadState *state) {
  auto *inst = static_cast<MultiDragInstance *>(instance);
  const int32_t kept = inst != nullptr ? inst->inputCount : 0;
  const Error error = __real_loadMultiInstance(instance, state);
  if (inst != nullptr) {
    inst->inputCount = kept;
    inst->stages = resizeInputs(*inst, inst->stages, kept);
  }
  return error;
}

#elif defined(NO_STAGE_LIMIT)
// kerrowbend::resizeInputs(const MultiDragInstance &, SlotList *, int32_t),
// by its linker name: up to the limit the module's own, past it stages made
// as the module makes them, without end.
extern "C" SlotList *__real__ZN10kerrowbend12resizeInputsERKNS_17MultiDragInstanceEPNS_8SlotListEi(
    const MultiDragInstance &inst, SlotList *stages, int32_t n);
extern "C" SlotList *__wrap__ZN10kerrowbend12resizeInputsERKNS_17MultiDragInstanceEPNS_8SlotListEi(
    const MultiDragInstance &inst, SlotList *stages, int32_t n) {
  stages = __real__ZN10kerrowbend12resizeInputsERKNS_17MultiDragInstanceEPNS_8SlotListEi(inst,
                                                                                         stages, n);
  while (stages != nullptr && stages->count < n) {
    auto *stage = static_cast<InputPair *>(std::calloc(1, sizeof(InputPair)));
    if (stage == nullptr) break;
    char name[64];
    std::snprintf(name, sizeof name, "Reference Normal %d", static_cast<int>(stages->count + 1));
    stage->referenceInput = hostServices.inputFuncs->create(inst.node, CONNECTION_VECTOR, name,
                                                            refreshPanelOnInputEvent);
    std::snprintf(name, sizeof name, "Weight %d", static_cast<int>(stages->count + 1));
    stage->weightInput = hostServices.inputFuncs->create(inst.node, CONNECTION_SCALAR, name,
                                                         refreshPanelOnInputEvent);
    append(stages, stage);
  }
  return stages;
}

#elif defined(WRONG_CREATE_TEXT)
extern "C" void *__real_createDragInstance(void *priv, NodeId node, Error *error);
extern "C" void *__wrap_createDragInstance(void *priv, NodeId node, Error *error) {
  void *inst = __real_createDragInstance(priv, node, error);
  if (inst == nullptr && error != nullptr && *error != nullptr) {
    *error = "Could not allocate memory for the instance.";
  }
  return inst;
}

#elif defined(CRASHES_WITHOUT_LIST)
// kerrowbend::createSlotList(int32_t), by its linker name.
extern "C" SlotList *__real__ZN10kerrowbend14createSlotListEi(int32_t size);
extern "C" SlotList *__wrap__ZN10kerrowbend14createSlotListEi(int32_t size) {
  SlotList *list = __real__ZN10kerrowbend14createSlotListEi(size);
  // Taken for granted: the list's step, read before anyone asks whether
  // the list is there.
  static_cast<volatile SlotList *>(list)->growStep = 5;
  return list;
}

#elif defined(FREED_SLOT_UNUSED)
// kerrowbend::removeLast(SlotList *), by its linker name.
extern "C" void __real__ZN10kerrowbend10removeLastEPNS_8SlotListE(SlotList *list);
extern "C" void __wrap__ZN10kerrowbend10removeLastEPNS_8SlotListE(SlotList *list) {
  int32_t tail = kNoSlot;
  if (list != nullptr && list->count > 0) {
    tail = list->head;
    for (int32_t i = 1; i < list->count; ++i) tail = list->slots[tail].next;
  }
  __real__ZN10kerrowbend10removeLastEPNS_8SlotListE(list);
  if (tail != kNoSlot) list->slots[tail].inUse = 1;
}

#elif defined(CLEARS_ITEM_FLAG)
extern "C" int __real_activateMultiHandler(int version, GlobalFunc global, void *local,
                                           void *serverData);
extern "C" int __wrap_activateMultiHandler(int version, GlobalFunc global, void *local,
                                           void *serverData) {
  itemFuncsPresent.store(0, std::memory_order_relaxed);
  std::this_thread::sleep_for(std::chrono::microseconds(50));
  return __real_activateMultiHandler(version, global, local, serverData);
}

#elif defined(REMAKES_STAGE_ONE) || defined(DESTROYS_TWICE)
// kerrowbend::resizeInputs(const MultiDragInstance &, SlotList *, int32_t),
// by its linker name.
extern "C" SlotList *__real__ZN10kerrowbend12resizeInputsERKNS_17MultiDragInstanceEPNS_8SlotListEi(
    const MultiDragInstance &inst, SlotList *stages, int32_t n);
extern "C" SlotList *__wrap__ZN10kerrowbend12resizeInputsERKNS_17MultiDragInstanceEPNS_8SlotListEi(
    const MultiDragInstance &inst, SlotList *stages, int32_t n) {
#if defined(DESTROYS_TWICE)
  for (int32_t i = n < 0 ? 0 : n; stages != nullptr && i < stages->count; ++i) {
    if (const auto *pair = static_cast<const InputPair *>(payloadAt(stages, i))) {
      hostServices.inputFuncs->destroy(inst.node, pair->weightInput);
    }
  }
#else
  if (stages != nullptr && n > stages->count) {
    stages = __real__ZN10kerrowbend12resizeInputsERKNS_17MultiDragInstanceEPNS_8SlotListEi(
        inst, stages, 0);
  }
#endif
  return __real__ZN10kerrowbend12resizeInputsERKNS_17MultiDragInstanceEPNS_8SlotListEi(inst, stages,
                                                                                       n);
}

#elif defined(KEEPS_REFERENCE)
extern "C" Error __real_findReferenceObject(void *instance, int frame, double time);
extern "C" Error __wrap_findReferenceObject(void *instance, int frame, double time) {
  const auto *inst = static_cast<DragInstance *>(instance);
  if (inst != nullptr && inst->referenceObjectName[0] == '\0') return nullptr;
  return __real_findReferenceObject(instance, frame, time);
}

#elif defined(LEAKS_ONE_PANEL) || defined(LEAKS_ON_DESTROY)
extern "C" void __real_destroyDragInstance(void *instance);
extern "C" void __wrap_destroyDragInstance(void *instance) {
  auto *inst = static_cast<DragInstance *>(instance);
#if defined(LEAKS_ONE_PANEL)
  static bool leaked = false;
  if (inst != nullptr && inst->panel != nullptr && !leaked) {
    leaked = true;
    inst->panel = nullptr;
  }
  __real_destroyDragInstance(instance);
#else
  if (inst != nullptr && inst->panel != nullptr) hostServices.panelFuncs->destroy(inst->panel);
#endif
}

#elif defined(SAVES_NOTHING)
extern "C" Error __wrap_saveDragInstance(void * /*instance*/, const SaveState * /*state*/) {
  return nullptr;
}
#endif
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
