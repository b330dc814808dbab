// Tweaks that look at each direct subkey of the key they are given.
#include "tweaks.h"

static const char kDefaultSuffix[] = "\\DEFAULT";

// Longest subkey name that still leaves room for the suffix and the
// terminating zero in the name buffer.
enum { kMaxDisplayEntryName = kNameBufferSize - (sizeof kDefaultSuffix - 1) - 1 };

static DWORD NameLength(LPCSTR name) {
  DWORD length = 0;
  while (name[length] != '\0') ++length;
  return length;
}

void SetDisplayDdc(HKEY key, bool on) {
  const char* const data = on ? "1" : "0";
  CHAR name[kNameBufferSize];
  for (DWORD index = 0;
       RegistryOps::RegEnumKeyA(key, index, name, sizeof name) == 0; ++index) {
    // lstrcatA does no bounds check: a name too long for the suffix is skipped.
    if (NameLength(name) > kMaxDisplayEntryName) continue;
    RegistryOps::lstrcatA(name, kDefaultSuffix);
    HKEY defaults;
    if (RegistryOps::RegOpenKeyA(key, name, &defaults) != 0) continue;
    RegistryOps::RegSetValueExA(defaults, "DDC", 0, REG_SZ,
                                reinterpret_cast<const BYTE*>(data), 2);
    RegistryOps::RegCloseKey(defaults);
  }
}

// Reads a value into the buffer and compares it, as a string, with one of
// the given texts. The string ends at the first zero byte or at the end of the
// bytes read, whatever the value's type; nothing beyond them is looked at.
static bool ValueMatches(HKEY key, LPCSTR valueName, BYTE* buffer,
                         LPCSTR first, LPCSTR second) {
  DWORD size = kNameBufferSize;
  if (RegistryOps::RegQueryValueExA(key, valueName, 0, 0, buffer, &size) != 0)
    return false;
  DWORD length = 0;
  while (length < size && buffer[length] != 0) ++length;
  // A full buffer without a zero is longer than any text compared here.
  if (length >= kNameBufferSize) return false;
  buffer[length] = 0;
  LPCSTR text = reinterpret_cast<LPCSTR>(buffer);
  if (RegistryOps::lstrcmpiA(text, first) == 0) return true;
  return second != 0 && RegistryOps::lstrcmpiA(text, second) == 0;
}

void SetIdeDma(HKEY key, bool on) {
  const BYTE flag = on ? 1 : 0;
  CHAR name[kNameBufferSize];
  for (DWORD index = 0;
       RegistryOps::RegEnumKeyA(key, index, name, sizeof name) == 0; ++index) {
    HKEY controller;
    if (RegistryOps::RegOpenKeyA(key, name, &controller) != 0) continue;
    BYTE* buffer = reinterpret_cast<BYTE*>(name);
    if (ValueMatches(controller, "PortDriver", buffer, "ESDI_506.PDR", 0) &&
        ValueMatches(controller, "InfPath", buffer, "MSHDC.INF", 0) &&
        ValueMatches(controller, "InfSection", buffer, "GOOD_IDE",
                     "DUAL_GOOD_IDE")) {
      RegistryOps::RegSetValueExA(controller, "IDEDMADRIVE0", 0, REG_BINARY,
                                  &flag, 1);
      RegistryOps::RegSetValueExA(controller, "IDEDMADRIVE1", 0, REG_BINARY,
                                  &flag, 1);
    }
    RegistryOps::RegCloseKey(controller);
  }
}

void SetDeskMgmtInstalled(HKEY key, bool on) {
  const char* const data = on ? "1" : "0";
  CHAR name[kNameBufferSize];
  for (DWORD index = 0;
       RegistryOps::RegEnumKeyA(key, index, name, sizeof name) == 0; ++index) {
    if (RegistryOps::lstrcmpiA(name, "DeskMgmt") != 0) continue;
    HKEY component;
    if (RegistryOps::RegOpenKeyA(key, name, &component) != 0) return;
    DWORD size = sizeof name;
    // Only an unreadable marker (missing, or too long) is written.
    if (RegistryOps::RegQueryValueExA(component, "Installed", 0, 0,
                                      reinterpret_cast<BYTE*>(name),
                                      &size) != 0)
      RegistryOps::RegSetValueExA(component, "Installed", 0, REG_SZ,
                                  reinterpret_cast<const BYTE*>(data), 2);
    RegistryOps::RegCloseKey(component);
  }
}
