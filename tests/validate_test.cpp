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

#include <algorithm>
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
#include <nlohmann/json.hpp>

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
const std::set<std::string> kSkippedHere = {"resources/memory-balance", "resources/refused-memory",
                                            "resources/slot-reuse"};
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
    "activation/unwritten-entries",
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
    "resources/refused-memory",
    "resources/slot-reuse",
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
  // A fault only a skipped check catches goes unnoticed in this build.
  std::set<std::string> failing = module.failing;
  for (const std::string &name : kSkippedHere) failing.erase(name);
  Scratch scratch;
  std::vector<std::string> args = {"validate", brokenModulePath(module.name)};
  args.insert(args.end(), module.options.begin(), module.options.end());
#if defined(KERROWBEND_SANITIZED)
  // Every check for every faulty module takes the better part of an hour
  // under the sanitizers; there the suite makes sure each fault is caught by
  // its checks, and the plain build that nothing else fails.
  if (failing.empty()) GTEST_SKIP() << "only a check skipped in this build catches it";
  for (const std::string &name : failing) {
    args.push_back("--check");
    args.push_back(name);
  }
  const std::size_t checksRun = failing.size();
  const std::set<std::string> skipped;
#else
  const std::size_t checksRun = kChecks.size();
  const std::set<std::string> &skipped = kSkippedHere;
#endif
  const ToolRun run = runTool(args, scratch);
  const Report report = parseReport(run.out);
  std::set<std::string> failed;
  for (const auto &[name, sentence] : report.failed) {
    failed.insert(name);
    EXPECT_NE(sentence.find(module.sentenceSays), std::string::npos) << name << ": " << sentence;
    EXPECT_NE(sentence.find("expected"), std::string::npos) << name << ": " << sentence;
  }
  EXPECT_EQ(run.exitCode, failing.empty() ? 0 : 1) << run;
  EXPECT_EQ(failed, failing) << run;
  EXPECT_EQ(report.skipped, skipped) << run;
  // The run went on past every failure: all the other checks passed.
  EXPECT_EQ(report.passed.size() + failed.size() + report.skipped.size(), checksRun) << run;
  EXPECT_EQ(report.summary,
            countLine(checksRun - failing.size() - skipped.size(), failing.size(), skipped.size()));
  EXPECT_TRUE(report.stray.empty()) << run;
  EXPECT_TRUE(scratch.leftInTmp().empty());
}

const BrokenModule kBrokenModules[] = {
    {"name_overflow_module", {"panel/long-names"}, "field", {}},
    {"save_load_mismatch_module",
     {"state/save-load-save-binary", "state/save-load-save-text", "state/damaged-loads",
      "resources/refused-memory"},
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
    {"accepts_version_4_module",
     {"activation/handler-versions", "activation/unwritten-entries"},
     "version 4",
     {}},
    {"accepts_interface_3_module",
     {"activation/interface-versions", "activation/unwritten-entries"},
     "version 3",
     {}},
    {"hides_missing_service_module",
     {"activation/missing-services", "activation/unwritten-entries", "services/fallback-names"},
     "gave 0",
     {}},
    {"loads_past_field_module", {"state/long-names"}, "expected", {}},
    {"answers_unknown_ids_module", {"panel/get-set-every-id"}, "unknown id", {}},
    {"remakes_stage_one_module", {"panel/input-size-edits"}, "made anew", {}},
    {"ignores_loaded_count_module",
     {"state/save-load-save-binary", "state/save-load-save-text", "state/damaged-stage-count",
      "resources/refused-memory"},
     "load",
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
    {"leaks_on_destroy_module",
     {"resources/memory-balance", "resources/refused-memory"},
     "stayed",
     {}},
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
    {"wrong_create_text_module", {"resources/refused-memory"}, "Couldn't allocate", {}},
    {"crashes_without_list_module", {"resources/refused-memory"}, "its process", {}},
    {"freed_slot_unused_module", {"resources/slot-reuse"}, "round", {}},
    {"clears_item_flag_module", {"eval/threads-beside-activation"}, "serial run", {}},
    {"fills_refused_record_module", {"activation/unwritten-entries"}, "instance table's priv", {}},
    {"rewrites_interface_module", {"activation/unwritten-entries"}, "interface record's inst", {}},
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

TEST(ValidateListTest, ListsOnlyTheChecksNamedInRunOrder) {
  const std::vector<ListedCheck> all = readmeChecks();
  const auto described = [&all](const std::vector<std::string> &names) {
    std::vector<ListedCheck> checks;
    for (const ListedCheck &check : all) {
      if (std::find(names.begin(), names.end(), check.name) != names.end()) checks.push_back(check);
    }
    return checks;
  };
  const struct {
    std::vector<std::string> checks;  // --check values
    std::vector<std::string> listed;
  } cases[] = {
      {{"known/"}, checksOfGroup("known/")},
      {{"eval/finite-results", "file/exports"}, {"file/exports", "eval/finite-results"}},
      {{"state/copy", "state/"}, checksOfGroup("state/")},
  };
  Scratch scratch;
  for (const auto &c : cases) {
    std::vector<std::string> args = {"validate", "--list"};
    for (const std::string &name : c.checks) args.insert(args.end(), {"--check", name});
    const ToolRun run = runTool(args, scratch);
    EXPECT_EQ(run.exitCode, 0) << run;
    EXPECT_EQ(listedChecks(run.out), described(c.listed)) << run;
  }
}

// A module named that is not there is an error whatever else is asked,
// --list included: one line, before any check.
TEST(ValidateListTest, AMissingModuleIsAnErrorForEveryOption) {
  Scratch scratch;
  const std::string missing = (scratch.path() / "nonexistent.p").string();
  const std::vector<std::string> optionSets[] = {
      {"--list"},
      {"--list", "--check", "known/"},
      {"--check", "state/copy"},
      {"--in-process", "--check", "state/copy"},
      {"--junit", (scratch.path() / "results.xml").string()},
  };
  for (const std::vector<std::string> &options : optionSets) {
    std::vector<std::string> args = {"validate", missing};
    args.insert(args.end(), options.begin(), options.end());
    const ToolRun run = runTool(args, scratch);
    EXPECT_EQ(run.exitCode, 1) << run;
    EXPECT_EQ(run.out, "") << run;
    EXPECT_EQ(run.err, "kerrowbend-host validate: '" + missing +
                           "' cannot be opened: No such file or directory\n");
    EXPECT_FALSE(fs::exists(scratch.path() / "results.xml"));
  }
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

// ---- info --------------------------------------------------------------------

using Json = nlohmann::json;

// A JSON value's kind, as the schema below names it.
std::string kindOf(const Json &value) {
  if (value.is_null()) return "null";
  if (value.is_boolean()) return "boolean";
  if (value.is_number_integer()) return "integer";
  if (value.is_string()) return "string";
  if (value.is_array()) return "array";
  return value.is_object() ? "object" : "other";
}

// Every key an object holds, with its value's kind; keys beyond these, or
// of another kind, break the scripts that read the document.
void expectShape(const Json &object, const std::map<std::string, std::string> &shape,
                 const std::string &where) {
  ASSERT_TRUE(object.is_object()) << where << " is " << kindOf(object);
  std::map<std::string, std::string> kinds;
  for (const auto &[key, value] : object.items()) kinds[key] = kindOf(value);
  EXPECT_EQ(kinds, shape) << where << ": " << object.dump();
}

TEST(InfoTest, JsonHoldsTheDescriptorServersAndEachNodeWithItsStartingValues) {
  Scratch scratch;
  const ToolRun run = runTool({"info", "--json", KERROWBEND_MODULE_PATH}, scratch);
  ASSERT_EQ(run.exitCode, 0) << run;
  EXPECT_EQ(run.err, "");
  const Json document = Json::parse(run.out, nullptr, false);
  ASSERT_FALSE(document.is_discarded()) << "not one JSON document: " << run.out;
  expectShape(document,
              {{"module", "string"},
               {"syncCode", "string"},
               {"version", "string"},
               {"machineCode", "string"},
               {"startupHandle", "string"},
               {"servers", "array"},
               {"nodes", "array"}},
              "the document");
  EXPECT_EQ(document["module"], KERROWBEND_MODULE_PATH);
  EXPECT_EQ(document["syncCode"], "0x04121994");
  ASSERT_EQ(document["servers"].size(), 4u);
  for (const Json &server : document["servers"]) {
    expectShape(server,
                {{"class", "string"},
                 {"name", "string"},
                 {"activate", "boolean"},
                 {"tags", "array"},
                 {"tagsClosed", "boolean"}},
                "a server");
    for (const Json &tag : server["tags"]) {
      expectShape(tag, {{"tag", "string"}, {"text", "string"}}, "a tag");
    }
  }
  // What a new node starts with, control by control: every input
  // unplugged, "Invert Vector" on, no names, one stage.
  const std::map<std::string, std::map<std::string, Json>> starts = {
      {"Kerrowbend", {{"Reference Object", ""}, {"Invert Vector", 1}, {"WeightMap", ""}}},
      {"KerrowbendMulti", {{"Input Size", 1}}},
  };
  const std::map<std::string, std::vector<std::string>> inputs = {
      {"Kerrowbend", {"Reference Normal", "Weight"}},
      {"KerrowbendMulti", {"Reference Normal 1", "Weight 1"}},
  };
  ASSERT_EQ(document["nodes"].size(), 2u);
  for (const Json &node : document["nodes"]) {
    expectShape(node,
                {{"name", "string"}, {"inputs", "array"}, {"outputs", "array"}, {"panel", "array"}},
                "a node");
    const std::string name = node["name"];
    std::vector<std::string> inputNames;
    for (const Json &input : node["inputs"]) {
      expectShape(input, {{"name", "string"}, {"type", "string"}, {"connected", "boolean"}},
                  name + "'s input");
      inputNames.push_back(input["name"]);
      EXPECT_EQ(input["connected"], false) << name << ": " << input.dump();
    }
    EXPECT_EQ(inputNames, inputs.at(name));
    for (const Json &output : node["outputs"]) {
      expectShape(output, {{"name", "string"}, {"type", "string"}}, name + "'s output");
    }
    std::map<std::string, Json> started;
    for (const Json &control : node["panel"]) {
      expectShape(control,
                  {{"id", "string"}, {"label", "string"}, {"class", "string"}, {"value", "object"}},
                  name + "'s control");
      expectShape(
          control["value"],
          {{"name", "string"}, {"type", "string"}, {"starts", kindOf(control["value"]["starts"])}},
          name + "'s value");
      EXPECT_EQ(kindOf(control["value"]["starts"]),
                control["value"]["type"] == "integer" ? "integer" : "string")
          << control.dump();
      started[control["label"]] = control["value"]["starts"];
    }
    EXPECT_EQ(started, starts.at(name)) << name;
  }
}

TEST(InfoTest, ListingSaysWhatANewNodeStartsWith) {
  Scratch scratch;
  const ToolRun run = runTool({"info", KERROWBEND_MODULE_PATH}, scratch);
  ASSERT_EQ(run.exitCode, 0) << run;
  for (const char *says :
       {"  input   \"Reference Normal\" vector  unplugged\n",
        "\"Invert Vector\" \"iBoolean\"  value \"InvertVector\" \"integer\"  starts on\n",
        "\"Reference Object\" \"sPresetText\"  value \"ReferenceObject\" \"string\"  starts \"\"\n",
        "\"Input Size\" \"integer\"  value \"InputSize\" \"integer\"  starts 1\n"}) {
    EXPECT_NE(run.out.find(says), std::string::npos) << says << "\n" << run;
  }
}

// Without a module named, info and validate load the one beside the tool,
// as preview does (the install test covers the installed place).
TEST(InfoTest, EveryCommandFindsTheModuleBesideTheTool) {
  Scratch scratch;
  const std::string beside =
      (fs::path(KERROWBEND_HOST_TOOL).parent_path() / "kerrowbend.p").string();
  const ToolRun info = runTool({"info"}, scratch);
  EXPECT_EQ(info.exitCode, 0) << info;
  EXPECT_TRUE(info.out.starts_with("module          " + beside + "\n")) << info;
  const ToolRun validate = runTool({"validate", "--check", "descriptor/servers"}, scratch);
  EXPECT_EQ(validate.exitCode, 0) << validate;
  EXPECT_EQ(validate.out, "PASS descriptor/servers\n" + countLine(1, 0) + "\n") << validate;
}

// ---- help ---------------------------------------------------------------------

// An option's whole entry in a command's --help: its line and the lines
// its description is wrapped onto, joined by single spaces.
std::string helpEntry(const std::string &help, const std::string &option) {
  std::string entry;
  bool inside = false;
  for (const std::string &line : lines(help)) {
    const std::size_t text = line.find_first_not_of(' ');
    if (text == std::string::npos) {
      inside = false;
      continue;
    }
    if (text == 2) inside = line.substr(2).starts_with(option + ' ') || line.substr(2) == option;
    if (inside) entry += (entry.empty() ? "" : " ") + line.substr(text);
  }
  return entry;
}

TEST(HelpTest, FitsEightyColumnsOffATerminal) {
  Scratch scratch;
  for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
           {"--help"}, {"info", "--help"}, {"validate", "--help"}, {"preview", "--help"}}) {
    const ToolRun run = runTool(args, scratch);
    EXPECT_EQ(run.exitCode, 0) << run;
    for (const std::string &line : lines(run.out)) {
      EXPECT_LE(line.size(), 80u) << args.front() << ": " << line;
    }
  }
}

// What each option's help must say: its range or choices, and the node it
// is for where it is for one only.
TEST(HelpTest, GivesRangesChoicesAndTheNodeAnOptionIsFor) {
  const struct {
    const char *command;
    const char *option;
    std::vector<std::string> says;
  } cases[] = {
      {"preview", "--size N", {"1 to 4096", "(default 512)"}},
      {"preview", "--samples N", {"1 to 64", "(default 4)"}},
      {"preview", "--node single|multi", {"single (default) or multi"}},
      {"preview", "--show shading|normals", {"shading (default)"}},
      {"preview", "--invert 0|1", {"single node only"}},
      {"preview", "--reference X,Y,Z", {"single node only"}},
      {"preview", "--reference-object NAME", {"single node only"}},
      {"preview", "--object NAME:X,Y,Z", {"single node only"}},
      {"preview", "--weight W", {"single node only", "(default 0.25)"}},
      {"preview", "--weight-map NAME", {"single node only", "Gradient", "Cap"}},
      {"preview", "--stage X,Y,Z:W", {"multi node only"}},
      {"preview", "--time-limit SECONDS", {"above 0 and at most 86400 (default 20)"}},
      {"preview",
       "--module PATH",
       {"kerrowbend.p beside this tool, else ../lib/kerrowbend/kerrowbend.p"}},
      {"info", "MODULE", {"kerrowbend.p beside this tool, else ../lib/kerrowbend/kerrowbend.p"}},
      {"validate",
       "MODULE",
       {"kerrowbend.p beside this tool, else ../lib/kerrowbend/kerrowbend.p"}},
      {"validate", "--time-limit SECONDS", {"above 0 and at most 86400 (default 20)"}},
  };
  Scratch scratch;
  for (const auto &c : cases) {
    const ToolRun run = runTool({c.command, "--help"}, scratch);
    const std::string entry = helpEntry(run.out, c.option);
    ASSERT_NE(entry, "") << c.command << " --help has no " << c.option << ":\n" << run.out;
    for (const std::string &said : c.says) {
      EXPECT_NE(entry.find(said), std::string::npos) << c.option << ": " << entry;
    }
  }
}

// The README's table of a command's options names every option --help
// does, with the same form of value, and says the same of ranges, defaults
// and nodes.
std::map<std::string, std::string> readmeOptions(const std::string &from, const std::string &to) {
  std::ifstream readme(KERROWBEND_README);
  const std::regex row(R"(^ *\| `(--[a-z-]+)( [^`]*)?` \| (.*) \|$)");
  std::map<std::string, std::string> rows;  // "--size N" -> its meaning
  bool inside = false;
  for (std::string line; std::getline(readme, line);) {
    if (line.find(from) != std::string::npos) inside = true;
    if (line.find(to) != std::string::npos) inside = false;
    std::smatch cells;
    if (inside && std::regex_match(line, cells, row)) {
      std::string form = cells[1].str() + cells[2].str();
      std::erase(form, '\\');
      rows[form] = cells[3];
    }
  }
  return rows;
}

TEST(HelpTest, AgreesWithTheReadmeTablesOfOptions) {
  const struct {
    const char *command;
    const char *from;  // where the command's part of the README starts and ends
    const char *to;
  } commands[] = {
      {"preview", "`kerrowbend-host preview [options]", "`kerrowbend-host validate [MODULE]`"},
      {"validate", "`kerrowbend-host validate [MODULE]`", "| check |"},
  };
  Scratch scratch;
  for (const auto &command : commands) {
    const std::map<std::string, std::string> rows = readmeOptions(command.from, command.to);
    const ToolRun run = runTool({command.command, "--help"}, scratch);
    std::set<std::string> readmeForms;
    std::set<std::string> helpForms;
    for (const auto &[form, meaning] : rows) readmeForms.insert(form);
    for (const std::string &line : lines(run.out)) {
      if (!line.starts_with("  --") || line.starts_with("  --help")) continue;
      std::string form = line.substr(2, line.find("  ", 2) - 2);
      const std::string entry = helpEntry(run.out, form);
      if (form.ends_with(" ...")) form.resize(form.size() - 4);
      helpForms.insert(form);
      if (!rows.contains(form)) continue;
      const std::string &meaning = rows.at(form);
      const bool single = entry.find("single node only") != std::string::npos;
      const bool multi = entry.find("multi node only") != std::string::npos;
      EXPECT_EQ(meaning.starts_with("single only:"), single) << form << ": " << meaning;
      EXPECT_EQ(meaning.starts_with("multi only:"), multi) << form << ": " << meaning;
      for (const std::regex &said :
           {std::regex(R"(\d+ to \d+)"), std::regex(R"(\(default [^)]*\))")}) {
        std::smatch found;
        if (std::regex_search(entry, found, said)) {
          EXPECT_NE(meaning.find(found.str()), std::string::npos) << form << ": " << meaning;
        }
      }
    }
    EXPECT_EQ(readmeForms, helpForms) << command.command;
  }
}

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
                  "kerrowbend-host: unknown command 'render' (see kerrowbend-host --help)"},
        // Misspellings, near or far from the start of the word.
        UsageLine{"MisspeltCommand",
                  {"previw"},
                  "kerrowbend-host: unknown command 'previw'; did you mean preview? (see "
                  "kerrowbend-host --help)"},
        UsageLine{"MisspeltToolOption",
                  {"--verison"},
                  "kerrowbend-host: unknown option --verison; did you mean --version? (see "
                  "kerrowbend-host --help)"},
        UsageLine{"LettersSwapped",
                  {"preview", "--weigth", "1", "--out", "OUT"},
                  PREVIEW_SAYS("unknown option --weigth; did you mean --weight?")},
        UsageLine{"LetterAdded",
                  {"preview", "--outt", "OUT"},
                  PREVIEW_SAYS("unknown option --outt; did you mean --out?")},
        UsageLine{"LettersDropped",
                  {"preview", "--ouput", "OUT"},
                  PREVIEW_SAYS("unknown option --ouput; did you mean --out?")},
        UsageLine{"NothingNear",
                  {"preview", "--colour", "red", "--out", "OUT"},
                  PREVIEW_SAYS("unknown option --colour")},
        UsageLine{"MisspeltValidateOption",
                  {"validate", "--lsit"},
                  "kerrowbend-host validate: unknown option --lsit; did you mean --list? (see "
                  "kerrowbend-host validate --help)"},
        UsageLine{"MisspeltInfoOption",
                  {"info", "--jsno"},
                  "kerrowbend-host info: unknown option --jsno; did you mean --json? (see "
                  "kerrowbend-host info --help)"},
        // A value of another option, given as an option of its own.
        UsageLine{"ValueOfShow",
                  {"preview", "--normals", "--out", "OUT"},
                  PREVIEW_SAYS("unknown option --normals; did you mean --show normals?")},
        UsageLine{"ValueOfNode",
                  {"preview", "--multi", "--out", "OUT"},
                  PREVIEW_SAYS("unknown option --multi; did you mean --node multi?")},
        UsageLine{"BareValueOfNode",
                  {"preview", "multi", "--out", "OUT"},
                  PREVIEW_SAYS("unexpected argument 'multi'; did you mean --node multi?")},
        // A check's group without its slash, and a check's name misspelt.
        UsageLine{"GroupWithoutSlash",
                  {"validate", "--check", "known", KERROWBEND_MODULE_PATH},
                  "kerrowbend-host validate: --check: no check is named 'known'; did you mean "
                  "known/? (see kerrowbend-host validate --help)"},
        UsageLine{"MisspeltCheck",
                  {"validate", "--list", "--check", "state/cpy"},
                  "kerrowbend-host validate: --check: no check is named 'state/cpy'; did you "
                  "mean state/copy? (see kerrowbend-host validate --help)"},
        UsageLine{"NoCheckNear",
                  {"validate", "--check", "nothing/", KERROWBEND_MODULE_PATH},
                  "kerrowbend-host validate: --check: no check is named 'nothing/'; --list "
                  "names every check (see kerrowbend-host validate --help)"}),
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
