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
#include <string>
#include <vector>

#include "tools/cli/command_line.h"
#include "tools/validate/groups.h"

namespace kerrowbend_host {
namespace {

const ValidateCheck kChecks[] = {
    {"file/exports",
     "the dynamic symbol table exports _mod_descrip and nothing else of the module's",
     checkExports},
    {"descriptor/servers",
     "a handler and an interface server per node, each with an activate routine", checkServers},
    {"descriptor/tags", "each server carries its node's display name and group as tags", checkTags},
    {"activation/handler-versions",
     "only handler versions 2 and 3 are taken; the host's own entries stay", checkHandlerVersions},
    {"activation/interface-versions",
     "only interface version 4 is taken; one panel per instance, and none without one",
     checkInterfaceVersions},
    {"activation/missing-services", "activation without each required service gives 2",
     checkMissingServices},
    {"activation/without-item-table",
     "a handler record without an item table stops both nodes shading until an activation with one",
     checkWithoutItemTable},
    {"activation/unwritten-entries",
     "handler and interface activations write only the entries their result calls for: never the "
     "host's own, the tables' addresses or past a record, and nothing when refused",
     checkUnwrittenEntries},
    {"services/fallback-names",
     "each service looked up by its names in order, a later name only when those before it gave "
     "none, in hosts that offer one or two of its names or none",
     checkServiceNames},
    {"instance/create-destroy-many",
     "300 nodes of each kind, each with its own inputs, output and panel", checkCreateDestroyMany},
    {"instance/host-calls",
     "create asks for the node operation with 2, then the inputs and the output, in order; removed "
     "stages' inputs are destroyed in order",
     checkCreateCalls},
    {"state/save-load-save-binary",
     "every saved field set away from a new node's, the multi node at several counts: a node "
     "loaded from the binary form saves the same bytes and shows the same values",
     checkSaveLoadSaveBinary},
    {"state/save-load-save-text",
     "the same in the text form: a loaded node saves the same text and shows the same values",
     checkSaveLoadSaveText},
    {"state/damaged-loads",
     "cut, misfilled and random scene data leave a node that saves and reloads to the same",
     checkDamagedLoads},
    {"state/damaged-stage-count",
     "stage counts of 10,000, 10,001 and 2147483647 in both forms load in seconds to 10,000 "
     "stages, and show and save as loaded",
     checkDamagedStageCount},
    {"state/block-tokens",
     "each node saves its blocks under the identifiers and text-form tokens scene files hold",
     checkBlockTokens},
    {"state/long-names",
     "loaded names of 259, 260 and 4,096 characters are kept, cut or refused, never overrun",
     checkLoadedLongNames},
    {"state/copy", "a copy carries every setting: it shows, saves and shades as its source",
     checkCopy},
    {"state/reference-object-over-time",
     "the Reference Object is found anew at each new time: set, cleared, missing, renamed, its "
     "axis turning",
     checkReferenceObjectOverTime},
    {"panel/get-set-every-id", "get and set for every value id, and none for unknown ids",
     checkGetSetEveryId},
    {"panel/long-names", "long names set in the panel fit their field and survive a save",
     checkPanelLongNames},
    {"panel/input-size-edits",
     "\"Input Size\" edits give exactly the stages asked for; stage 1 keeps its inputs",
     checkInputSizeEdits},
    {"panel/tables", "each node's control table, data table and hint array, entry by entry",
     checkPanelTables},
    {"panel/popups",
     "the object and weight-map popups give the scene's choices with the host's own names and "
     "count, a negative count included",
     checkPopups},
    {"panel/input-events", "input events answer 1 and refresh the node's panel once each",
     checkInputEventsRefresh},
    {"resources/memory-balance",
     "heap blocks in use do not grow over rounds of create, copy, save, load, resize to 300 and "
     "back, destroy (skipped where no heap counter lies beside the tool, as installed, and in "
     "sanitizer builds)",
     checkMemoryBalance, true},
    {"resources/inputs-and-panels",
     "no input destroyed twice; every panel destroyed with its instance", checkInputsAndPanels},
    {"resources/refused-memory",
     "each calloc request of a create, load, copy or resize refused in turn: no crash, no leak, "
     "the failed create's text, and a node that saves and reloads (skipped where memory-balance "
     "is)",
     checkRefusedMemory, true},
    {"resources/slot-reuse",
     "rounds of Input Size 1 to 20 and back take the same memory each, as freed stage slots are "
     "taken again (skipped where memory-balance is)",
     checkSlotReuse, true},
    {"known/single-inputs",
     "plugged constants, the worked example's weights 0, 0.5, 1, 2, -1, \"Invert Vector\" on and "
     "off, references of any length",
     checkKnownSingleInputs},
    {"known/degenerate-references", "equal, opposite and zero references, both nodes",
     checkKnownDegenerateReferences},
    {"known/reference-object", "the Reference Object's forward axis, weight plugged or not",
     checkKnownReferenceObject},
    {"known/weight-map", "the weight sampled from a painted map at the spot's vertices",
     checkKnownWeightMap},
    {"known/multi-stages",
     "1 to 3 stages applied in stage order; stages skipped for weight 0, -0 or an unplugged input",
     checkKnownMultiStages},
    {"known/outside-scene", "spots on objects outside the scene come back unchanged",
     checkKnownOutsideScene},
    {"known/pass-through",
     "every path that hands the normal on unchanged, and sets World Normal once",
     checkKnownPassThrough},
    {"known/extreme-references",
     "references with a component at the largest finite double or the smallest subnormal act as "
     "their direction",
     checkKnownExtremeReferences},
    {"eval/finite-results", "finite World Normal, set once, for thousands of normals",
     checkFiniteResults},
    {"eval/threads-shared-instance", "8 threads shading one instance at once match a serial run",
     checkThreadsSharedInstance},
    {"eval/threads-distinct-instances",
     "8 threads shading an instance each at once match a serial run",
     checkThreadsDistinctInstances},
    {"eval/threads-beside-activation",
     "both handlers activated over and over while 8 threads shade: every spot matches a serial "
     "run",
     checkThreadsBesideActivation},
    {"eval/host-calls-per-spot",
     "one time lookup and one mesh info, given back, per spot that needs them; none for plugged "
     "inputs",
     checkHostCallsPerSpot},
};

// What the user most likely meant by a pattern that names no check: the
// group of that name, or the nearest names of checks and groups.
std::string meantBy(const std::string &pattern) {
  std::vector<std::string> names;
  for (const ValidateCheck &check : kChecks) {
    const std::string name = check.name;
    const std::string group = name.substr(0, name.find('/') + 1);
    if (names.empty() || names.back() != group) names.push_back(group);
    names.push_back(name);
  }
  const std::vector<std::string> meant =
      std::find(names.begin(), names.end(), pattern + "/") != names.end()
          ? std::vector<std::string>{pattern + "/"}
          : nearestWords(pattern, names);
  if (meant.empty()) return "--list names every check";
  return "did you mean " + alternatives(meant) + "?";
}

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
      throw std::invalid_argument("--check: no check is named '" + pattern + "'; " +
                                  meantBy(pattern));
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
