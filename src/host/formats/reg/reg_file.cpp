#include "host/formats/reg/reg_file.h"

#include <algorithm>

#include "host/formats/reg/codepage.h"
#include "host/formats/reg/decode.h"
#include "host/formats/reg/reg_loader.h"
#include "host/formats/reg/reg_text.h"
#include "host/formats/reg/render.h"
#include "host/formats/reg/splice.h"
#include "host/formats/reg/text.h"

namespace hostreg {

namespace {

class RegFile : public RegistryFile {
 public:
  RegFile(std::shared_ptr<const RegText> text, std::string eol)
      : text_(std::move(text)), eol_(std::move(eol)) {}

  bool Render(const Registry& registry, Rendering& out,
              std::string&) const override {
    SpliceChanges(*text_, registry, eol_, out);
    return true;
  }
  // A Version 5.00 file's fragment is UTF-8, so that it reads on a
  // terminal and in a review; `iconv -f UTF-8 -t UTF-16` makes it
  // importable again.
  std::string DescribeChanges(const Registry& registry) const override {
    const bool utf16 = text_->utf16();
    const std::string out = FormatChanges(
        registry, utf16 ? kVersion5Header : kRegedit4Header, eol_, utf16);
    return utf16 ? Utf8Of(UnitsOf(out)) : out;
  }
  const FileBytes* Source() const override { return text_->Bytes(); }

 private:
  std::shared_ptr<const RegText> text_;
  std::string eol_;  // the header line's ending, used for new lines
};

size_t CountLines(std::string_view text) {
  return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
}

// The encodings regedit writes: 8-bit REGEDIT4, and UTF-16LE with its
// byte-order mark. Sets `utf16`; false and the reason for anything else.
bool CheckEncoding(std::string_view contents, bool& utf16, std::string& why) {
  const auto byte = [&](size_t i) {
    return static_cast<unsigned char>(contents[i]);
  };
  if (contents.empty()) {
    why = "the file is empty; a registry export starts with the line "
          "REGEDIT4 or " + std::string(kVersion5Header);
    return false;
  }
  utf16 = contents.size() >= 2 && byte(0) == 0xFF && byte(1) == 0xFE;
  if (contents.size() >= 2 && byte(0) == 0xFE && byte(1) == 0xFF)
    why = "big-endian UTF-16 is not a registry export format; save it as "
          "UTF-16LE";
  else if (contents.size() >= 3 && byte(0) == 0xEF && byte(1) == 0xBB &&
           byte(2) == 0xBF)
    why = "a UTF-8 file; registry exports are REGEDIT4 (ANSI) or Version "
          "5.00 in UTF-16";
  else if (!utf16 && contents.size() >= 2 && byte(0) != 0 && byte(1) == 0)
    why = "UTF-16 without its byte-order mark (FF FE); an export in UTF-16 "
          "starts with one";
  return why.empty();
}

// The first line must be the format's header. Sets `eol` to its ending.
bool CheckHeader(std::string_view text, bool utf16, std::string& eol,
                 std::string& why) {
  const size_t nl = text.find('\n');
  size_t headerEnd = nl == std::string::npos ? text.size() : nl;
  if (headerEnd > 0 && text[headerEnd - 1] == '\r') --headerEnd;
  std::string header(text.substr(0, headerEnd));
  while (!header.empty() && IsBlank(header.back())) header.pop_back();
  const char* const wanted = utf16 ? kVersion5Header : kRegedit4Header;
  if (header != wanted) {
    if (!utf16 && header == kVersion5Header)
      why = "a Version 5.00 export must be UTF-16 with a byte-order mark, as "
            "regedit writes it";
    else
      why = std::string("not a registry export: the first line must be ") +
            wanted;
    return false;
  }
  eol = "\r\n";
  if (nl != std::string::npos)
    eol = nl > 0 && text[nl - 1] == '\r' ? "\r\n" : "\n";
  return true;
}

}  // namespace

std::unique_ptr<RegistryFile> LoadRegFile(
    const std::string& name, std::shared_ptr<const FileBytes> bytes,
    Registry& registry, std::string& error) {
  auto fail = [&](size_t line, const std::string& why) {
    error = name + ":" + std::to_string(line) + ": " + why;
    return nullptr;
  };
  bool utf16 = false;
  std::string why;
  if (!CheckEncoding(bytes->View(), utf16, why)) return fail(1, why);
  const size_t size = bytes->View().size();
  auto text = std::make_shared<RegText>(std::move(bytes), utf16);
  if (utf16 && size % 2 != 0)
    return fail(CountLines(text->Text()),
                "the file ends in the middle of a UTF-16 character");
  std::string eol;
  if (!CheckHeader(text->Text(), utf16, eol, why)) return fail(1, why);
  registry.SetSource(std::make_shared<RegSource>(text));
  if (!LoadRegLines(name, *text, registry.keys(), error)) return nullptr;
  return std::make_unique<RegFile>(text, eol);
}

}  // namespace hostreg
