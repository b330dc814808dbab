// The host program: options, loading the registry file, the front end's
// WinMain over it, and saving or describing what changed.
#ifndef REGSWITCH_HOST_CLI_RUN_H
#define REGSWITCH_HOST_CLI_RUN_H

#include <cstddef>
#include <ostream>
#include <string>

#include "host/cli/options.h"
#include "host/files/system_calls.h"
#include "host/registry/registry.h"

namespace hostreg {

// What a run left behind, for the tests.
// Exit status for a usage error, and for a file or image that cannot be
// read or saved: both 2, but named apart where they are returned.
constexpr int kExitUsage = 2;
constexpr int kExitFile = 2;
// How long a run waits for another one on the same file or image.
constexpr unsigned kLockWaitMilliseconds = 30000;

// One line on standard error; a file name's control characters escaped.
void Complain(std::ostream& err, const std::string& text);

struct RunReport {
  size_t openHandlesAtEnd = 0;
  bool saved = false;
};

// Runs the switches over `registry` (null for none), the about box printed
// on `out`. False when they wanted a registry that the run was not given.
bool RunSwitches(Registry* registry, const std::string& tail,
                 std::ostream& out, RunReport* report);

// Exit status 0 for every run the front end completes; 2 for usage errors
// and for files that cannot be read, parsed or saved.
int RunHostProgram(int argc, const char* const* argv, std::ostream& out,
                   std::ostream& err,
                   const SystemCalls& calls = RealSystemCalls(),
                   RunReport* report = nullptr);

// The run on a registry file (options.registryPath, when
// options.haveRegistry), with its merges when there are any, as
// RunHostProgram makes it once the options are read; the run on a disk
// image makes it on its copy of SYSTEM.DAT.
int RunOnRegistryFile(const Options& options, std::ostream& out,
                      std::ostream& err, const SystemCalls& calls,
                      RunReport* report);

}  // namespace hostreg

#endif
