// The strict UTF-8 validator that the managers use.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "common/utf8.hpp"

namespace {

using pelmo::detail::check_utf8;
using pelmo::detail::is_valid_utf8;
using pelmo::detail::is_valid_utf8_ct;
using pelmo::detail::utf8_error_offset;
constexpr auto npos = std::string_view::npos;

TEST(Utf8, WellFormed) {
    EXPECT_TRUE(is_valid_utf8(""));
    EXPECT_TRUE(is_valid_utf8("plain ASCII, long enough for the eight-byte path"));
    EXPECT_TRUE(is_valid_utf8(std::string("\0", 1)));
    EXPECT_TRUE(is_valid_utf8("\xc2\x80"));          // U+0080
    EXPECT_TRUE(is_valid_utf8("\xdf\xbf"));          // U+07FF
    EXPECT_TRUE(is_valid_utf8("\xe0\xa0\x80"));      // U+0800
    EXPECT_TRUE(is_valid_utf8("\xed\x9f\xbf"));      // U+D7FF
    EXPECT_TRUE(is_valid_utf8("\xee\x80\x80"));      // U+E000
    EXPECT_TRUE(is_valid_utf8("\xef\xbf\xbf"));      // U+FFFF
    EXPECT_TRUE(is_valid_utf8("\xf0\x90\x80\x80"));  // U+10000
    EXPECT_TRUE(is_valid_utf8("\xf4\x8f\xbf\xbf"));  // U+10FFFF
    EXPECT_TRUE(is_valid_utf8("SM4算法，对称加解密 🙂"));
}

TEST(Utf8, IllFormedWithOffset) {
    EXPECT_EQ(utf8_error_offset("\x80"), 0u);              // stray continuation
    EXPECT_EQ(utf8_error_offset("ab\xc0\x80"), 2u);        // overlong NUL
    EXPECT_EQ(utf8_error_offset("\xc1\xbf"), 0u);          // overlong
    EXPECT_EQ(utf8_error_offset("\xe0\x9f\xbf"), 0u);      // overlong 3-byte
    EXPECT_EQ(utf8_error_offset("\xf0\x8f\xbf\xbf"), 0u);  // overlong 4-byte
    EXPECT_EQ(utf8_error_offset("x\xed\xa0\x80"), 1u);     // U+D800
    EXPECT_EQ(utf8_error_offset("\xed\xbf\xbf"), 0u);      // U+DFFF
    EXPECT_EQ(utf8_error_offset("\xf4\x90\x80\x80"), 0u);  // U+110000
    EXPECT_EQ(utf8_error_offset("\xf5\x80\x80\x80"), 0u);
    EXPECT_EQ(utf8_error_offset("\xff"), 0u);
    EXPECT_EQ(utf8_error_offset("abc\xe4\xbd"), 3u);   // truncated at the end
    EXPECT_EQ(utf8_error_offset("\xe4\x41\xa0"), 0u);  // bad continuation
    EXPECT_EQ(utf8_error_offset("\xf0\x90\x80\x41"), 0u);
    EXPECT_EQ(utf8_error_offset("0123456789\xc3"), 10u);  // after the ASCII fast path
    EXPECT_EQ(utf8_error_offset("0123456789\xc3\xa9"), npos);
}

TEST(Utf8, EveryTwoByteSequenceAgreesWithTheRanges) {
    for (unsigned a = 0x80; a < 0x100; ++a) {
        for (unsigned b = 0; b < 0x100; ++b) {
            const char s[2] = {static_cast<char>(a), static_cast<char>(b)};
            const bool expect = a >= 0xc2 && a <= 0xdf && b >= 0x80 && b <= 0xbf;
            ASSERT_EQ(is_valid_utf8(std::string_view(s, 2)), expect) << a << " " << b;
        }
    }
}

TEST(Utf8, ConstantTimeVerdictAgreesEverywhere) {
    // Every string of up to two bytes, and of three bytes with a non-ASCII lead.
    const auto agree = [](std::string_view s) {
        ASSERT_EQ(is_valid_utf8_ct(s), is_valid_utf8(s)) << ::testing::PrintToString(s);
    };
    agree("");
    for (unsigned a = 0; a < 0x100; ++a) {
        for (unsigned b = 0; b < 0x100; ++b) {
            const char s[3] = {static_cast<char>(a), static_cast<char>(b), 0};
            agree(std::string_view(s, 1));
            agree(std::string_view(s, 2));
            if (a < 0xc0) continue;
            for (unsigned c = 0; c < 0x100; ++c) {
                const char t[3] = {static_cast<char>(a), static_cast<char>(b),
                                   static_cast<char>(c)};
                agree(std::string_view(t, 3));
            }
        }
    }
    // Four-byte leads with every boundary of the later bytes, and mutated long texts.
    const unsigned edges[] = {0x00, 0x7f, 0x80, 0x8f, 0x90, 0x9f, 0xa0, 0xbf, 0xc0, 0xff};
    for (unsigned a = 0xe0; a <= 0xf5; ++a)
        for (unsigned b : edges)
            for (unsigned c : edges)
                for (unsigned d : edges)
                    agree(std::string{static_cast<char>(a), static_cast<char>(b),
                                      static_cast<char>(c), static_cast<char>(d)});
    const std::string text = "SM4算法，对称加解密 🙂 plain ASCII \xc3\xa9";
    for (std::size_t i = 0; i < text.size(); ++i) {
        for (unsigned v : edges) {
            std::string t = text;
            t[i] = static_cast<char>(v);
            agree(t);
            agree(t.substr(0, i));
        }
    }
}

TEST(Utf8, CheckThrowsNamingTheOffset) {
    EXPECT_NO_THROW(check_utf8("ok", "text"));
    try {
        check_utf8("ab\xff", "the text");
        ADD_FAILURE();
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "invalid UTF-8 at byte 2 of the text");
    }
}

}  // namespace
