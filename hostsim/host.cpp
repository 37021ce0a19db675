#include "hostsim/host.h"

#include <memory_resource>
#include <set>
#include <stdexcept>

namespace hostsim {

namespace {

// Read by every service call, from any thread; written only when a Host is
// made or destroyed.
std::atomic<Host *> currentHost{nullptr};

}  // namespace

Host::Host()
    : nodeFuncs_(nodeFuncsTable()),
      nodeInputFuncs_(nodeInputFuncsTable()),
      nodeOutputFuncs_(nodeOutputFuncsTable()) {
  Host *expected = nullptr;
  if (!currentHost.compare_exchange_strong(expected, this)) {
    throw std::logic_error("hostsim: a Host already exists; only one can be current at a time");
  }
  available_.fill(true);
}

Host::Host(const std::string &modulePath) : Host() { loadModule(modulePath); }

Host::~Host() {
  unloadModule();
  Host *self = this;
  currentHost.compare_exchange_strong(self, nullptr);
}

Host *Host::current() { return currentHost.load(std::memory_order_acquire); }

void Host::loadModule(const std::string &path) {
  if (module_ != nullptr) {
    throw std::logic_error("hostsim: a module is loaded already ('" + module_->path() + "')");
  }
  module_ = ModuleFile::open(path);
}

void Host::unloadModule() {
  destroyNodes();
  // Shutdown and unload; nodes and records stay readable, but nothing that
  // calls into the module may be used any more.
  module_.reset();
}

const ModuleFile &Host::module() const {
  if (module_ == nullptr) throw std::logic_error("hostsim: no module is loaded");
  return *module_;
}

const ServerRecord &Host::server(const char *className, const std::string &name) const {
  const ServerRecord *record = module().findServer(className, name);
  if (record == nullptr || record->activate == nullptr) {
    throw std::invalid_argument("hostsim: the module has no " + std::string(className) +
                                " server named '" + name + "' with an activate routine");
  }
  return *record;
}

int Host::activateHandler(const std::string &name, int version, const HandlerOptions &options) {
  const ServerRecord &record = server(SERVER_CLASS_NODE_HANDLER, name);
  const GlobalFunc globalFunc = global(options.routine);  // throws before any record is made
  activations_.push_back(std::make_unique<HandlerActivation>());
  HandlerActivation &activation = *activations_.back();
  activation.server = name;
  activation.version = version;
  activation.routine = options.routine;
  activation.instance = options.instance;
  activation.items = options.items;
  activation.render = options.render;
  activation.record.inst = &activation.instance;
  activation.record.item = options.itemTable ? &activation.items : nullptr;
  activation.record.rend = options.renderTable ? &activation.render : nullptr;
  activation.record.evaluate = options.evaluate;
  activation.record.preview = options.preview;
  activation.record.flags = options.flags;
  activation.result = record.activate(version, globalFunc, &activation.record, options.serverData);
  return activation.result;
}

HandlerActivation *Host::handler(const std::string &name) const {
  for (auto it = activations_.rbegin(); it != activations_.rend(); ++it) {
    if ((*it)->server == name) return it->get();
  }
  return nullptr;
}

int Host::activateInterface(const std::string &name, int version, InterfaceRecord *record,
                            void *serverData, int routine) {
  return server(SERVER_CLASS_NODE_INTERFACE, name)
      .activate(version, global(routine), record, serverData);
}

Node &Host::createNode(const std::string &name, const std::string &nodeName) {
  HandlerActivation *activation = handler(name);
  if (activation == nullptr) {
    throw std::logic_error("hostsim: handler server '" + name + "' has not been activated");
  }
  const InstanceFuncs *funcs = activation->record.inst;
  if (funcs == nullptr || funcs->create == nullptr) {
    throw std::logic_error("hostsim: handler server '" + name + "' installed no create");
  }
  nodes_.push_back(std::unique_ptr<Node>(new Node(*this, *activation, nodeName)));
  Node &node = *nodes_.back();
  nodesById_.emplace(node.id(), &node);
  Error error = nullptr;
  node.instance_ = funcs->create(funcs->priv, node.id(), &error);
  if (error != nullptr) {
    node.createError_ = error;
    node.createErrorSet_ = true;
  }
  return node;
}

Node *Host::findNode(NodeId id) const {
  const auto found = nodesById_.find(id);
  return found != nodesById_.end() ? found->second : nullptr;
}

void Host::forgetDestroyed() {
  std::erase_if(nodes_, [this](const std::unique_ptr<Node> &node) {
    if (!node->destroyed()) return false;
    nodesById_.erase(node->id());
    return true;
  });
  panels_.forgetDestroyed();
  // Kept: the latest activation of each server, and every one a node was
  // placed through. Found before erasing, as erasing moves the records.
  std::pmr::set<const HandlerActivation *> kept(&records_);
  for (const auto &activation : activations_) kept.insert(handler(activation->server));
  for (const auto &node : nodes_) kept.insert(node->activation_);
  std::erase_if(activations_, [&kept](const std::unique_ptr<HandlerActivation> &activation) {
    return !kept.contains(activation.get());
  });
}

void Host::newTime(int frame, double time) {
  scene_.setFrame(frame);
  scene_.setTime(time);
  for (const auto &node : nodes_) {
    if (!node->destroyed()) node->newTime(frame, time);
  }
}

void Host::destroyNodes() {
  for (const auto &node : nodes_) node->destroy();
}

// ---- services: which table answers each lookup name -----------------------

void *Host::lookup(const char *name, int useMode, int routine) {
  log_.counters.lookups.fetch_add(1, std::memory_order_relaxed);
  if (useMode != 0) log_.counters.lookupsWithNonZeroMode.fetch_add(1, std::memory_order_relaxed);
  Service service{};
  if (name == nullptr || !findService(name, &service)) {
    unknownLookups_.fetch_add(1, std::memory_order_relaxed);
    log_.recordLookup(name != nullptr ? name : "(null)", routine, useMode);
    return nullptr;
  }
  log_.recordLookup(name, routine, useMode);
  const auto index = static_cast<std::size_t>(service);
  lookupCounts_[index].fetch_add(1, std::memory_order_relaxed);
  if (!available_[index]) return nullptr;

  switch (service) {
    case Service::ItemInfo6:
    case Service::ItemInfo5:
      return scene_.itemInfoTable();
    case Service::NodeFuncs:
      return &nodeFuncs_;
    case Service::NodeInputFuncs3:
    case Service::NodeInputFuncs2:
      return &nodeInputFuncs_;
    case Service::NodeOutputFuncs2:
    case Service::NodeOutputFuncs:
      return &nodeOutputFuncs_;
    case Service::SceneObjects7:
    case Service::SceneObjects6:
      return scene_.sceneObjectsTable();
    case Service::ObjectInfo9:
    case Service::ObjectInfo8:
    case Service::ObjectInfo7:
      return scene_.objectInfoTable();
    case Service::TimeInfo:
      return scene_.timeInfoTable();
    case Service::ProductInfo:
      // No table: the answer itself is the code.
      return reinterpret_cast<void *>(productCode_);  // NOLINT(performance-no-int-to-ptr)
    case Service::Panel2:
    case Service::Panel:
      return panels_.table();
  }
  return nullptr;
}

void Host::setServiceAvailable(std::string_view name, bool available) {
  Service service{};
  if (!findService(name, &service)) {
    throw std::invalid_argument("hostsim: '" + std::string(name) + "' is not a service name");
  }
  setServiceAvailable(service, available);
}

void Host::setServiceAvailable(Service service, bool available) {
  available_[static_cast<std::size_t>(service)] = available;
}

bool Host::serviceAvailable(Service service) const {
  return available_[static_cast<std::size_t>(service)];
}

void Host::setAllServicesAvailable(bool available) { available_.fill(available); }

long Host::lookupCount(std::string_view name) const {
  Service service{};
  if (!findService(name, &service)) return 0;
  return lookupCounts_[static_cast<std::size_t>(service)].load(std::memory_order_relaxed);
}

long Host::unknownLookupCount() const { return unknownLookups_.load(std::memory_order_relaxed); }

}  // namespace hostsim
