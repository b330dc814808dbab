// SSP and ACS: one value of the key they are given.
#include <gtest/gtest.h>

#include <string>

#include "test_support.h"
#include "core/tweaks/tweaks.h"

namespace {

using regtest::Reg;
using regtest::RunWorker;

const char kApm[] = "Enum\\Root\\*PNP0C05\\0000";
const char kFileSystem[] = "SYSTEM\\CurrentControlSet\\control\\FileSystem";

std::string ApmKey(const std::string& values) {
  return Reg("[HKEY_LOCAL_MACHINE\\Enum\\Root\\*PNP0C05\\0000]\n"
             "\"Class\"=\"System\"\n" + values + "\n"
             "[HKEY_LOCAL_MACHINE\\Enum\\Root\\*PNP0C05\\0000\\LogConfig]\n");
}

TEST(SetApmMenuSuspend, WritesOneByteWhateverWasThere) {
  struct Case {
    const char* before;
    bool on;
    const char* after;
  };
  const Case cases[] = {
      {"", true, "\"APMMenuSuspend\"=hex:01\n"},
      {"", false, "\"APMMenuSuspend\"=hex:00\n"},
      {"\"APMMenuSuspend\"=hex:01,00,00,00\n", true, "\"APMMenuSuspend\"=hex:01\n"},
      {"\"APMMenuSuspend\"=dword:00000001\n", false, "\"APMMenuSuspend\"=hex:00\n"},
      {"\"apmmenususpend\"=\"1\"\n", true, "\"apmmenususpend\"=hex:01\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.before) + (c.on ? " on" : " off"));
    EXPECT_EQ(ApmKey(c.after), RunWorker(ApmKey(c.before), SetApmMenuSuspend,
                                         kApm, c.on));
  }
}

std::string FileSystemKey(const std::string& values) {
  return Reg("[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\control\\FileSystem]\n"
             "\"Win31FileSystem\"=hex:00\n" + values +
             "\"DriveSpinDown\"=hex:0a,00,00,00\n");
}

TEST(ResetAcDriveSpinDown, ZeroesAReadableValueKeepingItsSize) {
  std::string long256 = "hex:";
  std::string zero256 = "hex:";
  for (int i = 0; i < 256; ++i) {
    long256 += i ? ",07" : "07";
    zero256 += i ? ",00" : "00";
  }
  struct Case {
    const char* name;
    std::string before;
    std::string after;  // empty: unchanged
  };
  const Case cases[] = {
      {"missing", "", ""},
      {"four bytes", "\"ACDriveSpinDown\"=hex:05,00,00,00\n",
       "\"ACDriveSpinDown\"=hex:00,00,00,00\n"},
      {"one byte", "\"ACDriveSpinDown\"=hex:05\n", "\"ACDriveSpinDown\"=hex:00\n"},
      {"empty", "\"ACDriveSpinDown\"=hex:\n", ""},
      {"already zero", "\"ACDriveSpinDown\"=hex:00,00,00,00\n", ""},
      {"a dword becomes binary", "\"ACDriveSpinDown\"=dword:0000003c\n",
       "\"ACDriveSpinDown\"=hex:00,00,00,00\n"},
      {"a string becomes binary zeros", "\"ACDriveSpinDown\"=\"60\"\n",
       "\"ACDriveSpinDown\"=hex:00,00,00\n"},
      // Longer than the four-byte source: every byte is zero, size kept.
      {"six bytes", "\"ACDriveSpinDown\"=hex:01,02,03,04,05,06\n",
       "\"ACDriveSpinDown\"=hex:00,00,00,00,00,00\n"},
      {"256 bytes", "\"ACDriveSpinDown\"=" + long256 + "\n",
       "\"ACDriveSpinDown\"=" + zero256 + "\n"},
      // Too long to read: left alone.
      {"257 bytes", "\"ACDriveSpinDown\"=" + long256 + ",07\n", ""},
  };
  for (const Case& c : cases) {
    for (bool on : {true, false}) {
      SCOPED_TRACE(std::string(c.name) + (on ? " on" : " off"));
      const std::string before = FileSystemKey(c.before);
      const std::string saved =
          RunWorker(before, ResetAcDriveSpinDown, kFileSystem, on);
      if (c.after.empty()) {
        EXPECT_EQ(before, saved);
      } else {
        // The saved file wraps long hex data; compare the values instead.
        regtest::LoadedRegistry expected(FileSystemKey(c.after));
        regtest::LoadedRegistry actual(saved);
        auto spinDown = [](hostreg::Registry& r) -> const hostreg::Value* {
          hostreg::Key* key = r.keys().FindPath(r.keys().Root(), kFileSystem);
          return key == nullptr ? nullptr : r.values().Find(*key, "ACDriveSpinDown");
        };
        const hostreg::Value* want = spinDown(expected.registry());
        const hostreg::Value* got = spinDown(actual.registry());
        ASSERT_TRUE(want && got);
        EXPECT_EQ(static_cast<DWORD>(REG_BINARY), got->type);
        EXPECT_EQ(want->data, got->data);
      }
    }
  }
}

}  // namespace
