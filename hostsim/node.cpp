#include "hostsim/node.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

#include "hostsim/call_log.h"
#include "hostsim/host.h"

namespace hostsim {

namespace {

// The storage behind one evaluation's NodeValue handle.
struct ValueSlot {
  Vec3 value;
  int calls;
  int type;
};

std::size_t componentCount(int connectionType) {
  return connectionType == CONNECTION_VECTOR ? 3 : 1;
}

}  // namespace

NodalAccess makeSpot(const Vec3 &normal, ItemId object, std::initializer_list<PointId> points,
                     std::initializer_list<float> weights) {
  if (points.size() > 4 || weights.size() > 4) {
    throw std::invalid_argument("makeSpot: a spot has at most four vertices");
  }
  NodalAccess spot{};
  std::copy(normal.begin(), normal.end(), spot.wNorm);
  spot.objId = object;
  std::copy(points.begin(), points.end(), spot.verts);
  std::copy(weights.begin(), weights.end(), spot.weights);
  return spot;
}

// ---- inputs ---------------------------------------------------------------

void Input::write(const NodalAccess &spot, double *out) const {
  // Every source fills three components; the input's type decides how many
  // reach the module, so a source can never overrun a scalar's one double.
  Vec3 value{0.0, 0.0, 0.0};
  if (const auto *constant = std::get_if<double>(&source_)) {
    value = {*constant, *constant, *constant};
  } else if (const auto *vector = std::get_if<Vec3>(&source_)) {
    value = *vector;
  } else if (const auto *function = std::get_if<SpotFunction>(&source_)) {
    (*function)(spot, value.data());
  }
  std::copy_n(value.begin(), componentCount(type_), out);
}

// ---- nodes ----------------------------------------------------------------

Node::Node(Host &host, HandlerActivation &activation, std::string name)
    : host_(host),
      activation_(&activation),
      name_(std::move(name)),
      inputs_(&host.records_),
      outputs_(&host.records_),
      inputsById_(&host.records_),
      liveInputsByName_(&host.records_) {}

std::vector<std::string> Node::inputNames() const {
  std::vector<std::string> names;
  for (const auto &input : inputs_) {
    if (!input->destroyed_) names.push_back(input->name_);
  }
  return names;
}

Input *Node::input(std::string_view name) const {
  const auto found = liveInputsByName_.find(name);
  return found != liveInputsByName_.end() ? found->second : nullptr;
}

Input &Node::addInput(std::string name, int type, InputEventFunc event) {
  inputs_.push_back(std::unique_ptr<Input>(new Input(this, std::move(name), type, event)));
  Input &made = *inputs_.back();
  inputsById_.emplace(made.id(), &made);
  liveInputsByName_.emplace(made.name_, &made);
  return made;
}

Input *Node::ownInput(InputId id) const {
  const auto found = inputsById_.find(id);
  return found != inputsById_.end() ? found->second : nullptr;
}

void Node::destroyInput(Input &input) {
  if (input.destroyed_) return;
  input.destroyed_ = true;
  input.source_ = std::monostate{};
  auto [at, end] = liveInputsByName_.equal_range(input.name_);
  for (; at != end; ++at) {
    if (at->second == &input) {
      liveInputsByName_.erase(at);
      break;
    }
  }
}

Output *Node::output(std::string_view name) const {
  for (const auto &output : outputs_) {
    if (!output->destroyed_ && output->name_ == name) return output.get();
  }
  return nullptr;
}

Input &Node::liveInput(std::string_view name) {
  Input *found = input(name);
  if (found == nullptr) {
    throw std::invalid_argument("node '" + name_ + "' has no input named '" + std::string(name) +
                                "'");
  }
  return *found;
}

void Node::fireEvent(Input &input, int event) {
  if (input.event_ != nullptr) {
    input.lastEventResult_ = input.event_(instance_, input.id(), event, input.type_);
  }
}

void Node::connect(std::string_view name, double value) {
  Input &input = liveInput(name);
  input.source_ = value;
  fireEvent(input, kInputConnected);
}

void Node::connect(std::string_view name, const Vec3 &value) {
  Input &input = liveInput(name);
  input.source_ = value;
  fireEvent(input, kInputConnected);
}

void Node::connect(std::string_view name, SpotFunction source) {
  Input &input = liveInput(name);
  input.source_ = std::move(source);
  fireEvent(input, kInputConnected);
}

void Node::disconnect(std::string_view name) {
  Input &input = liveInput(name);
  input.source_ = std::monostate{};
  fireEvent(input, kInputDisconnected);
}

const Output *Node::firstOutput() const {
  for (const auto &output : outputs_) {
    if (!output->destroyed_) return output.get();
  }
  throw std::logic_error("node '" + name_ + "' has no output");
}

Evaluation Node::evaluate(const NodalAccess &spot) const {
  return evaluate(spot, firstOutput()->id());
}

Evaluation Node::evaluate(const NodalAccess &spot, std::string_view name) const {
  const Output *found = output(name);
  if (found == nullptr) {
    throw std::invalid_argument("node '" + name_ + "' has no output named '" + std::string(name) +
                                "'");
  }
  return evaluate(spot, found->id());
}

Evaluation Node::evaluate(const NodalAccess &spot, OutputId output) const {
  const auto match = [output](const auto &own) { return own->id() == output; };
  const auto found = std::find_if(outputs_.begin(), outputs_.end(), match);
  if (found == outputs_.end()) {
    throw std::invalid_argument("node '" + name_ + "': not one of its outputs");
  }
  return evaluateInto(spot, **found, output);
}

Evaluation Node::evaluateHandingId(const NodalAccess &spot, OutputId handed) const {
  return evaluateInto(spot, *firstOutput(), handed);
}

Evaluation Node::evaluateInto(const NodalAccess &spot, const Output &into, OutputId handed) const {
  const EvaluateFunc evaluateFn = activation_->record.evaluate;
  if (evaluateFn == nullptr) {
    throw std::logic_error("server '" + activation_->server + "' installed no evaluate");
  }
  constexpr double kUnset = std::numeric_limits<double>::quiet_NaN();
  ValueSlot slot{{kUnset, kUnset, kUnset}, 0, into.type_};
  NodalAccess access = spot;  // the module may not write it, but it is handed a non-const one
  evaluateFn(instance_, &access, handed, reinterpret_cast<NodeValue>(&slot));
  return Evaluation{slot.value, slot.calls};
}

Error Node::newTime(int frame, double time) {
  RenderFuncs *render = activation_->record.rend;
  if (render == nullptr || render->newTime == nullptr) return nullptr;
  return render->newTime(instance_, frame, time);
}

Error Node::copyFrom(const Node &source) {
  InstanceFuncs *funcs = activation_->record.inst;
  if (funcs == nullptr || funcs->copy == nullptr) {
    throw std::logic_error("server '" + activation_->server + "' installed no copy");
  }
  return funcs->copy(instance_, source.instance_);
}

std::string Node::save(BlockForm form, SaveReport *report) {
  InstanceFuncs *funcs = activation_->record.inst;
  if (funcs == nullptr || funcs->save == nullptr) {
    throw std::logic_error("server '" + activation_->server + "' installed no save");
  }
  BlockWriter writer(form);
  const SaveState state = writer.saveState();
  const Error error = funcs->save(instance_, &state);
  std::string data = writer.finish();
  if (report != nullptr) *report = SaveReport{error, writer.problems()};
  return data;
}

Error Node::load(BlockForm form, std::string data, const LoadOptions &options, LoadReport *report) {
  InstanceFuncs *funcs = activation_->record.inst;
  if (funcs == nullptr || funcs->load == nullptr) {
    throw std::logic_error("server '" + activation_->server + "' installed no load");
  }
  BlockReader reader(form, std::move(data), options);
  const LoadState state = reader.loadState();
  const Error error = funcs->load(instance_, &state);
  if (report != nullptr) *report = LoadReport{reader.damaged(), reader.problems()};
  return error;
}

void Node::saveToFile(BlockForm form, const std::string &path, SaveReport *report) {
  writeBlockFile(path, save(form, report));
}

Error Node::loadFromFile(BlockForm form, const std::string &path, const LoadOptions &options,
                         LoadReport *report) {
  return load(form, readBlockFile(path), options, report);
}

void Node::destroy() {
  if (destroyed_) return;
  destroyed_ = true;
  InstanceFuncs *funcs = activation_->record.inst;
  if (instance_ != nullptr && funcs != nullptr && funcs->destroy != nullptr) {
    funcs->destroy(instance_);
  }
}

// ---- the service tables ---------------------------------------------------

struct NodeServices {
  static Host *host() { return Host::current(); }

  static Node *node(NodeId id) {
    Host *current = host();
    return current != nullptr ? current->findNode(id) : nullptr;
  }

  static const char *nodeName(NodeId id) {
    if (Host *current = host()) current->log().record("node.name");
    const Node *found = node(id);
    return found != nullptr ? found->name_.c_str() : nullptr;
  }

  static void setPreviewType(NodeId id, int type) {
    if (Host *current = host()) current->log().record("node.setPreviewType", type);
    if (Node *found = node(id)) found->previewType_ = type;
  }

  static InputId createInput(NodeId id, int type, const char *name, InputEventFunc event) {
    const std::string_view text = name != nullptr ? name : "";
    Host *current = host();
    if (current == nullptr) return nullptr;
    current->log().record("input.create", text, type);
    if (current->inputIdRefused(text)) return nullptr;
    Node *found = current->findNode(id);
    if (found == nullptr || found->destroyed_) return nullptr;
    return found->addInput(std::string(text), type, event).id();
  }

  static void destroyInput(NodeId id, InputId input) {
    Node *found = node(id);
    Input *own = found != nullptr ? found->ownInput(input) : nullptr;
    if (Host *current = host()) {
      current->log().record("input.destroy",
                            own != nullptr ? std::string_view(own->name_) : "(unknown)");
    }
    if (own == nullptr) return;
    // Counted before the node's own bookkeeping, which ignores a second
    // destroy: a module that destroys an input twice must show it.
    ++own->destroyCalls_;
    found->destroyInput(*own);
  }

  // Called from render threads: reads only, no lookups through the host's
  // lists.
  // A null id is no input of this host's, but another host may read through
  // it: it is logged, so a module that hands one over shows.
  static int evaluateInput(InputId id, NodalAccess *spot, void *value) {
    const auto *input = reinterpret_cast<const Input *>(id);
    if (input == nullptr) {
      if (Host *current = host()) current->log().record("input.evaluate", "(null)");
      return 0;
    }
    input->node_->host_.log().record("input.evaluate", input->name_);
    if (input->destroyed_ || !input->connected() || value == nullptr) return 0;
    static const NodalAccess kNoSpot{};
    input->write(spot != nullptr ? *spot : kNoSpot, static_cast<double *>(value));
    return 1;
  }

  static int checkInput(InputId id) {
    const auto *input = reinterpret_cast<const Input *>(id);
    if (input == nullptr) {
      if (Host *current = host()) current->log().record("input.check", "(null)");
      return 0;
    }
    input->node_->host_.log().record("input.check", input->name_);
    return !input->destroyed_ && input->connected() ? 1 : 0;
  }

  static OutputId createOutput(NodeId id, int type, const char *name) {
    const std::string_view text = name != nullptr ? name : "";
    if (Host *current = host()) current->log().record("output.create", text, type);
    Node *found = node(id);
    if (found == nullptr || found->destroyed_) return nullptr;
    found->outputs_.push_back(std::unique_ptr<Output>(new Output(found, std::string(text), type)));
    return found->outputs_.back()->id();
  }

  static void destroyOutput(NodeId id, OutputId output) {
    Node *found = node(id);
    Output *own = nullptr;
    if (found != nullptr) {
      for (const auto &candidate : found->outputs_) {
        if (candidate->id() == output) own = candidate.get();
      }
    }
    if (Host *current = host()) {
      current->log().record("output.destroy",
                            own != nullptr ? std::string_view(own->name_) : "(unknown)");
    }
    if (own != nullptr) own->destroyed_ = true;
  }

  static void setValue(NodeValue value, void *data) {
    if (Host *current = host()) {
      current->log().counters.setValue.fetch_add(1, std::memory_order_relaxed);
      current->log().record("output.setValue");
    }
    auto *slot = reinterpret_cast<ValueSlot *>(value);
    if (slot == nullptr) return;
    ++slot->calls;
    if (data != nullptr) {
      std::copy_n(static_cast<const double *>(data), componentCount(slot->type),
                  slot->value.begin());
    }
  }
};

NodeFuncs nodeFuncsTable() {
  return NodeFuncs{&NodeServices::nodeName, &NodeServices::setPreviewType};
}

NodeInputFuncs nodeInputFuncsTable() {
  return NodeInputFuncs{&NodeServices::createInput, &NodeServices::destroyInput,
                        &NodeServices::evaluateInput, &NodeServices::checkInput};
}

NodeOutputFuncs nodeOutputFuncsTable() {
  return NodeOutputFuncs{&NodeServices::createOutput, &NodeServices::destroyOutput,
                         &NodeServices::setValue};
}

}  // namespace hostsim
