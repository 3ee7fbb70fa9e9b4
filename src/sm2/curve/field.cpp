#include "sm2/curve/field.hpp"

namespace pelmo::detail::sm2::curve::fe {

bool from_bytes(Fe& out, const Bytes32& in) noexcept {
    Fe a;
    load_be(a.v, in);
    u64 d[4];
    if (!sub4(d, a.v, kP)) return false;  // a >= p
    out = to_mont(a);
    return true;
}

Bytes32 to_bytes(const Fe& a) noexcept {
    const Fe plain = from_mont(a);
    return store_be(plain.v);
}

namespace {

// Powers x^(2^k - 1) shared by the inversion and the square root, whose exponents
// p - 2 and (p + 1)/4 both start with 31 ones, a zero and 128 ones.
struct Ladder {
    Fe x1, x2, x31, x62, x128;
};

Ladder ladder(const Fe& x) noexcept {
    Ladder l;
    l.x1 = x;
    l.x2 = mul(sqr(x), x);
    const Fe x3 = mul(sqr(l.x2), x);
    const Fe x6 = mul(sqr_n(x3, 3), x3);
    const Fe x12 = mul(sqr_n(x6, 6), x6);
    const Fe x24 = mul(sqr_n(x12, 12), x12);
    const Fe x30 = mul(sqr_n(x24, 6), x6);
    l.x31 = mul(sqr(x30), x);
    const Fe x32 = mul(sqr(l.x31), x);
    l.x62 = mul(sqr_n(x32, 30), x30);
    const Fe x64 = mul(sqr_n(l.x62, 2), l.x2);
    l.x128 = mul(sqr_n(x64, 64), x64);
    return l;
}

}  // namespace

Fe inv(const Fe& a) noexcept {
    // p - 2 = 1^31 0 1^128 0^32 1^62 0 1 (bits from the top).
    const Ladder l = ladder(a);
    Fe t = mul(sqr_n(l.x31, 129), l.x128);
    t = sqr_n(t, 32);
    t = mul(sqr_n(t, 62), l.x62);
    t = mul(sqr_n(t, 2), l.x1);
    return t;
}

bool sqrt(Fe& out, const Fe& a) noexcept {
    // (p + 1)/4 = 1^31 0 1^128 0^31 1 0^62 (254 bits).
    const Ladder l = ladder(a);
    Fe t = mul(sqr_n(l.x31, 129), l.x128);
    t = mul(sqr_n(t, 32), l.x1);
    t = sqr_n(t, 62);
    out = t;
    return eq(sqr(t), a) != 0;
}

}  // namespace pelmo::detail::sm2::curve::fe
