// The host's own registry: keys and values held in memory, checked and
// counted handles, and the RegistryOps calls implemented over them. Storage
// (loading from and saving to a file) lives beside it, in its own files.
#ifndef REGSWITCH_HOST_REGISTRY_H
#define REGSWITCH_HOST_REGISTRY_H

#include <cstddef>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "win32_types.h"

namespace hostreg {

constexpr size_t kNoOrigin = static_cast<size_t>(-1);

// Windows' own limits, which loading enforces.
constexpr size_t kMaxKeyNameLength = 255;
constexpr size_t kMaxKeyDepth = 512;

// Names and data are the ANSI bytes that the Win32 "A" calls see.
struct Value {
  std::string name;  // empty for the default value
  DWORD type = REG_NONE;
  std::string data;
  bool changed = false;  // type or data differ from what was loaded
  bool added = false;    // created by this run
  size_t origin = kNoOrigin;  // where the storage found it
  size_t originEnd = kNoOrigin;
};

struct Key {
  std::string name;
  Key* parent = nullptr;
  size_t depth = 0;  // the root is at 0
  std::vector<std::unique_ptr<Key>> subkeys;  // in file order
  std::vector<Value> values;                  // in file order, new ones last
  size_t origin = kNoOrigin;     // where the storage found it
  size_t insertAt = kNoOrigin;   // where a new value of this key goes

  Key* FindSubkey(const std::string& name) const;
  Value* FindValue(const std::string& name);
  Key* AddSubkey(const std::string& name);
  // The path below the root, components joined with '\'.
  std::string Path() const;

 private:
  // Built on demand once a key has many subkeys, so lookups stay fast in
  // large registries.
  // Behind a pointer: most keys have few subkeys and never build one.
  mutable std::unique_ptr<std::unordered_map<std::string, Key*>> index_;
};

// A name read from a UTF-16 file may hold characters that Windows' Western
// code page (1252) has no byte for. Each is held as kForeignMark followed by
// its UTF-16 code unit in four upper-case hex digits, so the name keeps the
// character exactly and never equals a name the front end passes (those are
// C strings: they cannot contain the mark). The "A" calls show such a
// character as '?', as Windows does.
constexpr char kForeignMark = '\0';
constexpr size_t kForeignLength = 5;
// The name as the "A" calls return it.
std::string AnsiName(const std::string& name);

// Case-insensitive comparison of names as Windows' Western code page (1252)
// folds them: ASCII letters and the accented Latin letters.
unsigned char FoldCase(unsigned char c);
bool NamesEqual(const std::string& a, const std::string& b);
int CompareNames(const char* a, const char* b);
std::string FoldedName(const std::string& name);

struct Change {
  Key* key;
  size_t valueIndex;
};

class Registry {
 public:
  Registry();
  Key& Root() { return *root_; }
  const Key& Root() const { return *root_; }

  // Every value whose type or data a write altered, in the order of the
  // first such write.
  const std::vector<Change>& Changes() const { return changes_; }
  bool Changed() const { return !changes_.empty(); }

  // Sets a value as RegSetValueExA does; records a change only when the
  // type or data really differ.
  void SetValue(Key& key, const std::string& name, DWORD type,
                const std::string& data);

  // Handles. HKEY_LOCAL_MACHINE is predefined and never counted.
  HKEY OpenHandle(Key* key);
  Key* Resolve(HKEY handle) const;
  bool CloseHandle(HKEY handle);
  size_t OpenHandleCount() const { return handles_.size(); }

 private:
  std::unique_ptr<Key> root_;
  std::vector<Change> changes_;
  std::unordered_map<uintptr_t, Key*> handles_;
  uintptr_t nextHandle_ = 0x1000;
};

// The registry that the RegistryOps calls work on; none until one is set.
void SetCurrentRegistry(Registry* registry);
Registry* CurrentRegistry();

// Whether a registry call was made while no registry was set, since the
// last reset: the host program's way to tell that a tail needs a file.
void ResetRegistryNeeded();
bool RegistryNeeded();

// How the host shows the about box. The default prints it as text on
// standard output.
typedef void (*MessageBoxHandler)(const char* text, const char* caption,
                                  UINT type);
void SetMessageBoxHandler(MessageBoxHandler handler);
std::string RenderMessageBox(const char* text, const char* caption, UINT type);

}  // namespace hostreg

#endif
