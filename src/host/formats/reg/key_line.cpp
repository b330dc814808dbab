#include "host/formats/reg/key_line.h"

#include <algorithm>
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

// The parts of a path from `start` on, behind those `path` holds.
template <class U>
const char* ReadParts(const RegText& text, const U& t, size_t start,
                      size_t end, KeyPath& path) {
  while (start < end) {
    const size_t stop = FindSeparator(t, start, end);
    if (stop > start) {
      if (stop - start > kMaxKeyNameLength &&
          text.CharCount(start, stop) > kMaxKeyNameLength)
        return "a key name longer than 255 characters, which Windows cannot "
               "hold";
      path.parts.emplace_back(start, stop);
    }
    start = stop + 1;
  }
  if (path.parts.size() > kMaxKeyDepth)
    return "keys nested deeper than 512 levels, which Windows cannot hold";
  return nullptr;
}

// The root; sets where it ends.
template <class U>
const char* ReadRoot(const U& t, size_t begin, size_t end, KeyRoot& root,
                     size_t& rootEnd) {
  rootEnd = FindSeparator(t, begin, end);
  const int which = RootOf(t, begin, rootEnd);
  if (which < 0)
    return "an unknown root; keys start with HKEY_LOCAL_MACHINE or another "
           "HKEY_ root";
  root = static_cast<KeyRoot>(which);
  if (rootEnd + 1 < end && t[rootEnd + 1] == '\\')
    return "a '\\' right behind the root, which Windows does not open";
  return nullptr;
}

}  // namespace

// Keeps the parts of the last path that the new one spells alike, with
// the separator behind them, moved to where the new one is, and
// returns where reading goes on; kNoSection when not even the root and
// the unit behind it are shared.
size_t KeyPathReader::Reuse(size_t begin, size_t end, KeyPath& path) const {
  const size_t last = path.begin;
  path.after = last;
  path.shared = 0;
  if (last == kNoSection) return kNoSection;
  const size_t length = end - begin;
  const size_t same =
      text_.SharedUnits(begin, last, std::min(length, lastLength_));
  if (same <= rootLength_ + 1) return kNoSection;
  // A part that ends where the sharing does is the same name when the new
  // path ends there too or goes on with a separator.
  const bool partEnds =
      same == length || text_.UnitAt(begin + same) == '\\';
  size_t kept = 0;
  for (auto& part : path.parts) {
    const size_t partEnd = part.second - last;
    if (partEnd > same || (partEnd == same && !partEnds)) break;
    part = {begin + (part.first - last), begin + partEnd};
    ++kept;
  }
  path.parts.resize(kept);
  path.shared = kept;
  return kept > 0 ? path.parts.back().second + 1 : begin + rootLength_ + 1;
}

const char* KeyPathReader::Read(size_t begin, size_t end, KeyRoot& root,
                                KeyPath& path) {
  size_t from = Reuse(begin, end, path);
  path.begin = begin;
  const char* why = text_.Visit([&](const auto& t) -> const char* {
    if (from != kNoSection) {
      root = lastRoot_;
    } else {
      path.parts.clear();
      size_t rootEnd;
      if (const char* bad = ReadRoot(t, begin, end, root, rootEnd)) return bad;
      rootLength_ = rootEnd - begin;
      from = rootEnd + 1;
    }
    return ReadParts(text_, t, from, end, path);
  });
  if (why != nullptr) {
    path.begin = kNoSection;  // nothing to share with
    return why;
  }
  lastLength_ = end - begin;
  lastRoot_ = root;
  return nullptr;
}

const char* ParseKeyPath(const RegText& text, size_t begin, size_t end,
                         KeyRoot& root, KeyPath& path) {
  path = KeyPath();
  return KeyPathReader(text).Read(begin, end, root, path);
}

Key* KeyPathCache::Resolve(const KeyPath& path) {
  // The keys of the parts this path shares with the one resolved last.
  const size_t same = path.after != kNoSection && path.after == lastBegin_
                          ? std::min(path.shared, lastKeys_.size() - 1)
                          : 0;
  lastKeys_.resize(same + 1);
  lastKeys_[0] = &keys_.Root();
  Key* key = lastKeys_[same];
  for (size_t i = same; i < path.size(); ++i) {
    const auto& part = path.parts[i];
    const size_t length = part.second - part.first;
    const std::string_view name = text_.Name(part.first, length, scratch_);
    key = keys_.FindOrAddSourceSubkey(*key, name, NameHash(name), part.first,
                                      length);
    lastKeys_.push_back(key);
  }
  lastBegin_ = path.begin;
  return key;
}

Key* KeyPathCache::Find(const KeyPath& path) {
  Key* key = &keys_.Root();
  for (const auto& part : path.parts) {
    const std::string_view name =
        text_.Name(part.first, part.second - part.first, scratch_);
    key = keys_.FindSubkey(*key, name, NameHash(name));
    if (key == nullptr) return nullptr;
  }
  return key;
}

void KeyPathCache::Forget() {
  lastBegin_ = kNoSection;
  lastKeys_.clear();
}

}  // namespace hostreg
