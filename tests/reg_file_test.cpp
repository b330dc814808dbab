// Registry export files: what loading makes of each syntax, that a file
// comes back byte for byte when nothing changed, and how changed and new
// values are written, in REGEDIT4 and in UTF-16 Version 5.00 files.
#include <gtest/gtest.h>

#include "core/registry_ops.h"
#include "reg_support.h"
#include "test_support.h"

namespace regtest {
namespace {

using hostreg::Key;
using hostreg::Value;

enum Format { kReg4, kReg5, kReg5Utf8 };
std::string Make(Format format, const std::string& body, const char* eol) {
  if (format == kReg5Utf8)
    return std::string("\xEF\xBB\xBFWindows Registry Editor Version 5.00") +
           eol + eol + body;
  return format == kReg4 ? Reg4(body, eol) : Reg5(body, eol);
}
const char* FormatName(Format format) {
  return format == kReg4 ? " REGEDIT4" : format == kReg5 ? " v5" : " v5 UTF-8";
}

// ---------------------------------------------------------------------------
// Round trip: load and save with no change gives the same bytes.

struct RoundTripCase {
  const char* label;
  const char* body;  // after the header line and a blank line
};

const RoundTripCase kRoundTrips[] = {
    {"key lines and plain strings",
     "[HKEY_LOCAL_MACHINE\\Enum]\n"
     "\n"
     "[HKEY_LOCAL_MACHINE\\Enum\\Root]\n"
     "\"Class\"=\"System\"\n"
     "\"Driver\"=\"System\\\\0007\"\n"},
    {"escapes in names and data, @= and = inside a name",
     "[HKEY_LOCAL_MACHINE\\A]\n"
     "@=\"default \\\"quoted\\\"\"\n"
     "\"a=b\"=\"c\\\\d\"\n"
     "\"\\\"x\\\"\"=\"\\n\\r\\0\"\n"},
    {"dword in either case and spelling",
     "[HKEY_LOCAL_MACHINE\\A]\n"
     "\"d\"=dword:0000002a\n"
     "\"D\"=DWORD:FFFFFFFF\n"
     "\"e\"=dword:1\n"},
    {"hex with continuation lines and odd indentation",
     "[HKEY_LOCAL_MACHINE\\A]\n"
     "\"h\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,"
     "14,15,\\\n"
     "  16,17 , 18,\\\n"
     "\t\t19\n"
     "\"e\"=hex:\n"
     "\"x\"=hex(2):25,53,79,73,25,00\n"
     "\"m\"=hex(7):61,00,62,00,00\n"
     "\"n\"=hex(0):\n"},
    {"comments, blank lines with blanks, trailing blanks",
     "; a comment\n"
     "   ; an indented one\n"
     "[HKEY_LOCAL_MACHINE\\A]   \n"
     "  \n"
     "\t\"v\" = \"w\"  \n"
     ";[HKEY_LOCAL_MACHINE\\B]\n"},
    {"other roots, kept as text",
     "[HKEY_CURRENT_USER\\Enum\\SCSI]\n"
     "\"AutoInsertNotification\"=hex:00\n"
     "[HKEY_USERS\\.Default]\n"
     "\"x\"=dword:00000001\n"
     "[HKEY_LOCAL_MACHINE\\A]\n"},
    {"a key given twice, a value given twice, a child before its parent",
     "[HKEY_LOCAL_MACHINE\\A\\B]\n"
     "\"v\"=\"1\"\n"
     "[HKEY_LOCAL_MACHINE\\A]\n"
     "[HKEY_LOCAL_MACHINE\\A\\B]\n"
     "\"v\"=\"2\"\n"},
    {"no line break at the end", "[HKEY_LOCAL_MACHINE\\A]\n\"v\"=\"1\""},
    {"accented Latin text", "[HKEY_LOCAL_MACHINE\\Caf\xc3\xa9]\n\"\xc3\xa9t\xc3\xa9\"=\"\xe2\x82\xac\"\n"},
};

std::string WithEol(const char* body, const std::string& eol) {
  std::string out;
  for (const char* p = body; *p != '\0'; ++p) {
    if (*p == '\n') out += eol;
    else out += *p;
  }
  return out;
}

TEST(RegRoundTrip, UnchangedFileComesBackByteForByte) {
  for (const RoundTripCase& c : kRoundTrips) {
    for (const char* eol : {"\r\n", "\n"}) {
      for (Format format : {kReg4, kReg5}) {
        SCOPED_TRACE(std::string(c.label) + (format == kReg4 ? " REGEDIT4" : " v5") +
                     (eol[0] == '\r' ? " CRLF" : " LF"));
        // REGEDIT4 files are code page 1252: the UTF-8 of the table is the
        // v5 form only.
        std::string body = WithEol(c.body, eol);
        if (format == kReg4) {
          std::string ansi;
          for (size_t i = 0; i < body.size(); ++i) {
            const unsigned char b = static_cast<unsigned char>(body[i]);
            if (b == 0xC3) ansi += static_cast<char>(0x40 + body[++i]);
            else if (b == 0xE2) { ansi += '\x80'; i += 2; }
            else ansi += body[i];
          }
          body = ansi;
        }
        const std::string text = Make(format, body, eol);
        auto loaded = Load(text);
        ASSERT_TRUE(loaded->file) << loaded->error;
        EXPECT_EQ(text, loaded->Saved());
      }
    }
  }
}

TEST(RegRoundTrip, MixedLineEndingsSurvive) {
  const std::string text =
      "REGEDIT4\r\n\n[HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=hex:01,\\\n  02\r\n\n";
  auto loaded = Load(text);
  ASSERT_TRUE(loaded->file) << loaded->error;
  EXPECT_EQ(text, loaded->Saved());
}

TEST(RegRoundTrip, SampleAndWineExportSurvive) {
  for (const char* file :
       {"samples/win95-system.reg", "tests/data/wine-enum-v5.reg"}) {
    SCOPED_TRACE(file);
    const std::string text = ReadFile(SourcePath(file));
    ASSERT_FALSE(text.empty());
    auto loaded = Load(text);
    ASSERT_TRUE(loaded->file) << loaded->error;
    EXPECT_EQ(text, loaded->Saved());
  }
}

// ---------------------------------------------------------------------------
// What loading makes of each syntax: the bytes the "A" calls see.

struct DecodeCase {
  const char* label;
  Format format;
  const char* line;  // one value line (UTF-8 for v5) in [HKEY_LOCAL_MACHINE\K]
  const char* name;
  DWORD type;
  std::string data;
};

const DecodeCase kDecodes[] = {
    {"escapes", kReg4, "\"s\"=\"a\\\\b\\\"c\"", "s", REG_SZ, std::string("a\\b\"c\0", 6)},
    {"escapes v5", kReg5, "\"s\"=\"a\\\\b\\\"c\"", "s", REG_SZ, std::string("a\\b\"c\0", 6)},
    {"default value", kReg4, "@=\"d\"", "", REG_SZ, std::string("d\0", 2)},
    {"dword little-endian", kReg4, "\"d\"=dword:0000002a", "d", REG_DWORD, std::string("\x2a\0\0\0", 4)},
    {"dword v5", kReg5, "\"d\"=dword:12345678", "d", REG_DWORD, "\x78\x56\x34\x12"},
    {"hex continued", kReg4, "\"h\"=hex:01,02,\\\r\n  03", "h", REG_BINARY, "\x01\x02\x03"},
    {"hex continued v5", kReg5, "\"h\"=hex:01,02,\\\r\n  03", "h", REG_BINARY, "\x01\x02\x03"},
    {"hex(2) in REGEDIT4 is ANSI", kReg4, "\"x\"=hex(2):25,41,00", "x", REG_EXPAND_SZ, std::string("%A\0", 3)},
    {"hex(2) in v5 is UTF-16", kReg5, "\"x\"=hex(2):25,00,41,00,00,00", "x", REG_EXPAND_SZ, std::string("%A\0", 3)},
    {"hex(7) in v5 is UTF-16", kReg5, "\"m\"=hex(7):61,00,00,00,62,00,00,00,00,00", "m", REG_MULTI_SZ, std::string("a\0b\0\0", 5)},
    {"hex(1) in v5, euro sign", kReg5, "\"s\"=hex(1):ac,20,00,00", "s", REG_SZ, std::string("\x80\0", 2)},
    {"odd-length hex(2) in v5 stays raw", kReg5, "\"x\"=hex(2):25,00,41", "x", REG_EXPAND_SZ, std::string("\x25\x00\x41", 3)},
    {"hex(N) type number", kReg4, "\"q\"=hex(b):01,00,00,00,00,00,00,00", "q", 0xb, std::string("\x01\0\0\0\0\0\0\0", 8)},
    {"v5 text in code page 1252", kReg5, "\"\xc3\xa9\"=\"\xe2\x82\xac\xc3\xbf\"", "\xe9", REG_SZ, std::string("\x80\xff\0", 3)},
    {"v5 text without a 1252 byte reads as ?", kReg5, "\"s\"=\"a\xe6\x97\xa5\xf0\x9f\x98\x80\"", "s", REG_SZ, std::string("a???\0", 5)},
};

TEST(RegLoad, EachSyntaxDecodesToTheBytesWindowsGives) {
  for (const DecodeCase& c : kDecodes) {
    SCOPED_TRACE(c.label);
    auto loaded =
        Load(Make(c.format, std::string("[HKEY_LOCAL_MACHINE\\K]\r\n") + c.line +
                                "\r\n",
                  "\r\n"));
    ASSERT_TRUE(loaded->file) << loaded->error;
    Key* key = loaded->Find("K");
    ASSERT_NE(nullptr, key);
    Value* value = loaded->registry.values().Find(*key, c.name);
    ASSERT_NE(nullptr, value);
    EXPECT_EQ(c.type, value->type);
    EXPECT_EQ(c.data, value->data);
  }
}

TEST(RegLoad, LaterValueLineWinsAndKeysMerge) {
  auto loaded = Load(Reg4(
      "[HKEY_LOCAL_MACHINE\\A\\B]\n\"v\"=\"1\"\n[HKEY_LOCAL_MACHINE\\a\\b]\n"
      "\"V\"=\"2\"\n[HKEY_CURRENT_USER\\A\\B]\n\"v\"=\"3\"\n"));
  ASSERT_TRUE(loaded->file) << loaded->error;
  ASSERT_EQ(1u, loaded->registry.keys().Subkeys(loaded->registry.keys().Root()).size());
  Key* key = loaded->Find("A\\B");
  ASSERT_NE(nullptr, key);
  ASSERT_EQ(1u, loaded->registry.values().Of(*key).size());
  EXPECT_EQ(std::string("2\0", 2), loaded->registry.values().Of(*key)[0].data);
}

// A Version 5.00 file is narrowed eight units at a time while they are all
// ASCII and one by one otherwise: each kind of character, at each place in
// and across those blocks, reads as itself.
struct NarrowCase {
  const char* label;
  const char* utf8;       // one character
  std::string keyName;    // as the model holds it in a key name
  const char* data;       // as the "A" calls see it in REG_SZ data
};

const NarrowCase kNarrows[] = {
    {"ASCII", "Q", "Q", "Q"},
    {"Latin-1", "\xc3\xa9", "\xe9", "\xe9"},
    {"1252's own byte 0x80", "\xe2\x82\xac", "\x80", "\x80"},
    {"1252's undefined 0x81, a C1 control", "\xc2\x81", "\x81", "\x81"},
    {"no 1252 byte", "\xd0\x96", std::string("\0" "0416", 5), "?"},
    {"the unit that stands in for foreign ones", "\x01", "\x01", "\x01"},
    {"surrogate pair", "\xf0\x9f\x98\x80",
     std::string("\0" "D83D\0" "DE00", 10), "??"},
};

TEST(RegLoad, Version5CharactersReadTheSameAnywhereInTheLine) {
  for (const NarrowCase& c : kNarrows) {
    for (size_t pad = 0; pad < 17; ++pad) {
      SCOPED_TRACE(std::string(c.label) + ", after " + std::to_string(pad));
      const std::string before(pad, 'a');
      auto loaded = Load(Reg5("[HKEY_LOCAL_MACHINE\\" + before + c.utf8 +
                              "z]\r\n\"v\"=\"" + before + c.utf8 + "z\"\r\n"));
      ASSERT_TRUE(loaded->file) << loaded->error;
      const std::vector<Key*> keys =
          loaded->registry.keys().Subkeys(loaded->registry.keys().Root());
      ASSERT_EQ(1u, keys.size());
      EXPECT_EQ(before + c.keyName + "z", loaded->registry.keys().Name(*keys[0]));
      Value* value = loaded->registry.values().Find(*keys[0], "v");
      ASSERT_NE(nullptr, value);
      EXPECT_EQ(before + c.data + "z" + std::string(1, '\0'), value->data);
    }
  }
}

// ---------------------------------------------------------------------------
// Names with characters that code page 1252 lacks (v5 only).

TEST(RegForeignNames, StayDistinctNeverMatchAndAreNeverRewritten) {
  // U+0416 and U+0414 have no 1252 byte; the "?" key is a real one.
  const std::string body =
      "[HKEY_LOCAL_MACHINE\\Enum\\SCSI\\\xd0\x96]\r\n"
      "\"AutoInsertNotification\"=hex:00\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\Enum\\SCSI\\\xd0\x94]\r\n"
      "\"AutoInsertNotificatio\xd0\x94\"=hex:00\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\Enum\\SCSI\\?]\r\n"
      "\"AutoInsertNotification\"=hex:00\r\n";
  const std::string before = Reg5(body);
  {
    auto loaded = Load(before);
    ASSERT_TRUE(loaded->file) << loaded->error;
    Key* scsi = loaded->Find("Enum\\SCSI");
    ASSERT_NE(nullptr, scsi);
    const hostreg::Registry& registry = loaded->registry;
    const std::vector<Key*> subkeys = registry.keys().Subkeys(*scsi);
    ASSERT_EQ(3u, subkeys.size());  // two foreign names stay two keys
    EXPECT_FALSE(hostreg::NamesEqual(registry.keys().Name(*subkeys[0]),
                                     registry.keys().Name(*subkeys[1])));
    EXPECT_EQ("?", hostreg::AnsiName(registry.keys().Name(*subkeys[0])));
    EXPECT_EQ(subkeys[2], registry.keys().FindSubkey(*scsi, "?"));
  }
  // The "A" calls show both foreign keys as "?", which opens the real "?"
  // key; the foreign ones are never reached, their lines never touched.
  std::string after = body;
  after.replace(after.rfind("hex:00"), 6, "hex:01");
  EXPECT_EQ(Reg5(after), RunTail(before, "/CDP:1"));
}

TEST(RegForeignNames, EnumerationShowsQuestionMarks) {
  LoadedRegistry loaded(Reg5(
      "[HKEY_LOCAL_MACHINE\\K\\\xe6\x97\xa5\xe6\x9c\xac]\r\n\"x\xd0\x96\"=\"1\"\r\n"));
  HKEY key = loaded.Open("K");
  char name[256];
  ASSERT_EQ(0, RegistryOps::RegEnumKeyA(key, 0, name, sizeof name));
  EXPECT_STREQ("??", name);
  HKEY sub = nullptr;
  EXPECT_NE(0, RegistryOps::RegOpenKeyA(key, name, &sub));
  hostreg::Registry& registry = loaded.registry();
  Key* child =
      registry.keys().FirstSubkey(*registry.keys().FindSubkey(registry.keys().Root(), "K"));
  HKEY direct = loaded.handles().Open(child);
  DWORD length = sizeof name;
  ASSERT_EQ(0, RegistryOps::RegEnumValueA(direct, 0, name, &length, nullptr,
                                          nullptr, nullptr, nullptr));
  EXPECT_STREQ("x?", name);
  EXPECT_EQ(2u, length);
  EXPECT_NE(0, RegistryOps::RegQueryValueExA(direct, "x?", nullptr, nullptr,
                                             nullptr, nullptr));
  RegistryOps::RegCloseKey(direct);
  RegistryOps::RegCloseKey(key);
}

// ---------------------------------------------------------------------------
// Writing: changed values in place in the file's own style, new values at
// the end of their key's lines.

struct WriteCase {
  const char* label;
  const char* before;  // body, \n endings
  const char* path;
  const char* name;
  DWORD type;
  std::string data;
  const char* after;
};

const WriteCase kWrites[] = {
    {"changed hex in place",
     "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=\"1\"\n\"v\"=hex:00\n\"y\"=\"2\"\n",
     "A", "v", REG_BINARY, "\x01",
     "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=\"1\"\n\"v\"=hex:01\n\"y\"=\"2\"\n"},
    {"wrapped value becomes one line, keeps the name's spelling",
     "[HKEY_LOCAL_MACHINE\\A]\n\"Value\"=hex:00,\\\n  00\n; after\n",
     "A", "VALUE", REG_BINARY, "\x01",
     "[HKEY_LOCAL_MACHINE\\A]\n\"Value\"=hex:01\n; after\n"},
    {"string with quotes and backslashes",
     "[HKEY_LOCAL_MACHINE\\A]\n\"s\"=\"old\"\n",
     "A", "s", REG_SZ, std::string("a\"b\\c\0", 6),
     "[HKEY_LOCAL_MACHINE\\A]\n\"s\"=\"a\\\"b\\\\c\"\n"},
    {"string with a line break goes as hex(1)",
     "[HKEY_LOCAL_MACHINE\\A]\n\"s\"=\"old\"\n",
     "A", "s", REG_SZ, std::string("a\nb\0", 4),
     "[HKEY_LOCAL_MACHINE\\A]\n\"s\"=hex(1):61,0a,62,00\n"},
    {"new value after the key's last line, before the blank line",
     "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=\"1\"\n\n[HKEY_LOCAL_MACHINE\\B]\n",
     "A", "New", REG_SZ, std::string("1\0", 2),
     "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=\"1\"\n\"New\"=\"1\"\n\n"
     "[HKEY_LOCAL_MACHINE\\B]\n"},
    {"new value in a key given twice goes to its last section",
     "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=\"1\"\n[HKEY_LOCAL_MACHINE\\B]\n"
     "[HKEY_LOCAL_MACHINE\\A]\n",
     "A", "n", REG_DWORD, std::string("\x05\0\0\0", 4),
     "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=\"1\"\n[HKEY_LOCAL_MACHINE\\B]\n"
     "[HKEY_LOCAL_MACHINE\\A]\n\"n\"=dword:00000005\n"},
    {"new value when the file ends without a line break",
     "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=\"1\"", "A", "n", REG_BINARY, "\x02",
     "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=\"1\"\n\"n\"=hex:02\n"},
    {"a key without a section of its own gets one",
     "[HKEY_LOCAL_MACHINE\\A\\B]\n\"x\"=\"1\"\n", "A", "n", REG_BINARY, "\x02",
     "[HKEY_LOCAL_MACHINE\\A]\n\"n\"=hex:02\n\n[HKEY_LOCAL_MACHINE\\A\\B]\n"
     "\"x\"=\"1\"\n"},
    {"a name with a line break keeps its escape",
     "[HKEY_LOCAL_MACHINE\\A]\n\"a\\nb\"=hex:00\n", "A", "a\nb", REG_BINARY,
     "\x01", "[HKEY_LOCAL_MACHINE\\A]\n\"a\\nb\"=hex:01\n"},
    {"long binary wraps as regedit wraps",
     "[HKEY_LOCAL_MACHINE\\A]\n\"b\"=hex:00\n", "A", "b", REG_BINARY,
     std::string(30, '\x11'),
     "[HKEY_LOCAL_MACHINE\\A]\n\"b\"=hex:11,11,11,11,11,11,11,11,11,11,11,11,"
     "11,11,11,11,11,11,11,11,11,11,11,\\\n  11,11,11,11,11,11,11\n"},
};

TEST(RegWrite, ChangesLandInTheFilesOwnStyle) {
  for (const WriteCase& c : kWrites) {
    for (const char* eol : {"\r\n", "\n"}) {
      for (Format format : {kReg4, kReg5}) {
        SCOPED_TRACE(std::string(c.label) +
                     (format == kReg4 ? " REGEDIT4" : " v5") +
                     (eol[0] == '\r' ? " CRLF" : " LF"));
        auto loaded = Load(Make(format, WithEol(c.before, eol), eol));
        ASSERT_TRUE(loaded->file) << loaded->error;
        Key* key = loaded->Find(c.path);
        ASSERT_NE(nullptr, key);
        loaded->registry.values().Set(*key, c.name, c.type, c.data);
        std::string after = WithEol(c.after, eol);
        // In a v5 file the hex form of a string is UTF-16.
        if (format == kReg5 && c.type == REG_SZ &&
            after.find("hex(1):61,0a,62,00") != std::string::npos)
          after.replace(after.find("hex(1):61,0a,62,00"), 18,
                        "hex(1):61,00,0a,00,62,00,00,00");
        EXPECT_EQ(Make(format, after, eol), loaded->Saved());
      }
    }
  }
}

// Found by fuzzing: places with no line or section to follow.
TEST(RegWrite, AwkwardEndsOfFile) {
  struct Case {
    const char* label;
    std::string before;
    std::string after;
  };
  const Case cases[] = {
      {"a last line ending in a lone CR, which ends a line",
       "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"x\"=\"1\"\r",
       "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"x\"=\"1\"\r"
       "\"n\"=hex:01\r\n"},
      {"HKEY_LOCAL_MACHINE in an export without its keys: before the first",
       "REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n",
       "REGEDIT4\n\n[HKEY_LOCAL_MACHINE]\n\"n\"=hex:01\n\n"
       "[HKEY_CURRENT_USER\\A]\n"},
      {"... and one ending inside continued hex data: a key line to spare",
       "REGEDIT4\n\"h\"=hex:01,\\\n",
       "REGEDIT4\n\"h\"=hex:01,\\\n[HKEY_LOCAL_MACHINE]\n\n"
       "[HKEY_LOCAL_MACHINE]\n\"n\"=hex:01\n"},
      {"... and without a last line break", "REGEDIT4\n; only a comment",
       "REGEDIT4\n; only a comment\n\n[HKEY_LOCAL_MACHINE]\n\"n\"=hex:01\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    auto loaded = Load(c.before);
    ASSERT_TRUE(loaded->file) << loaded->error;
    Key* key = &loaded->registry.keys().Root();
    if (Key* first = loaded->registry.keys().FirstSubkey(*key)) key = first;
    loaded->registry.values().Set(*key, "n", REG_BINARY, "\x01");
    EXPECT_EQ(c.after, loaded->Saved());
    EXPECT_TRUE(Load(loaded->Saved())->file);
  }
}

// New values of a key whose last line is followed at once by the section
// that a key without its own section is inserted before: they stay in
// their key's section, whatever key changed first.
TEST(RegWrite, NewValuesNeverLandInANewSectionBeforeThem) {
  const std::string classes =
      "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\";
  const std::string before = Reg4(
      classes + "hdc\\0001]\n\"PortDriver\"=\"ESDI_506.PDR\"\n"
      "\"InfPath\"=\"MSHDC.INF\"\n\"InfSection\"=\"GOOD_IDE\"\n" +
      classes + "Display\\0000\\DEFAULT\\Sub]\n", "\n");
  const std::string after = Reg4(
      classes + "hdc\\0001]\n\"PortDriver\"=\"ESDI_506.PDR\"\n"
      "\"InfPath\"=\"MSHDC.INF\"\n\"InfSection\"=\"GOOD_IDE\"\n"
      "\"IDEDMADRIVE0\"=hex:01\n\"IDEDMADRIVE1\"=hex:01\n" +
      classes + "Display\\0000\\DEFAULT]\n\"DDC\"=\"1\"\n\n" +
      classes + "Display\\0000\\DEFAULT\\Sub]\n", "\n");
  EXPECT_EQ(after, regtest::RunTail(before, "/DDC:1 /DMA:1"));
}

TEST(RegWrite, UnchangedWriteLeavesTheFileAlone) {
  auto loaded = Load(Reg5("[HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=hex:01\r\n"));
  ASSERT_TRUE(loaded->file) << loaded->error;
  loaded->registry.values().Set(*loaded->Find("A"), "V", REG_BINARY, "\x01");
  EXPECT_TRUE(hostreg::CollectChanges(loaded->registry).empty());
}

// ---------------------------------------------------------------------------
// Windows' limits, enforced on load in both formats.

struct LimitCase {
  const char* label;
  std::string keyLine;  // one line, UTF-8
  const char* reason;   // empty: loads
};

std::string Deep(size_t levels) {
  std::string line = "[HKEY_LOCAL_MACHINE";
  for (size_t i = 0; i < levels; ++i) line += "\\k";
  return line + "]";
}

std::string Repeat(const std::string& s, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) out += s;
  return out;
}

// A key line Windows cannot open is skipped with its values; the file
// loads, and the note names the line.
TEST(RegLimits, KeyNameLengthDepthAndRoot) {
  const LimitCase cases[] = {
      {"key name of 255", "[HKEY_LOCAL_MACHINE\\" + std::string(255, 'n') + "]", ""},
      {"key name of 256", "[HKEY_LOCAL_MACHINE\\" + std::string(256, 'n') + "]",
       "key name longer than 255 characters"},
      {"255 characters without a 1252 byte count as 255",
       "[HKEY_LOCAL_MACHINE\\" + Repeat("\xd0\x96", 255) + "]", ""},
      // In UTF-8 each stray byte is a U+FFFD of its own, as Windows reads it.
      {"200 characters and 100 stray bytes count as 300",
       "[HKEY_LOCAL_MACHINE\\" + std::string(200, 'A') + std::string(100, '\x80') + "]",
       "key name longer than 255 characters"},
      {"512 levels", Deep(512), ""},
      {"513 levels", Deep(513), "keys nested deeper than 512 levels"},
      {"unknown root", "[HKEY_LOCAL_MACHIN\\A]", "an unknown root"},
      {"limits apply under other roots too",
       "[HKEY_CURRENT_USER\\" + std::string(300, 'n') + "]",
       "key name longer than 255"},
  };
  for (const LimitCase& c : cases) {
    for (Format format : {kReg4, kReg5, kReg5Utf8}) {
      if (format == kReg4 && c.keyLine.find('\xd0') != std::string::npos)
        continue;
      SCOPED_TRACE(std::string(c.label) + FormatName(format));
      const std::string text =
          Make(format, "; first\r\n" + c.keyLine + "\r\n\"v\"=hex:01\r\n", "\r\n");
      auto loaded = Load(text);
      ASSERT_TRUE(loaded->file) << loaded->error;
      const std::vector<std::string>& notes = loaded->file->Warnings();
      if (c.reason[0] == '\0') {
        EXPECT_TRUE(notes.empty());
        EXPECT_NE(nullptr, loaded->registry.keys().FirstSubkey(
                               loaded->registry.keys().Root()));
        continue;
      }
      ASSERT_EQ(1u, notes.size());
      EXPECT_NE(std::string::npos, notes[0].find("test.reg:4: skipped"));
      EXPECT_NE(std::string::npos, notes[0].find(c.reason)) << notes[0];
      EXPECT_EQ(nullptr, loaded->registry.keys().FirstSubkey(
                             loaded->registry.keys().Root()));
      EXPECT_EQ(text, loaded->Saved());
    }
  }
}

TEST(RegLimits, LongValueNamesLoadAndEnumerationRefusesThem) {
  const std::string name(300, 'v');
  for (Format format : {kReg4, kReg5}) {
    LoadedRegistry loaded(Make(
        format, "[HKEY_LOCAL_MACHINE\\A]\r\n\"" + name + "\"=hex:07\r\n", "\r\n"));
    HKEY key = loaded.Open("A");
    BYTE data[4];
    DWORD size = sizeof data;
    EXPECT_EQ(0, RegistryOps::RegQueryValueExA(key, name.c_str(), nullptr,
                                               nullptr, data, &size));
    EXPECT_EQ(7, data[0]);
    char buffer[256];
    DWORD length = sizeof buffer;
    EXPECT_EQ(ERROR_MORE_DATA,
              RegistryOps::RegEnumValueA(key, 0, buffer, &length, nullptr,
                                         nullptr, nullptr, nullptr));
    RegistryOps::RegCloseKey(key);
  }
}

}  // namespace
}  // namespace regtest
