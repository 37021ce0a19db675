// What the tool undoes when SIGINT, SIGTERM or SIGHUP stops it halfway: a
// child still at work is killed, and a temporary file not yet renamed into
// place is removed. The signal then ends the tool as it would have.
#ifndef KERROWBEND_TOOLS_PROCESS_INTERRUPT_CLEANUP_H
#define KERROWBEND_TOOLS_PROCESS_INTERRUPT_CLEANUP_H

#include <signal.h>
#include <sys/types.h>

namespace kerrowbend_host {

// Holds the three signals back for its lifetime, so that a process or a
// file and the note of it come into being, or go, as one step.
class SignalsHeld {
 public:
  SignalsHeld();
  ~SignalsHeld();
  SignalsHeld(const SignalsHeld &) = delete;
  SignalsHeld &operator=(const SignalsHeld &) = delete;

 private:
  sigset_t previous_;
};

// The child to kill on a signal; 0 for none.
void killOnSignal(pid_t child);
// The file to remove on a signal; null for none. The text must stay
// unchanged until it is replaced.
void removeOnSignal(const char *path);
// In a new child: the signals act on it as on any process again, and
// nothing of the parent's is undone by it.
void forgetSignalCleanupInChild();

}  // namespace kerrowbend_host

#endif
