// SM3 compression split between the two kinds of execution unit: the message
// schedule in xmm registers (AVX2), the rounds in general-purpose registers (BMI2).
//
// Why split: the scalar kernels expand a message word per round on the integer
// ports that also carry the round's ~26 operations, and the AVX-512 kernel keeps
// the rounds in vector registers, which is fast where vector operations take one
// cycle (Intel) and slow where they take two (AMD Zen 5). Here the integer ports
// run the rounds alone, and the vector ports, otherwise idle, expand four words at
// a time a few rounds before they are needed.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "sm3/compress.hpp"
#include "sm3/compress_body.hpp"

namespace pelmo::detail::sm3 {

namespace {

using V = __m128i;

// The rotations below only ever meet other terms through XOR, so the two shifted
// halves of each are XORed in separately instead of being ORed together first.
template <int N>
[[gnu::always_inline]] inline V xor_rol(V x, V acc) {
    return _mm_xor_si128(acc, _mm_xor_si128(_mm_slli_epi32(x, N), _mm_srli_epi32(x, 32 - N)));
}
// P1(x) = x ^ (x <<< 15) ^ (x <<< 23).
[[gnu::always_inline]] inline V p1(V x) {
    return xor_rol<23>(x, xor_rol<15>(x, x));
}
// P1(x <<< 15) = (x <<< 15) ^ (x <<< 30) ^ (x <<< 6).
[[gnu::always_inline]] inline V p1_rol15(V x) {
    return xor_rol<6>(x, xor_rol<30>(x, xor_rol<15>(x, _mm_setzero_si128())));
}
[[gnu::always_inline]] inline V rol7(V x) {
    return _mm_or_si128(_mm_slli_epi32(x, 7), _mm_srli_epi32(x, 25));
}

// The schedule of one block, W[0..67] and W'[0..63], stored for the rounds, which
// read each word as a memory operand of an add (one instruction; moving it from a
// vector register would take two, on ports the rounds need).
//
// Words 0..15 are loaded when the block starts; words j..j+3 (j = 16, 20, .., 64)
// are expanded kLead rounds before round j - 4, the first to read W[j] (into
// W'[j - 4]), which hides the expansion's latency behind rounds. A larger lead
// measured slower: the first words then delay the block's first rounds.
struct VectorSchedule {
    static constexpr int kLead = 8;

    alignas(16) std::uint32_t w[68];
    alignas(16) std::uint32_t w1[64];
    V x0, x1, x2, x3;  // W[j-16..j-1] for the next four words j..j+3

    explicit VectorSchedule(const std::uint8_t* p) {
        const V bswap = _mm_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12);
        const auto load = [&](int i) {
            return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const V*>(p + 16 * i)), bswap);
        };
        x0 = load(0), x1 = load(1), x2 = load(2), x3 = load(3);
        store(w, x0), store(w + 4, x1), store(w + 8, x2), store(w + 12, x3);
        store(w1, _mm_xor_si128(x0, x1));
        store(w1 + 4, _mm_xor_si128(x1, x2));
        store(w1 + 8, _mm_xor_si128(x2, x3));
    }

    static void store(std::uint32_t* at, V x) { _mm_store_si128(reinterpret_cast<V*>(at), x); }

    // Words j..j+3 from the sixteen before them. Expansion is linear in XOR:
    // W[j] = P1(W[j-16] ^ W[j-9]) ^ (W[j-13] <<< 7) ^ W[j-6] ^ P1(W[j-3] <<< 15),
    // and only the last term depends on words of the same step.
    template <int j>
    [[gnu::always_inline]] void expand() {
        const V w13 = _mm_alignr_epi8(x1, x0, 12);  // W[j-13..j-10]
        const V w9 = _mm_alignr_epi8(x2, x1, 12);   // W[j-9..j-6]
        const V w6 = _mm_alignr_epi8(x3, x2, 8);    // W[j-6..j-3]
        const V w3 = _mm_srli_si128(x3, 4);         // W[j-3..j-1], 0
        V n = _mm_xor_si128(p1(_mm_xor_si128(x0, w9)), _mm_xor_si128(rol7(w13), w6));
        n = _mm_xor_si128(n, p1_rol15(w3));
        // Lane 3 (W[j+3]) still lacks the term of W[j], which lane 0 has just become.
        n = _mm_xor_si128(n, p1_rol15(_mm_slli_si128(n, 12)));
        store(w + j, n);
        store(w1 + j - 4, _mm_xor_si128(x3, n));
        x0 = x1, x1 = x2, x2 = x3, x3 = n;
    }

    // For the scalar body's rounds, which unoptimised builds use (see compress_split).
    template <int J>
    [[gnu::always_inline]] std::uint32_t at() const {
        return w[J];
    }
    template <int J>
    [[gnu::always_inline]] std::uint32_t at1() const {
        return w1[J];
    }

    // Called before round J.
    template <int J>
    [[gnu::always_inline]] void prepare() {
        constexpr int j = J + kLead + 4;
        if constexpr (j % 4 == 0 && j >= 16 && j < 68) expand<j>();
    }
};

// One round in general-purpose registers, written out in assembly: compiled from
// C++ it took about 40 instructions with register copies and spills, and this core
// dispatches too few instructions a cycle for those to be free; here it takes 32
// (26 of them on the integer ports), with W[j] and W'[j] as memory operands.
//
// Besides the state, rounds pass on X = TT2 ^ (TT2 <<< 9) and R17 = TT2 <<< 17 of
// the round before, of which E = P0(TT2) = X ^ R17. From round 16 on, GG(E, F, G)
// = G ^ (E & (F ^ G)) is computed as (G ^ (R17 & FG)) ^ (X & FG): AND distributes
// over XOR, so GG no longer waits for E and the chain that paces the rounds,
// E -> SS1 -> TT2 -> P0 -> E, shrinks from 7 cycles to 6 (add, rotate, add, rotate,
// XOR, XOR). R9 is scratch.
//
// The order of the instructions matters although the core runs them out of order:
// with the integer ports about three quarters busy, the chain's instructions going
// first (SS1, GG, TT2, P0, then TT1 and the rotations of B and F) measured ~3%
// faster than the order of the dataflow. TT1 gets SS2 last, as that arrives last.
template <int J, typename Schedule>
[[gnu::always_inline]] inline void round(std::uint32_t a, std::uint32_t& b, std::uint32_t c,
                                         std::uint32_t& d, std::uint32_t e, std::uint32_t& f,
                                         std::uint32_t g, std::uint32_t& h, std::uint32_t& x,
                                         std::uint32_t& r17, const Schedule& s) {
    constexpr auto k = static_cast<std::int32_t>(body::t_rot(J));
    std::uint32_t t, ss1, r9;
// The round's instructions shared by both halves, around GG and FF, which differ.
#define PELMO_SM3_SS1                         \
    "addl %[w], %[h]\n\t"                     \
    "addl %[w1], %[d]\n\t"                    \
    "rorxl $20, %[a], %[t]\n\t"               \
    "leal %c[k](%q[t]), %[ss1]\n\t"           \
    "addl %[e], %[ss1]\n\t"                   \
    "rorxl $25, %[ss1], %[ss1]\n\t" /* SS1 */ \
    "movl %[f], %[r9]\n\t"                    \
    "xorl %[g], %[r9]\n\t"
#define PELMO_SM3_TT2_P0              \
    "addl %[ss1], %[h]\n\t" /* TT2 */ \
    "xorl %[ss1], %[t]\n\t" /* SS2 */ \
    "rorxl $23, %[h], %[r9]\n\t"      \
    "rorxl $15, %[h], %[r17]\n\t"     \
    "xorl %[r9], %[h]\n\t"            \
    "movl %[h], %[x]\n\t"             \
    "xorl %[r17], %[h]\n\t" /* P0(TT2) */
#define PELMO_SM3_TT1_ROTATE        \
    "addl %[t], %[d]\n\t" /* TT1 */ \
    "rorxl $23, %[b], %[b]\n\t"     \
    "rorxl $13, %[f], %[f]"
#define PELMO_SM3_ROUND_INPUTS \
    [a] "r"(a), [c] "r"(c), [e] "r"(e), [g] "r"(g), [w] "m"(s.w[J]), [w1] "m"(s.w1[J]), [k] "i"(k)
    if constexpr (J < 16) {
        asm(PELMO_SM3_SS1
            "xorl %[e], %[r9]\n\t"  // GG = E ^ F ^ G
            "addl %[r9], %[h]\n\t" PELMO_SM3_TT2_P0
            "movl %[a], %[ss1]\n\t"
            "xorl %[b], %[ss1]\n\t"
            "xorl %[c], %[ss1]\n\t"
            "addl %[ss1], %[d]\n\t"  // FF = A ^ B ^ C
            PELMO_SM3_TT1_ROTATE
            : [b] "+r"(b), [d] "+r"(d), [f] "+r"(f), [h] "+r"(h), [x] "=&r"(x), [r17] "=&r"(r17),
              [t] "=&r"(t), [ss1] "=&r"(ss1), [r9] "=&r"(r9)
            : PELMO_SM3_ROUND_INPUTS);
    } else {
        asm(PELMO_SM3_SS1
            "andl %[r9], %[r17]\n\t"
            "xorl %[g], %[r17]\n\t"
            "andl %[r9], %[x]\n\t"
            "xorl %[r17], %[x]\n\t"  // GG
            "addl %[x], %[h]\n\t" PELMO_SM3_TT2_P0
            "movl %[a], %[ss1]\n\t"
            "andl %[b], %[ss1]\n\t"
            "addl %[ss1], %[d]\n\t"
            "movl %[a], %[ss1]\n\t"
            "xorl %[b], %[ss1]\n\t"
            "andl %[c], %[ss1]\n\t"
            "addl %[ss1], %[d]\n\t"  // FF = (A & B) + (C & (A ^ B)): disjoint bits
            PELMO_SM3_TT1_ROTATE
            : [b] "+r"(b), [d] "+r"(d), [f] "+r"(f), [h] "+r"(h), [x] "+r"(x), [r17] "+r"(r17),
              [t] "=&r"(t), [ss1] "=&r"(ss1), [r9] "=&r"(r9)
            : PELMO_SM3_ROUND_INPUTS);
    }
#undef PELMO_SM3_SS1
#undef PELMO_SM3_TT2_P0
#undef PELMO_SM3_TT1_ROTATE
#undef PELMO_SM3_ROUND_INPUTS
}

template <int J, typename Schedule>
[[gnu::always_inline]] inline void rounds(Schedule& s, std::uint32_t& a, std::uint32_t& b,
                                          std::uint32_t& c, std::uint32_t& d, std::uint32_t& e,
                                          std::uint32_t& f, std::uint32_t& g, std::uint32_t& h,
                                          std::uint32_t& x, std::uint32_t& r17) {
    if constexpr (J < 64) {
        s.template prepare<J>();
        round<J>(a, b, c, d, e, f, g, h, x, r17, s);
        // Renaming: the next round's (A..H) are this round's (D, A, B, C, H, E, F, G).
        rounds<J + 1>(s, d, a, b, c, h, e, f, g, x, r17);
    }
}

[[gnu::always_inline]] inline void compress_split(std::uint32_t state[8], const std::uint8_t* p,
                                                  std::size_t nblocks) {
#ifdef __OPTIMIZE__
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (; nblocks > 0; --nblocks, p += 64) {
        VectorSchedule sched(p);
        std::uint32_t ra = a, rb = b, rc = c, rd = d, re = e, rf = f, rg = g, rh = h;
        std::uint32_t x, r17;  // set by round 0
        rounds<0>(sched, ra, rb, rc, rd, re, rf, rg, rh, x, r17);
        // 64 renamings are a multiple of 4, so the names are back in place.
        a ^= ra, b ^= rb, c ^= rc, d ^= rd, e ^= re, f ^= rf, g ^= rg, h ^= rh;
    }
    state[0] = a, state[1] = b, state[2] = c, state[3] = d;
    state[4] = e, state[5] = f, state[6] = g, state[7] = h;
#else
    // Unoptimised, the compiler cannot find the 13 registers the assembly rounds ask
    // for; the scalar body's rounds over the same schedule compute the same.
    body::compress_with<VectorSchedule>(state, p, nblocks);
#endif
}

}  // namespace

void compress_avx2(std::uint32_t state[8], const std::uint8_t* blocks,
                   std::size_t nblocks) noexcept {
    compress_split(state, blocks, nblocks);
}

}  // namespace pelmo::detail::sm3
