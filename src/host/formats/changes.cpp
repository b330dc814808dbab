#include "host/formats/changes.h"

#include <algorithm>
#include <unordered_map>

namespace hostreg {

namespace {

// A key made by the run is written whole, with its values; one under a
// deleted key is gone with it.
bool Written(const KeyTree& keys, const Key& key) {
  return !keys.IsNew(key) && keys.IsLive(key);
}

}  // namespace

std::vector<KeyChanges> ChangesByKey(const Registry& registry) {
  const KeyTree& keys = registry.keys();
  std::vector<KeyChanges> byKey;
  std::unordered_map<const Key*, size_t> at;
  for (const Change& change : registry.values().Changes()) {
    if (!Written(keys, *change.key)) continue;
    auto found = at.emplace(change.key, byKey.size());
    if (found.second) byKey.push_back({change.key, {}});
    byKey[found.first->second].values.push_back(change.valueIndex);
  }
  // Keys that only lost values, in the order of the tree's numbers.
  std::vector<Key*> onlyRemoved;
  registry.values().ForEachRemoved([&](const Key& key) {
    if (Written(keys, key) && at.count(&key) == 0)
      onlyRemoved.push_back(const_cast<Key*>(&key));
  });
  std::sort(onlyRemoved.begin(), onlyRemoved.end(),
            [&](const Key* a, const Key* b) {
              return keys.IdOf(*a) < keys.IdOf(*b);
            });
  for (Key* key : onlyRemoved) byKey.push_back({key, {}});
  return byKey;
}

bool HasChanges(const Registry& registry) {
  const KeyTree& keys = registry.keys();
  return !keys.CreatedKeys().empty() || !keys.DeletedKeys().empty() ||
         !ChangesByKey(registry).empty();
}

}  // namespace hostreg
