// The process entry of regswitch.exe. There is no C runtime: this takes its
// place, finds the tail of the command line and hands it to WinMain.
#include "../core/front/front.h"

// The linker's name for the load address of our own image, which is the
// instance handle Windows would give WinMain.
extern "C" IMAGE_DOS_HEADER __ImageBase;

// The loader calls this with no arguments we rely on; it never returns, so
// the calling convention does not matter.
extern "C" void RegSwitchStartup() {
  // GetCommandLineA's buffer belongs to the process and is writable;
  // WinMain upper-cases the tail in place.
  LPSTR tail = SkipProgramName(GetCommandLineA());
  ExitProcess(static_cast<UINT>(
      WinMain(reinterpret_cast<HINSTANCE>(&__ImageBase), 0, tail, SW_SHOWDEFAULT)));
}
