#include "host/formats/creg/limits.h"

#include <vector>

#include "host/formats/creg/layout.h"

namespace hostreg {
namespace creg {

namespace {

const char kSource[] = "Microsoft's \"Registry Element Size Limits\"";

// 16,301: figures in messages, grouped as people read them.
std::string Grouped(size_t n) {
  std::string digits = std::to_string(n);
  for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
  return digits;
}

std::string ValueOf(const Registry& registry, const Key& key,
                    const Value& value) {
  std::string name = value.name.substr(0, 40);
  if (name.size() < value.name.size()) name += "...";
  return (value.name.empty() ? std::string("the default value")
                             : "value \"" + AnsiName(name) + "\"") +
         " of " + AnsiName(KeyLineOf(registry.keys(), key));
}

std::string ValueRefusal(const Registry& registry, const Key& key,
                         const Value& value) {
  if (value.name.size() > kMaxValueNameLength)
    return ValueOf(registry, key, value) + ": its name is " +
           Grouped(value.name.size()) +
           " characters long, but Windows 95, 98 and Me keep value names "
           "of at most " +
           Grouped(kMaxValueNameLength) + " (" + kSource + ")";
  if (value.data.size() > kMaxValueData)
    return ValueOf(registry, key, value) + " holds " +
           Grouped(value.data.size()) +
           " bytes, but Windows 95, 98 and Me keep at most " +
           Grouped(kMaxValueData) + " bytes in a value (" + kSource + ")";
  return std::string();
}

size_t ValuesSize(const std::vector<Value>& values) {
  size_t total = 0;
  for (const Value& value : values)
    total += kValueHeaderSize + value.name.size() + value.data.size();
  return total;
}

// The bytes of values the key's record held as loaded; 0 for a new key.
size_t LoadedValuesSize(const Hive& hive, const Key& key) {
  auto found = hive.records.find(&key);
  if (found == hive.records.end()) return 0;
  const Record& record = found->second;
  return Get32(hive.contents, record.offset + kRecordUsed) -
         kRecordHeaderSize - record.nameLength;
}

// A key that held more as loaded is not refused for what it held.
std::string KeyRefusal(const Hive& hive, const Registry& registry,
                       const Key& key) {
  if (hive.windows != Windows::k95) return std::string();
  const size_t size = ValuesSize(registry.values().Of(key));
  if (size <= kMaxKeyValues95 || size <= LoadedValuesSize(hive, key))
    return std::string();
  return AnsiName(KeyLineOf(registry.keys(), key)) + " would hold " +
         Grouped(size) +
         " bytes of values, but Windows 95 keeps at most 64 KB of values in "
         "one key and loses what is beyond when it loads it (" +
         kSource + "; Knowledge Base article Q122867)";
}

}  // namespace

std::string LimitRefusal(const Hive& hive, const Registry& registry,
                         const ChangeSet& changes) {
  for (const KeyChanges& changed : changes.keys) {
    const std::vector<Value>& values = registry.values().Of(*changed.key);
    for (size_t index : changed.values) {
      std::string why = ValueRefusal(registry, *changed.key, values[index]);
      if (!why.empty()) return why;
    }
    std::string why = KeyRefusal(hive, registry, *changed.key);
    if (!why.empty()) return why;
  }
  for (const Key* key : changes.created) {
    for (const Value& value : registry.values().Of(*key)) {
      std::string why = ValueRefusal(registry, *key, value);
      if (!why.empty()) return why;
    }
    std::string why = KeyRefusal(hive, registry, *key);
    if (!why.empty()) return why;
  }
  return std::string();
}

}  // namespace creg
}  // namespace hostreg
