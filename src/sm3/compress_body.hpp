// The body of the SM3 compression function, included by each kernel's translation
// unit so that one source is compiled once per instruction set (plain, BMI2).
//
// Rounds are fully unrolled with the eight registers renamed instead of moved, the
// rotated round constants T_j <<< j are compile-time values, and each round j
// expands message word j+4 so that the expansion overlaps the rounds' dependency
// chain instead of preceding it.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace pelmo::detail::sm3::body {
// Internal linkage: each kernel's translation unit keeps its own copy, so the linker
// can never hand the portable kernel a helper compiled for BMI2 or AVX-512.
namespace {

constexpr std::uint32_t rol(std::uint32_t x, int n) {
    return (x << (n & 31)) | (x >> ((32 - n) & 31));
}

constexpr std::uint32_t t_rot(int j) {
    return rol(j < 16 ? 0x79cc4519u : 0x7a879d8au, j % 32);
}

inline std::uint32_t load_be(const std::uint8_t* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap32(v);
    return v;
}

inline std::uint32_t p0(std::uint32_t x) {
    return x ^ rol(x, 9) ^ rol(x, 17);
}
inline std::uint32_t p1(std::uint32_t x) {
    return x ^ rol(x, 15) ^ rol(x, 23);
}

// W[j] for j >= 16 from the words 16, 13, 9, 6 and 3 places before it.
inline std::uint32_t expand_word(std::uint32_t w16, std::uint32_t w13, std::uint32_t w9,
                                 std::uint32_t w6, std::uint32_t w3) {
    return p1(w16 ^ w9 ^ rol(w3, 15)) ^ rol(w13, 7) ^ w6;
}

// Hides x's value from the optimiser, so that it cannot merge the sum that produced
// x into a later one: the sum stays an instruction of its own, free to run early.
[[gnu::always_inline]] inline std::uint32_t opaque(std::uint32_t x) {
    asm("" : "+r"(x));
    return x;
}

template <int J>
[[gnu::always_inline]] inline void round(std::uint32_t a, std::uint32_t& b, std::uint32_t c,
                                         std::uint32_t& d, std::uint32_t e, std::uint32_t& f,
                                         std::uint32_t g, std::uint32_t& h, std::uint32_t wj,
                                         std::uint32_t w1j) {
    // E sets the pace (E -> SS1 -> TT2 -> P0 -> E), so every sum it enters is arranged
    // for E to arrive last: A <<< 12 plus the constant, H + W[j] and D + W'[j] are
    // formed while E is in flight, and kept apart, as the compiler would otherwise
    // merge A <<< 12 + constant + E into a three-operand LEA (2 cycles on AMD Zen
    // where an add takes 1) and add W[j] after SS1.
    const std::uint32_t a12 = rol(a, 12);
    const std::uint32_t ss1 = rol(opaque(a12 + t_rot(J)) + e, 7);
    const std::uint32_t ss2 = ss1 ^ a12;
    std::uint32_t ff, gg;
    if constexpr (J < 16) {
        ff = a ^ b ^ c;
        gg = e ^ (f ^ g);
    } else {
        ff = (a & b) | ((a | b) & c);
        gg = ((f ^ g) & e) ^ g;
    }
    const std::uint32_t tt1 = (ff + opaque(d + w1j)) + ss2;
    const std::uint32_t tt2 = (gg + opaque(h + wj)) + ss1;
    b = rol(b, 9);
    d = tt1;
    f = rol(f, 19);
    h = p0(tt2);
}

// Message schedules. Round j reads W[j] and W'[j] = W[j] ^ W[j+4] from its schedule.
//
// ScalarSchedule expands in the rounds themselves: round j computes W[j+4], which
// overlaps the expansion with the rounds' dependency chain.
struct ScalarSchedule {
    std::uint32_t w[16];
    explicit ScalarSchedule(const std::uint8_t* p) {
        for (int i = 0; i < 16; ++i) w[i] = load_be(p + 4 * i);
    }
    template <int J>
    [[gnu::always_inline]] void prepare() {
        constexpr int j = J + 4;  // indices below are modulo 16, the window's size
        if constexpr (j >= 16 && j < 68)
            w[j & 15] = expand_word(w[(j - 16) & 15], w[(j - 13) & 15], w[(j - 9) & 15],
                                    w[(j - 6) & 15], w[(j - 3) & 15]);
    }
    template <int J>
    [[gnu::always_inline]] std::uint32_t at() const {
        return w[J & 15];
    }
    template <int J>
    [[gnu::always_inline]] std::uint32_t at1() const {
        return w[J & 15] ^ w[(J + 4) & 15];
    }
};

template <int J, typename Schedule>
[[gnu::always_inline]] inline void rounds(Schedule& s, std::uint32_t& a, std::uint32_t& b,
                                          std::uint32_t& c, std::uint32_t& d, std::uint32_t& e,
                                          std::uint32_t& f, std::uint32_t& g, std::uint32_t& h) {
    if constexpr (J < 64) {
        s.template prepare<J>();
        round<J>(a, b, c, d, e, f, g, h, s.template at<J>(), s.template at1<J>());
        // Renaming: the next round's (A..H) are this round's (D, A, B, C, H, E, F, G).
        rounds<J + 1>(s, d, a, b, c, h, e, f, g);
    }
}

/// Compresses nblocks blocks, building each block's message schedule with Schedule.
template <typename Schedule>
[[gnu::always_inline]] inline void compress_with(std::uint32_t state[8], const std::uint8_t* p,
                                                 std::size_t nblocks) {
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (; nblocks > 0; --nblocks, p += 64) {
        Schedule sched(p);
        std::uint32_t ra = a, rb = b, rc = c, rd = d, re = e, rf = f, rg = g, rh = h;
        rounds<0>(sched, ra, rb, rc, rd, re, rf, rg, rh);
        // 64 renamings are a multiple of 4, so the names are back in place.
        a ^= ra, b ^= rb, c ^= rc, d ^= rd, e ^= re, f ^= rf, g ^= rg, h ^= rh;
    }
    state[0] = a, state[1] = b, state[2] = c, state[3] = d;
    state[4] = e, state[5] = f, state[6] = g, state[7] = h;
}

inline void compress(std::uint32_t state[8], const std::uint8_t* p, std::size_t nblocks) {
    compress_with<ScalarSchedule>(state, p, nblocks);
}

}  // namespace
}  // namespace pelmo::detail::sm3::body
