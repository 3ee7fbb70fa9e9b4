// Arithmetic modulo n, the order of the SM2 base point, constant time throughout.
//
// Scalars are plain (not Montgomery) four-limb values below n; multiplication goes
// through Montgomery's reduction with a second multiplication by R^2 to come back.
#pragma once

#include "sm2/curve/limbs.hpp"

namespace pelmo::detail::sm2::curve {

/// A scalar, < n unless a function says otherwise.
struct Sc {
    u64 v[4];
};

namespace sc {

inline constexpr u64 kN[4] = {0x53bbf40939d54123ULL, 0x7203df6b21c6052bULL, 0xffffffffffffffffULL,
                              0xfffffffeffffffffULL};
/// -1/n mod 2^64.
inline constexpr u64 kN0 = 0x327f9e8872350975ULL;
/// R^2 mod n (R = 2^256).
inline constexpr Sc kR2 = {
    {0x901192af7c114f20ULL, 0x3464504ade6fa2faULL, 0x620fc84c3affe0d4ULL, 0x1eb5e412a22b3d3bULL}};

/// a mod n for any 256-bit a (n > 2^255, so one conditional subtraction).
PELMO_INLINE Sc reduce(const u64 a[4]) noexcept {
    Sc r;
    reduce_once(r.v, a, 0, kN);
    return r;
}

PELMO_INLINE Sc add(const Sc& a, const Sc& b) noexcept {
    u64 s[4], c = 0;
    PELMO_UNROLL
    for (int i = 0; i < 4; ++i) s[i] = addc(a.v[i], b.v[i], c, c);
    Sc r;
    reduce_once(r.v, s, c, kN);
    return r;
}

PELMO_INLINE Sc sub(const Sc& a, const Sc& b) noexcept {
    Sc r;
    const u64 mask = ct::value_barrier(0 - sub4(r.v, a.v, b.v));
    u64 c = 0;
    PELMO_UNROLL
    for (int i = 0; i < 4; ++i) r.v[i] = addc(r.v[i], kN[i] & mask, c, c);
    return r;
}

PELMO_INLINE Sc neg(const Sc& a) noexcept {
    return sub(Sc{{0, 0, 0, 0}}, a);
}

/// a * b / R mod n (CIOS Montgomery multiplication).
PELMO_INLINE Sc mont_mul(const Sc& a, const Sc& b) noexcept {
    u64 t[6] = {0, 0, 0, 0, 0, 0};
    PELMO_UNROLL
    for (int i = 0; i < 4; ++i) {
        u64 c = 0;
        PELMO_UNROLL
        for (int j = 0; j < 4; ++j) {
            const u128 p = static_cast<u128>(a.v[j]) * b.v[i] + t[j] + c;
            t[j] = static_cast<u64>(p);
            c = static_cast<u64>(p >> 64);
        }
        t[4] = addc(t[4], c, 0, t[5]);
        const u64 m = t[0] * kN0;
        u128 p = static_cast<u128>(m) * kN[0] + t[0];
        c = static_cast<u64>(p >> 64);
        PELMO_UNROLL
        for (int j = 1; j < 4; ++j) {
            p = static_cast<u128>(m) * kN[j] + t[j] + c;
            t[j - 1] = static_cast<u64>(p);
            c = static_cast<u64>(p >> 64);
        }
        t[3] = addc(t[4], c, 0, c);
        t[4] = t[5] + c;
    }
    Sc r;
    reduce_once(r.v, t, t[4], kN);
    return r;
}

/// a * b mod n.
PELMO_INLINE Sc mul(const Sc& a, const Sc& b) noexcept {
    return mont_mul(mont_mul(a, b), kR2);
}

/// 1/a mod n (0 for a = 0), constant time (divsteps).
Sc inv(const Sc& a) noexcept;
/// The same as a^(n-2); slower, kept as a cross-check.
Sc inv_fermat(const Sc& a) noexcept;

PELMO_INLINE u64 is_zero(const Sc& a) noexcept {
    return is_zero4(a.v);
}

}  // namespace sc
}  // namespace pelmo::detail::sm2::curve
