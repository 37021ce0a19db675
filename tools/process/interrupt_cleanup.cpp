#include "tools/process/interrupt_cleanup.h"

#include <unistd.h>

#include <array>

namespace kerrowbend_host {

namespace {

constexpr std::array<int, 3> kStopSignals = {SIGINT, SIGTERM, SIGHUP};

volatile sig_atomic_t childToKill = 0;
const char *volatile fileToRemove = nullptr;

// Only async-signal-safe calls: kill, unlink, signal, raise. The signal
// is blocked while its handler runs, so raise leaves it pending and it
// ends the process, now with its default action, as the handler returns.
void undoAndStop(int signal) {
  const pid_t child = childToKill;
  if (child > 0) ::kill(child, SIGKILL);
  const char *file = fileToRemove;
  if (file != nullptr) ::unlink(file);
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

void installOnce() {
  static const bool installed = [] {
    struct sigaction action {};
    action.sa_handler = undoAndStop;
    sigemptyset(&action.sa_mask);
    for (const int signal : kStopSignals) sigaddset(&action.sa_mask, signal);
    for (const int signal : kStopSignals) {
      struct sigaction previous {};
      // A signal the tool was started ignoring (nohup) stays ignored.
      if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
      ::sigaction(signal, &action, nullptr);
    }
    return true;
  }();
  (void)installed;
}

sigset_t stopSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal : kStopSignals) sigaddset(&set, signal);
  return set;
}

}  // namespace

SignalsHeld::SignalsHeld() {
  const sigset_t held = stopSignals();
  ::pthread_sigmask(SIG_BLOCK, &held, &previous_);
}

SignalsHeld::~SignalsHeld() { ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

void killOnSignal(pid_t child) {
  installOnce();
  childToKill = child;
}

void removeOnSignal(const char *path) {
  installOnce();
  fileToRemove = path;
}

void forgetSignalCleanupInChild() {
  childToKill = 0;
  fileToRemove = nullptr;
  for (const int signal : kStopSignals) {
    struct sigaction current {};
    if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == undoAndStop) {
      ::signal(signal, SIG_DFL);
    }
  }
  const sigset_t held = stopSignals();
  ::pthread_sigmask(SIG_UNBLOCK, &held, nullptr);
}

}  // namespace kerrowbend_host
