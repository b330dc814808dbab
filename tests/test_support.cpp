#include "test_support.h"

#include <gtest/gtest.h>
#include <dirent.h>
#include <ftw.h>
#include <sys/stat.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "host/cli/run.h"

namespace regtest {

std::string Reg(const std::string& body) { return "REGEDIT4\n\n" + body; }

namespace {

std::unique_ptr<Loaded> LoadOrFail(const std::string& text) {
  std::unique_ptr<Loaded> loaded = Load(text);
  EXPECT_TRUE(loaded->file) << loaded->error;
  return loaded;
}

ino_t InodeOf(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

}  // namespace

LoadedRegistry::LoadedRegistry(const std::string& text,
                               hostreg::Machine::AboutBox aboutBox)
    : loaded_(LoadOrFail(text)),
      machine_(&loaded_->registry, std::move(aboutBox)),
      scope_(machine_) {}

std::string LoadedRegistry::Saved() const {
  std::string contents;
  std::string error;
  if (!loaded_->Render(contents, error))
    ADD_FAILURE() << "cannot render: " << error;
  return contents;
}

HKEY LoadedRegistry::Open(const std::string& path) {
  HKEY key = nullptr;
  EXPECT_EQ(0, RegistryOps::RegOpenKeyA(HKEY_LOCAL_MACHINE, path.c_str(), &key))
      << path;
  return key;
}

std::string RunWorker(const std::string& text, TweakWorker worker,
                      const std::string& path, bool on) {
  LoadedRegistry loaded(text);
  HKEY key = loaded.Open(path);
  if (key == nullptr) return std::string();
  worker(key, on);
  EXPECT_EQ(0, RegistryOps::RegCloseKey(key));
  EXPECT_EQ(0u, loaded.handles().Count());
  return loaded.Saved();
}

std::string RunTail(const std::string& text, const std::string& tail) {
  LoadedRegistry loaded(text, [](const char*, const char*, UINT) {});
  std::vector<char> writable(tail.begin(), tail.end());
  writable.push_back('\0');
  EXPECT_EQ(0, WinMain(nullptr, nullptr, writable.data(), 1));
  EXPECT_EQ(0u, loaded.handles().Count());
  return loaded.Saved();
}

ProgramRun RunProgramArgs(const std::vector<std::string>& args,
                          hostreg::Platform* platform) {
  std::vector<const char*> argv{"regswitch"};
  std::string registry;
  for (size_t i = 0; i < args.size(); ++i) {
    argv.push_back(args[i].c_str());
    if (args[i] == "--registry" && i + 1 < args.size()) registry = args[i + 1];
  }
  const ino_t before = registry.empty() ? 0 : InodeOf(registry);
  std::ostringstream out;
  std::ostringstream err;
  ProgramRun run;
  std::unique_ptr<hostreg::RealPlatform> real;
  if (platform == nullptr) {
    real = std::make_unique<hostreg::RealPlatform>();
    platform = real.get();
  }
  run.status = hostreg::RunHostProgram(static_cast<int>(argv.size()),
                                       argv.data(), out, err, *platform);
  run.out = out.str();
  run.err = err.str();
  run.saved = before != 0 && InodeOf(registry) != before;
  return run;
}

ProgramRun RunProgram(const std::string& text,
                      const std::vector<std::string>& args) {
  const std::string path = TempDir() + "/system.reg";
  WriteFile(path, text);
  std::vector<std::string> all{"--registry", path};
  all.insert(all.end(), args.begin(), args.end());
  ProgramRun run = RunProgramArgs(all);
  run.file = ReadFile(path);
  return run;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream contents;
  contents << in.rdbuf();
  return contents.str();
}

void WriteFile(const std::string& path, const std::string& contents) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << contents;
  ASSERT_TRUE(out.good()) << path;
}

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
  }
  return names;
}

namespace {

// The folders TempDir made in this process, removed when it ends unless a
// test failed (then they are kept to look at), so that runs do not fill
// the disk.
struct MadeDirs {
  pid_t owner = getpid();  // a forked child must not remove them
  std::vector<std::string> paths;
};
MadeDirs& Made() {
  static MadeDirs made;
  return made;
}

// Folders a test made read-only must be writable to be emptied.
int OpenUp(const char* path, const struct stat*, int type, struct FTW*) {
  if (type == FTW_D) chmod(path, 0700);
  return 0;
}
int RemoveOne(const char* path, const struct stat*, int, struct FTW*) {
  remove(path);
  return 0;
}

void RemoveMadeDirs() {
  if (Made().owner != getpid() ||
      ::testing::UnitTest::GetInstance()->failed_test_count() > 0)
    return;
  for (const std::string& dir : Made().paths) {
    nftw(dir.c_str(), OpenUp, 16, FTW_PHYS);
    nftw(dir.c_str(), RemoveOne, 16, FTW_DEPTH | FTW_PHYS);
  }
}

}  // namespace

std::string TempDir() {
  const char* base = getenv("TMPDIR");
  // A dot before the random letters: a path given as switch text holds no
  // switch then ("-h..." would be the about box's).
  std::string pattern = std::string(base != nullptr ? base : "/tmp") +
                        "/regswitch-test.XXXXXX";
  if (mkdtemp(&pattern[0]) == nullptr) ADD_FAILURE() << "mkdtemp failed";
  if (Made().paths.empty()) atexit(RemoveMadeDirs);
  Made().paths.push_back(pattern);
  return pattern;
}

std::string SourcePath(const std::string& relative) {
  return std::string(REGSWITCH_SOURCE_DIR) + "/" + relative;
}

}  // namespace regtest
