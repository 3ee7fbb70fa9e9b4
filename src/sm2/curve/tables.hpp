// Precomputed multiples of the base point G, generated into tables.cpp by
// tools/gen_sm2_tables (affine points in Montgomery form).
#pragma once

#include "sm2/curve/group.hpp"

namespace pelmo::detail::sm2::curve::tables {

/// Fixed-base comb: k*G as a sum of one entry per window, k recoded into signed
/// digits of kCombBits bits. kComb[j][i] = (i + 1) * 2^(kCombBits * j) * G.
inline constexpr unsigned kCombBits = 6;
inline constexpr unsigned kCombWindows = 43;  // 43 * 6 = 258 bits: k < n plus a carry
inline constexpr unsigned kCombEntries = 1u << (kCombBits - 1);
extern const Aff kComb[kCombWindows][kCombEntries];

/// Odd multiples for the wNAF of the G scalar in verification:
/// kWnafG[i] = (2i + 1) * G, digits up to 2^(kWnafBits - 1) - 1.
inline constexpr unsigned kWnafBits = 10;
inline constexpr unsigned kWnafEntries = 1u << (kWnafBits - 2);
extern const Aff kWnafG[kWnafEntries];

}  // namespace pelmo::detail::sm2::curve::tables
