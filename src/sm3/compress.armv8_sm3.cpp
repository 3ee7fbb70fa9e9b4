// SM3 compression with the ARMv8 SM3 instructions.
//
// The state is two registers, A..D and E..H with A and E in the top lane (where the
// instructions read them). A round is SM3SS1 (SS1 from A, E and the rotated constant),
// SM3TT1A/B (the new A..D, taking W'[j] by lane) and SM3TT2A/B (the new E..H, taking
// W[j]); rounds 0..15 use the A forms (XOR as FF and GG), rounds 16..63 the B forms
// (majority and choice). The message schedule is four words per register: SM3PARTW1 and
// SM3PARTW2 make W[j..j+3] from the four registers before it, with EXTs lining up
// W[j-13], W[j-9] and W[j-6]; each group is expanded four rounds before it is used.
#include <arm_neon.h>

#include "sm3/compress.hpp"

namespace pelmo::detail::sm3 {
namespace {

constexpr std::uint32_t rol(std::uint32_t x, int n) {
    return (x << (n & 31)) | (x >> ((32 - n) & 31));
}

/// T_j <<< j at index j + 3, so the register loaded from index j holds round j's
/// constant in its top lane, where SM3SS1 reads it.
struct RoundConstants {
    alignas(16) std::uint32_t t[64 + 3];
};
constexpr RoundConstants make_round_constants() {
    RoundConstants c{};
    for (int j = 0; j < 64; ++j) c.t[j + 3] = rol(j < 16 ? 0x79cc4519u : 0x7a879d8au, j % 32);
    return c;
}
inline constexpr RoundConstants kRoundConstants = make_round_constants();

/// Round J, whose W[J] and W'[J] are lane I of w and wp; t is kRoundConstants.t.
template <int J, int I>
[[gnu::always_inline]] inline void round(const std::uint32_t* t, uint32x4_t& abcd, uint32x4_t& efgh,
                                         uint32x4_t w, uint32x4_t wp) {
    const uint32x4_t ss1 = vsm3ss1q_u32(abcd, efgh, vld1q_u32(t + J));
    if constexpr (J < 16) {
        abcd = vsm3tt1aq_u32(abcd, ss1, wp, I);
        efgh = vsm3tt2aq_u32(efgh, ss1, w, I);
    } else {
        abcd = vsm3tt1bq_u32(abcd, ss1, wp, I);
        efgh = vsm3tt2bq_u32(efgh, ss1, w, I);
    }
}

/// W[j..j+3] from W[j-16..j-1] in w0..w3 (four words each, oldest in lane 0).
[[gnu::always_inline]] inline uint32x4_t expand(uint32x4_t w0, uint32x4_t w1, uint32x4_t w2,
                                                uint32x4_t w3) {
    const uint32x4_t w9 = vextq_u32(w1, w2, 3);   // W[j-9..j-6]
    const uint32x4_t w13 = vextq_u32(w0, w1, 3);  // W[j-13..j-10]
    const uint32x4_t w6 = vextq_u32(w2, w3, 2);   // W[j-6..j-3]
    return vsm3partw2q_u32(vsm3partw1q_u32(w9, w0, w3), w6, w13);
}

/// Groups G..15 of four rounds; w[g] holds W[4g..4g+3] once expanded.
template <int G>
[[gnu::always_inline]] inline void groups(const std::uint32_t* t, uint32x4_t (&w)[17],
                                          uint32x4_t& abcd, uint32x4_t& efgh) {
    if constexpr (G < 16) {
        if constexpr (G + 4 <= 16) w[G + 4] = expand(w[G], w[G + 1], w[G + 2], w[G + 3]);
        const uint32x4_t wp = veorq_u32(w[G], w[G + 1]);  // W'[j] = W[j] ^ W[j+4]
        round<4 * G, 0>(t, abcd, efgh, w[G], wp);
        round<4 * G + 1, 1>(t, abcd, efgh, w[G], wp);
        round<4 * G + 2, 2>(t, abcd, efgh, w[G], wp);
        round<4 * G + 3, 3>(t, abcd, efgh, w[G], wp);
        groups<G + 1>(t, w, abcd, efgh);
    }
}

/// Four state words in lanes 0..3 <-> the same words in lanes 3..0.
inline uint32x4_t reverse_lanes(uint32x4_t v) {
    const uint32x4_t r = vrev64q_u32(v);
    return vextq_u32(r, r, 2);
}

}  // namespace

void compress_armv8_sm3(std::uint32_t state[8], const std::uint8_t* blocks,
                        std::size_t nblocks) noexcept {
    uint32x4_t abcd = reverse_lanes(vld1q_u32(state));
    uint32x4_t efgh = reverse_lanes(vld1q_u32(state + 4));
    const std::uint32_t* t = kRoundConstants.t;
    for (; nblocks > 0; --nblocks, blocks += 64) {
        // The constants are loaded in their rounds from one base register (immediate
        // offsets), not hoisted out of the loop (64 registers' worth, which would spill)
        // nor addressed one by one.
        asm("" : "+r"(t));
        uint32x4_t w[17];
#pragma GCC unroll 4
        for (int i = 0; i < 4; ++i)
            w[i] = vreinterpretq_u32_u8(vrev32q_u8(vld1q_u8(blocks + 16 * i)));
        const uint32x4_t abcd0 = abcd, efgh0 = efgh;
        groups<0>(t, w, abcd, efgh);
        abcd = veorq_u32(abcd, abcd0);
        efgh = veorq_u32(efgh, efgh0);
    }
    vst1q_u32(state, reverse_lanes(abcd));
    vst1q_u32(state + 4, reverse_lanes(efgh));
}

}  // namespace pelmo::detail::sm3
