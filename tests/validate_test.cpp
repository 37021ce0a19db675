// kerrowbend-host run as a user runs it. validate passes every check on the
// built module, and on modules broken on purpose fails exactly the checks
// that should catch each fault, a crash and a hang included. And every
// command, handed a file that is no module of this kind, says so in one
// line naming the file, writes nothing and leaves no private copy of the
// module behind. info and preview, meeting a module that crashes or hangs,
// say so in one line with what the module was doing. A wrong command line
// is one line naming the command and the option.
//
// Only the tool's own output is checked: a module that crashes on purpose
// inside a sanitizer build makes its report on the child's stderr, and the
// tool reports the crash as a failed check all the same.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <ostream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace kerrowbend_test {
namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const fs::path &path, const std::string &data) {
  std::ofstream(path, std::ios::binary) << data;
}

std::vector<std::string> lines(const std::string &text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// A folder of its own for one test, removed with everything in it. The
// tool's $TMPDIR is a folder inside it that stays empty, unless the tool
// leaves a private copy of a module behind.
class Scratch {
 public:
  Scratch() {
    std::string name = (fs::temp_directory_path() / "kerrowbend-validate-test-XXXXXX").string();
    if (::mkdtemp(name.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = name;
    fs::create_directory(tmp());
  }
  ~Scratch() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  Scratch(const Scratch &) = delete;
  Scratch &operator=(const Scratch &) = delete;

  const fs::path &path() const { return path_; }
  fs::path tmp() const { return path_ / "tmp"; }
  std::vector<std::string> leftInTmp() const {
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(tmp())) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }

 private:
  fs::path path_;
};

struct ToolRun {
  int exitCode = -1;  // -1 when the tool did not exit by itself
  int signal = 0;     // what killed it, if anything
  std::string out;
  std::string err;
};

std::ostream &operator<<(std::ostream &os, const ToolRun &run) {
  return os << "exit " << run.exitCode << ", signal " << run.signal << "\n--- stdout\n"
            << run.out << "--- stderr\n"
            << run.err;
}

// Runs kerrowbend-host with args and $TMPDIR set to the scratch folder's
// tmp, and waits for it; stops it after a few minutes.
ToolRun runTool(const std::vector<std::string> &args, const Scratch &scratch) {
  const fs::path outPath = scratch.path() / "stdout.txt";
  const fs::path errPath = scratch.path() / "stderr.txt";
  std::vector<std::string> argv = {KERROWBEND_HOST_TOOL};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char *> pointers;
  for (std::string &arg : argv) pointers.push_back(arg.data());
  pointers.push_back(nullptr);

  const pid_t pid = ::fork();
  if (pid == 0) {
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || err < 0 || ::dup2(out, STDOUT_FILENO) < 0 || ::dup2(err, STDERR_FILENO) < 0 ||
        ::setenv("TMPDIR", scratch.tmp().c_str(), 1) != 0) {
      ::_exit(126);
    }
    ::execv(pointers[0], pointers.data());
    ::_exit(127);
  }
  ToolRun run;
  if (pid < 0) return run;
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(4);
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
  run.out = readFile(outPath);
  run.err = readFile(errPath);
  return run;
}

// What validate printed: the checks that passed, those that failed with
// their sentences, and the closing count.
struct Report {
  std::set<std::string> passed;
  std::map<std::string, std::string> failed;
  std::set<std::string> skipped;
  std::string summary;
  std::vector<std::string> stray;  // lines of no known form
};

Report parseReport(const std::string &out) {
  Report report;
  for (const std::string &line : lines(out)) {
    if (line.starts_with("PASS ")) {
      report.passed.insert(line.substr(5));
    } else if (line.starts_with("SKIP ") && line.find(": ") != std::string::npos) {
      report.skipped.insert(line.substr(5, line.find(": ") - 5));
    } else if (line.starts_with("FAIL ") && line.find(": ") != std::string::npos) {
      const std::size_t colon = line.find(": ");
      report.failed[line.substr(5, colon - 5)] = line.substr(colon + 2);
    } else if (line.find(" passed, ") != std::string::npos && report.summary.empty()) {
      report.summary = line;
    } else {
      report.stray.push_back(line);
    }
  }
  return report;
}

std::string countLine(std::size_t passed, std::size_t failed, std::size_t skipped = 0) {
  return std::to_string(passed) + " passed, " + std::to_string(failed) + " failed" +
         (skipped > 0 ? ", " + std::to_string(skipped) + " skipped" : "");
}

// The checks a build cannot make: sanitizers keep the allocator for
// themselves, so their builds have no heap counter for the tool to preload.
// ThreadSanitizer ends a racing check's process itself, before the check
// can compare the threads' results with the serial run's.
#if defined(__SANITIZE_THREAD__)
constexpr const char *kRaceSays = "its process";
#else
constexpr const char *kRaceSays = "serial run";
#endif

#if defined(KERROWBEND_HEAP_COUNTING)
const std::set<std::string> kSkippedHere = {};
#else
const std::set<std::string> kSkippedHere = {"resources/memory-balance"};
#endif

// ---- validate ---------------------------------------------------------------

// The checks a user of validate can count on, by name.
const std::vector<std::string> kChecks = {
    "file/exports",
    "descriptor/servers",
    "descriptor/tags",
    "activation/handler-versions",
    "activation/interface-versions",
    "activation/missing-services",
    "activation/without-item-table",
    "services/fallback-names",
    "instance/create-destroy-many",
    "instance/host-calls",
    "state/save-load-save-binary",
    "state/save-load-save-text",
    "state/damaged-loads",
    "state/damaged-stage-count",
    "state/block-tokens",
    "state/long-names",
    "state/copy",
    "state/reference-object-over-time",
    "panel/get-set-every-id",
    "panel/long-names",
    "panel/input-size-edits",
    "panel/tables",
    "panel/popups",
    "panel/input-events",
    "resources/memory-balance",
    "resources/inputs-and-panels",
    "known/single-inputs",
    "known/degenerate-references",
    "known/reference-object",
    "known/weight-map",
    "known/multi-stages",
    "known/outside-scene",
    "known/pass-through",
    "known/extreme-references",
    "eval/finite-results",
    "eval/threads-shared-instance",
    "eval/threads-distinct-instances",
    "eval/threads-beside-activation",
    "eval/host-calls-per-spot",
};

TEST(ValidateTest, PassesEveryCheckOnTheBuiltModule) {
  Scratch scratch;
  const ToolRun run = runTool({"validate", KERROWBEND_MODULE_PATH}, scratch);
  EXPECT_EQ(run.exitCode, 0) << run;
  const Report report = parseReport(run.out);
  EXPECT_TRUE(report.failed.empty()) << run;
  EXPECT_TRUE(report.stray.empty()) << run;
  std::set<std::string> passing(kChecks.begin(), kChecks.end());
  for (const std::string &name : kSkippedHere) passing.erase(name);
  EXPECT_EQ(report.passed, passing) << run;
  EXPECT_EQ(report.skipped, kSkippedHere) << run;
  EXPECT_EQ(report.summary, countLine(passing.size(), 0, kSkippedHere.size()));
  EXPECT_EQ(run.err, "");
  EXPECT_TRUE(scratch.leftInTmp().empty());
}

// A module with one fault planted (tests/broken_modules/NAME.p), and the
// checks that must catch it.
struct BrokenModule {
  const char *name;
  std::set<std::string> failing;
  const char *sentenceSays;  // what each failure sentence mentions
  std::vector<std::string> options;
};

void PrintTo(const BrokenModule &module, std::ostream *os) { *os << module.name; }

std::string brokenModulePath(const char *name) {
  return std::string(BROKEN_MODULES_DIR) + "/" + name + ".p";
}

class BrokenModuleTest : public ::testing::TestWithParam<BrokenModule> {};

TEST_P(BrokenModuleTest, FailsExactlyTheChecksThatCatchTheFault) {
  const BrokenModule &module = GetParam();
  Scratch scratch;
  std::vector<std::string> args = {"validate", brokenModulePath(module.name)};
  args.insert(args.end(), module.options.begin(), module.options.end());
  const ToolRun run = runTool(args, scratch);
  const Report report = parseReport(run.out);
  std::set<std::string> failed;
  for (const auto &[name, sentence] : report.failed) {
    failed.insert(name);
    EXPECT_NE(sentence.find(module.sentenceSays), std::string::npos) << name << ": " << sentence;
    EXPECT_NE(sentence.find("expected"), std::string::npos) << name << ": " << sentence;
  }
  // A fault only a skipped check catches goes unnoticed in this build.
  std::set<std::string> failing = module.failing;
  for (const std::string &name : kSkippedHere) failing.erase(name);
  EXPECT_EQ(run.exitCode, failing.empty() ? 0 : 1) << run;
  EXPECT_EQ(failed, failing) << run;
  EXPECT_EQ(report.skipped, kSkippedHere) << run;
  // The run went on past every failure: all the other checks passed.
  EXPECT_EQ(report.passed.size() + failed.size() + report.skipped.size(), kChecks.size()) << run;
  EXPECT_EQ(report.summary, countLine(kChecks.size() - failing.size() - kSkippedHere.size(),
                                      failing.size(), kSkippedHere.size()));
  EXPECT_TRUE(report.stray.empty()) << run;
  EXPECT_TRUE(scratch.leftInTmp().empty());
}

const BrokenModule kBrokenModules[] = {
    {"name_overflow_module", {"panel/long-names"}, "field", {}},
    {"save_load_mismatch_module",
     {"state/save-load-save-binary", "state/save-load-save-text", "state/damaged-loads"},
     "save",
     {}},
    {"eval_crash_module",
     {"activation/without-item-table", "state/copy", "state/reference-object-over-time",
      "known/single-inputs", "known/degenerate-references", "known/reference-object",
      "known/weight-map", "known/outside-scene", "known/pass-through", "known/extreme-references",
      "eval/finite-results", "eval/threads-shared-instance", "eval/threads-distinct-instances",
      "eval/threads-beside-activation", "eval/host-calls-per-spot"},
     "its process",
     {}},
    {"load_hang_module", {"state/damaged-loads"}, "within 5 s", {"--time-limit", "5"}},
    {"drag_away_module",
     {"activation/without-item-table", "state/copy", "state/reference-object-over-time",
      "known/single-inputs", "known/reference-object", "known/weight-map", "known/multi-stages",
      "known/extreme-references"},
     "expected World Normal",
     {}},
    {"drag_half_module",
     {"activation/without-item-table", "state/copy", "state/reference-object-over-time",
      "known/single-inputs", "known/degenerate-references", "known/reference-object",
      "known/weight-map", "known/multi-stages", "known/extreme-references"},
     "expected World Normal",
     {}},
    {"drag_nan_z_module",
     {"known/single-inputs", "known/degenerate-references", "known/reference-object",
      "known/multi-stages", "eval/finite-results"},
     "nan)",
     {}},
    {"shared_scratch_module",
     {"eval/threads-shared-instance", "eval/threads-distinct-instances",
      "eval/threads-beside-activation"},
     kRaceSays,
     {}},
    {"ignores_invert_module",
     {"known/single-inputs", "known/reference-object"},
     "Invert Vector on",
     {}},
    {"outside_unset_module",
     {"activation/without-item-table", "known/outside-scene"},
     "set it 0 times",
     {}},
    {"reverse_stages_module", {"known/multi-stages"}, "stage", {}},
    {"accepts_version_4_module", {"activation/handler-versions"}, "version 4", {}},
    {"accepts_interface_3_module", {"activation/interface-versions"}, "version 3", {}},
    {"hides_missing_service_module",
     {"activation/missing-services", "services/fallback-names"},
     "gave 0",
     {}},
    {"loads_past_field_module", {"state/long-names"}, "expected", {}},
    {"answers_unknown_ids_module", {"panel/get-set-every-id"}, "unknown id", {}},
    {"remakes_stage_one_module", {"panel/input-size-edits"}, "made anew", {}},
    {"ignores_loaded_count_module",
     {"state/save-load-save-binary", "state/save-load-save-text", "state/damaged-stage-count"},
     "Input Size",
     {}},
    {"saves_nothing_module",
     {"state/save-load-save-binary", "state/save-load-save-text", "state/block-tokens",
      "panel/long-names"},
     "save",
     {}},
    {"keeps_reference_module", {"state/reference-object-over-time"}, "cleared", {}},
    {"leaks_one_panel_module",
     {"instance/create-destroy-many", "resources/inputs-and-panels"},
     "1 of",
     {}},
    {"leaks_on_destroy_module", {"resources/memory-balance"}, "more blocks", {}},
    {"destroys_twice_module",
     {"instance/host-calls", "resources/inputs-and-panels"},
     "destroy",
     {}},
    {"extra_export_module", {"file/exports"}, "kerrowbendDebugLevel", {}},
    {"no_stage_limit_module", {"state/damaged-stage-count"}, "10000 stages", {}},
    {"largest_as_zero_module", {"known/extreme-references"}, "1.79769313486232e+308", {}},
    {"service_name_typo_module", {"services/fallback-names"}, "NodeInputFuncs 3", {}},
    {"skips_preview_type_module", {"instance/host-calls"}, "node.setPreviewType 2", {}},
    {"swaps_destroy_args_module",
     {"instance/host-calls", "state/save-load-save-binary", "state/save-load-save-text",
      "state/copy", "panel/input-size-edits", "known/multi-stages"},
     "expected",
     {}},
    {"time_twice_module", {"eval/host-calls-per-spot"}, "LW Time Info", {}},
    {"shades_without_items_module", {"activation/without-item-table"}, "no item table", {}},
    {"no_panel_refresh_module", {"panel/input-events"}, "refreshed 0 times", {}},
    {"renamed_value_module", {"panel/tables"}, "InputSize", {}},
    {"clamped_map_count_module", {"panel/popups"}, "-2", {}},
    {"invert_token_module", {"state/block-tokens"}, "Invert 1", {}},
    {"clears_item_flag_module", {"eval/threads-beside-activation"}, "serial run", {}},
    {"sets_twice_module",
     {"activation/without-item-table", "known/degenerate-references", "known/multi-stages",
      "known/outside-scene", "known/pass-through", "known/extreme-references",
      "eval/finite-results", "eval/threads-shared-instance", "eval/threads-distinct-instances",
      "eval/threads-beside-activation", "eval/host-calls-per-spot"},
     "2 times",
     {}},
};

INSTANTIATE_TEST_SUITE_P(, BrokenModuleTest, ::testing::ValuesIn(kBrokenModules),
                         [](const auto &info) { return std::string(info.param.name); });

// ---- choosing checks, and where the results go ---------------------------------

// A run with options, and what it must print: the checks run, in order,
// with those expected to fail.
struct OptionRun {
  const char *label;
  std::vector<std::string> args;  // after "validate"; MODULE stands for the module
  const char *module;             // a broken module's name, or null for the built one
  std::vector<std::string> run;
  std::set<std::string> failing;
};

void PrintTo(const OptionRun &run, std::ostream *os) { *os << run.label; }

class ValidateOptionTest : public ::testing::TestWithParam<OptionRun> {};

std::vector<std::string> checksOfGroup(const std::string &group) {
  std::vector<std::string> names;
  for (const std::string &name : kChecks) {
    if (name.starts_with(group)) names.push_back(name);
  }
  return names;
}

TEST_P(ValidateOptionTest, RunsTheChosenChecksInOrder) {
  const OptionRun &option = GetParam();
  Scratch scratch;
  const std::string module =
      option.module != nullptr ? brokenModulePath(option.module) : KERROWBEND_MODULE_PATH;
  std::vector<std::string> args = {"validate"};
  for (const std::string &arg : option.args) args.push_back(arg == "MODULE" ? module : arg);
  const ToolRun run = runTool(args, scratch);
  EXPECT_EQ(run.exitCode, option.failing.empty() ? 0 : 1) << run;
  std::vector<std::string> ran;
  std::set<std::string> failed;
  for (const std::string &line : lines(run.out)) {
    for (const char *mark : {"PASS ", "FAIL "}) {
      if (!line.starts_with(mark)) continue;
      const std::string name = line.substr(5, line.find(": ") - 5);
      ran.push_back(name);
      if (line.starts_with("FAIL ")) failed.insert(name);
    }
  }
  EXPECT_EQ(ran, option.run) << run;
  EXPECT_EQ(failed, option.failing) << run;
  EXPECT_EQ(parseReport(run.out).summary,
            countLine(option.run.size() - option.failing.size(), option.failing.size()));
}

INSTANTIATE_TEST_SUITE_P(
    , ValidateOptionTest,
    ::testing::Values(
        OptionRun{"OneCheck", {"--check", "state/copy", "MODULE"}, nullptr, {"state/copy"}, {}},
        OptionRun{"AGroup", {"MODULE", "--check", "known/"}, nullptr, checksOfGroup("known/"), {}},
        OptionRun{"TwoInRunOrder",
                  {"--check", "eval/finite-results", "--check", "descriptor/tags", "MODULE"},
                  nullptr,
                  {"descriptor/tags", "eval/finite-results"},
                  {}},
        OptionRun{"InProcessFindsTheSameFaults",
                  {"--in-process", "--check", "known/", "MODULE"},
                  "reverse_stages_module",
                  checksOfGroup("known/"),
                  {"known/multi-stages"}}),
    [](const auto &info) { return std::string(info.param.label); });

// A check as --list shows it, or as a row of the README's table of checks
// (Markdown's code marks dropped).
struct ListedCheck {
  std::string name;
  std::string description;
  bool operator==(const ListedCheck &) const = default;
};

std::ostream &operator<<(std::ostream &out, const ListedCheck &check) {
  return out << check.name << " | " << check.description;
}

std::vector<ListedCheck> listedChecks(const std::string &listing) {
  std::vector<ListedCheck> checks;
  for (const std::string &line : lines(listing)) {
    const std::size_t gap = line.find(' ');
    const std::size_t text = line.find_first_not_of(' ', gap);
    checks.push_back({line.substr(0, gap), text == std::string::npos ? "" : line.substr(text)});
  }
  return checks;
}

std::vector<ListedCheck> readmeChecks() {
  std::ifstream readme(KERROWBEND_README);
  const std::regex row(R"(^ *\| `([a-z]+/[a-z-]+)` \| (.*) \|$)");
  std::vector<ListedCheck> checks;
  for (std::string line; std::getline(readme, line);) {
    std::smatch cells;
    if (!std::regex_match(line, cells, row)) continue;
    std::string description = cells[2];
    std::erase(description, '`');
    checks.push_back({cells[1], description});
  }
  return checks;
}

TEST(ValidateListTest, NamesEveryCheckInRunOrderWithoutAModule) {
  Scratch scratch;
  const ToolRun run = runTool({"validate", "--list"}, scratch);
  EXPECT_EQ(run.exitCode, 0) << run;
  std::vector<std::string> names;
  for (const ListedCheck &check : listedChecks(run.out)) {
    names.push_back(check.name);
    EXPECT_NE(check.description, "") << check.name << " is listed without a description";
  }
  EXPECT_EQ(names, kChecks);
  EXPECT_EQ(run.err, "");
}

// The README's table of checks is what --list prints: the same checks, in
// run order, each with the same sentence.
TEST(ValidateListTest, AgreesWithTheReadmeTableOfChecks) {
  Scratch scratch;
  const ToolRun run = runTool({"validate", "--list"}, scratch);
  ASSERT_EQ(run.exitCode, 0) << run;
  const std::vector<ListedCheck> readme = readmeChecks();
  ASSERT_FALSE(readme.empty()) << "no table of checks in " << KERROWBEND_README;
  EXPECT_EQ(readme, listedChecks(run.out));
}

TEST(ValidateListTest, RefusesAnUnknownCheckBeforeRunningAny) {
  Scratch scratch;
  for (const char *name : {"known", "known/nothing", "nothing/"}) {
    const ToolRun run = runTool({"validate", "--check", name, KERROWBEND_MODULE_PATH}, scratch);
    EXPECT_EQ(run.exitCode, 2) << run;
    EXPECT_EQ(run.out, "") << run;
    EXPECT_EQ(lines(run.err).size(), 1u) << run;
    EXPECT_NE(run.err.find(std::string("'") + name + "'"), std::string::npos) << run;
  }
}

// The JUnit file holds one test case per check run, a failure element with
// the sentence (markup escaped) for each failed check, and the counts.
TEST(ValidateJunitTest, WritesEveryCheckWithItsFailure) {
  Scratch scratch;
  const fs::path xml = scratch.path() / "results.xml";
  const ToolRun run = runTool({"validate", "--junit", xml.string(), "--check", "known/",
                               brokenModulePath("ignores_invert_module")},
                              scratch);
  EXPECT_EQ(run.exitCode, 1) << run;
  const std::string text = readFile(xml);
  const auto count = [&text](const std::string &what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
      ++n;
    }
    return n;
  };
  const std::size_t checks = checksOfGroup("known/").size();
  EXPECT_EQ(count("<testcase "), checks) << text;
  EXPECT_EQ(count("<failure message=\"Kerrowbend, "), 2u) << text;
  EXPECT_EQ(count("Reference Object &quot;Pointer&quot;"), 1u) << text;
  EXPECT_NE(text.find("classname=\"known\" name=\"single-inputs\""), std::string::npos) << text;
  EXPECT_NE(text.find("tests=\"" + std::to_string(checks) + "\" failures=\"2\""), std::string::npos)
      << text;
  EXPECT_EQ(text.find("\"Pointer\""), std::string::npos) << "a quote left unescaped: " << text;
}

TEST(ValidateJunitTest, AFileThatCannotBeWrittenStopsTheRunBeforeAnyCheck) {
  Scratch scratch;
  const ToolRun run =
      runTool({"validate", "--junit", (scratch.path() / "no/such/folder.xml").string(),
               KERROWBEND_MODULE_PATH},
              scratch);
  EXPECT_EQ(run.exitCode, 2) << run;
  EXPECT_EQ(run.out, "") << run;
  EXPECT_EQ(lines(run.err).size(), 1u) << run;
  EXPECT_NE(run.err.find("--junit"), std::string::npos) << run;
}

// ---- files that are no module ---------------------------------------------------

// Something a user might hand a command by mistake, made in a folder.
struct BadFile {
  const char *label;
  const char *says;  // what the one line says of it
  fs::path (*make)(const fs::path &folder);
};

// The first `length` bytes of the built module, as a copy cut short would
// have them; a negative length counts from the end.
fs::path cutModule(const fs::path &folder, long long length) {
  const std::string module = readFile(KERROWBEND_MODULE_PATH);
  const auto size = static_cast<long long>(module.size());
  const std::size_t keep = static_cast<std::size_t>(length >= 0 ? length : size + length);
  fs::path path = folder / ("cut-" + std::to_string(keep) + ".p");
  writeFile(path, module.substr(0, keep));
  return path;
}

fs::path cutModuleFraction(const fs::path &folder, int eighths) {
  const auto size = static_cast<long long>(fs::file_size(KERROWBEND_MODULE_PATH));
  return cutModule(folder, size * eighths / 8);
}

const BadFile kBadFiles[] = {
    {"Missing", "cannot be opened", [](const fs::path &folder) { return folder / "missing.p"; }},
    {"Directory", "is not a regular file",
     [](const fs::path &folder) {
       fs::create_directory(folder / "folder.p");
       return folder / "folder.p";
     }},
    {"TextFile", "is not a shared library",
     [](const fs::path &folder) {
       writeFile(folder / "notes.p", "kerrowbend.p goes here\n");
       return folder / "notes.p";
     }},
    {"EmptyFile", "is empty",
     [](const fs::path &folder) {
       writeFile(folder / "empty.p", "");
       return folder / "empty.p";
     }},
    {"NamedPipe", "is not a regular file",
     [](const fs::path &folder) {
       ::mkfifo((folder / "pipe.p").c_str(), 0600);
       return folder / "pipe.p";
     }},
    {"CutInElfHeader", "is cut short",
     [](const fs::path &folder) { return cutModule(folder, 20); }},
    {"CutInProgramHeaders", "is cut short",
     [](const fs::path &folder) { return cutModule(folder, 100); }},
    {"CutInFirstPage", "is cut short",
     [](const fs::path &folder) { return cutModule(folder, 3000); }},
    {"CutAtAnEighth", "is cut short",
     [](const fs::path &folder) { return cutModuleFraction(folder, 1); }},
    {"CutAtHalf", "is cut short",
     [](const fs::path &folder) { return cutModuleFraction(folder, 4); }},
    {"CutByOneByte", "is cut short", [](const fs::path &folder) { return cutModule(folder, -1); }},
    {"NoDescriptor", "does not export _mod_descrip",
     [](const fs::path &) { return fs::path(NO_DESCRIPTOR_MODULE); }},
    {"WrongSyncCode", "synchronisation code",
     [](const fs::path &) { return fs::path(WRONG_SYNC_MODULE); }},
    {"UnclosedServerList", "server 2",
     [](const fs::path &) { return fs::path(UNCLOSED_SERVERS_MODULE); }},
};

// A command with the module file in its place, and where it would write.
struct Command {
  const char *name;
  std::vector<std::string> (*args)(const fs::path &module, const fs::path &output);
};

const Command kCommands[] = {
    {"info",
     [](const fs::path &module, const fs::path &) {
       return std::vector<std::string>{"info", module.string()};
     }},
    {"validate",
     [](const fs::path &module, const fs::path &) {
       return std::vector<std::string>{"validate", module.string()};
     }},
    {"preview",
     [](const fs::path &module, const fs::path &output) {
       return std::vector<std::string>{"preview", "--module", module.string(), "--size",
                                       "16",      "--out",    output.string()};
     }},
};

void PrintTo(const BadFile &bad, std::ostream *os) { *os << bad.label; }
void PrintTo(const Command &command, std::ostream *os) { *os << command.name; }

class ModuleFileErrorTest : public ::testing::TestWithParam<std::tuple<Command, BadFile>> {};

void expectRefusal(const Command &command, const fs::path &module, const std::string &says,
                   Scratch &scratch) {
  const fs::path output = scratch.path() / "picture.png";
  const ToolRun run = runTool(command.args(module, output), scratch);
  EXPECT_EQ(run.exitCode, 1) << run;
  EXPECT_EQ(run.out, "") << run;
  const std::vector<std::string> said = lines(run.err);
  ASSERT_EQ(said.size(), 1u) << run;
  EXPECT_NE(said[0].find("'" + module.string() + "'"), std::string::npos) << said[0];
  EXPECT_NE(said[0].find(says), std::string::npos) << said[0];
  EXPECT_FALSE(fs::exists(output));
  EXPECT_TRUE(scratch.leftInTmp().empty());
}

TEST_P(ModuleFileErrorTest, SaysWhatIsWrongInOneLineNamingTheFile) {
  const auto &[command, bad] = GetParam();
  Scratch scratch;
  const fs::path module = bad.make(scratch.path());
  expectRefusal(command, module, bad.says, scratch);
}

INSTANTIATE_TEST_SUITE_P(, ModuleFileErrorTest,
                         ::testing::Combine(::testing::ValuesIn(kCommands),
                                            ::testing::ValuesIn(kBadFiles)),
                         [](const auto &info) {
                           return std::string(std::get<0>(info.param).name) + "_" +
                                  std::get<1>(info.param).label;
                         });

TEST(UnreadableModuleFileTest, SaysSoInOneLineNamingTheFile) {
  if (::geteuid() == 0) GTEST_SKIP() << "every file is readable to root";
  Scratch scratch;
  const fs::path module = scratch.path() / "locked.p";
  fs::copy_file(KERROWBEND_MODULE_PATH, module);
  fs::permissions(module, fs::perms::none);
  for (const Command &command : kCommands) {
    SCOPED_TRACE(command.name);
    expectRefusal(command, module, "Permission denied", scratch);
  }
}

// ---- a module that crashes or hangs under info and preview --------------------

// A module whose code crashes or hangs, and the command that meets it.
struct Misbehaving {
  const char *label;
  const char *command;
  const char *module;
  const char *stage;  // how the line ends: what the module was doing
  bool hangs;
};

void PrintTo(const Misbehaving &m, std::ostream *os) { *os << m.label; }

class MisbehavingModuleTest : public ::testing::TestWithParam<Misbehaving> {};

TEST_P(MisbehavingModuleTest, IsOneLineSayingWhatHappenedAndWhen) {
  const Misbehaving &m = GetParam();
  Scratch scratch;
  const fs::path output = scratch.path() / "picture.png";
  std::vector<std::string> args = {m.command, "--time-limit", "2"};
  if (std::string(m.command) == "preview") {
    args.insert(args.end(), {"--module", m.module, "--size", "16", "--out", output.string()});
  } else {
    args.emplace_back(m.module);
  }
  const ToolRun run = runTool(args, scratch);
  EXPECT_EQ(run.exitCode, 1) << run;
  EXPECT_EQ(run.out, "") << run;
  const std::vector<std::string> said = lines(run.err);
  ASSERT_FALSE(said.empty()) << run;
#ifdef KERROWBEND_SANITIZED
  // The sanitizer's report of the crash comes first, from the child.
  const std::string &line = said.back();
#else
  ASSERT_EQ(said.size(), 1u) << run;
  const std::string &line = said[0];
  if (!m.hangs) {
    EXPECT_NE(line.find(" crashed with SIGSEGV "), std::string::npos) << line;
  }
#endif
  EXPECT_TRUE(
      line.starts_with("kerrowbend-host " + std::string(m.command) + ": '" + m.module + "' "))
      << line;
  if (m.hangs) {
    EXPECT_NE(line.find(" did not answer within 2 s "), std::string::npos) << line;
  }
  EXPECT_TRUE(line.ends_with(m.stage)) << line;
  EXPECT_FALSE(fs::exists(output));
  EXPECT_TRUE(scratch.leftInTmp().empty());
}

INSTANTIATE_TEST_SUITE_P(, MisbehavingModuleTest,
                         ::testing::Values(Misbehaving{"PreviewCrash", "preview", EVAL_CRASH_MODULE,
                                                       "while shading", false},
                                           Misbehaving{"PreviewHang", "preview", EVAL_HANG_MODULE,
                                                       "while shading", true},
                                           Misbehaving{"InfoCrash", "info", CREATE_CRASH_MODULE,
                                                       "while placing the Kerrowbend node", false},
                                           Misbehaving{"InfoHang", "info", CREATE_HANG_MODULE,
                                                       "while placing the Kerrowbend node", true}),
                         [](const auto &info) { return std::string(info.param.label); });

// ---- the command line ---------------------------------------------------------

// A command line with one thing wrong, and the whole of what the tool says.
struct UsageLine {
  const char *label;
  std::vector<std::string> args;
  const char *says;
};

void PrintTo(const UsageLine &usage, std::ostream *os) { *os << usage.label; }

class UsageLineTest : public ::testing::TestWithParam<UsageLine> {};

TEST_P(UsageLineTest, NamesTheCommandAndTheOptionAndPointsToItsHelp) {
  Scratch scratch;
  std::vector<std::string> args = GetParam().args;
  for (std::string &arg : args) {
    if (arg == "OUT") arg = (scratch.path() / "picture.png").string();
  }
  const ToolRun run = runTool(args, scratch);
  EXPECT_EQ(run.exitCode, 2) << run;
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, std::string(GetParam().says) + "\n");
  EXPECT_FALSE(fs::exists(scratch.path() / "picture.png"));
}

#define PREVIEW_SAYS(problem) \
  "kerrowbend-host preview: " problem " (see kerrowbend-host preview --help)"

INSTANTIATE_TEST_SUITE_P(
    , UsageLineTest,
    ::testing::Values(
        // The option without its value took the next option as one.
        UsageLine{"ValueMissingBeforeAnOption",
                  {"preview", "--weight", "--out", "OUT"},
                  PREVIEW_SAYS("--weight needs a value")},
        UsageLine{"ValueMissingAtTheEnd",
                  {"preview", "--out", "OUT", "--weight"},
                  PREVIEW_SAYS("--weight needs a value")},
        UsageLine{"UnknownOption",
                  {"preview", "--ref", "0,1,0", "--out", "OUT"},
                  PREVIEW_SAYS("unknown option --ref; did you mean --reference or "
                               "--reference-object?")},
        UsageLine{"RepeatedOption",
                  {"preview", "--weight", "1", "--weight", "2", "--out", "OUT"},
                  PREVIEW_SAYS("--weight is given more than once")},
        UsageLine{"NumberOutOfRange",
                  {"preview", "--weight", "1e309", "--out", "OUT"},
                  PREVIEW_SAYS("--weight: '1e309' is out of range")},
        UsageLine{"ComponentOutOfRange",
                  {"preview", "--reference", "0,-1e309,0", "--out", "OUT"},
                  PREVIEW_SAYS("--reference: '-1e309' in '0,-1e309,0' is out of range")},
        UsageLine{"SizeOutOfRange",
                  {"preview", "--size", "+4097", "--out", "OUT"},
                  PREVIEW_SAYS("--size: '+4097' is out of range: 1 to 4096")},
        UsageLine{"StrayArgument",
                  {"preview", "picture.png", "--out", "OUT"},
                  PREVIEW_SAYS("unexpected argument 'picture.png'")},
        UsageLine{"TimeLimitOutOfRange",
                  {"validate", "--time-limit", "1e309", KERROWBEND_MODULE_PATH},
                  "kerrowbend-host validate: --time-limit: '1e309' is out of range: above 0 and "
                  "at most 86400 (see kerrowbend-host validate --help)"},
        UsageLine{"SecondModule",
                  {"info", KERROWBEND_MODULE_PATH, "other.p"},
                  "kerrowbend-host info: unexpected argument 'other.p' (see kerrowbend-host info "
                  "--help)"},
        UsageLine{"UnknownCommand",
                  {"render"},
                  "kerrowbend-host: unknown command 'render' (see kerrowbend-host --help)"}),
    [](const auto &info) { return std::string(info.param.label); });

#undef PREVIEW_SAYS

TEST(ToolTest, VersionIsTheProjectsAndTheToolAloneListsItsCommands) {
  Scratch scratch;
  const ToolRun version = runTool({"--version"}, scratch);
  EXPECT_EQ(version.exitCode, 0) << version;
  EXPECT_EQ(version.out, "kerrowbend-host " KERROWBEND_VERSION "\n");
  const ToolRun alone = runTool({}, scratch);
  EXPECT_EQ(alone.exitCode, 2) << alone;
  for (const char *command : {"info", "validate", "preview"}) {
    EXPECT_NE(alone.err.find(std::string("\n  ") + command + ' '), std::string::npos) << alone;
  }
}

}  // namespace
}  // namespace kerrowbend_test
