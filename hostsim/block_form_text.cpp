// The text scene form: one block per line, tokens for identifiers, quoted
// strings. The reader parses the whole text into a tree first, so loading
// walks a structure that cannot run past its end.
#include <cctype>
#include <charconv>
#include <cstdio>
#include <variant>

#include "hostsim/block_forms.h"
#include "hostsim/block_io.h"

namespace hostsim {

namespace {

bool isValueStart(char c) {
  return c == '"' || c == '-' || c == '+' || std::isdigit(static_cast<unsigned char>(c));
}

bool isTokenChar(char c) {
  return !std::isspace(static_cast<unsigned char>(c)) && c != '"' && c != '{' && c != '}' &&
         c != '\0';
}

bool isWritableToken(std::string_view token) {
  if (token.empty() || isValueStart(token.front())) return false;
  for (char c : token) {
    if (!isTokenChar(c)) return false;
  }
  return true;
}

std::string quoted(std::string_view text) {
  std::string out = "\"";
  for (char c : text.substr(0, text.find('\0'))) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
          char escape[5];
          std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned char>(c));
          out += escape;
        } else {
          out += c;
        }
    }
  }
  out += '"';
  return out;
}

}  // namespace

// ---- writing --------------------------------------------------------------

void TextBlockWriter::begin(BlockId id, std::string_view token, bool leaf) {
  if (lineOpen_) {  // a block inside a leaf: the leaf's line ends here
    text_ += '\n';
    lineOpen_ = false;
  }
  std::string name(token);
  if (!isWritableToken(name)) {
    if (!token.empty()) {
      problems_.push_back("token '" + name + "' cannot stand in the text form; written as " +
                          blockIdText(id));
    }
    name = blockIdText(id);
  }
  text_.append(2 * leaves_.size(), ' ');
  if (leaf) {
    text_ += name;
    lineOpen_ = true;
  } else {
    text_ += "{ " + name + "\n";
  }
  leaves_.push_back(leaf);
}

void TextBlockWriter::startValue() {
  if (lineOpen_) {
    text_ += ' ';
  } else {
    // Values outside a leaf take a line of their own.
    text_.append(2 * leaves_.size(), ' ');
    lineOpen_ = true;
  }
}

void TextBlockWriter::writeInts(std::span<const int32_t> values) {
  if (values.empty()) return;
  for (int32_t value : values) {
    startValue();
    text_ += std::to_string(value);
  }
  if (leaves_.empty() || !leaves_.back()) {
    text_ += '\n';
    lineOpen_ = false;
  }
}

void TextBlockWriter::writeString(std::string_view text) {
  startValue();
  text_ += quoted(text);
  if (leaves_.empty() || !leaves_.back()) {
    text_ += '\n';
    lineOpen_ = false;
  }
}

void TextBlockWriter::end() {
  const bool leaf = leaves_.back();
  leaves_.pop_back();
  if (lineOpen_) {
    text_ += '\n';
    lineOpen_ = false;
  }
  if (!leaf) {
    text_.append(2 * leaves_.size(), ' ');
    text_ += "}\n";
  }
}

std::string TextBlockWriter::take() {
  if (lineOpen_) text_ += '\n';
  lineOpen_ = false;
  return std::move(text_);
}

// ---- reading --------------------------------------------------------------

struct TextBlock {
  std::string token;
  // Values and sub-blocks in the order written.
  std::vector<std::variant<int32_t, std::string, std::unique_ptr<TextBlock>>> items;
};

namespace {

// Reads one line's values (and a leaf's token) from a line of text.
class LineParser {
 public:
  explicit LineParser(std::string_view line) : line_(line) {}

  void skipSpace() {
    while (at_ < line_.size() && std::isspace(static_cast<unsigned char>(line_[at_]))) ++at_;
  }
  bool done() {
    skipSpace();
    return at_ == line_.size();
  }
  char peek() const { return line_[at_]; }

  std::string_view token() {
    skipSpace();
    const std::size_t start = at_;
    while (at_ < line_.size() && isTokenChar(line_[at_])) ++at_;
    return line_.substr(start, at_ - start);
  }

  // Appends the line's remaining values to items; false when one is bad.
  template <class Items>
  bool values(Items &items) {
    while (!done()) {
      if (peek() == '"') {
        std::string text;
        if (!string(text)) return false;
        items.emplace_back(std::move(text));
      } else {
        int32_t number = 0;
        if (!integer(number)) return false;
        items.emplace_back(number);
      }
    }
    return true;
  }

 private:
  bool string(std::string &out) {
    ++at_;  // the opening quote
    while (at_ < line_.size()) {
      const char c = line_[at_++];
      if (c == '"') return true;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (at_ == line_.size()) return false;
      const char e = line_[at_++];
      switch (e) {
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case '"':
        case '\\':
          out += e;
          break;
        case 'x': {
          unsigned value = 0;
          if (line_.size() - at_ < 2) return false;
          const auto [end, error] =
              std::from_chars(line_.data() + at_, line_.data() + at_ + 2, value, 16);
          if (error != std::errc() || end != line_.data() + at_ + 2) return false;
          out += static_cast<char>(value);
          at_ += 2;
          break;
        }
        default:
          return false;
      }
    }
    return false;  // the line ended inside the quotes
  }

  bool integer(int32_t &out) {
    const char *start = line_.data() + at_;
    const char *stop = line_.data() + line_.size();
    if (*start == '+') ++start;
    const auto [end, error] = std::from_chars(start, stop, out);
    if (error != std::errc() || (end != stop && isTokenChar(*end))) return false;
    at_ = static_cast<std::size_t>(end - line_.data());
    return true;
  }

  std::string_view line_;
  std::size_t at_ = 0;
};

}  // namespace

TextBlockReader::TextBlockReader(std::string_view text, bool returnUnknown,
                                 std::vector<std::string> &problems)
    : returnUnknown_(returnUnknown), problems_(problems), root_(std::make_unique<TextBlock>()) {
  std::vector<TextBlock *> open{root_.get()};
  int lineNumber = 0;
  auto fail = [&](const std::string &why) {
    damaged_ = true;
    problems_.push_back("damaged text at line " + std::to_string(lineNumber) + ": " + why);
  };

  while (!text.empty() && !damaged_) {
    const std::size_t newline = text.find('\n');
    const std::string_view line = text.substr(0, newline);
    text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
    ++lineNumber;

    LineParser parser(line);
    if (parser.done()) continue;
    TextBlock *current = open.back();
    const char first = parser.peek();
    if (first == '}') {
      LineParser rest(line.substr(line.find('}') + 1));
      if (open.size() == 1) {
        fail("'}' closes no block");
      } else if (!rest.done()) {
        fail("text after '}'");
      } else {
        open.pop_back();
      }
    } else if (first == '{') {
      LineParser rest(line.substr(line.find('{') + 1));
      auto block = std::make_unique<TextBlock>();
      block->token = std::string(rest.token());
      if (block->token.empty() || !rest.done()) {
        fail("'{' needs one token and nothing after it");
      } else {
        open.push_back(block.get());
        current->items.emplace_back(std::move(block));
      }
    } else if (isValueStart(first)) {
      // Parse into a scratch list so a bad line adds nothing.
      std::vector<std::variant<int32_t, std::string, std::unique_ptr<TextBlock>>> items;
      if (!parser.values(items)) {
        fail("bad value");
      } else {
        for (auto &item : items) current->items.push_back(std::move(item));
      }
    } else {
      auto block = std::make_unique<TextBlock>();
      block->token = std::string(parser.token());
      if (block->token.empty() || !parser.values(block->items)) {
        fail("bad leaf block");
      } else {
        current->items.emplace_back(std::move(block));
      }
    }
  }
  if (!damaged_ && open.size() > 1) {
    // Everything is there; only the closing lines are missing.
    damaged_ = true;
    problems_.push_back("damaged text: " + std::to_string(open.size() - 1) +
                        " block(s) not closed at the end");
  }
  frames_.push_back(Frame{root_.get(), 0});
}

TextBlockReader::~TextBlockReader() = default;

BlockId TextBlockReader::findBlock(const BlockIdent *list) {
  Frame &frame = frames_.back();
  while (frame.next < frame.block->items.size()) {
    const auto *child = std::get_if<std::unique_ptr<TextBlock>>(&frame.block->items[frame.next++]);
    if (child == nullptr) continue;  // a value the loader did not read
    const std::string &token = (*child)->token;
    BlockId id = 0;
    for (const BlockIdent *entry = list; entry != nullptr && entry->id != 0; ++entry) {
      if (entry->token != nullptr && token == entry->token) {
        id = entry->id;
        break;
      }
    }
    for (const BlockIdent *entry = list; id == 0 && entry != nullptr && entry->id != 0; ++entry) {
      if (token == blockIdText(entry->id)) id = entry->id;
    }
    if (id == 0 && returnUnknown_) {
      const std::string padded = (token + "    ").substr(0, 4);
      for (char c : padded) id = (id << 8) | static_cast<unsigned char>(c);
    }
    if (id != 0) {
      frames_.push_back(Frame{child->get(), 0});
      return id;
    }
  }
  return 0;
}

int TextBlockReader::readInts(int32_t *values, int count) {
  Frame &frame = frames_.back();
  int read = 0;
  while (read < count && frame.next < frame.block->items.size()) {
    const auto *number = std::get_if<int32_t>(&frame.block->items[frame.next]);
    if (number == nullptr) break;
    values[read++] = *number;
    ++frame.next;
  }
  return read;
}

int TextBlockReader::readString(char *buffer, int max) {
  Frame &frame = frames_.back();
  if (frame.next >= frame.block->items.size()) return 0;
  const auto *text = std::get_if<std::string>(&frame.block->items[frame.next]);
  if (text == nullptr) return 0;
  ++frame.next;
  return copyStoredString(*text, buffer, max);
}

bool TextBlockReader::endBlock() {
  if (frames_.size() == 1) return false;
  frames_.pop_back();
  return true;
}

}  // namespace hostsim
