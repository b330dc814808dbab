// One run of the host program over its registries, step by step: open
// each (its store taken and read once, loaded, what loading passed over
// said), apply merges, run the switches, then describe (a dry run,
// --show) or save (each registry rendered once, checked unchanged, put in
// place). The runs on registry files and on disk images both drive it;
// they differ only in their stores.
#ifndef REGSWITCH_HOST_SESSION_SESSION_H
#define REGSWITCH_HOST_SESSION_SESSION_H

#include <cstddef>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "host/formats/changes.h"
#include "host/formats/registry_file.h"
#include "host/platform/platform.h"
#include "host/registry/registry.h"
#include "host/session/messages.h"
#include "host/session/store.h"

namespace hostreg {

class RegistrySession {
 public:
  // The registry a store holds: Windows 9x's SYSTEM.DAT holds
  // HKEY_LOCAL_MACHINE, USER.DAT HKEY_USERS, Windows Me's CLASSES.DAT
  // HKEY_CLASSES_ROOT.
  enum class Root { kMachine, kUsers, kClasses };

  RegistrySession(Platform& platform, Messages& messages);
  ~RegistrySession();
  RegistrySession(const RegistrySession&) = delete;
  RegistrySession& operator=(const RegistrySession&) = delete;

  // Opens a registry of the run from `store`, which must outlive the
  // session. Open the machine's first, then the user's, then the classes':
  // every run locks them in that order, so that two runs never wait for
  // each other. False, said, when it cannot be read or loaded.
  bool Open(Root root, RegistryStore& store, bool readOnly);
  // Applies a .reg file to the open registries as Windows' importer would,
  // HKEY_CLASSES_ROOT where the machine's Windows keeps it. False, said,
  // when it is refused; nothing may be saved then.
  bool Merge(const std::string& path);
  // Runs the switch text over the machine's registry (or none, for a text
  // that needs none), the about box on `out` followed by `aboutMore`. Says
  // which switches found nothing to change, and with `verbose` each value
  // written. Gives the number of keys the program left open, which should
  // be none.
  size_t RunSwitches(const std::string& tail, std::ostream& out,
                     bool verbose = false, const std::string& aboutMore = "");

  // Whether the run changed the registry of `root` (false when none is
  // open).
  bool Changes(Root root);

  // --show: the settings as the machine's registry holds them, given only
  // while its store still holds what was read. False, said, otherwise.
  bool Show(std::string& text);
  // --export: every registry as one REGEDIT4 file in the form Windows 98's
  // registry editor exports (the machine's, the classes', then the user's,
  // as the editor lists HKEY_LOCAL_MACHINE before HKEY_USERS), each store
  // checked unchanged after. False, said, when one was changed meanwhile.
  bool Export(std::string& text);
  // A dry run: every registry's changes as one .reg fragment (empty for
  // none), each store checked unchanged first; says first when a save
  // would be refused. False, said, when a store was changed meanwhile.
  bool Describe(std::string& text);
  // Saves every registry that changed, each whole or not at all: all are
  // rendered (and, when there are several, checked) before any is written,
  // and when a later one still fails, the earlier ones are put back.
  // False, said, when a save could not be made. `saved` tells whether
  // anything was written.
  bool Save(bool& saved);

 private:
  struct Target;

  Target* Find(Root root) const;
  std::string WrongRoot(const Target& target, std::string_view bytes) const;
  std::string Refused(const std::string& what) const;

  Platform& platform_;
  Messages& messages_;
  std::vector<std::unique_ptr<Target>> targets_;
};

}  // namespace hostreg

#endif
