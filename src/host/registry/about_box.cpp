#include "host/registry/about_box.h"

#include <cstring>
#include <vector>

namespace hostreg {

std::string RenderMessageBox(const char* text, const char* caption,
                             UINT type) {
  std::vector<std::string> lines;
  for (const char* start = text;;) {
    const char* end = std::strchr(start, '\n');
    lines.emplace_back(start, end == nullptr ? std::strlen(start)
                                             : static_cast<size_t>(end - start));
    if (end == nullptr) break;
    start = end + 1;
  }
  const std::string mark = (type & 0xF0u) == MB_ICONINFORMATION ? "(i)" : "   ";
  std::string out = "[ " + std::string(caption) + " ]\n";
  for (size_t i = 0; i < lines.size(); ++i)
    out += (i == 0 ? mark : std::string(3, ' ')) + "  " + lines[i] + "\n";
  out += "                [ OK ]\n";
  return out;
}

}  // namespace hostreg
