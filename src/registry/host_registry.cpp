#include "host_registry.h"

#include <cstdio>
#include <cstring>

#include "registry_ops.h"

namespace hostreg {

unsigned char FoldCase(unsigned char c) {
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

namespace {
// FoldCase as a table: loading a large registry compares many names.
struct FoldTable {
  unsigned char folded[256];
  FoldTable() {
    for (int c = 0; c < 256; ++c)
      folded[c] = FoldCase(static_cast<unsigned char>(c));
  }
};
const FoldTable kFold;
}  // namespace

bool NamesEqual(const std::string& a, const std::string& b) {
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
constexpr size_t kIndexThreshold = 16;
}

Key* Key::FindSubkey(const std::string& wanted) const {
  if (subkeys.size() < kIndexThreshold) {
    for (const auto& key : subkeys)
      if (NamesEqual(key->name, wanted)) return key.get();
    return nullptr;
  }
  if (!index_) index_ = std::make_unique<std::unordered_map<std::string, Key*>>();
  if (index_->size() != subkeys.size()) {
    index_->clear();
    for (const auto& key : subkeys)
      index_->emplace(FoldedName(key->name), key.get());  // first one wins
  }
  auto found = index_->find(FoldedName(wanted));
  return found == index_->end() ? nullptr : found->second;
}

Value* Key::FindValue(const std::string& wanted) {
  for (Value& value : values)
    if (NamesEqual(value.name, wanted)) return &value;
  return nullptr;
}

Key* Key::AddSubkey(const std::string& subkeyName) {
  auto key = std::make_unique<Key>();
  key->name = subkeyName;
  key->parent = this;
  key->depth = depth + 1;
  subkeys.push_back(std::move(key));
  if (index_ && !index_->empty())
    index_->emplace(FoldedName(subkeyName), subkeys.back().get());
  return subkeys.back().get();
}

std::string Key::Path() const {
  if (parent == nullptr) return std::string();
  std::string above = parent->Path();
  return above.empty() ? name : above + "\\" + name;
}

Registry::Registry() : root_(std::make_unique<Key>()) {
  root_->name = "HKEY_LOCAL_MACHINE";
}

void Registry::SetValue(Key& key, const std::string& name, DWORD type,
                        const std::string& data) {
  Value* value = key.FindValue(name);
  if (value == nullptr) {
    Value fresh;
    fresh.name = name;
    fresh.type = type;
    fresh.data = data;
    fresh.changed = true;
    fresh.added = true;
    key.values.push_back(std::move(fresh));
    changes_.push_back({&key, key.values.size() - 1});
    return;
  }
  // Rewriting a value with what it already holds is no change, so a run
  // that alters nothing leaves the file alone.
  if (value->type == type && value->data == data) return;
  value->type = type;
  value->data = data;
  if (!value->changed) {
    value->changed = true;
    changes_.push_back({&key, static_cast<size_t>(value - key.values.data())});
  }
}

HKEY Registry::OpenHandle(Key* key) {
  const uintptr_t raw = nextHandle_;
  nextHandle_ += 4;
  handles_.emplace(raw, key);
  return reinterpret_cast<HKEY>(raw);
}

Key* Registry::Resolve(HKEY handle) const {
  if (handle == HKEY_LOCAL_MACHINE) return root_.get();
  auto found = handles_.find(reinterpret_cast<uintptr_t>(handle));
  return found == handles_.end() ? nullptr : found->second;
}

bool Registry::CloseHandle(HKEY handle) {
  if (handle == HKEY_LOCAL_MACHINE) return true;
  return handles_.erase(reinterpret_cast<uintptr_t>(handle)) == 1;
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

// Walks a relative path, components separated by '\'. An empty component
// (a leading, doubled or trailing separator) names no key.
Key* WalkPath(Key* start, const char* path) {
  Key* key = start;
  const char* p = path;
  while (*p != '\0') {
    const char* end = p;
    while (*end != '\0' && *end != '\\') ++end;
    if (end == p) return nullptr;
    key = key->FindSubkey(std::string(p, end));
    if (key == nullptr) return nullptr;
    p = *end == '\\' ? end + 1 : end;
    if (*end == '\\' && *p == '\0') return nullptr;
  }
  return key;
}

}  // namespace

LONG RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  Key* parent = ResolveKey(key);
  if (parent == nullptr) return ERROR_INVALID_HANDLE;
  Key* found = WalkPath(parent, subKey == nullptr ? "" : subKey);
  if (found == nullptr) return ERROR_FILE_NOT_FOUND;
  *result = hostreg::CurrentRegistry()->OpenHandle(found);
  return ERROR_SUCCESS;
}

LONG RegEnumKeyA(HKEY key, DWORD index, LPSTR name, DWORD nameSize) {
  Key* parent = ResolveKey(key);
  if (parent == nullptr) return ERROR_INVALID_HANDLE;
  if (index >= parent->subkeys.size()) return ERROR_NO_MORE_ITEMS;
  const std::string found = hostreg::AnsiName(parent->subkeys[index]->name);
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
  if (index >= parent->values.size()) return ERROR_NO_MORE_ITEMS;
  const hostreg::Value& value = parent->values[index];
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
  const hostreg::Value* value =
      parent->FindValue(valueName == nullptr ? "" : valueName);
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
