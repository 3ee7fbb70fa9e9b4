// SM3 compression with the message expansion in AVX-512VL vector registers.
//
// The expansion W[j] = P1(W[j-16] ^ W[j-9] ^ (W[j-3] <<< 15)) ^ (W[j-13] <<< 7) ^ W[j-6]
// is computed four words at a time. The fourth word depends on the first through
// W[j-3], so it is computed with that term missing and then corrected: P1 is linear
// over XOR, so the missing contribution is P1(W[j] <<< 15). Taking the expansion off
// the scalar ports leaves them to the rounds, whose rotates are the bottleneck.
#include <immintrin.h>

#include "sm3/compress.hpp"
#include "sm3/compress_body.hpp"

namespace pelmo::detail::sm3 {

namespace {

inline __m128i p1v(__m128i x) {
    return _mm_ternarylogic_epi32(x, _mm_rol_epi32(x, 15), _mm_rol_epi32(x, 23), 0x96);
}

struct VectorSchedule {
    alignas(16) std::uint32_t w[68 + 4];
    alignas(16) std::uint32_t w1[64];  // W[j] ^ W[j+4]

    explicit VectorSchedule(const std::uint8_t* p) {
        const __m128i bswap = _mm_set_epi8(12, 13, 14, 15, 8, 9, 10, 11, 4, 5, 6, 7, 0, 1, 2, 3);
        for (int i = 0; i < 4; ++i) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
            _mm_store_si128(reinterpret_cast<__m128i*>(w + 4 * i), _mm_shuffle_epi8(v, bswap));
        }
        // The last 16 words live in four registers, so no load waits on a store.
        __m128i v0 = _mm_load_si128(reinterpret_cast<const __m128i*>(w));
        __m128i v1 = _mm_load_si128(reinterpret_cast<const __m128i*>(w + 4));
        __m128i v2 = _mm_load_si128(reinterpret_cast<const __m128i*>(w + 8));
        __m128i v3 = _mm_load_si128(reinterpret_cast<const __m128i*>(w + 12));
#pragma GCC unroll 13
        for (int j = 16; j < 68; j += 4) {
            const __m128i w16 = v0;                           // W[j-16..j-13]
            const __m128i w13 = _mm_alignr_epi8(v1, v0, 12);  // W[j-13..j-10]
            const __m128i w9 = _mm_alignr_epi8(v2, v1, 12);   // W[j-9..j-6]
            const __m128i w6 = _mm_alignr_epi8(v3, v2, 8);    // W[j-6..j-3]
            const __m128i w3 = _mm_srli_si128(v3, 4);         // W[j-3..j-1], W[j] as 0
            const __m128i x = _mm_ternarylogic_epi32(w16, w9, _mm_rol_epi32(w3, 15), 0x96);
            __m128i r = _mm_ternarylogic_epi32(p1v(x), _mm_rol_epi32(w13, 7), w6, 0x96);
            // Lane 3 misses P1(W[j] <<< 15), with W[j] now in lane 0.
            const __m128i fix = p1v(_mm_rol_epi32(_mm_broadcastd_epi32(r), 15));
            r = _mm_mask_xor_epi32(r, 0x8, r, fix);
            _mm_store_si128(reinterpret_cast<__m128i*>(w + j), r);
            // W'[j-16..j-13] = W[j-16..j-13] ^ W[j-12..j-9].
            _mm_store_si128(reinterpret_cast<__m128i*>(w1 + j - 16), _mm_xor_si128(v0, v1));
            v0 = v1, v1 = v2, v2 = v3, v3 = r;
        }
        // The last three quarters of W': v0..v3 now hold W[52..67].
        _mm_store_si128(reinterpret_cast<__m128i*>(w1 + 52), _mm_xor_si128(v0, v1));
        _mm_store_si128(reinterpret_cast<__m128i*>(w1 + 56), _mm_xor_si128(v1, v2));
        _mm_store_si128(reinterpret_cast<__m128i*>(w1 + 60), _mm_xor_si128(v2, v3));
    }
    template <int J>
    [[gnu::always_inline]] void prepare() {}
    template <int J>
    [[gnu::always_inline]] std::uint32_t at() const {
        return w[J];
    }
    template <int J>
    [[gnu::always_inline]] std::uint32_t at1() const {
        return w1[J];
    }
};

}  // namespace

void compress_avx512(std::uint32_t state[8], const std::uint8_t* blocks,
                     std::size_t nblocks) noexcept {
    body::compress_with<VectorSchedule>(state, blocks, nblocks);
}

}  // namespace pelmo::detail::sm3
