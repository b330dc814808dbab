#include "host/files/fault_guard.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace hostreg {

namespace {

// A signal handler can reach nothing but static storage, and may only write
// and exit: the message is made before the handler is installed.
struct FaultExit {
  char message[1024];
  size_t length;
  int status;
};
FaultExit gFaultExit;

void OnMappedFileFault(int) {
  ssize_t ignored = ::write(2, gFaultExit.message, gFaultExit.length);
  (void)ignored;
  ::_exit(gFaultExit.status);
}

}  // namespace

MappedFileFaultGuard::MappedFileFaultGuard(const std::string& path,
                                           int status) {
  const std::string message =
      "regswitch: " + path +
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

}  // namespace hostreg
