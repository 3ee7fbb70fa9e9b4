// GHASH with VPCLMULQDQ on zmm registers: thirty-two or sixteen blocks (four per register)
// per reduction, block j of a group of m multiplied by H^(m - j); the four lanes' sums are
// folded into one before the reduction. Fewer than sixteen blocks left go to the PCLMULQDQ kernel.
// Built with -mvpclmulqdq (src/CMakeLists.txt) besides the AVX-512 flags of the pattern.
// GCC 12's AVX-512 intrinsics start some results from a deliberately undefined vector, which
// -Wuninitialized reports at every use, though the value never matters.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#include "sm4/ghash.hpp"

namespace pelmo::detail::sm4 {
namespace {

inline __m512i load_blocks(const std::uint8_t* p) {
    // Each 128-bit lane byte-reversed: hi (bytes 0..7, big-endian) in its upper half.
    const __m512i reverse =
        _mm512_broadcast_i32x4(_mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15));
    return _mm512_shuffle_epi8(_mm512_loadu_si512(p), reverse);
}

/// The powers for lanes 0..3 of register r of a group of 4 * regs registers (regs = 4 or
/// 8): H^(4 regs - 4r), ..., H^(4 regs - 3 - 4r).
inline __m512i load_powers(const GhashKey& key, int regs, int r) {
    const auto* p = reinterpret_cast<const __m128i*>(key.power);
    const int top = 4 * regs - 1 - 4 * r;
    __m512i v = _mm512_castsi128_si512(_mm_load_si128(p + top));
    v = _mm512_inserti32x4(v, _mm_load_si128(p + top - 1), 1);
    v = _mm512_inserti32x4(v, _mm_load_si128(p + top - 2), 2);
    return _mm512_inserti32x4(v, _mm_load_si128(p + top - 3), 3);
}

inline __m128i fold_lanes(__m512i v) {
    const __m256i h = _mm256_xor_si256(_mm512_castsi512_si256(v), _mm512_extracti64x4_epi64(v, 1));
    return _mm_xor_si128(_mm256_castsi256_si128(h), _mm256_extracti128_si256(h, 1));
}

/// acc = (acc ^ X_1) H^(4R) ^ X_2 H^(4R - 1) ^ ... ^ X_4R H over the 4R blocks at data, with
/// one reduction. The reduction is the serial part (its latency bounds the loop), so the
/// long form, which halves the reductions per byte, runs whenever 32 blocks are left.
template <int R>
inline __m128i step(const __m512i (&k)[R], __m128i acc, const std::uint8_t* data) {
    __m512i lo = _mm512_setzero_si512(), hi = lo, mid = lo;
#pragma GCC unroll 8
    for (int r = 0; r < R; ++r) {
        __m512i x = load_blocks(data + 64 * r);
        if (r == 0) x = _mm512_xor_si512(x, _mm512_zextsi128_si512(acc));
        lo = _mm512_xor_si512(lo, _mm512_clmulepi64_epi128(x, k[r], 0x00));
        hi = _mm512_xor_si512(hi, _mm512_clmulepi64_epi128(x, k[r], 0x11));
        mid = _mm512_ternarylogic_epi64(mid, _mm512_clmulepi64_epi128(x, k[r], 0x01),
                                        _mm512_clmulepi64_epi128(x, k[r], 0x10), 0x96);
    }
    const __m128i l = fold_lanes(lo), m = fold_lanes(mid), h = fold_lanes(hi);
    const __m128i w01 = _mm_xor_si128(l, _mm_slli_si128(m, 8));
    const __m128i w23 = _mm_xor_si128(h, _mm_srli_si128(m, 8));
    const GhashElement e = ghash_reduce(static_cast<std::uint64_t>(_mm_cvtsi128_si64(w01)),
                                        static_cast<std::uint64_t>(_mm_extract_epi64(w01, 1)),
                                        static_cast<std::uint64_t>(_mm_cvtsi128_si64(w23)),
                                        static_cast<std::uint64_t>(_mm_extract_epi64(w23, 1)));
    return _mm_set_epi64x(static_cast<long long>(e.hi), static_cast<long long>(e.lo));
}

template <int R>
inline void load_all_powers(const GhashKey& key, __m512i (&k)[R]) {
    for (int r = 0; r < R; ++r) k[r] = load_powers(key, R, r);
}

void vpclmul_blocks(const GhashKey& key, GhashElement& y, const std::uint8_t* data,
                    std::size_t n) noexcept {
    static_assert(kGhashPowers >= 32);
    if (n >= 16) {
        __m128i acc = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&y));
        if (n >= 32) {
            __m512i k8[8];
            load_all_powers(key, k8);
            for (; n >= 32; n -= 32, data += 512) acc = step<8>(k8, acc, data);
        }
        if (n >= 16) {
            __m512i k4[4];
            load_all_powers(key, k4);
            acc = step<4>(k4, acc, data);
            n -= 16, data += 256;
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(&y), acc);
    }
    if (n != 0) kGhashPclmul.blocks(key, y, data, n);
}

/// ghash_reduce on each 128-bit lane: w01 holds (w0, w1) and w23 (w2, w3) of each lane's
/// unreduced product. The 256-bit value is shifted left by one, then the part at x^128
/// and up, F = (r0, f), folds back as F + F/x + F/x^2 + F/x^7 (shifts across the lane's
/// two words).
inline __m512i reduce_lanes(__m512i w01, __m512i w23) {
    const __m512i u = _mm512_or_si512(_mm512_slli_epi64(w01, 1),
                                      _mm512_srli_epi64(_mm512_bslli_epi128(w01, 8), 63));
    const __m512i v = _mm512_or_si512(_mm512_slli_epi64(w23, 1),
                                      _mm512_srli_epi64(_mm512_alignr_epi8(w23, w01, 8), 63));
    const __m512i t = _mm512_ternarylogic_epi64(_mm512_slli_epi64(u, 63), _mm512_slli_epi64(u, 62),
                                                _mm512_slli_epi64(u, 57), 0x96);
    const __m512i f = _mm512_xor_si512(u, _mm512_bslli_epi128(t, 8));
    const __m512i g = _mm512_bsrli_epi128(f, 8);
    const __m512i right = _mm512_ternarylogic_epi64(
        _mm512_srli_epi64(f, 1), _mm512_srli_epi64(f, 2), _mm512_srli_epi64(f, 7), 0x96);
    const __m512i left = _mm512_ternarylogic_epi64(
        _mm512_slli_epi64(g, 63), _mm512_slli_epi64(g, 62), _mm512_slli_epi64(g, 57), 0x96);
    return _mm512_ternarylogic_epi64(_mm512_xor_si512(v, f), right, left, 0x96);
}

/// a * b lane by lane.
inline __m512i mul_lanes(__m512i a, __m512i b) {
    const __m512i lo = _mm512_clmulepi64_epi128(a, b, 0x00);
    const __m512i hi = _mm512_clmulepi64_epi128(a, b, 0x11);
    const __m512i mid = _mm512_xor_si512(_mm512_clmulepi64_epi128(a, b, 0x01),
                                         _mm512_clmulepi64_epi128(a, b, 0x10));
    return reduce_lanes(_mm512_xor_si512(lo, _mm512_bslli_epi128(mid, 8)),
                        _mm512_xor_si512(hi, _mm512_bsrli_epi128(mid, 8)));
}

/// Lane 3 of v in every lane.
inline __m512i top_lane(__m512i v) {
    return _mm512_shuffle_i64x2(v, v, 0xff);
}

/// H^1 .. H^32 in five products deep: H^2; H^3 and H^4; then each register of four
/// powers times the highest power so far (H^4, H^8, H^16), two and four at a time.
void vpclmul_powers(GhashKey& key) noexcept {
    static_assert(kGhashPowers == 32);
    auto* p = reinterpret_cast<__m512i*>(key.power);
    const __m512i h = _mm512_broadcast_i32x4(_mm_load_si128(reinterpret_cast<const __m128i*>(p)));
    const __m512i h2 = mul_lanes(h, h);
    // Lanes 2 and 3: H^2 * H and H^2 * H^2; lanes 0 and 1 are H and H^2 themselves.
    const __m512i h34 = mul_lanes(h2, _mm512_mask_blend_epi64(0xc0, h, h2));
    const __m512i l4 = _mm512_mask_blend_epi64(0xf0, _mm512_mask_blend_epi64(0x0c, h, h2), h34);
    const __m512i l8 = mul_lanes(l4, top_lane(l4));
    const __m512i h8 = top_lane(l8);
    const __m512i l12 = mul_lanes(l4, h8), l16 = mul_lanes(l8, h8);
    const __m512i h16 = top_lane(l16);
    _mm512_store_si512(p + 0, l4);
    _mm512_store_si512(p + 1, l8);
    _mm512_store_si512(p + 2, l12);
    _mm512_store_si512(p + 3, l16);
    _mm512_store_si512(p + 4, mul_lanes(l4, h16));
    _mm512_store_si512(p + 5, mul_lanes(l8, h16));
    _mm512_store_si512(p + 6, mul_lanes(l12, h16));
    _mm512_store_si512(p + 7, mul_lanes(l16, h16));
}

}  // namespace

const GhashKernel kGhashVpclmul = {"vpclmul", vpclmul_blocks, vpclmul_powers};

}  // namespace pelmo::detail::sm4
