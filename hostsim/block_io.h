// Scene data blocks: the LoadState and SaveState a node's load and save
// callbacks receive, in the host's two scene forms.
//
// Binary form (ioMode 0): each block is its 4-byte identifier, a 4-byte
// payload length and the payload; sub-blocks sit inside their parent's
// payload. Integers are 4 bytes and every multi-byte number is big-endian;
// a string is its bytes and a terminating zero.
//
// Text form (ioMode 1), one block per line, indented by depth:
//
//     Object "Cube"          a leaf block: its token, then its values
//     Invert 1
//     { Group                a block holding blocks
//       Count 2
//       7 "loose value"      values written outside any leaf
//     }
//
// Strings are double-quoted with the escapes \" \\ \n \r \t and \xHH for
// other control bytes. A reader maps tokens to identifiers through the list
// handed to findBlk; a token that matches no entry's token but spells an
// entry's four letters maps to that entry too.
//
// Both readers treat damaged data (a length running past its parent, an
// unterminated quote, a stray "}") as the end of the data: from there on
// findBlk answers 0 and reads give nothing. They never read outside the
// data they were given.
#ifndef KERROWBEND_HOSTSIM_BLOCK_IO_H
#define KERROWBEND_HOSTSIM_BLOCK_IO_H

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "host/blocks.h"

namespace hostsim {

enum class BlockForm { Binary = 0, Text = 1 };

// The identifier spelled by four letters: blockId("ROBJ") == 0x524F424A.
constexpr BlockId blockId(const char (&letters)[5]) {
  return (BlockId{static_cast<unsigned char>(letters[0])} << 24) |
         (BlockId{static_cast<unsigned char>(letters[1])} << 16) |
         (BlockId{static_cast<unsigned char>(letters[2])} << 8) |
         BlockId{static_cast<unsigned char>(letters[3])};
}

// "ROBJ" for 0x524F424A; "0x........" when a byte is not a printable letter.
std::string blockIdText(BlockId id);

// Scene data to and from a file, byte for byte. Throw std::runtime_error
// when the file cannot be written or read.
void writeBlockFile(const std::string &path, std::string_view data);
std::string readBlockFile(const std::string &path);

struct LoadOptions {
  // findBlk skips blocks whose identifiers are not in the list it is given
  // (as some hosts do); set to hand them to the loader instead (as others
  // do). A text-form token that maps to no identifier is then returned as
  // the identifier spelled by its first four characters, space-padded.
  bool returnUnknownBlocks = false;
};

class BinaryBlockWriter;
class TextBlockWriter;
class BinaryBlockReader;
class TextBlockReader;

// Builds scene data: for a node's save callback through saveState(), or by
// hand in a test, to feed a loader blocks in any order, unknown blocks or
// overlong strings.
class BlockWriter {
 public:
  explicit BlockWriter(BlockForm form);
  ~BlockWriter();
  BlockWriter(const BlockWriter &) = delete;
  BlockWriter &operator=(const BlockWriter &) = delete;

  BlockForm form() const { return form_; }

  // An empty token is written as the identifier's four letters.
  void begin(BlockId id, std::string_view token, bool leaf = true);
  void writeInt(int32_t value) { writeInts(std::span<const int32_t>(&value, 1)); }
  void writeInts(std::span<const int32_t> values);
  void writeString(std::string_view text);
  void end();

  // Closes any block still open and gives the data.
  std::string finish();

  // What the writer's user did wrong, in order: an end with no open block,
  // a block begun inside a leaf, blocks left open at finish.
  const std::vector<std::string> &problems() const { return problems_; }

  // A SaveState whose calls write here and are logged to the current host.
  // Valid while the writer lives.
  SaveState saveState();

 private:
  BlockForm form_;
  std::unique_ptr<BinaryBlockWriter> binary_;
  std::unique_ptr<TextBlockWriter> text_;
  std::vector<std::string> problems_;
  struct Open {
    BlockId id;
    bool leaf;
  };
  std::vector<Open> open_;
};

// Reads scene data for a node's load callback through loadState(); a test
// may also call the readers directly.
class BlockReader {
 public:
  BlockReader(BlockForm form, std::string data, LoadOptions options = {});
  ~BlockReader();
  BlockReader(const BlockReader &) = delete;
  BlockReader &operator=(const BlockReader &) = delete;

  BlockForm form() const { return form_; }

  // The identifier of the next block at this level (entering it), or 0.
  BlockId findBlock(const BlockIdent *list);
  // Reads up to count integers of the current block; gives how many.
  int readInts(int32_t *values, int count);
  // Writes at most max bytes of the next string: the string and its
  // terminator when it is shorter than max, else its first max bytes with
  // no terminator. Gives the number of bytes written; 0 and nothing written
  // when no string is left. The whole stored string is consumed either way.
  int readString(char *buffer, int max);
  // Leaves the block findBlock entered, skipping what was not read.
  void endBlock();

  // True once damaged data has been met.
  bool damaged() const;
  // What the reader's user did wrong or met: an endBlk with no open block,
  // damaged data.
  const std::vector<std::string> &problems() const { return problems_; }

  // A LoadState whose calls read here and are logged to the current host.
  // Valid while the reader lives.
  LoadState loadState();

 private:
  BlockForm form_;
  std::unique_ptr<BinaryBlockReader> binary_;
  std::unique_ptr<TextBlockReader> text_;
  std::vector<std::string> problems_;
};

}  // namespace hostsim

#endif
