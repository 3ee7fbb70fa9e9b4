#include "sm2/fast.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>

#include "common/ct.hpp"
#include "common/hex.hpp"
#include "common/wipe.hpp"
#include "sm2/der.hpp"

namespace pelmo::detail::sm2::fast {

namespace cv = curve;

namespace {

static_assert(GMP_NUMB_BITS == 64, "limbs are read as 64-bit words");

// Public comparisons of big-endian values.
int compare(const Bytes32& a, const Bytes32& b) {
    return std::memcmp(a.data(), b.data(), 32);
}
bool is_zero_public(const Bytes32& a) {
    return std::all_of(a.begin(), a.end(), [](std::uint8_t v) { return v == 0; });
}

// a -= b for a >= b.
void sub_in_place(Bytes32& a, const Bytes32& b) {
    int borrow = 0;
    for (int i = 31; i >= 0; --i) {
        const int d = a[i] - b[i] - borrow;
        a[i] = static_cast<std::uint8_t>(d);
        borrow = d < 0 ? 1 : 0;
    }
}

// Secret-safe tests: the bool is computed without branches; the caller declassifies it.
bool ct_is_zero(const Bytes32& a) {
    std::uint8_t acc = 0;
    for (std::uint8_t v : a) acc |= v;
    return ct::is_zero_mask(ct::value_barrier(acc)) != 0;
}
bool ct_equal(const Bytes32& a, const Bytes32& b) {
    return ct::equal(a.data(), b.data(), 32);
}

bool published(bool flag) {
    ct::declassify(&flag, sizeof flag);
    return flag;
}

Bytes32 n_plus_2() {
    Bytes32 v = cv::kN;
    unsigned carry = 2;
    for (int i = 31; i >= 0 && carry != 0; --i) {
        const unsigned sum = v[i] + carry;
        v[i] = static_cast<std::uint8_t>(sum);
        carry = sum >> 8;
    }
    return v;
}

Bytes32 from_int_public(const BigInt& v) {  // 0 <= v < 2^256
    Bytes32 out{};
    std::size_t count = 0;
    std::uint8_t buf[32];
    mpz_export(buf, &count, 1, 1, 1, 0, v.get_mpz_t());
    std::memcpy(out.data() + 32 - count, buf, count);
    return out;
}

// A magnitude of up to 32 octets as a right-aligned value; false when it is wider.
bool fit(ByteView magnitude, Bytes32& out) {
    if (magnitude.size() > 32) return false;
    out = Bytes32{};
    std::memcpy(out.data() + 32 - magnitude.size(), magnitude.data(), magnitude.size());
    return true;
}

bool in_scalar_range(const Bytes32& v) {
    return !is_zero_public(v) && compare(v, cv::kN) < 0;
}

}  // namespace

Bytes32 message_mod_n(ByteView data) {
    if (data.size() <= 32) {
        Bytes32 e{};
        std::memcpy(e.data() + 32 - data.size(), data.data(), data.size());
        return cv::scalar::reduce(e);
    }
    static const BigInt n = parse_hex_int(to_hex(cv::kN));
    BigInt e = bytes_to_int(data);
    mpz_mod(e.get_mpz_t(), e.get_mpz_t(), n.get_mpz_t());
    return from_int_public(e);
}

bool parse_scalar(std::string_view hex, Bytes32& out, std::string_view what) {
    if (hex.empty()) check_hex_number(hex, what);  // throws: no number
    out = Bytes32{};
    int bad = 0;
    const std::size_t len = hex.size(), low = std::min<std::size_t>(len, 64);
    for (std::size_t i = 0; i < low; ++i) {
        // Digit i from the right lands in octet 31 - i/2, high nibble for odd i: the
        // position depends on the length only, never on a digit's value.
        const int v = hex_digit_value(static_cast<unsigned char>(hex[len - 1 - i]));
        bad |= v;
        out[31 - i / 2] |= static_cast<std::uint8_t>((v & 15) << (4 * (i & 1)));
    }
    // Digits above the lowest 64 must all be zero for the value to fit: they are
    // collected, not skipped, so a run of leading zeros costs what any digits do.
    unsigned above = 0;
    for (std::size_t i = low; i < len; ++i) {
        const int v = hex_digit_value(static_cast<unsigned char>(hex[len - 1 - i]));
        bad |= v;
        above |= static_cast<unsigned>(v & 15);
    }
    ct::declassify(&bad, sizeof bad);  // valid or not decides between a value and an error
    if (bad < 0) {
        secure_wipe(out);
        check_hex_number(hex, what);  // throws, naming the first bad digit
    }
    const bool fits = published(ct::is_zero_mask(ct::value_barrier(above)) != 0);
    if (!fits) secure_wipe(out);
    return fits;
}

std::uint64_t in_range_mask(const Bytes32& v, ScalarRange range) {
    // Below n - 1 (private keys) or below n (nonces), and not zero.
    Bytes32 bound = cv::kN;
    if (range == ScalarRange::private_key) bound[31] = static_cast<std::uint8_t>(bound[31] - 1);
    return ct::nonzero_mask(v) & ct::less_mask(v, bound);
}

Bytes32 scalar_from_int(const BigInt& k) {
    mpz_srcptr src = k.get_mpz_t();
    BigInt reduced;
    if (mpz_sgn(src) < 0 || mpz_size(src) > 4) {
        // Only bits 0..255 of k are ever examined by the double-and-add.
        mpz_fdiv_r_2exp(reduced.get_mpz_t(), src, 256);
        src = reduced.get_mpz_t();
    }
    Bytes32 out{};
    for (int i = 0; i < 4; ++i) {
        // mpz_getlimbn looks at the limb count only, not at the limbs' values.
        const mp_limb_t limb = mpz_getlimbn(src, i);
        for (int j = 0; j < 8; ++j)
            out[31 - 8 * i - j] = static_cast<std::uint8_t>(limb >> (8 * j));
    }
    return out;
}

std::optional<Affine> parse_point(std::string_view text) {
    if (text.size() != 128) return std::nullopt;
    Affine P;
    std::uint8_t raw[64];
    int bad = 0;
    for (std::size_t i = 0; i < 64; ++i) {
        const int hi = hex_digit_value(static_cast<unsigned char>(text[2 * i]));
        const int lo = hex_digit_value(static_cast<unsigned char>(text[2 * i + 1]));
        bad |= hi | lo;
        raw[i] = static_cast<std::uint8_t>((hi << 4) | (lo & 15));
    }
    if (bad < 0) return std::nullopt;
    std::memcpy(P.x.data(), raw, 32);
    std::memcpy(P.y.data(), raw + 32, 32);
    // The double-and-add works mod p, so a coordinate of p or more stands for its residue
    // (below 2^256 < 2p, one subtraction suffices).
    if (compare(P.x, cv::kP) >= 0) sub_in_place(P.x, cv::kP);
    if (compare(P.y, cv::kP) >= 0) sub_in_place(P.y, cv::kP);
    if (!cv::is_valid_point(P)) return std::nullopt;
    return P;
}

std::string format_point(const Affine& P) {
    std::string out;
    out.reserve(128);
    append_hex(out, P.x);
    append_hex(out, P.y);
    return out;
}

std::optional<Affine> kg(const Bytes32& k, const Affine& P) {
    // Which of the cases applies is the result's shape (a point, P itself, or nothing),
    // which the caller learns anyway. Every path returns `out`, so that the result is
    // built in place and no copy of the product is left behind.
    std::optional<Affine> out;
    if (published(ct_is_zero(k))) {
        out = P;
        return out;
    }
    if (published(ct_equal(k, n_plus_2()))) return out;
    out.emplace();
    const bool base = compare(P.x, cv::kGx) == 0 && compare(P.y, cv::kGy) == 0;
    const bool finite = base ? cv::mul_base(*out, k) : cv::mul(*out, k, P);
    if (!published(finite)) {  // k = n
        secure_wipe(&*out, sizeof *out);
        out.reset();
    }
    return out;
}

bool kg_pair(const Bytes32& k, const Affine& P, Affine& kG, Affine& kP) {
    static const Affine G{cv::kGx, cv::kGy};
    if (published(ct_is_zero(k))) {  // _kg(0, Q) is Q itself
        kG = G;
        kP = P;
        return true;
    }
    if (published(ct_equal(k, n_plus_2()))) return false;
    return published(cv::mul_base_and_mul(kG, kP, k, P));  // false for k = n
}

std::string format_signature(ByteView r, ByteView s, bool asn1) {
    if (asn1) return to_hex(der::encode_signature(r, s));
    std::string out;
    out.reserve(128);
    append_hex(out, r);
    append_hex(out, s);
    return out;
}

std::optional<std::string> sign(ByteView data, const Bytes32& d, const Bytes32& k, bool asn1) {
    namespace sc = cv::scalar;
    const Bytes32 e = message_mod_n(data);

    // [k]G exactly as _kg gives it: G itself for k = 0, nothing for k = n or n + 2.
    static const Affine G{cv::kGx, cv::kGy};
    auto R = kg(k, G);
    if (!R) throw std::invalid_argument("[k]G is the point at infinity: no signature with this K");

    // r = (e + x1) mod n is published with the signature.
    Bytes32 r = sc::add(e, sc::reduce(R->x));
    secure_wipe(&*R, sizeof *R);
    ct::declassify(r.data(), r.size());
    if (is_zero_public(r)) return std::nullopt;
    // r + k = n, with k as given (not reduced): k = n - r.
    if (published(ct_equal(k, sc::sub(Bytes32{}, r)))) return std::nullopt;

    // A key outside [1, n - 2] has no inverse of 1 + d (n - 1), or is no key (0, n or
    // more): no signature, rather than one that does not verify.
    if (!published(in_range_mask(d, ScalarRange::private_key) != 0)) return std::nullopt;

    // s = ((1 + d)^-1 (k + r) - r) mod n, every intermediate wiped on the way out.
    std::array<Bytes32, 4> t;
    const WipeOnExit wipe{t};
    Bytes32 &inv = t[0], &k_plus_r = t[1], &product = t[2], &one_plus_d = t[3];
    Bytes32 one{};
    one[31] = 1;
    one_plus_d = sc::add(d, one);
    inv = sc::inv(one_plus_d);
    k_plus_r = sc::reduce(k);
    k_plus_r = sc::add(k_plus_r, r);
    product = sc::mul(inv, k_plus_r);
    Bytes32 s = sc::sub(product, r);
    ct::declassify(s.data(), s.size());
    if (is_zero_public(s)) return std::nullopt;
    return format_signature(r, s, asn1);
}

std::optional<bool> verify(const Curve&, std::string_view sig, ByteView data,
                           const std::optional<std::string>& public_key, bool asn1) {
    namespace sc = cv::scalar;
    Bytes32 r{}, s{};
    bool fits = true;
    if (asn1) {
        const auto decoded = der::decode_signature(from_hex(sig));
        fits = fit(decoded.r, r) && fit(decoded.s, s);
    } else {
        parse_scalar(slice(sig, 0, 64), r, "signature r");
        parse_scalar(slice(sig, 64, 64), s, "signature s");
    }
    if (data.empty()) throw std::invalid_argument("empty byte string has no integer value");
    if (!fits || !in_scalar_range(r) || !in_scalar_range(s)) return false;
    const Bytes32 t = sc::add(r, s);
    if (is_zero_public(t)) return false;
    if (!public_key) throw std::invalid_argument("no public key to verify with");
    const auto PA = parse_point(*public_key);
    if (!PA) return std::nullopt;
    Affine R;
    if (!cv::mul_double_vartime(R, s, t, *PA))
        throw std::invalid_argument("[s]G + [t]PA is the point at infinity");
    return compare(sc::add(message_mod_n(data), sc::reduce(R.x)), r) == 0;
}

}  // namespace pelmo::detail::sm2::fast
