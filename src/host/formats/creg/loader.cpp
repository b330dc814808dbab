#include "host/formats/creg/loader.h"

#include <algorithm>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "host/formats/creg/layout.h"

namespace hostreg {
namespace creg {

namespace {

class Loader {
 public:
  Loader(const std::string& name, Hive& hive, Registry& registry)
      : name_(name), d_(hive.contents), hive_(hive), registry_(registry) {}

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
  bool LoadBlock(size_t offset, size_t index, Block& block);
  bool ScanRecords(const Block& block, size_t index, size_t& freeBytes,
                   std::unordered_set<size_t>& freeRecords);
  bool CheckKeyRecord(size_t p, size_t size, size_t index);
  bool FreeListSound(const Block& block, size_t freeBytes,
                     const std::unordered_set<size_t>& freeRecords) const;
  bool LoadTree();
  bool LoadChildren(uint32_t parentRel, Key* parent, size_t depth,
                    std::vector<bool>& visited,
                    std::vector<std::tuple<uint32_t, Key*, size_t>>& pending);
  bool ValidNode(uint32_t rel) const {
    return rel != kNone && rel >= kRgknHeaderSize &&
           rel <= rgknSize_ - kNodeSize;
  }
  bool CheckNodeLink(uint32_t rel, size_t from);
  bool CheckNodesApart(const std::vector<bool>& visited);
  bool FreeNodesSound(const std::vector<bool>& visited) const;
  // The record a key node points at, checked; none for a root without one.
  bool FindRecord(size_t node, bool isRoot, size_t& p);
  void LoadValues(size_t node, size_t p, Key& key);

  const std::string& name_;
  const std::string& d_;
  Hive& hive_;
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
    Block block;
    if (!LoadBlock(offset, hive_.blocks.size(), block)) return false;
    hive_.blocks.push_back(block);
    offset += block.size;
  }
  if (Get16(d_, kHeaderBlockCount) != hive_.blocks.size())
    return Fail("the header counts " +
                    std::to_string(Get16(d_, kHeaderBlockCount)) +
                    " data blocks but the file holds " +
                    std::to_string(hive_.blocks.size()),
                kHeaderBlockCount);
  return true;
}

bool Loader::LoadBlock(size_t offset, size_t index, Block& block) {
  const std::string number = std::to_string(index);
  if (index >= kMaxBlocks) return Fail("too many data blocks", offset);
  if (d_.size() - offset < kBlockHeaderSize)
    return Fail("the file ends inside a data block header", offset);
  if (d_.compare(offset, 4, "RGDB") != 0)
    return Fail("no RGDB signature where data block " + number +
                    " should start",
                offset);
  block.offset = offset;
  block.size = Get32(d_, offset + kBlockSize);
  if (block.size < kBlockHeaderSize || block.size > d_.size() - offset)
    return Fail("data block " + number + "'s size " + Hex(block.size) +
                    " does not fit in the file",
                offset + kBlockSize);
  if (Get16(d_, offset + kBlockIndex) != index)
    return Fail("data block " + number + " is numbered " +
                    std::to_string(Get16(d_, offset + kBlockIndex)),
                offset + kBlockIndex);
  size_t freeBytes = 0;
  std::unordered_set<size_t> freeRecords;  // offsets from the block start
  if (!ScanRecords(block, index, freeBytes, freeRecords)) return false;
  block.freeListSound = FreeListSound(block, freeBytes, freeRecords);
  return true;
}

bool Loader::ScanRecords(const Block& block, size_t index, size_t& freeBytes,
                         std::unordered_set<size_t>& freeRecords) {
  ids_.emplace_back();
  const size_t end = block.offset + block.size;
  for (size_t p = block.offset + kBlockHeaderSize; p < end;) {
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
    } else if (!CheckKeyRecord(p, size, index)) {
      return false;
    } else if (!ids_.back().emplace(id, p).second) {
      return Fail("two key records in data block " + std::to_string(index) +
                      " share id " + std::to_string(id),
                  p + kRecordId);
    }
    p += size;
  }
  return true;
}

// A key record's header, name and values must fit in it.
bool Loader::CheckKeyRecord(size_t p, size_t size, size_t index) {
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
    if (valuesEnd - q < kValueHeaderSize || ValueLength(d_, q) > valuesEnd - q)
      return Fail("a value runs past its key record's used size", q);
    q += ValueLength(d_, q);
  }
  if (q != valuesEnd)
    return Fail("a key record's values do not fill its used size", q);
  return true;
}

// The free list must reach every free record exactly once, and the
// header's count of free bytes must be theirs.
bool Loader::FreeListSound(const Block& block, size_t freeBytes,
                           const std::unordered_set<size_t>& freeRecords) const {
  if (Get32(d_, block.offset + kBlockUnused) != freeBytes) return false;
  std::unordered_set<size_t> seen;
  for (size_t at = Get32(d_, block.offset + kBlockFirstFree); at != kNone;
       at = Get32(d_, block.offset + at + kFreeNext)) {
    if (freeRecords.count(at) == 0 || !seen.insert(at).second) return false;
  }
  return seen.size() == freeRecords.size();
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
  record.valueCount = Get16(d_, p + kRecordValueCount);
  std::vector<Value>& values = registry_.values().Of(key);
  size_t q = p + kRecordHeaderSize + record.nameLength;
  for (size_t i = record.valueCount; i > 0; --i) {
    const size_t nameLength = Get16(d_, q + kValueNameLength);
    Value value;
    value.type = Get32(d_, q + kValueType);
    value.name = d_.substr(q + kValueHeaderSize, nameLength);
    value.data = d_.substr(q + kValueHeaderSize + nameLength,
                           Get16(d_, q + kValueDataLength));
    values.push_back(std::move(value));
    q += ValueLength(d_, q);
  }
  hive_.records.emplace(&key, record);
}

// A link must lead to a node the writer can change without touching
// another: inside the key tree and where nodes are kept.
bool Loader::CheckNodeLink(uint32_t rel, size_t from) {
  if (!ValidNode(rel))
    return Fail("a key node link " + Hex(rel) + " points outside the key tree",
                from);
  if (!OnNodeGrid(rel))
    return Fail("a key node link " + Hex(rel) +
                    " is not where the key tree keeps nodes",
                from);
  return true;
}

// Saving rewrites a node's record id and block in place, which must never
// land in another node. The grid keeps nodes apart; this checks what the
// writer relies on all the same.
bool Loader::CheckNodesApart(const std::vector<bool>& visited) {
  size_t last = kNone;
  for (size_t rel = 0; rel < visited.size(); ++rel) {
    if (!visited[rel]) continue;
    if (last != kNone && rel - last < kNodeSize)
      return Fail("the key nodes at " + Hex(last) + " and " + Hex(rel) +
                      " of the key tree overlap",
                  kRgknOffset + rel);
    last = rel;
  }
  return true;
}

// The free-node list must lead, without a loop, to free stretches where
// the tree keeps nodes, each inside the tree and clear of every key's node
// and of the other stretches: a save carves new nodes out of them.
bool Loader::FreeNodesSound(const std::vector<bool>& visited) const {
  std::vector<std::pair<uint32_t, uint32_t>> stretches;  // start, end
  std::unordered_set<uint32_t> seen;
  for (uint32_t rel = Get32(d_, kRgknOffset + kRgknFirstFree); rel != kNone;
       rel = Get32(d_, kRgknOffset + rel + kFreeNodeNext)) {
    if (!ValidNode(rel) || !OnNodeGrid(rel) || visited[rel] ||
        !seen.insert(rel).second)
      return false;
    const size_t node = kRgknOffset + rel;
    const uint32_t size = Get32(d_, node + kFreeNodeSize);
    if (Get32(d_, node + kNodeMark) != kFreeNodeMark || size < kNodeSize ||
        size > rgknSize_ - rel)
      return false;
    stretches.emplace_back(rel, rel + size);
  }
  std::sort(stretches.begin(), stretches.end());
  std::vector<uint32_t> live;  // every key's node, in order
  for (uint32_t rel = 0; rel < visited.size(); ++rel)
    if (visited[rel]) live.push_back(rel);
  for (size_t i = 0; i < stretches.size(); ++i) {
    const auto [start, end] = stretches[i];
    if (i > 0 && stretches[i - 1].second > start) return false;
    // The first node that ends after the stretch starts must start after
    // it ends.
    const uint32_t from = start < kNodeSize ? 0 : start - kNodeSize + 1;
    auto near = std::lower_bound(live.begin(), live.end(), from);
    if (near != live.end() && *near < end) return false;
  }
  return true;
}

bool Loader::LoadTree() {
  const uint32_t rootRel = Get32(d_, kRgknOffset + kRgknRoot);
  if (!ValidNode(rootRel))
    return Fail("the root key's node offset " + Hex(rootRel) +
                    " is outside the key tree",
                kRgknOffset + kRgknRoot);
  if (!OnNodeGrid(rootRel))
    return Fail("the root key's node offset " + Hex(rootRel) +
                    " is not where the key tree keeps nodes",
                kRgknOffset + kRgknRoot);
  std::vector<bool> visited(rgknSize_, false);
  visited[rootRel] = true;
  size_t p;
  if (!FindRecord(kRgknOffset + rootRel, true, p)) return false;
  Key& root = registry_.keys().Root();
  if (p != kNone) LoadValues(kRgknOffset + rootRel, p, root);
  // Keys whose children are still to be read.
  std::vector<std::tuple<uint32_t, Key*, size_t>> pending{{rootRel, &root, 0}};
  while (!pending.empty()) {
    const auto [parentRel, parent, depth] = pending.back();
    pending.pop_back();
    if (!LoadChildren(parentRel, parent, depth, visited, pending))
      return false;
  }
  if (!CheckNodesApart(visited)) return false;
  hive_.freeNodesSound = FreeNodesSound(visited);
  return true;
}

bool Loader::LoadChildren(
    uint32_t parentRel, Key* parent, size_t depth, std::vector<bool>& visited,
    std::vector<std::tuple<uint32_t, Key*, size_t>>& pending) {
  size_t from = kRgknOffset + parentRel + kNodeChild;
  for (uint32_t rel = Get32(d_, from); rel != kNone; rel = Get32(d_, from)) {
    if (!CheckNodeLink(rel, from)) return false;
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
    size_t p;
    if (!FindRecord(node, false, p)) return false;
    Key* key = registry_.keys().AddSubkey(
        *parent, d_.substr(p + kRecordHeaderSize,
                           Get16(d_, p + kRecordNameLength)));
    LoadValues(node, p, *key);
    pending.emplace_back(rel, key, depth + 1);
    from = node + kNodeNext;
  }
  return true;
}

}  // namespace

bool Load(const std::string& name, Hive& hive, Registry& registry,
          std::string& error) {
  return Loader(name, hive, registry).Load(error);
}

}  // namespace creg
}  // namespace hostreg
