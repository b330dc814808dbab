#include "host/session/store.h"

#include <cctype>
#include <vector>

#include "host/files/replace_file.h"
#include "host/formats/pick_format.h"

namespace hostreg {

std::string WithPathHint(const std::string& path, std::string error) {
  const bool windows = path.size() > 2 && std::isalpha(static_cast<unsigned char>(path[0])) &&
                       path[1] == ':' && (path[2] == '\\' || path[2] == '/');
  if (windows && error.find("No such file") != std::string::npos)
    error += "; that is a Windows path: give the file's path on this machine "
             "(a SYSTEM.DAT inside a disk image: --image DISK)";
  return error;
}

std::shared_ptr<const FileBytes> FileStore::Read(
    bool readOnly, const std::function<void()>& waiting, std::string& error) {
  const LockedFile::Waiting wait{kLockWaitMilliseconds, waiting};
  if (!file_.Acquire(path_,
                     readOnly ? LockedFile::Access::kRead
                              : LockedFile::Access::kWrite,
                     wait, error)) {
    error = WithPathHint(path_, error);
    return nullptr;
  }
  std::string head;
  if (!file_.ReadHead(kSignatureSize, head, error)) return nullptr;
  return file_.Read(MapsWell(head, file_.size()), path_, error);
}

// The copy first, once the file is known to be one a save may replace: a
// save that cannot keep one leaves the file alone. Once kept, a copy stays,
// even when the save then fails.
bool FileStore::Write(const Rendering& rendering, std::string& error) {
  if (backup_ && kept_.empty()) {
    error = WhyNotReplaceable(platform_, path_);
    if (!error.empty() || !KeepCopy(platform_, path_, file_, kept_, error)) {
      kept_.clear();
      return false;
    }
  }
  return ReplaceFile(platform_, path_, rendering.pieces, file_, true, error);
}

std::string FileStore::SaveRefusal() {
  return WhyNotReplaceable(platform_, path_);
}

bool FileStore::Restore(std::string& error) {
  const std::vector<std::string_view> pieces{file_.bytes()->View()};
  return ReplaceFile(platform_, path_, pieces, file_, false, error);
}

}  // namespace hostreg
