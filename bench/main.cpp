// Runs the benchmarks as the library's own main does, then prints one
// markdown table of the same run: each case's time per iteration as a
// multiple of dragNormal's, the absolute time on the machine named in the
// header, and, for the cases shaded from several threads, the throughput
// as a multiple of the same case on one thread. Times are CPU time, or wall
// time for the cases that ask for it (those shaded from several threads,
// whose CPU time adds the threads up). With repetitions, each row is the
// median of them.
//
// The console always shows the library's text format; --benchmark_out with
// --benchmark_out_format still writes any format to a file.
#include <algorithm>
#include <fstream>
#include <iomanip>
#include <map>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

namespace {

constexpr const char *kBaseline = "BM_DragNormal";

// The processor's model name, or an empty string where it cannot be read.
std::string processorName() {
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line;
  while (std::getline(cpuinfo, line)) {
    if (line.rfind("model name", 0) != 0) continue;
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) break;
    const std::size_t start = line.find_first_not_of(' ', colon + 1);
    return start == std::string::npos ? std::string() : line.substr(start);
  }
  return {};
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t mid = values.size() / 2;
  return values.size() % 2 == 1 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

class RatioTableReporter : public benchmark::ConsoleReporter {
 public:
  RatioTableReporter() : ConsoleReporter(OO_None) {}

  bool ReportContext(const Context &context) override {
    cpus_ = context.cpu_info.num_cpus;
    return ConsoleReporter::ReportContext(context);
  }

  void ReportRuns(const std::vector<Run> &runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run &run : runs) collect(run);
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    printTable(GetOutputStream());
  }

 private:
  struct Case {
    std::string label;  // the name without its BM_ prefix and timing options
    std::string function;
    long threads = 1;
    std::vector<double> nanoseconds;  // one per repetition
    double medianAggregate = -1.0;    // when only aggregates were reported
    std::string error;
  };

  static std::string labelOf(const benchmark::BenchmarkName &name) {
    std::string label = name.function_name;
    if (label.rfind("BM_", 0) == 0) label.erase(0, 3);
    for (const std::string *part : {&name.args, &name.threads}) {
      if (!part->empty()) label += "/" + *part;
    }
    return label;
  }

  static double nanosecondsPerIteration(const Run &run) {
    const double time = run.run_name.time_type == "real_time" ? run.GetAdjustedRealTime()
                                                              : run.GetAdjustedCPUTime();
    return time * 1e9 / benchmark::GetTimeUnitMultiplier(run.time_unit);
  }

  void collect(const Run &run) {
    const std::string name = run.run_name.str();
    auto [found, added] = cases_.try_emplace(name);
    Case &c = found->second;
    if (added) {
      order_.push_back(name);
      c.label = labelOf(run.run_name);
      c.function = run.run_name.function_name;
      c.threads = static_cast<long>(run.threads);
    }
    if (run.error_occurred) {
      c.error = run.error_message;
    } else if (run.run_type == Run::RT_Iteration) {
      c.nanoseconds.push_back(nanosecondsPerIteration(run));
    } else if (run.aggregate_name == "median") {
      c.medianAggregate = nanosecondsPerIteration(run);
    }
  }

  static double timeOf(const Case &c) {
    if (!c.error.empty()) return -1.0;
    return c.nanoseconds.empty() ? c.medianAggregate : median(c.nanoseconds);
  }

  // The same function on one thread, for the throughput column.
  const Case *singleThreadOf(const Case &c) const {
    for (const auto &[name, other] : cases_) {
      if (other.function == c.function && other.threads == 1) return &other;
    }
    return nullptr;
  }

  void printTable(std::ostream &out) const {
    double baseline = -1.0;
    for (const auto &[name, c] : cases_) {
      if (name == kBaseline) baseline = timeOf(c);
    }
    std::string machine = processorName();
    if (machine.empty()) machine = "this machine";
    out << "\n| benchmark | time / dragNormal | time per iteration, " << machine << " (" << cpus_
        << " CPUs) | throughput / 1 thread |\n|---|---:|---:|---:|\n";
    for (const std::string &name : order_) {
      const Case &c = cases_.at(name);
      const double time = timeOf(c);
      out << "| " << c.label << " | ";
      if (time < 0.0) {
        out << "skipped: " << c.error << " | | |\n";
        continue;
      }
      out << std::fixed << std::setprecision(2);
      if (baseline > 0.0) out << time / baseline;
      out << " | " << formatTime(time) << " | ";
      const Case *single = c.threads > 1 ? singleThreadOf(c) : nullptr;
      if (single != nullptr && timeOf(*single) > 0.0) out << timeOf(*single) / time;
      out << " |\n";
    }
  }

  static std::string formatTime(double nanoseconds) {
    std::ostringstream text;
    text << std::fixed;
    if (nanoseconds >= 1e6) {
      text << std::setprecision(2) << nanoseconds / 1e6 << " ms";
    } else if (nanoseconds >= 1e3) {
      text << std::setprecision(2) << nanoseconds / 1e3 << " us";
    } else {
      text << std::setprecision(1) << nanoseconds << " ns";
    }
    return text.str();
  }

  int cpus_ = 0;
  std::map<std::string, Case> cases_;
  std::vector<std::string> order_;
};

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioTableReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
