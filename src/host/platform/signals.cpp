#include "host/platform/signals.h"

#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "host/platform/printable.h"

namespace hostreg {
namespace signals {

namespace {

constexpr int kMappings = 8;
constexpr int kTemporaries = 4;

struct Mapping {
  const char* begin;
  size_t size;
  char message[1024];
  size_t length;
  volatile sig_atomic_t used;
};

struct Temporary {
  char path[PATH_MAX + 64];
  volatile sig_atomic_t armed;
};

const int kEnding[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int kEndingCount = 4;

// The handlers' state: the one mutable global of the host program besides
// the seam's machine binding, as a signal handler reaches nothing else.
struct State {
  int users = 0;
  int faultStatus = 2;
  Mapping mappings[kMappings];
  Temporary temporaries[kTemporaries];
  volatile sig_atomic_t deferred = 0;
  volatile sig_atomic_t pending = 0;
  struct sigaction previousBus;
  struct sigaction previousFileSize;
  struct sigaction previousEnding[kEndingCount];
};
State gState;

void RemoveTemporaries() {
  for (Temporary& t : gState.temporaries) {
    if (t.armed) ::unlink(t.path);
    t.armed = 0;
  }
}

void OnBus(int signal, siginfo_t* info, void*) {
  const char* at = static_cast<const char*>(info->si_addr);
  for (const Mapping& m : gState.mappings) {
    if (!m.used || at < m.begin || at >= m.begin + m.size) continue;
    RemoveTemporaries();
    ssize_t ignored = ::write(2, m.message, m.length);
    (void)ignored;
    ::_exit(gState.faultStatus);
  }
  // No file of ours: the fault is a crash, and the instruction faults again
  // under the default action.
  sigaction(signal, &gState.previousBus, nullptr);
}

void OnEnding(int signal) {
  if (gState.deferred) {
    if (gState.pending == 0) gState.pending = signal;
    return;
  }
  RemoveTemporaries();
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  ::raise(signal);
}

sigset_t EndingSet() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal : kEnding) sigaddset(&set, signal);
  return set;
}

void InstallHandlers() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  sigemptyset(&action.sa_mask);
  action.sa_sigaction = OnBus;
  action.sa_flags = SA_SIGINFO;
  sigaction(SIGBUS, &action, &gState.previousBus);
  action.sa_flags = 0;
  action.sa_handler = SIG_IGN;
  sigaction(SIGXFSZ, &action, &gState.previousFileSize);
  for (int i = 0; i < kEndingCount; ++i) {
    // No SA_RESTART: a wait for a child returns on a noted stop, so that
    // a command that only reads can be stopped at once.
    action.sa_handler = OnEnding;
    sigaction(kEnding[i], &action, &gState.previousEnding[i]);
    if (gState.previousEnding[i].sa_handler == SIG_IGN)
      sigaction(kEnding[i], &gState.previousEnding[i], nullptr);
  }
}

}  // namespace

void Install(int faultStatus) {
  if (gState.users++ > 0) return;
  gState.faultStatus = faultStatus;
  gState.deferred = 0;
  gState.pending = 0;
  InstallHandlers();
}

void Uninstall() {
  if (gState.users == 0 || --gState.users > 0) return;
  sigaction(SIGBUS, &gState.previousBus, nullptr);
  sigaction(SIGXFSZ, &gState.previousFileSize, nullptr);
  for (int i = 0; i < kEndingCount; ++i)
    sigaction(kEnding[i], &gState.previousEnding[i], nullptr);
  gState.deferred = 0;
  gState.pending = 0;
  for (Mapping& m : gState.mappings) m.used = 0;
  for (Temporary& t : gState.temporaries) t.armed = 0;
}

bool WatchMapping(const char* begin, size_t size, const std::string& name) {
  for (Mapping& m : gState.mappings) {
    if (m.used) continue;
    const std::string message =
        "regswitch: " + Printable(name) +
        ": the file was shortened by another program while it was being "
        "read; stopped\n";
    m.length = std::min(message.size(), sizeof m.message);
    std::memcpy(m.message, message.data(), m.length);
    m.begin = begin;
    m.size = size;
    m.used = 1;
    return true;
  }
  return false;
}

void UnwatchMapping(const char* begin) {
  for (Mapping& m : gState.mappings)
    if (m.used && m.begin == begin) m.used = 0;
}

int MakeListedTemporary(std::string& pattern) {
  Temporary* slot = nullptr;
  for (Temporary& t : gState.temporaries)
    if (!t.armed && slot == nullptr) slot = &t;
  if (slot == nullptr || pattern.size() >= sizeof slot->path) {
    errno = slot == nullptr ? EMFILE : ENAMETOOLONG;
    return -1;
  }
  const sigset_t ending = EndingSet();
  sigset_t before;
  sigprocmask(SIG_BLOCK, &ending, &before);
  const int fd = ::mkstemp(&pattern[0]);
  const int code = errno;
  if (fd >= 0) {
    std::memcpy(slot->path, pattern.c_str(), pattern.size() + 1);
    slot->armed = 1;
  }
  sigprocmask(SIG_SETMASK, &before, nullptr);
  errno = code;
  return fd;
}

void UnlistTemporary(const std::string& path) {
  for (Temporary& t : gState.temporaries)
    if (t.armed && path == t.path) t.armed = 0;
}

void DeferStops() { gState.deferred = 1; }

int PendingStop() { return gState.pending; }

void EndByPendingStop() {
  const int signal = gState.pending;
  if (signal == 0) return;
  gState.deferred = 0;
  OnEnding(signal);
}

void ForgetInChild() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  for (const int signal : kEnding) sigaction(signal, &action, nullptr);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  gState.deferred = 0;
  gState.pending = 0;
  for (Temporary& t : gState.temporaries) t.armed = 0;
}

}  // namespace signals
}  // namespace hostreg
