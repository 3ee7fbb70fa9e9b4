// SM4 through AES-NI on xmm registers (SSSE3 + AES-NI, no AVX): the S-box is
// AESENCLAST between PSHUFB nibble-table affine maps, so no step indexes memory with
// key or data. Also the single-block, CBC-encryption and S-box path of the AVX2 kernel.
//
// Functions carry a target attribute instead of the file carrying -m flags, so that
// nothing here is VEX-encoded and the kernel runs on AES-NI CPUs without AVX.
#define PELMO_SM4_TARGET __attribute__((target("aes,ssse3")))

#include "sm4/kernels/simd.hpp"

#include "sm4/kernels/kernel.hpp"

namespace pelmo::detail::sm4 {
namespace {

PELMO_SM4_TARGET inline __m128i ld(const std::uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

/// f(v) for an affine byte map given by its nibble tables.
PELMO_SM4_TARGET inline __m128i nibble_affine(__m128i lo, __m128i hi,
                                              const affine::NibbleTables& t) {
    return _mm_xor_si128(_mm_shuffle_epi8(ld(t.lo.data()), lo),
                         _mm_shuffle_epi8(ld(t.hi.data()), hi));
}

PELMO_SM4_TARGET inline void split_nibbles(__m128i v, __m128i& lo, __m128i& hi) {
    const __m128i mask = _mm_set1_epi8(0x0f);
    lo = _mm_and_si128(v, mask);
    hi = _mm_and_si128(_mm_srli_epi16(v, 4), mask);
}

PELMO_SM4_TARGET inline __m128i affine_map(__m128i v, const affine::NibbleTables& t) {
    __m128i lo, hi;
    split_nibbles(v, lo, hi);
    return nibble_affine(lo, hi, t);
}

struct AesX {
    using V = __m128i;
    static constexpr std::size_t kBlocks = 1;

    PELMO_SM4_TARGET static V load(const std::uint8_t* p) { return ld(p); }
    PELMO_SM4_TARGET static void store(std::uint8_t* p, V v) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
    }
    PELMO_SM4_TARGET static V bcast(std::uint32_t w) { return _mm_set1_epi32(static_cast<int>(w)); }
    PELMO_SM4_TARGET static V xor2(V a, V b) { return _mm_xor_si128(a, b); }
    PELMO_SM4_TARGET static V xor3(V a, V b, V c) { return _mm_xor_si128(_mm_xor_si128(a, b), c); }
    PELMO_SM4_TARGET static V unpacklo32(V a, V b) { return _mm_unpacklo_epi32(a, b); }
    PELMO_SM4_TARGET static V unpackhi32(V a, V b) { return _mm_unpackhi_epi32(a, b); }
    PELMO_SM4_TARGET static V unpacklo64(V a, V b) { return _mm_unpacklo_epi64(a, b); }
    PELMO_SM4_TARGET static V unpackhi64(V a, V b) { return _mm_unpackhi_epi64(a, b); }
    PELMO_SM4_TARGET static V bswap(V v) { return _mm_shuffle_epi8(v, ld(kMasks.bswap)); }
    PELMO_SM4_TARGET static V to_domain(V v) { return affine_map(v, kAesTables.to_domain); }
    PELMO_SM4_TARGET static V from_domain(V v) { return affine_map(v, kAesTables.from_domain); }

    PELMO_SM4_TARGET static void nonlinear(V z, V& a0, V& a12, V& a3) {
        // SubBytes of every byte (then ShiftRows, undone by the placement shuffles).
        const V sb = _mm_aesenclast_si128(z, _mm_setzero_si128());
        V lo, hi;
        split_nibbles(sb, lo, hi);
        a0 = nibble_affine(lo, hi, kAesTables.a0);
        a12 = nibble_affine(lo, hi, kAesTables.a12);
        a3 = nibble_affine(lo, hi, kAesTables.a3);
    }
    PELMO_SM4_TARGET static V term0(V a) { return _mm_shuffle_epi8(a, ld(kMasks.isr)); }
    PELMO_SM4_TARGET static V rot8(V a) { return _mm_shuffle_epi8(a, ld(kMasks.isr_rot8)); }
    PELMO_SM4_TARGET static V rot16(V a) { return _mm_shuffle_epi8(a, ld(kMasks.isr_rot16)); }
    PELMO_SM4_TARGET static V rot24(V a) { return _mm_shuffle_epi8(a, ld(kMasks.isr_rot24)); }

    PELMO_SM4_TARGET static V first_prev(__m128i iv, const std::uint8_t*) { return iv; }

    PELMO_SM4_TARGET static void domain_keys(const std::uint32_t rk[32], DomainKeys& dk) {
        for (int i = 0; i < 32; i += 4) {
            const V k = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rk + i));
            _mm_store_si128(reinterpret_cast<__m128i*>(dk.k + i),
                            affine_map(k, kAesTables.sbox_in));
        }
    }
};

}  // namespace

PELMO_SM4_TARGET std::uint32_t aesni_tau(std::uint32_t x) noexcept {
    const __m128i z = affine_map(_mm_cvtsi32_si128(static_cast<int>(x)), kAesTables.sbox_in);
    const __m128i sb =
        _mm_shuffle_epi8(_mm_aesenclast_si128(z, _mm_setzero_si128()), ld(kMasks.isr));
    return static_cast<std::uint32_t>(_mm_cvtsi128_si32(affine_map(sb, kAesTables.sbox_out)));
}

void aesni_expand_key(const std::uint8_t key[16], std::uint32_t rk[32]) noexcept {
    expand_key_with(aesni_tau, key, rk);
}

void aesni_ecb_serial(const std::uint32_t rk[32], const std::uint8_t* in, std::uint8_t* out,
                      std::size_t n) noexcept {
    ecb_serial<AesX>(rk, in, out, n);
}

void aesni_cbc_encrypt(const std::uint32_t rk[32], std::uint8_t iv[16], const std::uint8_t* in,
                       std::uint8_t* out, std::size_t n) noexcept {
    cbc_encrypt_serial<AesX>(rk, iv, in, out, n);
}

namespace {

void ecb(const std::uint32_t rk[32], const std::uint8_t* in, std::uint8_t* out,
         std::size_t n) noexcept {
    if (n == 1) return ecb_serial<AesX>(rk, in, out, n);
    ecb_many<AesX, 2>(rk, in, out, n);
}

void cbc_decrypt(const std::uint32_t rk[32], std::uint8_t iv[16], const std::uint8_t* in,
                 std::uint8_t* out, std::size_t n) noexcept {
    cbc_decrypt_many<AesX, 2>(rk, iv, in, out, n);
}

}  // namespace

const Kernel kAesni = {"aesni",           aesni_tau,   aesni_expand_key, ecb,
                       aesni_cbc_encrypt, cbc_decrypt, nullptr};

}  // namespace pelmo::detail::sm4
