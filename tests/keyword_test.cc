#include "dialect/keyword.h"

#include <gtest/gtest.h>

#include <string>

using namespace vbconv;

namespace {

struct Match {
    unsigned char result;
    int length;
};

Match scan(const std::string &text) {
    unsigned char r = sstrcmp(reinterpret_cast<const unsigned char *>(text.c_str()), keyword, 0, keyword_count);
    return {r, kwlen};
}

}  // namespace

TEST(KeywordTable, TokenBytesSpellTheirKeywords) {
    EXPECT_EQ(spelling(0x80), "END");
    EXPECT_EQ(spelling(0x83), "DATA");
    EXPECT_EQ(spelling(0x99), "REM");
    EXPECT_EQ(spelling(0x9E), "WAIT");
    EXPECT_EQ(spelling(0xA8), "PRINT");
    EXPECT_EQ(spelling(0xD9), "LABERR");
    EXPECT_EQ(spelling(0xF5), "BORDER");
}

TEST(KeywordTable, SpellingsAreUpperCasePrintableAndOperatorsStartSome) {
    for (std::string_view k : keyword) {
        ASSERT_FALSE(k.empty());
        for (char c : k) {
            EXPECT_TRUE(c > 0x20 && c < 0x7F) << k;
            EXPECT_FALSE(c >= 'a' && c <= 'z') << k;
        }
    }
    for (char op : operator_starts) {
        bool starts_one = false;
        for (std::string_view k : keyword) starts_one |= k[0] == op;
        EXPECT_TRUE(starts_one) << op;
    }
}

TEST(KeywordMatcher, CasesOfTheFirstMatchRule) {
    struct Case {
        const char *text;
        int result;
        int length;
    } cases[] = {
        {"PRINT", 40, 5}, {"PRint", 40, 3}, {"Po", 35, 2}, {"Do", 36, 2},      {"DO", 38, 2},    {"GOSUB", 13, 5},
        {"INT(", 74, 4},  {">>", 68, 2},    {"<=", 72, 1}, {"print", 0xFE, 1}, {"TOTAL", 51, 2}, {"INT\x08", 74, 4},
        {"In", 4, 2},     {"Re", 6, 2},     {"Go", 9, 2},  {">", 70, 1},       {"", 0xFE, 1},    {"Xyz", 0xFE, 1},
    };
    for (const Case &c : cases) {
        Match m = scan(c.text);
        EXPECT_EQ(m.result, c.result) << c.text;
        EXPECT_EQ(m.length, c.length) << c.text;
    }
}

TEST(KeywordMatcher, EmptyRangeScansNothing) {
    const auto *text = reinterpret_cast<const unsigned char *>("PRINT");
    kwlen = 7;
    EXPECT_EQ(sstrcmp(text, keyword, 50, 50), no_match);
    EXPECT_EQ(kwlen, 1);
    EXPECT_EQ(sstrcmp(text, keyword, 60, 10), no_match);
    // A bounded scan sees only its range: PRINT lies before position 41.
    EXPECT_EQ(sstrcmp(text, keyword, 41, keyword_count), no_match);
}

// The indexed matcher must give exactly the table walk's answer, abbreviations
// included: every prefix of every spelling followed by every byte, every
// two-byte text, and the three-byte texts below.
TEST(KeywordMatcher, IndexedMatchAgreesWithTableWalk) {
    // The texts are read eight bytes deep by the one-load matcher.
    auto agree = [](const unsigned char *text) {
        unsigned char walked = sstrcmp(text, keyword, 0, keyword_count);
        int walked_len = kwlen;
        unsigned char indexed = match_keyword(text);
        int indexed_len = kwlen;
        unsigned char wide = match_keyword_wide(text);
        return walked == indexed && walked_len == indexed_len && wide == walked && kwlen == walked_len;
    };
    unsigned char text[16];
    for (std::string_view k : keyword) {
        for (std::size_t prefix = 1; prefix <= k.size(); ++prefix) {
            for (int b = 0; b < 256; ++b) {
                k.copy(reinterpret_cast<char *>(text), prefix);
                text[prefix] = static_cast<unsigned char>(b);
                text[prefix + 1] = 0;
                ASSERT_TRUE(agree(text)) << k << " prefix " << prefix << " then " << b;
            }
        }
    }
    for (int a = 0; a < 256; ++a)
        for (int b = 0; b < 256; ++b) {
            unsigned char two[8] = {static_cast<unsigned char>(a), static_cast<unsigned char>(b), 0};
            ASSERT_TRUE(agree(two)) << a << " " << b;
        }
    // Every three-byte text made of the bytes that spellings hold, their case
    // flips and the terminating zero: the index decides by the first two.
    std::string alphabet(1, '\0');
    for (std::string_view k : keyword)
        for (char c : k)
            for (char d : {c, static_cast<char>(c ^ 0x20)})
                if (alphabet.find(d) == std::string::npos) alphabet += d;
    for (char a : alphabet)
        for (char b : alphabet)
            for (char c : alphabet) {
                unsigned char three[8] = {static_cast<unsigned char>(a), static_cast<unsigned char>(b),
                                          static_cast<unsigned char>(c), 0};
                ASSERT_TRUE(agree(three)) << int(a) << " " << int(b) << " " << int(c);
            }
}
