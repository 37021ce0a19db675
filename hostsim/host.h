// The simulated host: a whole host for tests, tools and benchmarks.
//
//   hostsim::Host host("build/kerrowbend.p");      // load, startup
//   host.setProductVersion(10, 1);
//   auto &cube = host.scene().addObject("Cube");
//   ASSERT_EQ(host.activateHandler("Kerrowbend"), ACTIVATE_OK);
//   hostsim::Node &node = host.createNode("Kerrowbend", "Kerrowbend (1)");
//   node.connect("Weight", 0.5);
//   host.newTime(0, 0.0);
//   auto result = node.evaluate(hostsim::makeSpot({0, 0, 1}, cube.id()));
//   EXPECT_TRUE(result.setOnce());
//   EXPECT_TRUE(host.log().contains("lookup LW Time Info"));
//   std::string text = node.save(hostsim::BlockForm::Text);
//   // ~Host: destroys the remaining instances, shutdown, unload.
//
// The contract's GlobalFunc and ItemInfo::first carry no context, so the
// host that answers them is a process-wide "current host": constructing a
// Host makes it current, and only one may exist at a time.
#ifndef KERROWBEND_HOSTSIM_HOST_H
#define KERROWBEND_HOSTSIM_HOST_H

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <memory_resource>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "host/handler.h"
#include "host/module.h"
#include "host/node_io.h"
#include "host/scene.h"
#include "hostsim/call_log.h"
#include "hostsim/handler_activation.h"
#include "hostsim/loader.h"
#include "hostsim/node.h"
#include "hostsim/panel_service.h"
#include "hostsim/scene_model.h"
#include "hostsim/services.h"

namespace hostsim {

// The product code of a host version: minor in bits 16-19, major in 20-23.
constexpr uintptr_t productCodeFor(int major, int minor) {
  return (static_cast<uintptr_t>(major & PRODUCT_CODE_DIGIT_MASK) << PRODUCT_CODE_MAJOR_SHIFT) |
         (static_cast<uintptr_t>(minor & PRODUCT_CODE_DIGIT_MASK) << PRODUCT_CODE_MINOR_SHIFT);
}

class Host {
 public:
  // Throws std::logic_error when another Host exists.
  Host();
  // Host() and loadModule(modulePath).
  explicit Host(const std::string &modulePath);
  // Destroys the instances still alive (in creation order), then unloads
  // the module.
  ~Host();
  Host(const Host &) = delete;
  Host &operator=(const Host &) = delete;

  // The current host, or null. [thread-safe]
  static Host *current();

  // Loads a module file (a fresh copy, see ModuleFile); throws LoadError.
  void loadModule(const std::string &path);
  // Destroys the instances still alive and unloads the module.
  void unloadModule();
  bool moduleLoaded() const { return module_ != nullptr; }
  // The loaded module; throws std::logic_error when none is loaded.
  const ModuleFile &module() const;

  // ---- services ----
  // Lookup routine number routine (see kLookupRoutines); an activation is
  // handed routine 0 unless told otherwise. Throws std::out_of_range for a
  // number outside [0, kLookupRoutines).
  GlobalFunc global(int routine = 0) const { return lookupRoutine(routine); }
  // What the lookup routine number routine answers for name when called
  // with useMode, counted and logged as the module's lookups are. The
  // one-argument form is routine 0 with usage mode 0. [thread-safe]
  void *lookup(const char *name, int useMode, int routine);
  void *lookup(const char *name) { return lookup(name, 0, 0); }
  // Every lookup recorded while the log was recording, in order; cleared
  // with the log.
  std::vector<LookupCall> lookupCalls() const { return log_.lookupCalls(); }
  // Every name answers by default. Throws std::invalid_argument for a name
  // that is not one of the contract's lookup names.
  void setServiceAvailable(std::string_view name, bool available);
  void setServiceAvailable(Service service, bool available);
  bool serviceAvailable(Service service) const;
  void setAllServicesAvailable(bool available);
  // How often each name was looked up (any name, with an unknown one
  // counted apart). [thread-safe]
  long lookupCount(std::string_view name) const;
  long unknownLookupCount() const;

  // The "Product Info" answer; default version 10.1. A code of 0 makes the
  // lookup answer null, as an absent service does.
  void setProductVersion(int major, int minor) { productCode_ = productCodeFor(major, minor); }
  void setProductCode(uintptr_t code) { productCode_ = code; }
  uintptr_t productCode() const { return productCode_; }

  CallLog &log() { return log_; }
  Scene &scene() { return scene_; }
  PanelService &panels() { return panels_; }

  // The node input service refuses to give an id for every name refuse
  // answers true for: the create is logged as any other, but answers null
  // and gives the node no input. An empty function refuses none (the
  // default).
  void refuseInputIds(std::function<bool(std::string_view name)> refuse) {
    refuseInputIds_ = std::move(refuse);
  }
  bool inputIdRefused(std::string_view name) const {
    return refuseInputIds_ && refuseInputIds_(name);
  }

  // ---- servers ----
  // Activates the module's "NodeHandler" server of that name with a fresh
  // NodeHandler record set up from options; gives what the activation
  // returned. Throws std::invalid_argument when the module has no such
  // server.
  int activateHandler(const std::string &server, int version = NODE_HANDLER_VERSION,
                      const HandlerOptions &options = {});
  // The latest activation of a handler server, or null. Every activation's
  // record stays alive, at its address, until the host is destroyed, or
  // until forgetDestroyed once a later activation of its server took its
  // place and no node placed through it remains.
  HandlerActivation *handler(const std::string &server) const;
  const std::vector<std::unique_ptr<HandlerActivation>> &activations() const {
    return activations_;
  }
  // Activates the "NodeInterface" server of that name with record (which
  // may be null) and lookup routine number routine; gives what it
  // returned. Throws like activateHandler.
  int activateInterface(const std::string &server, int version, InterfaceRecord *record,
                        void *serverData = nullptr, int routine = 0);

  // ---- nodes ----
  // Places a node of a handler server (its latest activation) and calls
  // InstanceFuncs::create. Throws std::logic_error when the server was not
  // activated or installed no create.
  Node &createNode(const std::string &server, const std::string &nodeName);
  // Every node placed and not forgotten, in order, also the destroyed ones.
  const std::pmr::vector<std::unique_ptr<Node>> &nodes() const { return nodes_; }
  // The node behind id, or null; a forgotten node's id is no longer known.
  Node *findNode(NodeId id) const;
  // Sets the scene's time and frame, then calls every live node's newTime.
  void newTime(int frame, double time);
  // Drops the records of destroyed nodes (with their inputs and outputs),
  // of destroyed panels and of handler activations that were replaced and
  // serve no node any more, so a long run that places node after node, or
  // activates a handler again and again, keeps only what is alive.
  // References to them dangle afterwards, and a later record may reuse a
  // forgotten one's address, and so its id.
  void forgetDestroyed();

 private:
  friend class Node;
  void destroyNodes();
  // The module's server of that class and name; throws when there is none.
  const ServerRecord &server(const char *className, const std::string &name) const;

  CallLog log_;
  Scene scene_{log_};
  PanelService panels_{log_};
  NodeFuncs nodeFuncs_;
  NodeInputFuncs nodeInputFuncs_;
  NodeOutputFuncs nodeOutputFuncs_;
  std::array<bool, kServiceCount> available_{};
  std::array<std::atomic<long>, kServiceCount> lookupCounts_{};
  std::atomic<long> unknownLookups_{0};
  std::function<bool(std::string_view)> refuseInputIds_;
  uintptr_t productCode_ = productCodeFor(10, 1);

  std::unique_ptr<ModuleFile> module_;
  std::vector<std::unique_ptr<HandlerActivation>> activations_;
  // The room for the node records' lists and indexes. A fuzz run places
  // and forgets nodes by the hundred thousand, each with a few inputs, and
  // taking every index entry from the heap apart (under AddressSanitizer
  // above all) cost more than the module's own work. Only placing and
  // forgetting touch it, never an evaluation, so it needs no lock.
  std::pmr::unsynchronized_pool_resource records_;
  std::pmr::vector<std::unique_ptr<Node>> nodes_{&records_};
  std::pmr::unordered_map<NodeId, Node *> nodesById_{&records_};
};

}  // namespace hostsim

#endif
