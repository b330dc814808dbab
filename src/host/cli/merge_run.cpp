#include "host/cli/merge_run.h"

#include <memory>
#include <string>
#include <vector>

#include "host/cli/registry_target.h"
#include "host/files/fault_guard.h"
#include "host/files/read_file.h"
#include "host/files/replace_file.h"
#include "host/formats/changes.h"
#include "host/formats/merge/merge.h"
#include "host/formats/open_file.h"

namespace hostreg {

namespace {

class MergeRun {
 public:
  MergeRun(const Options& options, std::ostream& out, std::ostream& err,
           const SystemCalls& calls)
      : options_(options), out_(out), err_(err), calls_(calls) {}

  int Run(RunReport* report);

 private:
  bool Merge(const std::string& path, const MergeTargets& targets);
  int DryRun();
  int Save(RunReport* report);
  bool Restore(RegistryTarget& target);
  void Complain(const std::string& text) { hostreg::Complain(err_, text); }

  const Options& options_;
  std::ostream& out_;
  std::ostream& err_;
  const SystemCalls& calls_;
  // The registry file first, then the user file: every run locks them in
  // that order, so that two runs never wait for each other.
  std::vector<std::unique_ptr<RegistryTarget>> targets_;
};

bool MergeRun::Merge(const std::string& path, const MergeTargets& targets) {
  ReadableFile file(calls_);
  std::string bytes, error;
  if (!file.Open(path, error) || !file.ReadRest(bytes, error)) {
    Complain(error);
    return false;
  }
  SkipNotes notes(path);
  const bool applied =
      ApplyMerge(path, std::make_shared<const FileBytes>(std::move(bytes)),
                 targets, notes, error);
  for (const std::string& note : notes.Lines()) Complain(note);
  if (!applied) Complain(error);
  return applied;
}

int MergeRun::Run(RunReport* report) {
  if (options_.show) {
    err_ << "regswitch: --show looks at a file as it is; run it without "
            "--merge and --user\n";
    return kExitUsage;
  }
  if (!options_.haveRegistry && !options_.haveUser) {
    err_ << "regswitch: --merge needs a registry file to merge into: "
            "--registry FILE, --user FILE or both\n";
    return kExitUsage;
  }
  if (options_.mergePaths.empty() && !options_.haveRegistry) {
    err_ << "regswitch: --user needs --merge FILE.reg (or --registry)\n";
    return kExitUsage;
  }
  if (options_.haveRegistry)
    targets_.push_back(std::make_unique<RegistryTarget>(
        options_.registryPath, "HKEY_LOCAL_MACHINE", calls_));
  if (options_.haveUser)
    targets_.push_back(
        std::make_unique<RegistryTarget>(options_.userPath, "HKEY_USERS", calls_));
  MappedFileFaultGuard faultGuard(targets_.front()->path, kExitFile);
  for (auto& target : targets_)
    if (!target->Open(options_.dryRun, calls_, err_)) return kExitFile;
  MergeTargets reach;
  reach.machine = options_.haveRegistry ? &targets_.front()->registry : nullptr;
  reach.users = options_.haveUser ? &targets_.back()->registry : nullptr;
  for (const std::string& path : options_.mergePaths)
    if (!Merge(path, reach)) return kExitFile;
  if (!RunSwitches(reach.machine, options_.tail, out_, report)) {
    Complain("these switches change a registry; name its file with "
             "--registry FILE");
    return kExitUsage;
  }
  return options_.dryRun ? DryRun() : Save(report);
}

// Both files' changes as one fragment: the second file's header is left
// out.
int MergeRun::DryRun() {
  std::string shown;
  for (auto& target : targets_) {
    std::string changes;
    if (!target->DescribeChanges(err_, changes)) return kExitFile;
    if (changes.empty()) continue;
    target->WarnOfRefusal(err_);
    if (!shown.empty()) changes.erase(0, changes.find('\n') + 1);
    shown += changes;
  }
  out_ << shown;
  return 0;
}

// Each file is replaced whole or not at all. Everything that can be found
// wrong beforehand is, for both files, before either is written: what each
// would be refused for, and whether another program changed it. When the
// second save still fails, the first file gets its loaded bytes back.
int MergeRun::Save(RunReport* report) {
  std::vector<RegistryTarget*> changed;
  // Sized once: the pieces point into each rendering's own text.
  std::vector<Rendering> renderings(targets_.size());
  for (auto& target : targets_) {
    if (!HasChanges(target->registry)) continue;
    std::string error;
    Rendering& rendering = renderings[changed.size()];
    if (!target->file->Render(target->registry, rendering, error) ||
        !target->locked.Unchanged(error)) {
      Complain(target->path + ": " + error +
               "; nothing was saved, in this file or the other");
      return kExitFile;
    }
    changed.push_back(target.get());
  }
  for (size_t i = 0; i < changed.size(); ++i) {
    RegistryTarget& target = *changed[i];
    std::string error;
    if (SaveRendering(target.path, *target.file, renderings[i], calls_, error,
                      &target.locked))
      continue;
    Complain(target.path + ": " + error + "; the file was left as it was");
    if (i > 0 && !Restore(*changed[0])) return kExitFile;
    if (i > 0)
      Complain(changed[0]->path + ": put back as it was, so that neither "
               "file holds the merge");
    return kExitFile;
  }
  if (report != nullptr) report->saved = !changed.empty();
  return 0;
}

bool MergeRun::Restore(RegistryTarget& target) {
  std::string error;
  const std::vector<std::string_view> pieces{target.file->Original()};
  if (ReplaceFile(target.path, pieces, target.file->Source(), calls_, nullptr,
                  error))
    return true;
  Complain(target.path + ": holds the merge, but could not be put back as it "
           "was (" + error + "); the two files no longer match");
  return false;
}

}  // namespace

int RunMerge(const Options& options, std::ostream& out, std::ostream& err,
             const SystemCalls& calls, RunReport* report) {
  return MergeRun(options, out, err, calls).Run(report);
}

}  // namespace hostreg
