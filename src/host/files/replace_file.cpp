#include "host/files/replace_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
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
class TempFile {
 public:
  explicit TempFile(Platform& platform) : platform_(platform) {}
  ~TempFile() {
    if (fd_ >= 0) platform_.Close(fd_);
    if (path_.empty()) return;
    platform_.Remove(path_.c_str());
    platform_.ForgetTemporary(path_);
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  int fd() const { return fd_; }

  bool Create(const std::string& folder, const struct stat& like,
              std::string& error) {
    std::string pattern = folder + "/.regswitch-XXXXXX";
    fd_ = platform_.MakeTemporary(pattern);
    if (fd_ < 0)
      return Fail(error, "cannot create a temporary file in " + folder, errno);
    path_ = pattern;
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
    return true;
  }

  // A file of this user's, readable by all.
  bool CreateNew(const std::string& folder, std::string& error) {
    std::string pattern = folder + "/.regswitch-XXXXXX";
    fd_ = platform_.MakeTemporary(pattern);
    if (fd_ < 0)
      return Fail(error, "cannot create a temporary file in " + folder, errno);
    path_ = pattern;
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
  Platform& platform_;
  std::string path_;
  int fd_ = -1;
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

}  // namespace

bool ReplaceFile(Platform& platform, const std::string& path,
                 const std::vector<std::string_view>& pieces,
                 const LockedFile& original, bool mustBeUnchanged,
                 std::string& error) {
  std::string target;
  if (!platform.ResolvePath(path.c_str(), target))
    return Fail(error, "cannot resolve", errno);
  struct stat st;
  if (platform.StatPath(target.c_str(), &st) != 0)
    return Fail(error, "cannot stat", errno);
  if (!CheckReplaceable(platform, target, st, error)) return false;
  const std::string folder = FolderOf(target);
  TempFile temp(platform);
  if (!temp.Create(folder, st, error)) return false;
  PieceWriter writer(platform, temp.fd(), original);
  if (!writer.Write(pieces, error) || !temp.Flush(error)) return false;
  // As late as can be: the file that was read is still there, unchanged.
  if (mustBeUnchanged && !original.Unchanged(error)) return false;
  if (!temp.RenameOver(target, error)) return false;
  // Makes the rename itself last.
  platform.SyncFolder(folder.c_str());
  return true;
}

bool CanReplace(Platform& platform, const std::string& path,
                std::string& error) {
  std::string target;
  if (!platform.ResolvePath(path.c_str(), target))
    return Fail(error, "cannot resolve", errno);
  struct stat st;
  if (platform.StatPath(target.c_str(), &st) != 0)
    return Fail(error, "cannot stat", errno);
  return CheckReplaceable(platform, target, st, error);
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
  if (!temp.Create(folder, st, error)) return false;
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

bool WriteWholeFile(Platform& platform, const std::string& path,
                    std::string_view text, std::string& error) {
  std::string target = path;
  struct stat st;
  const bool there = platform.StatPath(path.c_str(), &st) == 0;
  if (there && !platform.ResolvePath(path.c_str(), target))
    return Fail(error, "cannot resolve", errno);
  const std::string folder = FolderOf(target);
  TempFile temp(platform);
  if (!(there ? temp.Create(folder, st, error)
              : temp.CreateNew(folder, error)))
    return false;
  if (const int code = WriteFully(platform, temp.fd(), text))
    return Fail(error, "cannot write", code);
  if (!temp.Flush(error) || !temp.RenameOver(target, error)) return false;
  platform.SyncFolder(folder.c_str());
  return true;
}

}  // namespace hostreg
