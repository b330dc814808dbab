// Where the host registry lives between runs: a registry file, read once and
// saved only when a run changed a value.
#ifndef REGSWITCH_STORAGE_H
#define REGSWITCH_STORAGE_H

#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/registry/registry.h"

namespace hostreg {

// A loaded file's bytes: mapped read-only from the file, or held in a
// string (files read whole, and text handed over directly).
//
// A mapped file must not shrink while we run: touching a page past its new
// end raises SIGBUS. Our own saves replace the file by renaming a new one
// over it, so the mapped one is never changed underneath us.
class FileBytes {
 public:
  explicit FileBytes(std::string text) : held_(std::move(text)) {}
  // Maps `size` bytes of `fd` (a regular file) and takes over the fd; null
  // when the mapping fails, and the fd is left to the caller.
  static std::shared_ptr<FileBytes> Map(int fd, size_t size);
  ~FileBytes();
  FileBytes(const FileBytes&) = delete;
  FileBytes& operator=(const FileBytes&) = delete;

  std::string_view View() const {
    return map_ != nullptr ? std::string_view(map_, size_) : held_;
  }
  // The file the bytes are mapped from, or -1 when they are held.
  int fd() const { return fd_; }
  // Lets the whole pages within [begin, end) go from memory. Mapped pages
  // are clean copies of the file and come back from it when read again;
  // held bytes stay.
  void Release(size_t begin, size_t end) const;

 private:
  FileBytes() = default;
  std::string held_;
  const char* map_ = nullptr;
  size_t size_ = 0;
  int fd_ = -1;
};

class Storage {
 public:
  explicit Storage(std::string path) : path_(std::move(path)) {}
  virtual ~Storage() = default;
  const std::string& path() const { return path_; }

  // The file's new contents with the registry's changes, or false and
  // `error` when they cannot be written safely.
  virtual bool Render(const Registry& registry, std::string& contents,
                      std::string& error) const = 0;
  // Writes the registry's changes back to the file it came from, atomically.
  // On failure the file is left as it was and `error` says why.
  bool Save(const Registry& registry, std::string& error) const;
  // The changes as a fragment in the file's own format, for review.
  virtual std::string DescribeChanges(const Registry& registry) const = 0;
  // The same contents as Render, as pieces written one after the other, so
  // that a large file is never held twice. `owned` keeps text the pieces
  // point into. The default is Render's string as one piece.
  virtual bool RenderPieces(const Registry& registry,
                            std::vector<std::string_view>& pieces,
                            std::deque<std::string>& owned,
                            std::string& error) const;
  // The file that pieces may point into, so that saving copies those
  // stretches file to file; null when there is none.
  virtual const FileBytes* Source() const { return nullptr; }

 private:
  std::string path_;
};

// Loads `path` into `registry`, choosing the format by the file's contents.
// On failure returns null and `error` names the file and, where there is
// one, the line.
std::unique_ptr<Storage> LoadRegistryFile(const std::string& path,
                                          Registry& registry,
                                          std::string& error);

// Replaces `path` with `contents`: a temporary file in the same folder,
// flushed, given the original's mode and renamed over it. Never leaves a
// half-written file or the temporary behind.
bool ReplaceFileAtomically(const std::string& path, const std::string& contents,
                           std::string& error);
// Pieces that lie within `source`'s mapped bytes are copied from its file
// rather than written from memory.
bool ReplaceFileAtomically(const std::string& path,
                           const std::vector<std::string_view>& pieces,
                           std::string& error,
                           const FileBytes* source = nullptr);

// The system calls that loading and saving make. Tests replace them to make
// a read, write, copy, flush or rename fail; nobody else touches them.
struct FileCalls {
  int (*open)(const char* path, int flags);
  long (*read)(int fd, void* buffer, size_t size);
  long (*write)(int fd, const void* data, size_t size);
  // copy_file_range(2) from `from` at `*offset` to `to` at its position.
  long (*copy)(int from, long long* offset, int to, size_t size);
  int (*fsync)(int fd);
  int (*rename)(const char* from, const char* to);
};
extern FileCalls gFileCalls;

}  // namespace hostreg

#endif
