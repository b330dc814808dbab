// Switch scanning: plain byte work, no C runtime.
#include "front.h"

void UpperCaseTail(LPSTR tail) {
  for (LPSTR p = tail; *p != '\0'; ++p) {
    if (*p >= 'a' && *p <= 'z') *p = static_cast<CHAR>(*p - 'a' + 'A');
  }
}

LPCSTR FindForm(LPCSTR text, LPCSTR form) {
  for (LPCSTR start = text; *start != '\0'; ++start) {
    LPCSTR s = start;
    LPCSTR f = form;
    while (*f != '\0' && *s == *f) {
      ++s;
      ++f;
    }
    if (*f == '\0') return start;
  }
  return 0;
}

LPCSTR FindSwitch(LPCSTR tail, const Tweak& row) {
  LPCSTR found = FindForm(tail, row.slashForm);
  if (found == 0) found = FindForm(tail, row.dashForm);
  return found;
}

bool ParseSwitchValue(LPCSTR form) {
  const CHAR c1 = form[4];
  // c2 is only looked at behind ':' or '=', so the read never passes the
  // terminating zero.
  if (c1 != ':' && c1 != '=') return false;
  return form[5] == '1';
}
