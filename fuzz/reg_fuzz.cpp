// libFuzzer target for the .reg loader (REGEDIT4 and UTF-16 Version 5.00):
// any input loads or is refused with a message; a loaded file renders back
// byte for byte when nothing changed; after a change the rendered file loads
// again and holds the new values.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/formats/reg/reg_file.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

// The deepest first-born key, so changes land in nested sections too.
hostreg::Key* Deepest(hostreg::Registry& registry) {
  hostreg::Key* key = &registry.Root();
  while (hostreg::Key* first = registry.FirstSubkey(*key)) key = first;
  return key;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  hostreg::Registry registry;
  std::string error;
  auto storage = hostreg::ParseRegFile("fuzz", "fuzz", input, registry, error);
  if (!storage) {
    Check(error.compare(0, 5, "fuzz:") == 0);  // a refusal names file and line
    return 0;
  }
  std::string out;
  Check(storage->Render(registry, out, error));
  Check(out == input);
  Check(storage->DescribeChanges(registry).empty());

  // Change an existing value and add two, as the tweaks do.
  hostreg::Key* key = Deepest(registry);
  if (!registry.Values(*key).empty())
    registry.SetValue(*key, registry.Values(*key).front().name, REG_SZ,
                      std::string("on\0", 3));
  registry.SetValue(*key, "IDEDMADRIVE0", REG_BINARY, std::string(1, '\1'));
  registry.SetValue(*key, "Fuzz", REG_BINARY, std::string(size % 300, 'x'));
  std::vector<std::string> path;
  for (const hostreg::Key* k = key; registry.Parent(*k) != nullptr;
       k = registry.Parent(*k))
    path.insert(path.begin(), registry.Name(*k));

  Check(storage->Render(registry, out, error));
  Check(!storage->DescribeChanges(registry).empty());
  hostreg::Registry again;
  auto reloaded = hostreg::ParseRegFile("fuzz", "fuzz", out, again, error);
  Check(reloaded != nullptr);
  hostreg::Key* found = &again.Root();
  for (const std::string& name : path) {
    found = again.FindSubkey(*found, name);
    Check(found != nullptr);
  }
  const hostreg::Value* value = again.FindValue(*found, "Fuzz");
  Check(value != nullptr && value->data == std::string(size % 300, 'x'));
  value = again.FindValue(*found, "IDEDMADRIVE0");
  Check(value != nullptr && value->data == "\x01");
  return 0;
}
