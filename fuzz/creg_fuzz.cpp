// libFuzzer target for the CREG loader and writer: any input must load or be
// refused with a message, and a loaded file changed as a tweak would change
// it must save to a file that loads again with the same keys, and whose
// checksums hold wherever the input's did.
#include <cstddef>
#include <cstdint>
#include <string>

#include "host/formats/changes.h"
#include "host/formats/creg/creg_format.h"

namespace {

// The file a save of the registry's changes writes; false when refused.
bool Render(const hostreg::RegistryFile& file, const hostreg::Registry& registry,
            std::string& out, std::string& error) {
  hostreg::Rendering rendering;
  if (!file.Render(registry, hostreg::CollectChanges(registry), rendering,
                   error))
    return false;
  out = rendering.Joined();
  return true;
}

size_t CountKeys(const hostreg::KeyTree& keys, const hostreg::Key& key) {
  size_t count = 1;
  for (const hostreg::Key* sub : keys.Subkeys(key)) count += CountKeys(keys, *sub);
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  hostreg::Registry registry;
  std::string error;
  auto storage = hostreg::LoadCregFile(
      "fuzz", std::string(reinterpret_cast<const char*>(data), size), registry,
      error);
  if (!storage) {
    if (error.empty()) __builtin_trap();  // a refusal always says why
    return 0;
  }
  const bool sound =
      storage->SaveRefusal(registry, hostreg::CollectChanges(registry)).empty();
  // Grow the first key with values, as a tweak would, to drive the writer.
  hostreg::Key* key = registry.keys().FirstSubkey(registry.keys().Root());
  if (key == nullptr) key = &registry.keys().Root();
  registry.values().Set(*key, "IDEDMADRIVE0", REG_BINARY, std::string(1, '\1'));
  registry.values().Set(*key, "Fuzz", REG_BINARY, std::string(size % 5000, 'x'));
  std::string out;
  if (!Render(*storage, registry, out, error)) {
    if (error.empty()) __builtin_trap();
    return 0;
  }
  hostreg::Registry again;
  auto saved = hostreg::LoadCregFile("fuzz", out, again, error);
  if (!saved) __builtin_trap();  // a save must load again
  if (CountKeys(again.keys(), again.keys().Root()) !=
      CountKeys(registry.keys(), registry.keys().Root()))
    __builtin_trap();
  if (sound &&
      !saved->SaveRefusal(again, hostreg::CollectChanges(again)).empty())
    __builtin_trap();
  return 0;
}
