// Tests of the stage list: growth and slot reuse, bad inputs, a chain out of
// slot order (by position and by visit), a long random run against a vector, and refused
// allocations.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "multi_node/slot_list.h"
#ifdef KERROWBEND_HEAP_COUNTING
#include "tests/heap_counter.h"
#endif

namespace kerrowbend {
namespace {

using ListPtr = std::unique_ptr<SlotList, decltype(&releaseSlotList)>;

// Distinct payloads; the list never looks behind them.
int tokenCells[32];
void *token(int i) { return &tokenCells[i]; }

ListPtr listOf(int32_t size, int elements) {
  ListPtr list{createSlotList(size), &releaseSlotList};
  for (int i = 0; i < elements; ++i) append(list.get(), token(i));
  return list;
}

std::vector<int32_t> firstSlots(std::size_t n) {
  std::vector<int32_t> slots(n);
  std::iota(slots.begin(), slots.end(), 0);
  return slots;
}

// Everything a caller could observe of a list, to show an operation changed nothing.
using Snapshot = std::vector<std::tuple<int32_t, const void *, int32_t, int32_t>>;
Snapshot snapshot(const SlotList &l) {
  Snapshot s{{l.count, l.slots, l.head, l.capacity}};
  for (int32_t i = 0; i < l.capacity; ++i) {
    s.emplace_back(l.slots[i].inUse, l.slots[i].payload, l.slots[i].prev, l.slots[i].next);
  }
  return s;
}

// The slots the chain visits from head, or {-1} when the list does not hold
// together: a link out of range or not mirrored by prev (so no loop), count
// not the chain's length, a slot off the chain in use or with a payload.
std::vector<int32_t> walk(const SlotList &l) {
  std::vector<int32_t> chain;
  for (int32_t s = l.head, prev = kNoSlot; s != kNoSlot; prev = s, s = l.slots[s].next) {
    if (s < 0 || s >= l.capacity || l.slots[s].inUse != 1 || l.slots[s].prev != prev) return {-1};
    chain.push_back(s);
  }
  const auto taken = std::count_if(l.slots, l.slots + l.capacity, [](const SlotEntry &e) {
    return e.inUse != 0 || e.payload != nullptr;
  });
  return std::cmp_equal(chain.size(), l.count) && taken == l.count ? chain : std::vector{-1};
}

// The payloads forEachPayload hands out, in the order it hands them.
std::vector<void *> visitAll(const SlotList &l) {
  std::vector<void *> seen;
  forEachPayload(l, [&](void *payload) { seen.push_back(payload); });
  return seen;
}

TEST(SlotList, GrowsByFiveReusesLowestFreeSlotAndNeverShrinks) {
  EXPECT_EQ(listOf(-1, 0)->capacity, 5) << "a negative size counts as 0";
  ListPtr list = listOf(1, 6);
  EXPECT_EQ(append(list.get(), token(6)), 6);
  EXPECT_EQ(list->capacity, 11);
  for (int i = 7; i < 12; ++i) append(list.get(), token(i));
  EXPECT_EQ(list->capacity, 16);
  for (int i = 0; i < 3; ++i) removeLast(list.get());
  EXPECT_EQ(append(list.get(), token(20)), 9);
  EXPECT_EQ(walk(*list), firstSlots(10)) << "slot 9 is the lowest free one";

  // Emptied, the list has no head (walk checks that) but keeps its capacity.
  for (int i = 0; i < 10; ++i) removeLast(list.get());
  EXPECT_EQ(walk(*list), firstSlots(0));
  EXPECT_EQ(list->capacity, 16);
  const Snapshot empty = snapshot(*list);
  removeLast(list.get());
  EXPECT_EQ(snapshot(*list), empty);
  EXPECT_EQ(append(list.get(), token(21)), 0);
  EXPECT_EQ(walk(*list), firstSlots(1));
}

TEST(SlotList, OutOfRangeOrNullInputsChangeNothing) {
  for (const auto &[elements, position] : {std::pair{0, 0}, {3, 3}, {3, -1}}) {
    ListPtr list = listOf(1, elements);
    const Snapshot before = snapshot(*list);
    EXPECT_EQ(payloadAt(list.get(), position), nullptr) << elements << " at " << position;
    setPayloadAt(list.get(), position, token(30));
    EXPECT_EQ(snapshot(*list), before) << elements << " at " << position;
  }
  EXPECT_EQ(payloadAt(nullptr, 0), nullptr);
  setPayloadAt(nullptr, 0, token(0));
  EXPECT_EQ(append(nullptr, token(0)), -1);
  removeLast(nullptr);
  releaseSlotList(nullptr);
  EXPECT_EQ(createSlotList(INT32_MAX - 4), nullptr) << "its capacity would not fit int32";
}

// The list only ever builds its chain in slot order, so one is built by
// hand: positions and the tail must follow the links, not slot indexes.
TEST(SlotList, PositionsFollowLinksNotSlotIndexes) {
  const std::vector<int32_t> order{5, 2, 0, 4, 1, 3};
  ListPtr list = listOf(1, 6);  // relinked below
  for (std::size_t i = 0; i < order.size(); ++i) {
    list->slots[order[i]] = {1, token(static_cast<int>(i)), i == 0 ? kNoSlot : order[i - 1],
                             i + 1 == order.size() ? kNoSlot : order[i + 1]};
  }
  list->head = 5;
  ASSERT_EQ(walk(*list), order);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(payloadAt(list.get(), i), token(i)) << "position " << i;
  EXPECT_EQ(visitAll(*list),
            (std::vector<void *>{token(0), token(1), token(2), token(3), token(4), token(5)}));
  list->slots[3].next = 5;  // a loop back to the head: the visit still stops at count
  EXPECT_EQ(visitAll(*list).size(), 6U);
  list->slots[3].next = kNoSlot;
  setPayloadAt(list.get(), 2, token(20));
  EXPECT_EQ(list->slots[0].payload, token(20));

  EXPECT_EQ(append(list.get(), token(6)), 6);  // grows, linking slot 6 after slot 3
  EXPECT_EQ(walk(*list), (std::vector<int32_t>{5, 2, 0, 4, 1, 3, 6}));
  for (int i = 0; i < 2; ++i) removeLast(list.get());
  EXPECT_EQ(append(list.get(), token(7)), 5);  // into slot 3, the lowest free
  EXPECT_EQ(walk(*list), order);
}

TEST(SlotList, RandomRunMatchesVector) {
  std::vector<int> cells(20000);
  std::vector<void *> model;
  std::mt19937 rng(20240611);
  ListPtr list = listOf(1, 0);
  int32_t capacity = 6;
  for (int op = 0; op < 20000; ++op) {
    SCOPED_TRACE("op " + std::to_string(op));
    // Phases of mostly appends and mostly removals: many growths, then back to 0.
    const auto size = static_cast<int32_t>(model.size());
    const int pick = std::uniform_int_distribution<int>(0, 99)(rng);
    if (pick < 15) {
      const int32_t position = std::uniform_int_distribution<int32_t>(-2, size + 2)(rng);
      setPayloadAt(list.get(), position, &cells[op]);
      if (position >= 0 && position < size) model[position] = &cells[op];
    } else if (pick < ((op / 2500) % 2 == 0 ? 70 : 45)) {
      ASSERT_EQ(append(list.get(), &cells[op]), size);
      model.push_back(&cells[op]);
      if (size == capacity) capacity += 5;
    } else {
      removeLast(list.get());
      if (size > 0) model.pop_back();
    }
    // Changes only at the end, lowest free slot first, keep position k in slot k.
    ASSERT_EQ(walk(*list), firstSlots(model.size()));
    ASSERT_EQ(list->capacity, capacity);
    for (std::size_t k = 0; k < model.size(); ++k) ASSERT_EQ(list->slots[k].payload, model[k]);
    ASSERT_EQ(visitAll(*list), model);
  }
  EXPECT_GT(capacity, 300);
}

#ifdef KERROWBEND_HEAP_COUNTING

// Refuses allocation 0, 1, ... of operation in turn until a run is not
// refused; returns how many were. A refused run must give back all it took
// and return true; its checks run after the refusal, so may allocate.
template <typename Operation>
int refuseEachAllocation(Operation operation) {
  for (int failAt = 0;; ++failAt) {
    heapcount::FailScope scope(static_cast<std::size_t>(failAt));
    const bool reported = operation();
    if (!scope.failed()) return failAt;
    EXPECT_EQ(scope.releases(), scope.allocations() - 1) << "allocation " << failAt;
    EXPECT_TRUE(reported) << "allocation " << failAt;
  }
}

TEST(SlotListOutOfMemory, RefusedCreateOrGrowthLeavesNoTrace) {
  SlotList *created = nullptr;
  EXPECT_GT(refuseEachAllocation([&] { return (created = createSlotList(3)) == nullptr; }), 0);
  releaseSlotList(created);

  ListPtr list = listOf(1, 6);
  const Snapshot full = snapshot(*list);
  const auto grow = [&] { return append(list.get(), token(6)) < 0 && snapshot(*list) == full; };
  EXPECT_GT(refuseEachAllocation(grow), 0);
  EXPECT_EQ(walk(*list), firstSlots(7)) << "the unrefused append went through";
  const auto reuse = [&] { return removeLast(list.get()), append(list.get(), token(7)) < 0; };
  EXPECT_EQ(refuseEachAllocation(reuse), 0) << "only growth asks for memory";
}

#endif

}  // namespace
}  // namespace kerrowbend
