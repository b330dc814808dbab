// libFuzzer target for the CREG loader: any input must load or be refused
// with a message, and a loaded file must render after a change without
// touching memory it should not.
#include <cstddef>
#include <cstdint>
#include <string>

#include "host/formats/creg/creg_file.h"

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
  // Grow the first key with values, as a tweak would, to drive the writer.
  hostreg::Key* key = registry.keys().FirstSubkey(registry.keys().Root());
  if (key == nullptr) key = &registry.keys().Root();
  registry.values().Set(*key, "IDEDMADRIVE0", REG_BINARY, std::string(1, '\1'));
  registry.values().Set(*key, "Fuzz", REG_BINARY, std::string(size % 5000, 'x'));
  std::string out;
  if (!storage->RenderText(registry, out, error) && error.empty()) __builtin_trap();
  return 0;
}
