// PEM armour: base64 with 64-character lines between BEGIN and END markers.
#include <pelmo/formats.hpp>

#include <stdexcept>

namespace pelmo::formats {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int base64_value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

Bytes base64_decode(std::string_view text) {
    Bytes out;
    out.reserve(text.size() * 3 / 4);
    std::uint32_t acc = 0;
    int bits = 0, pad = 0;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
        if (c == '=') {
            ++pad;
            continue;
        }
        const int v = base64_value(c);
        if (v < 0 || pad > 0) throw std::invalid_argument("invalid base64 in PEM body");
        acc = (acc << 6) | static_cast<std::uint32_t>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<std::uint8_t>(acc >> bits));
        }
    }
    // Leftover bits must be the zero fill of the last group, and padding must match.
    // Two leftover characters (4 spare bits) take "==", three (2 spare bits) take "=".
    const int expected_pad = bits == 4 ? 2 : bits == 2 ? 1 : 0;
    if (bits >= 6 || pad != expected_pad || (acc & ((1u << bits) - 1)) != 0)
        throw std::invalid_argument("invalid base64 padding in PEM body");
    return out;
}

}  // namespace

std::string pem_encode(ByteView der, std::string_view label) {
    std::string body;
    for (std::size_t i = 0; i < der.size(); i += 3) {
        const std::uint32_t b0 = der[i];
        const std::uint32_t b1 = i + 1 < der.size() ? der[i + 1] : 0;
        const std::uint32_t b2 = i + 2 < der.size() ? der[i + 2] : 0;
        const std::uint32_t v = (b0 << 16) | (b1 << 8) | b2;
        body += kAlphabet[(v >> 18) & 63];
        body += kAlphabet[(v >> 12) & 63];
        body += i + 1 < der.size() ? kAlphabet[(v >> 6) & 63] : '=';
        body += i + 2 < der.size() ? kAlphabet[v & 63] : '=';
    }
    std::string out = "-----BEGIN " + std::string(label) + "-----\n";
    for (std::size_t i = 0; i < body.size(); i += 64) out += body.substr(i, 64) + "\n";
    out += "-----END " + std::string(label) + "-----\n";
    return out;
}

Bytes pem_decode(std::string_view pem, std::string_view label) {
    const std::string begin = "-----BEGIN " + std::string(label) + "-----";
    const std::string end = "-----END " + std::string(label) + "-----";
    const std::size_t b = pem.find(begin);
    if (b == std::string_view::npos)
        throw std::invalid_argument("no PEM block labelled \"" + std::string(label) + "\"");
    const std::size_t body = b + begin.size();
    const std::size_t e = pem.find(end, body);
    if (e == std::string_view::npos)
        throw std::invalid_argument("PEM block \"" + std::string(label) + "\" has no END line");
    return base64_decode(pem.substr(body, e - body));
}

}  // namespace pelmo::formats
