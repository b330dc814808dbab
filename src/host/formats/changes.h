// A run's changes to a loaded registry, gathered once by key, as every
// format writes and describes them.
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

struct ChangeSet {
  // Each loaded key still in the tree whose values changed, once, in the
  // order of its first change, with its changed values in the order of
  // their first change. A key that only lost values is listed after those,
  // with no value indexes; its deleted values are ValueStore::Removed.
  std::vector<KeyChanges> keys;
  // The keys the run made, still in the tree, parents before their
  // subkeys; and the loaded keys it deleted, each the top of what went.
  std::vector<Key*> created;
  std::vector<Key*> deleted;

  bool empty() const {
    return keys.empty() && created.empty() && deleted.empty();
  }
};

// What differs from what was loaded: keys made or deleted, values set or
// deleted. Take it once the run's changes are all made.
ChangeSet CollectChanges(const Registry& registry);

// "[HKEY_LOCAL_MACHINE\path]": a key as messages and .reg text name it.
std::string KeyLineOf(const KeyTree& keys, const Key& key);

// Why a file that keeps names as code page 1252 bytes cannot take the
// changes: a changed key's value name, or a new key's name or value name,
// holds a character read from a UTF-16 file that 1252 has no byte for (see
// kForeignMark). Empty when every name written has its bytes.
std::string ForeignNameRefusal(const Registry& registry,
                               const ChangeSet& changes);

// The same for names a test finds `unwritable` in a file, saying `why`
// ("holds half a surrogate pair, which UTF-8 cannot hold").
std::string NameRefusal(const Registry& registry, const ChangeSet& changes,
                        bool (*unwritable)(const std::string& name),
                        const std::string& why);

// Why a file that keeps data as Windows' importer would cannot take the
// changes: a value set from text holding a character that code page 1252
// has no byte for holds '?' there (see Value::lossy). Empty when none does.
std::string LossyDataRefusal(const Registry& registry,
                             const ChangeSet& changes);

}  // namespace hostreg

#endif
