#include "sm2/generic/signature.hpp"

#include <pelmo/func.hpp>

#include <stdexcept>

#include "common/hex.hpp"
#include "sm2/der.hpp"
#include "sm2/generic/point_ops.hpp"

namespace pelmo::detail::sm2::generic {

namespace {

BigInt mod(const BigInt& a, const BigInt& n) {
    if (n == 0) throw std::domain_error("division by zero: curve order n is 0");
    BigInt r;
    mpz_mod(r.get_mpz_t(), a.get_mpz_t(), n.get_mpz_t());
    return r;
}

Bytes magnitude(const BigInt& v) {
    Bytes out((mpz_sizeinbase(v.get_mpz_t(), 2) + 7) / 8);
    std::size_t count = 0;
    mpz_export(out.data(), &count, 1, 1, 1, 0, v.get_mpz_t());
    out.resize(count);
    return out;
}

BigInt from_magnitude(ByteView m) {
    BigInt v;
    if (!m.empty()) mpz_import(v.get_mpz_t(), m.size(), 1, 1, 1, 0, m.data());
    return v;
}

std::string format_signature(const BigInt& r, const BigInt& s, bool asn1) {
    if (asn1) return to_hex(sm2::der::encode_signature(magnitude(r), magnitude(s)));
    // The fields are 64 digits whatever the table.
    return int_to_hex(r, 64) + int_to_hex(s, 64);
}

}  // namespace

std::optional<std::string> sign(const Curve& c, ByteView data, std::string_view d_hex,
                                std::string_view k_hex, bool asn1) {
    const BigInt e = bytes_to_int(data);
    const BigInt d = parse_hex_int(d_hex, "private key");
    const BigInt k = parse_hex_int(k_hex, "scalar K");
    const BigInt& n = c.n();
    const auto P1 = kg_text(c, k, c.entry("g"));
    if (!P1) throw std::invalid_argument("[k]G is the point at infinity: no signature with this K");
    const BigInt x1 = parse_hex_int(slice(*P1, 0, c.para_len), "x coordinate");
    const BigInt r = mod(e + x1, n);
    if (r == 0 || r + k == n) return std::nullopt;
    const BigInt inv = func::exp_mod(d + 1, n - 2, n);
    // The key must lie in [1, n - 2] with the power truly the inverse of 1 + d (always
    // so for a prime n); otherwise no signature, rather than one that does not verify.
    // The three tests are combined without a branch between them.
    const int key_ok = int{d >= 1} & int{d <= n - 2} & int{mod(inv * (d + 1), n) == 1};
    if (key_ok == 0) return std::nullopt;
    const BigInt s = mod(inv * (k + r) - r, n);
    if (s == 0) return std::nullopt;
    return format_signature(r, s, asn1);
}

bool verify(const Curve& c, std::string_view sig, ByteView data,
            const std::optional<std::string>& public_key, bool asn1) {
    BigInt r, s;
    if (asn1) {
        const auto decoded = sm2::der::decode_signature(from_hex(sig));
        r = from_magnitude(decoded.r);
        s = from_magnitude(decoded.s);
    } else {
        r = parse_hex_int(slice(sig, 0, c.para_len), "signature r");
        s = parse_hex_int(slice(sig, c.para_len, c.para_len), "signature s");
    }
    const BigInt e = bytes_to_int(data);
    const BigInt& n = c.n();
    // r and s must lie in [1, n - 1]; this also rules out the second encoding (r, s + n).
    if (r < 1 || r >= n || s < 1 || s >= n) return false;
    const BigInt t = mod(r + s, n);
    if (t == 0) return false;
    const auto P1 = kg_text(c, s, c.entry("g"));
    if (!public_key) throw std::invalid_argument("no public key to verify with");
    const auto P2 = kg_text(c, t, *public_key);
    if (!P1 || !P2) throw std::invalid_argument("a scalar multiple is the point at infinity");
    // Equal points are doubled: the addition has no doubling case.
    const auto sum =
        *P1 == *P2 ? double_point_text(c, *P1 + "1") : add_point_text(c, *P1 + "1", *P2);
    const auto R = convert_text(c, *sum);
    if (!R) throw std::invalid_argument("[s]G + [t]PA is the point at infinity");
    const BigInt x1 = parse_hex_int(slice(*R, 0, c.para_len), "x coordinate");
    return r == mod(e + x1, n);
}

}  // namespace pelmo::detail::sm2::generic
