// The host program end to end: options, exit codes, the file on disk.
#include <gtest/gtest.h>
#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "reg_support.h"
#include "host/cli/run.h"
#include "host/formats/pick_format.h"
#include "host/session/store.h"
#include "test_support.h"

namespace {

using regtest::ProgramRun;
using regtest::ReadFile;
using regtest::Reg;
using regtest::RunProgram;
using regtest::RunProgramArgs;

const std::string kApm =
    "REGEDIT4\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Enum\\Root\\*PNP0C05\\0000]\r\n"
    "\"Class\"=\"System\"\r\n"
    "\"APMMenuSuspend\"=hex:00\r\n";

TEST(HostProgram, EveryScenarioGivesItsExpectedFile) {
  const std::string folder = regtest::SourcePath("tests/scenarios");
  int scenarios = 0;
  for (const std::string& name : regtest::FolderEntries(folder)) {
    const std::string dir = folder + "/" + name;
    struct stat st;
    if (stat((dir + "/before.reg").c_str(), &st) != 0) continue;
    SCOPED_TRACE(name);
    ++scenarios;
    const std::string before = ReadFile(dir + "/before.reg");
    std::string tail = ReadFile(dir + "/tail");
    while (!tail.empty() && (tail.back() == '\n' || tail.back() == '\r'))
      tail.pop_back();
    std::string after = ReadFile(dir + "/after.reg");
    if (stat((dir + "/after.reg").c_str(), &st) != 0) after = before;
    const ProgramRun run = RunProgram(before, {"--", tail});
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_EQ(after, run.file);
    // WinMain over the registry alone, which checks that no key is left
    // open (an about box's tail changes nothing).
    EXPECT_EQ(after, regtest::RunTail(before, tail));
  }
  EXPECT_GE(scenarios, 2);
}

TEST(HostProgram, OptionsAndExitStatus) {
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* out;  // a text on standard output; "" for none at all
    const char* err;  // a text on standard error; "" for none at all
  };
  const Case cases[] = {
      {{}, 2, "", "usage:"},
      {{"--help"}, 0, "usage:", ""},
      {{"/?"}, 0, "[ Varnholt ]", ""},
      {{"-HELP"}, 0, "(i)", ""},
      {{"/ssp:1", "/h"}, 0, "[ OK ]", ""},
      {{"/dma:1"}, 2, "", "--registry FILE"},
      {{"--", "/SSP:1"}, 2, "", "--registry FILE"},
      {{"--", "/X", "/Y"}, 0, "", ""},  // no known switch: nothing to read
      {{"--registry"}, 2, "", "needs a file name"},
      {{"--registry=", "/SSP:1"}, 2, "", "needs a file name"},
      {{"--registry", "/nonexistent/system.reg", "/SSP:1"}, 2, "",
       "/nonexistent/system.reg"},
      {{"--registry", "/tmp", "/SSP:1"}, 2, "", "not a regular file"},
  };
  for (const Case& c : cases) {
    std::string joined;
    for (const std::string& arg : c.args) joined += arg + " ";
    SCOPED_TRACE(joined);
    const ProgramRun run = RunProgramArgs(c.args);
    EXPECT_EQ(c.status, run.status) << run.err;
    if (*c.out == '\0') {
      EXPECT_EQ("", run.out);
    } else {
      EXPECT_NE(std::string::npos, run.out.find(c.out)) << run.out;
    }
    if (*c.err == '\0') {
      EXPECT_EQ("", run.err);
    } else {
      EXPECT_NE(std::string::npos, run.err.find(c.err)) << run.err;
    }
  }
}

TEST(HostProgram, RegistryPathIsNeverPartOfTheTail) {
  // A path such as /home/... would read as the help switch /H in a tail.
  const std::string home = regtest::TempDir() + "/home";
  ASSERT_EQ(0, mkdir(home.c_str(), 0700));
  const std::string path = home + "/system.reg";
  regtest::WriteFile(path, kApm);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--registry", path, "/SSP:1"},
        std::vector<std::string>{"--registry=" + path, "--", "/SSP:1"}}) {
    regtest::WriteFile(path, kApm);
    const ProgramRun run = RunProgramArgs(args);
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_EQ("", run.out);
    EXPECT_NE(std::string::npos, ReadFile(path).find("\"APMMenuSuspend\"=hex:01\r\n"));
  }
}

TEST(HostProgram, TailArgumentsAreJoinedWithSingleSpaces) {
  // "/SSP" and ":1" as two arguments become "/SSP :1", which is off.
  std::string on = kApm;
  on.replace(on.find("hex:00"), 6, "hex:01");
  EXPECT_EQ(kApm, RunProgram(on, {"--", "/SSP", ":1"}).file);
  EXPECT_EQ(on, RunProgram(kApm, {"/SSP:1"}).file);
}

TEST(HostProgram, ARunThatChangesNothingLeavesTheFileAlone) {
  const std::string folder = regtest::TempDir();
  const std::string path = folder + "/system.reg";
  regtest::WriteFile(path, kApm);
  struct stat before;
  ASSERT_EQ(0, stat(path.c_str(), &before));
  for (const char* tail : {"/SSP:0", "", "/DMA:1 /ACS", "/X"}) {
    SCOPED_TRACE(tail);
    const ProgramRun run = RunProgramArgs({"--registry", path, "--", tail});
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_FALSE(run.saved);
    EXPECT_EQ(kApm, ReadFile(path));
    struct stat after;
    ASSERT_EQ(0, stat(path.c_str(), &after));
    EXPECT_EQ(before.st_ino, after.st_ino);  // not even rewritten
  }
}

TEST(HostProgram, SavingKeepsTheModeAndLeavesNoTemporaryFile) {
  const std::string folder = regtest::TempDir();
  const std::string path = folder + "/system.reg";
  regtest::WriteFile(path, kApm);
  ASSERT_EQ(0, chmod(path.c_str(), 0640));
  const ProgramRun run = RunProgramArgs({"--registry", path, "/ssp:1"});
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_TRUE(run.saved);
  struct stat st;
  ASSERT_EQ(0, stat(path.c_str(), &st));
  EXPECT_EQ(0640u, st.st_mode & 07777);
  EXPECT_EQ(std::vector<std::string>{"system.reg"}, regtest::FolderEntries(folder));
  EXPECT_NE(std::string::npos, ReadFile(path).find("hex:01"));
}

TEST(HostProgram, SymbolicLinkStaysALink) {
  const std::string folder = regtest::TempDir();
  const std::string target = folder + "/real.reg";
  const std::string link = folder + "/link.reg";
  regtest::WriteFile(target, kApm);
  ASSERT_EQ(0, symlink(target.c_str(), link.c_str()));
  EXPECT_EQ(0, RunProgramArgs({"--registry", link, "/ssp:1"}).status);
  struct stat st;
  ASSERT_EQ(0, lstat(link.c_str(), &st));
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_NE(std::string::npos, ReadFile(target).find("hex:01"));
}

TEST(HostProgram, MalformedFileIsRefusedWithFileAndLine) {
  const std::string bad = std::string(
      "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Enum\\Root\\*PNP0C05\\0000]\n"
      "\"Class\"=\"System\"\n"
      "\"APMMenuSuspend\"=hex:00") + std::string("\0\n", 2);
  const ProgramRun run = RunProgram(bad, {"/SSP:1"});
  EXPECT_EQ(2, run.status);
  EXPECT_NE(std::string::npos, run.err.find("system.reg:5:")) << run.err;
  EXPECT_EQ(bad, run.file);
}

// A line the importer skips is noted on standard error with its line, and
// the run goes on as Windows' import would: the value it skipped is not
// there, so /SSP creates it.
TEST(HostProgram, SkippedLineIsNotedAndTheRunGoesOn) {
  const std::string text = Reg(
      "[HKEY_LOCAL_MACHINE\\Enum\\Root\\*PNP0C05\\0000]\n"
      "\"Class\"=\"System\"\n"
      "\"APMMenuSuspend\"=HEX:00\n");
  const ProgramRun run = RunProgram(text, {"/SSP:1"});
  EXPECT_EQ(0, run.status);
  EXPECT_NE(std::string::npos,
            run.err.find("system.reg:5: skipped, as Windows' importer would: "
                         "unknown data"))
      << run.err;
  EXPECT_EQ(text + "\"APMMenuSuspend\"=hex:01\n", run.file);
}

TEST(HostProgram, DryRunPrintsTheChangesAndSavesNothing) {
  ProgramRun run = RunProgram(kApm, {"--dry-run", "/SSP:1", "/DMA:1"});
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_EQ(kApm, run.file);
  EXPECT_EQ("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Enum\\Root\\*PNP0C05\\0000]\r\n"
            "\"APMMenuSuspend\"=hex:01\r\n",
            run.out);
  run = RunProgram(kApm, {"--dry-run", "/SSP:0"});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ("", run.out);
}

// A loaded export is read from a mapping of the file; if another program
// shortens the file, touching the lost pages must end the run with a
// message naming that file and exit status 2, not a crash. Two files are
// mapped at once, as a run with --registry and --user maps them, and
// either may be the one shortened.
TEST(HostProgram, FileShortenedWhileMappedStopsNamingThatFile) {
  for (const int shortened : {0, 1}) {
    SCOPED_TRACE(shortened);
    const std::string folder = regtest::TempDir();
    const std::string paths[2] = {folder + "/system.reg", folder + "/user.reg"};
    std::string text = kApm;
    text += "\r\n[HKEY_LOCAL_MACHINE\\Filler]\r\n";
    while (text.size() < (1u << 20)) text += "\"Padding\"=\"xxxxxxxxxxxxxxxx\"\r\n";
    text += "\r\n[HKEY_LOCAL_MACHINE\\Last]\r\n\"Value\"=hex:01\r\n";
    for (const std::string& path : paths) regtest::WriteFile(path, text);
    const std::string errPath = folder + "/err";
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      if (freopen(errPath.c_str(), "w", stderr) == nullptr) _exit(9);
      hostreg::RealPlatform platform(2);
      hostreg::FileStore stores[2] = {{platform, paths[0]}, {platform, paths[1]}};
      hostreg::Registry registries[2];
      std::unique_ptr<hostreg::RegistryFile> files[2];
      std::string error;
      for (int i = 0; i < 2; ++i) {
        auto bytes = stores[i].Read(true, nullptr, error);
        if (bytes) files[i] = hostreg::LoadRegistry(paths[i], bytes, registries[i], error);
        if (!files[i]) _exit(10);
      }
      if (truncate(paths[shortened].c_str(), 0) != 0) _exit(11);
      hostreg::Registry& registry = registries[shortened];
      hostreg::Key* last = registry.keys().FindSubkey(registry.keys().Root(), "Last");
      if (last == nullptr) _exit(12);
      registry.values().Of(*last);  // reads the lost end of the file
      _exit(13);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status)) << "signal " << WTERMSIG(status);
    EXPECT_EQ(2, WEXITSTATUS(status));
    EXPECT_EQ("regswitch: " + paths[shortened] +
                  ": the file was shortened by another program while it was "
                  "being read; stopped\n",
              ReadFile(errPath));
  }
}

TEST(HostProgram, TheInstalledBinaryGivesTheSameExitStatus) {
  const std::string folder = regtest::TempDir();
  const std::string path = folder + "/system.reg";
  regtest::WriteFile(path, kApm);
  const std::string binary = REGSWITCH_BINARY;
  const std::string quiet = " >" + folder + "/out 2>" + folder + "/err";
  struct Case {
    std::string args;
    int status;
  };
  const Case cases[] = {
      {"--registry " + path + " /SSP:1", 0},
      {"'/?'", 0},
      {"/DMA:1", 2},
      {"--registry " + folder + "/missing.reg /SSP:1", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const int raw = std::system((binary + " " + c.args + quiet).c_str());
    ASSERT_TRUE(WIFEXITED(raw));
    EXPECT_EQ(c.status, WEXITSTATUS(raw));
  }
  EXPECT_NE(std::string::npos, ReadFile(path).find("hex:01"));
}

// Files large enough that loading lets the pages behind it go and saving
// copies the unchanged stretches file to file: the changed key is read back
// from pages let go long before, or lies behind megabytes that are copied.
std::string Filler(size_t bytes) {
  std::string text = "[HKEY_LOCAL_MACHINE\\Filler]\r\n";
  for (size_t line = 0; text.size() < bytes; ++line) {
    if (line % 10 == 0)
      text += "\"v" + std::to_string(line) + "\"=hex:00,01,02\r\n";
    else
      text += "; " + std::string(96, 'f') + "\r\n";
  }
  return text;
}

const std::string kApmKey =
    "[HKEY_LOCAL_MACHINE\\Enum\\Root\\*PNP0C05\\0000]\r\n"
    "\"Class\"=\"System\"\r\n"
    "\"APMMenuSuspend\"=hex:00\r\n";

struct LargeCase {
  const char* label;
  std::string body;  // after the header
  bool utf16;
};

TEST(HostProgram, LargeFileIsChangedExactlyWhereverTheKeyLies) {
  const std::string filler = Filler(10 << 20);
  const LargeCase cases[] = {
      {"REGEDIT4, key first", kApmKey + filler, false},
      {"REGEDIT4, key last", filler + kApmKey, false},
      {"REGEDIT4, key between", filler + kApmKey + filler, false},
      {"Version 5.00, key first", kApmKey + filler, true},
      {"Version 5.00, key last", filler + kApmKey, true},
  };
  for (const LargeCase& c : cases) {
    SCOPED_TRACE(c.label);
    std::string after = c.body;
    const std::string value = "\"APMMenuSuspend\"=";
    after.replace(after.find(value) + value.size(), 6, "hex:01");
    const std::string before = c.utf16 ? regtest::Reg5(c.body)
                                       : regtest::Reg4(c.body);
    const std::string expected = c.utf16 ? regtest::Reg5(after)
                                         : regtest::Reg4(after);
    const ProgramRun dry = RunProgram(before, {"--dry-run", "/SSP:1"});
    EXPECT_EQ(0, dry.status) << dry.err;
    EXPECT_NE(std::string::npos, dry.out.find("\"APMMenuSuspend\"=hex:01"));
    EXPECT_TRUE(dry.file == before);
    const ProgramRun run = RunProgram(before, {"/SSP:1"});
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_TRUE(run.file == expected);
    const ProgramRun again = RunProgram(expected, {"/SSP:1"});
    EXPECT_EQ(0, again.status) << again.err;
    EXPECT_FALSE(again.saved);
  }
}

// Loading reads ahead for NUL bytes a stretch at a time; one far into the
// file is still found, on its own line.
TEST(HostProgram, NulByteFarIntoALargeFileIsRefused) {
  const std::string filler = Filler(10 << 20);
  const std::string before =
      regtest::Reg4(filler + std::string("\"v\"=\"a\0\"\r\n", 10) + filler);
  const size_t line =
      std::count(before.begin(), before.begin() + before.find('\0'), '\n') +
      1;
  const ProgramRun run = RunProgram(before, {"/SSP:1"});
  EXPECT_EQ(2, run.status);
  EXPECT_NE(std::string::npos,
            run.err.find("system.reg:" + std::to_string(line) + ": a NUL byte"))
      << run.err;
  EXPECT_TRUE(run.file == before);
}

}  // namespace
