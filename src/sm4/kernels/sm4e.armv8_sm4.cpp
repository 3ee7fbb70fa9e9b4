// SM4 with the ARMv8 SM4 instructions: SM4E runs four rounds on a block held as four
// 32-bit lanes, SM4EKEY four steps of the key schedule. A block is eight SM4Es in a
// dependency chain, so ECB and CBC decryption keep eight independent blocks in flight
// (four, two and one for the tail) to cover the instruction's latency; CBC encryption
// is a chain and runs one block at a time. Nothing here reads memory at secret indices.
#include <arm_neon.h>

#include <bit>
#include <utility>

#include "sm4/constants.hpp"
#include "sm4/kernels/kernel.hpp"

namespace pelmo::detail::sm4 {
namespace {

/// L^-1 as a sum of rotations (bit k of the mask for a rotation by k bits). L is a sum
/// of five rotations; over GF(2) squaring distributes over sums, so L^32 is the sum of
/// the five rotations to the 32nd power, five identities, which is the identity, and
/// L^-1 = L^31.
constexpr std::uint32_t rotation_product(std::uint32_t a, std::uint32_t b) {
    std::uint32_t r = 0;
    for (int k = 0; k < 32; ++k)
        if ((b >> k) & 1u) r ^= std::rotl(a, k);
    return r;
}
constexpr std::uint32_t inverse_l_mask() {
    constexpr std::uint32_t l = linear_l(1);
    std::uint32_t r = 1;
    for (int i = 0; i < 31; ++i) r = rotation_product(r, l);
    return r;
}
inline constexpr std::uint32_t kInverseL = inverse_l_mask();

template <std::size_t... K>
constexpr std::uint32_t inverse_l(std::uint32_t x, std::index_sequence<K...>) {
    return ((((kInverseL >> K) & 1u) != 0 ? std::rotl(x, static_cast<int>(K)) : 0u) ^ ...);
}
/// L^-1(x): one rotation and XOR per bit of the mask.
constexpr std::uint32_t inverse_l(std::uint32_t x) {
    return inverse_l(x, std::make_index_sequence<32>());
}
static_assert(inverse_l(linear_l(0x12345678u)) == 0x12345678u);
static_assert(linear_l(inverse_l(0x9abcdef0u)) == 0x9abcdef0u);

/// A block's big-endian words in lanes 0..3.
inline uint32x4_t load_words(const std::uint8_t* p) {
    return vreinterpretq_u32_u8(vrev32q_u8(vld1q_u8(p)));
}

/// The output block X35 X34 X33 X32 (big-endian) from X32..X35 in lanes 0..3: all
/// sixteen bytes reversed.
inline uint8x16_t output_block(uint32x4_t x) {
    const uint8x16_t r = vrev64q_u8(vreinterpretq_u8_u32(x));
    return vextq_u8(r, r, 8);
}

/// The 32 round keys, four per register in round order.
struct RoundKeys {
    uint32x4_t k[8];
    explicit RoundKeys(const std::uint32_t rk[32]) {
#pragma GCC unroll 8
        for (int i = 0; i < 8; ++i) k[i] = vld1q_u32(rk + 4 * i);
    }
};

/// The 32 rounds on B blocks, SM4E by SM4E across the blocks.
template <int B>
[[gnu::always_inline]] inline void rounds(const RoundKeys& rk, uint32x4_t (&x)[B]) {
#pragma GCC unroll 8
    for (int i = 0; i < 8; ++i)
#pragma GCC unroll 8
        for (int b = 0; b < B; ++b) x[b] = vsm4eq_u32(x[b], rk.k[i]);
}

template <int B>
[[gnu::always_inline]] inline void ecb_blocks(const RoundKeys& rk, const std::uint8_t* in,
                                              std::uint8_t* out) {
    uint32x4_t x[B];
#pragma GCC unroll 8
    for (int b = 0; b < B; ++b) x[b] = load_words(in + 16 * b);
    rounds<B>(rk, x);
#pragma GCC unroll 8
    for (int b = 0; b < B; ++b) vst1q_u8(out + 16 * b, output_block(x[b]));
}

/// CBC decryption of B blocks after the chaining value `chain`. Every ciphertext block
/// is read before any output is stored, so in == out works.
template <int B>
[[gnu::always_inline]] inline void cbc_decrypt_blocks(const RoundKeys& rk, uint8x16_t& chain,
                                                      const std::uint8_t* in, std::uint8_t* out) {
    uint8x16_t c[B];
    uint32x4_t x[B];
#pragma GCC unroll 8
    for (int b = 0; b < B; ++b) {
        c[b] = vld1q_u8(in + 16 * b);
        x[b] = vreinterpretq_u32_u8(vrev32q_u8(c[b]));
    }
    rounds<B>(rk, x);
    vst1q_u8(out, veorq_u8(output_block(x[0]), chain));
#pragma GCC unroll 8
    for (int b = 1; b < B; ++b) vst1q_u8(out + 16 * b, veorq_u8(output_block(x[b]), c[b - 1]));
    chain = c[B - 1];
}

std::uint32_t tau(std::uint32_t x) noexcept {
    // One SM4E round from the zero state with x as its round key leaves L(S(x)) in
    // lane 0 (the other three rounds only touch lanes 1..3).
    const uint32x4_t zero = vdupq_n_u32(0);
    const uint32x4_t r = vsm4eq_u32(zero, vsetq_lane_u32(x, zero, 0));
    return inverse_l(vgetq_lane_u32(r, 0));
}

void expand_key(const std::uint8_t key[16], std::uint32_t rk[32]) noexcept {
    uint32x4_t k = veorq_u32(load_words(key), vld1q_u32(kFk.data()));
#pragma GCC unroll 8
    for (int i = 0; i < 8; ++i) {
        k = vsm4ekeyq_u32(k, vld1q_u32(kCk.data() + 4 * i));
        vst1q_u32(rk + 4 * i, k);
    }
}

void ecb(const std::uint32_t rk[32], const std::uint8_t* in, std::uint8_t* out,
         std::size_t n) noexcept {
    const RoundKeys keys(rk);
    for (; n >= 8; n -= 8, in += 128, out += 128) ecb_blocks<8>(keys, in, out);
    if (n & 4) ecb_blocks<4>(keys, in, out), in += 64, out += 64;
    if (n & 2) ecb_blocks<2>(keys, in, out), in += 32, out += 32;
    if (n & 1) ecb_blocks<1>(keys, in, out);
}

void cbc_encrypt(const std::uint32_t rk[32], std::uint8_t iv[16], const std::uint8_t* in,
                 std::uint8_t* out, std::size_t n) noexcept {
    if (n == 0) return;
    const RoundKeys keys(rk);
    // The chaining value as words: the previous block's X35..X32, which is its state
    // X32..X35 with the lanes reversed (one TBL on the chain's critical path).
    static constexpr std::uint8_t kReverseLanes[16] = {12, 13, 14, 15, 8, 9, 10, 11,
                                                       4,  5,  6,  7,  0, 1, 2,  3};
    const uint8x16_t reverse = vld1q_u8(kReverseLanes);
    uint32x4_t chain = load_words(iv);
    uint8x16_t last = vdupq_n_u8(0);
    for (; n > 0; --n, in += 16, out += 16) {
        uint32x4_t x[1] = {veorq_u32(load_words(in), chain)};
        rounds<1>(keys, x);
        chain = vreinterpretq_u32_u8(vqtbl1q_u8(vreinterpretq_u8_u32(x[0]), reverse));
        last = output_block(x[0]);
        vst1q_u8(out, last);
    }
    vst1q_u8(iv, last);
}

void cbc_decrypt(const std::uint32_t rk[32], std::uint8_t iv[16], const std::uint8_t* in,
                 std::uint8_t* out, std::size_t n) noexcept {
    const RoundKeys keys(rk);
    uint8x16_t chain = vld1q_u8(iv);
    for (; n >= 8; n -= 8, in += 128, out += 128) cbc_decrypt_blocks<8>(keys, chain, in, out);
    if (n & 4) cbc_decrypt_blocks<4>(keys, chain, in, out), in += 64, out += 64;
    if (n & 2) cbc_decrypt_blocks<2>(keys, chain, in, out), in += 32, out += 32;
    if (n & 1) cbc_decrypt_blocks<1>(keys, chain, in, out);
    vst1q_u8(iv, chain);
}

}  // namespace

const Kernel kArmv8Sm4 = {"armv8_sm4", tau, expand_key, ecb, cbc_encrypt, cbc_decrypt, nullptr};

}  // namespace pelmo::detail::sm4
