// Files that carry checksums: Windows 95's own SYSTEM.DAT (SYSTEM.1ST, from
// the shared test data) and the Windows 98 file given checksums. The rule
// against every stored value, every tweak on and off, the writer's ways of
// making room, and what is refused, with the dry run saying so first.
#include <gtest/gtest.h>

#include <functional>

#include "creg_support.h"
#include "host/formats/changes.h"
#include "test_support.h"

namespace regtest {
namespace {

using hostreg::Key;

const char kApm[] = "Enum\\Root\\*PNP0C05\\0000";
const char kFileSystem[] = "System\\CurrentControlSet\\control\\FileSystem";
const char kDisplay[] = "System\\CurrentControlSet\\Services\\Class\\Display\\";
const char kUpdate[] = "System\\CurrentControlSet\\control\\Update";  // block 7

// The checksum fields of `after` must hold their rule's value where they are
// in force, and stay as in `before` where they are stale.
void ExpectChecksumsKept(const std::string& before, const std::string& after) {
  const std::vector<Checksum> was = Checksums(before), now = Checksums(after);
  ASSERT_GE(now.size(), was.size());
  for (size_t i = 0; i < now.size(); ++i) {
    const Checksum& c = now[i];
    if (c.stale && i < was.size())
      EXPECT_EQ(was[i].stored, c.stored) << c.what << " is stale and must stay";
    else
      EXPECT_EQ(c.byRule, c.stored) << c.what;
  }
}

TEST(Creg95Checksums, TheRuleGivesEveryStoredValueThatIsNotStale) {
  REQUIRE_WIN95_SYSTEM();
  size_t inForce = 0, stale = 0;
  for (const Checksum& c : Checksums(Win95System())) {
    if (c.stale) {
      ++stale;
      continue;
    }
    ++inForce;
    EXPECT_EQ(c.byRule, c.stored) << c.what;
  }
  // The header and blocks 7, 13, 16, 17, 18 and 22; the key tree and the
  // other 17 blocks are marked stale.
  EXPECT_EQ(7u, inForce);
  EXPECT_EQ(18u, stale);
  auto loaded = LoadCreg(Win95System());
  ASSERT_TRUE(loaded->file) << loaded->error;
  EXPECT_EQ(5593u, loaded->keys);  // as libcreg reads it
  EXPECT_EQ("", loaded->file->SaveRefusal(loaded->registry, hostreg::CollectChanges(loaded->registry)));
}

struct Expected {
  std::string key, name;
  DWORD type;
  std::string data;
};

std::vector<std::pair<const char*, std::vector<Expected>>> TweakCases() {
  const std::string z4(4, '\0'), ddc0 = std::string(kDisplay) + "0000\\DEFAULT",
                    ddc1 = std::string(kDisplay) + "0001\\DEFAULT";
  // Strings as Windows 9x keeps them, without the terminating zero.
  const std::vector<Expected> ddcOn{{ddc0, "DDC", REG_SZ, "1"},
                                    {ddc1, "DDC", REG_SZ, "1"}};
  std::vector<Expected> allOn = ddcOn;
  allOn.push_back({kFileSystem, "ACDriveSpinDown", REG_BINARY, z4});
  std::vector<Expected> allOff{{ddc0, "DDC", REG_SZ, "0"},
                               {ddc1, "DDC", REG_SZ, "0"},
                               {kApm, "APMMenuSuspend", REG_BINARY, std::string(1, '\0')},
                               {kFileSystem, "ACDriveSpinDown", REG_BINARY, z4}};
  return {
      {"/SSP:1", {}},  // already on
      {"/SSP:0", {{kApm, "APMMenuSuspend", REG_BINARY, std::string(1, '\0')}}},
      {"/ACS:1", {{kFileSystem, "ACDriveSpinDown", REG_BINARY, z4}}},
      {"/ACS:0", {{kFileSystem, "ACDriveSpinDown", REG_BINARY, z4}}},
      // The second adapter has no DDC value yet: its record grows.
      {"/DDC:1", ddcOn},
      {"/DDC:0", {allOff[0], allOff[1]}},
      // No IDE controller from MSHDC.INF, no CD-ROM notification value, no
      // DeskMgmt component on this machine.
      {"/DMA:1", {}}, {"/DMA:0", {}}, {"/CDP:1", {}}, {"/CDP:0", {}},
      {"/DIN:1", {}}, {"/DIN:0", {}},
      {"/SSP:1 /DDC:1 /CDP:1 /DMA:1 /DIN:1 /ACS:1", allOn},
      {"/SSP:0 /DDC:0 /CDP:0 /DMA:0 /DIN:0 /ACS:0", allOff},
  };
}

// Only the header, the key tree, the blocks of the changed keys and a new
// block at the end may differ.
void ExpectOnlyTheirBlocksChanged(const std::string& before, const std::string& after,
                                  Loaded& original, const std::vector<Expected>& values) {
  const size_t treeEnd = 0x20 + Le32(before, 0x24);
  for (const auto& range : Differences(before, after)) {
    bool allowed = range.second <= treeEnd || range.first >= before.size();
    for (const Expected& e : values) {
      Key* key = original.Find(e.key);
      ASSERT_NE(nullptr, key) << e.key;
      const size_t node = NodeOf(before, e.key);
      const auto block = Enclosing(before, RecordOf(before, node), true);
      allowed = allowed || (range.first >= block.first && range.second <= block.second);
    }
    EXPECT_TRUE(allowed) << "a byte changed at " << range.first;
  }
}

TEST(Creg95Tweaks, EveryTweakOnAndOffSavesWithChecksumsKept) {
  REQUIRE_WIN95_SYSTEM();
  auto original = LoadCreg(Win95System());
  ASSERT_TRUE(original->file) << original->error;
  for (const auto& [tail, values] : TweakCases()) {
    SCOPED_TRACE(tail);
    std::vector<std::string> args{"--dry-run"};
    for (size_t at = 0, end; at < std::string(tail).size(); at = end + 1) {
      end = std::string(tail).find(' ', at);
      if (end == std::string::npos) end = std::string(tail).size();
      args.push_back(std::string(tail).substr(at, end - at));
    }
    // The preview promises nothing the save then refuses.
    CopyRun preview = RunOnCopy(Win95System(), args);
    EXPECT_EQ(0, preview.status);
    // No warning but that a switch found nothing (this machine has no
    // ESDI_506 controller and no SCSI devices).
    for (size_t at = 0; at < preview.err.size();
         at = preview.err.find('\n', at) + 1)
      EXPECT_NE(std::string::npos,
                preview.err.substr(at, preview.err.find('\n', at) - at)
                    .find(" found nothing to change: "))
          << preview.err;
    EXPECT_EQ(values.empty(), preview.out.empty()) << preview.out;
    args.erase(args.begin());
    CopyRun run = RunOnCopy(Win95System(), args);
    ASSERT_EQ(0, run.status) << run.err;
    if (values.empty()) {
      EXPECT_TRUE(Win95System() == run.after);
      continue;
    }
    auto after = LoadCreg(run.after);
    ASSERT_TRUE(after->file) << after->error;
    Flat expected = original->values;
    for (const Expected& e : values) expected[e.key + "|" + e.name] = {e.type, e.data};
    EXPECT_EQ(original->keys, after->keys);
    EXPECT_TRUE(expected == after->values);
    EXPECT_EQ("", after->file->SaveRefusal(after->registry, hostreg::CollectChanges(after->registry)));
    ExpectChecksumsKept(Win95System(), run.after);
    ExpectOnlyTheirBlocksChanged(Win95System(), run.after, *original, values);
  }
}

// The writer's ways of making room on the Windows 95 file, in blocks whose
// checksum is in force (7, 13) and in one marked stale (0).
TEST(Creg95Writer, GrowsMovesOrAppendsWithChecksumsKept) {
  REQUIRE_WIN95_SYSTEM();
  const struct {
    const char* name;
    const char* key;
    size_t bytes;
    bool newBlock;
  } cases[] = {
      {"a small value in the record's own room, block 7", kUpdate, 5, false},
      {"a value moved within block 7", kUpdate, 3000, false},
      {"a value too big for stale block 0: a new block", kApm, 40000, true},
      {"a value too big for block 13: a new block", "Network", 40000, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto loaded = LoadCreg(Win95System());
    ASSERT_TRUE(loaded->file) << loaded->error;
    Key* key = loaded->Find(c.key);
    ASSERT_NE(nullptr, key);
    Flat expected = loaded->values;
    SetGrown(loaded->registry, *key, c.key, c.bytes, expected);
    std::string out, error;
    ASSERT_TRUE(loaded->Render(out, error)) << error;
    auto back = LoadCreg(out);
    ASSERT_TRUE(back->file) << back->error;
    EXPECT_TRUE(expected == back->values);
    EXPECT_EQ("", back->file->SaveRefusal(back->registry, hostreg::CollectChanges(back->registry)));
    ExpectChecksumsKept(Win95System(), out);
    EXPECT_EQ(c.newBlock, out.size() > Win95System().size());
    if (c.newBlock) {
      const Checksum added = Checksums(out).back();
      EXPECT_EQ(Win95System().size(), added.start);
      EXPECT_EQ(0x8, Le16(out, added.flagsAt));  // what every block has
      EXPECT_EQ(24, Le16(out, 16));              // the block count
    }
  }
}

// The last block of the Windows 98 file made 2 bytes shorter, from its
// last free record: no whole number of 4-byte words to sum.
std::string OddSizedBlock() {
  std::string d = Win98WithChecksums();
  const size_t last = Enclosing(d, d.size() - 1, true).first;
  const size_t freeRecord = Enclosing(d, d.size() - 1, false).first;
  SetLe32(d, last + 4, Le32(d, last + 4) - 2);
  SetLe32(d, last + 8, Le32(d, last + 8) - 2);
  SetLe32(d, freeRecord, Le32(d, freeRecord) - 2);
  d.resize(d.size() - 2);
  return d;
}

std::string Altered(std::string d, size_t field) {
  SetLe32(d, field, Le32(d, field) + 1);
  return d;
}

struct RefusalCase {
  const char* name;
  std::function<std::string()> make;
  const char* message;  // empty: the save goes ahead
};

// The dry run first, then the save, each on its own copy.
void ExpectRefusal(const RefusalCase& c) {
  SCOPED_TRACE(c.name);
  const std::string file = c.make();
  CopyRun preview = RunOnCopy(file, {"--dry-run", "/SSP:0"});
  CopyRun run = RunOnCopy(file, {"/SSP:0"});
  EXPECT_EQ(0, preview.status);
  EXPECT_TRUE(file == preview.after);
  EXPECT_NE("", preview.out);  // the change is still shown
  if (*c.message == '\0') {
    EXPECT_EQ("", preview.err);
    EXPECT_EQ(0, run.status) << run.err;
    ExpectChecksumsKept(file, run.after);
    return;
  }
  // The warning comes first and names the field.
  EXPECT_EQ(0u, preview.err.find("regswitch: ")) << preview.err;
  EXPECT_NE(std::string::npos,
            preview.err.find("SYSTEM.DAT: a save would be refused: " + std::string(c.message)))
      << preview.err;
  EXPECT_EQ(2, run.status);
  EXPECT_NE(std::string::npos, run.err.find(c.message)) << run.err;
  EXPECT_NE(std::string::npos, run.err.find("the file was left as it was")) << run.err;
  EXPECT_TRUE(file == run.after);
}

TEST(Creg95Refusals, AChecksumThatDoesNotHoldRefusesTheSaveAndTheDryRunSaysSo) {
  const size_t block3 = Le32(Win98System(), 8) + 0x1c000;
  const RefusalCase cases[] = {
      {"all checksums true", Win98WithChecksums, ""},
      {"the header's checksum off by one",
       [] { return Altered(Win98WithChecksums(), 12); }, "the checksum of the header (at offset 0xc)"},
      {"the key tree's checksum off by one",
       [] { return Altered(Win98WithChecksums(), 0x20 + 20); },
       "the checksum of the key tree (at offset 0x34)"},
      {"data block 3's checksum off by one",
       [&] { return Altered(Win98WithChecksums(), block3 + 28); },
       "the checksum of data block 3 (at offset 0x3f03c)"},
      {"block 3 marked stale, its checksum off by one",
       [&] {
         std::string d = Win98WithChecksums();
         SetLe16(d, block3 + 12, Le16(d, block3 + 12) | 1);
         return Altered(d, block3 + 28);
       },
       ""},
      {"a block whose size is no whole number of words", OddSizedBlock,
       "the checksum of data block 20 (at offset 0x12403c) cannot be computed"},
  };
  for (const RefusalCase& c : cases) ExpectRefusal(c);
}

TEST(Creg95Refusals, TheSameOnWindows95sOwnFile) {
  REQUIRE_WIN95_SYSTEM();
  const RefusalCase cases[] = {
      {"the header's checksum off by one",
       [] { return Altered(Win95System(), 12); }, "the checksum of the header (at offset 0xc)"},
      {"data block 7's checksum off by one",
       [] { return Altered(Win95System(), 0x5d314 + 28); },
       "the checksum of data block 7 (at offset 0x5d330)"},
      {"stale data block 0's checksum off by one",
       [] { return Altered(Win95System(), 0x28020 + 28); }, ""},
  };
  for (const RefusalCase& c : cases) ExpectRefusal(c);
}

}  // namespace
}  // namespace regtest
