#include "host/cli/options.h"

namespace hostreg {

const char kUsage[] =
    "usage: regswitch --registry FILE [--dry-run] [--] SWITCH...\n"
    "       regswitch /?\n"
    "\n"
    "Applies Windows 95 machine setting switches to a registry file instead\n"
    "of the live registry: a .reg export (REGEDIT4, or Version 5.00 in\n"
    "UTF-16) or a Windows 9x SYSTEM.DAT. Switches, in any case,\n"
    "each with :1 or =1 for on and anything else for off:\n"
    "  /SSP  APM suspend on the Start menu      /DMA  IDE DMA for both drives\n"
    "  /DDC  display DDC                        /DIN  DeskMgmt installed marker\n"
    "  /CDP  CD-ROM auto-insert notification    /ACS  reset AC drive spin-down\n"
    "Options:\n"
    "  --registry FILE   the registry file to change (saved only if a value\n"
    "                    changes, atomically, in its own format)\n"
    "  --dry-run         print the changes as a .reg fragment, save nothing\n"
    "  --help            this text; /? shows the program's about box\n";

namespace {

const char kRegistryOption[] = "--registry";
const char kRegistryEquals[] = "--registry=";

}  // namespace

bool ParseOptions(int argc, const char* const* argv, Options& options,
                  std::string& message) {
  if (argc <= 1) {
    message = kUsage;
    return false;
  }
  int i = 1;
  for (; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--") {
      ++i;
      break;
    }
    if (arg == kRegistryOption) {
      if (i + 1 >= argc) {
        message = "regswitch: --registry needs a file name\n" +
                  std::string(kUsage);
        return false;
      }
      options.registryPath = argv[++i];
      options.haveRegistry = true;
    } else if (arg.compare(0, sizeof kRegistryEquals - 1, kRegistryEquals) ==
               0) {
      options.registryPath = arg.substr(sizeof kRegistryEquals - 1);
      options.haveRegistry = true;
    } else if (arg == "--dry-run") {
      options.dryRun = true;
    } else if (arg == "--help") {
      options.help = true;
      return true;
    } else {
      break;  // the tail starts here
    }
  }
  if (options.haveRegistry && options.registryPath.empty()) {
    message = "regswitch: --registry needs a file name\n";
    return false;
  }
  for (int j = i; j < argc; ++j) {
    if (j > i) options.tail += ' ';
    options.tail += argv[j];
  }
  return true;
}

}  // namespace hostreg
