// The check functions of validate, one group to a source, for the table in
// checks.cpp to name. Each throws CheckFailure at the first thing
// that is not as the contract says.
#ifndef KERROWBEND_TOOLS_VALIDATE_GROUPS_H
#define KERROWBEND_TOOLS_VALIDATE_GROUPS_H

#include <string>

namespace kerrowbend_host {

// module_file_checks.cpp
void checkExports(const std::string &modulePath);

// descriptor_checks.cpp
void checkServers(const std::string &modulePath);
void checkTags(const std::string &modulePath);

// activation_checks.cpp
void checkHandlerVersions(const std::string &modulePath);
void checkInterfaceVersions(const std::string &modulePath);
void checkMissingServices(const std::string &modulePath);
void checkWithoutItemTable(const std::string &modulePath);
void checkUnwrittenEntries(const std::string &modulePath);

// services_checks.cpp
void checkServiceNames(const std::string &modulePath);

// instance_checks.cpp
void checkCreateDestroyMany(const std::string &modulePath);
void checkCreateCalls(const std::string &modulePath);

// state_checks.cpp
void checkSaveLoadSaveBinary(const std::string &modulePath);
void checkSaveLoadSaveText(const std::string &modulePath);
void checkDamagedLoads(const std::string &modulePath);
void checkDamagedStageCount(const std::string &modulePath);
void checkBlockTokens(const std::string &modulePath);
void checkLoadedLongNames(const std::string &modulePath);
void checkReferenceObjectOverTime(const std::string &modulePath);
void checkCopy(const std::string &modulePath);

// panel_checks.cpp
void checkGetSetEveryId(const std::string &modulePath);
void checkPanelLongNames(const std::string &modulePath);
void checkInputSizeEdits(const std::string &modulePath);
void checkPanelTables(const std::string &modulePath);
void checkPopups(const std::string &modulePath);
void checkInputEventsRefresh(const std::string &modulePath);

// known_checks.cpp
void checkKnownSingleInputs(const std::string &modulePath);
void checkKnownDegenerateReferences(const std::string &modulePath);
void checkKnownReferenceObject(const std::string &modulePath);
void checkKnownWeightMap(const std::string &modulePath);
void checkKnownMultiStages(const std::string &modulePath);
void checkKnownOutsideScene(const std::string &modulePath);
void checkKnownPassThrough(const std::string &modulePath);
void checkKnownExtremeReferences(const std::string &modulePath);

// resources_checks.cpp
void checkMemoryBalance(const std::string &modulePath);
void checkInputsAndPanels(const std::string &modulePath);
void checkRefusedMemory(const std::string &modulePath);
void checkSlotReuse(const std::string &modulePath);

// eval_checks.cpp
void checkFiniteResults(const std::string &modulePath);
void checkThreadsSharedInstance(const std::string &modulePath);
void checkThreadsDistinctInstances(const std::string &modulePath);
void checkThreadsBesideActivation(const std::string &modulePath);
void checkHostCallsPerSpot(const std::string &modulePath);

}  // namespace kerrowbend_host

#endif
