#include "host/registry/handles.h"

namespace hostreg {

HKEY HandleTable::Open(Key* key) {
  const uintptr_t raw = next_;
  next_ += 4;
  open_[raw].key = key;
  return reinterpret_cast<HKEY>(raw);
}

Key* HandleTable::Resolve(HKEY handle) const {
  if (handle == HKEY_LOCAL_MACHINE) return const_cast<Key*>(&keys_.Root());
  auto found = open_.find(reinterpret_cast<uintptr_t>(handle));
  return found == open_.end() ? nullptr : found->second.key;
}

bool HandleTable::Close(HKEY handle, const Key** key) {
  *key = nullptr;
  if (handle == HKEY_LOCAL_MACHINE) return true;
  auto found = open_.find(reinterpret_cast<uintptr_t>(handle));
  if (found == open_.end()) return false;
  *key = found->second.key;
  open_.erase(found);
  return true;
}

bool HandleTable::IsOpen(const Key& key) const {
  for (const auto& open : open_)
    if (open.second.key == &key) return true;
  return false;
}

Key* HandleTable::LastEnumerated(HKEY handle) const {
  if (handle == HKEY_LOCAL_MACHINE) return rootCursor_.at;
  auto found = open_.find(reinterpret_cast<uintptr_t>(handle));
  return found == open_.end() ? nullptr : found->second.at;
}

Key* HandleTable::EnumSubkey(HKEY handle, size_t index) {
  Cursor* cursor = &rootCursor_;
  if (handle == HKEY_LOCAL_MACHINE) {
    rootCursor_.key = const_cast<Key*>(&keys_.Root());
  } else {
    auto found = open_.find(reinterpret_cast<uintptr_t>(handle));
    if (found == open_.end()) return nullptr;
    cursor = &found->second;
  }
  // Onward from where the last call left off, else from the first.
  if (cursor->at == nullptr || index < cursor->index) {
    cursor->at = keys_.FirstSubkey(*cursor->key);
    cursor->index = 0;
  }
  while (cursor->at != nullptr && cursor->index < index) {
    Key* next = keys_.NextSibling(*cursor->at);
    if (next == nullptr) return nullptr;  // keep the cursor on the last
    cursor->at = next;
    ++cursor->index;
  }
  return cursor->at;
}

}  // namespace hostreg
