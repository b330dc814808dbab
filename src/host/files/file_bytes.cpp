#include "host/files/file_bytes.h"

#include <unistd.h>

#include <algorithm>

namespace hostreg {

std::shared_ptr<FileBytes> FileBytes::Map(Platform& platform, int fd,
                                          size_t size,
                                          const std::string& name) {
  const char* map = platform.Map(fd, size, name);
  if (map == nullptr) return nullptr;
  std::shared_ptr<FileBytes> bytes(new FileBytes());
  bytes->platform_ = &platform;
  bytes->map_ = map;
  bytes->size_ = size;
  return bytes;
}

FileBytes::~FileBytes() {
  if (map_ != nullptr) platform_->Unmap(map_, size_);
}

void FileBytes::Release(size_t begin, size_t end) const {
  if (map_ == nullptr) return;
  static const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  begin = (begin + page - 1) / page * page;
  end = std::min(end, size_) / page * page;
  if (begin < end) platform_->Release(map_ + begin, end - begin);
}

void FileBytes::ChecksumTo(size_t end) const {
  const std::string_view all = View();
  const size_t from = static_cast<size_t>(checksum_.size());
  end = std::min(end, all.size());
  if (end > from) checksum_.Add(all.substr(from, end - from));
}

uint64_t FileBytes::FullChecksum() const {
  ChecksumTo(View().size());
  return checksum_.Value();
}

uint64_t FileBytes::ChecksumOfFile() const {
  constexpr size_t kStretch = 4 << 20;
  Checksum sum;
  for (size_t at = 0; at < size_; at += kStretch) {
    const size_t n = std::min(kStretch, size_ - at);
    sum.Add(std::string_view(map_ + at, n));
    Release(at, at + n);
  }
  return sum.Value();
}

}  // namespace hostreg
