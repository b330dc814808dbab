// Loading a .reg file's lines after its header: every line is checked, the
// keys under HKEY_LOCAL_MACHINE are added to the key tree with where their
// lines are, and no value is kept (see RegSource).
#ifndef REGSWITCH_HOST_FORMATS_REG_REG_LOADER_H
#define REGSWITCH_HOST_FORMATS_REG_REG_LOADER_H

#include <string>

#include "host/formats/reg/reg_text.h"
#include "host/registry/key_tree.h"

namespace hostreg {

// False and `error` ("NAME:LINE: why") for the first line that Windows'
// registry editor would not take from an export.
bool LoadRegLines(const std::string& name, RegText& text, KeyTree& keys,
                  std::string& error);

}  // namespace hostreg

#endif
