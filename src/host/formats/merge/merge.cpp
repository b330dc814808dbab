#include "host/formats/merge/merge.h"

#include <vector>

#include "host/formats/reg/reg_format.h"

namespace hostreg {

namespace {

class MergeSink {
 public:
  using Out = std::string;

  MergeSink(const std::string& name, const RegText& text,
            const MergeTargets& targets, std::string& error)
      : name_(name), text_(text), targets_(targets), error_(error) {}

  bool Passed(const Statement&) { return true; }
  bool Reaches(const Statement& st, KeyRoot root) {
    if (Place(root) != nullptr) return true;
    Fail(st.first.number, root);
    return false;
  }
  bool OpenKey(const Statement& st, KeyRoot root, const KeyPath& path);
  bool DeleteKey(const Statement& st, KeyRoot root, const KeyPath& path);
  // Stored as the registry's Windows keeps what its importer sets.
  void SetValue(const Statement& st, const Out& name, const Out& data) {
    open_->values().Set(*openKey_, name, st.type,
                        StoredData(open_->stringRules(), st.type, data),
                        st.lossy);
  }
  void DeleteValue(const Statement&, const Out& name) {
    open_->values().Delete(*openKey_, name);
  }

 private:
  // Why no target holds the root of the statement at `line`.
  void Fail(size_t line, KeyRoot root);
  // The registry that holds the root, and the names from its root key to
  // the root's own key in `names_`; null for none.
  Registry* Place(KeyRoot root);
  // The names of `path` behind those of the root's own key.
  void Names(const KeyPath& path);
  // The registry that holds the key at `path` under `root`, the names
  // from its root key to it in `names_`; null, said, for none.
  Registry* Route(const Statement& st, KeyRoot root, const KeyPath& path);

  const std::string& name_;
  const RegText& text_;
  const MergeTargets& targets_;
  std::string& error_;
  std::vector<std::string> names_;
  Registry* open_ = nullptr;
  Key* openKey_ = nullptr;
  // The keys of the path opened last, its root's first, and their names.
  Registry* chainRegistry_ = nullptr;
  std::vector<Key*> chain_;
  std::vector<std::string> chainNames_;
};

Registry* MergeSink::Place(KeyRoot root) {
  names_.clear();
  switch (root) {
    case KeyRoot::kLocalMachine: return targets_.machine;
    case KeyRoot::kClassesRoot:
      if (targets_.ClassesInOwnFile()) return targets_.classes;
      names_ = {"SOFTWARE", "Classes"};
      return targets_.machine;
    case KeyRoot::kUsers: return targets_.users;
    case KeyRoot::kCurrentUser:
      names_ = {".DEFAULT"};
      return targets_.users;
    default: return nullptr;
  }
}

void MergeSink::Fail(size_t line, KeyRoot root) {
  if (root == KeyRoot::kClassesRoot && !targets_.classesApart.empty()) {
    error_ = name_ + ":" + std::to_string(line) +
             ": a key of HKEY_CLASSES_ROOT, which " + targets_.classesApart +
             ": give that file with --classes CLASSES.DAT (a disk image's "
             "CLASSES.DAT is not reached yet: copy it out and back with "
             "mtools); nothing was changed";
    return;
  }
  const char* why =
      root == KeyRoot::kCurrentConfig
          ? "it is no registry file's: Windows builds it at start-up from "
            "HKEY_LOCAL_MACHINE\\Config"
      : root == KeyRoot::kDynData
          ? "it lives only in a running Windows' memory"
      : root == KeyRoot::kUsers || root == KeyRoot::kCurrentUser
          ? "it is USER.DAT's (HKEY_USERS), and no user registry was given "
            "(--user USER.DAT)"
          : "it is SYSTEM.DAT's (HKEY_LOCAL_MACHINE), and no machine "
            "registry was given (--registry SYSTEM.DAT)";
  error_ = name_ + ":" + std::to_string(line) + ": a key of " +
           kRootNames[static_cast<size_t>(root)] +
           ", which no registry file given holds: " + why +
           "; nothing was changed";
}

void MergeSink::Names(const KeyPath& path) {
  for (const auto& part : path.parts) {
    names_.emplace_back();
    text_.AppendName(names_.back(), part.first, part.second);
  }
}

// HKEY_LOCAL_MACHINE\SOFTWARE\Classes is HKEY_CLASSES_ROOT itself: where
// Windows keeps that apart, its keys go there too.
Registry* MergeSink::Route(const Statement& st, KeyRoot root,
                           const KeyPath& path) {
  Registry* registry = Place(root);
  Names(path);
  if (targets_.ClassesInOwnFile() && root == KeyRoot::kLocalMachine &&
      names_.size() >= 2 && NamesEqual(names_[0], "SOFTWARE") && NamesEqual(names_[1], "Classes")) {
    names_.erase(names_.begin(), names_.begin() + 2);
    registry = targets_.classes;
    root = KeyRoot::kClassesRoot;
  }
  if (registry == nullptr) Fail(st.first.number, root);
  return registry;
}

// Exports list a key's parent just before it: the keys of the names this
// path shares with the one opened last are reused.
bool MergeSink::OpenKey(const Statement& st, KeyRoot root,
                        const KeyPath& path) {
  open_ = Route(st, root, path);
  if (open_ == nullptr) return false;
  size_t same = 0;
  if (open_ == chainRegistry_)
    while (same < names_.size() && same < chainNames_.size() &&
           names_[same] == chainNames_[same])
      ++same;
  KeyTree& keys = open_->keys();
  chain_.resize(same + 1);
  chainNames_.resize(same);
  chain_[0] = &keys.Root();
  for (size_t i = same; i < names_.size(); ++i) {
    Key* next = keys.FindSubkey(*chain_.back(), names_[i]);
    chain_.push_back(next != nullptr ? next
                                     : keys.AddSubkey(*chain_.back(), names_[i]));
    chainNames_.push_back(names_[i]);
  }
  chainRegistry_ = open_;
  openKey_ = chain_.back();
  return true;
}

bool MergeSink::DeleteKey(const Statement& st, KeyRoot root,
                          const KeyPath& path) {
  chainRegistry_ = nullptr;  // the keys it holds may go
  Registry* registry = Route(st, root, path);
  if (registry == nullptr) return false;
  if (names_.empty()) {
    error_ = name_ + ":" + std::to_string(st.first.number) +
             ": a deletion of HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes, which is "
             "all of CLASSES.DAT; delete its keys one by one; nothing was "
             "changed";
    return false;
  }
  KeyTree& keys = registry->keys();
  Key* key = &keys.Root();
  for (size_t i = 0; i < names_.size() && key != nullptr; ++i)
    key = keys.FindSubkey(*key, names_[i]);
  if (key != nullptr) keys.DeleteTree(*key);
  return true;
}

}  // namespace

bool ApplyMerge(const std::string& name, std::shared_ptr<const FileBytes> bytes,
                const MergeTargets& targets, SkipNotes& notes,
                std::string& error) {
  RegHead head;
  std::shared_ptr<RegText> text =
      OpenRegText(name, std::move(bytes), head, notes, error);
  if (!text) return false;
  if (!head.imported) {
    // Nothing is imported, but a NUL still makes the editor refuse it.
    const size_t nul = FindNul(*text, 0, text->size());
    if (nul == kNoSection) return true;
    error = NulError(name, *text, nul);
    return false;
  }
  MergeSink sink(name, *text, targets, error);
  size_t nul = kNoSection;
  switch (Import(*text, sink, &notes, true, head.bodyStart, 2, &nul)) {
    case ImportEnd::kEnd: return true;
    case ImportEnd::kNul:
      error = NulError(name, *text, nul);
      return false;
    case ImportEnd::kStopped: return false;
  }
  return false;
}

}  // namespace hostreg
