// libFuzzer target for merging: any .reg text merged into real Windows 9x
// registry files (those MERGE_FUZZ_FILES names, separated by ':') must be
// refused with a message or save to a file that our loader and libcreg,
// an independent reader, both read with the keys and values the merge left.
#include <libcreg.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "host/formats/merge/merge.h"
#include "support/loaded.h"

namespace {

std::vector<std::string>& Files() {
  static std::vector<std::string> files;
  return files;
}

struct Count {
  size_t keys = 0;
  size_t values = 0;
};

void CountOurs(const hostreg::Registry& registry, const hostreg::Key& key, Count& count) {
  ++count.keys;
  count.values += registry.values().Of(key).size();
  for (const hostreg::Key* sub : registry.keys().Subkeys(key)) CountOurs(registry, *sub, count);
}

bool CountTheirs(libcreg_key_t* key, Count& count) {
  int values = 0, subkeys = 0;
  if (libcreg_key_get_number_of_values(key, &values, nullptr) != 1 ||
      libcreg_key_get_number_of_sub_keys(key, &subkeys, nullptr) != 1)
    return false;
  ++count.keys;
  count.values += static_cast<size_t>(values);
  for (int i = 0; i < subkeys; ++i) {
    libcreg_key_t* sub = nullptr;
    if (libcreg_key_get_sub_key_by_index(key, i, &sub, nullptr) != 1) return false;
    const bool ok = libcreg_key_is_corrupted(sub, nullptr) == 0 && CountTheirs(sub, count);
    libcreg_key_free(&sub, nullptr);
    if (!ok) return false;
  }
  return true;
}

// libcreg reads the saved bytes as our loader did.
bool LibcregAgrees(const std::string& bytes, const Count& ours) {
  static const std::string path =
      std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") +
      "/merge_fuzz." + std::to_string(getpid());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  libcreg_file_t* file = nullptr;
  libcreg_key_t* root = nullptr;
  Count theirs;
  bool ok = libcreg_file_initialize(&file, nullptr) == 1 &&
            libcreg_file_open(file, path.c_str(), LIBCREG_OPEN_READ, nullptr) == 1 &&
            libcreg_file_get_root_key(file, &root, nullptr) == 1 &&
            CountTheirs(root, theirs);
  if (root != nullptr) libcreg_key_free(&root, nullptr);
  if (file != nullptr) {
    libcreg_file_close(file, nullptr);
    libcreg_file_free(&file, nullptr);
  }
  std::remove(path.c_str());  // so that a fuzzing process leaves no file
  return ok && theirs.keys == ours.keys && theirs.values == ours.values;
}

void MergeInto(const std::string& target, const uint8_t* data, size_t size) {
  regtest::Loaded loaded(target, "HKEY_LOCAL_MACHINE", "target");
  if (!loaded.file) __builtin_trap();  // the real files load
  hostreg::Registry& registry = loaded.registry;
  std::string error;
  hostreg::MergeTargets targets;
  targets.machine = &registry;
  hostreg::SkipNotes notes("fuzz.reg");
  if (!hostreg::ApplyMerge(
          "fuzz.reg",
          std::make_shared<const hostreg::FileBytes>(
              std::string(reinterpret_cast<const char*>(data), size)),
          targets, notes, error)) {
    if (error.empty()) __builtin_trap();  // a refusal always says why
    return;
  }
  std::string out;
  if (!loaded.Render(out, error)) {
    if (error.empty()) __builtin_trap();
    return;
  }
  regtest::Loaded saved(out, "HKEY_LOCAL_MACHINE", "saved");
  if (!saved.file) __builtin_trap();  // a save must load again
  hostreg::Registry& again = saved.registry;
  Count before, after;
  CountOurs(registry, registry.keys().Root(), before);
  CountOurs(again, again.keys().Root(), after);
  if (before.keys != after.keys || before.values != after.values) __builtin_trap();
  if (!LibcregAgrees(out, after)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* list = std::getenv("MERGE_FUZZ_FILES");
  std::string names = list != nullptr ? list : "";
  for (size_t start = 0; start < names.size();) {
    size_t end = names.find(':', start);
    if (end == std::string::npos) end = names.size();
    std::ifstream in(names.substr(start, end - start), std::ios::binary);
    Files().emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    start = end + 1;
  }
  if (Files().empty()) {
    std::fprintf(stderr, "merge_fuzz: MERGE_FUZZ_FILES names no registry file\n");
    std::exit(2);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  for (const std::string& target : Files()) MergeInto(target, data, size);
  return 0;
}
