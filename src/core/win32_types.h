// The few Win32 types, constants and result codes that the program's own code
// uses, for the host build, with the same sizes as on 32-bit Windows.
#ifndef REGSWITCH_WIN32_TYPES_H
#define REGSWITCH_WIN32_TYPES_H

#include <stdint.h>

#define WINAPI
#define APIENTRY

typedef int32_t LONG;
typedef uint32_t DWORD;
typedef uint32_t UINT;
typedef int BOOL;
typedef unsigned char BYTE;
typedef char CHAR;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef DWORD* LPDWORD;
typedef BYTE* LPBYTE;

typedef struct HKEY__* HKEY;
typedef HKEY* PHKEY;
typedef struct HINSTANCE__* HINSTANCE;
typedef struct HWND__* HWND;

#define HKEY_LOCAL_MACHINE ((HKEY)(uintptr_t)0x80000002u)

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_MULTI_SZ 7

#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_BAD_PATHNAME 161L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L

#define MB_OK 0x00000000u
#define MB_ICONINFORMATION 0x00000040u

#endif
