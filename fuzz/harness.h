// What the fuzz targets share: one simulated host for the whole run, with
// the module loaded once, both handlers activated and a small fixed scene;
// the nodes the targets drive; a reader for the fuzzer's bytes; and checks
// of what a node shows the host.
//
// The host lives as long as the process. A libFuzzer process cannot unload
// an instrumented library (its coverage counters would be left pointing at
// unmapped memory), and the simulated host keeps every node and input it
// ever made and finds a node by a linear search, so a node per input would
// make each input slower than the one before. Nodes are therefore reused:
// every input starts by bringing its nodes back to the state of a node just
// placed (Harness::node), and a node is destroyed and replaced when the
// input's hash says so (Harness::tidy) or when its list of inputs has grown
// long. A failing input therefore replays the same way on its own, but for
// the spare room of the multi node's stage list, which only ever grows.
//
// What still builds up is the host's record of inputs created and
// destroyed, a few hundred bytes each. Run a target as run_fuzz.cmake does
// (-detect_leaks=0 -entropic_scale_per_exec_time=1, see there), and for
// runs much longer than the test suite's add -fork=1, so each job starts
// with a fresh host.
#ifndef KERROWBEND_FUZZ_HARNESS_H
#define KERROWBEND_FUZZ_HARNESS_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "hostsim/host.h"

namespace fuzzing {

inline constexpr const char *kSingle = "Kerrowbend";
inline constexpr const char *kMulti = "KerrowbendMulti";

// Panel value ids.
inline constexpr uint32_t kReferenceObjectId = 0x8001;
inline constexpr uint32_t kInvertId = 0x8002;
inline constexpr uint32_t kWeightMapId = 0x8003;
inline constexpr uint32_t kInputSizeId = 0x8001;

// A name field holds 259 bytes and its terminator.
inline constexpr std::size_t kNameField = 260;

// The highest stage count the targets hand the multi node. The node sets no
// bound of its own: a count of millions is honoured, at the cost of asking
// the host for that many inputs, which says nothing new and would only slow
// the run down.
inline constexpr int32_t kMaxStages = 2000;

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

// A stage count from the lowest int32 up to kMaxStages: mostly below 20,
// often any negative value, now and then in the hundreds or thousands.
int32_t stageCount(Bytes &in);

// A 64-bit FNV-1a hash of the input, to decide things such as retiring a
// node the same way whenever the same input is run.
uint64_t inputHash(const uint8_t *data, std::size_t size);

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

  // The slot's node in the state of one just placed: nothing connected;
  // the single node with empty names, invert 1 and no reference object;
  // the multi node with a count of 1 and one stage. Makes the node (and
  // builds its panel) when the slot is empty.
  hostsim::Node &node(Slot slot);
  // The panel built for the slot's node; node(slot) comes first.
  hostsim::PanelRecord &panel(Slot slot);
  // Destroys the slot's node; the next node(slot) places a new one.
  void retire(Slot slot);
  // Retires every node whose list of inputs has grown long, and every node
  // when asked.
  void tidy(bool retireAll);

  // Activates both handlers again when the host version (major * 10 +
  // minor) or the offer of an item table differs from the last activation.
  void configure(int version, bool itemTable);

 private:
  Harness();
  void activate();

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
// The count a multi node's save holds, when it holds one.
std::optional<int32_t> readCount(hostsim::BlockForm form, const std::string &data);

// Scene data as the nodes write it.
std::string singleData(hostsim::BlockForm form, std::string_view object, int32_t invert,
                       std::string_view weightMap);
std::string countData(hostsim::BlockForm form, int32_t count);

// The name a C string stores in a field: up to its first zero, cut to 259
// bytes.
std::string storedName(std::string_view text);

// Whether two results are the same, NaN matching NaN.
bool sameVector(const hostsim::Vec3 &a, const hostsim::Vec3 &b);

}  // namespace fuzzing

#endif
