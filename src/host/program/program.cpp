#include "host/program/program.h"

#include <vector>

#include "core/front/front.h"

namespace hostreg {

namespace {

std::vector<char> Writable(const std::string& tail) {
  std::vector<char> writable(tail.begin(), tail.end());
  writable.push_back('\0');
  return writable;
}

}  // namespace

void RunCommandLine(Machine& machine, const std::string& tail) {
  std::vector<char> writable = Writable(tail);
  MachineScope scope(machine);
  WinMain(nullptr, nullptr, writable.data(), 1);
}

// WinMain's own first steps on a copy: the tail upper-cased, the help
// switches, then the table's switches.
bool NeedsRegistry(const std::string& tail) {
  std::vector<char> writable = Writable(tail);
  UpperCaseTail(writable.data());
  if (FindHelpSwitch(writable.data()) != nullptr) return false;
  for (const Tweak& row : kTweakTable)
    if (FindSwitch(writable.data(), row) != nullptr) return true;
  return false;
}

bool HoldsSwitch(const std::string& text) {
  std::vector<char> writable = Writable(text);
  UpperCaseTail(writable.data());
  if (FindHelpSwitch(writable.data()) != nullptr) return true;
  for (const Tweak& row : kTweakTable)
    if (FindSwitch(writable.data(), row) != nullptr) return true;
  return false;
}

}  // namespace hostreg
