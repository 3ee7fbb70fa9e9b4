// SM4 through AES-NI with AVX2: eight blocks per group of four ymm registers, two groups
// in flight, the S-box through two xmm AESENCLASTs between PSHUFB nibble-table affine
// maps. Single blocks and CBC encryption use the xmm path of the AES-NI kernel.
#define PELMO_SM4_TARGET

#include "sm4/kernels/simd.hpp"

#include "sm4/kernels/kernel.hpp"

namespace pelmo::detail::sm4 {
namespace {

inline __m128i ld(const std::uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline __m256i ld2(const std::uint8_t* p) {
    return _mm256_broadcastsi128_si256(ld(p));
}

inline void split_nibbles(__m256i v, __m256i& lo, __m256i& hi) {
    const __m256i mask = _mm256_set1_epi8(0x0f);
    lo = _mm256_and_si256(v, mask);
    hi = _mm256_and_si256(_mm256_srli_epi16(v, 4), mask);
}

inline __m256i nibble_affine(__m256i lo, __m256i hi, const affine::NibbleTables& t) {
    return _mm256_xor_si256(_mm256_shuffle_epi8(ld2(t.lo.data()), lo),
                            _mm256_shuffle_epi8(ld2(t.hi.data()), hi));
}

inline __m256i affine_map(__m256i v, const affine::NibbleTables& t) {
    __m256i lo, hi;
    split_nibbles(v, lo, hi);
    return nibble_affine(lo, hi, t);
}

struct AesY {
    using V = __m256i;
    static constexpr std::size_t kBlocks = 2;

    static V load(const std::uint8_t* p) {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    }
    static void store(std::uint8_t* p, V v) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
    }
    static V bcast(std::uint32_t w) { return _mm256_set1_epi32(static_cast<int>(w)); }
    static V xor2(V a, V b) { return _mm256_xor_si256(a, b); }
    static V xor3(V a, V b, V c) { return _mm256_xor_si256(_mm256_xor_si256(a, b), c); }
    static V unpacklo32(V a, V b) { return _mm256_unpacklo_epi32(a, b); }
    static V unpackhi32(V a, V b) { return _mm256_unpackhi_epi32(a, b); }
    static V unpacklo64(V a, V b) { return _mm256_unpacklo_epi64(a, b); }
    static V unpackhi64(V a, V b) { return _mm256_unpackhi_epi64(a, b); }
    static V bswap(V v) { return _mm256_shuffle_epi8(v, ld2(kMasks.bswap)); }
    static V to_domain(V v) { return affine_map(v, kAesTables.to_domain); }
    static V from_domain(V v) { return affine_map(v, kAesTables.from_domain); }

    static void nonlinear(V z, V& a0, V& a12, V& a3) {
        const __m128i zero = _mm_setzero_si128();
        const __m128i lo128 = _mm_aesenclast_si128(_mm256_castsi256_si128(z), zero);
        const __m128i hi128 = _mm_aesenclast_si128(_mm256_extracti128_si256(z, 1), zero);
        const V sb = _mm256_inserti128_si256(_mm256_castsi128_si256(lo128), hi128, 1);
        V lo, hi;
        split_nibbles(sb, lo, hi);
        a0 = nibble_affine(lo, hi, kAesTables.a0);
        a12 = nibble_affine(lo, hi, kAesTables.a12);
        a3 = nibble_affine(lo, hi, kAesTables.a3);
    }
    static V term0(V a) { return _mm256_shuffle_epi8(a, ld2(kMasks.isr)); }
    static V rot8(V a) { return _mm256_shuffle_epi8(a, ld2(kMasks.isr_rot8)); }
    static V rot16(V a) { return _mm256_shuffle_epi8(a, ld2(kMasks.isr_rot16)); }
    static V rot24(V a) { return _mm256_shuffle_epi8(a, ld2(kMasks.isr_rot24)); }

    /// [iv, block 0].
    static V first_prev(__m128i iv, const std::uint8_t* in) {
        return _mm256_inserti128_si256(_mm256_castsi128_si256(iv), ld(in), 1);
    }

    static void domain_keys(const std::uint32_t rk[32], DomainKeys& dk) {
        for (int i = 0; i < 32; i += 8) {
            const V k = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rk + i));
            _mm256_store_si256(reinterpret_cast<__m256i*>(dk.k + i),
                               affine_map(k, kAesTables.sbox_in));
        }
    }
};

void ecb(const std::uint32_t rk[32], const std::uint8_t* in, std::uint8_t* out,
         std::size_t n) noexcept {
    if (n == 1) return aesni_ecb_serial(rk, in, out, n);
    ecb_many<AesY, 2>(rk, in, out, n);
}

void cbc_decrypt(const std::uint32_t rk[32], std::uint8_t iv[16], const std::uint8_t* in,
                 std::uint8_t* out, std::size_t n) noexcept {
    cbc_decrypt_many<AesY, 2>(rk, iv, in, out, n);
}

}  // namespace

const Kernel kAesniAvx2 = {"aesni_avx2",      aesni_tau,   aesni_expand_key, ecb,
                           aesni_cbc_encrypt, cbc_decrypt, nullptr};

}  // namespace pelmo::detail::sm4
