// Reading back what the module handed the host's panel service: its
// constant tables entry by entry and a hint array value by value, so a test
// can compare them whole with what a host expects.
#ifndef KERROWBEND_TESTS_PANEL_TABLES_H
#define KERROWBEND_TESTS_PANEL_TABLES_H

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "hostsim/panel_service.h"

namespace kerrowbend_test {

using TableEntry = std::tuple<uint32_t, std::string, std::string>;

// The entries of a constant table up to its closing {0, null, null}; a
// closing entry with text in it shows as an entry of id 0.
template <typename Entry, typename Fields>
std::vector<TableEntry> entriesOf(const Entry *table, Fields fields) {
  std::vector<TableEntry> entries;
  for (const Entry *entry = table; entry != nullptr && entries.size() < 8; ++entry) {
    const auto [id, first, second] = fields(*entry);
    if (id == 0 && first == nullptr && second == nullptr) break;
    entries.emplace_back(id, first != nullptr ? first : "(null)",
                         second != nullptr ? second : "(null)");
  }
  return entries;
}

inline std::vector<TableEntry> controlsOf(const hostsim::PanelRecord &panel) {
  return entriesOf(panel.controls, [](const PanelControl &c) {
    return std::tuple{c.cid, c.label, c.ctrlClass};
  });
}

inline std::vector<TableEntry> valuesOf(const hostsim::PanelRecord &panel) {
  return entriesOf(panel.data, [](const PanelDataDesc &d) {
    return std::tuple{d.vid, d.name, d.dataType};
  });
}

// A pointer-sized hint value as a number, for whole-array comparisons.
template <typename T>
uintptr_t hintNumber(T value) {
  return reinterpret_cast<uintptr_t>(value);
}

// The array of the panel's first hint call (for id 0), closing 0 included.
inline std::vector<uintptr_t> panelHints(const hostsim::PanelRecord &panel) {
  std::vector<uintptr_t> given;
  for (void *entry : panel.rawHints.at(0)) given.push_back(hintNumber(entry));
  return given;
}

}  // namespace kerrowbend_test

#endif
