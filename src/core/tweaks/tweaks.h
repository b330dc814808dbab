// The six workers. Each takes the key that the front end opened for its row
// and the switch value, reports nothing and never closes the key it was given.
#ifndef REGSWITCH_TWEAKS_H
#define REGSWITCH_TWEAKS_H

#include "../registry_ops.h"

// Every name, key path and value read goes through one buffer of this size.
enum { kNameBufferSize = 256 };

// Single values of the given key.
void SetApmMenuSuspend(HKEY key, bool on);
void ResetAcDriveSpinDown(HKEY key, bool on);

// One level of subkeys below the given key.
void SetDisplayDdc(HKEY key, bool on);
void SetIdeDma(HKEY key, bool on);
void SetDeskMgmtInstalled(HKEY key, bool on);

// The whole tree below the given key.
void SetScsiAutoInsert(HKEY key, bool on);

#endif
