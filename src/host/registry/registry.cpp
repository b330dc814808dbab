#include "host/registry/registry.h"

#include <cstdio>
#include <cstring>
#include <functional>

#include "core/registry_ops.h"

namespace hostreg {

namespace {
unsigned char FoldByRule(unsigned char c) {
  if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 0x20);
  // Code page 1252: à..þ fold onto À..Þ (÷ has no capital), and three pairs
  // that live elsewhere.
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7)
    return static_cast<unsigned char>(c - 0x20);
  switch (c) {
    case 0x9A: return 0x8A;  // š
    case 0x9C: return 0x8C;  // œ
    case 0x9E: return 0x8E;  // ž
    case 0xFF: return 0x9F;  // ÿ
    default: return c;
  }
}

// As a table: loading a large registry folds many names.
struct FoldTable {
  unsigned char folded[256];
  FoldTable() {
    for (int c = 0; c < 256; ++c)
      folded[c] = FoldByRule(static_cast<unsigned char>(c));
  }
};
const FoldTable kFold;
}  // namespace

unsigned char FoldCase(unsigned char c) { return kFold.folded[c]; }

bool NamesEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  const unsigned char* pa = reinterpret_cast<const unsigned char*>(a.data());
  const unsigned char* pb = reinterpret_cast<const unsigned char*>(b.data());
  for (size_t i = a.size(); i-- > 0;) {  // names differ most at their ends
    if (pa[i] != pb[i] && kFold.folded[pa[i]] != kFold.folded[pb[i]])
      return false;
  }
  return true;
}

int CompareNames(const char* a, const char* b) {
  for (;; ++a, ++b) {
    const int ca = FoldCase(static_cast<unsigned char>(*a));
    const int cb = FoldCase(static_cast<unsigned char>(*b));
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca == 0) return 0;
  }
}

std::string FoldedName(const std::string& name) {
  std::string folded(name);
  for (char& c : folded)
    c = static_cast<char>(FoldCase(static_cast<unsigned char>(c)));
  return folded;
}

std::string AnsiName(const std::string& name) {
  if (std::memchr(name.data(), kForeignMark, name.size()) == nullptr)
    return name;
  std::string shown;
  for (size_t i = 0; i < name.size(); ++i) {
    if (name[i] == kForeignMark) {
      shown += '?';
      i += kForeignLength - 1;
    } else {
      shown += name[i];
    }
  }
  return shown;
}

namespace {
constexpr uint64_t kNoOrigin48 = 0xFFFFFFFFFFFFull;

uint32_t Mix(uint32_t h) {
  h ^= h >> 16;
  h *= 0x7FEB352Du;
  h ^= h >> 15;
  h *= 0x846CA68Bu;
  h ^= h >> 16;
  return h;
}

uint32_t Combine(uint32_t parent, uint32_t nameHash) {
  return Mix(nameHash ^ (parent * 0x9E3779B9u));
}
}  // namespace

uint32_t Registry::NameHash(std::string_view name) {
  uint32_t h = 2166136261u;  // FNV-1a over the folded bytes
  for (unsigned char c : name) h = (h ^ kFold.folded[c]) * 16777619u;
  return h;
}

Registry::Registry() {
  table_.assign(1024, 0);
  const uint32_t root = NewNode(Key::kNone, 0);
  Key& key = Node(root);
  key.flags_ = kPooledName;
  const std::string name = "HKEY_LOCAL_MACHINE";
  const uint32_t length = static_cast<uint32_t>(name.size());
  key.nameLow_ = static_cast<uint32_t>(pool_.size());
  pool_.append(reinterpret_cast<const char*>(&length), sizeof length);
  pool_ += name;
}

Registry::~Registry() = default;

uint32_t Registry::NewNode(uint32_t parent, uint32_t hash) {
  const uint32_t id = count_;
  if ((id >> kChunkBits) == chunks_.size()) {
    chunks_.push_back(std::make_unique<Key[]>(size_t{1} << kChunkBits));
    chunkOf_.emplace(chunks_.back().get(),
                     static_cast<uint32_t>(chunks_.size() - 1));
  }
  ++count_;
  Key& key = Node(id);
  key.parent_ = parent;
  key.hash_ = hash;
  if (parent != Key::kNone) {
    Key& above = Node(parent);
    if (above.lastChild_ == Key::kNone) {
      key.next_ = id;
    } else {
      Key& last = Node(above.lastChild_);
      key.next_ = last.next_;
      last.next_ = id;
    }
    above.lastChild_ = id;
    Index(id);
  }
  return id;
}

uint32_t Registry::IdOf(const Key& key) const {
  // Loading mostly asks about keys it has just made, in the newest chunk;
  // that needs no search of the map.
  const Key* newest = chunks_.back().get();
  const std::less<const Key*> before;
  if (!before(&key, newest) && before(&key, newest + (size_t{1} << kChunkBits)))
    return (static_cast<uint32_t>(chunks_.size() - 1) << kChunkBits) |
           static_cast<uint32_t>(&key - newest);
  auto found = chunkOf_.upper_bound(&key);
  --found;  // the chunk that starts at or before the key
  return (found->second << kChunkBits) |
         static_cast<uint32_t>(&key - found->first);
}

// A slot holds the key's number + 1 in the bits that index the table and
// the rest of its hash above them, so most probes never read a key.
void Registry::Index(uint32_t id) {
  if (static_cast<size_t>(count_) * 4 > table_.size() * 3) {
    Grow();  // which indexes every key made so far, this one too
    return;
  }
  const uint32_t mask = static_cast<uint32_t>(table_.size() - 1);
  const uint32_t hash = Node(id).hash_;
  for (uint32_t slot = hash & mask;; slot = (slot + 1) & mask) {
    if (table_[slot] == 0) {
      table_[slot] = (id + 1) | (hash & ~mask);
      return;
    }
  }
}

void Registry::Grow() {
  const size_t size = table_.size() * 2;
  table_.clear();
  table_.shrink_to_fit();  // never both tables at once
  table_.assign(size, 0);
  const uint32_t mask = static_cast<uint32_t>(table_.size() - 1);
  // Re-inserted in the order they were made, so a name given twice still
  // finds the first key of that name.
  for (uint32_t id = 1; id < count_; ++id) {
    if (Node(id).parent_ == Key::kNone) continue;
    const uint32_t hash = Node(id).hash_;
    for (uint32_t slot = hash & mask;; slot = (slot + 1) & mask) {
      if (table_[slot] == 0) {
        table_[slot] = (id + 1) | (hash & ~mask);
        break;
      }
    }
  }
}

std::string_view Registry::NameView(const Key& key,
                                    std::string& scratch) const {
  if (key.flags_ & kPooledName) {
    uint32_t length;
    std::memcpy(&length, pool_.data() + key.nameLow_, sizeof length);
    return std::string_view(pool_.data() + key.nameLow_ + sizeof length,
                            length);
  }
  const size_t at = static_cast<size_t>(key.nameHigh_) << 32 | key.nameLow_;
  return source_->Name(at, key.nameLength_, scratch);
}

std::string Registry::Name(const Key& key) const {
  std::string scratch;
  return std::string(NameView(key, scratch));
}

std::string Registry::Path(const Key& key) const {
  std::vector<const Key*> chain;
  for (const Key* k = &key; k->parent_ != Key::kNone; k = &Node(k->parent_))
    chain.push_back(k);
  std::string path, scratch;
  for (size_t i = chain.size(); i-- > 0;) {
    if (!path.empty()) path += '\\';
    path += NameView(*chain[i], scratch);
  }
  return path;
}

Key* Registry::Parent(const Key& key) const {
  return key.parent_ == Key::kNone ? nullptr : &Node(key.parent_);
}

Key* Registry::FindSubkey(const Key& key, std::string_view name) const {
  return FindSubkey(key, name, NameHash(name));
}

Key* Registry::FindPath(const Key& key, std::string_view path) const {
  Key* found = const_cast<Key*>(&key);
  if (path.empty()) return found;
  for (size_t start = 0;;) {
    const size_t end = std::min(path.find('\\', start), path.size());
    if (end == start) return nullptr;
    found = FindSubkey(*found, path.substr(start, end - start));
    if (found == nullptr || end == path.size()) return found;
    start = end + 1;
    if (start == path.size()) return nullptr;
  }
}

Key* Registry::FindSubkey(const Key& key, std::string_view name,
                          uint32_t nameHash) const {
  if (key.lastChild_ == Key::kNone) return nullptr;
  const uint32_t parent = IdOf(key);
  const uint32_t hash = Combine(parent, nameHash);
  const uint32_t mask = static_cast<uint32_t>(table_.size() - 1);
  std::string scratch;
  for (uint32_t slot = hash & mask; table_[slot] != 0;
       slot = (slot + 1) & mask) {
    const uint32_t entry = table_[slot];
    if ((entry & ~mask) != (hash & ~mask)) continue;
    Key& candidate = Node((entry & mask) - 1);
    if (candidate.hash_ == hash && candidate.parent_ == parent &&
        NamesEqual(NameView(candidate, scratch), name))
      return &candidate;
  }
  return nullptr;
}

Key* Registry::AddSubkey(Key& key, const std::string& name) {
  const uint32_t parent = IdOf(key);
  const uint32_t at = static_cast<uint32_t>(pool_.size());
  const uint32_t length = static_cast<uint32_t>(name.size());
  pool_.append(reinterpret_cast<const char*>(&length), sizeof length);
  pool_ += name;
  const uint32_t made = NewNode(parent, Combine(parent, NameHash(name)));
  Key& fresh = Node(made);
  fresh.flags_ = kPooledName;
  fresh.nameLow_ = at;
  return &fresh;
}

Key* Registry::AddSourceSubkey(Key& key, uint32_t nameHash,
                               size_t at, size_t length) {
  const uint32_t parent = IdOf(key);
  Key& fresh = Node(NewNode(parent, Combine(parent, nameHash)));
  fresh.nameLow_ = static_cast<uint32_t>(at);
  fresh.nameHigh_ = static_cast<uint16_t>(static_cast<uint64_t>(at) >> 32);
  fresh.nameLength_ = static_cast<uint16_t>(length);
  return &fresh;
}

Key* Registry::FirstSubkey(const Key& key) const {
  return key.lastChild_ == Key::kNone ? nullptr
                                      : &Node(Node(key.lastChild_).next_);
}

Key* Registry::NextSibling(const Key& key) const {
  if (key.parent_ == Key::kNone) return nullptr;
  if (Node(key.parent_).lastChild_ == IdOf(key)) return nullptr;
  return &Node(key.next_);
}

std::vector<Key*> Registry::Subkeys(const Key& key) const {
  std::vector<Key*> out;
  for (Key* k = FirstSubkey(key); k != nullptr; k = NextSibling(*k))
    out.push_back(k);
  return out;
}

size_t Registry::Origin(const Key& key) const {
  const uint64_t at = static_cast<uint64_t>(key.originHigh_) << 32 |
                      key.originLow_;
  return at == kNoOrigin48 ? kNoOrigin : static_cast<size_t>(at);
}

void Registry::SetOrigin(Key& key, size_t origin) {
  const uint64_t at = origin == kNoOrigin ? kNoOrigin48 : origin;
  key.originLow_ = static_cast<uint32_t>(at);
  key.originHigh_ = static_cast<uint16_t>(at >> 32);
}

void Registry::AddSection(Key& key, size_t at) {
  if (Origin(key) == kNoOrigin) {
    SetOrigin(key, at);
    return;
  }
  moreSections_[IdOf(key)].push_back(at);
}

void Registry::SetSource(std::shared_ptr<const KeySource> source) {
  source_ = std::move(source);
}

Registry::Decoded& Registry::DecodedOf(const Key& key) const {
  auto found = decoded_.find(&key);
  if (found != decoded_.end()) return found->second;
  Decoded& made = decoded_[&key];
  if (source_ && Origin(key) != kNoOrigin) {
    std::vector<size_t> sections{Origin(key)};
    auto more = moreSections_.find(IdOf(key));
    if (more != moreSections_.end())
      sections.insert(sections.end(), more->second.begin(),
                      more->second.end());
    source_->LoadValues(sections, made.values, made.insertAt);
  }
  return made;
}

std::vector<Value>& Registry::Values(const Key& key) const {
  return DecodedOf(key).values;
}

size_t Registry::InsertAt(const Key& key) const {
  return DecodedOf(key).insertAt;
}

Value* Registry::FindValue(const Key& key, std::string_view wanted) const {
  for (Value& value : Values(key))
    if (NamesEqual(value.name, wanted)) return &value;
  return nullptr;
}

void Registry::SetValue(Key& key, const std::string& name, DWORD type,
                        const std::string& data) {
  std::vector<Value>& values = Values(key);
  Value* value = FindValue(key, name);
  if (value == nullptr) {
    Value fresh;
    fresh.name = name;
    fresh.type = type;
    fresh.data = data;
    fresh.changed = true;
    fresh.added = true;
    values.push_back(std::move(fresh));
    changes_.push_back({&key, values.size() - 1});
    return;
  }
  // Rewriting a value with what it already holds is no change, so a run
  // that alters nothing leaves the file alone.
  if (value->type == type && value->data == data) return;
  value->type = type;
  value->data = data;
  if (!value->changed) {
    value->changed = true;
    changes_.push_back({&key, static_cast<size_t>(value - values.data())});
  }
}

HKEY Registry::OpenHandle(Key* key) {
  const uintptr_t raw = nextHandle_;
  nextHandle_ += 4;
  handles_[raw].key = key;
  return reinterpret_cast<HKEY>(raw);
}

Key* Registry::Resolve(HKEY handle) const {
  if (handle == HKEY_LOCAL_MACHINE) return &Node(0);
  auto found = handles_.find(reinterpret_cast<uintptr_t>(handle));
  return found == handles_.end() ? nullptr : found->second.key;
}

bool Registry::CloseHandle(HKEY handle) {
  if (handle == HKEY_LOCAL_MACHINE) return true;
  auto found = handles_.find(reinterpret_cast<uintptr_t>(handle));
  if (found == handles_.end()) return false;
  const Key* key = found->second.key;
  handles_.erase(found);
  Forget(*key);
  return true;
}

// A walk over a large tree decodes the values of every key it opens; once
// the last handle to a key is closed, its values are dropped again unless a
// write changed them. The file still holds them.
void Registry::Forget(const Key& key) {
  if (!source_ || Origin(key) == kNoOrigin) return;
  auto decoded = decoded_.find(&key);
  if (decoded == decoded_.end()) return;
  for (const Value& value : decoded->second.values)
    if (value.changed) return;
  for (const auto& open : handles_)
    if (open.second.key == &key) return;
  decoded_.erase(decoded);
}

Key* Registry::EnumSubkey(HKEY handle, size_t index) {
  Cursor* cursor = &rootCursor_;
  if (handle == HKEY_LOCAL_MACHINE) {
    rootCursor_.key = &Node(0);
  } else {
    auto found = handles_.find(reinterpret_cast<uintptr_t>(handle));
    if (found == handles_.end()) return nullptr;
    cursor = &found->second;
  }
  // Onward from where the last call left off, else from the first.
  if (cursor->at == nullptr || index < cursor->index) {
    cursor->at = FirstSubkey(*cursor->key);
    cursor->index = 0;
  }
  while (cursor->at != nullptr && cursor->index < index) {
    Key* next = NextSibling(*cursor->at);
    if (next == nullptr) return nullptr;  // keep the cursor on the last
    cursor->at = next;
    ++cursor->index;
  }
  return cursor->at;
}

namespace {
Registry* gCurrent = nullptr;
bool gNeeded = false;

void PrintMessageBox(const char* text, const char* caption, UINT type) {
  std::fputs(RenderMessageBox(text, caption, type).c_str(), stdout);
  std::fflush(stdout);
}

MessageBoxHandler gMessageBox = PrintMessageBox;
}  // namespace

void SetCurrentRegistry(Registry* registry) { gCurrent = registry; }
Registry* CurrentRegistry() {
  if (gCurrent == nullptr) gNeeded = true;
  return gCurrent;
}
void ResetRegistryNeeded() { gNeeded = false; }
bool RegistryNeeded() { return gNeeded; }
void SetMessageBoxHandler(MessageBoxHandler handler) {
  gMessageBox = handler != nullptr ? handler : PrintMessageBox;
}

std::string RenderMessageBox(const char* text, const char* caption,
                             UINT type) {
  std::vector<std::string> lines;
  for (const char* start = text;;) {
    const char* end = std::strchr(start, '\n');
    lines.emplace_back(start, end == nullptr ? std::strlen(start)
                                             : static_cast<size_t>(end - start));
    if (end == nullptr) break;
    start = end + 1;
  }
  const std::string mark = (type & 0xF0u) == MB_ICONINFORMATION ? "(i)" : "   ";
  std::string out = "[ " + std::string(caption) + " ]\n";
  for (size_t i = 0; i < lines.size(); ++i)
    out += (i == 0 ? mark : std::string(3, ' ')) + "  " + lines[i] + "\n";
  out += "                [ OK ]\n";
  return out;
}

}  // namespace hostreg

// The RegistryOps calls of the host build, with the results Win32 gives.
namespace RegistryOps {

using hostreg::Key;
using hostreg::Registry;

namespace {

Key* ResolveKey(HKEY handle) {
  Registry* registry = hostreg::CurrentRegistry();
  return registry == nullptr ? nullptr : registry->Resolve(handle);
}

}  // namespace

LONG RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  Key* parent = ResolveKey(key);
  if (parent == nullptr) return ERROR_INVALID_HANDLE;
  Key* found = hostreg::CurrentRegistry()->FindPath(
      *parent, subKey == nullptr ? "" : subKey);
  if (found == nullptr) return ERROR_FILE_NOT_FOUND;
  *result = hostreg::CurrentRegistry()->OpenHandle(found);
  return ERROR_SUCCESS;
}

LONG RegEnumKeyA(HKEY key, DWORD index, LPSTR name, DWORD nameSize) {
  Key* parent = ResolveKey(key);
  if (parent == nullptr) return ERROR_INVALID_HANDLE;
  Registry& registry = *hostreg::CurrentRegistry();
  Key* subkey = registry.EnumSubkey(key, index);
  if (subkey == nullptr) return ERROR_NO_MORE_ITEMS;
  const std::string found = hostreg::AnsiName(registry.Name(*subkey));
  if (name == nullptr || found.size() + 1 > nameSize) return ERROR_MORE_DATA;
  std::memcpy(name, found.c_str(), found.size() + 1);
  return ERROR_SUCCESS;
}

LONG RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD nameLength,
                   LPDWORD reserved, LPDWORD type, LPBYTE data,
                   LPDWORD dataSize) {
  if (reserved != nullptr || nameLength == nullptr)
    return ERROR_INVALID_PARAMETER;
  Key* parent = ResolveKey(key);
  if (parent == nullptr) return ERROR_INVALID_HANDLE;
  const std::vector<hostreg::Value>& values =
      hostreg::CurrentRegistry()->Values(*parent);
  if (index >= values.size()) return ERROR_NO_MORE_ITEMS;
  const hostreg::Value& value = values[index];
  const std::string shown = hostreg::AnsiName(value.name);
  if (name == nullptr || shown.size() + 1 > *nameLength)
    return ERROR_MORE_DATA;
  if (data != nullptr) {
    if (dataSize == nullptr) return ERROR_INVALID_PARAMETER;
    if (value.data.size() > *dataSize) {
      *dataSize = static_cast<DWORD>(value.data.size());
      return ERROR_MORE_DATA;
    }
    std::memcpy(data, value.data.data(), value.data.size());
  }
  std::memcpy(name, shown.c_str(), shown.size() + 1);
  *nameLength = static_cast<DWORD>(shown.size());
  if (type != nullptr) *type = value.type;
  if (dataSize != nullptr) *dataSize = static_cast<DWORD>(value.data.size());
  return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved,
                      LPDWORD type, LPBYTE data, LPDWORD dataSize) {
  if (reserved != nullptr) return ERROR_INVALID_PARAMETER;
  Key* parent = ResolveKey(key);
  if (parent == nullptr) return ERROR_INVALID_HANDLE;
  const hostreg::Value* value = hostreg::CurrentRegistry()->FindValue(
      *parent, valueName == nullptr ? "" : valueName);
  if (value == nullptr) return ERROR_FILE_NOT_FOUND;
  if (data != nullptr) {
    if (dataSize == nullptr) return ERROR_INVALID_PARAMETER;
    if (value->data.size() > *dataSize) {
      *dataSize = static_cast<DWORD>(value->data.size());
      return ERROR_MORE_DATA;
    }
    std::memcpy(data, value->data.data(), value->data.size());
  }
  if (type != nullptr) *type = value->type;
  if (dataSize != nullptr) *dataSize = static_cast<DWORD>(value->data.size());
  return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type,
                    const BYTE* data, DWORD dataSize) {
  if (reserved != 0) return ERROR_INVALID_PARAMETER;
  if (data == nullptr && dataSize != 0) return ERROR_INVALID_PARAMETER;
  Key* parent = ResolveKey(key);
  if (parent == nullptr) return ERROR_INVALID_HANDLE;
  const std::string bytes(reinterpret_cast<const char*>(data), dataSize);
  hostreg::CurrentRegistry()->SetValue(
      *parent, valueName == nullptr ? "" : valueName, type, bytes);
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
  Registry* registry = hostreg::CurrentRegistry();
  if (registry == nullptr || !registry->CloseHandle(key))
    return ERROR_INVALID_HANDLE;
  return ERROR_SUCCESS;
}

int lstrcmpiA(LPCSTR a, LPCSTR b) { return hostreg::CompareNames(a, b); }

LPSTR lstrcatA(LPSTR dest, LPCSTR suffix) {
  std::memcpy(dest + std::strlen(dest), suffix, std::strlen(suffix) + 1);
  return dest;
}

int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type) {
  hostreg::gMessageBox(text, caption, type);
  return 1;  // IDOK
}

}  // namespace RegistryOps
