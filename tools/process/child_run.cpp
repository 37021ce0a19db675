#include "tools/process/child_run.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>

#include "tools/process/interrupt_cleanup.h"

namespace kerrowbend_host {

namespace {

using Clock = std::chrono::steady_clock;

// The child speaks in frames: a kind byte, the body's length as 8 bytes,
// the body. A frame of up to PIPE_BUF bytes goes in one write, which a
// pipe keeps whole, so threads of the child may speak at once.
enum FrameKind : char {
  kStage = 'S',     // body: what the child is doing now
  kAlive = 'A',     // no body: still at it
  kReturned = 'R',  // body: what the work returned
  kThrew = 'E',     // body: the message of what it threw
  kProgress = 'P',  // body: the share of the stage done, in whole per cent
};
constexpr std::size_t kFrameHead = 1 + sizeof(uint64_t);
// A stage is a few words; a longer one is cut so its frame stays whole.
constexpr std::size_t kMaxStage = 200;
// stillWorking sends a frame when the last is this old: often enough for
// any time limit a user would give, rare enough to cost nothing. It looks
// at the clock on every call, so one slow call (a sanitizer build, a
// loaded machine, a slow module) never holds a frame back past the next.
constexpr std::chrono::milliseconds kAliveEvery{20};

// In a child, the pipe to the parent; -1 elsewhere.
int reportFd = -1;
std::atomic<Clock::rep> lastAliveFrame{0};

std::string frame(FrameKind kind, std::string_view body) {
  std::string bytes(kFrameHead, '\0');
  bytes[0] = kind;
  const uint64_t length = body.size();
  std::memcpy(bytes.data() + 1, &length, sizeof length);
  bytes.append(body);
  return bytes;
}

void writeAll(int fd, const std::string &data) {
  for (std::size_t done = 0; done < data.size();) {
    const ssize_t put = ::write(fd, data.data() + done, data.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return;
    done += static_cast<std::size_t>(put);
  }
}

[[noreturn]] void runChild(int fd, const std::function<std::string()> &work) {
  reportFd = fd;
  // Whatever the module prints must not mix with what the tool prints on
  // stdout.
  ::dup2(STDERR_FILENO, STDOUT_FILENO);
  std::string answer;
  try {
    answer = frame(kReturned, work());
  } catch (const std::exception &failure) {
    const std::string what = failure.what();
    answer = frame(kThrew, what.empty() ? "an exception without a message" : what);
  } catch (...) {
    answer = frame(kThrew, "an exception of an unknown type");
  }
  writeAll(fd, answer);
  ::close(fd);
  // No exit handlers: they belong to the parent's copy of this process.
  ::_exit(0);
}

// The frames read so far from a child, taken apart as they come in.
class FrameReader {
 public:
  void add(const char *data, std::size_t size) {
    if (answered_) return;
    buffer_.append(data, size);
    while (!answered_ && buffer_.size() - used_ >= kFrameHead) {
      uint64_t length = 0;
      std::memcpy(&length, buffer_.data() + used_ + 1, sizeof length);
      if (buffer_.size() - used_ - kFrameHead < length) break;
      const auto kind = static_cast<FrameKind>(buffer_[used_]);
      std::string body = buffer_.substr(used_ + kFrameHead, length);
      used_ += kFrameHead + length;
      if (kind == kStage) {
        stage_ = std::move(body);
        percent_ = -1;
      } else if (kind == kProgress) {
        // Threads of the child may send their shares out of order.
        percent_ = std::max(percent_, std::atoi(body.c_str()));
      } else if (kind == kReturned || kind == kThrew) {
        answered_ = true;
        threw_ = kind == kThrew;
        answer_ = std::move(body);
      }
    }
    if (used_ == buffer_.size() || answered_) {
      buffer_.clear();
      used_ = 0;
    }
  }

  bool answered() const { return answered_; }
  bool threw() const { return threw_; }
  std::string &answer() { return answer_; }
  const std::string &stage() const { return stage_; }
  // The share of the stage done, in per cent; -1 before the first word.
  int percent() const { return percent_; }

 private:
  std::string buffer_;
  std::size_t used_ = 0;
  std::string stage_;
  int percent_ = -1;
  bool answered_ = false;
  bool threw_ = false;
  std::string answer_;
};

std::string signalName(int signal) {
  const char *abbreviation = ::sigabbrev_np(signal);
  return abbreviation != nullptr ? std::string("SIG") + abbreviation
                                 : "signal " + std::to_string(signal);
}

// The child's stage and share done on one line of a terminal's stderr,
// written over in place and wiped when the child ends, so that nothing of
// it stays in the scrollback or mixes with what the tool prints next.
// Elsewhere (a file, a pipe) it writes nothing: a log has no use for it.
class ProgressLine {
 public:
  explicit ProgressLine(bool wanted) : shown_(wanted && ::isatty(STDERR_FILENO) != 0) {}
  ProgressLine(const ProgressLine &) = delete;
  ProgressLine &operator=(const ProgressLine &) = delete;
  ~ProgressLine() { clear(); }

  void show(const std::string &stage, int percent) {
    if (!shown_ || stage.empty()) return;
    std::string text = stage + (percent >= 0 ? " " + std::to_string(percent) + "%" : "...");
    if (text == last_) return;
    last_ = text;
    put("\r\033[K" + text);
  }

  void clear() {
    if (!shown_ || last_.empty()) return;
    last_.clear();
    put("\r\033[K");
  }

 private:
  static void put(const std::string &text) {
    const ssize_t ignored = ::write(STDERR_FILENO, text.data(), text.size());
    static_cast<void>(ignored);
  }

  bool shown_;
  std::string last_;
};

pid_t startChild(const std::function<std::string()> &work, int fds[2]) {
  const pid_t parent = ::getpid();
  // Buffered output would be written again by the child.
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  const SignalsHeld held;
  const pid_t pid = ::fork();
  if (pid == 0) {
    forgetSignalCleanupInChild();
    // A parent killed outright takes the child with it, rather than leave
    // it shading for no one.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(1);
    ::close(fds[0]);
    runChild(fds[1], work);
  }
  if (pid > 0) killOnSignal(pid);
  return pid;
}

// Reaps the child, waiting at most until deadline and then killing it.
// Gives its wait status and whether it had to be killed.
std::pair<int, bool> reap(pid_t pid, Clock::time_point deadline) {
  int status = 0;
  for (;;) {
    {
      const SignalsHeld held;
      const pid_t done = ::waitpid(pid, &status, WNOHANG);
      if (done == pid || (done < 0 && errno != EINTR)) {
        killOnSignal(0);
        return {status, false};
      }
    }
    if (Clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  const SignalsHeld held;
  ::kill(pid, SIGKILL);
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  killOnSignal(0);
  return {status, true};
}

}  // namespace

ChildOutcome runInChild(const std::function<std::string()> &work, double timeLimit,
                        bool showProgress) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    throw std::runtime_error(std::string("cannot make a pipe: ") + std::strerror(errno));
  }
  const pid_t pid = startChild(work, fds);
  if (pid < 0) {
    const std::string why = std::strerror(errno);
    ::close(fds[0]);
    ::close(fds[1]);
    throw std::runtime_error("cannot start a process: " + why);
  }
  ::close(fds[1]);

  const auto limit =
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(timeLimit));
  auto deadline = Clock::now() + limit;
  const auto remainingMs = [&deadline] {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::clamp<long long>(left.count(), 0, 60'000));
  };
  FrameReader reader;
  ProgressLine progress(showProgress);
  bool silent = false;
  for (;;) {
    pollfd waiting{fds[0], POLLIN, 0};
    const int ready = ::poll(&waiting, 1, remainingMs());
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) {
      if (Clock::now() < deadline) continue;
      silent = true;
      break;
    }
    char buffer[65536];
    const ssize_t got = ::read(fds[0], buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    reader.add(buffer, static_cast<std::size_t>(got));
    deadline = Clock::now() + limit;
    progress.show(reader.stage(), reader.percent());
  }
  ::close(fds[0]);
  progress.clear();

  // The answer is in; the child may still be on its way out (or stuck
  // there, having closed the pipe early).
  const auto [status, killed] = reap(pid, silent ? Clock::now() : deadline);
  ChildOutcome outcome;
  outcome.stage = reader.stage();
  outcome.status = status;
  outcome.timedOut = killed;
  if (!killed && reader.answered() && WIFEXITED(status) && WEXITSTATUS(status) == 0) {
    outcome.finished = true;
    outcome.threw = reader.threw();
    outcome.report = std::move(reader.answer());
  }
  return outcome;
}

void tellParent(std::string_view stage) {
  if (reportFd < 0) return;
  const std::string bytes = frame(kStage, stage.substr(0, kMaxStage));
  writeAll(reportFd, bytes);
}

void stillWorking() {
  if (reportFd < 0) return;
  const Clock::rep now = Clock::now().time_since_epoch().count();
  Clock::rep last = lastAliveFrame.load(std::memory_order_relaxed);
  if (now - last < std::chrono::duration_cast<Clock::duration>(kAliveEvery).count()) return;
  // One thread of those that see the frame is due sends it.
  if (!lastAliveFrame.compare_exchange_strong(last, now, std::memory_order_relaxed)) return;
  const std::string bytes = frame(kAlive, {});
  writeAll(reportFd, bytes);
}

void tellProgress(double share) {
  if (reportFd < 0) return;
  const Clock::rep now = Clock::now().time_since_epoch().count();
  Clock::rep last = lastAliveFrame.load(std::memory_order_relaxed);
  if (now - last < std::chrono::duration_cast<Clock::duration>(kAliveEvery).count()) return;
  if (!lastAliveFrame.compare_exchange_strong(last, now, std::memory_order_relaxed)) return;
  const int percent = static_cast<int>(std::clamp(share, 0.0, 1.0) * 100.0);
  writeAll(reportFd, frame(kProgress, std::to_string(percent)));
}

AliveMeanwhile::AliveMeanwhile() {
  if (reportFd < 0) return;
  beat_ = std::jthread([](const std::stop_token &stop) {
    std::mutex mutex;
    std::condition_variable_any wake;
    std::unique_lock lock(mutex);
    while (!stop.stop_requested()) {
      writeAll(reportFd, frame(kAlive, {}));
      wake.wait_for(lock, stop, kAliveEvery, [] { return false; });
    }
  });
}

std::string secondsText(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%g s", seconds);
  return text;
}

std::string childAnswer(ChildOutcome &outcome, const std::string &who, double timeLimit) {
  if (outcome.finished) {
    if (outcome.threw) throw std::runtime_error(outcome.report);
    return std::move(outcome.report);
  }
  std::string reason;
  if (outcome.timedOut) {
    reason = "did not answer within " + secondsText(timeLimit);
  } else if (WIFSIGNALED(outcome.status)) {
    const int signal = WTERMSIG(outcome.status);
    const bool fromOutside =
        signal == SIGKILL || signal == SIGTERM || signal == SIGINT || signal == SIGHUP;
    reason = (fromOutside ? "was killed with " : "crashed with ") + signalName(signal);
  } else if (WIFEXITED(outcome.status) && WEXITSTATUS(outcome.status) != 0) {
    reason = "exited with status " + std::to_string(WEXITSTATUS(outcome.status));
  } else {
    reason = "ended without an answer";
  }
  if (!outcome.stage.empty()) reason += " while " + outcome.stage;
  throw std::runtime_error(who + ' ' + reason);
}

}  // namespace kerrowbend_host
