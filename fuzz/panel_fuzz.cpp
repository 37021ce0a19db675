// Drives both nodes' panels the way the host's panel and a user do, in any
// order: reads and edits of every value id and of ids no control has,
// counts anywhere in int32 (past the stage limit too), names of any length
// (with or without zeros inside), null value pointers, change notifications
// with any event code and with no panel, popups at any index, connections
// made and broken, loads, and interface activations of any version. The input is
// a sequence of steps: an operation byte, then the operation's arguments in
// the order the step reads them.
//
// After each step the node it touched shows what the steps so far imply:
// - single node: get gives each name terminated inside its 260-byte field
//   and equal to the name last stored, or nothing while the name's input
//   is connected; invert as last set. A name that does not fit is cut to
//   259 bytes or refused, never written past the field.
// - multi node: get gives the count last set; the inputs are the stages of
//   the count held at the last value-change event, edit or load (none for
//   a count of 0 or below), whatever happened since.
// - unknown ids and null values change nothing; a connection change
//   refreshes the panel; an activation hands back the node's one panel.
// At the end both nodes save what their panels showed.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/harness.h"

namespace {

using fuzzing::Bytes;
using fuzzing::Harness;
using fuzzing::kInputSizeId;
using fuzzing::kInvertId;
using fuzzing::kReferenceObjectId;
using fuzzing::kWeightMapId;
using fuzzing::Slot;
using hostsim::BlockForm;

// Enough steps for any sequence worth trying; and a bound on the inputs a
// sequence may have the host make, past which it stops.
constexpr int kMaxSteps = 128;
constexpr std::size_t kMaxNewInputs = std::size_t{2} * hostsim::facts::kStageLimit;

constexpr const char *kSceneObjects[] = {"Cube", "Ref", "Other"};

struct SingleState {
  std::string object;
  std::string weightMap;
  int32_t invert = hostsim::facts::kNewNodeInvert;
  bool referenceConnected = false;
  bool weightConnected = false;
};

struct MultiState {
  int32_t count = 1;   // as last set
  int32_t stages = 1;  // as last applied
};

// ---- arguments --------------------------------------------------------------

uint32_t anyId(Bytes &in) {
  static constexpr uint32_t kIds[] = {
      kReferenceObjectId, kInvertId, kWeightMapId, 0, 0x8004, 0x8000, 0xFFFFFFFF};
  const uint8_t pick = in.byte() % 8;
  return pick < std::size(kIds) ? kIds[pick] : in.u32();
}

uint32_t nameId(Bytes &in) {
  const uint32_t id = anyId(in);
  return id == kInvertId ? kReferenceObjectId : id;
}

uint32_t integerId(Bytes &in) {
  const uint32_t id = anyId(in);
  return id == kReferenceObjectId || id == kWeightMapId ? kInvertId : id;
}

int anyEvent(Bytes &in) {
  switch (in.byte() % 4) {
    case 0:
    case 1:
      return hostsim::kPanelEventValueChanged;
    case 2:
      return hostsim::kPanelEventsOtherThanValueChanged[in.byte() % 4];
    default:
      return in.i32();
  }
}

int anyVersion(Bytes &in) {
  static constexpr int kVersions[] = {4, 4, 3, 5, 0, -1};
  const uint8_t pick = in.byte() % 8;
  return pick < std::size(kVersions) ? kVersions[pick] : in.i32();
}

int32_t anyIndex(Bytes &in) {
  return in.byte() % 2 == 0 ? static_cast<int8_t>(in.byte()) % 6 : in.i32();
}

// A name of any length, made by repeating a short pattern from the input
// (which may hold zeros); lengths around the field's size come often.
std::string anyName(Bytes &in) {
  static constexpr std::size_t kEdges[] = {0, 1, 258, 259, 260, 261, 519, 520};
  std::size_t length = 0;
  switch (in.byte() % 4) {
    case 0:
      length = in.byte();
      break;
    case 1:
      length = kEdges[in.byte() % std::size(kEdges)];
      break;
    case 2:
      length = 250 + in.byte() % 20;
      break;
    default:
      length = in.u16() % 4096;
  }
  std::string pattern = in.text(1 + in.byte() % 8);
  if (pattern.empty()) pattern = "n";
  std::string name;
  name.reserve(length);
  while (name.size() < length) name += pattern[name.size() % pattern.size()];
  return name;
}

// ---- checks -----------------------------------------------------------------

bool knownSingleId(uint32_t id) {
  return id == kReferenceObjectId || id == kInvertId || id == kWeightMapId;
}

void checkName(const hostsim::PanelRecord &panel, uint32_t id, const std::string &expected,
               bool withheld, const char *what) {
  const void *address = panel.valueAddress(id);
  if (withheld) {
    FUZZ_REQUIRE(address == nullptr, "%s shown while its input is connected", what);
    return;
  }
  FUZZ_REQUIRE(address != nullptr, "%s withheld while its input is free", what);
  const auto *text = static_cast<const char *>(address);
  FUZZ_REQUIRE(std::memchr(text, 0, fuzzing::kNameField) != nullptr, "%s runs past its field",
               what);
  FUZZ_REQUIRE(expected == text, "%s is %zu bytes \"%.40s...\", not %zu bytes \"%.40s...\"", what,
               std::strlen(text), text, expected.size(), expected.c_str());
}

void checkSingle(const hostsim::PanelRecord &panel, const SingleState &state) {
  checkName(panel, kReferenceObjectId, state.object, state.referenceConnected, "reference object");
  checkName(panel, kWeightMapId, state.weightMap, state.weightConnected, "weight map");
  FUZZ_REQUIRE(panel.intValue(kInvertId) == state.invert, "invert is not %d",
               static_cast<int>(state.invert));
}

void checkMulti(const hostsim::Node &node, const hostsim::PanelRecord &panel,
                const MultiState &state) {
  FUZZ_REQUIRE(panel.intValue(kInputSizeId) == state.count, "input size is not %d",
               static_cast<int>(state.count));
  FUZZ_REQUIRE(fuzzing::hasStages(node, state.stages), "inputs are not the stages of %d",
               static_cast<int>(state.stages));
}

// The names as the node saves them: what was stored, also while the panel
// withholds it.
fuzzing::SingleData savedSingle(hostsim::Node &node) {
  fuzzing::SingleData saved =
      fuzzing::readSingleData(BlockForm::Binary, node.save(BlockForm::Binary));
  FUZZ_REQUIRE(saved.blocks == 3 && saved.invert.has_value(), "single node saved %d blocks",
               saved.blocks);
  FUZZ_REQUIRE(
      saved.object.size() < fuzzing::kNameField && saved.weightMap.size() < fuzzing::kNameField,
      "single node saved a name past its field");
  return saved;
}

// A stored name is the text cut to the field; a text that does not fit may
// instead be refused, leaving the name as it was.
void acceptStored(std::string &name, const std::string &stored, const std::string &text,
                  const char *what) {
  const std::string expected = fuzzing::storedName(text);
  const bool fits = std::strlen(text.c_str()) < fuzzing::kNameField;
  FUZZ_REQUIRE(stored == expected || (!fits && stored == name),
               "%s of %zu bytes \"%.40s...\" stored as %zu bytes \"%.40s...\"", what,
               expected.size(), expected.c_str(), stored.size(), stored.c_str());
  name = stored;
}

// ---- the sequence -----------------------------------------------------------

void unchangedInterfaceOptions(void * /*instance*/) {}
Error unchangedInterfaceCommand(void * /*instance*/, const char * /*command*/) { return nullptr; }

class Sequence {
 public:
  Sequence(Harness &harness, Bytes &in)
      : harness_(harness),
        in_(in),
        single_(harness.node(Slot::Single)),
        multi_(harness.node(Slot::Multi)),
        singlePanel_(harness.panel(Slot::Single)),
        multiPanel_(harness.panel(Slot::Multi)) {}

  void run() {
    const std::size_t startInputs = multi_.inputs().size();
    for (int step = 0; step < kMaxSteps && !in_.empty(); ++step) {
      if (multi_.inputs().size() - startInputs > kMaxNewInputs) break;
      const uint8_t op = in_.byte() % 17;
      if (op < 8) {
        singleStep(op);
        checkSingle(singlePanel_, singleState_);
      } else if (op < 16) {
        multiStep(op);
        checkMulti(multi_, multiPanel_, multiState_);
      } else {
        activateInterface();
      }
    }
    const fuzzing::SingleData saved = savedSingle(single_);
    FUZZ_REQUIRE(saved.object == singleState_.object && saved.weightMap == singleState_.weightMap &&
                     saved.invert == singleState_.invert,
                 "single node saved other settings than its panel showed");
    FUZZ_REQUIRE(
        fuzzing::readCount(BlockForm::Binary, multi_.save(BlockForm::Binary)) == multiState_.count,
        "multi node saved another count than its panel showed");
  }

 private:
  void singleStep(uint8_t op) {
    SingleState &state = singleState_;
    switch (op) {
      case 0: {
        const uint32_t id = anyId(in_);
        if (!knownSingleId(id)) {
          FUZZ_REQUIRE(singlePanel_.valueAddress(id) == nullptr, "get of id %#x gave a value", id);
        }
        break;
      }
      case 1: {
        const uint32_t id = nameId(in_);
        const std::string text = anyName(in_);
        const int answer = singlePanel_.setString(id, text);
        const fuzzing::SingleData saved = savedSingle(single_);
        if (id == kReferenceObjectId || id == kWeightMapId) {
          const bool object = id == kReferenceObjectId;
          FUZZ_REQUIRE(answer == 1 || std::strlen(text.c_str()) >= fuzzing::kNameField,
                       "set of a name that fits answered %d", answer);
          acceptStored(object ? state.object : state.weightMap,
                       object ? saved.object : saved.weightMap, text, "set name");
        } else {
          FUZZ_REQUIRE(answer == 0, "set of id %#x answered %d", id, answer);
        }
        break;
      }
      case 2: {
        const uint32_t id = integerId(in_);
        const int32_t value = in_.i32();
        const int answer = singlePanel_.setInt(id, value);
        if (id == kInvertId) {
          FUZZ_REQUIRE(answer == 1, "set of invert answered %d", answer);
          state.invert = value;
        } else {
          FUZZ_REQUIRE(answer == 0, "set of id %#x answered %d", id, answer);
        }
        break;
      }
      case 3: {
        singlePanel_.setValue(anyId(in_), nullptr);
        const fuzzing::SingleData saved = savedSingle(single_);
        FUZZ_REQUIRE(saved.object == state.object && saved.weightMap == state.weightMap,
                     "set with no value changed a name");
        break;
      }
      case 4: {
        const bool weight = in_.byte() % 2 != 0;
        toggle(single_, weight ? "Weight" : "Reference Normal", singlePanel_);
        bool &connected = weight ? state.weightConnected : state.referenceConnected;
        connected = !connected;
        break;
      }
      case 5:
        checkPopup();
        break;
      case 6: {
        const BlockForm form = in_.byte() % 2 != 0 ? BlockForm::Text : BlockForm::Binary;
        const std::string object = anyName(in_);
        const int32_t invert = in_.i32();
        const std::string weightMap = anyName(in_);
        FUZZ_REQUIRE(
            single_.load(form, fuzzing::singleData(form, object, invert, weightMap)) == nullptr,
            "single node: load gave an error");
        const fuzzing::SingleData saved = savedSingle(single_);
        acceptStored(state.object, saved.object, object, "loaded name");
        acceptStored(state.weightMap, saved.weightMap, weightMap, "loaded name");
        state.invert = invert;
        break;
      }
      default: {
        const uint32_t control = anyId(in_);
        const uint32_t value = anyId(in_);
        singlePanel_.notifyChange(control, value, anyEvent(in_));
      }
    }
  }

  void multiStep(uint8_t op) {
    MultiState &state = multiState_;
    switch (op) {
      case 8: {
        const uint32_t id = anyId(in_);
        if (id != kInputSizeId) {
          FUZZ_REQUIRE(multiPanel_.valueAddress(id) == nullptr, "get of id %#x gave a value", id);
        }
        break;
      }
      case 9: {
        const uint32_t id = in_.byte() % 2 == 0 ? kInputSizeId : anyId(in_);
        const int32_t count = fuzzing::stageCount(in_);
        const int answer = multiPanel_.setInt(id, count);
        FUZZ_REQUIRE(answer == (id == kInputSizeId ? 1 : 0), "set of id %#x answered %d", id,
                     answer);
        if (id == kInputSizeId) state.count = count;
        break;
      }
      case 10:
        multiPanel_.setValue(anyId(in_), nullptr);
        break;
      case 11: {
        const uint32_t control = anyId(in_);
        const uint32_t value = anyId(in_);
        const int event = anyEvent(in_);
        multiPanel_.notifyChange(control, value, event);
        if (event == hostsim::kPanelEventValueChanged) state.stages = state.count;
        break;
      }
      case 12: {
        const uint32_t control = anyId(in_);
        const uint32_t value = anyId(in_);
        multiPanel_.changeNotify(nullptr, control, value, anyEvent(in_));
        break;
      }
      case 13: {
        const int32_t count = fuzzing::stageCount(in_);
        FUZZ_REQUIRE(multiPanel_.editInt(kInputSizeId, count) == 1, "edit not taken");
        state.count = state.stages = count;
        break;
      }
      case 14: {
        const BlockForm form = in_.byte() % 2 != 0 ? BlockForm::Text : BlockForm::Binary;
        const int32_t count = fuzzing::stageCount(in_);
        FUZZ_REQUIRE(multi_.load(form, fuzzing::countData(form, count)) == nullptr,
                     "multi node: load gave an error");
        state.count = state.stages = count;
        break;
      }
      default: {
        const uint8_t pick = in_.byte();
        const int32_t stages = fuzzing::stagesMade(state.stages);
        if (stages == 0) break;
        const int stage = pick / 2 % stages + 1;
        const std::string name =
            (pick % 2 != 0 ? "Weight " : "Reference Normal ") + std::to_string(stage);
        toggle(multi_, name, multiPanel_);
      }
    }
  }

  void toggle(hostsim::Node &node, const std::string &name, const hostsim::PanelRecord &panel) {
    const hostsim::Input *input = node.input(name);
    FUZZ_REQUIRE(input != nullptr, "%s: no input %s", node.server().c_str(), name.c_str());
    const int refreshes = panel.refreshCount;
    if (input->connected()) {
      node.disconnect(name);
    } else if (input->connectionType() == CONNECTION_SCALAR) {
      node.connect(name, 0.5);
    } else {
      node.connect(name, hostsim::Vec3{1.0, 0.0, 0.0});
    }
    FUZZ_REQUIRE(input->lastEventResult() == 1 && panel.refreshCount == refreshes + 1,
                 "%s: an event on %s did not refresh the panel", node.server().c_str(),
                 name.c_str());
  }

  void checkPopup() {
    const int32_t index = anyIndex(in_);
    if (in_.byte() % 2 == 0) {
      FUZZ_REQUIRE(singlePanel_.popupCount(kReferenceObjectId) == 3,
                   "object popup does not count the scene's three objects");
      const char *name = singlePanel_.popupName(kReferenceObjectId, index);
      const char *expected = index >= 0 && index < 3 ? kSceneObjects[index] : "";
      FUZZ_REQUIRE(name != nullptr && std::strcmp(name, expected) == 0,
                   "object popup choice %d is not \"%s\"", static_cast<int>(index), expected);
    } else {
      const std::vector<std::string> maps = harness_.host().scene().weightMapNames();
      FUZZ_REQUIRE(singlePanel_.popupCount(kWeightMapId) == static_cast<int>(maps.size()),
                   "weight map popup miscounts");
      const char *name = singlePanel_.popupName(kWeightMapId, index);
      const bool inRange = index >= 0 && static_cast<std::size_t>(index) < maps.size();
      FUZZ_REQUIRE(inRange ? name != nullptr && maps[static_cast<std::size_t>(index)] == name
                           : name == nullptr,
                   "weight map popup choice %d is wrong", static_cast<int>(index));
    }
  }

  void activateInterface() {
    const bool single = in_.byte() % 2 == 0;
    const int version = anyVersion(in_);
    const bool noRecord = in_.byte() % 8 == 0;
    hostsim::Node &node = single ? single_ : multi_;
    const hostsim::PanelRecord &panel = single ? singlePanel_ : multiPanel_;
    // A marker the module must hand back as it found it; never dereferenced.
    // NOLINTNEXTLINE(performance-no-int-to-ptr)
    const auto untouched = reinterpret_cast<PanelId>(uintptr_t{0x1});
    InterfaceRecord record{node.instance(), untouched, unchangedInterfaceOptions,
                           unchangedInterfaceCommand};
    const int answer =
        harness_.host().activateInterface(node.server(), version, noRecord ? nullptr : &record);
    if (version != NODE_INTERFACE_VERSION) {
      FUZZ_REQUIRE(answer == ACTIVATE_BAD_VERSION, "interface version %d answered %d", version,
                   answer);
    } else if (noRecord) {
      FUZZ_REQUIRE(answer == ACTIVATE_MISSING_RECORD, "interface with no record answered %d",
                   answer);
    } else {
      FUZZ_REQUIRE(answer == ACTIVATE_OK && record.panel == panel.id() &&
                       record.options == nullptr && record.command == nullptr,
                   "%s: a second activation did not hand back its panel", node.server().c_str());
      return;
    }
    FUZZ_REQUIRE(record.panel == untouched && record.options == unchangedInterfaceOptions &&
                     record.command == unchangedInterfaceCommand,
                 "%s: a refused activation wrote its record", node.server().c_str());
  }

  Harness &harness_;
  Bytes &in_;
  hostsim::Node &single_;
  hostsim::Node &multi_;
  hostsim::PanelRecord &singlePanel_;
  hostsim::PanelRecord &multiPanel_;
  SingleState singleState_;
  MultiState multiState_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  Harness &harness = Harness::get();
  Bytes in(data, size);
  Sequence(harness, in).run();
  harness.endInput();
  return 0;
}
