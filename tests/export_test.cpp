// --export: a registry file written whole as REGEDIT4, in the form Windows
// 98's registry editor exports; and --backup, the file kept as it was
// before a save.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "creg_support.h"
#include "host/formats/export.h"
#include "support/test_platform.h"
#include "test_support.h"

namespace regtest {
namespace {

std::string Exported(hostreg::Registry& registry) {
  std::string text = hostreg::ExportHeader();
  hostreg::AppendExport(registry, text);
  return text;
}

// Keys from the root down, in the order the file holds them (not sorted),
// every key's line even without values, a blank line after each; strings
// quoted with \ and " escaped; dword: for four bytes; hex: and hex(N):
// otherwise, wrapped as the editor wraps (a line ends ",\" once it passes
// 76 columns, continuation lines indented by two blanks); a string that
// holds a line break as hex(1), which a raw break would split.
TEST(Export, WritesTheRegistryAsTheRegistryEditorExportsIt) {
  std::string bytes;
  for (int i = 0; i < 30; ++i) bytes += (i ? "," : "") + std::string("ab");
  Loaded loaded(Reg("[HKEY_LOCAL_MACHINE\\Zeta]\r\n"
                    "@=\"default\"\r\n"
                    "\"Path\"=\"C:\\\\WINDOWS \\\"quoted\\\"\"\r\n"
                    "\"Count\"=dword:00000102\r\n"
                    "\"Short\"=hex(4):01,02\r\n"
                    "\"Long\"=hex:" + bytes + "\r\n"
                    "\"Expand\"=hex(2):25,41,25,00\r\n"
                    "\"Lines\"=hex(1):61,0d,0a,62,00\r\n"
                    "[HKEY_LOCAL_MACHINE\\Zeta\\Sub]\r\n"
                    "[HKEY_LOCAL_MACHINE\\Alpha]\r\n\"V\"=\"\"\r\n"));
  ASSERT_TRUE(loaded.file) << loaded.error;
  EXPECT_EQ("REGEDIT4\r\n\r\n"
            "[HKEY_LOCAL_MACHINE]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Zeta]\r\n"
            "@=\"default\"\r\n"
            "\"Path\"=\"C:\\\\WINDOWS \\\"quoted\\\"\"\r\n"
            "\"Count\"=dword:00000102\r\n"
            "\"Short\"=hex(4):01,02\r\n"
            "\"Long\"=hex:ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,"
            "ab,\\\r\n  ab,ab,ab,ab,ab,ab,ab,ab\r\n"
            "\"Expand\"=hex(2):25,41,25,00\r\n"
            "\"Lines\"=hex(1):61,0d,0a,62,00\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Zeta\\Sub]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Alpha]\r\n"
            "\"V\"=\"\"\r\n\r\n",
            Exported(loaded.registry));
}

// A Windows 9x file's strings as its "A" calls read them: up to the first
// zero, whatever the record holds.
TEST(Export, AWindows9xFilesStringsReadAsWindowsReadsThem) {
  auto loaded = LoadCreg(Win98System());
  ASSERT_TRUE(loaded->file);
  hostreg::Key* key = loaded->Find("Enum");
  ASSERT_NE(nullptr, key);
  loaded->registry.values().Set(*key, "Cut", REG_SZ, std::string("ab\0cd", 5));
  loaded->registry.values().Set(*key, "Multi", REG_MULTI_SZ, std::string("a\0b\0\0", 5));
  const std::string text = Exported(loaded->registry);
  EXPECT_NE(std::string::npos,
            text.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion]\r\n"
                      "\"InstallType\"=hex:03,00\r\n\"SetupFlags\"=hex:08,0d,00,00\r\n"
                      "\"DevicePath\"=\"C:\\\\WINDOWS\\\\INF\"\r\n"));
  EXPECT_NE(std::string::npos, text.find("\"Cut\"=\"ab\"\r\n\"Multi\"=hex(7):61,00,62,00,00\r\n"))
      << text.substr(text.find("[HKEY_LOCAL_MACHINE\\Enum]"), 300);
}

struct ExportRun {
  const char* what;
  std::vector<std::string> args;  // after the program's name; FILE, USER, OUT replaced
  int status;
  const char* message;  // in standard error
};

// Through the program: to a file or standard output, the same text; the
// registry files are only read; an export never takes a source's place.
TEST(Export, ThroughTheProgramNothingIsWrittenToTheSource) {
  const std::string dir = TempDir();
  const std::string system = dir + "/SYSTEM.DAT", user = dir + "/USER.DAT",
                    out = dir + "/all.reg";
  const std::string userDat = ReadFile(SourcePath("tests/data/win9x/USER.DAT"));
  WriteFile(system, Win98System());
  WriteFile(user, userDat);
  ProgramRun toFile = RunProgramArgs({"--registry", system, "--user", user, "--export", out});
  ASSERT_EQ(0, toFile.status) << toFile.err;
  EXPECT_EQ("", toFile.err);
  ProgramRun toStdout = RunProgramArgs({"--registry", system, "--user", user, "--export", "-"});
  EXPECT_EQ(0, toStdout.status) << toStdout.err;
  const std::string text = ReadFile(out);
  EXPECT_TRUE(text == toStdout.out);
  // One header; the machine's keys, then the user's.
  EXPECT_EQ(0u, text.find("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE]\r\n"));
  EXPECT_EQ(std::string::npos, text.find("REGEDIT4", 1));
  EXPECT_LT(text.rfind("[HKEY_LOCAL_MACHINE\\"), text.find("[HKEY_USERS]\r\n"));
  EXPECT_TRUE(Win98System() == ReadFile(system));
  EXPECT_TRUE(userDat == ReadFile(user));
  // An export over an older one replaces it; over a source it is refused.
  WriteFile(out, "old");
  EXPECT_EQ(0, RunProgramArgs({"--registry", system, "--export", out}).status);
  EXPECT_EQ(0u, ReadFile(out).find("REGEDIT4\r\n"));
  const std::string link = dir + "/link.reg";
  ASSERT_EQ(0, symlink(system.c_str(), link.c_str()));
  for (const std::string& target : {system, link}) {
    ProgramRun onSource = RunProgramArgs({"--registry", system, "--export", target});
    EXPECT_EQ(2, onSource.status);
    EXPECT_NE(std::string::npos, onSource.err.find("which --export reads; give the export "
                                                   "another name"))
        << onSource.err;
  }
  EXPECT_TRUE(Win98System() == ReadFile(system));
}

// A full export of a .reg registry merged into the file with every key
// deleted gives the same keys and values (the Windows 9x files' round trip,
// read back by libcreg, is tests/creg/win9x_checks.py's).
TEST(Export, AFullExportMergedIntoAnEmptiedRegistryGivesTheSameRegistry) {
  const std::string original = ReadFile(SourcePath("samples/win95-system.reg"));
  const std::string dir = TempDir();
  const std::string path = dir + "/registry", exported = dir + "/all.reg",
                    wipe = dir + "/wipe.reg";
  WriteFile(path, original);
  ASSERT_EQ(0, RunProgramArgs({"--registry", path, "--export", exported}).status);
  Loaded before(original);
  std::string wiping = "REGEDIT4\r\n\r\n";
  for (const hostreg::Key* top : before.registry.keys().Subkeys(before.registry.keys().Root()))
    wiping += "[-HKEY_LOCAL_MACHINE\\" + before.registry.keys().Name(*top) + "]\r\n";
  WriteFile(wipe, wiping);
  ASSERT_EQ(0, RunProgramArgs({"--registry", path, "--merge", wipe}).status);
  ProgramRun merged = RunProgramArgs({"--registry", path, "--merge", exported});
  ASSERT_EQ(0, merged.status) << merged.err;
  Loaded after(ReadFile(path));
  ASSERT_TRUE(after.file) << after.error;
  EXPECT_TRUE(Flatten(before.registry) == Flatten(after.registry));
}

// --backup: the file as it was, beside it under a name nothing has; a
// later run keeps its own; Windows' own backups beside it are left alone;
// a copy that cannot be kept stops the save.
TEST(Backup, TheFileAsItWasIsKeptBesideItAndNothingIsOverwritten) {
  const std::string dir = TempDir();
  const std::string system = dir + "/SYSTEM.DAT";
  WriteFile(system, Win98System());
  WriteFile(dir + "/SYSTEM.DA0", "Windows 95's own backup");
  WriteFile(dir + "/SYSTEM.1ST", "Setup's copy");
  ProgramRun first = RunProgramArgs({"--registry", system, "--backup", "/DDC:0"});
  ASSERT_EQ(0, first.status) << first.err;
  EXPECT_NE(std::string::npos, first.err.find("SYSTEM.DAT: the file as it was is kept in "))
      << first.err;
  EXPECT_EQ(first.err.size() - 1, first.err.find("/SYSTEM.DAT.bak\n") + 15) << first.err;
  EXPECT_TRUE(Win98System() == ReadFile(system + ".bak"));
  const std::string once = ReadFile(system);
  EXPECT_FALSE(Win98System() == once);
  ASSERT_EQ(0, RunProgramArgs({"--registry", system, "--backup", "/DMA:1"}).status);
  EXPECT_TRUE(Win98System() == ReadFile(system + ".bak"));
  EXPECT_TRUE(once == ReadFile(system + ".bak2"));
  // Nothing to save: nothing kept.
  ASSERT_EQ(0, RunProgramArgs({"--registry", system, "--backup", "/DMA:1"}).status);
  EXPECT_EQ("Windows 95's own backup", ReadFile(dir + "/SYSTEM.DA0"));
  EXPECT_EQ("Setup's copy", ReadFile(dir + "/SYSTEM.1ST"));
  std::vector<std::string> entries = FolderEntries(dir);
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ((std::vector<std::string>{"SYSTEM.1ST", "SYSTEM.DA0", "SYSTEM.DAT",
                                      "SYSTEM.DAT.bak", "SYSTEM.DAT.bak2"}),
            entries);

  // The copy cannot be kept: the file stays as it was, no file is left.
  TestPlatform platform;
  platform.renameNoReplace = [](const char*, const char*) {
    errno = EIO;
    return -1;
  };
  const std::string saved = ReadFile(system);
  ProgramRun failed = RunProgramArgs({"--registry", system, "--backup", "/DDC:1"}, &platform);
  EXPECT_EQ(2, failed.status);
  EXPECT_NE(std::string::npos, failed.err.find("cannot keep a copy as ")) << failed.err;
  EXPECT_NE(std::string::npos, failed.err.find("/SYSTEM.DAT.bak: Input/output error"))
      << failed.err;
  EXPECT_TRUE(saved == ReadFile(system));
  EXPECT_EQ(5u, FolderEntries(dir).size());

  // A file no save may replace gets no copy either.
  const std::string other = TempDir();
  WriteFile(other + "/SYSTEM.DAT", Win98System());
  ASSERT_EQ(0, chmod((other + "/SYSTEM.DAT").c_str(), 0444));
  ProgramRun readOnly = RunProgramArgs({"--registry", other + "/SYSTEM.DAT", "--backup", "/DDC:0"});
  EXPECT_EQ(2, readOnly.status);
  EXPECT_NE(std::string::npos, readOnly.err.find("it is read-only")) << readOnly.err;
  EXPECT_EQ(std::vector<std::string>{"SYSTEM.DAT"}, FolderEntries(other));
}

}  // namespace
}  // namespace regtest
