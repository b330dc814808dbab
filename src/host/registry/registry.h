// The host's own registry: keys and values held in memory, checked and
// counted handles, and the RegistryOps calls implemented over them. Storage
// (loading from and saving to a file) lives beside it, in its own files.
#ifndef REGSWITCH_HOST_REGISTRY_H
#define REGSWITCH_HOST_REGISTRY_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/win32_types.h"

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

// Where a loaded registry's key names and values stay: the loaded file.
// A million-key export would otherwise be copied into a million small
// objects; keys refer into the file instead, and a key's values are decoded
// only when something first looks at them.
class KeySource {
 public:
  virtual ~KeySource() = default;
  // The name stored at `at`, `length` characters of the file, in the
  // model's bytes (see kForeignMark); may be built in `scratch`.
  virtual std::string_view Name(size_t at, size_t length,
                                std::string& scratch) const = 0;
  // The values of a key whose sections (the offsets of its key lines, in
  // file order) the file holds, and where a new value of it goes.
  virtual void LoadValues(const std::vector<size_t>& sections,
                          std::vector<Value>& values,
                          size_t& insertAt) const = 0;
};

// One key. Only the Registry reads and writes it; it is kept small because
// a large export has a million of them.
class Key {
 private:
  friend class Registry;
  static constexpr uint32_t kNone = 0xFFFFFFFFu;
  uint32_t nameLow_ = 0;
  uint32_t originLow_ = 0xFFFFFFFFu;
  uint32_t parent_ = kNone;
  uint32_t lastChild_ = kNone;  // its next_ is the first child
  uint32_t next_ = kNone;       // circular among siblings
  uint32_t hash_ = 0;           // of the parent and the folded name
  uint16_t nameHigh_ = 0;
  uint16_t originHigh_ = 0xFFFFu;
  uint16_t nameLength_ = 0;
  uint16_t flags_ = 0;
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
bool NamesEqual(std::string_view a, std::string_view b);
int CompareNames(const char* a, const char* b);
std::string FoldedName(const std::string& name);

struct Change {
  Key* key;
  size_t valueIndex;
};

class Registry {
 public:
  Registry();
  ~Registry();
  Registry(const Registry&) = delete;
  Registry& operator=(const Registry&) = delete;

  Key& Root() { return Node(0); }
  const Key& Root() const { return Node(0); }

  // Keys. Subkeys are in file order; names keep their case and compare
  // without regard to it.
  std::string Name(const Key& key) const;
  // The path below the root, components joined with '\'.
  std::string Path(const Key& key) const;
  Key* Parent(const Key& key) const;
  Key* FindSubkey(const Key& key, std::string_view name) const;
  // The key at a relative path, components separated by '\'; the key itself
  // for an empty path. An empty component (a leading, doubled or trailing
  // separator) names no key.
  Key* FindPath(const Key& key, std::string_view path) const;
  Key* AddSubkey(Key& key, const std::string& name);
  Key* FirstSubkey(const Key& key) const;
  Key* NextSibling(const Key& key) const;  // null after the last
  std::vector<Key*> Subkeys(const Key& key) const;
  size_t KeyCount() const { return count_; }

  // Values, in file order with new ones last; decoded on first use.
  std::vector<Value>& Values(const Key& key) const;
  Value* FindValue(const Key& key, std::string_view name) const;

  // Where the storage found the key (its first section), or kNoOrigin.
  size_t Origin(const Key& key) const;
  void SetOrigin(Key& key, size_t origin);
  // Where a new value of the key goes, as the key source says.
  size_t InsertAt(const Key& key) const;

  // Loading from a file whose names and values stay in it.
  void SetSource(std::shared_ptr<const KeySource> source);
  // With the name's NameHash; a new key's name is the one stored at `at`,
  // `length` characters of the file.
  Key* FindSubkey(const Key& key, std::string_view name,
                  uint32_t nameHash) const;
  Key* AddSourceSubkey(Key& key, uint32_t nameHash, size_t at,
                       size_t length);
  // Another key line of the key: its first becomes its origin.
  void AddSection(Key& key, size_t at);
  static uint32_t NameHash(std::string_view name);

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
  // The subkey at `index` of the handle's key, or null past the last.
  // Each handle remembers where it enumerated last, so walking the subkeys
  // one index after the other costs no rescans.
  Key* EnumSubkey(HKEY handle, size_t index);

 private:
  static constexpr uint32_t kChunkBits = 14;
  static constexpr uint16_t kPooledName = 1;  // the name is in pool_
  struct Cursor {
    Key* key = nullptr;
    size_t index = 0;
    Key* at = nullptr;  // the subkey at `index`, or null before any
  };
  struct Decoded {
    std::vector<Value> values;
    size_t insertAt = kNoOrigin;
  };

  Key& Node(uint32_t id) const {
    return chunks_[id >> kChunkBits][id & ((1u << kChunkBits) - 1)];
  }
  uint32_t IdOf(const Key& key) const;
  uint32_t NewNode(uint32_t parent, uint32_t hash);
  std::string_view NameView(const Key& key, std::string& scratch) const;
  void Index(uint32_t id);
  void Grow();
  Decoded& DecodedOf(const Key& key) const;
  void Forget(const Key& key);

  std::vector<std::unique_ptr<Key[]>> chunks_;
  // Chunk start address -> chunk number, to find a key's number.
  std::map<const Key*, uint32_t> chunkOf_;
  uint32_t count_ = 0;
  // Open addressing over (parent, folded name): key number + 1, 0 empty.
  std::vector<uint32_t> table_;
  std::string pool_;  // names given as strings, each after its 4-byte length
  std::shared_ptr<const KeySource> source_;
  std::unordered_map<uint32_t, std::vector<size_t>> moreSections_;
  mutable std::unordered_map<const Key*, Decoded> decoded_;
  std::vector<Change> changes_;
  std::unordered_map<uintptr_t, Cursor> handles_;
  Cursor rootCursor_;
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
