// An image in a format of QEMU's block layer (qcow2, VDI, VMDK, VHDX,
// dynamic VHD...) as a disk: qemu-nbd serves it over a Unix socket in the
// run's private folder, started by socket activation so that it never
// waits for a client that is gone, and this is its NBD client. QEMU takes
// its own locks on the image (and on its backing files and extents), so a
// machine running from it makes the start fail with QEMU's own words.
#ifndef REGSWITCH_HOST_IMAGE_BLOCK_DEVICE_H
#define REGSWITCH_HOST_IMAGE_BLOCK_DEVICE_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "host/platform/platform.h"

namespace hostreg {

class BlockDevice {
 public:
  // Bytes to write at an offset of the disk.
  using Run = std::pair<uint64_t, std::string>;

  BlockDevice(Platform& platform, std::string workFolder)
      : platform_(platform), workFolder_(std::move(workFolder)) {}
  ~BlockDevice() { Stop(); }
  BlockDevice(const BlockDevice&) = delete;
  BlockDevice& operator=(const BlockDevice&) = delete;

  // Whether qemu-nbd is on PATH; false and the package when not.
  static bool Available(Platform& platform, std::string& error);

  // Serves the image at `path` in QEMU's format `format`: read-only, or
  // for writing. `ignoreLocks`: a look that a running machine does not
  // stop (QEMU's force-share). `lockFd` goes to the server, so that the
  // run's lock on the image lasts as long as the server does. False and
  // QEMU's own words when it cannot open the image.
  bool Start(const std::string& path, const char* format, bool writable,
             bool ignoreLocks, int lockFd, std::string& error);
  // The disk's size, once started.
  uint64_t size() const { return size_; }
  bool Read(uint64_t offset, char* buffer, size_t size);
  // Writes `runs`, flushes them and reads them back, in a process of its
  // own that runs to its end whatever happens to this one. False and why.
  bool Write(const std::vector<Run>& runs, std::string& error);
  // Ends the connection, and the server with it.
  void Stop();

 private:
  bool Handshake();
  bool Request(uint16_t type, uint64_t offset, uint32_t length,
               const char* data);
  bool Reply(char* data, size_t size);
  bool WriteAll(const std::vector<Run>& runs);
  std::string ServerWords();

  Platform& platform_;
  const std::string workFolder_;
  int socket_ = -1;
  int output_ = -1;  // the server's messages
  long server_ = 0;
  uint64_t size_ = 0;
  uint64_t handle_ = 0;
};

}  // namespace hostreg

#endif
