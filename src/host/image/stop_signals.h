// The signals that end a run (SIGINT, SIGTERM, SIGHUP, SIGQUIT) while it
// works on an image: each is noted instead of ending the run at once, so
// that the mtools command under way can finish, the run puts the image
// right and removes its files, and only then ends by the signal.
#ifndef REGSWITCH_HOST_IMAGE_STOP_SIGNALS_H
#define REGSWITCH_HOST_IMAGE_STOP_SIGNALS_H

#include <signal.h>

namespace hostreg {

class StopSignals {
 public:
  static constexpr int kCount = 4;

  // Notes the signals from here on; one the caller ignores (nohup's
  // SIGHUP) stays ignored.
  StopSignals();
  // Puts back what was there before.
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // The signal that asked the run to stop, or 0.
  int Pending() const;

  // Ends the process by the pending signal, as that signal would have
  // ended it; returns when none is pending.
  void EndByPending();

  // Holds the signals back while it lives (they are noted afterwards):
  // for work that has cleanup handlers of its own, which would end the
  // run on the spot.
  class Hold {
   public:
    Hold();
    ~Hold();
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

   private:
    sigset_t before_;
  };

 private:
  struct sigaction previous_[kCount];
};

}  // namespace hostreg

#endif
