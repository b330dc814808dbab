// The command-line front end: the tweak table, switch scanning and the about box.
#ifndef REGSWITCH_FRONT_H
#define REGSWITCH_FRONT_H

#include "../registry_ops.h"

// A worker gets the key that the front end opened for its row and the switch
// value (true for on). It never closes that key.
typedef void (*TweakWorker)(HKEY key, bool on);

struct Tweak {
  const char* letters;    // "SSP"
  const char* slashForm;  // "/SSP": searched first
  const char* dashForm;   // "-SSP"
  const char* keyPath;    // opened under HKEY_LOCAL_MACHINE
  TweakWorker worker;
};

enum { kTweakCount = 6 };
extern const Tweak kTweakTable[kTweakCount];

// The caption and the four-line credit text of the about box.
extern const char kAboutCaption[];
extern const char kAboutText[];

// Upper-cases the tail in place: a-z only, no locale, other bytes unchanged.
void UpperCaseTail(LPSTR tail);

// Leftmost occurrence of `form` anywhere in `text`, or null.
LPCSTR FindForm(LPCSTR text, LPCSTR form);

// The row's slash form if it occurs anywhere in the tail, else its dash form,
// else null.
LPCSTR FindSwitch(LPCSTR tail, const Tweak& row);

// The first help form ("/?", "-?", "/H", "-H", looked for in that order)
// that occurs anywhere in the upper-cased tail, or null.
LPCSTR FindHelpSwitch(LPCSTR tail);

// The value behind a found four-character form: on exactly for ":1" or "=1".
bool ParseSwitchValue(LPCSTR form);

void ShowAbout();

// The tail of a whole command line: behind the program's name and the blanks
// after it. A name that starts with a double quote runs to the next one,
// which goes with it, or to the end; any other name ends before the first
// byte of code 32 or below. Blanks are bytes of code 1 to 32.
LPSTR SkipProgramName(LPSTR commandLine);

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR tail,
                   int showCommand);

#endif
