// Key lines: [HKEY_LOCAL_MACHINE\Path\To\Key].
#ifndef REGSWITCH_HOST_FORMATS_REG_KEY_LINE_H
#define REGSWITCH_HOST_FORMATS_REG_KEY_LINE_H

#include <cstddef>
#include <utility>
#include <vector>

#include "host/formats/reg/line_reader.h"
#include "host/formats/reg/reg_text.h"
#include "host/registry/key_tree.h"

namespace hostreg {

// A key line's components as [begin, end) stretches of the text, the root
// first.
using KeyPath = std::vector<std::pair<size_t, size_t>>;

// Splits the path between a key line's brackets and checks it as Windows
// would: a known root, no empty component, names of at most 255
// characters, at most 512 levels. False after failing on `lines`.
bool ParseKeyPath(const RegText& text, size_t begin, size_t end,
                  const Line& line, LineReader& lines, KeyPath& path);

bool IsMachineRoot(const RegText& text, const KeyPath& path);

// Finds or adds the keys that key lines name. Exports list a key's parent
// just before it, so most key lines share a long prefix with the last one:
// the keys of the components spelt exactly as on the last line are reused.
class KeyPathCache {
 public:
  KeyPathCache(const RegText& text, KeyTree& keys)
      : text_(text), keys_(keys) {}
  // The key that a machine key line names, added where missing.
  Key* Resolve(KeyPath& path);
  // After a line of another root, nothing is shared with it.
  void Forget();

 private:
  const RegText& text_;
  KeyTree& keys_;
  KeyPath lastPath_;
  std::vector<Key*> lastKeys_;
  std::string scratch_;
};

}  // namespace hostreg

#endif
