#include "host/formats/creg/blocks.h"

#include <algorithm>

#include "host/formats/creg/layout.h"
#include "host/formats/creg/node_table.h"

namespace hostreg {
namespace creg {

namespace {

// A block made for new keys' records: big enough for many small keys,
// well below the 60 KB of the largest blocks Windows Me writes.
constexpr size_t kNewBlockSize = 0x4000;
// The most records moved at once fill of one new block: the size of those
// largest blocks.
constexpr size_t kMovedBlockMax = 0xF000;

size_t RoundUp(size_t n, size_t unit) { return (n + unit - 1) / unit * unit; }

// The lowest id not given out from `from` on; the count of ids when all
// are.
size_t LowestUnused(const std::vector<bool>& used, size_t from) {
  while (from < used.size() && used[from]) ++from;
  return from;
}

}  // namespace

Blocks::Blocks(const Hive& hive, std::string& d, std::string& error)
    : hive_(hive), d_(d), error_(error), blocks_(hive.blocks) {
  for (const Block& block : blocks_) {
    Ids ids;
    ids.used.assign(kMaxRecordsPerBlock, false);
    for (size_t p = block.offset + kBlockHeaderSize;
         p < block.offset + block.size; p += Get32(d_, p + kRecordSize)) {
      const uint16_t id = Get16(d_, p + kRecordId);
      if (id < kMaxRecordsPerBlock) ids.used[id] = true;
    }
    ids.lowest = LowestUnused(ids.used, 0);
    ids_.push_back(std::move(ids));
  }
}

void Blocks::Clear(size_t at, size_t end) {
  std::fill(d_.begin() + static_cast<std::ptrdiff_t>(at),
            d_.begin() + static_cast<std::ptrdiff_t>(end), '\0');
}

void Blocks::AddUnused(size_t blockOffset, long long delta) {
  Put32(d_, blockOffset + kBlockUnused,
        static_cast<uint32_t>(Get32(d_, blockOffset + kBlockUnused) + delta));
}

void Blocks::MakeFree(size_t at, size_t size, uint32_t next) {
  // A free record's header reads as an empty key record after its link.
  Clear(at, at + kRecordHeaderSize);
  Put32(d_, at + kRecordSize, static_cast<uint32_t>(size));
  Put16(d_, at + kRecordId, kNoId);
  Put16(d_, at + kRecordBlock, kNoId);
  Put32(d_, at + kFreeNext, next);
}

void Blocks::WriteRecord(size_t at, size_t room, uint16_t id,
                         uint16_t blockIndex, const std::string& bytes) {
  d_.replace(at, bytes.size(), bytes);
  // Whatever the record no longer uses is cleared rather than left stale.
  Clear(at + bytes.size(), at + room);
  Put32(d_, at + kRecordSize, static_cast<uint32_t>(room));
  Put16(d_, at + kRecordId, id);
  Put16(d_, at + kRecordBlock, blockIndex);
}

// Takes `amount` bytes from the start of the free record at `rel` in
// `block`; returns how many it took (all of it when the rest would be too
// small to stand alone).
size_t Blocks::TakeFromFree(const Block& block, size_t rel, size_t amount) {
  const size_t b = block.offset;
  const size_t size = Get32(d_, b + rel + kRecordSize);
  const uint32_t next = Get32(d_, b + rel + kFreeNext);
  // The link that points at this free record: the header's or another's.
  size_t link = b + kBlockFirstFree;
  while (Get32(d_, link) != rel) link = b + Get32(d_, link) + kFreeNext;
  size_t taken = size;
  if (size - amount >= kSplitMin) {
    taken = amount;
    MakeFree(b + rel + amount, size - amount, next);
    Put32(d_, link, static_cast<uint32_t>(rel + amount));
  } else {
    Put32(d_, link, next);
  }
  AddUnused(b, -static_cast<long long>(taken));
  return taken;
}

void Blocks::Free(const Block& block, size_t rel, size_t size) {
  const size_t at = block.offset + rel;
  Clear(at, at + size);
  MakeFree(at, size, Get32(d_, block.offset + kBlockFirstFree));
  Put32(d_, block.offset + kBlockFirstFree, static_cast<uint32_t>(rel));
  AddUnused(block.offset, static_cast<long long>(size));
}

// The lowest id the block has not given out, as its header's "lowest free
// id" says; the highest id ever given out only grows.
uint16_t Blocks::TakeId(size_t index) {
  Ids& ids = ids_[index];
  const auto id = static_cast<uint16_t>(ids.lowest);
  ids.used[id] = true;
  ids.lowest = LowestUnused(ids.used, ids.lowest + 1);
  const size_t b = blocks_[index].offset;
  Put16(d_, b + kBlockHighestId,
        std::max<uint16_t>(Get16(d_, b + kBlockHighestId), id));
  Put16(d_, b + kBlockLowestFreeId, static_cast<uint16_t>(ids.lowest));
  return id;
}

void Blocks::ReleaseId(size_t index, uint16_t id) {
  if (id >= kMaxRecordsPerBlock) return;
  ids_[index].used[id] = false;
  ids_[index].lowest = std::min<size_t>(ids_[index].lowest, id);
  const size_t b = blocks_[index].offset;
  if (id < Get16(d_, b + kBlockLowestFreeId))
    Put16(d_, b + kBlockLowestFreeId, id);
}

// Into a free record right behind it.
bool Blocks::GrowInPlace(const Record& record, const std::string& bytes) {
  const Block& block = blocks_[record.block];
  const size_t after = record.offset + record.size;
  if (after >= block.offset + block.size ||
      Get16(d_, after + kRecordId) != kNoId ||
      record.size + Get32(d_, after + kRecordSize) < bytes.size())
    return false;
  const size_t taken =
      TakeFromFree(block, after - block.offset, bytes.size() - record.size);
  WriteRecord(record.offset, record.size + taken,
              Get16(d_, record.offset + kRecordId),
              static_cast<uint16_t>(record.block), bytes);
  return true;
}

// Into free space elsewhere in the same block: the key keeps its id, so its
// node stays as it is.
bool Blocks::MoveWithinBlock(const Record& record, const std::string& bytes) {
  const Block& block = blocks_[record.block];
  const uint32_t rel = FirstFit(block, bytes.size());
  if (rel == kNone) return false;
  const uint16_t id = Get16(d_, record.offset + kRecordId);
  const size_t taken = TakeFromFree(block, rel, bytes.size());
  WriteRecord(block.offset + rel, taken, id,
              static_cast<uint16_t>(record.block), bytes);
  Free(block, record.offset - block.offset, record.size);
  return true;
}

bool Blocks::Place(const std::function<std::string()>& what,
                   const Record& record, std::string bytes) {
  if (bytes.size() <= record.size) {
    WriteRecord(record.offset, record.size,
                Get16(d_, record.offset + kRecordId),
                static_cast<uint16_t>(record.block), bytes);
    return true;
  }
  if (!blocks_[record.block].freeListSound)
    return Refuse("the record of " + what() + " must move, but data block " +
                  std::to_string(record.block) +
                  "'s list of free space does not match its contents");
  if (GrowInPlace(record, bytes) || MoveWithinBlock(record, bytes))
    return true;
  toNewBlock_.push_back({record, std::move(bytes)});
  return true;
}

// The first free record of the block that can hold `size` bytes, or none.
uint32_t Blocks::FirstFit(const Block& block, size_t size) const {
  for (uint32_t rel = Get32(d_, block.offset + kBlockFirstFree); rel != kNone;
       rel = Get32(d_, block.offset + rel + kFreeNext))
    if (Get32(d_, block.offset + rel + kRecordSize) >= size) return rel;
  return kNone;
}

bool Blocks::InsertInto(size_t index, const std::string& bytes, uint16_t& id) {
  const Block& block = blocks_[index];
  if (!block.freeListSound || ids_[index].lowest == ids_[index].used.size())
    return false;
  const uint32_t rel = FirstFit(block, bytes.size());
  if (rel == kNone) return false;
  id = TakeId(index);
  const size_t taken = TakeFromFree(block, rel, bytes.size());
  WriteRecord(block.offset + rel, taken, id, static_cast<uint16_t>(index),
              bytes);
  return true;
}

bool Blocks::Insert(const std::string& bytes, size_t preferred, uint16_t& id,
                    uint16_t& block) {
  for (size_t i = 0; i <= blocks_.size(); ++i) {
    // The preferred block first, then the others from the newest, where
    // the last new keys went.
    const size_t index = i == 0 ? preferred : blocks_.size() - i;
    if (index >= blocks_.size() || (i > 0 && index == preferred)) continue;
    if (InsertInto(index, bytes, id)) {
      block = static_cast<uint16_t>(index);
      return true;
    }
  }
  if (blocks_.size() >= kMaxBlocks)
    return Refuse("the file holds the most data blocks it can");
  const size_t size = std::max(
      kNewBlockSize,
      RoundUp(kBlockHeaderSize + bytes.size() + kSplitMin, kBlockGranularity));
  const size_t index = NewBlock(size, 0);
  block = static_cast<uint16_t>(index);
  return InsertInto(index, bytes, id) ||
         Refuse("a new data block could not take a key's record");
}

// A new, empty block at the end of the file: its header and one free
// record over the rest, with the flags that every block of the file has,
// so that none claims a state (such as a stale checksum) it is not in.
size_t Blocks::NewBlock(size_t size, size_t records) {
  const size_t index = blocks_.size();
  const size_t start = d_.size();
  d_.append(size, '\0');
  d_.replace(start, 4, "RGDB");
  Put32(d_, start + kBlockSize, static_cast<uint32_t>(size));
  Put16(d_, start + kBlockFlags, SharedBlockFlags());
  Put16(d_, start + kBlockIndex, static_cast<uint16_t>(index));
  Put32(d_, start + kBlockFirstFree, kNone);
  Put16(d_, start + kBlockHighestId,
        static_cast<uint16_t>(records == 0 ? 0 : records - 1));
  Put16(d_, start + kBlockLowestFreeId, static_cast<uint16_t>(records));
  Block block;
  block.offset = start;
  block.size = size;
  block.freeListSound = true;
  blocks_.push_back(block);
  Ids ids;
  ids.used.assign(kMaxRecordsPerBlock, false);
  std::fill(ids.used.begin(), ids.used.begin() + static_cast<long>(records),
            true);
  ids.lowest = records;
  ids_.push_back(std::move(ids));
  if (records == 0) {
    MakeFree(start + kBlockHeaderSize, size - kBlockHeaderSize, kNone);
    Put32(d_, start + kBlockFirstFree, kBlockHeaderSize);
    Put32(d_, start + kBlockUnused,
          static_cast<uint32_t>(size - kBlockHeaderSize));
  }
  Put16(d_, kHeaderBlockCount, static_cast<uint16_t>(blocks_.size()));
  return index;
}

uint16_t Blocks::SharedBlockFlags() const {
  uint16_t flags = 0xFFFF;
  for (const Block& block : hive_.blocks)
    flags &= Get16(hive_.contents, block.offset + kBlockFlags);
  return flags;
}

void Blocks::Remove(const Record& record) {
  ReleaseId(record.block, Get16(d_, record.offset + kRecordId));
  Clear(record.offset, record.offset + record.size);
  MakeFree(record.offset, record.size, kNone);
  ids_[record.block].dirty = true;
}

void Blocks::Tidy() {
  for (size_t index = 0; index < blocks_.size(); ++index)
    if (ids_[index].dirty) TidyBlock(index);
}

// Free records in the order they lie, each run of neighbours joined; the
// header's count of free bytes is theirs. The records tile the block (the
// loader checked), so this is sound whatever the old list said.
void Blocks::TidyBlock(size_t index) {
  Block& block = blocks_[index];
  const size_t end = block.offset + block.size;
  size_t link = block.offset + kBlockFirstFree;
  size_t unused = 0;
  for (size_t p = block.offset + kBlockHeaderSize; p < end;) {
    size_t size = Get32(d_, p + kRecordSize);
    if (Get16(d_, p + kRecordId) != kNoId) {
      p += size;
      continue;
    }
    while (p + size < end && Get16(d_, p + size + kRecordId) == kNoId)
      size += Get32(d_, p + size + kRecordSize);
    Clear(p, p + size);
    MakeFree(p, size, kNone);
    Put32(d_, link, static_cast<uint32_t>(p - block.offset));
    link = p + kFreeNext;
    unused += size;
    p += size;
  }
  Put32(d_, link, kNone);
  Put32(d_, block.offset + kBlockUnused, static_cast<uint32_t>(unused));
  block.freeListSound = true;
  ids_[index].dirty = false;
}

// Records that must move go to new blocks, as many as they need: each
// takes at most the 255 records a block numbers, and no more than the
// largest blocks Windows writes unless one record alone is larger.
bool Blocks::Finish(NodeTable& nodes) {
  for (size_t first = 0; first < toNewBlock_.size();) {
    size_t total = kBlockHeaderSize;
    size_t end = first;
    while (end < toNewBlock_.size() && end - first < kMaxRecordsPerBlock &&
           (end == first ||
            total + toNewBlock_[end].bytes.size() <= kMovedBlockMax)) {
      total += toNewBlock_[end].bytes.size();
      ++end;
    }
    if (!MoveToNewBlock(first, end, total, nodes)) return false;
    first = end;
  }
  return true;
}

// toNewBlock_[first, end), `total` bytes with the block's header, into one
// new block; their keys' nodes point at them there.
bool Blocks::MoveToNewBlock(size_t first, size_t end, size_t total,
                            NodeTable& nodes) {
  if (blocks_.size() >= kMaxBlocks)
    return Refuse("the file holds the most data blocks it can");
  const size_t size = RoundUp(total, kBlockGranularity);
  const size_t rest = size - total;
  const bool restIsFree = rest >= kSplitMin;
  const size_t index = NewBlock(size, end - first);
  const size_t start = blocks_[index].offset;
  Put32(d_, start + kBlockUnused, restIsFree ? static_cast<uint32_t>(rest) : 0);
  Put32(d_, start + kBlockFirstFree,
        restIsFree ? static_cast<uint32_t>(total) : kNone);
  size_t at = start + kBlockHeaderSize;
  for (size_t i = first; i < end; ++i) {
    const Moved& moved = toNewBlock_[i];
    const auto id = static_cast<uint16_t>(i - first);
    const bool last = i + 1 == end;
    const size_t room = moved.bytes.size() + (last && !restIsFree ? rest : 0);
    WriteRecord(at, room, id, static_cast<uint16_t>(index), moved.bytes);
    const Block& old = blocks_[moved.record.block];
    ReleaseId(moved.record.block, Get16(d_, moved.record.offset + kRecordId));
    Free(old, moved.record.offset - old.offset, moved.record.size);
    const auto node = static_cast<uint32_t>(moved.record.node - kRgknOffset);
    nodes.Set16(node, kNodeId, id);
    nodes.Set16(node, kNodeBlock, static_cast<uint16_t>(index));
    at += room;
  }
  if (restIsFree) MakeFree(at, rest, kNone);
  return true;
}

}  // namespace creg
}  // namespace hostreg
