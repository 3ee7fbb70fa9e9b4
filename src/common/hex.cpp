#include "common/hex.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <stdexcept>

#include "common/ct.hpp"
#include "common/wipe.hpp"

namespace pelmo::detail {

namespace {
constexpr char kDigits[] = "0123456789abcdef";

// The lower-case digit of each nibble in the eight bytes of x (each byte 0..15),
// eight at a time: '0' + n, plus 39 more when n > 9 ((n + 6) carries into bit 4).
// Arithmetic rather than a table lookup: the bytes may be secret.
inline std::uint64_t nibbles_to_digits(std::uint64_t x) noexcept {
    constexpr std::uint64_t ones = 0x0101010101010101u;
    const std::uint64_t above_nine = ((x + 6 * ones) >> 4) & ones;
    return x + '0' * ones + 39 * above_nine;
}

}  // namespace

void append_hex(std::string& out, ByteView data) {
    const std::size_t at = out.size();
    out.resize(at + 2 * data.size());
    char* p = out.data() + at;
    const std::uint8_t* in = data.data();
    std::size_t n = data.size();
    for (; n >= 4; n -= 4, in += 4, p += 8) {
        // Spread bytes b0..b3 into 16-bit slots, then put each high nibble in the
        // slot's first byte and the low nibble in its second, which is the text's
        // order when the word is stored little-endian.
        std::uint64_t x = std::uint64_t{in[0]} | std::uint64_t{in[1]} << 16 |
                          std::uint64_t{in[2]} << 32 | std::uint64_t{in[3]} << 48;
        x = ((x >> 4) & 0x000f000f000f000fu) | ((x & 0x000f000f000f000fu) << 8);
        const std::uint64_t digits = nibbles_to_digits(x);
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(p, &digits, 8);
        } else {
            for (int i = 0; i < 8; ++i) p[i] = static_cast<char>(digits >> (8 * i));
        }
    }
    for (; n != 0; --n, ++in) {
        const std::uint64_t digits =
            nibbles_to_digits(std::uint64_t{*in} >> 4 | std::uint64_t{*in & 15u} << 8);
        *p++ = static_cast<char>(digits);
        *p++ = static_cast<char>(digits >> 8);
    }
}

std::string to_hex(ByteView data) {
    std::string out;
    append_hex(out, data);
    return out;
}

void throw_bad_hex_digit(std::string_view hex, std::size_t pos, std::string_view what) {
    const unsigned char c = static_cast<unsigned char>(hex[pos]);
    std::string shown;
    if (c >= 0x20 && c < 0x7f) {
        shown = std::string(1, static_cast<char>(c));
    } else {
        shown = "\\x";
        shown += kDigits[c >> 4];
        shown += kDigits[c & 15];
    }
    throw std::invalid_argument("invalid hexadecimal digit '" + shown + "' at position " +
                                std::to_string(pos) + " in " + std::string(what));
}

namespace {
// Returns the position of the first invalid digit, or npos; constant time over
// valid input (the scan never exits early on a digit's value).
std::size_t first_bad_digit(std::string_view hex) {
    int bad = 0;
    for (unsigned char c : hex) bad |= hex_digit_value(c);
    ct::declassify(&bad, sizeof bad);
    if (bad >= 0) return std::string_view::npos;
    for (std::size_t i = 0; i < hex.size(); ++i)
        if (hex_digit_value(static_cast<unsigned char>(hex[i])) < 0) return i;
    return std::string_view::npos;
}
}  // namespace

void check_hex_number(std::string_view hex, std::string_view what) {
    if (hex.empty()) throw std::invalid_argument("empty hexadecimal text for " + std::string(what));
    const std::size_t bad = first_bad_digit(hex);
    if (bad != std::string_view::npos) throw_bad_hex_digit(hex, bad, what);
}

void from_hex_into(std::string_view hex, std::span<std::uint8_t> out) {
    if (hex.size() % 2 != 0)
        throw std::invalid_argument("odd number of hexadecimal digits (" +
                                    std::to_string(hex.size()) + ")");
    int bad = 0;
    for (std::size_t i = 0; i < out.size(); ++i) {
        const int hi = hex_digit_value(static_cast<unsigned char>(hex[2 * i]));
        const int lo = hex_digit_value(static_cast<unsigned char>(hex[2 * i + 1]));
        bad |= hi | lo;
        out[i] = static_cast<std::uint8_t>((hi << 4) | (lo & 15));
    }
    // Whether the text was valid is public (it decides between a result and an error).
    ct::declassify(&bad, sizeof bad);
    if (bad < 0) throw_bad_hex_digit(hex, first_bad_digit(hex), "hexadecimal text");
}

Bytes from_hex(std::string_view hex) {
    if (hex.size() % 2 != 0)
        throw std::invalid_argument("odd number of hexadecimal digits (" +
                                    std::to_string(hex.size()) + ")");
    Bytes out(hex.size() / 2);
    from_hex_into(hex, out);
    return out;
}

BigInt parse_hex_int(std::string_view hex, std::string_view what) {
    check_hex_number(hex, what);
    BigInt v;
    // mpz_set_str needs a terminated string; validity was checked above. The copy may
    // be a private key: it is wiped, not just freed.
    std::string text(hex);
    const WipeOnExit wipe{text};
    mpz_set_str(v.get_mpz_t(), text.c_str(), 16);
    return v;
}

std::string int_to_hex(const BigInt& v, std::size_t width) {
    // One allocation, written in place: no earlier buffer with the digits is freed
    // (the value may be a private key). For base 16 the digit count is exact; a sign,
    // outside the documented domain, is written where get_str would put it.
    const std::size_t n = mpz_sizeinbase(v.get_mpz_t(), 16) + (mpz_sgn(v.get_mpz_t()) < 0 ? 1 : 0);
    std::string out(std::max(n, width) + 1, '0');  // + mpz_get_str's terminator
    mpz_get_str(out.data() + out.size() - 1 - n, 16, v.get_mpz_t());
    out.pop_back();
    return out;
}

BigInt bytes_to_int(ByteView data) {
    if (data.empty()) throw std::invalid_argument("empty byte string has no integer value");
    BigInt v;
    mpz_import(v.get_mpz_t(), data.size(), 1, 1, 1, 0, data.data());
    return v;
}

}  // namespace pelmo::detail
