// What the fuzz targets share: one simulated host for the whole run, with
// the module loaded once, both handlers activated and a small fixed scene;
// the nodes the targets drive; a reader for the fuzzer's bytes; and checks
// of what a node shows the host.
//
// The host lives as long as the process: a libFuzzer process cannot unload
// an instrumented library (its coverage counters would be left pointing at
// unmapped memory). Nodes do not: every input places the nodes it drives
// afresh (Harness::node) and ends by destroying them and having the host
// forget their records, inputs, outputs and panels (Harness::endInput). So
// each input starts from nodes just placed and replays the same way on its
// own, and the host's lookups run over the nodes of the input at hand
// alone. What the host keeps from one input to the next is the latest
// activation of each handler (Harness::configure activates both again when
// a target changes the host version; the host forgets the ones replaced).
//
// Run a target as run_fuzz.cmake does (see there for its options), and for
// runs much longer than the test suite's add -fork=1, so each job starts
// with a fresh host.
#ifndef KERROWBEND_FUZZ_HARNESS_H
#define KERROWBEND_FUZZ_HARNESS_H

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "hostsim/host.h"
#include "hostsim/module_facts.h"

namespace fuzzing {

using hostsim::facts::kInputSizeId;
using hostsim::facts::kInvertId;
using hostsim::facts::kMulti;
using hostsim::facts::kNameField;
using hostsim::facts::kReferenceObjectId;
using hostsim::facts::kSingle;
using hostsim::facts::kWeightMapId;

// The stages a multi node makes for a count: none for 0 or below, and never
// more than its limit, however large the count it keeps.
inline int32_t stagesMade(int32_t count) {
  return std::clamp(count, int32_t{0}, hostsim::facts::kStageLimit);
}

// Reports a broken expectation and aborts, so libFuzzer keeps the input.
[[noreturn, gnu::format(printf, 1, 2)]] void fail(const char *format, ...);

#define FUZZ_REQUIRE(condition, ...)                \
  do {                                              \
    if (!(condition)) ::fuzzing::fail(__VA_ARGS__); \
  } while (0)

// Reads the fuzzer's bytes from the front, so a seed can be written by hand
// in the order the target reads it. Past the end every read gives zeros.
class Bytes {
 public:
  Bytes(const uint8_t *data, std::size_t size) : data_(data), size_(size) {}

  bool empty() const { return size_ == 0; }
  std::size_t left() const { return size_; }

  uint8_t byte();
  // Big-endian, as a seed is easiest to write.
  uint16_t u16();
  uint32_t u32();
  int32_t i32() { return static_cast<int32_t>(u32()); }
  uint64_t u64();
  // The next n bytes, fewer when the data ends first.
  std::string text(std::size_t n);
  std::string rest() { return text(size_); }

 private:
  const uint8_t *data_;
  std::size_t size_;
};

// A value from the fuzzer, one byte choosing how it is made: any bit
// pattern (NaN and infinities included), a small integer, a value of any
// moderate size, or one of a few edge values.
double anyDouble(Bytes &in);
// A float within [-limit, limit], or any bit pattern when the first byte
// says so.
float anyFloat(Bytes &in, float limit);
// Finite and at most limit in size.
bool moderate(double value, double limit);

// A stage count anywhere in int32: mostly below 20, often any negative
// value, now and then in the hundreds, and rarely (a second byte decides)
// at the node's stage limit, at the largest int32 or any positive value.
int32_t stageCount(Bytes &in);

// The scene every target shades in: objects "Cube" (four points, weight map
// "Wmap"), "Ref" (whose forward axis a target may set) and "Other" (one
// point, weight map "Other map"), in this host order; and "Gone", removed
// from the scene so its id is a handle of no live object.
struct FixedScene {
  hostsim::SceneObject *cube = nullptr;
  hostsim::SceneObject *ref = nullptr;
  hostsim::SceneObject *other = nullptr;
  hostsim::SceneObject *gone = nullptr;
  std::array<PointId, 4> cubePoints{};
  PointId otherPoint = nullptr;
};

// The nodes a target can hold at once: one of each server to work on, and
// one of each to load what the first saved.
enum class Slot { Single, Multi, SingleCopy, MultiCopy };
inline constexpr int kSlots = 4;

class Harness {
 public:
  // The process's one harness, made on first use.
  static Harness &get();

  hostsim::Host &host() { return host_; }
  const FixedScene &scene() const { return scene_; }

  // Places a fresh node in the slot, destroying the node the slot held
  // before, if any.
  hostsim::Node &node(Slot slot);
  // The panel of the slot's node, built on first use; node(slot) comes
  // first. Targets that never look at a panel do not pay for one.
  hostsim::PanelRecord &panel(Slot slot);
  // Destroys every node placed since the last call, checking that each
  // takes its panel with it, and has the host forget them.
  void endInput();

  // Activates both handlers again when the host version (major * 10 +
  // minor) or the offer of an item table differs from the last activation.
  void configure(int version, bool itemTable);

 private:
  Harness();
  void activate();
  void retire(Slot slot);

  hostsim::Host host_;
  FixedScene scene_;
  int version_ = 101;
  bool itemTable_ = true;
  std::array<hostsim::Node *, kSlots> nodes_{};
  std::array<hostsim::PanelRecord *, kSlots> panels_{};
};

// True when the node's live inputs are exactly the inputs of stages 1..n
// (none for n of 0 or below), in stage order and of the right types.
bool hasStages(const hostsim::Node &node, int32_t n);

// What a single node's save holds. A name read back whole, however long it
// was written.
struct SingleData {
  std::string object;
  std::string weightMap;
  std::optional<int32_t> invert;
  int blocks = 0;
};
SingleData readSingleData(hostsim::BlockForm form, const std::string &data);
// The count scene data holds for a multi node, as the node reads it: the
// last count block's integer that could be read, if any. options are the
// host's, as the node's load gets them.
std::optional<int32_t> readCount(hostsim::BlockForm form, const std::string &data,
                                 const hostsim::LoadOptions &options = {});

// Scene data as the nodes write it.
using hostsim::facts::countData;
using hostsim::facts::singleData;

// The name a C string stores in a field: up to its first zero, cut to 259
// bytes.
std::string storedName(std::string_view text);

// Whether two results are the same, NaN matching NaN.
bool sameVector(const hostsim::Vec3 &a, const hostsim::Vec3 &b);

}  // namespace fuzzing

#endif
