// The two C runtime functions the compiler may call on its own for block
// copies and clears, as regswitch.exe links no C runtime. Loops are not
// rewritten into library calls in this build (cmake/windows.cmake), so these
// do not call themselves.
#include <stddef.h>

extern "C" void* memset(void* dest, int value, size_t count) {
  unsigned char* d = static_cast<unsigned char*>(dest);
  while (count-- != 0) *d++ = static_cast<unsigned char>(value);
  return dest;
}

extern "C" void* memcpy(void* dest, const void* source, size_t count) {
  unsigned char* d = static_cast<unsigned char*>(dest);
  const unsigned char* s = static_cast<const unsigned char*>(source);
  while (count-- != 0) *d++ = *s++;
  return dest;
}
