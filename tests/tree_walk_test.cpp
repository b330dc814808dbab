// CDP: every AutoInsertNotification in the tree below the key it is given.
#include <gtest/gtest.h>

#include <string>

#include "test_support.h"
#include "core/tweaks/tweaks.h"

namespace {

using regtest::Reg;
using regtest::RunWorker;

const std::string kScsi = "[HKEY_LOCAL_MACHINE\\Enum\\SCSI";

TEST(SetScsiAutoInsert, RewritesExistingValuesAtEveryDepthCreatesNone) {
  const std::string before = Reg(
      kScsi + "]\n\"AutoInsertNotification\"=hex:00,00,00,00\n\n" +
      kScsi + "\\NEC_CD]\n\"Class\"=\"CDROM\"\n\n" +
      kScsi + "\\NEC_CD\\ROOT&0000]\n\"autoINSERTnotification\"=hex:00\n"
              "\"RemovableMedia\"=hex:01\n\n" +
      kScsi + "\\ZIP\\ROOT&0001\\Media\\Deeper]\n"
              "\"AutoInsertNotification\"=dword:00000000\n\n"
              "[HKEY_LOCAL_MACHINE\\Enum\\ESDI\\DISK]\n"
              "\"AutoInsertNotification\"=hex:00\n");
  const std::string after = Reg(
      kScsi + "]\n\"AutoInsertNotification\"=hex:01\n\n" +
      kScsi + "\\NEC_CD]\n\"Class\"=\"CDROM\"\n\n" +
      kScsi + "\\NEC_CD\\ROOT&0000]\n\"autoINSERTnotification\"=hex:01\n"
              "\"RemovableMedia\"=hex:01\n\n" +
      kScsi + "\\ZIP\\ROOT&0001\\Media\\Deeper]\n"
              "\"AutoInsertNotification\"=hex:01\n\n"
              "[HKEY_LOCAL_MACHINE\\Enum\\ESDI\\DISK]\n"
              "\"AutoInsertNotification\"=hex:00\n");
  EXPECT_EQ(after, RunWorker(before, SetScsiAutoInsert, "Enum\\SCSI", true));

  regtest::LoadedRegistry loaded(after);
  HKEY key = loaded.Open("Enum\\SCSI\\NEC_CD\\ROOT&0000");
  char name[256];
  DWORD length = sizeof name;
  // Rewritten under its own name: still two values, no twin.
  EXPECT_EQ(0, RegistryOps::RegEnumValueA(key, 1, name, &length, 0, 0, 0, 0));
  length = sizeof name;
  EXPECT_NE(0, RegistryOps::RegEnumValueA(key, 2, name, &length, 0, 0, 0, 0));
  RegistryOps::RegCloseKey(key);
}

// Depth first: a key's values before its subkeys, each subkey's whole tree
// before the next.
TEST(SetScsiAutoInsert, WalksValuesFirstThenEachSubtreeInTurn) {
  regtest::LoadedRegistry loaded(Reg(
      kScsi + "]\n\"AutoInsertNotification\"=hex:00\n\n" +
      kScsi + "\\A]\n\"AutoInsertNotification\"=hex:00\n\n" +
      kScsi + "\\A\\Deep]\n\"AutoInsertNotification\"=hex:00\n\n" +
      kScsi + "\\B]\n\"AutoInsertNotification\"=hex:00\n"));
  HKEY key = loaded.Open("Enum\\SCSI");
  SetScsiAutoInsert(key, true);
  RegistryOps::RegCloseKey(key);
  std::string order;
  for (const hostreg::Change& change : loaded.registry().values().Changes())
    order += loaded.registry().keys().Path(*change.key) + ";";
  EXPECT_EQ("Enum\\SCSI;Enum\\SCSI\\A;Enum\\SCSI\\A\\Deep;Enum\\SCSI\\B;", order);
}

TEST(SetScsiAutoInsert, EmptyOrValuelessTreeIsLeftAlone) {
  const std::string cases[] = {
      Reg(kScsi + "]\n"),
      Reg(kScsi + "\\CD\\ROOT]\n\"Class\"=\"CDROM\"\n"),
  };
  for (const std::string& before : cases) {
    SCOPED_TRACE(before);
    EXPECT_EQ(before, RunWorker(before, SetScsiAutoInsert, "Enum\\SCSI", false));
  }
}

TEST(SetScsiAutoInsert, OverlongValueNameEndsThatKeysValuesOnly) {
  const std::string overlong(256, 'x');
  const std::string before = Reg(
      kScsi + "\\CD]\n\"" + overlong + "\"=hex:00\n"
              "\"AutoInsertNotification\"=hex:00\n\n" +
      kScsi + "\\CD\\ROOT]\n\"AutoInsertNotification\"=hex:00\n\n" +
      kScsi + "\\ZIP]\n\"AutoInsertNotification\"=hex:00\n");
  const std::string after = Reg(
      kScsi + "\\CD]\n\"" + overlong + "\"=hex:00\n"
              "\"AutoInsertNotification\"=hex:00\n\n" +
      kScsi + "\\CD\\ROOT]\n\"AutoInsertNotification\"=hex:01\n\n" +
      kScsi + "\\ZIP]\n\"AutoInsertNotification\"=hex:01\n");
  EXPECT_EQ(after, RunWorker(before, SetScsiAutoInsert, "Enum\\SCSI", true));
}

// A chain of keys whose deepest one is `depth` levels below the root.
std::string Chain(size_t depth) {
  std::string path = "HKEY_LOCAL_MACHINE\\Enum\\SCSI";
  for (size_t level = 3; level <= depth; ++level) path += "\\d";
  return Reg("[" + path + "]\n\"AutoInsertNotification\"=hex:00\n");
}

TEST(SetScsiAutoInsert, DeepestTreeWindowsAllowsWorksEndToEnd) {
  const std::string deepest = Chain(hostreg::kMaxKeyDepth);
  regtest::ProgramRun run = regtest::RunProgram(deepest, {"/CDP:1"});
  EXPECT_EQ(0, run.status) << run.err;
  // The same through WinMain alone, which checks that no key is left open.
  EXPECT_EQ(run.file, regtest::RunTail(deepest, "/CDP:1"));
  std::string expected = deepest;
  expected.replace(expected.rfind("hex:00"), 6, "hex:01");
  EXPECT_EQ(expected, run.file);

  // One level more is a key Windows cannot hold: the importer skips it with
  // its values, so nothing changes and the file is left as it was.
  const std::string tooDeep = Chain(hostreg::kMaxKeyDepth + 1);
  run = regtest::RunProgram(tooDeep, {"/CDP:1"});
  EXPECT_EQ(0, run.status);
  EXPECT_NE(std::string::npos, run.err.find("deeper than 512")) << run.err;
  EXPECT_EQ(tooDeep, run.file);
}

}  // namespace
