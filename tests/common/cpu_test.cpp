// CPU feature reporting: a CPU shows only features of its own architecture, on 64-bit
// ARM exactly the hardware-capability bits the kernel reports, and the test mask hides
// them.
#include <gtest/gtest.h>

#include <cstdint>

#include "common/cpu.hpp"

#if defined(__aarch64__)
#include <sys/auxv.h>
#endif

namespace {

namespace d = pelmo::detail;

constexpr std::uint32_t kX86Features = d::kCpuBmi2 | d::kCpuAdx | d::kCpuAesNi | d::kCpuAvx2 |
                                       d::kCpuAvx512 | d::kCpuGfni | d::kCpuVaes | d::kCpuPclmul |
                                       d::kCpuVpclmul;
constexpr std::uint32_t kArmFeatures =
    d::kCpuArmAsimd | d::kCpuArmAes | d::kCpuArmPmull | d::kCpuArmSm3 | d::kCpuArmSm4;

TEST(CpuFeatures, OnlyThoseOfThisArchitecture) {
    static_assert((kX86Features & kArmFeatures) == 0);
    const std::uint32_t f = d::cpu_features();
#if defined(__x86_64__)
    EXPECT_EQ(f & ~kX86Features, 0u) << std::hex << f;
#elif defined(__aarch64__)
    EXPECT_EQ(f & ~kArmFeatures, 0u) << std::hex << f;
    // The AT_HWCAP bit of each feature, as Linux on arm64 numbers them.
    const unsigned long hwcap = ::getauxval(AT_HWCAP);
    const struct {
        std::uint32_t feature;
        int bit;
    } bits[] = {{d::kCpuArmAsimd, 1},
                {d::kCpuArmAes, 3},
                {d::kCpuArmPmull, 4},
                {d::kCpuArmSm3, 18},
                {d::kCpuArmSm4, 19}};
    for (const auto& b : bits)
        EXPECT_EQ((f & b.feature) != 0, ((hwcap >> b.bit) & 1u) != 0) << "AT_HWCAP bit " << b.bit;
#else
    EXPECT_EQ(f, 0u) << std::hex << f;
#endif
}

TEST(CpuFeatures, MaskHidesThemUntilLifted) {
    const std::uint32_t all = d::cpu_features();
    const std::uint32_t generation = d::cpu_mask_generation();
    d::set_cpu_feature_mask(0);
    EXPECT_EQ(d::cpu_features(), 0u);
    EXPECT_NE(d::cpu_mask_generation(), generation);
    d::set_cpu_feature_mask(~0u);
    EXPECT_EQ(d::cpu_features(), all);
}

}  // namespace
