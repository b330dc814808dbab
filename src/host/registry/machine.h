// What the program's own code works on when it runs on the host: the
// registry (none when the run was given no registry file), the handles it
// opens, and where the about box goes. (The program itself is run over a
// machine from host/program, above both.)
//
// The RegistryOps calls have Win32's signatures, which leave no room for a
// context: HKEY_LOCAL_MACHINE and MessageBoxA name no object of ours. So a
// machine is bound to the calls of the current thread for as long as a
// MachineScope lives, and that binding is the one piece of state the seam
// keeps.
#ifndef REGSWITCH_HOST_REGISTRY_MACHINE_H
#define REGSWITCH_HOST_REGISTRY_MACHINE_H

#include <functional>
#include <memory>
#include <string>

#include "core/win32_types.h"
#include "host/registry/handles.h"
#include "host/registry/registry.h"

namespace hostreg {

class Machine {
 public:
  using AboutBox =
      std::function<void(const char* text, const char* caption, UINT type)>;
  // Told of each value a call reads by name or writes, before it does.
  using ValueWatch =
      std::function<void(const Key& key, const char* name, bool write)>;

  // Without an about box of its own, the box is printed on standard output.
  explicit Machine(Registry* registry, AboutBox aboutBox = nullptr);

  Registry* registry() const { return registry_; }
  // Null when there is no registry.
  HandleTable* handles() const { return handles_.get(); }
  void ShowAbout(const char* text, const char* caption, UINT type) const;

  // --show's way to learn which values a tweak looked at.
  void SetValueWatch(ValueWatch watch) { watch_ = std::move(watch); }
  void NoteValue(const Key& key, const char* name, bool write) const {
    if (watch_) watch_(key, name, write);
  }

 private:
  Registry* registry_;
  std::unique_ptr<HandleTable> handles_;
  AboutBox aboutBox_;
  ValueWatch watch_;
};

// Binds a machine to this thread's RegistryOps calls while it lives.
class MachineScope {
 public:
  explicit MachineScope(Machine& machine);
  ~MachineScope();
  MachineScope(const MachineScope&) = delete;
  MachineScope& operator=(const MachineScope&) = delete;

 private:
  Machine* previous_;
};

// The machine bound to this thread, for the RegistryOps calls; null when
// none is.
Machine* BoundMachine();

}  // namespace hostreg

#endif
