// The portable GHASH kernel and the choice among GHASH kernels.
#include "sm4/ghash.hpp"

#include <array>

#include "common/cpu.hpp"
#include "common/dispatch.hpp"
#include "common/wipe.hpp"

namespace pelmo::detail::sm4 {

namespace {

/// The low 64 bits of the carry-less product of x and y. Each operand is split into four
/// parts whose set bits lie four positions apart; an integer product of two parts then adds
/// at most 16 terms into each result bit, so the carries stay inside the three-bit holes and
/// the wanted bit of every position is the parity it would have without them.
inline std::uint64_t clmul_low(std::uint64_t x, std::uint64_t y) noexcept {
    constexpr std::uint64_t m0 = 0x1111111111111111, m1 = m0 << 1, m2 = m0 << 2, m3 = m0 << 3;
    const std::uint64_t x0 = x & m0, x1 = x & m1, x2 = x & m2, x3 = x & m3;
    const std::uint64_t y0 = y & m0, y1 = y & m1, y2 = y & m2, y3 = y & m3;
    const std::uint64_t z0 = (x0 * y0) ^ (x1 * y3) ^ (x2 * y2) ^ (x3 * y1);
    const std::uint64_t z1 = (x0 * y1) ^ (x1 * y0) ^ (x2 * y3) ^ (x3 * y2);
    const std::uint64_t z2 = (x0 * y2) ^ (x1 * y1) ^ (x2 * y0) ^ (x3 * y3);
    const std::uint64_t z3 = (x0 * y3) ^ (x1 * y2) ^ (x2 * y1) ^ (x3 * y0);
    return (z0 & m0) | (z1 & m1) | (z2 & m2) | (z3 & m3);
}

inline std::uint64_t reverse_bits(std::uint64_t x) noexcept {
    x = ((x >> 1) & 0x5555555555555555) | ((x & 0x5555555555555555) << 1);
    x = ((x >> 2) & 0x3333333333333333) | ((x & 0x3333333333333333) << 2);
    x = ((x >> 4) & 0x0f0f0f0f0f0f0f0f) | ((x & 0x0f0f0f0f0f0f0f0f) << 4);
    x = ((x >> 8) & 0x00ff00ff00ff00ff) | ((x & 0x00ff00ff00ff00ff) << 8);
    x = ((x >> 16) & 0x0000ffff0000ffff) | ((x & 0x0000ffff0000ffff) << 16);
    return (x >> 32) | (x << 32);
}

/// The 128-bit carry-less product of x and y: the high half is the low half of the product
/// of the bit-reversed operands, reversed (and moved down by the one bit a 127-bit product
/// lacks).
inline void clmul64(std::uint64_t x, std::uint64_t y, std::uint64_t& lo,
                    std::uint64_t& hi) noexcept {
    lo = clmul_low(x, y);
    hi = reverse_bits(clmul_low(reverse_bits(x), reverse_bits(y))) >> 1;
}

void portable_blocks(const GhashKey& key, GhashElement& y, const std::uint8_t* data,
                     std::size_t n) noexcept {
    const GhashElement h = key.power[0];
    GhashElement acc = y;
    for (std::size_t i = 0; i < n; ++i, data += 16) {
        const GhashElement x = ghash_load(data);
        acc.lo ^= x.lo;
        acc.hi ^= x.hi;
        acc = ghash_mul(acc, h);
    }
    y = acc;
    secure_wipe(&acc, sizeof acc);
}

}  // namespace

GhashElement ghash_load(const std::uint8_t b[16]) noexcept {
    std::uint64_t hi = 0, lo = 0;
    for (int i = 0; i < 8; ++i) {
        hi = (hi << 8) | b[i];
        lo = (lo << 8) | b[8 + i];
    }
    return {lo, hi};
}

void ghash_store(const GhashElement& e, std::uint8_t b[16]) noexcept {
    for (int i = 0; i < 8; ++i) {
        b[i] = static_cast<std::uint8_t>(e.hi >> (56 - 8 * i));
        b[8 + i] = static_cast<std::uint8_t>(e.lo >> (56 - 8 * i));
    }
}

GhashElement ghash_mul(const GhashElement& a, const GhashElement& b) noexcept {
    // Karatsuba: three 64x64 products.
    std::uint64_t l0, l1, h0, h1, m0, m1;
    clmul64(a.lo, b.lo, l0, l1);
    clmul64(a.hi, b.hi, h0, h1);
    clmul64(a.lo ^ a.hi, b.lo ^ b.hi, m0, m1);
    m0 ^= l0 ^ h0;
    m1 ^= l1 ^ h1;
    return ghash_reduce(l0, l1 ^ m0, h0 ^ m1, h1);
}

void ghash_init(GhashKey& key, const std::uint8_t h[16], const GhashKernel& kernel) noexcept {
    key.power[0] = ghash_load(h);
    kernel.powers(key);
}

void ghash_init(GhashKey& key, const std::uint8_t h[16]) noexcept {
    ghash_init(key, h, kGhashPortable);
}

namespace {

void portable_powers(GhashKey& key) noexcept {
    ghash_fill_powers(key, ghash_mul);
}

}  // namespace

const GhashKernel kGhashPortable = {"portable", portable_blocks, portable_powers};

namespace {

std::uint32_t ghash_features(GhashKernelId id) noexcept {
    switch (id) {
        case GhashKernelId::portable:
            return 0;
#if defined(__x86_64__)
        case GhashKernelId::pclmul:
            return kCpuPclmul;
        case GhashKernelId::vpclmul:
            return kCpuPclmul | kCpuAvx512 | kCpuVpclmul;
#endif
    }
    return ~0u;
}

// 4 KiB of data under a fixed key.
void calibration_work(std::size_t index) {
    static const GhashKey key = [] {
        GhashKey k{};
        const std::uint8_t h[16] = {0x66, 0xe9, 0x4b, 0xd4, 0xef, 0x8a, 0x2c, 0x3b,
                                    0x88, 0x4c, 0xfa, 0x59, 0xca, 0x34, 0x2b, 0x2e};
        ghash_init(k, h);
        return k;
    }();
    alignas(64) std::uint8_t buffer[4096] = {};
    GhashElement y{0, 0};
    ghash_kernel_of(kAllGhashKernels[index]).blocks(key, y, buffer, sizeof buffer / 16);
    __asm__ __volatile__("" : : "r"(&y) : "memory");
}

KernelChoice g_choice;

}  // namespace

const GhashKernel& ghash_kernel_of(GhashKernelId id) noexcept {
    switch (id) {
#if defined(__x86_64__)
        case GhashKernelId::pclmul:
            return kGhashPclmul;
        case GhashKernelId::vpclmul:
            return kGhashVpclmul;
#endif
        case GhashKernelId::portable:
            break;
    }
    return kGhashPortable;
}

const GhashKernel* ghash_kernel_by_id(GhashKernelId id) noexcept {
    return cpu_has(ghash_features(id)) ? &ghash_kernel_of(id) : nullptr;
}

const GhashKernel& active_ghash() noexcept {
    const std::size_t index = g_choice.get(
        "PELMO_GHASH_KERNEL",
        [] {
            std::array<KernelOption, std::size(kAllGhashKernels)> options;
            for (std::size_t i = 0; i < options.size(); ++i)
                options[i] = {ghash_kernel_of(kAllGhashKernels[i]).name,
                              cpu_has(ghash_features(kAllGhashKernels[i]))};
            return options;
        },
        calibration_work);
    return ghash_kernel_of(kAllGhashKernels[index]);
}

}  // namespace pelmo::detail::sm4
