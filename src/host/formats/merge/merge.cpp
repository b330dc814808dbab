#include "host/formats/merge/merge.h"

#include <vector>

#include "host/formats/reg/import_reader.h"

namespace hostreg {

namespace {

class Merge {
 public:
  Merge(const std::string& name, const MergeTargets& targets, SkipNotes& notes,
        std::string& error)
      : name_(name), targets_(targets), notes_(notes), error_(error) {}

  bool Apply(const ImportStatement& st);

 private:
  // kFailed: a key line that failed, whose note covers its values too.
  enum class Open { kNone, kFailed, kKey };

  // The registry that holds the statement's root and the names from its
  // root key to the root's own key; false (and the error) for none.
  bool Place(const ImportStatement& st, Registry*& registry,
             std::vector<std::string>& path);
  bool OpenKey(const ImportStatement& st);
  bool DeleteKey(const ImportStatement& st);
  void Value(const ImportStatement& st);

  const std::string& name_;
  const MergeTargets& targets_;
  SkipNotes& notes_;
  std::string& error_;
  Open open_ = Open::kNone;
  Registry* openRegistry_ = nullptr;
  Key* openKey_ = nullptr;
};

bool Merge::Place(const ImportStatement& st, Registry*& registry,
                  std::vector<std::string>& path) {
  const std::string root = kRootNames[static_cast<size_t>(st.root)];
  path.clear();
  switch (st.root) {
    case KeyRoot::kLocalMachine: registry = targets_.machine; break;
    case KeyRoot::kClassesRoot:
      registry = targets_.machine;
      path = {"SOFTWARE", "Classes"};
      break;
    case KeyRoot::kUsers: registry = targets_.users; break;
    case KeyRoot::kCurrentUser:
      registry = targets_.users;
      path = {".DEFAULT"};
      break;
    default: registry = nullptr; break;
  }
  if (registry != nullptr) {
    path.insert(path.end(), st.path.begin(), st.path.end());
    return true;
  }
  const char* why =
      st.root == KeyRoot::kCurrentConfig
          ? "it is no registry file's: Windows builds it at start-up from "
            "HKEY_LOCAL_MACHINE\\Config"
      : st.root == KeyRoot::kDynData
          ? "it lives only in a running Windows' memory"
      : st.root == KeyRoot::kUsers || st.root == KeyRoot::kCurrentUser
          ? "it is USER.DAT's (HKEY_USERS), and no user registry was given "
            "(--user USER.DAT)"
          : "it is SYSTEM.DAT's (HKEY_LOCAL_MACHINE), and no machine "
            "registry was given (--registry SYSTEM.DAT)";
  error_ = name_ + ":" + std::to_string(st.line) + ": a key of " + root +
           ", which no registry file given holds: " + why +
           "; nothing was changed";
  return false;
}

bool Merge::OpenKey(const ImportStatement& st) {
  open_ = Open::kNone;
  if (st.why != nullptr) {
    open_ = Open::kFailed;
    notes_.Add(st.line, std::string(st.why) +
                            "; the values up to the next key line are "
                            "skipped with it");
    return true;
  }
  std::vector<std::string> path;
  if (!Place(st, openRegistry_, path)) return false;
  KeyTree& keys = openRegistry_->keys();
  Key* key = &keys.Root();
  for (const std::string& part : path) {
    Key* next = keys.FindSubkey(*key, part);
    key = next != nullptr ? next : keys.AddSubkey(*key, part);
  }
  openKey_ = key;
  open_ = Open::kKey;
  return true;
}

// The open key is closed whatever the deletion names.
bool Merge::DeleteKey(const ImportStatement& st) {
  open_ = Open::kNone;
  if (st.why != nullptr) {
    notes_.Add(st.line, st.why);
    return true;
  }
  Registry* registry;
  std::vector<std::string> path;
  if (!Place(st, registry, path)) return false;
  if (st.path.empty()) {
    notes_.Add(st.line, std::string(kRootNames[static_cast<size_t>(st.root)]) +
                            " itself cannot be deleted");
    return true;
  }
  KeyTree& keys = registry->keys();
  Key* key = &keys.Root();
  for (size_t i = 0; i < path.size() && key != nullptr; ++i)
    key = keys.FindSubkey(*key, path[i]);
  if (key != nullptr) keys.DeleteTree(*key);
  return true;
}

void Merge::Value(const ImportStatement& st) {
  if (open_ == Open::kNone) {
    notes_.Add(st.line,
               "a value with no key open (none yet, or the last key line "
               "failed or deleted a key)");
    return;
  }
  if (open_ == Open::kFailed) return;
  if (st.kind == StatementKind::kSetValue)
    openRegistry_->values().Set(*openKey_, st.name, st.type, st.data);
  else
    openRegistry_->values().Delete(*openKey_, st.name);
}

bool Merge::Apply(const ImportStatement& st) {
  switch (st.kind) {
    case StatementKind::kNothing: return true;
    case StatementKind::kSkipped: notes_.Add(st.line, st.why); return true;
    case StatementKind::kKey: return OpenKey(st);
    case StatementKind::kDeleteKey: return DeleteKey(st);
    case StatementKind::kSetValue:
    case StatementKind::kDeleteValue: Value(st); return true;
  }
  return true;
}

}  // namespace

bool ApplyMerge(const std::string& name, std::shared_ptr<const FileBytes> bytes,
                const MergeTargets& targets, SkipNotes& notes,
                std::string& error) {
  Merge merge(name, targets, notes, error);
  return ReadImport(
      name, std::move(bytes),
      [&](const ImportStatement& st) { return merge.Apply(st); }, notes,
      error);
}

}  // namespace hostreg
