// Key paths read one after the other reuse the parts they share with the
// path before: each must read exactly as it reads alone, in every
// encoding, and the keys a load makes of them must be the same.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "host/formats/reg/key_line.h"
#include "host/formats/reg/reg_text.h"
#include "support/loaded.h"
#include "test_support.h"

namespace {

using hostreg::Encoding;
using hostreg::KeyPath;
using hostreg::KeyRoot;
using hostreg::RegText;

// Each path, read right after the one above it.
const std::vector<std::string> kPaths = {
    "HKEY_LOCAL_MACHINE\\Software\\Vendor\\Product",
    "HKEY_LOCAL_MACHINE\\Software\\Vendor\\Product\\Setting",
    "HKEY_LOCAL_MACHINE\\Software\\Vendor\\Product\\Setting2",
    "HKEY_LOCAL_MACHINE\\Software\\Vendor\\Prod",
    "HKEY_LOCAL_MACHINE\\Software\\Vendor\\Prod",  // the same again
    "HKEY_LOCAL_MACHINE\\Software\\Vendor\\Prod\\\\Doubled\\",
    "HKEY_LOCAL_MACHINE\\Software\\Vendor\\Prod\\\\Doubled\\\\X",
    "HKEY_LOCAL_MACHINE\\Software\\Vendor",
    "HKEY_LOCAL_MACHINE\\Software\\Vendor\\",
    "HKEY_LOCAL_MACHINE\\Software\\VENDOR\\Product",  // spelt otherwise
    "HKEY_LOCAL_MACHINE",
    "HKEY_LOCAL_MACHINE\\A",
    "HKEY_LOCAL_MACHINE\\\\A",  // a separator behind the root: refused
    "HKEY_LOCAL_MACHINE\\A\\B",
    "HKEY_LOCAL_MACHINES\\A\\B",  // an unknown root
    "HKEY_LOCAL_MACHINE\\A\\B\\" + std::string(256, 'n'),  // too long
    "HKEY_LOCAL_MACHINE\\A\\B\\" + std::string(255, 'n'),
    "HKEY_LOCAL_MACHINE\\A\\B\\" + std::string(255, 'n') + "\\C",
    "HKEY_CURRENT_USER\\A\\B",
    "HKEY_CURRENT_USER\\A\\B\\Caf\xc3\xa9",
    "HKEY_CURRENT_USER\\A\\B\\Caf\xc3\xa9\\More",
};

// The paths one a line in `encoding`; sets where each starts and ends.
std::shared_ptr<RegText> Text(Encoding encoding,
                              std::vector<std::pair<size_t, size_t>>& spans) {
  std::string bytes = encoding == Encoding::kUtf8 ? "\xEF\xBB\xBF" : "";
  const size_t bom = bytes.size();
  if (encoding == Encoding::kUtf16) bytes = "\xFF\xFE";
  size_t unit = 0;
  spans.clear();
  for (const std::string& path : kPaths) {
    std::string line = path + "\n";
    if (encoding == Encoding::kAnsi) {
      // The one UTF-8 character as its 1252 byte.
      for (size_t at; (at = line.find("\xc3\xa9")) != std::string::npos;)
        line.replace(at, 2, "\xe9");
    }
    const size_t units = line.size();
    spans.emplace_back(unit, unit + units - 1);
    for (char c : line) {
      bytes += c;
      if (encoding == Encoding::kUtf16) bytes += '\0';
    }
    unit += units;
  }
  return std::make_shared<RegText>(
      std::make_shared<const hostreg::FileBytes>(bytes), encoding,
      encoding == Encoding::kUtf16 ? 2 : bom);
}

TEST(KeyPathReader, EachPathReadsAsItReadsAlone) {
  for (Encoding encoding : {Encoding::kAnsi, Encoding::kUtf8, Encoding::kUtf16}) {
    SCOPED_TRACE(static_cast<int>(encoding));
    std::vector<std::pair<size_t, size_t>> spans;
    const std::shared_ptr<RegText> text = Text(encoding, spans);
    hostreg::KeyPathReader reader(*text);
    KeyPath path;
    size_t sharedOnce = 0;
    for (size_t i = 0; i < spans.size(); ++i) {
      SCOPED_TRACE(kPaths[i].substr(0, 60));
      KeyRoot root = KeyRoot::kDynData, aloneRoot = KeyRoot::kDynData;
      KeyPath alone;
      const char* why = reader.Read(spans[i].first, spans[i].second, root, path);
      const char* aloneWhy = hostreg::ParseKeyPath(
          *text, spans[i].first, spans[i].second, aloneRoot, alone);
      EXPECT_EQ(aloneWhy == nullptr ? "" : aloneWhy, why == nullptr ? "" : why);
      if (why != nullptr) continue;
      EXPECT_EQ(aloneRoot, root);
      EXPECT_EQ(alone.parts, path.parts);
      EXPECT_LE(path.shared, path.size());
      if (path.shared > 0) ++sharedOnce;
    }
    // Most lines shared something with the line before.
    EXPECT_GE(sharedOnce, 10u);
  }
}

// Keys made from paths in an export's order, with lines that share
// stretches with the line before in every way, are the keys each path
// names on its own.
TEST(KeyPathReader, LoadMakesTheKeysEachLineNames) {
  std::string body;
  for (const std::string& path : kPaths)
    body += "[" + path + "]\r\n\"Line\"=\"" + std::to_string(body.size()) +
            "\"\r\n";
  const std::string file = regtest::Reg(body);
  auto loaded = regtest::Load(file);
  ASSERT_TRUE(loaded->file) << loaded->error;
  size_t keys = 0;
  const regtest::Flat flat = regtest::Flatten(loaded->registry, &keys);
  const std::vector<std::string> expected = {
      "Software\\Vendor\\Product|Line",
      "Software\\Vendor\\Product\\Setting|Line",
      "Software\\Vendor\\Product\\Setting2|Line",
      "Software\\Vendor\\Prod|Line",
      "Software\\Vendor\\Prod\\Doubled|Line",
      "Software\\Vendor\\Prod\\Doubled\\X|Line",
      "Software\\Vendor|Line",
      "|Line",
      "A|Line",
      "A\\B|Line",
      "A\\B\\" + std::string(255, 'n') + "|Line",
      "A\\B\\" + std::string(255, 'n') + "\\C|Line",
  };
  for (const std::string& name : expected) EXPECT_EQ(1u, flat.count(name)) << name;
  EXPECT_EQ(expected.size(), flat.size());
  // The root and the keys above: Software, Vendor, Product, Setting,
  // Setting2, Prod, Doubled, X, A, B, the long one, C.
  EXPECT_EQ(13u, keys);
}

}  // namespace
