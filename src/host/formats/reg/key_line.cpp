#include "host/formats/reg/key_line.h"

#include <cstring>

#include "host/formats/reg/text.h"
#include "host/registry/names.h"

namespace hostreg {

namespace {

const char* const kRoots[] = {
    "HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER", "HKEY_CLASSES_ROOT",
    "HKEY_USERS",         "HKEY_CURRENT_CONFIG", "HKEY_DYN_DATA",
};

uint16_t UpperUnit(uint16_t c) {
  return c >= 'a' && c <= 'z' ? static_cast<uint16_t>(c - ('a' - 'A')) : c;
}

bool IsRoot(const RegText& text, size_t begin, size_t end, const char* root) {
  if (std::strlen(root) != end - begin) return false;
  for (size_t i = begin; i < end; ++i, ++root)
    if (UpperUnit(text.UnitAt(i)) != static_cast<unsigned char>(*root))
      return false;
  return true;
}

template <class U>
size_t FindSeparator(const U& t, size_t from, size_t end) {
  while (from < end && t[from] != '\\') ++from;
  return from;
}

}  // namespace

const char* ParseKeyPath(const RegText& text, size_t begin, size_t end,
                         KeyRoot& root, KeyPath& path) {
  path.clear();
  const size_t rootEnd = text.Visit(
      [&](const auto& t) { return FindSeparator(t, begin, end); });
  bool known = false;
  for (const char* name : kRoots) known = known || IsRoot(text, begin, rootEnd, name);
  if (!known) return "an unknown root; keys start with HKEY_LOCAL_MACHINE or another HKEY_ root";
  root = IsRoot(text, begin, rootEnd, kRoots[0]) ? KeyRoot::kMachine
                                                 : KeyRoot::kOther;
  if (rootEnd + 1 < end && text.UnitAt(rootEnd + 1) == '\\')
    return "a '\\' right behind the root, which Windows does not open";
  for (size_t start = rootEnd + 1; start < end;) {
    const size_t stop = text.Visit(
        [&](const auto& t) { return FindSeparator(t, start, end); });
    if (stop > start) {
      if (text.CharCount(start, stop) > kMaxKeyNameLength)
        return "a key name longer than 255 characters, which Windows cannot hold";
      path.emplace_back(start, stop);
    }
    start = stop + 1;
  }
  if (path.size() > kMaxKeyDepth)
    return "keys nested deeper than 512 levels, which Windows cannot hold";
  return nullptr;
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
