#include "host/formats/changes.h"

#include <unordered_map>

namespace hostreg {

std::vector<KeyChanges> ChangesByKey(const Registry& registry) {
  std::vector<KeyChanges> byKey;
  std::unordered_map<const Key*, size_t> at;
  for (const Change& change : registry.values().Changes()) {
    auto found = at.emplace(change.key, byKey.size());
    if (found.second) byKey.push_back({change.key, {}});
    byKey[found.first->second].values.push_back(change.valueIndex);
  }
  return byKey;
}

}  // namespace hostreg
