// PEM armour: base64 with 64-character lines between BEGIN and END markers.
//
// A PEM body of a private key is secret, so base64 runs in constant time both ways:
// every character is computed from its sextet (and every sextet from its character)
// with masks, never with a table lookup or a branch. What does steer control flow is
// each character's class (base64 digit, '=', white space, line break, anything else):
// the class sequence is the text's layout, which for a body is fixed by its length
// alone (digits in lines of 64, then the padding), so it is published; the digits'
// values never are. The markers are found through that layout too: only a line that
// starts with a character no body holds ('-') is compared with a marker, in constant
// time, publishing one bit.
#include "formats/pem.hpp"

#include <pelmo/formats.hpp>

#include <algorithm>
#include <cstdint>
#include <stdexcept>

#include "common/ct.hpp"
#include "common/wipe.hpp"

namespace pelmo::detail::pem {

namespace {

enum Class : std::uint8_t { kDigit, kPad, kSpace, kNewline, kOther };

using ct::byte_in_range;

/// The sextet of a base64 digit (0 for anything else) and the character's class.
struct CharInfo {
    int value;
    int cls;
};

inline CharInfo char_info(char ch) {
    const int c = static_cast<unsigned char>(ch);
    const int upper = byte_in_range(c, 'A', 'Z'), lower = byte_in_range(c, 'a', 'z');
    const int digit = byte_in_range(c, '0', '9');
    const int plus = byte_in_range(c, '+', '+'), slash = byte_in_range(c, '/', '/');
    const int value = (upper & (c - 'A')) | (lower & (c - 'a' + 26)) | (digit & (c - '0' + 52)) |
                      (plus & 62) | (slash & 63);
    const int b64 = upper | lower | digit | plus | slash;
    const int pad = byte_in_range(c, '=', '=');
    const int space =
        byte_in_range(c, ' ', ' ') | byte_in_range(c, '\t', '\t') | byte_in_range(c, '\r', '\r');
    const int newline = byte_in_range(c, '\n', '\n');
    const int other = ~(b64 | pad | space | newline);
    return {value, (b64 & kDigit) | (pad & kPad) | (space & kSpace) | (newline & kNewline) |
                       (other & kOther)};
}

/// The base64 digit of a sextet v (0..63): 'A' + v, moved on at each range's start.
inline char base64_char(std::uint32_t sextet) {
    const int v = static_cast<int>(sextet);
    const auto at_least = [v](int k) { return (k - 1 - v) >> 8; };  // -1 when v >= k
    int c = 'A' + v;
    c += at_least(26) & ('a' - ('A' + 26));
    c += at_least(52) & ('0' - ('a' + 26));
    c += at_least(62) & ('+' - ('0' + 10));
    c += at_least(63) & ('/' - ('+' + 1));
    return static_cast<char>(c);
}

/// The classes of every character, published (see the top of the file).
std::vector<std::uint8_t> classes_of(std::string_view text) {
    std::vector<std::uint8_t> cls(text.size());
    for (std::size_t i = 0; i < text.size(); ++i)
        cls[i] = static_cast<std::uint8_t>(char_info(text[i]).cls);
    ct::declassify(cls.data(), cls.size());
    return cls;
}

struct Line {
    std::size_t begin, end;  // end: the line break, or the text's end
};

/// The lines that may be armour: those starting with a character of class kOther.
std::vector<Line> armour_lines(const std::vector<std::uint8_t>& cls) {
    std::vector<Line> lines;
    std::size_t begin = 0;
    for (std::size_t i = 0; i <= cls.size(); ++i) {
        if (i != cls.size() && cls[i] != kNewline) continue;
        if (i > begin && cls[begin] == kOther) lines.push_back({begin, i});
        begin = i + 1;
    }
    return lines;
}

/// Whether the line starts with prefix; the comparison runs over the whole prefix and
/// publishes only its outcome.
bool starts_with(std::string_view text, Line line, std::string_view prefix) {
    if (line.end - line.begin < prefix.size()) return false;
    std::uint64_t diff = 0;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        diff |= static_cast<std::uint8_t>(text[line.begin + i] ^ prefix[i]);
    std::uint64_t same = ct::is_zero_mask(diff);
    ct::declassify(&same, sizeof same);
    return same != 0;
}

/// Whether the line is marker, then nothing but white space.
bool line_is(std::string_view text, const std::vector<std::uint8_t>& cls, Line line,
             std::string_view marker) {
    if (line.end - line.begin < marker.size()) return false;
    for (std::size_t i = line.begin + marker.size(); i < line.end; ++i)
        if (cls[i] != kSpace) return false;
    return starts_with(text, line, marker);
}

std::string begin_marker(std::string_view label) {
    return "-----BEGIN " + std::string(label) + "-----";
}
std::string end_marker(std::string_view label) {
    return "-----END " + std::string(label) + "-----";
}

/// Decodes a base64 body whose classes are cls (white space anywhere, '=' only at the
/// end, the leftover bits of the last group zero).
Bytes base64_decode(std::string_view text, const std::uint8_t* cls) {
    std::size_t digits = 0;
    int pad = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (cls[i] == kOther || (cls[i] == kDigit && pad > 0))
            throw std::invalid_argument("invalid base64 in PEM body");
        digits += cls[i] == kDigit;
        pad += cls[i] == kPad;
    }
    // Two leftover characters (4 spare bits) take "==", three (2 spare bits) take "=";
    // one leftover character (6 bits) holds no byte.
    const std::size_t spare = digits * 6 % 8;
    const int expected_pad = spare == 4 ? 2 : spare == 2 ? 1 : 0;
    if (spare == 6 || pad != expected_pad)
        throw std::invalid_argument("invalid base64 padding in PEM body");
    Bytes out(digits * 6 / 8);
    std::uint32_t acc = 0;
    std::size_t bits = 0, n = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (cls[i] != kDigit) continue;
        acc = (acc << 6) | static_cast<std::uint32_t>(char_info(text[i]).value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out[n++] = static_cast<std::uint8_t>(acc >> bits);
        }
    }
    // Whether the zero fill holds decides between a result and an error: public.
    std::uint64_t fill_ok = ct::is_zero_mask(acc & ((1u << bits) - 1));
    ct::declassify(&fill_ok, sizeof fill_ok);
    if (fill_ok == 0) {
        secure_wipe(out);
        throw std::invalid_argument("invalid base64 padding in PEM body");
    }
    return out;
}

}  // namespace

std::vector<std::string> begin_labels(std::string_view pem) {
    const std::vector<std::uint8_t> cls = classes_of(pem);
    std::vector<std::string> labels;
    constexpr std::string_view kBegin = "-----BEGIN ", kDashes = "-----";
    for (Line line : armour_lines(cls)) {
        if (!starts_with(pem, line, kBegin)) continue;
        // A BEGIN line is armour, public as a whole.
        ct::declassify(pem.data() + line.begin, line.end - line.begin);
        std::string_view rest =
            pem.substr(line.begin + kBegin.size(), line.end - line.begin - kBegin.size());
        while (!rest.empty() && cls[line.begin + kBegin.size() + rest.size() - 1] == kSpace)
            rest.remove_suffix(1);
        if (rest.size() >= kDashes.size() && rest.ends_with(kDashes))
            labels.emplace_back(rest.substr(0, rest.size() - kDashes.size()));
    }
    return labels;
}

}  // namespace pelmo::detail::pem

namespace pelmo::formats {

std::string pem_encode(ByteView der, std::string_view label) {
    const std::string begin = detail::pem::begin_marker(label) + "\n";
    const std::string end = detail::pem::end_marker(label) + "\n";
    const std::size_t body = (der.size() + 2) / 3 * 4;
    std::string out(begin.size() + body + (body + 63) / 64 + end.size(), '\0');
    char* p = out.data();
    p = std::copy(begin.begin(), begin.end(), p);
    const std::size_t n = der.size();
    for (std::size_t i = 0, col = 0; i < n; i += 3) {
        // Which positions exist depends on the length only.
        const std::uint32_t b0 = der[i];
        const std::uint32_t b1 = i + 1 < n ? der[i + 1] : 0;
        const std::uint32_t b2 = i + 2 < n ? der[i + 2] : 0;
        const std::uint32_t v = (b0 << 16) | (b1 << 8) | b2;
        *p++ = detail::pem::base64_char((v >> 18) & 63);
        *p++ = detail::pem::base64_char((v >> 12) & 63);
        *p++ = i + 1 < n ? detail::pem::base64_char((v >> 6) & 63) : '=';
        *p++ = i + 2 < n ? detail::pem::base64_char(v & 63) : '=';
        col += 4;
        if (col == 64 || i + 3 >= n) {
            *p++ = '\n';
            col = 0;
        }
    }
    std::copy(end.begin(), end.end(), p);
    return out;
}

Bytes pem_decode(std::string_view pem, std::string_view label) {
    namespace p = detail::pem;
    const std::vector<std::uint8_t> cls = p::classes_of(pem);
    const std::string begin = p::begin_marker(label), end = p::end_marker(label);
    const std::vector<p::Line> lines = p::armour_lines(cls);
    auto it = lines.begin();
    while (it != lines.end() && !p::line_is(pem, cls, *it, begin)) ++it;
    if (it == lines.end())
        throw std::invalid_argument("no PEM block labelled \"" + std::string(label) + "\"");
    const std::size_t body = std::min(it->end + 1, pem.size());
    while (++it != lines.end() && !p::line_is(pem, cls, *it, end)) {
    }
    if (it == lines.end())
        throw std::invalid_argument("PEM block \"" + std::string(label) + "\" has no END line");
    return p::base64_decode(pem.substr(body, it->begin - body), cls.data() + body);
}

}  // namespace pelmo::formats
