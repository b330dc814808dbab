// Merging .reg files (--merge, --user): the importer's meaning applied to a
// .reg registry and to the real Windows 98 SYSTEM.DAT, each save read back
// as the registry the merge left; refusals; the two-file run.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "creg_support.h"
#include "host/cli/run.h"
#include "host/formats/changes.h"
#include "host/formats/merge/merge.h"
#include "host/formats/reg/render.h"
#include "host/formats/reg/codepage.h"
#include "host/formats/reg/render.h"
#include "test_support.h"

namespace {

using hostreg::Registry;

// Every key and value as lines, paths in upper case, sorted. REG_SZ data
// without its terminating zero, as Windows 9x files keep it.
std::string Flat(const Registry& registry) {
  std::map<std::string, std::string> lines;
  std::vector<const hostreg::Key*> pending{&registry.keys().Root()};
  while (!pending.empty()) {
    const hostreg::Key* key = pending.back();
    pending.pop_back();
    std::string path = registry.keys().Path(*key);
    for (char& c : path) c = static_cast<char>(toupper(c));
    lines["K " + path];
    for (const hostreg::Value& value : registry.values().Of(*key)) {
      std::string data = value.data;
      if (value.type == REG_SZ && !data.empty() && data.back() == '\0')
        data.pop_back();
      std::string name = value.name;
      for (char& c : name) c = static_cast<char>(toupper(c));
      lines["V " + path + "|" + name] = std::to_string(value.type) + ":" + data;
    }
    for (const hostreg::Key* sub : registry.keys().Subkeys(*key))
      pending.push_back(sub);
  }
  std::string out;
  for (const auto& line : lines) out += line.first + "=" + line.second + "\n";
  return out;
}

// UTF-8 text as a UTF-16LE file after its byte-order mark.
std::string Utf16File(const std::string& utf8) {
  std::vector<uint16_t> units;
  hostreg::AppendUtf8Units(reinterpret_cast<const unsigned char*>(utf8.data()),
                           utf8.size(), units);
  std::string out = "\xFF\xFE";
  for (uint16_t unit : units) hostreg::AppendUnit(out, unit);
  return out;
}

using Target = regtest::Loaded;

bool Merge(Target& machine, const std::string& text, std::string& error,
           std::vector<std::string>* notes = nullptr, Target* users = nullptr) {
  hostreg::MergeTargets targets;
  targets.machine = &machine.registry;
  targets.users = users != nullptr ? &users->registry : nullptr;
  hostreg::SkipNotes skipped("m.reg");
  const bool ok = hostreg::ApplyMerge(
      "m.reg", std::make_shared<const hostreg::FileBytes>(text), targets,
      skipped, error);
  if (notes != nullptr) *notes = skipped.Lines();
  return ok;
}

const std::string kBase = regtest::Reg(
    "[HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_1\\BUS_0]\r\n\"Class\"=\"Net\"\r\n"
    "[HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_2]\r\n"
    "[HKEY_LOCAL_MACHINE\\Enum\\Root\\*PNP0C05\\0000]\r\n"
    "\"APMMenuSuspend\"=hex:00\r\n\"Keep\"=dword:00000007\r\n"
    "[-HKEY_LOCAL_MACHINE\\Enum\\Gone]\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Classes\\.txt]\r\n@=\"txtfile\"\r\n");

struct Row {
  const char* what;
  const char* merge;                 // the .reg body
  std::vector<std::string> present;  // lines of Flat that must be there
  std::vector<std::string> absent;   // prefixes of lines that must not
  size_t notes;                      // lines the importer skips
};

const std::vector<Row> kRows = {
    {"a key deleted with its tree, a value set elsewhere",
     "[-HKEY_LOCAL_MACHINE\\Enum\\PCI]\r\n"
     "[HKEY_LOCAL_MACHINE\\Enum\\Root\\*PNP0C05\\0000]\r\n\"APMMenuSuspend\"=hex:01\r\n",
     {"V ENUM\\ROOT\\*PNP0C05\\0000|APMMENUSUSPEND=3:\x01"},
     {"K ENUM\\PCI"}, 0},
    {"deleted, then made again with one value",
     "[-HKEY_LOCAL_MACHINE\\Enum\\PCI]\r\n"
     "[HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_1]\r\n\"New\"=\"1\"\r\n",
     {"K ENUM\\PCI\\VEN_1=", "V ENUM\\PCI\\VEN_1|NEW=1:1"},
     {"K ENUM\\PCI\\VEN_1\\BUS_0", "K ENUM\\PCI\\VEN_2"}, 0},
    {"values deleted, one set again",
     "[HKEY_LOCAL_MACHINE\\Enum\\Root\\*PNP0C05\\0000]\r\n"
     "\"APMMenuSuspend\"=-\r\n\"Keep\"=-\r\n\"Keep\"=dword:00000008\r\n@=-\r\n",
     {"V ENUM\\ROOT\\*PNP0C05\\0000|KEEP=4:\x08\x00\x00\x00"},
     {"V ENUM\\ROOT\\*PNP0C05\\0000|APMMENUSUSPEND"}, 0},
    {"new keys without values, deep",
     "[HKEY_LOCAL_MACHINE\\Software\\Kit\\A\\B\\C]\r\n",
     {"K SOFTWARE\\KIT\\A\\B\\C="}, {}, 0},
    {"HKEY_CLASSES_ROOT is SOFTWARE\\Classes",
     "[HKEY_CLASSES_ROOT\\.txt]\r\n@=\"notepad\"\r\n[-HKEY_CLASSES_ROOT\\.bak]\r\n"
     "[HKEY_CLASSES_ROOT\\.log]\r\n@=\"txtfile\"\r\n",
     {"V SOFTWARE\\CLASSES\\.TXT|=1:notepad", "V SOFTWARE\\CLASSES\\.LOG|=1:txtfile"},
     {}, 0},
    {"lines the importer skips change nothing",
     "\"Early\"=\"1\"\r\n[ HKEY_LOCAL_MACHINE\\X]\r\n[HKEY_LOCAL_MACHINE\\Enum\\\\Bad]\r\n"
     "\"Skipped\"=\"1\"\r\n[-HKEY_LOCAL_MACHINE]\r\n[-Enum]\r\n"
     "[HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_2]\r\n\"Typed\"=DWORD:1\r\n",
     // A doubled '\\' names no key of its own: Enum\\Bad opens.
     {"K ENUM\\PCI\\VEN_2=", "V ENUM\\BAD|SKIPPED=1:1"},
     {"V ENUM\\PCI\\VEN_2", "K X"}, 5},
    // The keys of the last key line are reused for the next: not after a
    // deletion took them out, nor after a line that failed.
    {"a key line below a key just deleted",
     "[HKEY_LOCAL_MACHINE\\Software\\Kit\\A]\r\n\"v\"=\"1\"\r\n"
     "[-HKEY_LOCAL_MACHINE\\Software\\Kit]\r\n"
     "[HKEY_LOCAL_MACHINE\\Software\\Kit\\A\\B]\r\n\"w\"=\"2\"\r\n",
     {"K SOFTWARE\\KIT\\A\\B=", "V SOFTWARE\\KIT\\A\\B|W=1:2"},
     {"V SOFTWARE\\KIT\\A|V"}, 0},
    {"a key line after one that failed",
     "[HKEY_LOCAL_MACHINE\\Software\\Kit\\A]\r\n"
     "[HKEY_LOCAL_MACHINE\\Software\\Kit\\A\\Too long to hold, "
     "a name of more than two hundred and fifty-five characters, which "
     "Windows cannot hold in its registry and so skips with the values "
     "below it, a name of more than two hundred and fifty-five characters, "
     "which Windows cannot hold in its registry and so skips]\r\n"
     "\"Lost\"=\"1\"\r\n"
     "[HKEY_LOCAL_MACHINE\\Software\\Kit\\A\\B]\r\n\"w\"=\"2\"\r\n",
     {"V SOFTWARE\\KIT\\A\\B|W=1:2"}, {"V SOFTWARE\\KIT\\A\\TOO"}, 1},
    {"deleting what is not there, and a key deleted twice",
     "[-HKEY_LOCAL_MACHINE\\Enum\\Nothing]\r\n[HKEY_LOCAL_MACHINE\\Enum\\PCI]\r\n"
     "\"None\"=-\r\n[-HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_2]\r\n"
     "[-HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_2]\r\n",
     {"K ENUM\\PCI\\VEN_1\\BUS_0="}, {"K ENUM\\PCI\\VEN_2"}, 0},
};

size_t CountOf(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++count;
  return count;
}

bool HasLine(const std::string& flat, const std::string& prefix) {
  return flat.find("\n" + prefix) != std::string::npos ||
         flat.compare(0, prefix.size(), prefix) == 0;
}

// After the merge the registry holds what the row says; the saved file,
// loaded again, is that registry; so is the dry run's fragment applied to
// the original.
TEST(MergeReg, EachRowSavesAsTheRegistryItLeaves) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.what);
    Target target(kBase);
    ASSERT_TRUE(target.file) << target.error;
    std::string error;
    std::vector<std::string> notes;
    ASSERT_TRUE(Merge(target, regtest::Reg(row.merge), error, &notes)) << error;
    EXPECT_EQ(row.notes, notes.size());
    const std::string flat = Flat(target.registry);
    for (const std::string& line : row.present) EXPECT_TRUE(HasLine(flat, line)) << line;
    for (const std::string& line : row.absent) EXPECT_FALSE(HasLine(flat, line)) << line;
    Target saved(target.Saved());
    ASSERT_TRUE(saved.file) << saved.error;
    EXPECT_EQ(flat, Flat(saved.registry)) << target.Saved();
    Target replayed(kBase);
    ASSERT_TRUE(Merge(replayed, target.file->DescribeChanges(target.registry, hostreg::CollectChanges(target.registry)), error))
        << error;
    EXPECT_EQ(flat, Flat(replayed.registry));
  }
}

// The same merges into the Windows 98 SYSTEM.DAT: the saved file loads
// again as the registry the merge left.
TEST(MergeCreg, EachRowSavesAsTheRegistryItLeaves) {
  std::vector<std::string> merges;
  for (const Row& row : kRows) merges.push_back(row.merge);
  merges.push_back(regtest::ReadFile(regtest::SourcePath("tests/merge/fixtures/fastpnp.reg")));
  merges.push_back(regtest::ReadFile(regtest::SourcePath("tests/merge/fixtures/enum-readd.reg")));
  for (const std::string& merge : merges) {
    SCOPED_TRACE(merge.substr(0, 80));
    Target target(regtest::Win98System());
    std::string error;
    const std::string text = merge.compare(0, 8, "REGEDIT4") == 0 ? merge : regtest::Reg(merge);
    ASSERT_TRUE(Merge(target, text, error)) << error;
    Target saved(target.Saved());
    ASSERT_TRUE(saved.file) << saved.error;
    EXPECT_EQ(Flat(target.registry), Flat(saved.registry));
  }
}

// Every key and value of a registry as a .reg file.
std::string Export(const Registry& registry) {
  std::string out = "REGEDIT4\r\n";
  std::vector<const hostreg::Key*> pending{&registry.keys().Root()};
  while (!pending.empty()) {
    const hostreg::Key* key = pending.back();
    pending.pop_back();
    out += "\r\n" + hostreg::KeyLineOf(registry.keys(), *key) + "\r\n";
    for (const hostreg::Value& value : registry.values().Of(*key))
      out += hostreg::FormatValueLine(value, "\r\n", false) + "\r\n";
    for (const hostreg::Key* sub : registry.keys().Subkeys(*key)) pending.push_back(sub);
  }
  return out;
}

// A full export merged into an empty registry gives the same keys and
// values: into an empty .reg file, and into the Windows 98 file with every
// key deleted first (saved and loaded in between).
TEST(MergeRoundTrip, AFullExportIntoAnEmptyRegistryGivesTheSameRegistry) {
  Target original(regtest::Win98System());
  const std::string exported = Export(original.registry);
  std::string error;
  Target empty(regtest::Reg(""));
  ASSERT_TRUE(Merge(empty, exported, error)) << error;
  EXPECT_EQ(Flat(original.registry), Flat(empty.registry));
  Target emptyReg(empty.Saved());
  EXPECT_EQ(Flat(original.registry), Flat(emptyReg.registry));

  std::string wipe = "REGEDIT4\r\n";
  for (const hostreg::Key* top : original.registry.keys().Subkeys(original.registry.keys().Root()))
    wipe += "[-HKEY_LOCAL_MACHINE\\" + original.registry.keys().Name(*top) + "]\r\n";
  Target wiped(regtest::Win98System());
  ASSERT_TRUE(Merge(wiped, wipe, error)) << error;
  Target emptied(wiped.Saved());
  EXPECT_EQ("K =\n", Flat(emptied.registry));
  ASSERT_TRUE(Merge(emptied, exported, error)) << error;
  Target refilled(emptied.Saved());
  ASSERT_TRUE(refilled.file) << refilled.error;
  EXPECT_EQ(Flat(original.registry), Flat(refilled.registry));
}

struct Refusal {
  const char* merge;
  bool withUsers;
  const char* error;  // what the message holds
};

TEST(MergeRefusals, LinesNoGivenFileHoldsAreRefusedWithTheirLine) {
  const std::vector<Refusal> rows = {
      {"\r\n[HKEY_CURRENT_USER\\Control Panel]\r\n", false, "m.reg:4: a key of HKEY_CURRENT_USER"},
      {"[-HKEY_USERS\\.DEFAULT\\X]\r\n", false, "m.reg:3: a key of HKEY_USERS"},
      {"[HKEY_CURRENT_CONFIG\\Display]\r\n", true, "m.reg:3: a key of HKEY_CURRENT_CONFIG"},
      {"[HKEY_DYN_DATA\\PerfStats]\r\n", true, "m.reg:3: a key of HKEY_DYN_DATA"},
      {"[HKEY_CLASSES_ROOT\\.txt]\r\n", true, "m.reg:3: a key of HKEY_CLASSES_ROOT, "
                                              "which no registry file given holds: it is "
                                              "SYSTEM.DAT's"},
  };
  for (const Refusal& row : rows) {
    Target machine(kBase);
    Target users(regtest::Reg(""), "HKEY_USERS");
    std::string error;
    // The last row merges into the user registry alone.
    const bool usersOnly = &row == &rows.back();
    hostreg::MergeTargets targets;
    targets.machine = usersOnly ? nullptr : &machine.registry;
    targets.users = row.withUsers ? &users.registry : nullptr;
    hostreg::SkipNotes notes("m.reg");
    EXPECT_FALSE(hostreg::ApplyMerge(
        "m.reg", std::make_shared<const hostreg::FileBytes>(regtest::Reg(row.merge)),
        targets, notes, error));
    EXPECT_NE(std::string::npos, error.find(row.error)) << error;
  }
  // A file the importer refuses whole changes nothing.
  Target machine(kBase);
  std::string error;
  EXPECT_FALSE(Merge(machine, std::string("REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\0", 36), error));
  EXPECT_NE(std::string::npos, error.find("m.reg:3: a NUL byte")) << error;
  EXPECT_TRUE(hostreg::CollectChanges(machine.registry).empty());
  // A CREG file has no byte for a name from a UTF-16 file outside code page 1252.
  Target creg(regtest::Win98System());
  const std::string wide =
      Utf16File("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\\u2603]\r\n");
  ASSERT_TRUE(Merge(creg, wide, error)) << error;
  std::string out;
  EXPECT_FALSE(creg.Render(out, error));
  EXPECT_EQ("[HKEY_LOCAL_MACHINE\\SOFTWARE\\?]: its name holds a character that "
            "code page 1252 cannot hold", error);
}

// A name outside code page 1252, read from a UTF-16 file, has no bytes in an
// 8-bit .reg file: the save is refused, the file kept, and the dry run says
// so, showing the character as '?'. UTF-16 and UTF-8 files save it. A file
// under a header the importer imports nothing from refuses every change.
TEST(MergeProgram, RefusalsOfAnRegFileAreTheDryRunsWarnings) {
  const std::string body = kBase.substr(8);  // from the header's line break
  const std::string version5 = "Windows Registry Editor Version 5.00" + body;
  const std::string txt = "[HKEY_LOCAL_MACHINE\\Software\\Classes\\.txt]\r\n";
  const struct {
    std::string merge;
    std::string refusal;
    const char* shown;  // in the 8-bit dry run
  } merges[] = {
      {txt + "\"\u03A9\"=\"v\"\r\n",
       "a value name of [HKEY_LOCAL_MACHINE\\Software\\Classes\\.txt] holds a "
       "character that code page 1252 cannot hold",
       "\"?\"=\"v\""},
      {"[HKEY_LOCAL_MACHINE\\Software\\\u03A9K]\r\n",
       "[HKEY_LOCAL_MACHINE\\Software\\?K]: its name holds a character that code "
       "page 1252 cannot hold",
       "[HKEY_LOCAL_MACHINE\\Software\\?K]"},
      {"[HKEY_LOCAL_MACHINE\\Software\\New]\r\n\"x\u03A9\"=dword:1\r\n",
       "a value name of [HKEY_LOCAL_MACHINE\\Software\\New] holds a character "
       "that code page 1252 cannot hold",
       "\"x?\"=dword:00000001"},
  };
  const std::string dir = regtest::TempDir();
  const std::string path = dir + "/target.reg", merge = dir + "/m.reg";
  const std::vector<std::string> eightBit = {kBase, version5};
  const std::vector<std::string> wide = {Utf16File(version5), "\xEF\xBB\xBF" + version5};
  for (const auto& m : merges) {
    SCOPED_TRACE(m.merge);
    regtest::WriteFile(merge, Utf16File("REGEDIT4\r\n\r\n" + m.merge));
    for (const std::string& target : eightBit) {
      SCOPED_TRACE(target.substr(0, 8));
      regtest::WriteFile(path, target);
      regtest::ProgramRun dry = regtest::RunProgramArgs({"--registry", path, "--merge", merge, "--dry-run"});
      EXPECT_EQ(0, dry.status) << dry.err;
      EXPECT_NE(std::string::npos, dry.err.find(path + ": a save would be refused: " + m.refusal)) << dry.err;
      EXPECT_EQ(std::string::npos, dry.out.find('\0'));
      EXPECT_NE(std::string::npos, dry.out.find(m.shown)) << dry.out;
      regtest::ProgramRun run = regtest::RunProgramArgs({"--registry", path, "--merge", merge});
      EXPECT_EQ(2, run.status);
      EXPECT_NE(std::string::npos, run.err.find(path + ": " + m.refusal)) << run.err;
      EXPECT_EQ(target, regtest::ReadFile(path));
    }
    for (const std::string& target : wide) {
      SCOPED_TRACE(target.substr(0, 4));
      regtest::WriteFile(path, target);
      regtest::ProgramRun dry = regtest::RunProgramArgs({"--registry", path, "--merge", merge, "--dry-run"});
      EXPECT_EQ("", dry.err);
      EXPECT_NE(std::string::npos, dry.out.find("\u03A9")) << dry.out;
      regtest::ProgramRun run = regtest::RunProgramArgs({"--registry", path, "--merge", merge});
      EXPECT_EQ(0, run.status) << run.err;
      Target merged(target);
      std::string error;
      ASSERT_TRUE(Merge(merged, regtest::ReadFile(merge), error)) << error;
      Target saved(regtest::ReadFile(path));
      ASSERT_TRUE(saved.file) << saved.error;
      EXPECT_EQ(Flat(merged.registry), Flat(saved.registry));
      EXPECT_NE(Flat(Target(target).registry), Flat(saved.registry));
    }
  }
  regtest::WriteFile(path, "REGEDIT\r\n" + body);
  regtest::WriteFile(merge, regtest::Reg("[HKEY_LOCAL_MACHINE\\Software\\New]\r\n"));
  regtest::ProgramRun dry = regtest::RunProgramArgs({"--registry", path, "--merge", merge, "--dry-run"});
  EXPECT_NE(std::string::npos,
            dry.err.find(path + ": a save would be refused: Windows' importer imports nothing from "
                         "this file (its first line is \"REGEDIT\")")) << dry.err;
  EXPECT_NE(std::string::npos, dry.out.find("[HKEY_LOCAL_MACHINE\\Software\\New]")) << dry.out;
  EXPECT_EQ(2, regtest::RunProgramArgs({"--registry", path, "--merge", merge}).status);
  EXPECT_EQ("REGEDIT\r\n" + body, regtest::ReadFile(path));
}

// The program: merges before the switches, two files, and a second save
// that fails putting the first file back.
TEST(MergeProgram, MergesThenSwitchesAndSavesBothFilesOrNeither) {
  const std::string dir = regtest::TempDir();
  const std::string system = dir + "/SYSTEM.DAT", user = dir + "/USER.DAT";
  const std::string first = dir + "/first.reg", second = dir + "/second.reg";
  regtest::WriteFile(first, regtest::Reg(
      "[HKEY_LOCAL_MACHINE\\Enum\\Root\\*PNP0C05\\0000]\r\n\"APMMenuSuspend\"=hex:07\r\n"
      "[HKEY_CURRENT_USER\\Control Panel\\Desktop]\r\n\"Wallpaper\"=\"(None)\"\r\n"));
  regtest::WriteFile(second, regtest::Reg("[-HKEY_LOCAL_MACHINE\\Enum\\PCI]\r\n"));
  const std::string userDat = regtest::ReadFile(regtest::SourcePath("tests/data/win9x/USER.DAT"));
  regtest::WriteFile(system, regtest::Win98System());
  regtest::WriteFile(user, userDat);
  regtest::ProgramRun dry = regtest::RunProgramArgs(
      {"--registry", system, "--user", user, "--merge", first, "--merge", second,
       "--dry-run", "/SSP:1"});
  EXPECT_EQ(0, dry.status) << dry.err;
  EXPECT_EQ(1u, CountOf(dry.out, "REGEDIT4"));
  EXPECT_NE(std::string::npos, dry.out.find("[-HKEY_LOCAL_MACHINE\\Enum\\PCI]"));
  EXPECT_NE(std::string::npos, dry.out.find("\"APMMenuSuspend\"=hex:01"));
  EXPECT_NE(std::string::npos, dry.out.find("[HKEY_USERS\\.DEFAULT\\Control Panel\\Desktop]"));
  EXPECT_EQ(regtest::Win98System(), regtest::ReadFile(system));

  // USER.DAT cannot be saved (read-only): SYSTEM.DAT is put back.
  ::chmod(user.c_str(), 0444);
  regtest::ProgramRun failed = regtest::RunProgramArgs(
      {"--registry", system, "--user", user, "--merge", first, "/SSP:1"});
  EXPECT_EQ(2, failed.status);
  EXPECT_NE(std::string::npos, failed.err.find("put back as it was")) << failed.err;
  EXPECT_EQ(regtest::Win98System(), regtest::ReadFile(system));
  EXPECT_EQ(userDat, regtest::ReadFile(user));

  ::chmod(user.c_str(), 0644);
  regtest::ProgramRun run = regtest::RunProgramArgs(
      {"--registry", system, "--user", user, "--merge", first, "--merge", second, "/SSP:1"});
  EXPECT_EQ(0, run.status) << run.err;
  Target savedSystem(regtest::ReadFile(system));
  Target savedUser(regtest::ReadFile(user), "HKEY_USERS");
  const std::string flat = Flat(savedSystem.registry);
  EXPECT_TRUE(HasLine(flat, "V ENUM\\ROOT\\*PNP0C05\\0000|APMMENUSUSPEND=3:\x01"));
  EXPECT_FALSE(HasLine(flat, "K ENUM\\PCI"));
  EXPECT_TRUE(HasLine(Flat(savedUser.registry),
                      "V .DEFAULT\\CONTROL PANEL\\DESKTOP|WALLPAPER=1:(None)"));

  // A line for a root no given file holds: nothing is saved.
  const std::string before = regtest::ReadFile(system);
  regtest::ProgramRun refused = regtest::RunProgramArgs({"--registry", system, "--merge", first});
  EXPECT_EQ(2, refused.status);
  EXPECT_NE(std::string::npos, refused.err.find(first + ":5: a key of HKEY_CURRENT_USER"))
      << refused.err;
  EXPECT_EQ(before, regtest::ReadFile(system));
}

}  // namespace
