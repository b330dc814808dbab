// The host registry behind the RegistryOps calls: results, limits, handles.
#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

namespace {

using regtest::LoadedRegistry;
using regtest::Reg;
namespace ops = RegistryOps;

const std::string kTree = Reg(
    "[HKEY_LOCAL_MACHINE\\Top]\n"
    "\"Zeta\"=\"z\"\n"
    "\"alpha\"=hex:01,02\n"
    "@=\"default\"\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\Top\\Second]\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\Top\\First]\n"
    "\"Data\"=dword:00000102\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\Top\\First\\Deep]\n");

TEST(HostRegistry, EnumerationKeepsFileOrderAndEndsPastTheLast) {
  LoadedRegistry loaded(kTree);
  HKEY top = loaded.Open("Top");
  char name[256];
  ASSERT_EQ(0, ops::RegEnumKeyA(top, 0, name, sizeof name));
  EXPECT_STREQ("Second", name);
  ASSERT_EQ(0, ops::RegEnumKeyA(top, 1, name, sizeof name));
  EXPECT_STREQ("First", name);
  EXPECT_NE(0, ops::RegEnumKeyA(top, 2, name, sizeof name));

  const char* const expected[] = {"Zeta", "alpha", ""};
  for (DWORD i = 0; i < 3; ++i) {
    DWORD length = sizeof name;
    ASSERT_EQ(0, ops::RegEnumValueA(top, i, name, &length, 0, 0, 0, 0)) << i;
    EXPECT_STREQ(expected[i], name);
    EXPECT_EQ(std::string(expected[i]).size(), length);
  }
  DWORD length = sizeof name;
  EXPECT_NE(0, ops::RegEnumValueA(top, 3, name, &length, 0, 0, 0, 0));

  // A key without subkeys or values fails at index 0.
  HKEY deep = loaded.Open("Top\\First\\Deep");
  length = sizeof name;
  EXPECT_NE(0, ops::RegEnumKeyA(deep, 0, name, sizeof name));
  EXPECT_NE(0, ops::RegEnumValueA(deep, 0, name, &length, 0, 0, 0, 0));
  ops::RegCloseKey(deep);
  ops::RegCloseKey(top);
}

TEST(HostRegistry, NamesThatDoNotFitTheBufferFail) {
  const std::string fits(255, 'k');
  const std::string tooLong(256, 'v');
  LoadedRegistry loaded(Reg("[HKEY_LOCAL_MACHINE\\Top\\" + fits + "]\n"
                            "\"" + tooLong + "\"=hex:01\n"
                            "\"" + fits + "\"=hex:02\n"));
  HKEY top = loaded.Open("Top");
  char name[256];
  ASSERT_EQ(0, ops::RegEnumKeyA(top, 0, name, sizeof name));
  EXPECT_EQ(fits, name);
  // Keys of 256 characters cannot come from a file; add one directly.
  hostreg::Registry& registry = loaded.registry();
  registry.keys().AddSubkey(*registry.keys().FindSubkey(registry.keys().Root(), "Top"),
                     std::string(256, 'x'));
  EXPECT_NE(0, ops::RegEnumKeyA(top, 1, name, sizeof name));

  HKEY key = loaded.Open("Top\\" + fits);
  DWORD length = sizeof name;
  EXPECT_NE(0, ops::RegEnumValueA(key, 0, name, &length, 0, 0, 0, 0));
  length = sizeof name;
  ASSERT_EQ(0, ops::RegEnumValueA(key, 1, name, &length, 0, 0, 0, 0));
  EXPECT_EQ(fits, name);
  ops::RegCloseKey(key);
  ops::RegCloseKey(top);
}

TEST(HostRegistry, QueryFailsForMissingValuesAndDataOverTheBuffer) {
  std::string hex256;
  for (int i = 0; i < 256; ++i) hex256 += i ? ",2a" : "2a";
  LoadedRegistry loaded(Reg("[HKEY_LOCAL_MACHINE\\Top]\n"
                            "\"Fits\"=hex:" + hex256 + "\n"
                            "\"TooLong\"=hex:" + hex256 + ",2a\n"
                            "\"Text\"=\"ab\"\n"));
  HKEY top = loaded.Open("Top");
  struct Case {
    const char* value;
    bool succeeds;
    DWORD size;
  };
  const Case cases[] = {
      {"Fits", true, 256},
      {"fits", true, 256},  // names compare without regard to case
      {"TooLong", false, 0},
      {"Missing", false, 0},
      {"Text", true, 3},  // the terminating zero counts
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    unsigned char buffer[257];
    buffer[256] = 0x55;  // a guard byte just past the 256-byte capacity
    DWORD size = 256;
    const LONG result = ops::RegQueryValueExA(top, c.value, 0, 0, buffer, &size);
    EXPECT_EQ(c.succeeds, result == 0);
    if (c.succeeds) {
      EXPECT_EQ(c.size, size);
    }
    EXPECT_EQ(0x55, buffer[256]);
  }
  ops::RegCloseKey(top);
}

TEST(HostRegistry, OpeningAMissingKeyFailsAndCreatesNothing) {
  LoadedRegistry loaded(kTree);
  const char* const missing[] = {"Top\\Third", "top\\first\\deep\\deeper",
                                 "Nowhere", "Top\\\\First", "\\Top",
                                 "Top\\First\\"};
  for (const char* path : missing) {
    SCOPED_TRACE(path);
    HKEY key = reinterpret_cast<HKEY>(0x1);
    EXPECT_NE(0, ops::RegOpenKeyA(HKEY_LOCAL_MACHINE, path, &key));
  }
  EXPECT_EQ(0u, loaded.handles().Count());
  EXPECT_EQ(kTree, loaded.Saved());

  // Paths of several components, relative to an open key, in any case.
  HKEY top = loaded.Open("TOP");
  HKEY deep;
  ASSERT_EQ(0, ops::RegOpenKeyA(top, "first\\DEEP", &deep));
  EXPECT_EQ(2u, loaded.handles().Count());
  ops::RegCloseKey(deep);
  ops::RegCloseKey(top);
}

TEST(HostRegistry, HandlesAreCheckedAndCounted) {
  LoadedRegistry loaded(kTree);
  HKEY top = loaded.Open("Top");
  HKEY first = loaded.Open("Top\\First");
  EXPECT_NE(top, first);
  EXPECT_EQ(2u, loaded.handles().Count());
  EXPECT_EQ(0, ops::RegCloseKey(first));
  EXPECT_EQ(1u, loaded.handles().Count());

  char name[256];
  const BYTE byte = 1;
  HKEY closed = first;
  HKEY unknown = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0xdead0));
  for (HKEY bad : {closed, unknown}) {
    DWORD length = sizeof name;
    DWORD size = sizeof name;
    HKEY out;
    EXPECT_NE(0, ops::RegCloseKey(bad));
    EXPECT_NE(0, ops::RegOpenKeyA(bad, "Deep", &out));
    EXPECT_NE(0, ops::RegEnumKeyA(bad, 0, name, sizeof name));
    EXPECT_NE(0, ops::RegEnumValueA(bad, 0, name, &length, 0, 0, 0, 0));
    EXPECT_NE(0, ops::RegQueryValueExA(bad, "Data", 0, 0,
                                       reinterpret_cast<BYTE*>(name), &size));
    EXPECT_NE(0, ops::RegSetValueExA(bad, "New", 0, REG_BINARY, &byte, 1));
  }
  EXPECT_TRUE(hostreg::CollectChanges(loaded.registry()).empty());
  EXPECT_EQ(0, ops::RegCloseKey(top));
  EXPECT_EQ(0u, loaded.handles().Count());
}

TEST(HostRegistry, SetValueReplacesInPlaceAppendsNewAndIgnoresNoChange) {
  LoadedRegistry loaded(kTree);
  HKEY top = loaded.Open("Top");
  const BYTE same[] = {1, 2};
  const BYTE one = 1;
  // Same type and data: no change at all.
  ops::RegSetValueExA(top, "ALPHA", 0, REG_BINARY, same, 2);
  EXPECT_TRUE(hostreg::CollectChanges(loaded.registry()).empty());
  // A new type replaces the old one; the stored name keeps its case.
  ops::RegSetValueExA(top, "ZETA", 0, REG_BINARY, &one, 1);
  ops::RegSetValueExA(top, "Omega", 0, REG_SZ,
                      reinterpret_cast<const BYTE*>("1"), 2);
  ops::RegCloseKey(top);
  EXPECT_EQ(Reg("[HKEY_LOCAL_MACHINE\\Top]\n"
                "\"Zeta\"=hex:01\n"
                "\"alpha\"=hex:01,02\n"
                "@=\"default\"\n"
                "\"Omega\"=\"1\"\n"
                "\n"
                "[HKEY_LOCAL_MACHINE\\Top\\Second]\n"
                "\n"
                "[HKEY_LOCAL_MACHINE\\Top\\First]\n"
                "\"Data\"=dword:00000102\n"
                "\n"
                "[HKEY_LOCAL_MACHINE\\Top\\First\\Deep]\n"),
            loaded.Saved());
}

TEST(HostRegistry, StringHelpers) {
  struct Case {
    const char* a;
    const char* b;
    bool equal;
  };
  const Case cases[] = {
      {"ESDI_506.PDR", "esdi_506.pdr", true},
      {"DeskMgmt", "DESKMGMT", true},
      {"DeskMgmt", "DeskMgmt2", false},
      {"", "", true},
      {"\xe9t\xe9", "\xc9T\xc9", true},  // Western accented letters fold too
      {"a", "b", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
    EXPECT_EQ(c.equal, ops::lstrcmpiA(c.a, c.b) == 0);
  }
  char buffer[256] = "0000";
  EXPECT_EQ(buffer, ops::lstrcatA(buffer, "\\DEFAULT"));
  EXPECT_STREQ("0000\\DEFAULT", buffer);
}

// Windows 9x's "A" calls over its own files, as Wine's tests of
// RegSetValueExA and RegQueryValueExA record them where marked for Windows
// 9x: a REG_SZ is kept up to its first zero, whatever size was given, and
// read back with one zero added; other types are kept as given. Each row is
// written, then read back through RegQueryValueExA and RegEnumValueA.
TEST(HostRegistry, Windows9xStringsAreKeptAndReadAsWindows9xDoes) {
  struct Case {
    const char* what;
    DWORD type;
    std::string written;  // the bytes passed, their count the size
    std::string stored;   // under Windows 9x's rules
    std::string read;     // what the query returns
  };
  const Case cases[] = {
      {"a string with its zero", REG_SZ, std::string("1\0", 2), "1", std::string("1\0", 2)},
      {"a string without its zero", REG_SZ, "ThisNeverBreaks", "ThisNeverBreaks",
       std::string("ThisNeverBreaks\0", 16)},
      {"zeros inside cut the string", REG_SZ, std::string("This\0Breaks\0\0A\0", 15), "This",
       std::string("This\0", 5)},
      {"an empty string of size 0", REG_SZ, "", "", std::string(1, '\0')},
      {"REG_EXPAND_SZ keeps its bytes", REG_EXPAND_SZ, std::string("%a%\0b\0", 6),
       std::string("%a%\0b\0", 6), std::string("%a%\0b\0", 6)},
      {"REG_BINARY keeps its bytes", REG_BINARY, std::string("\1\0\2", 3),
       std::string("\1\0\2", 3), std::string("\1\0\2", 3)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    LoadedRegistry loaded(kTree);
    loaded.registry().SetStringRules(hostreg::StringRules::kWindows9x);
    HKEY top = loaded.Open("Top\\Second");
    ASSERT_EQ(0, ops::RegSetValueExA(top, "V", 0, c.type,
                                     reinterpret_cast<const BYTE*>(c.written.data()),
                                     static_cast<DWORD>(c.written.size())));
    const hostreg::Value* value = loaded.registry().values().Find(
        *loaded.handles().Resolve(top), "V");
    ASSERT_NE(nullptr, value);
    EXPECT_EQ(c.stored, value->data);
    BYTE data[256];
    DWORD size = sizeof data, type = 0;
    ASSERT_EQ(0, ops::RegQueryValueExA(top, "V", 0, &type, data, &size));
    EXPECT_EQ(c.read, std::string(reinterpret_cast<char*>(data), size));
    EXPECT_EQ(c.type, type);
    char name[256];
    DWORD length = sizeof name;
    size = sizeof data;
    ASSERT_EQ(0, ops::RegEnumValueA(top, 0, name, &length, 0, &type, data, &size));
    EXPECT_EQ(c.read, std::string(reinterpret_cast<char*>(data), size));
    // One byte short of the string and its zero: the size needed.
    size = static_cast<DWORD>(c.read.size() - 1);
    EXPECT_EQ(ERROR_MORE_DATA, ops::RegQueryValueExA(top, "V", 0, &type, data, &size));
    EXPECT_EQ(c.read.size(), size);
    ops::RegCloseKey(top);
  }
  // A string needs its bytes: Windows 9x refuses no data at all.
  LoadedRegistry loaded(kTree);
  loaded.registry().SetStringRules(hostreg::StringRules::kWindows9x);
  HKEY top = loaded.Open("Top");
  EXPECT_EQ(ERROR_INVALID_PARAMETER, ops::RegSetValueExA(top, "V", 0, REG_SZ, nullptr, 0));
  // A .reg file's strings keep what was given.
  LoadedRegistry reg(kTree);
  HKEY second = reg.Open("Top\\Second");
  ops::RegSetValueExA(second, "V", 0, REG_SZ, reinterpret_cast<const BYTE*>("1\0\0"), 3);
  BYTE data[8];
  DWORD size = sizeof data;
  ASSERT_EQ(0, ops::RegQueryValueExA(second, "V", 0, nullptr, data, &size));
  EXPECT_EQ(std::string("1\0\0", 3), std::string(reinterpret_cast<char*>(data), size));
  ops::RegCloseKey(second);
  ops::RegCloseKey(top);
}

}  // namespace
