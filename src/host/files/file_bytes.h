// A loaded file's bytes: mapped read-only from the file, or held in memory
// (files read whole, and text handed over directly).
#ifndef REGSWITCH_HOST_FILES_FILE_BYTES_H
#define REGSWITCH_HOST_FILES_FILE_BYTES_H

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace hostreg {

// A mapped file must not shrink while we run: touching a page past its new
// end raises SIGBUS (see MappedFileFaultGuard). Our own saves replace the
// file by renaming a new one over it, so the mapped one is never changed
// underneath us.
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

}  // namespace hostreg

#endif
