// 64-bit limb helpers shared by the field and scalar arithmetic of the SM2 core.
//
// A 256-bit number is four 64-bit limbs, least significant first. Every helper here
// is branch-free; masks are all-ones or all-zero words.
#pragma once

#include <cstdint>

#if defined(__x86_64__)
#include <x86intrin.h>
#endif

#include "common/ct.hpp"
#include "sm2/curve/curve.hpp"

namespace pelmo::detail::sm2::curve {

// The arithmetic is written as short loops over limbs; they must be unrolled and
// inlined into the point formulas to be fast, which -O2 alone does not do.
#define PELMO_UNROLL _Pragma("GCC unroll 8")
#define PELMO_INLINE inline __attribute__((always_inline))

// The BMI2/ADX kernel (field_adx.hpp) is inline assembly with a dozen register
// operands, which unoptimised builds cannot allocate; they use the portable kernel only.
#if defined(__x86_64__) && defined(__OPTIMIZE__)
#define PELMO_SM2_HAVE_ADX 1
#endif

using u64 = std::uint64_t;
__extension__ typedef unsigned __int128 u128;

/// a + b + carry_in; carry_out is 0 or 1.
PELMO_INLINE u64 addc(u64 a, u64 b, u64 carry_in, u64& carry_out) noexcept {
#if defined(__x86_64__)
    unsigned long long r;
    carry_out = _addcarry_u64(static_cast<unsigned char>(carry_in), a, b, &r);
    return r;
#else
    const u128 s = static_cast<u128>(a) + b + carry_in;
    carry_out = static_cast<u64>(s >> 64);
    return static_cast<u64>(s);
#endif
}

/// a - b - borrow_in; borrow_out is 0 or 1.
PELMO_INLINE u64 subb(u64 a, u64 b, u64 borrow_in, u64& borrow_out) noexcept {
#if defined(__x86_64__)
    unsigned long long r;
    borrow_out = _subborrow_u64(static_cast<unsigned char>(borrow_in), a, b, &r);
    return r;
#else
    const u128 d = static_cast<u128>(a) - b - borrow_in;
    borrow_out = static_cast<u64>(d >> 64) & 1u;
    return static_cast<u64>(d);
#endif
}

/// The full 128-bit product a * b as (hi, lo).
PELMO_INLINE u64 mul_wide(u64 a, u64 b, u64& hi) noexcept {
    const u128 p = static_cast<u128>(a) * b;
    hi = static_cast<u64>(p >> 64);
    return static_cast<u64>(p);
}

/// Limbs of a big-endian 32-byte value.
PELMO_INLINE void load_be(u64 out[4], const Bytes32& in) noexcept {
    PELMO_UNROLL
    for (int i = 0; i < 4; ++i) {
        u64 w = 0;
        PELMO_UNROLL
        for (int j = 0; j < 8; ++j) w = (w << 8) | in[static_cast<unsigned>(8 * (3 - i) + j)];
        out[i] = w;
    }
}

/// Big-endian 32 bytes of four limbs.
PELMO_INLINE Bytes32 store_be(const u64 in[4]) noexcept {
    Bytes32 out{};
    PELMO_UNROLL
    for (int i = 0; i < 4; ++i) PELMO_UNROLL
    for (int j = 0; j < 8; ++j)
        out[static_cast<unsigned>(8 * (3 - i) + j)] =
            static_cast<std::uint8_t>(in[i] >> (56 - 8 * j));
    return out;
}

/// r = a - b over four limbs; returns the borrow (0 or 1).
PELMO_INLINE u64 sub4(u64 r[4], const u64 a[4], const u64 b[4]) noexcept {
    u64 borrow = 0;
    PELMO_UNROLL
    for (int i = 0; i < 4; ++i) r[i] = subb(a[i], b[i], borrow, borrow);
    return borrow;
}

/// All-ones when the four limbs are zero.
PELMO_INLINE u64 is_zero4(const u64 a[4]) noexcept {
    return ct::is_zero_mask(a[0] | a[1] | a[2] | a[3]);
}

/// r = mask ? a : r, limb by limb.
PELMO_INLINE void cmov4(u64 r[4], const u64 a[4], u64 mask) noexcept {
    PELMO_UNROLL
    for (int i = 0; i < 4; ++i) r[i] ^= (r[i] ^ a[i]) & mask;
}

/// a mod m for a < 2m (one conditional subtraction); the extra top bit of a is `hi`.
PELMO_INLINE void reduce_once(u64 r[4], const u64 a[4], u64 hi, const u64 m[4]) noexcept {
    u64 d[4];
    const u64 borrow = sub4(d, a, m);
    // Keep a when it was below m, i.e. the subtraction borrowed and no top bit was set.
    const u64 keep = ct::value_barrier(hi - borrow);  // 0 or all-ones
    PELMO_UNROLL
    for (int i = 0; i < 4; ++i) r[i] = (a[i] & keep) | (d[i] & ~keep);
}

}  // namespace pelmo::detail::sm2::curve
