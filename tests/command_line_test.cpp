// The start-up's rule for where the program's name ends and the tail begins.
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "core/front/front.h"

namespace {

struct NameCase {
  const char* what;
  std::string line;  // the whole command line
  std::string tail;  // what WinMain gets
};

void PrintTo(const NameCase& c, std::ostream* out) { *out << c.what; }

class SkipProgramNameTest : public testing::TestWithParam<NameCase> {};

TEST_P(SkipProgramNameTest, LeavesTheTail) {
  const NameCase& c = GetParam();
  std::vector<char> line(c.line.begin(), c.line.end());
  line.push_back('\0');
  LPSTR tail = SkipProgramName(line.data());
  // The tail is a pointer into the same writable buffer, not a copy.
  ASSERT_GE(tail, line.data());
  ASSERT_LT(tail, line.data() + line.size());
  EXPECT_EQ(c.tail, std::string(tail));
}

const NameCase kNameCases[] = {
    // Unquoted names end at the first byte of code 32 or below.
    {"unquoted", "regswitch /DMA:1", "/DMA:1"},
    {"unquoted path", "C:\\TOOLS\\REGSWI~1.EXE /SSP:1 -cdp:0",
     "/SSP:1 -cdp:0"},
    {"unquoted, tab", "regswitch\t/DMA:1", "/DMA:1"},
    {"unquoted, control byte", "regswitch\x01/DMA:1", "/DMA:1"},
    {"unquoted, only a name", "regswitch", ""},
    {"unquoted, blanks only behind", "regswitch  \t ", ""},
    {"unquoted, quote inside", "reg\"sw itch\" /DMA:1", "itch\" /DMA:1"},
    {"bytes above 127 stay in the name", "r\xe9gswitch\xa0x /?", "/?"},
    // Quoted names run to the next quote, blanks and all.
    {"quoted with blanks", "\"C:\\Program Files\\regswitch.exe\" /DMA:1",
     "/DMA:1"},
    {"quoted, no blank behind", "\"regswitch\"/DMA:1", "/DMA:1"},
    {"quoted, tabs and spaces behind", "\"a b\" \t \t/? x", "/? x"},
    {"quoted, no tail", "\"C:\\Program Files\\regswitch.exe\"", ""},
    {"quoted, empty name", "\"\" /H", "/H"},
    {"quoted, tab inside the name", "\"a\tb\" -H", "-H"},
    {"unterminated quote takes the whole line", "\"C:\\a b\\regswitch /DMA:1",
     ""},
    {"only a quote", "\"", ""},
    // Blanks inside the tail and behind it stay.
    {"tail keeps its own spacing", "x  /A  \"b c\"  ", "/A  \"b c\"  "},
    {"empty command line", "", ""},
};

INSTANTIATE_TEST_SUITE_P(Cases, SkipProgramNameTest,
                         testing::ValuesIn(kNameCases),
                         [](const testing::TestParamInfo<NameCase>& info) {
                           std::string name;
                           for (const char* p = info.param.what; *p; ++p)
                             name += std::isalnum(static_cast<unsigned char>(*p))
                                         ? *p
                                         : '_';
                           return name + "_" + std::to_string(info.index);
                         });

}  // namespace
