#include "host/files/file_bytes.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>

namespace hostreg {

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

}  // namespace hostreg
