// The checks behind `kerrowbend-host validate`. Each places the module's
// nodes in a simulated host of its own and drives them as a host would;
// what it expects is what the host contract promises every host of a
// module file that claims it. The loader has already refused a file whose
// synchronisation code is wrong or whose records do not lie in the module.
// This source names them in the order validate runs them; each group's
// checks live in a source of their own (see groups.h).
#include "tools/validate/checks.h"

#include <algorithm>
#include <iterator>
#include <stdexcept>

#include "tools/validate/groups.h"

namespace kerrowbend_host {
namespace {

const ValidateCheck kChecks[] = {
    {"file/exports", checkExports},
    {"descriptor/servers", checkServers},
    {"descriptor/tags", checkTags},
    {"activation/handler-versions", checkHandlerVersions},
    {"activation/interface-versions", checkInterfaceVersions},
    {"activation/missing-services", checkMissingServices},
    {"instance/create-destroy-many", checkCreateDestroyMany},
    {"state/save-load-save-binary", checkSaveLoadSaveBinary},
    {"state/save-load-save-text", checkSaveLoadSaveText},
    {"state/damaged-loads", checkDamagedLoads},
    {"state/long-names", checkLoadedLongNames},
    {"state/copy", checkCopy},
    {"state/reference-object-over-time", checkReferenceObjectOverTime},
    {"panel/get-set-every-id", checkGetSetEveryId},
    {"panel/long-names", checkPanelLongNames},
    {"panel/input-size-edits", checkInputSizeEdits},
    {"resources/memory-balance", checkMemoryBalance},
    {"resources/inputs-and-panels", checkInputsAndPanels},
    {"known/single-inputs", checkKnownSingleInputs},
    {"known/degenerate-references", checkKnownDegenerateReferences},
    {"known/reference-object", checkKnownReferenceObject},
    {"known/weight-map", checkKnownWeightMap},
    {"known/multi-stages", checkKnownMultiStages},
    {"known/outside-scene", checkKnownOutsideScene},
    {"known/pass-through", checkKnownPassThrough},
    {"eval/finite-results", checkFiniteResults},
    {"eval/threads-shared-instance", checkThreadsSharedInstance},
    {"eval/threads-distinct-instances", checkThreadsDistinctInstances},
};

}  // namespace

std::span<const ValidateCheck> validateChecks() { return kChecks; }

std::vector<const ValidateCheck *> selectChecks(const std::vector<std::string> &patterns) {
  const auto named = [](const ValidateCheck &check, const std::string &pattern) {
    const std::string name = check.name;
    return pattern.ends_with('/') ? name.starts_with(pattern) : name == pattern;
  };
  for (const std::string &pattern : patterns) {
    if (std::none_of(std::begin(kChecks), std::end(kChecks),
                     [&](const ValidateCheck &check) { return named(check, pattern); })) {
      throw std::invalid_argument("no check is named '" + pattern +
                                  "' (see kerrowbend-host validate --list)");
    }
  }
  std::vector<const ValidateCheck *> selected;
  for (const ValidateCheck &check : kChecks) {
    if (patterns.empty() || std::any_of(patterns.begin(), patterns.end(),
                                        [&](const auto &p) { return named(check, p); })) {
      selected.push_back(&check);
    }
  }
  return selected;
}

}  // namespace kerrowbend_host
