#include "common/hex.hpp"

#include <stdexcept>

#include "common/ct.hpp"

namespace pelmo::detail {

namespace {
constexpr char kDigits[] = "0123456789abcdef";
}

void append_hex(std::string& out, ByteView data) {
    const std::size_t at = out.size();
    out.resize(at + 2 * data.size());
    char* p = out.data() + at;
    for (std::uint8_t b : data) {
        // Arithmetic rather than a table lookup: the bytes may be secret.
        const unsigned hi = b >> 4, lo = b & 15u;
        *p++ = static_cast<char>('0' + hi + (((9u - hi) >> 8) & 39u));
        *p++ = static_cast<char>('0' + lo + (((9u - lo) >> 8) & 39u));
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
    // mpz_set_str needs a terminated string; validity was checked above.
    const std::string text(hex);
    mpz_set_str(v.get_mpz_t(), text.c_str(), 16);
    return v;
}

std::string int_to_hex(const BigInt& v, std::size_t width) {
    std::string digits = v.get_str(16);
    if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
    return digits;
}

BigInt bytes_to_int(ByteView data) {
    if (data.empty()) throw std::invalid_argument("empty byte string has no integer value");
    BigInt v;
    mpz_import(v.get_mpz_t(), data.size(), 1, 1, 1, 0, data.data());
    return v;
}

}  // namespace pelmo::detail
