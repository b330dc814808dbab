#include "host/registry/machine.h"

#include <cstdio>
#include <string>

#include "host/registry/about_box.h"

namespace hostreg {

namespace {

thread_local Machine* tBound = nullptr;

void PrintAboutBox(const char* text, const char* caption, UINT type) {
  std::fputs(RenderMessageBox(text, caption, type).c_str(), stdout);
  std::fflush(stdout);
}

}  // namespace

Machine::Machine(Registry* registry, AboutBox aboutBox)
    : registry_(registry),
      handles_(registry != nullptr
                   ? std::make_unique<HandleTable>(registry->keys())
                   : nullptr),
      aboutBox_(aboutBox ? std::move(aboutBox) : AboutBox(PrintAboutBox)) {}

void Machine::ShowAbout(const char* text, const char* caption,
                        UINT type) const {
  aboutBox_(text, caption, type);
}

MachineScope::MachineScope(Machine& machine) : previous_(tBound) {
  tBound = &machine;
}

MachineScope::~MachineScope() { tBound = previous_; }

Machine* BoundMachine() { return tBound; }

}  // namespace hostreg
