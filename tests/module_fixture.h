// Fixtures for tests that drive the built module through the simulated
// host, as a real host would: every test gets its own host with a freshly
// loaded copy of the module, so module-wide state starts empty each time.
#ifndef KERROWBEND_TESTS_MODULE_FIXTURE_H
#define KERROWBEND_TESTS_MODULE_FIXTURE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hostsim/block_io.h"
#include "hostsim/host.h"
#include "hostsim/module_facts.h"

namespace kerrowbend_test {

namespace facts = hostsim::facts;
using facts::kMulti;
using facts::kSingle;

// The longest name a name field keeps whole.
inline constexpr std::size_t kLongestName = facts::kNameField - 1;

// A host that offers every service (version 10.1) with the module loaded
// and nothing activated yet.
class ModuleTest : public ::testing::Test {
 protected:
  hostsim::Host host{KERROWBEND_MODULE_PATH};
};

// The single-reference node's handler activated (item and render tables
// offered) and one node placed.
class DragNodeTest : public ModuleTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(host.activateHandler(kSingle), ACTIVATE_OK);
    node = &host.createNode(kSingle, "Kerrowbend (1)");
    ASSERT_NE(node->instance(), nullptr);
  }

  hostsim::Node *node = nullptr;
};

// Gives a multi node the stage count as a scene file would.
inline void loadCount(hostsim::Node &target, int32_t count,
                      hostsim::BlockForm form = hostsim::BlockForm::Binary) {
  ASSERT_EQ(target.load(form, facts::countData(form, count)), nullptr);
}

// The inputs of stages first..last, in the order the multi node makes them.
inline std::vector<std::string> stageInputs(int first, int last) {
  std::vector<std::string> names;
  for (int k = first; k <= last; ++k) {
    names.push_back(facts::stageReferenceInput(k));
    names.push_back(facts::stageWeightInput(k));
  }
  return names;
}

// The multi-reference node's handler activated (item and render tables
// offered) and one node placed, with its one stage.
class MultiNodeTest : public ModuleTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(host.activateHandler(kMulti), ACTIVATE_OK);
    node = &host.createNode(kMulti, "KerrowbendMulti (1)");
    ASSERT_NE(node->instance(), nullptr);
  }

  hostsim::Node *node = nullptr;
};

}  // namespace kerrowbend_test

#endif
