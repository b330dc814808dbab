// Key paths of key lines and key deletions, read as the registry editor
// opens them: HKEY_LOCAL_MACHINE\Path\To\Key.
#ifndef REGSWITCH_HOST_FORMATS_REG_KEY_LINE_H
#define REGSWITCH_HOST_FORMATS_REG_KEY_LINE_H

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "host/formats/reg/reg_text.h"
#include "host/registry/key_tree.h"

namespace hostreg {

// The components below the root as [begin, end) stretches of the text.
// Doubled separators and one at the end name no key of their own, as
// Windows reads them.
struct KeyPath {
  std::vector<std::pair<size_t, size_t>> parts;
  size_t begin = kNoSection;  // where the path starts in the text
  // The path read just before this one (where it starts; kNoSection for
  // none) and how many leading parts of this one it spells alike.
  size_t after = kNoSection;
  size_t shared = 0;

  size_t size() const { return parts.size(); }
  bool empty() const { return parts.empty(); }
};

// The roots a key line may name, in the order of kRootNames.
enum class KeyRoot {
  kLocalMachine,
  kCurrentUser,
  kClassesRoot,
  kUsers,
  kCurrentConfig,
  kDynData,
};
extern const char* const kRootNames[6];
// The root that `name` spells exactly (HKEY_USERS...); kLocalMachine for
// any other.
KeyRoot RootNamed(const std::string& name);

// Reads the paths of key lines and deletions. Null when Windows would open
// that key, else why it would not: an unknown root, a separator just
// behind the root, names over 255 characters, more than 512 levels.
// Exports list a key's parent just before it, so a path mostly repeats the
// one before: only what follows the stretch they share is read again.
class KeyPathReader {
 public:
  explicit KeyPathReader(const RegText& text) : text_(text) {}
  // The path in [begin, end) into `path`, which holds the last path read
  // (or is empty).
  const char* Read(size_t begin, size_t end, KeyRoot& root, KeyPath& path);

 private:
  size_t Reuse(size_t begin, size_t end, KeyPath& path) const;

  const RegText& text_;
  size_t lastLength_ = 0;
  size_t rootLength_ = 0;  // of the last path's root, its first part
  KeyRoot lastRoot_ = KeyRoot::kLocalMachine;
};

// The same for one path alone.
const char* ParseKeyPath(const RegText& text, size_t begin, size_t end,
                         KeyRoot& root, KeyPath& path);

// Finds or adds the keys that key lines name: the keys of the components
// spelt exactly as on the last line it resolved are reused.
class KeyPathCache {
 public:
  KeyPathCache(const RegText& text, KeyTree& keys)
      : text_(text), keys_(keys) {}
  // The machine key that `path` names, added where missing.
  Key* Resolve(const KeyPath& path);
  // The machine key that `path` names, or null.
  Key* Find(const KeyPath& path);
  // After a line of another root or a deletion, nothing is shared.
  void Forget();

 private:
  const RegText& text_;
  KeyTree& keys_;
  size_t lastBegin_ = kNoSection;  // the path the keys below are of
  std::vector<Key*> lastKeys_;  // the root, then one key per component
  std::string scratch_;
};

}  // namespace hostreg

#endif
