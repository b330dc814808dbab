// The front end: switch scanning, values, help, and the order of the rows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace {

using regtest::LoadedRegistry;
using regtest::Reg;

const Tweak& Row(const char* letters) {
  for (const Tweak& row : kTweakTable)
    if (std::string(row.letters) == letters) return row;
  ADD_FAILURE() << "no row " << letters;
  return kTweakTable[0];
}

TEST(FindSwitch, SlashFormFirstThenDashLeftmostAnywhere) {
  struct Case {
    const char* tail;
    int position;  // -1: not found
  };
  const Case cases[] = {
      {"", -1},
      {"/SS", -1},
      {"/SSP", 0},
      {"X/SSP", 1},
      {"/SSPQ", 0},
      {"-SSP", 0},
      {"-SSP:0 /SSP:1", 7},  // the slash form wins wherever it stands
      {"/SSP:1 /SSP:0", 0},  // the first occurrence
      {"/SSX /SSP", 5},
      {"//SSP", 1},
      {"/ssp", -1},  // tails are upper-cased before the search
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tail);
    LPCSTR found = FindSwitch(c.tail, Row("SSP"));
    EXPECT_EQ(c.position, found == nullptr ? -1 : static_cast<int>(found - c.tail));
  }
}

TEST(ParseSwitchValue, OnExactlyForColonOrEqualsOne) {
  struct Case {
    const char* form;
    bool on;
  };
  const Case cases[] = {
      {"/SSP", false},    {"/SSP:", false},  {"/SSP:1", true},
      {"/SSP=1", true},   {"/SSP:0", false}, {"/SSP:2", false},
      {"/SSP:Y", false},  {"/SSP 1", false}, {"/SSPQ", false},
      {"/SSP:10", true},  {"/SSP:1X", true}, {"/SSP1", false},
      {"/SSP::1", false}, {"/SSP/DDC:1", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.form);
    EXPECT_EQ(c.on, ParseSwitchValue(c.form));
  }
}

TEST(UpperCaseTail, OnlyAsciiLettersChange) {
  char tail[] = "/ssp:1 -dMa=1 \xe9\xff z";
  UpperCaseTail(tail);
  EXPECT_STREQ("/SSP:1 -DMA=1 \xe9\xff Z", tail);
}

// One registry in which every row's worker makes exactly one visible change
// (two for DMA), so a run's change list shows which rows ran, in what order
// and with which value.
const std::string kAllKeys = Reg(
    "[HKEY_LOCAL_MACHINE\\Enum\\Root\\*PNP0C05\\0000]\n"
    "\"APMMenuSuspend\"=hex:ff\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\Display\\0000\\DEFAULT]\n"
    "\"DDC\"=\"x\"\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\Enum\\SCSI\\CDROM]\n"
    "\"AutoInsertNotification\"=hex:ff\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\hdc\\0000]\n"
    "\"PortDriver\"=\"ESDI_506.PDR\"\n"
    "\"InfPath\"=\"MSHDC.INF\"\n"
    "\"InfSection\"=\"GOOD_IDE\"\n"
    "\"IDEDMADRIVE0\"=hex:ff\n"
    "\"IDEDMADRIVE1\"=hex:ff\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Setup\\OptionalComponents\\DeskMgmt]\n"
    "\"INF\"=\"Appletpp.inf\"\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\control\\FileSystem]\n"
    "\"ACDriveSpinDown\"=hex:05\n");

int gBoxes = 0;
std::string gBoxCaption;
std::string gBoxText;
UINT gBoxType = 0;
void CountBox(const char* text, const char* caption, UINT type) {
  ++gBoxes;
  gBoxText = text;
  gBoxCaption = caption;
  gBoxType = type;
}

struct Outcome {
  std::string changes;  // "name=hex ..." in the order of the writes
  int boxes = 0;
};

Outcome RunTail(const std::string& registryText, const std::string& tail) {
  LoadedRegistry loaded(registryText, CountBox);
  gBoxes = 0;
  std::vector<char> writable(tail.begin(), tail.end());
  writable.push_back('\0');
  EXPECT_EQ(0, WinMain(nullptr, nullptr, writable.data(), 0));
  EXPECT_EQ(0u, loaded.handles().Count()) << tail;
  Outcome outcome;
  outcome.boxes = gBoxes;
  for (const hostreg::Change& change : loaded.registry().values().Changes()) {
    const hostreg::Value& value =
        loaded.registry().values().Of(*change.key)[change.valueIndex];
    if (!outcome.changes.empty()) outcome.changes += ' ';
    outcome.changes += value.name + "=";
    for (unsigned char byte : value.data) {
      static const char kHex[] = "0123456789abcdef";
      outcome.changes += kHex[byte >> 4];
      outcome.changes += kHex[byte & 15];
    }
  }
  return outcome;
}

const char kSspOn[] = "APMMenuSuspend=01";
const char kSspOff[] = "APMMenuSuspend=00";

TEST(WinMain, TailsDecideWhichRowsRunAndHow) {
  struct Case {
    const char* tail;
    std::string changes;
    int boxes;
  };
  const Case cases[] = {
      {"", "", 0},
      {"/X /Y", "", 0},
      {"/ssp:1", kSspOn, 0},
      {"/SSP", kSspOff, 0},
      {"/SSP:0", kSspOff, 0},
      {"/SSP:2", kSspOff, 0},
      {"/SSP:Y", kSspOff, 0},
      {"/SSP 1", kSspOff, 0},
      {"/SSPQ", kSspOff, 0},
      {"/SSP=1", kSspOn, 0},
      {"-SSP:1", kSspOn, 0},
      {"/SSP:10", kSspOn, 0},
      {"/SSP:1 -SSP:0", kSspOn, 0},
      {"-SSP:0 /SSP:1", kSspOn, 0},
      {"/SSP:1 /SSP:0", kSspOn, 0},
      {"X/SSP:1", kSspOn, 0},
      // The order of the table, not of the tail.
      {"-ACS:1 /dma:1 /ssp:0",
       "APMMenuSuspend=00 IDEDMADRIVE0=01 IDEDMADRIVE1=01 ACDriveSpinDown=00", 0},
      {"/SSP:1/DDC:1", std::string(kSspOn) + " DDC=3100", 0},
      {"/din:0 /cdp=1 /ddc:0 /ssp:1",
       std::string(kSspOn) + " DDC=3000 AutoInsertNotification=01 Installed=3000",
       0},
      {"/acs /din:1 /dma:1 /cdp:1 /ddc:1 /ssp:1",
       std::string(kSspOn) +
           " DDC=3100 AutoInsertNotification=01 IDEDMADRIVE0=01"
           " IDEDMADRIVE1=01 Installed=3100 ACDriveSpinDown=00",
       0},
      // Help wins over everything else in the tail.
      {"/DMA:1 /h", "", 1},
      {"-HELP", "", 1},
      {"/SSP:1-H", "", 1},
      {"/?", "", 1},
      {"-?", "", 1},
      {"/ssp:1 -h", "", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tail);
    const Outcome outcome = RunTail(kAllKeys, c.tail);
    EXPECT_EQ(c.changes, outcome.changes);
    EXPECT_EQ(c.boxes, outcome.boxes);
  }
}

TEST(WinMain, AboutBoxHasCaptionFourLinesAndInformationIcon) {
  RunTail(kAllKeys, "/?");
  EXPECT_EQ("Varnholt", gBoxCaption);
  int lineBreaks = 0;
  for (char c : gBoxText) lineBreaks += c == '\n';
  EXPECT_EQ(3, lineBreaks) << gBoxText;
  EXPECT_EQ(MB_ICONINFORMATION, gBoxType);
}

TEST(WinMain, MissingKeySkipsOnlyItsRow) {
  // No APM device and no display class: SSP and DDC are skipped, later rows
  // still run.
  const std::string registry = Reg(
      "[HKEY_LOCAL_MACHINE\\Enum\\SCSI\\CDROM]\n"
      "\"AutoInsertNotification\"=hex:ff\n"
      "\n"
      "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\control\\FileSystem]\n"
      "\"ACDriveSpinDown\"=hex:05\n");
  EXPECT_EQ("AutoInsertNotification=01 ACDriveSpinDown=00",
            RunTail(registry, "/SSP:1 /DDC:1 /CDP:1 /DMA:1 /DIN:1 /ACS").changes);
  // An empty registry: every row is skipped, nothing is created.
  EXPECT_EQ("", RunTail(Reg(""), "/SSP:1 /DDC:1 /CDP:1 /DMA:1 /DIN:1 /ACS:1")
                    .changes);
}

}  // namespace
