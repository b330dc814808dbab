// The host program's command line: its own options, then the program's
// command line as Windows would pass it.
#ifndef REGSWITCH_HOST_CLI_OPTIONS_H
#define REGSWITCH_HOST_CLI_OPTIONS_H

#include <string>
#include <vector>

namespace hostreg {

// What a command line asks for, once its usage rules are met.
enum class RunKind {
  kHelp,
  kVersion,
  kSwitches,  // switch text that needs no registry: the about box, or none
  kFiles,     // --registry, --user, --merge: registry files
  kImage,     // --image: the SYSTEM.DAT in a disk image
};

struct Options {
  RunKind kind = RunKind::kSwitches;
  bool help = false;
  bool version = false;
  bool haveRegistry = false;
  std::string registryPath;
  bool dryRun = false;
  // --user: the USER.DAT (HKEY_USERS) that merges reach besides the
  // registry; --merge: .reg files applied to them first, in order.
  bool haveUser = false;
  std::string userPath;
  std::vector<std::string> mergePaths;
  // --classes: Windows Me's CLASSES.DAT (HKEY_CLASSES_ROOT), which merges
  // reach besides the registry.
  bool haveClasses = false;
  std::string classesPath;
  // --export: the registry files written as one REGEDIT4 file ("-":
  // standard output); --backup: each file saved is kept as it was first.
  bool haveExport = false;
  std::string exportPath;
  bool backup = false;
  bool show = false;
  // --image: a disk image whose Windows SYSTEM.DAT the run changes in
  // place; --partition: the partition that holds it (0: found).
  bool haveImage = false;
  std::string imagePath;
  int partition = 0;
  // -v: what each switch changed, on standard error.
  bool verbose = false;
  // Every argument that is no option, and everything after "--", joined
  // with single spaces. The registry file is never part of it: a path such
  // as /home/... would read as the help switch /H.
  std::string tail;
  // The arguments before "--" that went into the tail: each must hold a
  // switch, so that a typo is refused rather than read as switch text.
  std::vector<std::string> switchWords;
};

// The help text: synopsis, switches and options.
std::string UsageText();

// "regswitch VERSION", as --version prints it.
std::string VersionText();

// What the host program prints after the about box of /?: the switches
// and the version (the Windows program's box stays as it is).
std::string HostAboutText();

// Options are the words that start with "--", wherever they stand before a
// "--" of its own, and their short forms -h and -v; "-dma:1" and "/SSP"
// are switch text. False for a usage
// error (an unknown option, one given twice, a missing or unwanted value,
// options that do not go together: see ValidateOptions), with `message` to
// print.
bool ParseOptions(int argc, const char* const* argv, Options& options,
                  std::string& message);

// The usage rules of the options taken together, and the kind of run they
// make; false and the reason when they do not go together. Every rule of
// that kind is here.
bool ValidateOptions(Options& options, std::string& why);

// A usage error's message: the reason, the synopsis and where to look.
std::string UsageError(const std::string& why);

// Whether `name` ("--dry-run") is one of the options.
bool IsOptionName(const std::string& name);

}  // namespace hostreg

#endif
