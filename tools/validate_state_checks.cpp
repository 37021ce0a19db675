// The state/* checks: a node's save loaded into a fresh node saves the same
// bytes in both forms, damaged data leaves a node that still saves and
// reloads to the same, and names longer than their field load cut or
// refused.
#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "tools/validate_check_groups.h"
#include "tools/validate_support.h"

namespace kerrowbend_host {

using hostsim::LoadOptions;
using hostsim::facts::kCountBlock;
using hostsim::facts::kInvertBlock;
using hostsim::facts::kObjectBlock;
using hostsim::facts::kWeightMapBlock;

namespace {

// Both ways a host may treat blocks a loader did not ask for.
constexpr std::array<LoadOptions, 2> kHostKinds = {LoadOptions{false}, LoadOptions{true}};

void loadChecked(Node &node, BlockForm form, const std::string &data, const LoadOptions &options) {
  hostsim::LoadReport report;
  const Error error = node.load(form, data, options, &report);
  if (error != nullptr) {
    fail(node.server() + ": expected loading its own " + formName(form) +
         " save to report no error, but it reported " + shown(error));
  }
  if (!report.problems.empty()) {
    fail(node.server() + ": expected loading its own " + formName(form) +
         " save to follow the block protocol, but the host met: " + report.problems.front());
  }
}

void checkSaveLoadSave(const std::string &modulePath, BlockForm form) {
  for (const char *server : kNodes) {
    for (const bool changed : {false, true}) {
      for (const LoadOptions &options : kHostKinds) {
        const std::string name =
            std::string(server) + (changed ? " (settings changed in its panel)" : " (as created)");
        const auto host = openHost(modulePath);
        Node &first = placeNode(*host, server);
        if (changed) configure(first, openPanel(*host, first));
        const std::string saved = saveChecked(first, form);
        Node &fresh = placeNode(*host, server);
        loadChecked(fresh, form, saved, options);
        const std::string again = saveChecked(fresh, form);
        if (again != saved) {
          fail(name + ": expected a fresh instance loaded from its " + formName(form) +
               " save to save the same bytes, but " + firstDifference(saved, again));
        }
        if (changed && std::string(server) == kMulti) {
          failOnProblem(name + ": after loading a count of 3, ", stageProblem(fresh, 3));
        }
      }
    }
  }
}

}  // namespace

void checkSaveLoadSaveBinary(const std::string &modulePath) {
  checkSaveLoadSave(modulePath, BlockForm::Binary);
}

void checkSaveLoadSaveText(const std::string &modulePath) {
  checkSaveLoadSave(modulePath, BlockForm::Text);
}

namespace {

// The blocks a node keeps, to aim damaged data at its loader.
struct KnownBlock {
  BlockId id;
  const char *token;
  bool integer;  // one 32-bit integer; else a string
};

std::vector<KnownBlock> knownBlocks(const std::string &server) {
  if (server == kSingle) {
    return {{kObjectBlock.id, kObjectBlock.token, false},
            {kInvertBlock.id, kInvertBlock.token, true},
            {kWeightMapBlock.id, kWeightMapBlock.token, false}};
  }
  return {{kCountBlock.id, kCountBlock.token, true}};
}

// Integers a damaged file may hold. The stage count has no bound, so a
// large positive one would only measure how long the node takes to make
// that many stages; the damage lies elsewhere.
constexpr std::array<int32_t, 7> kSmallIntegers = {0, 1, -1, 2, 7, -7, INT32_MIN};

void appendBigEndian(std::string &out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((value >> shift) & 0xFF);
}

// Binary data built like blocks but with lengths, payloads and
// identifiers gone wrong.
std::string randomBinaryBlocks(std::mt19937 &random, const std::vector<KnownBlock> &known) {
  std::string out;
  const int blocks = static_cast<int>(random() % 4) + 1;
  for (int b = 0; b < blocks; ++b) {
    const bool aimed = random() % 4 != 0;
    const KnownBlock &block = known[random() % known.size()];
    appendBigEndian(out, aimed ? block.id : static_cast<uint32_t>(random()));
    std::string payload;
    if (aimed && block.integer) {
      for (int i = static_cast<int>(random() % 3); i > 0; --i) {
        appendBigEndian(payload,
                        static_cast<uint32_t>(kSmallIntegers[random() % kSmallIntegers.size()]));
      }
      if (!payload.empty() && random() % 3 == 0) payload.resize(payload.size() - 1 - random() % 3);
    } else {
      payload.resize(random() % 48);
      for (char &c : payload) c = static_cast<char>(random() % 3 == 0 ? 0 : random());
    }
    const uint32_t length = static_cast<uint32_t>(payload.size());
    // Only the last block's length may overreach: an earlier one would take
    // in the next block's header, whose bytes read as an integer are no
    // small number.
    const bool last = b + 1 == blocks;
    switch (random() % 5) {
      case 0:
        appendBigEndian(out, last ? length + 1 + random() % 64 : length);  // runs past the data
        break;
      case 1:
        appendBigEndian(out, last ? 0xFFFFFFF0u : length);
        break;
      default:
        appendBigEndian(out, length);
    }
    out += payload;
  }
  if (random() % 3 == 0) out.resize(random() % (out.size() + 1));
  return out;
}

// Text made of the form's own pieces, in an order no writer produces.
std::string randomTextBlocks(std::mt19937 &random, const std::vector<KnownBlock> &known) {
  static const char *const kPieces[] = {"{",  "}",    "\"",       "\"name\"", "\"cut",
                                        "\\", "\\x4", "Unknown",  "\n",       "\n",
                                        " ",  "\t",   "\"\\\"\"", "\r"};
  std::string out;
  const int pieces = static_cast<int>(random() % 24) + 1;
  for (int i = 0; i < pieces; ++i) {
    switch (random() % 4) {
      case 0:
        out += known[random() % known.size()].token;
        break;
      case 1:
        out += std::to_string(kSmallIntegers[random() % kSmallIntegers.size()]);
        break;
      default:
        out += kPieces[random() % std::size(kPieces)];
    }
    out += random() % 2 == 0 ? " " : "\n";
  }
  return out;
}

// Blocks the node knows, holding the wrong thing: nothing, the other kind
// of value, a block inside them. In the binary form the header of a block
// inside an integer block would read as that integer, a number far beyond
// the small ones damaged data is given here (see kSmallIntegers).
std::vector<std::string> misfilledBlocks(const std::vector<KnownBlock> &known, BlockForm form) {
  std::vector<std::string> cases;
  for (const KnownBlock &block : known) {
    const int variants = block.integer && form == BlockForm::Binary ? 2 : 3;
    for (int variant = 0; variant < variants; ++variant) {
      hostsim::BlockWriter writer(form);
      writer.begin(block.id, block.token, variant != 2);
      if (variant == 1) {
        if (block.integer) {
          // Too short to be read as an integer in the binary form, where
          // any four bytes would be one.
          writer.writeString("no");
        } else {
          writer.writeInt(7);
        }
      } else if (variant == 2) {
        writer.begin(block.id, block.token);
        writer.writeInt(1);
        writer.end();
      }
      writer.end();
      cases.push_back(writer.finish());
    }
  }
  if (form == BlockForm::Binary) {
    // A string block whose string never ends.
    for (const KnownBlock &block : known) {
      if (block.integer) continue;
      std::string data;
      appendBigEndian(data, block.id);
      appendBigEndian(data, 8);
      data += "unending";
      cases.push_back(data);
    }
  }
  return cases;
}

}  // namespace

void checkDamagedLoads(const std::string &modulePath) {
  constexpr int kRandomCases = 200;
  for (const char *server : kNodes) {
    const std::vector<KnownBlock> known = knownBlocks(server);
    for (const BlockForm form : kForms) {
      const auto host = openHost(modulePath);
      std::string valid;
      {
        Node &source = placeNode(*host, server);
        configure(source, openPanel(*host, source));
        valid = saveChecked(source, form);
        source.destroy();
      }
      std::vector<std::string> cases = {""};
      for (std::size_t cut = 1; cut < valid.size(); ++cut) cases.push_back(valid.substr(0, cut));
      for (const std::string &misfilled : misfilledBlocks(known, form)) cases.push_back(misfilled);
      std::mt19937 random(20240611);
      for (int i = 0; i < kRandomCases; ++i) {
        cases.push_back(form == BlockForm::Binary ? randomBinaryBlocks(random, known)
                                                  : randomTextBlocks(random, known));
        std::string bytes(random() % 40, '\0');
        for (char &c : bytes) c = static_cast<char>(random());
        cases.push_back(bytes);
      }
      for (const std::string &data : cases) {
        for (const LoadOptions &options : kHostKinds) {
          const std::string which =
              std::string(server) + ", " + formName(form) + " data " + shown(data, 32);
          Node &damaged = placeNode(*host, server);
          damaged.load(form, data, options);
          // What survived must still be the node's own: it saves, and the
          // save reloads to the same.
          const std::string saved = saveChecked(damaged, form);
          Node &reloaded = placeNode(*host, server);
          reloaded.load(form, saved, options);
          const std::string again = saveChecked(reloaded, form);
          if (again != saved) {
            fail(which + ": expected what a damaged load left to save and reload unchanged, " +
                 "but " + firstDifference(saved, again));
          }
          damaged.destroy();
          reloaded.destroy();
        }
      }
    }
  }
}

void checkLoadedLongNames(const std::string &modulePath) {
  for (const BlockForm form : kForms) {
    for (const std::size_t length : kLongNames) {
      const std::string name = patternName(length);
      const std::string who = std::string(kSingle) + ", " + formName(form) +
                              " data with names of " + std::to_string(length) + " characters";
      hostsim::BlockWriter writer(form);
      writer.begin(kObjectBlock.id, kObjectBlock.token);
      writer.writeString(name);
      writer.end();
      writer.begin(kInvertBlock.id, kInvertBlock.token);
      writer.writeInt(1);
      writer.end();
      writer.begin(kWeightMapBlock.id, kWeightMapBlock.token);
      writer.writeString(name);
      writer.end();
      const auto host = openHost(modulePath);
      Node &node = placeNode(*host, kSingle);
      node.load(form, writer.finish());
      const PanelRecord &panel = openPanel(*host, node);
      for (const uint32_t vid : {kReferenceObjectId, kWeightMapId}) {
        expectFitted(readName(panel, vid, who), name, "", who);
      }
    }
  }
}

}  // namespace kerrowbend_host
