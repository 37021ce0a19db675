// Running module code in a child process, so that a module that crashes,
// exits or hangs ends the child and never the tool. Every command that
// loads a module does its loading, placing and shading through here.
#ifndef KERROWBEND_TOOLS_PROCESS_CHILD_RUN_H
#define KERROWBEND_TOOLS_PROCESS_CHILD_RUN_H

#include <functional>
#include <string>
#include <string_view>
#include <thread>

namespace kerrowbend_host {

// How a child ended.
struct ChildOutcome {
  // The work ran to its end and its answer came back whole: what it
  // returned or, with threw set, the message of what it threw.
  bool finished = false;
  std::string report;
  bool threw = false;
  // The child said nothing for the time limit and was killed.
  bool timedOut = false;
  // The child's wait status when it ended otherwise.
  int status = 0;
  // What the child last said it was doing; empty when it said nothing.
  std::string stage;
};

// Runs work in a child process and waits for its answer. The time limit
// counts from the child's last word, not from its start: every tellParent,
// stillWorking or tellProgress starts it again, so work that keeps saying
// it is alive may take as long as it needs, and only a child silent for
// timeLimit seconds counts as hung. With showProgress, and only when
// stderr is a terminal, the child's stage and share done stand on one
// line of stderr while it works, gone when it ends. Throws
// std::runtime_error when no process can be started.
ChildOutcome runInChild(const std::function<std::string()> &work, double timeLimit,
                        bool showProgress = false);

// Called by the work, in the child: what it is doing now, in words that
// follow "while" ("shading"). Does nothing outside a child.
void tellParent(std::string_view stage);
// Called by the work, in the child, from any thread: it is still at its
// stage and alive. Cheap enough to call per pixel; a word reaches the
// parent every few milliseconds at most.
void stillWorking();

// Called by the work, in the child, from any thread: the share of its
// stage done, 0 to 1. Counts as stillWorking; as cheap, and as rare on
// the pipe.
void tellProgress(double share);

// In the child, for work of the tool's own that cannot call stillWorking
// (a library encoding a picture): tells the parent the child is alive for
// as long as it lives. Not for module code, whose hangs must be seen.
class AliveMeanwhile {
 public:
  AliveMeanwhile();

 private:
  std::jthread beat_;
};

// "20 s", "0.5 s".
std::string secondsText(double seconds);

// What the work returned. Throws std::runtime_error with the message of
// what the work threw or, for a child that did not finish, a sentence
// about who (the module file, say) and why: "'x.p' crashed with SIGSEGV
// while shading", "'x.p' did not answer within 20 s while loading the
// module".
std::string childAnswer(ChildOutcome &outcome, const std::string &who, double timeLimit);

}  // namespace kerrowbend_host

#endif
