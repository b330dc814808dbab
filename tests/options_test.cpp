// The host program's command line: options anywhere before "--", each at
// most once; switch text that starts with a single "-" stays switch text;
// file names show in messages as they are, control characters escaped.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "host/cli/options.h"
#include "test_support.h"

namespace regtest {
namespace {

struct ParseCase {
  std::vector<std::string> args;
  const char* error;  // in the message of a usage error; empty when none
  const char* tail;
  const char* registry;  // the file, or null for none
  bool dryRun;
  bool help;
  bool show = false;
  bool version = false;
  std::vector<std::string> merges = {};  // --merge files, in order
};

void PrintTo(const ParseCase& c, std::ostream* out) {
  for (const std::string& arg : c.args) *out << '[' << arg << ']';
}

const ParseCase kParseCases[] = {
    // Options after switches are options.
    {{"--registry", "f", "/DMA:1", "--dry-run"}, "", "/DMA:1", "f", true, false},
    {{"/DMA:1", "--dry-run", "-ssp:1", "--registry=f"}, "", "/DMA:1 -ssp:1",
     "f", true, false},
    {{"/SSP:1", "--help", "--bogus"}, "", "", nullptr, false, true},
    // After "--" everything is switch text, a second "--" too.
    {{"--registry", "f", "--", "--dry-run", "/SSP:1"}, "", "--dry-run /SSP:1",
     "f", false, false},
    {{"--", "--", "x"}, "", "-- x", nullptr, false, false},
    // Switch text with one dash, and file names that look like switches.
    {{"-dma:1", "-SSP", "--registry", "f", "--", "-", "-x"},
     "", "-dma:1 -SSP - -x", "f", false, false},
    {{"--registry", "-dma:1", "/SSP"}, "", "/SSP", "-dma:1", false, false},
    {{"--registry", "--dry-run", "/SSP"}, "", "/SSP", "--dry-run", false,
     false},
    {{"--registry", "/home/h", "-SSP"}, "", "-SSP", "/home/h", false, false},
    {{"--registry=/DMA:1", "/SSP"}, "", "/SSP", "/DMA:1", false, false},
    // Usage errors.
    {{"--registry", "a", "--registry", "b"}, "--registry is given twice", "",
     nullptr, false, false},
    {{"--registry=a", "/SSP", "--registry=a"}, "--registry is given twice", "",
     nullptr, false, false},
    {{"--dry-run", "--dry-run"}, "--dry-run is given twice", "", nullptr,
     false, false},
    {{"--bogus", "/SSP:1"}, "unknown option --bogus (switch text", "", nullptr,
     false, false},
    {{"/SSP:1", "--DMA:1"}, "unknown option --DMA:1", "", nullptr, false,
     false},
    {{"--reg", "f"}, "unknown option --reg", "", nullptr, false, false},
    {{"--dry-run=yes"}, "--dry-run takes no value", "", nullptr, false, false},
    {{"--registry"}, "--registry needs a file name", "", nullptr, false, false},
    {{"--registry="}, "--registry needs a file name", "", nullptr, false,
     false},
    {{"--bad\nname"}, "unknown option --bad\\nname", "", nullptr, false, false},
    // --show reads a file and runs nothing; --version stops there.
    {{"--show", "--registry", "f"}, "", "", "f", false, false, true},
    {{"--registry=f", "--", "--show"}, "", "--show", "f", false, false},
    {{"--show"}, "--show needs --registry FILE", "", nullptr, false, false},
    {{"--registry", "f", "--show", "/DMA:1"}, "--show takes no switches", "",
     nullptr, false, false},
    {{"--registry", "f", "--show", "/?"}, "--show takes no switches", "",
     nullptr, false, false},
    {{"--registry", "f", "--dry-run", "--show"}, "--show changes nothing", "",
     nullptr, false, false},
    {{"--show=yes", "--registry", "f"}, "--show takes no value", "", nullptr,
     false, false},
    {{"--version", "--bogus"}, "", "", nullptr, false, false, false, true},
    {{"/SSP:1", "--version"}, "", "", nullptr, false, false, false, true},
    {{"--version", "--version"}, "", "", nullptr, false, false, false, true},
    {{"--version=1"}, "--version takes no value", "", nullptr, false, false},
    // --merge alone may be given again; each adds a file, in order.
    {{"--merge", "a.reg", "--registry", "f", "--merge=b.reg", "/SSP"}, "", "/SSP",
     "f", false, false, false, false, {"a.reg", "b.reg"}},
    {{"--user", "u", "--user", "v"}, "--user is given twice", "", nullptr, false,
     false},
    {{"--registry", "f", "--merge"}, "--merge needs a file name", "", nullptr,
     false, false},
    // What the options must have together, checked before anything is read.
    {{"/DMA:1"}, "these switches change a registry; name its file with "
     "--registry FILE, or a disk image", "", nullptr, false, false},
    {{"--user", "u", "--merge", "m", "-ssp"}, "these switches change a "
     "registry; name its file with --registry FILE\n", "", nullptr, false,
     false},
    {{"/?", "/DMA:1"}, "", "/? /DMA:1", nullptr, false, false},
    {{"x/?y"}, "", "x/?y", nullptr, false, false},
    {{"--merge", "m.reg"}, "--merge needs a registry file to merge into", "",
     nullptr, false, false},
    {{"--user", "u"}, "--user needs --merge FILE.reg", "", nullptr, false,
     false},
    {{"--registry", "f", "--show", "--merge", "m"}, "--show looks at a file "
     "as it is", "", nullptr, false, false},
    {{"--image", "d", "--registry", "f"}, "--image and --registry name two",
     "", nullptr, false, false},
    {{"--registry", "f", "--partition", "2"}, "--partition goes with --image",
     "", nullptr, false, false},
    {{"--image", "d", "--user", "u"}, "--user goes with --registry, not "
     "--image", "", nullptr, false, false},
    // Windows Me's CLASSES.DAT takes merges; --export writes files as they
    // are; --backup goes with a save.
    {{"--registry", "f", "--classes", "c", "--merge", "m"}, "", "", "f", false, false,
     false, false, {"m"}},
    {{"--classes", "c", "--merge", "m"}, "", "", nullptr, false, false, false, false,
     {"m"}},
    {{"--registry", "f", "--classes", "c"}, "--classes needs --merge FILE.reg", "",
     nullptr, false, false},
    {{"--image", "d", "--classes", "c", "--merge", "m"}, "--classes goes with "
     "--registry, not --image: a disk image's CLASSES.DAT is not reached yet", "",
     nullptr, false, false},
    {{"--registry", "f", "--classes", "c", "--show"}, "--show looks at the machine's "
     "registry; leave out --classes", "",
     nullptr, false, false},
    {{"--registry", "f", "--export", "-"}, "", "", "f", false, false},
    {{"--user", "u", "--export", "out.reg"}, "", "", nullptr, false, false},
    {{"--export", "-"}, "--export needs the registry files to write", "", nullptr,
     false, false},
    {{"--registry", "f", "--export"}, "--export needs a file name, or -", "", nullptr,
     false, false},
    {{"--registry", "f", "--export", "-", "/DMA:1"}, "--export writes the files as "
     "they are", "", nullptr, false, false},
    {{"--registry", "f", "--export", "-", "--merge", "m"}, "--export writes the files "
     "as they are", "", nullptr, false, false},
    {{"--registry", "f", "--export", "-", "--show"}, "--export and --show", "", nullptr,
     false, false},
    {{"--image", "d", "--export", "-"}, "--export goes with --registry, not --image", "",
     nullptr, false, false},
    {{"--registry", "f", "--backup", "/DMA:1"}, "", "/DMA:1", "f", false, false},
    {{"--registry", "f", "--backup", "--dry-run", "/DMA:1"}, "--backup keeps a file as "
     "it was before a save, and this run saves nothing", "", nullptr, false, false},
    {{"--registry", "f", "--backup", "--export", "-"}, "--backup keeps a file", "",
     nullptr, false, false},
    {{"--image", "d", "--backup", "/DMA:1"}, "--backup goes with --registry", "", nullptr,
     false, false},
    {{"--registry", "f", "--backup=1"}, "--backup takes no value", "", nullptr, false,
     false},
};

class ParseOptionsTest : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseOptionsTest, ReadsTheCommandLine) {
  const ParseCase& c = GetParam();
  std::vector<const char*> argv{"regswitch"};
  for (const std::string& arg : c.args) argv.push_back(arg.c_str());
  hostreg::Options options;
  std::string message;
  const bool ok = hostreg::ParseOptions(static_cast<int>(argv.size()),
                                        argv.data(), options, message);
  if (*c.error != '\0') {
    EXPECT_FALSE(ok);
    EXPECT_EQ(0u, message.find(std::string("regswitch: ") + c.error)) << message;
    EXPECT_NE(std::string::npos, message.find("usage: regswitch --registry"));
    return;
  }
  ASSERT_TRUE(ok) << message;
  EXPECT_EQ(c.tail, options.tail);
  EXPECT_EQ(c.registry != nullptr, options.haveRegistry);
  if (c.registry != nullptr) {
    EXPECT_EQ(c.registry, options.registryPath);
  }
  EXPECT_EQ(c.dryRun, options.dryRun);
  EXPECT_EQ(c.help, options.help);
  EXPECT_EQ(c.show, options.show);
  EXPECT_EQ(c.version, options.version);
  EXPECT_EQ(c.merges, options.mergePaths);
}

INSTANTIATE_TEST_SUITE_P(Cases, ParseOptionsTest, testing::ValuesIn(kParseCases));

const std::string& kApm = kApmExport;

// The same command lines end to end: what happens to the file.
struct RunCase {
  std::vector<std::string> args;  // "FILE" stands for the registry file
  int status;
  bool saved;
  const char* out;  // on standard output; "" for nothing at all
};

TEST(Options, WhereverOptionsStandTheRunDoesWhatTheySay) {
  const RunCase cases[] = {
      {{"--registry", "FILE", "/SSP:1", "--dry-run"}, 0, false, "hex:01"},
      {{"/SSP:1", "--registry", "FILE"}, 0, true, ""},
      {{"--registry", "FILE", "-ssp:1"}, 0, true, ""},
      {{"--registry", "FILE", "--", "--dry-run", "/SSP:1"}, 0, true, ""},
      {{"--registry", "FILE", "--registry", "FILE", "/SSP:1"}, 2, false, ""},
      {{"--registry", "FILE", "--bogus", "/SSP:1"}, 2, false, ""},
      {{"--registry", "FILE", "/SSP:1", "--dry-run", "--dry-run"}, 2, false, ""},
      {{"--show", "--registry", "FILE"}, 0, false, "SSP  off "},
      {{"--registry", "FILE", "--show", "/SSP:1"}, 2, false, ""},
      {{"--registry", "FILE", "--show", "--dry-run"}, 2, false, ""},
      {{"--version", "--registry", "FILE", "/SSP:1"}, 0, false, "regswitch "},
  };
  for (const RunCase& c : cases) {
    const std::string path = TempDir() + "/system.reg";
    WriteFile(path, kApm);
    std::vector<std::string> args = c.args;
    std::string shown;
    for (std::string& arg : args) {
      shown += arg + " ";
      if (arg == "FILE") arg = path;
    }
    SCOPED_TRACE(shown);
    const ProgramRun run = RunProgramArgs(args);
    EXPECT_EQ(c.status, run.status) << run.err;
    EXPECT_EQ(c.saved, ReadFile(path) != kApm);
    if (*c.out == '\0') {
      EXPECT_EQ("", run.out);
    } else {
      EXPECT_NE(std::string::npos, run.out.find(c.out)) << run.out;
    }
  }
}

// The temporary file's name is short whatever the file's: a name of 255
// bytes, the most a file system allows, saves.
TEST(Options, TheLongestFileNameSaves) {
  for (const size_t length : {200u, 248u, 255u}) {
    SCOPED_TRACE(length);
    const std::string dir = TempDir();
    const std::string name = std::string(length - 4, 'n') + ".reg";
    WriteFile(dir + "/" + name, kApm);
    const ProgramRun run = RunProgramArgs({"--registry", dir + "/" + name, "/SSP:1"});
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_NE(std::string::npos, ReadFile(dir + "/" + name).find("hex:01"));
    EXPECT_EQ(std::vector<std::string>{name}, FolderEntries(dir));
  }
}

// A name holding a newline cannot forge a "FILE:LINE:" line of its own.
TEST(Options, ControlCharactersInFileNamesAreEscaped) {
  const std::string dir = TempDir();
  const std::string name = "a\nb.reg:7: forged\x1b[2J";
  const std::string shown = dir + "/a\\nb.reg:7: forged\\x1b[2J";
  // Refused at line 3: a NUL byte is no text.
  WriteFile(dir + "/" + name,
            std::string("REGEDIT4\r\n\r\n\"orphan\"=\"val\0ue\"\r\n", 27));
  struct Case {
    std::string path;
    const char* after;
  };
  const Case cases[] = {
      {dir + "/" + name, ":3: "},                        // refused
      {dir + "/missing\n" + name, ": cannot open: "},  // missing
  };
  for (const Case& c : cases) {
    const ProgramRun run = RunProgramArgs({"--registry", c.path, "/SSP:1"});
    EXPECT_EQ(2, run.status);
    EXPECT_EQ(1, std::count(run.err.begin(), run.err.end(), '\n')) << run.err;
    EXPECT_EQ(std::string::npos, run.err.find('\x1b'));
    EXPECT_NE(std::string::npos, run.err.find("a\\nb.reg:7: forged\\x1b[2J" +
                                              std::string(c.after)))
        << run.err;
  }
  EXPECT_NE(std::string::npos,
            RunProgramArgs({"--registry", dir + "/" + name, "/SSP:1"})
                .err.find("regswitch: " + shown + ":3: "));
}

}  // namespace
}  // namespace regtest
