// The tweak that walks a whole tree of keys.
#include "tweaks.h"

// Depth first: a key's values, then each subkey's whole tree in turn. The
// recursion is one frame per level; the registry limits how deep trees go.
void SetScsiAutoInsert(HKEY key, bool on) {
  const BYTE flag = on ? 1 : 0;
  CHAR name[kNameBufferSize];

  for (DWORD index = 0;; ++index) {
    DWORD length = sizeof name;
    if (RegistryOps::RegEnumValueA(key, index, name, &length, 0, 0, 0, 0) != 0)
      break;
    // Rewritten under the name as enumerated, so a differently cased name
    // never gains a twin.
    if (RegistryOps::lstrcmpiA(name, "AutoInsertNotification") == 0)
      RegistryOps::RegSetValueExA(key, name, 0, REG_BINARY, &flag, 1);
  }

  for (DWORD index = 0;
       RegistryOps::RegEnumKeyA(key, index, name, sizeof name) == 0; ++index) {
    HKEY child;
    if (RegistryOps::RegOpenKeyA(key, name, &child) != 0) continue;
    SetScsiAutoInsert(child, on);
    RegistryOps::RegCloseKey(child);
  }
}
