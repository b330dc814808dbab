#include "host/cli/run.h"

#include <memory>
#include <string>
#include <vector>

#include "core/front/front.h"
#include "host/cli/options.h"
#include "host/files/fault_guard.h"
#include "host/formats/open_file.h"
#include "host/registry/about_box.h"
#include "host/registry/machine.h"

namespace hostreg {

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitFile = 2;

// WinMain over the machine, with the tail as Windows would give it: a
// writable string ending in a zero byte.
void RunFrontEnd(Machine& machine, const std::string& tail) {
  std::vector<char> writable(tail.begin(), tail.end());
  writable.push_back('\0');
  MachineScope scope(machine);
  WinMain(nullptr, nullptr, writable.data(), 1);
}

class HostRun {
 public:
  HostRun(const Options& options, std::ostream& out, std::ostream& err,
          const SystemCalls& calls)
      : options_(options), out_(out), err_(err), calls_(calls) {}

  int Run(RunReport* report);

 private:
  bool Load();
  int Finish(RunReport* report);

  const Options& options_;
  std::ostream& out_;
  std::ostream& err_;
  const SystemCalls& calls_;
  Registry registry_;
  std::unique_ptr<RegistryFile> file_;
};

bool HostRun::Load() {
  std::string error;
  file_ = LoadRegistryFile(options_.registryPath, registry_, calls_, error);
  if (!file_) {
    err_ << "regswitch: " << error << "\n";
    return false;
  }
  for (const std::string& note : file_->Warnings())
    err_ << "regswitch: " << note << "\n";
  return true;
}

int HostRun::Run(RunReport* report) {
  // Every read of a mapped file happens while this lives.
  std::unique_ptr<MappedFileFaultGuard> faultGuard;
  if (options_.haveRegistry) {
    faultGuard = std::make_unique<MappedFileFaultGuard>(options_.registryPath,
                                                        kExitFile);
    if (!Load()) return kExitFile;
  }
  // The about box goes to the run's own output.
  Machine machine(options_.haveRegistry ? &registry_ : nullptr,
                  [this](const char* text, const char* caption, UINT type) {
                    out_ << RenderMessageBox(text, caption, type) << std::flush;
                  });
  RunFrontEnd(machine, options_.tail);
  if (report != nullptr && machine.handles() != nullptr)
    report->openHandlesAtEnd = machine.handles()->Count();
  if (machine.RegistryWanted()) {
    err_ << "regswitch: these switches change a registry; name its file "
            "with --registry FILE\n";
    return kExitUsage;
  }
  return Finish(report);
}

// Prints the changes for a dry run, else saves them.
int HostRun::Finish(RunReport* report) {
  if (!file_) return 0;
  if (options_.dryRun) {
    out_ << file_->DescribeChanges(registry_);
    return 0;
  }
  if (!registry_.values().Changed()) return 0;
  std::string error;
  if (!SaveRegistryFile(options_.registryPath, *file_, registry_, calls_,
                        error)) {
    err_ << "regswitch: " << options_.registryPath << ": " << error
         << "; the file was left as it was\n";
    return kExitFile;
  }
  if (report != nullptr) report->saved = true;
  return 0;
}

}  // namespace

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
    out << kUsage;
    return 0;
  }
  return HostRun(options, out, err, calls).Run(report);
}

}  // namespace hostreg
