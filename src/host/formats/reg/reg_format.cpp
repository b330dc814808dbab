#include "host/formats/reg/reg_format.h"

#include "host/formats/file_kind.h"

#include "host/formats/reg/codepage.h"
#include "host/formats/reg/decode.h"
#include "host/formats/reg/index.h"
#include "host/formats/reg/line_reader.h"
#include "host/formats/reg/render.h"
#include "host/formats/reg/splice.h"

namespace hostreg {

namespace {

class RegFile : public RegistryFile {
 public:
  RegFile(std::shared_ptr<const RegText> text,
          std::shared_ptr<const RegIndex> index, std::string header,
          bool imported, std::string eol, std::vector<std::string> warnings)
      : text_(std::move(text)),
        index_(std::move(index)),
        header_(std::move(header)),
        imported_(imported),
        eol_(std::move(eol)),
        warnings_(std::move(warnings)) {}

  bool Render(const Registry& registry, const ChangeSet& changes,
              Rendering& out, std::string& error) const override {
    error = SaveRefusal(registry, changes);
    if (!error.empty()) return false;
    SpliceChanges(*text_, *index_, registry, changes, eol_, out);
    return true;
  }
  // Windows imports nothing from a file under a header it only half takes,
  // so a change written into it would never reach a registry. Data that
  // lost a character to '?' would be saved so; an 8-bit file has no bytes
  // for a name's characters outside code page 1252, nor UTF-8 for half a
  // surrogate pair.
  std::string SaveRefusal(const Registry& registry,
                          const ChangeSet& changes) const override {
    if (!imported_ && !changes.empty())
      return "Windows' importer imports nothing from this file (its first "
             "line is \"" + header_ + "\"), so no change can be saved in it";
    std::string why = LossyDataRefusal(registry, changes);
    if (!why.empty()) return why;
    if (text_->encoding() == Encoding::kAnsi)
      return ForeignNameRefusal(registry, changes);
    if (text_->encoding() == Encoding::kUtf8)
      return NameRefusal(registry, changes, HasLoneSurrogate,
                         "holds half a UTF-16 surrogate pair, which UTF-8 "
                         "cannot hold");
    return std::string();
  }
  // The fragment is in the file's encoding, but UTF-8 for a UTF-16 file,
  // so that it reads on a terminal and in a review; `iconv -f UTF-8 -t
  // UTF-16` makes it importable again.
  std::string DescribeChanges(const Registry& registry,
                              const ChangeSet& changes) const override {
    const std::string out =
        FormatChanges(registry, changes, header_, eol_, text_->WideStrings());
    return text_->WideStrings() ? Utf8Of(UnitsOf(out)) : out;
  }
  const std::vector<std::string>& Warnings() const override {
    return warnings_;
  }

 private:
  std::shared_ptr<const RegText> text_;
  std::shared_ptr<const RegIndex> index_;
  std::string header_;  // REGEDIT4 or the Version 5.00 line, for fragments
  bool imported_;       // false: the header makes the importer skip it all
  std::string eol_;     // the header line's ending, used for new lines
  std::vector<std::string> warnings_;
};

// The editor reads UTF-16LE after its byte-order mark and 8-bit text
// otherwise; Windows reads UTF-8 after its mark. Sets the encoding and the
// mark's size; false and the reason for what no editor reads.
bool CheckEncoding(std::string_view bytes, Encoding& encoding, size_t& bom,
                   std::string& why) {
  const auto byte = [&](size_t i) {
    return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0x100;
  };
  encoding = Encoding::kAnsi;
  bom = 0;
  if (byte(0) == 0xFF && byte(1) == 0xFE) {
    encoding = Encoding::kUtf16;
    bom = 2;
  } else if (byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF) {
    encoding = Encoding::kUtf8;
    bom = 3;
  } else if (byte(0) == 0xFE && byte(1) == 0xFF) {
    why = "big-endian UTF-16, which the registry editor does not read; save "
          "it as UTF-16LE";
  } else if (byte(0) < 0x80 && byte(1) == 0) {
    why = "UTF-16 without its byte-order mark (FF FE), which the registry "
          "editor does not read";
  } else if (bytes.size() < 2) {
    why = std::string(bytes.empty() ? "the file is empty" : "one byte") +
          "; a registry export starts with the line REGEDIT4 or " +
          kVersion5Header;
  }
  return why.empty();
}

enum class Header { kImported, kNothingImported, kRefused };

// The header as the editor reads it: blanks, then exactly REGEDIT4 or the
// Version 5.00 line. Other headers that start with REGEDIT are taken, but
// nothing in their files is imported.
Header ReadHeader(const RegText& text, const Line& line, std::string& header) {
  size_t at = line.begin;
  while (at < line.textEnd && (text.UnitAt(at) == ' ' || text.UnitAt(at) == '\t'))
    ++at;
  header.clear();
  for (size_t i = at; i < line.textEnd; ++i) {
    const uint16_t u = text.UnitAt(i);
    header += u < 0x80 ? static_cast<char>(u) : '?';
  }
  if (header == kRegedit4Header || header == kVersion5Header)
    return Header::kImported;
  return header.compare(0, 7, "REGEDIT") == 0 ? Header::kNothingImported
                                              : Header::kRefused;
}

}  // namespace

std::shared_ptr<RegText> OpenRegText(const std::string& name,
                                     std::shared_ptr<const FileBytes> bytes,
                                     RegHead& head, SkipNotes& notes,
                                     std::string& error) {
  auto fail = [&](size_t line, const std::string& why) {
    error = name + ":" + std::to_string(line) + ": " + why;
    return nullptr;
  };
  // A disk image or another kind of file is named for what it is.
  const std::string foreign = ForeignKind(bytes->View().substr(0, 8192));
  if (!foreign.empty()) {
    error = name + ": " + foreign;
    return nullptr;
  }
  Encoding encoding;
  size_t bom;
  std::string why;
  if (!CheckEncoding(bytes->View(), encoding, bom, why)) return fail(1, why);
  const size_t size = bytes->View().size();
  auto text = std::make_shared<RegText>(std::move(bytes), encoding, bom);
  Line first;
  text->Visit([&](auto u) { return LineReader<decltype(u)>(u).Next(first); });
  if (const size_t nul = FindNul(*text, 0, first.end); nul != kNoSection) {
    error = NulError(name, *text, nul);
    return nullptr;
  }
  const Header kind = ReadHeader(*text, first, head.header);
  if (kind == Header::kRefused)
    return fail(1, "not a registry export: the first line must be REGEDIT4 "
                   "or " + std::string(kVersion5Header));
  if (text->utf16() && size % 2 != 0)
    notes.Add(1, "the file's last byte, half a UTF-16 character");
  head.imported = kind == Header::kImported;
  // A file of the header line alone gets new lines ended as Windows ends them.
  head.eol = EndingBefore(*text, first.end);
  if (head.eol.empty()) head.eol = "\r\n";
  head.bodyStart = first.end;
  if (!head.imported)
    notes.Add(1, "every line, under the header \"" + head.header +
                     "\", which is not REGEDIT4 or " + kVersion5Header);
  return text;
}

std::unique_ptr<RegistryFile> LoadRegExport(
    const std::string& name, std::shared_ptr<const FileBytes> bytes,
    Registry& registry, std::string& error) {
  SkipNotes warnings(name);
  RegHead head;
  std::shared_ptr<RegText> text =
      OpenRegText(name, std::move(bytes), head, warnings, error);
  if (!text) return nullptr;
  auto index = std::make_shared<RegIndex>();
  registry.SetSource(std::make_shared<RegSource>(text, index));
  const size_t nul =
      head.imported
          ? IndexRegText(*text, head.bodyStart, registry.keys(), *index,
                         warnings)
          : FindNul(*text, 0, text->size());
  if (nul != kNoSection) {
    error = NulError(name, *text, nul);
    return nullptr;
  }
  registry.MarkLoaded();
  return std::make_unique<RegFile>(text, index, head.header, head.imported,
                                   head.eol, warnings.Lines());
}

}  // namespace hostreg
