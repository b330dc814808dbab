// The run's messages on standard error: "regswitch: TEXT", a line each,
// with control characters escaped so that no file name can forge a line of
// its own or move the cursor.
#ifndef REGSWITCH_HOST_SESSION_MESSAGES_H
#define REGSWITCH_HOST_SESSION_MESSAGES_H

#include <ostream>
#include <string>

#include "host/platform/platform.h"

namespace hostreg {

class Messages {
 public:
  Messages(std::ostream& err, const Platform& platform)
      : err_(err), platform_(platform) {}

  // Nothing once a stop signal has been noted: what fails then was broken
  // off by it, and the run ends by the signal.
  void Say(const std::string& text);
  std::ostream& stream() { return err_; }

 private:
  std::ostream& err_;
  const Platform& platform_;
};

}  // namespace hostreg

#endif
