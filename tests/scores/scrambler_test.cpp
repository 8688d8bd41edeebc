// Tests of the scrambler: round trips over every character code and key,
// output length and alphabet, tampering, short and malformed input, and
// vectors from an independent implementation of the line format.
#include "scores/scrambler.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "engine/identity.h"

namespace scores {
namespace {

std::string RandomText(std::mt19937& rng, int minLen, int maxLen) {
    std::uniform_int_distribution<int> len(minLen, maxLen);
    std::uniform_int_distribution<int> byte(0, 255);
    std::string s(static_cast<size_t>(len(rng)), '\0');
    for (char& c : s) c = static_cast<char>(byte(rng));
    return s;
}

bool IsUpperHex(const std::string& s) {
    for (char c : s) {
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
    }
    return true;
}

TEST(ScramblerRoundTrip, RandomTextsUnderRandomKeys) {
    std::mt19937 rng(20261208);
    for (int n = 0; n < 2000; ++n) {
        const std::string text = RandomText(rng, 1, n < 1000 ? 40 : 400);
        const std::string key = RandomText(rng, 1, 40);
        const std::string scrambled = Scramble(text, key);
        ASSERT_EQ(scrambled.size(), 2 * text.size() + 24);
        ASSERT_TRUE(IsUpperHex(scrambled));
        ASSERT_EQ(Unscramble(scrambled, key), text) << "case " << n;
    }
}

TEST(ScramblerRoundTrip, RandomTextsUnderDerivedKey) {
    std::mt19937 rng(7);
    const std::string derived = engine::DerivedKey();
    for (int n = 0; n < 1000; ++n) {
        const std::string text = RandomText(rng, 1, 300);
        const std::string scrambled = Scramble(text, "");
        // An empty key stands for the derived key, both ways.
        ASSERT_EQ(scrambled, Scramble(text, derived));
        ASSERT_EQ(Unscramble(scrambled, ""), text);
        ASSERT_EQ(Unscramble(scrambled, derived), text);
    }
}

TEST(ScramblerRoundTrip, EveryCharacterCodeAlone) {
    for (int c = 0; c < 256; ++c) {
        const std::string text(1, static_cast<char>(c));
        const std::string scrambled = Scramble(text, AccountKey);
        EXPECT_EQ(scrambled.size(), 26u);
        EXPECT_EQ(Unscramble(scrambled, AccountKey), text) << "code " << c;
    }
}

TEST(ScramblerRoundTrip, OneCharacterKeyAndLongText) {
    std::mt19937 rng(99);
    const std::string text = RandomText(rng, 5000, 5000);
    EXPECT_EQ(Unscramble(Scramble(text, "k"), "k"), text);
}

TEST(ScramblerRoundTrip, OtherKeyIsRejected) {
    const std::string scrambled = Scramble("12345|Player|0|1", "");
    EXPECT_EQ(Unscramble(scrambled, AccountKey), "XXX");
    EXPECT_EQ(Unscramble(scrambled, "another key"), "XXX");
}

// Lines written by an independent implementation of the file format.
TEST(ScramblerVectors, MatchIndependentImplementation) {
    EXPECT_EQ(Scramble("Ann|pw9", AccountKey), "1E4A554F5F50525F5D1768147E640804697B03");
    EXPECT_EQ(Scramble("|", AccountKey), "5324573877293C07617D00036C");
    EXPECT_EQ(Scramble("A", AccountKey), "4130303031393507617D020268");
    const std::string plain =
        "-20|Bob|0|65090476800|1|0|0|1)~&+\xA7!R52nV8^"
        "0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0";
    const std::string line =
        "3F1805312A034C533E5C66534254071C3B74502B3D5F565575735019B1334E1E38785C045664"
        "03277B4F412D690D5231683C6E2E6F343422253B6C42512C1E4A574A71250074546B00417245"
        "733D0A026A22601B7626760C746403277B4F412D380F1E7D5663706223787E63006D726476";
    EXPECT_EQ(Scramble(plain, ""), line);
    EXPECT_EQ(Unscramble(line, ""), plain);
    EXPECT_EQ(Unscramble("1E4A554F5F50525F5D1768147E640804697B03", AccountKey), "Ann|pw9");
}

TEST(ScramblerTamper, ChangedHexDigitIsRejected) {
    std::mt19937 rng(3);
    const char kDigits[] = "0123456789ABCDEF";
    int variants = 0;
    int passed = 0;
    for (int n = 0; n < 20; ++n) {
        const std::string text = RandomText(rng, 1, 30);
        const std::string scrambled = Scramble(text, "");
        for (size_t pos = 0; pos < scrambled.size(); ++pos) {
            for (char d : std::string(kDigits)) {
                if (d == scrambled[pos]) continue;
                std::string tampered = scrambled;
                tampered[pos] = d;
                const std::string out = Unscramble(tampered, "");
                ++variants;
                // A change that keeps both checksums equal can pass (a digit of
                // a check field that still reads as the same number, say).
                if (out != "XXX") {
                    ASSERT_EQ(out.size(), text.size());
                }
                if (out != "XXX") ++passed;
            }
        }
    }
    EXPECT_LT(passed * 100, variants) << passed << " of " << variants << " passed";
}

TEST(ScramblerTamper, LowerCaseDigitsAreNotHex) {
    // Only upper-case "A".."F" count as hexadecimal, so a lower-cased line differs.
    std::string line = Scramble("Player|secret", AccountKey);
    bool hasLetter = false;
    for (char& c : line) {
        if (c >= 'A' && c <= 'F') {
            c = static_cast<char>(c + 32);
            hasLetter = true;
        }
    }
    ASSERT_TRUE(hasLetter);
    EXPECT_EQ(Unscramble(line, AccountKey), "XXX");
}

// Texts too short to hold the two six-digit check fields are rejected, never read past.
TEST(ScramblerShortInput, TooShortTextsGiveXXX) {
    EXPECT_EQ(Unscramble("", ""), "XXX");
    EXPECT_EQ(Unscramble("", AccountKey), "XXX");
    EXPECT_EQ(Unscramble("A", ""), "XXX");
    for (int len = 2; len <= 25; ++len) {
        EXPECT_EQ(Unscramble(std::string(static_cast<size_t>(len), '0'), ""), "XXX") << len;
        EXPECT_EQ(Unscramble(std::string(static_cast<size_t>(len), 'F'), AccountKey), "XXX") << len;
    }
    // A valid line cut short by any number of characters.
    const std::string line = Scramble("x", "");
    for (size_t cut = 1; cut < line.size(); ++cut) {
        EXPECT_EQ(Unscramble(line.substr(0, line.size() - cut), ""), "XXX") << cut;
    }
}

TEST(ScramblerShortInput, EmptyTextScramblesAndIsRejected) {
    const std::string scrambled = Scramble("", AccountKey);
    EXPECT_EQ(scrambled.size(), 24u);
    EXPECT_EQ(Unscramble(scrambled, AccountKey), "XXX");
}

TEST(ScramblerShortInput, GarbageNeverCrashes) {
    std::mt19937 rng(11);
    for (int n = 0; n < 3000; ++n) {
        const std::string junk = RandomText(rng, 0, 80);
        const std::string out = Unscramble(junk, n % 2 ? "" : "Q");
        if (out != "XXX") {
            EXPECT_EQ(out.size(), junk.size() / 2 - 12);
        }
    }
}

TEST(ScramblerHelpers, HexPairValue) {
    EXPECT_EQ(HexPairValue("FF"), 255);
    EXPECT_EQ(HexPairValue("0A"), 10);
    EXPECT_EQ(HexPairValue("A0"), 160);
    EXPECT_EQ(HexPairValue("99"), 153);
    // Anything but a digit or "A".."F" counts as 0.
    EXPECT_EQ(HexPairValue("a1"), 1);
    EXPECT_EQ(HexPairValue("G2"), 2);
    EXPECT_EQ(HexPairValue("1 "), 16);
    EXPECT_EQ(HexPairValue(""), 0);
}

TEST(ScramblerHelpers, TextChecksum) {
    EXPECT_EQ(TextChecksum(""), 0);
    EXPECT_EQ(TextChecksum("A"), 65 * 3);
    EXPECT_EQ(TextChecksum("AB"), 65 * 3 + 66 * 6);
    // Stays below 4096 and uses codes above 127 unsigned.
    EXPECT_EQ(TextChecksum(std::string(1, '\xFF')), 255 * 3);
    EXPECT_EQ(TextChecksum(std::string(6, '\xFF')), (255 * 3 * 21) % 4096);
}

}  // namespace
}  // namespace scores
