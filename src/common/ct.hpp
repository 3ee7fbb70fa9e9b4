// Constant-time helpers and the hooks of the constant-time check.
//
// The check (tests/ct) runs the secret-handling code under valgrind's memcheck
// with the secrets marked undefined: any branch or memory index that depends on
// them is then reported as a use of uninitialised data. `classify` marks a secret,
// `declassify` marks a value that is safe to publish (a signature, a result's
// validity). Outside valgrind both are no-ops costing a few instructions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#if defined(PELMO_CT_CHECK)
#include <valgrind/memcheck.h>
#endif

namespace pelmo::detail::ct {

inline void classify([[maybe_unused]] const void* p, [[maybe_unused]] std::size_t n) noexcept {
#if defined(PELMO_CT_CHECK)
    VALGRIND_MAKE_MEM_UNDEFINED(p, n);
#endif
}

inline void declassify([[maybe_unused]] const void* p, [[maybe_unused]] std::size_t n) noexcept {
#if defined(PELMO_CT_CHECK)
    VALGRIND_MAKE_MEM_DEFINED(p, n);
#endif
}

/// All-ones when x == 0, else zero, without a branch.
inline std::uint64_t is_zero_mask(std::uint64_t x) noexcept {
    return ~(0 - ((x | (0 - x)) >> 63));
}
/// All-ones when a == b.
inline std::uint64_t eq_mask(std::uint64_t a, std::uint64_t b) noexcept {
    return is_zero_mask(a ^ b);
}
/// -1 (all ones) when lo <= c <= hi, else 0, for c, lo and hi in 0..255: both
/// differences are negative exactly when c lies in the range.
constexpr int byte_in_range(int c, int lo, int hi) noexcept {
    return ((lo - 1 - c) & (c - (hi + 1))) >> 8;
}
/// An optimisation barrier: the compiler cannot see through v, so it cannot turn
/// mask arithmetic back into a branch.
inline std::uint64_t value_barrier(std::uint64_t v) noexcept {
    __asm__("" : "+r"(v));
    return v;
}

/// All-ones when the big-endian number a is below b (a and b of equal length): the
/// borrow out of a - b, computed over every byte.
inline std::uint64_t less_mask(std::span<const std::uint8_t> a,
                               std::span<const std::uint8_t> b) noexcept {
    int borrow = 0;
    for (std::size_t i = a.size(); i-- > 0;) borrow = ((a[i] - b[i] - borrow) >> 8) & 1;
    return 0 - static_cast<std::uint64_t>(borrow);
}
/// All-ones when some byte of a is not zero.
inline std::uint64_t nonzero_mask(std::span<const std::uint8_t> a) noexcept {
    std::uint64_t acc = 0;
    for (std::uint8_t v : a) acc |= v;
    return ~is_zero_mask(acc);
}

/// Compares two equal-length buffers in time independent of their content.
inline bool equal(const std::uint8_t* a, const std::uint8_t* b, std::size_t n) noexcept {
    std::uint8_t diff = 0;
    for (std::size_t i = 0; i < n; ++i) diff |= static_cast<std::uint8_t>(a[i] ^ b[i]);
    return value_barrier(diff) == 0;
}

}  // namespace pelmo::detail::ct
