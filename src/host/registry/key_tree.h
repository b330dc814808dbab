// The key tree of the host registry: names, parents, subkeys in file order,
// and a hash table that finds a subkey by name.
#ifndef REGSWITCH_HOST_REGISTRY_KEY_TREE_H
#define REGSWITCH_HOST_REGISTRY_KEY_TREE_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/registry/key_source.h"

namespace hostreg {

// One key. Only the KeyTree reads and writes it; it is kept small because a
// large export has a million of them.
class Key {
 private:
  friend class KeyTree;
  static constexpr uint32_t kNone = 0xFFFFFFFFu;
  uint32_t nameLow_ = 0;        // the name's place in the pool or the source
  uint32_t parent_ = kNone;
  uint32_t lastChild_ = kNone;  // its next_ is the first child
  uint32_t next_ = kNone;       // circular among siblings
  uint32_t hash_ = 0;           // of the parent and the folded name
  uint16_t nameHigh_ = 0;
  uint16_t nameLength_ = 0;
  uint16_t flags_ = 0;
};

class KeyTree {
 public:
  // The root, key number 0, is named `rootName` (the root key a file
  // holds: HKEY_LOCAL_MACHINE, or HKEY_USERS for a USER.DAT).
  explicit KeyTree(std::string_view rootName = "HKEY_LOCAL_MACHINE");
  ~KeyTree();
  KeyTree(const KeyTree&) = delete;
  KeyTree& operator=(const KeyTree&) = delete;

  Key& Root() { return Node(0); }
  const Key& Root() const { return Node(0); }
  // Keys are numbered 0, 1, 2... in the order they were made.
  uint32_t IdOf(const Key& key) const;
  size_t Count() const { return count_; }

  // Names keep their case and compare without regard to it.
  std::string Name(const Key& key) const;
  // The path below the root, components joined with '\'.
  std::string Path(const Key& key) const;
  // The same behind the root's own name: "HKEY_LOCAL_MACHINE\path".
  std::string FullPath(const Key& key) const;
  void AppendFullPath(std::string& out, const Key& key) const;
  Key* Parent(const Key& key) const;
  // Subkeys in the order they were added.
  Key* FirstSubkey(const Key& key) const;
  Key* NextSibling(const Key& key) const;  // null after the last
  std::vector<Key*> Subkeys(const Key& key) const;

  Key* FindSubkey(const Key& key, std::string_view name) const;
  // With the name's NameHash, which a loader has at hand.
  Key* FindSubkey(const Key& key, std::string_view name,
                  uint32_t nameHash) const;
  // The key at a relative path, components separated by '\'; the key itself
  // for an empty path. An empty component (a leading, doubled or trailing
  // separator) names no key.
  Key* FindPath(const Key& key, std::string_view path) const;

  Key* AddSubkey(Key& key, const std::string& name);
  // Deletes the key with everything below it, as RegDeleteTree does: it is
  // no longer found or listed, and a key added later under the same name is
  // a new key. Not the root.
  void DeleteTree(Key& key);
  // Whether the key is still in the tree: neither it nor a key above it
  // was deleted.
  bool IsLive(const Key& key) const;

  // What a run did to the tree, as against the keys loaded from a file:
  // everything made before MarkLoaded() counts as loaded.
  void MarkLoaded();
  bool IsNew(const Key& key) const { return IdOf(key) >= loadedCount_; }
  // The keys made since, still in the tree, parents before their subkeys.
  std::vector<Key*> CreatedKeys() const;
  // The loaded keys deleted since, each the top of what went (a key whose
  // parent also went is left out), in the order of their deletion.
  std::vector<Key*> DeletedKeys() const;
  // Loading: keys whose names stay in the source. The subkey named `name`
  // (NameHash `nameHash`), or a new one named by the `length` units at
  // `at` in the source.
  void SetNameSource(const KeySource* source) { names_ = source; }
  Key* FindOrAddSourceSubkey(Key& key, std::string_view name,
                             uint32_t nameHash, uint64_t at, size_t length);
  // Loading many keys: the hash table is built once, in the order of its
  // slots, rather than probed once a key, and only when a lookup needs it.
  // Until then a subkey is looked for among its siblings, which exports
  // list in sorted order: a name after the last one is new. Lookups the
  // siblings cannot answer cheaply build the table at once.
  void BeginLoading();

 private:
  static constexpr uint32_t kChunkBits = 14;
  static constexpr uint16_t kPooledName = 1;  // the name is in pool_
  static constexpr uint16_t kDeleted = 2;     // unlinked by DeleteTree
  static constexpr uint16_t kUnsorted = 4;    // subkeys added out of order
  static constexpr size_t kSiblingScan = 32;  // siblings looked through

  Key& Node(uint32_t id) const {
    return chunks_[id >> kChunkBits][id & ((1u << kChunkBits) - 1)];
  }
  uint32_t NewNode(uint32_t parent, uint32_t hash);
  void Link(uint32_t parent, uint32_t id);
  std::string_view NameView(const Key& key, std::string& scratch) const;
  // The path's components behind `out`, each after a '\\'.
  void AppendPath(std::string& out, const Key& key) const;
  void NoteOrder(Key& key, std::string_view name) const;
  int CompareWithLast(const Key& key, std::string_view name) const;
  uint32_t PoolName(std::string_view name);
  void Index(uint32_t id);
  void Insert(uint32_t id) const;
  void InsertHashed(uint32_t id, uint32_t hash) const;
  void Grow();
  void BuildIndex() const;
  // While loading: the subkey named so among the siblings, or null; false
  // when that takes the table. `afterLast`: whether the name sorts after
  // the last sibling's, when the caller has compared them already.
  bool FindAmongSiblings(const Key& key, std::string_view name, Key*& found,
                         const bool* afterLast = nullptr) const;
  Key* FindInTable(const Key& key, std::string_view name,
                   uint32_t nameHash) const;

  std::vector<std::unique_ptr<Key[]>> chunks_;
  // Chunk start address -> chunk number, to find a key's number.
  std::map<const Key*, uint32_t> chunkOf_;
  uint32_t count_ = 0;
  uint32_t loadedCount_ = 1;
  bool trackDeletions_ = false;
  std::vector<uint32_t> deletedByRun_;
  // Open addressing over (parent, folded name): key number + 1, 0 empty.
  // Built late while loading (indexed_ false until then).
  mutable std::vector<uint32_t> table_;
  mutable bool indexed_ = true;
  std::string pool_;  // names given as strings, each after its 4-byte length
  const KeySource* names_ = nullptr;
};

}  // namespace hostreg

#endif
