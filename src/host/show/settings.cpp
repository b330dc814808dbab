#include "host/show/settings.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "host/registry/names.h"

namespace hostreg {

namespace {

using Held = std::optional<Contents>;

// One value a row's runs looked at, with what it held after each. Its name
// is kept once for all looks (a walk writes one name in every key).
struct Look {
  const Key* key;
  uint32_t name;  // in Prober::names_
  bool written = false;
  Held on;   // after the on run
  Held off;  // after the off run
};

// The value as the registry holds it now, if it does. The key's values are
// let go again, as the walk lets them go, so that a wide tree is not all
// held at once.
std::optional<Value> Current(Registry& registry, const Key& key,
                             const std::string& name) {
  std::optional<Value> found;
  if (const Value* value = registry.values().Find(key, name)) found = *value;
  registry.values().Release(key);
  return found;
}

Held HeldOf(const std::optional<Value>& value) {
  return value ? Held(Contents{value->type, value->data}) : Held();
}

bool Same(const Held& a, const Held& b) {
  if (!a || !b) return !a && !b;
  return a->type == b->type && a->data == b->data;
}

State StateOf(const Look& look, const Held& before) {
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
  void Trial(const Tweak& row, bool on, Held Look::*after);
  const Key* RowKey(const Tweak& row);
  // Where the look at that value is, or would go, in index_.
  size_t Slot(const Key& key, const char* name, uint32_t hash) const;
  uint32_t NameId(const char* name);
  const std::string& NameOf(const Look& look) const { return names_[look.name]; }

  Registry& registry_;
  Machine machine_;
  // In chunks: a wide tree's looks are never copied to a larger block.
  std::deque<Look> looks_;
  std::vector<std::string> names_;  // as the tweak spelt them
  // Each look's place in looks_ + 1 (0: none), by its key and folded name,
  // open addressed.
  std::vector<uint32_t> index_;
};

uint32_t LookHash(const Key& key, const char* name) {
  const uint64_t at = reinterpret_cast<uintptr_t>(&key);
  return NameHash(name) ^ static_cast<uint32_t>((at >> 4) * 0x9E3779B97F4A7C15ull >> 32);
}

size_t Prober::Slot(const Key& key, const char* name, uint32_t hash) const {
  const size_t mask = index_.size() - 1;
  for (size_t slot = hash & mask;; slot = (slot + 1) & mask) {
    const uint32_t entry = index_[slot];
    if (entry == 0) return slot;
    const Look& look = looks_[entry - 1];
    if (look.key == &key && NamesEqual(NameOf(look), name)) return slot;
  }
}

// The names a row's tweak looks at are few: the last one is tried first.
uint32_t Prober::NameId(const char* name) {
  for (size_t i = names_.size(); i-- > 0;)
    if (names_[i] == name) return static_cast<uint32_t>(i);
  names_.push_back(name);
  return static_cast<uint32_t>(names_.size() - 1);
}

// A walk over a wide tree looks at tens of thousands of values: each is
// found again by its key and folded name, not by a search of the list.
void Prober::Note(const Key& key, const char* name, bool write) {
  if ((looks_.size() + 1) * 2 > index_.size()) {
    index_.assign(index_.empty() ? 1024 : index_.size() * 2, 0);
    for (size_t i = 0; i < looks_.size(); ++i) {
      const Look& look = looks_[i];
      const char* name = NameOf(look).c_str();
      index_[Slot(*look.key, name, LookHash(*look.key, name))] =
          static_cast<uint32_t>(i + 1);
    }
  }
  const size_t slot = Slot(key, name, LookHash(key, name));
  if (index_[slot] != 0) {
    Look& look = looks_[index_[slot] - 1];
    look.written = look.written || write;
    return;
  }
  looks_.push_back({&key, NameId(name), write, Held(), Held()});
  index_[slot] = static_cast<uint32_t>(looks_.size());
}

void Prober::Trial(const Tweak& row, bool on, Held Look::*after) {
  registry_.values().BeginTrial();
  RunCommandLine(machine_, std::string("/") + row.letters + (on ? ":1" : ":0"));
  for (Look& look : looks_)
    look.*after = HeldOf(Current(registry_, *look.key, NameOf(look)));
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
  names_.clear();
  Trial(row, true, &Look::on);
  const size_t seenOn = looks_.size();
  Trial(row, false, &Look::off);
  size_t written = 0;
  for (const Look& look : looks_) written += look.written;
  const bool anyWritten = written > 0;
  setting.values.reserve(anyWritten ? written : looks_.size());
  for (size_t i = 0; i < looks_.size(); ++i) {
    Look& look = looks_[i];
    if (anyWritten && !look.written) continue;
    const std::optional<Value> now = Current(registry_, *look.key, NameOf(look));
    Held before = HeldOf(now);
    // The on run never came near a value only the off run looked at.
    if (i >= seenOn) look.on = before;
    const State state = StateOf(look, before);
    // Under the name the file gives it, which the tweak's may differ from
    // in case.
    setting.values.push_back({look.key, now ? now->name : NameOf(look),
                              std::move(before), state});
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

std::string ShowSettings(Registry& registry) {
  Prober prober(registry);
  std::string text;
  for (const Tweak& row : kTweakTable)
    AppendSetting(registry, prober.Probe(row), text);
  return text;
}

std::vector<Setting> FindSettings(Registry& registry) {
  Prober prober(registry);
  std::vector<Setting> settings;
  for (const Tweak& row : kTweakTable) settings.push_back(prober.Probe(row));
  return settings;
}

}  // namespace hostreg
