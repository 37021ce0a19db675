#include "tools/cli/command_line.h"

#include <charconv>
#include <cmath>
#include <iostream>
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

// The command's long options that begin as typed does, as "--a, --b or --c".
std::string optionsStartingWith(const CLI::App &command, std::string_view typed) {
  std::vector<std::string> matches;
  while (typed.starts_with('-')) typed.remove_prefix(1);
  if (typed.empty()) return {};
  for (const CLI::Option *option : command.get_options()) {
    for (const std::string &name : option->get_lnames()) {
      if (name.starts_with(typed)) matches.push_back("--" + name);
    }
  }
  std::string text;
  for (std::size_t i = 0; i < matches.size(); ++i) {
    text += (i == 0 ? "" : i + 1 == matches.size() ? " or " : ", ") + matches[i];
  }
  return text;
}

std::string strayProblem(const CLI::App &command, const std::string &word) {
  if (!word.starts_with('-') || parseNumber(word).problem == nullptr) {
    return "unexpected argument " + inQuotes(word);
  }
  const std::string name = word.substr(0, word.find('='));
  const std::string meant = optionsStartingWith(command, name);
  return "unknown option " + name + (meant.empty() ? "" : "; did you mean " + meant + "?");
}

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
  command.add_option("--time-limit", seconds, description)
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
          "SECONDS"))
      ->capture_default_str();
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
  if (!word.empty()) return reportUsage("", "unknown command " + inQuotes(word));
  return reportUsage("", parserProblem(error));
}

}  // namespace kerrowbend_host
