// A registry file in the image's Windows folder (SYSTEM.DAT, USER.DAT):
// read in place for the run, and put back so that at every moment the
// folder holds a whole file, the old one or the new, with the attributes
// the old one had. Both files of a run are put in place together.
#ifndef REGSWITCH_HOST_IMAGE_SYSTEM_DAT_H
#define REGSWITCH_HOST_IMAGE_SYSTEM_DAT_H

#include <string>
#include <vector>

#include "host/image/fat_volume.h"
#include "host/image/mtools.h"
#include "host/image/windows_folder.h"

namespace hostreg {

// A file of the image as the run found it.
struct FileInImage {
  FatVolume volume;
  std::string folder;  // "\WINDOWS"
  std::string name;    // "SYSTEM.DAT"
  uint8_t attributes = 0;
  std::string bytes;
  // "C:\WINDOWS\SYSTEM.DAT".
  std::string Describe() const;
};

// Reads the file `file.name` (its 8.3 name, in any case) of `file.folder`,
// its bytes and attributes. kMissing and what is missing when there is
// none, kBroken and why when it cannot be read.
FatFileSystem::Lookup ReadFileInImage(FatFileSystem& files, FileInImage& file,
                                      std::string& error);

// Whether mtools, which finds names by their long names too, could take
// another file of the folder for `name` (a SYSTEM~1.DAT whose long name
// is SYSTEM.DAT, or a second entry of that 8.3 name): false and why.
bool Unambiguous(FatFileSystem& files, const FatVolume& volume,
                 const std::string& folder, const std::string& name,
                 std::string& error);

class RegistryInImage {
 public:
  // `file` as it was read; mtools works on `volume` (the volume itself, or
  // where it lies in a local copy); `temporary` is the new file's name
  // beside the old one until it replaces it.
  RegistryInImage(const Mtools& mtools, const FatVolume& volume,
                  const FileInImage& file, const char* temporary,
                  Platform& platform);

  std::string Describe() const { return file_.Describe(); }
  const std::string& old() const { return file_.bytes; }
  Platform& platform() const { return platform_; }

  // Writes the file `copy` into the folder under the temporary name, gives
  // it the old file's attributes and reads it back through `check`. False
  // and why, the temporary file removed again.
  bool Stage(const std::string& copy, const std::string& check,
             std::string& error);
  // The command that renames the temporary file over the old one.
  Mtools::Command Rename() const;
  // Removes the temporary file; says in `error` what is left as it was.
  bool Abandon(std::string& error);
  // Whether the temporary file, and the old file, are still there.
  bool BothThere() const;
  // The file the run read.
  const FileInImage& file() const { return file_; }

 private:
  bool Step(const char* command, const std::vector<std::string>& args,
            bool writes, std::string& error) const;

  const Mtools& mtools_;
  const FatVolume volume_;
  const FileInImage& file_;
  const std::string temporaryName_;
  Platform& platform_;
  std::string path_;       // "::/WINDOWS/SYSTEM.DAT"
  std::string temporary_;  // "::/WINDOWS/REGSWTCH.TMP"
};

// Puts the staged files in place together: their renames in one unit that
// runs to its end. When a later rename fails after an earlier one was
// made, the earlier file is put back as it was read (through the file
// `scratch`). False and why.
bool PutInPlace(const std::vector<RegistryInImage*>& files,
                const std::string& scratch, const Mtools& mtools,
                const FatVolume& volume, std::string& error);

}  // namespace hostreg

#endif
