// DDC, DMA and DIN: one level of subkeys below the key they are given.
#include <gtest/gtest.h>

#include <string>

#include "reg_support.h"
#include "test_support.h"
#include "core/tweaks/tweaks.h"

namespace {

using regtest::Reg;
using regtest::RunWorker;

const char kDisplay[] = "System\\CurrentControlSet\\Services\\Class\\Display";
const char kHdc[] = "System\\CurrentControlSet\\Services\\Class\\hdc";
const char kComponents[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Setup\\OptionalComponents";

const std::string kDisplayKey =
    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\Display";

TEST(SetDisplayDdc, WritesTheDefaultSubkeyOfEveryEntry) {
  const std::string before = Reg(
      kDisplayKey + "]\n\"Class\"=\"Display\"\n\n" +
      kDisplayKey + "\\0000]\n\"DriverDesc\"=\"S3\"\n\n" +
      kDisplayKey + "\\0000\\DEFAULT]\n\"drv\"=\"s3.drv\"\n\"DDC\"=\"0\"\n\n" +
      kDisplayKey + "\\0001]\n\"DriverDesc\"=\"VGA\"\n\n" +
      kDisplayKey + "\\0002\\default]\n\"drv\"=\"vga.drv\"\n");
  EXPECT_EQ(Reg(kDisplayKey + "]\n\"Class\"=\"Display\"\n\n" +
                kDisplayKey + "\\0000]\n\"DriverDesc\"=\"S3\"\n\n" +
                kDisplayKey + "\\0000\\DEFAULT]\n\"drv\"=\"s3.drv\"\n\"DDC\"=\"1\"\n\n" +
                kDisplayKey + "\\0001]\n\"DriverDesc\"=\"VGA\"\n\n" +
                kDisplayKey + "\\0002\\default]\n\"drv\"=\"vga.drv\"\n"
                "\"DDC\"=\"1\"\n"),
            RunWorker(before, SetDisplayDdc, kDisplay, true));
  // Off writes "0": the 0000 entry already holds it, 0002 gets it.
  const std::string off = RunWorker(before, SetDisplayDdc, kDisplay, false);
  EXPECT_EQ(before + "\"DDC\"=\"0\"\n", off);
}

TEST(SetDisplayDdc, NoEntriesNothingWritten) {
  const std::string before = Reg(kDisplayKey + "]\n\"Class\"=\"Display\"\n");
  EXPECT_EQ(before, RunWorker(before, SetDisplayDdc, kDisplay, true));
}

TEST(SetDisplayDdc, NameTooLongForTheSuffixIsSkipped) {
  // 247 characters plus "\DEFAULT" fill the 256-byte buffer exactly; 248
  // would overflow it, so that entry is skipped and the walk goes on.
  const std::string fits(247, 'a');
  const std::string tooLong(248, 'b');
  const std::string before = Reg(
      kDisplayKey + "\\" + tooLong + "\\DEFAULT]\n\"drv\"=\"x\"\n\n" +
      kDisplayKey + "\\" + fits + "\\DEFAULT]\n\"drv\"=\"y\"\n\n" +
      kDisplayKey + "\\0000\\DEFAULT]\n\"drv\"=\"z\"\n");
  EXPECT_EQ(Reg(kDisplayKey + "\\" + tooLong + "\\DEFAULT]\n\"drv\"=\"x\"\n\n" +
                kDisplayKey + "\\" + fits + "\\DEFAULT]\n\"drv\"=\"y\"\n"
                "\"DDC\"=\"1\"\n\n" +
                kDisplayKey + "\\0000\\DEFAULT]\n\"drv\"=\"z\"\n\"DDC\"=\"1\"\n"),
            RunWorker(before, SetDisplayDdc, kDisplay, true));
}

const std::string kHdcKey =
    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\hdc";

std::string Controller(const std::string& name, const std::string& values) {
  return kHdcKey + "\\" + name + "]\n\"DevLoader\"=\"*IOS\"\n" + values + "\n";
}

const char kDrivesOn[] = "\"IDEDMADRIVE0\"=hex:01\n\"IDEDMADRIVE1\"=hex:01\n";
const char kDrivesOff[] = "\"IDEDMADRIVE0\"=hex:00\n\"IDEDMADRIVE1\"=hex:00\n";

// `text`, its terminating zero and filler, as hex data of `size` bytes.
std::string Padded(const std::string& text, size_t size) {
  std::string bytes = text + '\0';
  bytes.resize(size, 'A');
  std::string hex = "hex:";
  for (size_t i = 0; i < bytes.size(); ++i) {
    static const char kDigits[] = "0123456789abcdef";
    if (i > 0) hex += ',';
    hex += kDigits[static_cast<unsigned char>(bytes[i]) >> 4];
    hex += kDigits[bytes[i] & 15];
  }
  return hex;
}

TEST(SetIdeDma, WritesBothDrivesOfMatchingControllersOnly) {
  const std::string match =
      "\"PortDriver\"=\"ESDI_506.PDR\"\n\"InfPath\"=\"MSHDC.INF\"\n"
      "\"InfSection\"=\"GOOD_IDE\"\n";
  // Not NUL-terminated (hex data) and exactly 256 non-zero bytes.
  std::string noZero256 = "hex:";
  for (int i = 0; i < 256; ++i) noZero256 += i ? ",41" : "41";
  struct Case {
    const char* name;
    std::string values;
    bool matches;
  };
  const Case cases[] = {
      {"exact", match, true},
      {"dual, other case",
       "\"PortDriver\"=\"esdi_506.pdr\"\n\"InfPath\"=\"mshdc.inf\"\n"
       "\"InfSection\"=\"dual_good_ide\"\n",
       true},
      {"other section",
       "\"PortDriver\"=\"ESDI_506.PDR\"\n\"InfPath\"=\"MSHDC.INF\"\n"
       "\"InfSection\"=\"SINGLE_FIFO_IDE\"\n",
       false},
      {"no InfPath",
       "\"PortDriver\"=\"ESDI_506.PDR\"\n\"InfSection\"=\"GOOD_IDE\"\n", false},
      {"other port driver",
       "\"PortDriver\"=\"ESDI_506.PDRX\"\n\"InfPath\"=\"MSHDC.INF\"\n"
       "\"InfSection\"=\"GOOD_IDE\"\n",
       false},
      {"prefix only",
       "\"PortDriver\"=\"ESDI_506\"\n\"InfPath\"=\"MSHDC.INF\"\n"
       "\"InfSection\"=\"GOOD_IDE\"\n",
       false},
      // Binary data is compared up to its first zero or its end.
      {"binary without zero",
       "\"PortDriver\"=hex:45,53,44,49,5f,35,30,36,2e,50,44,52\n"
       "\"InfPath\"=hex:4d,53,48,44,43,2e,49,4e,46,00,ff\n"
       "\"InfSection\"=\"GOOD_IDE\"\n",
       true},
      // Every read has the whole buffer's room.
      {"each value 256 bytes long",
       "\"PortDriver\"=" + Padded("ESDI_506.PDR", 256) + "\n\"InfPath\"=" +
           Padded("MSHDC.INF", 256) + "\n\"InfSection\"=" +
           Padded("GOOD_IDE", 256) + "\n",
       true},
      {"256 bytes without zero",
       "\"PortDriver\"=" + noZero256 + "\n\"InfPath\"=\"MSHDC.INF\"\n"
       "\"InfSection\"=\"GOOD_IDE\"\n",
       false},
  };
  for (const Case& c : cases) {
    for (bool on : {true, false}) {
      SCOPED_TRACE(std::string(c.name) + (on ? " on" : " off"));
      // A mismatching entry in front must not stop the walk.
      const std::string before =
          Reg(Controller("0000", c.values) +
              Controller("0001", match + "\"IDEDMADRIVE0\"=hex:07\n"));
      const std::string after =
          Reg(Controller("0000", c.values + (c.matches ? (on ? kDrivesOn : kDrivesOff) : "")) +
              Controller("0001", match + (on ? kDrivesOn : kDrivesOff)));
      EXPECT_EQ(after, RunWorker(before, SetIdeDma, kHdc, on));
    }
  }
}

const std::string kComponentsKey =
    "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Setup\\"
    "OptionalComponents";

TEST(SetDeskMgmtInstalled, WritesOnlyWhenInstalledCannotBeRead) {
  std::string long257 = "hex:";
  for (int i = 0; i < 257; ++i) long257 += i ? ",31" : "31";
  struct Case {
    const char* name;
    std::string subkey;
    std::string values;
    bool writes;
  };
  const Case cases[] = {
      {"missing", "DeskMgmt", "", true},
      {"other case", "DESKMGMT", "", true},
      {"holds 0", "DeskMgmt", "\"Installed\"=\"0\"\n", false},
      {"holds 1", "DeskMgmt", "\"Installed\"=\"1\"\n", false},
      {"holds junk", "DeskMgmt", "\"Installed\"=hex:ff,ff\n", false},
      {"holds 5 bytes", "DeskMgmt", "\"Installed\"=" + Padded("1", 5) + "\n",
       false},
      {"holds 256 bytes", "DeskMgmt",
       "\"Installed\"=" + Padded("1", 256) + "\n", false},
      {"too long to read", "DeskMgmt", "\"Installed\"=" + long257 + "\n", true},
      {"no DeskMgmt", "DeskMgmtX", "", false},
  };
  for (const Case& c : cases) {
    for (bool on : {true, false}) {
      SCOPED_TRACE(std::string(c.name) + (on ? " on" : " off"));
      const std::string before = Reg(
          kComponentsKey + "]\n\"DeskMgmt\"=\"DeskMgmt\"\n\n" +
          kComponentsKey + "\\Briefcase]\n\"INF\"=\"motown.inf\"\n\n" +
          kComponentsKey + "\\" + c.subkey + "]\n\"INF\"=\"Appletpp.inf\"\n" +
          c.values);
      const std::string saved = RunWorker(before, SetDeskMgmtInstalled,
                                          kComponents, on);
      if (!c.writes) {
        EXPECT_EQ(before, saved);
      } else if (c.values.empty()) {
        EXPECT_EQ(before + "\"Installed\"=\"" + (on ? "1" : "0") + "\"\n",
                  saved);
      } else {
        regtest::LoadedRegistry after(saved);
        HKEY key = after.Open(std::string(kComponents) + "\\DeskMgmt");
        char data[256];
        DWORD size = sizeof data;
        DWORD type = 0;
        ASSERT_EQ(0, RegistryOps::RegQueryValueExA(
                         key, "Installed", 0, &type,
                         reinterpret_cast<BYTE*>(data), &size));
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
        EXPECT_EQ(2u, size);
        EXPECT_STREQ(on ? "1" : "0", data);
        RegistryOps::RegCloseKey(key);
      }
    }
  }
}

}  // namespace

namespace {

// A name with a character that code page 1252 has no byte for enumerates
// as "?", which opens nothing: the walk skips that subkey and goes on.
TEST(SubkeyWalks, ASubkeyThatCannotBeOpenedIsSkipped) {
  const std::string dma =
      "\"PortDriver\"=\"ESDI_506.PDR\"\r\n\"InfPath\"=\"MSHDC.INF\"\r\n"
      "\"InfSection\"=\"GOOD_IDE\"\r\n";
  const std::string scsi = "[HKEY_LOCAL_MACHINE\\Enum\\SCSI\\";
  const std::string hdc = kHdcKey + "\\";
  struct Case {
    const char* label;
    TweakWorker worker;
    const char* path;
    std::string before;
    std::string after;
  };
  const Case cases[] = {
      {"CDP", SetScsiAutoInsert, "Enum\\SCSI",
       scsi + "\xd0\x96]\r\n\"AutoInsertNotification\"=hex:00\r\n\r\n" + scsi +
           "CD]\r\n\"AutoInsertNotification\"=hex:00\r\n",
       scsi + "\xd0\x96]\r\n\"AutoInsertNotification\"=hex:00\r\n\r\n" + scsi +
           "CD]\r\n\"AutoInsertNotification\"=hex:01\r\n"},
      {"DMA", SetIdeDma, kHdc,
       hdc + "\xd0\x96]\r\n" + dma + "\r\n" + hdc + "0001]\r\n" + dma,
       hdc + "\xd0\x96]\r\n" + dma + "\r\n" + hdc + "0001]\r\n" + dma +
           "\"IDEDMADRIVE0\"=hex:01\r\n\"IDEDMADRIVE1\"=hex:01\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(regtest::Reg5(c.after),
              RunWorker(regtest::Reg5(c.before), c.worker, c.path, true));
  }
}

}  // namespace
