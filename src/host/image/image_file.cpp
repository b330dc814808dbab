#include "host/image/image_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "host/platform/platform.h"

namespace hostreg {

std::string OtherProgramsLock(int fd) {
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  // Open file description locks are QEMU's; the query sees classic
  // POSIX locks of other processes too, but never this process's own.
  if (::fcntl(fd, F_OFD_GETLK, &lock) != 0 || lock.l_type == F_UNLCK) return "";
  return lock.l_pid > 0 ? "process " + std::to_string(lock.l_pid)
                        : "another program";
}

bool MayWriteImage(int fd, std::string& error) {
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    error = "cannot stat it: " + Reason(errno);
    return false;
  }
  if ((st.st_mode & S_IWUSR) == 0) {
    error =
        "read-only (its owner has no write permission); nothing was "
        "changed (chmod u+w the image to change it)";
    return false;
  }
  const int writable = ::open(("/proc/self/fd/" + std::to_string(fd)).c_str(),
                              O_RDWR | O_CLOEXEC);
  if (writable < 0) {
    error = "cannot open it for writing: " + Reason(errno) +
            "; nothing was changed";
    return false;
  }
  ::close(writable);
  return true;
}

}  // namespace hostreg
