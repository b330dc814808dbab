// The key tree's nodes while a save writes keys in and takes them out: the
// free-node list, new pages at the tree's end, and each key's links.
#ifndef REGSWITCH_HOST_FORMATS_CREG_NODE_TABLE_H
#define REGSWITCH_HOST_FORMATS_CREG_NODE_TABLE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

namespace hostreg {
namespace creg {

// The name hash of a key's node: the sum of its name's characters below
// 0x80, letters in upper case. Every node of the three real files holds
// it (one Windows 95 key whose name was cut short aside).
uint32_t NodeNameHash(std::string_view name);

// Nodes are named by their offset from the key tree's start ("rel").
class NodeTable {
 public:
  explicit NodeTable(std::string& d);

  uint32_t Get(uint32_t rel, size_t field) const;
  void Set(uint32_t rel, size_t field, uint32_t value);
  void Set16(uint32_t rel, size_t field, uint16_t value);

  // A node for a new key under `parentRel`, linked as its last subkey, its
  // record not yet set. Taken from the free list; the tree grows by a page
  // when that is empty.
  uint32_t Add(uint32_t parentRel, std::string_view name);
  // Takes the node out of its parent's list of subkeys.
  void Unlink(uint32_t rel);
  // Puts a node on the free list.
  void Free(uint32_t rel);
  // Writes the pages the tree grew by into the file, moving the data
  // blocks behind them.
  void Finish();

 private:
  uint32_t TakeFree();
  void Grow();
  char* At(uint32_t rel, size_t field);
  const char* At(uint32_t rel, size_t field) const;
  uint32_t LastChild(uint32_t parentRel);

  std::string& d_;
  const uint32_t oldSize_;  // the tree's size as loaded
  std::string grown_;       // pages added behind it
  std::unordered_map<uint32_t, uint32_t> lastChild_;
};

}  // namespace creg
}  // namespace hostreg

#endif
