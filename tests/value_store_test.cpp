// The value store's log of changes over long runs of writes and deletions:
// each entry names a changed value by its place in its key's list, so a
// deletion must renumber the key's later entries and drop its own.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "host/formats/changes.h"
#include "support/loaded.h"
#include "test_support.h"

namespace {

using hostreg::Key;
using hostreg::Registry;

// What the store should hold for one key: its values in order, each with
// whether the log lists it, and the loaded values deleted (by name, with
// the data they were loaded with).
struct ModelValue {
  std::string name;
  std::string data;
  std::string loaded;  // the data as loaded; empty for a value the run made
  bool logged = false;
};
struct ModelKey {
  std::vector<ModelValue> values;
  std::map<std::string, std::string> removed;
};

class Model {
 public:
  void Load(const std::string& key, const std::string& name,
            const std::string& data) {
    keys_[key].values.push_back({name, data, data, false});
  }
  void Set(const std::string& key, const std::string& name,
           const std::string& data) {
    ModelKey& k = keys_[key];
    ModelValue* value = Find(k, name);
    if (value == nullptr) {
      auto gone = k.removed.find(name);
      if (gone == k.removed.end()) {
        k.values.push_back({name, data, "", true});
        log_.push_back({key, name});
        return;
      }
      k.values.push_back({name, gone->second, gone->second, false});
      k.removed.erase(gone);
      value = &k.values.back();
    }
    if (value->data == data) return;
    value->data = data;
    if (!value->logged) log_.push_back({key, name});
    value->logged = true;
  }
  void Delete(const std::string& key, const std::string& name) {
    ModelKey& k = keys_[key];
    ModelValue* value = Find(k, name);
    if (value == nullptr) return;
    if (!value->loaded.empty()) k.removed[name] = value->loaded;
    for (size_t i = 0; i < log_.size(); ++i)
      if (log_[i].first == key && log_[i].second == name)
        log_.erase(log_.begin() + static_cast<std::ptrdiff_t>(i));
    k.values.erase(k.values.begin() + (value - k.values.data()));
  }
  const std::vector<std::pair<std::string, std::string>>& log() const {
    return log_;
  }
  regtest::Flat Flat() const {
    regtest::Flat flat;
    for (const auto& [key, k] : keys_)
      for (const ModelValue& v : k.values)
        flat[key + "|" + v.name] = {REG_BINARY, v.data};
    return flat;
  }

 private:
  static ModelValue* Find(ModelKey& k, const std::string& name) {
    for (ModelValue& v : k.values)
      if (v.name == name) return &v;
    return nullptr;
  }
  std::map<std::string, ModelKey> keys_;
  std::vector<std::pair<std::string, std::string>> log_;
};

// Thousands of writes and deletions over a few keys, loaded values and new
// ones: the log names exactly the values still changed, in the order of
// their first change, and the saved file reads back as the model.
TEST(ValueStoreLog, StaysConsistentThroughManyDeletions) {
  constexpr int kKeys = 12;
  constexpr int kNames = 6;
  std::string file;
  Model model;
  for (int k = 0; k < kKeys; ++k) {
    const std::string key = "K" + std::to_string(k);
    file += "[HKEY_LOCAL_MACHINE\\" + key + "]\r\n";
    for (int n = 0; n < kNames; n += 2) {
      file += "\"v" + std::to_string(n) + "\"=hex:0" + std::to_string(n) +
              "\r\n";
      model.Load(key, "v" + std::to_string(n),
                 std::string(1, static_cast<char>(n)));
    }
  }
  auto loaded = regtest::Load(regtest::Reg(file));
  Registry& registry = loaded->registry;
  uint32_t seed = 12345;
  auto next = [&seed](uint32_t below) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % below;
  };
  for (int step = 0; step < 5000; ++step) {
    const std::string key = "K" + std::to_string(next(kKeys));
    const std::string name = "v" + std::to_string(next(kNames));
    Key* k = loaded->Find(key);
    ASSERT_NE(nullptr, k);
    if (next(3) == 0) {
      registry.values().Delete(*k, name);
      model.Delete(key, name);
    } else {
      const std::string data(1, static_cast<char>(next(4)));
      registry.values().Set(*k, name, REG_BINARY, data);
      model.Set(key, name, data);
    }
  }
  const std::vector<hostreg::Change> changes = registry.values().Changes();
  ASSERT_EQ(model.log().size(), changes.size());
  for (size_t i = 0; i < changes.size(); ++i) {
    SCOPED_TRACE(i);
    const std::vector<hostreg::Value>& values =
        registry.values().Of(*changes[i].key);
    ASSERT_LT(changes[i].valueIndex, values.size());
    EXPECT_EQ(model.log()[i].first, registry.keys().Path(*changes[i].key));
    EXPECT_EQ(model.log()[i].second, values[changes[i].valueIndex].name);
  }
  std::string saved, why;
  ASSERT_TRUE(loaded->Render(saved, why)) << why;
  regtest::Flat expected = model.Flat();
  // Every loaded value is hex: (REG_BINARY), as are the model's.
  EXPECT_EQ(expected, regtest::Flatten(regtest::Load(saved)->registry));
}

}  // namespace
