// One registry file of a run, from its lock to its save, and the lock that
// every run (on a file or a disk image) takes the same way.
#ifndef REGSWITCH_HOST_CLI_REGISTRY_TARGET_H
#define REGSWITCH_HOST_CLI_REGISTRY_TARGET_H

#include <memory>
#include <ostream>
#include <string>
#include <string_view>

#include "host/files/locked_file.h"
#include "host/files/system_calls.h"
#include "host/formats/registry_file.h"
#include "host/registry/registry.h"

namespace hostreg {

// Takes the lock on `path`, shared when the run only reads. While another
// run holds it, says so once on `err`, naming `what` is waited for; false,
// said on `err`, when the lock cannot be had.
bool LockForRun(LockedFile& locked, const std::string& path, bool readOnly,
                const char* what, std::ostream& err);

// Locked from before loading until after saving, so that runs on one file
// take turns and none saves over another's change.
struct RegistryTarget {
  RegistryTarget(std::string path, std::string_view root,
                 const SystemCalls& calls)
      : path(std::move(path)), registry(root), locked(calls) {}

  // Locks and loads the file; the loader's notes and any failure go to
  // `err`.
  bool Open(bool readOnly, const SystemCalls& calls, std::ostream& err);
  // For a dry run: the changes as a .reg fragment, empty for none. False,
  // said on `err`, when the file is no longer the one that was read.
  bool DescribeChanges(std::ostream& err, std::string& changes) const;
  // Says on `err` when a save would be refused, before a dry run prints its
  // changes, so that the preview never promises what a save would refuse.
  void WarnOfRefusal(std::ostream& err) const;

  std::string path;
  Registry registry;
  LockedFile locked;
  std::unique_ptr<RegistryFile> file;
};

}  // namespace hostreg

#endif
