// Tests of the field reader: the listed edge cases, its consequences for
// texts with k separators, trimming, multi-character and empty separators,
// and a comparison with a plain split over random texts.
#include "scores/fields/get_field.h"

#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <string>
#include <vector>

namespace scores {
namespace {

TEST(GetField, ListedEdgeCases) {
    EXPECT_EQ(GetField("a|b", "|", 2), "b");
    EXPECT_EQ(GetField("a|b", "|", 3), "-+-");
    EXPECT_EQ(GetField("a||b", "|", 2), "");
    EXPECT_EQ(GetField("a||b", "|", 3), "b");
    EXPECT_EQ(GetField("abc", "|", 2), "abc");
    EXPECT_EQ(GetField("", "|", 1), "");
    EXPECT_EQ(GetField("", "|", 2), "");
    EXPECT_EQ(GetField("", "|", 3), "-+-");
    EXPECT_EQ(GetField("key=:=value", ":=", 2), "value");
}

TEST(GetField, TextWithoutSeparator) {
    EXPECT_EQ(GetField("abc", "|", 1), "abc");
    EXPECT_EQ(GetField("abc", "|", 3), "-+-");
    EXPECT_EQ(GetField("ESS", "=", 2), "ESS");
}

TEST(GetField, FieldsOfTextWithSeparators) {
    EXPECT_EQ(GetField("a|b|c", "|", 1), "a");
    EXPECT_EQ(GetField("a|b|c", "|", 3), "c");
    EXPECT_EQ(GetField("a|b|c", "|", 4), "-+-");
    EXPECT_EQ(GetField("|", "|", 1), "");
    EXPECT_EQ(GetField("|", "|", 2), "");
    EXPECT_EQ(GetField("|", "|", 3), "-+-");
    EXPECT_EQ(GetField("a|", "|", 2), "");
    EXPECT_EQ(GetField("|a", "|", 1), "");
    EXPECT_EQ(GetField("|a", "|", 2), "a");
    EXPECT_EQ(GetField("x=1=2", "=", 2), "1");
}

TEST(GetField, OnlyWholeTextIsTrimmed) {
    EXPECT_EQ(GetField("  Width = 800 \r\t", "=", 1), "Width ");
    EXPECT_EQ(GetField("  Width = 800 \r\t", "=", 2), " 800");
    EXPECT_EQ(GetField(std::string("\x01\x20"
                                   "a | b\x00",
                                   7),
                       "|", 2),
              " b");
    // Codes above 127 are not white space.
    EXPECT_EQ(GetField("\xA0"
                       "a\xA0",
                       "|", 1),
              "\xA0"
              "a\xA0");
}

TEST(GetField, MultiCharacterSeparator) {
    const std::string sep = ")~&+\xA7!R52nV8^";
    const std::string text = "1|a|2" + sep + "3|4";
    EXPECT_EQ(GetField(text, sep, 1), "1|a|2");
    EXPECT_EQ(GetField(text, sep, 2), "3|4");
    EXPECT_EQ(GetField(text, sep, 3), "-+-");
    // Occurrences do not overlap.
    EXPECT_EQ(GetField("aaaaa", "aa", 2), "");
    EXPECT_EQ(GetField("aaaaa", "aa", 3), "a");
    EXPECT_EQ(GetField("aaaaa", "aa", 4), "-+-");
}

TEST(GetField, OddArguments) {
    // An empty separator is found everywhere with length 0: every field is empty.
    EXPECT_EQ(GetField("abc", "", 1), "");
    EXPECT_EQ(GetField("abc", "", 5), "");
    EXPECT_EQ(GetField("abc", "", INT_MAX), "");
    // n below 1 reads as field 1; a huge n is answered at once.
    EXPECT_EQ(GetField("a|b", "|", 0), "a");
    EXPECT_EQ(GetField("a|b", "|", -3), "a");
    EXPECT_EQ(GetField("a|b", "|", INT_MAX), "-+-");
    EXPECT_EQ(GetField("abc", "|", INT_MAX), "-+-");
}

// A plain split of the trimmed text, as the consequences describe it.
std::string ReferenceField(const std::string& raw, const std::string& sep, int n) {
    size_t b = 0, e = raw.size();
    while (b < e && static_cast<unsigned char>(raw[b]) <= 32) ++b;
    while (e > b && static_cast<unsigned char>(raw[e - 1]) <= 32) --e;
    const std::string text = raw.substr(b, e - b);
    std::vector<std::string> fields;
    size_t start = 0;
    while (true) {
        size_t p = text.find(sep, start);
        if (p == std::string::npos) break;
        fields.push_back(text.substr(start, p - start));
        start = p + sep.size();
    }
    fields.push_back(text.substr(start));
    if (fields.size() == 1) fields.push_back(text);  // no separator: field 2 is the text
    if (n > static_cast<int>(fields.size())) return "-+-";
    return fields[static_cast<size_t>(n - 1)];
}

TEST(GetField, AgreesWithPlainSplit) {
    std::mt19937 rng(1);
    const char alphabet[] = {'a', '|', ' ', '=', ',', '\t', 'b'};
    std::uniform_int_distribution<int> len(0, 12);
    std::uniform_int_distribution<int> pick(0, sizeof alphabet - 1);
    const std::vector<std::string> seps = {"|", "=", "||", "a|", " "};
    for (int round = 0; round < 5000; ++round) {
        std::string text(static_cast<size_t>(len(rng)), ' ');
        for (char& c : text) c = alphabet[pick(rng)];
        for (const std::string& sep : seps) {
            for (int n = 1; n <= 8; ++n) {
                ASSERT_EQ(GetField(text, sep, n), ReferenceField(text, sep, n))
                    << "text '" << text << "' sep '" << sep << "' n " << n;
            }
        }
    }
}

}  // namespace
}  // namespace scores
