// Helpers for tests that describe registries as .reg text.
#ifndef REGSWITCH_TEST_SUPPORT_H
#define REGSWITCH_TEST_SUPPORT_H

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "core/front/front.h"
#include "host/platform/platform.h"
#include "host/registry/machine.h"
#include "support/loaded.h"

// Skips the test, saying why, when `condition` does not hold; under CI it
// fails instead, so that CI never passes without having run it. (The one
// such rule of the C++ tests; tests/harness/harness.py has the Python
// tests'.)
#define REGTEST_NEED(condition, why)                   \
  do {                                                 \
    if (!(condition)) {                                \
      if (std::getenv("CI") != nullptr) FAIL() << why; \
      GTEST_SKIP() << why;                             \
    }                                                  \
  } while (0)

namespace regtest {

// A small export with the APM key that /SSP:1 changes ("hex:00" to
// "hex:01").
inline const std::string kApmExport =
    "REGEDIT4\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Enum\\Root\\*PNP0C05\\0000]\r\n"
    "\"Class\"=\"System\"\r\n"
    "\"APMMenuSuspend\"=hex:00\r\n";

// "REGEDIT4" and a blank line, then `body`.
std::string Reg(const std::string& body);

// A registry loaded from registry file text (a .reg export or a CREG
// file's bytes), bound for the RegistryOps calls while it lives.
class LoadedRegistry {
 public:
  explicit LoadedRegistry(const std::string& text,
                          hostreg::Machine::AboutBox aboutBox = nullptr);
  hostreg::Registry& registry() { return loaded_->registry; }
  hostreg::HandleTable& handles() { return *machine_.handles(); }
  // The file as saving would write it now.
  std::string Saved() const;
  HKEY Open(const std::string& path);  // under HKEY_LOCAL_MACHINE; must exist

 private:
  std::unique_ptr<Loaded> loaded_;
  hostreg::Machine machine_;
  hostreg::MachineScope scope_;
};

// Runs one worker on the key at `path` and returns the file as saved.
std::string RunWorker(const std::string& text, TweakWorker worker,
                      const std::string& path, bool on);

// Runs WinMain with `tail` over the registry and returns the file as saved.
std::string RunTail(const std::string& text, const std::string& tail);

struct ProgramRun {
  int status = -1;
  std::string out;
  std::string err;
  std::string file;  // the registry file afterwards
  // Whether the --registry file was replaced: a save renames a new file
  // over it.
  bool saved = false;
};

// Writes `text` to a fresh file, runs the host program in-process with
// --registry FILE and `args`, and reads the file back.
ProgramRun RunProgram(const std::string& text,
                      const std::vector<std::string>& args);
// Runs the host program with exactly `args` (no file of its own), on the
// given platform, or on the real one.
ProgramRun RunProgramArgs(const std::vector<std::string>& args,
                          hostreg::Platform* platform = nullptr);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& contents);
// The names in a folder, without "." and "..".
std::vector<std::string> FolderEntries(const std::string& folder);
// A fresh empty folder for one test.
std::string TempDir();
std::string SourcePath(const std::string& relative);

}  // namespace regtest

#endif
