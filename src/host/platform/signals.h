// The one owner of the signals a run must survive, for RealPlatform:
//
//   SIGBUS   reading a mapped file that another program shortened: the run
//            ends with a message naming that file (each mapping is watched
//            with its own name) and the fault's exit status.
//   SIGINT, SIGTERM, SIGHUP, SIGQUIT
//            end the run as they would have, after removing every listed
//            temporary file; once deferred, they are noted instead, for
//            the run to end by later.
//   SIGXFSZ  ignored: a write past the file size limit fails as any other.
//
// A handler can reach nothing but static storage, so the lists live there,
// with room for a few entries: a run maps one or two files and saves one
// at a time.
#ifndef REGSWITCH_HOST_PLATFORM_SIGNALS_H
#define REGSWITCH_HOST_PLATFORM_SIGNALS_H

#include <cstddef>
#include <string>

namespace hostreg {
namespace signals {

// The first Install installs the handlers, the last Uninstall puts back
// what was there before. A signal the caller ignores (nohup's SIGHUP)
// stays ignored.
void Install(int faultStatus);
void Uninstall();

// False when the list is full.
bool WatchMapping(const char* begin, size_t size, const std::string& name);
void UnwatchMapping(const char* begin);

// mkstemp(3), the file listed from the moment it exists (no ending signal
// comes in between): the fd, or -1 with errno set.
int MakeListedTemporary(std::string& pattern);
void UnlistTemporary(const std::string& path);

void DeferStops();
int PendingStop();
void EndByPendingStop();

// In a child process that goes its own way: the ending signals back to
// their default actions, nothing blocked, nothing noted or listed.
void ForgetInChild();

}  // namespace signals
}  // namespace hostreg

#endif
