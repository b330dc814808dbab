// Registry names as the Win32 "A" calls see them: bytes of Windows' Western
// code page (1252), compared without regard to case.
#ifndef REGSWITCH_HOST_REGISTRY_NAMES_H
#define REGSWITCH_HOST_REGISTRY_NAMES_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace hostreg {

// Windows' own limits, which loading enforces.
constexpr size_t kMaxKeyNameLength = 255;
constexpr size_t kMaxKeyDepth = 512;

// Case-insensitive comparison as code page 1252 folds names: ASCII letters
// and the accented Latin letters.
unsigned char FoldCase(unsigned char c);
bool NamesEqual(std::string_view a, std::string_view b);
// lstrcmpiA's order over two C strings.
int CompareNames(const char* a, const char* b);
// lstrcmpiA's order over two names of any bytes; a prefix comes first.
int CompareNames(std::string_view a, std::string_view b);
// A hash of the folded name: names equal without regard to case hash alike.
uint32_t NameHash(std::string_view name);

// A name read from a UTF-16 file may hold characters that code page 1252
// has no byte for. Each is held as kForeignMark followed by its UTF-16 code
// unit in four upper-case hex digits, so the name keeps the character
// exactly and never equals a name the front end passes (those are C
// strings: they cannot contain the mark). The "A" calls show such a
// character as '?', as Windows does.
constexpr char kForeignMark = '\0';
constexpr size_t kForeignLength = 5;
// The name as the "A" calls return it.
std::string AnsiName(const std::string& name);

}  // namespace hostreg

#endif
