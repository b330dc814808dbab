// The run on registry files: the machine's (--registry), the user's
// (--user) and Windows Me's classes (--classes), their merges, the
// switches, then --show, --export, the dry run or the save. A command
// line without a file runs its switches over none.
#include <sys/stat.h>

#include <memory>

#include "host/cli/run.h"
#include "host/cli/runs.h"
#include "host/files/replace_file.h"
#include "host/session/session.h"

namespace hostreg {

namespace {

// The same file given twice (by name or through a link) would wait for its
// own lock.
bool SameFile(Platform& platform, const std::string& a, const std::string& b) {
  struct stat first, second;
  return platform.StatPath(a.c_str(), &first) == 0 &&
         platform.StatPath(b.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

// Two of the registry files that are one.
bool FilesApart(const Options& options, Platform& platform,
                Messages& messages) {
  const struct {
    bool given;
    const std::string& path;
    const char* takes;
  } files[] = {{options.haveRegistry, options.registryPath,
                "--registry takes SYSTEM.DAT"},
               {options.haveUser, options.userPath, "--user USER.DAT"},
               {options.haveClasses, options.classesPath,
                "--classes CLASSES.DAT"}};
  for (size_t i = 0; i < 3; ++i) {
    for (size_t j = i + 1; j < 3; ++j) {
      if (!files[i].given || !files[j].given ||
          !SameFile(platform, files[i].path, files[j].path))
        continue;
      messages.Say(files[i].path + " and " + files[j].path +
                   " are the same file: " + files[i].takes + ", " +
                   files[j].takes + "; nothing was changed");
      return false;
    }
  }
  return true;
}

// --export's file: never one of the files it reads.
bool WriteExport(const Options& options, Platform& platform,
                 const std::string& text, std::ostream& out,
                 Messages& messages) {
  if (options.exportPath == "-") {
    out << text;
    return true;
  }
  for (const std::string* source :
       {&options.registryPath, &options.userPath, &options.classesPath}) {
    if (source->empty() || !SameFile(platform, *source, options.exportPath))
      continue;
    messages.Say(options.exportPath + ": is " + *source +
                 ", which --export reads; give the export another name");
    return false;
  }
  std::string error;
  if (WriteWholeFile(platform, options.exportPath, text, error)) return true;
  messages.Say(options.exportPath + ": " + error);
  return false;
}

}  // namespace

int RunOnFiles(const Options& options, Platform& platform, std::ostream& out,
               Messages& messages) {
  if (!FilesApart(options, platform, messages)) return kExitFailure;
  const bool readOnly = options.dryRun || options.show || options.haveExport;
  // The stores outlive the session that reads them.
  std::unique_ptr<FileStore> machine, users, classes;
  RegistrySession session(platform, messages);
  const struct {
    bool given;
    const std::string& path;
    RegistrySession::Root root;
    std::unique_ptr<FileStore>& store;
  } files[] = {
      {options.haveRegistry, options.registryPath,
       RegistrySession::Root::kMachine, machine},
      {options.haveUser, options.userPath, RegistrySession::Root::kUsers,
       users},
      {options.haveClasses, options.classesPath,
       RegistrySession::Root::kClasses, classes},
  };
  for (const auto& file : files) {
    if (!file.given) continue;
    file.store = std::make_unique<FileStore>(platform, file.path);
    if (options.backup) file.store->KeepBackups();
    if (!session.Open(file.root, *file.store, readOnly)) return kExitFailure;
  }
  std::string text;
  if (options.haveExport)
    return session.Export(text) &&
                   WriteExport(options, platform, text, out, messages)
               ? 0
               : kExitFailure;
  if (options.show) {
    if (!session.Show(text)) return kExitFailure;
    out << text;
    return 0;
  }
  for (const std::string& path : options.mergePaths)
    if (!session.Merge(path)) return kExitFailure;
  session.RunSwitches(options.tail, out, options.verbose, HostAboutText());
  if (options.dryRun) {
    if (!session.Describe(text)) return kExitFailure;
    out << text;
    return 0;
  }
  bool saved;
  return session.Save(saved) ? 0 : kExitFailure;
}

}  // namespace hostreg
