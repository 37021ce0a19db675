// The panel/* checks: get and set for every value id and for unknown ones,
// long names set in the panel and kept through a save, and the multi
// node's stages following edits of Input Size.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

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

}  // namespace kerrowbend_host
