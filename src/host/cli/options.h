// The host program's command line: its own options first, then the
// program's command line as Windows would pass it.
#ifndef REGSWITCH_HOST_CLI_OPTIONS_H
#define REGSWITCH_HOST_CLI_OPTIONS_H

#include <string>

namespace hostreg {

extern const char kUsage[];

struct Options {
  bool help = false;
  bool haveRegistry = false;
  std::string registryPath;
  bool dryRun = false;
  // Everything from the first argument that is no option (or after "--"),
  // joined with single spaces. The registry file is never part of it: a
  // path such as /home/... would read as the help switch /H.
  std::string tail;
};

// False for a usage error, with `message` to print.
bool ParseOptions(int argc, const char* const* argv, Options& options,
                  std::string& message);

}  // namespace hostreg

#endif
