// The seam between the program's own code (front end, tweaks) and the platform.
//
// Every registry call, every string helper and the about box go through the
// names in namespace RegistryOps. On Windows they are the real advapi32,
// kernel32 and user32 functions; on the host they are our own registry, kept in
// a registry file. Callers see the same Win32 names and types on both sides and
// need no conditionals of their own.
#ifndef REGSWITCH_REGISTRY_OPS_H
#define REGSWITCH_REGISTRY_OPS_H

#ifdef _WIN32

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace RegistryOps {
using ::lstrcatA;
using ::lstrcmpiA;
using ::MessageBoxA;
using ::RegCloseKey;
using ::RegEnumKeyA;
using ::RegEnumValueA;
using ::RegOpenKeyA;
using ::RegQueryValueExA;
using ::RegSetValueExA;
}  // namespace RegistryOps

#else

#include "win32_types.h"

namespace RegistryOps {
LONG RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result);
LONG RegEnumKeyA(HKEY key, DWORD index, LPSTR name, DWORD nameSize);
LONG RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD nameLength,
                   LPDWORD reserved, LPDWORD type, LPBYTE data,
                   LPDWORD dataSize);
LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved,
                      LPDWORD type, LPBYTE data, LPDWORD dataSize);
LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type,
                    const BYTE* data, DWORD dataSize);
LONG RegCloseKey(HKEY key);
int lstrcmpiA(LPCSTR a, LPCSTR b);
LPSTR lstrcatA(LPSTR dest, LPCSTR suffix);
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
}  // namespace RegistryOps

#endif

#endif
