// SM2 ciphertexts between pelmo's bare layouts, the 04-prefixed layouts and the ASN.1
// SEQUENCE that OpenSSL and most other implementations exchange, and decryption of a
// ciphertext whose layout is not known in advance.
#include <pelmo/formats.hpp>

#include <algorithm>
#include <array>
#include <stdexcept>

#include "common/der.hpp"
#include "common/wipe.hpp"
#include "formats/sm2_keys.hpp"
#include "formats/sm2_points.hpp"
#include "sm2/encrypt.hpp"

namespace pelmo::formats {

namespace {

namespace der = detail::der;
namespace cv = detail::sm2::curve;
namespace points = detail::sm2_points;
using Layout = Sm2CiphertextLayout;

constexpr std::size_t kCoord = 32, kC1 = 64, kC3 = 32;

void check_mode(int mode) {
    if (mode != 0 && mode != 1) throw std::invalid_argument("mode must be one of (0, 1)");
}

// The ASN.1 SEQUENCE's parts: C1 as x || y (not checked against the curve), C3, C2.
struct Asn1Parts {
    std::array<std::uint8_t, kC1> xy{};
    ByteView c3, c2;
};

Asn1Parts read_asn1(ByteView data) {
    der::Reader outer(data, "SM2 ciphertext");
    der::Reader r(outer.read(der::kSequence, "SEQUENCE"), "SM2 ciphertext");
    outer.expect_end("bytes follow the SEQUENCE");
    Asn1Parts p;
    for (std::size_t i = 0; i < 2; ++i) {
        const ByteView v = r.read_unsigned_integer(i == 0 ? "INTEGER x" : "INTEGER y");
        if (v.size() > kCoord) r.fail("C1 coordinate longer than 32 octets");
        std::copy(v.begin(), v.end(),
                  p.xy.begin() + static_cast<std::ptrdiff_t>((i + 1) * kCoord - v.size()));
    }
    p.c3 = r.read(der::kOctetString, "C3 OCTET STRING");
    if (p.c3.size() != kC3) r.fail("C3 is not 32 octets");
    p.c2 = r.read(der::kOctetString, "C2 OCTET STRING");
    if (p.c2.empty()) r.fail("C2 is empty");
    r.expect_end("the SEQUENCE holds more than four elements");
    return p;
}

Bytes write_asn1(ByteView xy, ByteView c3, ByteView c2) {
    Bytes body;
    der::write_unsigned_integer(body, xy.subspan(0, kCoord));
    der::write_unsigned_integer(body, xy.subspan(kCoord, kCoord));
    der::write(body, der::kOctetString, c3);
    der::write(body, der::kOctetString, c2);
    Bytes out;
    der::write(out, der::kSequence, body);
    return out;
}

// A ciphertext taken apart; c2 and c3 point into the caller's input.
struct Parts {
    cv::Affine c1;
    ByteView c2, c3;
};

bool prefixed(Layout l) {
    return l == Layout::prefixed_c1c2c3 || l == Layout::prefixed_c1c3c2;
}

// 0 when C2 comes before C3, 1 otherwise (ASN.1 holds C3 first).
int order(Layout l) {
    return l == Layout::c1c2c3 || l == Layout::prefixed_c1c2c3 ? 0 : 1;
}

void check_layout(Layout l) {
    if (l != Layout::c1c2c3 && l != Layout::c1c3c2 && !prefixed(l) && l != Layout::asn1)
        throw std::invalid_argument("unknown SM2 ciphertext layout");
}

// The C2 and C3 of the block after C1, which must hold C3 and one byte of C2.
void split(ByteView block, std::size_t c1_len, int mode, Parts& p) {
    if (block.size() <= kC3)
        throw std::invalid_argument("SM2 ciphertext of " + std::to_string(c1_len + block.size()) +
                                    " bytes has no C2 (" + std::to_string(c1_len + kC3 + 1) +
                                    " bytes at least with a C1 of " + std::to_string(c1_len) + ")");
    const std::size_t len = block.size() - kC3;
    p.c2 = mode == 0 ? block.subspan(0, len) : block.subspan(kC3);
    p.c3 = mode == 0 ? block.subspan(len) : block.subspan(0, kC3);
}

Parts parse(ByteView data, Layout from) {
    Parts p;
    if (from == Layout::asn1) {
        const Asn1Parts a = read_asn1(data);
        p.c1 = points::decode_bare(a.xy, "SM2 ciphertext C1");
        p.c2 = a.c2;
        p.c3 = a.c3;
        return p;
    }
    std::size_t n = kC1;
    if (prefixed(from)) {
        n = points::prefixed_length(data);
        if (n == 0)
            throw std::invalid_argument("SM2 ciphertext C1 does not start with 02, 03 or 04");
    }
    split(data.size() > n ? data.subspan(n) : ByteView(), n, order(from), p);
    p.c1 = prefixed(from) ? points::decode_prefixed(data.first(n), "SM2 ciphertext C1")
                          : points::decode_bare(data.first(n), "SM2 ciphertext C1");
    return p;
}

Bytes write(const Parts& p, Layout to, bool compress_c1) {
    Bytes xy;
    points::append(xy, p.c1, false, false);
    if (to == Layout::asn1) return write_asn1(xy, p.c3, p.c2);
    Bytes out;
    out.reserve(1 + kC1 + kC3 + p.c2.size());
    points::append(out, p.c1, prefixed(to), compress_c1);
    const ByteView first = order(to) == 0 ? p.c2 : p.c3;
    const ByteView second = order(to) == 0 ? p.c3 : p.c2;
    out.insert(out.end(), first.begin(), first.end());
    out.insert(out.end(), second.begin(), second.end());
    return out;
}

// A structural reading of a ciphertext of unknown layout: C1, the block after it
// (C2 and C3 in an order still to be found) and the splits worth trying.
struct Reading {
    cv::Affine c1;
    Bytes block;
    unsigned modes = detail::sm2::fast::kSplitC2C3 | detail::sm2::fast::kSplitC3C2;
    bool asn1 = false, prefixed = false, compressed = false;
};

template <class Fn>
bool fits(Fn fn) {
    try {
        fn();
        return true;
    } catch (const std::invalid_argument&) {
        return false;
    }
}

// Each layout in turn, the first whose structure holds: ASN.1 (strict DER), 04 with a
// point of the curve, a bare C1 on the curve, 02/03 whose x lifts. A bare C1 goes before
// the compressed form: half of all x values lift, so a bare ciphertext that starts with
// 02 or 03 would often pass as compressed, while a compressed one passes as bare with
// negligible probability.
Reading read_any(ByteView data) {
    Reading r;
    const auto rest = [&](std::size_t n) {
        r.block.assign(data.begin() + static_cast<std::ptrdiff_t>(n), data.end());
    };
    if (!data.empty() && data[0] == der::kSequence && fits([&] {
            const Parts p = parse(data, Layout::asn1);
            r.c1 = p.c1;
            r.block.assign(p.c3.begin(), p.c3.end());
            r.block.insert(r.block.end(), p.c2.begin(), p.c2.end());
        })) {
        r.modes = detail::sm2::fast::kSplitC3C2;
        r.asn1 = true;
        return r;
    }
    if (data.size() > 1 + kC1 + kC3 && data[0] == 0x04 &&
        fits([&] { r.c1 = points::decode_bare(data.subspan(1, kC1), ""); })) {
        rest(1 + kC1);
        r.prefixed = true;
        return r;
    }
    if (data.size() > kC1 + kC3 && fits([&] { r.c1 = points::decode_bare(data.first(kC1), ""); })) {
        rest(kC1);
        return r;
    }
    if (data.size() > 1 + kCoord + kC3 && points::prefixed_length(data) == 1 + kCoord &&
        fits([&] { r.c1 = points::decode_prefixed(data.first(1 + kCoord), ""); })) {
        rest(1 + kCoord);
        r.prefixed = r.compressed = true;
        return r;
    }
    throw std::invalid_argument(
        "SM2 ciphertext of " + std::to_string(data.size()) +
        " bytes fits no layout: not ASN.1, and no point of the curve as C1 (04 || x || y, "
        "x || y or 02/03 || x) followed by C3 and a non-empty C2");
}

}  // namespace

Bytes sm2_ciphertext_to_asn1(ByteView ciphertext, int mode) {
    check_mode(mode);
    if (ciphertext.size() <= kC1 + kC3)
        throw std::invalid_argument("SM2 ciphertext of " + std::to_string(ciphertext.size()) +
                                    " bytes has no C2 (at least 97 bytes needed)");
    Parts p;
    split(ciphertext.subspan(kC1), kC1, mode, p);
    return write_asn1(ciphertext.first(kC1), p.c3, p.c2);
}

Bytes sm2_ciphertext_from_asn1(ByteView data, int mode) {
    check_mode(mode);
    const Asn1Parts a = read_asn1(data);
    Bytes out(a.xy.begin(), a.xy.end());
    const ByteView first = mode == 1 ? a.c3 : a.c2;
    const ByteView second = mode == 1 ? a.c2 : a.c3;
    out.insert(out.end(), first.begin(), first.end());
    out.insert(out.end(), second.begin(), second.end());
    return out;
}

std::string_view sm2_ciphertext_layout_name(Sm2CiphertextLayout layout) noexcept {
    switch (layout) {
        case Layout::c1c2c3:
            return "c1c2c3";
        case Layout::c1c3c2:
            return "c1c3c2";
        case Layout::prefixed_c1c2c3:
            return "04c1c2c3";
        case Layout::prefixed_c1c3c2:
            return "04c1c3c2";
        case Layout::asn1:
            return "asn1";
    }
    return "unknown";
}

Sm2CiphertextLayout sm2_ciphertext_layout_from_name(std::string_view name) {
    for (const Layout l : {Layout::c1c2c3, Layout::c1c3c2, Layout::prefixed_c1c2c3,
                           Layout::prefixed_c1c3c2, Layout::asn1})
        if (sm2_ciphertext_layout_name(l) == name) return l;
    throw std::invalid_argument("unknown SM2 ciphertext layout \"" + std::string(name) +
                                "\" (c1c2c3, c1c3c2, 04c1c2c3, 04c1c3c2 or asn1)");
}

Bytes sm2_ciphertext_convert(ByteView ciphertext, Sm2CiphertextLayout from, Sm2CiphertextLayout to,
                             bool compress_c1) {
    check_layout(from);
    check_layout(to);
    if (compress_c1 && !prefixed(to))
        throw std::invalid_argument(
            "a compressed C1 exists only in the 04c1c2c3 and 04c1c3c2 "
            "layouts (as 02/03 || x)");
    return write(parse(ciphertext, from), to, compress_c1);
}

std::optional<Sm2Decrypted> sm2_decrypt_any_layout(ByteView ciphertext,
                                                   std::string_view private_key) {
    namespace fast = detail::sm2::fast;
    cv::Bytes32 d{};
    const detail::WipeOnExit wipe_d(d);
    detail::sm2_keys::private_key_octets(private_key, d);
    const Reading r = read_any(ciphertext);
    int mode = 0;
    std::optional<Bytes> plain = fast::decrypt_split(r.c1, r.block, d, r.modes, &mode);
    if (!plain) return std::nullopt;
    Layout layout = Layout::asn1;
    if (!r.asn1) {
        if (r.prefixed)
            layout = mode == 0 ? Layout::prefixed_c1c2c3 : Layout::prefixed_c1c3c2;
        else
            layout = mode == 0 ? Layout::c1c2c3 : Layout::c1c3c2;
    }
    return Sm2Decrypted{std::move(*plain), layout, r.compressed};
}

}  // namespace pelmo::formats
