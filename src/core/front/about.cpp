// The about box: the program's only visible output.
#include "front.h"

const char kAboutCaption[] = "Varnholt";
const char kAboutText[] =
    "regswitch by the Varnholt developers\n"
    "Varnholt Software\n"
    "First written December 2026\n"
    "Last updated December 2026";

void ShowAbout() {
  RegistryOps::MessageBoxA(0, kAboutText, kAboutCaption, MB_ICONINFORMATION);
}
