#include "host/formats/creg/writer.h"

#include <algorithm>
#include <unordered_set>

#include "host/formats/changes.h"
#include "host/formats/creg/checksums.h"
#include "host/formats/creg/layout.h"
#include "host/formats/reg/render.h"

namespace hostreg {
namespace creg {

namespace {

// The key's record as it should now read: the original header and name,
// unchanged values byte for byte, changed and new ones built afresh.
bool BuildRecord(const std::string& d, const Registry& registry,
                 const Key& key, const Record& record, std::string& bytes,
                 std::string& error) {
  const std::vector<Value>& values = registry.values().Of(key);
  const std::string path = registry.keys().Path(key);
  if (values.size() > 0xFFFF) {
    error = "[" + path + "] would hold more values than the format can count";
    return false;
  }
  bytes = d.substr(record.offset, kRecordHeaderSize + record.nameLength);
  // The first values are the record's own, in order.
  size_t was = record.offset + kRecordHeaderSize + record.nameLength;
  for (size_t i = 0; i < values.size(); ++i) {
    const Value& value = values[i];
    const size_t origin = i < record.valueCount ? was : kNone;
    if (i < record.valueCount) was += ValueLength(d, was);
    if (!value.changed && !value.added) {
      bytes.append(d, origin, ValueLength(d, origin));
      continue;
    }
    if (value.name.size() > 0xFFFF || value.data.size() > 0xFFFF) {
      error = "value \"" + value.name + "\" of [" + path +
              "] is too long for the format";
      return false;
    }
    std::string entry(kValueHeaderSize, '\0');
    Put32(entry, kValueType, value.type);
    Put32(entry, kValueReserved,
          value.added ? kNewValueReserved : Get32(d, origin + kValueReserved));
    Put16(entry, kValueNameLength, static_cast<uint16_t>(value.name.size()));
    Put16(entry, kValueDataLength, static_cast<uint16_t>(value.data.size()));
    bytes += entry + value.name + value.data;
  }
  Put32(bytes, kRecordUsed, static_cast<uint32_t>(bytes.size()));
  Put16(bytes, kRecordValueCount, static_cast<uint16_t>(values.size()));
  return true;
}

// The working copy of the file while its changes are written in.
class Writer {
 public:
  Writer(const Image& image, const Registry& registry, std::string& d,
         std::string& error)
      : image_(image), registry_(registry), d_(d), error_(error) {}

  bool Place(const Key& key, const Record& record, std::string bytes);
  bool AppendNewBlock();

 private:
  struct Moved {
    Record record;
    std::string bytes;
  };

  bool Refuse(const std::string& why) {
    error_ = why;
    return false;
  }
  bool NeedSoundBlock(size_t index, const Key& key);
  bool GrowInPlace(const Record& record, const std::string& bytes);
  bool MoveWithinBlock(const Record& record, const std::string& bytes);
  // Takes `amount` bytes from the start of the free record at `rel` in
  // `block`; returns how many it took (all of it when the rest would be too
  // small to stand alone).
  size_t TakeFromFree(const Block& block, size_t rel, size_t amount);
  void Free(const Block& block, size_t rel, size_t size);
  void MakeFree(size_t at, size_t size, uint32_t next);
  void Clear(size_t at, size_t end);
  void WriteRecord(size_t at, size_t room, uint16_t id, uint16_t blockIndex,
                   const std::string& bytes);
  void AddUnused(size_t blockOffset, long long delta);
  uint16_t SharedBlockFlags() const;

  const Image& image_;
  const Registry& registry_;
  std::string& d_;
  std::string& error_;
  std::vector<Moved> toNewBlock_;
};

bool Writer::NeedSoundBlock(size_t index, const Key& key) {
  if (image_.blocks[index].freeListSound) return true;
  return Refuse("the record of [" + registry_.keys().Path(key) +
                "] must move, but data block " + std::to_string(index) +
                "'s list of free space does not match its contents");
}

void Writer::Clear(size_t at, size_t end) {
  std::fill(d_.begin() + static_cast<std::ptrdiff_t>(at),
            d_.begin() + static_cast<std::ptrdiff_t>(end), '\0');
}

void Writer::AddUnused(size_t blockOffset, long long delta) {
  Put32(d_, blockOffset + kBlockUnused,
        static_cast<uint32_t>(Get32(d_, blockOffset + kBlockUnused) + delta));
}

void Writer::MakeFree(size_t at, size_t size, uint32_t next) {
  // A free record's header reads as an empty key record after its link.
  Clear(at, at + kRecordHeaderSize);
  Put32(d_, at + kRecordSize, static_cast<uint32_t>(size));
  Put16(d_, at + kRecordId, kNoId);
  Put16(d_, at + kRecordBlock, kNoId);
  Put32(d_, at + kFreeNext, next);
}

void Writer::WriteRecord(size_t at, size_t room, uint16_t id,
                         uint16_t blockIndex, const std::string& bytes) {
  d_.replace(at, bytes.size(), bytes);
  // Whatever the record no longer uses is cleared rather than left stale.
  Clear(at + bytes.size(), at + room);
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
  AddUnused(b, -static_cast<long long>(taken));
  return taken;
}

void Writer::Free(const Block& block, size_t rel, size_t size) {
  const size_t at = block.offset + rel;
  Clear(at, at + size);
  MakeFree(at, size, Get32(d_, block.offset + kBlockFirstFree));
  Put32(d_, block.offset + kBlockFirstFree, static_cast<uint32_t>(rel));
  AddUnused(block.offset, static_cast<long long>(size));
}

// Into a free record right behind it.
bool Writer::GrowInPlace(const Record& record, const std::string& bytes) {
  const Block& block = image_.blocks[record.block];
  const size_t after = record.offset + record.size;
  if (after >= block.offset + block.size || Get16(d_, after + kRecordId) != kNoId ||
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
bool Writer::MoveWithinBlock(const Record& record, const std::string& bytes) {
  const Block& block = image_.blocks[record.block];
  for (uint32_t rel = Get32(d_, block.offset + kBlockFirstFree); rel != kNone;
       rel = Get32(d_, block.offset + rel + kFreeNext)) {
    if (Get32(d_, block.offset + rel + kRecordSize) < bytes.size()) continue;
    const uint16_t id = Get16(d_, record.offset + kRecordId);
    const size_t taken = TakeFromFree(block, rel, bytes.size());
    WriteRecord(block.offset + rel, taken, id,
                static_cast<uint16_t>(record.block), bytes);
    Free(block, record.offset - block.offset, record.size);
    return true;
  }
  return false;
}

bool Writer::Place(const Key& key, const Record& record, std::string bytes) {
  if (bytes.size() <= record.size) {
    WriteRecord(record.offset, record.size,
                Get16(d_, record.offset + kRecordId),
                static_cast<uint16_t>(record.block), bytes);
    return true;
  }
  if (!NeedSoundBlock(record.block, key)) return false;
  if (GrowInPlace(record, bytes) || MoveWithinBlock(record, bytes))
    return true;
  toNewBlock_.push_back({record, std::move(bytes)});
  return true;
}

// A new block's flags: only those that every block of the file has, so
// that none claims a state (such as a stale checksum) it is not in.
uint16_t Writer::SharedBlockFlags() const {
  uint16_t flags = 0xFFFF;
  for (const Block& block : image_.blocks)
    flags &= Get16(image_.contents, block.offset + kBlockFlags);
  return flags;
}

bool Writer::AppendNewBlock() {
  if (toNewBlock_.empty()) return true;
  if (toNewBlock_.size() > kMaxRecordsPerBlock)
    return Refuse("too many keys need a new data block at once");
  const size_t index = image_.blocks.size();
  if (index >= kMaxBlocks)
    return Refuse("the file holds the most data blocks it can");
  size_t total = kBlockHeaderSize;
  for (const Moved& moved : toNewBlock_) total += moved.bytes.size();
  const size_t size =
      (total + kBlockGranularity - 1) / kBlockGranularity * kBlockGranularity;
  const size_t rest = size - total;
  const bool restIsFree = rest >= kSplitMin;
  const size_t start = d_.size();
  d_.append(size, '\0');
  d_.replace(start, 4, "RGDB");
  Put32(d_, start + kBlockSize, static_cast<uint32_t>(size));
  Put32(d_, start + kBlockUnused, restIsFree ? static_cast<uint32_t>(rest) : 0);
  Put16(d_, start + kBlockFlags, SharedBlockFlags());
  Put16(d_, start + kBlockIndex, static_cast<uint16_t>(index));
  Put32(d_, start + kBlockFirstFree,
        restIsFree ? static_cast<uint32_t>(total) : kNone);
  Put16(d_, start + kBlockHighestId,
        static_cast<uint16_t>(toNewBlock_.size() - 1));
  Put16(d_, start + kBlockLowestFreeId,
        static_cast<uint16_t>(toNewBlock_.size()));
  size_t at = start + kBlockHeaderSize;
  for (size_t i = 0; i < toNewBlock_.size(); ++i) {
    const Moved& moved = toNewBlock_[i];
    const bool last = i + 1 == toNewBlock_.size();
    const size_t room = moved.bytes.size() + (last && !restIsFree ? rest : 0);
    WriteRecord(at, room, static_cast<uint16_t>(i),
                static_cast<uint16_t>(index), moved.bytes);
    const Block& old = image_.blocks[moved.record.block];
    Free(old, moved.record.offset - old.offset, moved.record.size);
    Put16(d_, moved.record.node + kNodeId, static_cast<uint16_t>(i));
    Put16(d_, moved.record.node + kNodeBlock, static_cast<uint16_t>(index));
    at += room;
  }
  if (restIsFree) MakeFree(at, rest, kNone);
  Put16(d_, kHeaderBlockCount, static_cast<uint16_t>(index + 1));
  return true;
}

}  // namespace

bool Write(const Image& image, const Registry& registry, std::string& out,
           std::string& error) {
  std::string d = image.contents;
  Writer writer(image, registry, d, error);
  for (const KeyChanges& changed : ChangesByKey(registry)) {
    const Key& key = *changed.key;
    auto found = image.records.find(&key);
    if (found == image.records.end()) {
      error = FormatKeyLine(registry.keys(), key) +
              " has no data record to hold values";
      return false;
    }
    std::string bytes;
    if (!BuildRecord(image.contents, registry, key, found->second, bytes,
                     error) ||
        !writer.Place(key, found->second, std::move(bytes)))
      return false;
  }
  if (!writer.AppendNewBlock() ||
      !UpdateChecksums(image.contents, d, error))
    return false;
  out = std::move(d);
  return true;
}

}  // namespace creg
}  // namespace hostreg
