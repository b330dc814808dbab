// Command lines a person may mistype, and files of the wrong kind: each is
// refused before anything is read or written, or warned of, with what to
// type instead; the file stays byte for byte as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "host/platform/printable.h"
#include "reg_support.h"
#include "test_support.h"

namespace regtest {
namespace {

const std::string& kApm = kApmExport;

// "FILE" stands for the registry file, "FILE2" for another one beside it.
struct Typo {
  std::vector<std::string> args;
  int status;
  const char* err;  // the start of standard error, after "regswitch: "
};

const Typo kTypos[] = {
    {{"--registry", "FILE", "-dry-run", "/DMA:1"}, 2,
     "-dry-run is no switch: did you mean --dry-run?"},
    {{"--registry", "FILE", "-n", "/SSP:1"}, 2,
     "-n is no switch: for a dry run, type --dry-run"},
    {{"--registry", "FILE", "FILE2", "/SSP:1"}, 2,
     "FILE2 is no switch: a second registry file? --registry takes one"},
    {{"--image", "FILE", "FILE2", "/SSP:1"}, 2,
     "FILE2 is no switch: a second disk image? --image takes one"},
    {{"--registry", "FILE", "/ssp", "1"}, 2,
     "1 is no switch: a switch's value goes right behind it, as /ssp:1"},
    {{"--registry", "FILE", "/SSP:1", "bogus"}, 2, "bogus is no switch: "},
    {{"--registry", "FILE", "/X"}, 2, "/X is no switch: switches are /SSP"},
    {{"--registry", "FILE", "--", "/X"}, 0, ""},  // taken as it is
    {{"--registry", "FILE", "/SSP:on"}, 0,
     "/SSP:on reads as off: only :1 or =1 switch on"},
    {{"--registry", "FILE", "/SSP:yes"}, 0, "/SSP:yes reads as off"},
    {{"--registry", "FILE", "/SSP=true"}, 0, "/SSP=true reads as off"},
    {{"--registry", "FILE", "/SSP:01"}, 0, "/SSP:01 reads as off"},
    {{"--registry", "FILE", "/SSP:1x"}, 0,
     "/SSP:1x reads as on: only the 1 right behind : or = counts"},
    {{"--registry", "FILE", "/SSP:0", "/SSP:1"}, 0,
     "SSP is given twice, as /SSP:0 and /SSP:1: /SSP:0 counts"},
    {{"--registry", "FILE", "-SSP:1", "/SSP:0"}, 0,
     "SSP is given twice, as /SSP:0 and -SSP:1: /SSP:0 counts"},
    {{"--registry", "FILE", "/SSP:1", "/SSP=1"}, 0, ""},  // the same value
    {{"--registry", "FILE", "/DMA:1"}, 0,
     "/DMA found nothing to change: there is no "
     "System\\CurrentControlSet\\Services\\Class\\hdc"},
    {{"--registry", "FILE", "/ACS"}, 0,
     "/ACS found nothing to change: there is no "
     "SYSTEM\\CurrentControlSet\\control\\FileSystem"},
    {{"--registry", "FILE", "/SSP:0"}, 0, ""},  // written, as it was
    {{"--registry", "FILE", "/?", "/SSP:on"}, 0, ""},  // the about box only
    {{"-h"}, 0, ""},
    {{"--registry", "FILE", "-v", "/SSP:1"}, 0,
     "/SSP: [HKEY_LOCAL_MACHINE\\Enum\\Root\\*PNP0C05\\0000] "
     "\"APMMenuSuspend\"=hex:01 (was hex:00)"},
};

TEST(Typos, NoneWritesAFileAndEachSaysWhatToType) {
  for (const Typo& c : kTypos) {
    const std::string dir = TempDir();
    const std::string path = dir + "/system.reg";
    const std::string other = dir + "/other.reg";
    WriteFile(path, kApm);
    WriteFile(other, kApm);
    std::vector<std::string> args = c.args;
    std::string shown;
    for (std::string& arg : args) {
      shown += arg + " ";
      if (arg == "FILE") arg = path;
      if (arg == "FILE2") arg = other;
    }
    SCOPED_TRACE(shown);
    const ProgramRun run = RunProgramArgs(args);
    EXPECT_EQ(c.status, run.status) << run.err;
    std::string err = c.err;
    if (const size_t at = err.find("FILE2"); at != std::string::npos)
      err.replace(at, 5, other);
    if (err.empty()) {
      EXPECT_EQ("", run.err);
    } else {
      EXPECT_EQ(0u, run.err.find("regswitch: " + err)) << run.err;
    }
    const bool switchedOn = c.status == 0 && shown.find("/SSP:1") != std::string::npos &&
                            shown.find("/SSP:0") == std::string::npos;
    if (c.status != 0) {
      EXPECT_EQ("", run.out);
      EXPECT_TRUE(kApm == ReadFile(path));
    } else if (!switchedOn) {
      EXPECT_TRUE(ReadFile(path).find("hex:01") == std::string::npos);
    }
    EXPECT_TRUE(kApm == ReadFile(other));
  }
}

// Files that are no registry file, named for what they are, with the
// option that works; the file is never changed.
struct WrongKind {
  const char* label;
  std::string bytes;
  const char* option;  // --registry or --user
  const char* message;
};

std::string Sector(std::string head, size_t size, size_t signatureAt = 510) {
  head.resize(size, '\0');
  if (signatureAt + 2 <= size) head.replace(signatureAt, 2, "\x55\xAA");
  return head;
}

std::string Hdi() {
  std::string d(4096, '\0');
  d[8] = '\x00';
  d[9] = '\x10';  // header size 4096
  d[16] = '\x00';
  d[17] = '\x02';  // 512-byte sectors
  return d + Sector("", 512);
}

TEST(Typos, WrongKindsOfFileAreNamedWithTheOptionThatWorks) {
  const WrongKind cases[] = {
      {"MBR disk", Sector("\xFA\x33\xC0", 1024), "--registry",
       "an MBR disk image, not a registry file: use --image"},
      {"FAT volume", Sector(std::string("\xEB\x3C\x90MSWIN4.1") +
                                std::string(43, '\0') + "FAT16   ", 512),
       "--registry", "a FAT volume image, not a registry file: use --image"},
      {"qcow2", std::string("QFI\xFB\0\0\0\3", 8) + std::string(600, '\0'),
       "--registry", "a qcow2 disk image, not a registry file: use --image"},
      {"VDI", std::string("<<< Oracle VM VirtualBox Disk Image >>>\n") +
                  std::string(24, '\0') + "\x7F\x10\xDA\xBE",
       "--registry", "a VirtualBox VDI disk image"},
      {"VMDK", std::string("KDMV\1\0\0\0", 8), "--registry",
       "a VMware VMDK disk image"},
      {"VMDK descriptor", "# Disk DescriptorFile\nversion=1\n", "--registry",
       "a VMware VMDK descriptor of a disk image"},
      {"dynamic VHD", "conectix\0\0\0\2", "--registry",
       "a dynamic VHD disk image"},
      {"VHDX", "vhdxfile", "--registry", "a VHDX disk image"},
      {"86Box HDI", Hdi(), "--registry", "an 86Box HDI disk image"},
      {"NT hive", std::string("regf\0\0\0\0", 8), "--registry",
       "a Windows NT registry hive, which regswitch does not read"},
      {"gzip", std::string("\x1F\x8B\x08\0", 4), "--user",
       "a gzip file: unpack it first"},
      {"Windows 3.1", "SHCC3.10", "--registry",
       "a Windows 3.1 registry (REG.DAT)"},
      {"USER.DAT for SYSTEM.DAT",
       ReadFile(SourcePath("tests/data/win9x/USER.DAT")), "--registry",
       "is a USER.DAT (its keys are HKEY_USERS': .DEFAULT): give it with "
       "--user"},
      {"SYSTEM.DAT for USER.DAT",
       ReadFile(SourcePath("tests/data/win9x/SYSTEM.DAT")), "--user",
       "is a SYSTEM.DAT (its keys are HKEY_LOCAL_MACHINE's): give it with "
       "--registry"},
  };
  for (const WrongKind& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string path = TempDir() + "/file";
    WriteFile(path, c.bytes);
    const std::string merge = TempDir() + "/m.reg";
    WriteFile(merge, Reg4(""));
    const ProgramRun run =
        RunProgramArgs({c.option, path, "--merge", merge, "--dry-run"});
    EXPECT_EQ(2, run.status);
    EXPECT_NE(std::string::npos, run.err.find(c.message)) << run.err;
    EXPECT_TRUE(c.bytes == ReadFile(path));
  }
  const ProgramRun windows =
      RunProgramArgs({"--registry", "C:\\WINDOWS\\SYSTEM.DAT", "/DMA:1"});
  EXPECT_EQ(2, windows.status);
  EXPECT_NE(std::string::npos,
            windows.err.find("that is a Windows path: give the file's path "
                             "on this machine"))
      << windows.err;
}

// The host's about box tells the switches and the version too.
TEST(Typos, TheHostAboutBoxListsTheSwitchesAndTheVersion) {
  const ProgramRun run = RunProgramArgs({"/?"});
  EXPECT_EQ(0, run.status);
  for (const char* text : {"[ Varnholt ]", "[ OK ]", "/DMA  IDE DMA",
                           "regswitch " REGSWITCH_VERSION "\n"})
    EXPECT_NE(std::string::npos, run.out.find(text)) << run.out;
}

// What a terminal must not take as it is, in any message.
TEST(Printable, ControlsAndDirectionOverridesAreEscaped) {
  struct Case {
    std::string text, shown;
  };
  const Case cases[] = {
      {"plain.reg", "plain.reg"},
      {"caf\xC3\xA9.reg", "caf\xC3\xA9.reg"},          // é stays
      {"a\nb\tc\rd", "a\\nb\\tc\\rd"},
      {"esc\x1B[2J", "esc\\x1b[2J"},
      {"del\x7F", "del\\x7f"},
      {"nel\xC2\x85", "nel\\x85"},                       // U+0085
      {"csi\xC2\x9B" "31m", "csi\\x9b31m"},              // U+009B
      {"osc\xC2\x9D", "osc\\x9d"},                       // U+009D
      {"rlo\xE2\x80\xAEgpj.exe", "rlo\\u202egpj.exe"},  // U+202E
      {"lri\xE2\x81\xA6", "lri\\u2066"},                 // U+2066
      {"raw\x9B" "byte", "raw\\x9bbyte"},                // no UTF-8
      {"cut\xE2\x80", "cut\\xe2\\x80"},
      {"over\xC0\xAF", "over\\xc0\\xaf"},                // overlong '/'
      {"sur\xED\xA0\x80", "sur\\xed\\xa0\\x80"},         // a surrogate
      {"emoji\xF0\x9F\x98\x80", "emoji\xF0\x9F\x98\x80"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown);
    EXPECT_EQ(c.shown, hostreg::Printable(c.text));
  }
  // End to end: a file name with an override reaches the terminal escaped.
  const std::string dir = TempDir();
  const ProgramRun run = RunProgramArgs(
      {"--registry", dir + "/x\xE2\x80\xAEgeR.reg", "/SSP:1"});
  EXPECT_EQ(2, run.status);
  EXPECT_NE(std::string::npos, run.err.find("x\\u202egeR.reg: cannot open"))
      << run.err;
  EXPECT_EQ(std::string::npos, run.err.find("\xE2\x80\xAE"));
}

}  // namespace
}  // namespace regtest
