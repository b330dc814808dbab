// A run's changes gathered by key, as both formats write them.
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

// Each changed key once, in the order of its first change, with its changed
// values in the order of their first change.
std::vector<KeyChanges> ChangesByKey(const Registry& registry);

}  // namespace hostreg

#endif
