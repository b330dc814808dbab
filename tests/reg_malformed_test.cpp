// Files the host program must refuse, and saves that fail half way: each is
// reported with the file (and line) and exit status 2, and the file on disk
// stays byte for byte as it was, with no temporary file left beside it.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "reg_support.h"
#include "support/test_platform.h"
#include "test_support.h"

namespace regtest {
namespace {

struct MalformedCase {
  const char* label;
  std::string bytes;
  int line;            // 0: the message names no line
  const char* reason;  // part of the message
};

const std::string kKey = "[HKEY_LOCAL_MACHINE\\Enum\\SCSI\\A]\r\n";

// Only what Windows' importer refuses whole: no header it takes, and what
// is no text. Everything else loads; the lines it skips are in
// reg_importer_test.cpp.
std::vector<MalformedCase> Catalogue() {
  return {
      {"empty file", "", 1, "the file is empty"},
      {"one byte", "R", 1, "one byte"},
      {"missing header", kKey + "\"v\"=hex:00\r\n", 1,
       "the first line must be REGEDIT4"},
      {"a blank line before the header", "\r\n" + Reg4(kKey), 1,
       "the first line must be REGEDIT4"},
      {"header in lower case", "regedit4\r\n\r\n" + kKey, 1,
       "the first line must be REGEDIT4"},
      {"Version 5.00 header in other case",
       "WINDOWS REGISTRY EDITOR VERSION 5.00\r\n\r\n" + kKey, 1,
       "the first line must be REGEDIT4"},
      {"binary junk", std::string("\x7f" "ELF\x02\x01\x01\0\0\0\xff\xfe", 12),
       1, "a NUL byte"},
      {"a NUL byte", Reg4(kKey + std::string("\"v\"=\"a\0b\"\r\n", 11)), 4,
       "a NUL byte"},
      {"UTF-16 without its mark",
       Reg5(kKey).substr(2), 1, "UTF-16 without its byte-order mark"},
      {"big-endian UTF-16", "\xFE\xFF" + Reg5(kKey).substr(3), 1,
       "big-endian UTF-16"},
      {"v5: a NUL character", Reg5(kKey + std::string("\"v\"=\"a\0\"\r\n", 9)),
       4, "a NUL byte"},
      {"UTF-8: no header after the mark", "\xEF\xBB\xBF" + kKey, 1,
       "the first line must be REGEDIT4"},
  };
}

TEST(RegMalformed, EachIsRefusedWithFileLineAndReasonAndLeftAlone) {
  for (const MalformedCase& c : Catalogue()) {
    SCOPED_TRACE(c.label);
    const ProgramRun run = RunProgram(c.bytes, {"/CDP:1", "/DMA:1", "/SSP:1"});
    EXPECT_EQ(2, run.status);
    const std::string where = "system.reg:" + std::to_string(c.line) + ": ";
    EXPECT_NE(std::string::npos, run.err.find(where)) << run.err;
    EXPECT_NE(std::string::npos, run.err.find(c.reason)) << run.err;
    EXPECT_EQ(c.bytes, run.file);
    EXPECT_EQ("", run.out);
  }
}

TEST(RegMalformed, DryRunRefusesTheSame) {
  const ProgramRun run = RunProgram(
      Reg4(kKey + std::string("\"v\"=\0\r\n", 7)), {"--dry-run", "/CDP:1"});
  EXPECT_EQ(2, run.status);
  EXPECT_NE(std::string::npos, run.err.find("system.reg:4: ")) << run.err;
  EXPECT_EQ("", run.out);
}

// ---------------------------------------------------------------------------
// Things that are no registry file at all, and reads that fail.

ProgramRun RunOn(const std::string& path, const char* tweak = "/SSP:1",
                 hostreg::Platform* platform = nullptr) {
  return RunProgramArgs({"--registry", path, tweak}, platform);
}

void ExpectRefused(const ProgramRun& run, const std::string& path,
                   const char* reason) {
  EXPECT_EQ(2, run.status);
  EXPECT_NE(std::string::npos, run.err.find(path + ": " + reason)) << run.err;
}

TEST(RegUnreadable, NotAFileOrNotReadable) {
  const std::string dir = TempDir();
  ExpectRefused(RunOn(dir + "/missing.reg"), dir + "/missing.reg",
                "cannot open: No such file");
  ExpectRefused(RunOn(dir), dir, "not a regular file");
  // A FIFO without a writer: refused at once, never waited on.
  const std::string fifo = dir + "/fifo.reg";
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
  ExpectRefused(RunOn(fifo), fifo, "not a regular file");
  ExpectRefused(RunOn("/dev/null"), "/dev/null", "not a regular file");
}

TEST(RegUnreadable, OpenOrReadFailureIsReportedAndTheFileKept) {
  const std::string dir = TempDir();
  const std::string path = dir + "/system.reg";
  const std::string text = ReadFile(SourcePath("samples/win95-system.reg"));
  WriteFile(path, text);
  {
    TestPlatform platform;
    platform.open = [](const char*, int) { errno = EACCES; return -1; };
    ExpectRefused(RunOn(path, "/SSP:1", &platform), path,
                  "cannot open: Permission denied");
  }
  TestPlatform platform;
  platform.readAt = [](int, void*, size_t, uint64_t) -> long {
    errno = EIO;
    return -1;
  };
  ExpectRefused(RunOn(path, "/SSP:1", &platform), path,
                "cannot read: Input/output error");
  EXPECT_EQ(text, ReadFile(path));
}

TEST(RegUnreadable, NoReadPermission) {
  if (geteuid() == 0)
    GTEST_SKIP() << "root reads files whatever their mode; the injected "
                    "EACCES in OpenOrReadFailureIsReported covers this path";
  const std::string path = TempDir() + "/system.reg";
  WriteFile(path, Reg4(kKey));
  ASSERT_EQ(0, chmod(path.c_str(), 0));
  ExpectRefused(RunOn(path), path, "cannot open: Permission denied");
}

// ---------------------------------------------------------------------------
// Saves that fail: the original stays, no temporary file is left.

long Fail(int code) {
  errno = code;
  return -1;
}

struct SaveFault {
  const char* label;
  void (*arm)(TestPlatform& platform);
  const char* reason;
};

const SaveFault kSaveFaults[] = {
    {"write fails",
     [](TestPlatform& p) {
       p.write = [](int, const void*, size_t) { return Fail(EIO); };
     },
     "cannot write: Input/output error"},
    {"disk full after a partial write",
     [](TestPlatform& p) {
       p.write = [writes = 0](int fd, const void* data, size_t size) mutable {
         if (writes++ == 0) return static_cast<long>(::write(fd, data, size / 2));
         return Fail(ENOSPC);
       };
     },
     "cannot write: No space left on device"},
    {"write makes no progress",
     [](TestPlatform& p) {
       p.write = [](int, const void*, size_t) -> long { return 0; };
     },
     "cannot write: No space left on device"},
    {"flush fails",
     [](TestPlatform& p) {
       p.sync = [](int) { return static_cast<int>(Fail(EIO)); };
     },
     "cannot flush: Input/output error"},
    {"rename fails",
     [](TestPlatform& p) {
       p.rename = [](const char*, const char*) {
         return static_cast<int>(Fail(EXDEV));
       };
     },
     "cannot replace: Invalid cross-device link"},
    {"copy of an unchanged stretch fails",
     [](TestPlatform& p) {
       p.copy = [](int, long long*, int, size_t) { return Fail(EIO); };
     },
     "cannot copy: Input/output error"},
    {"disk full while copying",
     [](TestPlatform& p) {
       p.copy = [](int, long long*, int, size_t) { return Fail(ENOSPC); };
     },
     "cannot copy: No space left on device"},
    {"no copying between these files, and writes fail",
     [](TestPlatform& p) {
       p.copy = [](int, long long*, int, size_t) { return Fail(EXDEV); };
       p.write = [](int, const void*, size_t) { return Fail(EIO); };
     },
     "cannot write: Input/output error"},
};

TEST(RegSaveFaults, OriginalIntactAndNoTemporaryLeft) {
  const std::string text = ReadFile(SourcePath("samples/win95-system.reg"));
  for (const std::string format : {"REGEDIT4", "v5"}) {
    const std::string bytes =
        format == "REGEDIT4"
            ? text
            : ReadFile(SourcePath("tests/data/wine-enum-v5.reg"));
    for (const SaveFault& fault : kSaveFaults) {
      SCOPED_TRACE(format + ": " + fault.label);
      const std::string dir = TempDir();
      const std::string path = dir + "/system.reg";
      WriteFile(path, bytes);
      TestPlatform platform;
      fault.arm(platform);
      const ProgramRun run = RunOn(path, "/SSP:1", &platform);
      ExpectRefused(run, path, fault.reason);
      EXPECT_NE(std::string::npos, run.err.find("the file was left as it was"));
      EXPECT_EQ(bytes, ReadFile(path));
      EXPECT_EQ(std::vector<std::string>{"system.reg"}, regtest::FolderEntries(dir));
      // The same run without the fault saves.
      const ProgramRun again = RunOn(path);
      EXPECT_EQ(0, again.status) << again.err;
      EXPECT_NE(bytes, ReadFile(path));
      EXPECT_EQ(std::vector<std::string>{"system.reg"}, regtest::FolderEntries(dir));
    }
  }
}

// Where the kernel cannot copy between the files, the unchanged stretches
// are written from memory instead and the save comes out the same. Each
// refusal counts the copies asked for in `copies`.
using CopyCall = std::function<long(int, long long*, int, size_t)>;

struct CopyRefusal {
  const char* label;
  CopyCall (*make)(int& copies);
};

long RealCopy(int from, long long* offset, int to, size_t size) {
  loff_t at = *offset;
  const long n = ::copy_file_range(from, &at, to, nullptr, size, 0);
  *offset = at;
  return n;
}

CopyCall Refusing(int& copies, int code) {
  return [&copies, code](int, long long*, int, size_t) {
    ++copies;
    return Fail(code);
  };
}

const CopyRefusal kCopyRefusals[] = {
    {"across file systems", [](int& c) { return Refusing(c, EXDEV); }},
    {"no such call", [](int& c) { return Refusing(c, ENOSYS); }},
    {"not for these files", [](int& c) { return Refusing(c, EINVAL); }},
    {"not supported", [](int& c) { return Refusing(c, EOPNOTSUPP); }},
    {"copies nothing",
     [](int& copies) -> CopyCall {
       return [&copies](int, long long*, int, size_t) -> long {
         ++copies;
         return 0;
       };
     }},
    {"copies a little, then refuses",
     [](int& copies) -> CopyCall {
       return [&copies](int from, long long* offset, int to, size_t size) {
         if (copies++ > 0) return Fail(EXDEV);
         return RealCopy(from, offset, to, size < 7 ? size : 7);
       };
     }},
};

TEST(RegSaveFaults, CopyRefusedFallsBackToWriting) {
  const std::string text = ReadFile(SourcePath("samples/win95-system.reg"));
  for (const std::string format : {"REGEDIT4", "v5"}) {
    const std::string bytes =
        format == "REGEDIT4"
            ? text
            : ReadFile(SourcePath("tests/data/wine-enum-v5.reg"));
    const std::string dir = TempDir();
    const std::string path = dir + "/system.reg";
    WriteFile(path, bytes);
    ASSERT_EQ(0, RunOn(path).status);
    const std::string expected = ReadFile(path);
    ASSERT_NE(bytes, expected);
    for (const CopyRefusal& refusal : kCopyRefusals) {
      SCOPED_TRACE(format + ": " + refusal.label);
      WriteFile(path, bytes);
      int copies = 0;
      TestPlatform platform;
      platform.copy = refusal.make(copies);
      const ProgramRun run = RunOn(path, "/SSP:1", &platform);
      EXPECT_EQ(0, run.status) << run.err;
      EXPECT_GT(copies, 0);
      EXPECT_EQ(expected, ReadFile(path));
      EXPECT_EQ(std::vector<std::string>{"system.reg"}, regtest::FolderEntries(dir));
    }
  }
}

// Short unchanged stretches between changed lines are written from memory,
// long ones copied: the saved file is the same either way, and the same as
// when the kernel copies nothing at all.
struct StretchCase {
  const char* label;
  bool v5;
  bool copyRefused;
};

const StretchCase kStretchCases[] = {
    {"REGEDIT4", false, false},
    {"REGEDIT4, copying refused", false, true},
    {"Version 5.00", true, false},
    {"Version 5.00, copying refused", true, true},
};

TEST(RegSaveFaults, ShortAndLongStretchesBetweenChangesSaveAlike) {
  // Devices one after the other (short stretches between their changed
  // lines), one with a long value between them, and unchanged lines after.
  std::string body, expected;
  for (int i = 0; i < 12; ++i) {
    std::string key = "[HKEY_LOCAL_MACHINE\\Enum\\SCSI\\CD" +
                      std::to_string(i) + "\\ROOT&0000]\r\n";
    if (i == 5) key += "\"Filler\"=\"" + std::string(9000, 'f') + "\"\r\n";
    body += key + "\"AutoInsertNotification\"=hex:00\r\n\r\n";
    expected += key + "\"AutoInsertNotification\"=hex:01\r\n\r\n";
  }
  body += "[HKEY_LOCAL_MACHINE\\Software]\r\n\"x\"=\"1\"\r\n";
  expected += "[HKEY_LOCAL_MACHINE\\Software]\r\n\"x\"=\"1\"\r\n";
  for (const StretchCase& c : kStretchCases) {
    SCOPED_TRACE(c.label);
    const std::string path = TempDir() + "/system.reg";
    WriteFile(path, c.v5 ? Reg5(body) : Reg4(body));
    int copies = 0;
    TestPlatform platform;
    platform.copy = [&copies](int from, long long* offset, int to,
                              size_t size) {
      ++copies;
      return RealCopy(from, offset, to, size);
    };
    if (c.copyRefused) platform.copy = kCopyRefusals[0].make(copies);
    const ProgramRun run = RunOn(path, "/CDP:1", &platform);
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_GT(copies, 0);
    EXPECT_EQ(c.v5 ? Reg5(expected) : Reg4(expected), ReadFile(path));
  }
}

// A file cut short under us while saving is refused, not padded out.
TEST(RegSaveFaults, FileShrunkWhileCopyingIsReported) {
  const std::string dir = TempDir();
  const std::string path = dir + "/system.reg";
  WriteFile(path, ReadFile(SourcePath("samples/win95-system.reg")));
  TestPlatform platform;
  platform.copy = [&path](int, long long*, int, size_t) -> long {
    return ::truncate(path.c_str(), 1) == 0 ? 0 : -1;
  };
  const ProgramRun run = RunOn(path, "/SSP:1", &platform);
  ExpectRefused(run, path, "cannot copy: Input/output error");
  EXPECT_EQ("R", ReadFile(path));
  EXPECT_EQ(std::vector<std::string>{"system.reg"}, regtest::FolderEntries(dir));
}

TEST(RegSaveFaults, SaveKeepsModeAndFollowsSymbolicLinks) {
  const std::string dir = TempDir();
  const std::string path = dir + "/system.reg";
  WriteFile(path, ReadFile(SourcePath("samples/win95-system.reg")));
  ASSERT_EQ(0, chmod(path.c_str(), 0640));
  ASSERT_EQ(0, symlink("system.reg", (dir + "/link.reg").c_str()));
  EXPECT_EQ(0, RunOn(dir + "/link.reg").status);
  struct stat st;
  ASSERT_EQ(0, lstat((dir + "/link.reg").c_str(), &st));
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(0, stat(path.c_str(), &st));
  EXPECT_EQ(0640u, st.st_mode & 07777);
  EXPECT_NE(std::string::npos,
            ReadFile(path).find("\"APMMenuSuspend\"=hex:01"));
}

}  // namespace
}  // namespace regtest
