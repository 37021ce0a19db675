#include "hostsim/block_io.h"

#include <cctype>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "hostsim/block_forms.h"
#include "hostsim/call_log.h"
#include "hostsim/format.h"
#include "hostsim/host.h"

namespace hostsim {

std::string blockIdText(BlockId id) {
  std::string letters;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const auto c = static_cast<unsigned char>((id >> shift) & 0xFFu);
    if (!std::isprint(c) || c == ' ' || c == '"') return hex(id);
    letters += static_cast<char>(c);
  }
  return letters;
}

int copyStoredString(std::string_view stored, char *buffer, int max) {
  if (buffer == nullptr || max <= 0) return 0;
  const auto room = static_cast<std::size_t>(max);
  if (stored.size() < room) {
    std::memcpy(buffer, stored.data(), stored.size());
    buffer[stored.size()] = '\0';
    return static_cast<int>(stored.size() + 1);
  }
  // Cut to max bytes with no terminator, as some hosts hand it over: the
  // loader has to cope.
  std::memcpy(buffer, stored.data(), room);
  return max;
}

void writeBlockFile(const std::string &path, std::string_view data) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(data.data(), static_cast<std::streamsize>(data.size()));
  file.close();
  if (!file) throw std::runtime_error("cannot write scene data to '" + path + "'");
}

std::string readBlockFile(const std::string &path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("cannot read scene data from '" + path + "'");
  std::string data((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (file.bad()) throw std::runtime_error("cannot read scene data from '" + path + "'");
  return data;
}

// ---- writer ---------------------------------------------------------------

BlockWriter::BlockWriter(BlockForm form) : form_(form) {
  if (form == BlockForm::Binary) {
    binary_ = std::make_unique<BinaryBlockWriter>();
  } else {
    text_ = std::make_unique<TextBlockWriter>(problems_);
  }
}

BlockWriter::~BlockWriter() = default;

void BlockWriter::begin(BlockId id, std::string_view token, bool leaf) {
  if (!open_.empty() && open_.back().leaf) {
    problems_.push_back("block " + blockIdText(id) + " begun inside leaf block " +
                        blockIdText(open_.back().id));
  }
  open_.push_back(Open{id, leaf});
  if (binary_) {
    binary_->begin(id);
  } else {
    text_->begin(id, token, leaf);
  }
}

void BlockWriter::writeInts(std::span<const int32_t> values) {
  if (binary_) {
    binary_->writeInts(values);
  } else {
    text_->writeInts(values);
  }
}

void BlockWriter::writeString(std::string_view text) {
  if (binary_) {
    binary_->writeString(text);
  } else {
    text_->writeString(text);
  }
}

void BlockWriter::end() {
  if (open_.empty()) {
    problems_.push_back("endBlk with no open block");
    return;
  }
  open_.pop_back();
  if (binary_) {
    binary_->end();
  } else {
    text_->end();
  }
}

std::string BlockWriter::finish() {
  if (!open_.empty()) {
    problems_.push_back(std::to_string(open_.size()) + " block(s) left open, first " +
                        blockIdText(open_.front().id));
  }
  while (!open_.empty()) end();
  return binary_ ? binary_->take() : text_->take();
}

// ---- reader ---------------------------------------------------------------

BlockReader::BlockReader(BlockForm form, std::string data, LoadOptions options) : form_(form) {
  if (form == BlockForm::Binary) {
    binary_ = std::make_unique<BinaryBlockReader>(std::move(data), options.returnUnknownBlocks,
                                                  problems_);
  } else {
    text_ = std::make_unique<TextBlockReader>(data, options.returnUnknownBlocks, problems_);
  }
}

BlockReader::~BlockReader() = default;

BlockId BlockReader::findBlock(const BlockIdent *list) {
  return binary_ ? binary_->findBlock(list) : text_->findBlock(list);
}

int BlockReader::readInts(int32_t *values, int count) {
  if (values == nullptr || count <= 0) return 0;
  return binary_ ? binary_->readInts(values, count) : text_->readInts(values, count);
}

int BlockReader::readString(char *buffer, int max) {
  if (buffer == nullptr || max <= 0) return 0;
  return binary_ ? binary_->readString(buffer, max) : text_->readString(buffer, max);
}

void BlockReader::endBlock() {
  const bool closed = binary_ ? binary_->endBlock() : text_->endBlock();
  if (!closed) problems_.push_back("endBlk with no open block");
}

bool BlockReader::damaged() const { return binary_ ? binary_->damaged() : text_->damaged(); }

// ---- the C entry points ---------------------------------------------------

namespace {

CallLog *currentLog() {
  Host *host = Host::current();
  return host != nullptr ? &host->log() : nullptr;
}

void record(std::string_view what) {
  if (CallLog *log = currentLog()) log->record(what);
}

void saveWriteI4(void *writeData, const int32_t *values, int count) {
  record("save.writeI4");
  if (values != nullptr && count > 0) {
    static_cast<BlockWriter *>(writeData)->writeInts(
        std::span<const int32_t>(values, static_cast<std::size_t>(count)));
  }
}

void saveWriteStr(void *writeData, const char *string) {
  record("save.writeStr");
  static_cast<BlockWriter *>(writeData)->writeString(string != nullptr ? string : "");
}

void saveBeginBlk(void *writeData, const BlockIdent *block, int leaf) {
  const BlockId id = block != nullptr ? block->id : 0;
  if (CallLog *log = currentLog()) log->record("save.beginBlk", blockIdText(id), leaf);
  const char *token = block != nullptr && block->token != nullptr ? block->token : "";
  static_cast<BlockWriter *>(writeData)->begin(id, token, leaf != 0);
}

void saveEndBlk(void *writeData) {
  record("save.endBlk");
  static_cast<BlockWriter *>(writeData)->end();
}

int loadReadI4(void *readData, int32_t *values, int count) {
  record("load.readI4");
  return static_cast<BlockReader *>(readData)->readInts(values, count);
}

int loadReadStr(void *readData, char *buffer, int max) {
  if (CallLog *log = currentLog()) log->record("load.readStr", max);
  return static_cast<BlockReader *>(readData)->readString(buffer, max);
}

BlockId loadFindBlk(void *readData, const BlockIdent *list) {
  record("load.findBlk");
  return static_cast<BlockReader *>(readData)->findBlock(list);
}

void loadEndBlk(void *readData) {
  record("load.endBlk");
  static_cast<BlockReader *>(readData)->endBlock();
}

}  // namespace

SaveState BlockWriter::saveState() {
  return SaveState{static_cast<int>(form_), this,          &saveWriteI4,
                   &saveWriteStr,           &saveBeginBlk, &saveEndBlk};
}

LoadState BlockReader::loadState() {
  return LoadState{
      static_cast<int>(form_), this, &loadReadI4, &loadReadStr, &loadFindBlk, &loadEndBlk};
}

}  // namespace hostsim
