// Tests of the stage list: slot indexes through growth and reuse, positions
// out of range, chains whose order differs from slot order, a long random
// run against a plain vector, and refused allocations.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "multi_node/slot_list.h"
#ifdef KERROWBEND_HEAP_COUNTING
#include "tests/heap_counter.h"
#endif

namespace kerrowbend {
namespace {

constexpr int32_t kMaxInt = std::numeric_limits<int32_t>::max();
constexpr int32_t kMinInt = std::numeric_limits<int32_t>::min();

using ListPtr = std::unique_ptr<SlotList, decltype(&releaseSlotList)>;

ListPtr makeList(int32_t size) { return {createSlotList(size), &releaseSlotList}; }

// Distinct payloads; the list never looks behind them.
int tokenCells[64];
void *token(int i) { return &tokenCells[i]; }

std::vector<void *> tokens(int n) {
  std::vector<void *> all;
  for (int i = 0; i < n; ++i) all.push_back(token(i));
  return all;
}

ListPtr listOf(int32_t size, int elements) {
  ListPtr list = makeList(size);
  for (int i = 0; i < elements; ++i) append(list.get(), token(i));
  return list;
}

// Everything a caller could observe of a list, to show an operation changed
// nothing.
using EntryFields = std::tuple<int32_t, const void *, int32_t, int32_t>;
struct Snapshot {
  int32_t count, head, capacity, growStep;
  const SlotEntry *slots;
  std::vector<EntryFields> entries;
  bool operator==(const Snapshot &) const = default;
};

void PrintTo(const Snapshot &s, std::ostream *out) {
  *out << "count " << s.count << ", head " << s.head << ", capacity " << s.capacity << ", growStep "
       << s.growStep << ", entries " << ::testing::PrintToString(s.entries);
}

Snapshot snapshot(const SlotList &list) {
  Snapshot s{list.count, list.head, list.capacity, list.growStep, list.slots, {}};
  for (int32_t i = 0; i < list.capacity; ++i) {
    const SlotEntry &e = list.slots[i];
    s.entries.emplace_back(e.inUse, e.payload, e.prev, e.next);
  }
  return s;
}

// The chain as seen from head, and the first broken invariant if any.
struct Chain {
  std::vector<int32_t> slots;
  std::vector<void *> payloads;
  std::string problem;
};

Chain walkChain(const SlotList &list) {
  Chain chain;
  auto fail = [&](const std::string &what) {
    chain.problem = what;
    return chain;
  };
  if (list.growStep != 5) return fail("growStep " + std::to_string(list.growStep));
  if (list.count < 0 || list.count > list.capacity) return fail("count outside 0..capacity");
  if ((list.count == 0) != (list.head == kNoSlot)) return fail("head and count disagree");
  std::vector<bool> seen(static_cast<std::size_t>(list.capacity));
  int32_t prev = kNoSlot;
  for (int32_t slot = list.head; slot != kNoSlot; slot = list.slots[slot].next) {
    const auto at = [slot] { return "slot " + std::to_string(slot); };
    if (slot < 0 || slot >= list.capacity) return fail("link to " + at() + " out of range");
    if (seen[slot]) return fail("chain loops back to " + at());
    seen[slot] = true;
    const SlotEntry &entry = list.slots[slot];
    if (entry.inUse != 1) return fail(at() + " is in the chain but not in use");
    if (entry.prev != prev) return fail(at() + " prev " + std::to_string(entry.prev));
    chain.slots.push_back(slot);
    chain.payloads.push_back(entry.payload);
    prev = slot;
  }
  if (static_cast<int32_t>(chain.slots.size()) != list.count) return fail("chain length != count");
  for (int32_t slot = 0; slot < list.capacity; ++slot) {
    const SlotEntry &entry = list.slots[slot];
    if (!seen[slot] && entry.inUse != 0) return fail("slot " + std::to_string(slot) + " stray");
    if (!seen[slot] && entry.payload != nullptr) return fail("free slot keeps its payload");
  }
  return chain;
}

#define ASSERT_CONSISTENT(list) ASSERT_EQ(walkChain(list).problem, "")

std::vector<int32_t> slotRange(int32_t from, int32_t to) {
  std::vector<int32_t> slots;
  for (int32_t s = from; s < to; ++s) slots.push_back(s);
  return slots;
}

// A list of the given capacity whose chain runs through chainSlots in that
// order, holding token(0), token(1), ...; the free slots keep stale links,
// as freed slots do.
ListPtr handBuilt(int32_t capacity, const std::vector<int32_t> &chainSlots) {
  ListPtr list = makeList(capacity - 5);
  SlotList &l = *list;
  for (int32_t slot = 0; slot < capacity; ++slot) l.slots[slot] = {0, nullptr, 0, 0};
  for (std::size_t i = 0; i < chainSlots.size(); ++i) {
    const int32_t prev = i == 0 ? kNoSlot : chainSlots[i - 1];
    const int32_t next = i + 1 == chainSlots.size() ? kNoSlot : chainSlots[i + 1];
    l.slots[chainSlots[i]] = {1, token(static_cast<int>(i)), prev, next};
  }
  l.head = chainSlots.empty() ? kNoSlot : chainSlots.front();
  l.count = static_cast<int32_t>(chainSlots.size());
  return list;
}

// ---------------------------------------------------------------------------
// Creation, growth and slot reuse

TEST(SlotList, CreatesEmptyListWithRoomForSizePlusFive) {
  const struct {
    int32_t size, capacity;
  } cases[] = {{1, 6}, {0, 5}, {7, 12}, {-1, 5}, {kMinInt, 5}};
  for (const auto &c : cases) {
    ListPtr list = makeList(c.size);
    ASSERT_NE(list, nullptr) << "size " << c.size;
    EXPECT_EQ(list->capacity, c.capacity) << "size " << c.size;
    EXPECT_EQ(walkChain(*list).problem, "") << "size " << c.size;
  }
}

TEST(SlotList, RefusesSizeWhoseCapacityWouldNotFitInt32) {
  for (const int32_t size : {kMaxInt - 4, kMaxInt}) {
    EXPECT_EQ(createSlotList(size), nullptr) << "size " << size;
  }
}

TEST(SlotList, GrowsByFiveWhenFullKeepingEverySlotIndex) {
  ListPtr list = makeList(1);
  for (int i = 0; i < 6; ++i) ASSERT_EQ(append(list.get(), token(i)), i);
  EXPECT_EQ(list->capacity, 6) << "six elements fit without growing";
  EXPECT_EQ(append(list.get(), token(6)), 6);
  EXPECT_EQ(list->capacity, 11);
  for (int i = 7; i < 12; ++i) ASSERT_EQ(append(list.get(), token(i)), i);
  EXPECT_EQ(list->capacity, 16);
  const Chain chain = walkChain(*list);
  ASSERT_EQ(chain.problem, "");
  EXPECT_EQ(chain.slots, slotRange(0, 12));
  EXPECT_EQ(chain.payloads, tokens(12));
  for (int i = 0; i < 12; ++i) EXPECT_EQ(payloadAt(list.get(), i), token(i)) << "position " << i;
}

TEST(SlotList, AppendTakesLowestFreeSlot) {
  ListPtr list = listOf(1, 5);
  removeLast(list.get());
  removeLast(list.get());
  ASSERT_EQ(list->count, 3);
  for (const int32_t slot : {3, 4}) EXPECT_EQ(list->slots[slot].inUse, 0) << "slot " << slot;
  EXPECT_EQ(append(list.get(), token(9)), 3);
  const Chain chain = walkChain(*list);
  ASSERT_EQ(chain.problem, "");
  EXPECT_EQ(chain.slots, slotRange(0, 4));
  EXPECT_EQ(payloadAt(list.get(), 3), token(9));
}

TEST(SlotList, RemovingOnlyElementEmptiesListAndNextAppendIsHead) {
  ListPtr list = listOf(1, 1);
  removeLast(list.get());
  EXPECT_EQ(list->count, 0);
  EXPECT_EQ(list->head, kNoSlot);
  EXPECT_EQ(payloadAt(list.get(), 0), nullptr);
  EXPECT_EQ(append(list.get(), token(7)), 0);
  EXPECT_EQ(list->head, 0);
  EXPECT_EQ(payloadAt(list.get(), 0), token(7));
  ASSERT_CONSISTENT(*list);
}

TEST(SlotList, EmptyingKeepsCapacityAndRemovingFromEmptyChangesNothing) {
  ListPtr list = listOf(1, 12);
  ASSERT_EQ(list->capacity, 16);
  for (int i = 0; i < 12; ++i) removeLast(list.get());
  ASSERT_CONSISTENT(*list);
  EXPECT_EQ(list->capacity, 16);
  const Snapshot empty = snapshot(*list);
  removeLast(list.get());
  EXPECT_EQ(snapshot(*list), empty);
  EXPECT_EQ(append(list.get(), token(0)), 0);
  EXPECT_EQ(list->head, 0) << "the lowest slot is taken again";
}

TEST(SlotList, PositionOutOfRangeGivesNullAndSetChangesNothing) {
  const struct {
    int elements;
    int32_t position;
  } cases[] = {{0, 0}, {0, -1}, {3, 3}, {3, 4}, {3, -1}, {3, kMinInt}, {3, kMaxInt}, {6, 6}};
  for (const auto &c : cases) {
    ListPtr list = listOf(1, c.elements);
    const Snapshot before = snapshot(*list);
    EXPECT_EQ(payloadAt(list.get(), c.position), nullptr)
        << c.elements << " elements, position " << c.position;
    setPayloadAt(list.get(), c.position, token(40));
    EXPECT_EQ(snapshot(*list), before) << c.elements << " elements, position " << c.position;
  }
}

TEST(SlotList, NullListIsHarmless) {
  EXPECT_EQ(append(nullptr, token(0)), -1);
  EXPECT_EQ(payloadAt(nullptr, 0), nullptr);
  setPayloadAt(nullptr, 0, token(0));
  removeLast(nullptr);
  releaseSlotList(nullptr);
}

// ---------------------------------------------------------------------------
// Chains whose order differs from slot order: the list itself only ever
// builds them in slot order, but positions must follow the links whatever
// slots the elements occupy.

TEST(SlotListChainOrder, PositionsFollowLinksNotSlotIndexes) {
  ListPtr list = handBuilt(6, {2, 0, 4});
  ASSERT_CONSISTENT(*list);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(payloadAt(list.get(), i), token(i)) << "position " << i;
  setPayloadAt(list.get(), 1, token(20));
  EXPECT_EQ(list->slots[0].payload, token(20)) << "position 1 lives in slot 0";

  EXPECT_EQ(append(list.get(), token(21)), 3);
  Chain chain = walkChain(*list);
  ASSERT_EQ(chain.problem, "");
  EXPECT_EQ(chain.slots, (std::vector<int32_t>{2, 0, 4, 1})) << "lowest free slot, linked last";

  removeLast(list.get());
  removeLast(list.get());
  chain = walkChain(*list);
  ASSERT_EQ(chain.problem, "");
  EXPECT_EQ(chain.slots, (std::vector<int32_t>{2, 0}));
  EXPECT_EQ(chain.payloads, (std::vector<void *>{token(0), token(20)}));
}

TEST(SlotListChainOrder, GrowthKeepsLinksOfAReversedChain) {
  ListPtr list = handBuilt(5, {4, 3, 2, 1, 0});
  EXPECT_EQ(append(list.get(), token(5)), 5);
  EXPECT_EQ(list->capacity, 10);
  const Chain chain = walkChain(*list);
  ASSERT_EQ(chain.problem, "");
  EXPECT_EQ(chain.slots, (std::vector<int32_t>{4, 3, 2, 1, 0, 5}));
  EXPECT_EQ(chain.payloads, tokens(6));
}

// ---------------------------------------------------------------------------
// A long random run against a vector

// Capacity only grows, and only when the count passes it: size 1 gives 6,
// then 11, 16, ...
int32_t capacityAfterPeak(int32_t peak) { return peak <= 6 ? 6 : 6 + 5 * ((peak - 6 + 4) / 5); }

TEST(SlotListModel, RandomRunMatchesVector) {
  constexpr int kOps = 20000;
  std::vector<int> cells(kOps);
  std::vector<void *> model;
  std::mt19937 rng(20240611);
  std::uniform_real_distribution<double> chance(0.0, 1.0);
  ListPtr list = makeList(1);
  int32_t peak = 0;

  for (int op = 0; op < kOps; ++op) {
    // Alternate phases that mostly grow and mostly shrink, so the count
    // climbs well past several growths and comes back down to zero.
    const double appendShare = (op / 2500) % 2 == 0 ? 0.65 : 0.35;
    const auto size = static_cast<int32_t>(model.size());
    std::string what;
    const double pick = chance(rng);
    if (pick < 0.15) {
      const int32_t position = std::uniform_int_distribution<int32_t>(-2, size + 2)(rng);
      what = "setPayloadAt " + std::to_string(position);
      setPayloadAt(list.get(), position, &cells[op]);
      if (position >= 0 && position < size) model[position] = &cells[op];
    } else if (pick < 0.15 + 0.85 * appendShare) {
      what = "append";
      ASSERT_EQ(append(list.get(), &cells[op]), size) << "op " << op << ": " << what;
      model.push_back(&cells[op]);
    } else {
      what = "removeLast";
      removeLast(list.get());
      if (!model.empty()) model.pop_back();
    }
    peak = std::max(peak, static_cast<int32_t>(model.size()));

    const Chain chain = walkChain(*list);
    ASSERT_EQ(chain.problem, "") << "op " << op << ": " << what;
    ASSERT_EQ(chain.payloads, model) << "op " << op << ": " << what;
    // Adding and removing only at the end, with the lowest free slot taken,
    // keeps position k in slot k.
    ASSERT_EQ(chain.slots, slotRange(0, list->count)) << "op " << op << ": " << what;
    ASSERT_EQ(list->capacity, capacityAfterPeak(peak)) << "op " << op << ": " << what;
    const int32_t probe = std::uniform_int_distribution<int32_t>(-1, list->count)(rng);
    ASSERT_EQ(payloadAt(list.get(), probe),
              probe >= 0 && probe < list->count ? model[probe] : nullptr)
        << "op " << op << ": payloadAt " << probe;
  }
  EXPECT_GT(peak, 300) << "the run should have grown the list many times";
}

// ---------------------------------------------------------------------------
// Refused allocations

#ifdef KERROWBEND_HEAP_COUNTING

// What one attempt under a FailScope saw.
struct Attempt {
  bool failed;
  std::size_t allocations, releases;
};

template <typename Operation>
Attempt refusingAllocation(std::size_t failAt, Operation operation) {
  heapcount::FailScope scope(failAt);
  operation();
  return {scope.failed(), scope.allocations(), scope.releases()};
}

TEST(SlotListOutOfMemory, CreateGivesNullAndKeepsNothingWhenAnyAllocationIsRefused) {
  std::size_t failAt = 0;
  for (;; ++failAt) {
    ASSERT_LT(failAt, 10u) << "creation should need only a few allocations";
    SlotList *list = nullptr;
    const Attempt attempt = refusingAllocation(failAt, [&] { list = createSlotList(3); });
    if (!attempt.failed) {
      ASSERT_NE(list, nullptr) << "nothing refused at allocation " << failAt;
      EXPECT_EQ(list->capacity, 8);
      EXPECT_EQ(walkChain(*list).problem, "");
      releaseSlotList(list);
      break;
    }
    EXPECT_EQ(list, nullptr) << "allocation " << failAt << " refused";
    EXPECT_EQ(attempt.releases, attempt.allocations - 1)
        << "allocation " << failAt << " refused: what was had must be given back";
  }
  EXPECT_GT(failAt, 0u) << "creation allocates, so some attempt must have been refused";
}

TEST(SlotListOutOfMemory, RefusedGrowthLeavesListAsItWasAndLaterAppendsWork) {
  ListPtr list = listOf(1, 6);
  const Snapshot full = snapshot(*list);
  std::size_t failAt = 0;
  for (;; ++failAt) {
    ASSERT_LT(failAt, 10u) << "growth should need only a few allocations";
    int32_t position = 0;
    const Attempt attempt =
        refusingAllocation(failAt, [&] { position = append(list.get(), token(6)); });
    if (!attempt.failed) {
      EXPECT_EQ(position, 6) << "nothing refused at allocation " << failAt;
      EXPECT_EQ(list->capacity, 11);
      break;
    }
    EXPECT_EQ(position, -1) << "allocation " << failAt << " refused";
    ASSERT_EQ(snapshot(*list), full) << "allocation " << failAt << " refused";
    EXPECT_EQ(attempt.releases, attempt.allocations - 1) << "allocation " << failAt << " refused";
  }
  EXPECT_GT(failAt, 0u) << "growth allocates, so some attempt must have been refused";
  const Chain chain = walkChain(*list);
  ASSERT_EQ(chain.problem, "");
  EXPECT_EQ(chain.payloads, tokens(7));
}

TEST(SlotListOutOfMemory, OnlyGrowthAsksForMemory) {
  ListPtr list = listOf(1, 6);
  removeLast(list.get());
  const Attempt attempt = refusingAllocation(0, [&] {
    append(list.get(), token(5));
    setPayloadAt(list.get(), 2, token(9));
    payloadAt(list.get(), 5);
    removeLast(list.get());
  });
  EXPECT_EQ(attempt.allocations, 0u);
  EXPECT_EQ(attempt.releases, 0u);
}

#endif

}  // namespace
}  // namespace kerrowbend
