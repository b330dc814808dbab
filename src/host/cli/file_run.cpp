// The run on registry files: the machine's (--registry) and the user's
// (--user), their merges, the switches, then --show, the dry run or the
// save. A command line without a file runs its switches over none.
#include <sys/stat.h>

#include <memory>

#include "host/cli/run.h"
#include "host/cli/runs.h"
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

}  // namespace

int RunOnFiles(const Options& options, Platform& platform, std::ostream& out,
               Messages& messages) {
  if (options.haveRegistry && options.haveUser &&
      SameFile(platform, options.registryPath, options.userPath)) {
    messages.Say(options.registryPath + " and " + options.userPath +
                 " are the same file: --registry takes SYSTEM.DAT, --user "
                 "USER.DAT; nothing was changed");
    return kExitFailure;
  }
  const bool readOnly = options.dryRun || options.show;
  // The stores outlive the session that reads them.
  std::unique_ptr<FileStore> machine, users;
  RegistrySession session(platform, messages);
  if (options.haveRegistry) {
    machine = std::make_unique<FileStore>(platform, options.registryPath);
    if (!session.Open(RegistrySession::Root::kMachine, *machine, readOnly))
      return kExitFailure;
  }
  if (options.haveUser) {
    users = std::make_unique<FileStore>(platform, options.userPath);
    if (!session.Open(RegistrySession::Root::kUsers, *users, readOnly))
      return kExitFailure;
  }
  std::string text;
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
