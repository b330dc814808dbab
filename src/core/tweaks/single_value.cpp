// Tweaks that change one value of the key they are given.
#include "tweaks.h"

void SetApmMenuSuspend(HKEY key, bool on) {
  const BYTE flag = on ? 1 : 0;
  RegistryOps::RegSetValueExA(key, "APMMenuSuspend", 0, REG_BINARY, &flag, 1);
}

void ResetAcDriveSpinDown(HKEY key, bool) {
  BYTE data[kNameBufferSize];
  DWORD size = sizeof data;
  if (RegistryOps::RegQueryValueExA(key, "ACDriveSpinDown", 0, 0, data,
                                    &size) != 0)
    return;  // missing or too long: left as it is, never created
  // The stored size is kept and every byte of it becomes zero, however long
  // the value was; the buffer is reused as the zero source so no byte beyond
  // the data can leak into the registry.
  for (DWORD i = 0; i < size; ++i) data[i] = 0;
  RegistryOps::RegSetValueExA(key, "ACDriveSpinDown", 0, REG_BINARY, data,
                              size);
}
