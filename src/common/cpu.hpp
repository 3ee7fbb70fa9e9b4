// Run-time CPU feature detection for choosing SIMD kernels.
//
// Features are read once: on x86-64 from CPUID (and XGETBV, so that AVX state is known
// to be enabled by the OS), on 64-bit ARM from the kernel's hardware capabilities
// (getauxval(AT_HWCAP)). Other targets report none. Tests and benchmarks may mask
// features to force a slower kernel; the library itself never does.
#pragma once

#include <cstdint>

namespace pelmo::detail {

enum CpuFeature : std::uint32_t {
    kCpuBmi2 = 1u << 0,
    kCpuAdx = 1u << 1,
    kCpuAesNi = 1u << 2,
    kCpuAvx2 = 1u << 3,
    kCpuAvx512 = 1u << 4,  // F + BW + VL + DQ, with the OS saving ZMM state
    kCpuGfni = 1u << 5,
    kCpuVaes = 1u << 6,
    kCpuPclmul = 1u << 7,
    kCpuVpclmul = 1u << 13,  // VPCLMULQDQ (on 256- and 512-bit vectors)
    // 64-bit ARM.
    kCpuArmAsimd = 1u << 8,   // Advanced SIMD (NEON)
    kCpuArmAes = 1u << 9,     // AESE/AESD/AESMC/AESIMC
    kCpuArmPmull = 1u << 10,  // PMULL/PMULL2 on 64-bit lanes
    kCpuArmSm3 = 1u << 11,    // SM3SS1, SM3TT1A/B, SM3TT2A/B, SM3PARTW1/2
    kCpuArmSm4 = 1u << 12,    // SM4E, SM4EKEY
};

/// The features of this CPU, less any masked by set_cpu_feature_mask.
std::uint32_t cpu_features() noexcept;
inline bool cpu_has(std::uint32_t features) noexcept {
    return (cpu_features() & features) == features;
}

/// For tests and benchmarks: pretend the CPU lacks every feature outside mask.
/// Kernels chosen from the features are re-chosen on the next call that dispatches.
void set_cpu_feature_mask(std::uint32_t mask) noexcept;
/// Generation counter of the mask, so cached dispatch choices can notice a change.
std::uint32_t cpu_mask_generation() noexcept;
/// Makes every kernel choice again at its next use (after a test changes the
/// environment variables that force kernels).
void refresh_kernel_choices() noexcept;

}  // namespace pelmo::detail
