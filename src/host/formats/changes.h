// A run's changes gathered by key, as every format writes them.
#ifndef REGSWITCH_HOST_FORMATS_CHANGES_H
#define REGSWITCH_HOST_FORMATS_CHANGES_H

#include <cstddef>
#include <string>
#include <vector>

#include "host/registry/registry.h"

namespace hostreg {

struct KeyChanges {
  Key* key;
  std::vector<size_t> values;  // indexes into the key's values
};

// Each loaded key still in the tree whose values changed, once, in the
// order of its first change, with its changed values in the order of their
// first change. A key that only lost values is listed after those, with no
// value indexes; its deleted values are ValueStore::Removed.
std::vector<KeyChanges> ChangesByKey(const Registry& registry);

// Whether the registry differs in any way from what was loaded: keys made
// or deleted, values set or deleted.
bool HasChanges(const Registry& registry);

// Why a file that keeps names as code page 1252 bytes cannot take the
// changes: a changed key's value name, or a new key's name or value name,
// holds a character read from a UTF-16 file that 1252 has no byte for (see
// kForeignMark). Empty when every name written has its bytes.
std::string ForeignNameRefusal(const Registry& registry);

}  // namespace hostreg

#endif
