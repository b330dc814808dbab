#include "host/session/messages.h"

#include "host/platform/printable.h"

namespace hostreg {

void Messages::Say(const std::string& text) {
  if (platform_.PendingStop() != 0) return;
  err_ << "regswitch: " << Printable(text) << "\n" << std::flush;
}

}  // namespace hostreg
