#include "host/formats/reg/key_line.h"

#include <cstring>

#include "host/formats/reg/syntax.h"
#include "host/registry/names.h"

namespace hostreg {

const char* const kRootNames[6] = {
    "HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER", "HKEY_CLASSES_ROOT",
    "HKEY_USERS",         "HKEY_CURRENT_CONFIG", "HKEY_DYN_DATA",
};

KeyRoot RootNamed(const std::string& name) {
  for (size_t i = 0; i < 6; ++i)
    if (name == kRootNames[i]) return static_cast<KeyRoot>(i);
  return KeyRoot::kLocalMachine;
}

namespace {

uint16_t UpperUnit(uint16_t c) {
  return c >= 'a' && c <= 'z' ? static_cast<uint16_t>(c - ('a' - 'A')) : c;
}

template <class U>
bool IsRoot(const U& t, size_t begin, size_t end, const char* root) {
  for (size_t i = begin; i < end; ++i, ++root)
    if (*root == '\0' || UpperUnit(t[i]) != static_cast<unsigned char>(*root))
      return false;
  return *root == '\0';
}

// Which root [begin, end) names: 0 for HKEY_LOCAL_MACHINE, -1 for none.
template <class U>
int RootOf(const U& t, size_t begin, size_t end) {
  for (size_t i = 0; i < 6; ++i)
    if (IsRoot(t, begin, end, kRootNames[i])) return static_cast<int>(i);
  return -1;
}

template <class U>
size_t FindSeparator(const U& t, size_t from, size_t end) {
  while (from < end && t[from] != '\\') ++from;
  return from;
}

template <class U>
const char* ParsePath(const RegText& text, const U& t, size_t begin,
                      size_t end, KeyRoot& root, KeyPath& path) {
  path.clear();
  const size_t rootEnd = FindSeparator(t, begin, end);
  const int which = RootOf(t, begin, rootEnd);
  if (which < 0)
    return "an unknown root; keys start with HKEY_LOCAL_MACHINE or another "
           "HKEY_ root";
  root = static_cast<KeyRoot>(which);
  if (rootEnd + 1 < end && t[rootEnd + 1] == '\\')
    return "a '\\' right behind the root, which Windows does not open";
  for (size_t start = rootEnd + 1; start < end;) {
    const size_t stop = FindSeparator(t, start, end);
    if (stop > start) {
      if (stop - start > kMaxKeyNameLength &&
          text.CharCount(start, stop) > kMaxKeyNameLength)
        return "a key name longer than 255 characters, which Windows cannot "
               "hold";
      path.emplace_back(start, stop);
    }
    start = stop + 1;
  }
  if (path.size() > kMaxKeyDepth)
    return "keys nested deeper than 512 levels, which Windows cannot hold";
  return nullptr;
}

}  // namespace

const char* ParseKeyPath(const RegText& text, size_t begin, size_t end,
                         KeyRoot& root, KeyPath& path) {
  return text.Visit([&](const auto& t) {
    return ParsePath(text, t, begin, end, root, path);
  });
}

Key* KeyPathCache::Resolve(KeyPath& path) {
  size_t same = 0;  // components spelt as on the last line
  while (same < path.size() && same < lastPath_.size()) {
    const auto& a = path[same];
    const auto& b = lastPath_[same];
    const size_t length = a.second - a.first;
    if (length != b.second - b.first ||
        !text_.SameText(a.first, b.first, length))
      break;
    ++same;
  }
  lastKeys_.resize(same + 1);
  lastKeys_[0] = &keys_.Root();
  Key* key = lastKeys_[same];
  for (size_t i = same; i < path.size(); ++i) {
    const size_t length = path[i].second - path[i].first;
    const std::string_view name = text_.Name(path[i].first, length, scratch_);
    const uint32_t hash = NameHash(name);
    Key* next = keys_.FindSubkey(*key, name, hash);
    key = next != nullptr
              ? next
              : keys_.AddSourceSubkey(*key, hash, path[i].first, length);
    lastKeys_.push_back(key);
  }
  std::swap(lastPath_, path);
  return key;
}

Key* KeyPathCache::Find(const KeyPath& path) {
  Key* key = &keys_.Root();
  for (const auto& part : path) {
    const std::string_view name =
        text_.Name(part.first, part.second - part.first, scratch_);
    key = keys_.FindSubkey(*key, name, NameHash(name));
    if (key == nullptr) return nullptr;
  }
  return key;
}

void KeyPathCache::Forget() {
  lastPath_.clear();
  lastKeys_.clear();
}

}  // namespace hostreg
