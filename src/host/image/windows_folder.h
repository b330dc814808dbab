// Which FAT volume of an image holds Windows, and in which folder: the
// WinDir= line of MSDOS.SYS (a text file on Windows 95 and 98) where there
// is one, else \WINDOWS.
#ifndef REGSWITCH_HOST_IMAGE_WINDOWS_FOLDER_H
#define REGSWITCH_HOST_IMAGE_WINDOWS_FOLDER_H

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "host/image/disk_layout.h"

namespace hostreg {

// A folder as MSDOS.SYS names it: "C:\WIN98" is {'C', "\WIN98"}.
struct DosFolder {
  char letter = 0;   // 0 when no drive is named
  std::string path;  // from the root, with backslashes: "\WIN98", "\"
};

enum class WinDirLine { kNone, kFound, kBad };

// The WinDir= line of MSDOS.SYS's text (in any case, spaces around the
// name and the value, CRLF or LF). kBad, with `problem`, for a value that
// is no folder path of DOS.
WinDirLine ParseWinDir(std::string_view text, DosFolder& folder,
                       std::string& problem);

// The same over a text that comes in pieces, of any length: Windows 98's
// MSDOS.SYS is padded to over a kilobyte, and nothing keeps one from
// growing, or a line from coming after a long comment.
class WinDirScanner {
 public:
  // False once the answer is known.
  bool Take(std::string_view piece);
  WinDirLine Finish(DosFolder& folder, std::string& problem);

 private:
  bool Line(std::string_view line);
  std::string partial_;
  WinDirLine result_ = WinDirLine::kNone;
  DosFolder folder_;
  std::string problem_;
};

// What the search needs to know of a FAT volume's files: the volume read
// in place answers for the program (volume_files.h), a table for the tests.
class VolumeFiles {
 public:
  enum class Lookup { kFound, kMissing, kBroken };
  virtual ~VolumeFiles() = default;
  // Whether `path` ("\WIN98", "\WIN98\SYSTEM.DAT") is there, found in any
  // case; kBroken, with the reason, when the file system cannot be read.
  virtual Lookup Find(const FatVolume& volume, const std::string& path,
                      std::string& reason) = 0;
  // A file's bytes in pieces, front to back, each handed to `take` until
  // it returns false.
  virtual Lookup Read(const FatVolume& volume, const std::string& path,
                      const std::function<bool(std::string_view)>& take,
                      std::string& reason) = 0;
};

struct WindowsFolder {
  FatVolume volume;
  std::string path;  // "\WINDOWS"
};

// Finds the one volume whose Windows folder exists: its own MSDOS.SYS
// names the folder (or one on another volume names it by its drive
// letter); a volume whose MSDOS.SYS has no WinDir line has \WINDOWS.
// `partition` (0 for any) limits the search to that partition. False and
// `error` (which says what was found on each volume) when no volume has
// one, when several do and no partition was chosen, or when the chosen
// partition is no FAT volume.
bool FindWindowsFolder(const DiskLayout& layout, int partition,
                       VolumeFiles& files, WindowsFolder& found,
                       std::string& error);

// "C:\WIN98", as the user knows the folder.
std::string DosPath(char letter, const std::string& path);

}  // namespace hostreg

#endif
