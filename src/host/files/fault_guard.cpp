#include "host/files/fault_guard.h"

#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "host/files/printable.h"

namespace hostreg {

namespace {

// A signal handler can reach nothing but static storage, and may only
// unlink, write and exit: the message and the temporary file's name are
// made before it can run.
struct FaultExit {
  char message[1024];
  size_t length;
  int status;
};
FaultExit gFaultExit;

struct Temporary {
  char path[PATH_MAX + 64];
  volatile sig_atomic_t armed;
};
Temporary gTemporary;

void RemoveTemporary() {
  if (gTemporary.armed) ::unlink(gTemporary.path);
  gTemporary.armed = 0;
}

void OnMappedFileFault(int) {
  RemoveTemporary();
  ssize_t ignored = ::write(2, gFaultExit.message, gFaultExit.length);
  (void)ignored;
  ::_exit(gFaultExit.status);
}

// Installed with SA_RESETHAND and SA_NODEFER: raising the signal again
// ends the process as it would have without us.
void OnEndingSignal(int signal) {
  RemoveTemporary();
  ::raise(signal);
}

const int kEndingSignals[TemporaryFileCleanup::kSignals] = {
    SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGXFSZ};

}  // namespace

MappedFileFaultGuard::MappedFileFaultGuard(const std::string& path,
                                           int status) {
  const std::string message =
      "regswitch: " + Printable(path) +
      ": the file was shortened by another program while it was being read; "
      "stopped\n";
  gFaultExit.length = std::min(message.size(), sizeof gFaultExit.message);
  std::memcpy(gFaultExit.message, message.data(), gFaultExit.length);
  gFaultExit.status = status;
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = OnMappedFileFault;
  sigemptyset(&action.sa_mask);
  sigaction(SIGBUS, &action, &previous_);
}

MappedFileFaultGuard::~MappedFileFaultGuard() {
  sigaction(SIGBUS, &previous_, nullptr);
}

TemporaryFileCleanup::TemporaryFileCleanup() {
  gTemporary.armed = 0;
  for (int i = 0; i < kSignals; ++i) {
    const int signal = kEndingSignals[i];
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    sigemptyset(&action.sa_mask);
    action.sa_handler = signal == SIGXFSZ ? SIG_IGN : OnEndingSignal;
    action.sa_flags = SA_RESETHAND | SA_NODEFER;
    sigaction(signal, &action, &previous_[i]);
    // A signal the caller ignores (nohup's SIGHUP) stays ignored.
    if (previous_[i].sa_handler == SIG_IGN)
      sigaction(signal, &previous_[i], nullptr);
  }
}

TemporaryFileCleanup::~TemporaryFileCleanup() {
  for (int i = 0; i < kSignals; ++i)
    sigaction(kEndingSignals[i], &previous_[i], nullptr);
  gTemporary.armed = 0;
}

int TemporaryFileCleanup::Create(std::string& pattern) {
  if (pattern.size() >= sizeof gTemporary.path) {
    errno = ENAMETOOLONG;
    return -1;
  }
  // No signal between the file's creation and its name being known.
  sigset_t ending, before;
  sigemptyset(&ending);
  for (const int signal : kEndingSignals) sigaddset(&ending, signal);
  sigprocmask(SIG_BLOCK, &ending, &before);
  const int fd = ::mkstemp(&pattern[0]);
  const int code = errno;
  if (fd >= 0) {
    std::memcpy(gTemporary.path, pattern.c_str(), pattern.size() + 1);
    gTemporary.armed = 1;
  }
  sigprocmask(SIG_SETMASK, &before, nullptr);
  errno = code;
  return fd;
}

void TemporaryFileCleanup::Forget() { gTemporary.armed = 0; }

}  // namespace hostreg
