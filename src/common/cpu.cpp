#include "common/cpu.hpp"

#include <atomic>

#if defined(__x86_64__)
#include <cpuid.h>
#elif defined(__aarch64__)
#include <sys/auxv.h>
#endif

namespace pelmo::detail {

namespace {

#if defined(__x86_64__)

std::uint32_t detect() noexcept {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid_max(0, nullptr) < 7) return 0;
    __cpuid_count(1, 0, a, b, c, d);
    const bool osxsave = (c >> 27) & 1u;
    const bool aesni = (c >> 25) & 1u;
    const bool pclmul = (c >> 1) & 1u;
    std::uint64_t xcr0 = 0;
    if (osxsave) {
        unsigned lo = 0, hi = 0;
        __asm__("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
        xcr0 = (static_cast<std::uint64_t>(hi) << 32) | lo;
    }
    const bool ymm_ok = (xcr0 & 0x6) == 0x6;
    const bool zmm_ok = ymm_ok && (xcr0 & 0xe0) == 0xe0;

    __cpuid_count(7, 0, a, b, c, d);
    std::uint32_t f = 0;
    if ((b >> 8) & 1u) f |= kCpuBmi2;
    if ((b >> 19) & 1u) f |= kCpuAdx;
    if (aesni) f |= kCpuAesNi;
    if (pclmul) f |= kCpuPclmul;
    if (ymm_ok && ((b >> 5) & 1u)) f |= kCpuAvx2;
    const bool avx512 =
        ((b >> 16) & 1u) && ((b >> 17) & 1u) && ((b >> 30) & 1u) && ((b >> 31) & 1u);
    if (zmm_ok && avx512) f |= kCpuAvx512;
    if (ymm_ok && ((c >> 8) & 1u)) f |= kCpuGfni;
    if (ymm_ok && ((c >> 9) & 1u)) f |= kCpuVaes;
    if (ymm_ok && ((c >> 10) & 1u)) f |= kCpuVpclmul;
    return f;
}

#elif defined(__aarch64__)

// The AT_HWCAP bits of Linux on arm64 (asm/hwcap.h), for C libraries whose headers
// predate some of them.
#ifndef HWCAP_ASIMD
#define HWCAP_ASIMD (1ul << 1)
#endif
#ifndef HWCAP_AES
#define HWCAP_AES (1ul << 3)
#endif
#ifndef HWCAP_PMULL
#define HWCAP_PMULL (1ul << 4)
#endif
#ifndef HWCAP_SM3
#define HWCAP_SM3 (1ul << 18)
#endif
#ifndef HWCAP_SM4
#define HWCAP_SM4 (1ul << 19)
#endif

std::uint32_t detect() noexcept {
    const unsigned long hwcap = ::getauxval(AT_HWCAP);
    std::uint32_t f = 0;
    if (hwcap & HWCAP_ASIMD) f |= kCpuArmAsimd;
    if (hwcap & HWCAP_AES) f |= kCpuArmAes;
    if (hwcap & HWCAP_PMULL) f |= kCpuArmPmull;
    if (hwcap & HWCAP_SM3) f |= kCpuArmSm3;
    if (hwcap & HWCAP_SM4) f |= kCpuArmSm4;
    return f;
}

#else

std::uint32_t detect() noexcept {
    return 0;
}

#endif

std::atomic<std::uint32_t> g_mask{~0u};
std::atomic<std::uint32_t> g_generation{0};

}  // namespace

std::uint32_t cpu_features() noexcept {
    static const std::uint32_t features = detect();
    return features & g_mask.load(std::memory_order_relaxed);
}

void set_cpu_feature_mask(std::uint32_t mask) noexcept {
    g_mask.store(mask, std::memory_order_relaxed);
    g_generation.fetch_add(1, std::memory_order_relaxed);
}

void refresh_kernel_choices() noexcept {
    g_generation.fetch_add(1, std::memory_order_relaxed);
}

std::uint32_t cpu_mask_generation() noexcept {
    return g_generation.load(std::memory_order_relaxed);
}

}  // namespace pelmo::detail
