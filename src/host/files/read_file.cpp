#include "host/files/read_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace hostreg {

ReadableFile::~ReadableFile() {
  if (fd_ >= 0) ::close(fd_);
}

int OpenRegularFile(const SystemCalls& calls, const std::string& path,
                    struct stat& status, std::string& error) {
  const int fd = calls.open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    error = path + ": cannot open: " + Reason(errno);
    return -1;
  }
  if (calls.fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    error = path + ": not a regular file";
    return -1;
  }
  return fd;
}

bool ReadableFile::Open(const std::string& path, std::string& error) {
  path_ = path;
  struct stat st;
  fd_ = OpenRegularFile(calls_, path, st, error);
  if (fd_ < 0) return false;
  size_ = static_cast<size_t>(st.st_size);
  return true;
}

bool ReadableFile::ReadHead(size_t count, std::string& head,
                            std::string& error) {
  head.assign(count, '\0');
  const long got = ReadFully(calls_, fd_, &head[0], count);
  if (got < 0) {
    error = path_ + ": cannot read: " + Reason(errno);
    return false;
  }
  head.resize(static_cast<size_t>(got));
  return true;
}

std::shared_ptr<FileBytes> ReadableFile::Map() {
  std::shared_ptr<FileBytes> mapped = FileBytes::Map(fd_, size_);
  if (mapped) fd_ = -1;
  return mapped;
}

bool ReadableFile::ReadRest(std::string& contents, std::string& error) {
  size_t got = contents.size();
  // One extra byte, so that the read that finds the end needs no regrowth.
  contents.resize(std::max(size_, got) + 1);
  for (;;) {
    if (got == contents.size()) contents.resize(got + 65536);
    const long n = ReadFully(calls_, fd_, &contents[got], contents.size() - got);
    if (n < 0) {
      error = path_ + ": cannot read: " + Reason(errno);
      return false;
    }
    got += static_cast<size_t>(n);
    if (got < contents.size()) break;  // the file ended
  }
  contents.resize(got);
  return true;
}

}  // namespace hostreg
