#include "host/show/settings.h"

#include <cstddef>
#include <unordered_map>
#include <vector>

namespace hostreg {

namespace {

// One value a row's runs looked at, with what it held after each.
struct Look {
  const Key* key;
  std::string name;
  bool written = false;
  std::optional<Value> on;   // after the on run
  std::optional<Value> off;  // after the off run
};

// The value as the registry holds it now. The key's values are let go
// again, as the walk lets them go, so that a wide tree is not all held at
// once.
std::optional<Value> Current(Registry& registry, const Key& key,
                             const std::string& name) {
  std::optional<Value> found;
  if (const Value* value = registry.values().Find(key, name)) found = *value;
  registry.values().Release(key);
  return found;
}

bool Same(const std::optional<Value>& a, const std::optional<Value>& b) {
  if (!a || !b) return !a && !b;
  return a->type == b->type && a->data == b->data;
}

State StateOf(const Look& look, const std::optional<Value>& before) {
  if (!look.written) return State::kRead;
  const bool onChanges = !Same(look.on, before);
  const bool offChanges = !Same(look.off, before);
  if (!onChanges && !offChanges) return State::kApplied;
  if (!onChanges) return State::kOn;
  if (!offChanges) return State::kOff;
  if (Same(look.on, look.off)) return State::kPending;
  return before ? State::kOther : State::kUnset;
}

class Prober {
 public:
  explicit Prober(Registry& registry)
      : registry_(registry), machine_(&registry, [](auto...) {}) {
    machine_.SetValueWatch([this](const Key& key, const char* name,
                                  bool write) { Note(key, name, write); });
  }

  Setting Probe(const Tweak& row);

 private:
  void Note(const Key& key, const char* name, bool write);
  // The row run as "/SSP:1" (or ":0") would run it, then taken back; each
  // value's contents after the run go to `after`.
  void Trial(const Tweak& row, bool on, std::optional<Value> Look::*after);
  const Key* RowKey(const Tweak& row);

  Registry& registry_;
  Machine machine_;
  std::vector<Look> looks_;
  // Each look's place in looks_, by its key's address and folded name.
  std::unordered_map<std::string, size_t> index_;
};

// A walk over a wide tree looks at tens of thousands of values: each is
// found again by its key and folded name, not by a search of the list.
void Prober::Note(const Key& key, const char* name, bool write) {
  std::string id(reinterpret_cast<const char*>(&key), sizeof &key);
  for (const char* c = name; *c != '\0'; ++c)
    id += static_cast<char>(FoldCase(static_cast<unsigned char>(*c)));
  const auto [at, fresh] = index_.try_emplace(std::move(id), looks_.size());
  if (fresh)
    looks_.push_back({&key, name, write, std::nullopt, std::nullopt});
  else
    looks_[at->second].written = looks_[at->second].written || write;
}

void Prober::Trial(const Tweak& row, bool on,
                   std::optional<Value> Look::*after) {
  registry_.values().BeginTrial();
  RunCommandLine(machine_, std::string("/") + row.letters + (on ? ":1" : ":0"));
  for (Look& look : looks_)
    look.*after = Current(registry_, *look.key, look.name);
  registry_.values().EndTrial();
}

// Opened as the front end opens it, through the same call.
const Key* Prober::RowKey(const Tweak& row) {
  MachineScope scope(machine_);
  HKEY key;
  if (RegistryOps::RegOpenKeyA(HKEY_LOCAL_MACHINE, row.keyPath, &key) != 0)
    return nullptr;
  const Key* found = machine_.handles()->Resolve(key);
  RegistryOps::RegCloseKey(key);
  return found;
}

Setting Prober::Probe(const Tweak& row) {
  Setting setting{&row, State::kKeyMissing, RowKey(row), {}};
  if (setting.key == nullptr) return setting;
  looks_.clear();
  index_.clear();
  Trial(row, true, &Look::on);
  const size_t seenOn = looks_.size();
  Trial(row, false, &Look::off);
  bool anyWritten = false;
  for (const Look& look : looks_) anyWritten = anyWritten || look.written;
  for (size_t i = 0; i < looks_.size(); ++i) {
    Look& look = looks_[i];
    if (anyWritten && !look.written) continue;
    std::optional<Value> before = Current(registry_, *look.key, look.name);
    // The on run never came near a value only the off run looked at.
    if (i >= seenOn) look.on = before;
    const State state = StateOf(look, before);
    // Under the name the file gives it, which the tweak's may differ from
    // in case.
    std::string name = before ? before->name : look.name;
    setting.values.push_back({look.key, std::move(name), std::move(before),
                              state});
  }
  if (!anyWritten) {
    setting.state = State::kNothingToSwitch;
    return setting;
  }
  setting.state = setting.values.front().state;
  for (const SeenValue& value : setting.values)
    if (value.state != setting.state) setting.state = State::kMixed;
  return setting;
}

}  // namespace

const char* StateName(State state) {
  switch (state) {
    case State::kOn: return "on";
    case State::kOff: return "off";
    case State::kUnset: return "unset";
    case State::kOther: return "other";
    case State::kApplied: return "applied";
    case State::kPending: return "pending";
    case State::kRead: return "read";
    case State::kMixed: return "mixed";
    case State::kNothingToSwitch: return "nothing to switch";
    case State::kKeyMissing: return "key missing";
  }
  return "?";
}

std::vector<Setting> FindSettings(Registry& registry) {
  Prober prober(registry);
  std::vector<Setting> settings;
  for (const Tweak& row : kTweakTable) settings.push_back(prober.Probe(row));
  return settings;
}

}  // namespace hostreg
