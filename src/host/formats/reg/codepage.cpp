#include "host/formats/reg/codepage.h"

#include <cstdio>
#include <cstring>

#include "host/formats/reg/syntax.h"
#include "host/registry/names.h"

namespace hostreg {

namespace {

// Code page 1252's bytes 0x80..0x9F. The five it leaves undefined map onto
// the same C1 controls, as Windows maps them.
const uint16_t kHigh1252[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

uint16_t UnitOf1252(unsigned char byte) {
  return byte >= 0x80 && byte < 0xA0 ? kHigh1252[byte - 0x80] : byte;
}

int ByteOf1252(uint16_t unit) {
  if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) return unit;
  for (int i = 0; i < 32; ++i)
    if (kHigh1252[i] == unit) return 0x80 + i;
  return -1;
}

void AppendUnit(std::string& out, uint16_t unit) {
  out += static_cast<char>(unit & 0xFF);
  out += static_cast<char>(unit >> 8);
}

namespace {

// The length of the UTF-8 sequence led by `lead` and its first bits; 0 for
// a byte that leads none.
size_t SequenceLength(unsigned char lead, uint32_t& cp) {
  if (lead < 0x80) { cp = lead; return 1; }
  if (lead >= 0xC2 && lead < 0xE0) { cp = lead & 0x1F; return 2; }
  if (lead >= 0xE0 && lead < 0xF0) { cp = lead & 0x0F; return 3; }
  if (lead >= 0xF0 && lead < 0xF5) { cp = lead & 0x07; return 4; }
  return 0;
}

}  // namespace

void AppendUtf8Units(const unsigned char* p, size_t count,
                     std::vector<uint16_t>& units) {
  for (size_t i = 0; i < count;) {
    uint32_t cp;
    size_t n = SequenceLength(p[i], cp);
    bool ok = n > 0 && i + n <= count;
    for (size_t k = 1; ok && k < n; ++k) {
      ok = (p[i + k] & 0xC0) == 0x80;
      cp = cp << 6 | (p[i + k] & 0x3F);
    }
    const uint32_t least[5] = {0, 0, 0x80, 0x800, 0x10000};
    ok = ok && cp >= least[n] && cp < 0x110000 && (cp < 0xD800 || cp > 0xDFFF);
    if (!ok) {
      units.push_back(0xFFFD);
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      units.push_back(static_cast<uint16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      units.push_back(static_cast<uint16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      units.push_back(static_cast<uint16_t>(cp));
    }
    i += n;
  }
}

void AppendForeign(std::string& out, uint16_t unit) {
  char digits[8];
  std::snprintf(digits, sizeof digits, "%04X", unit);
  out += kForeignMark;
  out += digits;
}

std::vector<uint16_t> UnitsOf(const std::string& text) {
  std::vector<uint16_t> units;
  units.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t unit = 0;
    bool foreign = text[i] == kForeignMark && i + kForeignLength <= text.size();
    for (size_t k = 1; foreign && k < kForeignLength; ++k) {
      const int digit = HexDigit(static_cast<unsigned char>(text[i + k]));
      foreign = digit >= 0;
      unit = unit * 16 + static_cast<uint32_t>(digit);
    }
    if (foreign) {
      units.push_back(static_cast<uint16_t>(unit));
      i += kForeignLength - 1;
    } else {
      units.push_back(UnitOf1252(static_cast<unsigned char>(text[i])));
    }
  }
  return units;
}

std::string Utf16Bytes(const std::string& text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (uint16_t unit : UnitsOf(text)) AppendUnit(out, unit);
  return out;
}

std::string Utf16OfData(const std::string& data) {
  std::string out;
  out.reserve(data.size() * 2);
  for (char c : data) AppendUnit(out, UnitOf1252(static_cast<unsigned char>(c)));
  return out;
}

std::string Utf8Of(const std::vector<uint16_t>& units) {
  std::string out;
  for (size_t i = 0; i < units.size(); ++i) {
    uint32_t cp = units[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < units.size() &&
        units[i + 1] >= 0xDC00 && units[i + 1] < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (units[++i] - 0xDC00);
    } else if (cp >= 0xD800 && cp < 0xE000) {
      cp = 0xFFFD;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

std::string AnsiOfUtf16(const std::string& bytes, bool* exact) {
  std::string out;
  out.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const int byte = ByteOf1252(ReadUnit(bytes.data() + i));
    out += byte < 0 ? '?' : static_cast<char>(byte);
    if (byte < 0 && exact != nullptr) *exact = false;
  }
  return out;
}

bool HasLoneSurrogate(const std::string& name) {
  const std::vector<uint16_t> units = UnitsOf(name);
  for (size_t i = 0; i < units.size(); ++i) {
    const bool high = units[i] >= 0xD800 && units[i] < 0xDC00;
    const bool low = units[i] >= 0xDC00 && units[i] < 0xE000;
    if (high && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] < 0xE000) {
      ++i;  // a pair
      continue;
    }
    if (high || low) return true;
  }
  return false;
}

}  // namespace hostreg
