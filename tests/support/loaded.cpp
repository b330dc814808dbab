#include "support/loaded.h"

#include "host/files/file_bytes.h"
#include "host/formats/changes.h"
#include "host/formats/pick_format.h"

namespace regtest {

namespace {

void FlattenKey(const hostreg::Registry& registry, const hostreg::Key& key,
                Flat& out, size_t& keys) {
  ++keys;
  for (const hostreg::Value& v : registry.values().Of(key))
    out[registry.keys().Path(key) + "|" + v.name] = {v.type, v.data};
  for (const hostreg::Key* sub : registry.keys().Subkeys(key))
    FlattenKey(registry, *sub, out, keys);
}

}  // namespace

Loaded::Loaded(const std::string& bytes, const char* root,
               const std::string& name)
    : registry(root) {
  file = hostreg::LoadRegistry(
      name, std::make_shared<const hostreg::FileBytes>(bytes), registry, error);
}

bool Loaded::Render(std::string& out, std::string& why) const {
  if (!file) {
    why = error;
    return false;
  }
  hostreg::Rendering rendering;
  if (!file->Render(registry, hostreg::CollectChanges(registry), rendering,
                    why))
    return false;
  out = rendering.Joined();
  return true;
}

std::string Loaded::Saved() const {
  std::string out, why;
  return Render(out, why) ? out : std::string();
}

hostreg::Key* Loaded::Find(const std::string& path) {
  return registry.keys().FindPath(registry.keys().Root(), path);
}

std::unique_ptr<Loaded> Load(const std::string& bytes, const char* root,
                             const std::string& name) {
  return std::make_unique<Loaded>(bytes, root, name);
}

Flat Flatten(const hostreg::Registry& registry, size_t* keys) {
  Flat out;
  size_t count = 0;
  FlattenKey(registry, registry.keys().Root(), out, count);
  if (keys != nullptr) *keys = count;
  return out;
}

}  // namespace regtest
