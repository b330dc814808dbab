// SYSTEM.DAT in the image's Windows folder: copied out for the run, and
// put back so that at every moment the folder holds a whole SYSTEM.DAT,
// the old one or the new, with the attributes the old one had.
#ifndef REGSWITCH_HOST_IMAGE_SYSTEM_DAT_H
#define REGSWITCH_HOST_IMAGE_SYSTEM_DAT_H

#include <string>
#include <string_view>
#include <vector>

#include "host/image/mtools.h"
#include "host/image/windows_folder.h"

namespace hostreg {

struct DosAttributes {
  bool archive = false;
  bool readOnly = false;
  bool hidden = false;
  bool system = false;
};

// The attributes in mattrib's line for one file ("  A  SHR     ::/X");
// false when the line is not of that form.
bool ParseAttributes(std::string_view line, DosAttributes& attributes);

class SystemDatInImage {
 public:
  // The new file's name in the Windows folder until it replaces SYSTEM.DAT.
  static constexpr const char* kTemporaryName = "REGSWTCH.TMP";

  SystemDatInImage(const Mtools& mtools, const WindowsFolder& folder,
                   const Platform& stop);

  // "C:\WINDOWS\SYSTEM.DAT".
  std::string Describe() const;

  // Copies SYSTEM.DAT (found by its 8.3 name in any case) to the file
  // `copy` and notes its attributes. False and why when there is none or
  // it cannot be read.
  bool CopyOut(const std::string& copy, std::string& error);

  // Puts the file `copy` in SYSTEM.DAT's place: written into the folder as
  // REGSWTCH.TMP, given SYSTEM.DAT's attributes, read back and compared
  // (through the file `check`), then renamed over SYSTEM.DAT in one mtools
  // command. Each step runs to its end; a stop signal between two steps
  // before the rename removes REGSWTCH.TMP again. False and why when a
  // step fails or the run was asked to stop before the rename: SYSTEM.DAT
  // is then the old one.
  bool Replace(const std::string& copy, const std::string& check,
               std::string& error);

 private:
  bool Step(const char* command, const std::vector<std::string>& args,
            bool writes, std::string& error, std::string* output = nullptr);
  bool Abandon(std::string& error);

  const Mtools& mtools_;
  const WindowsFolder folder_;
  const Platform& stop_;
  std::string path_;       // "::/WINDOWS/SYSTEM.DAT"
  std::string temporary_;  // "::/WINDOWS/REGSWTCH.TMP"
  DosAttributes attributes_;
};

}  // namespace hostreg

#endif
