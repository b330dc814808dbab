// The Windows 9x/Me registry file ("CREG").
//
// Layout, all little-endian:
//   header (32 bytes)  "CREG", version 0x00010000, offset of the first RGDB
//                      block, a checksum field (zero in Windows 98 files),
//                      16-bit count of RGDB blocks.
//   RGKN at 0x20       the key tree: 28-byte nodes holding parent, first
//                      child and next sibling (offsets from the RGKN start)
//                      and the (id, block) of the key's data record.
//   RGDB blocks        up to the end of the file, each a 32-byte header
//                      (size, free bytes, block number, first free record,
//                      highest and lowest unused id) and records that tile
//                      the rest: a key record (size, id, block, used size,
//                      name and value count, name, values) or a free record
//                      (id 0xFFFF, next free record's offset). Free records
//                      form a list from the header.
//
// Saving copies the file and rewrites only the records of keys whose values
// changed, keeping the key nodes, free lists and block headers consistent;
// every other byte stays as it was read.
#include "host/formats/creg/creg_file.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "host/formats/reg/reg_file.h"

namespace hostreg {

namespace {

constexpr size_t kFileHeaderSize = 0x20;
constexpr size_t kRgknOffset = 0x20;
constexpr size_t kRgknHeaderSize = 0x20;
constexpr size_t kNodeSize = 28;
constexpr size_t kBlockHeaderSize = 32;
constexpr size_t kRecordHeaderSize = 20;
constexpr size_t kValueHeaderSize = 12;
constexpr size_t kFreeRecordMin = 12;  // size, id and block, next
// A leftover smaller than this stays with the record that took the space
// rather than becoming a free record of its own; readers parse every record,
// free ones too, with a key record's header.
constexpr size_t kSplitMin = 20;
constexpr size_t kBlockGranularity = 0x1000;
constexpr uint32_t kVersion = 0x00010000;
constexpr uint32_t kNone = 0xFFFFFFFF;
constexpr uint16_t kNoId = 0xFFFF;
// Windows numbers records in a block from 0 up to 0xFE.
constexpr size_t kMaxRecordsPerBlock = 0xFF;
// A value Windows itself writes into a new value's reserved field.
constexpr uint32_t kValueReserved = 0xFFFFFFFF;

// File header fields.
constexpr size_t kHeaderFirstBlock = 8;
constexpr size_t kHeaderChecksum = 12;
constexpr size_t kHeaderBlockCount = 16;
// RGKN fields, from the RGKN start.
constexpr size_t kRgknSize = 4;
constexpr size_t kRgknRoot = 8;
constexpr size_t kRgknChecksum = 20;
// Node fields.
constexpr size_t kNodeParent = 12;
constexpr size_t kNodeChild = 16;
constexpr size_t kNodeNext = 20;
constexpr size_t kNodeId = 24;
constexpr size_t kNodeBlock = 26;
// RGDB header fields.
constexpr size_t kBlockSize = 4;
constexpr size_t kBlockUnused = 8;
constexpr size_t kBlockUnknown = 12;
constexpr size_t kBlockIndex = 14;
constexpr size_t kBlockFirstFree = 16;
constexpr size_t kBlockHighestId = 20;
constexpr size_t kBlockLowestFreeId = 22;
// Record fields.
constexpr size_t kRecordSize = 0;
constexpr size_t kRecordId = 4;
constexpr size_t kRecordBlock = 6;
constexpr size_t kRecordUsed = 8;
constexpr size_t kRecordNameLength = 12;
constexpr size_t kRecordValueCount = 14;
constexpr size_t kFreeNext = 8;

uint32_t Get32(const std::string& s, size_t at) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data() + at);
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint16_t Get16(const std::string& s, size_t at) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data() + at);
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}

void Put32(std::string& s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

void Put16(std::string& s, size_t at, uint16_t v) {
  s[at] = static_cast<char>(v & 0xFF);
  s[at + 1] = static_cast<char>(v >> 8);
}

std::string Hex(size_t n) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%zx", n);
  return text;
}

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
};

class CregFile : public Storage {
 public:
  CregFile(std::string path, std::string contents)
      : Storage(std::move(path)), contents_(std::move(contents)) {}

  bool Render(const Registry& registry, std::string& contents,
              std::string& error) const override;
  std::string DescribeChanges(const Registry& registry) const override;

  std::string contents_;
  std::vector<Block> blocks_;
  std::unordered_map<const Key*, Record> records_;
};

// ---------------------------------------------------------------- loading

class Loader {
 public:
  Loader(const std::string& name, CregFile& file, Registry& registry)
      : name_(name), d_(file.contents_), file_(file), registry_(registry) {}

  bool Load(std::string& error) {
    const bool ok = LoadHeader() && LoadBlocks() && LoadTree();
    if (!ok) error = error_;
    return ok;
  }

 private:
  bool Fail(const std::string& why, size_t at) {
    error_ = name_ + ": not a usable Windows 9x registry file: " + why +
             " (at offset " + Hex(at) + ")";
    return false;
  }
  bool LoadHeader();
  bool LoadBlocks();
  bool ScanBlock(Block& block, size_t index);
  bool LoadTree();
  // The record a key node points at, checked; none for a root without one.
  bool FindRecord(size_t node, bool isRoot, size_t& p);
  void LoadValues(size_t node, size_t p, Key& key);

  const std::string& name_;
  const std::string& d_;
  CregFile& file_;
  Registry& registry_;
  std::string error_;
  size_t rgknSize_ = 0;
  // Per block: record id -> file offset.
  std::vector<std::unordered_map<uint16_t, size_t>> ids_;
  std::unordered_set<size_t> claimed_;  // records a node points at
};

bool Loader::LoadHeader() {
  if (d_.size() < kFileHeaderSize + kRgknHeaderSize)
    return Fail("the file is too short to hold its headers", d_.size());
  if (d_.compare(0, 4, "CREG") != 0) return Fail("no CREG signature", 0);
  if (Get32(d_, 4) != kVersion)
    return Fail("unknown format version " + Hex(Get32(d_, 4)), 4);
  if (d_.compare(kRgknOffset, 4, "RGKN") != 0)
    return Fail("no RGKN key tree after the header", kRgknOffset);
  rgknSize_ = Get32(d_, kRgknOffset + kRgknSize);
  if (rgknSize_ < kRgknHeaderSize + kNodeSize ||
      rgknSize_ > d_.size() - kRgknOffset)
    return Fail("the key tree's size " + Hex(rgknSize_) +
                    " does not fit in the file",
                kRgknOffset + kRgknSize);
  const size_t first = Get32(d_, kHeaderFirstBlock);
  if (first < kRgknOffset + rgknSize_ || first > d_.size())
    return Fail("the first data block's offset " + Hex(first) +
                    " is out of range",
                kHeaderFirstBlock);
  return true;
}

bool Loader::LoadBlocks() {
  size_t offset = Get32(d_, kHeaderFirstBlock);
  while (offset < d_.size()) {
    const size_t index = file_.blocks_.size();
    if (index >= 0xFFFF) return Fail("too many data blocks", offset);
    if (d_.size() - offset < kBlockHeaderSize)
      return Fail("the file ends inside a data block header", offset);
    if (d_.compare(offset, 4, "RGDB") != 0)
      return Fail("no RGDB signature where data block " +
                      std::to_string(index) + " should start",
                  offset);
    Block block;
    block.offset = offset;
    block.size = Get32(d_, offset + kBlockSize);
    if (block.size < kBlockHeaderSize || block.size > d_.size() - offset)
      return Fail("data block " + std::to_string(index) + "'s size " +
                      Hex(block.size) + " does not fit in the file",
                  offset + kBlockSize);
    if (Get16(d_, offset + kBlockIndex) != index)
      return Fail("data block " + std::to_string(index) + " is numbered " +
                      std::to_string(Get16(d_, offset + kBlockIndex)),
                  offset + kBlockIndex);
    if (!ScanBlock(block, index)) return false;
    file_.blocks_.push_back(block);
    offset += block.size;
  }
  if (Get16(d_, kHeaderBlockCount) != file_.blocks_.size())
    return Fail("the header counts " +
                    std::to_string(Get16(d_, kHeaderBlockCount)) +
                    " data blocks but the file holds " +
                    std::to_string(file_.blocks_.size()),
                kHeaderBlockCount);
  return true;
}

bool Loader::ScanBlock(Block& block, size_t index) {
  ids_.emplace_back();
  auto& ids = ids_.back();
  const size_t end = block.offset + block.size;
  std::unordered_set<size_t> freeRecords;  // offsets from the block start
  size_t freeBytes = 0;
  size_t p = block.offset + kBlockHeaderSize;
  while (p < end) {
    if (end - p < kFreeRecordMin)
      return Fail("a record runs past the end of its data block", p);
    const size_t size = Get32(d_, p + kRecordSize);
    if (size < kFreeRecordMin || size > end - p)
      return Fail("a record's size " + Hex(size) +
                      " does not fit in its data block",
                  p);
    const uint16_t id = Get16(d_, p + kRecordId);
    if (id == kNoId) {
      freeRecords.insert(p - block.offset);
      freeBytes += size;
      p += size;
      continue;
    }
    if (size < kRecordHeaderSize)
      return Fail("a key record is too small for its header", p);
    if (Get16(d_, p + kRecordBlock) != index)
      return Fail("a key record in data block " + std::to_string(index) +
                      " names block " +
                      std::to_string(Get16(d_, p + kRecordBlock)),
                  p + kRecordBlock);
    const size_t used = Get32(d_, p + kRecordUsed);
    const size_t nameLength = Get16(d_, p + kRecordNameLength);
    if (used > size || used < kRecordHeaderSize + nameLength)
      return Fail("a key record's used size " + Hex(used) +
                      " does not fit its size or name",
                  p + kRecordUsed);
    size_t q = p + kRecordHeaderSize + nameLength;
    const size_t valuesEnd = p + used;
    for (size_t i = Get16(d_, p + kRecordValueCount); i > 0; --i) {
      if (valuesEnd - q < kValueHeaderSize)
        return Fail("a value runs past its key record's used size", q);
      const size_t length =
          kValueHeaderSize + Get16(d_, q + 8) + size_t{Get16(d_, q + 10)};
      if (length > valuesEnd - q)
        return Fail("a value runs past its key record's used size", q);
      q += length;
    }
    if (q != valuesEnd)
      return Fail("a key record's values do not fill its used size", q);
    if (!ids.emplace(id, p).second)
      return Fail("two key records in data block " + std::to_string(index) +
                      " share id " + std::to_string(id),
                  p + kRecordId);
    p += size;
  }
  // Walk the free list; it must reach every free record exactly once.
  size_t reached = 0;
  bool sound = Get32(d_, block.offset + kBlockUnused) == freeBytes;
  std::unordered_set<size_t> seen;
  for (size_t at = Get32(d_, block.offset + kBlockFirstFree);
       sound && at != kNone; at = Get32(d_, block.offset + at + kFreeNext)) {
    if (freeRecords.count(at) == 0 || !seen.insert(at).second) {
      sound = false;
      break;
    }
    ++reached;
  }
  block.freeListSound = sound && reached == freeRecords.size();
  return true;
}

bool Loader::FindRecord(size_t node, bool isRoot, size_t& p) {
  const uint16_t id = Get16(d_, node + kNodeId);
  const uint16_t blockIndex = Get16(d_, node + kNodeBlock);
  p = kNone;
  if (id == kNoId && blockIndex == kNoId) {
    if (isRoot) return true;  // Windows keeps no record for the root
    return Fail("a key node has no data record", node + kNodeId);
  }
  if (blockIndex >= ids_.size())
    return Fail("a key node points at data block " +
                    std::to_string(blockIndex) + ", beyond the last",
                node + kNodeBlock);
  auto found = ids_[blockIndex].find(id);
  if (found == ids_[blockIndex].end())
    return Fail("a key node points at record " + std::to_string(id) +
                    " of data block " + std::to_string(blockIndex) +
                    ", which does not exist",
                node + kNodeId);
  p = found->second;
  if (!claimed_.insert(p).second)
    return Fail("two key nodes share one data record", node + kNodeId);
  if (!isRoot) {
    const size_t nameLength = Get16(d_, p + kRecordNameLength);
    if (nameLength == 0 || nameLength > kMaxKeyNameLength)
      return Fail("a key name of " + std::to_string(nameLength) +
                      " characters",
                  p + kRecordNameLength);
  }
  return true;
}

void Loader::LoadValues(size_t node, size_t p, Key& key) {
  Record record;
  record.node = node;
  record.block = Get16(d_, p + kRecordBlock);
  record.offset = p;
  record.size = Get32(d_, p + kRecordSize);
  record.nameLength = Get16(d_, p + kRecordNameLength);
  size_t q = p + kRecordHeaderSize + record.nameLength;
  for (size_t i = Get16(d_, p + kRecordValueCount); i > 0; --i) {
    Value value;
    const size_t nameLength = Get16(d_, q + 8);
    const size_t dataLength = Get16(d_, q + 10);
    value.type = Get32(d_, q);
    value.name = d_.substr(q + kValueHeaderSize, nameLength);
    value.data = d_.substr(q + kValueHeaderSize + nameLength, dataLength);
    value.origin = q;
    q += kValueHeaderSize + nameLength + dataLength;
    value.originEnd = q;
    registry_.Values(key).push_back(std::move(value));
  }
  file_.records_.emplace(&key, record);
}

bool Loader::LoadTree() {
  // A node's offset, from the RGKN start, must leave a whole node inside.
  auto valid = [&](uint32_t rel) {
    return rel != kNone && rel >= kRgknHeaderSize &&
           rel <= rgknSize_ - kNodeSize;
  };
  const uint32_t rootRel = Get32(d_, kRgknOffset + kRgknRoot);
  if (!valid(rootRel))
    return Fail("the root key's node offset " + Hex(rootRel) +
                    " is outside the key tree",
                kRgknOffset + kRgknRoot);
  std::vector<bool> visited(rgknSize_, false);
  visited[rootRel] = true;
  size_t p;
  if (!FindRecord(kRgknOffset + rootRel, true, p)) return false;
  registry_.SetOrigin(registry_.Root(), kRgknOffset + rootRel);
  if (p != kNone) LoadValues(kRgknOffset + rootRel, p, registry_.Root());
  // Keys whose children are still to be read.
  std::vector<std::tuple<uint32_t, Key*, size_t>> pending{
      {rootRel, &registry_.Root(), 0}};
  while (!pending.empty()) {
    const auto [parentRel, parent, depth] = pending.back();
    pending.pop_back();
    size_t from = kRgknOffset + parentRel + kNodeChild;
    uint32_t rel = Get32(d_, from);
    while (rel != kNone) {
      if (!valid(rel))
        return Fail("a key node link " + Hex(rel) +
                        " points outside the key tree",
                    from);
      if (visited[rel])
        return Fail("a loop in the key tree: node " + Hex(rel) +
                        " is reached twice",
                    from);
      visited[rel] = true;
      const size_t node = kRgknOffset + rel;
      if (Get32(d_, node + kNodeParent) != parentRel)
        return Fail("a key node's parent link does not match the tree",
                    node + kNodeParent);
      if (depth + 1 > kMaxKeyDepth)
        return Fail("keys nested deeper than " + std::to_string(kMaxKeyDepth) +
                        " levels, more than Windows allows",
                    node);
      if (!FindRecord(node, false, p)) return false;
      Key* key = registry_.AddSubkey(
          *parent, d_.substr(p + kRecordHeaderSize,
                             Get16(d_, p + kRecordNameLength)));
      registry_.SetOrigin(*key, node);
      LoadValues(node, p, *key);
      pending.emplace_back(rel, key, depth + 1);
      from = node + kNodeNext;
      rel = Get32(d_, from);
    }
  }
  return true;
}

// ----------------------------------------------------------------- saving

// The working copy of the file while its changes are written in.
class Writer {
 public:
  Writer(const CregFile& file, const Registry& registry, std::string& image,
         std::string& error)
      : file_(file), registry_(registry), d_(image), error_(error) {}

  bool Place(const Key& key, const Record& record, std::string bytes);
  bool AppendNewBlock();

 private:
  bool Refuse(const std::string& why) {
    error_ = file_.path() + ": " + why + "; the file was left as it was";
    return false;
  }
  bool NeedSoundBlock(size_t index, const Key& key);
  // Takes `amount` bytes from the start of the free record at `rel` in
  // `block`; returns how many it took (all of it when the rest would be too
  // small to stand alone).
  size_t TakeFromFree(const Block& block, size_t rel, size_t amount);
  void Free(const Block& block, size_t rel, size_t size);
  void MakeFree(size_t at, size_t size, uint32_t next);
  void Write(size_t at, size_t room, uint16_t id, uint16_t blockIndex,
             const std::string& bytes);

  const CregFile& file_;
  const Registry& registry_;
  std::string& d_;
  std::string& error_;
  struct Moved {
    const Key* key;
    Record record;
    std::string bytes;
  };
  std::vector<Moved> toNewBlock_;
};

bool Writer::NeedSoundBlock(size_t index, const Key& key) {
  if (file_.blocks_[index].freeListSound) return true;
  return Refuse("the record of [" + registry_.Path(key) + "] must move, but data block " +
                std::to_string(index) +
                "'s list of free space does not match its contents");
}

void Writer::MakeFree(size_t at, size_t size, uint32_t next) {
  // A free record's header reads as an empty key record after its link.
  std::fill(d_.begin() + static_cast<std::ptrdiff_t>(at),
            d_.begin() + static_cast<std::ptrdiff_t>(at + kRecordHeaderSize),
            '\0');
  Put32(d_, at + kRecordSize, static_cast<uint32_t>(size));
  Put16(d_, at + kRecordId, kNoId);
  Put16(d_, at + kRecordBlock, kNoId);
  Put32(d_, at + kFreeNext, next);
}

void Writer::Write(size_t at, size_t room, uint16_t id, uint16_t blockIndex,
                   const std::string& bytes) {
  d_.replace(at, bytes.size(), bytes);
  // Whatever the record no longer uses is cleared rather than left stale.
  std::fill(d_.begin() + static_cast<std::ptrdiff_t>(at + bytes.size()),
            d_.begin() + static_cast<std::ptrdiff_t>(at + room), '\0');
  Put32(d_, at + kRecordSize, static_cast<uint32_t>(room));
  Put16(d_, at + kRecordId, id);
  Put16(d_, at + kRecordBlock, blockIndex);
}

size_t Writer::TakeFromFree(const Block& block, size_t rel, size_t amount) {
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
  Put32(d_, b + kBlockUnused,
        static_cast<uint32_t>(Get32(d_, b + kBlockUnused) - taken));
  return taken;
}

void Writer::Free(const Block& block, size_t rel, size_t size) {
  const size_t b = block.offset;
  const size_t at = b + rel;
  std::fill(d_.begin() + static_cast<std::ptrdiff_t>(at),
            d_.begin() + static_cast<std::ptrdiff_t>(at + size), '\0');
  MakeFree(at, size, Get32(d_, b + kBlockFirstFree));
  Put32(d_, b + kBlockFirstFree, static_cast<uint32_t>(rel));
  Put32(d_, b + kBlockUnused,
        static_cast<uint32_t>(Get32(d_, b + kBlockUnused) + size));
}

bool Writer::Place(const Key& key, const Record& record, std::string bytes) {
  const Block& block = file_.blocks_[record.block];
  const uint16_t id = Get16(d_, record.offset + kRecordId);
  const uint16_t blockIndex = static_cast<uint16_t>(record.block);
  const size_t need = bytes.size();
  if (need <= record.size) {
    Write(record.offset, record.size, id, blockIndex, bytes);
    return true;
  }
  if (!NeedSoundBlock(record.block, key)) return false;
  // Grow into a free record right behind it.
  const size_t after = record.offset + record.size;
  const size_t blockEnd = block.offset + block.size;
  if (after < blockEnd && Get16(d_, after + kRecordId) == kNoId &&
      record.size + Get32(d_, after + kRecordSize) >= need) {
    const size_t taken =
        TakeFromFree(block, after - block.offset, need - record.size);
    Write(record.offset, record.size + taken, id, blockIndex, bytes);
    return true;
  }
  // Move to free space elsewhere in the same block: the key keeps its id, so
  // its node stays as it is.
  for (uint32_t rel = Get32(d_, block.offset + kBlockFirstFree); rel != kNone;
       rel = Get32(d_, block.offset + rel + kFreeNext)) {
    if (Get32(d_, block.offset + rel + kRecordSize) < need) continue;
    const size_t taken = TakeFromFree(block, rel, need);
    Write(block.offset + rel, taken, id, blockIndex, bytes);
    Free(block, record.offset - block.offset, record.size);
    return true;
  }
  toNewBlock_.push_back({&key, record, std::move(bytes)});
  return true;
}

bool Writer::AppendNewBlock() {
  if (toNewBlock_.empty()) return true;
  if (toNewBlock_.size() > kMaxRecordsPerBlock)
    return Refuse("too many keys need a new data block at once");
  const size_t index = file_.blocks_.size();
  if (index >= 0xFFFF) return Refuse("the file holds the most data blocks it can");
  size_t total = kBlockHeaderSize;
  for (const Moved& moved : toNewBlock_) total += moved.bytes.size();
  const size_t size =
      (total + kBlockGranularity - 1) / kBlockGranularity * kBlockGranularity;
  const size_t rest = size - total;
  const size_t start = d_.size();
  d_.append(size, '\0');
  d_.replace(start, 4, "RGDB");
  Put32(d_, start + kBlockSize, static_cast<uint32_t>(size));
  Put32(d_, start + kBlockUnused, rest >= kSplitMin ? rest : 0);
  // Windows puts the same small constant here in every block.
  Put16(d_, start + kBlockUnknown,
        Get16(d_, file_.blocks_.front().offset + kBlockUnknown));
  Put16(d_, start + kBlockIndex, static_cast<uint16_t>(index));
  Put32(d_, start + kBlockFirstFree,
        rest >= kSplitMin ? static_cast<uint32_t>(total) : kNone);
  Put16(d_, start + kBlockHighestId,
        static_cast<uint16_t>(toNewBlock_.size() - 1));
  Put16(d_, start + kBlockLowestFreeId,
        static_cast<uint16_t>(toNewBlock_.size()));
  size_t at = start + kBlockHeaderSize;
  for (size_t i = 0; i < toNewBlock_.size(); ++i) {
    const Moved& moved = toNewBlock_[i];
    const bool last = i + 1 == toNewBlock_.size();
    const size_t room =
        moved.bytes.size() + (last && rest < kSplitMin ? rest : 0);
    Write(at, room, static_cast<uint16_t>(i), static_cast<uint16_t>(index),
          moved.bytes);
    const Block& old = file_.blocks_[moved.record.block];
    Free(old, moved.record.offset - old.offset, moved.record.size);
    Put16(d_, moved.record.node + kNodeId, static_cast<uint16_t>(i));
    Put16(d_, moved.record.node + kNodeBlock, static_cast<uint16_t>(index));
    at += room;
  }
  if (rest >= kSplitMin) MakeFree(at, rest, kNone);
  Put16(d_, kHeaderBlockCount, static_cast<uint16_t>(index + 1));
  return true;
}

// The key's record as it should now read: the original header and name,
// unchanged values byte for byte, changed and new ones built afresh.
bool BuildRecord(const std::string& d, const Registry& registry,
                 const Key& key, const Record& record, const std::string& path,
                 std::string& bytes, std::string& error) {
  const std::vector<Value>& values = registry.Values(key);
  bytes = d.substr(record.offset, kRecordHeaderSize + record.nameLength);
  if (values.size() > 0xFFFF) {
    error = path + ": [" + registry.Path(key) + "] would hold more values than the "
            "format can count; the file was left as it was";
    return false;
  }
  for (const Value& value : values) {
    if (!value.changed && !value.added) {
      bytes.append(d, value.origin, value.originEnd - value.origin);
      continue;
    }
    if (value.name.size() > 0xFFFF || value.data.size() > 0xFFFF) {
      error = path + ": value \"" + value.name + "\" of [" + registry.Path(key) +
              "] is too long for the format; the file was left as it was";
      return false;
    }
    std::string entry(kValueHeaderSize, '\0');
    Put32(entry, 0, value.type);
    Put32(entry, 4, value.added ? kValueReserved : Get32(d, value.origin + 4));
    Put16(entry, 8, static_cast<uint16_t>(value.name.size()));
    Put16(entry, 10, static_cast<uint16_t>(value.data.size()));
    bytes += entry + value.name + value.data;
  }
  Put32(bytes, kRecordUsed, static_cast<uint32_t>(bytes.size()));
  Put16(bytes, kRecordValueCount, static_cast<uint16_t>(values.size()));
  return true;
}

bool CregFile::Render(const Registry& registry, std::string& contents,
                      std::string& error) const {
  if (!registry.Changed()) {
    contents = contents_;
    return true;
  }
  if (Get32(contents_, kHeaderChecksum) != 0 ||
      Get32(contents_, kRgknOffset + kRgknChecksum) != 0) {
    error = path() + ": the file carries a checksum this program cannot "
            "recompute; the file was left as it was";
    return false;
  }
  std::string image = contents_;
  Writer writer(*this, registry, image, error);
  std::unordered_set<const Key*> done;
  for (const Change& change : registry.Changes()) {
    const Key* key = change.key;
    if (!done.insert(key).second) continue;
    auto found = records_.find(key);
    if (found == records_.end()) {
      error = path() + ": " + FormatRegKeyLine(registry, *key) +
              " has no data record to hold values; the file was left as it "
              "was";
      return false;
    }
    std::string bytes;
    if (!BuildRecord(contents_, registry, *key, found->second, path(), bytes, error) ||
        !writer.Place(*key, found->second, std::move(bytes)))
      return false;
  }
  if (!writer.AppendNewBlock()) return false;
  contents = std::move(image);
  return true;
}

std::string CregFile::DescribeChanges(const Registry& registry) const {
  if (!registry.Changed()) return std::string();
  const std::string eol = "\r\n";
  std::vector<const Key*> order;
  std::map<const Key*, std::string> lines;
  for (const Change& change : registry.Changes()) {
    if (lines.find(change.key) == lines.end()) order.push_back(change.key);
    lines[change.key] +=
        FormatRegValue(registry.Values(*change.key)[change.valueIndex], eol) + eol;
  }
  std::string out = "REGEDIT4" + eol;
  for (const Key* key : order)
    out += eol + FormatRegKeyLine(registry, *key) + eol + lines[key];
  return out;
}

}  // namespace

bool IsCregFile(const std::string& contents) {
  return contents.compare(0, 4, "CREG") == 0;
}

std::unique_ptr<Storage> ParseCregFile(const std::string& path,
                                       const std::string& name,
                                       std::string contents, Registry& registry,
                                       std::string& error) {
  auto file = std::make_unique<CregFile>(path, std::move(contents));
  Loader loader(name, *file, registry);
  if (!loader.Load(error)) return nullptr;
  return file;
}

}  // namespace hostreg
