// GHASH with PCLMULQDQ on xmm registers: four blocks per reduction, each multiplied by the
// power of H that brings it to the end of the group (Horner's rule regrouped), so the four
// products are independent and share one reduction.
//
// Functions carry a target attribute (not VEX-encoded: runs on any CPU with PCLMULQDQ).
#include <immintrin.h>

#include "sm4/ghash.hpp"

#define PELMO_GHASH_TARGET __attribute__((target("pclmul,sse4.1,ssse3")))

namespace pelmo::detail::sm4 {
namespace {

PELMO_GHASH_TARGET inline __m128i load_block(const std::uint8_t* p) {
    // Byte 0 to the top: hi (bytes 0..7, big-endian) in the upper lane.
    const __m128i reverse = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), reverse);
}

PELMO_GHASH_TARGET inline __m128i load_power(const GhashKey& key, std::size_t i) {
    return _mm_load_si128(reinterpret_cast<const __m128i*>(&key.power[i]));
}

/// Adds the unreduced product a * b to lo, mid and hi.
PELMO_GHASH_TARGET inline void mul_add(__m128i a, __m128i b, __m128i& lo, __m128i& mid,
                                       __m128i& hi) {
    lo = _mm_xor_si128(lo, _mm_clmulepi64_si128(a, b, 0x00));
    hi = _mm_xor_si128(hi, _mm_clmulepi64_si128(a, b, 0x11));
    mid = _mm_xor_si128(
        mid, _mm_xor_si128(_mm_clmulepi64_si128(a, b, 0x01), _mm_clmulepi64_si128(a, b, 0x10)));
}

PELMO_GHASH_TARGET inline __m128i reduce(__m128i lo, __m128i mid, __m128i hi) {
    const __m128i w01 = _mm_xor_si128(lo, _mm_slli_si128(mid, 8));
    const __m128i w23 = _mm_xor_si128(hi, _mm_srli_si128(mid, 8));
    const GhashElement r = ghash_reduce(static_cast<std::uint64_t>(_mm_cvtsi128_si64(w01)),
                                        static_cast<std::uint64_t>(_mm_extract_epi64(w01, 1)),
                                        static_cast<std::uint64_t>(_mm_cvtsi128_si64(w23)),
                                        static_cast<std::uint64_t>(_mm_extract_epi64(w23, 1)));
    return _mm_set_epi64x(static_cast<long long>(r.hi), static_cast<long long>(r.lo));
}

/// m blocks (1..16) under one reduction: block j is multiplied by H^(m - j).
PELMO_GHASH_TARGET __m128i pclmul_group(const GhashKey& key, __m128i y, const std::uint8_t* data,
                                        std::size_t m) {
    __m128i lo = _mm_setzero_si128(), mid = lo, hi = lo;
    mul_add(_mm_xor_si128(y, load_block(data)), load_power(key, m - 1), lo, mid, hi);
    for (std::size_t j = 1; j < m; ++j)
        mul_add(load_block(data + 16 * j), load_power(key, m - 1 - j), lo, mid, hi);
    return reduce(lo, mid, hi);
}

PELMO_GHASH_TARGET void pclmul_blocks(const GhashKey& key, GhashElement& y,
                                      const std::uint8_t* data, std::size_t n) noexcept {
    __m128i acc = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&y));
    for (; n >= 4; n -= 4, data += 64) acc = pclmul_group(key, acc, data, 4);
    if (n != 0) acc = pclmul_group(key, acc, data, n);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&y), acc);
}

PELMO_GHASH_TARGET inline GhashElement pclmul_mul(const GhashElement& a, const GhashElement& b) {
    __m128i lo = _mm_setzero_si128(), mid = lo, hi = lo;
    mul_add(_mm_loadu_si128(reinterpret_cast<const __m128i*>(&a)),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(&b)), lo, mid, hi);
    GhashElement r;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&r), reduce(lo, mid, hi));
    return r;
}

}  // namespace

PELMO_GHASH_TARGET void ghash_pclmul_powers(GhashKey& key) noexcept {
    ghash_fill_powers(key, pclmul_mul);
}

const GhashKernel kGhashPclmul = {"pclmul", pclmul_blocks, ghash_pclmul_powers};

}  // namespace pelmo::detail::sm4
