// The binary scene form: [id:4][length:4][payload], big-endian.
#include <cstring>

#include "hostsim/block_forms.h"
#include "hostsim/block_io.h"

namespace hostsim {

namespace {

void appendNumber(std::string &data, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) {
    data.push_back(static_cast<char>((value >> shift) & 0xFFu));
  }
}

}  // namespace

void BinaryBlockWriter::begin(BlockId id) {
  appendNumber(data_, id);
  lengths_.push_back(data_.size());
  appendNumber(data_, 0);  // the length, filled in by end()
}

void BinaryBlockWriter::writeInts(std::span<const int32_t> values) {
  for (int32_t value : values) appendNumber(data_, static_cast<uint32_t>(value));
}

void BinaryBlockWriter::writeString(std::string_view text) {
  // A string ends at its first zero byte, as the C string it stands for.
  data_.append(text.substr(0, text.find('\0')));
  data_.push_back('\0');
}

void BinaryBlockWriter::end() {
  const std::size_t at = lengths_.back();
  lengths_.pop_back();
  const auto length = static_cast<uint32_t>(data_.size() - (at + 4));
  for (int i = 0; i < 4; ++i) {
    data_[at + static_cast<std::size_t>(i)] = static_cast<char>((length >> (24 - 8 * i)) & 0xFFu);
  }
}

uint32_t BinaryBlockReader::number(std::size_t at) const {
  uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    value = (value << 8) | static_cast<unsigned char>(data_[at + i]);
  }
  return value;
}

BlockId BinaryBlockReader::findBlock(const BlockIdent *list) {
  while (!damaged_) {
    const std::size_t end = levelEnd();
    if (end - pos_ < 8) return 0;
    const BlockId id = number(pos_);
    const uint32_t length = number(pos_ + 4);
    if (id == 0 || length > end - pos_ - 8) {
      damaged_ = true;
      problems_.push_back("damaged block header at byte " + std::to_string(pos_) + " (id " +
                          blockIdText(id) + ", length " + std::to_string(length) + ", " +
                          std::to_string(end - pos_ - 8) + " bytes left)");
      return 0;
    }
    const std::size_t blockEnd = pos_ + 8 + length;
    bool listed = false;
    for (const BlockIdent *entry = list; entry != nullptr && entry->id != 0; ++entry) {
      if (entry->id == id) listed = true;
    }
    if (listed || returnUnknown_) {
      ends_.push_back(blockEnd);
      pos_ += 8;
      return id;
    }
    pos_ = blockEnd;
  }
  return 0;
}

int BinaryBlockReader::readInts(int32_t *values, int count) {
  int read = 0;
  while (!damaged_ && read < count && levelEnd() - pos_ >= 4) {
    values[read++] = static_cast<int32_t>(number(pos_));
    pos_ += 4;
  }
  return read;
}

int BinaryBlockReader::readString(char *buffer, int max) {
  const std::size_t end = levelEnd();
  if (damaged_ || pos_ >= end) return 0;
  const char *start = data_.data() + pos_;
  const auto *zero = static_cast<const char *>(std::memchr(start, '\0', end - pos_));
  // A string cut off by its block's end is taken as running to that end.
  const std::size_t length = zero != nullptr ? static_cast<std::size_t>(zero - start) : end - pos_;
  pos_ += length + (zero != nullptr ? 1 : 0);
  return copyStoredString(std::string_view(start, length), buffer, max);
}

bool BinaryBlockReader::endBlock() {
  if (ends_.empty()) return false;
  pos_ = ends_.back();
  ends_.pop_back();
  return true;
}

}  // namespace hostsim
