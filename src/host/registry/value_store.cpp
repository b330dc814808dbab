#include "host/registry/value_store.h"

#include <algorithm>
#include <iterator>

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

void ValueStore::SaveForTrial(const Key& key,
                              const std::vector<Value>& values) {
  if (!trial_ || beforeTrial_.count(keys_.IdOf(key)) != 0) return;
  const bool fromSource = Releasable(key, values);
  beforeTrial_.emplace(keys_.IdOf(key),
                       Saved{&key, fromSource,
                             fromSource ? std::vector<Value>() : values});
}

void ValueStore::Log(Key& key, std::vector<Value>& values,
                     size_t valueIndex) {
  values[valueIndex].logged = changes_.size();
  changes_.push_back({&key, valueIndex});
}

// Before the value at `valueIndex` goes: its entry goes too (it keeps its
// place in the log, without a key), and the entries of the key's later
// values move up one.
void ValueStore::Unlog(std::vector<Value>& values, size_t valueIndex) {
  if (values[valueIndex].changed)
    changes_[values[valueIndex].logged].key = nullptr;
  for (size_t i = valueIndex + 1; i < values.size(); ++i)
    if (values[i].changed) --changes_[values[i].logged].valueIndex;
}

void ValueStore::Set(Key& key, const std::string& name, DWORD type,
                     const std::string& data, bool lossy) {
  std::vector<Value>& values = Of(key);
  SaveForTrial(key, values);
  Value* value = Find(key, name);
  if (value == nullptr) {
    Value fresh;
    fresh.name = name;
    fresh.added = !Restore(key, name, fresh);
    values.push_back(std::move(fresh));
    value = &values.back();
    if (value->added) {
      value->type = type;
      value->data = data;
      value->lossy = lossy;
      value->changed = true;
      Log(key, values, values.size() - 1);
      return;
    }
  }
  // Rewriting a value with what it already holds is no change, so a run
  // that alters nothing leaves the file alone.
  if (!lossy && !value->lossy && value->type == type && value->data == data)
    return;
  if (!value->changed && !value->added) {
    value->wasType = value->type;
    value->wasData = value->data;
  }
  value->type = type;
  value->data = data;
  value->lossy = lossy;
  if (!value->changed) {
    value->changed = true;
    Log(key, values, static_cast<size_t>(value - values.data()));
  }
}

// A loaded value deleted earlier in the run comes back as it was loaded,
// so that setting it again to that is no change.
bool ValueStore::Restore(const Key& key, const std::string& name,
                         Value& value) {
  auto found = removed_.find(&key);
  if (found == removed_.end()) return false;
  std::vector<Value>& gone = found->second;
  for (size_t i = 0; i < gone.size(); ++i) {
    if (!NamesEqual(gone[i].name, name)) continue;
    value = std::move(gone[i]);
    gone.erase(gone.begin() + static_cast<std::ptrdiff_t>(i));
    if (gone.empty()) removed_.erase(found);
    return true;
  }
  return false;
}

bool ValueStore::Delete(Key& key, std::string_view name) {
  std::vector<Value>& values = Of(key);
  Value* value = Find(key, name);
  if (value == nullptr) return false;
  SaveForTrial(key, values);
  const size_t index = static_cast<size_t>(value - values.data());
  if (!value->added) {
    Value loaded;
    loaded.name = value->name;
    loaded.type = value->changed ? value->wasType : value->type;
    loaded.data = value->changed ? value->wasData : value->data;
    loaded.place = value->place;
    removed_[&key].push_back(std::move(loaded));
  }
  Unlog(values, index);
  values.erase(values.begin() + static_cast<std::ptrdiff_t>(index));
  return true;
}

std::vector<Change> ValueStore::Changes() const {
  std::vector<Change> live;
  live.reserve(changes_.size());
  std::copy_if(changes_.begin(), changes_.end(), std::back_inserter(live),
               [](const Change& change) { return change.key != nullptr; });
  return live;
}

const std::vector<Value>* ValueStore::Removed(const Key& key) const {
  auto found = removed_.find(&key);
  return found == removed_.end() ? nullptr : &found->second;
}

bool ValueStore::Releasable(const Key& key,
                            const std::vector<Value>& values) const {
  if (source_ == nullptr) return false;  // nowhere to read them from again
  for (const Value& value : values)
    if (value.changed) return false;
  return removed_.count(&key) == 0;
}

void ValueStore::Release(const Key& key) {
  auto found = loaded_.find(keys_.IdOf(key));
  if (found != loaded_.end() && Releasable(key, found->second))
    loaded_.erase(found);
}

void ValueStore::BeginTrial() {
  trial_ = true;
  changesBeforeTrial_ = changes_;
  removedBeforeTrial_ = removed_;
  beforeTrial_.clear();
}

// A key written in the trial kept its values loaded (or had nothing
// changed, and then its saved values are what the source holds), so
// putting the saved ones back is all it takes. A write in the trial can
// bring back a value deleted before it, so the deletions go back too.
// Saved values the run had not changed go again, as a walk lets them go.
void ValueStore::EndTrial() {
  changes_ = std::move(changesBeforeTrial_);
  removed_ = std::move(removedBeforeTrial_);
  for (auto& [id, saved] : beforeTrial_) {
    if (saved.fromSource || Releasable(*saved.key, saved.values))
      loaded_.erase(id);
    else
      loaded_[id] = std::move(saved.values);
  }
  beforeTrial_.clear();
  changesBeforeTrial_.clear();
  removedBeforeTrial_.clear();
  trial_ = false;
}

}  // namespace hostreg
