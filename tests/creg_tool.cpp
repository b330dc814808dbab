// A test helper over the CREG storage: prints a registry file as canonical
// lines for comparison with an independent reader, and sets single values
// the way the workers do, to drive the writer from scripts.
//
//   creg_tool dump FILE
//   creg_tool set FILE KEY NAME TYPE HEXDATA [NAME TYPE HEXDATA...]
//       (KEY "" is the root), saved at once
//   creg_tool export FILE [UNDER]   every key and value as a UTF-16
//       Version 5.00 .reg file on standard output, below the key path UNDER
//       (by default the file's root) for importing somewhere else
#include <cstdio>
#include <cstdlib>
#include <string>

#include "host/formats/changes.h"
#include "host/formats/pick_format.h"
#include "host/formats/reg/codepage.h"
#include "host/formats/reg/render.h"
#include "host/registry/registry.h"
#include "host/session/store.h"

namespace {

std::string HexOf(const std::string& bytes) {
  std::string out;
  char pair[3];
  for (unsigned char c : bytes) {
    std::snprintf(pair, sizeof pair, "%02x", c);
    out += pair;
  }
  return out;
}

// One line per key ("K path") and per value ("V path|name|type|hex"), keys
// depth first in file order.
void Dump(const hostreg::Registry& registry, const hostreg::Key& key) {
  const std::string path = registry.keys().Path(key);
  std::printf("K %s\n", path.c_str());
  for (const hostreg::Value& value : registry.values().Of(key)) {
    const std::string& data = value.data;
    std::printf("V %s|%s|%u|%s\n", path.c_str(), value.name.c_str(),
                static_cast<unsigned>(value.type), HexOf(data).c_str());
  }
  for (const hostreg::Key* sub : registry.keys().Subkeys(key)) Dump(registry, *sub);
}

void Export(const hostreg::Registry& registry, const hostreg::Key& key,
            const std::string& under, std::string& out) {
  const std::string path = registry.keys().Path(key);
  out += "\r\n[" + under + (path.empty() ? "" : "\\" + path) + "]\r\n";
  for (const hostreg::Value& value : registry.values().Of(key))
    out += hostreg::FormatValueLine(value, "\r\n", true) + "\r\n";
  for (const hostreg::Key* sub : registry.keys().Subkeys(key))
    Export(registry, *sub, under, out);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  const bool set = command == "set" && argc >= 7 && (argc - 4) % 3 == 0;
  if (!((command == "dump" && argc == 3) || set ||
        (command == "export" && (argc == 3 || argc == 4)))) {
    std::fprintf(stderr, "usage: creg_tool dump FILE | set FILE KEY NAME TYPE HEX"
                         " [NAME TYPE HEX...] | export FILE [UNDER]\n");
    return 2;
  }
  hostreg::Registry registry;
  std::string error;
  hostreg::RealPlatform platform;
  hostreg::FileStore store(platform, argv[2]);
  std::unique_ptr<hostreg::RegistryFile> storage;
  if (auto bytes = store.Read(command != "set", nullptr, error))
    storage = hostreg::LoadRegistry(argv[2], bytes, registry, error);
  if (!storage) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  if (command == "dump") {
    Dump(registry, registry.keys().Root());
    return 0;
  }
  if (command == "export") {
    const hostreg::Key& root = registry.keys().Root();
    std::string text = std::string(hostreg::kVersion5Header) + "\r\n";
    Export(registry, root, argc == 4 ? argv[3] : registry.keys().Name(root), text);
    const std::string bytes = "\xff\xfe" + hostreg::Utf16Bytes(text);
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    return 0;
  }
  hostreg::Key* key = registry.keys().FindPath(registry.keys().Root(), argv[3]);
  if (key == nullptr) {
    std::fprintf(stderr, "no key %s\n", argv[3]);
    return 1;
  }
  for (int at = 4; at + 2 < argc; at += 3) {
    const std::string hex = argv[at + 2];
    std::string data;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
      data += static_cast<char>(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16));
    registry.values().Set(*key, argv[at],
                          static_cast<DWORD>(std::strtoul(argv[at + 1], nullptr, 0)),
                          data);
  }
  store.Seal();
  hostreg::Rendering rendering;
  if (!storage->Render(registry, hostreg::CollectChanges(registry), rendering,
                       error) ||
      !store.Write(rendering, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  return 0;
}
