// The data blocks while a save writes key records in, moves them and takes
// them out: free-space lists, record ids and new blocks at the file's end.
#ifndef REGSWITCH_HOST_FORMATS_CREG_BLOCKS_H
#define REGSWITCH_HOST_FORMATS_CREG_BLOCKS_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/formats/creg/hive.h"

namespace hostreg {
namespace creg {

class NodeTable;

class Blocks {
 public:
  Blocks(const Hive& hive, std::string& d, std::string& error);

  // A loaded key's record with new contents: in place when they fit, else
  // grown into free space right behind it, moved within its block, or, at
  // Finish, moved to a new block. `what` names the key, for a refusal.
  bool Place(const std::function<std::string()>& what, const Record& record,
             std::string bytes);
  // A record for a new key, preferably in block `preferred`: in free space
  // of a block that has an id to spare, else in a new block. Sets its id
  // and block.
  bool Insert(const std::string& bytes, size_t preferred, uint16_t& id,
              uint16_t& block);
  // Frees a deleted key's record and its id; Tidy joins the free space.
  void Remove(const Record& record);
  // Rebuilds the free-space list of every block Remove touched from the
  // records it holds, neighbouring free records joined into one.
  void Tidy();
  // Writes the records that must move to new blocks, their keys' nodes
  // pointing at them, and the header's count of blocks.
  bool Finish(NodeTable& nodes);

 private:
  struct Moved {
    Record record;
    std::string bytes;
  };
  struct Ids {
    std::vector<bool> used;
    size_t lowest = 0;   // the lowest id not given out (used.size(): none)
    bool dirty = false;  // a record was removed: its free list is rebuilt
  };

  bool Refuse(const std::string& why) {
    error_ = why;
    return false;
  }
  bool MoveToNewBlock(size_t first, size_t end, size_t total,
                      NodeTable& nodes);
  bool GrowInPlace(const Record& record, const std::string& bytes);
  bool MoveWithinBlock(const Record& record, const std::string& bytes);
  bool InsertInto(size_t index, const std::string& bytes, uint16_t& id);
  uint32_t FirstFit(const Block& block, size_t size) const;
  size_t NewBlock(size_t size, size_t records);
  size_t TakeFromFree(const Block& block, size_t rel, size_t amount);
  void Free(const Block& block, size_t rel, size_t size);
  void MakeFree(size_t at, size_t size, uint32_t next);
  void Clear(size_t at, size_t end);
  void WriteRecord(size_t at, size_t room, uint16_t id, uint16_t blockIndex,
                   const std::string& bytes);
  void AddUnused(size_t blockOffset, long long delta);
  uint16_t SharedBlockFlags() const;
  uint16_t TakeId(size_t index);
  void ReleaseId(size_t index, uint16_t id);
  void TidyBlock(size_t index);

  const Hive& hive_;
  std::string& d_;
  std::string& error_;
  std::vector<Block> blocks_;
  std::vector<Ids> ids_;
  std::vector<Moved> toNewBlock_;
};

}  // namespace creg
}  // namespace hostreg

#endif
