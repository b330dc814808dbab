// The host's own registry: its key tree and the values of its keys, loaded
// from a registry file or built in memory.
#ifndef REGSWITCH_HOST_REGISTRY_REGISTRY_H
#define REGSWITCH_HOST_REGISTRY_REGISTRY_H

#include <memory>
#include <string_view>

#include "host/registry/key_tree.h"
#include "host/registry/names.h"
#include "host/registry/string_rules.h"
#include "host/registry/value_store.h"

namespace hostreg {

class Registry {
 public:
  explicit Registry(std::string_view rootName = "HKEY_LOCAL_MACHINE")
      : keys_(rootName), values_(keys_) {}
  Registry(const Registry&) = delete;
  Registry& operator=(const Registry&) = delete;

  KeyTree& keys() { return keys_; }
  const KeyTree& keys() const { return keys_; }
  ValueStore& values() { return values_; }
  const ValueStore& values() const { return values_; }

  // What is in the registry now is what its file holds: later changes are
  // the run's.
  void MarkLoaded() { keys_.MarkLoaded(); }

  // How its string data is kept and read, as its file's Windows does: set
  // by the format that loads it.
  StringRules stringRules() const { return stringRules_; }
  void SetStringRules(StringRules rules) { stringRules_ = rules; }

  // Where the keys' names and values stay; the registry keeps it alive.
  void SetSource(std::shared_ptr<const KeySource> source) {
    source_ = std::move(source);
    keys_.SetNameSource(source_.get());
    values_.SetSource(source_.get());
  }

 private:
  std::shared_ptr<const KeySource> source_;
  KeyTree keys_;
  ValueStore values_;
  StringRules stringRules_ = StringRules::kAsGiven;
};

}  // namespace hostreg

#endif
