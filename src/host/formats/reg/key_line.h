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
using KeyPath = std::vector<std::pair<size_t, size_t>>;

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

// Reads the path in [begin, end). Null when Windows would open that key,
// else why it would not: an unknown root, a separator just behind the
// root, names over 255 characters, more than 512 levels.
const char* ParseKeyPath(const RegText& text, size_t begin, size_t end,
                         KeyRoot& root, KeyPath& path);

// Finds or adds the keys that key lines name. Exports list a key's parent
// just before it, so most key lines share a long prefix with the last one:
// the keys of the components spelt exactly as on the last line are reused.
class KeyPathCache {
 public:
  KeyPathCache(const RegText& text, KeyTree& keys)
      : text_(text), keys_(keys) {}
  // The machine key that `path` names, added where missing.
  Key* Resolve(KeyPath& path);
  // The machine key that `path` names, or null.
  Key* Find(const KeyPath& path);
  // After a line of another root or a deletion, nothing is shared.
  void Forget();

 private:
  const RegText& text_;
  KeyTree& keys_;
  KeyPath lastPath_;
  std::vector<Key*> lastKeys_;  // the root, then one key per component
  std::string scratch_;
};

}  // namespace hostreg

#endif
