// libFuzzer target for the .reg loader (REGEDIT4 and Version 5.00, 8-bit,
// UTF-8 or UTF-16): any input loads or is refused with a message; a loaded
// file renders back byte for byte when nothing changed; after a change the
// rendered file loads again as exactly the registry the change left.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/formats/changes.h"
#include "support/loaded.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

// The deepest first-born key, so changes land in nested sections too.
hostreg::Key* Deepest(hostreg::Registry& registry) {
  hostreg::Key* key = &registry.keys().Root();
  while (hostreg::Key* first = registry.keys().FirstSubkey(*key)) key = first;
  return key;
}

// Every key and value, values in name order: the registry as an import of
// the file builds it.
void Dump(hostreg::Registry& registry, const hostreg::Key& key,
          std::vector<std::string>& out) {
  const std::string path = registry.keys().Path(key);
  out.push_back("K " + path);
  std::vector<std::string> values;
  for (const hostreg::Value& value : registry.values().Of(key))
    values.push_back(path + "|" + value.name + "|" +
                     std::to_string(value.type) + "|" + value.data);
  std::sort(values.begin(), values.end());
  out.insert(out.end(), values.begin(), values.end());
  for (const hostreg::Key* sub : registry.keys().Subkeys(key))
    Dump(registry, *sub, out);
}

std::vector<std::string> Dump(hostreg::Registry& registry) {
  std::vector<std::string> out;
  Dump(registry, registry.keys().Root(), out);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  regtest::Loaded loaded(input, "HKEY_LOCAL_MACHINE", "fuzz");
  if (!loaded.file) {
    // A refusal names file and line.
    Check(loaded.error.compare(0, 5, "fuzz:") == 0);
    return 0;
  }
  hostreg::Registry& registry = loaded.registry;
  const hostreg::RegistryFile& storage = *loaded.file;
  std::string out, error;
  Check(loaded.Render(out, error));
  Check(out == input);
  Check(storage.DescribeChanges(registry, hostreg::CollectChanges(registry))
            .empty());

  // Change an existing value and add two, as the tweaks do.
  hostreg::Key* key = Deepest(registry);
  if (!registry.values().Of(*key).empty())
    registry.values().Set(*key, registry.values().Of(*key).front().name, REG_SZ,
                      std::string("on\0", 3));
  registry.values().Set(*key, "IDEDMADRIVE0", REG_BINARY, std::string(1, '\1'));
  registry.values().Set(*key, "Fuzz", REG_BINARY, std::string(size % 300, 'x'));
  std::vector<std::string> path;
  for (const hostreg::Key* k = key; registry.keys().Parent(*k) != nullptr;
       k = registry.keys().Parent(*k))
    path.insert(path.begin(), registry.keys().Name(*k));

  if (!loaded.Render(out, error)) {
    // Only a file Windows imports nothing from refuses changes.
    const std::vector<std::string>& notes = storage.Warnings();
    Check(std::any_of(notes.begin(), notes.end(), [](const std::string& n) {
      return n.find("every line") != std::string::npos;
    }));
    return 0;
  }
  Check(!storage.DescribeChanges(registry, hostreg::CollectChanges(registry))
             .empty());
  regtest::Loaded reloaded(out, "HKEY_LOCAL_MACHINE", "fuzz");
  Check(reloaded.file != nullptr);
  hostreg::Registry& again = reloaded.registry;
  // Importing the saved file gives exactly the registry the run left.
  Check(Dump(registry) == Dump(again));
  hostreg::Key* found = &again.keys().Root();
  for (const std::string& name : path) {
    found = again.keys().FindSubkey(*found, name);
    Check(found != nullptr);
  }
  const hostreg::Value* value = again.values().Find(*found, "Fuzz");
  Check(value != nullptr && value->data == std::string(size % 300, 'x'));
  value = again.values().Find(*found, "IDEDMADRIVE0");
  Check(value != nullptr && value->data == "\x01");
  return 0;
}
