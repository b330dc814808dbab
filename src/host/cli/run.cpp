#include "host/cli/run.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/front/front.h"
#include "host/registry/registry.h"
#include "host/formats/storage.h"

namespace hostreg {

namespace {

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

constexpr int kExitUsage = 2;
constexpr int kExitFile = 2;

// Where the about box goes during a run: the run's own standard output.
std::ostream* gBoxOut = nullptr;
void PrintBox(const char* text, const char* caption, UINT type) {
  *gBoxOut << RenderMessageBox(text, caption, type) << std::flush;
}

// Sets up the registry and the about box for one run and restores the
// defaults whatever way the run ends.
struct RunScope {
  RunScope(Registry* registry, std::ostream& out) {
    SetCurrentRegistry(registry);
    gBoxOut = &out;
    SetMessageBoxHandler(PrintBox);
  }
  ~RunScope() {
    SetCurrentRegistry(nullptr);
    SetMessageBoxHandler(nullptr);
    gBoxOut = nullptr;
  }
};

// Built before the handler is installed: the handler itself may only write
// and exit.
char gFaultMessage[1024];
size_t gFaultLength = 0;

void OnMappedFileFault(int) {
  ssize_t ignored = ::write(2, gFaultMessage, gFaultLength);
  (void)ignored;
  ::_exit(kExitFile);
}

}  // namespace

MappedFileFaultGuard::MappedFileFaultGuard(const std::string& path) {
  const std::string message =
      "regswitch: " + path +
      ": the file was shortened by another program while it was being read; "
      "stopped\n";
  gFaultLength = std::min(message.size(), sizeof gFaultMessage);
  std::memcpy(gFaultMessage, message.data(), gFaultLength);
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = OnMappedFileFault;
  sigemptyset(&action.sa_mask);
  sigaction(SIGBUS, &action, &previous_);
}

MappedFileFaultGuard::~MappedFileFaultGuard() {
  sigaction(SIGBUS, &previous_, nullptr);
}

int RunHostProgram(int argc, const char* const* argv, std::ostream& out,
                   std::ostream& err, RunReport* report) {
  std::string registryPath;
  bool haveRegistry = false;
  bool dryRun = false;
  int i = 1;
  for (; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--") {
      ++i;
      break;
    }
    if (arg == "--registry") {
      if (i + 1 >= argc) {
        err << "regswitch: --registry needs a file name\n" << kUsage;
        return kExitUsage;
      }
      registryPath = argv[++i];
      haveRegistry = true;
    } else if (arg.compare(0, 11, "--registry=") == 0) {
      registryPath = arg.substr(11);
      haveRegistry = true;
    } else if (arg == "--dry-run") {
      dryRun = true;
    } else if (arg == "--help") {
      out << kUsage;
      return 0;
    } else {
      break;  // the tail starts here
    }
  }
  if (argc <= 1) {
    err << kUsage;
    return kExitUsage;
  }
  if (haveRegistry && registryPath.empty()) {
    err << "regswitch: --registry needs a file name\n";
    return kExitUsage;
  }

  std::string tail;
  for (int j = i; j < argc; ++j) {
    if (j > i) tail += ' ';
    tail += argv[j];
  }
  std::vector<char> writable(tail.begin(), tail.end());
  writable.push_back('\0');

  Registry registry;
  std::unique_ptr<Storage> storage;
  std::unique_ptr<MappedFileFaultGuard> faultGuard;
  if (haveRegistry) {
    faultGuard = std::make_unique<MappedFileFaultGuard>(registryPath);
    std::string error;
    storage = LoadRegistryFile(registryPath, registry, error);
    if (!storage) {
      err << "regswitch: " << error << "\n";
      return kExitFile;
    }
  }

  {
    RunScope scope(haveRegistry ? &registry : nullptr, out);
    ResetRegistryNeeded();
    WinMain(nullptr, nullptr, writable.data(), 1);
    if (report != nullptr) report->openHandlesAtEnd = registry.OpenHandleCount();
    if (!haveRegistry && RegistryNeeded()) {
      err << "regswitch: these switches change a registry; name its file "
             "with --registry FILE\n";
      return kExitUsage;
    }
  }

  if (dryRun && storage) {
    out << storage->DescribeChanges(registry);
    return 0;
  }
  if (haveRegistry && registry.Changed()) {
    std::string error;
    if (!storage->Save(registry, error)) {
      err << "regswitch: " << error << "\n";
      return kExitFile;
    }
    if (report != nullptr) report->saved = true;
  }
  return 0;
}

}  // namespace hostreg
