// A run's changes gathered by key, as every format writes them.
#ifndef REGSWITCH_HOST_FORMATS_CHANGES_H
#define REGSWITCH_HOST_FORMATS_CHANGES_H

#include <cstddef>
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

}  // namespace hostreg

#endif
