#include "sm2/keys.hpp"

#include <stdexcept>
#include <utility>

#include "common/ct.hpp"
#include "common/hex.hpp"
#include "common/random.hpp"
#include "common/wipe.hpp"
#include "sm2/fast.hpp"

namespace pelmo::detail::sm2 {

namespace {

namespace cv = curve;

std::string recommended_scalar(ScalarRange range) {
    cv::Bytes32 v;
    const WipeOnExit wipe{v};
    for (;;) {
        random_bytes(v);
        ct::classify(v.data(), v.size());
        std::uint64_t ok = fast::in_range_mask(v, range);
        ct::declassify(&ok, sizeof ok);  // a rejected draw reveals nothing of the kept one
        if (ok != 0) break;
    }
    return to_hex(v);
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
    secure_wipe(raw);
    std::string out = int_to_hex(v, c.para_len);
    secure_wipe(mpz_limbs_modify(v.get_mpz_t(), 0), mpz_size(v.get_mpz_t()) * sizeof(mp_limb_t));
    return out;
}

}  // namespace

std::string random_scalar_hex(const Curve& c, ScalarRange range) {
    return c.recommended ? recommended_scalar(range) : generic_scalar(c, range);
}

std::string public_key_of(const pelmo::sm2::CryptSM2& engine, std::string_view d) {
    const Curve& c = EngineAccess::curve(engine);
    std::optional<std::string> Q;
    bool done = false;
    if (c.recommended) {
        cv::Bytes32 k;
        const WipeOnExit wipe{k};
        if (fast::parse_scalar(d, k, "private key")) {
            const auto G = fast::parse_point(c.entry("g"));
            if (const auto P = fast::kg(k, *G)) Q = fast::format_point(*P);
            done = true;
        }
    }
    // Any other table, or a value of more than 256 bits: the generic path (variable time).
    if (!done) Q = engine._kg(parse_hex_int(d, "private key"), c.entry("g"));
    if (!Q) throw std::invalid_argument("the private key gives the point at infinity");
    ct::declassify(Q->data(), Q->size());  // a public key
    return *Q;
}

std::pair<std::string, std::string> key_pair(const pelmo::sm2::CryptSM2& engine,
                                             const std::optional<std::string>& d_in) {
    std::string d =
        d_in ? *d_in : random_scalar_hex(EngineAccess::curve(engine), ScalarRange::private_key);
    const WipeOnExit wipe{d};  // a copy of the key, or what a move left of it
    std::string Q = public_key_of(engine, d);
    ct::declassify(d.data(), d.size());
    return {std::move(d), std::move(Q)};
}

}  // namespace pelmo::detail::sm2

namespace pelmo::sm2 {

KeyPair CryptSM2::generate_key_pair(const EccTable& ecc_table) {
    const CryptSM2 engine(std::nullopt, std::nullopt, ecc_table);
    auto [d, Q] = detail::sm2::key_pair(engine, std::nullopt);
    return KeyPair{std::move(d), std::move(Q)};
}

}  // namespace pelmo::sm2
