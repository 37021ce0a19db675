// Feeds the single-reference node's load callback a host that delivers
// whatever the input says: any block identifiers in any order, strings of
// any length with or without a terminator, integer reads that succeed or
// not. Afterwards every stored name must still end inside its field, which
// a save shows: the node hands each name to writeStr, and a name that ran
// past its 260 bytes would show up there.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "hostsim/host.h"
#include "hostsim/module_facts.h"

namespace {

using hostsim::facts::kNameField;

struct FuzzInput {
  const uint8_t *data;
  std::size_t size;

  bool empty() const { return size == 0; }
  uint8_t take() {
    if (size == 0) return 0;
    --size;
    return *data++;
  }
};

BlockId pickBlock(FuzzInput &in) {
  static constexpr BlockId kChoices[] = {
      hostsim::facts::kObjectBlock.id, hostsim::facts::kInvertBlock.id,
      hostsim::facts::kWeightMapBlock.id, hostsim::blockId("UNKN")};
  if (in.empty()) return 0;
  return kChoices[in.take() % 4];
}

extern "C" {

BlockId findBlk(void *readData, const BlockIdent * /*list*/) {
  return pickBlock(*static_cast<FuzzInput *>(readData));
}

void endBlk(void * /*readData*/) {}

int readI4(void *readData, int32_t *values, int count) {
  auto &in = *static_cast<FuzzInput *>(readData);
  if (count < 1 || in.take() % 2 == 0) return 0;
  int32_t value = 0;
  for (int i = 0; i < 4; ++i) value = static_cast<int32_t>((uint32_t(value) << 8) | in.take());
  values[0] = value;
  return 1;
}

// Writes up to max bytes straight from the input, a terminator only where
// the input happens to hold a zero.
int readStr(void *readData, char *buffer, int max) {
  auto &in = *static_cast<FuzzInput *>(readData);
  const int high = in.take();
  const int wanted = (high << 8 | in.take()) % (max + 1);
  int written = 0;
  for (; written < wanted; ++written) buffer[written] = static_cast<char>(in.take() | 0x20);
  return written;
}

void checkTerminated(void * /*writeData*/, const char *string) {
  if (std::memchr(string, 0, kNameField) == nullptr) __builtin_trap();
}
void ignoreInts(void *, const int32_t *, int) {}
void ignoreBegin(void *, const BlockIdent *, int) {}
void ignoreEnd(void *) {}

}  // extern "C"

struct Fixture {
  hostsim::Host host{KERROWBEND_MODULE_PATH};
  hostsim::Node *node = nullptr;
  Fixture() {
    if (host.activateHandler("Kerrowbend") != ACTIVATE_OK) __builtin_trap();
    node = &host.createNode("Kerrowbend", "fuzz");
    host.log().setRecording(false);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  static Fixture fixture;
  const InstanceFuncs &funcs = fixture.node->activation().instance;
  FuzzInput in{data, size};
  const LoadState load{0, &in, readI4, readStr, findBlk, endBlk};
  funcs.load(fixture.node->instance(), &load);
  const SaveState save{0, nullptr, ignoreInts, checkTerminated, ignoreBegin, ignoreEnd};
  funcs.save(fixture.node->instance(), &save);
  return 0;
}
