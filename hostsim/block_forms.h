// The two scene forms behind BlockWriter and BlockReader. Private to
// hostsim: BlockWriter and BlockReader check the calling protocol (which
// blocks are open, which are leaves) and hand each form only well-ordered
// calls; the forms deal with the encoding and with damaged data.
#ifndef KERROWBEND_HOSTSIM_BLOCK_FORMS_H
#define KERROWBEND_HOSTSIM_BLOCK_FORMS_H

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "host/blocks.h"

namespace hostsim {

// Copies a stored string into buffer the way readStr must: whole with its
// terminator when shorter than max, else cut to max bytes with none.
// Gives the number of bytes written.
int copyStoredString(std::string_view stored, char *buffer, int max);

class BinaryBlockWriter {
 public:
  void begin(BlockId id);
  void writeInts(std::span<const int32_t> values);
  void writeString(std::string_view text);
  void end();
  std::string take() { return std::move(data_); }

 private:
  std::string data_;
  std::vector<std::size_t> lengths_;  // offsets of the open blocks' length fields
};

class BinaryBlockReader {
 public:
  BinaryBlockReader(std::string data, bool returnUnknown, std::vector<std::string> &problems)
      : data_(std::move(data)), returnUnknown_(returnUnknown), problems_(problems) {}

  BlockId findBlock(const BlockIdent *list);
  int readInts(int32_t *values, int count);
  int readString(char *buffer, int max);
  bool endBlock();  // false when no block is open
  bool damaged() const { return damaged_; }

 private:
  std::size_t levelEnd() const { return ends_.empty() ? data_.size() : ends_.back(); }
  uint32_t number(std::size_t at) const;

  std::string data_;
  bool returnUnknown_;
  std::vector<std::string> &problems_;
  std::size_t pos_ = 0;
  std::vector<std::size_t> ends_;  // where each open block's payload ends
  bool damaged_ = false;
};

class TextBlockWriter {
 public:
  explicit TextBlockWriter(std::vector<std::string> &problems) : problems_(problems) {}

  void begin(BlockId id, std::string_view token, bool leaf);
  void writeInts(std::span<const int32_t> values);
  void writeString(std::string_view text);
  void end();
  std::string take();

 private:
  void startValue();

  std::vector<std::string> &problems_;
  std::string text_;
  std::vector<bool> leaves_;  // open blocks, innermost last
  bool lineOpen_ = false;     // a leaf's line is waiting for values or its end
};

struct TextBlock;

class TextBlockReader {
 public:
  TextBlockReader(std::string_view text, bool returnUnknown, std::vector<std::string> &problems);
  ~TextBlockReader();

  BlockId findBlock(const BlockIdent *list);
  int readInts(int32_t *values, int count);
  int readString(char *buffer, int max);
  bool endBlock();
  bool damaged() const { return damaged_; }

 private:
  struct Frame {
    const TextBlock *block;
    std::size_t next;  // index of the next unread item
  };

  bool returnUnknown_;
  std::vector<std::string> &problems_;
  std::unique_ptr<TextBlock> root_;
  std::vector<Frame> frames_;
  bool damaged_ = false;
};

}  // namespace hostsim

#endif
