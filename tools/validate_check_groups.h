// The check functions of validate, one group to a source, for the table in
// validate_checks.cpp to name. Each throws CheckFailure at the first thing
// that is not as the contract says.
#ifndef KERROWBEND_TOOLS_VALIDATE_CHECK_GROUPS_H
#define KERROWBEND_TOOLS_VALIDATE_CHECK_GROUPS_H

#include <string>

namespace kerrowbend_host {

// validate_binding_checks.cpp
void checkExports(const std::string &modulePath);
void checkServers(const std::string &modulePath);
void checkTags(const std::string &modulePath);
void checkHandlerVersions(const std::string &modulePath);
void checkInterfaceVersions(const std::string &modulePath);
void checkMissingServices(const std::string &modulePath);
void checkCreateDestroyMany(const std::string &modulePath);

// validate_state_checks.cpp
void checkSaveLoadSaveBinary(const std::string &modulePath);
void checkSaveLoadSaveText(const std::string &modulePath);
void checkDamagedLoads(const std::string &modulePath);
void checkLoadedLongNames(const std::string &modulePath);
void checkReferenceObjectOverTime(const std::string &modulePath);
void checkCopy(const std::string &modulePath);

// validate_panel_checks.cpp
void checkGetSetEveryId(const std::string &modulePath);
void checkPanelLongNames(const std::string &modulePath);
void checkInputSizeEdits(const std::string &modulePath);

// validate_known_checks.cpp
void checkKnownSingleInputs(const std::string &modulePath);
void checkKnownDegenerateReferences(const std::string &modulePath);
void checkKnownReferenceObject(const std::string &modulePath);
void checkKnownWeightMap(const std::string &modulePath);
void checkKnownMultiStages(const std::string &modulePath);
void checkKnownOutsideScene(const std::string &modulePath);
void checkKnownPassThrough(const std::string &modulePath);

// validate_resource_checks.cpp
void checkMemoryBalance(const std::string &modulePath);
void checkInputsAndPanels(const std::string &modulePath);

// validate_eval_checks.cpp
void checkFiniteResults(const std::string &modulePath);
void checkThreadsSharedInstance(const std::string &modulePath);
void checkThreadsDistinctInstances(const std::string &modulePath);

}  // namespace kerrowbend_host

#endif
