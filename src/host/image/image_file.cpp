#include "host/image/image_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "host/platform/platform.h"

namespace hostreg {

std::string OtherProgramsLock(Platform& platform, int fd) {
  long process = 0;
  if (platform.LockHolder(fd, process) != 1) return "";
  return process > 0 ? "process " + std::to_string(process)
                     : "another program";
}

bool MayWriteImage(Platform& platform, int fd, std::string& error) {
  struct stat st;
  if (platform.Stat(fd, &st) != 0) {
    error = "cannot stat it: " + Reason(errno);
    return false;
  }
  if ((st.st_mode & S_IWUSR) == 0) {
    error =
        "read-only (its owner has no write permission); nothing was "
        "changed (chmod u+w the image to change it)";
    return false;
  }
  const int writable = platform.Open(
      ("/proc/self/fd/" + std::to_string(fd)).c_str(), O_RDWR | O_CLOEXEC);
  if (writable < 0) {
    error = "cannot open it for writing: " + Reason(errno) +
            "; nothing was changed";
    return false;
  }
  platform.Close(writable);
  return true;
}

}  // namespace hostreg
