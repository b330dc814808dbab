// Where a loaded registry's names and values stay: the loaded file.
//
// A million-key export would otherwise be copied into a million small
// objects. Keys name themselves by a place in the source instead, and a
// key's values are read from it only when something first looks at them.
// What the places mean is the source's own business.
#ifndef REGSWITCH_HOST_REGISTRY_KEY_SOURCE_H
#define REGSWITCH_HOST_REGISTRY_KEY_SOURCE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "host/registry/value.h"

namespace hostreg {

class KeySource {
 public:
  virtual ~KeySource() = default;
  // The name stored at `at`, `length` units long, in the registry's bytes
  // (see kForeignMark); it may be built in `scratch`.
  virtual std::string_view Name(uint64_t at, size_t length,
                                std::string& scratch) const = 0;
  // The values of the key numbered `keyId`, in the order the source holds
  // them; none when it holds none for that key.
  virtual void LoadValues(uint32_t keyId, std::vector<Value>& values) const = 0;
};

}  // namespace hostreg

#endif
