// The entry routine and the tweak table.
#include "../tweaks/tweaks.h"
#include "front.h"

// Order matters: rows run in this order whatever order the tail gives.
const Tweak kTweakTable[kTweakCount] = {
    {"SSP", "/SSP", "-SSP", "Enum\\Root\\*PNP0C05\\0000", SetApmMenuSuspend},
    {"DDC", "/DDC", "-DDC", "System\\CurrentControlSet\\Services\\Class\\Display",
     SetDisplayDdc},
    {"CDP", "/CDP", "-CDP", "Enum\\SCSI", SetScsiAutoInsert},
    {"DMA", "/DMA", "-DMA", "System\\CurrentControlSet\\Services\\Class\\hdc",
     SetIdeDma},
    {"DIN", "/DIN", "-DIN",
     "Software\\Microsoft\\Windows\\CurrentVersion\\Setup\\OptionalComponents",
     SetDeskMgmtInstalled},
    {"ACS", "/ACS", "-ACS", "SYSTEM\\CurrentControlSet\\control\\FileSystem",
     ResetAcDriveSpinDown},
};

static const char* const kHelpForms[] = {"/?", "-?", "/H", "-H"};

LPCSTR FindHelpSwitch(LPCSTR tail) {
  for (unsigned i = 0; i < sizeof kHelpForms / sizeof kHelpForms[0]; ++i) {
    LPCSTR found = FindForm(tail, kHelpForms[i]);
    if (found != 0) return found;
  }
  return 0;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR tail, int) {
  UpperCaseTail(tail);

  if (FindHelpSwitch(tail) != 0) {
    ShowAbout();
    return 0;
  }

  for (unsigned i = 0; i < kTweakCount; ++i) {
    const Tweak& row = kTweakTable[i];
    LPCSTR found = FindSwitch(tail, row);
    if (found == 0) continue;
    const bool on = ParseSwitchValue(found);
    HKEY key;
    if (RegistryOps::RegOpenKeyA(HKEY_LOCAL_MACHINE, row.keyPath, &key) != 0)
      continue;  // a missing key skips its row, silently
    row.worker(key, on);
    RegistryOps::RegCloseKey(key);
  }
  return 0;
}
