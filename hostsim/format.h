// How the simulated host and its tools spell numbers in what they report.
#ifndef KERROWBEND_HOSTSIM_FORMAT_H
#define KERROWBEND_HOSTSIM_FORMAT_H

#include <cstdint>
#include <cstdio>
#include <string>

namespace hostsim {

// value as eight hexadecimal digits, "0x04121994": codes, tags, control and
// value ids, and block ids that are not four printable letters.
inline std::string hex(uint32_t value) {
  char text[11];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
  return text;
}

}  // namespace hostsim

#endif
