#include "host/session/session.h"

#include "host/files/locked_file.h"
#include "host/formats/export.h"
#include "host/formats/creg/creg_format.h"
#include "host/formats/merge/merge.h"
#include "host/formats/pick_format.h"
#include "host/program/program.h"
#include "host/registry/about_box.h"
#include "host/registry/machine.h"
#include "host/session/switch_report.h"
#include "host/show/settings.h"

namespace hostreg {

struct RegistrySession::Target {
  Target(Root root, RegistryStore& store)
      : root(root), store(store), registry(RootName(root)) {}

  static const char* RootName(Root root) {
    switch (root) {
      case Root::kMachine: return "HKEY_LOCAL_MACHINE";
      case Root::kUsers: return "HKEY_USERS";
      case Root::kClasses: return "HKEY_CLASSES_ROOT";
    }
    return "";
  }

  // The changes, collected once the run has made them all.
  const ChangeSet& Changes() {
    if (!collected) changes = CollectChanges(registry);
    collected = true;
    return changes;
  }

  const Root root;
  RegistryStore& store;
  Registry registry;
  std::unique_ptr<RegistryFile> file;
  ChangeSet changes;
  bool collected = false;
};

RegistrySession::RegistrySession(Platform& platform, Messages& messages)
    : platform_(platform), messages_(messages) {}

RegistrySession::~RegistrySession() = default;

// A Windows 9x file holds one root: USER.DAT's keys are HKEY_USERS'
// (.DEFAULT, a profile's), SYSTEM.DAT's HKEY_LOCAL_MACHINE's, CLASSES.DAT's
// HKEY_CLASSES_ROOT's. One given
// for the other would take the switches or a merge's lines into the wrong
// file.
std::string RegistrySession::WrongRoot(const Target& target,
                                       std::string_view bytes) const {
  if (!IsCregFile(bytes)) return std::string();
  const KeyTree& keys = target.registry.keys();
  const bool users = keys.FindSubkey(keys.Root(), ".DEFAULT") != nullptr;
  const bool machine = keys.FindSubkey(keys.Root(), "Enum") != nullptr ||
                       keys.FindSubkey(keys.Root(), "System") != nullptr ||
                       keys.FindSubkey(keys.Root(), "Config") != nullptr;
  const std::string& name = target.store.name();
  if (target.root == Root::kMachine && users && !machine)
    return name + " is a USER.DAT (its keys are HKEY_USERS': .DEFAULT): "
                  "give it with --user, and SYSTEM.DAT with --registry";
  if (target.root == Root::kUsers && machine && !users)
    return name + " is a SYSTEM.DAT (its keys are HKEY_LOCAL_MACHINE's): "
                  "give it with --registry, and USER.DAT with --user";
  if (target.root == Root::kClasses && (machine || users))
    return name + " is a " + (machine ? "SYSTEM.DAT" : "USER.DAT") +
           ", not a CLASSES.DAT (its keys are HKEY_CLASSES_ROOT's: .txt, "
           "CLSID...): give it with " + (machine ? "--registry" : "--user");
  return std::string();
}

RegistrySession::Target* RegistrySession::Find(Root root) const {
  for (const auto& target : targets_)
    if (target->root == root) return target.get();
  return nullptr;
}

bool RegistrySession::Open(Root root, RegistryStore& store, bool readOnly) {
  targets_.push_back(std::make_unique<Target>(root, store));
  Target& target = *targets_.back();
  const std::string& name = store.name();
  std::string error;
  std::shared_ptr<const FileBytes> bytes = store.Read(
      readOnly,
      [this, &name] {
        messages_.Say(name + ": waiting for another run to finish with the "
                             "file");
      },
      error);
  if (bytes) target.file = LoadRegistry(name, bytes, target.registry, error);
  if (target.file) error = WrongRoot(target, bytes->View());
  else if (error.empty()) error = name + ": cannot be read";
  if (!error.empty()) {
    messages_.Say(error);
    return false;
  }
  store.Seal();
  for (const std::string& note : target.file->Warnings()) messages_.Say(note);
  return true;
}

bool RegistrySession::Merge(const std::string& path) {
  LockedFile file(platform_);
  std::string error;
  std::shared_ptr<const FileBytes> bytes;
  if (file.OpenUnlocked(path, error)) bytes = file.Read(false, path, error);
  if (!bytes) {
    messages_.Say(WithPathHint(path, error));
    return false;
  }
  MergeTargets reach;
  Target* machine = Find(Root::kMachine);
  Target* classes = Find(Root::kClasses);
  if (machine != nullptr) {
    reach.machine = &machine->registry;
    reach.classesApart = machine->file->ClassesElsewhere();
  }
  if (Target* users = Find(Root::kUsers)) reach.users = &users->registry;
  if (classes != nullptr) reach.classes = &classes->registry;
  // Windows 95 and 98 keep HKEY_CLASSES_ROOT in SYSTEM.DAT: a CLASSES.DAT
  // beside it would take what Windows never reads.
  if (classes != nullptr && machine != nullptr && reach.classesApart.empty()) {
    messages_.Say(classes->store.name() + ": --classes is for Windows Me, "
                  "which keeps HKEY_CLASSES_ROOT in CLASSES.DAT; " +
                  machine->store.name() + " keeps it in its SOFTWARE\\Classes, "
                  "where the merge puts it without --classes");
    return false;
  }
  SkipNotes notes(path);
  const bool applied = ApplyMerge(path, bytes, reach, notes, error);
  for (const std::string& note : notes.Lines()) messages_.Say(note);
  if (!applied) messages_.Say(error);
  return applied;
}

size_t RegistrySession::RunSwitches(const std::string& tail,
                                    std::ostream& out, bool verbose,
                                    const std::string& aboutMore) {
  Target* target = Find(Root::kMachine);
  Registry* registry = target != nullptr ? &target->registry : nullptr;
  Machine machine(registry, [&out, &aboutMore](const char* text,
                                               const char* caption, UINT type) {
    out << RenderMessageBox(text, caption, type) << aboutMore << std::flush;
  });
  SwitchReport report(registry, tail, verbose);
  machine.SetValueWatch([&report](const Key& key, const char* name, bool write) {
    if (write) report.Written(key, name);
  });
  RunCommandLine(machine, tail);
  report.Tell(messages_);
  return machine.handles() != nullptr ? machine.handles()->Count() : 0;
}

bool RegistrySession::Changes(Root root) {
  Target* target = Find(root);
  return target != nullptr && !target->Changes().empty();
}

// A file rewritten meanwhile could show a mixture.
bool RegistrySession::Show(std::string& text) {
  Target* target = Find(Root::kMachine);
  if (target == nullptr) return false;
  text = ShowSettings(target->registry);
  std::string error;
  if (target->store.Unchanged(error)) return true;
  messages_.Say(target->store.name() + ": " + error + "; run again to see it");
  return false;
}

bool RegistrySession::Export(std::string& text) {
  text = ExportHeader();
  for (Root root : {Root::kMachine, Root::kClasses, Root::kUsers}) {
    Target* target = Find(root);
    if (target == nullptr) continue;
    AppendExport(target->registry, text);
    std::string error;
    if (target->store.Unchanged(error)) continue;
    messages_.Say(target->store.name() + ": " + error +
                  "; run again to export it");
    return false;
  }
  return true;
}

// The second registry's header is left out: one fragment.
bool RegistrySession::Describe(std::string& text) {
  text.clear();
  for (const auto& target : targets_) {
    const ChangeSet& changes = target->Changes();
    std::string fragment =
        target->file->DescribeChanges(target->registry, changes);
    if (fragment.empty()) continue;
    std::string error;
    if (!target->store.Unchanged(error)) {
      messages_.Say(target->store.name() + ": " + error +
                    "; run again to see its changes");
      return false;
    }
    std::string refusal = target->file->SaveRefusal(target->registry, changes);
    if (refusal.empty()) refusal = target->store.SaveRefusal();
    if (!refusal.empty())
      messages_.Say(target->store.name() + ": a save would be refused: " +
                    refusal);
    if (!text.empty()) fragment.erase(0, fragment.find('\n') + 1);
    text += fragment;
  }
  return true;
}

std::string RegistrySession::Refused(const std::string& what) const {
  return what + (targets_.size() > 1
                     ? "; nothing was saved, in this file or the other"
                     : "; the file was left as it was");
}

// Everything that can be found wrong beforehand is, for every registry,
// before any is written: what each would be refused for, and, when there
// are several, whether another program changed it (a single one is checked
// as late as can be, by its store).
bool RegistrySession::Save(bool& saved) {
  saved = false;
  std::vector<Target*> changed;
  // Sized once: the pieces point into each rendering's own text.
  std::vector<Rendering> renderings(targets_.size());
  for (const auto& target : targets_) {
    const ChangeSet& changes = target->Changes();
    if (changes.empty()) continue;
    std::string error;
    Rendering& rendering = renderings[changed.size()];
    if (!target->file->Render(target->registry, changes, rendering, error) ||
        (targets_.size() > 1 && !target->store.Unchanged(error))) {
      messages_.Say(Refused(target->store.name() + ": " + error));
      return false;
    }
    changed.push_back(target.get());
  }
  for (size_t i = 0; i < changed.size(); ++i) {
    RegistryStore& store = changed[i]->store;
    std::string error;
    const bool written = store.Write(renderings[i], error);
    if (!store.Kept().empty())
      messages_.Say(store.name() + ": the file as it was is kept in " +
                    store.Kept());
    if (written) continue;
    messages_.Say(store.name() + ": " + error + "; the file was left as it was");
    if (i == 0) return false;
    RegistryStore& first = changed[0]->store;
    if (first.Restore(error))
      messages_.Say(first.name() + ": put back as it was, so that neither "
                                   "file holds the merge");
    else
      messages_.Say(first.name() + ": holds the merge, but could not be put "
                                   "back as it was (" + error +
                    "); the two files no longer match");
    return false;
  }
  saved = !changed.empty();
  return true;
}

}  // namespace hostreg
