#include "host/formats/reg/key_line.h"

#include <cstring>
#include <string>

#include "host/formats/reg/text.h"
#include "host/registry/names.h"

namespace hostreg {

namespace {

const char* const kRoots[] = {
    "HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER", "HKEY_CLASSES_ROOT",
    "HKEY_USERS",         "HKEY_CURRENT_CONFIG", "HKEY_DYN_DATA",
};
const char kMachineRoot[] = "HKEY_LOCAL_MACHINE";

bool IsRoot(const RegText& text, const std::pair<size_t, size_t>& part,
            const char* root) {
  return std::strlen(root) == part.second - part.first &&
         StartsWithWord(text.Text().substr(part.first), root);
}

void SplitPath(std::string_view text, size_t begin, size_t end,
               KeyPath& path) {
  path.clear();
  for (size_t start = begin;;) {
    const void* slash = std::memchr(text.data() + start, '\\', end - start);
    const size_t stop =
        slash == nullptr ? end
                         : static_cast<size_t>(static_cast<const char*>(slash) -
                                               text.data());
    path.emplace_back(start, stop);
    if (stop == end) return;
    start = stop + 1;
  }
}

}  // namespace

bool ParseKeyPath(const RegText& text, size_t begin, size_t end,
                  const Line& line, LineReader& lines, KeyPath& path) {
  if (begin < end && text.Text()[begin] == '-')
    return lines.Fail(line.number, "a key deletion ([-...]) has no place in "
                                   "a registry export");
  SplitPath(text.Text(), begin, end, path);
  bool known = false;
  for (const char* root : kRoots) known = known || IsRoot(text, path[0], root);
  if (!known)
    return lines.Fail(line.number,
                      "unknown root \"" +
                          text.Shown(path[0].first, path[0].second) +
                          "\"; keys start with HKEY_LOCAL_MACHINE or "
                          "another HKEY_ root");
  for (size_t i = 1; i < path.size(); ++i) {
    const size_t length = path[i].second - path[i].first;
    if (length == 0)
      return lines.Fail(line.number,
                        "empty key name in [" + text.Shown(begin, end) + "]");
    if (length > kMaxKeyNameLength)
      return lines.Fail(line.number,
                        "key name longer than " +
                            std::to_string(kMaxKeyNameLength) + " characters");
  }
  if (path.size() - 1 > kMaxKeyDepth)
    return lines.Fail(line.number, "keys nested deeper than " +
                                       std::to_string(kMaxKeyDepth) +
                                       " levels, more than Windows allows");
  return true;
}

bool IsMachineRoot(const RegText& text, const KeyPath& path) {
  return IsRoot(text, path[0], kMachineRoot);
}

Key* KeyPathCache::Resolve(KeyPath& path) {
  size_t same = 0;
  while (same < path.size() && same < lastPath_.size()) {
    const auto& a = path[same];
    const auto& b = lastPath_[same];
    const size_t length = a.second - a.first;
    if (length != b.second - b.first ||
        !text_.SameText(a.first, b.first, length))
      break;
    ++same;
  }
  if (same == 0) same = 1;  // the root component: HKEY_LOCAL_MACHINE
  lastKeys_.resize(same);
  lastKeys_[0] = &keys_.Root();
  Key* key = lastKeys_[same - 1];
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

void KeyPathCache::Forget() {
  lastPath_.clear();
  lastKeys_.clear();
}

}  // namespace hostreg
