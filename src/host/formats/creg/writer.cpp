#include "host/formats/creg/writer.h"

#include <algorithm>
#include <unordered_map>

#include "host/formats/changes.h"
#include "host/formats/creg/blocks.h"
#include "host/formats/creg/checksums.h"
#include "host/formats/creg/layout.h"
#include "host/formats/creg/limits.h"
#include "host/formats/creg/node_table.h"

namespace hostreg {
namespace creg {

namespace {

// One value as the record holds it, appended: header, name, data, as the
// registry holds it (a REG_SZ as Windows 9x keeps it, without a
// terminating zero).
void AppendValueEntry(std::string& bytes, const Value& value,
                      uint32_t reserved) {
  const size_t at = bytes.size();
  bytes.append(kValueHeaderSize, '\0');
  Put32(bytes, at + kValueType, value.type);
  Put32(bytes, at + kValueReserved, reserved);
  Put16(bytes, at + kValueNameLength, static_cast<uint16_t>(value.name.size()));
  Put16(bytes, at + kValueDataLength, static_cast<uint16_t>(value.data.size()));
  bytes += value.name;
  bytes += value.data;
}

// The key's name in a message is built only for one.
bool CheckValues(const Registry& registry, const Key& key,
                 const std::vector<Value>& values, std::string& error) {
  if (values.size() > 0xFFFF) {
    error = KeyLineOf(registry.keys(), key) +
            " would hold more values than the format can count";
    return false;
  }
  for (const Value& value : values) {
    if (value.name.size() > 0xFFFF || value.data.size() > 0xFFFF) {
      error = "value \"" + value.name + "\" of " +
              KeyLineOf(registry.keys(), key) + " is too long for the format";
      return false;
    }
  }
  return true;
}

// The key's record as it should now read: the original header and name,
// values the run left alone byte for byte (found by name, as deletions
// and values set again change their order), others built afresh.
bool BuildRecord(const std::string& d, const Registry& registry,
                 const Key& key, const Record& record, std::string& bytes,
                 std::string& error) {
  const std::vector<Value>& values = registry.values().Of(key);
  if (!CheckValues(registry, key, values, error)) return false;
  std::unordered_map<std::string, size_t> origin;  // name -> offset
  size_t at = record.offset + kRecordHeaderSize + record.nameLength;
  for (size_t i = 0; i < record.valueCount; ++i, at += ValueLength(d, at))
    origin.emplace(d.substr(at + kValueHeaderSize, Get16(d, at + kValueNameLength)), at);
  bytes = d.substr(record.offset, kRecordHeaderSize + record.nameLength);
  for (const Value& value : values) {
    auto found = value.added ? origin.end() : origin.find(value.name);
    if (found == origin.end()) {
      AppendValueEntry(bytes, value, kNewValueReserved);
    } else if (!value.changed) {
      bytes.append(d, found->second, ValueLength(d, found->second));
    } else {
      AppendValueEntry(bytes, value, Get32(d, found->second + kValueReserved));
    }
  }
  Put32(bytes, kRecordUsed, static_cast<uint32_t>(bytes.size()));
  Put16(bytes, kRecordValueCount, static_cast<uint16_t>(values.size()));
  return true;
}

// A new key's record; its size, id and block are set where it is placed.
// The root's is named as Windows 95's own root record is, by one zero
// byte.
bool NewRecord(const Registry& registry, const Key& key, std::string& bytes,
               std::string& error) {
  const std::string name = &key == &registry.keys().Root()
                               ? std::string(1, '\0')
                               : registry.keys().Name(key);
  const std::vector<Value>& values = registry.values().Of(key);
  if (!CheckValues(registry, key, values, error)) return false;
  bytes.assign(kRecordHeaderSize, '\0');
  Put16(bytes, kRecordNameLength, static_cast<uint16_t>(name.size()));
  Put16(bytes, kRecordValueCount, static_cast<uint16_t>(values.size()));
  bytes += name;
  for (const Value& value : values)
    AppendValueEntry(bytes, value, kNewValueReserved);
  Put32(bytes, kRecordUsed, static_cast<uint32_t>(bytes.size()));
  return true;
}

class Writer {
 public:
  Writer(const Hive& hive, const Registry& registry, const ChangeSet& changes,
         std::string& d, std::string& error)
      : hive_(hive),
        registry_(registry),
        changes_(changes),
        keys_(registry.keys()),
        error_(error),
        nodes_(d),
        blocks_(hive, d, error) {}

  bool Run();

 private:
  bool DeleteKeys();
  bool ChangeValues();
  bool GiveRootARecord();
  bool CreateKeys();
  uint32_t NodeOf(const Key& key) const;
  bool FreeNodesUsable(const Key& key, const char* need);

  const Hive& hive_;
  const Registry& registry_;
  const ChangeSet& changes_;
  const KeyTree& keys_;
  std::string& error_;
  NodeTable nodes_;
  Blocks blocks_;
  std::unordered_map<const Key*, uint32_t> created_;  // key -> its node
};

uint32_t Writer::NodeOf(const Key& key) const {
  if (&key == &keys_.Root())
    return Get32(hive_.contents, kRgknOffset + kRgknRoot);
  auto loaded = hive_.records.find(&key);
  if (loaded != hive_.records.end())
    return static_cast<uint32_t>(loaded->second.node - kRgknOffset);
  return created_.at(&key);
}

// A list the loader could not follow safely would have a new node written
// over a key's, or a freed one linked into a loop.
bool Writer::FreeNodesUsable(const Key& key, const char* need) {
  if (hive_.freeNodesSound) return true;
  error_ = KeyLineOf(keys_, key) + need +
           ", but the key tree's list of free nodes does not match its "
           "contents";
  return false;
}

// Every node and record below a deleted key goes, in the order of the
// nodes, so that a save is the same every time.
bool Writer::DeleteKeys() {
  const std::vector<Key*>& tops = changes_.deleted;
  std::vector<const Record*> gone;
  for (const auto& entry : hive_.records)
    if (!keys_.IsLive(*entry.first)) gone.push_back(&entry.second);
  if (!gone.empty() &&
      !FreeNodesUsable(*tops.front(), " must give its node back"))
    return false;
  for (const Key* top : tops) nodes_.Unlink(NodeOf(*top));
  std::sort(gone.begin(), gone.end(), [](const Record* a, const Record* b) {
    return a->node < b->node;
  });
  for (const Record* record : gone) {
    nodes_.Free(static_cast<uint32_t>(record->node - kRgknOffset));
    blocks_.Remove(*record);
  }
  blocks_.Tidy();
  return true;
}

// Windows Me keeps no record for a root without values (Windows 95
// keeps an empty one). Values on the root get a record as any key's, in
// the first block where there is room, and the root's node points at it.
bool Writer::GiveRootARecord() {
  std::string bytes;
  if (!NewRecord(registry_, keys_.Root(), bytes, error_)) return false;
  uint16_t id, block;
  if (!blocks_.Insert(bytes, 0, id, block)) return false;
  const uint32_t rel = NodeOf(keys_.Root());
  nodes_.Set16(rel, kNodeId, id);
  nodes_.Set16(rel, kNodeBlock, block);
  return true;
}

bool Writer::ChangeValues() {
  for (const KeyChanges& changed : changes_.keys) {
    const Key& key = *changed.key;
    auto found = hive_.records.find(&key);
    if (found == hive_.records.end()) {
      // Only a root is loaded without a record.
      if (!GiveRootARecord()) return false;
      continue;
    }
    std::string bytes;
    if (!BuildRecord(hive_.contents, registry_, key, found->second, bytes,
                     error_) ||
        !blocks_.Place([&] { return KeyLineOf(keys_, key); }, found->second,
                       std::move(bytes)))
      return false;
  }
  return true;
}

// Parents come before their subkeys. A new key's record goes to its
// parent's block where there is room, as neighbours are read together.
bool Writer::CreateKeys() {
  for (const Key* key : changes_.created) {
    if (!FreeNodesUsable(*key, " needs a node")) return false;
    const Key& parent = *keys_.Parent(*key);
    std::string bytes;
    if (!NewRecord(registry_, *key, bytes, error_)) return false;
    auto parentRecord = hive_.records.find(&parent);
    const size_t preferred =
        parentRecord != hive_.records.end() ? parentRecord->second.block : 0;
    uint16_t id, block;
    if (!blocks_.Insert(bytes, preferred, id, block)) return false;
    const uint32_t rel = nodes_.Add(NodeOf(parent), keys_.Name(*key));
    nodes_.Set16(rel, kNodeId, id);
    nodes_.Set16(rel, kNodeBlock, block);
    created_[key] = rel;
  }
  return true;
}

bool Writer::Run() {
  if (!DeleteKeys() || !ChangeValues() || !CreateKeys() ||
      !blocks_.Finish(nodes_))
    return false;
  nodes_.Finish();
  return true;
}

}  // namespace

bool Write(const Hive& hive, const Registry& registry,
           const ChangeSet& changes, std::string& out, std::string& error) {
  // Names are code page 1252 bytes in the file; a character read from a
  // UTF-16 file that 1252 has no byte for has none there either.
  error = ForeignNameRefusal(registry, changes);
  if (error.empty()) error = LimitRefusal(hive, registry, changes);
  if (!error.empty()) return false;
  std::string d = hive.contents;
  if (!Writer(hive, registry, changes, d, error).Run() ||
      !UpdateChecksums(hive.contents, d, error))
    return false;
  out = std::move(d);
  return true;
}

}  // namespace creg
}  // namespace hostreg
