// The list that holds the multi-reference node's stages: a doubly linked
// list whose elements live in one growable array of slots and link to each
// other by slot index. Elements are addressed by position along the links
// (position 0 is the first); a slot freed by removal is taken again by a
// later append; the array grows by a fixed step when no slot is free and
// never shrinks. Free of the host.
#ifndef KERROWBEND_MULTI_NODE_SLOT_LIST_H
#define KERROWBEND_MULTI_NODE_SLOT_LIST_H

#include <cstdint>

namespace kerrowbend {

struct SlotEntry {
  int32_t inUse;  // 1 while the slot holds an element of the chain, 0 while free
  void *payload;  // the element's value, not owned; null in a free slot
  int32_t prev;   // slot of the previous element, or kNoSlot
  int32_t next;   // slot of the next element, or kNoSlot
};

// A free slot is in no chain; its prev and next may keep their old values,
// and nothing reads them until the slot is taken again.
struct SlotList {
  int32_t count;     // elements in the chain
  int32_t head;      // slot of position 0, or kNoSlot when empty
  SlotEntry *slots;  // owned, capacity entries
  int32_t capacity;  // only ever grows
  int32_t growStep;  // entries added at each growth
};

inline constexpr int32_t kNoSlot = -1;

// A list with room for size elements plus one growth step, every slot free;
// null when memory cannot be had or size plus one step does not fit in
// int32. A negative size counts as 0.
SlotList *createSlotList(int32_t size);

// Links payload as the new last element and returns its position, which is
// the count before the call. When no slot is free and the array cannot
// grow (memory refused, or the grown capacity would not fit in int32), or
// the list is null, returns -1 and leaves the list exactly as it was.
int32_t append(SlotList *list, void *payload);

// The payload at position; null when position is negative or not below
// count, or the list is null.
void *payloadAt(const SlotList *list, int32_t position);

// Replaces the payload at position; no effect where payloadAt gives null
// for want of an element.
void setPayloadAt(SlotList *list, int32_t position, void *payload);

// Unlinks the last element and frees its slot; no effect on an empty or
// null list. The payload is the caller's to release first.
void removeLast(SlotList *list);

// Calls visit(payload) for each element from the first to the last, in one
// pass along the links, where a loop over payloadAt walks from the head for
// every position. visit must not add or remove elements. The pass stops
// after count elements, so even a chain whose links were damaged ends.
template <typename Visit>
void forEachPayload(const SlotList &list, Visit &&visit) {
  int32_t slot = list.head;
  for (int32_t visited = 0; visited < list.count && slot != kNoSlot; ++visited) {
    const SlotEntry &entry = list.slots[slot];
    visit(entry.payload);
    slot = entry.next;
  }
}

// Releases the slots array, then the record; payloads are left alone. A
// null list is fine.
void releaseSlotList(SlotList *list);

}  // namespace kerrowbend

#endif
