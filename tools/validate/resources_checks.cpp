// The resources/* checks: what the module takes over many rounds of a
// scene's life (nodes placed, set up, copied, saved and loaded, "Input
// Size" taken to 300 and back, and deleted) it gives back. Its heap blocks
// in use do not grow with the rounds, each input it makes is destroyed at
// most once (the rest go to the host with their node), and each panel it
// makes is destroyed with its instance. Memory refused at any one request
// of a create, load, copy or resize leaves no crash, no leak and a node that
// saves and reloads; and a stage slot freed is taken again.
#include <dlfcn.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "heapcount/counts.h"
#include "tools/process/child_run.h"
#include "tools/validate/checks.h"
#include "tools/validate/groups.h"
#include "tools/validate/heap.h"
#include "tools/validate/support.h"

namespace kerrowbend_host {

namespace {

void lifeRound(Host &host) {
  for (const char *server : kNodes) {
    const bool single = std::string(server) == kSingle;
    Node &first = placeNode(host, server);
    const PanelRecord &panel = openPanel(host, first);
    if (single) {
      configure(first, panel);
    } else {
      for (const int32_t count : {300, 1, 3}) panel.editInt(kInputSizeId, count);
    }
    Node &second = placeNode(host, server);
    second.copyFrom(first);
    for (const BlockForm form : kForms) second.load(form, first.save(form));
    if (!single) {
      const PanelRecord &secondPanel = openPanel(host, second);
      for (const int32_t count : {300, 1}) secondPanel.editInt(kInputSizeId, count);
    }
    first.destroy();
    second.destroy();
  }
}

// The heap blocks in use once a host of its own has run the rounds and
// unloaded the module.
long blocksAfter(const std::string &modulePath, int rounds) {
  {
    const auto host = openHost(modulePath);
    for (int i = 0; i < rounds; ++i) lifeRound(*host);
  }
  return heapBlocksInUse().value_or(0);
}

}  // namespace

void checkMemoryBalance(const std::string &modulePath) {
  if (!heapBlocksInUse()) {
    // Run in the tool's own process (--in-process), where the counter is
    // only if the user preloaded it.
    throw CheckSkipped(
        "the heap counter is not loaded in this process (preload it with LD_PRELOAD=" +
        heapCounterLibrary() + ")");
  }
  constexpr int kFew = 2;
  constexpr int kMany = 12;
  // What the first load and round keep for good (the loader's and the C++
  // library's own) is not the module's growth.
  blocksAfter(modulePath, kFew);
  const long few = blocksAfter(modulePath, kFew);
  const long many = blocksAfter(modulePath, kMany);
  // A fault that keeps a block per round keeps at least kMany - kFew more.
  if (many - few >= kMany - kFew) {
    fail("expected the heap blocks in use after the module is unloaded to be the same after " +
         std::to_string(kMany) + " rounds of placing, setting up, copying, saving, loading, " +
         "resizing and deleting both nodes as after " + std::to_string(kFew) + ", but " +
         std::to_string(many - few) + " more blocks stayed in use");
  }
}

void checkInputsAndPanels(const std::string &modulePath) {
  const auto host = openHost(modulePath);
  for (int i = 0; i < 3; ++i) lifeRound(*host);
  for (const auto &node : host->nodes()) {
    for (const auto &input : node->inputs()) {
      if (input->destroyCalls() > 1) {
        fail(node->server() + ": expected every input the module makes to be destroyed at most " +
             "once, but " + shown(input->name()) + " was destroyed " +
             std::to_string(input->destroyCalls()) + " times");
      }
    }
  }
  expectPanelsGone(*host, "");
}

namespace {

// The counter's entry points, found where it is loaded.
struct Counter {
  void (*read)(HeapCounts *);
  void (*refuse)(std::size_t, int);
  void (*follow)(int);

  HeapCounts counts() const {
    HeapCounts c{};
    read(&c);
    return c;
  }
};

Counter loadedCounter() {
  Counter counter{
      reinterpret_cast<void (*)(HeapCounts *)>(::dlsym(RTLD_DEFAULT, "kerrowbend_heapcount_read")),
      reinterpret_cast<void (*)(std::size_t, int)>(
          ::dlsym(RTLD_DEFAULT, "kerrowbend_heapcount_refuse")),
      reinterpret_cast<void (*)(int)>(::dlsym(RTLD_DEFAULT, "kerrowbend_heapcount_follow"))};
  if (counter.read == nullptr || counter.refuse == nullptr || counter.follow == nullptr) {
    throw CheckSkipped(
        "the heap counter is not loaded in this process (preload it with LD_PRELOAD=" +
        heapCounterLibrary() + ")");
  }
  return counter;
}

// One thing a host asks of a node that takes the module's memory. The
// simulated host takes its own memory elsewhere, so only the module's
// calloc requests are numbered and refused.
struct Operation {
  const char *server;
  const char *what;
  // Places the node when none is given; the handler is activated already.
  std::function<void(Host &host, Node *&node)> run;
};

const std::vector<Operation> &operations() {
  static const std::vector<Operation> kOperations = {
      {kSingle, "create",
       [](Host &host, Node *&node) { node = &host.createNode(kSingle, "refused"); }},
      {kMulti, "create",
       [](Host &host, Node *&node) { node = &host.createNode(kMulti, "refused"); }},
      {kMulti, "a load of Input Size 12",
       [](Host & /*host*/, Node *&node) {
         node->load(BlockForm::Binary, hostsim::facts::countData(BlockForm::Binary, 12));
       }},
      {kMulti, "a copy from a node of 12 stages",
       [](Host &host, Node *&node) {
         // The source, placed before the target, is the host's first node.
         node->copyFrom(*host.nodes().front());
       }},
      {kMulti, "an Input Size edit from 1 to 12",
       [](Host &host, Node *&node) { openPanel(host, *node).editInt(kInputSizeId, 12); }},
  };
  return kOperations;
}

}  // namespace

void checkRefusedMemory(const std::string &modulePath) {
  const Counter counter = loadedCounter();
  for (const Operation &operation : operations()) {
    const bool creates = std::string(operation.what) == "create";
    for (std::size_t nth = 0;; ++nth) {
      const std::string which = std::string(operation.server) + ", " + operation.what +
                                " with the module's calloc request " + std::to_string(nth) +
                                " refused";
      bool refused = false;
      {
        const auto host = openHost(modulePath);
        if (host->activateHandler(operation.server) != 0) {
          fail(which + ": expected handler activation to give 0, but it did not");
        }
        // A source for the copy, before the node it is copied onto.
        openPanel(*host, placeNode(*host, kMulti)).editInt(kInputSizeId, 12);
        Node *node = creates ? nullptr : &placeNode(*host, operation.server);
        counter.follow(1);
        counter.refuse(nth, 1);
        operation.run(*host, node);
        refused = counter.counts().refused != 0;
        counter.refuse(kRefuseNone, 1);
        if (node == nullptr || node->instance() == nullptr) {
          if (!creates || nth != 0) {
            fail(which + ": expected only a refused instance record to leave no instance, but " +
                 "there is none");
          }
          if (node != nullptr && node->createError() != kCreateFailed) {
            fail(which + ": expected create to report " + shown(kCreateFailed) +
                 ", but it reported " +
                 (node->createErrorSet() ? shown(node->createError()) : std::string("nothing")));
          }
          if (node != nullptr && (!node->inputs().empty() || !node->outputs().empty())) {
            fail(which + ": expected a create that reports failure to make no inputs or output, " +
                 "but it made some");
          }
        } else {
          const std::string saved = saveChecked(*node, BlockForm::Binary);
          Node &fresh = placeNode(*host, operation.server);
          fresh.load(BlockForm::Binary, saved);
          if (saveChecked(fresh, BlockForm::Binary) != saved) {
            fail(which + ": expected the node to save what a fresh node reloads to the same, but " +
                 "the two saves differ");
          }
          fresh.destroy();
        }
        for (const auto &placed : host->nodes()) {
          if (!placed->destroyed()) placed->destroy();
        }
      }
      const HeapCounts after = counter.counts();
      counter.follow(0);
      if (after.followedOverflow == 0 && after.followedGiven != after.followedTaken) {
        fail(which + ": expected every block the module took to be given back once its nodes " +
             "were destroyed and it was unloaded, but " +
             std::to_string(after.followedTaken - after.followedGiven) + " of " +
             std::to_string(after.followedTaken) + " stayed");
      }
      if (!refused) break;
      stillWorking();
    }
  }
}

void checkSlotReuse(const std::string &modulePath) {
  const Counter counter = loadedCounter();
  const auto host = openHost(modulePath);
  Node &node = placeNode(*host, kMulti);
  const PanelRecord &panel = openPanel(*host, node);
  // Each round takes the stages from 1 to 20 and back: a list that takes
  // its freed slots again asks for the same memory every round after the
  // first, which grew its slots; one that leaves them unused grows them
  // again each round, and further each time.
  std::vector<std::size_t> bytes;
  for (int round = 0; round < 6; ++round) {
    const std::size_t before = counter.counts().callocBytes;
    panel.editInt(kInputSizeId, 20);
    panel.editInt(kInputSizeId, 1);
    bytes.push_back(counter.counts().callocBytes - before);
  }
  for (std::size_t round = 2; round < bytes.size(); ++round) {
    if (bytes[round] != bytes[1]) {
      fail(std::string(kMulti) + ": expected each round of Input Size 1 to 20 and back after the " +
           "first to take the same memory, as freed stage slots are taken again, but round 2 " +
           "asked calloc for " + std::to_string(bytes[1]) + " bytes and round " +
           std::to_string(round + 1) + " for " + std::to_string(bytes[round]));
    }
  }
}

}  // namespace kerrowbend_host
