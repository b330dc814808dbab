// A run with --merge or --user: .reg files merged into the registry file
// and the user registry file, then the switches, then both saved (or shown).
#ifndef REGSWITCH_HOST_CLI_MERGE_RUN_H
#define REGSWITCH_HOST_CLI_MERGE_RUN_H

#include <ostream>

#include "host/cli/options.h"
#include "host/cli/run.h"
#include "host/files/system_calls.h"

namespace hostreg {

int RunMerge(const Options& options, std::ostream& out, std::ostream& err,
             const SystemCalls& calls, RunReport* report);

}  // namespace hostreg

#endif
