// Arithmetic modulo p = 2^256 - 2^224 - 2^96 + 2^64 - 1, the SM2 field prime.
//
// Elements are kept in Montgomery form a*R mod p with R = 2^256, fully reduced (< p),
// as four 64-bit limbs. Because p = -1 mod 2^64, the Montgomery factor of each
// reduction round is simply the lowest limb, and adding that multiple of p needs no
// multiplication: m*p = m*2^256 - m*2^224 - m*2^96 + m*2^64 - m is shifts and
// subtractions. Everything here is constant time except where a name says vartime.
#pragma once

#include <cstdint>

#include "sm2/curve/limbs.hpp"
#include "sm2/curve/modinv.hpp"

namespace pelmo::detail::sm2::curve {

/// A field element in Montgomery form, always < p.
struct Fe {
    u64 v[4];
};

namespace fe {

inline constexpr u64 kP[4] = {0xffffffffffffffffULL, 0xffffffff00000000ULL, 0xffffffffffffffffULL,
                              0xfffffffeffffffffULL};
/// R mod p: the Montgomery form of 1.
inline constexpr Fe kOne = {
    {0x0000000000000001ULL, 0x00000000ffffffffULL, 0x0000000000000000ULL, 0x0000000100000000ULL}};
inline constexpr Fe kZero = {{0, 0, 0, 0}};
/// R^2 mod p, to enter the Montgomery domain.
inline constexpr Fe kR2 = {
    {0x0000000200000003ULL, 0x00000002ffffffffULL, 0x0000000100000001ULL, 0x0000000400000002ULL}};
/// The curve coefficient b in Montgomery form.
inline constexpr Fe kB = {
    {0x90d230632bc0dd42ULL, 0x71cf379ae9b537abULL, 0x527981505ea51c3cULL, 0x240fe188ba20e2c8ULL}};

/// Montgomery reduction of the 512-bit t (t < p * 2^256): t / 2^256 mod p, fully reduced.
PELMO_INLINE Fe reduce(const u64 t[8]) noexcept {
    u64 r0 = t[0], r1 = t[1], r2 = t[2], r3 = t[3];
    PELMO_UNROLL
    for (int i = 0; i < 4; ++i) {
        // r <- (r + m*p) / 2^64 with m = r0. Relative to the next limb, m*p adds
        // m*2^192 + m - (m*2^32)*(2^128 + 1); the result stays below 2^256.
        const u64 m = r0;
        const u64 lo = m << 32, hi = m >> 32;
        u64 c = 0, b = 0;
        u64 s0 = addc(r1, m, 0, c);
        u64 s1 = addc(r2, 0, c, c);
        u64 s2 = addc(r3, 0, c, c);
        u64 s3 = m + c;
        r0 = subb(s0, lo, 0, b);
        r1 = subb(s1, hi, b, b);
        r2 = subb(s2, lo, b, b);
        r3 = subb(s3, hi, b, b);
    }
    // r <= p and t_hi < p: one conditional subtraction finishes.
    u64 c = 0;
    u64 s[4];
    s[0] = addc(r0, t[4], 0, c);
    s[1] = addc(r1, t[5], c, c);
    s[2] = addc(r2, t[6], c, c);
    s[3] = addc(r3, t[7], c, c);
    Fe out;
    reduce_once(out.v, s, c, kP);
    return out;
}

/// a * b / R mod p.
PELMO_INLINE Fe mul(const Fe& a, const Fe& b) noexcept {
    // Row by row: t += a * b_i, the low and high halves of the four partial
    // products added as two separate carry chains.
    u64 t[8];
    u64 h[4], l[4], c;
    PELMO_UNROLL
    for (int j = 0; j < 4; ++j) l[j] = mul_wide(a.v[j], b.v[0], h[j]);
    t[0] = l[0];
    t[1] = addc(l[1], h[0], 0, c);
    t[2] = addc(l[2], h[1], c, c);
    t[3] = addc(l[3], h[2], c, c);
    t[4] = h[3] + c;
    PELMO_UNROLL
    for (int i = 1; i < 4; ++i) {
        PELMO_UNROLL
        for (int j = 0; j < 4; ++j) l[j] = mul_wide(a.v[j], b.v[i], h[j]);
        t[i] = addc(t[i], l[0], 0, c);
        t[i + 1] = addc(t[i + 1], l[1], c, c);
        t[i + 2] = addc(t[i + 2], l[2], c, c);
        t[i + 3] = addc(t[i + 3], l[3], c, c);
        t[i + 4] = c;
        t[i + 1] = addc(t[i + 1], h[0], 0, c);
        t[i + 2] = addc(t[i + 2], h[1], c, c);
        t[i + 3] = addc(t[i + 3], h[2], c, c);
        t[i + 4] = addc(t[i + 4], h[3], c, c);
    }
    return reduce(t);
}

/// a^2 / R mod p.
PELMO_INLINE Fe sqr(const Fe& a) noexcept {
    const u64* x = a.v;
    u64 t[8];
    u64 h, c;
    // Cross products x_i * x_j (i < j) into t[1..6].
    t[1] = mul_wide(x[0], x[1], h);
    u128 acc = static_cast<u128>(x[0]) * x[2] + h;
    t[2] = static_cast<u64>(acc);
    acc = static_cast<u128>(x[0]) * x[3] + static_cast<u64>(acc >> 64);
    t[3] = static_cast<u64>(acc);
    t[4] = static_cast<u64>(acc >> 64);
    acc = static_cast<u128>(x[1]) * x[2] + t[3];
    t[3] = static_cast<u64>(acc);
    acc = static_cast<u128>(x[1]) * x[3] + t[4] + static_cast<u64>(acc >> 64);
    t[4] = static_cast<u64>(acc);
    t[5] = static_cast<u64>(acc >> 64);
    acc = static_cast<u128>(x[2]) * x[3] + t[5];
    t[5] = static_cast<u64>(acc);
    t[6] = static_cast<u64>(acc >> 64);
    // Double them.
    t[7] = t[6] >> 63;
    t[6] = (t[6] << 1) | (t[5] >> 63);
    t[5] = (t[5] << 1) | (t[4] >> 63);
    t[4] = (t[4] << 1) | (t[3] >> 63);
    t[3] = (t[3] << 1) | (t[2] >> 63);
    t[2] = (t[2] << 1) | (t[1] >> 63);
    t[1] = t[1] << 1;
    // Add the squares x_i^2 at t[2i].
    u64 s0 = mul_wide(x[0], x[0], h);
    t[0] = s0;
    t[1] = addc(t[1], h, 0, c);
    u64 lo = mul_wide(x[1], x[1], h);
    t[2] = addc(t[2], lo, c, c);
    t[3] = addc(t[3], h, c, c);
    lo = mul_wide(x[2], x[2], h);
    t[4] = addc(t[4], lo, c, c);
    t[5] = addc(t[5], h, c, c);
    lo = mul_wide(x[3], x[3], h);
    t[6] = addc(t[6], lo, c, c);
    t[7] = addc(t[7], h, c, c);
    return reduce(t);
}

PELMO_INLINE Fe add(const Fe& a, const Fe& b) noexcept {
    u64 s[4], c = 0;
    PELMO_UNROLL
    for (int i = 0; i < 4; ++i) s[i] = addc(a.v[i], b.v[i], c, c);
    Fe out;
    reduce_once(out.v, s, c, kP);
    return out;
}

PELMO_INLINE Fe sub(const Fe& a, const Fe& b) noexcept {
    Fe out;
    const u64 borrow = sub4(out.v, a.v, b.v);
    const u64 mask = ct::value_barrier(0 - borrow);
    u64 c = 0;
    PELMO_UNROLL
    for (int i = 0; i < 4; ++i) out.v[i] = addc(out.v[i], kP[i] & mask, c, c);
    return out;
}

/// a/2 mod p: (a + p)/2 for odd a.
PELMO_INLINE Fe half(const Fe& a) noexcept {
    const u64 odd = ct::value_barrier(0 - (a.v[0] & 1));
    u64 t[4], c = 0;
    PELMO_UNROLL
    for (int i = 0; i < 4; ++i) t[i] = addc(a.v[i], kP[i] & odd, c, c);
    Fe out;
    out.v[0] = (t[0] >> 1) | (t[1] << 63);
    out.v[1] = (t[1] >> 1) | (t[2] << 63);
    out.v[2] = (t[2] >> 1) | (t[3] << 63);
    out.v[3] = (t[3] >> 1) | (c << 63);
    return out;
}

PELMO_INLINE Fe neg(const Fe& a) noexcept {
    return sub(kZero, a);
}
PELMO_INLINE Fe dbl(const Fe& a) noexcept {
    return add(a, a);
}

/// All-ones when a = 0.
PELMO_INLINE u64 is_zero(const Fe& a) noexcept {
    return is_zero4(a.v);
}
/// All-ones when a = b.
PELMO_INLINE u64 eq(const Fe& a, const Fe& b) noexcept {
    return ct::is_zero_mask((a.v[0] ^ b.v[0]) | (a.v[1] ^ b.v[1]) | (a.v[2] ^ b.v[2]) |
                            (a.v[3] ^ b.v[3]));
}
/// r = mask ? a : r.
PELMO_INLINE void cmov(Fe& r, const Fe& a, u64 mask) noexcept {
    cmov4(r.v, a.v, mask);
}
/// r = mask ? -r : r.
PELMO_INLINE void cneg(Fe& r, u64 mask) noexcept {
    cmov(r, neg(r), mask);
}

/// Enters the Montgomery domain: a*R mod p (a < p).
PELMO_INLINE Fe to_mont(const Fe& a) noexcept {
    return mul(a, kR2);
}
/// Leaves it: a/R mod p.
PELMO_INLINE Fe from_mont(const Fe& a) noexcept {
    const u64 t[8] = {a.v[0], a.v[1], a.v[2], a.v[3], 0, 0, 0, 0};
    return reduce(t);
}

/// Parses a big-endian value; false (and out unchanged) when it is not below p.
bool from_bytes(Fe& out, const Bytes32& in) noexcept;
/// The canonical big-endian bytes of a.
Bytes32 to_bytes(const Fe& a) noexcept;

}  // namespace fe

/// The portable multiplication kernel. Point arithmetic is written once as templates
/// over a kernel like this one (see field_adx.hpp for the other).
struct FieldPortable {
    static PELMO_INLINE Fe mul(const Fe& a, const Fe& b) noexcept { return fe::mul(a, b); }
    static PELMO_INLINE Fe sqr(const Fe& a) noexcept { return fe::sqr(a); }
    static PELMO_INLINE Fe add(const Fe& a, const Fe& b) noexcept { return fe::add(a, b); }
    static PELMO_INLINE Fe sub(const Fe& a, const Fe& b) noexcept { return fe::sub(a, b); }
    static PELMO_INLINE Fe dbl(const Fe& a) noexcept { return fe::dbl(a); }
    /// 3(a + b), as a multiplication operand (other kernels may leave it above p).
    static PELMO_INLINE Fe triple_sum(const Fe& a, const Fe& b) noexcept {
        const Fe s = fe::add(a, b);
        return fe::add(fe::dbl(s), s);
    }
};

namespace fe {

/// a^(2^n) / R^(2^n - 1) with kernel F: n successive squarings.
template <class F>
Fe sqr_n(Fe a, int n) noexcept {
    for (int i = 0; i < n; ++i) a = F::sqr(a);
    return a;
}

/// Powers x^(2^k - 1) shared by the inversion and the square root, whose exponents
/// p - 2 and (p + 1)/4 both start with 31 ones, a zero and 128 ones.
template <class F>
struct PowerLadder {
    Fe x1, x2, x31, x62, x128;
    explicit PowerLadder(const Fe& x) noexcept {
        x1 = x;
        x2 = F::mul(F::sqr(x), x);
        const Fe x3 = F::mul(F::sqr(x2), x);
        const Fe x6 = F::mul(sqr_n<F>(x3, 3), x3);
        const Fe x12 = F::mul(sqr_n<F>(x6, 6), x6);
        const Fe x24 = F::mul(sqr_n<F>(x12, 12), x12);
        const Fe x30 = F::mul(sqr_n<F>(x24, 6), x6);
        x31 = F::mul(F::sqr(x30), x);
        const Fe x32 = F::mul(F::sqr(x31), x);
        x62 = F::mul(sqr_n<F>(x32, 30), x30);
        const Fe x64 = F::mul(sqr_n<F>(x62, 2), x2);
        x128 = F::mul(sqr_n<F>(x64, 64), x64);
    }
};

/// 1/a (0 for a = 0) as a^(p-2), constant time. Slower than inv(); kept as a
/// cross-check.
template <class F>
Fe inv_fermat(const Fe& a) noexcept {
    // p - 2 = 1^31 0 1^128 0^32 1^62 0 1 (bits from the top).
    const PowerLadder<F> l(a);
    Fe t = F::mul(sqr_n<F>(l.x31, 129), l.x128);
    t = sqr_n<F>(t, 32);
    t = F::mul(sqr_n<F>(t, 62), l.x62);
    return F::mul(sqr_n<F>(t, 2), l.x1);
}

/// R^3 mod p: turns the plain inverse of a*R into the Montgomery form of 1/a.
inline constexpr Fe kR3 = {
    {0x0000001200000016ULL, 0x0000000efffffff8ULL, 0x0000000a0000000cULL, 0x0000001b00000009ULL}};

/// 1/a (0 for a = 0), constant time (divsteps, then one multiplication).
template <class F>
Fe inv(const Fe& a) noexcept {
    Fe r;
    modinv::inverse(r.v, a.v, modinv::kFieldP);  // 1/(aR) = a^-1 R^-1
    return F::mul(r, kR3);                       // a^-1 R
}

/// 1/a (0 for a = 0) in variable time, for public a only.
template <class F>
Fe inv_vartime(const Fe& a) noexcept {
    Fe r;
    modinv::inverse_vartime(r.v, a.v, modinv::kFieldP);
    return F::mul(r, kR3);
}

/// The square root a^((p+1)/4) (p = 3 mod 4); true iff it squares back to a.
/// Branch-free, though its callers only use it on public values.
template <class F>
bool sqrt(Fe& out, const Fe& a) noexcept {
    // (p + 1)/4 = 1^31 0 1^128 0^31 1 0^62 (254 bits).
    const PowerLadder<F> l(a);
    Fe t = F::mul(sqr_n<F>(l.x31, 129), l.x128);
    t = F::mul(sqr_n<F>(t, 32), l.x1);
    t = sqr_n<F>(t, 62);
    out = t;
    return eq(F::sqr(t), a) != 0;
}

}  // namespace fe
}  // namespace pelmo::detail::sm2::curve
