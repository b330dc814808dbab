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
    return "--user goes with --registry, not --image: copy the image's "
           "USER.DAT out to merge into it";
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
  if (!o.mergePaths.empty() && !o.haveUser && !o.haveClasses)
    return "--merge needs a registry file to merge into: --registry FILE, "
           "--user FILE or both";
  if (o.mergePaths.empty() && o.haveUser && !o.haveExport)
    return "--user needs --merge FILE.reg (or --registry)";
  return nullptr;
}

// CLASSES.DAT is a file that merges reach, or that an export writes.
const char* Classes(const Options& o) {
  if (!o.haveClasses) return nullptr;
  if (o.haveImage)
    return "--classes goes with --registry, not --image: a disk image's "
           "CLASSES.DAT is not reached yet; copy it out with mtools, merge "
           "into the copy, and copy it back";
  if (o.show) return "--show looks at the machine's registry; leave out --classes";
  if (o.mergePaths.empty() && !o.haveExport)
    return "--classes needs --merge FILE.reg (or --export)";
  return nullptr;
}

// An export writes the registry files as they are, and nothing else.
const char* Export(const Options& o) {
  if (!o.haveExport) return nullptr;
  if (o.haveImage)
    return "--export goes with --registry, not --image: a disk image's "
           "SYSTEM.DAT is not exported yet; copy it out with mtools (mcopy) "
           "and export the copy";
  if (!o.haveRegistry && !o.haveUser && !o.haveClasses)
    return "--export needs the registry files to write: --registry FILE, "
           "--user FILE or both";
  if (o.show) return "--export and --show both read the file as it is; give one";
  if (o.dryRun || !o.mergePaths.empty() || !o.tail.empty())
    return "--export writes the files as they are: run merges and switches "
           "without it, then export";
  return nullptr;
}

// A backup is kept before a save.
const char* Backup(const Options& o) {
  if (!o.backup) return nullptr;
  if (o.haveImage)
    return "--backup goes with --registry: for a disk image, keep a copy of "
           "the image itself (cp --sparse=always DISK DISK.bak)";
  if (o.dryRun || o.show || o.haveExport)
    return "--backup keeps a file as it was before a save, and this run "
           "saves nothing; leave out --backup";
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
       {Registries, Show, Merges, Classes, Export, Backup, Switches}) {
    if (const char* broken = rule(options)) {
      why = broken;
      return false;
    }
  }
  const bool files =
      options.haveRegistry || options.haveUser || options.haveClasses;
  options.kind = options.haveImage ? RunKind::kImage
                 : files           ? RunKind::kFiles
                                   : RunKind::kSwitches;
  return true;
}

}  // namespace hostreg
