// --show: each setting's state as the tweaks' own on and off runs find it,
// the values behind it, and a registry left as it was.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/formats/changes.h"
#include "host/show/settings.h"
#include "reg_support.h"
#include "test_support.h"

namespace {

using regtest::LoadedRegistry;
using regtest::Reg;

const char kApm[] = "[HKEY_LOCAL_MACHINE\\Enum\\Root\\*PNP0C05\\0000]\n";
const char kDisplay[] =
    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\Display";
const char kScsi[] = "[HKEY_LOCAL_MACHINE\\Enum\\SCSI";
const char kHdc[] =
    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\hdc";
const char kComponents[] =
    "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Setup\\"
    "OptionalComponents";
const char kFileSystem[] =
    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\control\\FileSystem]\n";
const char kIde[] =
    "\"PortDriver\"=\"ESDI_506.PDR\"\n\"InfPath\"=\"MSHDC.INF\"\n"
    "\"InfSection\"=\"GOOD_IDE\"\n";

// The --show lines of one setting: its own line and its values' lines.
std::string Block(const std::string& text, const std::string& letters) {
  const size_t start = text.find(letters + "  ");
  if (start == std::string::npos) return "(no line for " + letters + ")";
  size_t end = text.find('\n', start);
  while (end != std::string::npos && end + 1 < text.size() &&
         text[end + 1] == ' ')
    end = text.find('\n', end + 1);
  return text.substr(start, end == std::string::npos ? end : end + 1 - start);
}

std::string Show(LoadedRegistry& loaded) {
  hostreg::Registry& registry = loaded.registry();
  return hostreg::SettingsText(registry, hostreg::FindSettings(registry));
}

struct StateCase {
  const char* label;
  std::string body;
  const char* letters;
  const char* expected;  // the setting's lines
};

const StateCase kStates[] = {
    {"SSP on", std::string(kApm) + "\"APMMenuSuspend\"=hex:01\n", "SSP",
     "SSP  on                 Enum\\Root\\*PNP0C05\\0000\n"
     "     on       APMMenuSuspend=hex:01\n"},
    {"SSP off", std::string(kApm) + "\"APMMenuSuspend\"=hex:00\n", "SSP",
     "SSP  off                Enum\\Root\\*PNP0C05\\0000\n"
     "     off      APMMenuSuspend=hex:00\n"},
    {"SSP missing", kApm, "SSP",
     "SSP  unset              Enum\\Root\\*PNP0C05\\0000\n"
     "     unset    APMMenuSuspend missing\n"},
    {"SSP neither", std::string(kApm) + "\"apmmenususpend\"=dword:00000001\n",
     "SSP",
     "SSP  other              Enum\\Root\\*PNP0C05\\0000\n"
     "     other    apmmenususpend=dword:00000001\n"},
    {"SSP key missing", "[HKEY_LOCAL_MACHINE\\Enum\\Root]\n", "SSP",
     "SSP  key missing        Enum\\Root\\*PNP0C05\\0000\n"},
    {"DDC on and missing",
     std::string(kDisplay) + "\\0000\\DEFAULT]\n\"DDC\"=\"1\"\n" + kDisplay +
         "\\0001\\DEFAULT]\n",
     "DDC",
     "DDC  mixed              System\\CurrentControlSet\\Services\\Class\\"
     "Display\n"
     "     on       0000\\DEFAULT  DDC=\"1\"\n"
     "     unset    0001\\DEFAULT  DDC missing\n"},
    {"DDC off everywhere",
     std::string(kDisplay) + "\\0000\\DEFAULT]\n\"DDC\"=\"0\"\n" + kDisplay +
         "\\0001\\DEFAULT]\n\"DDC\"=\"0\"\n",
     "DDC",
     "DDC  off                System\\CurrentControlSet\\Services\\Class\\"
     "Display\n"
     "     off      0000\\DEFAULT  DDC=\"0\"\n"
     "     off      0001\\DEFAULT  DDC=\"0\"\n"},
    {"DDC no adapter with defaults",
     std::string(kDisplay) + "\\0000]\n\"DDC\"=\"1\"\n", "DDC",
     "DDC  nothing to switch  System\\CurrentControlSet\\Services\\Class\\"
     "Display\n"},
    // A value the walk meets under another case is rewritten under its
    // own name: one value, not two.
    {"CDP on and off",
     std::string(kScsi) + "\\CD\\1]\n\"AutoInsertNotification\"=hex:01\n" +
         kScsi + "\\CD\\2]\n\"AUTOINSERTNOTIFICATION\"=hex:00\n",
     "CDP",
     "CDP  mixed              Enum\\SCSI\n"
     "     on       CD\\1  AutoInsertNotification=hex:01\n"
     "     off      CD\\2  AUTOINSERTNOTIFICATION=hex:00\n"},
    {"CDP nothing", std::string(kScsi) + "\\CD\\1]\n\"Other\"=hex:01\n", "CDP",
     "CDP  nothing to switch  Enum\\SCSI\n"},
    {"DMA on",
     std::string(kHdc) + "\\0000]\n" + kIde +
         "\"IDEDMADRIVE0\"=hex:01\n\"IDEDMADRIVE1\"=hex:01\n",
     "DMA",
     "DMA  on                 System\\CurrentControlSet\\Services\\Class\\hdc\n"
     "     on       0000  IDEDMADRIVE0=hex:01\n"
     "     on       0000  IDEDMADRIVE1=hex:01\n"},
    // What the worker read tells why nothing is switched.
    {"DMA other driver",
     std::string(kHdc) + "\\0000]\n\"PortDriver\"=\"SCSIPORT.PDR\"\n"
                         "\"IDEDMADRIVE0\"=hex:01\n",
     "DMA",
     "DMA  nothing to switch  System\\CurrentControlSet\\Services\\Class\\hdc\n"
     "     read     0000  PortDriver=\"SCSIPORT.PDR\"\n"},
    {"DIN present",
     std::string(kComponents) + "\\DeskMgmt]\n\"Installed\"=\"0\"\n", "DIN",
     "DIN  nothing to switch  Software\\Microsoft\\Windows\\CurrentVersion\\"
     "Setup\\OptionalComponents\n"
     "     read     DeskMgmt  Installed=\"0\"\n"},
    {"DIN missing", std::string(kComponents) + "\\DeskMgmt]\n", "DIN",
     "DIN  unset              Software\\Microsoft\\Windows\\CurrentVersion\\"
     "Setup\\OptionalComponents\n"
     "     unset    DeskMgmt  Installed missing\n"},
    // The switch's value does not matter to ACS.
    {"ACS zero", std::string(kFileSystem) + "\"ACDriveSpinDown\"=hex:00,00\n",
     "ACS",
     "ACS  applied            System\\CurrentControlSet\\control\\FileSystem\n"
     "     applied  ACDriveSpinDown=hex:00,00\n"},
    {"ACS nonzero",
     std::string(kFileSystem) + "\"ACDriveSpinDown\"=hex:05,00,00,00\n", "ACS",
     "ACS  pending            System\\CurrentControlSet\\control\\FileSystem\n"
     "     pending  ACDriveSpinDown=hex:05,00,00,00\n"},
    // Seventeen bytes are cut to sixteen; a REG_DWORD of another size is hex.
    {"ACS long",
     std::string(kFileSystem) + "\"ACDriveSpinDown\"=hex(4):01,02,03,04,05,06,"
         "07,08,09,0a,0b,0c,0d,0e,0f,10,11\n",
     "ACS",
     "ACS  pending            System\\CurrentControlSet\\control\\FileSystem\n"
     "     pending  ACDriveSpinDown=hex(4):01,02,03,04,05,06,07,08,09,0a,0b,0c,"
     "0d,0e,0f,10,... (17 bytes)\n"},
    {"ACS missing", kFileSystem, "ACS",
     "ACS  nothing to switch  System\\CurrentControlSet\\control\\FileSystem\n"
     "     read     ACDriveSpinDown missing\n"},
};

class SettingStateTest : public testing::TestWithParam<StateCase> {};

TEST_P(SettingStateTest, TheTweaksOwnRunsTellTheState) {
  const StateCase& c = GetParam();
  const std::string file = Reg(c.body);
  LoadedRegistry loaded(file);
  EXPECT_EQ(c.expected, Block(Show(loaded), c.letters));
  // Nothing of the runs stays behind.
  EXPECT_TRUE(hostreg::CollectChanges(loaded.registry()).empty());
  EXPECT_EQ(file, loaded.Saved());
  EXPECT_EQ(0u, loaded.handles().Count());
}

INSTANTIATE_TEST_SUITE_P(Rows, SettingStateTest, testing::ValuesIn(kStates),
                         [](const testing::TestParamInfo<StateCase>& info) {
                           std::string name;
                           for (const char* p = info.param.label; *p; ++p)
                             name += isalnum(static_cast<unsigned char>(*p))
                                         ? *p
                                         : '_';
                           return name;
                         });

TEST(ShowSettings, EveryRowHasALineInTableOrder) {
  LoadedRegistry loaded(Reg(kApm));
  const std::vector<hostreg::Setting> settings =
      hostreg::FindSettings(loaded.registry());
  ASSERT_EQ(static_cast<size_t>(kTweakCount), settings.size());
  for (size_t i = 0; i < settings.size(); ++i)
    EXPECT_EQ(&kTweakTable[i], settings[i].row);
  EXPECT_EQ(hostreg::State::kUnset, settings[0].state);
  for (size_t i = 1; i < settings.size(); ++i)
    EXPECT_EQ(hostreg::State::kKeyMissing, settings[i].state);
}

// A run's own changes are what --show would see after it: they stay, and
// the trials on top of them are taken back.
TEST(ShowSettings, ChangesMadeBeforeStay) {
  LoadedRegistry loaded(Reg(std::string(kApm) + "\"APMMenuSuspend\"=hex:00\n" +
                            kFileSystem + "\"ACDriveSpinDown\"=hex:07\n"));
  std::vector<char> tail{'/', 'S', 'S', 'P', ':', '1', '\0'};
  WinMain(nullptr, nullptr, tail.data(), 1);
  const std::string saved = loaded.Saved();
  ASSERT_NE(std::string::npos, saved.find("APMMenuSuspend\"=hex:01"));
  const std::string shown = Show(loaded);
  EXPECT_NE(std::string::npos, shown.find("SSP  on ")) << shown;
  EXPECT_NE(std::string::npos, shown.find("ACS  pending ")) << shown;
  EXPECT_EQ(saved, loaded.Saved());
  EXPECT_EQ(1u, loaded.registry().values().Changes().size());
}

// Names and data that could forge a line or move the cursor are escaped;
// 1252 text shows as UTF-8; long data is cut short.
TEST(ShowSettings, TextIsSafeOnATerminal) {
  struct Case {
    const char* label;
    std::string file;
    const char* letters;
    const char* line;  // a value line of the setting, from the value state on
  };
  const Case cases[] = {
      {"escape in data",
       Reg(std::string(kApm) + "\"APMMenuSuspend\"=\"a\x1b[2J\\\"\x81\xe9\"\n"),
       "SSP", "other    APMMenuSuspend=\"a\\x1b[2J\\\"\\x81\xc3\xa9\"\n"},
      {"1252 key name",
       Reg(std::string(kScsi) + "\\Caf\xe9\\1]\n"
                                "\"AutoInsertNotification\"=hex:00\n"),
       "CDP", "off      Caf\xc3\xa9\\1  AutoInsertNotification=hex:00\n"},
      {"long data",
       Reg(std::string(kFileSystem) + "\"ACDriveSpinDown\"=hex:" +
           "01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12\n"),
       "ACS",
       "pending  ACDriveSpinDown=hex:01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,"
       "0e,0f,10,... (18 bytes)\n"},
      // As Windows 9x files keep strings (set below: a .reg file's
      // strings load with their zero).
      {"string without its zero", Reg(std::string(kApm)), "SSP",
       "other    APMMenuSuspend=\"1\" (no terminating zero)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    LoadedRegistry loaded(c.file);
    if (std::string(c.label) == "string without its zero") {
      hostreg::Registry& registry = loaded.registry();
      registry.values().Set(
          *registry.keys().FindPath(registry.keys().Root(),
                                    "Enum\\Root\\*PNP0C05\\0000"),
          "APMMenuSuspend", REG_SZ, "1");
    }
    const std::string block = Block(Show(loaded), c.letters);
    EXPECT_NE(std::string::npos, block.find(std::string("\n     ") + c.line))
        << block;
    EXPECT_EQ(std::string::npos, block.find('\x1b'));
  }
}

// The trial that --show runs each tweak in, on the value store itself.
TEST(ValueStoreTrial, TakesBackEveryWriteAndKeepsWhatCameBefore) {
  const std::string file = Reg(
      "[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex:00\n\"w\"=hex:05\n"
      "[HKEY_LOCAL_MACHINE\\B]\n\"x\"=\"x\"\n");
  struct Write {
    const char* key;
    const char* name;
    const char* data;  // null: the value is deleted
  };
  struct Case {
    const char* label;
    std::vector<Write> before;  // writes before the trial
    std::vector<Write> trial;   // writes in it
  };
  const Case cases[] = {
      {"changed", {}, {{"A", "v", "\x01"}, {"B", "x", "y"}}},
      {"added", {}, {{"A", "new", "\x01"}, {"B", "more", "m"}}},
      {"written twice", {}, {{"A", "v", "\x01"}, {"A", "v", "\x02"}}},
      {"same data", {}, {{"A", "w", "\x05"}}},
      {"after a change",
       {{"A", "v", "\x01"}},
       {{"A", "v", "\x02"}, {"A", "added", "a"}, {"A", "w", "\x06"}}},
      {"after a deletion", {{"A", "v", nullptr}}, {{"A", "v", "\x01"}}},
      {"deleted", {}, {{"A", "v", nullptr}, {"B", "x", nullptr}}},
      {"deleted after a change", {{"A", "v", "\x06"}}, {{"A", "v", nullptr}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    LoadedRegistry loaded(file);
    hostreg::Registry& registry = loaded.registry();
    auto set = [&](const Write& w) {
      hostreg::Key* key = registry.keys().FindPath(registry.keys().Root(), w.key);
      ASSERT_NE(nullptr, key);
      if (w.data == nullptr)
        registry.values().Delete(*key, w.name);
      else
        registry.values().Set(*key, w.name, REG_BINARY, w.data);
    };
    for (const Write& w : c.before) set(w);
    const std::string saved = loaded.Saved();
    const size_t changes = registry.values().Changes().size();
    const regtest::Flat values = regtest::Flatten(registry);
    registry.values().BeginTrial();
    for (const Write& w : c.trial) set(w);
    registry.values().EndTrial();
    EXPECT_EQ(saved, loaded.Saved());
    EXPECT_EQ(values, regtest::Flatten(registry));
    EXPECT_EQ(changes, registry.values().Changes().size());
    // A write after the trial is recorded as ever.
    set({"A", "w", "\x07"});
    EXPECT_EQ(changes + 1, registry.values().Changes().size());
  }
}

}  // namespace
