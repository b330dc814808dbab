#include "host/image/stop_signals.h"

#include <cstring>

namespace hostreg {

namespace {

const int kStopSignals[StopSignals::kCount] = {SIGINT, SIGTERM, SIGHUP,
                                               SIGQUIT};

volatile sig_atomic_t gPending = 0;

void Note(int signal) {
  if (gPending == 0) gPending = signal;
}

sigset_t StopSet() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal : kStopSignals) sigaddset(&set, signal);
  return set;
}

}  // namespace

StopSignals::StopSignals() {
  gPending = 0;
  for (int i = 0; i < kCount; ++i) {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    sigemptyset(&action.sa_mask);
    action.sa_handler = Note;
    // No SA_RESTART: a wait for a reading mtools command returns, so that
    // the command can be stopped.
    sigaction(kStopSignals[i], &action, &previous_[i]);
    if (previous_[i].sa_handler == SIG_IGN)
      sigaction(kStopSignals[i], &previous_[i], nullptr);
  }
}

StopSignals::~StopSignals() {
  for (int i = 0; i < kCount; ++i)
    sigaction(kStopSignals[i], &previous_[i], nullptr);
}

int StopSignals::Pending() const { return gPending; }

void StopSignals::EndByPending() {
  const int signal = gPending;
  if (signal == 0) return;
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  sigemptyset(&action.sa_mask);
  action.sa_handler = SIG_DFL;
  sigaction(signal, &action, nullptr);
  const sigset_t set = StopSet();
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  raise(signal);
}

StopSignals::Hold::Hold() {
  const sigset_t set = StopSet();
  sigprocmask(SIG_BLOCK, &set, &before_);
}

StopSignals::Hold::~Hold() {
  // A signal that came meanwhile is delivered here, to Note.
  sigprocmask(SIG_SETMASK, &before_, nullptr);
}

}  // namespace hostreg
