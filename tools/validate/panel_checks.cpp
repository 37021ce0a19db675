// The panel/* checks: each node's control table, data table and hints as a
// host reads them, entry by entry; get and set for every value id and for
// unknown ones; long names set in the panel and kept through a save; the
// multi node's stages following edits of Input Size; the popups against
// the scene; and input events refreshing the panel.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "tools/validate/groups.h"
#include "tools/validate/support.h"

namespace kerrowbend_host {

void checkGetSetEveryId(const std::string &modulePath) {
  for (const char *server : kNodes) {
    const std::string name = server;
    const auto host = openHost(modulePath);
    Node &node = placeNode(*host, server);
    const PanelRecord &panel = openPanel(*host, node);
    if (panel.data == nullptr || panel.get == nullptr || panel.set == nullptr) {
      fail(name + ": expected the panel to be described with its values, get and set, but it " +
           "was not");
    }
    uint32_t highest = 0;
    for (const PanelControl *control = panel.controls; control != nullptr && control->cid != 0;
         ++control) {
      if (panel.dataEntry(control->cid) == nullptr) {
        fail(name + ": expected control " + hex(control->cid) + " to show the value of its id, " +
             "but no value has it");
      }
    }
    const std::string unchanged = saveChecked(node, BlockForm::Binary);
    for (const PanelDataDesc *value = panel.data; value->vid != 0; ++value) {
      highest = std::max(highest, value->vid);
      const std::string which = name + " value " + hex(value->vid);
      char offered[8] = "1";  // reads as a short text or as an integer
      if (panel.get(nullptr, value->vid) != nullptr ||
          panel.set(nullptr, value->vid, offered) != 0) {
        fail(which + ": expected get and set for no instance to give none and 0, but they did not");
      }
      panel.set(node.instance(), value->vid, nullptr);
      if (saveChecked(node, BlockForm::Binary) != unchanged) {
        fail(which + ": expected a set with no value to change nothing, but the node saves " +
             "differently");
      }
      if (panel.valueAddress(value->vid) == nullptr) {
        fail(which + ": expected get to give the value's address, but it gave none");
      }
    }
    for (const uint32_t unknown : {0u, 0x8000u, highest + 1, 0xFFFFu, 0xFFFFFFFFu}) {
      int32_t number = 3;
      char text[] = "unknown";
      if (panel.valueAddress(unknown) != nullptr || panel.setValue(unknown, &number) != 0 ||
          panel.setValue(unknown, text) != 0) {
        fail(name + ": expected get and set for the unknown id " + hex(unknown) +
             " to give none and 0, but they did not");
      }
      if (saveChecked(node, BlockForm::Binary) != unchanged) {
        fail(name + ": expected a set for the unknown id " + hex(unknown) +
             " to change nothing, but the node saves differently");
      }
    }
    for (const PanelDataDesc *value = panel.data; value->vid != 0; ++value) {
      const std::string which = name + " value " + hex(value->vid);
      if (std::strcmp(value->dataType, PANEL_DATA_STRING) == 0) {
        const std::string offered = "Set " + hex(value->vid);
        const int answer = panel.setString(value->vid, offered);
        const std::string held = panel.stringValue(value->vid).value_or("(none)");
        if (answer != 1 || held != offered) {
          fail(which + ": expected set to store " + shown(offered) + " and answer 1, but it " +
               "answered " + std::to_string(answer) + " and get reads " + shown(held));
        }
      } else {
        const int32_t before = panel.intValue(value->vid).value_or(0);
        const int32_t offered = before == 0 ? 1 : 0;
        const int answer = panel.setInt(value->vid, offered);
        const auto held = panel.intValue(value->vid);
        if (answer != 1 || held != offered) {
          fail(which + ": expected set to store " + std::to_string(offered) + " and answer 1, " +
               "but it answered " + std::to_string(answer) + " and get reads " +
               (held ? std::to_string(*held) : "none"));
        }
      }
    }
  }
}

void checkPanelLongNames(const std::string &modulePath) {
  const auto host = openHost(modulePath);
  for (const char *server : kNodes) {
    Node &node = placeNode(*host, server);
    const PanelRecord &panel = openPanel(*host, node);
    for (const PanelDataDesc *value = panel.data; value != nullptr && value->vid != 0; ++value) {
      if (std::strcmp(value->dataType, PANEL_DATA_STRING) != 0) continue;
      for (const std::size_t length : kLongNames) {
        const std::string who = std::string(server) + " value " + hex(value->vid) +
                                " set to a name of " + std::to_string(length) + " characters";
        const std::string before = readName(panel, value->vid, who);
        const std::string offered = patternName(length);
        panel.setString(value->vid, offered);
        const std::string held = readName(panel, value->vid, who);
        expectFitted(held, offered, before, who);
        for (const BlockForm form : kForms) {
          Node &reloaded = placeNode(*host, server);
          reloaded.load(form, saveChecked(node, form));
          const std::string kept = readName(openPanel(*host, reloaded), value->vid, who);
          if (kept != held) {
            fail(who + ": expected a " + formName(form) + " save and load to keep " + shown(held) +
                 ", but it gave " + shown(kept));
          }
          reloaded.destroy();
        }
      }
    }
  }
}

void checkInputSizeEdits(const std::string &modulePath) {
  const auto host = openHost(modulePath);
  Node &node = placeNode(*host, kMulti);
  const PanelRecord &panel = openPanel(*host, node);
  int32_t count = 1;
  for (const int32_t edit : {3, 5, 2, 2, 0, 4, -1, 1, 7, 1, INT32_MIN, 2}) {
    const std::string which = std::string(kMulti) + ": after editing Input Size from " +
                              std::to_string(count) + " to " + std::to_string(edit);
    const hostsim::Input *firstStage = node.input(stageReferenceInput(1));
    const int answer = panel.editInt(kInputSizeId, edit);
    const auto held = panel.intValue(kInputSizeId);
    if (answer != 1 || held != edit) {
      fail(which + ", expected set to answer 1 and get to read " + std::to_string(edit) +
           ", but set answered " + std::to_string(answer) + " and get reads " +
           (held ? std::to_string(*held) : "none"));
    }
    failOnProblem(which + ", ", stageProblem(node, std::max(edit, 0)));
    if (count >= 1 && edit >= 1 && node.input(stageReferenceInput(1)) != firstStage) {
      fail(which + ", expected stage 1 to keep its inputs and so its connections, but they " +
           "were made anew");
    }
    if (node.output(kOutput) == nullptr) {
      fail(which + ", expected the output World Normal to stay, but it is gone");
    }
    count = edit;
  }
  // Only a changed value resizes; the host's other events about the
  // control pass by.
  panel.setInt(kInputSizeId, 4);
  for (const int event : hostsim::kPanelEventsOtherThanValueChanged) {
    panel.notifyChange(kInputSizeId, kInputSizeId, event);
    const std::string problem = stageProblem(node, count);
    if (!problem.empty()) {
      fail(std::string(kMulti) + ": after setting Input Size to 4 and the panel event " +
           std::to_string(event) + ", " + problem);
    }
  }
  panel.notifyChange(kInputSizeId, kInputSizeId, hostsim::kPanelEventValueChanged);
  const std::string problem = stageProblem(node, 4);
  if (!problem.empty()) {
    fail(std::string(kMulti) + ": after setting Input Size to 4 and the value-change event, " +
         problem);
  }
}

namespace {

// An entry of a control table (id, label, kind) or a data table (id, value
// name, data type).
struct TableRow {
  uint32_t id;
  const char *first;
  const char *second;
};

// What a host shows and stores each node's panel by.
struct PanelLayoutFacts {
  const char *server;
  std::vector<TableRow> controls;
  std::vector<TableRow> values;
  // The hint array after the label hint, as tags and ids; 0 stands for a
  // callback the module hands over.
  std::vector<uintptr_t> nodeHints;
};

const PanelLayoutFacts kPanelLayouts[] = {
    {kSingle,
     {{kReferenceObjectId, "Reference Object", "sPresetText"},
      {kInvertId, "Invert Vector", "iBoolean"},
      {kWeightMapId, "WeightMap", "sPresetText"}},
     {{kReferenceObjectId, "ReferenceObject", "string"},
      {kInvertId, "InvertVector", "integer"},
      {kWeightMapId, "WeightMap", "string"}},
     {PANEL_HINT_POPUP_FUNCS, kReferenceObjectId, 0, 0, PANEL_HINT_POPUP_FUNCS, kWeightMapId, 0,
      0}},
    {kMulti,
     {{kInputSizeId, "Input Size", "integer"}},
     {{kInputSizeId, "InputSize", "integer"}},
     {PANEL_HINT_CHANGE_NOTIFY, 0}},
};

std::string rowText(uint32_t id, const char *first, const char *second) {
  const auto text = [](const char *t) { return t != nullptr ? shown(t) : std::string("null"); };
  return "{" + hex(id) + ", " + text(first) + ", " + text(second) + "}";
}

// The rows of a table up to its closing {0, null, null}, and that entry.
template <typename Entry, typename Fields>
std::vector<std::string> tableRows(const Entry *table, Fields fields) {
  std::vector<std::string> rows;
  for (const Entry *entry = table; entry != nullptr && rows.size() < 16; ++entry) {
    const auto [id, first, second] = fields(*entry);
    rows.push_back(rowText(id, first, second));
    if (id == 0) break;
  }
  return rows;
}

std::vector<std::string> expectedRows(const std::vector<TableRow> &rows) {
  std::vector<std::string> out;
  out.reserve(rows.size() + 1);
  for (const TableRow &row : rows) out.push_back(rowText(row.id, row.first, row.second));
  out.push_back(rowText(0, nullptr, nullptr));
  return out;
}

}  // namespace

void checkPanelTables(const std::string &modulePath) {
  for (const PanelLayoutFacts &layout : kPanelLayouts) {
    const std::string name = layout.server;
    const auto host = openHost(modulePath);
    Node &node = placeNode(*host, layout.server);
    const PanelRecord &panel = openPanel(*host, node);
    if (panel.type != PANEL_TYPE_VIEW) {
      fail(name + ": expected a panel of type " + std::to_string(PANEL_TYPE_VIEW) +
           ", but it asked for " + std::to_string(panel.type));
    }
    const auto controls = tableRows(panel.controls, [](const PanelControl &c) {
      return std::tuple{c.cid, c.label, c.ctrlClass};
    });
    if (controls != expectedRows(layout.controls)) {
      fail(name + ": expected the control table " + joined(expectedRows(layout.controls)) +
           ", but it is " + joined(controls));
    }
    const auto values = tableRows(panel.data, [](const PanelDataDesc &d) {
      return std::tuple{d.vid, d.name, d.dataType};
    });
    if (values != expectedRows(layout.values)) {
      fail(name + ": expected the data table " + joined(expectedRows(layout.values)) +
           ", but it is " + joined(values));
    }
    if (panel.hintIds != std::vector<uint32_t>{0} || !panel.unknownHintTags.empty()) {
      fail(name + ": expected one hint array, for the panel as a whole, with tags the host " +
           "knows, but it was not so");
    }
    // Each place of the array holds the value the host must find there, or
    // none where any callback will do.
    std::vector<std::optional<uintptr_t>> expected = {
        PANEL_HINT_LABEL, 0, reinterpret_cast<uintptr_t>(node.name().c_str()), 0};
    for (const uintptr_t hint : layout.nodeHints) {
      expected.push_back(hint != 0 ? std::optional(hint) : std::nullopt);
    }
    expected.emplace_back(0);
    const std::vector<void *> &given = panel.rawHints.at(0);
    const auto holds = [](void *value, const std::optional<uintptr_t> &wanted) {
      const auto held = reinterpret_cast<uintptr_t>(value);
      return wanted ? held == *wanted : held != 0;
    };
    if (!std::equal(given.begin(), given.end(), expected.begin(), expected.end(), holds)) {
      std::vector<std::string> shownGiven;
      shownGiven.reserve(given.size());
      for (void *value : given) shownGiven.push_back(hex(reinterpret_cast<uintptr_t>(value)));
      std::vector<std::string> shownExpected;
      shownExpected.reserve(expected.size());
      for (std::size_t i = 0; i < expected.size(); ++i) {
        shownExpected.push_back(!expected[i] ? "a callback"
                                : i == 2     ? "the host's node name"
                                             : hex(*expected[i]));
      }
      fail(name + ": expected the hint array " + joined(shownExpected) + ", but it is " +
           joined(shownGiven));
    }
  }
}

namespace {

// A scene as a popup lists it: objects and weight maps by name, and what
// the host itself answers for the number of weight maps.
struct PopupScene {
  const char *label;
  std::vector<const char *> objects;
  std::vector<const char *> maps;  // painted on the first object
  std::optional<int> mapCountAnswer;
};

const PopupScene kPopupScenes[] = {
    {"no objects", {}, {}, {}},
    {"one object with one weight map", {"Cube"}, {"Wear"}, {}},
    {"three objects with three weight maps",
     {"Cube", "Ball", "Cone"},
     {"Wear", "Dirt", "Moss"},
     {}},
    {"a host that counts -2 weight maps", {"Cube"}, {"Wear"}, -2},
    {"a host that counts 0 weight maps though it names one", {"Cube"}, {"Wear"}, 0},
};

}  // namespace

void checkPopups(const std::string &modulePath) {
  for (const PopupScene &scene : kPopupScenes) {
    const std::string which = std::string(kSingle) + ", popups in a scene with " + scene.label;
    const auto host = openHost(modulePath);
    Node &node = placeNode(*host, kSingle);
    const PanelRecord &panel = openPanel(*host, node);
    std::vector<hostsim::SceneObject *> objects;
    objects.reserve(scene.objects.size());
    for (const char *object : scene.objects) objects.push_back(&host->scene().addObject(object));
    for (const char *map : scene.maps) objects.front()->weightMap(map);
    host->scene().setWeightMapCountAnswer(scene.mapCountAnswer);
    if (panel.popup(kReferenceObjectId) == nullptr || panel.popup(kWeightMapId) == nullptr) {
      fail(which + ": expected a popup for the Reference Object and one for the WeightMap, but " +
           "one is missing");
    }
    const int objectCount = panel.popupCount(kReferenceObjectId);
    if (objectCount != static_cast<int>(objects.size())) {
      fail(which + ": expected the object popup to count " + std::to_string(objects.size()) +
           " choices, but it counts " + std::to_string(objectCount));
    }
    for (std::size_t i = 0; i < objects.size(); ++i) {
      const char *given = panel.popupName(kReferenceObjectId, static_cast<int>(i));
      if (given != objects[i]->name()) {
        fail(which + ": expected the object popup's choice " + std::to_string(i) +
             " to be the host's own name text of " + shown(objects[i]->name()) + ", but it is " +
             (given != nullptr ? shown(given) : "null"));
      }
    }
    const auto *maps = static_cast<const SceneObjects *>(host->lookup(SCENE_OBJECTS_SERVICE));
    const int hostCount = maps->numVMaps(VMAP_TYPE_WEIGHT);
    const int mapCount = panel.popupCount(kWeightMapId);
    if (mapCount != hostCount) {
      fail(which + ": expected the weight-map popup to count what the host counts, " +
           std::to_string(hostCount) + ", but it counts " + std::to_string(mapCount));
    }
    for (int i = -1; i <= static_cast<int>(scene.maps.size()); ++i) {
      const char *hostName = maps->vmapName(VMAP_TYPE_WEIGHT, i);
      const char *given = panel.popupName(kWeightMapId, i);
      if (given != hostName) {
        fail(which + ": expected the weight-map popup's choice " + std::to_string(i) +
             " to be the host's own answer " + (hostName != nullptr ? shown(hostName) : "null") +
             ", but it is " + (given != nullptr ? shown(given) : "null"));
      }
    }
  }
}

void checkInputEventsRefresh(const std::string &modulePath) {
  for (const char *server : kNodes) {
    const std::string name = server;
    const auto host = openHost(modulePath);
    Node &node = placeNode(*host, server);
    const std::string input = name == kSingle ? kWeightInput : stageWeightInput(1);
    node.connect(input, 0.5);
    if (node.input(input)->lastEventResult() != 1) {
      fail(name + ": expected an input event before any panel to answer 1, but it answered " +
           std::to_string(node.input(input)->lastEventResult()));
    }
    const PanelRecord &panel = openPanel(*host, node);
    const int before = panel.refreshCount;
    node.connect(input, 0.25);
    node.disconnect(input);
    if (panel.refreshCount != before + 2 || node.input(input)->lastEventResult() != 1) {
      fail(name + ": expected each of two input events to refresh the panel once and answer 1, " +
           "but the panel was refreshed " + std::to_string(panel.refreshCount - before) +
           " times and the last event answered " +
           std::to_string(node.input(input)->lastEventResult()));
    }
  }
}

}  // namespace kerrowbend_host
