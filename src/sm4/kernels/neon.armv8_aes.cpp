// SM4 on 64-bit ARM Advanced SIMD with the AES instructions, for cores without SM4E:
// the S-box is AESE (with the round key as its key, so the key addition is free) between
// TBL nibble-table affine maps, as the x86 AES-NI kernel does with AESENCLAST and PSHUFB.
// Four blocks are transposed into the four lanes of four registers, so each register
// holds one word of four blocks; two such groups (eight blocks) are in flight. TBL
// indexes registers, not memory, so nothing depends on secret data but the values.
#define PELMO_SM4_TARGET

#include "sm4/kernels/simd.hpp"

#include "sm4/kernels/kernel.hpp"

namespace pelmo::detail::sm4 {
namespace {

inline uint8x16_t ld(const std::uint8_t* p) {
    return vld1q_u8(p);
}

/// f(v) for an affine byte map given by its nibble tables. TBL gives 0 for an index
/// past the table, which the nibbles never are.
inline uint8x16_t nibble_affine(uint8x16_t lo, uint8x16_t hi, const affine::NibbleTables& t) {
    return veorq_u8(vqtbl1q_u8(ld(t.lo.data()), lo), vqtbl1q_u8(ld(t.hi.data()), hi));
}

inline void split_nibbles(uint8x16_t v, uint8x16_t& lo, uint8x16_t& hi) {
    lo = vandq_u8(v, vdupq_n_u8(0x0f));
    hi = vshrq_n_u8(v, 4);
}

inline uint8x16_t affine_map(uint8x16_t v, const affine::NibbleTables& t) {
    uint8x16_t lo, hi;
    split_nibbles(v, lo, hi);
    return nibble_affine(lo, hi, t);
}

inline uint32x4_t u32(uint8x16_t v) {
    return vreinterpretq_u32_u8(v);
}
inline uint64x2_t u64(uint8x16_t v) {
    return vreinterpretq_u64_u8(v);
}

struct NeonAes {
    using V = uint8x16_t;
    static constexpr std::size_t kBlocks = 1;

    static V load(const std::uint8_t* p) { return ld(p); }
    static void store(std::uint8_t* p, V v) { vst1q_u8(p, v); }
    static V bcast(std::uint32_t w) { return vreinterpretq_u8_u32(vdupq_n_u32(w)); }
    static V xor2(V a, V b) { return veorq_u8(a, b); }
    static V xor3(V a, V b, V c) { return veorq_u8(veorq_u8(a, b), c); }
    static V unpacklo32(V a, V b) { return vreinterpretq_u8_u32(vzip1q_u32(u32(a), u32(b))); }
    static V unpackhi32(V a, V b) { return vreinterpretq_u8_u32(vzip2q_u32(u32(a), u32(b))); }
    static V unpacklo64(V a, V b) { return vreinterpretq_u8_u64(vzip1q_u64(u64(a), u64(b))); }
    static V unpackhi64(V a, V b) { return vreinterpretq_u8_u64(vzip2q_u64(u64(a), u64(b))); }
    static V bswap(V v) { return vrev32q_u8(v); }
    static V to_domain(V v) { return affine_map(v, kAesTables.to_domain); }
    static V from_domain(V v) { return affine_map(v, kAesTables.from_domain); }

    /// AESE adds its key, then applies SubBytes and ShiftRows (undone by the placement
    /// shuffles).
    static void nonlinear_keyed(V z, V k, V& a0, V& a12, V& a3) {
        const V sb = vaeseq_u8(z, k);
        V lo, hi;
        split_nibbles(sb, lo, hi);
        a0 = nibble_affine(lo, hi, kAesTables.a0);
        a12 = nibble_affine(lo, hi, kAesTables.a12);
        a3 = nibble_affine(lo, hi, kAesTables.a3);
    }
    static V term0(V a) { return vqtbl1q_u8(a, ld(kMasks.isr)); }
    static V rot8(V a) { return vqtbl1q_u8(a, ld(kMasks.isr_rot8)); }
    static V rot16(V a) { return vqtbl1q_u8(a, ld(kMasks.isr_rot16)); }
    static V rot24(V a) { return vqtbl1q_u8(a, ld(kMasks.isr_rot24)); }

    static V first_prev(V iv, const std::uint8_t*) { return iv; }

    static void domain_keys(const std::uint32_t rk[32], DomainKeys& dk) {
        for (int i = 0; i < 32; i += 4) {
            const V k = vreinterpretq_u8_u32(vld1q_u32(rk + i));
            vst1q_u32(dk.k + i, vreinterpretq_u32_u8(affine_map(k, kAesTables.sbox_in)));
        }
    }
};

std::uint32_t tau(std::uint32_t x) noexcept {
    const uint8x16_t z = affine_map(NeonAes::bcast(x), kAesTables.sbox_in);
    const uint8x16_t sb = NeonAes::term0(vaeseq_u8(z, vdupq_n_u8(0)));
    return vgetq_lane_u32(u32(affine_map(sb, kAesTables.sbox_out)), 0);
}

void expand_key(const std::uint8_t key[16], std::uint32_t rk[32]) noexcept {
    expand_key_with(tau, key, rk);
}

void ecb(const std::uint32_t rk[32], const std::uint8_t* in, std::uint8_t* out,
         std::size_t n) noexcept {
    if (n == 1) return ecb_serial<NeonAes>(rk, in, out, n);
    ecb_many<NeonAes, 2>(rk, in, out, n);
}

void cbc_encrypt(const std::uint32_t rk[32], std::uint8_t iv[16], const std::uint8_t* in,
                 std::uint8_t* out, std::size_t n) noexcept {
    cbc_encrypt_serial<NeonAes>(rk, iv, in, out, n);
}

void cbc_decrypt(const std::uint32_t rk[32], std::uint8_t iv[16], const std::uint8_t* in,
                 std::uint8_t* out, std::size_t n) noexcept {
    cbc_decrypt_many<NeonAes, 2>(rk, iv, in, out, n);
}

}  // namespace

const Kernel kNeonAes = {"neon_aes", tau, expand_key, ecb, cbc_encrypt, cbc_decrypt, nullptr};

}  // namespace pelmo::detail::sm4
