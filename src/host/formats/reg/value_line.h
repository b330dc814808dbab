// Value lines: "name"=data or @=data, in each form a registry export gives
// data: "text", dword:, hex: and hex(N):, hex data continued over lines
// with a '\' at the end.
#ifndef REGSWITCH_HOST_FORMATS_REG_VALUE_LINE_H
#define REGSWITCH_HOST_FORMATS_REG_VALUE_LINE_H

#include <cstdint>
#include <string>

#include "core/win32_types.h"
#include "host/formats/reg/line_reader.h"
#include "host/formats/reg/reg_text.h"

namespace hostreg {

// Where a value line's name and data go. Loading checks every line of a
// file but keeps no value (a key's values are decoded when first looked
// at), so it reads them into Discard; decoding reads them into strings.
struct Discard {
  void operator+=(char) {}
};
inline void AppendForeign(Discard&, uint16_t) {}

// Reads the value line that starts with `first` (its leading blanks are
// skipped) into `name`, `type` and `data`; `last` becomes the value's last
// line. Further lines come from `lines`, which is where a refusal goes.
template <class Out>
bool ParseValueLine(const RegText& text, LineReader& lines, const Line& first,
                    Line& last, Out& name, DWORD& type, Out& data);

extern template bool ParseValueLine<Discard>(const RegText&, LineReader&,
                                             const Line&, Line&, Discard&,
                                             DWORD&, Discard&);
extern template bool ParseValueLine<std::string>(const RegText&, LineReader&,
                                                 const Line&, Line&,
                                                 std::string&, DWORD&,
                                                 std::string&);

}  // namespace hostreg

#endif
