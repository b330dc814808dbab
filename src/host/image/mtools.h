// mtools' commands (mattrib, mcopy, mren, mdel) run on one FAT volume: a
// process each (programs.h), on the image itself or on the local copy of
// a volume of an image in another format. Writing the FAT file system is
// theirs; reading it is FatFileSystem's (fat_volume.h).
#ifndef REGSWITCH_HOST_IMAGE_MTOOLS_H
#define REGSWITCH_HOST_IMAGE_MTOOLS_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/image/disk_layout.h"
#include "host/image/programs.h"
#include "host/platform/platform.h"

namespace hostreg {

class Mtools {
 public:
  using Result = ProgramResult;
  struct Command {
    const char* name;
    std::vector<std::string> args;
  };
  // What must happen after a command wrote the file: for a local copy,
  // its changes put into the image. False and why when they could not be.
  using AfterWrite = std::function<bool(std::string& error)>;

  // `fd` is the file the commands work on, open, with the disk starting
  // `base` bytes into it; they reach it as /proc/self/fd/3, so that they
  // work on the very file that was opened and locked, whatever its name
  // holds, and keep its lock while they run, even after this process has
  // ended. A stop signal ends a reading command at once; one that writes
  // always runs to its end, in a session of its own.
  Mtools(Platform& platform, int fd, uint64_t base,
         AfterWrite afterWrite = nullptr);

  // Whether the mtools commands this program runs are on PATH; false and
  // which package to install when not.
  static bool Available(Platform& platform, std::string& error);

  // Runs `command` on `volume` with the arguments after "-i IMAGE".
  // Paths "::\..." in `args` are on the volume. `writes` says whether it
  // may change the file.
  Result Run(const char* command, const FatVolume& volume,
             const std::vector<std::string>& args, bool writes) const;
  // Runs writing commands one after the other, up to the first that
  // fails, as one unit that runs to its end whatever happens to this
  // process meanwhile. The results of those that ran.
  std::vector<Result> RunTogether(const FatVolume& volume,
                                  const std::vector<Command>& commands) const;

  // The message for a command that failed: mtools' own words, or that
  // mtools is missing.
  static std::string Failure(const char* command, const Result& result);

  // "::/WIN98/SYSTEM.DAT" for "\WIN98\SYSTEM.DAT".
  static std::string VolumePath(const std::string& dosPath);

 private:
  std::vector<std::string> Words(const char* command, const FatVolume& volume,
                                 const std::vector<std::string>& args) const;
  void Written(Result& result) const;
  std::vector<Result> Unit(const FatVolume& volume,
                           const std::vector<Command>& commands) const;

  Platform& platform_;
  int fd_;
  uint64_t base_;
  AfterWrite afterWrite_;
};

}  // namespace hostreg

#endif
