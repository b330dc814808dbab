#include "host/cli/run.h"

#include <memory>
#include <string>
#include <vector>

#include "host/cli/image_run.h"
#include "host/cli/merge_run.h"
#include "host/cli/options.h"
#include "host/cli/registry_target.h"
#include "host/files/fault_guard.h"
#include "host/files/locked_file.h"
#include "host/files/printable.h"
#include "host/formats/changes.h"
#include "host/formats/open_file.h"
#include "host/registry/about_box.h"
#include "host/registry/machine.h"
#include "host/show/settings.h"

namespace hostreg {

void Complain(std::ostream& err, const std::string& text) {
  err << "regswitch: " << Printable(text) << "\n" << std::flush;
}

bool RunSwitches(Registry* registry, const std::string& tail,
                 std::ostream& out, RunReport* report) {
  // The about box goes to the run's own output.
  Machine machine(registry,
                  [&out](const char* text, const char* caption, UINT type) {
                    out << RenderMessageBox(text, caption, type) << std::flush;
                  });
  RunCommandLine(machine, tail);
  if (report != nullptr && machine.handles() != nullptr)
    report->openHandlesAtEnd = machine.handles()->Count();
  return !machine.RegistryWanted();
}

namespace {

class HostRun {
 public:
  HostRun(const Options& options, std::ostream& out, std::ostream& err,
          const SystemCalls& calls)
      : options_(options),
        out_(out),
        err_(err),
        calls_(calls),
        target_(options.registryPath, "HKEY_LOCAL_MACHINE", calls) {}

  int Run(RunReport* report);

 private:
  int Show();
  int Finish(RunReport* report);
  void Complain(const std::string& text) { hostreg::Complain(err_, text); }

  const Options& options_;
  std::ostream& out_;
  std::ostream& err_;
  const SystemCalls& calls_;
  RegistryTarget target_;
};

int HostRun::Run(RunReport* report) {
  // Every read of a mapped file happens while this lives.
  std::unique_ptr<MappedFileFaultGuard> faultGuard;
  if (options_.haveRegistry) {
    faultGuard = std::make_unique<MappedFileFaultGuard>(options_.registryPath,
                                                        kExitFile);
    if (!target_.Open(options_.dryRun || options_.show, calls_, err_))
      return kExitFile;
    if (options_.show) return Show();
  }
  if (!RunSwitches(options_.haveRegistry ? &target_.registry : nullptr,
                   options_.tail, out_, report)) {
    Complain("these switches change a registry; name its file with "
             "--registry FILE, or a disk image with --image DISK");
    return kExitUsage;
  }
  return Finish(report);
}

// The settings as the file holds them, printed only while the file is still
// the one that was read: a file rewritten meanwhile could show a mixture.
int HostRun::Show() {
  Registry& registry = target_.registry;
  const std::string text = SettingsText(registry, FindSettings(registry));
  std::string error;
  if (!target_.locked.Unchanged(error)) {
    Complain(options_.registryPath + ": " + error + "; run again to see it");
    return kExitFile;
  }
  out_ << text;
  return 0;
}

// Prints the changes for a dry run, else saves them; either only while the
// file is still the one that was read.
int HostRun::Finish(RunReport* report) {
  if (!target_.file) return 0;
  if (options_.dryRun) {
    std::string changes;
    if (!target_.DescribeChanges(err_, changes)) return kExitFile;
    target_.WarnOfRefusal(err_);
    out_ << changes;
    return 0;
  }
  if (!HasChanges(target_.registry)) return 0;
  const std::string& path = options_.registryPath;
  std::string error;
  if (!SaveRegistryFile(path, *target_.file, target_.registry, calls_, error,
                        &target_.locked)) {
    Complain(path + ": " + error + "; the file was left as it was");
    return kExitFile;
  }
  if (report != nullptr) report->saved = true;
  return 0;
}

}  // namespace

int RunOnRegistryFile(const Options& options, std::ostream& out,
                      std::ostream& err, const SystemCalls& calls,
                      RunReport* report) {
  if (!options.mergePaths.empty() || options.haveUser)
    return RunMerge(options, out, err, calls, report);
  return HostRun(options, out, err, calls).Run(report);
}

int RunHostProgram(int argc, const char* const* argv, std::ostream& out,
                   std::ostream& err, const SystemCalls& calls,
                   RunReport* report) {
  Options options;
  std::string message;
  if (!ParseOptions(argc, argv, options, message)) {
    err << message;
    return kExitUsage;
  }
  if (options.help) {
    out << UsageText();
    return 0;
  }
  if (options.version) {
    out << VersionText();
    return 0;
  }
  if (options.haveImage)
    return RunOnImage(options, out, err, calls, report);
  return RunOnRegistryFile(options, out, err, calls, report);
}

}  // namespace hostreg
