// Text helpers: 1-based positions, truncation, number parsing and the
// one-byte-per-character representation.
#include "engine/media/text.h"

#include <gtest/gtest.h>

namespace {

using namespace media;

TEST(TextSlicing, LeftRightMidEdges) {
    EXPECT_EQ(Mid("abc", 4, 1), "");
    EXPECT_EQ(Mid("abc", 0, 2), "a");
    EXPECT_EQ(Mid("abc", -1, 3), "a");
    EXPECT_EQ(Mid("abc", 2), "bc");
    EXPECT_EQ(Mid("abc", 0), "abc");
    EXPECT_EQ(Mid("abc", 2, 0), "");
    EXPECT_EQ(Mid("abcdef", 3, 2), "cd");
    EXPECT_EQ(Right("abc", 5), "abc");
    EXPECT_EQ(Right("abc", 2), "bc");
    EXPECT_EQ(Right("abc", 0), "");
    EXPECT_EQ(Left("abc", 5), "abc");
    EXPECT_EQ(Left("abc", -1), "");
    EXPECT_EQ(Right("0000000000" + Str(1234), 10), "0000001234");
}

TEST(TextSearch, InstrAndReplace) {
    EXPECT_EQ(Instr("a|b|c", "|"), 2);
    EXPECT_EQ(Instr("a|b|c", "|", 3), 4);
    EXPECT_EQ(Instr("a|b|c", "|", 5), 0);
    EXPECT_EQ(Instr("abc", "x"), 0);
    EXPECT_EQ(Instr("abc", "c", 10), 0);
    EXPECT_EQ(Replace("a*b*c", "*", "_"), "a_b_c");
    EXPECT_EQ(Replace("aaaa", "aa", "b"), "bb");
    EXPECT_EQ(Replace("abc", "", "x"), "abc");
    EXPECT_EQ(Replace("x.y", ".", ""), "xy");
}

TEST(TextCase, TrimUpperLowerIncludingLatin1) {
    EXPECT_EQ(Trim("  \t a b \r\n"), "a b");
    EXPECT_EQ(Trim(std::string("\x01x\x20", 3)), "x");
    EXPECT_EQ(Trim(""), "");
    EXPECT_EQ(Upper("openal Default"), "OPENAL DEFAULT");
    EXPECT_EQ(Upper("\xE9t\xE9"), "\xC9T\xC9");  // accented e
    EXPECT_EQ(Lower("\xC0Z"), "\xE0z");
    EXPECT_EQ(Upper("\xF7\xFF"), "\xF7\xFF");  // division sign and y-diaeresis stay
    EXPECT_EQ(Lower("\xD7"), "\xD7");          // multiplication sign stays
}

TEST(TextNumbers, ToIntPrefixesSignsAndJunk) {
    EXPECT_EQ(ToInt("  42xyz"), 42);
    EXPECT_EQ(ToInt("-30"), -30);
    EXPECT_EQ(ToInt("+7"), 7);
    EXPECT_EQ(ToInt("$ff"), 255);
    EXPECT_EQ(ToInt("$FF"), 255);
    EXPECT_EQ(ToInt("%101"), 5);
    EXPECT_EQ(ToInt("-$10"), -16);
    EXPECT_EQ(ToInt("abc"), 0);
    EXPECT_EQ(ToInt(""), 0);
    EXPECT_EQ(ToInt("12 34"), 12);
    EXPECT_EQ(ToInt("%12"), 1);  // a 2 is not a binary digit
    EXPECT_EQ(ToLong("20261208130509"), 20261208130509LL);
    EXPECT_EQ(ToLong("-9"), -9);
    EXPECT_EQ(Str(-12), "-12");
    EXPECT_EQ(Str(0), "0");
}

TEST(TextNumbers, TruncationTowardZero) {
    EXPECT_EQ(TruncToInt(-2.7), -2);
    EXPECT_EQ(TruncToInt(2.7), 2);
    EXPECT_EQ(TruncToInt(-0.5), 0);
    EXPECT_EQ(TruncToInt(1e20), 2147483647);
    EXPECT_EQ(TruncToInt(-1e20), -2147483647 - 1);
    EXPECT_EQ(TruncToInt64(-3.9), -3);
}

TEST(TextCodes, ChrAscHexAndUtf8) {
    EXPECT_EQ(Chr(65), "A");
    EXPECT_EQ(Asc(Chr(167)), 167);
    EXPECT_EQ(Asc(""), -1);
    EXPECT_EQ(Asc("\xFF"), 255);
    EXPECT_EQ(Hex(255), "000000FF");
    EXPECT_EQ(Hex(-1), "FFFFFFFF");
    EXPECT_EQ(Right(Hex(0xA7), 2), "A7");
    EXPECT_EQ(ToUtf8("a\xA7"), "a\xC2\xA7");
    EXPECT_EQ(ToUtf8("\xFF"), "\xC3\xBF");
}

TEST(TextJson, PathsKeepValidUtf8AndReadAnythingElseAsLatin1) {
    struct Case {
        const char* path;
        bool utf8;
    };
    const Case cases[] = {
        {"/tmp/caf\xC3\xA9", true},       {"/tmp/\xF0\x9F\x98\x80", true},
        {"/tmp/caf\xE9", false},          {"/tmp/\xC3", false},  // cut short
        {"/tmp/\xC0\xAF", false},                                // overlong "/"
        {"/tmp/\xED\xA0\x80", false},                            // a surrogate
        {"/tmp/\xF4\x90\x80\x80", false},                        // above U+10FFFF
    };
    for (const Case& c : cases) {
        std::string json;
        AppendJsonString(json, c.path, JsonBytes::kPath);
        EXPECT_EQ(json, "\"" + (c.utf8 ? std::string(c.path) : ToUtf8(c.path)) + "\"") << c.path;
    }
    std::string names;
    AppendJsonString(names, "caf\xC3\xA9\t\"\\");  // names are always ISO 8859-1
    EXPECT_EQ(names, "\"caf\xC3\x83\xC2\xA9\\t\\\"\\\\\"");
}

}  // namespace
