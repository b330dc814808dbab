// Which Windows a CREG file is from, as far as the file tells: the limits a
// save keeps to and where HKEY_CLASSES_ROOT lives depend on it.
#ifndef REGSWITCH_HOST_FORMATS_CREG_WINDOWS_VERSION_H
#define REGSWITCH_HOST_FORMATS_CREG_WINDOWS_VERSION_H

#include <string>

#include "host/registry/registry.h"

namespace hostreg {
namespace creg {

enum class Windows { kUnknown, k95, k98, kMe };

// A machine's SYSTEM.DAT names its version in VersionNumber under
// SOFTWARE\Microsoft\Windows\CurrentVersion: "4.00.*" for Windows 95,
// "4.10.*" for 98, "4.90.*" for Me (the real files: "4.00.1111" with
// Version "Windows 95", "4.90.3000" with "Windows Millennium Edition").
// A file without one (USER.DAT, CLASSES.DAT) is taken for Windows 95's
// when it carries checksums, as only Windows 95's real file does (see
// checksums.h); else it is not known.
Windows WindowsOf(Registry& registry, const std::string& contents);

}  // namespace creg
}  // namespace hostreg

#endif
