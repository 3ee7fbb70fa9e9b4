// SM4 through GFNI with AVX-512: sixteen blocks per group of four zmm registers (one
// word of sixteen blocks each), four groups in flight, the S-box and the byte-wise parts
// of L as GF2P8AFFINEINVQB (see affine.hpp). Single blocks and CBC encryption run the
// serial path of simd.hpp on xmm, where a round's latency is one GF2P8AFFINEINVQB, one
// rotation and two VPTERNLOGDs.
#define PELMO_SM4_TARGET

// GCC 12's AVX-512 intrinsics start some results from a self-initialised "undefined"
// vector, which -Wuninitialized reports at every use (GCC bug 105593).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include "sm4/kernels/simd.hpp"

#include "sm4/constants.hpp"
#include "sm4/kernels/kernel.hpp"

namespace pelmo::detail::sm4 {
namespace {

using namespace affine;

inline constexpr long long kMinQ = static_cast<long long>(gfni_matrix(kMin));
inline constexpr long long kMinInvQ = static_cast<long long>(gfni_matrix(kMinInv));
inline constexpr long long kMoutQ = static_cast<long long>(gfni_matrix(kMout));
inline constexpr long long kQ0Q = static_cast<long long>(gfni_matrix(kQ0));
inline constexpr long long kQ12Q = static_cast<long long>(gfni_matrix(kQ12));
inline constexpr long long kQ3Q = static_cast<long long>(gfni_matrix(kQ3));

inline __m128i ld(const std::uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

/// xmm operations for the serial path (one word per register, in lane 0).
struct GfX {
    using V = __m128i;

    static V load(const std::uint8_t* p) { return ld(p); }
    static void store(std::uint8_t* p, V v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
    static V bcast(std::uint32_t w) { return _mm_set1_epi32(static_cast<int>(w)); }
    static V xor2(V a, V b) { return _mm_xor_si128(a, b); }
    static V xor3(V a, V b, V c) { return _mm_ternarylogic_epi32(a, b, c, 0x96); }
    static V unpacklo32(V a, V b) { return _mm_unpacklo_epi32(a, b); }
    static V unpackhi32(V a, V b) { return _mm_unpackhi_epi32(a, b); }
    static V unpacklo64(V a, V b) { return _mm_unpacklo_epi64(a, b); }
    static V unpackhi64(V a, V b) { return _mm_unpackhi_epi64(a, b); }
    static V bswap(V v) { return _mm_shuffle_epi8(v, ld(kMasks.bswap)); }
    static V to_domain(V v) { return _mm_gf2p8affine_epi64_epi8(v, _mm_set1_epi64x(kMinQ), 0); }
    static V from_domain(V v) {
        return _mm_gf2p8affine_epi64_epi8(v, _mm_set1_epi64x(kMinInvQ), 0);
    }
    static void nonlinear(V z, V& a0, V& a12, V& a3) {
        a12 = _mm_gf2p8affineinv_epi64_epi8(z, _mm_set1_epi64x(kQ12Q), kq12);
        a3 = _mm_gf2p8affineinv_epi64_epi8(z, _mm_set1_epi64x(kQ3Q), kq3);
        a0 = _mm_gf2p8affineinv_epi64_epi8(z, _mm_set1_epi64x(kQ0Q), kq0);
    }
    static V term0(V a) { return a; }
    static V rot8(V a) { return _mm_rol_epi32(a, 8); }
    static V rot16(V a) { return _mm_rol_epi32(a, 16); }
    static V rot24(V a) { return _mm_rol_epi32(a, 24); }
    static V first_prev(__m128i iv, const std::uint8_t*) { return iv; }

    static void domain_keys(const std::uint32_t rk[32], DomainKeys& dk) {
        for (int i = 0; i < 32; i += 4) {
            const V k = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rk + i));
            _mm_store_si128(reinterpret_cast<__m128i*>(dk.k + i),
                            _mm_gf2p8affine_epi64_epi8(k, _mm_set1_epi64x(kMinQ), kCin));
        }
    }
};

struct GfZ {
    using V = __m512i;
    static constexpr std::size_t kBlocks = 4;

    static V load(const std::uint8_t* p) { return _mm512_loadu_si512(p); }
    static void store(std::uint8_t* p, V v) { _mm512_storeu_si512(p, v); }
    static V bcast(std::uint32_t w) { return _mm512_set1_epi32(static_cast<int>(w)); }
    static V xor2(V a, V b) { return _mm512_xor_si512(a, b); }
    static V xor3(V a, V b, V c) { return _mm512_ternarylogic_epi32(a, b, c, 0x96); }
    static V unpacklo32(V a, V b) { return _mm512_unpacklo_epi32(a, b); }
    static V unpackhi32(V a, V b) { return _mm512_unpackhi_epi32(a, b); }
    static V unpacklo64(V a, V b) { return _mm512_unpacklo_epi64(a, b); }
    static V unpackhi64(V a, V b) { return _mm512_unpackhi_epi64(a, b); }
    static V mask(const std::uint8_t* m) { return _mm512_broadcast_i32x4(ld(m)); }
    static V bswap(V v) { return _mm512_shuffle_epi8(v, mask(kMasks.bswap)); }
    static V to_domain(V v) {
        return _mm512_gf2p8affine_epi64_epi8(v, _mm512_set1_epi64(kMinQ), 0);
    }
    static V from_domain(V v) {
        return _mm512_gf2p8affine_epi64_epi8(v, _mm512_set1_epi64(kMinInvQ), 0);
    }
    static void nonlinear(V z, V& a0, V& a12, V& a3) {
        a0 = _mm512_gf2p8affineinv_epi64_epi8(z, _mm512_set1_epi64(kQ0Q), kq0);
        a12 = _mm512_gf2p8affineinv_epi64_epi8(z, _mm512_set1_epi64(kQ12Q), kq12);
        a3 = _mm512_gf2p8affineinv_epi64_epi8(z, _mm512_set1_epi64(kQ3Q), kq3);
    }
    static V term0(V a) { return a; }
    // Byte rotations as shuffles (port 5) beside the affine instructions (port 0).
    static V rot8(V a) { return _mm512_shuffle_epi8(a, mask(kMasks.rot8)); }
    static V rot16(V a) { return _mm512_shuffle_epi8(a, mask(kMasks.rot16)); }
    static V rot24(V a) { return _mm512_shuffle_epi8(a, mask(kMasks.rot24)); }

    /// [iv, blocks 0, 1, 2].
    static V first_prev(__m128i iv, const std::uint8_t* in) {
        return _mm512_alignr_epi64(load(in), _mm512_broadcast_i32x4(iv), 6);
    }
    static void domain_keys(const std::uint32_t rk[32], DomainKeys& dk) {
        GfX::domain_keys(rk, dk);
    }
};

std::uint32_t tau(std::uint32_t x) noexcept {
    const __m128i v = _mm_cvtsi32_si128(static_cast<int>(x));
    const __m128i z = _mm_gf2p8affine_epi64_epi8(v, _mm_set1_epi64x(kMinQ), kCin);
    const __m128i s = _mm_gf2p8affineinv_epi64_epi8(z, _mm_set1_epi64x(kMoutQ), kC);
    return static_cast<std::uint32_t>(_mm_cvtsi128_si32(s));
}

/// The key schedule with every word in lane 0 of an xmm register: a step is an XOR of three
/// words and the constant, the S-box as two affine instructions, and L' as two rotations
/// and one three-way XOR, with no trip through general registers on the critical path.
void expand_key(const std::uint8_t key[16], std::uint32_t rk[32]) noexcept {
    const __m128i k = _mm_xor_si128(GfX::bswap(ld(key)),
                                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(kFk.data())));
    __m128i k0 = k, k1 = _mm_shuffle_epi32(k, 0x55), k2 = _mm_shuffle_epi32(k, 0xaa),
            k3 = _mm_shuffle_epi32(k, 0xff);
    for (std::size_t i = 0; i < 32; ++i) {
        // K_i+1 ^ K_i+2 ^ CK_i is ready before K_i+3, the newest word: one XOR after it.
        const __m128i early =
            _mm_ternarylogic_epi32(k1, k2, _mm_cvtsi32_si128(static_cast<int>(kCk[i])), 0x96);
        const __m128i x = _mm_xor_si128(early, k3);
        const __m128i z = _mm_gf2p8affine_epi64_epi8(x, _mm_set1_epi64x(kMinQ), kCin);
        const __m128i b = _mm_gf2p8affineinv_epi64_epi8(z, _mm_set1_epi64x(kMoutQ), kC);
        // K_i+4 = K_i ^ L'(b), L'(b) = b ^ (b <<< 13) ^ (b <<< 23); K_i ^ b beside the rotations.
        const __m128i k4 = _mm_ternarylogic_epi32(_mm_xor_si128(k0, b), _mm_rol_epi32(b, 13),
                                                  _mm_rol_epi32(b, 23), 0x96);
        rk[i] = static_cast<std::uint32_t>(_mm_cvtsi128_si32(k4));
        k0 = k1, k1 = k2, k2 = k3, k3 = k4;
    }
}

void ecb(const std::uint32_t rk[32], const std::uint8_t* in, std::uint8_t* out,
         std::size_t n) noexcept {
    if (n == 1) return ecb_serial<GfX>(rk, in, out, n);
    ecb_many<GfZ, 4>(rk, in, out, n);
}

void cbc_encrypt(const std::uint32_t rk[32], std::uint8_t iv[16], const std::uint8_t* in,
                 std::uint8_t* out, std::size_t n) noexcept {
    cbc_encrypt_serial<GfX>(rk, iv, in, out, n);
}

void cbc_decrypt(const std::uint32_t rk[32], std::uint8_t iv[16], const std::uint8_t* in,
                 std::uint8_t* out, std::size_t n) noexcept {
    cbc_decrypt_many<GfZ, 4>(rk, iv, in, out, n);
}

/// Counter mode with the counter blocks built in registers, already word-sliced: after the
/// input transposition of transform_groups, lane e of word vector j holds word j of block
/// 4 * (e % 4) + e / 4 of the group, so the counters are the broadcast start plus those
/// offsets, with the carries of the low words propagated as masks (no branch on the
/// counter, which may be secret).
struct CtrJob {
    const DomainKeys& dk;
    std::uint64_t hi, lo;
    __mmask16 carries;  // all lanes in 128-bit counting, none with a wrapping low word

    template <int GG>
    PELMO_SM4_TARGET void run(const std::uint8_t* in, std::uint8_t* out) {
        using V = __m512i;
        const V order = _mm512_setr_epi32(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15);
        const V one = _mm512_set1_epi32(1), zero = _mm512_setzero_si512();
        const V w0 = GfZ::bcast(static_cast<std::uint32_t>(hi >> 32));
        const V w1 = GfZ::bcast(static_cast<std::uint32_t>(hi));
        const V w2 = GfZ::bcast(static_cast<std::uint32_t>(lo >> 32));
        const V w3 = GfZ::bcast(static_cast<std::uint32_t>(lo));
        V x[GG][4];
#pragma GCC unroll 8
        for (int g = 0; g < GG; ++g) {
            const V c3 = _mm512_add_epi32(
                w3, _mm512_add_epi32(order, GfZ::bcast(static_cast<std::uint32_t>(16 * g))));
            __mmask16 carry = _mm512_cmplt_epu32_mask(c3, w3) & carries;
            const V c2 = _mm512_mask_add_epi32(w2, carry, w2, one);
            carry &= _mm512_cmpeq_epi32_mask(c2, zero);
            const V c1 = _mm512_mask_add_epi32(w1, carry, w1, one);
            carry &= _mm512_cmpeq_epi32_mask(c1, zero);
            const V c0 = _mm512_mask_add_epi32(w0, carry, w0, one);
            x[g][0] = GfZ::to_domain(c0);
            x[g][1] = GfZ::to_domain(c1);
            x[g][2] = GfZ::to_domain(c2);
            x[g][3] = GfZ::to_domain(c3);
        }
        rounds<GfZ, GG>(x, dk);
        V y[GG][4];
        output_groups<GfZ, GG>(x, y);
        for (int v = 0; v < 4 * GG; ++v)
            GfZ::store(out + 64 * v, GfZ::xor2(y[v / 4][v % 4], GfZ::load(in + 64 * v)));
        advance(16 * GG);
    }

    void advance(std::uint64_t blocks) noexcept {
        if (carries == 0) {
            lo = (lo & 0xffffffff00000000u) | ((lo + blocks) & 0xffffffffu);
            return;
        }
        const std::uint64_t next = lo + blocks;
        hi += static_cast<std::uint64_t>(next < blocks);  // the carry, as a flag (adc)
        lo = next;
    }
};

void ctr(const std::uint32_t rk[32], std::uint64_t counter[2], bool wrap32, const std::uint8_t* in,
         std::uint8_t* out, std::size_t n) noexcept {
    DomainKeys dk;
    GfZ::domain_keys(rk, dk);
    const std::uint64_t hi = counter[0], lo = counter[1];
    CtrJob job{dk, hi, lo, static_cast<__mmask16>(wrap32 ? 0 : 0xffff)};
    drive<GfZ, 4>(job, in, out, n);
    // The last partial group ran on whole counters; the count is the blocks asked for.
    job.hi = hi;
    job.lo = lo;
    job.advance(n);
    counter[0] = job.hi;
    counter[1] = job.lo;
}

}  // namespace

const Kernel kGfniAvx512 = {"gfni_avx512", tau, expand_key, ecb, cbc_encrypt, cbc_decrypt, ctr};

}  // namespace pelmo::detail::sm4
