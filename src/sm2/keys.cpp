#include "sm2/keys.hpp"

#include <stdexcept>

#include "common/ct.hpp"
#include "common/hex.hpp"
#include "common/random.hpp"
#include "sm2/fast.hpp"

namespace pelmo::detail::sm2 {

namespace {

namespace cv = curve;

std::string recommended_scalar(ScalarRange range) {
    // Below n - 1 (private keys) or below n (nonces), and not zero.
    cv::Bytes32 bound = cv::kN;
    if (range == ScalarRange::private_key) bound[31] = static_cast<std::uint8_t>(bound[31] - 1);
    cv::Bytes32 v;
    for (;;) {
        random_bytes(v);
        ct::classify(v.data(), v.size());
        std::uint64_t ok = ct::nonzero_mask(v) & ct::less_mask(v, bound);
        ct::declassify(&ok, sizeof ok);  // a rejected draw reveals nothing of the kept one
        if (ok != 0) break;
    }
    std::string out = to_hex(v);
    v.fill(0);
    return out;
}

std::string generic_scalar(const Curve& c, ScalarRange range) {
    const BigInt bound = c.n() - (range == ScalarRange::private_key ? 2 : 1);
    if (bound < 1) throw std::invalid_argument("curve order n is too small to draw a scalar from");
    const std::size_t bits = mpz_sizeinbase(bound.get_mpz_t(), 2);
    Bytes raw((bits + 7) / 8);
    BigInt v;
    for (;;) {
        random_bytes(raw);
        raw[0] &= static_cast<std::uint8_t>(0xff >> (8 * raw.size() - bits));
        mpz_import(v.get_mpz_t(), raw.size(), 1, 1, 1, 0, raw.data());
        if (v >= 1 && v <= bound) break;
    }
    std::fill(raw.begin(), raw.end(), 0);
    return int_to_hex(v, c.para_len);
}

}  // namespace

std::string random_scalar_hex(const Curve& c, ScalarRange range) {
    return c.recommended ? recommended_scalar(range) : generic_scalar(c, range);
}

std::string public_key_of(const pelmo::sm2::CryptSM2& engine, std::string_view d) {
    const Curve& c = EngineAccess::curve(engine);
    std::optional<std::string> Q;
    if (c.recommended && !d.empty() && d.size() <= 64) {
        const auto G = fast::parse_point(c.entry("g"));
        cv::Bytes32 k;
        fast::parse_scalar(d, k, "private key");
        if (const auto P = fast::kg(k, *G)) Q = fast::format_point(*P);
        k.fill(0);
    } else {
        Q = engine._kg(parse_hex_int(d, "private key"), c.entry("g"));
    }
    if (!Q) throw std::invalid_argument("the private key gives the point at infinity");
    ct::declassify(Q->data(), Q->size());  // a public key
    return *Q;
}

}  // namespace pelmo::detail::sm2
