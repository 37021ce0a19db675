#include "tools/cli/command_line.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <system_error>
#include <vector>

#include "tools/cli/commands.h"

namespace kerrowbend_host {

namespace {

// A day: far beyond any run, and still a deadline the clock can hold.
constexpr double kMaxTimeLimit = 86400.0;

std::string inQuotes(std::string_view text) { return "'" + std::string(text) + "'"; }

int reportUsage(const std::string &command, const std::string &problem) {
  const std::string who = command.empty() ? "kerrowbend-host" : "kerrowbend-host " + command;
  std::cerr << who << ": " << problem << " (see " << who << " --help)\n";
  return kExitUsage;
}

// A value that is itself an option: the one before it was left without
// its value and took the next word instead.
bool looksLikeOption(const std::string &value) { return value.starts_with("--"); }

// How many letters must be added, dropped, changed or swapped with their
// neighbour to make a into b.
std::size_t editDistance(std::string_view a, std::string_view b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t changed = d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1);
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, changed});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[a.size()][b.size()];
}

std::string withoutDashes(std::string_view word) {
  while (word.starts_with('-')) word.remove_prefix(1);
  return std::string(word.substr(0, word.find('=')));
}

// The words an option's value may be, when its type name lists them
// ("single|multi"); none for a free value.
std::vector<std::string> choicesOf(const CLI::Option &option) {
  std::vector<std::string> choices;
  std::istringstream names(option.get_type_name());
  for (std::string choice; std::getline(names, choice, '|');) {
    if (choice.empty() || !std::all_of(choice.begin(), choice.end(), ::isalpha)) return {};
    choices.push_back(choice);
  }
  return choices.size() > 1 ? choices : std::vector<std::string>{};
}

// "--show normals" when word, without its dashes, is a value of one of the
// command's options; else "".
std::string optionTaking(const CLI::App &command, std::string_view word) {
  const std::string typed = withoutDashes(word);
  for (const CLI::Option *option : command.get_options()) {
    const std::vector<std::string> choices = choicesOf(*option);
    if (std::find(choices.begin(), choices.end(), typed) != choices.end()) {
      return option->get_name() + ' ' + typed;
    }
  }
  return {};
}

std::string strayProblem(const CLI::App &command, const std::string &word) {
  const std::string valueOf = optionTaking(command, word);
  if (!word.starts_with('-') || parseNumber(word).problem == nullptr) {
    return "unexpected argument " + inQuotes(word) +
           (valueOf.empty() ? "" : "; did you mean " + valueOf + "?");
  }
  const std::string name = word.substr(0, word.find('='));
  if (!valueOf.empty()) return "unknown option " + name + "; did you mean " + valueOf + "?";
  std::vector<std::string> names;
  for (const CLI::Option *option : command.get_options()) {
    for (const std::string &longName : option->get_lnames()) names.push_back(longName);
  }
  std::vector<std::string> meant = nearestWords(withoutDashes(name), names);
  for (std::string &option : meant) option.insert(0, "--");
  return "unknown option " + name +
         (meant.empty() ? "" : "; did you mean " + alternatives(meant) + "?");
}

int terminalColumns() {
  winsize size{};
  if (::isatty(STDOUT_FILENO) != 0 && ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 &&
      size.ws_col > 0) {
    return size.ws_col;
  }
  return 80;
}

// Where a help line's text continues when it is wrapped: under an
// option's description, which follows its name after two spaces or more,
// or else under the line's first letter.
std::size_t continuationIndent(const std::string &line) {
  const std::size_t text = line.find_first_not_of(' ');
  if (text == std::string::npos) return 0;
  const std::size_t gap = line.find("  ", text);
  if (gap != std::string::npos) {
    const std::size_t description = line.find_first_not_of(' ', gap);
    if (description != std::string::npos) return description;
  }
  return text;
}

std::string wrapped(const std::string &help, std::size_t width) {
  std::istringstream in(help);
  std::string out;
  for (std::string line; std::getline(in, line);) {
    const std::size_t indent = continuationIndent(line);
    // An indent that leaves too little room wraps under the first letter.
    const std::size_t under = indent + 20 > width ? line.find_first_not_of(' ') : indent;
    while (line.size() > width) {
      const std::size_t space = line.rfind(' ', width);
      if (space == std::string::npos || space <= under) break;
      out += line.substr(0, space) + '\n';
      const std::size_t rest = line.find_first_not_of(' ', space);
      line = std::string(under, ' ') + (rest == std::string::npos ? "" : line.substr(rest));
    }
    out += line + '\n';
  }
  return out;
}

class WrappingFormatter : public CLI::Formatter {
 public:
  std::string make_help(const CLI::App *app, std::string name,
                        CLI::AppFormatMode mode) const override {
    return wrapped(CLI::Formatter::make_help(app, std::move(name), mode),
                   static_cast<std::size_t>(terminalColumns()));
  }
};

// CLI11's own sentence for a problem checkCommandLine cannot see, in the
// same words where there is a match.
std::string parserProblem(const CLI::ParseError &error) {
  std::string what = error.what();
  const std::size_t colon = what.find(": ");
  if (dynamic_cast<const CLI::ArgumentMismatch *>(&error) != nullptr &&
      colon != std::string::npos && what.ends_with(" missing")) {
    return what.substr(0, colon) + " needs a value";
  }
  return what;
}

// The command the user meant: the first word that is no option.
const CLI::App *commandIn(const CLI::App &app, int argc, char **argv, std::string &word) {
  for (int i = 1; i < argc; ++i) {
    if (argv[i][0] == '-') continue;
    word = argv[i];
    const auto named = app.get_subcommands(
        [&word](const CLI::App *command) { return command->get_name() == word; });
    return named.empty() ? nullptr : named.front();
  }
  return nullptr;
}

}  // namespace

std::vector<std::string> nearestWords(std::string_view typed,
                                      const std::vector<std::string> &candidates) {
  std::vector<std::string> starting;
  for (const std::string &candidate : candidates) {
    if (!typed.empty() && candidate.starts_with(typed) && candidate != typed) {
      starting.push_back(candidate);
    }
  }
  if (!starting.empty()) return starting;
  // One slip in a short word, two in a longer one; more would suggest
  // words that merely share letters.
  const std::size_t allowed = typed.size() <= 3 ? 1 : 2;
  std::size_t best = allowed + 1;
  std::vector<std::string> nearest;
  for (const std::string &candidate : candidates) {
    const std::size_t distance = editDistance(typed, candidate);
    if (distance > allowed) continue;
    if (distance < best) {
      best = distance;
      nearest.clear();
    }
    if (distance == best) nearest.push_back(candidate);
  }
  return nearest;
}

std::string alternatives(const std::vector<std::string> &words) {
  std::string text;
  for (std::size_t i = 0; i < words.size(); ++i) {
    text += (i == 0 ? "" : i + 1 == words.size() ? " or " : ", ") + words[i];
  }
  return text;
}

std::shared_ptr<CLI::FormatterBase> wrappingFormatter() {
  auto formatter = std::make_shared<WrappingFormatter>();
  formatter->column_width(28);
  return formatter;
}

ParsedNumber parseNumber(std::string_view text) {
  std::string_view digits = text;
  // from_chars takes a minus sign but not a plus.
  if (digits.starts_with('+')) digits.remove_prefix(1);
  if (digits.empty() || (digits.size() < text.size() && digits[0] == '-')) {
    return {0.0, kNotANumber};
  }
  double value = 0.0;
  const char *end = digits.data() + digits.size();
  const auto [stop, error] = std::from_chars(digits.data(), end, value);
  if (error == std::errc::result_out_of_range && stop == end) return {0.0, kOutOfRange};
  if (error != std::errc() || stop != end) return {0.0, kNotANumber};
  if (!std::isfinite(value)) return {0.0, "is not a finite number"};
  return {value, nullptr};
}

double numberOption(std::string_view option, std::string_view text) {
  const ParsedNumber number = parseNumber(text);
  if (number.problem != nullptr) {
    throw UsageError(std::string(option) + ": " + inQuotes(text) + ' ' + number.problem);
  }
  return number.value;
}

int wholeNumberOption(std::string_view option, std::string_view text, int min, int max) {
  const ParsedNumber number = parseNumber(text);
  const std::string said = std::string(option) + ": " + inQuotes(text) + ' ';
  if (number.problem != nullptr && number.problem != kOutOfRange) {
    throw UsageError(said + number.problem);
  }
  if (number.problem == nullptr && number.value != std::floor(number.value)) {
    throw UsageError(said + "is not a whole number");
  }
  if (number.problem != nullptr || number.value < min || number.value > max) {
    throw UsageError(said + kOutOfRange + ": " + std::to_string(min) + " to " +
                     std::to_string(max));
  }
  return static_cast<int>(number.value);
}

void addTimeLimitOption(CLI::App &command, double &seconds, const std::string &description) {
  char range[64];
  std::snprintf(range, sizeof range, ", above 0 and at most %g (default %g)", kMaxTimeLimit,
                kDefaultTimeLimit);
  command.add_option("--time-limit", seconds, description + range)
      ->check(CLI::Validator(
          [](std::string &text) {
            const ParsedNumber number = parseNumber(text);
            if (number.problem != nullptr && number.problem != kOutOfRange) {
              return inQuotes(text) + ' ' + number.problem;
            }
            if (number.problem != nullptr || number.value <= 0 || number.value > kMaxTimeLimit) {
              char limit[32];
              std::snprintf(limit, sizeof limit, "%g", kMaxTimeLimit);
              return inQuotes(text) + ' ' + kOutOfRange + ": above 0 and at most " + limit;
            }
            return std::string();
          },
          ""))
      ->type_name("SECONDS");
}

void readLeniently(CLI::App &command) {
  command.allow_extras();
  command.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

void checkCommandLine(const CLI::App &command) {
  for (const CLI::Option *option : command.get_options()) {
    for (const std::string &value : option->results()) {
      if (value.empty() || looksLikeOption(value)) {
        throw UsageError(option->get_name() + " needs a value");
      }
    }
  }
  const std::vector<std::string> stray = command.remaining();
  if (!stray.empty()) throw UsageError(strayProblem(command, stray.front()));
  for (const CLI::Option *option : command.get_options()) {
    if (option->count() > 1 &&
        option->get_multi_option_policy() != CLI::MultiOptionPolicy::TakeAll) {
      throw UsageError(option->get_name() + " is given more than once");
    }
  }
}

int runCommand(const CLI::App &command, const std::function<int()> &work) {
  try {
    checkCommandLine(command);
    return work();
  } catch (const UsageError &problem) {
    return reportUsage(command.get_name(), problem.what());
  } catch (const std::exception &failure) {
    return reportFailure(command.get_name(), failure);
  }
}

int reportParseError(const CLI::App &app, const CLI::ParseError &error, int argc, char **argv) {
  std::string word;
  const CLI::App *command = commandIn(app, argc, argv, word);
  if (command != nullptr) {
    try {
      checkCommandLine(*command);
    } catch (const UsageError &problem) {
      return reportUsage(command->get_name(), problem.what());
    }
    return reportUsage(command->get_name(), parserProblem(error));
  }
  if (argc > 1 && argv[1][0] == '-') return reportUsage("", strayProblem(app, argv[1]));
  if (!word.empty()) {
    std::vector<std::string> commands;
    for (const CLI::App *command : app.get_subcommands([](const CLI::App *) { return true; })) {
      commands.push_back(command->get_name());
    }
    const std::vector<std::string> meant = nearestWords(word, commands);
    return reportUsage("",
                       "unknown command " + inQuotes(word) +
                           (meant.empty() ? "" : "; did you mean " + alternatives(meant) + "?"));
  }
  return reportUsage("", parserProblem(error));
}

}  // namespace kerrowbend_host
