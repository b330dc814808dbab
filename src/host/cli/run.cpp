#include "host/cli/run.h"

#include <string>

#include "host/cli/options.h"
#include "host/cli/runs.h"
#include "host/program/switch_text.h"
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
  if (options.kind != RunKind::kHelp && options.kind != RunKind::kVersion)
    for (const std::string& warning : SwitchTextWarnings(options.tail))
      messages.Say(warning);
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
