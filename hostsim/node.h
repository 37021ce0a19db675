// Nodes placed in the simulated host's node network: their inputs and
// outputs, what the inputs are connected to, and the instance the module
// made for each; plus the "NodeFuncs", "NodeInputFuncs" and
// "NodeOutputFuncs" tables through which the module builds and uses them.
//
// Evaluation may run on many threads at once, also on one node: everything
// it touches (input sources, the handler record) is only read, and each
// evaluation's output value lives in its own stack storage.
#ifndef KERROWBEND_HOSTSIM_NODE_H
#define KERROWBEND_HOSTSIM_NODE_H

#include <array>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <memory_resource>
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>
#include <vector>

#include "host/node_io.h"
#include "hostsim/block_io.h"
#include "hostsim/handler_activation.h"
#include "hostsim/vec3.h"

namespace hostsim {

class Host;
class Node;
struct NodeServices;

// A per-spot source for an input. It gets the spot and writes out[0] (what
// a scalar input gives) or out[0..2] (a vector input); out always has room
// for three. It must not allocate if the caller counts allocations during
// evaluation.
using SpotFunction = std::function<void(const NodalAccess &spot, double *out)>;

// The event codes the host hands an input's event callback.
enum InputEvent { kInputConnected = 1, kInputDisconnected = 2 };

// A shaded spot: world normal, object, and up to four vertex points with
// their barycentric weights (missing ones are null and 0).
NodalAccess makeSpot(const Vec3 &normal, ItemId object = nullptr,
                     std::initializer_list<PointId> points = {},
                     std::initializer_list<float> weights = {});

class Input {
 public:
  InputId id() const { return reinterpret_cast<InputId>(const_cast<Input *>(this)); }
  const std::string &name() const { return name_; }
  int connectionType() const { return type_; }
  InputEventFunc eventFunc() const { return event_; }
  bool destroyed() const { return destroyed_; }
  // How often the module asked to destroy it; more than once is a fault.
  int destroyCalls() const { return destroyCalls_; }
  bool connected() const { return source_.index() != 0; }
  // What the event callback answered last; 0 before any event.
  int lastEventResult() const { return lastEventResult_; }

 private:
  friend class Node;
  friend struct NodeServices;
  Input(Node *node, std::string name, int type, InputEventFunc event)
      : node_(node), name_(std::move(name)), type_(type), event_(event) {}
  // Writes the source's value for the spot: 3 doubles for a vector input,
  // 1 for a scalar. A constant scalar feeds all three components of a
  // vector input; a vector feeds its x to a scalar input.
  void write(const NodalAccess &spot, double *out) const;

  Node *node_;
  std::string name_;
  int type_;
  InputEventFunc event_;
  bool destroyed_ = false;
  int destroyCalls_ = 0;
  std::variant<std::monostate, double, Vec3, SpotFunction> source_;
  int lastEventResult_ = 0;
};

class Output {
 public:
  OutputId id() const { return reinterpret_cast<OutputId>(const_cast<Output *>(this)); }
  // The node the output belongs to.
  Node &node() const { return *node_; }
  const std::string &name() const { return name_; }
  int connectionType() const { return type_; }
  bool destroyed() const { return destroyed_; }

 private:
  friend class Node;
  friend struct NodeServices;
  Output(Node *node, std::string name, int type)
      : node_(node), name_(std::move(name)), type_(type) {}

  Node *node_;
  std::string name_;
  int type_;
  bool destroyed_ = false;
};

// One evaluation's result. value holds what setValue was handed (for a
// scalar output only value[0]); NaN where nothing was set.
struct Evaluation {
  Vec3 value;
  int setValueCalls = 0;
  bool setOnce() const { return setValueCalls == 1; }
};

// What a save produced besides the data.
struct SaveReport {
  Error error = nullptr;              // what the save callback returned
  std::vector<std::string> problems;  // block protocol faults, see BlockWriter
};

// What a load met besides the module's answer.
struct LoadReport {
  bool damaged = false;
  std::vector<std::string> problems;
};

class Node {
 public:
  Node(const Node &) = delete;
  Node &operator=(const Node &) = delete;

  NodeId id() const { return reinterpret_cast<NodeId>(const_cast<Node *>(this)); }
  const std::string &name() const { return name_; }
  const std::string &server() const { return activation_->server; }
  HandlerActivation &activation() const { return *activation_; }

  // What InstanceFuncs::create gave, and the error text it set (empty when
  // it set none).
  void *instance() const { return instance_; }
  const std::string &createError() const { return createError_; }
  bool createErrorSet() const { return createErrorSet_; }
  // The last type handed to NodeFuncs::setPreviewType, or -1.
  int previewType() const { return previewType_; }
  bool destroyed() const { return destroyed_; }

  // Every input and output the module created, in creation order, also the
  // destroyed ones.
  const std::pmr::vector<std::unique_ptr<Input>> &inputs() const { return inputs_; }
  const std::pmr::vector<std::unique_ptr<Output>> &outputs() const { return outputs_; }
  // The names of the live inputs, in creation order.
  std::vector<std::string> inputNames() const;
  // The live input or output of that name (the first made, when several
  // share it), or null. Inputs are found through an index of live names,
  // so a node that has made thousands costs no more to look into.
  Input *input(std::string_view name) const;
  Output *output(std::string_view name) const;

  // Connects a live input to a value source and fires its event callback
  // with kInputConnected (again when it was connected already);
  // disconnecting fires kInputDisconnected. Throws std::invalid_argument
  // for an unknown input name.
  void connect(std::string_view input, double value);
  void connect(std::string_view input, const Vec3 &value);
  void connect(std::string_view input, SpotFunction source);
  void disconnect(std::string_view input);

  // Calls the handler's evaluate for an output (default: the first live
  // one). [thread-safe]
  Evaluation evaluate(const NodalAccess &spot) const;
  Evaluation evaluate(const NodalAccess &spot, std::string_view output) const;
  Evaluation evaluate(const NodalAccess &spot, OutputId output) const;
  // Evaluates into the first live output but hands the module handed as
  // the output id, one it never made, to show that the id decides nothing.
  // [thread-safe]
  Evaluation evaluateHandingId(const NodalAccess &spot, OutputId handed) const;

  // Calls RenderFuncs::newTime; gives null without calling when the
  // activation offered no render table or the module installed none.
  Error newTime(int frame, double time);
  // Calls InstanceFuncs::copy(this instance, source's instance).
  Error copyFrom(const Node &source);

  // Runs the save callback into a BlockWriter of that form.
  std::string save(BlockForm form, SaveReport *report = nullptr);
  // Runs the load callback over data; gives what it returned.
  Error load(BlockForm form, std::string data, const LoadOptions &options = {},
             LoadReport *report = nullptr);
  // The same through a file (see writeBlockFile and readBlockFile).
  void saveToFile(BlockForm form, const std::string &path, SaveReport *report = nullptr);
  Error loadFromFile(BlockForm form, const std::string &path, const LoadOptions &options = {},
                     LoadReport *report = nullptr);

  // Calls InstanceFuncs::destroy; the node stays readable afterwards.
  void destroy();

 private:
  friend class Host;
  friend struct NodeServices;
  Node(Host &host, HandlerActivation &activation, std::string name);
  Input &liveInput(std::string_view name);
  Input &addInput(std::string name, int type, InputEventFunc event);
  // The node's own input behind id, destroyed or not; null for a foreign id.
  Input *ownInput(InputId id) const;
  void destroyInput(Input &input);
  void fireEvent(Input &input, int event);
  const Output *firstOutput() const;
  Evaluation evaluateInto(const NodalAccess &spot, const Output &into, OutputId handed) const;

  Host &host_;
  HandlerActivation *activation_;
  std::string name_;
  void *instance_ = nullptr;
  std::string createError_;
  bool createErrorSet_ = false;
  int previewType_ = -1;
  bool destroyed_ = false;
  // The lists and indexes take their room from the host's record pool (see
  // Host), as every placed node makes and drops a few of each.
  std::pmr::vector<std::unique_ptr<Input>> inputs_;
  std::pmr::vector<std::unique_ptr<Output>> outputs_;
  std::pmr::unordered_map<InputId, Input *> inputsById_;
  // Live inputs only; among equal names in creation order. The keys view
  // the inputs' own names, which live as long as the node.
  std::pmr::multimap<std::string_view, Input *> liveInputsByName_;
};

// The node service tables; identical for every host.
NodeFuncs nodeFuncsTable();
NodeInputFuncs nodeInputFuncsTable();
NodeOutputFuncs nodeOutputFuncsTable();

}  // namespace hostsim

#endif
