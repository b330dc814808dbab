// The importer's rules: what Windows' registry editor builds from each
// construct of a .reg file, one row a rule, grouped; and, for every row,
// that the file saved after a change imports to exactly the registry the
// run made. Rows follow Wine's importer tests and runs of Wine's regedit.
#include <algorithm>
#include <cstdio>
#include <gtest/gtest.h>

#include "reg_support.h"

namespace regtest {
namespace {

using hostreg::Key;
using hostreg::Value;

enum Formats { kA = 1, kW = 2, kU = 4, kAll = 7 };
const int kFormats[] = {kA, kW, kU};
const char* FormatName(int f) {
  return f == kA ? "REGEDIT4" : f == kW ? "UTF-16" : "UTF-8";
}

// A whole file in one of the three encodings from UTF-8 text that starts
// with its header line.
std::string Encode(int format, const std::string& utf8) {
  if (format == kW) return Utf16(utf8);
  if (format == kU) return "\xEF\xBB\xBF" + utf8;
  return utf8;
}
std::string Header(int format) {
  return format == kA ? "REGEDIT4" : "Windows Registry Editor Version 5.00";
}

// The lines of one value's rule go into [HKEY_LOCAL_MACHINE\K], which is
// line 3; the rule's first line is line 4.
std::string InKey(int format, const std::string& lines) {
  return Encode(format, Header(format) + "\r\n\r\n[HKEY_LOCAL_MACHINE\\K]\r\n" +
                            lines + "\r\n");
}

const DWORD kAbsent = 0xFFFFFFFF;
const std::string kZ("\0", 1);

struct ValueRule {
  const char* label;
  int formats;
  const char* lines;  // \r\n between lines
  const char* name;   // looked up in K
  DWORD type;         // kAbsent: no such value
  std::string data;
  int noteLine;       // the line a skip note names; 0 for none
};

const ValueRule kValueRules[] = {
    // Value names.
    {"@ is the default value", kAll, "@=\"d\"", "", REG_SZ, "d" + kZ, 0},
    {"\"\" is the default value too", kAll, "\"\"=\"d\"", "", REG_SZ, "d" + kZ, 0},
    {"= and an escaped quote inside a name", kAll, "\"a=\\\"b\"=\"x\"", "a=\"b", REG_SZ, "x" + kZ, 0},
    {"blanks around '='", kAll, "\"v\" \t= \t\"x\"", "v", REG_SZ, "x" + kZ, 0},
    {"\\n in a name", kAll, "\"a\\nb\"=\"x\"", "a\nb", REG_SZ, "x" + kZ, 0},
    {"another escape in a name stands for itself", kAll, "\"a\\qb\"=\"x\"", "aqb", REG_SZ, "x" + kZ, 0},
    {"\\0 in a name: skipped", kAll, "\"a\\0\"=\"x\"", "a", kAbsent, "", 4},
    {"unterminated name: skipped", kAll, "\"v=\"x\"", "v", kAbsent, "", 4},
    {"no '=': skipped", kAll, "\"v\" \"x\"", "v", kAbsent, "", 4},
    // Quoted strings.
    {"\\\\ and \\\"", kAll, "\"v\"=\"a\\\\b\\\"c\"", "v", REG_SZ, "a\\b\"c" + kZ, 0},
    {"\\n and \\r", kAll, "\"v\"=\"a\\nb\\rc\"", "v", REG_SZ, "a\nb\rc" + kZ, 0},
    {"another escape stands for itself", kAll, "\"v\"=\"a\\qb\"", "v", REG_SZ, "aqb" + kZ, 0},
    {"\\0: skipped", kAll, "\"v\"=\"GOOD_IDE\\0\"", "v", kAbsent, "", 4},
    {"; comment after the data", kAll, "\"v\"=\"1\" ;note", "v", REG_SZ, "1" + kZ, 0},
    {"; right behind the quote", kAll, "\"v\"=\"1\";note", "v", REG_SZ, "1" + kZ, 0},
    {"# after the data: skipped", kAll, "\"v\"=\"1\" #note", "v", kAbsent, "", 4},
    {"text after the closing quote: skipped", kAll, "\"v\"=\"a\"b\"", "v", kAbsent, "", 4},
    {"unterminated string: skipped", kAll, "\"v\"=\"abc", "v", kAbsent, "", 4},
    {"blanks inside the quotes stay", kAll, "\"v\"=  \" a \"  ", "v", REG_SZ, " a " + kZ, 0},
    {"1252 text from UTF-16 or UTF-8", kW | kU, "\"v\"=\"caf\xc3\xa9\"", "v", REG_SZ, "caf\xe9" + kZ, 0},
    {"1252 text as it is", kA, "\"v\"=\"caf\xe9\"", "v", REG_SZ, "caf\xe9" + kZ, 0},
    {"text 1252 has no byte for reads as ?", kW | kU, "\"v\"=\"\xd0\x96\"", "v", REG_SZ, "?" + kZ, 0},
    // dword:
    {"dword", kAll, "\"v\"=dword:0000002a", "v", REG_DWORD, std::string("\x2a\0\0\0", 4), 0},
    {"dword of one digit", kAll, "\"v\"=dword:1", "v", REG_DWORD, std::string("\1\0\0\0", 4), 0},
    {"blanks after dword:", kAll, "\"v\"=dword:\t 8", "v", REG_DWORD, std::string("\x08\0\0\0", 4), 0},
    {"dword and a ; comment", kAll, "\"v\"=dword:00000001 ;note", "v", REG_DWORD, std::string("\1\0\0\0", 4), 0},
    {"dword and a # comment: skipped", kAll, "\"v\"=dword:00000001 #x", "v", kAbsent, "", 4},
    {"DWORD: in upper case: skipped", kAll, "\"v\"=DWORD:00000001", "v", kAbsent, "", 4},
    {"dword without digits: skipped", kAll, "\"v\"=dword:", "v", kAbsent, "", 4},
    {"dword of nine digits: skipped", kAll, "\"v\"=dword:000000001", "v", kAbsent, "", 4},
    {"dword with 0x: skipped", kAll, "\"v\"=dword:0x1", "v", kAbsent, "", 4},
    {"dword of two words: skipped", kAll, "\"v\"=dword:12 34", "v", kAbsent, "", 4},
    // hex: and hex(N):
    {"hex", kAll, "\"v\"=hex:01,ff", "v", REG_BINARY, "\x01\xff", 0},
    {"hex bytes of one digit", kAll, "\"v\"=hex:1,2", "v", REG_BINARY, "\x01\x02", 0},
    {"blanks before a byte", kAll, "\"v\"=hex: 01,\t02", "v", REG_BINARY, "\x01\x02", 0},
    {"a comma at the end", kAll, "\"v\"=hex:01,02,", "v", REG_BINARY, "\x01\x02", 0},
    {"hex and a ; comment", kAll, "\"v\"=hex:01,02 ;note", "v", REG_BINARY, "\x01\x02", 0},
    {"no hex data", kAll, "\"v\"=hex:", "v", REG_BINARY, "", 0},
    {"a blank before a comma: skipped", kAll, "\"v\"=hex:01 ,02", "v", kAbsent, "", 4},
    {"two commas: skipped", kAll, "\"v\"=hex:01,,02", "v", kAbsent, "", 4},
    {"a byte over ff: skipped", kAll, "\"v\"=hex:100", "v", kAbsent, "", 4},
    {"HEX: in upper case: skipped", kAll, "\"v\"=HEX:01", "v", kAbsent, "", 4},
    {"hex(N) in hex, either case", kAll, "\"v\"=hex(A):01", "v", 10, "\x01", 0},
    {"HEX(N): skipped", kAll, "\"v\"=HEX(3):01", "v", kAbsent, "", 4},
    {"hex(0x2): skipped", kAll, "\"v\"=hex(0x2):01", "v", kAbsent, "", 4},
    {"unknown data: skipped", kAll, "\"v\"=qword:1", "v", kAbsent, "", 4},
    {"bytes as the C library reads them: 0x and +", kAll, "\"v\"=hex:0x1,+2", "v", REG_BINARY, "\x01\x02", 0},
    {"hex(): is type 0", kAll, "\"v\"=hex():01", "v", REG_NONE, "\x01", 0},
    {"dword: with only a comment is 0", kAll, "\"v\"=dword: ;c", "v", REG_DWORD, std::string(4, '\0'), 0},
    // Hex data continued with '\'.
    {"continued", kAll, "\"v\"=hex:01,\\\r\n  02", "v", REG_BINARY, "\x01\x02", 0},
    {"a ; comment behind the '\\'", kAll, "\"v\"=hex:01,\\ ;c\r\n  02", "v", REG_BINARY, "\x01\x02", 0},
    {"a comment line inside", kAll, "\"v\"=hex:01,\\\r\n;c\r\n  02", "v", REG_BINARY, "\x01\x02", 0},
    {"a blank line inside", kAll, "\"v\"=hex:01,\\\r\n\r\n  02", "v", REG_BINARY, "\x01\x02", 0},
    {"a blank behind the last comma of a continued line: skipped", kAll, "\"v\"=hex:01,\\\r\n  02,  ", "v", kAbsent, "", 4},
    {"the end of the file inside", kAll, "\"v\"=hex:01,\\", "v", REG_BINARY, "\x01", 0},
    {"a # line inside: skipped", kAll, "\"v\"=hex:01,\\\r\n#c\r\n  02", "v", kAbsent, "", 4},
    {"no comma before '\\': skipped", kAll, "\"v\"=hex:01\\\r\n  02", "v", kAbsent, "", 4},
    {"a line of only '\\': skipped", kAll, "\"v\"=hex:01,\\\r\n\\\r\n  02", "v", kAbsent, "", 4},
    {"a value line where the data should go on: both skipped", kAll, "\"w\"=hex:01,\\\r\n\"v\"=\"1\"", "v", kAbsent, "", 4},
    {"the line after a failed first line is read", kAll, "\"w\"=hex:01\\\r\n\"v\"=\"1\"", "v", REG_SZ, "1" + kZ, 4},
    // String types in hex: a terminating zero is added.
    {"hex(2) gets its zero", kA, "\"v\"=hex(2):41,42", "v", REG_EXPAND_SZ, "AB" + kZ, 0},
    {"hex(2) with its zero", kA, "\"v\"=hex(2):41,42,00", "v", REG_EXPAND_SZ, "AB" + kZ, 0},
    {"hex(1) gets its zero", kA, "\"v\"=hex(1):41", "v", REG_SZ, "A" + kZ, 0},
    {"hex(7) in an 8-bit file is 8-bit", kA, "\"v\"=hex(7):41,00,42", "v", REG_MULTI_SZ, std::string("A\0B\0", 4), 0},
    {"hex(2) in a Unicode file is UTF-16", kW | kU, "\"v\"=hex(2):41,00,42,00", "v", REG_EXPAND_SZ, "AB" + kZ, 0},
    {"... with its zero", kW | kU, "\"v\"=hex(2):41,00,42,00,00,00", "v", REG_EXPAND_SZ, "AB" + kZ, 0},
    {"... in 1252 as the A calls see it", kW | kU, "\"v\"=hex(1):ac,20,00,00", "v", REG_SZ, "\x80" + kZ, 0},
    {"... odd length: the bytes as they are", kW | kU, "\"v\"=hex(2):41,00,42", "v", REG_EXPAND_SZ, std::string("A\0B", 3), 0},
    {"empty hex(2) gets no zero", kAll, "\"v\"=hex(2):", "v", REG_EXPAND_SZ, "", 0},
    // Deletions and which line wins.
    {"=- deletes", kAll, "\"v\"=\"1\"\r\n\"v\"=-", "v", kAbsent, "", 0},
    {"=- with blanks and a comment", kAll, "\"v\"=\"1\"\r\n\"v\"= - ;c", "v", kAbsent, "", 0},
    {"@=- deletes the default value", kAll, "@=\"1\"\r\n@=-", "", kAbsent, "", 0},
    {"=- with text behind: skipped", kAll, "\"v\"=\"1\"\r\n\"v\"=-x", "v", REG_SZ, "1" + kZ, 5},
    {"set again after =-", kAll, "\"v\"=-\r\n\"v\"=\"2\"", "v", REG_SZ, "2" + kZ, 0},
    {"the last line wins", kAll, "\"v\"=\"1\"\r\n\"V\"=\"2\"", "v", REG_SZ, "2" + kZ, 0},
    {"a skipped last line leaves the earlier value", kAll, "\"v\"=\"1\"\r\n\"v\"=DWORD:2", "v", REG_SZ, "1" + kZ, 5},
    // Lines.
    {"blanks before a value", kAll, " \t \"v\"=\"1\"", "v", REG_SZ, "1" + kZ, 0},
    {"# and ; comment lines", kAll, "# a\r\n  ; b\r\n\"v\"=\"1\"", "v", REG_SZ, "1" + kZ, 0},
    {"a line of other text: skipped, the key stays open", kAll, "junk\r\n\"v\"=\"1\"", "v", REG_SZ, "1" + kZ, 4},
    {"'[ ' is no key line: the key stays open", kAll, "[ HKEY_LOCAL_MACHINE\\O]\r\n\"v\"=\"1\"", "v", REG_SZ, "1" + kZ, 4},
    {"no closing ']': the key stays open", kAll, "[HKEY_LOCAL_MACHINE\\O\r\n\"v\"=\"1\"", "v", REG_SZ, "1" + kZ, 4},
};

bool HasNote(const std::vector<std::string>& notes, int line) {
  const std::string at = "test.reg:" + std::to_string(line) + ": skipped";
  return std::any_of(notes.begin(), notes.end(), [&](const std::string& n) {
    return n.find(at) != std::string::npos;
  });
}

TEST(ImporterRules, EachValueRuleInEachEncoding) {
  for (const ValueRule& rule : kValueRules) {
    for (int format : kFormats) {
      if (!(rule.formats & format)) continue;
      SCOPED_TRACE(std::string(rule.label) + " (" + FormatName(format) + ")");
      auto loaded = Load(InKey(format, rule.lines));
      ASSERT_TRUE(loaded->file) << loaded->error;
      Key* key = loaded->Find("K");
      ASSERT_NE(nullptr, key);
      const Value* value = loaded->registry.values().Find(*key, rule.name);
      if (rule.type == kAbsent) {
        EXPECT_EQ(nullptr, value);
      } else if (value == nullptr) {
        ADD_FAILURE() << "no value";
      } else {
        EXPECT_EQ(rule.type, value->type);
        EXPECT_EQ(rule.data, value->data);
      }
      const std::vector<std::string>& notes = loaded->file->Warnings();
      if (rule.noteLine == 0) EXPECT_TRUE(notes.empty()) << notes[0];
      else EXPECT_TRUE(HasNote(notes, rule.noteLine)) << testing::PrintToString(notes);
    }
  }
}

// Key lines and deletions: whether a key is there afterwards and, when a
// value name is given, whether it holds that value.
struct KeyRule {
  const char* label;
  const char* lines;  // after the header and a blank line (line 3 on)
  const char* path;   // under HKEY_LOCAL_MACHINE
  bool exists;
  const char* value;  // null: not looked at
  bool hasValue;
  int noteLine;
};

const KeyRule kKeyRules[] = {
    {"a '\\' at the end names the key", "[HKEY_LOCAL_MACHINE\\A\\]\r\n\"v\"=\"1\"", "A", true, "v", true, 0},
    {"doubled '\\' name no key of their own", "[HKEY_LOCAL_MACHINE\\A\\\\B]", "A\\B", true, nullptr, false, 0},
    {"text after ']' is ignored", "[HKEY_LOCAL_MACHINE\\A] junk\r\n\"v\"=\"1\"", "A", true, "v", true, 0},
    {"the last ']' ends the path", "[HKEY_LOCAL_MACHINE\\A]]", "A]", true, nullptr, false, 0},
    {"blanks before '['", " \t[HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=\"1\"", "A", true, "v", true, 0},
    {"the root in any case", "[hkey_local_machine\\A]", "A", true, nullptr, false, 0},
    {"short roots are unknown", "[HKLM\\A]\r\n\"v\"=\"1\"", "A", false, nullptr, false, 3},
    {"'\\' right behind the root: skipped with its values", "[HKEY_LOCAL_MACHINE\\\\A]\r\n\"v\"=\"1\"", "A", false, nullptr, false, 3},
    {"values of another root stay there", "[HKEY_CURRENT_USER\\A]\r\n\"v\"=\"1\"", "A", false, nullptr, false, 0},
    {"a value before any key: skipped", "\"v\"=\"1\"\r\n[HKEY_LOCAL_MACHINE\\A]", "A", true, "v", false, 3},
    {"values of the root", "[HKEY_LOCAL_MACHINE]\r\n\"v\"=\"1\"", "", true, "v", true, 0},
    {"a key line inside continued hex is no key line", "[HKEY_LOCAL_MACHINE\\A]\r\n\"h\"=hex:01,\\\r\n[HKEY_LOCAL_MACHINE\\B]", "B", false, nullptr, false, 4},
    {"[-...] deletes the key and its tree",
     "[HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=\"1\"\r\n[HKEY_LOCAL_MACHINE\\A\\B]\r\n[-HKEY_LOCAL_MACHINE\\A]", "A\\B", false, nullptr, false, 0},
    {"... the key itself too",
     "[HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=\"1\"\r\n[-HKEY_LOCAL_MACHINE\\A]", "A", false, nullptr, false, 0},
    {"a key deleted and written again holds only what follows",
     "[HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=\"1\"\r\n[-HKEY_LOCAL_MACHINE\\A]\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"w\"=\"2\"", "A", true, "v", false, 0},
    {"... and holds what follows",
     "[HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=\"1\"\r\n[-HKEY_LOCAL_MACHINE\\A]\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"w\"=\"2\"", "A", true, "w", true, 0},
    {"... its subkeys are gone",
     "[HKEY_LOCAL_MACHINE\\A\\B]\r\n[-HKEY_LOCAL_MACHINE\\A]\r\n[HKEY_LOCAL_MACHINE\\A]", "A\\B", false, nullptr, false, 0},
    {"a deletion in any case, with a '\\' at the end",
     "[HKEY_LOCAL_MACHINE\\Ab]\r\n[-hkey_local_machine\\aB\\]", "Ab", false, nullptr, false, 0},
    {"values after a deletion go nowhere: skipped",
     "[HKEY_LOCAL_MACHINE\\A]\r\n[-HKEY_LOCAL_MACHINE\\A\\B]\r\n\"v\"=\"1\"", "A", true, "v", false, 5},
    {"'[ -' deletes nothing", "[HKEY_LOCAL_MACHINE\\A]\r\n[ -HKEY_LOCAL_MACHINE\\A]", "A", true, nullptr, false, 4},
    {"the root cannot be deleted", "[HKEY_LOCAL_MACHINE\\A]\r\n[-HKEY_LOCAL_MACHINE]", "A", true, nullptr, false, 4},
};

TEST(ImporterRules, EachKeyRuleInEachEncoding) {
  for (const KeyRule& rule : kKeyRules) {
    for (int format : kFormats) {
      SCOPED_TRACE(std::string(rule.label) + " (" + FormatName(format) + ")");
      auto loaded =
          Load(Encode(format, Header(format) + "\r\n\r\n" + rule.lines + "\r\n"));
      ASSERT_TRUE(loaded->file) << loaded->error;
      Key* key = loaded->Find(rule.path);
      EXPECT_EQ(rule.exists, key != nullptr);
      if (key != nullptr && rule.value != nullptr) {
        EXPECT_EQ(rule.hasValue,
                  loaded->registry.values().Find(*key, rule.value) != nullptr);
      }
      const std::vector<std::string>& notes = loaded->file->Warnings();
      if (rule.noteLine == 0) EXPECT_TRUE(notes.empty()) << notes[0];
      else EXPECT_TRUE(HasNote(notes, rule.noteLine)) << testing::PrintToString(notes);
    }
  }
}

// Headers and encodings: whether the file loads with its values, loads
// but Windows imports nothing from it, or is refused.
enum class Outcome { kValues, kNothing, kRefused };

struct FileRule {
  const char* label;
  std::string bytes;
  Outcome outcome;
};

const std::string kBody = "[HKEY_LOCAL_MACHINE\\K]\r\n\"v\"=\"1\"\r\n";

const FileRule kFileRules[] = {
    {"REGEDIT4", "REGEDIT4\r\n" + kBody, Outcome::kValues},
    {"blanks before the header", " \tREGEDIT4\r\n" + kBody, Outcome::kValues},
    {"Version 5.00 in UTF-16", Utf16("Windows Registry Editor Version 5.00\r\n" + kBody), Outcome::kValues},
    {"Version 5.00 in 8-bit text", "Windows Registry Editor Version 5.00\r\n" + kBody, Outcome::kValues},
    {"Version 5.00 in UTF-8 with its mark", "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n" + kBody, Outcome::kValues},
    {"REGEDIT4 in UTF-16", Utf16("REGEDIT4\r\n" + kBody), Outcome::kValues},
    {"LF line endings", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"v\"=\"1\"\n", Outcome::kValues},
    {"CR line endings", "REGEDIT4\r[HKEY_LOCAL_MACHINE\\K]\r\"v\"=\"1\"\r", Outcome::kValues},
    {"CR line endings in UTF-16", Utf16("REGEDIT4\r[HKEY_LOCAL_MACHINE\\K]\r\"v\"=\"1\""), Outcome::kValues},
    {"no line break at the end", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\K]\r\n\"v\"=\"1\"", Outcome::kValues},
    {"a blank behind the header", "REGEDIT4 \r\n" + kBody, Outcome::kNothing},
    {"REGEDIT 4", "REGEDIT 4\r\n" + kBody, Outcome::kNothing},
    {"Windows 3.1's REGEDIT", "REGEDIT\r\n" + kBody, Outcome::kNothing},
    {"regedit4 in lower case", "regedit4\r\n" + kBody, Outcome::kRefused},
    {"a blank line first", "\r\nREGEDIT4\r\n" + kBody, Outcome::kRefused},
};

TEST(ImporterRules, HeadersAndEncodings) {
  for (const FileRule& rule : kFileRules) {
    SCOPED_TRACE(rule.label);
    auto loaded = Load(rule.bytes);
    if (rule.outcome == Outcome::kRefused) {
      EXPECT_FALSE(loaded->file);
      EXPECT_NE(std::string::npos, loaded->error.find("test.reg:1: "));
      continue;
    }
    ASSERT_TRUE(loaded->file) << loaded->error;
    Key* key = loaded->Find("K");
    if (rule.outcome == Outcome::kNothing) {
      EXPECT_EQ(nullptr, key);
      EXPECT_TRUE(HasNote(loaded->file->Warnings(), 1));
      continue;
    }
    ASSERT_NE(nullptr, key);
    const Value* value = loaded->registry.values().Find(*key, "v");
    ASSERT_NE(nullptr, value);
    EXPECT_EQ("1" + kZ, value->data);
    EXPECT_EQ(rule.bytes, loaded->Saved());
  }
}

// ---------------------------------------------------------------------------
// Saving: importing the saved file into an empty registry gives exactly the
// registry the run made, for every file above.

// Every key and value, one line each, values in name order.
void Dump(hostreg::Registry& registry, const Key& key,
          std::vector<std::string>& out) {
  const std::string path = registry.keys().Path(key);
  out.push_back("K " + path);
  std::vector<std::string> values;
  for (const Value& value : registry.values().Of(key))
    values.push_back("V " + path + "|" + value.name + "|" +
                     std::to_string(value.type) + "|" + value.data);
  std::sort(values.begin(), values.end());
  out.insert(out.end(), values.begin(), values.end());
  for (const Key* sub : registry.keys().Subkeys(key)) Dump(registry, *sub, out);
}

std::vector<std::string> Dump(hostreg::Registry& registry) {
  std::vector<std::string> out;
  Dump(registry, registry.keys().Root(), out);
  return out;
}

// What the tweaks do to a key: change a value it has, set "v" (which many
// rules delete or skip) and add one it does not have.
void Change(hostreg::Registry& registry, Key& key) {
  hostreg::ValueStore& values = registry.values();
  if (!values.Of(key).empty())
    values.Set(key, values.Of(key).front().name, REG_DWORD,
               std::string("\x07\0\0\0", 4));
  values.Set(key, "v", REG_BINARY, "\x01");
  values.Set(key, "IDEDMADRIVE0", REG_BINARY, std::string(40, '\x02'));
  for (Key* sub : registry.keys().Subkeys(key)) Change(registry, *sub);
}

void ExpectSavedImportsAsRun(const std::string& bytes) {
  auto loaded = Load(bytes);
  ASSERT_TRUE(loaded->file) << loaded->error;
  for (Key* key : loaded->registry.keys().Subkeys(loaded->registry.keys().Root()))
    Change(loaded->registry, *key);
  const std::string saved = loaded->Saved();
  auto again = Load(saved);
  ASSERT_TRUE(again->file) << again->error;
  EXPECT_EQ(Dump(loaded->registry), Dump(again->registry)) << saved;
  EXPECT_EQ(saved, again->Saved());
}

TEST(ImporterSave, EverySavedFileImportsAsTheRunLeftTheRegistry) {
  for (const ValueRule& rule : kValueRules)
    for (int format : kFormats) {
      if (!(rule.formats & format)) continue;
      SCOPED_TRACE(std::string(rule.label) + " (" + FormatName(format) + ")");
      ExpectSavedImportsAsRun(InKey(format, rule.lines));
    }
  for (const KeyRule& rule : kKeyRules)
    for (int format : kFormats) {
      SCOPED_TRACE(std::string(rule.label) + " (" + FormatName(format) + ")");
      ExpectSavedImportsAsRun(
          Encode(format, Header(format) + "\r\n\r\n" + rule.lines + "\r\n"));
    }
  for (const FileRule& rule : kFileRules) {
    SCOPED_TRACE(rule.label);
    if (rule.outcome != Outcome::kRefused) ExpectSavedImportsAsRun(rule.bytes);
  }
}

// Where the saved lines go, as bytes: a changed value where the importer
// took it from, a new one behind the deletions that would undo it.
struct Placement {
  const char* label;
  std::string before;
  std::string after;
};

TEST(ImporterSave, ChangesGoWhereNoLaterLineUndoesThem) {
  const std::string k = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\K]\r\n";
  const Placement cases[] = {
      {"the line that won is changed", k + "\"v\"=hex:00\r\n\"v\"=hex:02\r\n",
       k + "\"v\"=hex:00\r\n\"v\"=hex:01\r\n"},
      {"not a later line that was skipped", k + "\"v\"=hex:02\r\n\"v\"=HEX:03\r\n",
       k + "\"v\"=hex:01\r\n\"v\"=HEX:03\r\n"},
      {"a deleted value comes back after its deletion",
       k + "\"v\"=hex:00\r\n\"v\"=-\r\n; end\r\n",
       k + "\"v\"=hex:00\r\n\"v\"=-\r\n\"v\"=hex:01\r\n; end\r\n"},
      {"a key written again gets it in its new section",
       k + "\"v\"=hex:02\r\n[-HKEY_LOCAL_MACHINE\\K]\r\n[HKEY_LOCAL_MACHINE\\K]\r\n",
       k + "\"v\"=hex:02\r\n[-HKEY_LOCAL_MACHINE\\K]\r\n[HKEY_LOCAL_MACHINE\\K]\r\n"
           "\"v\"=hex:01\r\n"},
      {"not behind hex data the end of the file ends",
       k + "\"w\"=hex:01,\\\r\n  02,\\\r\n",
       k + "\"v\"=hex:01\r\n\"w\"=hex:01,\\\r\n  02,\\\r\n"},
      {"CR line endings", "REGEDIT4\r[HKEY_LOCAL_MACHINE\\K]\r\"w\"=\"1\"\r",
       "REGEDIT4\r[HKEY_LOCAL_MACHINE\\K]\r\"w\"=\"1\"\r\"v\"=hex:01\r"},
  };
  for (const Placement& c : cases) {
    SCOPED_TRACE(c.label);
    auto loaded = Load(c.before);
    ASSERT_TRUE(loaded->file) << loaded->error;
    loaded->registry.values().Set(*loaded->Find("K"), "v", REG_BINARY, "\x01");
    EXPECT_EQ(c.after, loaded->Saved());
  }
}

// A value that the end of the file ends is rewritten in place, and a new
// value goes before it, not behind it where it would continue the old one.
TEST(ImporterSave, ChangedAndNewValuesAtAValueTheEndOfTheFileEnds) {
  const std::string k = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\K]\r\n";
  auto loaded = Load(k + "\"w\"=hex:01,\\\r\n  02,\\\r\n;\r\n");
  ASSERT_TRUE(loaded->file) << loaded->error;
  Key* key = loaded->Find("K");
  loaded->registry.values().Set(*key, "w", REG_BINARY, "\x05");
  loaded->registry.values().Set(*key, "v", REG_BINARY, "\x01");
  EXPECT_EQ(k + "\"v\"=hex:01\r\n\"w\"=hex:05\r\n;\r\n", loaded->Saved());
}

// ---------------------------------------------------------------------------
// Keys named twice merge however their siblings come: in sorted order, out
// of it, after a few or after many (which makes loading build its table).

std::string Siblings(const std::vector<int>& order, const char* form,
                     char value) {
  std::string lines;
  for (int n : order) {
    char name[32];
    std::snprintf(name, sizeof name, form, n);
    lines += "[HKEY_LOCAL_MACHINE\\P\\" + std::string(name) + "]\r\n\"" +
             value + std::to_string(n) + "\"=\"1\"\r\n";
  }
  return lines;
}

TEST(ImporterKeys, KeysNamedTwiceMergeInAnyOrder) {
  std::vector<int> up, down;
  for (int i = 0; i < 40; ++i) up.push_back(i);
  down.assign(up.rbegin(), up.rend());
  struct Case {
    const char* label;
    std::vector<int> first;
    std::vector<int> again;
    const char* form;
  };
  const Case cases[] = {
      {"sorted, then the first again", up, {0}, "%02d"},
      {"sorted, then the last again", up, {39}, "%02d"},
      {"in reverse, then each again", down, up, "%02d"},
      {"a few out of order", {3, 1, 2}, {1, 2, 3}, "%d"},
      {"one name", {1}, {1}, "%d"},
  };
  for (const Case& c : cases) {
    for (int format : kFormats) {
      SCOPED_TRACE(std::string(c.label) + " (" + FormatName(format) + ")");
      const std::string text =
          Encode(format, Header(format) + "\r\n" +
                             Siblings(c.first, (std::string("K") + c.form).c_str(), 'a') +
                             Siblings(c.again, (std::string("k") + c.form).c_str(), 'b'));
      auto loaded = Load(text);
      ASSERT_TRUE(loaded->file) << loaded->error;
      Key* parent = loaded->Find("P");
      ASSERT_NE(nullptr, parent);
      EXPECT_EQ(c.first.size(), loaded->registry.keys().Subkeys(*parent).size());
      for (int n : c.again) {
        char name[32];
        std::snprintf(name, sizeof name, (std::string("K") + c.form).c_str(), n);
        Key* key = loaded->registry.keys().FindSubkey(*parent, name);
        ASSERT_NE(nullptr, key) << name;
        EXPECT_NE(nullptr, loaded->registry.values().Find(*key, "a" + std::to_string(n)));
        EXPECT_NE(nullptr, loaded->registry.values().Find(*key, "b" + std::to_string(n)));
      }
      ExpectSavedImportsAsRun(text);
    }
  }
}

}  // namespace
}  // namespace regtest
