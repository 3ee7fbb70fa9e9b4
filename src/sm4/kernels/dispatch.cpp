// Choosing the SM4 kernel: the fastest this CPU runs, by measurement.
#include <array>

#include "common/cpu.hpp"
#include "common/dispatch.hpp"
#include "sm4/kernels/kernel.hpp"

namespace pelmo::detail::sm4 {

std::uint32_t kernel_features(KernelId id) noexcept {
    switch (id) {
        case KernelId::portable:
            return 0;
#if defined(__x86_64__)
        case KernelId::aesni:
            return kCpuAesNi;
        case KernelId::aesni_avx2:
            return kCpuAesNi | kCpuAvx2;
        case KernelId::gfni_avx512:
            return kCpuGfni | kCpuAvx512;
#elif defined(__aarch64__)
        case KernelId::neon_aes:
            return kCpuArmAsimd | kCpuArmAes;
        case KernelId::armv8_sm4:
            return kCpuArmAsimd | kCpuArmSm4;
#endif
    }
    return ~0u;
}

const Kernel& kernel_of(KernelId id) noexcept {
    switch (id) {
#if defined(__x86_64__)
        case KernelId::aesni:
            return kAesni;
        case KernelId::aesni_avx2:
            return kAesniAvx2;
        case KernelId::gfni_avx512:
            return kGfniAvx512;
#elif defined(__aarch64__)
        case KernelId::neon_aes:
            return kNeonAes;
        case KernelId::armv8_sm4:
            return kArmv8Sm4;
#endif
        case KernelId::portable:
            break;
    }
    return kPortable;
}

const Kernel* kernel_by_id(KernelId id) noexcept {
    return cpu_has(kernel_features(id)) ? &kernel_of(id) : nullptr;
}

namespace {

// Bulk ECB on 4 KiB: the widest kernel keeps all its 64 blocks in flight.
void calibration_work(std::size_t index) {
    alignas(64) std::uint8_t buffer[256 * 16] = {};
    static const std::uint32_t rk[32] = {};
    kernel_of(kAllKernels[index]).ecb(rk, buffer, buffer, 256);
    __asm__ __volatile__("" : : "r"(buffer) : "memory");
}

KernelChoice g_choice;
static_assert(kAllKernels[0] == KernelId::portable);

}  // namespace

const Kernel& active_kernel() noexcept {
    const std::size_t index = g_choice.get(
        "PELMO_SM4_KERNEL",
        [] {
            std::array<KernelOption, std::size(kAllKernels)> options;
            bool table_free = false;
            for (std::size_t i = 0; i < options.size(); ++i) {
                const bool runs = cpu_has(kernel_features(kAllKernels[i]));
                options[i] = {kernel_of(kAllKernels[i]).name, runs};
                table_free |= runs && kAllKernels[i] != KernelId::portable;
            }
            // The portable kernel looks up tables with secret indices: it runs only
            // where no table-free kernel can, however fast it measures or whatever
            // the environment asks.
            options[0].available = !table_free;
            return options;
        },
        calibration_work);
    return kernel_of(kAllKernels[index]);
}

}  // namespace pelmo::detail::sm4
