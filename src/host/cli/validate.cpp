// The usage rules of the host program's options taken together.
#include <string>
#include <vector>

#include "host/cli/options.h"
#include "host/program/program.h"

namespace hostreg {

namespace {

const char kSwitchList[] =
    "switches are /SSP, /DDC, /CDP, /DMA, /DIN and /ACS (or with - for /), "
    ":1 or =1 behind one for on; words after -- are taken as they are";

// One registry: a file or an image; a partition only of an image; USER.DAT
// only beside a registry file.
std::string Registries(const Options& o) {
  if (o.haveImage && o.haveRegistry)
    return "--image and --registry name two registries; give one";
  if (o.partition != 0 && !o.haveImage)
    return "--partition goes with --image";
  if (o.haveUser && o.haveImage)
    return "--user goes with --registry, not --image: a merge reaches the "
           "USER.DAT of the image's Windows folder by itself";
  return std::string();
}

// A word given as switch text that holds no switch is a typo, an option
// with one dash too few, a value that lost its switch, or a second file.
std::string NoSwitch(const Options& o, const std::string& word,
                     const std::string& before) {
  const std::string head = word + " is no switch: ";
  if (word == "-n") return head + "for a dry run, type --dry-run";
  if (word.size() > 2 && word[0] == '-' && word[1] != '-' &&
      IsOptionName("-" + word))
    return head + "did you mean -" + word + "?";
  if (!before.empty() && HoldsSwitch(before) && before.find_first_of(":=") ==
                                                    std::string::npos)
    return head + "a switch's value goes right behind it, as " + before +
           ":" + word;
  const bool fileLike = word.find('.') != std::string::npos ||
                        word.find('/', 1) != std::string::npos;
  if (fileLike && (o.haveImage || o.haveRegistry))
    return head + (o.haveImage ? "a second disk image? --image takes one; "
                                 "run regswitch once for each image"
                               : "a second registry file? --registry takes "
                                 "one; run regswitch once for each file");
  return head + kSwitchList;
}

std::string Words(const Options& o) {
  for (size_t i = 0; i < o.switchWords.size(); ++i)
    if (!HoldsSwitch(o.switchWords[i]))
      return NoSwitch(o, o.switchWords[i], i > 0 ? o.switchWords[i - 1] : "");
  return std::string();
}

// --show reads a file as it is and runs no switch.
std::string Show(const Options& o) {
  if (!o.show) return std::string();
  if (!o.haveRegistry && !o.haveImage)
    return "--show needs --registry FILE or --image DISK";
  if (o.dryRun) return "--show changes nothing; leave out --dry-run";
  if (!o.tail.empty())
    return "--show takes no switches (run them without --show)";
  if (!o.mergePaths.empty() || o.haveUser)
    return "--show looks at a file as it is; run it without --merge and "
           "--user";
  return std::string();
}

// A merge needs a registry to go into, and USER.DAT a merge to take.
std::string Merges(const Options& o) {
  if (o.haveImage || o.haveRegistry) return std::string();
  if (!o.mergePaths.empty() && !o.haveUser && !o.haveClasses)
    return "--merge needs a registry file to merge into: --registry FILE, "
           "--user FILE or both";
  if (o.mergePaths.empty() && o.haveUser && !o.haveExport)
    return "--user needs --merge FILE.reg (or --registry)";
  return std::string();
}

// CLASSES.DAT is a file that merges reach, or that an export writes.
std::string Classes(const Options& o) {
  if (!o.haveClasses) return std::string();
  if (o.haveImage)
    return "--classes goes with --registry, not --image: a disk image's "
           "CLASSES.DAT is not reached yet; copy it out with mtools, merge "
           "into the copy, and copy it back";
  if (o.show) return "--show looks at the machine's registry; leave out --classes";
  if (o.mergePaths.empty() && !o.haveExport)
    return "--classes needs --merge FILE.reg (or --export)";
  return std::string();
}

// An export writes the registry files as they are, and nothing else.
std::string Export(const Options& o) {
  if (!o.haveExport) return std::string();
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
  return std::string();
}

// A backup is kept before a save.
std::string Backup(const Options& o) {
  if (!o.backup) return std::string();
  if (o.haveImage)
    return "--backup goes with --registry: for a disk image, keep a copy of "
           "the image itself (cp --sparse=always DISK DISK.bak)";
  if (o.dryRun || o.show || o.haveExport)
    return "--backup keeps a file as it was before a save, and this run "
           "saves nothing; leave out --backup";
  return std::string();
}

// Switch text that opens a key needs the machine's registry.
std::string Switches(const Options& o) {
  if (o.haveRegistry || o.haveImage || !NeedsRegistry(o.tail))
    return std::string();
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
  for (std::string (*rule)(const Options&) :
       {Registries, Words, Show, Merges, Classes, Export, Backup, Switches}) {
    why = rule(options);
    if (!why.empty()) return false;
  }
  const bool files =
      options.haveRegistry || options.haveUser || options.haveClasses;
  options.kind = options.haveImage ? RunKind::kImage
                 : files           ? RunKind::kFiles
                                   : RunKind::kSwitches;
  return true;
}

}  // namespace hostreg
