// Hexadecimal text: the encoder against printf's digits, and the decoder back.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "common/hex.hpp"

namespace {

using pelmo::Bytes;
using pelmo::detail::append_hex;
using pelmo::detail::from_hex;
using pelmo::detail::to_hex;

std::string printf_hex(const Bytes& b) {
    std::string s;
    char two[3];
    for (std::uint8_t v : b) {
        std::snprintf(two, sizeof two, "%02x", v);
        s += two;
    }
    return s;
}

TEST(Hex, EveryByteValueAtEveryPositionAndLength) {
    // Lengths 0..40 cover the four-byte steps and every tail; the byte values
    // cycle so each of the 256 lands in each position of a step.
    for (std::size_t len = 0; len <= 40; ++len) {
        for (unsigned start = 0; start < 256; start += 7) {
            Bytes b(len);
            for (std::size_t i = 0; i < len; ++i) b[i] = static_cast<std::uint8_t>(start + 37 * i);
            const std::string h = to_hex(b);
            ASSERT_EQ(h, printf_hex(b)) << len << ' ' << start;
            ASSERT_EQ(from_hex(h), b);
        }
    }
    Bytes all(256);
    for (unsigned i = 0; i < 256; ++i) all[i] = static_cast<std::uint8_t>(i);
    EXPECT_EQ(to_hex(all), printf_hex(all));
}

TEST(Hex, AppendKeepsWhatIsThere) {
    std::string s = "ab:";
    append_hex(s, Bytes{0x00, 0x9f, 0xa0, 0xff, 0x10});
    EXPECT_EQ(s, "ab:009fa0ff10");
    append_hex(s, Bytes{});
    EXPECT_EQ(s, "ab:009fa0ff10");
}

}  // namespace
