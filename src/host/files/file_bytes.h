// A loaded file's bytes: mapped read-only from the file, or held in memory
// (files read whole, and bytes handed over directly), with a checksum
// taken as a reader passes over them front to back, so that the file is
// read once and its version still told apart from any other.
#ifndef REGSWITCH_HOST_FILES_FILE_BYTES_H
#define REGSWITCH_HOST_FILES_FILE_BYTES_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "host/files/checksum.h"
#include "host/platform/platform.h"

namespace hostreg {

// A mapped file must not shrink while we run: touching a page past its new
// end faults, and the platform ends the run naming the file. Our own saves
// replace the file by renaming a new one over it, so the mapped one is
// never changed underneath us.
class FileBytes {
 public:
  explicit FileBytes(std::string held) : held_(std::move(held)) {}
  // Maps `size` bytes of `fd` (a regular file, which stays the caller's);
  // null when it cannot be mapped. `name` names it in the fault's message.
  static std::shared_ptr<FileBytes> Map(Platform& platform, int fd,
                                        size_t size, const std::string& name);
  ~FileBytes();
  FileBytes(const FileBytes&) = delete;
  FileBytes& operator=(const FileBytes&) = delete;

  std::string_view View() const {
    return map_ != nullptr ? std::string_view(map_, size_) : held_;
  }
  bool mapped() const { return map_ != nullptr; }
  // Lets the whole pages within [begin, end) go from memory. Mapped pages
  // are clean copies of the file and come back from it when read again;
  // held bytes stay.
  void Release(size_t begin, size_t end) const;

  // Adds the bytes up to `end` to the checksum, from where the last call
  // left off: a reader calls this as it goes, before it lets pages go.
  void ChecksumTo(size_t end) const;
  // The checksum of every byte (the rest added now).
  uint64_t FullChecksum() const;
  // For a mapped file: the checksum of the bytes the file holds now, read
  // afresh through the mapping (whose pages are the file's own in the page
  // cache, so another program's writes show), a stretch at a time, each let
  // go again after. Held bytes are a copy: the file must be read instead.
  uint64_t ChecksumOfFile() const;

 private:
  FileBytes() = default;
  std::string held_;
  Platform* platform_ = nullptr;
  const char* map_ = nullptr;
  size_t size_ = 0;
  mutable Checksum checksum_;
};

}  // namespace hostreg

#endif
