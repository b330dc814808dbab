// Helpers for tests that describe registries as .reg text.
#ifndef REGSWITCH_TEST_SUPPORT_H
#define REGSWITCH_TEST_SUPPORT_H

#include <memory>
#include <string>
#include <vector>

#include "core/front/front.h"
#include "host/registry/registry.h"
#include "host/formats/storage.h"

namespace regtest {

// "REGEDIT4" and a blank line, then `body`.
std::string Reg(const std::string& body);

// A registry parsed from .reg text, made current for the RegistryOps calls
// while it lives.
class LoadedRegistry {
 public:
  explicit LoadedRegistry(const std::string& text);
  ~LoadedRegistry();
  hostreg::Registry& registry() { return registry_; }
  // The file as saving would write it now.
  std::string Saved() const;
  HKEY Open(const std::string& path);  // under HKEY_LOCAL_MACHINE; must exist

 private:
  hostreg::Registry registry_;
  std::unique_ptr<hostreg::Storage> storage_;
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
  size_t openHandles = 0;
  bool saved = false;
};

// Writes `text` to a fresh file, runs the host program in-process with
// --registry FILE and `args`, and reads the file back.
ProgramRun RunProgram(const std::string& text, const std::vector<std::string>& args);
// Runs the host program with exactly `args` (no file of its own).
ProgramRun RunProgramArgs(const std::vector<std::string>& args);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& contents);
// The names in a folder, without "." and "..".
std::vector<std::string> FolderEntries(const std::string& folder);
// A fresh empty folder for one test.
std::string TempDir();
std::string SourcePath(const std::string& relative);

}  // namespace regtest

#endif
