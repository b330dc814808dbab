#include "creg_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "host/cli/run.h"
#include "host/files/file_bytes.h"
#include "host/formats/pick_format.h"
#include "test_support.h"

namespace regtest {

using hostreg::Key;
using hostreg::Registry;
using hostreg::Value;

uint32_t Le32(const std::string& d, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(d[at + i]);
  return v;
}
uint16_t Le16(const std::string& d, size_t at) {
  return static_cast<uint16_t>(static_cast<unsigned char>(d[at]) |
                               static_cast<unsigned char>(d[at + 1]) << 8);
}
void SetLe32(std::string& d, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) d[at + i] = static_cast<char>(v >> (8 * i));
}
void SetLe16(std::string& d, size_t at, uint16_t v) {
  d[at] = static_cast<char>(v);
  d[at + 1] = static_cast<char>(v >> 8);
}

const std::string& Win98System() {
  static const std::string contents = ReadFile(SourcePath("tests/data/win9x/SYSTEM.DAT"));
  return contents;
}

std::string Win95SystemPath() {
  const char* shared = getenv("REGSWITCH_SHARED_TESTDATA");
  const std::string base =
      shared != nullptr ? shared : REGSWITCH_SHARED_TESTDATA_DIR;
  return base + "/win95/SYSTEM.1ST";
}

const std::string& Win95System() {
  static const std::string contents = [] {
    std::ifstream in(Win95SystemPath(), std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return in ? all.str() : std::string();
  }();
  return contents;
}

std::unique_ptr<CregLoaded> LoadCreg(const std::string& contents) {
  auto loaded = std::make_unique<CregLoaded>(contents);
  if (loaded->file) loaded->values = Flatten(loaded->registry, &loaded->keys);
  return loaded;
}

CopyRun RunOnCopy(const std::string& contents,
                  const std::vector<std::string>& args) {
  const std::string path = TempDir() + "/SYSTEM.DAT";
  WriteFile(path, contents);
  std::vector<std::string> all{"regswitch", "--registry", path};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<const char*> argv;
  for (const auto& a : all) argv.push_back(a.c_str());
  std::ostringstream out, err;
  CopyRun run;
  hostreg::RealPlatform platform;
  run.status = hostreg::RunHostProgram(static_cast<int>(argv.size()),
                                       argv.data(), out, err, platform);
  run.out = out.str();
  run.err = err.str();
  run.before = contents;
  run.after = ReadFile(path);
  return run;
}

std::pair<size_t, size_t> Enclosing(const std::string& d, size_t at,
                                    bool wholeBlock) {
  for (size_t b = Le32(d, 8); b < d.size(); b += Le32(d, b + 4)) {
    const size_t end = b + Le32(d, b + 4);
    if (at < b || at >= end) continue;
    if (wholeBlock) return {b, end};
    for (size_t r = b + 32; r < end; r += Le32(d, r))
      if (at >= r && at < r + Le32(d, r)) return {r, r + Le32(d, r)};
  }
  return {0, 0};
}

namespace {

bool ValuesFollow(const std::string& d, size_t at,
                  const std::vector<Value>& values) {
  for (const Value& value : values) {
    if (at + 12 > d.size() || Le32(d, at) != value.type ||
        Le32(d, at + 8) != (value.name.size() | value.data.size() << 16) ||
        d.compare(at + 12, value.name.size() + value.data.size(),
                  value.name + value.data) != 0)
      return false;
    at += 12 + value.name.size() + value.data.size();
  }
  return true;
}

}  // namespace

size_t RecordInFile(const std::string& d, const std::string& keyName,
                    const std::vector<Value>& values) {
  std::vector<size_t> found;
  for (size_t at = d.find(keyName); at != std::string::npos;
       at = d.find(keyName, at + 1))
    if (ValuesFollow(d, at + keyName.size(), values)) found.push_back(at);
  EXPECT_EQ(1u, found.size()) << keyName;
  return found.empty() ? 0 : found.front();
}

std::vector<std::pair<size_t, size_t>> Differences(const std::string& before,
                                                   const std::string& after) {
  std::vector<std::pair<size_t, size_t>> out;
  const size_t n = std::min(before.size(), after.size());
  for (size_t i = 0; i < n; ++i) {
    if (before[i] == after[i]) continue;
    if (!out.empty() && out.back().second == i) ++out.back().second;
    else out.push_back({i, i + 1});
  }
  if (after.size() != before.size()) out.push_back({n, after.size()});
  return out;
}

namespace {

Checksum Field(const std::string& d, std::string what, size_t start,
               size_t size, size_t flagsAt, size_t fieldAt, bool canBeStale) {
  Checksum c{std::move(what), start, size, start + flagsAt, start + fieldAt,
             canBeStale && (Le16(d, start + flagsAt) & 1) != 0,
             Le32(d, start + fieldAt), 0};
  std::string copy = d.substr(start, size);
  SetLe32(copy, fieldAt, 0);
  SetLe16(copy, flagsAt, static_cast<uint16_t>(Le16(copy, flagsAt) | 4));
  uint32_t sum = 0;
  for (size_t at = 0; at + 4 <= copy.size(); at += 4) sum += Le32(copy, at);
  c.byRule = 0u - sum;
  return c;
}

}  // namespace

std::vector<Checksum> Checksums(const std::string& d) {
  std::vector<Checksum> out{Field(d, "header", 0, 32, 18, 12, false),
                            Field(d, "key tree", 0x20, Le32(d, 0x24), 16, 20, true)};
  int index = 0;
  for (size_t b = Le32(d, 8); b < d.size(); b += Le32(d, b + 4))
    out.push_back(Field(d, "data block " + std::to_string(index++), b,
                        Le32(d, b + 4), 12, 28, true));
  return out;
}

void SetChecksums(std::string& d) {
  for (const Checksum& c : Checksums(d))
    if (!c.stale) SetLe32(d, c.fieldAt, c.byRule);
}

std::string Win98WithChecksums() {
  std::string d = Win98System();
  SetLe16(d, 18, 0);
  SetChecksums(d);
  return d;
}

namespace {

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

size_t RecordOf(const std::string& d, size_t node) {
  const uint16_t id = Le16(d, node + 24), block = Le16(d, node + 26);
  size_t b = Le32(d, 8);
  for (uint16_t i = 0; i < block && b < d.size(); ++i) b += Le32(d, b + 4);
  for (size_t r = b + 32; b < d.size() && r < b + Le32(d, b + 4); r += Le32(d, r))
    if (Le16(d, r + 4) == id) return r;
  return 0;
}

size_t NodeOf(const std::string& d, const std::string& path) {
  size_t node = 0x20 + Le32(d, 0x28);
  std::istringstream parts(path);
  std::string part;
  while (std::getline(parts, part, '\\')) {
    size_t child = Le32(d, node + 16);
    for (; child != 0xFFFFFFFF; child = Le32(d, 0x20 + child + 20)) {
      const size_t record = RecordOf(d, 0x20 + child);
      if (Upper(d.substr(record + 20, Le16(d, record + 12))) == Upper(part)) break;
    }
    if (child == 0xFFFFFFFF) return 0;
    node = 0x20 + child;
  }
  return node;
}

std::vector<hostreg::Value> GrownValues(size_t bytes) {
  std::vector<hostreg::Value> values;
  for (size_t left = bytes; left > 0;) {
    const size_t n = std::min<size_t>(left, 16300);
    hostreg::Value value;
    value.name = values.empty() ? "Grown" : "Grown" + std::to_string(values.size() + 1);
    value.type = REG_BINARY;
    value.data.assign(n, '\xab');
    values.push_back(value);
    left -= n;
  }
  return values;
}

void SetGrown(hostreg::Registry& registry, hostreg::Key& key,
              const std::string& path, size_t bytes, Flat& expected) {
  for (const hostreg::Value& value : GrownValues(bytes)) {
    registry.values().Set(key, value.name, value.type, value.data);
    expected[path + "|" + value.name] = {value.type, value.data};
  }
}

std::string EmptyCreg() {
  std::string tree(0x2000, '\0'), block(0x1000, '\0'), head(32, '\0');
  tree.replace(0, 4, "RGKN");
  SetLe32(tree, 4, static_cast<uint32_t>(tree.size()));
  SetLe32(tree, 8, 0x20);   // the root's node
  SetLe32(tree, 12, 0x3C);  // the first free node
  SetLe16(tree, 16, 0x8);
  for (size_t at : {8, 12, 16, 20}) SetLe32(tree, 0x20 + at, 0xFFFFFFFF);
  SetLe32(tree, 0x20 + 24, 0xFFFFFFFF);  // no record
  SetLe32(tree, 0x3C, 0x80000000);
  SetLe32(tree, 0x3C + 4, static_cast<uint32_t>(tree.size() - 0x3C));
  SetLe32(tree, 0x3C + 8, 0xFFFFFFFF);
  block.replace(0, 4, "RGDB");
  SetLe32(block, 4, static_cast<uint32_t>(block.size()));
  SetLe32(block, 8, static_cast<uint32_t>(block.size() - 32));
  SetLe16(block, 12, 0x8);
  SetLe32(block, 16, 32);
  SetLe32(block, 32, static_cast<uint32_t>(block.size() - 32));
  SetLe32(block, 36, 0xFFFFFFFF);  // id and block of a free record
  SetLe32(block, 40, 0xFFFFFFFF);
  head.replace(0, 4, "CREG");
  SetLe32(head, 4, 0x10000);
  SetLe32(head, 8, static_cast<uint32_t>(0x20 + tree.size()));
  SetLe16(head, 16, 1);
  SetLe16(head, 18, 0x20);
  return head + tree + block;
}

}  // namespace regtest
