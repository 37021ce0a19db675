// How every command of kerrowbend-host reads its command line: numbers
// read one way everywhere, the options that any command running module
// code takes, and every problem with the command line said as one line
// that names the command and the option and points to that command's
// --help.
#ifndef KERROWBEND_TOOLS_CLI_COMMAND_LINE_H
#define KERROWBEND_TOOLS_CLI_COMMAND_LINE_H

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <CLI/CLI.hpp>

namespace kerrowbend_host {

// An option or value the user can correct.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Checks the command's line (see checkCommandLine) and runs work: gives
// its exit code, or reports what it threw as one line, a UsageError with
// a pointer to the command's --help and kExitUsage, anything else as
// reportFailure does.
int runCommand(const CLI::App &command, const std::function<int()> &work);

// A number as a user types it: a sign if wanted, digits with or without a
// point, an exponent if wanted ("+0.5", ".5", "-2e-3"). problem is null for
// a finite number, else the end of a sentence about the text ("is not a
// number", "is out of range").
inline constexpr const char *kNotANumber = "is not a number";
inline constexpr const char *kOutOfRange = "is out of range";
struct ParsedNumber {
  double value = 0.0;
  const char *problem = nullptr;
};
ParsedNumber parseNumber(std::string_view text);

// The number given to option, or a UsageError naming option, text and the
// problem.
double numberOption(std::string_view option, std::string_view text);
// The same for a whole number from min to max.
int wholeNumberOption(std::string_view option, std::string_view text, int min, int max);

// --time-limit SECONDS, default 20: how long the module's child may stay
// silent before it counts as hung.
inline constexpr double kDefaultTimeLimit = 20.0;
void addTimeLimitOption(CLI::App &command, double &seconds, const std::string &description);

// Lets the command take repeated options and stray arguments without
// stopping the parse, so that checkCommandLine can say what is wrong with
// them; call before adding the command's options.
void readLeniently(CLI::App &command);
// Throws a UsageError for the first problem with the command's line that
// the parse let through: an option whose value is missing, an unknown
// option or stray argument, an option given twice that takes one value.
void checkCommandLine(const CLI::App &command);

// The candidates a user most likely meant by typed: those that begin as
// typed does, else those nearest to it by edit distance (a letter added,
// dropped, changed or two swapped), within a distance that grows with
// typed's length; none when nothing is that near.
std::vector<std::string> nearestWords(std::string_view typed,
                                      const std::vector<std::string> &candidates);
// The words as "a, b or c".
std::string alternatives(const std::vector<std::string> &words);

// Help text for every command: lines wrapped to the terminal's width, or
// to 80 columns when standard output is no terminal, each option's
// description kept in its column. Set on the tool before its commands are
// added, so that each command inherits it.
std::shared_ptr<CLI::FormatterBase> wrappingFormatter();

// Says what is wrong with the command line as one line on stderr and gives
// the exit code for it; argv is searched for the command meant.
int reportParseError(const CLI::App &app, const CLI::ParseError &error, int argc, char **argv);

}  // namespace kerrowbend_host

#endif
