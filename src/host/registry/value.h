// One registry value, as the Win32 "A" calls see it.
#ifndef REGSWITCH_HOST_REGISTRY_VALUE_H
#define REGSWITCH_HOST_REGISTRY_VALUE_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/win32_types.h"

namespace hostreg {

// Names and data are the ANSI bytes that the Win32 "A" calls see.
struct Value {
  std::string name;  // empty for the default value
  DWORD type = REG_NONE;
  std::string data;
  bool changed = false;  // type or data differ from what was loaded
  bool added = false;    // created by this run
  // Set from text holding a character code page 1252 has no byte for,
  // which the data holds as '?': no file that keeps names and data as
  // Windows' importer would may take it.
  bool lossy = false;
  // What a changed value held when loaded.
  DWORD wasType = REG_NONE;
  std::string wasData;
  // Where the statement that gave it starts in the source, for a source
  // that can say (a .reg file's text); kNoPlace for none.
  static constexpr uint64_t kNoPlace = ~uint64_t{0};
  uint64_t place = kNoPlace;
  // A changed value's entry in the value store's log of changes.
  size_t logged = 0;
};

}  // namespace hostreg

#endif
