// What the groups of validate checks share: the module's two nodes and the
// ids of their panel values, a host of its own with the module loaded,
// nodes placed and panels opened as a host does, checked saves, names read
// from panel fields, and the failure sentences with the text they show.
#ifndef KERROWBEND_TOOLS_VALIDATE_SUPPORT_H
#define KERROWBEND_TOOLS_VALIDATE_SUPPORT_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "hostsim/block_io.h"
#include "hostsim/format.h"
#include "hostsim/host.h"
#include "hostsim/module_facts.h"

namespace kerrowbend_host {

using hostsim::BlockForm;
using hostsim::Host;
using hostsim::Node;
using hostsim::PanelRecord;

using hostsim::facts::kCreateFailed;
using hostsim::facts::kInputSizeId;
using hostsim::facts::kInvertId;
using hostsim::facts::kMulti;
using hostsim::facts::kNameField;
using hostsim::facts::kNodes;
using hostsim::facts::kOutput;
using hostsim::facts::kReferenceInput;
using hostsim::facts::kReferenceObjectId;
using hostsim::facts::kSingle;
using hostsim::facts::kWeightInput;
using hostsim::facts::kWeightMapId;
using hostsim::facts::stageReferenceInput;
using hostsim::facts::stageWeightInput;

inline constexpr std::array<BlockForm, 2> kForms = {BlockForm::Binary, BlockForm::Text};

// ---- failures and the text they show ---------------------------------------

[[noreturn]] void fail(const std::string &sentence);

const char *formName(BlockForm form);

using hostsim::hex;

// A text as a failure sentence shows it: quoted, control bytes escaped, a
// long one cut.
std::string shown(std::string_view text, std::size_t limit = 40);

std::string joined(const std::vector<std::string> &names);

// Where two saves part, for a failure sentence.
std::string firstDifference(const std::string &first, const std::string &second);

// A name of length characters that shows where it was cut: "ABC...Z" over
// and over.
std::string patternName(std::size_t length);

// ---- hosts, nodes and panels -----------------------------------------------

// A host of its own with the module loaded. Its call log stays silent:
// checks make many thousands of calls, some from several threads at once.
std::unique_ptr<Host> openHost(const std::string &modulePath);

// Places a node of the server, activating its handler first if this host
// has not yet.
Node &placeNode(Host &host, const std::string &server);

// Opens the node's panel as a host does when the user opens it.
const PanelRecord &openPanel(Host &host, const Node &node);

// Settings other than a new node's, made in the panel as a user would.
void configure(const Node &node, const PanelRecord &panel);

// "" when the node's live inputs are exactly the whole stages 1..count, each
// with the right connection types; else what the node has instead.
std::string stageProblem(const Node &node, int count);

// Fails with context followed by problem, unless problem is "".
void failOnProblem(const std::string &context, const std::string &problem);

// Fails, with context before the sentence, unless every panel the module
// made in host has been destroyed and no panel call was for a panel that
// does not exist. For after every instance is destroyed.
void expectPanelsGone(Host &host, const std::string &context);

// ---- scene data ------------------------------------------------------------

std::string saveChecked(Node &node, BlockForm form);

// ---- names in panel fields -------------------------------------------------

inline constexpr std::array<std::size_t, 3> kLongNames = {kNameField - 1, kNameField, 4096};

// The name behind a string value, read as a host's panel reads it but
// never past the field.
std::string readName(const PanelRecord &panel, uint32_t vid, const std::string &who);

// A name that did not fit may be cut to the field or refused; either way
// what the field holds is the offered name's start or what it held before.
void expectFitted(const std::string &held, const std::string &offered, const std::string &before,
                  const std::string &who);

}  // namespace kerrowbend_host

#endif
