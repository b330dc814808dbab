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

bool Foreign(const std::string& name) {
  return name.find(kForeignMark) != std::string::npos;
}

// The key in messages; its own foreign characters shown as the "A" calls
// show them, as a message cannot carry the mark.
std::string Shown(const KeyTree& keys, const Key& key) {
  return AnsiName(KeyLineOf(keys, key));
}

std::string UnwritableValueName(const Registry& registry, const Key& key,
                                bool (*unwritable)(const std::string&),
                                const std::string& why) {
  for (const Value& value : registry.values().Of(key))
    if (unwritable(value.name))
      return "a value name of " + Shown(registry.keys(), key) + " " + why;
  return std::string();
}

std::string LossyValue(const Registry& registry, const Key& key,
                       const Value& value) {
  if (!value.lossy) return std::string();
  return "the data of \"" + AnsiName(value.name) + "\" in " +
         Shown(registry.keys(), key) +
         " held a character that code page 1252 cannot hold, read as '?', "
         "which this file would keep as '?' where Windows' importer keeps "
         "the character";
}

}  // namespace

ChangeSet CollectChanges(const Registry& registry) {
  ChangeSet changes;
  changes.keys = ChangesByKey(registry);
  changes.created = registry.keys().CreatedKeys();
  changes.deleted = registry.keys().DeletedKeys();
  return changes;
}

std::string KeyLineOf(const KeyTree& keys, const Key& key) {
  return "[" + keys.FullPath(key) + "]";
}

// Every value of a changed key is looked at, as a CREG record is written
// whole; an 8-bit .reg file's own values hold no marks.
std::string ForeignNameRefusal(const Registry& registry,
                               const ChangeSet& changes) {
  return NameRefusal(registry, changes, Foreign,
                     "holds a character that code page 1252 cannot hold");
}

std::string NameRefusal(const Registry& registry, const ChangeSet& changes,
                        bool (*unwritable)(const std::string&),
                        const std::string& why) {
  for (const KeyChanges& changed : changes.keys) {
    std::string refusal =
        UnwritableValueName(registry, *changed.key, unwritable, why);
    if (!refusal.empty()) return refusal;
  }
  const KeyTree& keys = registry.keys();
  for (const Key* key : changes.created) {
    if (unwritable(keys.Name(*key)))
      return Shown(keys, *key) + ": its name " + why;
    std::string refusal = UnwritableValueName(registry, *key, unwritable, why);
    if (!refusal.empty()) return refusal;
  }
  return std::string();
}

std::string LossyDataRefusal(const Registry& registry,
                             const ChangeSet& changes) {
  for (const KeyChanges& changed : changes.keys) {
    const std::vector<Value>& values = registry.values().Of(*changed.key);
    for (const size_t index : changed.values) {
      std::string why = LossyValue(registry, *changed.key, values[index]);
      if (!why.empty()) return why;
    }
  }
  for (const Key* key : changes.created)
    for (const Value& value : registry.values().Of(*key)) {
      std::string why = LossyValue(registry, *key, value);
      if (!why.empty()) return why;
    }
  return std::string();
}

}  // namespace hostreg
