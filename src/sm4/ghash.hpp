// GHASH, the universal hash of GCM, over GF(2^128) with the polynomial x^128 + x^7 + x^2 + x + 1.
//
// Elements are kept in GCM's bit order read as two big-endian 64-bit words: `hi` holds bytes
// 0..7 of a block, `lo` bytes 8..15, so the coefficient of x^0 is the top bit of hi. Read that
// way, a carry-less product of two elements is the reflected product shifted right by one bit;
// every kernel shifts it back and reduces in that order (no bit reversal of the data).
//
// Kernels (chosen by measured speed, or by PELMO_GHASH_KERNEL):
//   portable     64x64-bit carry-less products from integer multiplications of operands with
//                holes (four bits apart), so no table is indexed by the key or the data
// and on x86-64:
//   pclmul       PCLMULQDQ, four blocks per reduction
//   vpclmul      VPCLMULQDQ on 512-bit vectors (AVX-512), sixteen blocks per reduction
#pragma once

#include <cstddef>
#include <cstdint>

namespace pelmo::detail::sm4 {

struct GhashElement {
    std::uint64_t lo, hi;  // lo first, so that an x86 128-bit load puts hi in the upper lane
};

/// Powers of the hash key the kernels multiply by: the widest takes 32 blocks per reduction.
inline constexpr int kGhashPowers = 32;

/// The powers H^1 .. H^32 of the hash key: power[i] = H^(i+1).
struct GhashKey {
    alignas(64) GhashElement power[kGhashPowers];
};

struct GhashKernel {
    const char* name;
    /// y = (...((y ^ X1) H ^ X2) H ... ^ Xn) H over n 16-byte blocks of data.
    void (*blocks)(const GhashKey& key, GhashElement& y, const std::uint8_t* data,
                   std::size_t n) noexcept;
    /// Fills power[1..] from power[0] = H.
    void (*powers)(GhashKey& key) noexcept;
};

/// The element a 16-byte block stands for.
GhashElement ghash_load(const std::uint8_t block[16]) noexcept;
void ghash_store(const GhashElement& e, std::uint8_t block[16]) noexcept;
/// a * b in the field (portable, constant time).
GhashElement ghash_mul(const GhashElement& a, const GhashElement& b) noexcept;

/// power[i] = H^(i+1) from power[0] = H with the product `mul`: H^2, H^3, H^4, then
/// H^(i+1) = H^(i-3) * H^4, four independent chains whose products can overlap.
template <class Mul>
inline void ghash_fill_powers(GhashKey& key, Mul&& mul) noexcept {
    GhashElement* p = key.power;
    p[1] = mul(p[0], p[0]);
    p[2] = mul(p[1], p[0]);
    p[3] = mul(p[1], p[1]);
    for (int i = 4; i < kGhashPowers; ++i) p[i] = mul(p[i - 4], p[3]);
}
/// The powers of h = E(0^128), computed by the given kernel.
void ghash_init(GhashKey& key, const std::uint8_t h[16], const GhashKernel& kernel) noexcept;
void ghash_init(GhashKey& key, const std::uint8_t h[16]) noexcept;

#if defined(__x86_64__)
enum class GhashKernelId { portable, pclmul, vpclmul };
inline constexpr GhashKernelId kAllGhashKernels[] = {GhashKernelId::portable, GhashKernelId::pclmul,
                                                     GhashKernelId::vpclmul};
#else
enum class GhashKernelId { portable };
inline constexpr GhashKernelId kAllGhashKernels[] = {GhashKernelId::portable};
#endif

const GhashKernel& ghash_kernel_of(GhashKernelId id) noexcept;
/// nullptr when the CPU (under the current feature mask) cannot run that kernel.
const GhashKernel* ghash_kernel_by_id(GhashKernelId id) noexcept;
/// The kernel in use: the fastest this CPU runs, or the one PELMO_GHASH_KERNEL names.
const GhashKernel& active_ghash() noexcept;

extern const GhashKernel kGhashPortable;
#if defined(__x86_64__)
extern const GhashKernel kGhashPclmul;
extern const GhashKernel kGhashVpclmul;
/// The PCLMULQDQ kernel's powers of H, which the VPCLMULQDQ kernel shares.
void ghash_pclmul_powers(GhashKey& key) noexcept;
#endif

/// Reduction of a 256-bit carry-less product (words w[0] least significant) of two elements
/// to the element it stands for: shift left by one, then fold the upper half twice.
inline GhashElement ghash_reduce(std::uint64_t w0, std::uint64_t w1, std::uint64_t w2,
                                 std::uint64_t w3) noexcept {
    const std::uint64_t r3 = (w3 << 1) | (w2 >> 63), r2 = (w2 << 1) | (w1 >> 63),
                        r1 = (w1 << 1) | (w0 >> 63), r0 = w0 << 1;
    // r1:r0 hold the coefficients of x^128 and up; x^128 = x^7 + x^2 + x + 1. The bits that
    // the shifts below push past x^255 are folded into r1 first.
    const std::uint64_t f = r1 ^ (r0 << 63) ^ (r0 << 62) ^ (r0 << 57);
    return {r2 ^ r0 ^ ((r0 >> 1) | (f << 63)) ^ ((r0 >> 2) | (f << 62)) ^ ((r0 >> 7) | (f << 57)),
            r3 ^ f ^ (f >> 1) ^ (f >> 2) ^ (f >> 7)};
}

}  // namespace pelmo::detail::sm4
