// Whole exports through the host program: on large generated files in both
// formats the only lines that differ after a run are the changed values, and
// --dry-run prints those changes in the file's own format.
#include <gtest/gtest.h>

#include <sstream>

#include "reg_support.h"
#include "test_support.h"

namespace regtest {
namespace {

// A generated export, as the file before a run and as the run must leave it.
struct Export {
  std::string before;
  std::string after;
  size_t changedLines = 0;
};

class Generator {
 public:
  Generator(bool v5, const char* eol) : v5_(v5), eol_(eol) {}

  // `line` in both files.
  void Same(const std::string& line) { Both(line, line); }
  // `before` becomes `after` in the run.
  void Both(const std::string& before, const std::string& after) {
    out_.before += before + eol_;
    out_.after += after + eol_;
    if (before != after) ++out_.changedLines;
  }
  void OnlyAfter(const std::string& line) {
    out_.after += line + eol_;
    ++out_.changedLines;
  }
  // Two lines as one entry: a value wrapped onto a continuation line.
  std::string Join(const std::string& a, const std::string& b) const {
    return a + eol_ + b;
  }
  // "é" in the file's own encoding; a character 1252 lacks where v5 allows.
  std::string Accent() const { return v5_ ? "\xc3\xa9" : "\xe9"; }
  std::string Foreign() const { return v5_ ? "\xd0\x96" : "x"; }

  Export Finish() {
    const std::string header =
        std::string(v5_ ? "Windows Registry Editor Version 5.00" : "REGEDIT4") +
        eol_ + eol_;
    out_.before = header + out_.before;
    out_.after = header + out_.after;
    if (v5_) {
      out_.before = Utf16(out_.before);
      out_.after = Utf16(out_.after);
    }
    return out_;
  }

 private:
  bool v5_;
  std::string eol_;
  Export out_;
};

const char kScsi[] = "[HKEY_LOCAL_MACHINE\\Enum\\SCSI";
const char kHdc[] =
    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\hdc";

Export Generate(bool v5, const char* eol, size_t devices) {
  Generator g(v5, eol);
  g.Same("; generated for the round-trip test");
  g.Same(std::string(kScsi) + "]");
  g.Same("");
  for (size_t i = 0; i < devices; ++i) {
    const std::string n = std::to_string(i);
    g.Same(std::string(kScsi) + "\\VENDOR_" + n + "]");
    g.Same("");
    g.Same(std::string(kScsi) + "\\VENDOR_" + n + "\\ROOT&SCSIADAPTER&" + n +
           "]");
    g.Same("\"Class\"=\"CDROM\"");
    g.Same("\"DeviceDesc\"=\"Drive \\\"" + n + "\\\" " + g.Accent() + "\"");
    switch (i % 5) {
      case 0:
        g.Both("\"AutoInsertNotification\"=hex:00",
               "\"AutoInsertNotification\"=hex:01");
        break;
      case 1:  // already on: untouched
        g.Same("\"AutoInsertNotification\"=hex:01");
        break;
      case 2:  // its own spelling and wrapping
        g.Both(g.Join("\"autoinsertNOTIFICATION\"=hex:00,\\", "  00"),
               "\"autoinsertNOTIFICATION\"=hex:01");
        break;
      case 3:
        g.Same("\"AutoInsertNotificatio" + g.Foreign() + "\"=hex:00");
        break;
      default:
        g.Same("\"ConfigFlags\"=hex:00,00,00,00");
        break;
    }
    g.Same("\"Int13\"=dword:00000000");
    g.Same("");
    if (i % 97 == 0) g.Same("; a comment between keys");
  }
  // A deep tree, changed at the bottom.
  std::string deep = std::string(kScsi) + "\\DEEP";
  for (int level = 0; level < 200; ++level) {
    deep += "\\L" + std::to_string(level);
    g.Same(deep + "]");
  }
  g.Both("\"AutoInsertNotification\"=hex:00",
         "\"AutoInsertNotification\"=hex:01");
  g.Same("");
  // Other roots are never the machine's: never changed.
  g.Same("[HKEY_CURRENT_USER\\Enum\\SCSI\\X]");
  g.Same("\"AutoInsertNotification\"=hex:00");
  g.Same("");
  // IDE controllers: two match, one lacks the DMA values, one does not match.
  g.Same(std::string(kHdc) + "]");
  for (int c = 0; c < 4; ++c) {
    g.Same(std::string(kHdc) + "\\000" + std::to_string(c) + "]");
    g.Same("\"PortDriver\"=\"ESDI_506.PDR\"");
    if (v5 && c == 1)  // an expand string, UTF-16 in a v5 file
      g.Same(g.Join("\"InfPath\"=hex(2):4d,00,53,00,48,00,44,00,43,00,2e,00,"
                    "49,00,4e,00,46,00,\\",
                    "  00,00"));
    else
      g.Same("\"InfPath\"=\"MSHDC.INF\"");
    g.Same(std::string("\"InfSection\"=\"") +
           (c == 3 ? "ESDI" : c == 1 ? "DUAL_GOOD_IDE" : "GOOD_IDE") + "\"");
    if (c == 2) {
      g.OnlyAfter("\"IDEDMADRIVE0\"=hex:01");
      g.OnlyAfter("\"IDEDMADRIVE1\"=hex:01");
    } else if (c == 3) {
      g.Same("\"IDEDMADRIVE0\"=hex:00");
    } else {
      g.Both("\"IDEDMADRIVE0\"=hex:00", "\"IDEDMADRIVE0\"=hex:01");
      g.Same("\"Other\"=hex(7):61,00,00,\\");
      g.Same("  00");
      g.Both("\"IDEDMADRIVE1\"=hex:00", "\"IDEDMADRIVE1\"=hex:01");
    }
    g.Same("");
  }
  // Filler with every other syntax.
  for (size_t i = 0; i < devices; ++i) {
    g.Same("[HKEY_LOCAL_MACHINE\\Software\\Vendor" + g.Accent() + "\\App" +
           std::to_string(i) + "\\" + g.Foreign() + "]");
    g.Same("@=\"path\\\\to\\\\" + std::to_string(i) + "\"");
    g.Same("\"Size\"=dword:" + std::string(i % 2 ? "0000FFFF" : "0000ffff"));
    g.Same("\"Blob\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,"
           "11,12,13,14,15,16,\\");
    g.Same("  17,18,19");
    g.Same("");
  }
  return g.Finish();
}

// The first line where two files differ, for a readable failure.
std::string FirstDifference(const std::string& a, const std::string& b) {
  size_t line = 1;
  size_t i = 0;
  while (i < a.size() && i < b.size() && a[i] == b[i]) {
    if (a[i] == '\n') ++line;
    ++i;
  }
  return "first difference near line " + std::to_string(line) + ", byte " +
         std::to_string(i);
}

TEST(RegLargeExport, OnlyTheChangedValuesDiffer) {
  struct Variant {
    const char* label;
    bool v5;
    const char* eol;
  };
  for (const Variant& v : {Variant{"REGEDIT4 CRLF", false, "\r\n"},
                           Variant{"REGEDIT4 LF", false, "\n"},
                           Variant{"v5 CRLF", true, "\r\n"},
                           Variant{"v5 LF", true, "\n"}}) {
    SCOPED_TRACE(v.label);
    const Export e = Generate(v.v5, v.eol, 4000);
    ASSERT_GT(e.before.size(), 500000u);
    ASSERT_GT(e.changedLines, 1500u);
    const ProgramRun run = RunProgram(e.before, {"/CDP:1", "/DMA:1"});
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_TRUE(run.saved);
    EXPECT_TRUE(run.file == e.after) << FirstDifference(run.file, e.after);
    // Running again changes nothing and leaves the file alone.
    const ProgramRun again = RunProgram(e.after, {"/CDP:1", "/DMA:1"});
    EXPECT_EQ(0, again.status);
    EXPECT_FALSE(again.saved);
    EXPECT_TRUE(again.file == e.after);
  }
}

// ---------------------------------------------------------------------------
// --dry-run: the changes as a fragment in the file's format; nothing saved.

const std::string kDmaBody =
    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\hdc]\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\hdc\\"
    "Contr\xc3\xb4leur]\r\n"
    "\"PortDriver\"=\"ESDI_506.PDR\"\r\n"
    "\"InfPath\"=\"MSHDC.INF\"\r\n"
    "\"InfSection\"=\"GOOD_IDE\"\r\n"
    "\"IDEDMADRIVE0\"=hex:00\r\n";

const std::string kDmaFragment =
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\hdc\\"
    "Contr\xc3\xb4leur]\r\n"
    "\"IDEDMADRIVE0\"=hex:01\r\n"
    "\"IDEDMADRIVE1\"=hex:01\r\n";

std::string Ansi(std::string utf8) {
  utf8.replace(utf8.find("\xc3\xb4"), 2, "\xf4");
  return utf8;
}

TEST(RegDryRun, PrintsTheChangesInTheFilesFormatAndSavesNothing) {
  struct Case {
    const char* label;
    std::string file;
    std::string expected;
  };
  const Case cases[] = {
      {"REGEDIT4", Reg4(Ansi(kDmaBody)),
       "REGEDIT4\r\n" + Ansi(kDmaFragment)},
      // A v5 file's fragment is UTF-8 text under the v5 header.
      {"v5", Reg5(kDmaBody),
       "Windows Registry Editor Version 5.00\r\n" + kDmaFragment},
      {"REGEDIT4, nothing to change",
       Reg4(Ansi(kDmaBody) + "\"IDEDMADRIVE1\"=hex:01\r\n")
           .replace(Reg4(Ansi(kDmaBody)).find("hex:00"), 6, "hex:01"),
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const ProgramRun run = RunProgram(c.file, {"--dry-run", "/DMA:1"});
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_EQ(c.expected, run.out);
    EXPECT_FALSE(run.saved);
    EXPECT_TRUE(run.file == c.file);
  }
}

TEST(RegDryRun, FragmentLoadsBackWithTheSameValues) {
  for (bool v5 : {false, true}) {
    SCOPED_TRACE(v5 ? "v5" : "REGEDIT4");
    const ProgramRun run = RunProgram(
        v5 ? Reg5(kDmaBody) : Reg4(Ansi(kDmaBody)), {"--dry-run", "/DMA:1"});
    ASSERT_EQ(0, run.status);
    // A v5 fragment becomes importable as UTF-16, as iconv would make it.
    auto loaded = Load(v5 ? Utf16(run.out) : run.out);
    ASSERT_TRUE(loaded->file) << loaded->error;
    hostreg::Key* key = loaded->Find(
        "System\\CurrentControlSet\\Services\\Class\\hdc\\Contr\xf4leur");
    ASSERT_NE(nullptr, key);
    ASSERT_EQ(2u, loaded->registry.values().Of(*key).size());
    EXPECT_EQ("\x01", loaded->registry.values().Of(*key)[1].data);
  }
}

TEST(RegDryRun, WineExportGetsAVersion5Fragment) {
  const std::string text = ReadFile(SourcePath("tests/data/wine-enum-v5.reg"));
  const ProgramRun run = RunProgram(text, {"--dry-run", "/SSP:1", "/CDP:1"});
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_EQ(
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\Enum\\Root\\*PNP0C05\\0000]\r\n"
      "\"APMMenuSuspend\"=hex:01\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\Enum\\SCSI\\IOMEGA__ZIP_100_________D.13\\ROOT&"
      "SCSIADAPTER&0000\\Media]\r\n"
      "\"autoinsertnotification\"=hex:01\r\n",
      run.out);
  EXPECT_TRUE(run.file == text);
}

}  // namespace
}  // namespace regtest
