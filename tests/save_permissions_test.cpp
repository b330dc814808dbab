// Files that a save by replacement would change in what they are (their
// owner, their mode, their other names) are refused and left alone, also
// when regswitch runs as another user than root.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "test_support.h"

namespace regtest {
namespace {

const std::string& kApm = kApmExport;

constexpr uid_t kRoot = 0;
constexpr uid_t kNobody = 65534;  // Debian's nobody and nogroup

struct RefusalCase {
  const char* label;
  bool asNobody;  // run as nobody:nogroup, else as root
  uid_t owner;
  gid_t group;
  mode_t mode;
  bool linked;      // a second hard link beside it
  const char* err;  // empty: the run saves
};

const RefusalCase kCases[] = {
    {"root, read-only", false, kRoot, kRoot, 0444, false,
     "it is read-only (mode 0444); give its owner write permission"},
    {"root, writable by group only", false, kRoot, kRoot, 0464, false,
     "it is read-only (mode 0464)"},
    {"root, two hard links", false, kRoot, kRoot, 0644, true,
     "it has 2 hard links, and saving would give the new contents to this "
     "name only; run regswitch on a copy and copy that back with cp"},
    {"root, saves", false, kRoot, kRoot, 0640, false, ""},
    {"root, another user's file keeps its owner", false, kNobody, kNobody,
     0600, false, ""},
    {"nobody, root's file", true, kRoot, kRoot, 0644, false,
     "no write access to it: Permission denied"},
    {"nobody, root's file writable by all", true, kRoot, kRoot, 0666, false,
     "cannot keep its owner and group (uid 0, gid 0) in a new file: "
     "Operation not permitted; run as its owner or as root"},
    {"nobody, own file in root's group", true, kNobody, kRoot, 0664, false,
     "cannot keep its owner and group (uid 65534, gid 0)"},
    {"nobody, own read-only file", true, kNobody, kNobody, 0444, false,
     "it is read-only (mode 0444)"},
    {"nobody, own file with two links", true, kNobody, kNobody, 0644, true,
     "it has 2 hard links"},
    {"nobody, own file, saves", true, kNobody, kNobody, 0644, false, ""},
};

// Runs the installed program on `path` with /SSP:1, as root or as nobody;
// the exit status, with standard error in `err`.
int RunAs(bool asNobody, const std::string& path, std::string& err) {
  const std::string errPath = path + ".err";
  const pid_t child = fork();
  if (child == 0) {
    const int fd = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || dup2(fd, 2) < 0) _exit(97);
    close(fd);
    if (asNobody && (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 ||
                     setuid(kNobody) != 0))
      _exit(98);
    execl(REGSWITCH_BINARY, REGSWITCH_BINARY, "--registry", path.c_str(),
          "/SSP:1", static_cast<char*>(nullptr));
    _exit(99);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status))
    return -1;
  err = ReadFile(errPath);
  unlink(errPath.c_str());
  return WEXITSTATUS(status);
}

TEST(SavePermissions, FilesAReplacementWouldChangeAreRefused) {
  REGTEST_NEED(geteuid() == 0,
               "needs root, to give files other owners and to run as nobody");
  REGTEST_NEED(getpwuid(kNobody) != nullptr && getgrgid(kNobody) != nullptr,
               "needs the user nobody and the group nogroup (65534)");
  for (const RefusalCase& c : kCases) {
    SCOPED_TRACE(c.label);
    // A folder that nobody may write in, as the faulty runs had.
    const std::string parent = TempDir();
    ASSERT_EQ(0, chmod(parent.c_str(), 0755));
    const std::string dir = parent + "/work";
    ASSERT_EQ(0, mkdir(dir.c_str(), 0777));
    ASSERT_EQ(0, chmod(dir.c_str(), 0777));
    const std::string path = dir + "/system.reg";
    WriteFile(path, kApm);
    ASSERT_EQ(0, chown(path.c_str(), c.owner, c.group));
    ASSERT_EQ(0, chmod(path.c_str(), c.mode));
    std::vector<std::string> names{"system.reg"};
    if (c.linked) {
      ASSERT_EQ(0, link(path.c_str(), (dir + "/other.reg").c_str()));
      names.push_back("other.reg");
    }
    struct stat before, after;
    ASSERT_EQ(0, stat(path.c_str(), &before));
    std::string err;
    const int status = RunAs(c.asNobody, path, err);
    ASSERT_EQ(0, stat(path.c_str(), &after));
    EXPECT_EQ(c.owner, after.st_uid);
    EXPECT_EQ(c.group, after.st_gid);
    EXPECT_EQ(c.mode, after.st_mode & 07777);
    std::vector<std::string> left = FolderEntries(dir);
    std::sort(left.begin(), left.end());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, left);
    if (*c.err == '\0') {
      EXPECT_EQ(0, status) << err;
      EXPECT_EQ("", err);
      EXPECT_NE(std::string::npos, ReadFile(path).find("hex:01"));
      continue;
    }
    EXPECT_EQ(2, status);
    EXPECT_NE(std::string::npos,
              err.find("regswitch: " + path + ": " + c.err)) << err;
    EXPECT_NE(std::string::npos, err.find("; the file was left as it was"));
    EXPECT_EQ(kApm, ReadFile(path));
    EXPECT_EQ(before.st_ino, after.st_ino);
    if (c.linked) {
      EXPECT_EQ(kApm, ReadFile(dir + "/other.reg"));
    }
  }
}

// A run that has nothing to change reads a file it may not replace and
// ends as every completed run does.
TEST(SavePermissions, NothingToChangeInARefusedFileIsNoError) {
  const std::string dir = TempDir();
  const std::string path = dir + "/system.reg";
  WriteFile(path, kApm);
  ASSERT_EQ(0, chmod(path.c_str(), 0444));
  ASSERT_EQ(0, link(path.c_str(), (dir + "/other.reg").c_str()));
  for (const std::vector<std::string>& tail :
       {std::vector<std::string>{"/SSP:0"}, {"--", "/X"}}) {
    SCOPED_TRACE(tail.back());
    std::vector<std::string> args{"--registry", path};
    args.insert(args.end(), tail.begin(), tail.end());
    const ProgramRun run = RunProgramArgs(args);
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_EQ("", run.err);
  }
  const ProgramRun dry = RunProgramArgs({"--registry", path, "--dry-run", "/SSP:1"});
  EXPECT_EQ(0, dry.status) << dry.err;
  EXPECT_NE(std::string::npos, dry.out.find("hex:01"));
  // The dry run says first that the save would be refused.
  EXPECT_NE(std::string::npos,
            dry.err.find(path + ": a save would be refused: it is read-only"))
      << dry.err;
  EXPECT_EQ(kApm, ReadFile(path));
}

}  // namespace
}  // namespace regtest
