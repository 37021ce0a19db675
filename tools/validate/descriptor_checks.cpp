// The descriptor/* checks: the module's server list and each server's
// tags, as a host reads them at load.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "tools/validate/groups.h"
#include "tools/validate/support.h"

namespace kerrowbend_host {

namespace {

std::string serverName(const ServerRecord &server) {
  return std::string(server.className != nullptr ? server.className : "(null)") + " " +
         (server.name != nullptr ? shown(server.name) : "(null)");
}

}  // namespace

void checkServers(const std::string &modulePath) {
  const auto host = openHost(modulePath);
  const auto &servers = host->module().servers();
  std::vector<std::string> listed;
  listed.reserve(servers.size());
  for (const ServerRecord *server : servers) listed.push_back(serverName(*server));
  for (const char *node : kNodes) {
    for (const char *kind : {SERVER_CLASS_NODE_HANDLER, SERVER_CLASS_NODE_INTERFACE}) {
      const auto count = std::count_if(servers.begin(), servers.end(), [&](const auto *server) {
        return server->className != nullptr && server->name != nullptr &&
               std::strcmp(server->className, kind) == 0 && std::strcmp(server->name, node) == 0;
      });
      if (count != 1) {
        fail("expected one " + std::string(kind) + " server " + shown(node) +
             ", but the server list holds " + std::to_string(count) + ": " + joined(listed));
      }
    }
  }
  if (servers.size() != 2 * kNodes.size()) {
    fail(
        "expected the server list to hold a handler and an interface for each of the two "
        "nodes and nothing else, but it holds " +
        joined(listed));
  }
  for (const ServerRecord *server : servers) {
    if (server->activate == nullptr) {
      fail("expected every server to have an activate routine, but " + serverName(*server) +
           " has none");
    }
  }
}

void checkTags(const std::string &modulePath) {
  const auto host = openHost(modulePath);
  for (const ServerRecord *server : host->module().servers()) {
    if (server->name == nullptr) continue;  // descriptor/servers reports it
    const std::vector<std::pair<std::string, uint32_t>> expected = {
        {server->name, SERVER_TAG_DISPLAY_NAME}, {"/Tools", SERVER_TAG_NODE_GROUP}};
    std::vector<std::pair<std::string, uint32_t>> tags;
    std::string listed;
    for (const ServerTagInfo *tag = server->tagInfo;
         tag != nullptr && (tag->string != nullptr || tag->tag != 0); ++tag) {
      tags.emplace_back(tag->string != nullptr ? tag->string : "(null)", tag->tag);
      listed += (listed.empty() ? "" : ", ") + shown(tags.back().first) + " " + hex(tag->tag);
    }
    if (tags != expected) {
      fail("expected " + serverName(*server) + " to carry the tags " + shown(server->name) + " " +
           hex(SERVER_TAG_DISPLAY_NAME) + ", \"/Tools\" " + hex(SERVER_TAG_NODE_GROUP) +
           ", but it carries " + (listed.empty() ? "none" : listed));
    }
  }
}

}  // namespace kerrowbend_host
