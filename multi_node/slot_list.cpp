#include "multi_node/slot_list.h"

#include <cstddef>
#include <cstdlib>
#include <limits>

namespace kerrowbend {

namespace {

constexpr int32_t kGrowStep = 5;
constexpr int32_t kMaxCapacity = std::numeric_limits<int32_t>::max();

// Zero-filled, so every entry starts free with no payload.
SlotEntry *allocateSlots(int32_t capacity) {
  return static_cast<SlotEntry *>(
      std::calloc(static_cast<std::size_t>(capacity), sizeof(SlotEntry)));
}

// The first free slot from index 0 up, so the lowest freed slot is taken
// again first; kNoSlot when every slot is in use.
int32_t firstFreeSlot(const SlotList &list) {
  for (int32_t slot = 0; slot < list.capacity; ++slot) {
    if (list.slots[slot].inUse == 0) return slot;
  }
  return kNoSlot;
}

// Adds growStep free slots at the end and returns the first of them, or
// kNoSlot with the list untouched when the array cannot grow. Entries keep
// their indexes, so every link stays valid.
int32_t growSlots(SlotList &list) {
  const int32_t oldCapacity = list.capacity;
  if (oldCapacity > kMaxCapacity - list.growStep) return kNoSlot;
  SlotEntry *grown = allocateSlots(oldCapacity + list.growStep);
  if (grown == nullptr) return kNoSlot;
  for (int32_t slot = 0; slot < oldCapacity; ++slot) {
    const SlotEntry &from = list.slots[slot];
    SlotEntry &to = grown[slot];
    to.inUse = from.inUse;
    to.payload = from.payload;
    to.prev = from.prev;
    to.next = from.next;
  }
  std::free(list.slots);
  list.slots = grown;
  list.capacity = oldCapacity + list.growStep;
  return oldCapacity;
}

// The slot reached from head by steps links, stopping early at an element
// with no next; kNoSlot only when the list has no head.
int32_t walkFromHead(const SlotList &list, int32_t steps) {
  int32_t slot = list.head;
  for (int32_t step = 0; step < steps; ++step) {
    if (slot == kNoSlot || list.slots[slot].next == kNoSlot) break;
    slot = list.slots[slot].next;
  }
  return slot;
}

// The slot of the element at position, or kNoSlot when there is none.
int32_t slotAtPosition(const SlotList &list, int32_t position) {
  if (position < 0 || position >= list.count) return kNoSlot;
  return walkFromHead(list, position);
}

// Takes slot out of the chain, joining its neighbours, whichever of them
// exist; the slot's own links are left as they are.
void unlinkSlot(SlotList &list, int32_t slot) {
  const int32_t prev = list.slots[slot].prev;
  const int32_t next = list.slots[slot].next;
  if (prev == kNoSlot) {
    list.head = next;
  } else {
    list.slots[prev].next = next;
  }
  if (next != kNoSlot) list.slots[next].prev = prev;
}

}  // namespace

SlotList *createSlotList(int32_t size) {
  if (size < 0) size = 0;
  if (size > kMaxCapacity - kGrowStep) return nullptr;
  auto *list = static_cast<SlotList *>(std::calloc(1, sizeof(SlotList)));
  if (list == nullptr) return nullptr;
  SlotEntry *slots = allocateSlots(size + kGrowStep);
  if (slots == nullptr) {
    std::free(list);
    return nullptr;
  }
  list->count = 0;
  list->head = kNoSlot;
  list->slots = slots;
  list->capacity = size + kGrowStep;
  list->growStep = kGrowStep;
  return list;
}

int32_t append(SlotList *list, void *payload) {
  if (list == nullptr) return -1;
  int32_t slot = firstFreeSlot(*list);
  if (slot == kNoSlot) slot = growSlots(*list);
  if (slot == kNoSlot) return -1;

  SlotEntry &entry = list->slots[slot];
  entry.inUse = 1;
  entry.payload = payload;
  entry.prev = kNoSlot;
  entry.next = kNoSlot;

  // There is no cached tail: it is found by walking the chain each time.
  const int32_t position = list->count;
  if (position == 0) {
    list->head = slot;
  } else {
    const int32_t tail = walkFromHead(*list, position - 1);
    list->slots[tail].next = slot;
    entry.prev = tail;
  }
  ++list->count;
  return position;
}

void *payloadAt(const SlotList *list, int32_t position) {
  if (list == nullptr) return nullptr;
  const int32_t slot = slotAtPosition(*list, position);
  return slot == kNoSlot ? nullptr : list->slots[slot].payload;
}

void setPayloadAt(SlotList *list, int32_t position, void *payload) {
  if (list == nullptr) return;
  const int32_t slot = slotAtPosition(*list, position);
  if (slot != kNoSlot) list->slots[slot].payload = payload;
}

void removeLast(SlotList *list) {
  if (list == nullptr || list->count <= 0) return;
  const int32_t tail = walkFromHead(*list, list->count - 1);
  if (tail == kNoSlot) return;
  unlinkSlot(*list, tail);
  SlotEntry &entry = list->slots[tail];
  entry.inUse = 0;
  entry.payload = nullptr;
  --list->count;
}

void releaseSlotList(SlotList *list) {
  if (list == nullptr) return;
  std::free(list->slots);
  std::free(list);
}

}  // namespace kerrowbend
