// Reading a registry file: opened without blocking, refused unless it is a
// regular file, then mapped or read whole.
#ifndef REGSWITCH_HOST_FILES_READ_FILE_H
#define REGSWITCH_HOST_FILES_READ_FILE_H

#include <cstddef>
#include <memory>
#include <string>

#include "host/files/file_bytes.h"
#include "host/files/system_calls.h"

struct stat;

namespace hostreg {

// Opens `path` for reading without blocking, so that a FIFO or a device
// named by mistake is refused instead of waiting for a writer, and only if
// it is a regular file. The descriptor, or -1 and why ("PATH: ...").
int OpenRegularFile(const SystemCalls& calls, const std::string& path,
                    struct stat& status, std::string& error);

// Messages name the file: "PATH: cannot open: why".
class ReadableFile {
 public:
  explicit ReadableFile(const SystemCalls& calls) : calls_(calls) {}
  ~ReadableFile();
  ReadableFile(const ReadableFile&) = delete;
  ReadableFile& operator=(const ReadableFile&) = delete;

  bool Open(const std::string& path, std::string& error);
  // The size the file system gives; 0 for files that tell none.
  size_t size() const { return size_; }
  // The first `count` bytes, or fewer when the file is shorter.
  bool ReadHead(size_t count, std::string& head, std::string& error);
  // The whole file mapped; the mapping takes the file over. Null when it
  // cannot be mapped.
  std::shared_ptr<FileBytes> Map();
  // Appends what has not been read yet to `contents`.
  bool ReadRest(std::string& contents, std::string& error);

 private:
  const SystemCalls& calls_;
  std::string path_;
  int fd_ = -1;
  size_t size_ = 0;
};

}  // namespace hostreg

#endif
