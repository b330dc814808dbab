// The usage rules of the host program's options taken together.
#include "host/cli/options.h"
#include "host/program/program.h"

namespace hostreg {

namespace {

// One registry: a file or an image; a partition only of an image; USER.DAT
// only beside a registry file.
const char* Registries(const Options& o) {
  if (o.haveImage && o.haveRegistry)
    return "--image and --registry name two registries; give one";
  if (o.partition != 0 && !o.haveImage)
    return "--partition goes with --image";
  if (o.haveUser && o.haveImage)
    return "--user goes with --registry, not --image: a merge reaches the "
           "USER.DAT of the image's Windows folder by itself";
  return nullptr;
}

// --show reads a file as it is and runs no switch.
const char* Show(const Options& o) {
  if (!o.show) return nullptr;
  if (!o.haveRegistry && !o.haveImage)
    return "--show needs --registry FILE or --image DISK";
  if (o.dryRun) return "--show changes nothing; leave out --dry-run";
  if (!o.tail.empty())
    return "--show takes no switches (run them without --show)";
  if (!o.mergePaths.empty() || o.haveUser)
    return "--show looks at a file as it is; run it without --merge and "
           "--user";
  return nullptr;
}

// A merge needs a registry to go into, and USER.DAT a merge to take.
const char* Merges(const Options& o) {
  if (o.haveImage || o.haveRegistry) return nullptr;
  if (!o.mergePaths.empty() && !o.haveUser)
    return "--merge needs a registry file to merge into: --registry FILE, "
           "--user FILE or both";
  if (o.mergePaths.empty() && o.haveUser)
    return "--user needs --merge FILE.reg (or --registry)";
  return nullptr;
}

// Switch text that opens a key needs the machine's registry.
const char* Switches(const Options& o) {
  if (o.haveRegistry || o.haveImage || !NeedsRegistry(o.tail)) return nullptr;
  return o.haveUser ? "these switches change a registry; name its file with "
                      "--registry FILE"
                    : "these switches change a registry; name its file with "
                      "--registry FILE, or a disk image with --image DISK";
}

}  // namespace

bool ValidateOptions(Options& options, std::string& why) {
  if (options.help || options.version) {
    options.kind = options.help ? RunKind::kHelp : RunKind::kVersion;
    return true;
  }
  for (const char* (*rule)(const Options&) :
       {Registries, Show, Merges, Switches}) {
    if (const char* broken = rule(options)) {
      why = broken;
      return false;
    }
  }
  options.kind = options.haveImage                             ? RunKind::kImage
                 : options.haveRegistry || options.haveUser ? RunKind::kFiles
                                                            : RunKind::kSwitches;
  return true;
}

}  // namespace hostreg
