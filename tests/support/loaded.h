// A registry loaded from a registry file's bytes (a .reg export or a CREG
// file) as a run loads them, and the file as a save would write it: the
// one way the tests and the fuzz targets load a registry from text. Free
// of GoogleTest, so that the fuzz targets share it.
#ifndef REGSWITCH_TESTS_SUPPORT_LOADED_H
#define REGSWITCH_TESTS_SUPPORT_LOADED_H

#include <map>
#include <memory>
#include <string>
#include <utility>

#include "host/formats/registry_file.h"
#include "host/registry/registry.h"

namespace regtest {

struct Loaded {
  // Loads `bytes`; `name` is the file's name in messages.
  explicit Loaded(const std::string& bytes,
                  const char* root = "HKEY_LOCAL_MACHINE",
                  const std::string& name = "test.reg");

  hostreg::Registry registry;
  std::unique_ptr<hostreg::RegistryFile> file;  // null when refused
  std::string error;                            // why it was refused

  // The bytes a save would write now, the changes collected now; false and
  // why when a save would be refused.
  bool Render(std::string& out, std::string& why) const;
  // The same, empty when refused.
  std::string Saved() const;
  // The key at `path` below the root ("" for the root), or null.
  hostreg::Key* Find(const std::string& path);
};

std::unique_ptr<Loaded> Load(const std::string& bytes,
                             const char* root = "HKEY_LOCAL_MACHINE",
                             const std::string& name = "test.reg");

// Every value of a registry by "path|name", as (type, data).
using Flat = std::map<std::string, std::pair<DWORD, std::string>>;
Flat Flatten(const hostreg::Registry& registry, size_t* keys = nullptr);

}  // namespace regtest

#endif
