#include "host/cli/registry_target.h"

#include "host/cli/run.h"
#include "host/formats/open_file.h"

namespace hostreg {

bool LockForRun(LockedFile& locked, const std::string& path, bool readOnly,
                const char* what, std::ostream& err) {
  LockedFile::Waiting waiting{kLockWaitMilliseconds, [&err, &path, what] {
                                Complain(err, path +
                                                  ": waiting for another run "
                                                  "to finish with the " +
                                                  what);
                              }};
  std::string error;
  if (locked.Acquire(path,
                     readOnly ? LockedFile::Access::kRead
                              : LockedFile::Access::kWrite,
                     waiting, error))
    return true;
  Complain(err, error);
  return false;
}

bool RegistryTarget::Open(bool readOnly, const SystemCalls& calls,
                          std::ostream& err) {
  if (!LockForRun(locked, path, readOnly, "file", err)) return false;
  std::string error;
  file = LoadRegistryFile(path, registry, calls, error);
  if (!file) {
    Complain(err, error);
    return false;
  }
  for (const std::string& note : file->Warnings()) Complain(err, note);
  return true;
}

bool RegistryTarget::DescribeChanges(std::ostream& err,
                                     std::string& changes) const {
  changes = file->DescribeChanges(registry);
  std::string error;
  if (!changes.empty() && !locked.Unchanged(error)) {
    Complain(err, path + ": " + error + "; run again to see its changes");
    return false;
  }
  return true;
}

void RegistryTarget::WarnOfRefusal(std::ostream& err) const {
  const std::string refusal = file->SaveRefusal(registry);
  if (!refusal.empty())
    Complain(err, path + ": a save would be refused: " + refusal);
}

}  // namespace hostreg
