// Hexadecimal text <-> bytes and big integers, shared by every layer.
//
// Decoding runs in constant time over the digits (no branch or table lookup on a
// digit's value), because private keys and nonces arrive as hexadecimal text; only
// the final "was every digit valid" outcome steers control flow, and it is public.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include <pelmo/types.hpp>

namespace pelmo::detail {

/// Lower-case hexadecimal of the bytes.
std::string to_hex(ByteView data);
/// Appends the lower-case hexadecimal of the bytes to out.
void append_hex(std::string& out, ByteView data);

/// Decodes hex of either case; throws std::invalid_argument naming the first bad
/// digit, or an odd length.
Bytes from_hex(std::string_view hex);
/// Decodes into a caller-sized buffer (out.size() * 2 == hex.size()); throws as from_hex.
void from_hex_into(std::string_view hex, std::span<std::uint8_t> out);

/// Constant-time value of one digit: 0..15, or -1 when c is not a hexadecimal digit.
inline int hex_digit_value(unsigned char c) noexcept {
    // Each range contributes (value + 1) masked by "c in range", all without branches.
    const int ci = c;
    const int digit = ((('0' - 1 - ci) & (ci - ('9' + 1))) >> 8) & (ci - '0' + 1);
    const int upper = ((('A' - 1 - ci) & (ci - ('F' + 1))) >> 8) & (ci - 'A' + 11);
    const int lower = ((('a' - 1 - ci) & (ci - ('f' + 1))) >> 8) & (ci - 'a' + 11);
    return (digit | upper | lower) - 1;
}

/// Throws std::invalid_argument for the first non-hexadecimal digit (or an empty text,
/// which is no number), with `what` naming the value.
void check_hex_number(std::string_view hex, std::string_view what);

/// Parses a hexadecimal number of either case (no sign, prefix or spaces).
/// Empty text or a bad digit is std::invalid_argument.
BigInt parse_hex_int(std::string_view hex, std::string_view what = "number");

/// Lower-case hexadecimal of a non-negative v, zero-padded on the left to width digits.
std::string int_to_hex(const BigInt& v, std::size_t width = 0);

/// Big-endian bytes of a non-negative v as an integer (empty data is std::invalid_argument,
/// since an empty byte string has no integer value).
BigInt bytes_to_int(ByteView data);

/// "invalid hexadecimal digit 'g' at position 5".
[[noreturn]] void throw_bad_hex_digit(std::string_view hex, std::size_t pos, std::string_view what);

}  // namespace pelmo::detail
