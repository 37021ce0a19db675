// The state/* checks: a node's save loaded into a fresh node saves the same
// bytes in both forms and shows the same values, a copy carries every
// setting, the Reference Object is found anew at each new time, damaged
// data leaves a node that still saves and reloads to the same, a damaged
// stage count costs no more than the stage limit, and names longer than
// their field load cut or refused.
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "hostsim/expected_drag.h"
#include "tools/process/child_run.h"
#include "tools/validate/groups.h"
#include "tools/validate/shaded_spots.h"
#include "tools/validate/support.h"

namespace kerrowbend_host {

using hostsim::LoadOptions;
using hostsim::facts::countData;
using hostsim::facts::kCountBlock;
using hostsim::facts::kInvertBlock;
using hostsim::facts::kObjectBlock;
using hostsim::facts::kStageLimit;
using hostsim::facts::kWeightMapBlock;
using hostsim::facts::singleData;

namespace {

// Both ways a host may treat blocks a loader did not ask for.
constexpr std::array<LoadOptions, 2> kHostKinds = {LoadOptions{false}, LoadOptions{true}};

void loadChecked(Node &node, BlockForm form, const std::string &data, const LoadOptions &options) {
  hostsim::LoadReport report;
  const Error error = node.load(form, data, options, &report);
  if (error != nullptr) {
    fail(node.server() + ": expected loading its own " + formName(form) +
         " save to report no error, but it reported " + shown(error));
  }
  if (!report.problems.empty()) {
    fail(node.server() + ": expected loading its own " + formName(form) +
         " save to follow the block protocol, but the host met: " + report.problems.front());
  }
}

// Settings a user makes in a node's panel: every saved field away from a
// new node's, in more than one way, and the multi node at several counts.
struct SavedSetup {
  const char *server;
  const char *label;
  void (*apply)(const PanelRecord &panel);
};

const SavedSetup kSavedSetups[] = {
    {kSingle, "as created", [](const PanelRecord &) {}},
    {kSingle, "with every setting changed",
     [](const PanelRecord &panel) {
       panel.setString(kReferenceObjectId, "Pointer");
       panel.setInt(kInvertId, 0);
       panel.setString(kWeightMapId, "Gradient");
     }},
    {kSingle, "with Invert Vector 7 and names with spaces and quotes",
     [](const PanelRecord &panel) {
       panel.setString(kReferenceObjectId, "Key \"Light\" 2");
       panel.setInt(kInvertId, 7);
       panel.setString(kWeightMapId, "Soft Mask");
     }},
    {kMulti, "as created", [](const PanelRecord &) {}},
    {kMulti, "with Input Size 3", [](const PanelRecord &panel) { panel.editInt(kInputSizeId, 3); }},
    {kMulti, "with Input Size 12",
     [](const PanelRecord &panel) { panel.editInt(kInputSizeId, 12); }},
    {kMulti, "with Input Size 0", [](const PanelRecord &panel) { panel.editInt(kInputSizeId, 0); }},
    {kMulti, "with Input Size -2",
     [](const PanelRecord &panel) { panel.editInt(kInputSizeId, -2); }},
};

// Every value the panel shows, as "id value", for comparing two nodes.
std::vector<std::string> panelValues(const PanelRecord &panel, const std::string &who) {
  std::vector<std::string> values;
  for (const PanelDataDesc *value = panel.data; value != nullptr && value->vid != 0; ++value) {
    const bool text = std::string(value->dataType) == PANEL_DATA_STRING;
    const auto number = text ? std::nullopt : panel.intValue(value->vid);
    values.push_back(hex(value->vid) + " " +
                     (text ? shown(readName(panel, value->vid, who))
                           : (number ? std::to_string(*number) : "none")));
  }
  return values;
}

void checkSaveLoadSave(const std::string &modulePath, BlockForm form) {
  for (const SavedSetup &setup : kSavedSetups) {
    for (const LoadOptions &options : kHostKinds) {
      const std::string name = std::string(setup.server) + " " + setup.label;
      const auto host = openHost(modulePath);
      Node &first = placeNode(*host, setup.server);
      const PanelRecord &panel = openPanel(*host, first);
      setup.apply(panel);
      const std::string saved = saveChecked(first, form);
      Node &fresh = placeNode(*host, setup.server);
      loadChecked(fresh, form, saved, options);
      const std::string again = saveChecked(fresh, form);
      if (again != saved) {
        fail(name + ": expected a fresh instance loaded from its " + formName(form) +
             " save to save the same bytes, but " + firstDifference(saved, again));
      }
      const std::vector<std::string> set = panelValues(panel, name);
      const std::vector<std::string> loaded = panelValues(openPanel(*host, fresh), name);
      if (loaded != set) {
        fail(name + ": expected a fresh instance loaded from its " + formName(form) +
             " save to show the values " + joined(set) + " in its panel, but it shows " +
             joined(loaded));
      }
      if (std::string(setup.server) == kMulti) {
        const int32_t count = panel.intValue(kInputSizeId).value_or(0);
        failOnProblem(name + ": after loading a count of " + std::to_string(count) + ", ",
                      stageProblem(fresh, std::max(count, 0)));
      }
    }
  }
}

}  // namespace

void checkSaveLoadSaveBinary(const std::string &modulePath) {
  checkSaveLoadSave(modulePath, BlockForm::Binary);
}

void checkSaveLoadSaveText(const std::string &modulePath) {
  checkSaveLoadSave(modulePath, BlockForm::Text);
}

namespace {

// The blocks a node keeps, to aim damaged data at its loader.
struct KnownBlock {
  BlockId id;
  const char *token;
  bool integer;  // one 32-bit integer; else a string
};

std::vector<KnownBlock> knownBlocks(const std::string &server) {
  if (server == kSingle) {
    return {{kObjectBlock.id, kObjectBlock.token, false},
            {kInvertBlock.id, kInvertBlock.token, true},
            {kWeightMapBlock.id, kWeightMapBlock.token, false}};
  }
  return {{kCountBlock.id, kCountBlock.token, true}};
}

// Integers a damaged file may hold. A large positive stage count would
// only measure how long the node takes to make its stages, which
// state/damaged-stage-count does; the damage here lies elsewhere.
constexpr std::array<int32_t, 7> kSmallIntegers = {0, 1, -1, 2, 7, -7, INT32_MIN};

void appendBigEndian(std::string &out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((value >> shift) & 0xFF);
}

// Binary data built like blocks but with lengths, payloads and
// identifiers gone wrong.
std::string randomBinaryBlocks(std::mt19937 &random, const std::vector<KnownBlock> &known) {
  std::string out;
  const int blocks = static_cast<int>(random() % 4) + 1;
  for (int b = 0; b < blocks; ++b) {
    const bool aimed = random() % 4 != 0;
    const KnownBlock &block = known[random() % known.size()];
    appendBigEndian(out, aimed ? block.id : static_cast<uint32_t>(random()));
    std::string payload;
    if (aimed && block.integer) {
      for (int i = static_cast<int>(random() % 3); i > 0; --i) {
        appendBigEndian(payload,
                        static_cast<uint32_t>(kSmallIntegers[random() % kSmallIntegers.size()]));
      }
      if (!payload.empty() && random() % 3 == 0) payload.resize(payload.size() - 1 - random() % 3);
    } else {
      payload.resize(random() % 48);
      for (char &c : payload) c = static_cast<char>(random() % 3 == 0 ? 0 : random());
    }
    const uint32_t length = static_cast<uint32_t>(payload.size());
    // Only the last block's length may overreach: an earlier one would take
    // in the next block's header, whose bytes read as an integer are no
    // small number.
    const bool last = b + 1 == blocks;
    switch (random() % 5) {
      case 0:
        appendBigEndian(out, last ? length + 1 + random() % 64 : length);  // runs past the data
        break;
      case 1:
        appendBigEndian(out, last ? 0xFFFFFFF0u : length);
        break;
      default:
        appendBigEndian(out, length);
    }
    out += payload;
  }
  if (random() % 3 == 0) out.resize(random() % (out.size() + 1));
  return out;
}

// Text made of the form's own pieces, in an order no writer produces.
std::string randomTextBlocks(std::mt19937 &random, const std::vector<KnownBlock> &known) {
  static const char *const kPieces[] = {"{",  "}",    "\"",       "\"name\"", "\"cut",
                                        "\\", "\\x4", "Unknown",  "\n",       "\n",
                                        " ",  "\t",   "\"\\\"\"", "\r"};
  std::string out;
  const int pieces = static_cast<int>(random() % 24) + 1;
  for (int i = 0; i < pieces; ++i) {
    switch (random() % 4) {
      case 0:
        out += known[random() % known.size()].token;
        break;
      case 1:
        out += std::to_string(kSmallIntegers[random() % kSmallIntegers.size()]);
        break;
      default:
        out += kPieces[random() % std::size(kPieces)];
    }
    out += random() % 2 == 0 ? " " : "\n";
  }
  return out;
}

// Blocks the node knows, holding the wrong thing: nothing, the other kind
// of value, a block inside them. In the binary form the header of a block
// inside an integer block would read as that integer, a number far beyond
// the small ones damaged data is given here (see kSmallIntegers).
std::vector<std::string> misfilledBlocks(const std::vector<KnownBlock> &known, BlockForm form) {
  std::vector<std::string> cases;
  for (const KnownBlock &block : known) {
    const int variants = block.integer && form == BlockForm::Binary ? 2 : 3;
    for (int variant = 0; variant < variants; ++variant) {
      hostsim::BlockWriter writer(form);
      writer.begin(block.id, block.token, variant != 2);
      if (variant == 1) {
        if (block.integer) {
          // Too short to be read as an integer in the binary form, where
          // any four bytes would be one.
          writer.writeString("no");
        } else {
          writer.writeInt(7);
        }
      } else if (variant == 2) {
        writer.begin(block.id, block.token);
        writer.writeInt(1);
        writer.end();
      }
      writer.end();
      cases.push_back(writer.finish());
    }
  }
  if (form == BlockForm::Binary) {
    // A string block whose string never ends.
    for (const KnownBlock &block : known) {
      if (block.integer) continue;
      std::string data;
      appendBigEndian(data, block.id);
      appendBigEndian(data, 8);
      data += "unending";
      cases.push_back(data);
    }
  }
  return cases;
}

}  // namespace

void checkDamagedLoads(const std::string &modulePath) {
  constexpr int kRandomCases = 200;
  for (const char *server : kNodes) {
    const std::vector<KnownBlock> known = knownBlocks(server);
    for (const BlockForm form : kForms) {
      const auto host = openHost(modulePath);
      std::string valid;
      {
        Node &source = placeNode(*host, server);
        configure(source, openPanel(*host, source));
        valid = saveChecked(source, form);
        source.destroy();
      }
      std::vector<std::string> cases = {""};
      for (std::size_t cut = 1; cut < valid.size(); ++cut) cases.push_back(valid.substr(0, cut));
      for (const std::string &misfilled : misfilledBlocks(known, form)) cases.push_back(misfilled);
      std::mt19937 random(20240611);
      for (int i = 0; i < kRandomCases; ++i) {
        cases.push_back(form == BlockForm::Binary ? randomBinaryBlocks(random, known)
                                                  : randomTextBlocks(random, known));
        std::string bytes(random() % 40, '\0');
        for (char &c : bytes) c = static_cast<char>(random());
        cases.push_back(bytes);
      }
      for (const std::string &data : cases) {
        for (const LoadOptions &options : kHostKinds) {
          const std::string which =
              std::string(server) + ", " + formName(form) + " data " + shown(data, 32);
          Node &damaged = placeNode(*host, server);
          damaged.load(form, data, options);
          // What survived must still be the node's own: it saves, and the
          // save reloads to the same.
          const std::string saved = saveChecked(damaged, form);
          Node &reloaded = placeNode(*host, server);
          reloaded.load(form, saved, options);
          const std::string again = saveChecked(reloaded, form);
          if (again != saved) {
            fail(which + ": expected what a damaged load left to save and reload unchanged, " +
                 "but " + firstDifference(saved, again));
          }
          damaged.destroy();
          reloaded.destroy();
        }
      }
    }
  }
}

namespace {

// Counts at and past the limit, loaded one after another into one node:
// the first builds the limit's stages, the others find them built (the
// count reaches the module alike from either form, so one build serves
// both). The binary form comes first and starts just past the limit, so a
// module without the limit fails there before it could spend hours on the
// largest int32, which comes next.
struct CountLoad {
  BlockForm form;
  int32_t count;
};
constexpr std::array<CountLoad, 6> kCountLoads = {{
    {BlockForm::Binary, kStageLimit + 1},
    {BlockForm::Binary, INT32_MAX},
    {BlockForm::Binary, kStageLimit},
    {BlockForm::Text, INT32_MAX},
    {BlockForm::Text, kStageLimit},
    {BlockForm::Text, kStageLimit + 1},
}};

// A load of the limit's stages takes a fraction of a second; a module that
// goes on past the limit takes minutes at the largest count, if it ever ends.
#if defined(KERROWBEND_SLOW_BUILD)
constexpr std::chrono::seconds kLoadBudget{60};
#else
constexpr std::chrono::seconds kLoadBudget{10};
#endif

}  // namespace

void checkDamagedStageCount(const std::string &modulePath) {
  const auto host = openHost(modulePath);
  Node &node = placeNode(*host, kMulti);
  for (const auto &[form, count] : kCountLoads) {
    // A load of the limit's stages takes seconds under the sanitizers;
    // only a load that goes silent for the time limit counts as hung.
    stillWorking();
    const std::string which = std::string(kMulti) + " loaded from " + formName(form) +
                              " scene data with Input Size " + std::to_string(count);
    const std::string data = countData(form, count);
    const auto start = std::chrono::steady_clock::now();
    const Error error = node.load(form, data);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (error != nullptr) {
      fail(which + ": expected the load to report no error, but it reported " + shown(error));
    }
    if (took > kLoadBudget) {
      fail(which + ": expected the load to take at most " + std::to_string(kLoadBudget.count()) +
           " s, but it took " + std::to_string(took.count()) + " s");
    }
    const std::size_t inputs = node.inputNames().size();
    if (inputs != 2 * static_cast<std::size_t>(kStageLimit)) {
      fail(which + ": expected " + std::to_string(kStageLimit) + " stages (" +
           std::to_string(2 * kStageLimit) + " inputs), but the node has " +
           std::to_string(inputs) + " inputs");
    }
    stillWorking();
    failOnProblem(which + ": ", stageProblem(node, kStageLimit));
    const std::string saved = saveChecked(node, form);
    if (saved != data) {
      fail(which + ": expected the node to save the count as loaded, but " +
           firstDifference(data, saved));
    }
    const std::optional<int32_t> shownCount = openPanel(*host, node).intValue(kInputSizeId);
    if (shownCount != count) {
      fail(which + ": expected its panel to show Input Size " + std::to_string(count) +
           ", but it shows " + (shownCount ? std::to_string(*shownCount) : "none"));
    }
  }
}

void checkBlockTokens(const std::string &modulePath) {
  for (BlockForm form : kForms) {
    const auto host = openHost(modulePath);
    Node &single = placeNode(*host, kSingle);
    const std::string fresh = saveChecked(single, form);
    const std::string expectedFresh = singleData(form, "", 1, "");
    if (fresh != expectedFresh) {
      fail(std::string(kSingle) + ": expected a new node's " + formName(form) + " save to be " +
           shown(expectedFresh, 120) + ", but " + firstDifference(expectedFresh, fresh));
    }
    const PanelRecord &panel = openPanel(*host, single);
    panel.setString(kReferenceObjectId, "Pointer");
    panel.setInt(kInvertId, 0);
    panel.setString(kWeightMapId, "Gradient");
    const std::string set = saveChecked(single, form);
    const std::string expectedSet = singleData(form, "Pointer", 0, "Gradient");
    if (set != expectedSet) {
      fail(std::string(kSingle) + ": expected its " + formName(form) + " save with every setting " +
           "changed to be " + shown(expectedSet, 120) + ", but " +
           firstDifference(expectedSet, set));
    }
    Node &multi = placeNode(*host, kMulti);
    openPanel(*host, multi).editInt(kInputSizeId, 3);
    const std::string count = saveChecked(multi, form);
    const std::string expectedCount = countData(form, 3);
    if (count != expectedCount) {
      fail(std::string(kMulti) + ": expected its " + formName(form) + " save with Input Size 3 " +
           "to be " + shown(expectedCount, 120) + ", but " + firstDifference(expectedCount, count));
    }
  }
}

void checkLoadedLongNames(const std::string &modulePath) {
  for (const BlockForm form : kForms) {
    for (const std::size_t length : kLongNames) {
      const std::string name = patternName(length);
      const std::string who = std::string(kSingle) + ", " + formName(form) +
                              " data with names of " + std::to_string(length) + " characters";
      hostsim::BlockWriter writer(form);
      writer.begin(kObjectBlock.id, kObjectBlock.token);
      writer.writeString(name);
      writer.end();
      writer.begin(kInvertBlock.id, kInvertBlock.token);
      writer.writeInt(1);
      writer.end();
      writer.begin(kWeightMapBlock.id, kWeightMapBlock.token);
      writer.writeString(name);
      writer.end();
      const auto host = openHost(modulePath);
      Node &node = placeNode(*host, kSingle);
      node.load(form, writer.finish());
      const PanelRecord &panel = openPanel(*host, node);
      for (const uint32_t vid : {kReferenceObjectId, kWeightMapId}) {
        expectFitted(readName(panel, vid, who), name, "", who);
      }
    }
  }
}

}  // namespace kerrowbend_host

namespace kerrowbend_host {

void checkReferenceObjectOverTime(const std::string &modulePath) {
  PlacedNode placed = placeInScene(modulePath, kSingle);
  Host &host = *placed.host;
  const Node &node = *placed.node;
  const PanelRecord &panel = *placed.panel;
  hostsim::SceneObject &pointer = *host.scene().findByName(kPointer);
  hostsim::SceneObject &other = host.scene().addObject("Other");
  other.setForward({-0.6, 0.1, 0.2});
  panel.setInt(kInvertId, 0);
  placed.node->connect(kWeightInput, 0.5);
  Directions directions;
  const auto expectToward = [&](const std::string &when, const Vec3 &forward) {
    for (int i = 0; i < 5; ++i) {
      const Vec3 normal = directions.clearOf(forward);
      expectWorldNormal(std::string(kSingle) + ", " + when, node, spotOn(placed.scene, normal),
                        hostsim::expected::drag(normal, forward, 0.5));
    }
  };
  const auto expectPassThrough = [&](const std::string &when) {
    for (int i = 0; i < 3; ++i) {
      expectUnchanged(std::string(kSingle) + ", " + when, node,
                      spotOn(placed.scene, directions.unit()));
    }
  };

  panel.setString(kReferenceObjectId, kPointer);
  host.newTime(1, 0.0);
  expectToward("Reference Object set, after a new time", placed.scene.pointerForward);
  const Vec3 turned = {0.7, 0.6, -0.2};
  pointer.setForward(turned);
  host.newTime(2, 0.04);
  expectToward("the object's axis turned between two new times", turned);
  const auto spinning = [](double time) { return Vec3{std::cos(time), std::sin(time), 0.3}; };
  pointer.setForward(spinning);
  for (const double time : {1.0, 2.5}) {
    host.newTime(static_cast<int>(time * 25), time);
    expectToward("the object's axis at time " + weightText(time), spinning(time));
  }
  panel.setString(kReferenceObjectId, "");
  host.newTime(3, 3.0);
  expectPassThrough("Reference Object cleared, after a new time");
  panel.setString(kReferenceObjectId, kPointer);
  host.newTime(4, 3.5);
  expectToward("Reference Object set again, after a new time", spinning(3.5));
  panel.setString(kReferenceObjectId, "Elsewhere");
  host.newTime(5, 4.0);
  expectPassThrough("Reference Object set to the name of no object, after a new time");
  host.scene().rename(other, "Elsewhere");
  host.newTime(6, 4.5);
  expectToward("an object renamed to the Reference Object, after a new time", {-0.6, 0.1, 0.2});
}

void checkCopy(const std::string &modulePath) {
  {
    PlacedNode placed = placeInScene(modulePath, kSingle);
    Host &host = *placed.host;
    Node &source = *placed.node;
    placed.panel->setString(kReferenceObjectId, kPointer);
    placed.panel->setInt(kInvertId, 0);
    placed.panel->setString(kWeightMapId, kMap);
    Node &copy = placeNode(host, kSingle);
    const std::string name = std::string(kSingle) + " copied with every setting changed";
    if (const Error error = copy.copyFrom(source); error != nullptr) {
      fail(name + ": expected copy to report no error, but it reported " + shown(error));
    }
    const std::vector<std::string> set = panelValues(*placed.panel, name);
    const std::vector<std::string> copied = panelValues(openPanel(host, copy), name);
    if (copied != set) {
      fail(name + ": expected the copy to show the values " + joined(set) +
           " in its panel, but it shows " + joined(copied));
    }
    const std::string original = saveChecked(source, BlockForm::Binary);
    const std::string again = saveChecked(copy, BlockForm::Binary);
    if (again != original) {
      fail(name + ": expected the copy to save what its source saves, but " +
           firstDifference(original, again));
    }
    // The copy finds its Reference Object at its own next new time.
    host.newTime(0, 0.0);
    Directions directions;
    std::mt19937 random(11);
    for (int i = 0; i < 10; ++i) {
      const Vec3 normal = directions.clearOf(placed.scene.pointerForward);
      const PaintedSpot painted = paintedSpot(placed.scene, normal, i, random);
      expectWorldNormal(
          name + ", shaded after a new time", copy, painted.spot,
          hostsim::expected::drag(normal, placed.scene.pointerForward, painted.weight));
    }
  }
  // The multi node onto a node with fewer stages and one with more; a
  // stage the destination had keeps its inputs.
  for (const int32_t had : {1, 5}) {
    const auto host = openHost(modulePath);
    Node &source = placeNode(*host, kMulti);
    openPanel(*host, source).editInt(kInputSizeId, 3);
    Node &copy = placeNode(*host, kMulti);
    openPanel(*host, copy).editInt(kInputSizeId, had);
    const hostsim::Input *firstStage = copy.input(stageReferenceInput(1));
    const std::string name =
        std::string(kMulti) + " of 3 stages copied onto one of " + std::to_string(had);
    if (const Error error = copy.copyFrom(source); error != nullptr) {
      fail(name + ": expected copy to report no error, but it reported " + shown(error));
    }
    failOnProblem(name + ": ", stageProblem(copy, 3));
    if (copy.input(stageReferenceInput(1)) != firstStage) {
      fail(name + ": expected stage 1 to keep its inputs and so its connections, but they were " +
           "made anew");
    }
    const std::string original = saveChecked(source, BlockForm::Binary);
    const std::string again = saveChecked(copy, BlockForm::Binary);
    if (again != original) {
      fail(name + ": expected the copy to save what its source saves, but " +
           firstDifference(original, again));
    }
  }
}

}  // namespace kerrowbend_host
