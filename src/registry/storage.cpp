// Reading a registry file and replacing it safely.
#include "storage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "creg_file.h"
#include "reg_file.h"

namespace hostreg {

namespace {

int SystemOpen(const char* path, int flags) { return ::open(path, flags); }
long SystemRead(int fd, void* buffer, size_t size) {
  return ::read(fd, buffer, size);
}
long SystemWrite(int fd, const void* data, size_t size) {
  return ::write(fd, data, size);
}

}  // namespace

FileCalls gFileCalls = {SystemOpen, SystemRead, SystemWrite, ::fsync,
                        ::rename};

namespace {

std::string Reason(int error) { return std::strerror(error); }

bool ReadWholeFile(const std::string& path, std::string& contents,
                   std::string& error) {
  // Non-blocking, so that a FIFO or a device named by mistake is refused
  // instead of waiting for a writer.
  const int fd =
      gFileCalls.open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    error = path + ": cannot open: " + Reason(errno);
    return false;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    error = path + ": not a regular file";
    ::close(fd);
    return false;
  }
  // One extra byte, so that the read that finds the end needs no regrowth.
  contents.resize(static_cast<size_t>(st.st_size) + 1);
  size_t got = 0;
  for (;;) {
    if (got == contents.size()) contents.resize(got + 65536);
    const long n = gFileCalls.read(fd, &contents[got], contents.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = path + ": cannot read: " + Reason(errno);
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  contents.resize(got);
  ::close(fd);
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
  return ReplaceFileAtomically(path_, pieces, error);
}

std::unique_ptr<Storage> LoadRegistryFile(const std::string& path,
                                          Registry& registry,
                                          std::string& error) {
  std::string contents;
  if (!ReadWholeFile(path, contents, error)) return nullptr;
  // By signature, not by name: SYSTEM.DAT and USER.DAT are CREG files.
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
                           std::string& error) {
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
  constexpr size_t kGather = 1 << 20;
  for (size_t i = 0; i <= pieces.size(); ++i) {
    const bool last = i == pieces.size();
    if (!last && pieces[i].size() < kGather / 16 &&
        buffer.size() + pieces[i].size() <= kGather) {
      buffer.append(pieces[i]);
      continue;
    }
    if (const int code = put(buffer)) return fail("cannot write", code);
    buffer.clear();
    if (last) break;
    if (pieces[i].size() < kGather / 16) {
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
