// What a save keeps besides the bytes (ACLs, extended attributes, the
// mode), what it cleans up after a killed run, and saves refused before
// anything is written rather than half done.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

#include "reg_support.h"
#include "support/test_platform.h"
#include "test_support.h"

namespace regtest {
namespace {

const std::string& kApm = kApmExport;

std::string Switched(std::string text) {
  text.replace(text.find("hex:00"), 6, "hex:01");
  return text;
}

// A POSIX ACL as the kernel keeps it in system.posix_acl_access: a
// version, then (tag, permissions, id) entries in order of tag and id.
std::string AclBlob(uint32_t user, int userPerms, int groupPerms, int mask) {
  std::string blob;
  auto u32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) blob += static_cast<char>(v >> (8 * i));
  };
  auto entry = [&](uint16_t tag, uint16_t perms, uint32_t id) {
    blob += static_cast<char>(tag);
    blob += static_cast<char>(tag >> 8);
    blob += static_cast<char>(perms);
    blob += static_cast<char>(perms >> 8);
    u32(id);
  };
  u32(2);
  entry(0x01, 6, 0xFFFFFFFF);         // user::rw-
  entry(0x02, userPerms, user);       // user:USER:...
  entry(0x04, groupPerms, 0xFFFFFFFF);  // group::...
  entry(0x10, mask, 0xFFFFFFFF);      // mask::...
  entry(0x20, 4, 0xFFFFFFFF);         // other::r--
  return blob;
}

std::string Attribute(const std::string& path, const char* name) {
  char value[256];
  const ssize_t n = getxattr(path.c_str(), name, value, sizeof value);
  return n < 0 ? std::string("(none)") : std::string(value, static_cast<size_t>(n));
}

// The ACL's group entry says r--, its mask rw-: the mode's group bits are
// the mask. A new file given the mode alone would let the group write.
TEST(SaveKeeps, TheAclAndExtendedAttributesNeverWideningTheGroup) {
  const std::string path = TempDir() + "/system.reg";
  WriteFile(path, kApm);
  const std::string acl = AclBlob(65534, 6, 4, 6);
  REGTEST_NEED(setxattr(path.c_str(), "system.posix_acl_access", acl.data(),
                        acl.size(), 0) == 0,
               "no POSIX ACLs where the tests write: " << strerror(errno));
  ASSERT_EQ(0, setxattr(path.c_str(), "user.comment", "kept", 4, 0));
  struct stat before;
  ASSERT_EQ(0, stat(path.c_str(), &before));
  const ProgramRun run = RunProgramArgs({"--registry", path, "/SSP:1"});
  ASSERT_EQ(0, run.status) << run.err;
  EXPECT_TRUE(run.saved);
  EXPECT_EQ(Switched(kApm), ReadFile(path));
  EXPECT_EQ(acl, Attribute(path, "system.posix_acl_access"));
  EXPECT_EQ("kept", Attribute(path, "user.comment"));
  struct stat after;
  ASSERT_EQ(0, stat(path.c_str(), &after));
  EXPECT_EQ(before.st_mode & 07777, after.st_mode & 07777);
}

TEST(SaveKeeps, AnAttributeThatCannotBeKeptRefusesTheSave) {
  const std::string path = TempDir() + "/system.reg";
  WriteFile(path, kApm);
  TestPlatform platform;
  platform.copyAttributes = [](int, int, std::string& which) {
    which = "security.label";
    errno = EPERM;
    return false;
  };
  const ProgramRun run =
      RunProgramArgs({"--registry", path, "/SSP:1"}, &platform);
  EXPECT_EQ(2, run.status);
  EXPECT_NE(std::string::npos,
            run.err.find(path + ": cannot keep its extended attribute "
                                "security.label in a new file: Operation not "
                                "permitted"))
      << run.err;
  EXPECT_EQ(kApm, ReadFile(path));
  EXPECT_EQ(std::vector<std::string>{"system.reg"},
            FolderEntries(path.substr(0, path.rfind('/'))));
}

// Temporary files a killed run left are removed by the next save in the
// folder; one a live run holds, and every other name, stay.
TEST(SaveCleansUp, TemporaryFilesOfKilledRunsGoOthersStay) {
  const std::string dir = TempDir();
  const std::string path = dir + "/system.reg";
  WriteFile(path, kApm);
  for (const char* name : {".regswitch-Ab12Cd", ".regswitch-Lk34Mn",
                           ".regswitch-x", ".regswitch-Ab12Cd.bak", "notes"})
    WriteFile(dir + "/" + name, "left");
  const int held = open((dir + "/.regswitch-Lk34Mn").c_str(), O_RDONLY);
  ASSERT_EQ(0, flock(held, LOCK_EX));
  // A dry run removes nothing; a save does.
  ASSERT_EQ(0, RunProgramArgs({"--registry", path, "--dry-run", "/SSP:1"}).status);
  EXPECT_EQ(6u, FolderEntries(dir).size());
  const ProgramRun run = RunProgramArgs({"--registry", path, "/SSP:1"});
  ASSERT_EQ(0, run.status) << run.err;
  std::vector<std::string> left = FolderEntries(dir);
  std::sort(left.begin(), left.end());
  EXPECT_EQ((std::vector<std::string>{".regswitch-Ab12Cd.bak",
                                      ".regswitch-Lk34Mn", ".regswitch-x",
                                      "notes", "system.reg"}),
            left);
  close(held);
}

// A folder that takes no new file: the dry run says so first, the save is
// refused, and both name the folder.
TEST(SaveRefused, AFolderThatTakesNoNewFileIsToldByTheDryRun) {
  const std::string dir = TempDir();
  const std::string path = dir + "/system.reg";
  WriteFile(path, kApm);
  TestPlatform platform;
  platform.mayWrite = [&dir](const char* p) {
    if (dir != p) return 0;
    errno = EACCES;
    return -1;
  };
  const ProgramRun dry = RunProgramArgs(
      {"--registry", path, "--dry-run", "/SSP:1"}, &platform);
  EXPECT_EQ(0, dry.status);
  EXPECT_NE(std::string::npos,
            dry.err.find(path + ": a save would be refused: cannot create a "
                                "temporary file in " + dir +
                         ": Permission denied"))
      << dry.err;
  EXPECT_NE(std::string::npos, dry.out.find("hex:01"));
  EXPECT_EQ(kApm, ReadFile(path));
}

// --registry and --user naming one file (by name or link) would wait for
// the file's own lock: refused at once, naming both.
TEST(SaveRefused, TheSameFileAsRegistryAndUserIsRefusedAtOnce) {
  const std::string dir = TempDir();
  const std::string path = dir + "/SYSTEM.DAT";
  WriteFile(path, ReadFile(SourcePath("tests/data/win9x/SYSTEM.DAT")));
  ASSERT_EQ(0, symlink("SYSTEM.DAT", (dir + "/USER.DAT").c_str()));
  WriteFile(dir + "/m.reg", Reg4("[HKEY_USERS\\.DEFAULT\\x]\r\n"));
  for (const std::string& user : {path, dir + "/USER.DAT"}) {
    SCOPED_TRACE(user);
    unsigned slept = 0;
    TestPlatform platform;
    platform.sleep = [&slept](unsigned ms) { slept += ms; };
    const ProgramRun run = RunProgramArgs(
        {"--registry", path, "--user", user, "--merge", dir + "/m.reg"},
        &platform);
    EXPECT_EQ(2, run.status);
    EXPECT_EQ(0u, slept);
    EXPECT_NE(std::string::npos,
              run.err.find(path + " and " + user + " are the same file"))
        << run.err;
  }
}

// A UTF-16 merge's text holds characters code page 1252 has no byte for:
// where the registry would keep them as '?', a .reg file would be saved
// otherwise than Windows' importer imports the merge, and is refused; a
// character 1252 has goes through. Half a surrogate pair in a name has no
// UTF-8 form: refused there, kept in UTF-16.
struct WideMerge {
  const char* label;
  std::string target;
  std::string merge;  // UTF-8 text, turned into a UTF-16 file
  bool saved;
  const char* refusal;
};

TEST(SaveRefused, AMergeThatWouldLoseCharactersIsRefused) {
  const std::string utf8Export =
      "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\Software]\r\n";
  const std::string utf16Export =
      Reg5("[HKEY_LOCAL_MACHINE\\Software]\r\n");
  const std::string ansiExport = Reg4("[HKEY_LOCAL_MACHINE\\Software]\r\n");
  const std::string zhe = "[HKEY_LOCAL_MACHINE\\Software\\T]\r\n\"v\"=\"v\xD0\x96\"\r\n";
  const std::string eacute = "[HKEY_LOCAL_MACHINE\\Software\\T]\r\n\"v\"=\"v\xC3\xA9\"\r\n";
  const char* lost = "held a character that code page 1252 cannot hold";
  const WideMerge cases[] = {
      {"Zhe into UTF-8", utf8Export, zhe, false, lost},
      {"Zhe into UTF-16", utf16Export, zhe, false, lost},
      {"Zhe into 8-bit", ansiExport, zhe, false, lost},
      {"e-acute into UTF-8", utf8Export, eacute, true, ""},
      {"e-acute into 8-bit", ansiExport, eacute, true, ""},
  };
  for (const WideMerge& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string dir = TempDir();
    WriteFile(dir + "/t.reg", c.target);
    WriteFile(dir + "/m.reg",
              Utf16("Windows Registry Editor Version 5.00\r\n\r\n" + c.merge));
    const ProgramRun dry = RunProgramArgs(
        {"--registry", dir + "/t.reg", "--merge", dir + "/m.reg", "--dry-run"});
    const ProgramRun run = RunProgramArgs(
        {"--registry", dir + "/t.reg", "--merge", dir + "/m.reg"});
    EXPECT_EQ(c.saved ? 0 : 2, run.status) << run.err;
    EXPECT_EQ(c.saved, run.saved);
    if (!c.saved) {
      EXPECT_TRUE(c.target == ReadFile(dir + "/t.reg"));
      EXPECT_NE(std::string::npos, run.err.find(c.refusal)) << run.err;
      EXPECT_NE(std::string::npos, dry.err.find("a save would be refused: "))
          << dry.err;
    }
  }
}

TEST(SaveRefused, HalfASurrogatePairHasNoUtf8) {
  // Built as UTF-16 units: a key named "k" + U+D800 alone.
  std::string merge = Utf16("Windows Registry Editor Version 5.00\r\n\r\n"
                            "[HKEY_LOCAL_MACHINE\\Software\\k");
  merge += std::string("\x00\xD8", 2);
  merge += Utf16("]\r\n").substr(2);
  struct Case {
    const char* label;
    std::string target;
    int status;
  };
  const Case cases[] = {
      {"UTF-8", "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n"
                "[HKEY_LOCAL_MACHINE\\Software]\r\n", 2},
      {"UTF-16", Reg5("[HKEY_LOCAL_MACHINE\\Software]\r\n"), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string dir = TempDir();
    WriteFile(dir + "/t.reg", c.target);
    WriteFile(dir + "/m.reg", merge);
    const ProgramRun run = RunProgramArgs(
        {"--registry", dir + "/t.reg", "--merge", dir + "/m.reg"});
    EXPECT_EQ(c.status, run.status) << run.err;
    if (c.status == 2) {
      EXPECT_NE(std::string::npos,
                run.err.find("holds half a UTF-16 surrogate pair, which UTF-8 "
                             "cannot hold"))
          << run.err;
      EXPECT_TRUE(c.target == ReadFile(dir + "/t.reg"));
    } else {
      // The key reads back with the very unit.
      EXPECT_NE(std::string::npos,
                ReadFile(dir + "/t.reg").find(std::string("k\0\x00\xD8]", 5)));
    }
  }
}

}  // namespace
}  // namespace regtest
