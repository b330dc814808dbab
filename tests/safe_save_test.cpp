// Saves that cannot lose data: runs on one file take turns, a file that
// another program changed during the run is not replaced, and no
// temporary file outlives a run, whatever ends it.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "host/cli/run.h"
#include "reg_support.h"
#include "support/test_platform.h"
#include "test_support.h"

extern char** environ;

namespace regtest {
namespace {

const std::string& kApm = kApmExport;

std::string Switched(const std::string& text) {
  std::string on = text;
  on.replace(on.find("hex:00"), 6, "hex:01");
  return on;
}

// The exit status, or 128 + the signal that ended the process.
int Finished(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// ---------------------------------------------------------------------------
// Runs on one file at the same time take turns.

struct ParallelCase {
  const char* label;
  std::string file;
  std::vector<std::string> switches;
};

// Runs in child processes, each holding the file a while after it has it
// open (as a slow disk would), so that without the lock they would all
// read it at once and all but one fail to save.
pid_t StartSlow(const std::vector<std::string>& args) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr))
    _exit(99);
  TestPlatform platform;
  platform.readAt = [first = true](int fd, void* buffer, size_t size,
                                   uint64_t offset) mutable {
    if (first) usleep(20000);
    first = false;
    return static_cast<long>(pread(fd, buffer, size, static_cast<off_t>(offset)));
  };
  _exit(RunProgramArgs(args, &platform).status);
}

TEST(ConcurrentRuns, DifferentSwitchesAtOnceLoseNoChange) {
  const ParallelCase cases[] = {
      {"sample export", SourcePath("samples/win95-system.reg"),
       {"/DDC:1", "/DMA:1", "/CDP:1", "/SSP:1"}},
      // Its DDC is on already ("1", as Windows 9x keeps strings).
      {"Windows 98 SYSTEM.DAT", SourcePath("tests/data/win9x/SYSTEM.DAT"),
       {"/DDC:0", "/DMA:1", "/ACS"}},
  };
  constexpr int kRounds = 8;
  for (const ParallelCase& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string original = ReadFile(c.file);
    const std::string dir = TempDir();
    const std::string path = dir + "/registry";
    std::vector<std::string> check{"--registry", path, "--dry-run"};
    // Each switch has something to change, or the test would prove nothing.
    WriteFile(path, original);
    for (const std::string& s : c.switches) {
      check.push_back(s);
      EXPECT_NE("", RunProgramArgs({"--registry", path, "--dry-run", s}).out) << s;
    }
    int failed = 0;
    int lost = 0;
    for (int round = 0; round < kRounds; ++round) {
      WriteFile(path, original);
      std::vector<pid_t> runs;
      for (const std::string& s : c.switches)
        runs.push_back(StartSlow({"--registry", path, s}));
      for (const pid_t run : runs) failed += Finished(run) != 0;
      lost += RunProgramArgs(check).out != "";
    }
    EXPECT_EQ(0, failed);
    EXPECT_EQ(0, lost) << "rounds with a lost change, of " << kRounds;
    EXPECT_EQ(std::vector<std::string>{"registry"}, FolderEntries(dir));
  }
}

// The lock, held by a program that locks the file as regswitch does; the
// run's waits are counted rather than slept.
struct HeldLockCase {
  const char* label;
  int held;  // LOCK_EX or LOCK_SH
  bool dryRun;
  int status;
};

TEST(ConcurrentRuns, ALockHeldTooLongEndsTheRunNamingTheFile) {
  const HeldLockCase cases[] = {
      {"held alone, a run that saves", LOCK_EX, false, 2},
      {"held alone, a dry run", LOCK_EX, true, 2},
      {"shared, a run that saves", LOCK_SH, false, 2},
      {"shared, a dry run", LOCK_SH, true, 0},  // readers share it
  };
  for (const HeldLockCase& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string path = TempDir() + "/system.reg";
    WriteFile(path, kApm);
    const int holder = open(path.c_str(), O_RDONLY);
    ASSERT_EQ(0, flock(holder, c.held));
    unsigned slept = 0;
    TestPlatform platform;
    platform.sleep = [&slept](unsigned ms) { slept += ms; };
    std::vector<std::string> args{"--registry", path, "/SSP:1"};
    if (c.dryRun) args.push_back("--dry-run");
    const ProgramRun run = RunProgramArgs(args, &platform);
    EXPECT_EQ(c.status, run.status) << run.err;
    if (c.status == 2) {
      EXPECT_NE(std::string::npos,
                run.err.find(path + ": waiting for another run to finish"))
          << run.err;
      EXPECT_NE(std::string::npos,
                run.err.find(path + ": another run (or program) has held a "
                                    "lock on the file for 30 seconds; nothing "
                                    "was changed"))
          << run.err;
      EXPECT_GE(slept, 30000u);
      EXPECT_LT(slept, 30200u);
    } else {
      EXPECT_EQ(0u, slept);
    }
    EXPECT_EQ(kApm, ReadFile(path));
    close(holder);
  }
}

// Where the file system has no locks (flock fails as unsupported, as
// through NFS for a file opened to read), the run goes on without one.
TEST(ConcurrentRuns, NoLocksOnTheFileSystemIsNoError) {
  for (const int error : {ENOLCK, EOPNOTSUPP, EBADF}) {
    SCOPED_TRACE(error);
    const std::string path = TempDir() + "/system.reg";
    WriteFile(path, kApm);
    TestPlatform platform;
    platform.lock = [error](int, int) {
      errno = error;
      return -1;
    };
    const ProgramRun run =
        RunProgramArgs({"--registry", path, "/SSP:1"}, &platform);
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_EQ(Switched(kApm), ReadFile(path));
  }
}

// The lock goes while the run waits: the other run ended without saving,
// or it saved, renaming its new file over the one whose lock was waited on.
// The waiting run then changes the file that is there, without a word for
// a short wait, and neither fails nor saves over the other's change.
struct WaitCase {
  const char* label;
  // What the other run does while this one waits: it holds the lock by
  // `holder` on the file at `path`.
  void (*whileWaiting)(const std::string& path, int holder);
  std::string expected;
};

TEST(ConcurrentRuns, ARunThatWaitedChangesTheFileThatIsThere) {
  const std::string theirs = kApm + "\"Other\"=\"saved\"\r\n";
  const WaitCase cases[] = {
      {"the other run ends",
       [](const std::string&, int holder) { close(holder); }, Switched(kApm)},
      {"the other run saves",
       [](const std::string& path, int holder) {
         WriteFile(path + ".new", kApm + "\"Other\"=\"saved\"\r\n");
         rename((path + ".new").c_str(), path.c_str());
         close(holder);
       },
       Switched(theirs)},
  };
  for (const WaitCase& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string dir = TempDir();
    const std::string path = dir + "/system.reg";
    WriteFile(path, kApm);
    const int holder = open(path.c_str(), O_RDONLY);
    ASSERT_EQ(0, flock(holder, LOCK_EX));
    int sleeps = 0;
    TestPlatform platform;
    platform.sleep = [&](unsigned) {
      if (++sleeps == 5) c.whileWaiting(path, holder);
    };
    const ProgramRun run =
        RunProgramArgs({"--registry", path, "/SSP:1"}, &platform);
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_EQ(5, sleeps);
    EXPECT_EQ("", run.err);
    EXPECT_EQ(c.expected, ReadFile(path));
    EXPECT_EQ(std::vector<std::string>{"system.reg"}, FolderEntries(dir));
  }
}

// ---------------------------------------------------------------------------
// Another program changes the file while a run has it: nothing is saved
// over its change, and nothing is described from a file that is gone.

void Append(const std::string& path) {
  const int fd = open(path.c_str(), O_WRONLY | O_APPEND);
  EXPECT_EQ(9, write(fd, "; added\r\n", 9));
  close(fd);
}

// The same size, one byte else: "Class"="System" becomes "Xystem".
void RewriteAByte(const std::string& path) {
  const int fd = open(path.c_str(), O_WRONLY);
  const off_t at = static_cast<off_t>(ReadFile(path).find("System"));
  EXPECT_EQ(1, pwrite(fd, "X", 1, at));
  close(fd);
}

void RewriteLonger(const std::string& path) {
  WriteFile(path, ReadFile(path) + "\"Longer\"=\"yes\"\r\n");
}

void ReplaceByRename(const std::string& path) {
  WriteFile(path + ".new", kApm + "; theirs\r\n");
  rename((path + ".new").c_str(), path.c_str());
}

void Remove(const std::string& path) { unlink(path.c_str()); }

struct Interference {
  const char* label;
  void (*change)(const std::string& path);
  // The file system's clock shows no change: times as they were at first.
  bool coarseClock;
};

const Interference kInterferences[] = {
    {"appends a line", Append, false},
    {"rewrites a byte in place", RewriteAByte, false},
    {"rewrites a byte in place within one tick of the clock", RewriteAByte,
     true},
    {"truncates it and writes it longer", RewriteLonger, false},
    {"replaces it by a rename", ReplaceByRename, false},
    {"removes it", Remove, false},
};

// The change comes after the file is read: in a save, while the new file
// is flushed; in a dry run, when the run looks again whether the file is
// still at its path (the first look is the lock's).
void Interfere(TestPlatform& platform, bool dryRun, const std::string& path,
               void (*change)(const std::string&)) {
  if (dryRun) {
    platform.statPath = [=, looks = 0](const char* p, struct stat* st) mutable {
      if (++looks == 2) change(path);
      return ::stat(p, st);
    };
  } else {
    platform.sync = [=, done = false](int fd) mutable {
      if (!done) change(path);
      done = true;
      return ::fsync(fd);
    };
  }
}

// A clock too coarse to show the change: the times stay as first seen.
void FreezeTimes(TestPlatform& platform) {
  platform.stat = [frozen = false, first = (struct stat){}](
                      int fd, struct stat* st) mutable {
    const int result = ::fstat(fd, st);
    if (!frozen) first = *st;
    frozen = true;
    st->st_mtim = first.st_mtim;
    st->st_ctim = first.st_ctim;
    return result;
  };
}

TEST(OtherPrograms, AFileChangedDuringTheRunIsNeitherSavedNorDescribed) {
  for (const bool dryRun : {false, true}) {
    for (const Interference& c : kInterferences) {
      SCOPED_TRACE(std::string(dryRun ? "dry run: " : "save: ") + c.label);
      const std::string dir = TempDir();
      const std::string path = dir + "/system.reg";
      WriteFile(path, kApm);
      c.change(path);
      const bool removed = FolderEntries(dir).empty();
      const std::string theirs = removed ? "" : ReadFile(path);
      WriteFile(path, kApm);
      TestPlatform platform;
      Interfere(platform, dryRun, path, c.change);
      if (c.coarseClock) FreezeTimes(platform);
      std::vector<std::string> args{"--registry", path, "/SSP:1"};
      if (dryRun) args.push_back("--dry-run");
      const ProgramRun run = RunProgramArgs(args, &platform);
      EXPECT_EQ(2, run.status);
      EXPECT_EQ("", run.out);
      const std::string why = path + ": changed by another program during the run; " +
                              (dryRun ? "run again to see its changes"
                                      : "the file was left as it was");
      EXPECT_NE(std::string::npos, run.err.find(why)) << run.err;
      EXPECT_EQ(theirs, ReadFile(path));
      EXPECT_EQ(removed ? std::vector<std::string>{}
                        : std::vector<std::string>{"system.reg"},
                FolderEntries(dir));
    }
  }
}

// ---------------------------------------------------------------------------
// Whatever ends a run while it saves, no temporary file is left.

struct EndingCase {
  const char* label;
  int signal;    // raised while saving, or 0
  bool shrink;   // the file is cut short while saving
  long limit;    // a file size limit, or 0
  int status;    // exit status, or 128 + the signal
  const char* err;
};

const EndingCase kEndings[] = {
    {"SIGTERM", SIGTERM, false, 0, 128 + SIGTERM, ""},
    {"SIGINT", SIGINT, false, 0, 128 + SIGINT, ""},
    {"SIGHUP", SIGHUP, false, 0, 128 + SIGHUP, ""},
    {"the file shortened by another program (SIGBUS)", 0, true, 0, 2,
     ": the file was shortened by another program"},
    {"a file size limit (SIGXFSZ)", 0, false, 32 << 10, 2,
     ": cannot copy: File too large; the file was left as it was"},
};

// A file that is saved in pieces: a long unchanged start that is copied,
// then changed lines with short stretches between them.
std::string PiecewiseExport() {
  std::string body = "[HKEY_LOCAL_MACHINE\\Filler]\r\n";
  while (body.size() < (64u << 10)) body += "; " + std::string(60, 'f') + "\r\n";
  for (int i = 0; i < 3; ++i)
    body += "[HKEY_LOCAL_MACHINE\\Enum\\SCSI\\CD" + std::to_string(i) +
            "\\ROOT&0000]\r\n\"AutoInsertNotification\"=hex:00\r\n\r\n";
  return Reg4(body + "[HKEY_LOCAL_MACHINE\\Software]\r\n\"x\"=\"1\"\r\n");
}

TEST(EndedRuns, NoTemporaryFileOutlivesARunEndedWhileSaving) {
  const std::string text = PiecewiseExport();
  for (const EndingCase& c : kEndings) {
    SCOPED_TRACE(c.label);
    const std::string dir = TempDir();
    const std::string path = dir + "/system.reg";
    const std::string errPath = TempDir() + "/err";
    WriteFile(path, text);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      if (!freopen(errPath.c_str(), "w", stderr)) _exit(99);
      TestPlatform platform;
      const int signal = c.signal;
      if (signal != 0)
        platform.sync = [signal](int fd) {
          raise(signal);
          return ::fsync(fd);
        };
      // Copies, then cuts the file short: the next short stretch, read
      // from the mapping, faults.
      if (c.shrink)
        platform.copy = [&path](int from, long long* offset, int to,
                                size_t size) {
          loff_t at = *offset;
          const long n = ::copy_file_range(from, &at, to, nullptr, size, 0);
          *offset = at;
          if (truncate(path.c_str(), 1) != 0) _exit(97);
          return n;
        };
      const rlimit limit{static_cast<rlim_t>(c.limit), static_cast<rlim_t>(c.limit)};
      if (c.limit != 0 && setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(98);
      const ProgramRun run =
          RunProgramArgs({"--registry", path, "/CDP:1"}, &platform);
      fputs(run.err.c_str(), stderr);
      fflush(stderr);
      _exit(run.status);
    }
    EXPECT_EQ(c.status, Finished(child)) << ReadFile(errPath);
    if (*c.err == '\0') {
      EXPECT_EQ("", ReadFile(errPath));
    } else {
      EXPECT_NE(std::string::npos, ReadFile(errPath).find(path + c.err))
          << ReadFile(errPath);
    }
    EXPECT_EQ(std::vector<std::string>{"system.reg"}, FolderEntries(dir));
    if (!c.shrink) {
      EXPECT_TRUE(text == ReadFile(path));
    }
  }
}

}  // namespace
}  // namespace regtest
