// The values of the host registry's keys and the log of what a run changed.
//
// A key's values are read from the registry's source when something first
// looks at them, and let go again when nothing holds the key open and no
// value of it changed: a walk over a large tree need not keep every key's
// values it passed.
#ifndef REGSWITCH_HOST_REGISTRY_VALUE_STORE_H
#define REGSWITCH_HOST_REGISTRY_VALUE_STORE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "host/registry/key_tree.h"
#include "host/registry/value.h"

namespace hostreg {

// A value whose type or data a write altered: its key and its index there.
struct Change {
  Key* key;
  size_t valueIndex;
};

class ValueStore {
 public:
  explicit ValueStore(const KeyTree& keys) : keys_(keys) {}
  void SetSource(const KeySource* source) { source_ = source; }

  // The key's values, in the source's order with new ones last.
  std::vector<Value>& Of(const Key& key) const;
  Value* Find(const Key& key, std::string_view name) const;

  // Sets a value as RegSetValueExA does; records a change only when the
  // type or data really differ, or the data are `lossy` (see Value).
  void Set(Key& key, const std::string& name, DWORD type,
           const std::string& data, bool lossy = false);

  // Deletes a value as RegDeleteValueA does; false when the key has none
  // of that name.
  bool Delete(Key& key, std::string_view name);
  // The values the source holds for the key that a run deleted, as loaded;
  // null when there are none. A value set again is no longer among them.
  const std::vector<Value>* Removed(const Key& key) const;
  // Calls `f` with each key that has deleted values, in no set order.
  template <class F>
  void ForEachRemoved(F&& f) const {
    for (const auto& entry : removed_) f(*entry.first);
  }

  // Every changed value, in the order of the first write to it. A deletion
  // renumbers only its own key's entries, so a run stays linear in the
  // number of its changes.
  std::vector<Change> Changes() const;

  // Lets the key's values go, unless a write changed one of them; the
  // source still holds them.
  void Release(const Key& key);

  // A trial: every write and deletion from BeginTrial on is taken back by
  // EndTrial, so that --show can run a tweak on the loaded registry and
  // leave it as it was. Changes made before the trial stay.
  void BeginTrial();
  void EndTrial();

 private:
  // Before a trial's first write to the key: what EndTrial puts back.
  void SaveForTrial(const Key& key, const std::vector<Value>& values);
  void Log(Key& key, std::vector<Value>& values, size_t valueIndex);
  void Unlog(std::vector<Value>& values, size_t valueIndex);
  bool Restore(const Key& key, const std::string& name, Value& value);
  // Whether the key's loaded values may go: the source holds them, and the
  // run changed none.
  bool Releasable(const Key& key, const std::vector<Value>& values) const;

  const KeyTree& keys_;
  const KeySource* source_ = nullptr;
  mutable std::unordered_map<uint32_t, std::vector<Value>> loaded_;
  // The change log; an entry whose value was deleted again has no key.
  // Each changed value knows its entry (Value::logged), so that a deletion
  // renumbers only its key's.
  std::vector<Change> changes_;
  // The loaded values deleted from each key.
  std::unordered_map<const Key*, std::vector<Value>> removed_;
  // While a trial runs: each written key's values as they were before its
  // first write in the trial, and the change log and deletions as they were.
  bool trial_ = false;
  std::vector<Change> changesBeforeTrial_;
  std::unordered_map<const Key*, std::vector<Value>> removedBeforeTrial_;
  struct Saved {
    const Key* key;
    bool fromSource;  // the source holds them: nothing need be kept
    std::vector<Value> values;
  };
  std::unordered_map<uint32_t, Saved> beforeTrial_;
};

}  // namespace hostreg

#endif
