#include "host/cli/run.h"

#include <string>

#include "host/cli/options.h"
#include "host/cli/runs.h"
#include "host/session/messages.h"

namespace hostreg {

int RunHostProgram(int argc, const char* const* argv, std::ostream& out,
                   std::ostream& err, Platform& platform) {
  Options options;
  std::string message;
  if (!ParseOptions(argc, argv, options, message)) {
    err << message;
    return kExitFailure;
  }
  Messages messages(err, platform);
  switch (options.kind) {
    case RunKind::kHelp: out << UsageText(); return 0;
    case RunKind::kVersion: out << VersionText(); return 0;
    case RunKind::kImage:
      return RunOnImage(options, platform, out, messages);
    case RunKind::kFiles:
    case RunKind::kSwitches:
      return RunOnFiles(options, platform, out, messages);
  }
  return kExitFailure;
}

}  // namespace hostreg
