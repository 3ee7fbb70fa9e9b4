#include "sm2/curve/scalar.hpp"

#include "sm2/curve/modinv.hpp"

namespace pelmo::detail::sm2::curve {

namespace sc {

Sc inv_fermat(const Sc& a) noexcept {
    // a^(n-2) by fixed 4-bit windows over the public exponent, in the Montgomery domain.
    static constexpr u64 kExp[4] = {kN[0] - 2, kN[1], kN[2], kN[3]};
    Sc table[16];
    table[1] = mont_mul(a, kR2);  // a*R
    const Sc one_m = mont_mul(Sc{{1, 0, 0, 0}}, kR2);
    table[0] = one_m;
    for (int i = 2; i < 16; ++i) table[i] = mont_mul(table[i - 1], table[1]);
    Sc acc = one_m;
    for (int w = 63; w >= 0; --w) {
        for (int s = 0; s < 4; ++s) acc = mont_mul(acc, acc);
        const unsigned digit = static_cast<unsigned>(kExp[w / 16] >> (4 * (w % 16))) & 15u;
        acc = mont_mul(acc, table[digit]);  // the exponent is public
    }
    return mont_mul(acc, Sc{{1, 0, 0, 0}});  // leave the Montgomery domain
}

Sc inv(const Sc& a) noexcept {
    Sc r;
    modinv::inverse(r.v, a.v, modinv::kOrderN);
    return r;
}

}  // namespace sc

namespace scalar {

namespace {
// Inputs are reduced on the way in (one conditional subtraction, constant time), so
// a value of n or more, outside the documented domain, still gives the result mod n.
Sc load(const Bytes32& b) noexcept {
    u64 v[4];
    load_be(v, b);
    return sc::reduce(v);
}
}  // namespace

Bytes32 reduce(const Bytes32& a) noexcept {
    return store_be(load(a).v);
}
Bytes32 add(const Bytes32& a, const Bytes32& b) noexcept {
    return store_be(sc::add(load(a), load(b)).v);
}
Bytes32 sub(const Bytes32& a, const Bytes32& b) noexcept {
    return store_be(sc::sub(load(a), load(b)).v);
}
Bytes32 mul(const Bytes32& a, const Bytes32& b) noexcept {
    return store_be(sc::mul(load(a), load(b)).v);
}
Bytes32 inv(const Bytes32& a) noexcept {
    return store_be(sc::inv(load(a)).v);
}

}  // namespace scalar

}  // namespace pelmo::detail::sm2::curve
