#include "host/files/replace_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <functional>

namespace hostreg {

namespace {

bool Fail(std::string& error, const std::string& what, int code) {
  error = what + ": " + Reason(code);
  return false;
}

// The new file, beside the real one so that the rename never crosses file
// systems. It is removed again unless it replaced the real one, also when a
// signal ends the run. Its name is short whatever the real one's, so that
// a name of up to 255 bytes can be saved.
//
// While it exists a second descriptor holds a lock on it, so that another
// run cleaning up the temporary files of killed runs leaves it alone.
class TempFile {
 public:
  explicit TempFile(Platform& platform) : platform_(platform) {}
  ~TempFile() {
    if (fd_ >= 0) platform_.Close(fd_);
    if (!path_.empty()) {
      platform_.Remove(path_.c_str());
      platform_.ForgetTemporary(path_);
    }
    if (lockFd_ >= 0) platform_.Close(lockFd_);
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  int fd() const { return fd_; }

  bool Create(const std::string& folder, const struct stat& like,
              int original, std::string& error) {
    if (!OpenLocked(folder, error)) return false;
    // The owner first: changing it may clear the set-user-ID bits that the
    // mode then puts back. Only where it differs, as some file systems
    // refuse any change of owner.
    struct stat made;
    if (platform_.Stat(fd_, &made) != 0)
      return Fail(error, "cannot stat a temporary file in " + folder, errno);
    if ((made.st_uid != like.st_uid || made.st_gid != like.st_gid) &&
        platform_.SetOwner(fd_, like.st_uid, like.st_gid) != 0) {
      error = "cannot keep its owner and group (uid " +
              std::to_string(like.st_uid) + ", gid " +
              std::to_string(like.st_gid) + ") in a new file: " +
              Reason(errno) + "; run as its owner or as root";
      return false;
    }
    if (platform_.SetMode(fd_, like.st_mode & 07777) != 0)
      return Fail(error, "cannot set mode", errno);
    return KeepAttributes(original, like, error);
  }

  // A file of this user's, readable by all.
  bool CreateNew(const std::string& folder, std::string& error) {
    if (!OpenLocked(folder, error)) return false;
    if (platform_.SetMode(fd_, 0644) != 0)
      return Fail(error, "cannot set mode", errno);
    return true;
  }

  // Makes the contents last and closes the file.
  bool Flush(std::string& error) {
    if (platform_.Sync(fd_) != 0) return Fail(error, "cannot flush", errno);
    const int fd = fd_;
    fd_ = -1;
    if (platform_.Close(fd) != 0) return Fail(error, "cannot close", errno);
    return true;
  }

  bool RenameOver(const std::string& target, std::string& error) {
    if (platform_.Rename(path_.c_str(), target.c_str()) != 0)
      return Fail(error, "cannot replace", errno);
    platform_.ForgetTemporary(path_);
    path_.clear();
    return true;
  }

  // 0, else the error: EEXIST when `target` is there.
  int RenameToNew(const std::string& target) {
    if (platform_.RenameNoReplace(path_.c_str(), target.c_str()) != 0)
      return errno;
    platform_.ForgetTemporary(path_);
    path_.clear();
    return 0;
  }

 private:
  bool OpenLocked(const std::string& folder, std::string& error) {
    std::string pattern = folder + "/" + kTemporaryPrefix + "XXXXXX";
    fd_ = platform_.MakeTemporary(pattern);
    if (fd_ < 0)
      return Fail(error, "cannot create a temporary file in " + folder, errno);
    path_ = pattern;
    // Where the file system has no locks, the file goes unlocked, and a
    // cleanup there removes nothing.
    lockFd_ = platform_.Open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (lockFd_ < 0 || (platform_.Lock(lockFd_, LOCK_EX | LOCK_NB) != 0 &&
                        errno == EWOULDBLOCK))
      return Fail(error, "cannot lock a temporary file in " + folder, errno);
    return true;
  }

  // The file's ACL and other extended attributes go with it: a mode alone
  // would give the group what an ACL's mask allows it at most, widening it.
  // Anything that cannot be kept exactly refuses the save.
  bool KeepAttributes(int original, const struct stat& like,
                      std::string& error) {
    std::string which;
    if (!platform_.CopyAttributes(original, fd_, which)) {
      error = "cannot keep its extended attribute " + which + " in a new "
              "file: " + Reason(errno) + "; run as its owner or as root, or "
              "remove the attribute first";
      return false;
    }
    struct stat made;
    if (platform_.Stat(fd_, &made) != 0)
      return Fail(error, "cannot stat a temporary file", errno);
    if ((made.st_mode & 07777) == (like.st_mode & 07777)) return true;
    char modes[32];
    std::snprintf(modes, sizeof modes, "%04o against %04o",
                  static_cast<unsigned>(made.st_mode & 07777),
                  static_cast<unsigned>(like.st_mode & 07777));
    error = std::string("cannot keep its permissions exactly in a new file "
                        "(mode ") + modes + ")";
    return false;
  }

  Platform& platform_;
  std::string path_;
  int fd_ = -1;
  int lockFd_ = -1;
};

// Writes the pieces into the new file. Small pieces (changed lines) are
// gathered so that each write is large. Stretches of the loaded file go
// file to file, so that saving does not bring the whole file back into
// memory; where the kernel cannot copy between these files they are written
// from the mapping, a slice at a time, each let go again once written.
class PieceWriter {
 public:
  PieceWriter(Platform& platform, int fd, const LockedFile& original)
      : platform_(platform),
        fd_(fd),
        sourceFd_(original.fd()),
        source_(original.bytes()),
        file_(source_ != nullptr && source_->mapped() ? source_->View()
                                                      : std::string_view()) {}

  bool Write(const std::vector<std::string_view>& pieces, std::string& error);

 private:
  static constexpr size_t kGather = 1 << 20;
  static constexpr size_t kSmall = kGather / 16;
  // A short unchanged stretch between two changed lines would cost a
  // system call of its own to copy; it is gathered from the mapping
  // instead, which reads the mapping. The stretches before the first change
  // and after the last are always copied.
  static constexpr size_t kShortStretch = 4096;
  static constexpr size_t kSlice = 8 << 20;

  bool InFile(std::string_view piece) const;
  bool SourceStillWhole(long long end) const;
  int Flush();
  int CopyByKernel(long long& at, long long end);
  int WriteFromMapping(long long at, long long end);

  Platform& platform_;
  const int fd_;
  const int sourceFd_;
  const FileBytes* const source_;
  const std::string_view file_;
  std::string buffer_;
  bool kernelCopies_ = true;
};

bool PieceWriter::InFile(std::string_view piece) const {
  const std::less<const char*> before;
  return !file_.empty() && !before(piece.data(), file_.data()) &&
         !before(file_.data() + file_.size(), piece.data() + piece.size());
}

// Whether the loaded file still reaches `end`: reading a mapping past a
// file's new end would fault.
bool PieceWriter::SourceStillWhole(long long end) const {
  struct stat now;
  return platform_.Stat(sourceFd_, &now) == 0 && now.st_size >= end;
}

int PieceWriter::Flush() {
  const int code = WriteFully(platform_, fd_, buffer_);
  buffer_.clear();
  return code;
}

// Copies [at, end) of the loaded file until done or the kernel cannot;
// an error that is not the kernel's refusal is returned.
int PieceWriter::CopyByKernel(long long& at, long long end) {
  while (kernelCopies_ && at < end) {
    const long n = platform_.Copy(sourceFd_, &at, fd_,
                                  static_cast<size_t>(end - at));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL ||
                  errno == EOPNOTSUPP)) {
      kernelCopies_ = false;
    } else if (n < 0) {
      return errno;
    } else if (n == 0) {
      // Nothing copied: the file shrank under us, or the kernel copies
      // nothing for this file system.
      if (!SourceStillWhole(end)) return EIO;
      kernelCopies_ = false;
    }
  }
  return 0;
}

int PieceWriter::WriteFromMapping(long long at, long long end) {
  while (at < end) {
    const size_t n = std::min(kSlice, static_cast<size_t>(end - at));
    const size_t from = static_cast<size_t>(at);
    if (const int code = WriteFully(platform_, fd_, file_.substr(from, n)))
      return code;
    source_->Release(from, from + n);
    at += static_cast<long long>(n);
  }
  return 0;
}

bool PieceWriter::Write(const std::vector<std::string_view>& pieces,
                        std::string& error) {
  if (!file_.empty() && !SourceStillWhole(static_cast<long long>(file_.size())))
    return Fail(error, "cannot copy", EIO);
  for (size_t i = 0; i < pieces.size(); ++i) {
    const std::string_view piece = pieces[i];
    const bool copied =
        InFile(piece) && (piece.size() >= kShortStretch || i == 0 ||
                          i + 1 == pieces.size());
    if (!copied && piece.size() < kSmall &&
        buffer_.size() + piece.size() <= kGather) {
      buffer_.append(piece);
      continue;
    }
    if (const int code = Flush()) return Fail(error, "cannot write", code);
    if (copied) {
      long long at = piece.data() - file_.data();
      const long long end = at + static_cast<long long>(piece.size());
      if (const int code = CopyByKernel(at, end))
        return Fail(error, "cannot copy", code);
      if (const int code = WriteFromMapping(at, end))
        return Fail(error, "cannot write", code);
    } else if (piece.size() < kSmall) {
      buffer_.append(piece);
    } else if (const int code = WriteFully(platform_, fd_, piece)) {
      return Fail(error, "cannot write", code);
    }
  }
  if (const int code = Flush()) return Fail(error, "cannot write", code);
  return true;
}

// Replacing the file by another gives the new one this user's owner, the
// temporary file's mode and no other names: refused where that would
// change what the file is, rather than done without a word.
bool CheckReplaceable(Platform& platform, const std::string& target,
                      const struct stat& st, std::string& error) {
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o",
                static_cast<unsigned>(st.st_mode & 07777));
  if ((st.st_mode & S_IWUSR) == 0) {
    error = std::string("it is read-only (mode ") + mode +
            "); give its owner write permission (chmod u+w) to let regswitch "
            "change it";
    return false;
  }
  if (platform.MayWrite(target.c_str()) != 0) {
    error = "no write access to it: " + Reason(errno);
    return false;
  }
  if (st.st_nlink > 1) {
    error = "it has " + std::to_string(st.st_nlink) +
            " hard links, and saving would give the new contents to this name "
            "only; run regswitch on a copy and copy that back with cp, which "
            "writes through every link";
    return false;
  }
  return true;
}

// The folder a path's file is in.
std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The file at `path` resolved, its status and its folder; false and why.
bool Target(Platform& platform, const std::string& path, std::string& target,
            struct stat& st, std::string& folder, std::string& error) {
  if (!platform.ResolvePath(path.c_str(), target))
    return Fail(error, "cannot resolve", errno);
  if (platform.StatPath(target.c_str(), &st) != 0)
    return Fail(error, "cannot stat", errno);
  if (!CheckReplaceable(platform, target, st, error)) return false;
  folder = FolderOf(target);
  return true;
}

// A temporary file of ours that no live run holds the lock of was left by
// a run that was killed: it is nobody's any more.
void RemoveStaleTemporaries(Platform& platform, const std::string& folder) {
  std::vector<std::string> names;
  if (!platform.ListFolder(folder.c_str(), names)) return;
  for (const std::string& name : names) {
    if (!IsTemporaryName(name)) continue;
    const std::string path = folder + "/" + name;
    const int fd = platform.Open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) continue;
    struct stat held, named;
    if (platform.Lock(fd, LOCK_EX | LOCK_NB) == 0 &&
        platform.Stat(fd, &held) == 0 && S_ISREG(held.st_mode) &&
        platform.StatPath(path.c_str(), &named) == 0 &&
        named.st_ino == held.st_ino && named.st_dev == held.st_dev)
      platform.Remove(path.c_str());
    platform.Close(fd);
  }
}

}  // namespace

bool IsTemporaryName(const std::string& name) {
  const size_t prefix = std::strlen(kTemporaryPrefix);
  if (name.size() != prefix + 6 || name.compare(0, prefix, kTemporaryPrefix) != 0)
    return false;
  for (size_t i = prefix; i < name.size(); ++i)
    if (!std::isalnum(static_cast<unsigned char>(name[i]))) return false;
  return true;
}

std::string WhyNotReplaceable(Platform& platform, const std::string& path) {
  std::string target, folder, error;
  struct stat st;
  if (!Target(platform, path, target, st, folder, error)) return error;
  if (platform.MayWrite(folder.c_str()) != 0)
    return "cannot create a temporary file in " + folder + ": " + Reason(errno);
  return std::string();
}

bool ReplaceFile(Platform& platform, const std::string& path,
                 const std::vector<std::string_view>& pieces,
                 const LockedFile& original, bool mustBeUnchanged,
                 std::string& error) {
  std::string target, folder;
  struct stat st;
  if (!Target(platform, path, target, st, folder, error)) return false;
  RemoveStaleTemporaries(platform, folder);
  TempFile temp(platform);
  if (!temp.Create(folder, st, original.fd(), error)) return false;
  PieceWriter writer(platform, temp.fd(), original);
  if (!writer.Write(pieces, error) || !temp.Flush(error)) return false;
  // As late as can be: the file that was read is still there, unchanged.
  if (mustBeUnchanged && !original.Unchanged(error)) return false;
  if (!temp.RenameOver(target, error)) return false;
  // Makes the rename itself last.
  platform.SyncFolder(folder.c_str());
  return true;
}

// The copy is written whole beside the file, then given a name no file
// has: a backup never takes the place of another, Windows' own SYSTEM.DA0,
// SYSTEM.1ST or RB*.CAB included.
bool KeepCopy(Platform& platform, const std::string& path,
              const LockedFile& original, std::string& kept,
              std::string& error) {
  std::string target;
  if (!platform.ResolvePath(path.c_str(), target))
    return Fail(error, "cannot resolve", errno);
  struct stat st;
  if (platform.Stat(original.fd(), &st) != 0)
    return Fail(error, "cannot stat", errno);
  const std::string folder = FolderOf(target);
  TempFile temp(platform);
  if (!temp.Create(folder, st, original.fd(), error)) return false;
  PieceWriter writer(platform, temp.fd(), original);
  const std::vector<std::string_view> pieces{original.bytes()->View()};
  if (!writer.Write(pieces, error) || !temp.Flush(error)) return false;
  for (int n = 1; n <= 99; ++n) {
    kept = target + ".bak" + (n == 1 ? "" : std::to_string(n));
    const int code = temp.RenameToNew(kept);
    if (code == 0) {
      platform.SyncFolder(folder.c_str());
      return true;
    }
    if (code != EEXIST) return Fail(error, "cannot keep a copy as " + kept, code);
  }
  error = "cannot keep a copy: " + target + ".bak to .bak99 are all taken";
  return false;
}

// A new file replaces an older export, as the registry editor's does.
bool WriteWholeFile(Platform& platform, const std::string& path,
                    std::string_view text, std::string& error) {
  std::string target = path;
  struct stat st;
  if (platform.StatPath(path.c_str(), &st) == 0 &&
      !platform.ResolvePath(path.c_str(), target))
    return Fail(error, "cannot resolve", errno);
  const std::string folder = FolderOf(target);
  TempFile temp(platform);
  if (!temp.CreateNew(folder, error)) return false;
  if (const int code = WriteFully(platform, temp.fd(), text))
    return Fail(error, "cannot write", code);
  if (!temp.Flush(error) || !temp.RenameOver(target, error)) return false;
  platform.SyncFolder(folder.c_str());
  return true;
}

}  // namespace hostreg
