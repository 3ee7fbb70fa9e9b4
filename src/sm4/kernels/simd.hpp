// The SM4 rounds, block transposition and mode drivers shared by the vector kernels.
//
// A kernel file defines PELMO_SM4_TARGET (a target attribute, or nothing when the
// whole file is compiled for the instruction set), includes this header, and supplies
// an "ops" struct for its vector type:
//
//   V                     the vector type; kBlocks = 16-byte blocks per vector
//   load, store           unaligned 16*kBlocks bytes
//   bcast(w)              w in every 32-bit lane
//   xor2, xor3
//   bswap                 byte-reverse every 32-bit lane (SM4 words are big-endian)
//   to_domain(v)          Min applied to every byte (see affine.hpp)
//   from_domain(v)        Min^-1 applied to every byte
//   nonlinear(z, a0, a12, a3)   the three round outputs of affine.hpp from z
//   nonlinear_keyed(z, k, a0, a12, a3)   optional: the same from z ^ k, for S-box
//                         instructions that add a key first (ARM's AESE); ops that
//                         have it get z without the round key
//   term0, rot8, rot16, rot24   place those outputs (rotations of 32-bit lanes, plus
//                               whatever lane fix-up the S-box instruction needs)
//   first_prev(iv, in)    for CBC decryption: the vector of blocks preceding those in
//                         the first vector at `in`, the first of them being iv (a V128)
//
// The serial path (one block per register) runs on ops whose V is V128, the target's
// 128-bit register type (x86-64 SSE, 64-bit ARM Advanced SIMD).
//
// Everything here is in an anonymous namespace: each kernel file gets its own copy,
// compiled for its own instruction set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__aarch64__)
#include <arm_neon.h>
#else
#error "the SM4 vector kernels are built for x86-64 and 64-bit ARM only"
#endif

#include "common/wipe.hpp"
#include "sm4/affine.hpp"

#ifndef PELMO_SM4_TARGET
#error "define PELMO_SM4_TARGET before including sm4/kernels/simd.hpp"
#endif

// The serial path keeps its state in registers across the whole block chain.
#define PELMO_SM4_ALWAYS_INLINE inline __attribute__((always_inline))

namespace pelmo::detail::sm4 {
namespace {

#if defined(__x86_64__)
using V128 = __m128i;
PELMO_SM4_TARGET inline V128 load128(const std::uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
PELMO_SM4_TARGET inline void store128(std::uint8_t* p, V128 v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}
/// Word i of w into lane 0 of wi (the other lanes do not matter).
PELMO_SM4_TARGET inline void split_words(V128 w, V128& w0, V128& w1, V128& w2, V128& w3) {
    w0 = w;
    w1 = _mm_shuffle_epi32(w, 0x55);
    w2 = _mm_shuffle_epi32(w, 0xaa);
    w3 = _mm_shuffle_epi32(w, 0xff);
}
/// [a, b, c, d] from lane 0 of each.
PELMO_SM4_TARGET inline V128 join_words(V128 a, V128 b, V128 c, V128 d) {
    return _mm_unpacklo_epi64(_mm_unpacklo_epi32(a, b), _mm_unpacklo_epi32(c, d));
}
#else
using V128 = uint8x16_t;
inline V128 load128(const std::uint8_t* p) {
    return vld1q_u8(p);
}
inline void store128(std::uint8_t* p, V128 v) {
    vst1q_u8(p, v);
}
inline void split_words(V128 w, V128& w0, V128& w1, V128& w2, V128& w3) {
    const uint32x4_t u = vreinterpretq_u32_u8(w);
    w0 = w;
    w1 = vreinterpretq_u8_u32(vdupq_laneq_u32(u, 1));
    w2 = vreinterpretq_u8_u32(vdupq_laneq_u32(u, 2));
    w3 = vreinterpretq_u8_u32(vdupq_laneq_u32(u, 3));
}
inline V128 join_words(V128 a, V128 b, V128 c, V128 d) {
    const uint32x4_t ab = vzip1q_u32(vreinterpretq_u32_u8(a), vreinterpretq_u32_u8(b));
    const uint32x4_t cd = vzip1q_u32(vreinterpretq_u32_u8(c), vreinterpretq_u32_u8(d));
    return vreinterpretq_u8_u64(vzip1q_u64(vreinterpretq_u64_u32(ab), vreinterpretq_u64_u32(cd)));
}
#endif

/// Whether O's S-box instruction takes the round key itself (see nonlinear_keyed).
template <class O>
inline constexpr bool kKeyedSbox = requires {
    &O::nonlinear_keyed;
};

/// Round keys in the transformed domain: Min * rk + cin in every byte. Wiped when done.
struct DomainKeys {
    alignas(64) std::uint32_t k[32];
    DomainKeys() = default;
    DomainKeys(const DomainKeys&) = delete;
    DomainKeys& operator=(const DomainKeys&) = delete;
    ~DomainKeys() { secure_wipe(k, sizeof k); }
};

/// One round for G independent groups: x0 ^= L(S(x1 ^ x2 ^ x3 ^ rk)), in the domain.
/// x3 is the newest word, so it enters last (the single-block path is latency bound).
template <class O, int G>
PELMO_SM4_TARGET inline void sm4_round(typename O::V (&x)[G][4], int i0, int i1, int i2, int i3,
                                       std::uint32_t rk) {
    using V = typename O::V;
    const V k = O::bcast(rk);
#pragma GCC unroll 8
    for (int g = 0; g < G; ++g) {
        V a0, a12, a3;
        if constexpr (kKeyedSbox<O>) {
            O::nonlinear_keyed(O::xor3(x[g][i1], x[g][i2], x[g][i3]), k, a0, a12, a3);
        } else {
            const V z = O::xor2(O::xor3(x[g][i1], x[g][i2], k), x[g][i3]);
            O::nonlinear(z, a0, a12, a3);
        }
        const V u = O::xor2(x[g][i0], O::term0(a0));
        x[g][i0] = O::xor2(u, O::xor3(O::rot8(a12), O::rot16(a12), O::rot24(a3)));
    }
}

/// The 32 rounds; afterwards x[g] holds X32, X33, X34, X35.
template <class O, int G>
PELMO_SM4_TARGET inline void rounds(typename O::V (&x)[G][4], const DomainKeys& dk) {
    for (int r = 0; r < 32; r += 4) {
        sm4_round<O, G>(x, 0, 1, 2, 3, dk.k[r]);
        sm4_round<O, G>(x, 1, 2, 3, 0, dk.k[r + 1]);
        sm4_round<O, G>(x, 2, 3, 0, 1, dk.k[r + 2]);
        sm4_round<O, G>(x, 3, 0, 1, 2, dk.k[r + 3]);
    }
}

/// 4x4 transpose of 32-bit words inside every 128-bit lane of four vectors.
template <class O>
PELMO_SM4_TARGET inline void transpose(typename O::V& a, typename O::V& b, typename O::V& c,
                                       typename O::V& d) {
    using V = typename O::V;
    const V t0 = O::unpacklo32(a, b), t1 = O::unpacklo32(c, d);
    const V t2 = O::unpackhi32(a, b), t3 = O::unpackhi32(c, d);
    a = O::unpacklo64(t0, t1);
    b = O::unpackhi64(t0, t1);
    c = O::unpacklo64(t2, t3);
    d = O::unpackhi64(t2, t3);
}

/// The output blocks of G groups after the rounds (x[g] = X32..X35, word-sliced), in raw
/// vector order: y[g][j] holds the blocks that vector 4g + j of the input held.
template <class O, int G>
PELMO_SM4_TARGET inline void output_groups(typename O::V (&x)[G][4], typename O::V (&y)[G][4]) {
    using V = typename O::V;
#pragma GCC unroll 8
    for (int g = 0; g < G; ++g) {
        // The output is X35, X34, X33, X32.
        V a = O::from_domain(x[g][3]), b = O::from_domain(x[g][2]);
        V c = O::from_domain(x[g][1]), d = O::from_domain(x[g][0]);
        transpose<O>(a, b, c, d);
        y[g][0] = O::bswap(a);
        y[g][1] = O::bswap(b);
        y[g][2] = O::bswap(c);
        y[g][3] = O::bswap(d);
    }
}

/// Transforms G groups of 4*kBlocks blocks, leaving the output blocks in y (raw vector
/// order: y[g][j] holds the output of the blocks that load(in + ...(4g + j)) read).
template <class O, int G>
PELMO_SM4_TARGET inline void transform_groups(const DomainKeys& dk, const std::uint8_t* in,
                                              typename O::V (&y)[G][4]) {
    using V = typename O::V;
    constexpr std::size_t kVecBytes = 16 * O::kBlocks;
    V x[G][4];
#pragma GCC unroll 8
    for (int g = 0; g < G; ++g) {
        for (int j = 0; j < 4; ++j) x[g][j] = O::bswap(O::load(in + kVecBytes * (4 * g + j)));
        transpose<O>(x[g][0], x[g][1], x[g][2], x[g][3]);
        for (int j = 0; j < 4; ++j) x[g][j] = O::to_domain(x[g][j]);
    }
    rounds<O, G>(x, dk);
    output_groups<O, G>(x, y);
}

template <class O, int G>
PELMO_SM4_TARGET inline void ecb_groups(const DomainKeys& dk, const std::uint8_t* in,
                                        std::uint8_t* out) {
    using V = typename O::V;
    constexpr std::size_t kVecBytes = 16 * O::kBlocks;
    V y[G][4];
    transform_groups<O, G>(dk, in, y);
    for (int g = 0; g < G; ++g)
        for (int j = 0; j < 4; ++j) O::store(out + kVecBytes * (4 * g + j), y[g][j]);
}

/// CBC decryption of G groups. Stores run from the last vector to the first and every
/// ciphertext block is read before the store that could overwrite it, so in == out works.
template <class O, int G>
PELMO_SM4_TARGET inline void cbc_decrypt_groups(const DomainKeys& dk, V128& iv,
                                                const std::uint8_t* in, std::uint8_t* out) {
    using V = typename O::V;
    constexpr std::size_t kVecBytes = 16 * O::kBlocks;
    constexpr std::size_t kBytes = kVecBytes * 4 * G;
    V y[G][4];
    transform_groups<O, G>(dk, in, y);
    const V128 next_iv = load128(in + kBytes - 16);
    for (int v = 4 * G - 1; v >= 1; --v) {
        const std::size_t at = kVecBytes * static_cast<std::size_t>(v);
        O::store(out + at, O::xor2(y[v / 4][v % 4], O::load(in + at - 16)));
    }
    O::store(out, O::xor2(y[0][0], O::first_prev(iv, in)));
    iv = next_iv;
}

/// Runs whole batches of G groups, then single groups, then the last partial group
/// through a small stack buffer (wiped afterwards). Job::run<GG>(in, out) does GG groups.
template <class O, int G, class Job>
PELMO_SM4_TARGET inline void drive(Job& job, const std::uint8_t* in, std::uint8_t* out,
                                   std::size_t n) {
    constexpr std::size_t kGroup = 4 * O::kBlocks;
    for (; n >= kGroup * G; n -= kGroup * G, in += 16 * kGroup * G, out += 16 * kGroup * G)
        job.template run<G>(in, out);
    for (; n >= kGroup; n -= kGroup, in += 16 * kGroup, out += 16 * kGroup)
        job.template run<1>(in, out);
    if (n != 0) {
        alignas(64) std::uint8_t buf[16 * kGroup] = {};
        std::memcpy(buf, in, 16 * n);
        job.template run<1>(buf, buf);
        std::memcpy(out, buf, 16 * n);
        secure_wipe(buf, sizeof buf);
    }
}

template <class O>
struct EcbJob {
    const DomainKeys& dk;
    template <int GG>
    PELMO_SM4_TARGET void run(const std::uint8_t* in, std::uint8_t* out) {
        ecb_groups<O, GG>(dk, in, out);
    }
};

template <class O>
struct CbcDecryptJob {
    const DomainKeys& dk;
    V128 chain;
    template <int GG>
    PELMO_SM4_TARGET void run(const std::uint8_t* in, std::uint8_t* out) {
        cbc_decrypt_groups<O, GG>(dk, chain, in, out);
    }
};

template <class O, int G>
PELMO_SM4_TARGET void ecb_many(const std::uint32_t rk[32], const std::uint8_t* in,
                               std::uint8_t* out, std::size_t n) noexcept {
    DomainKeys dk;
    O::domain_keys(rk, dk);
    EcbJob<O> job{dk};
    drive<O, G>(job, in, out, n);
}

template <class O, int G>
PELMO_SM4_TARGET void cbc_decrypt_many(const std::uint32_t rk[32], std::uint8_t iv[16],
                                       const std::uint8_t* in, std::uint8_t* out,
                                       std::size_t n) noexcept {
    DomainKeys dk;
    O::domain_keys(rk, dk);
    if (n == 0) return;
    // The chaining value afterwards is the last ciphertext block, read before the
    // output (possibly the same buffer) is written. A partial last group runs in a
    // padded buffer, so its own notion of "last block" would be wrong.
    const V128 last = load128(in + 16 * (n - 1));
    CbcDecryptJob<O> job{dk, load128(iv)};
    drive<O, G>(job, in, out, n);
    store128(iv, last);
}

/// One serial step of the latency-bound path: xa = X_i, xb, xc, xd = X_i+1..3, z the S-box
/// input of round i (in the domain). Afterwards xa = X_i+4 and z is the input of round
/// i+1, computed as K ^ F(z) with K = X_i ^ X_i+2 ^ X_i+3 ^ rk_i+1 known in advance, so the
/// critical path of a round is the affine-inverse, a rotation and two three-way XORs.
/// (With a keyed S-box, z and K leave the round key out and the S-box adds rk_i.)
template <class O>
PELMO_SM4_TARGET PELMO_SM4_ALWAYS_INLINE void serial_step(V128& xa, V128 xc, V128 xd, V128& z,
                                                          std::uint32_t rk, std::uint32_t next_rk) {
    V128 k, a0, a12, a3;
    if constexpr (kKeyedSbox<O>) {
        k = O::xor3(xa, xc, xd);
        O::nonlinear_keyed(z, O::bcast(rk), a0, a12, a3);
    } else {
        k = O::xor2(O::xor3(xa, xc, xd), O::bcast(next_rk));
        O::nonlinear(z, a0, a12, a3);
    }
    const V128 t0 = O::term0(a0);
    const V128 f = O::xor3(O::rot8(a12), O::rot16(a12), O::rot24(a3));
    z = O::xor3(k, t0, f);
    xa = O::xor3(xa, t0, f);
}

/// The 32 rounds on X0..X3 (domain, lane 0 of each register); afterwards x0..x3 hold
/// X32..X35.
template <class O>
PELMO_SM4_TARGET PELMO_SM4_ALWAYS_INLINE void serial_rounds(V128& x0, V128& x1, V128& x2, V128& x3,
                                                            const DomainKeys& dk) {
    V128 z;
    if constexpr (kKeyedSbox<O>)
        z = O::xor3(x1, x2, x3);
    else
        z = O::xor2(O::xor3(x1, x2, O::bcast(dk.k[0])), x3);
    for (int r = 0; r < 32; r += 4) {
        serial_step<O>(x0, x2, x3, z, dk.k[r], dk.k[r + 1]);
        serial_step<O>(x1, x3, x0, z, dk.k[r + 1], dk.k[r + 2]);
        serial_step<O>(x2, x0, x1, z, dk.k[r + 2], dk.k[r + 3]);
        serial_step<O>(x3, x1, x2, z, dk.k[r + 3], dk.k[(r + 4) & 31]);  // the last z goes unused
    }
}

/// The output block X35, X34, X33, X32 from the domain.
template <class O>
PELMO_SM4_TARGET inline V128 join_output(V128 y32, V128 y33, V128 y34, V128 y35) {
    return O::bswap(O::from_domain(join_words(y35, y34, y33, y32)));
}

/// CBC encryption, one block at a time. The chaining value stays in the domain: the
/// next block's words are Min(P) ^ X35..X32 of the previous one, so between blocks the
/// critical path holds a single XOR, and the conversion of each ciphertext block back
/// for storing runs beside the next block's rounds.
template <class O>
PELMO_SM4_TARGET void cbc_encrypt_serial(const std::uint32_t rk[32], std::uint8_t iv[16],
                                         const std::uint8_t* in, std::uint8_t* out,
                                         std::size_t n) noexcept {
    if (n == 0) return;
    DomainKeys dk;
    O::domain_keys(rk, dk);
    V128 c0, c1, c2, c3;  // the previous ciphertext block's words, in the domain
    split_words(O::to_domain(O::bswap(O::load(iv))), c0, c1, c2, c3);
    V128 last{};
    for (std::size_t i = 0; i < n; ++i, in += 16, out += 16) {
        V128 p0, p1, p2, p3;
        split_words(O::to_domain(O::bswap(O::load(in))), p0, p1, p2, p3);
        V128 x0 = O::xor2(p0, c0), x1 = O::xor2(p1, c1), x2 = O::xor2(p2, c2), x3 = O::xor2(p3, c3);
        serial_rounds<O>(x0, x1, x2, x3, dk);
        c0 = x3;
        c1 = x2;
        c2 = x1;
        c3 = x0;
        last = join_output<O>(x0, x1, x2, x3);
        O::store(out, last);
    }
    O::store(iv, last);
}

template <class O>
PELMO_SM4_TARGET void ecb_serial(const std::uint32_t rk[32], const std::uint8_t* in,
                                 std::uint8_t* out, std::size_t n) noexcept {
    DomainKeys dk;
    O::domain_keys(rk, dk);
    for (std::size_t i = 0; i < n; ++i, in += 16, out += 16) {
        V128 x0, x1, x2, x3;
        split_words(O::to_domain(O::bswap(O::load(in))), x0, x1, x2, x3);
        serial_rounds<O>(x0, x1, x2, x3, dk);
        O::store(out, join_output<O>(x0, x1, x2, x3));
    }
}

/// Byte-shuffle masks (PSHUFB within 128-bit lanes, or ARM's TBL) for the 32-bit lane
/// operations.
struct ShuffleMasks {
    alignas(16) std::uint8_t bswap[16];
    alignas(16) std::uint8_t rot8[16], rot16[16], rot24[16];
    // The ShiftRows of AESENCLAST (or ARM's AESE) undone, then the rotation.
    alignas(16) std::uint8_t isr[16], isr_rot8[16], isr_rot16[16], isr_rot24[16];
};

constexpr ShuffleMasks make_shuffle_masks() {
    ShuffleMasks m{};
    // Inverse ShiftRows: byte 4c + r of the undone state is byte 4((c - r) mod 4) + r
    // of AESENCLAST's (AESE's) output.
    std::uint8_t isr[16] = {};
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r)
            isr[4 * c + r] = static_cast<std::uint8_t>(4 * ((c - r + 4) % 4) + r);
    for (int i = 0; i < 16; ++i) {
        const int lane = i & ~3, b = i & 3;
        m.bswap[i] = static_cast<std::uint8_t>(lane + 3 - b);
        // Rotating a 32-bit lane left by 8k moves byte b to byte b + k.
        const auto rot = [&](int k) { return static_cast<std::uint8_t>(lane + ((b - k) & 3)); };
        m.rot8[i] = rot(1);
        m.rot16[i] = rot(2);
        m.rot24[i] = rot(3);
        m.isr[i] = isr[i];
        m.isr_rot8[i] = isr[rot(1)];
        m.isr_rot16[i] = isr[rot(2)];
        m.isr_rot24[i] = isr[rot(3)];
    }
    return m;
}

inline constexpr ShuffleMasks kMasks = make_shuffle_masks();

/// Nibble tables of the affine maps the AES kernels (AES-NI, ARM AESE) need.
struct AesTables {
    affine::NibbleTables to_domain, from_domain;  // Min, Min^-1
    affine::NibbleTables sbox_in, sbox_out;       // for tau: Min + cin; Mout after SubBytes
    affine::NibbleTables a0, a12, a3;             // round outputs after SubBytes
};

constexpr AesTables make_aes_tables() {
    using namespace affine;
    const Affine out = after_subbytes(kMout, kC);
    const Affine t0 = after_subbytes(kQ0, kq0);
    const Affine t12 = after_subbytes(kQ12, kq12);
    const Affine t3 = after_subbytes(kQ3, kq3);
    return {nibble_tables(kMin, 0),      nibble_tables(kMinInv, 0), nibble_tables(kMin, kCin),
            nibble_tables(out.m, out.c), nibble_tables(t0.m, t0.c), nibble_tables(t12.m, t12.c),
            nibble_tables(t3.m, t3.c)};
}

inline constexpr AesTables kAesTables = make_aes_tables();

}  // namespace
}  // namespace pelmo::detail::sm4
