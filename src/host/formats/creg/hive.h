// A loaded CREG file and what loading found out about its structure, which
// saving relies on.
#ifndef REGSWITCH_HOST_FORMATS_CREG_HIVE_H
#define REGSWITCH_HOST_FORMATS_CREG_HIVE_H

#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/formats/creg/windows_version.h"
#include "host/registry/registry.h"

namespace hostreg {
namespace creg {

struct Block {
  size_t offset = 0;
  size_t size = 0;
  // Whether the list of free records matches the records found and the
  // header's count of free bytes; space in a block is only reused when so.
  bool freeListSound = false;
};

// Where a key's data record is.
struct Record {
  size_t node = 0;    // file offset of the key's node
  size_t block = 0;   // index into the block list
  size_t offset = 0;  // file offset of the record
  size_t size = 0;    // bytes it occupies in the block
  size_t nameLength = 0;
  size_t valueCount = 0;  // as loaded: the key's first values, in order
};

struct Hive {
  std::string contents;
  std::vector<Block> blocks;
  // Whether the key tree's list of free nodes leads only to free stretches
  // clear of every key's node and of one another; a save takes or frees a
  // node only when so.
  bool freeNodesSound = false;
  // Every key but a root without a record of its own.
  std::unordered_map<const Key*, Record> records;
  // The Windows the file is from, as far as it tells.
  Windows windows = Windows::kUnknown;
};

}  // namespace creg
}  // namespace hostreg

#endif
