#include "fuzz/harness.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace fuzzing {

void fail(const char *format, ...) {
  std::va_list args;
  va_start(args, format);
  std::fputs("fuzz check failed: ", stderr);
  std::vfprintf(stderr, format, args);
  std::fputc('\n', stderr);
  va_end(args);
  std::abort();
}

// ---- reading the input ----------------------------------------------------

uint8_t Bytes::byte() {
  if (size_ == 0) return 0;
  --size_;
  return *data_++;
}

uint16_t Bytes::u16() {
  const auto high = static_cast<uint16_t>(byte() << 8);
  return static_cast<uint16_t>(high | byte());
}

uint32_t Bytes::u32() {
  const uint32_t high = u16();
  return (high << 16) | u16();
}

uint64_t Bytes::u64() {
  const uint64_t high = u32();
  return (high << 32) | u32();
}

std::string Bytes::text(std::size_t n) {
  n = std::min(n, size_);
  std::string taken(reinterpret_cast<const char *>(data_), n);
  data_ += n;
  size_ -= n;
  return taken;
}

namespace {

// A fraction in [-1, 1) from four bytes.
double fraction(Bytes &in) { return static_cast<double>(in.i32()) / 2147483648.0; }

}  // namespace

double anyDouble(Bytes &in) {
  static constexpr double kEdges[] = {
      0.0,
      -0.0,
      1.0,
      -1.0,
      0.5,
      2.0,
      1e6,
      -1e6,
      1e100,
      -1e100,
      1e101,
      1e-300,
      std::numeric_limits<double>::denorm_min(),
      std::numeric_limits<double>::max(),
      -std::numeric_limits<double>::max(),
      std::numeric_limits<double>::infinity(),
      -std::numeric_limits<double>::infinity(),
      std::numeric_limits<double>::quiet_NaN(),
  };
  switch (in.byte() % 4) {
    case 0:
      return std::bit_cast<double>(in.u64());
    case 1:
      return static_cast<double>(static_cast<int8_t>(in.byte()) % 4);
    case 2: {
      // Any size from 1e-100 to 1e100, the range of a moderate input.
      const int exponent = in.byte() % 201 - 100;
      return fraction(in) * std::pow(10.0, exponent);
    }
    default:
      return kEdges[in.byte() % std::size(kEdges)];
  }
}

float anyFloat(Bytes &in, float limit) {
  switch (in.byte() % 8) {
    case 0:
      return std::bit_cast<float>(in.u32());
    case 1:
      return std::clamp(static_cast<float>(static_cast<int8_t>(in.byte()) % 3), -limit, limit);
    default:
      return static_cast<float>(fraction(in)) * limit;
  }
}

bool moderate(double value, double limit) {
  return std::isfinite(value) && std::fabs(value) <= limit;
}

int32_t stageCount(Bytes &in) {
  // Large counts are rare: below the limit they reach no code that a count
  // of a few dozen does not, and every stage costs the host two inputs to
  // make and to destroy. Near the limit and past it a count costs a full
  // list, built by walks from its head, a second or so under the
  // sanitizers, so those take a second byte to choose.
  const uint8_t pick = in.byte();
  if (pick < 192) return in.byte() % 24 - 4;
  if (pick < 208) return in.byte() % 64;
  if (pick < 224) return std::numeric_limits<int32_t>::min();
  if (pick < 254) return static_cast<int32_t>(in.u32() | 0x80000000u);
  if (pick < 255) return in.u16() % 257;
  constexpr int32_t kLimit = hostsim::facts::kStageLimit;
  switch (in.byte()) {
    case 0:
      return kLimit - 1 + in.byte() % 3;
    case 1:
      return std::numeric_limits<int32_t>::max();
    case 2:
      return static_cast<int32_t>(in.u32() & 0x7FFFFFFFu);
    default:
      return in.u16() % 257;
  }
}

// ---- the host and its nodes -----------------------------------------------

namespace {

constexpr std::array<const char *, kSlots> kNodeNames = {"Kerrowbend (1)", "KerrowbendMulti (1)",
                                                         "Kerrowbend (2)", "KerrowbendMulti (2)"};

bool isSingle(Slot slot) { return slot == Slot::Single || slot == Slot::SingleCopy; }

std::size_t index(Slot slot) { return static_cast<std::size_t>(slot); }

}  // namespace

Harness &Harness::get() {
  // Never destroyed: unloading the module at exit would leave libFuzzer's
  // view of its coverage dangling, and the nodes it still holds stay
  // reachable for the leak check.
  static Harness *const harness = new Harness;
  return *harness;
}

Harness::Harness() : host_(KERROWBEND_MODULE_PATH) {
  // The log would grow with every call for the whole run.
  host_.log().setRecording(false);
  hostsim::Scene &scene = host_.scene();
  scene_.cube = &scene.addObject("Cube");
  for (PointId &point : scene_.cubePoints) {
    point = scene_.cube->addPoint();
    scene_.cube->setWeight("Wmap", point, 0.5F);
  }
  scene_.ref = &scene.addObject("Ref");
  scene_.ref->setForward({1.0, 0.0, 0.0});
  scene_.other = &scene.addObject("Other");
  scene_.otherPoint = scene_.other->addPoint();
  scene_.other->setWeight("Other map", scene_.otherPoint, 0.5F);
  scene_.gone = &scene.addObject("Gone");
  scene.remove(*scene_.gone);
  activate();
}

void Harness::activate() {
  host_.setProductVersion(version_ / 10, version_ % 10);
  hostsim::HandlerOptions options;
  options.itemTable = itemTable_;
  FUZZ_REQUIRE(host_.activateHandler(kSingle, NODE_HANDLER_VERSION, options) == ACTIVATE_OK,
               "single handler not activated");
  FUZZ_REQUIRE(host_.activateHandler(kMulti, NODE_HANDLER_VERSION, options) == ACTIVATE_OK,
               "multi handler not activated");
}

void Harness::configure(int version, bool itemTable) {
  if (version == version_ && itemTable == itemTable_) return;
  version_ = version;
  itemTable_ = itemTable;
  activate();
}

hostsim::Node &Harness::node(Slot slot) {
  retire(slot);
  const char *server = isSingle(slot) ? kSingle : kMulti;
  hostsim::Node &made = host_.createNode(server, kNodeNames[index(slot)]);
  FUZZ_REQUIRE(made.instance() != nullptr, "%s: no instance", server);
  nodes_[index(slot)] = &made;
  return made;
}

hostsim::PanelRecord &Harness::panel(Slot slot) {
  hostsim::PanelRecord *&held = panels_[index(slot)];
  if (held != nullptr) return *held;
  const hostsim::Node *node = nodes_[index(slot)];
  FUZZ_REQUIRE(node != nullptr, "panel asked for before its node");
  InterfaceRecord record{node->instance(), nullptr, nullptr, nullptr};
  FUZZ_REQUIRE(
      host_.activateInterface(node->server(), NODE_INTERFACE_VERSION, &record) == ACTIVATE_OK &&
          record.panel != nullptr,
      "%s: no panel", node->server().c_str());
  held = host_.panels().find(record.panel);
  return *held;
}

void Harness::retire(Slot slot) {
  hostsim::Node *&held = nodes_[index(slot)];
  if (held == nullptr) return;
  held->destroy();
  hostsim::PanelRecord *&panel = panels_[index(slot)];
  FUZZ_REQUIRE(panel == nullptr || panel->destroyed, "%s: destroy left its panel",
               held->server().c_str());
  held = nullptr;
  panel = nullptr;
}

void Harness::endInput() {
  for (int i = 0; i < kSlots; ++i) retire(static_cast<Slot>(i));
  host_.forgetDestroyed();
}

// ---- what a node shows ----------------------------------------------------

bool hasStages(const hostsim::Node &node, int32_t n) {
  const int32_t inputs = 2 * stagesMade(n);
  int32_t seen = 0;
  for (const auto &input : node.inputs()) {
    if (input->destroyed()) continue;
    if (seen == inputs) return false;
    const bool reference = seen % 2 == 0;
    const int stage = seen / 2 + 1;
    const std::string expected = reference ? hostsim::facts::stageReferenceInput(stage)
                                           : hostsim::facts::stageWeightInput(stage);
    const int type = reference ? CONNECTION_VECTOR : CONNECTION_SCALAR;
    if (input->name() != expected || input->connectionType() != type) return false;
    ++seen;
  }
  return seen == inputs;
}

namespace {

using hostsim::facts::kCountBlock;
using hostsim::facts::kInvertBlock;
using hostsim::facts::kObjectBlock;
using hostsim::facts::kWeightMapBlock;

// A string of the current block, whole however long: no stored string is
// longer than the data holding it.
std::string readWhole(hostsim::BlockReader &reader, std::size_t dataSize) {
  std::vector<char> buffer(dataSize + 1, '\0');
  reader.readString(buffer.data(), static_cast<int>(buffer.size()));
  return std::string(buffer.data());
}

}  // namespace

SingleData readSingleData(hostsim::BlockForm form, const std::string &data) {
  static const BlockIdent kBlocks[] = {{kObjectBlock.id, kObjectBlock.token},
                                       {kInvertBlock.id, kInvertBlock.token},
                                       {kWeightMapBlock.id, kWeightMapBlock.token},
                                       {0, nullptr}};
  hostsim::BlockReader reader(form, data, hostsim::LoadOptions{.returnUnknownBlocks = true});
  SingleData found;
  for (BlockId id; (id = reader.findBlock(kBlocks)) != 0; reader.endBlock()) {
    ++found.blocks;
    if (id == kObjectBlock.id) {
      found.object = readWhole(reader, data.size());
    } else if (id == kWeightMapBlock.id) {
      found.weightMap = readWhole(reader, data.size());
    } else if (int32_t value = 0; id == kInvertBlock.id && reader.readInts(&value, 1) == 1) {
      found.invert = value;
    }
  }
  if (reader.damaged()) found.blocks = -1;
  return found;
}

std::optional<int32_t> readCount(hostsim::BlockForm form, const std::string &data,
                                 const hostsim::LoadOptions &options) {
  static const BlockIdent kBlocks[] = {{kCountBlock.id, kCountBlock.token}, {0, nullptr}};
  hostsim::BlockReader reader(form, data, options);
  std::optional<int32_t> count;
  // A host may also hand over blocks the list does not name.
  for (BlockId id; (id = reader.findBlock(kBlocks)) != 0; reader.endBlock()) {
    if (int32_t value = 0; id == kCountBlock.id && reader.readInts(&value, 1) == 1) count = value;
  }
  return count;
}

std::string storedName(std::string_view text) {
  return std::string(text.substr(0, text.find('\0')).substr(0, kNameField - 1));
}

bool sameVector(const hostsim::Vec3 &a, const hostsim::Vec3 &b) {
  for (std::size_t i = 0; i < 3; ++i) {
    if (a[i] != b[i] && !(std::isnan(a[i]) && std::isnan(b[i]))) return false;
  }
  return true;
}

}  // namespace fuzzing

// Loads the module before libFuzzer starts counting, so its coverage is
// known from the first input on.
extern "C" int LLVMFuzzerInitialize(int * /*argc*/, char *** /*argv*/) {
  fuzzing::Harness::get();
  return 0;
}
