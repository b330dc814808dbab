// The program's own name at the start of the command line, and what follows.
#include "front.h"

// Bytes are compared unsigned: names and tails may hold bytes above 127.
static bool IsBlank(CHAR c) {
  const BYTE code = static_cast<BYTE>(c);
  return code >= 1 && code <= ' ';
}

LPSTR SkipProgramName(LPSTR commandLine) {
  LPSTR p = commandLine;
  if (*p == '"') {
    ++p;
    while (*p != '\0' && *p != '"') ++p;
    if (*p == '"') ++p;  // the closing quote belongs to the name
  } else {
    while (static_cast<BYTE>(*p) > ' ') ++p;
  }
  while (IsBlank(*p)) ++p;
  return p;
}
