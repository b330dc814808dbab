// Windows 9x's own meaning in its own files, on the real Windows 95 and Me
// files: what Windows would lose is refused, values on the root get a
// record, many records move at once, and Windows Me's HKEY_CLASSES_ROOT
// goes to CLASSES.DAT (its SYSTEM.DAT told by its VersionNumber, Windows
// 95's by its own: five values of 15,000 bytes are refused in its keys
// only).
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "creg_support.h"
#include "host/formats/changes.h"
#include "host/formats/creg/limits.h"
#include "test_support.h"

namespace regtest {
namespace {

using hostreg::Key;
using hostreg::Value;

const char kEnum[] = "Enum";

// Sets `count` values of `bytes` bytes each in the key, their names
// `nameLength` characters long.
void SetValues(hostreg::Registry& registry, Key& key, size_t count,
               size_t nameLength, size_t bytes) {
  for (size_t i = 0; i < count; ++i) {
    std::string name(nameLength, 'N');
    name.back() = static_cast<char>('0' + i);
    registry.values().Set(key, name, REG_BINARY, std::string(bytes, '\x5a'));
  }
}

struct LimitCase {
  const char* what;
  bool win95;
  size_t count, nameLength, bytes;
  const char* refusal;  // what the message holds; null: it saves
};

// At each limit and one past it, on both files; Windows 95's own key limit
// only on its file.
TEST(Win9xLimits, WhatWindowsWouldLoseIsRefusedAndTheRestSaves) {
  REQUIRE_WIN95_SYSTEM();
  const LimitCase cases[] = {
      {"a name of 255 characters", false, 1, 255, 1, nullptr},
      {"a name of 256", false, 1, 256, 1, "its name is 256 characters long, but Windows 95, 98 "
                                          "and Me keep value names of at most 255"},
      {"a name of 256 on Windows 95", true, 1, 256, 1, "at most 255"},
      {"16,300 bytes of data", false, 1, 4, 16300, nullptr},
      {"16,301 bytes", false, 1, 4, 16301, "holds 16,301 bytes, but Windows 95, 98 and Me "
                                           "keep at most 16,300 bytes in a value"},
      {"65,535 bytes on Windows 95", true, 1, 4, 65535, "holds 65,535 bytes"},
      {"four values of 16,000 bytes in one Windows 95 key", true, 4, 4, 16000, nullptr},
      {"five of 15,000", true, 5, 4, 15000,
       "would hold 75,080 bytes of values, but Windows 95 keeps at most 64 KB"},
      {"five of 15,000 in one Windows Me key", false, 5, 4, 15000, nullptr},
  };
  for (const LimitCase& c : cases) {
    SCOPED_TRACE(c.what);
    auto loaded = LoadCreg(c.win95 ? Win95System() : Win98System());
    ASSERT_TRUE(loaded->file) << loaded->error;
    Key* key = loaded->Find(kEnum);
    ASSERT_NE(nullptr, key);
    SetValues(loaded->registry, *key, c.count, c.nameLength, c.bytes);
    const auto changes = hostreg::CollectChanges(loaded->registry);
    const std::string warning = loaded->file->SaveRefusal(loaded->registry, changes);
    std::string out, error;
    const bool saved = loaded->Render(out, error);
    if (c.refusal == nullptr) {
      EXPECT_TRUE(saved) << error;
      EXPECT_EQ("", warning);
      auto back = LoadCreg(out);
      ASSERT_TRUE(back->file) << back->error;
      EXPECT_TRUE(Flatten(loaded->registry) == back->values);
      continue;
    }
    EXPECT_FALSE(saved);
    EXPECT_NE(std::string::npos, error.find(c.refusal)) << error;
    EXPECT_NE(std::string::npos, error.find("Registry Element Size Limits")) << error;
    // The dry run's warning is the save's refusal.
    EXPECT_EQ(error, warning);
  }
}

// Nothing the real files hold is refused: every value of every key taken
// as written.
TEST(Win9xLimits, NothingTheRealFilesHoldIsRefused) {
  REQUIRE_WIN95_SYSTEM();
  for (const std::string* file : {&Win98System(), &Win95System()}) {
    auto loaded = LoadCreg(*file);
    ASSERT_TRUE(loaded->file) << loaded->error;
    hostreg::ChangeSet all;
    std::vector<Key*> pending{&loaded->registry.keys().Root()};
    while (!pending.empty()) {
      Key* key = pending.back();
      pending.pop_back();
      hostreg::KeyChanges changed{key, {}};
      for (size_t i = 0; i < loaded->registry.values().Of(*key).size(); ++i)
        changed.values.push_back(i);
      all.keys.push_back(changed);
      for (Key* sub : loaded->registry.keys().Subkeys(*key)) pending.push_back(sub);
    }
    EXPECT_GT(all.keys.size(), 4000u);
    EXPECT_EQ("", loaded->file->SaveRefusal(loaded->registry, all));
  }
}

// Through the program: the dry run warns first and shows the change, the
// save is refused with exit status 2 and the file left as it was.
TEST(Win9xLimits, TheDryRunWarnsFirstAndTheSaveIsRefused) {
  const std::string dir = TempDir();
  const std::string merge = dir + "/big.reg";
  WriteFile(merge, Reg("[HKEY_LOCAL_MACHINE\\Enum]\r\n\"Big\"=hex:" +
                       [] {
                         std::string hex = "00";
                         for (int i = 1; i < 16301; ++i) hex += ",00";
                         return hex;
                       }() + "\r\n"));
  CopyRun dry = RunOnCopy(Win98System(), {"--merge", merge, "--dry-run"});
  EXPECT_EQ(0, dry.status);
  EXPECT_EQ(0u, dry.err.find("regswitch: ")) << dry.err;
  EXPECT_NE(std::string::npos, dry.err.find("SYSTEM.DAT: a save would be refused: value \"Big\" "
                                            "of [HKEY_LOCAL_MACHINE\\Enum] holds 16,301 bytes"))
      << dry.err;
  EXPECT_NE(std::string::npos, dry.out.find("\"Big\"=hex:00,00")) << dry.out.substr(0, 200);
  CopyRun run = RunOnCopy(Win98System(), {"--merge", merge});
  EXPECT_EQ(2, run.status);
  EXPECT_NE(std::string::npos, run.err.find("holds 16,301 bytes")) << run.err;
  EXPECT_TRUE(Win98System() == run.after);
}

// Windows Me keeps no record for its root, Windows 95 an empty one named by
// one zero byte. Values on the root get one as Windows 95's; the node
// points at it.
TEST(Win9xRoot, ValuesOnTheRootGetARecordAsWindows95Keeps) {
  REQUIRE_WIN95_SYSTEM();
  for (const std::string* file : {&Win98System(), &Win95System()}) {
    auto loaded = LoadCreg(*file);
    ASSERT_TRUE(loaded->file) << loaded->error;
    Flat expected = loaded->values;
    Key& root = loaded->registry.keys().Root();
    loaded->registry.values().Set(root, "RootValue", REG_SZ, "here");
    loaded->registry.values().Set(root, "", REG_BINARY, std::string("\1\2", 2));
    expected["|RootValue"] = {REG_SZ, "here"};
    expected["|"] = {REG_BINARY, std::string("\1\2", 2)};
    std::string out, error;
    ASSERT_TRUE(loaded->Render(out, error)) << error;
    auto back = LoadCreg(out);
    ASSERT_TRUE(back->file) << back->error;
    EXPECT_TRUE(expected == back->values);
    const size_t record = RecordOf(out, NodeOf(out, ""));
    EXPECT_EQ(1u, Le16(out, record + 12));            // a name of one byte
    EXPECT_EQ('\0', out[record + 20]);                // which is zero
    EXPECT_EQ(2u, Le16(out, record + 14));            // two values
  }
}

// Adding a value to each of the first 1,000 keys in file order moves
// hundreds of records at once: they go to as many new blocks as they need,
// none numbering more than 255 records, and the file reads back as the
// registry the run left.
TEST(Win9xGrowth, ThousandsOfRecordsMoveAtOnceToAsManyBlocksAsTheyNeed) {
  REQUIRE_WIN95_SYSTEM();
  for (const std::string* file : {&Win98System(), &Win95System()}) {
    auto loaded = LoadCreg(*file);
    ASSERT_TRUE(loaded->file) << loaded->error;
    Flat expected = loaded->values;
    std::vector<Key*> pending{&loaded->registry.keys().Root()};
    size_t grown = 0;
    while (!pending.empty() && grown < 1000) {
      Key* key = pending.back();
      pending.pop_back();
      const std::vector<Key*> subkeys = loaded->registry.keys().Subkeys(*key);
      pending.insert(pending.end(), subkeys.rbegin(), subkeys.rend());
      if (key == &loaded->registry.keys().Root()) continue;
      loaded->registry.values().Set(*key, "Grown", REG_SZ, "grown");
      expected[loaded->registry.keys().Path(*key) + "|Grown"] = {REG_SZ, "grown"};
      ++grown;
    }
    std::string out, error;
    ASSERT_TRUE(loaded->Render(out, error)) << error;
    auto back = LoadCreg(out);
    ASSERT_TRUE(back->file) << back->error;
    EXPECT_TRUE(expected == back->values);
    EXPECT_EQ(loaded->keys, back->keys);
    // The new blocks: more than one, each with at most 255 records.
    size_t added = 0;
    for (size_t at = file->size(); at < out.size(); at += Le32(out, at + 4)) {
      ASSERT_EQ(0, out.compare(at, 4, "RGDB"));
      std::set<uint16_t> ids;
      for (size_t r = at + 32; r < at + Le32(out, at + 4); r += Le32(out, r))
        if (Le16(out, r + 4) != 0xFFFF) ids.insert(Le16(out, r + 4));
      EXPECT_LE(ids.size(), 255u);
      EXPECT_LE(Le32(out, at + 4), 0xF000u);
      ++added;
    }
    EXPECT_GE(added, 2u);
  }
}

struct ClassesCase {
  const char* what;
  bool win95;
  bool classes;          // --classes CLASSES.DAT
  const char* merge;     // the .reg body
  int status;
  const char* message;   // in standard error; "" for none
  const char* systemKey;  // must be in SYSTEM.DAT afterwards, or null
  const char* classesKey; // must be in CLASSES.DAT afterwards, or null
};

// Windows Me keeps HKEY_CLASSES_ROOT in CLASSES.DAT: its keys, and those of
// HKEY_LOCAL_MACHINE\SOFTWARE\Classes, go there with --classes and are
// refused without; Windows 95's go to SOFTWARE\Classes, and --classes is
// refused beside its SYSTEM.DAT. A refused run changes neither file.
TEST(Win9xClasses, WindowsMeKeepsHkeyClassesRootInClassesDat) {
  REQUIRE_WIN95_SYSTEM();
  const ClassesCase cases[] = {
      {"Me, HKEY_CLASSES_ROOT without --classes", false, false,
       "[HKEY_CLASSES_ROOT\\.foo]\r\n@=\"foofile\"\r\n", 2,
       "m.reg:3: a key of HKEY_CLASSES_ROOT, which Windows Me keeps in CLASSES.DAT, not in "
       "SYSTEM.DAT (this registry is Windows Me's: its VersionNumber is 4.90): give that file "
       "with --classes CLASSES.DAT", nullptr, nullptr},
      {"Me, SOFTWARE\\Classes without --classes", false, false,
       "[HKEY_LOCAL_MACHINE\\Software\\CLASSES\\foofile]\r\n", 2,
       "a key of HKEY_CLASSES_ROOT, which Windows Me keeps in CLASSES.DAT", nullptr, nullptr},
      {"Me, with --classes", false, true,
       "[HKEY_CLASSES_ROOT\\.foo]\r\n@=\"foofile\"\r\n"
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\foofile]\r\n@=\"Foo\"\r\n"
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kit]\r\n",
       0, "", "SOFTWARE\\Kit", ".foo"},
      {"Me, deleting all of SOFTWARE\\Classes", false, true,
       "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes]\r\n", 2, "which is all of CLASSES.DAT",
       nullptr, nullptr},
      {"95, HKEY_CLASSES_ROOT is SOFTWARE\\Classes", true, false,
       "[HKEY_CLASSES_ROOT\\.foo]\r\n@=\"foofile\"\r\n", 0, "", "SOFTWARE\\Classes\\.foo",
       nullptr},
      {"95, --classes refused", true, true, "[HKEY_CLASSES_ROOT\\.foo]\r\n", 2,
       "--classes is for Windows Me", nullptr, nullptr},
  };
  const std::string empty = EmptyCreg();
  for (const ClassesCase& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string dir = TempDir();
    const std::string system = dir + "/SYSTEM.DAT", classes = dir + "/CLASSES.DAT",
                      merge = dir + "/m.reg";
    const std::string& original = c.win95 ? Win95System() : Win98System();
    WriteFile(system, original);
    WriteFile(classes, empty);
    WriteFile(merge, Reg(c.merge));
    std::vector<std::string> args{"--registry", system, "--merge", merge};
    if (c.classes) args.insert(args.end(), {"--classes", classes});
    ProgramRun run = RunProgramArgs(args);
    EXPECT_EQ(c.status, run.status) << run.err;
    if (*c.message == '\0')
      EXPECT_EQ("", run.err);
    else
      EXPECT_NE(std::string::npos, run.err.find(c.message)) << run.err;
    if (c.status != 0) {
      EXPECT_TRUE(original == ReadFile(system));
      EXPECT_TRUE(empty == ReadFile(classes));
      continue;
    }
    Loaded savedSystem(ReadFile(system));
    Loaded savedClasses(ReadFile(classes), "HKEY_CLASSES_ROOT");
    if (c.systemKey != nullptr) {
      EXPECT_NE(nullptr, savedSystem.Find(c.systemKey));
    }
    if (c.classesKey != nullptr) {
      EXPECT_NE(nullptr, savedClasses.Find(c.classesKey));
      EXPECT_NE(nullptr, savedClasses.Find("foofile"));
      EXPECT_EQ(nullptr, savedSystem.Find("SOFTWARE\\Classes\\foofile"));
    } else {
      EXPECT_TRUE(empty == ReadFile(classes));
    }
  }
}

}  // namespace
}  // namespace regtest
