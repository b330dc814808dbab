// The CREG storage on a real Windows 98 SYSTEM.DAT: loading, every tweak on
// and off through the host program, the writer's ways of making room, what
// it refuses, and files whose structure is broken.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <sstream>

#include "creg_support.h"
#include "host/cli/run.h"
#include "host/formats/creg/creg_format.h"
#include "test_support.h"

namespace regtest {
namespace {

using hostreg::Key;
using hostreg::Registry;
using hostreg::Value;

const char kHdc[] = "System\\CurrentControlSet\\Services\\Class\\hdc\\";
const char kApm[] = "Enum\\Root\\*PNP0C05\\0000";
const char kFileSystem[] = "System\\CurrentControlSet\\Control\\FileSystem";
const char kDdc[] =
    "System\\CurrentControlSet\\Services\\Class\\DISPLAY\\0000\\DEFAULT";
const char kCdrom[] =
    "Enum\\SCSI\\VBOX____CD-ROM__________1\\MF&CHILD0001&PCI&VEN_8086&DEV_"
    "7111&SUBSYS_00000000&REV_01&BUS_00&DEV_01&FUNC_0100";

const std::string& Original() { return Win98System(); }

TEST(CregLoad, RealSystemDatReadsEveryKeyAndValue) {
  auto loaded = LoadCreg(Original());
  ASSERT_TRUE(loaded->file) << loaded->error;
  // The counts and samples libcreg's cregexport shows for this file.
  EXPECT_EQ(4999u, loaded->keys);
  EXPECT_EQ(15858u, loaded->values.size());
  EXPECT_EQ("SOFTWARE", loaded->registry.keys().Name(
                            *loaded->registry.keys().FirstSubkey(loaded->registry.keys().Root())));
  EXPECT_EQ(std::make_pair(DWORD{REG_SZ}, std::string("C:\\WINDOWS\\INF")),
            loaded->values["SOFTWARE\\Microsoft\\Windows\\CurrentVersion|"
                           "DevicePath"]);
  EXPECT_EQ(std::make_pair(DWORD{REG_SZ}, std::string("ESDI_506.pdr")),
            loaded->values[std::string(kHdc) + "0001|PortDriver"]);
  // Values keep file order within their key.
  Key* version = loaded->registry.keys().FindPath(
      loaded->registry.keys().Root(), "SOFTWARE\\Microsoft\\Windows\\CurrentVersion");
  ASSERT_NE(nullptr, version);
  EXPECT_EQ("InstallType", loaded->registry.values().Of(*version)[0].name);
  EXPECT_EQ("SetupFlags", loaded->registry.values().Of(*version)[1].name);
}

TEST(CregLoad, ChoosesTheFormatBySignatureNotName) {
  Loaded loaded(Original(), "HKEY_LOCAL_MACHINE", "registry.reg");
  ASSERT_TRUE(loaded.file) << loaded.error;
  EXPECT_NE(nullptr, loaded.Find(kApm));
}

struct Expected {
  std::string key, name;
  DWORD type;
  std::string data;
};

struct TweakCase {
  const char* tail;
  std::vector<Expected> values;  // empty: the file must stay byte for byte
};

const std::string kZero(1, '\0');
const std::string kOne(1, '\1');

std::vector<TweakCase> TweakCases() {
  const std::string h1 = std::string(kHdc) + "0001";
  const std::string h2 = std::string(kHdc) + "0002";
  return {
      {"/SSP:1", {}},  // already on
      {"/SSP:0", {{kApm, "APMMenuSuspend", REG_BINARY, kZero}}},
      {"/ACS:1", {{kFileSystem, "ACDriveSpinDown", REG_BINARY, std::string(4, '\0')}}},
      {"/ACS:0", {{kFileSystem, "ACDriveSpinDown", REG_BINARY, std::string(4, '\0')}}},
      // Windows 9x keeps "1" without its terminator, and takes the length
      // of what the worker writes from the string: already on.
      {"/DDC:1", {}},
      {"/DDC:0", {{kDdc, "DDC", REG_SZ, "0"}}},
      // Added values: the records grow.
      {"/DMA:1", {{h1, "IDEDMADRIVE0", REG_BINARY, kOne}, {h1, "IDEDMADRIVE1", REG_BINARY, kOne},
                  {h2, "IDEDMADRIVE0", REG_BINARY, kOne}, {h2, "IDEDMADRIVE1", REG_BINARY, kOne}}},
      {"/DMA:0", {{h1, "IDEDMADRIVE0", REG_BINARY, kZero}, {h1, "IDEDMADRIVE1", REG_BINARY, kZero},
                  {h2, "IDEDMADRIVE0", REG_BINARY, kZero}, {h2, "IDEDMADRIVE1", REG_BINARY, kZero}}},
      {"/DIN:1", {}},  // no DeskMgmt component in this machine
      {"/DIN:0", {}},
      {"/CDP:1", {}},  // already on
      {"/CDP:0", {{kCdrom, "AutoInsertNotification", REG_BINARY, kZero}}},
  };
}

TEST(CregTweaks, EachTweakOnAndOffChangesExactlyItsValues) {
  auto before = LoadCreg(Original());
  ASSERT_TRUE(before->file);
  for (const TweakCase& c : TweakCases()) {
    SCOPED_TRACE(c.tail);
    CopyRun run = RunOnCopy(Original(), {c.tail});
    ASSERT_EQ(0, run.status) << run.err;
    if (c.values.empty()) {
      EXPECT_EQ(Original(), run.after);
      continue;
    }
    auto after = LoadCreg(run.after);
    ASSERT_TRUE(after->file) << after->error;
    Flat expected = before->values;
    for (const Expected& e : c.values) expected[e.key + "|" + e.name] = {e.type, e.data};
    EXPECT_EQ(before->keys, after->keys);
    EXPECT_TRUE(expected == after->values);
    // Only the changed keys' blocks, the key tree (for a record that moved to
    // a new block), the block count and a new block at the end differ.
    const size_t treeEnd = 0x20 + Le32(run.before, 0x24);
    for (const auto& range : Differences(run.before, run.after)) {
      bool allowed = range.second <= treeEnd || range.first >= run.before.size();
      for (const Expected& e : c.values) {
        Key* key = before->registry.keys().FindPath(before->registry.keys().Root(), e.key);
        ASSERT_NE(nullptr, key);
        const auto own = Enclosing(
            run.before,
            RecordInFile(run.before, before->registry.keys().Name(*key),
                         before->registry.values().Of(*key)),
            true);
        allowed = allowed || (range.first >= own.first && range.second <= own.second);
      }
      EXPECT_TRUE(allowed) << "a byte changed at " << range.first;
    }
  }
}

TEST(CregTweaks, DryRunPrintsTheChangesAndSavesNothing) {
  CopyRun run = RunOnCopy(Original(), {"--dry-run", "/DDC:0", "/CDP:0"});
  ASSERT_EQ(0, run.status) << run.err;
  EXPECT_EQ(Original(), run.after);
  EXPECT_EQ("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\" + std::string(kDdc) +
                "]\r\n\"DDC\"=\"0\"\r\n\r\n[HKEY_LOCAL_MACHINE\\" + kCdrom +
                "]\r\n\"AutoInsertNotification\"=hex:00\r\n",
            run.out);
}

// -v tells a value as the file's readers take it: a string, not its bytes.
TEST(CregTweaks, VerboseTellsStringsAsWindows9xReadsThem) {
  CopyRun run = RunOnCopy(Original(), {"-v", "/DDC:0"});
  ASSERT_EQ(0, run.status) << run.err;
  EXPECT_NE(std::string::npos,
            run.err.find("/DDC: [HKEY_LOCAL_MACHINE\\" + std::string(kDdc) +
                         "] \"DDC\"=\"0\" (was \"1\")"))
      << run.err;
}

// The writer's ways of making room, driven through the model as the workers
// drive it, each checked by reading the result back and by where it wrote.
struct GrowCase {
  const char* name;
  const char* key;
  size_t bytes;  // of a new REG_BINARY value
  enum { kInRecord, kInBlock, kNewBlock } where;
};

TEST(CregWriter, GrowsMovesOrAppendsAndKeepsEverythingElse) {
  const GrowCase cases[] = {
      {"small value after a record with room behind it", kApm, 5, GrowCase::kInBlock},
      {"value too big for the free space beside it", kApm, 3000, GrowCase::kInBlock},
      {"value bigger than any free space in the block", kApm, 40000, GrowCase::kNewBlock},
      {"value replacing same-size data", kFileSystem, 0, GrowCase::kInRecord},
  };
  for (const GrowCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto loaded = LoadCreg(Original());
    ASSERT_TRUE(loaded->file);
    Key* key = loaded->registry.keys().FindPath(loaded->registry.keys().Root(), c.key);
    ASSERT_NE(nullptr, key);
    const size_t oldOrigin =
        RecordInFile(Original(), loaded->registry.keys().Name(*key),
                     loaded->registry.values().Of(*key));
    Flat expected = loaded->values;
    if (c.bytes == 0) {
      loaded->registry.values().Set(*key, "ACDriveSpinDown", REG_BINARY, std::string(4, '\x7f'));
      expected[std::string(c.key) + "|ACDriveSpinDown"] = {REG_BINARY, std::string(4, '\x7f')};
    } else {
      SetGrown(loaded->registry, *key, c.key, c.bytes, expected);
    }
    std::string out, error;
    ASSERT_TRUE(loaded->Render(out, error)) << error;
    auto back = LoadCreg(out);
    ASSERT_TRUE(back->file) << back->error;
    EXPECT_TRUE(expected == back->values);
    EXPECT_EQ(loaded->keys, back->keys);

    const auto record = Enclosing(Original(), oldOrigin, false);
    const auto block = Enclosing(Original(), oldOrigin, true);
    for (const auto& range : Differences(Original(), out)) {
      const size_t at = range.first;
      switch (c.where) {
        case GrowCase::kInRecord:
          EXPECT_TRUE(at >= record.first && range.second <= record.second) << at;
          break;
        case GrowCase::kInBlock:
          EXPECT_TRUE(at >= block.first && range.second <= block.second) << at;
          break;
        case GrowCase::kNewBlock:
          // The old record freed, its block's header, the key's node (inside
          // RGKN), the block count, and the new block.
          EXPECT_TRUE((at >= block.first && range.second <= block.second) ||
                      range.second <= 0x20 + Le32(Original(), 0x24) ||
                      at >= Original().size())
              << at;
          break;
      }
    }
    if (c.where == GrowCase::kNewBlock) {
      EXPECT_EQ(0u, (out.size() - Original().size()) % 0x1000);
      EXPECT_EQ(22, out[16]);  // one more data block
    } else {
      EXPECT_EQ(Original().size(), out.size());
    }
  }
}

TEST(CregWriter, RefusesWhatItCannotWriteSafely) {
  struct Case {
    const char* name;
    std::function<void(std::string&)> damage;
    size_t bytes;  // of a new value in the APM key
    const char* message;
  };
  // Block 9 holds the APM key's record; its free-bytes count is at +8.
  const size_t apmBlock = Enclosing(Original(), Original().find("APMMenuSuspend"), true).first;
  const Case cases[] = {
      {"a checksum it cannot recompute", [](std::string& d) { SetLe32(d, 12, 0x1234); }, 1,
       "checksum"},
      {"moving a record in a block whose free list is off",
       [&](std::string& d) { SetLe32(d, apmBlock + 8, Le32(d, apmBlock + 8) + 1); }, 3000,
       "list of free space"},
      {"data longer than Windows 9x keeps", [](std::string&) {}, 16301,
       "holds 16,301 bytes, but Windows 95, 98 and Me keep at most 16,300 bytes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string damaged = Original();
    c.damage(damaged);
    auto loaded = LoadCreg(damaged);
    ASSERT_TRUE(loaded->file) << loaded->error;
    Key* key = loaded->registry.keys().FindPath(loaded->registry.keys().Root(), kApm);
    ASSERT_NE(nullptr, key);
    loaded->registry.values().Set(*key, "Grown", REG_BINARY, std::string(c.bytes, 'x'));
    std::string out, error;
    EXPECT_FALSE(loaded->Render(out, error));
    EXPECT_NE(std::string::npos, error.find(c.message)) << error;
  }
  // Through the program: exit 2, a message, the file untouched.
  std::string damaged = Original();
  SetLe32(damaged, 12, 0x1234);
  CopyRun run = RunOnCopy(damaged, {"/SSP:0"});
  EXPECT_EQ(2, run.status);
  EXPECT_NE(std::string::npos, run.err.find("checksum")) << run.err;
  EXPECT_EQ(damaged, run.after);
}

// The preview must not promise what the save refuses: /DMA:1 grows the IDE
// controllers' records, which cannot move in a block whose free-space list
// is off.
TEST(CregWriter, ADryRunSaysFirstWhenTheSaveWouldBeRefused) {
  std::string damaged = Original();
  const size_t hdc = RecordOf(damaged, NodeOf(damaged, std::string(kHdc) + "0001"));
  const size_t block = Enclosing(damaged, hdc, true).first;
  SetLe32(damaged, block + 8, Le32(damaged, block + 8) + 1);
  CopyRun preview = RunOnCopy(damaged, {"--dry-run", "/DMA:1"});
  EXPECT_EQ(0, preview.status);
  EXPECT_EQ(0u, preview.err.find("regswitch: ")) << preview.err;
  EXPECT_NE(std::string::npos,
            preview.err.find("SYSTEM.DAT: a save would be refused: the record of ["))
      << preview.err;
  EXPECT_NE(std::string::npos, preview.out.find("IDEDMADRIVE0")) << preview.out;
  CopyRun run = RunOnCopy(damaged, {"/DMA:1"});
  EXPECT_EQ(2, run.status);
  EXPECT_NE(std::string::npos, run.err.find("list of free space")) << run.err;
  EXPECT_TRUE(damaged == run.after);
  // Without the damage, neither says anything of the kind.
  EXPECT_EQ("", RunOnCopy(Original(), {"--dry-run", "/DMA:1"}).err);
}

TEST(CregLoad, RefusesBrokenStructureWithAClearMessage) {
  const std::string& d = Original();
  const size_t root = 0x20 + Le32(d, 0x28);
  const size_t firstChild = 0x20 + Le32(d, root + 16);
  const size_t block0 = Le32(d, 8);
  struct Case {
    const char* name;
    std::function<std::string()> make;
    const char* message;
  };
  const Case cases[] = {
      {"only the signature", [&] { return d.substr(0, 4); }, "too short"},
      {"cut inside the key tree", [&] { return d.substr(0, 0x1000); }, "does not fit"},
      {"cut inside a data block", [&] { return d.substr(0, block0 + 0x100); },
       "does not fit in the file"},
      {"cut inside a block header", [&] { return d.substr(0, block0 + 0xF010); },
       "ends inside a data block header"},
      {"unknown version", [&] { std::string s = d; SetLe32(s, 4, 2); return s; }, "version"},
      {"first block out of range",
       [&] { std::string s = d; SetLe32(s, 8, 0x7FFFFFFF); return s; }, "out of range"},
      {"key tree larger than the file",
       [&] { std::string s = d; SetLe32(s, 0x24, 0xFFFFFFF0); return s; }, "does not fit"},
      {"record size zero", [&] { std::string s = d; SetLe32(s, block0 + 32, 0); return s; },
       "record's size"},
      {"block count wrong", [&] { std::string s = d; SetLe16(s, 16, 20); return s; },
       "counts 20 data blocks"},
      {"root outside the key tree",
       [&] { std::string s = d; SetLe32(s, 0x28, 0xFFFFFF00); return s; }, "outside the key tree"},
      {"child link out of range",
       [&] { std::string s = d; SetLe32(s, root + 16, 0x7FFFFFF0); return s; },
       "points outside the key tree"},
      {"a key that is its own sibling",
       [&] { std::string s = d; SetLe32(s, firstChild + 20, Le32(d, root + 16)); return s; },
       "loop in the key tree"},
      {"a key whose child is the root",
       [&] { std::string s = d; SetLe32(s, firstChild + 16, Le32(d, 0x28)); return s; },
       "loop in the key tree"},
      {"parent link off", [&] { std::string s = d; SetLe32(s, firstChild + 12, 0x3C); return s; },
       "parent link"},
      {"node pointing at a missing record",
       [&] { std::string s = d; SetLe16(s, firstChild + 24, 0x4444); return s; },
       "does not exist"},
      {"node pointing past the last block",
       [&] { std::string s = d; SetLe16(s, firstChild + 26, 300); return s; }, "beyond the last"},
      {"value running past its record",
       [&] {
         std::string s = d;
         const size_t rec = Enclosing(d, d.find("InstallType"), false).first;
         const size_t name = static_cast<unsigned char>(d[rec + 12]);
         SetLe16(s, rec + 20 + name + 10, 0xFFFF);
         return s;
       },
       "past its key record"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto loaded = LoadCreg(c.make());
    EXPECT_FALSE(loaded->file);
    EXPECT_NE(std::string::npos, loaded->error.find(c.message)) << loaded->error;
    EXPECT_EQ(0u, loaded->error.find("SYSTEM.DAT: not a usable Windows 9x registry file"))
        << loaded->error;
  }
}

}  // namespace
}  // namespace regtest
