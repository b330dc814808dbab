// The about box as text, for a host without windows.
#ifndef REGSWITCH_HOST_REGISTRY_ABOUT_BOX_H
#define REGSWITCH_HOST_REGISTRY_ABOUT_BOX_H

#include <string>

#include "core/win32_types.h"

namespace hostreg {

// The caption in brackets, the text's lines with the icon's mark before the
// first, and the OK button.
std::string RenderMessageBox(const char* text, const char* caption, UINT type);

}  // namespace hostreg

#endif
