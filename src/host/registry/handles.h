// Open key handles: checked, counted, and each remembering where it last
// enumerated, so that walking the subkeys index after index costs no
// rescans.
#ifndef REGSWITCH_HOST_REGISTRY_HANDLES_H
#define REGSWITCH_HOST_REGISTRY_HANDLES_H

#include <cstddef>
#include <cstdint>
#include <unordered_map>

#include "core/win32_types.h"
#include "host/registry/key_tree.h"

namespace hostreg {

class HandleTable {
 public:
  explicit HandleTable(const KeyTree& keys) : keys_(keys) {}

  HKEY Open(Key* key);
  // The key a handle is open on; HKEY_LOCAL_MACHINE is the root, always
  // open and never counted. Null for anything else.
  Key* Resolve(HKEY handle) const;
  // False for a handle that is not open. `key` is the key it was open on,
  // or null for the predefined root, which stays open.
  bool Close(HKEY handle, const Key** key);
  bool IsOpen(const Key& key) const;
  size_t Count() const { return open_.size(); }

  // The subkey at `index` of the handle's key, or null past the last.
  Key* EnumSubkey(HKEY handle, size_t index);
  // The subkey the handle's last enumeration gave, or null: a walk opens
  // each subkey it enumerates by name, and this finds it without a lookup.
  Key* LastEnumerated(HKEY handle) const;

 private:
  struct Cursor {
    Key* key = nullptr;
    size_t index = 0;
    Key* at = nullptr;  // the subkey at `index`, or null before any
  };

  const KeyTree& keys_;
  std::unordered_map<uintptr_t, Cursor> open_;
  Cursor rootCursor_;
  uintptr_t next_ = 0x1000;
};

}  // namespace hostreg

#endif
