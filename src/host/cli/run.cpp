#include "host/cli/run.h"

#include <memory>
#include <string>
#include <vector>

#include "host/cli/image_run.h"
#include "host/cli/merge_run.h"
#include "host/cli/options.h"
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

namespace {

class HostRun {
 public:
  HostRun(const Options& options, std::ostream& out, std::ostream& err,
          const SystemCalls& calls)
      : options_(options),
        out_(out),
        err_(err),
        calls_(calls),
        locked_(calls) {}

  int Run(RunReport* report);

 private:
  bool Lock();
  bool Load();
  int Show();
  int Finish(RunReport* report);
  void Complain(const std::string& text) { hostreg::Complain(err_, text); }

  const Options& options_;
  std::ostream& out_;
  std::ostream& err_;
  const SystemCalls& calls_;
  LockedFile locked_;
  Registry registry_;
  std::unique_ptr<RegistryFile> file_;
};

// Held from before loading until after saving, so that runs on one file
// take turns and none saves over another's change.
bool HostRun::Lock() {
  const std::string& path = options_.registryPath;
  LockedFile::Waiting waiting{kLockWaitMilliseconds, [this, &path] {
                                Complain(path +
                                         ": waiting for another run to "
                                         "finish with the file");
                              }};
  std::string error;
  if (locked_.Acquire(path,
                      options_.dryRun || options_.show
                          ? LockedFile::Access::kRead
                          : LockedFile::Access::kWrite,
                      waiting, error))
    return true;
  Complain(error);
  return false;
}

bool HostRun::Load() {
  std::string error;
  file_ = LoadRegistryFile(options_.registryPath, registry_, calls_, error);
  if (!file_) {
    Complain(error);
    return false;
  }
  for (const std::string& note : file_->Warnings()) Complain(note);
  return true;
}

int HostRun::Run(RunReport* report) {
  // Every read of a mapped file happens while this lives.
  std::unique_ptr<MappedFileFaultGuard> faultGuard;
  if (options_.haveRegistry) {
    faultGuard = std::make_unique<MappedFileFaultGuard>(options_.registryPath,
                                                        kExitFile);
    if (!Lock() || !Load()) return kExitFile;
    if (options_.show) return Show();
  }
  // The about box goes to the run's own output.
  Machine machine(options_.haveRegistry ? &registry_ : nullptr,
                  [this](const char* text, const char* caption, UINT type) {
                    out_ << RenderMessageBox(text, caption, type) << std::flush;
                  });
  RunCommandLine(machine, options_.tail);
  if (report != nullptr && machine.handles() != nullptr)
    report->openHandlesAtEnd = machine.handles()->Count();
  if (machine.RegistryWanted()) {
    Complain("these switches change a registry; name its file with "
             "--registry FILE, or a disk image with --image DISK");
    return kExitUsage;
  }
  return Finish(report);
}

// The settings as the file holds them, printed only while the file is still
// the one that was read: a file rewritten meanwhile could show a mixture.
int HostRun::Show() {
  const std::string text = SettingsText(registry_, FindSettings(registry_));
  std::string error;
  if (!locked_.Unchanged(error)) {
    Complain(options_.registryPath + ": " + error + "; run again to see it");
    return kExitFile;
  }
  out_ << text;
  return 0;
}

// Prints the changes for a dry run, else saves them; either only while the
// file is still the one that was read.
int HostRun::Finish(RunReport* report) {
  if (!file_) return 0;
  const std::string& path = options_.registryPath;
  std::string error;
  if (options_.dryRun) {
    const std::string changes = file_->DescribeChanges(registry_);
    if (!changes.empty() && !locked_.Unchanged(error)) {
      Complain(path + ": " + error + "; run again to see its changes");
      return kExitFile;
    }
    // First, so that the preview never promises what a save would refuse.
    const std::string refusal = file_->SaveRefusal(registry_);
    if (!refusal.empty())
      Complain(path + ": a save would be refused: " + refusal);
    out_ << changes;
    return 0;
  }
  if (!HasChanges(registry_)) return 0;
  if (!SaveRegistryFile(path, *file_, registry_, calls_, error, &locked_)) {
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
