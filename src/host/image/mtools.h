// mtools' commands (mattrib, mcopy, mren...) run on one FAT volume of the
// image: a process each, started with an argument vector and no shell,
// its output captured. The FAT file system is theirs to read and write.
#ifndef REGSWITCH_HOST_IMAGE_MTOOLS_H
#define REGSWITCH_HOST_IMAGE_MTOOLS_H

#include <string>
#include <vector>

#include "host/image/disk_layout.h"
#include "host/platform/platform.h"
#include "host/image/windows_folder.h"

namespace hostreg {

class Mtools : public VolumeFiles {
 public:
  struct Result {
    bool ran = false;      // false: the command could not be started
    int status = -1;       // its exit status
    bool stopped = false;  // a reading command ended early by a stop signal
    std::string output;    // standard output and error, as one
  };

  // `imageFd` is the image, open; the commands reach it as
  // /proc/self/fd/N, so that they work on the very file that was opened,
  // whatever its name holds ("@@" means an offset to mtools). Files that
  // Read copies out go to `workFolder`. A stop signal ends a reading
  // command at once; one that writes always runs to its end, in a session
  // of its own, even when this process ends meanwhile.
  Mtools(int imageFd, const std::string& workFolder, const Platform& stop);
  ~Mtools() override;
  Mtools(const Mtools&) = delete;
  Mtools& operator=(const Mtools&) = delete;

  // Whether the mtools commands this program runs are on PATH; false and
  // which package to install when not.
  static bool Available(std::string& error);

  // Runs `command` on `volume` with the arguments after "-i IMAGE".
  // Paths "::\..." in `args` are on the volume. `writes` says whether it
  // may change the image.
  Result Run(const char* command, const FatVolume& volume,
             const std::vector<std::string>& args, bool writes) const;

  // The message for a command that failed: mtools' own words, or that
  // mtools is missing.
  static std::string Failure(const char* command, const Result& result);

  // "::/WIN98/SYSTEM.DAT" for "\WIN98\SYSTEM.DAT".
  static std::string VolumePath(const std::string& dosPath);

  // VolumeFiles, by mattrib and mcopy.
  Lookup Find(const FatVolume& volume, const std::string& path,
              std::string& reason) override;
  Lookup Read(const FatVolume& volume, const std::string& path, size_t limit,
              std::string& bytes, std::string& reason) override;

 private:
  int imageFd_;
  std::string workFolder_;
  const Platform& stop_;
};

}  // namespace hostreg

#endif
