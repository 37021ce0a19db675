// The services/* checks: the names a module looks the host's services up
// by, in the order it tries them, for hosts that offer any one of a
// service's names, any two, or none.
#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "tools/validate/groups.h"
#include "tools/validate/support.h"

namespace kerrowbend_host {

using hostsim::Service;

namespace {

// Each service the first handler activation fetches, in the order it
// fetches them, with its names newest first: an older host answers only to
// a later name, and a module asks for it only when the names before it gave
// nothing.
struct ServiceNames {
  std::vector<Service> names;
  bool required;  // without it, handler activation gives 2
};

const ServiceNames kFetched[] = {
    {{Service::ItemInfo6, Service::ItemInfo5}, false},
    {{Service::NodeFuncs}, true},
    {{Service::NodeInputFuncs3, Service::NodeInputFuncs2}, true},
    {{Service::NodeOutputFuncs2, Service::NodeOutputFuncs}, true},
    {{Service::SceneObjects7, Service::SceneObjects6}, false},
    {{Service::ObjectInfo9, Service::ObjectInfo8, Service::ObjectInfo7}, false},
    {{Service::Panel2, Service::Panel}, false},
};

// The hosts to try for one service: each of its names offered alone, each
// pair, and none of them.
std::vector<std::vector<bool>> offerings(std::size_t names) {
  std::vector<std::vector<bool>> out;
  for (std::size_t i = 0; i < names; ++i) {
    std::vector<bool> alone(names, false);
    alone[i] = true;
    out.push_back(alone);
    for (std::size_t j = i + 1; j < names; ++j) {
      std::vector<bool> pair = alone;
      pair[j] = true;
      out.push_back(pair);
    }
  }
  out.emplace_back(names, false);
  return out;
}

// What a host that offers only the offered names of service `varied` (and
// every name of the others) is asked at a first handler activation.
std::vector<std::string> expectedLookups(std::size_t varied, const std::vector<bool> &offered) {
  std::vector<std::string> asked;
  for (std::size_t s = 0; s < std::size(kFetched); ++s) {
    const std::vector<Service> &names = kFetched[s].names;
    for (std::size_t n = 0; n < names.size(); ++n) {
      asked.emplace_back(serviceName(names[n]));
      if (s != varied || offered[n]) break;
    }
  }
  asked.emplace_back(serviceName(Service::ProductInfo));
  return asked;
}

std::string offeredText(const std::vector<Service> &names, const std::vector<bool> &offered) {
  std::vector<std::string> given;
  for (std::size_t n = 0; n < names.size(); ++n) {
    if (offered[n]) given.emplace_back(serviceName(names[n]));
  }
  if (!given.empty()) return "only " + joined(given);
  std::vector<std::string> all;
  all.reserve(names.size());
  for (const Service name : names) all.emplace_back(serviceName(name));
  return "none of " + joined(all);
}

}  // namespace

void checkServiceNames(const std::string &modulePath) {
  for (const char *node : kNodes) {
    for (std::size_t s = 0; s < std::size(kFetched); ++s) {
      const ServiceNames &service = kFetched[s];
      for (const std::vector<bool> &offered : offerings(service.names.size())) {
        const std::string which = std::string(node) + ", first handler activation in a host " +
                                  "that offers " + offeredText(service.names, offered);
        const auto host = openHost(modulePath);
        for (std::size_t n = 0; n < service.names.size(); ++n) {
          host->setServiceAvailable(service.names[n], offered[n]);
        }
        host->log().setRecording(true);
        const int result = host->activateHandler(node);
        std::vector<std::string> asked;
        for (const hostsim::LookupCall &call : host->lookupCalls()) {
          asked.push_back(call.name + (call.useMode != 0
                                           ? " (mode " + std::to_string(call.useMode) + ")"
                                           : ""));
        }
        const std::vector<std::string> expected = expectedLookups(s, offered);
        if (asked != expected) {
          fail(which + ": expected the lookups " + joined(expected) + " (usage mode 0), but " +
               "it asked for " + joined(asked));
        }
        const bool found = std::find(offered.begin(), offered.end(), true) != offered.end();
        const int wanted = service.required && !found ? ACTIVATE_MISSING_SERVICE : ACTIVATE_OK;
        if (result != wanted) {
          fail(which + ": expected the activation to give " + std::to_string(wanted) +
               ", but it gave " + std::to_string(result));
        }
        // Later activations fetch nothing again; each looks the product up
        // through the routine it is handed.
        host->log().clear();
        for (const char *other : kNodes) host->activateHandler(other, 3, {.routine = 1});
        const std::vector<hostsim::LookupCall> later = host->lookupCalls();
        const hostsim::LookupCall product{serviceName(Service::ProductInfo), 1, 0};
        if (later != std::vector<hostsim::LookupCall>{product, product}) {
          std::vector<std::string> names;
          names.reserve(later.size());
          for (const hostsim::LookupCall &call : later) names.push_back(call.name);
          fail(which + ": expected each later handler activation to look up only " +
               shown(serviceName(Service::ProductInfo)) +
               ", through the routine it was handed, but they asked for " + joined(names));
        }
      }
    }
  }
}

}  // namespace kerrowbend_host
