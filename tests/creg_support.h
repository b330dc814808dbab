// Helpers for the tests of Windows 9x registry files (CREG): the real files,
// reading and changing them by their own structure, loading and running the
// host program on copies.
#ifndef REGSWITCH_TESTS_CREG_SUPPORT_H
#define REGSWITCH_TESTS_CREG_SUPPORT_H

#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/loaded.h"
#include "test_support.h"

namespace regtest {

uint32_t Le32(const std::string& d, size_t at);
uint16_t Le16(const std::string& d, size_t at);
void SetLe32(std::string& d, size_t at, uint32_t v);
void SetLe16(std::string& d, size_t at, uint16_t v);

// The Windows 98 SYSTEM.DAT in tests/data/win9x.
const std::string& Win98System();
// The Windows 95 SYSTEM.1ST from the shared test data (never copied into
// the repository): REGSWITCH_SHARED_TESTDATA, else where the build found it
// beside the source tree. Empty when it is not there.
const std::string& Win95System();
std::string Win95SystemPath();
// Skips the test when the Windows 95 file is missing (fails it under CI).
#define REQUIRE_WIN95_SYSTEM()                                       \
  REGTEST_NEED(!::regtest::Win95System().empty(),                   \
               "the Windows 95 test file is missing: "              \
                   << ::regtest::Win95SystemPath())

// A CREG file loaded, with every value and the number of keys.
struct CregLoaded : Loaded {
  explicit CregLoaded(const std::string& contents)
      : Loaded(contents, "HKEY_LOCAL_MACHINE", "SYSTEM.DAT") {}
  Flat values;
  size_t keys = 0;
};
std::unique_ptr<CregLoaded> LoadCreg(const std::string& contents);

// Runs the host program on a copy of `contents`.
struct CopyRun {
  int status;
  std::string out, err, before, after;
};
CopyRun RunOnCopy(const std::string& contents,
                  const std::vector<std::string>& args);

// The [begin, end) of the RGDB record or block that holds file offset `at`,
// found by walking the file's own structure.
std::pair<size_t, size_t> Enclosing(const std::string& d, size_t at,
                                    bool wholeBlock);
// Where a key's record stands in the file: its name, right followed by all
// its values. It must occur once.
size_t RecordInFile(const std::string& d, const std::string& keyName,
                    const std::vector<hostreg::Value>& values);
// The offsets where `after` differs from `before`, as ranges.
std::vector<std::pair<size_t, size_t>> Differences(const std::string& before,
                                                   const std::string& after);

// A checksum field of a file, read independently of the program's own code.
struct Checksum {
  std::string what;
  size_t start, size, flagsAt, fieldAt;
  bool stale;
  uint32_t stored;
  uint32_t byRule;  // 0 - sum of the words, flags | 4, field as 0
};
// The header's, the key tree's and every block's, in file order.
std::vector<Checksum> Checksums(const std::string& d);
// Sets every field that is not stale to its rule's value, as a file that
// carries checksums would hold them.
void SetChecksums(std::string& d);
// The Windows 98 file as a file that carries checksums: the header's
// "none" flag cleared and every field set by the rule.
std::string Win98WithChecksums();

// `bytes` of REG_BINARY data 0xAB in as few values as Windows 9x keeps
// whole (16,300 bytes each): "Grown", "Grown2", ...
std::vector<hostreg::Value> GrownValues(size_t bytes);
// Sets them in the key at `path` and in `expected`.
void SetGrown(hostreg::Registry& registry, hostreg::Key& key,
              const std::string& path, size_t bytes, Flat& expected);

// A registry file with no key but its root, laid out as Windows Me's own
// (tests/creg/creg95.py's empty_file): a stand-in for a CLASSES.DAT.
std::string EmptyCreg();

// The file offset of the node of the key at `path` ("" for the root),
// walking the file; 0 when there is none.
size_t NodeOf(const std::string& d, const std::string& path);
// The file offset of the record a node points at.
size_t RecordOf(const std::string& d, size_t node);

}  // namespace regtest

#endif
