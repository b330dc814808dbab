// Reading a registry file and replacing it safely.
#include "host/formats/storage.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "host/formats/creg/creg_file.h"
#include "host/formats/reg/reg_file.h"

namespace hostreg {

namespace {

int SystemOpen(const char* path, int flags) { return ::open(path, flags); }
long SystemRead(int fd, void* buffer, size_t size) {
  return ::read(fd, buffer, size);
}
long SystemWrite(int fd, const void* data, size_t size) {
  return ::write(fd, data, size);
}
long SystemCopy(int from, long long* offset, int to, size_t size) {
  loff_t at = *offset;
  const long n = ::copy_file_range(from, &at, to, nullptr, size, 0);
  *offset = at;
  return n;
}

}  // namespace

FileCalls gFileCalls = {SystemOpen, SystemRead,  SystemWrite,
                        SystemCopy, ::fsync,     ::rename};

std::shared_ptr<FileBytes> FileBytes::Map(int fd, size_t size) {
  void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  if (map == MAP_FAILED) return nullptr;
  std::shared_ptr<FileBytes> bytes(new FileBytes());
  bytes->map_ = static_cast<const char*>(map);
  bytes->size_ = size;
  bytes->fd_ = fd;
  return bytes;
}

FileBytes::~FileBytes() {
  if (map_ != nullptr) ::munmap(const_cast<char*>(map_), size_);
  if (fd_ >= 0) ::close(fd_);
}

void FileBytes::Release(size_t begin, size_t end) const {
  if (map_ == nullptr) return;
  static const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  begin = (begin + page - 1) / page * page;
  end = std::min(end, size_) / page * page;
  if (begin < end)
    ::madvise(const_cast<char*>(map_) + begin, end - begin, MADV_DONTNEED);
}

namespace {

std::string Reason(int error) { return std::strerror(error); }

// Appends what is left of the file to `contents`.
bool ReadRest(int fd, const std::string& path, std::string& contents,
              size_t expected, std::string& error) {
  size_t got = contents.size();
  // One extra byte, so that the read that finds the end needs no regrowth.
  contents.resize(std::max(expected, got) + 1);
  for (;;) {
    if (got == contents.size()) contents.resize(got + 65536);
    const long n = gFileCalls.read(fd, &contents[got], contents.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = path + ": cannot read: " + Reason(errno);
      return false;
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  contents.resize(got);
  return true;
}

}  // namespace

bool Storage::RenderPieces(const Registry& registry,
                           std::vector<std::string_view>& pieces,
                           std::deque<std::string>& owned,
                           std::string& error) const {
  owned.emplace_back();
  if (!Render(registry, owned.back(), error)) return false;
  pieces.push_back(owned.back());
  return true;
}

bool Storage::Save(const Registry& registry, std::string& error) const {
  std::vector<std::string_view> pieces;
  std::deque<std::string> owned;
  if (!RenderPieces(registry, pieces, owned, error)) return false;
  return ReplaceFileAtomically(path_, pieces, error, Source());
}

std::unique_ptr<Storage> LoadRegistryFile(const std::string& path,
                                          Registry& registry,
                                          std::string& error) {
  // Non-blocking, so that a FIFO or a device named by mistake is refused
  // instead of waiting for a writer.
  const int fd =
      gFileCalls.open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    error = path + ": cannot open: " + Reason(errno);
    return nullptr;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    error = path + ": not a regular file";
    ::close(fd);
    return nullptr;
  }
  // The signature picks the format: by it, not by name, SYSTEM.DAT and
  // USER.DAT are CREG files.
  std::string head(4, '\0');
  size_t got = 0;
  while (got < head.size()) {
    const long n = gFileCalls.read(fd, &head[got], head.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = path + ": cannot read: " + Reason(errno);
      ::close(fd);
      return nullptr;
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  head.resize(got);
  const size_t size = static_cast<size_t>(st.st_size);
  // A registry export is mapped, so that the pages already parsed can leave
  // memory while the rest loads. CREG files are small and read whole, as is
  // a file that tells no size (an empty one, or one of /proc) or that
  // cannot be mapped.
  std::shared_ptr<FileBytes> mapped;
  if (!IsCregFile(head) && got == head.size() && size > got)
    mapped = FileBytes::Map(fd, size);
  if (mapped)
    return ParseRegFile(path, path, std::move(mapped), registry, error);
  std::string contents = std::move(head);
  const bool read = ReadRest(fd, path, contents, size, error);
  ::close(fd);
  if (!read) return nullptr;
  if (IsCregFile(contents))
    return ParseCregFile(path, path, std::move(contents), registry, error);
  return ParseRegFile(path, path, std::move(contents), registry, error);
}

bool ReplaceFileAtomically(const std::string& path, const std::string& contents,
                           std::string& error) {
  return ReplaceFileAtomically(path, std::vector<std::string_view>{contents},
                               error);
}

bool ReplaceFileAtomically(const std::string& path,
                           const std::vector<std::string_view>& pieces,
                           std::string& error, const FileBytes* source) {
  // Write beside the real file, so a symbolic link stays a link and the
  // rename never crosses file systems.
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) == nullptr) {
    error = path + ": cannot resolve: " + Reason(errno);
    return false;
  }
  const std::string target = resolved;
  struct stat st;
  if (::stat(target.c_str(), &st) != 0) {
    error = path + ": cannot stat: " + Reason(errno);
    return false;
  }
  const size_t slash = target.rfind('/');
  const std::string folder = target.substr(0, slash);
  std::string temp = folder + "/." + target.substr(slash + 1) + ".XXXXXX";
  const int fd = ::mkstemp(&temp[0]);
  if (fd < 0) {
    error = path + ": cannot create a temporary file in " + folder + ": " +
            Reason(errno);
    return false;
  }
  auto fail = [&](const std::string& what, int code) {
    ::close(fd);
    ::unlink(temp.c_str());
    error = path + ": " + what + ": " + Reason(code) +
            "; the file was left as it was";
    return false;
  };
  if (::fchmod(fd, st.st_mode & 07777) != 0) return fail("cannot set mode", errno);
  // Keeping the owner only works for root; anyone else already owns it.
  if (::fchown(fd, st.st_uid, st.st_gid) != 0 && errno != EPERM)
    return fail("cannot set owner", errno);
  // Small pieces (changed lines) are gathered so each write is large.
  std::string buffer;
  auto put = [&](std::string_view piece) {
    size_t written = 0;
    while (written < piece.size()) {
      const long n = gFileCalls.write(fd, piece.data() + written,
                                      piece.size() - written);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return n < 0 ? errno : ENOSPC;
      written += static_cast<size_t>(n);
    }
    return 0;
  };
  // Stretches of the loaded file go file to file, so that saving does not
  // bring the whole file back into memory. Where the kernel cannot copy
  // between these files they are written from the mapping, a slice at a
  // time, each let go again once written.
  const std::string_view file =
      source != nullptr && source->fd() >= 0 ? source->View()
                                             : std::string_view();
  const std::less<const char*> before;
  auto inFile = [&](std::string_view piece) {
    return !file.empty() && !before(piece.data(), file.data()) &&
           !before(file.data() + file.size(), piece.data() + piece.size());
  };
  bool copies = true;
  constexpr size_t kSlice = 8 << 20;
  const char* failed = "cannot copy";
  auto copy = [&](std::string_view piece) {
    long long at = piece.data() - file.data();
    const long long end = at + static_cast<long long>(piece.size());
    while (copies && at < end) {
      const long n = gFileCalls.copy(source->fd(), &at, fd,
                                     static_cast<size_t>(end - at));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL ||
                    errno == EOPNOTSUPP)) {
        copies = false;
        break;
      }
      if (n < 0) return errno;
      if (n == 0) {
        // Nothing copied: the file shrank under us (reading the mapping
        // would fault), or the kernel copies nothing for this file system.
        struct stat now;
        if (::fstat(source->fd(), &now) != 0 || now.st_size < end) return EIO;
        copies = false;
      }
    }
    failed = "cannot write";
    while (at < end) {
      const size_t n = std::min(kSlice, static_cast<size_t>(end - at));
      if (const int code = put(file.substr(static_cast<size_t>(at), n)))
        return code;
      source->Release(static_cast<size_t>(at), static_cast<size_t>(at) + n);
      at += static_cast<long long>(n);
    }
    return 0;
  };
  constexpr size_t kGather = 1 << 20;
  // A short unchanged stretch between two changed lines would cost a
  // system call of its own to copy; it is gathered from the mapping
  // instead. That reads the mapping, which must not run past the file's
  // end. The stretches before the first change and after the last are
  // always copied.
  constexpr size_t kShortStretch = 4096;
  if (!file.empty()) {
    struct stat now;
    if (::fstat(source->fd(), &now) != 0 ||
        static_cast<size_t>(now.st_size) < file.size())
      return fail("cannot copy", EIO);
  }
  for (size_t i = 0; i <= pieces.size(); ++i) {
    const bool last = i == pieces.size();
    const bool copied =
        !last && inFile(pieces[i]) &&
        (pieces[i].size() >= kShortStretch || i == 0 || i + 1 == pieces.size());
    if (!last && !copied && pieces[i].size() < kGather / 16 &&
        buffer.size() + pieces[i].size() <= kGather) {
      buffer.append(pieces[i]);
      continue;
    }
    if (const int code = put(buffer)) return fail("cannot write", code);
    buffer.clear();
    if (last) break;
    if (copied) {
      failed = "cannot copy";
      if (const int code = copy(pieces[i])) return fail(failed, code);
    } else if (pieces[i].size() < kGather / 16) {
      buffer.append(pieces[i]);
    } else if (const int code = put(pieces[i])) {
      return fail("cannot write", code);
    }
  }
  if (gFileCalls.fsync(fd) != 0) return fail("cannot flush", errno);
  if (::close(fd) != 0) {
    const int code = errno;
    ::unlink(temp.c_str());
    error = path + ": cannot close: " + Reason(code) +
            "; the file was left as it was";
    return false;
  }
  if (gFileCalls.rename(temp.c_str(), target.c_str()) != 0) {
    const int code = errno;
    ::unlink(temp.c_str());
    error = path + ": cannot replace: " + Reason(code) +
            "; the file was left as it was";
    return false;
  }
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);  // the rename itself lasts once the folder is flushed
    ::close(dir);
  }
  return true;
}

}  // namespace hostreg
