// --show and --version end to end: the settings of the bundled sample and of
// a real Windows 98 SYSTEM.DAT before and after a run, the file left as it
// was, and the exit statuses.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/test_platform.h"
#include "test_support.h"

namespace {

using regtest::ProgramRun;
using regtest::ReadFile;
using regtest::RunProgramArgs;
using regtest::SourcePath;

struct ShowCase {
  const char* file;                   // under the source tree
  std::vector<std::string> switches;  // the run between the two --show
  const char* before;                 // the expected text, under tests/data/show
  const char* after;
};

const ShowCase kShowCases[] = {
    {"samples/win95-system.reg",
     {"/SSP:1", "/DDC:1", "/CDP:0", "/DMA:1", "/DIN:1", "/ACS"},
     "win95-sample.txt",
     "win95-sample-after-all.txt"},
    {"tests/data/win9x/SYSTEM.DAT",
     {"/DMA:1", "/CDP:0"},
     "win98-system.txt",
     "win98-system-after-dma1-cdp0.txt"},
};

struct stat StatOf(const std::string& path) {
  struct stat st = {};
  EXPECT_EQ(0, stat(path.c_str(), &st)) << path;
  return st;
}

TEST(ShowProgram, TheSettingsBeforeAndAfterARun) {
  for (const ShowCase& c : kShowCases) {
    SCOPED_TRACE(c.file);
    const std::string path = regtest::TempDir() + "/registry";
    const std::string original = ReadFile(SourcePath(c.file));
    regtest::WriteFile(path, original);
    const struct stat before = StatOf(path);

    ProgramRun run = RunProgramArgs({"--registry", path, "--show"});
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_EQ("", run.err);
    EXPECT_EQ(ReadFile(SourcePath(std::string("tests/data/show/") + c.before)),
              run.out);
    // Read, never written: the same bytes, the same file.
    EXPECT_EQ(original, ReadFile(path));
    const struct stat after = StatOf(path);
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);

    std::vector<std::string> args{"--registry", path};
    args.insert(args.end(), c.switches.begin(), c.switches.end());
    ASSERT_EQ(0, RunProgramArgs(args).status);
    run = RunProgramArgs({"--show", "--registry", path});
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_EQ(ReadFile(SourcePath(std::string("tests/data/show/") + c.after)),
              run.out);
  }
}

TEST(ShowProgram, AFileThatCannotBeReadIsExitStatus2) {
  const std::string dir = regtest::TempDir();
  // Refused at line 3: a NUL byte is no text.
  regtest::WriteFile(dir + "/bad.reg",
                     std::string("REGEDIT4\r\n\r\n\"v\"=\"a\0b\"\r\n", 23));
  struct Case {
    std::string path;
    const char* err;
  };
  const Case cases[] = {
      {dir + "/missing.reg", "missing.reg: cannot open: "},
      {dir + "/bad.reg", "bad.reg:3: "},
      {dir, "not a regular file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const ProgramRun run = RunProgramArgs({"--registry", c.path, "--show"});
    EXPECT_EQ(2, run.status);
    EXPECT_EQ("", run.out);
    // One line, naming the file.
    EXPECT_EQ(0u, run.err.find("regswitch: " + dir)) << run.err;
    EXPECT_NE(std::string::npos, run.err.find(c.err)) << run.err;
    EXPECT_EQ(run.err.size() - 1, run.err.find('\n')) << run.err;
  }
}

// Files a run would refuse to replace are read as a dry run reads them.
TEST(ShowProgram, FilesARunWouldNotReplaceStillShow) {
  const std::string expected =
      ReadFile(SourcePath("tests/data/show/win95-sample.txt"));
  const std::string sample = ReadFile(SourcePath("samples/win95-system.reg"));
  struct Case {
    const char* label;
    void (*prepare)(const std::string& path);
  };
  const Case cases[] = {
      {"read-only", [](const std::string& path) { chmod(path.c_str(), 0444); }},
      {"two hard links",
       [](const std::string& path) {
         EXPECT_EQ(0, link(path.c_str(), (path + ".other").c_str()));
       }},
      {"a symbolic link to it",
       [](const std::string& path) {
         EXPECT_EQ(0, rename(path.c_str(), (path + ".target").c_str()));
         EXPECT_EQ(0, symlink((path + ".target").c_str(), path.c_str()));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string path = regtest::TempDir() + "/system.reg";
    regtest::WriteFile(path, sample);
    c.prepare(path);
    const ProgramRun run = RunProgramArgs({"--registry", path, "--show"});
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_EQ("", run.err);
    EXPECT_EQ(expected, run.out);
    EXPECT_EQ(sample, ReadFile(path));
  }
}

// After the file is read, when the run looks again whether it is still at
// its path (the first look is the lock's), another program appends to it.
TEST(ShowProgram, AFileChangedMeanwhileShowsNothing) {
  const std::string path = regtest::TempDir() + "/system.reg";
  regtest::WriteFile(path, regtest::kApmExport);
  regtest::TestPlatform platform;
  platform.statPath = [&path, looks = 0](const char* p, struct stat* st) mutable {
    if (++looks == 2) {
      const int other = ::open(path.c_str(), O_WRONLY | O_APPEND);
      EXPECT_EQ(1, ::write(other, "\n", 1));
      ::close(other);
    }
    return ::stat(p, st);
  };
  const ProgramRun run =
      RunProgramArgs({"--registry", path, "--show"}, &platform);
  EXPECT_EQ(2, run.status);
  EXPECT_EQ("", run.out);
  EXPECT_NE(std::string::npos,
            run.err.find(path + ": changed by another program during the "
                                "run; run again to see it"))
      << run.err;
}

TEST(ShowProgram, VersionAndHelp) {
  ProgramRun run = RunProgramArgs({"--version"});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(std::string("regswitch ") + REGSWITCH_VERSION + "\n", run.out);
  run = RunProgramArgs({"--help"});
  EXPECT_EQ(0, run.status);
  for (const char* text : {"--registry FILE --show", "\n  --show ",
                           "\n  --version ", "--help | --version"})
    EXPECT_NE(std::string::npos, run.out.find(text)) << text;
}

}  // namespace
