// Constant-time modular inversion by Bernstein and Yang's divsteps ("safegcd").
//
// Numbers are five signed limbs of 62 bits. Each batch of 59 division steps works on
// the low 64 bits of f and g only and yields a 2x2 transition matrix scaled by 2^62,
// which is then applied to the full f, g and to the Bezout coefficients d, e (modulo
// the modulus). Ten batches, 590 steps, suffice for every input below 2^256, so the
// running time does not depend on the input. Invariants: d*x = f and e*x = g modulo M;
// at the end g = 0 and f = +-1. The variable-time variant takes batches of 62 steps
// until g = 0, skipping runs of zero bits and cancelling several bits at once.
#pragma once

#include <cstdint>

#include "sm2/curve/limbs.hpp"

namespace pelmo::detail::sm2::curve::modinv {

struct Signed62 {
    std::int64_t v[5];
};

struct Modulus {
    Signed62 m;         // the odd modulus
    std::uint64_t inv;  // m^-1 mod 2^62
};

/// The field prime p and the group order n.
inline constexpr Modulus kFieldP = {{{0x3fffffffffffffffLL, 0x3ffffffc00000003LL,
                                      0x3fffffffffffffffLL, 0x3fffffbfffffffffLL, 0xffLL}},
                                    0x3fffffffffffffffULL};
inline constexpr Modulus kOrderN = {{{0x13bbf40939d54123LL, 0x080f7dac871814adLL,
                                      0x3ffffffffffffff7LL, 0x3fffffbfffffffffLL, 0xffLL}},
                                    0x0d8061778dcaf68bULL};

/// 1/x mod M for x < M (0 for x = 0), constant time. x and the result are four
/// 64-bit limbs.
void inverse(u64 out[4], const u64 x[4], const Modulus& mod) noexcept;

/// The same inverse in variable time, about twice as fast: for public x only.
void inverse_vartime(u64 out[4], const u64 x[4], const Modulus& mod) noexcept;

}  // namespace pelmo::detail::sm2::curve::modinv
