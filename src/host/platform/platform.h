// The host program's one seam to the operating system: every system call
// of reading, locking and replacing files, and the signals a run must
// survive. RealPlatform makes the calls; tests pass doubles derived from
// it that hold their own state and fail or interfere on purpose. A port of
// the host program to another system implements this and nothing else.
//
// Calls follow POSIX: -1 (or null) and errno on failure.
#ifndef REGSWITCH_HOST_PLATFORM_PLATFORM_H
#define REGSWITCH_HOST_PLATFORM_PLATFORM_H

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace hostreg {

class Platform {
 public:
  virtual ~Platform() = default;

  // Files. One that O_CREAT makes gets mode 0600.
  virtual int Open(const char* path, int flags) = 0;
  virtual int Close(int fd) = 0;
  virtual long Read(int fd, void* buffer, size_t size) = 0;
  virtual long ReadAt(int fd, void* buffer, size_t size, uint64_t offset) = 0;
  virtual long Write(int fd, const void* data, size_t size) = 0;
  virtual long WriteAt(int fd, const void* data, size_t size,
                       uint64_t offset) = 0;
  // ftruncate(2): a file of `size` bytes, holes where nothing was written.
  virtual int Resize(int fd, uint64_t size) = 0;
  // The bytes this user may still write in the file system of `path`.
  virtual bool FreeSpace(const char* path, uint64_t& bytes) = 0;
  // copy_file_range(2) from `from` at `*offset` to `to` at its position.
  virtual long Copy(int from, long long* offset, int to, size_t size) = 0;
  virtual int Sync(int fd) = 0;
  virtual int Stat(int fd, struct stat* status) = 0;
  virtual int StatPath(const char* path, struct stat* status) = 0;
  virtual int Rename(const char* from, const char* to) = 0;
  // A rename that never replaces a file: -1 and EEXIST when `to` exists
  // (renameat2's RENAME_NOREPLACE, or a hard link where the file system
  // has no such rename).
  virtual int RenameNoReplace(const char* from, const char* to) = 0;
  virtual int Remove(const char* path) = 0;
  // The path with every link resolved; false and errno when it cannot be.
  virtual bool ResolvePath(const char* path, std::string& resolved) = 0;
  // mkstemp(3): `pattern` ends in XXXXXX and becomes the file's name. The
  // file is listed for removal, should a signal end the run, from the
  // moment it exists until ForgetTemporary.
  virtual int MakeTemporary(std::string& pattern) = 0;
  // The file is gone (renamed or removed): nothing left to remove.
  virtual void ForgetTemporary(const std::string& path) = 0;
  virtual int SetOwner(int fd, uid_t owner, gid_t group) = 0;
  virtual int SetMode(int fd, mode_t mode) = 0;
  // 0 when this user may write `path` (by its effective ids).
  virtual int MayWrite(const char* path) = 0;
  // Makes a rename in `folder` last.
  virtual int SyncFolder(const char* folder) = 0;
  // The names in a folder, without "." and "..".
  virtual bool ListFolder(const char* folder, std::vector<std::string>& names) = 0;
  // Gives the file at `to` every extended attribute of the one at `from`
  // (its POSIX ACL among them). False, with the attribute's name in
  // `which` and errno set, for one it cannot give.
  virtual bool CopyAttributes(int from, int to, std::string& which) = 0;

  // The runs' lock on a file, flock(2), and the wait between two tries.
  virtual int Lock(int fd, int operation) = 0;
  // Whether another program holds a POSIX or open file description lock
  // on the file (QEMU's way to lock a running machine's images): 1 and its
  // process (0 when unknown), 0 for none, -1 when it cannot be told.
  virtual int LockHolder(int fd, long& process) = 0;
  virtual void Sleep(unsigned milliseconds) = 0;

  // A read-only mapping of `size` bytes of `fd`, or null. While it is
  // mapped, a fault from reading it after another program shortened the
  // file ends the run with a message that names `name`.
  virtual const char* Map(int fd, size_t size, const std::string& name) = 0;
  virtual void Unmap(const char* at, size_t size) = 0;
  // Lets mapped pages go from memory; they come back from the file.
  virtual void Release(const char* at, size_t size) = 0;

  // From here on, SIGINT, SIGTERM, SIGHUP and SIGQUIT are noted instead of
  // ending the run at once (a run on a disk image, which must let the
  // command under way finish and put the image right first).
  virtual void DeferStops() = 0;
  // The signal noted since, or 0.
  virtual int PendingStop() const = 0;
  // Ends the process by the noted signal, as it would have ended it;
  // returns when none is noted.
  virtual void EndByPendingStop() = 0;

  // Processes: the programs a disk image needs (mtools, qemu-img,
  // qemu-nbd), and the run's own writers, which must outlive it.
  struct Launch {
    std::vector<std::string> argv;  // argv[0] is looked up on PATH
    std::vector<std::string> env;   // the child's whole environment
    // The child's descriptors 0, 1, 2, ...: each is this process's
    // descriptor given here (-1: /dev/null); every other one is closed.
    std::vector<int> fds;
    // A session of its own: no terminal's signal reaches it, and it goes
    // on when this process ends.
    bool ownSession = true;
    // LISTEN_PID set to the child's own process id, for a server started
    // by socket activation with its socket as descriptor 3.
    bool listenPid = false;
  };
  // 0 and the child's process id, or the errno of the fork or the exec
  // (ENOENT for a program that is not on PATH).
  virtual int Spawn(const Launch& launch, long& pid) = 0;
  // Runs `work` in a child process in a session of its own, which goes on
  // whatever happens to this one; its exit status is what `work` returns.
  // 0 and the child's process id, or the fork's errno.
  virtual int Detach(const std::function<int()>& work, long& pid) = 0;
  // waitpid(2), retried when a signal interrupts it: 0 and the exit status
  // (128 + the signal for a child that a signal ended), or -1 and errno.
  virtual int Wait(long pid, int& status) = 0;
  virtual int Kill(long pid, int signal) = 0;
  // pipe2(2), both ends closed on exec.
  virtual int Pipe(int ends[2]) = 0;
  // Whether `program` is an executable file in a folder of PATH.
  virtual bool OnPath(const char* program) = 0;
  // A Unix stream socket listening at `path`, or connected to it; the
  // descriptor, or -1 and errno.
  virtual int Listen(const char* path) = 0;
  virtual int Connect(const char* path) = 0;
};

// The real calls. While one lives it owns the process's handlers of the
// signals above (installed by the first, put back by the last), so make
// one for a run and pass it down.
class RealPlatform : public Platform {
 public:
  // `faultStatus`: the exit status of a run ended by a mapped file's fault.
  explicit RealPlatform(int faultStatus = 2);
  ~RealPlatform() override;
  RealPlatform(const RealPlatform&) = delete;
  RealPlatform& operator=(const RealPlatform&) = delete;

  int Open(const char* path, int flags) override;
  int Close(int fd) override;
  long Read(int fd, void* buffer, size_t size) override;
  long ReadAt(int fd, void* buffer, size_t size, uint64_t offset) override;
  long Write(int fd, const void* data, size_t size) override;
  long WriteAt(int fd, const void* data, size_t size,
               uint64_t offset) override;
  int Resize(int fd, uint64_t size) override;
  bool FreeSpace(const char* path, uint64_t& bytes) override;
  long Copy(int from, long long* offset, int to, size_t size) override;
  int Sync(int fd) override;
  int Stat(int fd, struct stat* status) override;
  int StatPath(const char* path, struct stat* status) override;
  int Rename(const char* from, const char* to) override;
  int RenameNoReplace(const char* from, const char* to) override;
  int Remove(const char* path) override;
  bool ResolvePath(const char* path, std::string& resolved) override;
  int MakeTemporary(std::string& pattern) override;
  void ForgetTemporary(const std::string& path) override;
  int SetOwner(int fd, uid_t owner, gid_t group) override;
  int SetMode(int fd, mode_t mode) override;
  int MayWrite(const char* path) override;
  int SyncFolder(const char* folder) override;
  bool ListFolder(const char* folder, std::vector<std::string>& names) override;
  bool CopyAttributes(int from, int to, std::string& which) override;
  int Lock(int fd, int operation) override;
  int LockHolder(int fd, long& process) override;
  void Sleep(unsigned milliseconds) override;
  const char* Map(int fd, size_t size, const std::string& name) override;
  void Unmap(const char* at, size_t size) override;
  void Release(const char* at, size_t size) override;
  void DeferStops() override;
  int PendingStop() const override;
  void EndByPendingStop() override;
  int Spawn(const Launch& launch, long& pid) override;
  int Detach(const std::function<int()>& work, long& pid) override;
  int Wait(long pid, int& status) override;
  int Kill(long pid, int signal) override;
  int Pipe(int ends[2]) override;
  bool OnPath(const char* program) override;
  int Listen(const char* path) override;
  int Connect(const char* path) override;
};

// Reads until `size` bytes are in or the file ends, retrying interrupted
// reads: the count read, or -1 with errno set.
long ReadFully(Platform& platform, int fd, char* buffer, size_t size);

// The same at `offset`, the file's position left alone.
long ReadFullyAt(Platform& platform, int fd, char* buffer, size_t size,
                 uint64_t offset);

// Writes all of `data`, retrying interrupted and short writes: 0, or the
// error (ENOSPC for a write that makes no progress).
int WriteFully(Platform& platform, int fd, std::string_view data);

// The same at `offset`, the file's position left alone.
int WriteFullyAt(Platform& platform, int fd, std::string_view data,
                 uint64_t offset);

// The text of an errno value.
std::string Reason(int code);

}  // namespace hostreg

#endif
