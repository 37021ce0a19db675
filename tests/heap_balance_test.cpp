// Whole lives of both nodes, from create to destroy, through what a host
// does to a node in between: every block the module takes must be given
// back by the time its nodes are destroyed. The default build counts the
// blocks; the sanitizer builds have no counter, and their leak check at
// exit reports what these lives leave behind instead.
#include <cstdint>
#include <functional>

#include <gtest/gtest.h>

#include "hostsim/block_io.h"
#include "hostsim/host.h"
#include "tests/module_fixture.h"
#ifdef KERROWBEND_HEAP_COUNTING
#include "tests/heap_counter.h"
#endif

namespace kerrowbend_test {
namespace {

using facts::kInputSizeId;
using facts::kReferenceObjectId;
using hostsim::BlockForm;
using hostsim::Node;

hostsim::PanelRecord &openPanel(hostsim::Host &host, Node &node) {
  InterfaceRecord record{node.instance(), nullptr, nullptr, nullptr};
  EXPECT_EQ(host.activateInterface(node.server(), NODE_INTERFACE_VERSION, &record), ACTIVATE_OK);
  return *host.panels().find(record.panel);
}

// What happens to a node, and to a second one of the same server, between
// their creation and their destruction.
struct Life {
  const char *label;
  const char *server;
  std::function<void(hostsim::Host &, Node &, Node &)> between;
};

const Life kLives[] = {
    {"single: settings, panel, copies both ways", kSingle,
     [](hostsim::Host &host, Node &node, Node &other) {
       host.scene().addObject("Cube");
       openPanel(host, node).setString(kReferenceObjectId, "Cube");
       host.newTime(0, 0.0);
       ASSERT_EQ(other.copyFrom(node), nullptr);
       ASSERT_EQ(node.load(BlockForm::Text, other.save(BlockForm::Text)), nullptr);
       ASSERT_EQ(node.copyFrom(other), nullptr);
     }},
    {"multi: grown through many steps, then shrunk", kMulti,
     [](hostsim::Host &, Node &node, Node &) {
       loadCount(node, 64);
       loadCount(node, 3);
       loadCount(node, 40);
     }},
    {"multi: panel edits to none and back", kMulti,
     [](hostsim::Host &host, Node &node, Node &) {
       hostsim::PanelRecord &panel = openPanel(host, node);
       panel.editInt(kInputSizeId, 17);
       panel.editInt(kInputSizeId, 0);
       panel.editInt(kInputSizeId, INT32_MIN);
       panel.editInt(kInputSizeId, 12);
     }},
    {"multi: copies that grow and shrink", kMulti,
     [](hostsim::Host &, Node &node, Node &other) {
       loadCount(other, 30);
       ASSERT_EQ(node.copyFrom(other), nullptr);
       loadCount(other, 2);
       ASSERT_EQ(node.copyFrom(other), nullptr);
     }},
    {"multi: destroyed with many stages", kMulti,
     [](hostsim::Host &, Node &node, Node &other) {
       loadCount(node, 200);
       loadCount(other, 7);
     }},
};

TEST_F(ModuleTest, EveryBlockANodeTakesIsGivenBackByItsDestroy) {
  ASSERT_EQ(host.activateHandler(kSingle), ACTIVATE_OK);
  ASSERT_EQ(host.activateHandler(kMulti), ACTIVATE_OK);
  for (const Life &life : kLives) {
#ifdef KERROWBEND_HEAP_COUNTING
    const heapcount::BalanceScope balance;
#endif
    Node &node = host.createNode(life.server, "node");
    Node &other = host.createNode(life.server, "other");
    life.between(host, node, other);
    node.destroy();
    other.destroy();
#ifdef KERROWBEND_HEAP_COUNTING
    EXPECT_GT(balance.taken(), 0u) << life.label;
    EXPECT_EQ(balance.released(), balance.taken()) << life.label;
    EXPECT_FALSE(balance.overflowed()) << life.label;
#endif
  }
}

}  // namespace
}  // namespace kerrowbend_test
