// The compact host registry: values decoded on first use (and dropped again
// after the last handle closes), keys with several sections, other roots,
// enumeration cursors per handle and the shared name table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "reg_support.h"
#include "test_support.h"

namespace {

using hostreg::Key;
using hostreg::Registry;
using hostreg::Value;
using regtest::Load;
using regtest::LoadedRegistry;
using regtest::Reg4;
using regtest::Reg5;
namespace ops = RegistryOps;

std::string Names(const Registry& registry, const Key& key) {
  std::string out;
  for (const Value& value : registry.values().Of(key))
    out += (out.empty() ? "" : " ") + value.name + "=" + value.data;
  return out;
}

// One key in two sections of the file, a third section of another root
// with the same path, and a section of its subkey in between.
const std::string kSplit =
    "[HKEY_LOCAL_MACHINE\\A]\n"
    "\"one\"=\"1\"\n"
    "\"two\"=\"2\"\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\A\\Sub]\n"
    "\"s\"=\"x\"\n"
    "\n"
    "[HKEY_CURRENT_USER\\A]\n"
    "\"other\"=\"o\"\n"
    "\n"
    "[hkey_local_machine\\a]\n"
    "\"ONE\"=\"3\"\n"
    "\"three\"=\"4\"\n"
    "; a comment after the last value\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\B]\n";

TEST(LazyValues, SectionsMergeAndOtherRootsStayOut) {
  struct Case {
    const char* label;
    std::string file;
  };
  const Case cases[] = {
      {"REGEDIT4", Reg4(kSplit, "\n")},
      {"Version 5.00", Reg5(kSplit, "\n")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    auto loaded = Load(c.file);
    ASSERT_TRUE(loaded->file) << loaded->error;
    Key* a = loaded->Find("A");
    ASSERT_NE(nullptr, a);
    // The later "ONE" line replaces "one" in its place, as on import;
    // nothing of HKCU\A.
    EXPECT_EQ(std::string("ONE=3") + '\0' + " two=2" + '\0' + " three=4" + '\0',
              Names(loaded->registry, *a));
    ASSERT_EQ(1u, loaded->registry.keys().Subkeys(*a).size());
    EXPECT_EQ(2u, loaded->registry.keys().Subkeys(loaded->registry.keys().Root()).size());
  }
}

TEST(LazyValues, WritesBeforeAndAfterTheFirstLookLandInTheRightSection) {
  struct Case {
    const char* label;
    bool lookFirst;  // enumerate the values before writing
    const char* name;
    std::string after;
  };
  const Case cases[] = {
      {"new value, written first", false, "new",
       "[HKEY_LOCAL_MACHINE\\A]\n\"one\"=\"1\"\n\"two\"=\"2\"\n\n"
       "[HKEY_LOCAL_MACHINE\\A\\Sub]\n\"s\"=\"x\"\n\n"
       "[HKEY_CURRENT_USER\\A]\n\"other\"=\"o\"\n\n"
       "[hkey_local_machine\\a]\n\"ONE\"=\"3\"\n\"three\"=\"4\"\n"
       "\"new\"=hex:01\n; a comment after the last value\n\n"
       "[HKEY_LOCAL_MACHINE\\B]\n"},
      {"new value, after a look", true, "new",
       "[HKEY_LOCAL_MACHINE\\A]\n\"one\"=\"1\"\n\"two\"=\"2\"\n\n"
       "[HKEY_LOCAL_MACHINE\\A\\Sub]\n\"s\"=\"x\"\n\n"
       "[HKEY_CURRENT_USER\\A]\n\"other\"=\"o\"\n\n"
       "[hkey_local_machine\\a]\n\"ONE\"=\"3\"\n\"three\"=\"4\"\n"
       "\"new\"=hex:01\n; a comment after the last value\n\n"
       "[HKEY_LOCAL_MACHINE\\B]\n"},
      {"value of the first section, replaced by the second", false, "two",
       "[HKEY_LOCAL_MACHINE\\A]\n\"one\"=\"1\"\n\"two\"=hex:01\n\n"
       "[HKEY_LOCAL_MACHINE\\A\\Sub]\n\"s\"=\"x\"\n\n"
       "[HKEY_CURRENT_USER\\A]\n\"other\"=\"o\"\n\n"
       "[hkey_local_machine\\a]\n\"ONE\"=\"3\"\n\"three\"=\"4\"\n"
       "; a comment after the last value\n\n[HKEY_LOCAL_MACHINE\\B]\n"},
      {"a name given twice: the line that won", true, "one",
       "[HKEY_LOCAL_MACHINE\\A]\n\"one\"=\"1\"\n\"two\"=\"2\"\n\n"
       "[HKEY_LOCAL_MACHINE\\A\\Sub]\n\"s\"=\"x\"\n\n"
       "[HKEY_CURRENT_USER\\A]\n\"other\"=\"o\"\n\n"
       "[hkey_local_machine\\a]\n\"ONE\"=hex:01\n\"three\"=\"4\"\n"
       "; a comment after the last value\n\n[HKEY_LOCAL_MACHINE\\B]\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    auto loaded = Load(Reg4(kSplit, "\n"));
    ASSERT_TRUE(loaded->file) << loaded->error;
    Key* a = loaded->Find("A");
    ASSERT_NE(nullptr, a);
    if (c.lookFirst) {
      EXPECT_EQ(3u, loaded->registry.values().Of(*a).size());
    }
    loaded->registry.values().Set(*a, c.name, REG_BINARY, "\x01");
    EXPECT_EQ(Reg4(c.after, "\n"), loaded->Saved());
  }
}

TEST(LazyValues, ChangesSurviveTheLastHandleClosing) {
  LoadedRegistry loaded(regtest::Reg(
      "[HKEY_LOCAL_MACHINE\\K]\n\"a\"=hex:00\n\"b\"=hex:00\n\n"
      "[HKEY_LOCAL_MACHINE\\L]\n\"c\"=hex:00\n"));
  const BYTE one = 1;
  // Written, closed, opened again: the change is there and saved.
  HKEY k = loaded.Open("K");
  ASSERT_EQ(0, ops::RegSetValueExA(k, "b", 0, REG_BINARY, &one, 1));
  ASSERT_EQ(0, ops::RegCloseKey(k));
  // Only read, closed and read again: the values come back from the file.
  HKEY l = loaded.Open("L");
  BYTE data[4];
  DWORD size = sizeof data;
  ASSERT_EQ(0, ops::RegQueryValueExA(l, "c", nullptr, nullptr, data, &size));
  ASSERT_EQ(0, ops::RegCloseKey(l));
  struct Case {
    const char* key;
    const char* name;
    BYTE expected;
  };
  const Case cases[] = {{"K", "a", 0}, {"K", "b", 1}, {"L", "c", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.key) + "|" + c.name);
    HKEY h = loaded.Open(c.key);
    size = sizeof data;
    ASSERT_EQ(0, ops::RegQueryValueExA(h, c.name, nullptr, nullptr, data, &size));
    EXPECT_EQ(1u, size);
    EXPECT_EQ(c.expected, data[0]);
    ops::RegCloseKey(h);
  }
  EXPECT_EQ(regtest::Reg("[HKEY_LOCAL_MACHINE\\K]\n\"a\"=hex:00\n\"b\"=hex:01\n\n"
                         "[HKEY_LOCAL_MACHINE\\L]\n\"c\"=hex:00\n"),
            loaded.Saved());
}

TEST(EnumCursor, AnyIndexOrderGivesTheRightSubkey) {
  std::string body = "[HKEY_LOCAL_MACHINE\\P]\n";
  for (int i = 0; i < 40; ++i)
    body += "[HKEY_LOCAL_MACHINE\\P\\k" + std::to_string(i) + "]\n";
  LoadedRegistry loaded(regtest::Reg(body));
  HKEY first = loaded.Open("P");
  HKEY second = loaded.Open("P");
  // Interleaved handles, backwards, skips, repeats and past the end.
  struct Case {
    int handle;
    DWORD index;
    const char* expected;  // null: ERROR_NO_MORE_ITEMS
  };
  const Case cases[] = {
      {1, 0, "k0"},   {1, 1, "k1"},  {2, 5, "k5"},   {1, 2, "k2"},
      {2, 4, "k4"},   {1, 2, "k2"},  {1, 39, "k39"}, {1, 40, nullptr},
      {1, 41, nullptr}, {1, 38, "k38"}, {2, 0, "k0"},  {1, 17, "k17"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.handle) + ":" + std::to_string(c.index));
    char name[64];
    const LONG result = ops::RegEnumKeyA(c.handle == 1 ? first : second,
                                         c.index, name, sizeof name);
    if (c.expected == nullptr) {
      EXPECT_EQ(ERROR_NO_MORE_ITEMS, result);
    } else {
      ASSERT_EQ(ERROR_SUCCESS, result);
      EXPECT_STREQ(c.expected, name);
    }
  }
  ops::RegCloseKey(first);
  ops::RegCloseKey(second);
}

TEST(NameTable, FirstOfTwoEqualNamesWinsAcrossTableGrowth) {
  Registry registry;
  Key& root = registry.keys().Root();
  Key* first = registry.keys().AddSubkey(root, "Twice");
  Key* second = registry.keys().AddSubkey(root, "TWICE");
  // Enough keys to grow the table several times.
  std::vector<Key*> made;
  for (int i = 0; i < 5000; ++i)
    made.push_back(registry.keys().AddSubkey(*first, "n" + std::to_string(i)));
  struct Case {
    const Key* parent;
    std::string name;
    const Key* expected;
  };
  const Case cases[] = {
      {&root, "twice", first},        {&root, "Twice", first},
      {first, "N0", made[0]},         {first, "n4999", made[4999]},
      {first, "n5000", nullptr},      {second, "n1", nullptr},
      {&root, "n1", nullptr},         {made[7], "n7", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.expected, registry.keys().FindSubkey(*c.parent, c.name));
  }
  EXPECT_EQ(5003u, registry.keys().Count());
  EXPECT_EQ(first, registry.keys().Parent(*made[4999]));
  EXPECT_EQ("Twice\\n4999", registry.keys().Path(*made[4999]));
  EXPECT_EQ(2u, registry.keys().Subkeys(root).size());
  EXPECT_EQ(made[1], registry.keys().NextSibling(*made[0]));
  EXPECT_EQ(nullptr, registry.keys().NextSibling(*made[4999]));
}

}  // namespace

namespace {

// A walk opens each subkey it has just enumerated; any other name is
// still looked up, in any case, and a path through the enumerated key too.
TEST(EnumCursor, OpeningByNameAfterAnEnumerationFindsThatName) {
  LoadedRegistry loaded(regtest::Reg(
      "[HKEY_LOCAL_MACHINE\\P\\Alpha\\Deep]\n[HKEY_LOCAL_MACHINE\\P\\Beta]\n"));
  HKEY parent = loaded.Open("P");
  char name[64];
  ASSERT_EQ(ERROR_SUCCESS, ops::RegEnumKeyA(parent, 0, name, sizeof name));
  ASSERT_STREQ("Alpha", name);
  struct Case {
    const char* open;
    const char* found;  // the key's path, or null when none
  };
  const Case cases[] = {
      {"Alpha", "P\\Alpha"},       {"ALPHA", "P\\Alpha"},
      {"Beta", "P\\Beta"},         {"Alpha\\Deep", "P\\Alpha\\Deep"},
      {"Alph", nullptr},           {"Gamma", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.open);
    HKEY key = nullptr;
    const LONG result = ops::RegOpenKeyA(parent, c.open, &key);
    if (c.found == nullptr) {
      EXPECT_NE(ERROR_SUCCESS, result);
      continue;
    }
    ASSERT_EQ(ERROR_SUCCESS, result);
    EXPECT_EQ(c.found, loaded.registry().keys().Path(
                           *loaded.handles().Resolve(key)));
    ops::RegCloseKey(key);
  }
  ops::RegCloseKey(parent);
}

// A loaded export's subkeys are found among their siblings, which it lists
// in order, until a lookup needs the table: keys a merge adds out of that
// order must still be found, before the table and after it.
TEST(NameTable, KeysAddedOutOfOrderAfterLoadingAreFound) {
  std::string body;
  for (const char* name : {"B", "C"})
    body += std::string("[HKEY_LOCAL_MACHINE\\P\\") + name + "]\n";
  for (const bool wide : {false, true}) {
    SCOPED_TRACE(wide ? "past the sibling scan" : "a few siblings");
    std::string text = body;
    if (wide)
      for (int i = 0; i < 40; ++i)
        text += "[HKEY_LOCAL_MACHINE\\P\\C" + std::to_string(100 + i) + "]\n";
    auto loaded = Load(Reg4(text));
    ASSERT_TRUE(loaded->file) << loaded->error;
    hostreg::KeyTree& keys = loaded->registry.keys();
    Key* parent = loaded->Find("P");
    ASSERT_NE(nullptr, parent);
    Key* z = keys.AddSubkey(*parent, "Z");
    Key* d = keys.AddSubkey(*parent, "D");  // before Z: out of order now
    EXPECT_EQ(z, keys.FindSubkey(*parent, "z"));
    EXPECT_EQ(d, keys.FindSubkey(*parent, "D"));
    EXPECT_NE(nullptr, keys.FindSubkey(*parent, "B"));
    EXPECT_EQ(nullptr, keys.FindSubkey(*parent, "Y"));
  }
}

// Siblings an export lists in order end a lookup at the first name after
// the one looked for, however many there are.
TEST(NameTable, SortedSiblingsAnswerEveryLookup) {
  std::string text;
  for (int i = 0; i < 60; ++i)
    text += "[HKEY_LOCAL_MACHINE\\P\\C" + std::to_string(100 + 2 * i) + "]\n";
  auto loaded = Load(Reg4(text));
  ASSERT_TRUE(loaded->file) << loaded->error;
  hostreg::KeyTree& keys = loaded->registry.keys();
  Key* parent = loaded->Find("P");
  ASSERT_NE(nullptr, parent);
  struct Case {
    const char* name;
    const char* found;  // the name the key has, or null
  };
  const Case cases[] = {
      {"A", nullptr},       {"C100", "C100"}, {"c102", "C102"},
      {"C1", nullptr},      {"C101", nullptr}, {"C1000", nullptr},
      {"C151", nullptr},    {"C160", "C160"},  {"C218", "C218"},
      {"C219", nullptr},    {"C10", nullptr},  {"D", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Key* key = keys.FindSubkey(*parent, c.name);
    if (c.found == nullptr) {
      EXPECT_EQ(nullptr, key);
      continue;
    }
    ASSERT_NE(nullptr, key);
    EXPECT_EQ(c.found, keys.Name(*key));
  }
}

}  // namespace
