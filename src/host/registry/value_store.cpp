#include "host/registry/value_store.h"

#include "host/registry/names.h"

namespace hostreg {

std::vector<Value>& ValueStore::Of(const Key& key) const {
  const uint32_t id = keys_.IdOf(key);
  auto found = loaded_.find(id);
  if (found != loaded_.end()) return found->second;
  std::vector<Value>& values = loaded_[id];
  if (source_ != nullptr) source_->LoadValues(id, values);
  return values;
}

Value* ValueStore::Find(const Key& key, std::string_view name) const {
  for (Value& value : Of(key))
    if (NamesEqual(value.name, name)) return &value;
  return nullptr;
}

void ValueStore::Set(Key& key, const std::string& name, DWORD type,
                     const std::string& data) {
  std::vector<Value>& values = Of(key);
  if (trial_) beforeTrial_.try_emplace(keys_.IdOf(key), values);
  Value* value = Find(key, name);
  if (value == nullptr) {
    Value fresh;
    fresh.name = name;
    fresh.type = type;
    fresh.data = data;
    fresh.changed = true;
    fresh.added = true;
    values.push_back(std::move(fresh));
    changes_.push_back({&key, values.size() - 1});
    return;
  }
  // Rewriting a value with what it already holds is no change, so a run
  // that alters nothing leaves the file alone.
  if (value->type == type && value->data == data) return;
  value->type = type;
  value->data = data;
  if (!value->changed) {
    value->changed = true;
    changes_.push_back({&key, static_cast<size_t>(value - values.data())});
  }
}

void ValueStore::Release(const Key& key) {
  if (source_ == nullptr) return;  // nowhere to read them from again
  auto found = loaded_.find(keys_.IdOf(key));
  if (found == loaded_.end()) return;
  for (const Value& value : found->second)
    if (value.changed) return;
  loaded_.erase(found);
}

void ValueStore::BeginTrial() {
  trial_ = true;
  changesBeforeTrial_ = changes_.size();
  beforeTrial_.clear();
}

// A key written in the trial kept its values loaded (or had nothing
// changed, and then its saved values are what the source holds), so
// putting the saved ones back is all it takes.
void ValueStore::EndTrial() {
  for (auto& [id, values] : beforeTrial_) loaded_[id] = std::move(values);
  beforeTrial_.clear();
  changes_.resize(changesBeforeTrial_);
  trial_ = false;
}

}  // namespace hostreg
